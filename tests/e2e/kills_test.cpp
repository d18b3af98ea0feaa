// Processes killed at random moments: the server, and separately the client, gets SIGKILL again
// and again while files go both ways over a paced cable (so that kills land inside blocks and
// around replies), and is started again each time. In the end every file must have arrived once
// and whole, no partial or temporary file may be left anywhere, and every job must be either
// still queued or in the results log.
//
// CI runs a short form; MARROWLINE_E2E_FULL=1 runs 100 transfers of 1 B to 300 KB.
#include "e2e_harness.h"

#include "platform/received_file.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <csignal>

using namespace e2e;

namespace {
// Qt Test's own limit per test function is five minutes; the full form runs far longer.
const bool longTests = qputenv("QTEST_FUNCTION_TIMEOUT", "14400000");

QMap<QString, QString> shortTimers() {
    return {{"MARROWLINE_TRIAL_REPEAT_MS", "1500"},
            {"MARROWLINE_BATCH_TIMEOUT_MS", "6000"},
            {"MARROWLINE_SESSION_TIMEOUT_MS", "3000"}};
}

int doneCount(const QList<TLogRecord>& log, const QString& name) {
    int n = 0;
    for (const TLogRecord& r : log)
        if (r.Done && r.FileName == name) ++n;
    return n;
}

// Temporary and partial files anywhere under a folder.
QStringList leftovers(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QFileInfo(path).fileName();
        if (received_file::IsTemporaryName(name) || name.endsWith(".part")) out << path;
    }
    return out;
}
} // namespace

class E2EKillsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedAtRandom_data() {
        QTest::addColumn<bool>("killServer");
        QTest::newRow("server killed") << true;
        QTest::newRow("client killed") << false;
    }
    void killedAtRandom() {
        QFETCH(bool, killServer);
        const bool full = qEnvironmentVariableIntValue("MARROWLINE_E2E_FULL") == 1;
        const int count = full ? 100 : 12;
        const double largest = full ? 300 * 1024 : 40 * 1024;
        const quint32 seed = killServer ? 7001 : 7002;
        QRandomGenerator random(seed);

        Pair pair({"--no-start"}, shortTimers());
        QStringList up, down;
        QMap<QString, QByteArray> data;
        for (int i = 0; i < count; ++i) {
            const double at = double(i) / (count - 1);
            const qsizetype size =
                std::max<qsizetype>(1, qsizetype(std::llround(largest * at * at)));
            const QString name = QString("k%1.bin").arg(i, 3, 10, QChar('0'));
            data[name] = RandomBytes(size, quint32(5000 + i));
            const bool sent = i % 2 == 0;
            QVERIFY((sent ? pair.client : pair.server)->put("OUTBOX/" + name, data[name]));
            (sent ? up : down) << name;
        }
        QVERIFY(pair.start({"--baud", "115200"}));
        for (const QString& name : down)
            pair.queueHost(name, "ALICE");
        QVERIFY(pair.serverProgram->waitFor("File queued: ", 20000, int(down.size())));
        for (const QString& name : up)
            pair.queue(name, "ALICE", "secret");

        const auto allDone = [&]() {
            const auto log = pair.client->log("client.log");
            for (const QString& name : data.keys())
                if (doneCount(log, name) == 0) return false;
            return true;
        };
        // Files of the test done (the small files added below do not count as progress).
        const QStringList files = data.keys();
        const auto doneFiles = [&]() {
            const auto log = pair.client->log("client.log");
            int n = 0;
            for (const QString& name : files)
                n += doneCount(log, name) > 0 ? 1 : 0;
            return n;
        };
        // Kill at a random moment, start again, and let one more file through before the next
        // kill (without that, kills closer together than a large file takes would stop all
        // progress); repeat until everything has gone through.
        int kills = 0;
        QElapsedTimer clock;
        clock.start();
        const qint64 limit = Scaled(full ? 3 * 3600000 : 240000);
        while (!allDone() && clock.elapsed() < limit) {
            WaitUntil(allDone, int(random.bounded(200, 3000)));
            if (allDone()) break;
            const int before = doneFiles();
            std::unique_ptr<Program>& target = killServer ? pair.serverProgram : pair.clientProgram;
            ::kill(target->pid(), SIGKILL);
            target->stop(5000);
            ++kills;
            target = std::make_unique<Program>(killServer ? *pair.server : *pair.client,
                                               QStringList{}, pair.env);
            QVERIFY(target->waitFor(killServer ? "Listening for command..." : "Application started.",
                                    15000));
            // A client runs a batch, and so fetches, only while it has something to send: one
            // that was killed after sending everything is given a small file to send.
            if (pair.client->jobs().isEmpty()) {
                const QString nudge = QString("nudge%1.bin").arg(kills);
                QVERIFY(pair.client->put("OUTBOX/" + nudge, nudge.toUtf8()));
                data[nudge] = nudge.toUtf8();
                up << nudge;
                pair.queue(nudge, "ALICE", "secret");
            }
            WaitUntil([&] { return doneFiles() > before; }, Scaled(full ? 300000 : 60000));
        }
        E2E_VERIFY(allDone(), pair.transcripts());
        // Let the last session end, so that both sides are at rest, then stop cleanly.
        QTest::qWait(Scaled(4000));
        pair.stopAll();

        int resent = 0, lost = 0;
        const QList<TLogRecord> clientLog = pair.client->log("client.log");
        const QList<TLogRecord> serverLog = pair.server->log("server.log");
        QStringList serverQueued;
        for (const TQueueItem& job : pair.server->jobs())
            serverQueued << Get(job, qkSrcFile);
        for (const QString& name : data.keys()) {
            const bool sent = up.contains(name);
            const QString path = (sent ? pair.server->inbox() : pair.client->inbox()) + name;
            QVERIFY2(ReadAll(path) == data[name], qPrintable(name));
            // A file that had arrived whole when a side was killed, before that side had
            // recorded it, goes once more and replaces itself; it never arrives under a second
            // name (checked below).
            resent += doneCount(clientLog, name) - 1;
            // Each job: still queued, or in the results log.
            if (doneCount(clientLog, name) == 0) ++lost;
            if (!sent && doneCount(serverLog, name) == 0 && !serverQueued.contains(name)) ++lost;
        }
        QCOMPARE(lost, 0);
        QVERIFY(pair.client->jobs().isEmpty());
        QStringList upSorted = up, downSorted = down;
        upSorted.sort();
        downSorted.sort();
        const QStringList serverInbox = Home::tree(pair.server->inbox());
        const QStringList clientInbox = Home::tree(pair.client->inbox());
        const int duplicates = int(serverInbox.size() - upSorted.size() + clientInbox.size() -
                                   downSorted.size());
        QCOMPARE(serverInbox, upSorted);
        QCOMPARE(clientInbox, downSorted);
        const QStringList partial =
            leftovers(pair.client->path()) + leftovers(pair.server->path());
        QVERIFY2(partial.isEmpty(), qPrintable(partial.join(", ")));
        qInfo("%s: %d transfers, %d kills, %d delivered, %d duplicates, %d partial files left, "
              "%d lost; %d files sent again after a kill",
              killServer ? "server" : "client", int(data.size()), kills,
              int(data.size()) - lost, duplicates, int(partial.size()), lost, resent);
    }
};

QTEST_GUILESS_MAIN(E2EKillsTest)
#include "kills_test.moc"
