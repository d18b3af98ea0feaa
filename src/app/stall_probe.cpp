#include "app/stall_probe.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {
// Histogram buckets: 1 ms wide below 100 ms, 10 ms wide below 1 s, 100 ms wide below 10 s, and
// one for everything later.
constexpr int FineBuckets = 100;
constexpr int MediumBuckets = 90;
constexpr int CoarseBuckets = 90;
constexpr int BucketCount = FineBuckets + MediumBuckets + CoarseBuckets + 1;

int bucketIndex(double ms) {
    if (ms < 100) return std::max(0, int(ms));
    if (ms < 1000) return FineBuckets + int((ms - 100) / 10);
    if (ms < 10000) return FineBuckets + MediumBuckets + int((ms - 1000) / 100);
    return BucketCount - 1;
}

int bucketLow(int index) {
    if (index < FineBuckets) return index;
    if (index < FineBuckets + MediumBuckets) return 100 + (index - FineBuckets) * 10;
    if (index < BucketCount - 1) return 1000 + (index - FineBuckets - MediumBuckets) * 100;
    return 10000;
}

int bucketHigh(int index) {
    return index + 1 < BucketCount ? bucketLow(index + 1) : INT32_MAX;
}

// The upper edge of the bucket that holds the given share of the samples, never above the
// longest lateness seen.
int percentile(const std::vector<qint64>& buckets, qint64 samples, double share, double maxMs) {
    if (samples <= 0) return 0;
    const qint64 wanted = std::max<qint64>(1, qint64(std::ceil(double(samples) * share)));
    qint64 seen = 0;
    for (int i = 0; i < int(buckets.size()); ++i) {
        seen += buckets[size_t(i)];
        if (seen >= wanted) return std::min(bucketHigh(i), int(std::ceil(maxMs)));
    }
    return int(std::ceil(maxMs));
}
} // namespace

std::unique_ptr<TStallProbe> TStallProbe::FromEnvironment() {
    const QString path = qEnvironmentVariable(EnvironmentName);
    if (path.isEmpty()) return nullptr;
    return std::make_unique<TStallProbe>(path);
}

TStallProbe::TStallProbe(const QString& path, int intervalMs, int writeEveryMs, QObject* parent)
    : QObject(parent), mPath(path), mIntervalMs(std::max(1, intervalMs)),
      mWriteEveryMs(std::max(1, writeEveryMs)), mBuckets(BucketCount, 0) {
    mTimer.setSingleShot(true);
    mTimer.setTimerType(Qt::PreciseTimer);
    connect(&mTimer, &QTimer::timeout, this, &TStallProbe::expired);
}

TStallProbe::~TStallProbe() {
    Stop();
    if (mSchedFd >= 0) ::close(mSchedFd);
}

void TStallProbe::Start() {
    if (mStarted) return;
    mStarted = true;
    mRunning = true;
    QTimer::singleShot(0, this, [this]() {
        if (!mRunning) return;
        // Opened here, on the thread whose figures it gives.
        mSchedFd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        mClock.start();
        write();
        arm();
    });
}

void TStallProbe::Stop() {
    if (!mRunning) return;
    mRunning = false;
    mTimer.stop();
    write();
    // The last figures are in the file when Stop returns.
    {
        const std::lock_guard<std::mutex> lock(mWriterLock);
        mWriterEnd = true;
    }
    mWriterWake.notify_one();
    mWriter.join();
}

void TStallProbe::arm() {
    // Armed anew at each expiry (not a repeating timer): the lateness is measured against this
    // very moment, whatever the timer's own schedule did after an earlier late expiry.
    readScheduler(&mArmCpuNs, &mArmWaitNs);
    mArmedNs = mClock.nsecsElapsed();
    mTimer.start(mIntervalMs);
}

void TStallProbe::expired() {
    if (!mRunning) return;
    const qint64 now = mClock.nsecsElapsed();
    const double spanMs = double(now - mArmedNs) / 1e6;
    const double latenessMs = std::max(0.0, spanMs - mIntervalMs);
    qint64 cpuNs = 0, waitNs = 0;
    if (readScheduler(&cpuNs, &waitNs)) {
        const double cpuMs = double(cpuNs - mArmCpuNs) / 1e6;
        const double waitMs = double(waitNs - mArmWaitNs) / 1e6;
        const double asleepMs = std::max(0.0, spanMs - cpuMs - waitMs);
        mAsleepLateMaxMs = std::max(mAsleepLateMaxMs, asleepMs - mIntervalMs);
        if (mSamples == 0 || latenessMs > mMaxMs) {
            mLongestCpuMs = cpuMs;
            mLongestRunqueueMs = waitMs;
            mLongestAsleepMs = asleepMs;
        }
    }
    record(latenessMs);
    if (now / 1000000 - mWrittenMs >= mWriteEveryMs) write();
    arm();
}

bool TStallProbe::readScheduler(qint64* cpuNs, qint64* waitNs) const {
    if (mSchedFd < 0) return false;
    char text[128];
    const ssize_t n = ::pread(mSchedFd, text, sizeof text - 1, 0);
    if (n <= 0) return false;
    text[n] = '\0';
    long long cpu = 0, wait = 0;
    if (std::sscanf(text, "%lld %lld", &cpu, &wait) != 2) return false;
    *cpuNs = cpu;
    *waitNs = wait;
    return true;
}

void TStallProbe::record(double latenessMs) {
    latenessMs = std::max(0.0, latenessMs);
    ++mSamples;
    if (latenessMs > mMaxMs || mLongestAt.isEmpty())
        mLongestAt = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    mMaxMs = std::max(mMaxMs, latenessMs);
    ++mBuckets[size_t(bucketIndex(latenessMs))];
}

