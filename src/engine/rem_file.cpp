// The client engine's transfer steps: File sends or fetches one job per attempt (PUT or GET,
// the transfer, the server's RESULT) and retries it; Dir asks the server for the list of the
// files that wait for the user and fetches it.
#include "engine/rem_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/link_protocol.h"
#include "engine/rem_internal.h"
#include "platform/paths.h"
#include "platform/received_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace rem_internal;

void TRemProcess::startTransfer() {
    // A transfer that was cancelled a moment ago may still be ending.
    if (transferRunning() && !waitTransferEnd(5000)) return;
    if (transferRunning()) {
        aReport(QStringLiteral("Transfer in progress..."));
        return;
    }
    if (!aReport(QStringLiteral("Transferring..."))) return;
    if (mDownloading) QFile::remove(mXModem->FileName());
    mAbandoned = false;
    mTransferred = 0;
    mXModem->Start();
}

// ---------------------------------------------------------------------------------------------
// File

void TRemProcess::DoFile() {
    mReport.Operation = QStringLiteral("Transfer");
    switch (mEvent) {
    case TRemEvent::FileBegin:
        if (IsLineDevice()) beginAttempt();
        break;
    case TRemEvent::FileYes:
        fileAccepted();
        break;
    case TRemEvent::FileNo:
        fileDenied();
        break;
    case TRemEvent::UploadEnded:
        aTryCommand(TLinkVerb::Result, BareCommand(TLinkVerb::Result));
        break;
    case TRemEvent::AttemptFailed:
        attemptFailed();
        break;
    case TRemEvent::Progress:
        report();
        break;
    case TRemEvent::Done:
        jobDone();
        break;
    default:
        break;
    }
}

void TRemProcess::beginAttempt() {
    TQueueItem& job = mSession.Job;
    mReport.Progress = 0;
    ++mSession.Attempt;
    Put(job, qkDestPath, WithTrailingBackslash(Get(job, qkDestPath)));
    QString command;
    const bool ready = Get(job, qkMethod) == QLatin1String("SEND") ? prepareUpload(&command)
                                                                   : prepareDownload(&command);
    if (!ready) return;
    mReport.FileText = Get(job, qkSrcFile);
    mReport.Total = Get(job, qkSize).trimmed().toInt();
    aTryCommand(Get(job, qkMethod) == QLatin1String("SEND") ? TLinkVerb::Put : TLinkVerb::Get,
                command);
}

bool TRemProcess::prepareUpload(QString* command) {
    const TLife life = Life();
    TQueueItem& job = mSession.Job;
    // The length announced is the length now: a file that grew since it was queued is sent
    // whole, and the transfer checks that it still has this length when it opens the file.
    const TOutboxFile file = outboxFile(job);
    if (!file.exists) {
        mReport.Message = QStringLiteral("Enqueued file not found.");
        logFileEvent(job, true, mReport.Message, 0, false);
        if (!Alive(life) || !report()) return false;
        Execute(true, {TRemStep::NextFile});
        return false;
    }
    const QString size = QString::number(file.size);
    Put(job, qkSize, size);
    if (mQueue && mQueue->GetSetting(mSession.JobIndex, qkNo) == Get(job, qkNo))
        mQueue->PutSetting(mSession.JobIndex, qkSize, size);
    *command = PutCommand(Get(job, qkDestPath), NamePart(Get(job, qkSrcFile)), size);
    mDownloading = false;
    mUploadSize = file.size;
    mXModem->SetMode(tmUpload);
    mXModem->SetFileName(file.path);
    return true;
}

bool TRemProcess::prepareDownload(QString* command) {
    const TQueueItem& job = mSession.Job;
    const QString destPath = Get(job, qkDestPath);
    const QString name = destPath + NamePart(Get(job, qkSrcFile));
    const QString inbox = mSettings.GetStr(MRL_Inbox);
    bool ok = false;
    const QString target = LocalPath(inbox, name, &ok);
    const QString folder =
        ok ? QFileInfo(target).path() : WithTrailingSlash(inbox) + LocalSeparators(destPath);
    // A name that cannot be stored as listed (control characters, over 255 bytes, one of our
    // own temporary names) is refused like a folder that cannot be made.
    if (!ok || !received_file::IsStorableName(name) || HasParentReference(destPath) ||
        !QDir().mkpath(folder)) {
        mReport.Message +=
            QStringLiteral("\r\nError! Destination path cannot be created: ") + folder;
        if (!report() || !WaitDrained(1000)) return false;
        if (mActivity == TRemActivity::Online) Execute(true, {TRemStep::NextFile});
        return false;
    }
    // A file the inbox cannot hold is not asked for; it stays listed on the server, and is
    // fetched in a later batch once there is room.
    qint64 free = 0;
    if (!received_file::RoomFor(folder, Get(job, qkSize), &free)) {
        mReport.Message += QStringLiteral("\r\nError! Not enough free space in ") +
                           QDir::cleanPath(folder) + QStringLiteral(" for ") + name + ": " +
                           Get(job, qkSize) + QStringLiteral(" bytes listed, ") +
                           QString::number(free) + QStringLiteral(" bytes free. Not fetched.");
        if (!report() || !WaitDrained(1000)) return false;
        if (mActivity == TRemActivity::Online) Execute(true, {TRemStep::NextFile});
        return false;
    }
    *command = GetCommand(Get(job, qkSrcFile));
    mDownloading = true;
    mCheckLength = true;
    mFinalPath = target;
    received_file::RemoveLeftovers(folder);
    mPartPath = received_file::TemporaryPath(target);
    mXModem->SetMode(tmDownload);
    mXModem->SetFileName(mPartPath);
    return true;
}

