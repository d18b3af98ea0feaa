// User accounts: the user files, look-up at log-on, and names that make awkward file names.
#include "core/helpers.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "jobs/users.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

namespace {
TMRLUser user(TUsersList& list, const QString& name, const QString& password) {
    TMRLUser u;
    list.EmptyItem(u);
    u[ukUser].SetStr(name);
    u[ukPassw].SetStr(ScramblePassword(password));
    return u;
}

// Every file below the program folder except the settings of the test home itself.
QStringList filesUnder(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains("/.xdg-")) out << path.mid(root.size());
    }
    out.sort();
    return out;
}
} // namespace

class TestUsers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saveAndLoad() {
        TestHome home(2);
        home.settings().PutStr(MRL_Inbox, home.file("INBOX"));
        home.settings().PutStr(MRL_Outbox, home.file("OUTBOX"));
        TUsersList list(home.settings(), home.sink());
        TMRLUser alice = user(list, "alice", "secret");
        alice[ukUseGlobalOutbox].BoolValue = false;
        alice[ukOutbox].SetStr(" /srv/Out/Alice ");
        list.SetItem(0, &alice);
        TMRLUser blank = user(list, "   ", "x");
        list.SetItem(1, &blank);
        QVERIFY(list.Save());

        // A blank name is not saved; the name is stored upper-cased; folders keep their case.
        QCOMPARE(filesUnder(home.path()), (QStringList{"USERS/ALICE.xus"}));
        const QString text = QString::fromUtf8(ReadFile(home.file("USERS/ALICE.xus")));
        QCOMPARE(text, "[USER]\nukUser=ALICE\nukPassw=" + ScramblePassword("secret") +
                           "\nukUseGlobalInbox=1\nukUseGlobalOutbox=0\nukInbox=" +
                           home.file("INBOX") + "\nukOutbox=/srv/Out/Alice\n");

