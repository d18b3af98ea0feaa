// The enqueue dialogs' logic over real files, users and devices: what each shows first, its
// checks in order with their boxes, the fields written before a failing check, and the caller's
// job left alone (the dialog works on its own copy).
#include "console_world.h"
#include "consoles/enqueue_dialogs.h"

#include <QTest>

namespace {
const QString NoConnection =
    QStringLiteral("No default connection! Please set a connection device as active.");
const QString InvalidName =
    QStringLiteral("The selected connection has an invalid name!\r\nPlease check the connection "
                   "properties in the \"Options\" dialog.");
const QString InvalidIdentifier =
    QStringLiteral("The selected connection has an invalid identifier!\r\nPlease check the "
                   "connection properties in the \"Options\" dialog.");

// A client job as the console hands it over: prepared for a file of the Outbox.
TQueueItem clientJob(const QString& srcFile) {
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, srcFile);
    Put(job, qkSize, "4");
    return job;
}
} // namespace

class TestEnqueueDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostJob();
    void clientChecksInOrder();
    void clientConnection_data();
    void clientConnection();
    void phoneDigits();
};

void TestEnqueueDialogs::hostJob() {
    ConsoleWorld w(2);
    w.addUser("BOB", "pw");
    w.addUser("ANN", "pw", w.home.file("ANNOUT/"));
    const QString path = w.file("ANNOUT/Sub/a.txt", "hello");
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, path);

    THstEnqPresenter dialog(w.services(), job);
    QCOMPARE(dialog.file(), path);
    QCOMPARE(dialog.user(), QString());
    QCOMPARE(dialog.destination(), QString());

    // Unknown user, then a user whose outbox does not hold the file: the dialog stays open.
    dialog.setUser("nobody");
    QVERIFY(!dialog.btOkClick());
    dialog.setUser("bob");
    dialog.setDestination(" in/Deep ");
    QVERIFY(!dialog.btOkClick());
    QCOMPARE(w.prompt.texts(), QStringList({"Invalid user name!",
                                            "File must be in the user's Outbox or a subfolder."}));

    // The right user: the same file and destination pass.
    dialog.setUser(" ann ");
    QVERIFY(dialog.btOkClick());
    QCOMPARE(w.prompt.boxes.size(), 2);
    QCOMPARE(Get(dialog.job(), qkUser), QString("ANN"));
    QCOMPARE(Get(dialog.job(), qkSrcFile), QString("Sub\\a.txt"));
    QCOMPARE(Get(dialog.job(), qkDestPath), QString("in\\Deep"));
    // The caller's record is untouched until it takes the completed job.
    QCOMPARE(Get(job, qkSrcFile), path);
    QCOMPARE(Get(job, qkUser), QString());
}

void TestEnqueueDialogs::clientChecksInOrder() {
    ConsoleWorld w(1);
    w.addDevice("Direct", "Cable", "{C}");
    w.addDevice("Modem", "Dialer", "{M}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{M}");
    const TQueueItem job = clientJob("S\\a.txt");

    TRemEnqPresenter dialog(w.services(), job);
    QCOMPARE(dialog.file(), QString("S\\a.txt"));
    QCOMPARE(dialog.connections(), QStringList{"Dialer"});
    QCOMPARE(dialog.connection(), 0);
    QCOMPARE(dialog.paramsPage(), QString("Modem"));
    QCOMPARE(dialog.user(), QString());
    QCOMPARE(dialog.password(), QString());
    QVERIFY(!dialog.autoDelete());

    // Auto-delete and destination are written before the first check fails, and stay.
    dialog.setAutoDelete(true);
    dialog.setDestination(" in/Sub ");
    QVERIFY(!dialog.btOkClick());
    QCOMPARE(Get(dialog.job(), qkAutoDel), QString("YES"));
    QCOMPARE(Get(dialog.job(), qkDestPath), QString(" in\\Sub "));
    dialog.setUser("   ");
    QVERIFY(!dialog.btOkClick());

    dialog.setUser(" bob ");
    QVERIFY(!dialog.btOkClick());
    QCOMPARE(Get(dialog.job(), qkUser), QString(" bob "));
    dialog.setPassword("   ");
    QVERIFY(!dialog.btOkClick());

    // A password keeps its blanks; the modem page wants a number.
    dialog.setPassword(" pw ");
    QVERIFY(!dialog.btOkClick());
    QCOMPARE(Get(dialog.job(), qkPassw), ScramblePassword(" pw "));
    QCOMPARE(Get(dialog.job(), qkCommName), QString("Dialer"));
    QCOMPARE(Get(dialog.job(), qkCommGUID), QString("{M}"));

    dialog.setPhone("555 1234");
    dialog.setAutoDelete(false);
    QVERIFY(dialog.btOkClick());
    QCOMPARE(w.prompt.texts(),
             QStringList({"Invalid user name!", "Invalid user name!", "Invalid password!",
                          "Invalid password!", "Invalid Server Phone No.!"}));
    for (const TScriptedPrompt::Box& box : w.prompt.boxes) {
        QCOMPARE(box.icon, TBoxIcon::Error);
        QCOMPARE(box.buttons, TBoxButtons::Ok);
    }
    const TQueueItem& done = dialog.job();
    QCOMPARE(Get(done, qkAutoDel), QString("NO"));
    QCOMPARE(Get(done, qkCommParam), QString("5551234"));
    QCOMPARE(Get(done, qkSrcFile), QString("S\\a.txt"));
    QCOMPARE(Get(done, qkSize), QString("4"));
    QCOMPARE(Get(done, qkMethod), QString("SEND"));
    // The caller's record is untouched.
    QCOMPARE(Get(job, qkUser), QString());
    QCOMPARE(Get(job, qkCommParam), QString());
}

