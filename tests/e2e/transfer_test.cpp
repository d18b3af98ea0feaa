// Whole deliveries between a client and a server process on a linesim cable: files sent from the
// client's outbox and fetched from the server's user outbox arrive byte for byte, in the folders
// their jobs name, and both results logs, both queues and the caller's results file tell the
// same story.
#include "e2e_harness.h"

#include "core/helpers.h"

#include <QFileInfo>
#include <QTest>

using namespace e2e;

namespace {
const TLogRecord* findRecord(const QList<TLogRecord>& log, const QString& method,
                             const QString& nameEnd) {
    for (const TLogRecord& r : log)
        if (r.Method == method && r.FileName.endsWith(nameEnd)) return &r;
    return nullptr;
}

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

QMap<TQueueKey, QString> hostJob(const QString& src, qsizetype size, const QString& dest) {
    return {
        {qkMethod, "SEND"}, {qkAutoDel, "NO"}, {qkSrcFile, src}, {qkSize, QString::number(size)},
        {qkDestPath, dest}, {qkUser, "ALICE"}, {qkPassw, "-"},   {qkCommName, "-"},
        {qkCommGUID, "-"},  {qkCommParam, "-"}};
}
} // namespace

class E2ETransferTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sendAndFetch_data() {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("1 byte") << qsizetype(1);
        QTest::newRow("exactly one block") << qsizetype(1024);
        QTest::newRow("one block and a byte") << qsizetype(1025);
        QTest::newRow("5 MB") << qsizetype(5 * 1024 * 1024);
    }

    // One file each way in one batch; the second DIR finds nothing and the batch ends.
    void sendAndFetch() {
        QFETCH(qsizetype, size);
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        QVERIFY(pair.serverProgram->running() && pair.clientProgram->running());
        const QByteArray up = RandomBytes(size, 11), down = RandomBytes(size, 22);
        QVERIFY(pair.client->put("OUTBOX/up.bin", up));
        QVERIFY(pair.server->put("OUTBOX/down.bin", down));
        pair.queueHost("down.bin", "ALICE");
        E2E_VERIFY(pair.serverProgram->waitFor("File queued: ", 10000), pair.transcripts());
        pair.queue("up.bin", "ALICE", "secret");

        const int ms = size > 100000 ? 150000 : 30000;
        E2E_VERIFY(pair.client->waitLog("client.log", 2, ms), pair.transcripts());
        E2E_VERIFY(pair.clientProgram->waitFor("No files to retrieve from server.", 20000),
                   pair.transcripts());

        QCOMPARE(Home::tree(pair.server->inbox()), QStringList{"up.bin"});
        QCOMPARE(Home::tree(pair.client->inbox()), QStringList{"down.bin"});
        // Two Marrowline peers agreed on their extensions once, after the log-on.
        QCOMPARE(pair.clientProgram->count("Features agreed: resume"), 1);
        QCOMPARE(pair.serverProgram->count("Features agreed: resume"), 1);
        QVERIFY(ReadAll(pair.server->inbox() + "up.bin") == up);
        QVERIFY(ReadAll(pair.client->inbox() + "down.bin") == down);

        const QList<TLogRecord> clientLog = pair.client->log("client.log");
        QCOMPARE(clientLog.size(), 2); // fetched once: the served job left the server's queue
        const TLogRecord* sent = findRecord(clientLog, "SEND", "up.bin");
        const TLogRecord* fetched = findRecord(clientLog, "RECV", "down.bin");
        QVERIFY(sent && fetched);
        QVERIFY(sent->Done && fetched->Done);
        QCOMPARE(sent->Result, QString("Transfer done."));
        QCOMPARE(sent->Attempt, 1);
        QCOMPARE(sent->UserName, QString("ALICE"));
        QCOMPARE(sent->CommName, QString("COM1"));
        QVERIFY(sent->Submitted > 0 && sent->Processed >= sent->Submitted);

        QVERIFY(pair.server->waitLog("server.log", 2, 10000));
        const QList<TLogRecord> serverLog = pair.server->log("server.log");
        QCOMPARE(serverLog.size(), 2);
        const TLogRecord* received = findRecord(serverLog, "RECV", "up.bin");
        const TLogRecord* served = findRecord(serverLog, "SEND", "down.bin");
        QVERIFY(received && served);
        QVERIFY(received->Done && served->Done);
        QCOMPARE(received->Result, QString("Transfer successful."));
        QCOMPARE(served->UserName, QString("ALICE"));

        // Both queues are empty; sources without "/AUTODEL" stay.
        QVERIFY(WaitUntil([&]() { return pair.client->jobs().isEmpty(); }, 5000));
        QVERIFY(pair.server->jobs().isEmpty());
        QVERIFY(QFileInfo::exists(pair.client->outbox() + "up.bin"));
        QVERIFY(QFileInfo::exists(pair.server->outbox() + "down.bin"));
    }

    // Source subfolders, and destination folders named by the jobs, on both sides.
    void subfolders() {
        Pair pair({"--no-start"});
        const QByteArray a = RandomBytes(3000, 1), b = RandomBytes(2048, 2),
                         c = RandomBytes(777, 3);
        QVERIFY(pair.client->put("OUTBOX/sub/dir/a.bin", a));
        QVERIFY(pair.client->put("OUTBOX/b.bin", b));
        QVERIFY(pair.server->put("OUTBOX/share/c.bin", c));
        // Destination paths come from the enqueue dialogs; here the job files are written as
        // the dialogs would (the client adds the trailing separator itself).
        pair.client->writeJob(1, "xfr", clientJob("b.bin", b.size(), "deep\\er"));
        pair.server->writeJob(1, "xfh", hostJob("share\\c.bin", c.size(), "got\\it\\"));
        QVERIFY(pair.start({}));
        pair.queue("sub/dir/a.bin", "ALICE", "secret");

        E2E_VERIFY(pair.client->waitLog("client.log", 3, 40000), pair.transcripts());
        E2E_VERIFY(pair.clientProgram->waitFor("No files to retrieve from server.", 20000),
                   pair.transcripts());
        QCOMPARE(Home::tree(pair.server->inbox()), (QStringList{"a.bin", "deep/er/b.bin"}));
        QCOMPARE(Home::tree(pair.client->inbox()), QStringList{"got/it/c.bin"});
        QVERIFY(ReadAll(pair.server->inbox() + "a.bin") == a);
        QVERIFY(ReadAll(pair.server->inbox() + "deep/er/b.bin") == b);
        QVERIFY(ReadAll(pair.client->inbox() + "got/it/c.bin") == c);

        const QList<TLogRecord> log = pair.client->log("client.log");
        const TLogRecord* sub = findRecord(log, "SEND", "a.bin");
        QVERIFY(sub);
        // The job names the file relative to the outbox in its stored form.
        QCOMPARE(sub->FileName, QString("sub\\dir\\a.bin"));
        const TLogRecord* dest = findRecord(log, "SEND", "b.bin");
        QVERIFY(dest && dest->Done);
        QCOMPARE(dest->DestPath, QString("deep\\er\\"));
        const TLogRecord* got = findRecord(log, "RECV", "c.bin");
        QVERIFY(got && got->Done);
        QCOMPARE(got->DestPath, QString("got\\it\\"));
    }

    // "/AUTODEL" removes a source only once its job succeeded, on both sides.
    void autoDelete() {
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        QVERIFY(pair.client->put("OUTBOX/gone.bin", RandomBytes(1500, 4)));
        QVERIFY(pair.client->put("OUTBOX/kept.bin", RandomBytes(1500, 5)));
        QVERIFY(pair.server->put("OUTBOX/served.bin", RandomBytes(900, 6)));
        pair.queueHost("served.bin", "ALICE", {"/AUTODEL"});
        QVERIFY(pair.serverProgram->waitFor("File queued: ", 10000));
        pair.queue("gone.bin", "ALICE", "secret", {"/AUTODEL"});
        pair.queue("kept.bin", "ALICE", "secret");

        E2E_VERIFY(pair.client->waitLog("client.log", 3, 40000), pair.transcripts());
        QVERIFY(pair.server->waitLog("server.log", 3, 10000));
        QCOMPARE(Home::tree(pair.server->inbox()), (QStringList{"gone.bin", "kept.bin"}));
        QCOMPARE(Home::tree(pair.client->inbox()), QStringList{"served.bin"});
        QVERIFY(WaitUntil([&]() { return !QFileInfo::exists(pair.client->outbox() + "gone.bin"); },
                          5000));
        QVERIFY(QFileInfo::exists(pair.client->outbox() + "kept.bin"));
        // The server deletes the served file right after logging its job.
        QVERIFY(WaitUntil(
            [&]() { return !QFileInfo::exists(pair.server->outbox() + "served.bin"); }, 5000));
    }

    // The caller's results file: one 415-character line for a delivered job, and one for a
    // job refused on the command line, written at once.
    void resultsFiles() {
        Pair pair;
        E2E_VERIFY(pair.ok, pair.transcripts());
        const QString good = pair.root.path() + "/results/good.txt";
        const QString outside = pair.root.path() + "/results/outside.txt";
        const QString empty = pair.root.path() + "/results/empty.txt";
        QVERIFY(WriteAll(good, "stale text that must be replaced entirely"));
        QVERIFY(pair.client->put("OUTBOX/up.bin", RandomBytes(4000, 7)));
        QVERIFY(pair.client->put("OUTBOX/empty.bin", {}));
        QVERIFY(WriteAll(pair.root.path() + "/elsewhere.bin", "x"));

        pair.queue(pair.root.path() + "/elsewhere.bin", "ALICE", "secret", {outside});
        pair.queue("empty.bin", "ALICE", "secret", {empty});
        pair.queue("up.bin", "ALICE", "secret", {good});

        for (const QString& path : {outside, empty}) {
            E2E_VERIFY(WaitUntil([&]() { return QFileInfo::exists(path); }, 10000),
                       pair.transcripts());
            const ResultsLine line = ParseResultsLine(ReadAll(path));
            QVERIFY2(line.ok, ReadAll(path).constData());
            QCOMPARE(line.jobNo, QString("0000"));
            QCOMPARE(line.doneText, QString("No "));
            QCOMPARE(line.result.trimmed(), QString("Command line error"));
            QCOMPARE(line.doneFlag, QString("0"));
            QCOMPARE(line.processed.trimmed(), DateTimeToStr(DoubleToDateTime(0)).left(16));
        }

        E2E_VERIFY(pair.client->waitLog("client.log", 1, 30000), pair.transcripts());
        QVERIFY(WaitUntil([&]() { return ParseResultsLine(ReadAll(good)).ok; }, 5000));
        const ResultsLine line = ParseResultsLine(ReadAll(good));
        const TLogRecord record = pair.client->log("client.log").first();
        QCOMPARE(line.jobNo.trimmed(), QString::number(record.JobNo));
        QCOMPARE(line.doneText, QString("Yes"));
        QCOMPARE(line.result.trimmed(), QString("Transfer done."));
        QCOMPARE(line.fileName.trimmed(), QString("up.bin"));
        QCOMPARE(line.user.trimmed(), QString("ALICE"));
        QCOMPARE(line.param.trimmed(), QString()); // a direct cable has no number
        QCOMPARE(line.doneFlag, QString("1"));
        QCOMPARE(line.submitted.left(8), DateTimeToStr(DoubleToDateTime(record.Submitted)).left(8));
        QVERIFY(!line.processed.trimmed().isEmpty());
        // Only the job that got through was queued.
        QCOMPARE(pair.client->log("client.log").size(), 1);
    }
};

QTEST_GUILESS_MAIN(E2ETransferTest)
#include "transfer_test.moc"
