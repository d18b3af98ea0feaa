// Preparing jobs and the consoles' command-line grammars over real files: host and client job
// checks, the server's job part, switches and user import, the client's job part and the results
// file it writes for a caller.
#include "app/shell.h"
#include "console_world.h"
#include "consoles/client_console.h"
#include "consoles/enqueue.h"
#include "consoles/server_console.h"

#include <QDateTime>
#include <QTest>

class TestConsoleJobs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void relativeToFolder_data();
    void relativeToFolder();
    void prepareHostJob_data();
    void prepareHostJob();
    void prepareClientJob_data();
    void prepareClientJob();
    void clientJobDevice_data();
    void clientJobDevice();
    void resultsFileLine();
    void serverJobPart();
    void serverJobPartFailure();
    void userImport();
    void userImportExclusive();
    void userImportRefusesUnstorableEntries();
    void inboxRedirect();
    void clientJobPart();
    void clientCommandLineError_data();
    void clientCommandLineError();
    void handedOverPaths_data();
    void handedOverPaths();
};

void TestConsoleJobs::relativeToFolder_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<QString>("relative");
    QTest::newRow("bare name") << "/o/OUT/a.txt"
                               << "/o/OUT" << true << "a.txt";
    QTest::newRow("folder with slash") << "/o/OUT/a.txt"
                                       << "/o/OUT/" << true << "a.txt";
    QTest::newRow("subfolder") << "/o/OUT/Sub/b.TXT"
                               << "/o/OUT" << true << "Sub\\b.TXT";
    QTest::newRow("doubled slashes") << "/o/OUT//Sub//b"
                                     << "/o/OUT" << true << "Sub\\b";
    QTest::newRow("the folder itself") << "/o/OUT/"
                                       << "/o/OUT" << true << "";
    QTest::newRow("sibling sharing the prefix") << "/o/OUTBOX2/a"
                                                << "/o/OUT" << false << "";
    QTest::newRow("climbing out") << "/o/OUT/../etc/passwd"
                                  << "/o/OUT" << false << "";
    QTest::newRow("case differs") << "/o/out/a"
                                  << "/o/OUT" << false << "";
    QTest::newRow("root folder") << "/a/b"
                                 << "/" << true << "a\\b";
    QTest::newRow("empty folder") << "/a/b"
                                  << "" << false << "";
}

void TestConsoleJobs::relativeToFolder() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(bool, inside);
    QFETCH(QString, relative);
    QString got = "untouched";
    QCOMPARE(RelativeToFolder(path, folder, &got), inside);
    if (inside) QCOMPARE(got, relative);
}

void TestConsoleJobs::prepareHostJob_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("file"); // relative to the home; the user's outbox is "UOUT"
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("srcFile");
    QTest::newRow("bare name") << "bob"
                               << "UOUT/a.txt"
                               << ""
                               << "a.txt";
    QTest::newRow("subfolder") << " Bob "
                               << "UOUT/Sub/b.txt"
                               << ""
                               << "Sub\\b.txt";
    QTest::newRow("unknown user") << "eve"
                                  << "UOUT/a.txt"
                                  << "Invalid user name!"
                                  << "";
    QTest::newRow("global outbox, not the user's")
        << "bob"
        << "OUTBOX/a.txt"
        << "File must be in the user's Outbox or a subfolder."
        << "";
    QTest::newRow("folder sharing the prefix")
        << "bob"
        << "UOUTX/a.txt"
        << "File must be in the user's Outbox or a subfolder."
        << "";
    QTest::newRow("missing file") << "bob"
                                  << "UOUT/none.txt"
                                  << "Cannot open specified file."
                                  << "";
    QTest::newRow("a folder") << "bob"
                              << "UOUT/Sub"
                              << "Cannot open specified file."
                              << "";
    QTest::newRow("the outbox itself") << "bob"
                                       << "UOUT"
                                       << "Cannot open specified file."
                                       << "";
}