TStallProbe::TFigures TStallProbe::Figures() const {
    TFigures out;
    out.intervalMs = mIntervalMs;
    out.samples = mSamples;
    out.maxMs = mMaxMs;
    out.p50Ms = percentile(mBuckets, mSamples, 0.5, mMaxMs);
    out.p99Ms = percentile(mBuckets, mSamples, 0.99, mMaxMs);
    out.p999Ms = percentile(mBuckets, mSamples, 0.999, mMaxMs);
    out.longestAt = mLongestAt;
    out.scheduler = mSchedFd >= 0;
    out.longestCpuMs = mLongestCpuMs;
    out.longestRunqueueMs = mLongestRunqueueMs;
    out.longestAsleepMs = mLongestAsleepMs;
    out.asleepLateMaxMs = std::max(0.0, mAsleepLateMaxMs);
    for (int i = 0; i < BucketCount; ++i) {
        const qint64 count = mBuckets[size_t(i)];
        if (count == 0) continue;
        out.histogram.append({bucketLow(i), count});
        if (bucketLow(i) >= 50) out.over50Ms += count;
    }
    return out;
}

QByteArray TStallProbe::Format(const TFigures& f) {
    char max[32];
    std::snprintf(max, sizeof max, "%.3f", f.maxMs);
    QByteArray out;
    out += "interval_ms " + QByteArray::number(f.intervalMs) + '\n';
    out += "samples " + QByteArray::number(f.samples) + '\n';
    out += QByteArray("max_ms ") + max + '\n';
    out += "p50_ms " + QByteArray::number(f.p50Ms) + '\n';
    out += "p99_ms " + QByteArray::number(f.p99Ms) + '\n';
    out += "p999_ms " + QByteArray::number(f.p999Ms) + '\n';
    out += "over_50ms " + QByteArray::number(f.over50Ms) + '\n';
    if (!f.longestAt.isEmpty()) out += "longest_at " + f.longestAt.toLatin1() + '\n';
    if (f.scheduler) {
        const auto ms = [](double value) {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", value);
            return QByteArray(text);
        };
        out += "longest_cpu_ms " + ms(f.longestCpuMs) + '\n';
        out += "longest_runqueue_ms " + ms(f.longestRunqueueMs) + '\n';
        out += "longest_asleep_ms " + ms(f.longestAsleepMs) + '\n';
        out += "asleep_late_max_ms " + ms(f.asleepLateMaxMs) + '\n';
    }
    out += "histogram";
    for (const auto& [low, count] : f.histogram)
        out += ' ' + QByteArray::number(low) + ':' + QByteArray::number(count);
    out += '\n';
    return out;
}

bool TStallProbe::Read(const QString& path, TFigures* figures) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    TFigures out;
    bool haveSamples = false;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QList<QByteArray> words = raw.simplified().split(' ');
        if (words.size() < 2) continue;
        const QByteArray& key = words[0];
        if (key == "interval_ms") {
            out.intervalMs = words[1].toInt();
        } else if (key == "samples") {
            out.samples = words[1].toLongLong(&haveSamples);
        } else if (key == "max_ms") {
            out.maxMs = words[1].toDouble();
        } else if (key == "p50_ms") {
            out.p50Ms = words[1].toInt();
        } else if (key == "p99_ms") {
            out.p99Ms = words[1].toInt();
        } else if (key == "p999_ms") {
            out.p999Ms = words[1].toInt();
        } else if (key == "over_50ms") {
            out.over50Ms = words[1].toLongLong();
        } else if (key == "longest_at") {
            out.longestAt = QString::fromLatin1(words[1]);
        } else if (key == "longest_cpu_ms") {
            out.scheduler = true;
            out.longestCpuMs = words[1].toDouble();
        } else if (key == "longest_runqueue_ms") {
            out.longestRunqueueMs = words[1].toDouble();
        } else if (key == "longest_asleep_ms") {
            out.longestAsleepMs = words[1].toDouble();
        } else if (key == "asleep_late_max_ms") {
            out.asleepLateMaxMs = words[1].toDouble();
        } else if (key == "histogram") {
            for (qsizetype i = 1; i < words.size(); ++i) {
                const QList<QByteArray> pair = words[i].split(':');
                if (pair.size() == 2) out.histogram.append({pair[0].toInt(), pair[1].toLongLong()});
            }
        }
    }
    if (!haveSamples) return false;
    *figures = out;
    return true;
}

void TStallProbe::write() {
    if (mClock.isValid()) mWrittenMs = mClock.elapsed();
    {
        const std::lock_guard<std::mutex> lock(mWriterLock);
        mPendingText = Format(Figures());
        mTextPending = true;
    }
    if (!mWriter.joinable()) mWriter = std::thread([this]() { writerLoop(); });
    mWriterWake.notify_one();
}

void TStallProbe::writerLoop() {
    std::unique_lock<std::mutex> lock(mWriterLock);
    for (;;) {
        mWriterWake.wait(lock, [this]() { return mTextPending || mWriterEnd; });
        if (!mTextPending) return;
        const QByteArray text = std::exchange(mPendingText, {});
        mTextPending = false;
        lock.unlock();
        // Written beside and renamed over the file, so that a reader never sees half of it. No
        // sync: the figures are for looking at while the program runs, not for surviving a
        // crash.
        const QString part = mPath + ".tmp";
        QFile file(part);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(text) == text.size()) {
            file.close();
            std::rename(QFile::encodeName(part).constData(), QFile::encodeName(mPath).constData());
        }
        lock.lock();
    }
}
