// The client engine's actions: reports to the console, commands on the line and their trials,
// the batch time-out, the jobs of the queue and the list of files to fetch, and the helpers of
// the transfers (timings, cancelling, the downloads' temporary files).
#include "engine/rem_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/link_protocol.h"
#include "engine/rem_internal.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/wait_message.h"
#include "serial/xmodem_file_name.h"

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <utility>

using namespace rem_internal;

// ---------------------------------------------------------------------------------------------
// Reports and commands

void TRemProcess::aSetStatus(TRemActivity value) {
    tell(TReportKind::SetsActivity, value);
}

void TRemProcess::tell(TReportKind kind, TRemActivity value) {
    Tell(mReport, kind, value, [&] {
        mReport.Job = mSession.Job;
        mReport.Attempt = mSession.Attempt;
        if (mConsole) mConsole->OnDeviceStatus(mReport);
    });
}

bool TRemProcess::report() {
    const TLife life = Life();
    tell(TReportKind::MessageOnly, mActivity);
    return Alive(life);
}

bool TRemProcess::aReport(const QString& message) {
    mReport.Message = message;
    return report();
}

void TRemProcess::aSendMessage(const QString& text) {
    // A command that cannot be written is reported; its trial sends it again.
    Guard("aSendMessage", [&] {
        QByteArray legacy;
        const QByteArray frame = mLegacyGets.contains(text) && EncodeWindows1252(text, &legacy)
                                     ? FrameBytes(legacy)
                                     : FrameLine(text);
        if (!IsLineDevice()) return;
        forgetReply();
        mWatcher->ResetMatching();
        if (transferRunning()) return;
        mWatcher->SetActive(true);
        mPort->WriteText(frame);
    });
}

void TRemProcess::aTryCommand(TLinkVerb verb, const QString& command) {
    const TLinkCommand& row = LinkCommand(verb);
    const TRemStep step = ClientStep(row.step);
    mTrialTimer.SetEnabled(false);
    mTrialTimer.SetInterval(RemTiming().TrialFirstMs);
    mTrial.Verb = verb;
    mTrial.RetriesLeft = 3;
    mTrial.StatusText = row.status ? QString::fromLatin1(row.status) : command;
    mTrial.Command = command;
    mTrial.AnsweredFrom = ClientEvent(row.step, row.answeredBy);
    const TRemEvent failEvent = ClientEvent(row.step, row.unanswered);
    mTrial.FailStep = failEvent == TRemEvent::None ? TRemStep::None : step;
    mTrial.FailEvent = failEvent;
    mTrial.SuccessStep = TRemStep::None;
    mTrial.SuccessEvent = TRemEvent::None;
    mTrialTimer.SetEnabled(true);
}

void TRemProcess::aAsk(TLinkVerb verb, const QString& line, TAnswered answered) {
    cancelAsk();
    mAsk.Verb = verb;
    mAsk.Answered = std::move(answered);
    mAsk.Active = true;
    mAnswerLines.Discard();
    Guard("aSendMessage", [&] {
        if (!IsLineDevice()) return;
        // Its answer holds no designed reply: the watcher stays off.
        forgetReply();
        mWatcher->SetActive(false);
        mWatcher->ResetMatching();
        if (transferRunning()) return;
        mPort->WriteText(FrameLine(line));
    });
    mAskTimer.SetInterval(ExtensionWait());
    mAskTimer.SetEnabled(true);
}

void TRemProcess::finishAsk(const QStringList* fields) {
    mAskTimer.SetEnabled(false);
    if (!mAsk.Active) return;
    mAsk.Active = false;
    const TAnswered answered = std::exchange(mAsk.Answered, {});
    if (answered) answered(fields);
}

void TRemProcess::cancelAsk() {
    mAskTimer.SetEnabled(false);
    mAsk.Active = false;
    mAsk.Answered = {};
}

void TRemProcess::aResetBatchTimeout() {
    mBatchTimer.SetEnabled(false);
    if (mActivity == TRemActivity::Online) mBatchTimer.SetEnabled(true);
}

int TRemProcess::batchTimeoutMs() const {
    if (RemTiming().BatchTimeoutMs > 0) return RemTiming().BatchTimeoutMs;
    return int(qBound<qint64>(qint64(1), qint64(mSettings.GetInt(CLI_BatchTimeOutMin)) * 60000,
                              qint64(INT_MAX)));
}

int TRemProcess::batchIdleMs() const {
    if (RemTiming().BatchIdleMs > 0) return RemTiming().BatchIdleMs;
    return int(qBound<qint64>(qint64(1), qint64(mSettings.GetInt(CLI_BatchIntSec)) * 1000,
                              qint64(INT_MAX)));
}

void TRemProcess::aFileNotification(qint64 byteCount) {
    mTransferred = byteCount;
    if (byteCount == 0) mReport.Total = Get(mSession.Job, qkSize).trimmed().toInt();
    mReport.Progress = int32_t(qMin<qint64>(byteCount, INT32_MAX));
    Execute(false, {TRemStep::File, TRemStep::Dir}, {}, TRemEvent::Progress);
}

void TRemProcess::logFileEvent(const TQueueItem& job, bool discard, const QString& result,
                               int attempt, bool done) {
    // A copy: the console may delete the queue's job while it handles the event.
    const TQueueItem copy = job;
    if (mConsole) mConsole->LogFileEvent(copy, discard, result, attempt, done);
}

// ---------------------------------------------------------------------------------------------
// The queue

