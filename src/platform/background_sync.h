#pragma once
// Brings files to the disk on a thread of its own. A sync waits until the file system has
// committed the file, and on a busy disk that can take a good part of a second; the thread that
// asks (the main thread, which serves every port) must not wait with it. The data has been
// written before it is handed over, so other readers see it at once and a process that is killed
// loses nothing; only a crash of the whole machine between the request and the sync could.
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <thread>

class TBackgroundSync {
public:
    TBackgroundSync() = default;
    // Waits for the syncs asked for, then ends the thread.
    ~TBackgroundSync();
    TBackgroundSync(const TBackgroundSync&) = delete;
    TBackgroundSync& operator=(const TBackgroundSync&) = delete;

    // Asks for the file's data to reach the disk (fdatasync). A file that is still waiting for
    // its sync is not added again: the one sync covers both requests.
    void Request(const QString& path);
    // Waits until every sync asked for so far has been done.
    void Drain();
    // The last failure ("path: error"), emptied by the call; empty when there was none.
    QString TakeError();

private:
    void run();

    std::mutex mLock;
    std::condition_variable mWake;    // work for the thread, or its end
    std::condition_variable mDrained; // the thread has nothing left to do
    QStringList mPending;
    bool mSyncing = false;
    bool mEnd = false;
    QString mError;
    std::thread mThread;
};
