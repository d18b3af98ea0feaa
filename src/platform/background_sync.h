#pragma once
// Brings files to the disk, or deletes them, on a thread of its own. A sync waits until the file
// system has committed the file, and on a busy disk that can take a good part of a second; a
// delete waits for the file system's journal, which the syncs of other threads keep busy, and
// has been seen to take 185 ms. The thread that asks (the main thread, which serves every port)
// must not wait with them. The data has been written before a sync is asked for, so other
// readers see it at once and a process that is killed loses nothing; only a crash of the whole
// machine between the request and the sync could.
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
    // Asks for the file to be deleted. A file that is gone already is no failure. Until it is
    // done the file is still there for anyone who looks: callers that read the folder back
    // Drain first.
    void RequestRemove(const QString& path);
    // Waits until every sync and delete asked for so far has been done.
    void Drain();
    // Waits until a delete asked for of this very path, if any, has been done.
    void WaitForRemoval(const QString& path);
    // The last failure ("path: error"), emptied by the call; empty when there was none.
    QString TakeError();

private:
    void run();

    std::mutex mLock;
    std::condition_variable mWake;    // work for the thread, or its end
    std::condition_variable mDrained; // the thread has done one: Drain and WaitForRemoval look
    QStringList mPending;             // to sync
    QStringList mRemovals;            // to delete, in the order asked
    bool mSyncing = false;            // the thread is at work on one: mCurrent
    QString mCurrent;
    bool mEnd = false;
    QString mError;
    std::thread mThread;
};