void TRemProcess::fileAccepted() {
    if (!aReport(QStringLiteral("Preparing to transfer..."))) return;
    if (mDownloading) {
        if (!WaitDrained(scaledDelay(2, 1, 1000)) || !Pause(scaledDelay(2, 1, 1000))) return;
    } else if (!WaitDrained(scaledDelay(1, 20, 1000))) {
        return;
    }
    if (mActivity != TRemActivity::Online) {
        mXModem->Disarm();
        return;
    }
    startTransfer();
}

void TRemProcess::fileDenied() {
    const TLife life = Life();
    if (!aReport(QStringLiteral("File transfer denied by server."))) return;
    logFileEvent(mSession.Job, true, QStringLiteral("Transfer denied."), mSession.Attempt, false);
    if (!Alive(life)) return;
    cancelTransfer();
    Execute(true, {TRemStep::NextFile});
}

void TRemProcess::attemptFailed() {
    const TLife life = Life();
    cancelTransfer();
    if (mSession.Attempt >= retries()) {
        logFileEvent(mSession.Job, mSettings.GetBool(CLI_DropFailed),
                     QStringLiteral("Transfer failed."), mSession.Attempt, false);
        if (!Alive(life)) return;
        Execute(true, {TRemStep::NextFile});
        return;
    }
    logFileEvent(mSession.Job, false, QStringLiteral("Transfer failed."), mSession.Attempt, false);
    if (!Alive(life) || !WaitDrained(scaledDelay(2, 1, 2000))) return;
    if (mActivity != TRemActivity::Online) return;
    if (!aReport(QStringLiteral("Retrying..."))) return;
    Execute(true, {TRemStep::File}, {}, TRemEvent::FileBegin);
}

void TRemProcess::jobDone() {
    const TLife life = Life();
    logFileEvent(mSession.Job, false, QStringLiteral("Transfer done."), mSession.Attempt, true);
    if (!Alive(life) || !WaitDrained(scaledDelay(2, 1, 1000))) return;
    if (mActivity == TRemActivity::Online) Execute(true, {TRemStep::NextFile});
}

// ---------------------------------------------------------------------------------------------
// Dir

void TRemProcess::DoDir() {
    mReport.Operation = QStringLiteral("Retrieving");
    switch (mEvent) {
    case TRemEvent::DirRequest:
        if (!IsLineDevice()) return;
        mSession.Attempt = 0;
        requestDirList();
        break;
    case TRemEvent::DirYes:
        dirAccepted();
        break;
    case TRemEvent::DirOther:
        if (!aReport(QStringLiteral("No files to retrieve from server."))) return;
        Execute(true, {TRemStep::Idle});
        break;
    case TRemEvent::Progress:
        report();
        break;
    case TRemEvent::AttemptFailed:
        cancelTransfer();
        if (mSession.Attempt < retries()) {
            ++mSession.Attempt;
            requestDirList();
        } else {
            Execute(true, {TRemStep::Idle});
        }
        break;
    case TRemEvent::UploadEnded:
    case TRemEvent::Done:
        dirListArrived();
        break;
    default:
        break;
    }
}

void TRemProcess::requestDirList() {
    mReport.FileText = DirListName;
    mReport.Total = 100;
    mReport.Progress = 0;
    aTryCommand(TLinkVerb::Dir, BareCommand(TLinkVerb::Dir));
}

void TRemProcess::dirAccepted() {
    if (!WaitDrained(scaledDelay(2, 1, 1000)) || !Pause(scaledDelay(2, 1, 1000))) return;
    if (mActivity != TRemActivity::Online) {
        mXModem->Disarm();
        return;
    }
    if (!aReport(QStringLiteral("Getting dir list..."))) return;
    mDownloading = true;
    mCheckLength = false;
    mFinalPath = DirListPath();
    mPartPath = received_file::TemporaryPath(mFinalPath);
    mDirListFile.clear();
    mXModem->SetFileName(mPartPath);
    mXModem->SetMode(tmDownload);
    Put(mSession.Job, qkSize, QStringLiteral("0"));
    startTransfer();
}

void TRemProcess::dirListArrived() {
    if (mDirListFile.isEmpty() || !QFileInfo::exists(mDirListFile)) {
        if (!aReport(QStringLiteral("DIR list not found."))) return;
        Execute(true, {TRemStep::Idle});
        return;
    }
    if (!aReport(QStringLiteral("DIR list retrieved."))) return;
    const TLife life = Life();
    const bool queued = aEnqueueToReceive();
    if (!Alive(life)) return;
    Execute(true, {queued ? TRemStep::NextFile : TRemStep::Idle});
}
