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

QString removeFile(const QString& path) {
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT) return {};
    return path + ": " + QString::fromLocal8Bit(std::strerror(errno));
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

void TBackgroundSync::RequestRemove(const QString& path) {
    {
        const std::lock_guard<std::mutex> lock(mLock);
        mRemovals << path;
        if (!mThread.joinable()) mThread = std::thread([this]() { run(); });
    }
    mWake.notify_one();
}

void TBackgroundSync::Drain() {
    std::unique_lock<std::mutex> lock(mLock);
    mDrained.wait(lock,
                  [this]() { return mPending.isEmpty() && mRemovals.isEmpty() && !mSyncing; });
}

void TBackgroundSync::WaitForRemoval(const QString& path) {
    std::unique_lock<std::mutex> lock(mLock);
    mDrained.wait(lock,
                  [&]() { return !mRemovals.contains(path) && !(mSyncing && mCurrent == path); });
}

QString TBackgroundSync::TakeError() {
    const std::lock_guard<std::mutex> lock(mLock);
    return std::exchange(mError, {});
}

void TBackgroundSync::run() {
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mWake.wait(lock, [this]() { return !mPending.isEmpty() || !mRemovals.isEmpty() || mEnd; });
        // What was asked for before the end is still done.
        if (mPending.isEmpty() && mRemovals.isEmpty()) return;
        const bool remove = !mRemovals.isEmpty();
        const QString path = remove ? mRemovals.takeFirst() : mPending.takeFirst();
        mSyncing = true;
        mCurrent = path;
        lock.unlock();
        const QString error = remove ? removeFile(path) : syncFile(path);
        lock.lock();
        mSyncing = false;
        mCurrent.clear();
        if (!error.isEmpty()) mError = error;
        // Drain waits for all, WaitForRemoval for one: both look again after each.
        mDrained.notify_all();
    }
}
