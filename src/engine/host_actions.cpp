// The server engine's actions: reports to the console, replies on the line, the session time-out,
// the look-ups of the caller's folders and of the jobs queued for the caller, the directory list,
// and the files a receive leaves behind.
#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/host_internal.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/xmodem_file_name.h"

#include <QFile>
#include <QFileInfo>

using namespace host_internal;

// ---------------------------------------------------------------------------------------------
// Reports and replies

void THostProcess::aSetStatus(THstActivity value) {
    tell(TReportKind::SetsActivity, value);
}

void THostProcess::report() {
    tell(TReportKind::MessageOnly, mActivity);
}

void THostProcess::tell(TReportKind kind, THstActivity value) {
    Tell(mReport, kind, value, [&] {
        mReport.Job = mSession.Job;
        if (mConsole) mConsole->OnDeviceStatus(mReport);
    });
}

void THostProcess::aReport(const QString& message) {
    mReport.Message = message;
    report();
}

void THostProcess::aSendMessage(const QString& text) {
    // A reply that cannot be written is reported, and the step goes on as if it had been sent.
    Guard("aSendMessage", [&] {
        aReport(QStringLiteral(">>") + text);
        const QByteArray frame = FrameLine(text);
        if (!IsLineDevice()) return;
        mLines.clear();
        mAssembler.Discard();
        aListen(true);
        if (mXModem->InProgress()) return;
        mPort->WriteText(frame);
        WaitDrained(500);
    });
}

void THostProcess::aListen(bool on) {
    if (on)
        mPort->OnRxBuf = [this](TVaComm*, const char* data, int count) {
            Guard("yPortRxBuf", [&] { yPortRxBuf(data, count); });
        };
    else
        mPort->OnRxBuf = nullptr;
}

void THostProcess::aResetBatchTimeout() {
    mSessionTimer.SetEnabled(false);
    const int ms =
        mSessionTimeoutMs > 0
            ? mSessionTimeoutMs
            : int(qMin<qint64>(qint64(mSettings.GetInt(SVR_SessionTimeout)) * 60000, INT32_MAX));
    mSessionTimer.SetInterval(ms);
    mSessionTimer.SetEnabled(mActivity == THstActivity::Online);
}

void THostProcess::aFileNotification(qint64 byteCount) {
    if (byteCount == 0) mReport.Total = ReportedSize(mSession.Job);
    mSession.Transferred = byteCount;
    mReport.Progress = int32_t(qMin<qint64>(byteCount, INT32_MAX));
    Execute(false, {THstStep::File, THstStep::Dir}, {}, THstEvent::Progress);
}

// ---------------------------------------------------------------------------------------------
// The device and the caller's folders

bool THostProcess::aLoadDevice() {
    if (!IsModemDevice()) return true;
    return LoadDeviceModem(mSession.Modem);
}

QString THostProcess::aGetOutbox() {
    const QString folder =
        mSession.GlobalFile ? mSettings.GetStr(MRL_Outbox) : mSession.User[ukOutbox].StrValue;
    // An unset folder must not turn into the file system's root.
    if (folder.trimmed().isEmpty()) return ImpossibleFolder;
    return WithTrailingSlash(LocalSeparators(folder));
}

QString THostProcess::aUserInbox() {
    const QString folder = mSession.User[ukInbox].StrValue;
    if (folder.trimmed().isEmpty()) return ImpossibleFolder;
    return WithTrailingSlash(LocalSeparators(folder));
}

// ---------------------------------------------------------------------------------------------
// Jobs

bool THostProcess::loadQueueItem(int index, bool replyOnError) {
    const TLife life = Life();
    if (!mQueue || index < 0 || index >= mQueue->Count()) return false;
    if (mQueue->GetSetting(index, qkMethod) == QLatin1String("SEND")) {
        bool inside = false;
        const QString path = LocalPath(aGetOutbox(), mQueue->GetSetting(index, qkSrcFile), &inside);
        if (!inside || !QFileInfo(path).isFile()) {
            const QString message = QStringLiteral("Queued file not found.");
            aReport(message);
            const TQueueItem job = *mQueue->GetItem(index);
            if (mConsole) mConsole->LogFileEvent(job, true, message, false);
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            aReport(QStringLiteral("Could not open requested file: ") + path);
            if (replyOnError) aReply(TLinkReply::No);
            return false;
        }
        mQueue->PutSetting(index, qkSize, QString::number(file.size()));
    }
    if (!Alive(life)) return false;
    if (const TQueueItem* job = mQueue->GetItem(index)) mSession.Job.Slots = job->Slots;
    return true;
}

bool THostProcess::aLoadQueueItem(int index) {
    return loadQueueItem(index, true);
}

bool THostProcess::aLoadQueueItemByName(const QString& fileName) {
    if (mSession.GlobalFile) return loadGlobalItem();
    if (!mQueue) return false;
    // Only a job queued for the caller: another user's job of the same name must stay queued
    // for that user.
    const QString user = mSession.User[ukUser].StrValue;
    const QString wanted = PathCase(fileName);
    for (int i = 0; i < mQueue->Count(); ++i) {
        if (mQueue->GetSetting(i, qkSrcFile) == wanted && mQueue->GetSetting(i, qkUser) == user)
            return aLoadQueueItem(i);
    }
    return false;
}

