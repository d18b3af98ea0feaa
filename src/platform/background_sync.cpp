#include "platform/background_sync.h"

#include <QFile>

#include <utility>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// fdatasync through a descriptor of its own: a sync covers the file, not the descriptor.
QString syncFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": " + QString::fromLocal8Bit(std::strerror(errno));
    QString error;
    if (::fdatasync(fd) != 0) error = path + ": " + QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return error;
}
} // namespace

TBackgroundSync::~TBackgroundSync() {
    {
        const std::lock_guard<std::mutex> lock(mLock);
        mEnd = true;
    }
    mWake.notify_one();
    if (mThread.joinable()) mThread.join();
}

void TBackgroundSync::Request(const QString& path) {
    {
        const std::lock_guard<std::mutex> lock(mLock);
        if (!mPending.contains(path)) mPending << path;
        if (!mThread.joinable()) mThread = std::thread([this]() { run(); });
    }
    mWake.notify_one();
}

void TBackgroundSync::Drain() {
    std::unique_lock<std::mutex> lock(mLock);
    mDrained.wait(lock, [this]() { return mPending.isEmpty() && !mSyncing; });
}

QString TBackgroundSync::TakeError() {
    const std::lock_guard<std::mutex> lock(mLock);
    return std::exchange(mError, {});
}

void TBackgroundSync::run() {
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mWake.wait(lock, [this]() { return !mPending.isEmpty() || mEnd; });
        // What was asked for before the end is still synced.
        if (mPending.isEmpty()) return;
        const QString path = mPending.takeFirst();
        mSyncing = true;
        lock.unlock();
        const QString error = syncFile(path);
        lock.lock();
        mSyncing = false;
        if (!error.isEmpty()) mError = error;
        if (mPending.isEmpty()) mDrained.notify_all();
    }
}
