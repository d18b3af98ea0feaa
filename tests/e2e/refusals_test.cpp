// What a delivery does when something is refused: a wrong password or an unknown user ends the
// batch and keeps the jobs (and their sources, "/AUTODEL" or not); a file that vanished from the
// outbox and a transfer the server denies are logged and dropped while the other jobs go on; a
// hostile client that asks for paths outside the inbox or outbox is answered "NO" and nothing is
// written outside the inbox; a file an inbox cannot hold is refused (upload) or not asked for
// (fetch) before the line carries it.
#include "e2e_harness.h"

#include "common/small_disk.h"
#include "core/helpers.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTest>

using namespace e2e;

namespace {
QMap<TQueueKey, QString> clientJob(const QString& src, qsizetype size, const QString& dest) {
    return {{qkMethod, "SEND"},
            {qkAutoDel, "NO"},
            {qkSrcFile, src},
            {qkSize, QString::number(size)},
            {qkDestPath, dest},
            {qkUser, "ALICE"},
            {qkPassw, ScramblePassword("secret")},
            {qkCommName, "COM1"},
            {qkCommGUID, "COM1"}};
}

const TLogRecord* findRecord(const QList<TLogRecord>& log, const QString& nameEnd) {
    for (const TLogRecord& r : log)
        if (r.FileName.endsWith(nameEnd)) return &r;
    return nullptr;
}

// Every file under `root` whose name contains `part`.
QStringList filesNamed(const QString& root, const QString& part) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName().contains(part)) out << path;
    }
    return out;
}
} // namespace