void TestConsoleJobs::prepareHostJob() {
    QFETCH(QString, user);
    QFETCH(QString, file);
    QFETCH(QString, box);
    QFETCH(QString, srcFile);
    ConsoleWorld w(2);
    // The stored outbox ends with a separator; the result must not depend on it.
    w.addUser("BOB", "pw", w.home.file("UOUT/"));
    w.file("UOUT/a.txt", "12345");
    w.file("UOUT/Sub/b.txt", "1234567");
    w.file("UOUTX/a.txt");
    w.file("OUTBOX/a.txt");
    TQueueItem job;
    const bool ok = PrepareHostJob(w.services(), job, w.home.file(file), user, " in\\Sub ");
    QCOMPARE(ok, box.isEmpty());
    QCOMPARE(w.prompt.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    if (!ok) return;
    QCOMPARE(Get(job, qkSrcFile), srcFile);
    QCOMPARE(Get(job, qkSize), QFileInfo(w.home.file(file)).size() == 5 ? "5" : "7");
    QCOMPARE(Get(job, qkUser), QString("BOB"));
    QCOMPARE(Get(job, qkDestPath), QString("in\\Sub"));
    QCOMPARE(Get(job, qkMethod), QString("SEND"));
    QCOMPARE(Get(job, qkAutoDel), QString("NO"));
    for (TQueueKey key : {qkPassw, qkCommName, qkCommGUID, qkCommParam})
        QCOMPARE(Get(job, key), QString("-"));
}

void TestConsoleJobs::prepareClientJob_data() {
    QTest::addColumn<QString>("file"); // relative to the home
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("box"); // "<path>" stands for the file's full path
    QTest::addColumn<QString>("srcFile");
    QTest::newRow("in the outbox") << "OUTBOX/a.txt" << QByteArray("abc") << true << ""
                                   << "a.txt";
    QTest::newRow("subfolder") << "OUTBOX/S/b.txt" << QByteArray("abc") << true << ""
                               << "S\\b.txt";
    QTest::newRow("outside") << "ELSE/a.txt" << QByteArray("abc") << false
                             << "<path>\r\nFile must be in the Outbox or a subfolder!"
                             << "";
    QTest::newRow("sibling sharing the prefix")
        << "OUTBOXES/a.txt" << QByteArray("abc") << false
        << "<path>\r\nFile must be in the Outbox or a subfolder!"
        << "";
    QTest::newRow("the outbox itself, no box") << "OUTBOX" << QByteArray() << false << ""
                                               << "";
    QTest::newRow("empty file") << "OUTBOX/e.txt" << QByteArray("") << false << "File is empty."
                                << "e.txt";
    QTest::newRow("missing") << "OUTBOX/none.txt" << QByteArray() << false
                             << "Cannot open specified file."
                             << "none.txt";
}

void TestConsoleJobs::prepareClientJob() {
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, box);
    QFETCH(QString, srcFile);
    ConsoleWorld w(1);
    TfraClient client(w.services());
    const QString path = w.home.file(file);
    if (!file.contains("none") && file != "OUTBOX") w.file(file, bytes);
    TQueueItem job;
    QCOMPARE(client.PrepareClientJob(job, " " + path + " ", " bob ", " pw ", "555"), ok);
    box.replace("<path>", path);
    QCOMPARE(w.prompt.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(Get(job, qkSrcFile), srcFile);
    QCOMPARE(Get(job, qkUser), QString("BOB"));
    // The password is scrambled as given, blanks included.
    QCOMPARE(Get(job, qkPassw), ScramblePassword(" pw "));
    if (ok) QCOMPARE(Get(job, qkSize), QString::number(bytes.size()));
}

void TestConsoleJobs::clientJobDevice_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("guid");
    QTest::addColumn<QString>("active");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("commParam");
    QTest::addColumn<QString>("box");
    QTest::newRow("modem keeps digits") << "Modem"
                                        << "Dialer"
                                        << "{G1}"
                                        << "{G1}" << true << "10015551234"
                                        << "";
    QTest::newRow("direct has no parameter") << "Direct"
                                             << "Cable"
                                             << "{G1}"
                                             << "{G1}" << true << ""
                                             << "";
    QTest::newRow("no default connection") << "Modem"
                                           << "Dialer"
                                           << "{G1}"
                                           << "{G2}" << true << ""
                                           << "";
    QTest::newRow("blank name") << "Modem"
                                << "  "
                                << "{G1}"
                                << "{G1}" << false << ""
                                << "The default connection has an invalid name!\r\nPlease check "
                                   "the connection properties in the \"Options\" dialog.";
}

