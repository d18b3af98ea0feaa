// Calls nobody answers, and the exchange gives the caller no reply at all: the client's own dial
// time-out (a minute) ends the attempt with "No answer." and the job stays queued. Kept apart from
// the other modem cases because of that minute, so that the two can run side by side.
#include "e2e_modem_setup.h"

#include <QFileInfo>
#include <QTest>

using namespace e2e;

namespace {
struct Caller {
    QString name;
    std::unique_ptr<ModemPair> pair;
};
} // namespace

class E2EModemNoAnswerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Two calls side by side, so that the minute is spent once: one to a server whose program
    // is not running (its modem's port is closed, so it never rings), one to a server whose modem
    // is dead (it never replies, not even to its own program).
    void noAnswer() {
        // The batch time-out must outlast the dial time-out, or it would end the call first.
        const QMap<QString, QString> env{{"MARROWLINE_TRIAL_REPEAT_MS", "1500"},
                                         {"MARROWLINE_BATCH_TIMEOUT_MS", "120000"}};
        std::vector<Caller> callers;
        callers.push_back({"server not running", std::make_unique<ModemPair>("2", env)});
        callers.push_back({"silent server modem", std::make_unique<ModemPair>("2", env)});
        callers[1].pair->serverModemSettings = ",silent";
        const QByteArray data = RandomBytes(3000, 45);
        for (Caller& c : callers) {
            ModemPair& pair = *c.pair;
            QVERIFY(pair.client->put("OUTBOX/waiting.bin", data));
            QVERIFY2(pair.startExchange({"--no-answer", "none"}), qPrintable(c.name));
        }
        // The dead modem never finishes its initialisation.
        callers[1].pair->serverProgram =
            std::make_unique<Program>(*callers[1].pair->server, QStringList{}, env);
        for (Caller& c : callers) {
            E2E_VERIFY(c.pair->startClient(), c.name + "\n" + c.pair->transcripts());
            c.pair->queue("waiting.bin");
        }

        for (Caller& c : callers) {
            ModemPair& pair = *c.pair;
            E2E_VERIFY(WaitUntil([&]() { return pair.logCount("ringing") > 0; }, Scaled(15000)),
                       c.name + "\n" + pair.transcripts());
        }
        for (Caller& c : callers) {
            ModemPair& pair = *c.pair;
            E2E_VERIFY(pair.clientProgram->waitFor("No answer.", 80000),
                       c.name + "\n" + pair.transcripts());
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
        E2E_VERIFY(callers[1].pair->serverProgram->count("Command timeout.") > 0,
                   callers[1].pair->transcripts());
        QVERIFY(Home::tree(callers[1].pair->server->inbox()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(E2EModemNoAnswerTest)
#include "modem_noanswer_test.moc"