bool THostProcess::loadGlobalItem() {
    if (Get(mSession.Job, qkMethod) != QLatin1String("SEND")) return false;
    bool inside = false;
    const QString path = LocalPath(aGetOutbox(), Get(mSession.Job, qkSrcFile), &inside);
    if (!inside || !QFileInfo(path).isFile()) {
        const QString message = QStringLiteral("Global file not found.");
        aReport(message);
        if (mConsole) mConsole->LogFileEvent(mSession.Job, true, message, false);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        aReport(QStringLiteral("Could not open global file: ") + path);
        aReply(TLinkReply::No);
        return false;
    }
    PutJobSize(mSession.Job, file.size());
    return true;
}

bool THostProcess::aLoadCrcItem() {
    if (!mSession.GlobalFile || Get(mSession.Job, qkMethod) != QLatin1String("CRC")) return false;
    bool inside = false;
    const QString path = LocalPath(aGetOutbox(), Get(mSession.Job, qkSrcFile), &inside);
    if (!inside || !QFileInfo(path).isFile()) {
        const QString message = QStringLiteral("Global CRC file not found.");
        aReport(message);
        if (mConsole) mConsole->LogFileEvent(mSession.Job, true, message, false);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        aReport(QStringLiteral("Could not open global file: ") + path);
        aReply(TLinkReply::No);
        return false;
    }
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    file.close();
    aSendMessage(line);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The directory list

bool THostProcess::aPrepareUserDirList() {
    const TLife life = Life();
    const bool buffer = mSession.BufferTransfer;
    mReport.Operation = QStringLiteral("Dir");
    mReport.Message.clear();
    report();
    if (buffer) {
        aReport(QStringLiteral("Sending DIR buffer..."));
        Put(mSession.Job, qkSrcFile, QString());
    }
    const QString user = mSession.User[ukUser].StrValue;
    QList<TDirEntry> entries;
    for (int i = 0; mQueue && i < mQueue->Count(); ++i) {
        if (mQueue->GetSetting(i, qkUser) != user) continue;
        const int before = mQueue->Count();
        // An unreadable file is left out of the list; it must not answer the DIR with "NO".
        const bool loaded = loadQueueItem(i, false);
        if (!Alive(life)) return false;
        if (!loaded) {
            // The console drops a job whose file is gone: the next job moved into its place.
            if (mQueue->Count() < before) --i;
            continue;
        }
        QString dest = mQueue->GetSetting(i, qkDestPath);
        if (!dest.isEmpty() && !dest.endsWith('\\')) {
            dest += '\\';
            mQueue->PutSetting(i, qkDestPath, dest);
            Put(mSession.Job, qkDestPath, dest);
        }
        entries.append({Get(mSession.Job, qkSrcFile), Get(mSession.Job, qkSize), dest});
        if (buffer) {
            aSendMessage(Quote + Get(mSession.Job, qkSrcFile) + Quote);
            if (!Alive(life)) return false;
        }
    }
    if (entries.isEmpty()) return false;
    if (buffer) {
        aSendMessage(QString());
        return true;
    }
    aReport(QStringLiteral("Preparing DIR file..."));
    Put(mSession.Job, qkSrcFile, QStringLiteral("DIR.LST"));
    return writeDirListFile(entries);
}

bool THostProcess::writeDirListFile(const QList<TDirEntry>& entries) {
    const QString path = aGetOutbox() + "DIR.LST";
    QFile::remove(path);
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(DirListText(entries));
            file.close();
        }
    }
    const QFileInfo written(path);
    if (!written.isFile()) return false;
    PutJobSize(mSession.Job, written.size());
    Put(mSession.Job, qkMethod, QStringLiteral("SEND"));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Received files

void THostProcess::removeLeftovers() {
    // What a killed server left in the inboxes it receives into (the folders a file was being
    // received into are cleaned again before each receive).
    QStringList folders{mSettings.GetStr(MRL_Inbox)};
    for (int i = 0; mUsers && i < mUsers->Count(); ++i)
        if (const TMRLUser* user = mUsers->GetItem(i)) folders << (*user)[ukInbox].StrValue;
    folders.removeDuplicates();
    for (const QString& folder : folders)
        if (!folder.trimmed().isEmpty()) received_file::RemoveLeftovers(LocalSeparators(folder));
}

void THostProcess::discardPartialFile() {
    if (mSession.PartPath.isEmpty()) return;
    const QString path = mSession.PartPath;
    mSession.PartPath.clear();
    if (!received_file::Discard(path))
        ReportError("DoFile", QStringLiteral("Partial file cannot be deleted: ") + path);
}

bool THostProcess::moveReceivedFile(const QString& part, QString* finalPath, QString* error) {
    if (part.isEmpty() || finalPath->isEmpty()) {
        *error = QStringLiteral("No received file.");
        return false;
    }
    // Replaces an older file of that name in one step; one that cannot be replaced keeps its
    // place and the new file takes the next free name.
    if (!received_file::Commit(part, *finalPath, error)) {
        const QString other = UniqueFileName(*finalPath);
        if (!received_file::Commit(part, other, error)) {
            received_file::Discard(part);
            return false;
        }
        *finalPath = other;
    }
    return true;
}

int THostProcess::deviceDelay(int emptyValue) const {
    const QString text = mDevice.Get(dvkDevDelay).trimmed();
    if (text.isEmpty()) return emptyValue;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 0 ? value : emptyValue;
}
