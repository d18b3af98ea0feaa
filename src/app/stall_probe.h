#pragma once
// The event-loop stall probe: tells how long the main thread was kept from its events. A timer on
// the main thread is armed for a short interval again and again; how late each expiry is handled
// is the time the loop was busy with something else (a file synced, a long step, a blocking
// call). The probe keeps the longest lateness and a histogram, and writes them to a small text
// file now and then while it runs and once more when it stops, so that another process can read
// them at any time. The file is written by a thread of the probe's own: a rename on a busy disk
// can take a good part of a second, and the probe must not hold up the loop it measures.
//
// The program runs one when MARROWLINE_STALL_PROBE names a file; without it nothing is made and
// nothing runs. The file holds one "key value" line per figure:
//   interval_ms 10         the timer's interval
//   samples 12345          expiries measured
//   max_ms 12.345          longest lateness
//   p50_ms 1  p99_ms 3  p999_ms 8   upper edges of the histogram buckets holding those shares
//   over_50ms 0            expiries 50 ms late or later
//   longest_at 2026-12-07T21:49:10.123   when the longest stall ended (local time)
//   histogram 0:12000 1:300 ...     bucket lower edge in ms : count (non-empty buckets only)
// Where the kernel keeps scheduler statistics per thread (/proc/thread-self/schedstat), it also
// tells what the main thread did while it was late, which separates a program that blocks from a
// machine that is short of CPU:
//   longest_cpu_ms 1.2  longest_runqueue_ms 0.3  longest_asleep_ms 15.1
//                          the time from arming to the longest stall's expiry (interval plus
//                          lateness): running, ready but waiting for a CPU, and asleep (in the
//                          loop's own wait, or blocked in a call: the disk, a lock)
//   asleep_late_max_ms 3.4 the longest the thread was asleep beyond the interval before an
//                          expiry: at least that long it was blocked in a call while the timer
//                          was due
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TStallProbe : public QObject {
    Q_OBJECT
public:
    struct TFigures {
        int intervalMs = 0;
        qint64 samples = 0;
        double maxMs = 0;
        int p50Ms = 0;
        int p99Ms = 0;
        int p999Ms = 0;
        qint64 over50Ms = 0;
        QString longestAt; // local time the longest stall ended, ISO 8601 with ms; empty: none
        QList<QPair<int, qint64>> histogram; // bucket lower edge in ms, count; non-empty only
        bool scheduler = false; // the four figures below were measured
        double longestCpuMs = 0;
        double longestRunqueueMs = 0;
        double longestAsleepMs = 0;
        double asleepLateMaxMs = 0;
    };

    // The environment variable that names the probe's file.
    static constexpr const char* EnvironmentName = "MARROWLINE_STALL_PROBE";
    // A probe writing to the file MARROWLINE_STALL_PROBE names; nullptr when it is unset or empty.
    static std::unique_ptr<TStallProbe> FromEnvironment();

    // `intervalMs`: the timer's interval; `writeEveryMs`: how often the file is rewritten while
    // the probe runs.
    explicit TStallProbe(const QString& path, int intervalMs = 10, int writeEveryMs = 1000,
                         QObject* parent = nullptr);
    // Stops (and so writes the file) when still running.
    ~TStallProbe() override;

    // Starts measuring once the event loop runs: time spent before the loop first turns (the
    // start-up before exec) is no stall of the loop.
    void Start();
    // Stops measuring and writes the file; later calls do nothing.
    void Stop();
    bool Running() const { return mRunning; }
    QString Path() const { return mPath; }

    TFigures Figures() const;
    // The file's text for a set of figures, and the figures read back from a file; false when
    // the file is missing or holds no sample count.
    static QByteArray Format(const TFigures& figures);
    static bool Read(const QString& path, TFigures* figures);

private:
    void arm();
    void expired();
    void record(double latenessMs);
    // The main thread's running and run-queue time so far (ns); false without the statistics.
    bool readScheduler(qint64* cpuNs, qint64* waitNs) const;
    // Hands the current figures to the writer thread (started on first use).
    void write();
    void writerLoop();

    QString mPath;
    int mIntervalMs;
    int mWriteEveryMs;
    QTimer mTimer;
    QElapsedTimer mClock;
    qint64 mArmedNs = 0;
    qint64 mWrittenMs = 0;
    bool mStarted = false;
    bool mRunning = false;
    qint64 mSamples = 0;
    double mMaxMs = 0;
    QString mLongestAt;
    std::vector<qint64> mBuckets;
    // /proc/thread-self/schedstat of the main thread (-1: none), its figures at arming, and what
    // became of them.
    int mSchedFd = -1;
    qint64 mArmCpuNs = 0;
    qint64 mArmWaitNs = 0;
    double mLongestCpuMs = 0;
    double mLongestRunqueueMs = 0;
    double mLongestAsleepMs = 0;
    double mAsleepLateMaxMs = 0;

    // The writer thread and the latest text it has to write.
    std::thread mWriter;
    std::mutex mWriterLock;
    std::condition_variable mWriterWake;
    QByteArray mPendingText;
    bool mTextPending = false;
    bool mWriterEnd = false;
};
