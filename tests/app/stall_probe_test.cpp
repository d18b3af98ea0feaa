// The event-loop stall probe: a loop kept busy is reported with about the time it was kept, a
// quiet loop with small figures, start-up before the loop turns is not counted, and the file is
// there to read while the probe runs as well as after it stops.
#include "app/stall_probe.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
// Keeps the thread from its events for `ms`, the way a blocking call would.
void block(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
    }
}

QString describe(const TStallProbe::TFigures& f) {
    return QString::fromUtf8(TStallProbe::Format(f));
}
} // namespace

class StallProbeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // 120 ms without events shows as a stall of at least 100 ms (the expiry due last before the
    // block may come up to one interval into it), in the figures and in the file, and the file
    // is rewritten while the probe still runs.
    void blockedLoopIsReported() {
        QTemporaryDir dir;
        const QString path = dir.filePath("stall.txt");
        TStallProbe probe(path, 10, 100);
        probe.Start();
        QTest::qWait(200);
        block(120);
        QTest::qWait(300);

        TStallProbe::TFigures running;
        QVERIFY(probe.Running());
        QVERIFY(TStallProbe::Read(path, &running));
        QVERIFY2(running.maxMs >= 100, qPrintable(describe(running)));

        probe.Stop();
        TStallProbe::TFigures f;
        QVERIFY(TStallProbe::Read(path, &f));
        QVERIFY2(f.maxMs >= 100 && f.maxMs < 1000, qPrintable(describe(f)));
        QVERIFY2(f.samples >= running.samples && f.samples >= 10, qPrintable(describe(f)));
        QVERIFY2(f.over50Ms >= 1, qPrintable(describe(f)));
        QCOMPARE(f.intervalMs, 10);
        // The histogram holds the late expiry in a bucket at 100 ms or above, and every sample.
        qint64 total = 0, late = 0;
        for (const auto& [low, count] : f.histogram) {
            total += count;
            if (low >= 100) late += count;
        }
        QCOMPARE(total, f.samples);
        QVERIFY2(late >= 1, qPrintable(describe(f)));
        // The file holds what the probe itself reports.
        QCOMPARE(TStallProbe::Format(f), TStallProbe::Format(probe.Figures()));
        // The thread was running (or waiting for a CPU) all through the block, never asleep.
        if (f.scheduler) {
            QVERIFY2(f.longestCpuMs + f.longestRunqueueMs >= 100, qPrintable(describe(f)));
            QVERIFY2(f.asleepLateMaxMs < 50, qPrintable(describe(f)));
        }
    }

    // A loop held up by a call that sleeps (a sync waiting for the disk, a lock) is reported as
    // late, and the thread as asleep past the due time rather than busy.
    void blockingCallShowsAsAsleep() {
        QTemporaryDir dir;
        TStallProbe probe(dir.filePath("stall.txt"));
        probe.Start();
        QTest::qWait(100);
        if (!probe.Figures().scheduler) QSKIP("no scheduler statistics per thread here");
        QThread::msleep(120);
        QTest::qWait(100);
        probe.Stop();
        const TStallProbe::TFigures f = probe.Figures();
        QVERIFY2(f.maxMs >= 100, qPrintable(describe(f)));
        QVERIFY2(f.longestAsleepMs >= 100, qPrintable(describe(f)));
        QVERIFY2(f.asleepLateMaxMs >= 80, qPrintable(describe(f)));
        QVERIFY2(f.longestCpuMs < 50, qPrintable(describe(f)));
    }

    // A loop that only waits: most expiries on time, none near a real stall. The bound leaves
    // room for a loaded machine and sanitizer builds, and is still below the 120 ms above.
    void quietLoopReportsSmallValues() {
        QTemporaryDir dir;
        TStallProbe probe(dir.filePath("stall.txt"));
        probe.Start();
        QTest::qWait(1000);
        probe.Stop();
        const TStallProbe::TFigures f = probe.Figures();
        QVERIFY2(f.samples >= 30, qPrintable(describe(f)));
        QVERIFY2(f.p50Ms <= 5, qPrintable(describe(f)));
        QVERIFY2(f.maxMs < 100, qPrintable(describe(f)));
        QVERIFY2(f.p50Ms <= f.p99Ms && f.p99Ms <= f.p999Ms && f.p999Ms <= int(f.maxMs) + 1,
                 qPrintable(describe(f)));
    }

    // Work done before the event loop first turns (the program's start-up) is no stall; the
    // probe starts measuring with the loop.
    void startUpBeforeTheLoopIsNotCounted() {
        QTemporaryDir dir;
        const QString path = dir.filePath("stall.txt");
        TStallProbe probe(path);
        probe.Start();
        block(200);
        QVERIFY(!QFileInfo::exists(path));
        QTest::qWait(300);
        probe.Stop();
        const TStallProbe::TFigures f = probe.Figures();
        QVERIFY2(f.samples >= 5, qPrintable(describe(f)));
        QVERIFY2(f.maxMs < 150, qPrintable(describe(f)));
    }

    // Stopping writes once and freezes the figures; a second stop and the destructor leave the
    // file as it was.
    void stopIsFinal() {
        QTemporaryDir dir;
        const QString path = dir.filePath("stall.txt");
        QByteArray written;
        {
            TStallProbe probe(path, 10, 60000);
            probe.Start();
            QTest::qWait(100);
            probe.Stop();
            QVERIFY(!probe.Running());
            written = TStallProbe::Format(probe.Figures());
            QTest::qWait(100);
            probe.Stop();
            QCOMPARE(TStallProbe::Format(probe.Figures()), written);
        }
        TStallProbe::TFigures f;
        QVERIFY(TStallProbe::Read(path, &f));
        QCOMPARE(TStallProbe::Format(f), written);
        QVERIFY(!QFileInfo::exists(path + ".tmp"));
    }

    // The variable names the file; unset or empty, no probe is made.
    void environment() {
        qunsetenv(TStallProbe::EnvironmentName);
        QVERIFY(!TStallProbe::FromEnvironment());
        qputenv(TStallProbe::EnvironmentName, "");
        QVERIFY(!TStallProbe::FromEnvironment());
        QTemporaryDir dir;
        qputenv(TStallProbe::EnvironmentName, dir.filePath("probe.txt").toUtf8());
        const std::unique_ptr<TStallProbe> probe = TStallProbe::FromEnvironment();
        qunsetenv(TStallProbe::EnvironmentName);
        QVERIFY(probe);
        QCOMPARE(probe->Path(), dir.filePath("probe.txt"));
    }

    // Reading: a missing file or one without a sample count is refused.
    void readRefusesOtherFiles() {
        QTemporaryDir dir;
        TStallProbe::TFigures f;
        QVERIFY(!TStallProbe::Read(dir.filePath("missing.txt"), &f));
        QFile other(dir.filePath("other.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("max_ms 3\nsome other text\n");
        other.close();
        QVERIFY(!TStallProbe::Read(other.fileName(), &f));
    }
};

QTEST_GUILESS_MAIN(StallProbeTest)
#include "stall_probe_test.moc"
