// The command line of running installations, through second starts: "/START" and "/STOP" on
// both sides, "/CLEARLOG", user import with and without "/EXCLUSIVE", and folder redirection
// with "/INBOX:" and "/OUTBOX:".
#include "e2e_harness.h"

#include <QFileInfo>
#include <QTest>

using namespace e2e;

namespace {
int doneCount(const QList<TLogRecord>& log, const QString& name) {
    int n = 0;
    for (const TLogRecord& r : log)
        if (r.Done && r.FileName == name) ++n;
    return n;
}

// Waits until the client has logged a successful job for the file.
bool delivered(Pair& pair, const QString& name, int ms = 40000) {
    return WaitUntil([&]() { return doneCount(pair.client->log("client.log"), name) > 0; },
                     Scaled(ms));
}
} // namespace

class E2ECommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startAndStop() {
        Pair pair({"--no-start"});
        pair.client->set("CLIENT", "CLI_AutoDelivery", "0");
        QVERIFY(pair.start({}));
        QVERIFY(pair.client->put("OUTBOX/one.bin", RandomBytes(1000, 1)));
        QVERIFY(pair.client->put("OUTBOX/two.bin", RandomBytes(1000, 2)));
        pair.queue("one.bin", "ALICE", "secret");
        QVERIFY(pair.clientProgram->waitFor("File queued: ", 10000));
        // Not started: nothing moves.
        QTest::qWait(Scaled(3000));
        QVERIFY(pair.client->log("client.log").isEmpty());
        QCOMPARE(pair.client->jobs().size(), 1);

        RunOnce(*pair.client, {"/START"});
        E2E_VERIFY(delivered(pair, "one.bin"), pair.transcripts());

        RunOnce(*pair.client, {"/STOP"});
        QVERIFY(pair.clientProgram->waitFor("CmdParam:> /STOP", 10000));
        QTest::qWait(Scaled(1000));
        pair.queue("two.bin", "ALICE", "secret");
        QVERIFY(pair.clientProgram->waitFor("File queued: ", 10000, 2));
        QTest::qWait(Scaled(3000));
        QCOMPARE(doneCount(pair.client->log("client.log"), "two.bin"), 0);

        // The server stops answering and starts again.
        RunOnce(*pair.server, {"/STOP"});
        QVERIFY(pair.serverProgram->waitFor("Host services stopped.", 10000));
        const int listening = pair.serverProgram->count("Listening for command...");
        RunOnce(*pair.server, {"/START"});
        E2E_VERIFY(pair.serverProgram->waitFor("Listening for command...", 10000, listening + 1),
                   pair.transcripts());

        RunOnce(*pair.client, {"/START"});
        E2E_VERIFY(delivered(pair, "two.bin"), pair.transcripts());
        QCOMPARE(Home::tree(pair.server->inbox()), (QStringList{"one.bin", "two.bin"}));

