// A call nobody answers: the server's program is not running, so its modem never rings, and the
// exchange gives the caller no reply at all. The client's own dial time-out (a minute) ends the
// attempt with "No answer." and the job stays queued. Kept apart from the other modem cases
// because of that minute, so that the two can run side by side.
#include "e2e_modem_setup.h"

#include <QFileInfo>
#include <QTest>

using namespace e2e;

class E2EModemNoAnswerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noAnswer() {
        // The batch time-out must outlast the dial time-out, or it would end the call first.
        ModemPair pair("2", {{"MARROWLINE_TRIAL_REPEAT_MS", "1500"},
                             {"MARROWLINE_BATCH_TIMEOUT_MS", "120000"}});
        const QByteArray data = RandomBytes(3000, 45);
        QVERIFY(pair.client->put("OUTBOX/waiting.bin", data));
        QVERIFY(pair.startExchange({"--no-answer", "none"}));
        E2E_VERIFY(pair.startClient(), pair.transcripts());
        pair.queue("waiting.bin");

        E2E_VERIFY(WaitUntil([&]() { return pair.logCount("ringing") > 0; }, Scaled(15000)),
                   pair.transcripts());
        E2E_VERIFY(pair.clientProgram->waitFor("No answer.", 80000), pair.transcripts());
        // Not answered, not delivered, still queued.
        QCOMPARE(pair.logCount("answered by"), 0);
        QCOMPARE(pair.client->jobs().size(), 1);
        QCOMPARE(Get(pair.client->jobs().first(), qkSrcFile), QString("waiting.bin"));
        QCOMPARE(Get(pair.client->jobs().first(), qkCommParam), ServerNumber);
        int done = 0;
        for (const TLogRecord& r : pair.client->log("client.log"))
            done += r.Done ? 1 : 0;
        QCOMPARE(done, 0);
        QVERIFY(QFileInfo::exists(pair.client->outbox() + "waiting.bin"));
    }
};

QTEST_GUILESS_MAIN(E2EModemNoAnswerTest)
#include "e2e_modem_noanswer_test.moc"