void TestConsoleJobs::clientJobDevice() {
    QFETCH(QString, type);
    QFETCH(QString, name);
    QFETCH(QString, guid);
    QFETCH(QString, active);
    QFETCH(bool, ok);
    QFETCH(QString, commParam);
    QFETCH(QString, box);
    ConsoleWorld w(1);
    TfraClient client(w.services());
    w.addDevice(type, name, guid);
    w.home.settings().PutStr(CLI_ActiveDevice, active);
    TQueueItem job;
    QCOMPARE(client.PrepareClientJob(job, w.file("OUTBOX/a.txt"), "u", "p", "+1 (001) 555-1234"),
             ok);
    QCOMPARE(w.prompt.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    if (!ok) return;
    QCOMPARE(Get(job, qkCommParam), commParam);
    const bool matched = guid == active;
    QCOMPARE(Get(job, qkCommName), matched ? name : QString());
    QCOMPARE(Get(job, qkCommGUID), matched ? guid : QString());
}

void TestConsoleJobs::resultsFileLine() {
    ConsoleWorld w(1);
    TLogRecord r;
    r.JobNo = 12345; // wider than its field: cut
    r.Done = true;
    r.Result = QString(70, 'r');
    r.FileName = "sub\\a.txt";
    r.Submitted = DateTimeToDouble(QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10)));
    r.Processed = DateTimeToDouble(QDateTime(QDate(2024, 3, 1), QTime(0, 0)));
    r.UserName = "BOB";
    r.CommParam = "5551234";
    const QString line = ResultsFileLine(r);
    QCOMPARE(line.size(), ResultsLineLength);
    QCOMPARE(line.mid(0, 4), QString("1234"));
    QCOMPARE(line.mid(4, 3), QString("Yes"));
    QCOMPARE(line.mid(7, 60), QString(60, 'r'));
    QCOMPARE(line.mid(67, 255), "sub\\a.txt" + QString(246, ' '));
    QCOMPARE(line.mid(322, 16),
             PadRight(DateTimeToStr(QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10))), 16));
    QCOMPARE(line.mid(338, 16), PadRight(DateTimeToStr(QDateTime(QDate(2024, 3, 1), {})), 16));
    QCOMPARE(line.mid(354, 20), "BOB" + QString(17, ' '));
    QCOMPARE(line.mid(374, 40), "5551234" + QString(33, ' '));
    QCOMPARE(line.mid(414), QString("1"));
    r.Done = false;
    r.JobNo = 7;
    const QString failed = ResultsFileLine(r);
    QCOMPARE(failed.left(7), QString("7   No "));
    QCOMPARE(failed.right(1), QString("0"));

    // Written without a line end, and replacing what was there.
    const QString path = w.home.file("res.txt");
    QVERIFY(WriteFile(path, QByteArray(1000, 'x')));
    QVERIFY(WriteResultsFile(path, failed));
    QCOMPARE(ReadFile(path), failed.toUtf8());
    QVERIFY(!WriteResultsFile(w.home.file("no/such/folder/r.txt"), failed));
}

void TestConsoleJobs::serverJobPart() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "pw");
    const QString file = w.file("OUTBOX/Sub/a.txt", "hello");
    ConsoleWorld::pend({file, "bob", "res.txt", "/autodel"});
    server.ProcessHostParams();
    QVERIFY(Params().entries.isEmpty());
    QCOMPARE(Queue()->Count(), 1);
    QCOMPARE(Queue()->GetSetting(0, qkSrcFile), QString("Sub\\a.txt"));
    QCOMPARE(Queue()->GetSetting(0, qkResultsFile), QString("res.txt"));
    QCOMPARE(Queue()->GetSetting(0, qkAutoDel), QString("YES"));
    QCOMPARE(Queue()->GetSetting(0, qkSize), QString("5"));
    // The job file is written and the list shows the new, selected row.
    const QString jobFile = Queue()->JobFilePath(Queue()->GetSetting(0, qkNo));
    QVERIFY(QFileInfo::exists(jobFile));
    QCOMPARE(server.queueRows().size(), 1);
    QCOMPARE(server.queueRows()[0].value(1), QString("Sub\\a.txt"));
    QCOMPARE(server.queueSelection(), 0);
    QCOMPARE(server.totalJobs(), QString("1"));

    // The same job again is not queued twice; a results entry that is a switch is not taken.
    ConsoleWorld::pend({file, "BOB", "res.txt", "/AUTODEL"});
    server.ProcessHostParams();
    ConsoleWorld::pend({file, "BOB", "/AUTODEL"});
    server.ProcessHostParams();
    QCOMPARE(Queue()->Count(), 2);
    QCOMPARE(Queue()->GetSetting(1, qkResultsFile), QString());
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList({"File queued: Sub\\a.txt", "File already in queue: Sub\\a.txt",
                          "File queued: Sub\\a.txt"}));
}

