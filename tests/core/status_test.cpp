// The status line and the session transcript "sessions.log".
#include "core/settings.h"
#include "common/test_home.h"
#include "core/status.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fiveHundredAndOneLinesStay() {
        TestHome home(1);
        for (int i = 1; i <= 501; ++i)
            home.sink().Add(QString("line %1").arg(i));
        QCOMPARE(home.sessionText().LineCount(), 501);
        QVERIFY(!QFile::exists(home.file("sessions.log")));

        home.sink().Add("line 502");
        QCOMPARE(home.status(), QStringList{"line 502"});
        const QStringList saved = QString::fromUtf8(ReadFile(home.file("sessions.log")))
                                      .split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(saved.size(), 501);
        QVERIFY(saved.first().endsWith(": line 1"));
        QVERIFY(saved.last().endsWith(": line 501"));
        QVERIFY(ReadFile(home.file("sessions.log")).endsWith("line 501\r\n"));
    }

    void transcriptLimitInBytes_data() {
        QTest::addColumn<int>("extra");
        QTest::addColumn<bool>("kept");
        QTest::newRow("exactly the limit") << 0 << true;
        QTest::newRow("one byte over") << 1 << false;
    }
    void transcriptLimitInBytes() {
        QFETCH(int, extra);
        QFETCH(bool, kept);
        TestHome home(2);
        home.settings().PutInt(MRL_MaxLogSize, 10000);
        const QByteArray old(10000 + extra, 'o');
        QVERIFY(WriteFile(home.file("sessions.log"), old));
        home.sink().Add("new text");
        home.sink().Save(&home.sessionText());
        const QByteArray now = ReadFile(home.file("sessions.log"));
        QCOMPARE(now.startsWith(old), kept);
        QVERIFY(now.endsWith(": new text\r\n"));
        // Emptied first: nothing of the old text is left.
        if (!kept) QVERIFY(!now.contains('o' + QByteArray(20, 'o')));
        QCOMPARE(home.sessionText().LineCount(), 0);
    }

    void failedSaveKeepsTheText() {
        TestHome home(1);
    TScriptedPrompt& prompt = home.prompt();
        QVERIFY(QDir().mkpath(home.file("sessions.log"))); // a folder cannot be appended to
        home.sink().Add("kept");
        home.sink().Save(&home.sessionText());
        QCOMPARE(home.status(), QStringList{"kept"});
        QCOMPARE(prompt.boxes.size(), 1);
        QVERIFY(prompt.boxes[0].text.startsWith("!SaveStatus: "));
    }

    // A relaying sink (a worker's) keeps nothing and passes each message on as it is, with or
    // without a role.
    void relayPassesMessagesOn() {
        TestHome home(0);
        QStringList relayed;
        TStatusSink worker(home.settings(), home.prompt());
        worker.SetSessionText(RoleClient, &home.sessionText());
        worker.SetRelay([&relayed](const QString& message) { relayed << message; });
        worker.Add("no role yet");
        home.setRole(1);
        worker.ReportOperationError("TModemsList", "Detect", "broken");
        QCOMPARE(relayed, (QStringList{"no role yet", "!TModemsList.Detect: broken"}));
        QCOMPARE(home.sessionText().LineCount(), 0);
    }

    void noRoleDropsLines() {
        TestHome home(0);
        home.sink().Add("nowhere");
        QCOMPARE(home.sessionText().LineCount(), 0);
        home.setRole(1);
        home.sink().SetSessionText(RoleClient, nullptr);
        home.sink().Add("no console yet");
        QCOMPARE(home.sessionText().LineCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestStatus)
#include "status_test.moc"