bool TRemProcess::aLoadQueue(int index) {
    bool loaded = false;
    // A job that cannot be loaded is passed over like one whose file is gone.
    Guard("aLoadQueue", [&] {
        if (!mQueue || index < 0 || index >= mQueue->Count()) return;
        const TQueueItem job = *mQueue->GetItem(index);
        mSession.Modem[mdkGUID].SetStr(QString());
        if (IsModemDevice() && !LoadDeviceModem(mSession.Modem)) {
            logFileEvent(job, true, QStringLiteral("Invalid communication device."), 0, false);
            return;
        }
        if (Get(job, qkMethod) == QLatin1String("SEND") && !outboxFile(job).exists) {
            mReport.Message = QStringLiteral("Enqueued file not found.");
            logFileEvent(job, true, mReport.Message, 0, false);
            report();
            return;
        }
        mSession.Job = job;
        loaded = true;
    });
    return loaded;
}

TRemProcess::TOutboxFile TRemProcess::outboxFile(const TQueueItem& job) const {
    TOutboxFile file;
    bool ok = false;
    file.path = LocalPath(mSettings.GetStr(MRL_Outbox), Get(job, qkSrcFile), &ok);
    if (!ok) return file;
    const QFileInfo info(file.path);
    file.exists = info.isFile();
    file.size = info.size();
    return file;
}

bool TRemProcess::aEnqueueToReceive() {
    bool queued = false;
    // A list that cannot be read or queued ends the batch like an empty one.
    Guard("aEnqueueToReceive", [&] {
        const QByteArray text = takeDirList();
        QList<TDirEntry> entries;
        if (mQueue && ParseDirList(text, &entries)) {
            for (const TDirEntry& entry : entries) {
                TQueueItem job = fetchJob(entry);
                // A file still queued for fetching (one that failed and was kept) is not queued
                // twice: the list would otherwise be fetched again and again within one batch.
                if (fetchQueued(job)) continue;
                mQueue->AddItem();
                mQueue->SetItem(mQueue->Count() - 1, &job);
                queued = true;
            }
        }
        if (mConsole) mConsole->UpdateQueueList();
    });
    return queued;
}

QByteArray TRemProcess::takeDirList() {
    const QString path = mDirListFile.isEmpty() ? DirListPath() : mDirListFile;
    QFile file(path);
    QByteArray text;
    if (file.open(QIODevice::ReadOnly)) {
        text = file.readAll();
        file.close();
    }
    file.remove();
    // XMODEM pads the last block (NUL from us, ^Z from other senders).
    while (!text.isEmpty() && (text.back() == '\0' || text.back() == '\x1A'))
        text.chop(1);
    return text;
}

TQueueItem TRemProcess::fetchJob(const TDirEntry& entry) {
    TQueueItem job;
    mQueue->EmptyItem(job);
    Put(job, qkMethod, QStringLiteral("RECV"));
    Put(job, qkAutoDel, QString::fromLatin1(NoYes[0]));
    Put(job, qkSrcFile, entry.name);
    Put(job, qkSize, entry.size);
    Put(job, qkDestPath, entry.destPath);
    if (entry.legacy) mLegacyGets.insert(GetCommand(entry.name));
    for (TQueueKey key : {qkUser, qkPassw, qkCommName, qkCommGUID, qkCommParam})
        Put(job, key, Get(mSession.Job, key));
    return job;
}

bool TRemProcess::fetchQueued(const TQueueItem& job) const {
    for (int i = 0; i < mQueue->Count(); ++i) {
        const TQueueItem* other = mQueue->GetItem(i);
        if (!other || Get(*other, qkMethod) != QLatin1String("RECV")) continue;
        bool same = true;
        for (TQueueKey key : {qkSrcFile, qkDestPath, qkUser, qkPassw, qkCommGUID, qkCommParam})
            same = same && Get(*other, key) == Get(job, key);
        if (same) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Transfers

bool TRemProcess::transferRunning() const {
    return mXModem && mXModem->InProgress();
}

void TRemProcess::cancelTransfer() {
    if (!transferRunning()) {
        mXModem->Disarm();
        return;
    }
    // Its end arrives later and must not count as the outcome of whatever runs by then.
    mAbandoned = true;
    mXModem->Cancel();
}

bool TRemProcess::waitTransferEnd(int ms) {
    const TLife life = Life();
    TVaXModem* transfer = mXModem.get();
    WaitFor([life, transfer] { return !Alive(life) || !transfer->InProgress(); }, ms);
    return Alive(life);
}

int TRemProcess::scaledDelay(int multiply, int divide, int whenEmpty) const {
    const QString text = mDevice.Get(dvkDevDelay).trimmed();
    if (text.isEmpty()) return whenEmpty;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0) return whenEmpty;
    return int(qMin<qint64>(value * multiply / divide, 24 * 3600 * 1000));
}

int TRemProcess::retries() const {
    bool ok = false;
    const int value = mDevice.Get(dvkDevRetries).trimmed().toInt(&ok);
    return ok ? value : 5;
}

void TRemProcess::deletePartialDownload() {
    if (mPartPath.isEmpty()) return;
    const QString path = mPartPath;
    mPartPath.clear();
    if (!received_file::Discard(path)) ReportError("yXModError", path + ": cannot be deleted");
}

QString TRemProcess::finishDownload() {
    // Replaces an older file of that name in one step, once the new one is whole; one that
    // cannot be replaced stays, and the new file takes the next free name.
    QString final = mFinalPath;
    QString why;
    if (!received_file::Commit(mPartPath, final, &why)) {
        aReport(QStringLiteral("Local file cannot be deleted. Incoming file will be renamed."));
        final = UniqueFileName(final);
        if (!received_file::Commit(mPartPath, final, &why)) {
            ReportError("yModemTransferEnd_1", why);
            return QString();
        }
    }
    mPartPath.clear();
    return final;
}
