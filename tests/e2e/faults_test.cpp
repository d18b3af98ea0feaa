// Deliveries over a faulty line: a cable cut in the middle of a transfer (the job fails, is tried
// again in a later batch once the cable is joined, and arrives exactly once, whole), corrupted
// bytes in data and replies (retried, delivered intact), and the server's session time-out.
#include "e2e_harness.h"

#include <QTest>

#include <csignal>

using namespace e2e;

namespace {
int doneCount(const QList<TLogRecord>& log, const QString& name) {
    int n = 0;
    for (const TLogRecord& r : log)
        if (r.Done && r.FileName == name) ++n;
    return n;
}

// Short timers so that a lost line is noticed in seconds: commands are repeated after 1.5 s, a
// batch without progress ends after 6 s, a silent server session after 3 s.
QMap<QString, QString> shortTimers() {
    return {{"MARROWLINE_TRIAL_REPEAT_MS", "1500"},
            {"MARROWLINE_BATCH_TIMEOUT_MS", "6000"},
            {"MARROWLINE_SESSION_TIMEOUT_MS", "3000"}};
}
} // namespace

class E2EFaultsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cutInTransfer() {
        Pair pair({"--no-start"}, shortTimers());
        const QByteArray data = RandomBytes(600 * 1024, 31);
        QVERIFY(pair.client->put("OUTBOX/big.bin", data));
        // Quiet cut: nobody is told, as on a real cable; both sides notice by their time-outs.
        QVERIFY(pair.start({"--cut-after", "ab:200000"}));
        pair.queue("big.bin", "ALICE", "secret");

        E2E_VERIFY(WaitUntil([&]() { return pair.cable->log().contains("cut-after reached"); },
                             Scaled(60000)),
                   pair.transcripts());
        // The client gives the batch up; the server drops the session and the partial file.
        E2E_VERIFY(pair.clientProgram->waitFor("Batch timeout!", 60000), pair.transcripts());
        E2E_VERIFY(pair.serverProgram->waitFor("Session timeout!", 60000), pair.transcripts());
        QVERIFY2(WaitUntil([&]() { return Home::tree(pair.server->inbox()).isEmpty(); }, 10000),
                 qPrintable(Home::tree(pair.server->inbox()).join(", ")));
        QCOMPARE(pair.client->jobs().size(), 1);

