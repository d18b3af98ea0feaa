// The harness itself against the real program: two homes on one cable come up, take hand-overs
// and shut down cleanly on SIGTERM, leaving nothing running and the cable's links removed.
#include "e2e_harness.h"

#include <QFileInfo>
#include <QTest>

using namespace e2e;

class E2EHarnessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pairStartsAndStopsCleanly() {
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        QVERIFY(pair.cable->ready());
        QVERIFY(QFileInfo(pair.client->portLink(1)).isSymLink());
        QVERIFY(QFileInfo(pair.server->portLink(2)).isSymLink());
        QVERIFY(pair.clientProgram->running());
        QVERIFY(pair.serverProgram->running());
        // The settings written by the harness are the ones the programs run with.
        E2E_VERIFY(WaitUntil([&]() { return !pair.clientProgram->output().isEmpty(); }, 10000),
                   pair.transcripts());

        // A second start hands over and ends at once.
        bool ok = false;
        RunOnce(*pair.client, {"/CLEARLOG"}, &ok);
        QVERIFY(ok);

        E2E_VERIFY(pair.clientProgram->stop(), pair.transcripts());
        E2E_VERIFY(pair.serverProgram->stop(), pair.transcripts());
        QVERIFY(pair.cable->stop());
        QVERIFY(!QFileInfo(pair.client->portLink(1)).isSymLink());
        // A clean shutdown saves the session text.
        QVERIFY(QFileInfo::exists(pair.client->file("sessions.log")));
        QVERIFY(QFileInfo::exists(pair.server->file("sessions.log")));
        // Roles survive the shutdown's save of the settings.
        QCOMPARE(pair.client->get("GENERAL", "MRL_Function"), QString("1"));
        QCOMPARE(pair.server->get("GENERAL", "MRL_Function"), QString("2"));
    }

    void resultsLineFields() {
        QByteArray line = "0012Yes" + QByteArray("Transfer done.").leftJustified(60, ' ') +
                          QByteArray("a.bin").leftJustified(255, ' ') + QByteArray(16, 's') +
                          QByteArray(16, 'p') + QByteArray("ALICE").leftJustified(20, ' ') +
                          QByteArray(40, ' ') + "1";
        const ResultsLine r = ParseResultsLine(line);
        QVERIFY(r.ok);
        QCOMPARE(r.jobNo, QString("0012"));
        QCOMPARE(r.result.trimmed(), QString("Transfer done."));
        QCOMPARE(r.user.trimmed(), QString("ALICE"));
        QCOMPARE(r.doneFlag, QString("1"));
        QVERIFY(!ParseResultsLine(line + "\r\n").ok);
    }
};

QTEST_GUILESS_MAIN(E2EHarnessTest)
#include "harness_test.moc"