void TestConsoleJobs::serverJobPartFailure() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "pw");
    // A log with one record: "/CLEARLOG" after the failed job part still clears it.
    TLogRecord record;
    record.Result = "x";
    QVERIFY(Log()->LogEntry(record));
    ConsoleWorld::pend({w.file("OUTBOX/a.txt"), "nobody", "/CLEARLOG"});
    server.ProcessHostParams();
    QCOMPARE(w.prompt.texts(), QStringList{"Invalid user name!"});
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList{"Queuing up failed. Error in command line."});
    QCOMPARE(Queue()->Count(), 0);
    QCOMPARE(Log()->Count(), 0);
    QVERIFY(w.prompt.boxes.size() == 1); // /CLEARLOG does not ask

    // A single positional entry is no job part: nothing is queued, nothing is said.
    server.SessionText()->Clear();
    ConsoleWorld::pend({w.file("OUTBOX/a.txt")});
    server.ProcessHostParams();
    QCOMPARE(server.sessionText().LineCount(), 0);
    QVERIFY(Params().entries.isEmpty());
}

void TestConsoleJobs::userImport() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "old");
    const QString global = w.home.settings().GetStr(MRL_Inbox);
    const QString importFile = w.file("import.csv", "bob,new\n"
                                                    "onlyname\n"
                                                    "carol,\" two words \"," +
                                                        global.toUtf8() +
                                                        ",\r\n"
                                                        "dave,pw,/srv/Dave/In,/srv/Dave/Out\n"
                                                        ",nameless\n");
    ConsoleWorld::pend({"/USERS:" + importFile});
    server.ProcessHostParams();
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList({"User imported: BOB", "User imported: CAROL", "User imported: DAVE"}));
    QCOMPARE(Users()->Count(), 3);
    // Updated in place, password replaced.
    QCOMPARE(Users()->SearchItem("BOB", "new"), 0);
    const int carol = Users()->SearchItem("CAROL", " two words ");
    QVERIFY(carol >= 0);
    QCOMPARE(Users()->GetSetting(carol, ukInbox), global);
    QCOMPARE(Users()->GetSetting(carol, ukUseGlobalInbox), QString("-1"));
    QCOMPARE(Users()->GetSetting(carol, ukOutbox), w.home.settings().GetStr(MRL_Outbox));
    QCOMPARE(Users()->GetSetting(carol, ukUseGlobalOutbox), QString("-1"));
    const int dave = Users()->SearchItem("DAVE", "pw");
    QCOMPARE(Users()->GetSetting(dave, ukInbox), QString("/srv/Dave/In"));
    QCOMPARE(Users()->GetSetting(dave, ukUseGlobalInbox), QString("0"));
    // Every user is saved when the command line is done.
    for (const char* name : {"BOB", "CAROL", "DAVE"})
        QVERIFY(QFileInfo::exists(Users()->UserFilePath(name)));

    server.SessionText()->Clear();
    ConsoleWorld::pend({"/USERS:" + w.home.file("missing.csv"), "/USERS:"});
    server.ProcessHostParams();
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList({"Error - specified file not found: " + w.home.file("missing.csv"),
                          "Error - specified file not found: "}));
}

// A quoted field may hold control characters, which an account file cannot keep: such an entry
// is refused with a line, and what was imported reads back from disk as it is in memory.
void TestConsoleJobs::userImportRefusesUnstorableEntries() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    const QString importFile =
        w.file("import.csv", QByteArray("\"eve\r") + QByteArray(1, '\0') +
                                 "x\",pw\nfrank,pw,\"/srv/a\001b\"\ngina,pw\n");
    ConsoleWorld::pend({"/USERS:" + importFile});
    server.ProcessHostParams();
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList({"Error - user cannot be imported: EVE??X",
                          "Error - user cannot be imported: FRANK", "User imported: GINA"}));
    TUsersList reloaded(w.home.settings(), w.home.sink());
    reloaded.Load();
    QCOMPARE(reloaded.Count(), 1);
    QVERIFY(reloaded.SearchItem("GINA", "pw") >= 0);
}