        // "/CLEARLOG" empties both results logs without asking.
        QVERIFY(pair.server->waitLog("server.log", 2, 10000));
        RunOnce(*pair.client, {"/CLEARLOG"});
        RunOnce(*pair.server, {"/CLEARLOG"});
        QVERIFY(WaitUntil(
            [&]() {
                return QFileInfo(pair.client->file("client.log")).size() == 0 &&
                       QFileInfo(pair.server->file("server.log")).size() == 0;
            },
            10000));
    }

    void importUsers_data() {
        QTest::addColumn<bool>("exclusive");
        QTest::newRow("added to the accounts") << false;
        QTest::newRow("exclusive") << true;
    }

    void importUsers() {
        QFETCH(bool, exclusive);
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        const QString carolInbox = pair.root.path() + "/carol-in";
        const QString list = pair.root.path() + "/users.txt";
        QVERIFY(WriteAll(list, "bob,pw1\r\n"
                               "\"carol\",\"pw 2\"," +
                                   carolInbox.toUtf8() +
                                   "\r\n"
                                   "nameonly\r\n"));
        QStringList args{"/USERS:" + list};
        if (exclusive) args << "/exclusive";
        RunOnce(*pair.server, args);
        E2E_VERIFY(pair.serverProgram->waitFor("User imported: CAROL", 10000), pair.transcripts());
        QCOMPARE(pair.serverProgram->count("User imported: BOB"), 1);
        QCOMPARE(pair.serverProgram->count("User imported: NAMEONLY"), 0);
        QVERIFY(WaitUntil([&]() { return QFileInfo::exists(pair.server->file("USERS/BOB.xus")); },
                          5000));

        QVERIFY(pair.client->put("OUTBOX/bob.bin", RandomBytes(700, 1)));
        QVERIFY(pair.client->put("OUTBOX/carol.bin", RandomBytes(800, 2)));
        QVERIFY(pair.client->put("OUTBOX/alice.bin", RandomBytes(900, 3)));
        pair.queue("bob.bin", "bob", "pw1");
        pair.queue("carol.bin", "carol", "pw 2");
        E2E_VERIFY(delivered(pair, "bob.bin"), pair.transcripts());
        E2E_VERIFY(delivered(pair, "carol.bin"), pair.transcripts());
        QVERIFY(QFileInfo::exists(pair.server->inbox() + "bob.bin"));
        QVERIFY(QFileInfo::exists(carolInbox + "/carol.bin"));

        pair.queue("alice.bin", "ALICE", "secret");
        if (exclusive) {
            // ALICE left the accounts, and her file with them, so she cannot come back with the
            // next start (the server's chosen behaviour for an exclusive import).
            E2E_VERIFY(pair.serverProgram->waitFor("User denied access.", 30000),
                       pair.transcripts());
            QCOMPARE(doneCount(pair.client->log("client.log"), "alice.bin"), 0);
            QVERIFY(WaitUntil(
                [&]() { return !QFileInfo::exists(pair.server->file("USERS/ALICE.xus")); }, 5000));
        } else {
            E2E_VERIFY(delivered(pair, "alice.bin"), pair.transcripts());
        }
    }

    // "/INBOX:" on the server moves the global inbox and the users that follow it; "/OUTBOX:"
    // on the client moves the folder its jobs are taken from.
    void redirectFolders() {
        Pair pair({"--no-start"});
        pair.server->addUser("DAVE", "pw", pair.root.path() + "/dave-in");
        QVERIFY(pair.start({}));

        const QString newIn = pair.root.path() + "/server-new-in";
        const QString newOut = pair.root.path() + "/client-new-out";
        RunOnce(*pair.server, {"/INBOX:" + newIn});
        E2E_VERIFY(pair.serverProgram->waitFor("Inbox redirected for 1 users.", 10000),
                   pair.transcripts());
        QVERIFY(pair.serverProgram->count("Inbox changed.") == 1);
        QCOMPARE(pair.server->get("GENERAL", "MRL_Inbox"), newIn);
        RunOnce(*pair.client, {"/OUTBOX:" + newOut});
        QVERIFY(pair.clientProgram->waitFor("Outbox changed.", 10000));
        QCOMPARE(pair.client->get("GENERAL", "MRL_Outbox"), newOut);

        const QByteArray data = RandomBytes(1200, 9);
        QVERIFY(WriteAll(newOut + "/moved.bin", data));
        QVERIFY(WriteAll(newOut + "/dave.bin", data));
        pair.queue(newOut + "/moved.bin", "ALICE", "secret");
        pair.queue(newOut + "/dave.bin", "DAVE", "pw");
        E2E_VERIFY(delivered(pair, "moved.bin"), pair.transcripts());
        E2E_VERIFY(delivered(pair, "dave.bin"), pair.transcripts());
        QVERIFY(ReadAll(newIn + "/moved.bin") == data);
        QVERIFY(ReadAll(pair.root.path() + "/dave-in/dave.bin") == data);
        QVERIFY(Home::tree(pair.server->inbox()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(E2ECommandsTest)
#include "commands_test.moc"
