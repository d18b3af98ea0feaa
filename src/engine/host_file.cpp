// The server engine's File step: a client's PUT, GET and CHKCRC requests, answered and served by
// a transfer, and the outcome of that transfer.
#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/host_internal.h"
#include "platform/paths.h"
#include "platform/received_file.h"

#include <QDir>
#include <QFileInfo>

using namespace host_internal;

void THostProcess::DoFile() {
    mReport.Operation = QStringLiteral("Transfer");
    switch (mEvent) {
    case THstEvent::FileRequest:
        fileRequest();
        break;
    case THstEvent::InvalidRequest:
        aReport(QStringLiteral("Invalid file request received."));
        aReply(TLinkReply::No);
        break;
    case THstEvent::Progress:
        report();
        break;
    case THstEvent::TransferDone:
        fileTransferDone();
        break;
    case THstEvent::TransferFailed:
        fileTransferFailed();
        break;
    case THstEvent::Result: {
        const TLinkReply answer = mSession.ResultCode == 0 ? TLinkReply::Ok : TLinkReply::Fail;
        aReport(QStringLiteral("Sending confirmation: ") + ReplyText(answer));
        aReply(answer);
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Requests

void THostProcess::fileRequest() {
    if (!IsLineDevice()) return;
    const quint64 request = ++mRequestCount;
    Put(mSession.Job, qkNo, QString());
    const QString method = Get(mSession.Job, qkMethod);
    const QString name = Get(mSession.Job, qkSrcFile);
    QString fileName;
    bool receiving = false;
    if (method == QLatin1String("SEND")) {
        if (!prepareSend(name, &fileName)) return;
    } else if (method == QLatin1String("RECV")) {
        if (!prepareReceive(name, &fileName)) return;
        receiving = true;
    } else if (method == QLatin1String("CRC")) {
        answerCrc(name);
        return;
    } else {
        return;
    }
    startFileTransfer(request, fileName, receiving);
}

bool THostProcess::prepareSend(const QString& name, QString* fileName) {
    const TLife life = Life();
    // A name cut to its 255 bytes is not the name asked for.
    const bool allowed =
        !mSession.NameCut && !HasParentReference(name) && aLoadQueueItemByName(name);
    if (!Alive(life)) return false;
    bool inside = false;
    if (allowed) *fileName = LocalPath(aGetOutbox(), Get(mSession.Job, qkSrcFile), &inside);
    if (!allowed || !inside) {
        aReport(QStringLiteral("Requested file denied: ") + name);
        aReply(TLinkReply::No);
        return false;
    }
    mXModem->SetMode(tmUpload);
    return true;
}

bool THostProcess::prepareReceive(const QString& name, QString* fileName) {
    mReport.Message = QStringLiteral("Preparing to receive...");
    const QString inbox = aUserInbox();
    bool inside = false;
    const QString target = inbox == ImpossibleFolder ? QString() : LocalPath(inbox, name, &inside);
    const QString folder = inside ? FolderPart(target) : inbox + LocalSeparators(FolderPart(name));
    if (!inside || HasParentReference(name) ||
        (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))) {
        mReport.Message +=
            QStringLiteral("\r\nError! Destination path cannot be created: ") + folder;
        report();
        aReply(TLinkReply::No);
        return false;
    }
    // A file the inbox cannot hold is refused before the line carries it: received until the
    // disk is full, it would fail, and the client would send it again at every batch.
    qint64 free = 0;
    if (!received_file::RoomFor(folder, Get(mSession.Job, qkSize), &free)) {
        mReport.Message += QStringLiteral("\r\nError! Not enough free space in ") +
                           QDir::cleanPath(folder) + QStringLiteral(" for ") + name + ": " +
                           Get(mSession.Job, qkSize) + QStringLiteral(" bytes announced, ") +
                           QString::number(free) + QStringLiteral(" bytes free.");
        report();
        aReply(TLinkReply::No);
        return false;
    }
    mXModem->SetMode(tmDownload);
    Put(mSession.Job, qkNo, QString());
    // The old file stays until the new one is whole; then it is replaced in one step. When it
    // cannot be replaced, the new file takes the next free name instead.
    const QFileInfo existing(target);
    if (existing.exists() && (existing.isDir() || !QFileInfo(folder).isWritable()))
        aReport(QStringLiteral("Local file cannot be deleted. Incoming file will be renamed."));
    discardPartialFile();
    mSession.FinalPath = target;
    // Received under a hidden temporary name in the same folder: a cut line or a crash never
    // leaves a partial file that looks like a delivered one. What a killed server left there
    // goes first.
    received_file::RemoveLeftovers(folder);
    mSession.PartPath = received_file::TemporaryPath(target);
    *fileName = mSession.PartPath;
    return true;
}

void THostProcess::answerCrc(const QString& name) {
    const TLife life = Life();
    const bool sent = !mSession.NameCut && !HasParentReference(name) && aLoadCrcItem();
    if (!Alive(life)) return;
    if (!sent) {
        aReport(QStringLiteral("Requested file CRC denied: ") + name);
        aReply(TLinkReply::No);
    }
}

void THostProcess::startFileTransfer(quint64 request, const QString& fileName, bool receiving) {
    const TLife life = Life();
    mReport.Total = ReportedSize(mSession.Job);
    mReport.Progress = 0;
    report();
    mXModem->SetFileName(fileName);
    // Accepted: from here on the request ends logged, as done or as failed.
    mJobOpen = true;
    // Everything that arrives after the reply belongs to the transfer: a prompt receiver's
    // start character must not be lost to the transfer's start.
    mXModem->Arm();
    aReply(TLinkReply::Yes);
    if (!Alive(life)) return;
    if (receiving || mSession.BufferTransfer) {
        const int half = deviceDelay(2000) / 2;
        if (!WaitDrained(half) || !Pause(half)) return;
    }
    // The session ended during the wait, or a newer request took over.
    if (mActivity != THstActivity::Online || request != mRequestCount) {
        if (!mXModem->InProgress()) mXModem->Disarm();
        return;
    }
    const QString what =
        Get(mSession.Job, qkSrcFile) + " (" + Get(mSession.Job, qkSize) + " bytes)";
    if (receiving)
        aReport(QStringLiteral("Receiving: ") + what);
    else
        mReport.Message = QStringLiteral("Sending: ") + what;
    mReport.FileText = receiving ? mSession.FinalPath : fileName;
    mXModem->Start();
}

// ---------------------------------------------------------------------------------------------
// Outcomes

void THostProcess::fileTransferDone() {
    const TLife life = Life();
    const bool received = Get(mSession.Job, qkMethod) == QLatin1String("RECV");
    mJobOpen = false;
    if (mConsole)
        mConsole->LogFileEvent(mSession.Job, false, QStringLiteral("Transfer successful."), true);
    if (!Alive(life)) return;
    mReport.Message = QStringLiteral("Transfer done.");
    mReport.FileText.clear();
    report();
    // The notification tells of files that arrived, not of files that were fetched.
    if (received && mSettings.GetBool(SVR_PopupNotification) && mConsole)
        mConsole->ShowNotification();
}

void THostProcess::fileTransferFailed() {
    const TLife life = Life();
    if (mXModem->Mode() == tmDownload) discardPartialFile();
    mJobOpen = false;
    if (mConsole)
        mConsole->LogFileEvent(mSession.Job, false, QStringLiteral("File transfer error."), false);
    if (!Alive(life)) return;
    mReport.Message = QStringLiteral("Transfer failed: ") +
                      (mXModem->Mode() == tmDownload ? mSession.FinalPath : mXModem->FileName());
    mReport.FileText.clear();
    report();
}