void TestConsoleJobs::userImportExclusive() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "pw");
    w.addUser("EVE", "pw");
    QVERIFY(Users()->Save());
    QVERIFY(QFileInfo::exists(Users()->UserFilePath("EVE")));
    ConsoleWorld::pend({"/exclusive", "/USERS:" + w.file("i.csv", "alice,a\nbob,b\n")});
    server.ProcessHostParams();
    QCOMPARE(Users()->Count(), 2);
    QCOMPARE(Users()->SearchItem("EVE", QString()), -1);
    // A removed account must not come back at the next start.
    QVERIFY(!QFileInfo::exists(Users()->UserFilePath("EVE")));
    TUsersList reloaded(w.home.settings(), w.home.sink());
    reloaded.Load();
    QCOMPARE(reloaded.Count(), 2);
    QVERIFY(reloaded.SearchItem("ALICE", "a") >= 0);
    QVERIFY(reloaded.SearchItem("BOB", "b") >= 0);
}

void TestConsoleJobs::inboxRedirect() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "pw");
    w.addUser("OWN", "pw", "/srv/own/out");
    Users()->PutSetting(1, ukUseGlobalInbox, "0");
    Users()->PutSetting(1, ukInbox, "/srv/own/in");
    w.home.settings().PutStr(MRL_Inbox, "/new/in");
    w.home.settings().PutStr(MRL_Outbox, "/new/out");
    ConsoleWorld::pend({"/INBOX:/new/in", "/OUTBOX:/new/out"});
    server.ProcessHostParams();
    QCOMPARE(Users()->GetSetting(0, ukInbox), QString("/new/in"));
    QCOMPARE(Users()->GetSetting(0, ukOutbox), QString("/new/out"));
    QCOMPARE(Users()->GetSetting(1, ukInbox), QString("/srv/own/in"));
    QCOMPARE(Users()->GetSetting(1, ukOutbox), QString("/srv/own/out"));
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList({"Inbox redirected for 1 users.", "Outbox redirected for 1 users."}));
    // Nobody on the global folders: no line.
    Users()->PutSetting(0, ukUseGlobalInbox, "0");
    server.SessionText()->Clear();
    ConsoleWorld::pend({"/INBOX:/new/in"});
    server.ProcessHostParams();
    QCOMPARE(server.sessionText().LineCount(), 0);
}

void TestConsoleJobs::clientJobPart() {
    ConsoleWorld w(1);
    TfraClient client(w.services());
    const QString file = w.file("OUTBOX/a.txt", "abc");
    const QString results = w.home.file("r.txt");
    ConsoleWorld::pend({file, "bob", "secret", "555-1", results, "/AUTODEL"});
    client.ProcessClientParams();
    QVERIFY(Params().entries.isEmpty());
    QCOMPARE(Queue()->Count(), 1);
    QCOMPARE(Queue()->GetSetting(0, qkResultsFile), results);
    QCOMPARE(Queue()->GetSetting(0, qkAutoDel), QString("YES"));
    QCOMPARE(Queue()->GetSetting(0, qkPassw), ScramblePassword("secret"));
    QCOMPARE(client.queueRows().size(), 1);
    QCOMPARE(client.queueRows()[0].value(0), Queue()->GetSetting(0, qkNo));
    QVERIFY(QFileInfo::exists(Queue()->JobFilePath(Queue()->GetSetting(0, qkNo))));
    QVERIFY(!QFileInfo::exists(results)); // only written when the job ends

    ConsoleWorld::pend({file, "bob", "secret", "555-1", results, "/AUTODEL"});
    client.ProcessClientParams();
    // Three positional entries are no job; the switch after them is still read.
    ConsoleWorld::pend({file, "bob", "/CLEARLOG"});
    client.ProcessClientParams();
    QCOMPARE(Queue()->Count(), 1);
    QCOMPARE(ConsoleWorld::messages(client.sessionText()),
             QStringList({"File queued: a.txt", "File already in queue: a.txt"}));
    QVERIFY(!QFileInfo::exists(results));
}