        pair.cable->signal(SIGUSR2); // join the cable again
        E2E_VERIFY(WaitUntil([&]() { return doneCount(pair.client->log("client.log"), "big.bin"); },
                             Scaled(120000)),
                   pair.transcripts());
        QVERIFY(pair.server->waitLog("server.log", 1, 10000));
        QVERIFY(WaitUntil([&]() { return doneCount(pair.server->log("server.log"), "big.bin"); },
                          10000));
        QCOMPARE(Home::tree(pair.server->inbox()), QStringList{"big.bin"});
        QVERIFY(ReadAll(pair.server->inbox() + "big.bin") == data);
        // Delivered once: one successful record on each side, and the job is gone.
        QTest::qWait(Scaled(2000));
        QCOMPARE(doneCount(pair.client->log("client.log"), "big.bin"), 1);
        QCOMPARE(doneCount(pair.server->log("server.log"), "big.bin"), 1);
        QVERIFY(pair.client->jobs().isEmpty());
        const TLogRecord failed = pair.client->log("client.log").first();
        QVERIFY(!failed.Done);
    }

    // Bytes changed on the line: in the upload's data, in the first reply and in the fetch.
    void noisyLine() {
        Pair pair({"--no-start"}, shortTimers());
        const QByteArray up = RandomBytes(20000, 41), down = RandomBytes(20000, 42);
        QVERIFY(pair.client->put("OUTBOX/up.bin", up));
        QVERIFY(pair.server->put("OUTBOX/down.bin", down));
        QVERIFY(pair.start({"--corrupt-at", "ab:3000,15000", "--corrupt-at", "ba:2,2500,9000"}));
        pair.queueHost("down.bin", "ALICE");
        QVERIFY(pair.serverProgram->waitFor("File queued: ", 10000));
        pair.queue("up.bin", "ALICE", "secret");

        E2E_VERIFY(WaitUntil(
                       [&]() {
                           const auto log = pair.client->log("client.log");
                           return doneCount(log, "up.bin") && doneCount(log, "down.bin");
                       },
                       Scaled(90000)),
                   pair.transcripts());
        QVERIFY(pair.cable->log().contains("corrupt offset="));
        QVERIFY(ReadAll(pair.server->inbox() + "up.bin") == up);
        QVERIFY(ReadAll(pair.client->inbox() + "down.bin") == down);
        QCOMPARE(Home::tree(pair.server->inbox()), QStringList{"up.bin"});
        QCOMPARE(Home::tree(pair.client->inbox()), QStringList{"down.bin"});
    }

    // A clean line that is as slow and late as a real one: bytes paced at 115200 bit/s and 5 ms
    // late. Nothing is lost, so every job must go through at its first attempt.
    void pacedLine() {
        Pair pair({"--no-start"}, shortTimers());
        const QByteArray up = RandomBytes(30000, 51), down = RandomBytes(20000, 52);
        QVERIFY(pair.client->put("OUTBOX/up.bin", up));
        QVERIFY(pair.server->put("OUTBOX/down.bin", down));
        QVERIFY(pair.start({"--baud", "115200", "--latency", "5"}));
        pair.queueHost("down.bin", "ALICE");
        QVERIFY(pair.serverProgram->waitFor("File queued: ", 10000));
        pair.queue("up.bin", "ALICE", "secret");
        E2E_VERIFY(WaitUntil(
                       [&]() {
                           const auto log = pair.client->log("client.log");
                           return doneCount(log, "up.bin") && doneCount(log, "down.bin");
                       },
                       Scaled(90000)),
                   pair.transcripts());
        QVERIFY(ReadAll(pair.server->inbox() + "up.bin") == up);
        QVERIFY(ReadAll(pair.client->inbox() + "down.bin") == down);
        for (const TLogRecord& r : pair.client->log("client.log")) {
            QVERIFY2(r.Done, qPrintable(r.FileName + ": " + r.Result));
            QCOMPARE(r.Attempt, 1);
        }
    }

    // A caller that logs on and goes silent is dropped after the session time-out; its log-on
    // does not outlive the session.
    void sessionTimeout() {
        QTemporaryDir root;
        Home server(root.path(), "server");
        server.makeServer({2});
        server.addUser("ALICE", "secret");
        QVERIFY(server.put("OUTBOX/x.bin", "x"));
        LineSim cable("cable", {}, root.path() + "/peer/COM1", server.portLink(2),
                      root.path() + "/linesim.log");
        QVERIFY(cable.ready());
        Program program(server, {}, {{"MARROWLINE_SESSION_TIMEOUT_MS", "3000"}});
        E2E_VERIFY(program.waitFor("Listening for command...", 15000), program.output());
        LineEnd peer(root.path() + "/peer/COM1");
        QVERIFY(peer.send("LOGON ALICE secret"));
        QCOMPARE(peer.reply(5000), QString("YES"));
        // Commands keep the session alive.
        for (int i = 0; i < 4; ++i) {
            QTest::qWait(1000);
            QVERIFY(peer.send("DIR"));
            E2E_VERIFY(peer.reply(5000) == "NO", program.output());
        }
        QCOMPARE(program.count("Session timeout!"), 0);
        E2E_VERIFY(program.waitFor("Session timeout!", 10000), program.output());
        QVERIFY(program.waitFor("Listening for command...", 10000, 2));
        peer.pending();
        QVERIFY(peer.send("DIR"));
        QVERIFY(peer.reply(1500).isNull());
        QVERIFY(peer.send("LOGON ALICE secret"));
        QCOMPARE(peer.reply(5000), QString("YES"));
        QVERIFY(program.stop());
    }
};

QTEST_GUILESS_MAIN(E2EFaultsTest)
#include "faults_test.moc"