class E2ERefusalsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void logonRefused_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("wrong password") << "ALICE"
                                        << "not the secret";
        QTest::newRow("unknown user") << "MALLORY"
                                      << "secret";
    }

    void logonRefused() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        const QByteArray data = RandomBytes(2000, 1);
        QVERIFY(pair.client->put("OUTBOX/a.bin", data));
        pair.queue("a.bin", user, password, {"/AUTODEL"});

        E2E_VERIFY(pair.clientProgram->waitFor("Logon failed!", 30000), pair.transcripts());
        QVERIFY(pair.serverProgram->waitFor("User denied access.", 5000));
        // The next batch tries again: the job and its source stay, nothing is logged.
        E2E_VERIFY(pair.clientProgram->waitFor("Logon failed!", 30000, 2), pair.transcripts());
        QCOMPARE(pair.client->jobs().size(), 1);
        QVERIFY(ReadAll(pair.client->outbox() + "a.bin") == data);
        QVERIFY(pair.client->log("client.log").isEmpty());
        QVERIFY(Home::tree(pair.server->inbox()).isEmpty());
        // The server shows the log-on without the password.
        QVERIFY(pair.serverProgram->count("?LOGON " + user + " **********") >= 1);
        QCOMPARE(pair.serverProgram->output().count(password), 0);
    }

    // A job whose file left the outbox is logged and dropped; the next job still goes.
    void missingAndDenied() {
        Pair pair({"--no-start"});
        const QByteArray good = RandomBytes(5000, 2), denied = RandomBytes(100, 3);
        QVERIFY(pair.client->put("OUTBOX/good.bin", good));
        QVERIFY(pair.client->put("OUTBOX/denied.bin", denied));
        pair.client->writeJob(1, "xfr", clientJob("vanished.bin", 10, ""));
        pair.client->writeJob(2, "xfr", clientJob("denied.bin", denied.size(), "..\\escape"));
        pair.client->writeJob(3, "xfr", clientJob("good.bin", good.size(), ""));
        QVERIFY(pair.start({}));

        E2E_VERIFY(pair.client->waitLog("client.log", 3, 40000), pair.transcripts());
        QVERIFY(WaitUntil([&]() { return pair.client->jobs().isEmpty(); }, 5000));
        const QList<TLogRecord> log = pair.client->log("client.log");
        const TLogRecord* vanished = findRecord(log, "vanished.bin");
        QVERIFY(vanished);
        QVERIFY(!vanished->Done);
        QCOMPARE(vanished->Result, QString("Enqueued file not found."));
        const TLogRecord* refused = findRecord(log, "denied.bin");
        QVERIFY(refused);
        QVERIFY(!refused->Done);
        QCOMPARE(refused->Result, QString("Transfer denied."));
        const TLogRecord* delivered = findRecord(log, "good.bin");
        QVERIFY(delivered && delivered->Done);

        QVERIFY(pair.serverProgram->count("Destination path cannot be created") >= 1);
        QCOMPARE(Home::tree(pair.server->inbox()), QStringList{"good.bin"});
        QVERIFY(ReadAll(pair.server->inbox() + "good.bin") == good);
        QVERIFY(filesNamed(pair.root.path(), "denied").size() <= 1); // at most the source
        QVERIFY(!QFileInfo::exists(pair.server->path() + "escape"));
    }

    // Both inboxes are on 200 KB file systems. The server answers the 300 KB upload "NO" at once
    // (the job is logged "Transfer denied." and dropped, not sent again at every batch), and the
    // client does not ask for the 300 KB file waiting for it. Only commands cross the line.
    void inboxesTooSmall() {
        Pair pair({"--no-start"});
        const SmallDisk serverDisk(pair.server->inbox(), 200 * 1024);
        if (!serverDisk.mounted) QSKIP(qPrintable(serverDisk.why));
        const SmallDisk clientDisk(pair.client->inbox(), 200 * 1024);
        QVERIFY(clientDisk.mounted);
        QVERIFY(pair.client->put("OUTBOX/big.bin", RandomBytes(300000, 4)));
        QVERIFY(pair.server->put("OUTBOX/waiting.bin", RandomBytes(300000, 5)));
        QVERIFY(pair.start({}));
        pair.queueHost("waiting.bin", "ALICE");
        pair.queue("big.bin", "ALICE", "secret");

        E2E_VERIFY(pair.client->waitLog("client.log", 1, 60000), pair.transcripts());
        E2E_VERIFY(pair.clientProgram->waitFor("Error! Not enough free space in " +
                                                   QDir::cleanPath(pair.client->inbox()) +
                                                   " for waiting.bin: 300000 bytes listed, ",
                                               30000),
                   pair.transcripts());
        pair.stopAll();
        const QRegularExpression summary("summary ab in=(\\d+)");
        const qint64 sent = summary.match(pair.cable->log()).captured(1).toLongLong();
        qInfo().noquote() << "bytes from the client to the server:" << sent;
        const QList<TLogRecord> log = pair.client->log("client.log");
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].Result, QString("Transfer denied."));
        QVERIFY(pair.client->jobs().isEmpty());
        QVERIFY2(pair.serverProgram->count("Error! Not enough free space in " +
                                           QDir::cleanPath(pair.server->inbox()) +
                                           " for big.bin: 300000 bytes announced, ") == 1,
                 qPrintable(pair.transcripts()));
        QCOMPARE(pair.clientProgram->count("GET "), 0);
        QCOMPARE(Home::tree(pair.server->inbox()), QStringList());
        QCOMPARE(Home::tree(pair.client->inbox()), QStringList());
        QVERIFY2(sent > 0 && sent < 10000, qPrintable(QString::number(sent)));
    }

    // A scripted client speaks the protocol by hand and tries to leave the inbox and outbox.
    void hostileClient() {
        QTemporaryDir root;
        Home server(root.path(), "server");
        server.makeServer({2});
        server.addUser("ALICE", "secret");
        QVERIFY(server.put("OUTBOX/mine.bin", "mine"));
        QVERIFY(WriteAll(root.path() + "/secret.txt", "not for callers"));
        LineSim cable("cable", {}, root.path() + "/hostile/COM1", server.portLink(2),
                      root.path() + "/linesim.log");
        QVERIFY(cable.ready());
        Program program(server);
        E2E_VERIFY(program.waitFor("Listening for command...", 15000), program.output());
        LineEnd peer(root.path() + "/hostile/COM1");
        QVERIFY(peer.isOpen());

        // Before log-on, and with a bad checksum, nothing is answered.
        QVERIFY(peer.send("DIR"));
        QVERIFY(peer.write("\rLOGON ALICE secretZZ\r"));
        QVERIFY(peer.reply(1500).isNull());
        QVERIFY(peer.send("LOGON ALICE secret"));
        QCOMPARE(peer.reply(5000), QString("YES"));

        const QStringList puts = {"PUT \"..\\..\\evil1.txt\" 4", "PUT \"a\\..\\..\\evil2.txt\" 4",
                                  "PUT \"../evil3.txt\" 4", "PUT \"\" 4", "PUT \"evil4.txt\""};
        for (const QString& line : puts) {
            QVERIFY(peer.send(line));
            QCOMPARE(peer.reply(5000), QString("NO"));
        }
        const QStringList gets = {"GET \"..\\..\\secret.txt\"", "GET \"..\\OUTBOX\\mine.bin\"",
                                  "GET /G \"..\\..\\secret.txt\"",
                                  "CHKCRC /G \"..\\..\\secret.txt\""};
        for (const QString& line : gets) {
            QVERIFY(peer.send(line));
            QCOMPARE(peer.reply(5000), QString("NO"));
        }
        // Nothing is queued for ALICE.
        QVERIFY(peer.send("DIR"));
        QCOMPARE(peer.reply(5000), QString("NO"));
        // Whatever bytes follow, nothing lands outside the inbox.
        QVERIFY(peer.write(QByteArray(3000, 'x')));
        QTest::qWait(500);
        QVERIFY2(filesNamed(root.path(), "evil").isEmpty(),
                 qPrintable(filesNamed(root.path(), "evil").join(", ")));
        QVERIFY(Home::tree(server.inbox()).isEmpty());
        QVERIFY(program.count("Requested file denied: ") >= 2);
        QVERIFY(program.running());
        QVERIFY(program.stop());
    }
};

QTEST_GUILESS_MAIN(E2ERefusalsTest)
#include "refusals_test.moc"