void TestConsoleJobs::clientCommandLineError_data() {
    QTest::addColumn<QString>("file"); // relative to the home
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("srcFile"); // as the line carries it
    QTest::newRow("outside the outbox") << "ELSE/a.txt"
                                        << "pw"
                                        << "";
    QTest::newRow("missing file") << "OUTBOX/none.txt"
                                  << "pw"
                                  << "none.txt";
    QTest::newRow("empty file") << "OUTBOX/empty.txt"
                                << "pw"
                                << "empty.txt";
}

void TestConsoleJobs::clientCommandLineError() {
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(QString, srcFile);
    ConsoleWorld w(1);
    TfraClient client(w.services());
    w.file("ELSE/a.txt");
    w.file("OUTBOX/a.txt");
    w.file("OUTBOX/empty.txt", "");
    const QString results = w.home.file("r.txt");
    QVERIFY(WriteFile(results, "an older, longer answer that must go away entirely"));
    const QDateTime before = QDateTime::currentDateTime();
    ConsoleWorld::pend({w.home.file(file), "bob", password, "555", results});
    client.ProcessClientParams();
    QCOMPARE(Queue()->Count(), 0);
    const QStringList status = ConsoleWorld::messages(client.sessionText());
    QCOMPARE(status, QStringList({"Queuing up failed. Error in command line.",
                                  "Creating results file: " + results}));
    const QString line = QString::fromUtf8(ReadFile(results));
    QCOMPARE(line.size(), ResultsLineLength);
    const QString now = PadRight(DateTimeToStr(QDateTime::currentDateTime()), 16);
    QVERIFY(line.mid(322, 16) == now || line.mid(322, 16) == PadRight(DateTimeToStr(before), 16));
    QCOMPARE(line.left(322),
             "0000No " + PadRight("Command line error", 60) + PadRight(srcFile, 255));
    QCOMPARE(line.mid(338), PadRight(DateTimeToStr(QDateTime(QDate(1899, 12, 30), {})), 16) +
                                PadRight("BOB", 20) + PadRight("", 40) + "0");
}

void TestConsoleJobs::handedOverPaths_data() {
    // "<w>" is the caller's folder, which holds out/a.txt and a.txt.
    QTest::addColumn<bool>("client");
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<QStringList>("handed");
    QTest::newRow("client job with results file")
        << true << QStringList{"out/a.txt", "bob", "pw", "555", "r.txt", "/AUTODEL"}
        << QStringList{"<w>/out/a.txt", "bob", "pw", "555", "<w>/r.txt", "/AUTODEL"};
    QTest::newRow("client, blank entries do not count")
        << true << QStringList{" a.txt ", "", "bob", "pw", "555", "r.txt"}
        << QStringList{"<w>/a.txt", "", "bob", "pw", "555", "<w>/r.txt"};
    QTest::newRow("client, too few for a job")
        << true << QStringList{"a.txt", "bob", "pw"} << QStringList{"a.txt", "bob", "pw"};
    QTest::newRow("no such file of the caller")
        << true << QStringList{"none.txt", "bob", "pw", "555", "r.txt"}
        << QStringList{"none.txt", "bob", "pw", "555", "r.txt"};
    QTest::newRow("absolute paths and switches stay")
        << true << QStringList{"/x/a.txt", "bob", "pw", "555", "/AUTODEL", "/USERS:u.csv"}
        << QStringList{"/x/a.txt", "bob", "pw", "555", "/AUTODEL", "/USERS:u.csv"};
    QTest::newRow("server job") << false << QStringList{"a.txt", "bob", "res"}
                                << QStringList{"<w>/a.txt", "bob", "res"};
    QTest::newRow("switches first")
        << false << QStringList{"/START", "a.txt", "bob"} << QStringList{"/START", "a.txt", "bob"};
}

void TestConsoleJobs::handedOverPaths() {
    QFETCH(bool, client);
    QFETCH(QStringList, params);
    QFETCH(QStringList, handed);
    TestHome home;
    const QString caller = home.file("caller");
    QVERIFY(WriteFile(caller + "/out/a.txt", "x"));
    QVERIFY(WriteFile(caller + "/a.txt", "x"));
    handed.replaceInStrings("<w>", caller);
    QCOMPARE(WithAbsoluteJobPaths(params, client, caller), handed);
}

QTEST_GUILESS_MAIN(TestConsoleJobs)
#include "jobs_test.moc"