        TUsersList loaded(home.settings(), home.sink());
        loaded.Load();
        QCOMPARE(loaded.Count(), 1);
        QCOMPARE(loaded.GetSetting(0, ukUser), QString("ALICE"));
        QCOMPARE(loaded.GetSetting(0, ukUseGlobalInbox), QString("-1"));
        QCOMPARE(loaded.GetSetting(0, ukUseGlobalOutbox), QString("0"));
        QCOMPARE(loaded.GetSetting(0, ukOutbox), QString("/srv/Out/Alice"));
    }

    void searchItem() {
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        TMRLUser bob = user(list, "BOB", "pa55");
        list.SetItem(0, &bob);
        TMRLUser eve = user(list, "EVE", "");
        list.SetItem(1, &eve);
        QCOMPARE(list.SearchItem("  bob ", "pa55"), 0);
        QCOMPARE(list.SearchItem("bob", "PA55"), -1);
        QCOMPARE(list.SearchItem("bob", ""), 0);
        QCOMPARE(list.SearchItem("carol", ""), -1);
        // An empty name finds nobody, not even a record whose name is empty.
        TMRLUser nameless = user(list, "", "");
        list.SetItem(2, &nameless);
        QCOMPARE(list.SearchItem("", ""), -1);
        QCOMPARE(list.SearchItem("   ", ""), -1);
    }

    void globalFoldersWinOverTheFile() {
        TestHome home(2);
        home.settings().PutStr(MRL_Inbox, "/global/in");
        home.settings().PutStr(MRL_Outbox, "/global/out");
        WriteFile(home.file("USERS/CAROL.xus"),
                  "[USER]\r\nukUser=carol\r\nukInbox=/old/in\r\nukUseGlobalOutbox=0\r\n"
                  "ukOutbox=/own/out\r\n");
        TUsersList list(home.settings(), home.sink());
        list.Load();
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.GetSetting(0, ukUser), QString("CAROL"));
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("-1"));
        QCOMPARE(list.GetSetting(0, ukInbox), QString("/global/in"));
        QCOMPARE(list.GetSetting(0, ukOutbox), QString("/own/out"));
    }

    void loadSkipsWhatIsNoAccount() {
        TestHome home(2);
        WriteFile(home.file("USERS/A.xus"), "[USER]\nukUser=A\n");
        QByteArray garbage;
        for (int i = 0; i < 3000; ++i)
            garbage += char((i * 131) & 0xFF);
        WriteFile(home.file("USERS/B.xus"), garbage);
        WriteFile(home.file("USERS/C.xus"), "[USER]\nukPassw=00\n"); // no name
        WriteFile(home.file("USERS/.D.xus"), "[USER]\nukUser=D\n");  // hidden
        WriteFile(home.file("USERS/E.txt"), "[USER]\nukUser=E\n");
        WriteFile(home.file("USERS/F.xus"), "[USER]\nukUser=F\n");
        QDir().mkpath(home.file("USERS/G.xus"));
        TUsersList list(home.settings(), home.sink());
        list.AddItem();
        list.Load();
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.GetSetting(0, ukUser), QString("A"));
        QCOMPARE(list.GetSetting(1, ukUser), QString("F"));

        // No user file at all: the list stays as it was.
        TestHome empty(2);
        TUsersList kept(empty.settings(), empty.sink());
        kept.AddItem();
        kept.Load();
        QCOMPARE(kept.Count(), 1);
    }

    void oddNamesStayInTheirFolder_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent") << "../../ESCAPE";
        QTest::newRow("slash") << "A/B";
        QTest::newRow("backslash") << "A\\..\\B";
        QTest::newRow("dots") << "..";
        QTest::newRow("hidden") << ".PROFILE";
        QTest::newRow("percent") << "100%";
        QTest::newRow("control") << QString("TAB\tNUL") + QChar(0) + "END";
        QTest::newRow("accents") << QString::fromUtf8("ÄRGER ÉTÉ");
        QTest::newRow("long") << QString(255, 'L');
        QTest::newRow("long multibyte") << QString(127, QChar(0x00E9)) + "/..";
        QTest::newRow("windows chars") << "A:B*C?\"<>|";
    }
    void oddNamesStayInTheirFolder() {
        QFETCH(QString, name);
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        TMRLUser odd = user(list, name, "word");
        list.SetItem(0, &odd);
        TMRLUser plain = user(list, "PLAIN", "word");
        list.SetItem(1, &plain);
        QVERIFY(list.Save());
        const QStringList files = filesUnder(home.path());
        QCOMPARE(files.size(), 2);
        for (const QString& f : files) {
            QVERIFY2(f.startsWith("USERS/") && !f.mid(6).contains('/'), qPrintable(f));
            QVERIFY(f.endsWith(".xus"));
            QVERIFY(!f.mid(6).startsWith('.'));
        }

        TUsersList loaded(home.settings(), home.sink());
        loaded.Load();
        QCOMPARE(loaded.Count(), 2);
        // The stored name: cut to 255 bytes, upper-cased.
        const int at = loaded.SearchItem(odd[ukUser].StrValue, "word");
        QVERIFY(at >= 0);
        QCOMPARE(loaded.GetSetting(at, ukUser), odd[ukUser].StrValue.toUpper().trimmed());
        QVERIFY(loaded.DeleteItem(at, true));
        QCOMPARE(filesUnder(home.path()), QStringList{"USERS/PLAIN.xus"});
    }

    void deleteItem() {
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        for (const char* name : {"ANN", "BEN", "CAT"}) {
            TMRLUser u = user(list, name, "pw12");
            list.SetItem(list.Count(), &u);
        }
        QVERIFY(list.Save());
        list.ItemIndex = 1;
        QVERIFY(list.DeleteItem(1, true));
        QCOMPARE(list.ItemIndex, -1);
        QVERIFY(!QFile::exists(home.file("USERS/BEN.xus")));
        QVERIFY(list.DeleteItem(0, false));
        QVERIFY(QFile::exists(home.file("USERS/ANN.xus")));

        // A file that cannot be deleted keeps the user.
        QVERIFY(QFile::remove(home.file("USERS/CAT.xus")));
        QVERIFY(QDir().mkpath(home.file("USERS/CAT.xus/x")));
        QVERIFY(!list.DeleteItem(0, true));
        QCOMPARE(list.Count(), 1);
        QVERIFY(!list.DeleteItem(5, false));
    }

    void saveGoesOnPastAFailure() {
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        for (const char* name : {"ANN", "BEN", "CAT"}) {
            TMRLUser u = user(list, name, "pw12");
            list.SetItem(list.Count(), &u);
        }
        QVERIFY(QDir().mkpath(home.file("USERS/BEN.xus/x")));
        QVERIFY(!list.Save());
        QVERIFY(QFile::exists(home.file("USERS/ANN.xus")));
        QVERIFY(QFile::exists(home.file("USERS/CAT.xus")));
        QVERIFY(home.status().join('\n').contains("!TUsersList.Save: "));
    }

    void renamedUserLeavesNoOldFile() {
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        TMRLUser ann = user(list, "ANN", "pw12");
        list.SetItem(0, &ann);
        TMRLUser ben = user(list, "BEN", "pw12");
        list.SetItem(1, &ben);
        QVERIFY(list.Save());
        TUsersList loaded(home.settings(), home.sink());
        loaded.Load();

        // The options dialog edits a copy and hands it back.
        TUsersList copy(home.settings(), home.sink());
        copy.CopyFrom(&loaded);
        TMRLUser edited = *copy.GetItem(0);
        edited[ukUser].SetStr("ANNE");
        copy.SetItem(0, &edited);
        loaded.CopyFrom(&copy);
        QVERIFY(loaded.Save());
        QVERIFY(!QFile::exists(home.file("USERS/ANN.xus")));
        QVERIFY(QFile::exists(home.file("USERS/ANNE.xus")));

        // ANNE becomes CARL while BEN takes the name ANNE: ANNE.xus now belongs to the other
        // account and stays; BEN.xus goes.
        TMRLUser carl = *loaded.GetItem(0);
        carl[ukUser].SetStr("CARL");
        loaded.SetItem(0, &carl);
        TMRLUser newAnne = *loaded.GetItem(1);
        newAnne[ukUser].SetStr("ANNE");
        loaded.SetItem(1, &newAnne);
        QVERIFY(loaded.Save());
        QCOMPARE(QDir(home.file("USERS")).entryList(QDir::Files),
                 (QStringList{"ANNE.xus", "CARL.xus"}));

        TUsersList after(home.settings(), home.sink());
        after.Load();
        QCOMPARE(after.Count(), 2);
        QCOMPARE(after.SearchItem("ann", ""), -1);
        QCOMPARE(after.SearchItem("ben", ""), -1);
        QCOMPARE(after.SearchItem("carl", "pw12"), 1);
    }

    void slotsAndCopies() {
        TestHome home(2);
        TUsersList list(home.settings(), home.sink());
        list.AddItem();
        list.AddItem();
        TMRLUser u = user(list, "ZED", "pw12");
        list.SetItem(5, &u);
        QCOMPARE(list.Count(), 6);
        QCOMPARE(list.GetSetting(5, ukUser), QString("ZED"));
        QCOMPARE(list.GetSetting(4, ukUseGlobalInbox), QString("-1"));
        list.SetItem(-1, &u);
        list.SetItem(0, nullptr);
        QCOMPARE(list.Count(), 6);

        list.PutSetting(0, ukUseGlobalInbox, "0");
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("0"));
        list.PutSetting(0, ukUseGlobalInbox, "True");
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("-1"));
        list.PutSetting(0, ukUseGlobalInbox, "false");
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("0"));
        list.PutSetting(0, ukUseGlobalInbox, "7");
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("-1"));
        list.PutSetting(0, ukUseGlobalInbox, "maybe");
        QCOMPARE(list.GetSetting(0, ukUseGlobalInbox), QString("-1"));
        QVERIFY(home.status().join('\n').contains("!TUsersList.PutSetting: "));
        list.PutSetting(0, ukInbox, QString(300, 'i'));
        QCOMPARE(list.GetSetting(0, ukInbox).size(), 255);
        QCOMPARE(list.GetSetting(6, ukUser), QString());

        list.ItemIndex = 3;
        TUsersList copy(home.settings(), home.sink());
        copy.CopyFrom(&list);
        QCOMPARE(copy.Count(), 6);
        QCOMPARE(copy.ItemIndex, 3);
        copy.PutSetting(5, ukUser, "CHANGED");
        QCOMPARE(list.GetSetting(5, ukUser), QString("ZED"));
        copy.CopyFrom(nullptr);
        QCOMPARE(copy.Count(), 6);
    }
};

QTEST_GUILESS_MAIN(TestUsers)
#include "users_test.moc"