void TestEnqueueDialogs::clientConnection_data() {
    QTest::addColumn<QString>("active");
    QTest::addColumn<QStringList>("devices"); // type|name|identifier
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("param");
    QTest::newRow("no default connection")
        << "{X}" << QStringList{"Direct|Cable|{C}"} << "Direct" << NoConnection << ""
        << "";
    QTest::newRow("no devices") << "{X}" << QStringList{} << "Direct" << NoConnection << ""
                                << "";
    QTest::newRow("nameless") << "{C}" << QStringList{"Direct| |{C}"} << "Direct" << InvalidName
                              << ""
                              << "";
    QTest::newRow("without identifier")
        << "" << QStringList{"Modem|Dialer|"} << "Modem" << InvalidIdentifier << ""
        << "";
    // A number typed on the modem page means nothing to a cable.
    QTest::newRow("direct") << "{C}" << QStringList{"Modem|Dialer|{M}", "Direct|Cable|{C}"}
                            << "Direct"
                            << ""
                            << "Cable"
                            << "";
    QTest::newRow("first of two") << "{M}" << QStringList{"Modem|First|{M}", "Direct|Second|{M}"}
                                  << "Modem"
                                  << ""
                                  << "First"
                                  << "12345";
    // A type without a page of its own leaves the first page shown.
    QTest::newRow("unknown type") << "{T}" << QStringList{"Fax|Other|{T}"} << "Direct"
                                  << ""
                                  << "Other"
                                  << "";
}

void TestEnqueueDialogs::clientConnection() {
    QFETCH(QString, active);
    QFETCH(QStringList, devices);
    QFETCH(QString, page);
    QFETCH(QString, box);
    QFETCH(QString, name);
    QFETCH(QString, param);
    ConsoleWorld w(1);
    for (const QString& device : devices) {
        const QStringList fields = device.split('|');
        w.addDevice(fields[0], fields[1], fields[2]);
    }
    w.home.settings().PutStr(CLI_ActiveDevice, active);
    TRemEnqPresenter dialog(w.services(), clientJob("a.txt"));
    QCOMPARE(dialog.connections().size(), box == NoConnection ? 0 : 1);
    QCOMPARE(dialog.connection(), box == NoConnection ? -1 : 0);
    QCOMPARE(dialog.paramsPage(), page);
    dialog.setUser("bob");
    dialog.setPassword("pw");
    dialog.setPhone("12345");
    QCOMPARE(dialog.btOkClick(), box.isEmpty());
    QCOMPARE(w.prompt.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    if (!box.isEmpty()) return;
    QCOMPARE(Get(dialog.job(), qkCommName), name);
    QCOMPARE(Get(dialog.job(), qkCommGUID), active);
    QCOMPARE(Get(dialog.job(), qkCommParam), param);
}

void TestEnqueueDialogs::phoneDigits() {
    ConsoleWorld w(1);
    TRemEnqPresenter dialog(w.services(), clientJob("a.txt"));
    dialog.setPhone("+1 (555) 12-34");
    QCOMPARE(dialog.phone(), QString("15551234"));
    dialog.setPhone("12345678901234567890");
    QCOMPARE(dialog.phone(), QString("12345678901234567"));
    dialog.setPhone("  ");
    QCOMPARE(dialog.phone(), QString());
}

QTEST_GUILESS_MAIN(TestEnqueueDialogs)
#include "enqueue_dialogs_test.moc"
