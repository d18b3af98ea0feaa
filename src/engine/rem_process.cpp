#include "engine/rem_process.h"

#include "core/helpers.h"
#include "engine/link_protocol.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/comm.h"
#include "serial/modem.h"
#include "serial/va_timer.h"
#include "serial/wait_message.h"
#include "serial/xmodem.h"
#include "serial/xmodem_file_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <climits>
#include <exception>
#include <stdexcept>


namespace {
const QString DirListName = QStringLiteral("DIR.LST");
// A download is written under this suffix and renamed once it is whole, so that a cut line or a
// crash never leaves a partial file under the name of a delivered one.

int envMs(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}
} // namespace

const TRemTiming& RemTiming() {
    static const TRemTiming timing = [] {
        TRemTiming t;
        t.TrialFirstMs = envMs("MARROWLINE_TRIAL_FIRST_MS", t.TrialFirstMs);
        t.TrialRepeatMs = envMs("MARROWLINE_TRIAL_REPEAT_MS", t.TrialRepeatMs);
        t.BatchIdleMs = envMs("MARROWLINE_BATCH_IDLE_MS", t.BatchIdleMs);
        t.BatchTimeoutMs = envMs("MARROWLINE_BATCH_TIMEOUT_MS", t.BatchTimeoutMs);
        return t;
    }();
    return timing;
}

TDeviceEngineFactory RemEngineFactory() {
    return [](TDevicesList& owner, TCommDevice& device) {
        return std::unique_ptr<TDeviceEngine>(std::make_unique<TRemProcess>(&owner, &device));
    };
}

namespace {
// The watched string that is the CR closing a reply's frame.
constexpr int ReplyEndIndex = 4;
// How long a matched reply waits for the rest of its frame: three characters and the line's
// latency, with room for a loaded machine.
constexpr int ReplyEndWaitMs = 500;
} // namespace

QString TRemProcess::DirListPath() const {
    return mSettings.AppDir() + DirListName;
}

// ---------------------------------------------------------------------------------------------
// Errors and small helpers

void TRemProcess::error(const char* operation, const QString& text) {
    mStatus.Add(QStringLiteral("!TRemProcess.") + QLatin1String(operation) + ": " + text);
}

template <typename F> void TRemProcess::guarded(const char* operation, F&& body) {
    try {
        body();
    } catch (const EVaCommError& e) {
        error(operation, e.Message());
    } catch (const EVaModemException& e) {
        error(operation, e.Message());
    } catch (const std::exception& e) {
        error(operation, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        error(operation, QStringLiteral("unknown error"));
    }
}

bool TRemProcess::isLinkDevice() const {
    const QString type = mDevice->Get(dvkDevType);
    return type == "Direct" || type == "Modem";
}

bool TRemProcess::isModemDevice() const {
    return mDevice->Get(dvkDevType) == "Modem";
}

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

int TRemProcess::scaledDelay(int multiply, int divide, int whenEmpty) const {
    const QString text = mDevice->Get(dvkDevDelay).trimmed();
    if (text.isEmpty()) return whenEmpty;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0) return whenEmpty;
    return int(qMin<qint64>(value * multiply / divide, 24 * 3600 * 1000));
}

int TRemProcess::retries() const {
    bool ok = false;
    const int value = mDevice->Get(dvkDevRetries).trimmed().toInt(&ok);
    return ok ? value : 5;
}

bool TRemProcess::waitPort(int ms) {
    const auto alive = mAlive;
    TVaComm* comm = mComm;
    WaitFor([alive, comm] { return !*alive || comm->OutputDrained(); }, ms);
    return *alive;
}

bool TRemProcess::pause(int ms) {
    const auto alive = mAlive;
    Delay(ms);
    return *alive;
}

bool TRemProcess::waitTransferEnd(int ms) {
    const auto alive = mAlive;
    TVaXModem* x = mXModem;
    WaitFor([alive, x] { return !*alive || !x->InProgress(); }, ms);
    return *alive;
}

void TRemProcess::logFileEvent(const TQueueItem& job, bool discard, const QString& result,
                               int attempt, bool done) {
    // A copy: the console may delete the queue's job while it handles the event.
    const TQueueItem copy = job;
    if (mConsole) mConsole->LogFileEvent(copy, discard, result, attempt, done);
}

void TRemProcess::deletePartialDownload() {
    if (mPartPath.isEmpty()) return;
    const QString path = mPartPath;
    mPartPath.clear();
    if (!received_file::Discard(path)) error("yXModError", path + ": cannot be deleted");
}

// ---------------------------------------------------------------------------------------------
// Life

TRemProcess::TRemProcess(TDevicesList* owner, TCommDevice* device)
    : mOwner(owner), mDevice(device), mSettings(owner->Services().settings),
      mStatus(owner->Services().status), mQueue(&owner->Services().queue),
      mModems(&owner->Services().modems), mConsole(owner->Services().remConsole) {
    mReport.Device = device;
    guarded("Create", [&] {
        // What a killed client left while it was fetching (the folders of fetched files are
        // cleaned again before each fetch).
        received_file::RemoveLeftovers(LocalSeparators(mSettings.GetStr(MRL_Inbox)));
        received_file::RemoveLeftovers(mSettings.AppDir());
        // What the components' event handlers raise becomes a status line.
        const TVaExceptionHandler toStatus = [status = &mStatus](const QString& origin,
                                                                 const QString& text) {
            status->Add("!" + origin + ": " + text);
        };
        mComm = new TVaComm(this);
        mComm->SetExceptionHandler(toStatus);
        mComm->SetPortMapFolder(mSettings.AppDir());
        mComm->SetBaudrate(br56000);
        mComm->Buffers().SetReadSize(78000);
        mComm->Buffers().SetReadTimeout(4000);
        mComm->Buffers().SetWriteTimeout(4000);
        mComm->OnOpen = [this](TVaComm*) { yPortOpen(); };
        mComm->OnClose = [this](TVaComm*) { yPortClose(); };
        mComm->OnError = [this](TVaComm*, uint32_t errors) { yPortError(errors); };

        mModem = new TVaModem(this);
        mModem->SetExceptionHandler(toStatus);
        mModem->SetActive(false);
        mModem->SetDialTimeout(60000);
        mModem->SetAnswerTimeout(60000);
        mModem->SetRingDetect(rdNone);
        mModem->SetComm(mComm);
        mModem->OnOK = [this](TVaCustomModem*) { yModemOK(); };
        mModem->OnBusy = [this](TVaCustomModem*) { yModemBusy(); };
        mModem->OnCommandTimeout = [this](TVaCustomModem*) { yModemCommandTimeout(); };
        mModem->OnConnect = [this](TVaCustomModem*, const QString& line) { yModemConnect(line); };
        mModem->OnError = [this](TVaCustomModem*) { yModemError(); };
        mModem->OnNoCarrier = [this](TVaCustomModem*) { yModemNoCarrier(); };
        mModem->OnNoDialTone = [this](TVaCustomModem*) { yModemNoDialTone(); };
        mModem->OnVoice = [this](TVaCustomModem*) { yModemVoice(); };
        mModem->OnDialTimeout = [this](TVaCustomModem*) { yModemDialTimeout(); };

        mXModem = new TVaXModem(this);
        mXModem->SetExceptionHandler(toStatus);
        mXModem->SetProtocol(XModem1K);
        mXModem->SetComm(mComm);
        mXModem->OnTransferStart = [this](TVaProtocol*) { FileNotification(0); };
        mXModem->OnPacketEvent = [this](TVaXYModem*, int, qint64 bytes) {
            mTransferred = bytes;
            FileNotification(bytes);
        };
        mXModem->OnFileInfo = [this](TVaXYModem*, const QString& name, qint64 size) {
            yXModFileInfo(name, size);
        };
        mXModem->OnTransferEnd = [this](TVaProtocol*, int code) { yModemTransferEnd(code); };
        mXModem->OnError = [this](TVaProtocol*, int code, int) { yXModError(code); };

        mWatcher = new TVaWaitMessage(this);
        mWatcher->SetExceptionHandler(toStatus);
        mWatcher->SetActive(false);
        // The replies, and the CR that closes a reply's frame.
        mWatcher->SetStrings({"YES", "NO", "OK", "FAIL", "^M"});
        mWatcher->SetComm(mComm);
        mWatcher->OnMessage = [this](TVaWaitMessage*, int index) { yMsgMessage(index); };

        auto makeTimer = [this, toStatus](void (TRemProcess::*handler)()) {
            auto timer = std::make_unique<TVaTimer>();
            timer->SetExceptionHandler(toStatus);
            timer->SetEnabled(false);
            timer->SetOnTimer([this, handler](TVaTimer*) { (this->*handler)(); });
            return timer;
        };
        mIdleTimer = makeTimer(&TRemProcess::tmBatchIdleTimer);
        mBatchTimer = makeTimer(&TRemProcess::tmBatchTmoTimer);
        mTrialTimer = makeTimer(&TRemProcess::aTryCommandTimer);
        mReplyTimer = makeTimer(&TRemProcess::yReplyComplete);
        mReplyTimer->SetInterval(ReplyEndWaitMs);
    });
    if (mComm && mModem && mXModem && mWatcher) DoIdle();
}

TRemProcess::~TRemProcess() {
    guarded("Destroy", [&] {
        for (TVaTimer* t :
             {mIdleTimer.get(), mBatchTimer.get(), mTrialTimer.get(), mReplyTimer.get()})
            if (t) t->SetEnabled(false);
        if (mComm) DoStop();
        Delay(500);
    });
    *mAlive = false;
    // The parts go before the port they are attached to; their events must not reach a
    // half-destroyed engine.
    if (mXModem) {
        mXModem->OnTransferEnd = nullptr;
        mXModem->OnError = nullptr;
        mXModem->OnPacketEvent = nullptr;
        mXModem->OnFileInfo = nullptr;
        mXModem->OnTransferStart = nullptr;
        delete mXModem;
    }
    if (mWatcher) {
        mWatcher->OnMessage = nullptr;
        delete mWatcher;
    }
    delete mModem;
    if (mComm) {
        mComm->OnOpen = nullptr;
        mComm->OnClose = nullptr;
        mComm->OnError = nullptr;
        delete mComm;
    }
    mIdleTimer.reset();
    mBatchTimer.reset();
    mTrialTimer.reset();
    mReplyTimer.reset();
}

void TRemProcess::Restart() {
    Execute(true, {rsIdle});
}

// ---------------------------------------------------------------------------------------------
// The state machine

void TRemProcess::Execute(bool force, TRemSteps steps, uint8_t subStep, uint8_t event) {
    const auto alive = mAlive;
    guarded("Execute", [&] {
        if (!steps.Contains(mStep) && !force) return;
        if (force) mStep = steps.Lowest();
        if (subStep != 0) mSubStep = subStep;
        if (event != 0) mEvent = event;
        switch (mStep) {
        case rsStop:
            DoStop();
            break;
        case rsStart:
            DoStart();
            break;
        case rsIdle:
            DoIdle();
            break;
        case rsConnect:
            DoConnect();
            break;
        case rsLogin:
            DoLogin();
            break;
        case rsFile:
            DoFile();
            break;
        case rsDir:
            DoDir();
            break;
        case rsFirstFile:
            DoFirstFile();
            break;
        case rsNextFile:
            DoNextFile();
            break;
        case rsDisconnect:
            DoDisconnect();
            break;
        default:
            break;
        }
        if (!*alive) return;
        if (mActivity == raOnline && !mTrialGivingUp &&
            (mStep == rsLogin || mStep == rsFile || mStep == rsDir))
            aResetBatchTimeout();
    });
}

void TRemProcess::aSetStatus(bool setActivity, uint8_t value) {
    const auto alive = mAlive;
    guarded("aSetStatus", [&] {
        mReport.PrevActivity = mActivity;
        mReport.Kind = value;
        if (mConsole) mConsole->OnDeviceStatus(mReport);
        if (!*alive) return;
        if (setActivity) mActivity = value;
        mReport.Message.clear();
    });
}

void TRemProcess::aSendMessage(const QString& text) {
    guarded("aSendMessage", [&] {
        QByteArray legacy;
        const QByteArray frame = mLegacyGets.contains(text) && EncodeWindows1252(text, &legacy)
                                     ? FrameBytes(legacy)
                                     : FrameLine(text);
        if (!isLinkDevice()) return;
        forgetReply();
        mWatcher->ResetMatching();
        if (transferRunning()) return;
        mWatcher->SetActive(true);
        mComm->WriteText(frame);
    });
}

void TRemProcess::aTryCommand(const QString& statusText, const QString& command,
                              uint8_t answeredFrom, uint8_t failStep, uint8_t failEvent,
                              uint8_t successStep, uint8_t successEvent) {
    guarded("aTryCommand", [&] {
        mTrialTimer->SetEnabled(false);
        mTrialTimer->SetInterval(RemTiming().TrialFirstMs);
        mTrial.RetriesLeft = 3;
        mTrial.StatusText = statusText;
        mTrial.Command = command;
        mTrial.AnsweredFrom = answeredFrom;
        mTrial.FailStep = failStep;
        mTrial.FailEvent = failEvent;
        mTrial.SuccessStep = successStep;
        mTrial.SuccessEvent = successEvent;
        mTrialTimer->SetEnabled(true);
    });
}

void TRemProcess::aTryCommandTimer() {
    guarded("aTryCommandTimer", [&] {
        mTrialTimer->SetEnabled(false);
        mTrialTimer->SetInterval(RemTiming().TrialRepeatMs);
        --mTrial.RetriesLeft;
        if (unsigned(mEvent) >= unsigned(mTrial.AnsweredFrom)) {
            if (mTrial.SuccessStep != rsNone)
                Execute(false, TRemSteps::Of(mTrial.SuccessStep), 0, mTrial.SuccessEvent);
            return;
        }
        if (mTrial.RetriesLeft < 0) {
            // A command that went unanswered is no sign of life: the step it re-enters must not
            // restart the batch time-out, or a server that never answers "DIR" would hold the
            // line for ever.
            if (mTrial.FailStep != rsNone) {
                const auto alive = mAlive;
                mTrialGivingUp = true;
                Execute(false, TRemSteps::Of(mTrial.FailStep), 0, mTrial.FailEvent);
                if (*alive) mTrialGivingUp = false;
            }
            return;
        }
        mReport.Message = mTrial.StatusText;
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        aSendMessage(mTrial.Command);
        mTrialTimer->SetEnabled(true);
    });
}

void TRemProcess::aResetBatchTimeout() {
    guarded("aResetBatchTimeout", [&] {
        mBatchTimer->SetEnabled(false);
        if (mActivity == raOnline) mBatchTimer->SetEnabled(true);
    });
}

int TRemProcess::batchTimeoutMs() const {
    if (RemTiming().BatchTimeoutMs > 0) return RemTiming().BatchTimeoutMs;
    return int(
        qBound<qint64>(qint64(1), qint64(mSettings.GetInt(CLI_BatchTimeOutMin)) * 60000, qint64(INT_MAX)));
}

int TRemProcess::batchIdleMs() const {
    if (RemTiming().BatchIdleMs > 0) return RemTiming().BatchIdleMs;
    return int(qBound<qint64>(qint64(1), qint64(mSettings.GetInt(CLI_BatchIntSec)) * 1000, qint64(INT_MAX)));
}

void TRemProcess::tmBatchIdleTimer() {
    guarded("tmBatchIdleTimer", [&] {
        if (mQueue && mQueue->Count() > 0) Execute(true, {rsStart});
    });
}

void TRemProcess::tmBatchTmoTimer() {
    const auto alive = mAlive;
    guarded("tmBatchTmoTimer", [&] {
        mReport.Message = QStringLiteral("Batch timeout!");
        report();
        if (!*alive) return;
        // Only a job's own transfer step holds a job to report; in the Dir step the job in hand
        // is one that has already ended.
        if (mActivity == raOnline && mStep == rsFile)
            Execute(true, {rsIdle}, 0, reBatchTimeout);
        else
            Execute(true, {rsIdle});
    });
}

void TRemProcess::FileNotification(qint64 byteCount) {
    guarded("FileNotification", [&] {
        if (byteCount == 0) mReport.Total = Get(mReport.Job, qkSize).trimmed().toInt();
        mReport.Progress = int32_t(qMin<qint64>(byteCount, INT32_MAX));
        Execute(false, {rsFile, rsDir}, 0, reProgress);
    });
}

// ---------------------------------------------------------------------------------------------
// Queue

bool TRemProcess::aLoadQueue(int index) {
    bool result = false;
    guarded("aLoadQueue", [&] {
        if (!mQueue || index < 0 || index >= mQueue->Count()) return;
        const TQueueItem job = *mQueue->GetItem(index);
        mReport.Modem[mdkGUID].SetStr(QString());
        if (isModemDevice() && mModems) {
            for (int i = 0; i < mModems->Count(); ++i) {
                const TModemSettings* modem = mModems->GetModem(i);
                if (modem && modem->Get(mdkGUID) == mDevice->Get(dvkDevGUID)) {
                    mReport.Modem = *modem;
                    break;
                }
            }
        }
        if (isModemDevice() && mReport.Modem.Get(mdkGUID).isEmpty()) {
            logFileEvent(job, true, QStringLiteral("Invalid communication device."), 0, false);
            return;
        }
        if (Get(job, qkMethod) == "SEND" && !outboxFile(job).exists) {
            mReport.Message = QStringLiteral("Enqueued file not found.");
            logFileEvent(job, true, mReport.Message, 0, false);
            report();
            return;
        }
        mReport.Job = job;
        result = true;
    });
    return result;
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

// The next job to try at or after `index`: steps past a job only when it is still there, since a
// job that failed to load may have been removed from under the index.
static int nextIndexAfterFailure(TQueueList& queue, int index, const QString& jobNo) {
    if (index < queue.Count() && queue.GetSetting(index, qkNo) != jobNo) return index;
    return index + 1;
}

void TRemProcess::DoFirstFile() {
    const auto alive = mAlive;
    guarded("DoFirstFile", [&] {
        mReport.Operation = QStringLiteral("Seeking enqueued files...");
        mReport.Message.clear();
        report();
        if (!*alive) return;
        int found = -1;
        const int tries = mQueue ? mQueue->Count() : 0;
        for (int i = 0, n = 0; mQueue && i < mQueue->Count() && n < tries; ++n) {
            const QString no = mQueue->GetSetting(i, qkNo);
            if (mQueue->GetSetting(i, qkCommGUID) != mDevice->Get(dvkDevGUID)) {
                ++i;
                continue;
            }
            if (aLoadQueue(i)) {
                found = i;
                break;
            }
            if (!*alive) return;
            i = nextIndexAfterFailure(*mQueue, i, no);
        }
        mReport.Attempt = 0;
        if (found < 0) {
            Execute(true, {rsIdle});
            return;
        }
        mReport.JobIndex = found;
        mReport.Message = QStringLiteral("Attempting connection by \"") + mDevice->Get(dvkDevName) +
                          " " + Get(mReport.Job, qkCommParam) + "\"";
        report();
        if (!*alive) return;
        Execute(true, {rsConnect});
    });
}

void TRemProcess::DoNextFile() {
    const auto alive = mAlive;
    guarded("DoNextFile", [&] {
        mReport.Progress = 0;
        mReport.Operation = QStringLiteral("Seek");
        mReport.Message = QStringLiteral("Looking for files...");
        report();
        if (!*alive) return;
        const TQueueItem hand = mReport.Job;
        int found = -1;
        const int tries = mQueue ? mQueue->Count() : 0;
        for (int i = qMax(0, mReport.JobIndex), n = 0; mQueue && i < mQueue->Count() && n < tries;
             ++n) {
            const QString no = mQueue->GetSetting(i, qkNo);
            const bool same = mQueue->GetSetting(i, qkCommGUID) == Get(hand, qkCommGUID) &&
                              mQueue->GetSetting(i, qkCommParam) == Get(hand, qkCommParam) &&
                              mQueue->GetSetting(i, qkUser) == Get(hand, qkUser) &&
                              mQueue->GetSetting(i, qkPassw) == Get(hand, qkPassw);
            if (!same || no == Get(hand, qkNo)) {
                ++i;
                continue;
            }
            if (aLoadQueue(i)) {
                found = i;
                break;
            }
            if (!*alive) return;
            i = nextIndexAfterFailure(*mQueue, i, no);
        }
        mReport.Attempt = 0;
        if (found >= 0) {
            mReport.JobIndex = found;
            Execute(true, {rsFile}, 0, reFileBegin);
            return;
        }
        mReport.Message = QStringLiteral("No more files.");
        report();
        if (!*alive) return;
        Execute(true, {rsDir}, 0, reDirRequest);
    });
}

bool TRemProcess::aEnqueueToReceive() {
    bool result = false;
    guarded("aEnqueueToReceive", [&] {
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
        QList<TDirEntry> entries;
        if (mQueue && ParseDirList(text, &entries)) {
            const TQueueItem& hand = mReport.Job;
            for (const TDirEntry& entry : entries) {
                TQueueItem job;
                mQueue->EmptyItem(job);
                Put(job, qkMethod, QStringLiteral("RECV"));
                Put(job, qkAutoDel, QStringLiteral("NO"));
                Put(job, qkSrcFile, entry.name);
                Put(job, qkSize, entry.size);
                Put(job, qkDestPath, entry.destPath);
                if (entry.legacy) mLegacyGets.insert(GetCommand(entry.name));
                for (TQueueKey key : {qkUser, qkPassw, qkCommName, qkCommGUID, qkCommParam})
                    Put(job, key, Get(hand, key));
                // A file still queued for fetching (one that failed and was kept) is not queued
                // twice: the list would otherwise be fetched again and again within one batch.
                if (fetchQueued(job)) continue;
                mQueue->AddItem();
                mQueue->SetItem(mQueue->Count() - 1, &job);
                result = true;
            }
        }
        if (mConsole) mConsole->UpdateQueueList();
    });
    return result;
}

bool TRemProcess::fetchQueued(const TQueueItem& job) const {
    for (int i = 0; i < mQueue->Count(); ++i) {
        const TQueueItem* other = mQueue->GetItem(i);
        if (!other || Get(*other, qkMethod) != "RECV") continue;
        bool same = true;
        for (TQueueKey key : {qkSrcFile, qkDestPath, qkUser, qkPassw, qkCommGUID, qkCommParam})
            same = same && Get(*other, key) == Get(job, key);
        if (same) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Steps

void TRemProcess::DoStart() {
    const auto alive = mAlive;
    guarded("DoStart", [&] {
        if (mActivity == raOnline) return;
        Execute(true, {rsDisconnect});
        if (!*alive) return;
        mReport.Operation = QStringLiteral("Batch started.");
        mReport.Attempt = 0;
        mReport.JobIndex = 0;
        mReport.Progress = 0;
        mReport.FileText.clear();
        mReport.Total = 100;
        aSetStatus(true, raOnline);
        if (!*alive) return;
        mIdleTimer->SetEnabled(false);
        mBatchTimer->SetEnabled(false);
        mBatchTimer->SetInterval(batchTimeoutMs());
        mBatchTimer->SetEnabled(true);
        Execute(true, {rsFirstFile});
    });
}

void TRemProcess::DoIdle() {
    const auto alive = mAlive;
    guarded("DoIdle", [&] {
        if (mActivity == raIdle) return;
        if (mEvent == reBatchTimeout)
            logFileEvent(mReport.Job, false, QStringLiteral("File transfer error."),
                         mReport.Attempt, false);
        if (!*alive) return;
        mReport.Operation = QStringLiteral("Waiting for files...");
        mReport.Message = QStringLiteral("Client service idle.");
        mReport.Attempt = 0;
        mReport.JobIndex = 0;
        mReport.Progress = 0;
        mReport.FileText.clear();
        mReport.Total = 100;
        aSetStatus(true, raIdle);
        if (!*alive) return;
        Execute(true, {rsDisconnect});
        if (!*alive) return;
        mBatchTimer->SetEnabled(false);
        mTrialTimer->SetEnabled(false);
        mIdleTimer->SetEnabled(false);
        mIdleTimer->SetInterval(batchIdleMs());
        mIdleTimer->SetEnabled(true);
    });
}

void TRemProcess::DoStop() {
    const auto alive = mAlive;
    guarded("DoStop", [&] {
        if (mActivity == raStopped) return;
        if (transferRunning())
            logFileEvent(mReport.Job, false, QStringLiteral("Service stopped."), mReport.Attempt,
                         false);
        if (!*alive) return;
        Execute(true, {rsDisconnect});
        if (!*alive) return;
        mIdleTimer->SetEnabled(false);
        mBatchTimer->SetEnabled(false);
        mTrialTimer->SetEnabled(false);
        mTimeoutCount = 0;
        mReport.Operation = QStringLiteral("Client service stopped.");
        mReport.Message = mReport.Operation;
        mReport.Attempt = 0;
        mReport.JobIndex = 0;
        mReport.Progress = 0;
        mReport.FileText.clear();
        mReport.Total = 100;
        // Fetching jobs live only for the batch that listed them; from the end, so that none is
        // skipped when several follow each other.
        if (mQueue)
            for (int i = mQueue->Count() - 1; i >= 0; --i)
                if (mQueue->GetSetting(i, qkMethod) == "RECV") mQueue->DeleteItem(i, true);
        if (mConsole) mConsole->UpdateQueueList();
        if (!*alive) return;
        aSetStatus(true, raStopped);
    });
}

void TRemProcess::DoConnect() {
    const auto alive = mAlive;
    guarded("DoConnect", [&] {
        mReport.Operation = QStringLiteral("Connect");
        switch (mSubStep) {
        case 0: {
            const QStringList fields = mDevice->Get(dvkDevParam).split(',');
            const QString port = fields.value(0).trimmed();
            if (mDevice->Get(dvkDevType) == "Direct") {
                try {
                    bool ok = false;
                    const int rate = fields.value(1).trimmed().toInt(&ok);
                    if (!ok)
                        throw std::runtime_error(
                            ("'" + fields.value(1).trimmed() + "' is not a valid integer value")
                                .toStdString());
                    mComm->SetBaudrate(brUser);
                    mComm->SetUserBaudrate(rate);
                } catch (const std::exception& e) {
                    mStatus.Add(QStringLiteral("!TRemProcess.DoConnect - Assign UserBaudrate: ") +
                              QString::fromLocal8Bit(e.what()));
                }
            } else if (isModemDevice()) {
                TVaFlowControl& flow = mComm->FlowControl();
                flow.SetControlDtr(dtrHandshake);
                flow.SetControlRts(rtsHandshake);
                flow.SetOutCtsFlow(true);
                flow.SetOutDsrFlow(true);
                flow.SetDsrSensitivity(true);
            }
            mReport.Message = QStringLiteral("Opening port ") + port + "...";
            try {
                bool ok = false;
                const int number = port.mid(3).toInt(&ok);
                if (!ok)
                    throw std::runtime_error(
                        ("'" + port.mid(3) + "' is not a valid integer value").toStdString());
                mComm->SetPortNum(number);
            } catch (const std::exception& e) {
                mStatus.Add(QStringLiteral("!TRemProcess.DoConnect - Assign Port: ") +
                          QString::fromLocal8Bit(e.what()));
            }
            report();
            if (!*alive) return;
            try {
                mComm->Open();
            } catch (...) {
                // A port that cannot be opened ends the batch now rather than at its time-out.
                guarded("DoConnect", [] { throw; });
                if (*alive && mActivity == raOnline && mStep == rsConnect && !mComm->IsOpen())
                    Execute(true, {rsIdle});
            }
            break;
        }
        case 1:
            if (mDevice->Get(dvkDevType) == "Direct") {
                Execute(true, {rsConnect}, 4);
            } else if (isModemDevice()) {
                SetModemInitStrings(*mModem, mReport.Modem, mExtraCommands, 1);
                mReport.Message =
                    QStringLiteral("Initializing modem...\r\n") + mModem->ConfigText();
                report();
                if (!*alive) return;
                mModem->SetActive(true);
                mModem->Init();
            }
            break;
        case 3: {
            if (!mExtraCommands.isEmpty()) {
                const qsizetype cut = mExtraCommands.indexOf("|||");
                const QString command = cut < 0 ? mExtraCommands : mExtraCommands.left(cut);
                mExtraCommands = cut < 0 ? QString() : mExtraCommands.mid(cut + 3);
                mReport.Message = command;
                report();
                if (!*alive) return;
                mModem->SendCommand(command);
                break;
            }
            mReport.Message = QStringLiteral("Preparing to dial...");
            report();
            if (!*alive || !waitPort(1000)) return;
            if (mActivity != raOnline) return;
            if (mModem->Operation() == moDial) return;
            const QString number =
                mReport.Modem.Get(mdkDialPrefixNo) + Get(mReport.Job, qkCommParam);
            mReport.Message = QStringLiteral("Dialing...") + number;
            report();
            if (!*alive) return;
            mModem->Dial(number);
            break;
        }
        case 4:
            Execute(true, {rsLogin}, 0, reLogonSend);
            break;
        default:
            Execute(true, {rsIdle});
            break;
        }
    });
}

void TRemProcess::DoLogin() {
    const auto alive = mAlive;
    guarded("DoLogin", [&] {
        if (mSubStep != 4) return;
        mReport.Operation = QStringLiteral("Login");
        switch (mEvent) {
        case reLogonSend:
            if (isLinkDevice())
                aTryCommand(QStringLiteral("Logging on to server..."),
                            LogonCommand(Get(mReport.Job, qkUser),
                                         UnscramblePassword(Get(mReport.Job, qkPassw))),
                            reLogonAccepted, rsLogin, reLogonFailed, rsNone, 0);
            break;
        case reLogonAccepted:
            mReport.Attempt = 0;
            if (!waitPort(scaledDelay(1, 1, 1000))) return;
            if (mActivity == raOnline) Execute(true, {rsFile}, 0, reFileBegin);
            break;
        case reLogonFailed:
            mReport.Message = QStringLiteral("Logon failed!");
            report();
            if (!*alive) return;
            Execute(true, {rsIdle});
            break;
        default:
            break;
        }
    });
}

void TRemProcess::beginAttempt() {
    const auto alive = mAlive;
    TQueueItem& job = mReport.Job;
    mReport.Progress = 0;
    ++mReport.Attempt;
    Put(job, qkDestPath, WithTrailingBackslash(Get(job, qkDestPath)));
    QString command;
    if (Get(job, qkMethod) == "SEND") {
        // The length announced is the length now: a file that grew since it was queued is sent
        // whole, and the transfer checks that it still has this length when it opens the file.
        const TOutboxFile file = outboxFile(job);
        if (!file.exists) {
            mReport.Message = QStringLiteral("Enqueued file not found.");
            logFileEvent(job, true, mReport.Message, 0, false);
            if (!*alive) return;
            report();
            if (!*alive) return;
            Execute(true, {rsNextFile});
            return;
        }
        const QString size = QString::number(file.size);
        Put(job, qkSize, size);
        if (mQueue && mQueue->GetSetting(mReport.JobIndex, qkNo) == Get(job, qkNo))
            mQueue->PutSetting(mReport.JobIndex, qkSize, size);
        command = PutCommand(Get(job, qkDestPath), NamePart(Get(job, qkSrcFile)), size);
        mDownloading = false;
        mUploadSize = file.size;
        mXModem->SetMode(tmUpload);
        mXModem->SetFileName(file.path);
    } else {
        command = GetCommand(Get(job, qkSrcFile));
        const QString inbox = mSettings.GetStr(MRL_Inbox);
        bool ok = false;
        const QString target =
            LocalPath(inbox, Get(job, qkDestPath) + NamePart(Get(job, qkSrcFile)), &ok);
        const QString folder =
            ok ? QFileInfo(target).path()
               : WithTrailingSlash(inbox) + LocalSeparators(Get(job, qkDestPath));
        // A name that cannot be stored as listed (control characters, over 255 bytes, one of
        // our own temporary names) is refused like a folder that cannot be made.
        const bool storable = received_file::IsStorableName(Get(job, qkDestPath) +
                                                            NamePart(Get(job, qkSrcFile)));
        if (!ok || !storable || HasParentReference(Get(job, qkDestPath)) ||
            !QDir().mkpath(folder)) {
            mReport.Message +=
                QStringLiteral("\r\nError! Destination path cannot be created: ") + folder;
            report();
            if (!*alive || !waitPort(1000)) return;
            if (mActivity == raOnline) Execute(true, {rsNextFile});
            return;
        }
        mDownloading = true;
        mCheckLength = true;
        mFinalPath = target;
        received_file::RemoveLeftovers(folder);
        mPartPath = received_file::TemporaryPath(target);
        mXModem->SetMode(tmDownload);
        mXModem->SetFileName(mPartPath);
    }
    mReport.FileText = Get(job, qkSrcFile);
    mReport.Total = Get(job, qkSize).trimmed().toInt();
    aTryCommand(command, command, reFileYes, rsNone, 0, rsNone, 0);
}

bool TRemProcess::startTransfer() {
    // A transfer that was cancelled a moment ago may still be ending.
    if (transferRunning() && !waitTransferEnd(5000)) return false;
    if (transferRunning()) {
        mReport.Message = QStringLiteral("Transfer in progress...");
        report();
        return false;
    }
    mReport.Message = QStringLiteral("Transferring...");
    const auto alive = mAlive;
    report();
    if (!*alive) return false;
    if (mDownloading) QFile::remove(mXModem->FileName());
    mAbandoned = false;
    mTransferred = 0;
    mXModem->Start();
    return true;
}

void TRemProcess::DoFile() {
    const auto alive = mAlive;
    guarded("DoFile", [&] {
        mReport.Operation = QStringLiteral("Transfer");
        switch (mEvent) {
        case reFileBegin:
            if (isLinkDevice()) beginAttempt();
            break;
        case reFileYes:
            mReport.Message = QStringLiteral("Preparing to transfer...");
            report();
            if (!*alive) return;
            if (mDownloading) {
                if (!waitPort(scaledDelay(2, 1, 1000)) || !pause(scaledDelay(2, 1, 1000))) return;
            } else if (!waitPort(scaledDelay(1, 20, 1000))) {
                return;
            }
            if (mActivity != raOnline) {
                mXModem->Disarm();
                return;
            }
            startTransfer();
            break;
        case reFileNo:
            mReport.Message = QStringLiteral("File transfer denied by server.");
            report();
            if (!*alive) return;
            logFileEvent(mReport.Job, true, QStringLiteral("Transfer denied."), mReport.Attempt,
                         false);
            if (!*alive) return;
            cancelTransfer();
            Execute(true, {rsNextFile});
            break;
        case reUploadEnded:
            aTryCommand(QStringLiteral("Verifying..."), QStringLiteral("RESULT"), reDone, rsFile,
                        reAttemptFailed, rsNone, 0);
            break;
        case reAttemptFailed:
            cancelTransfer();
            if (mReport.Attempt < retries()) {
                logFileEvent(mReport.Job, false, QStringLiteral("Transfer failed."),
                             mReport.Attempt, false);
                if (!*alive || !waitPort(scaledDelay(2, 1, 2000))) return;
                if (mActivity != raOnline) return;
                mReport.Message = QStringLiteral("Retrying...");
                report();
                if (!*alive) return;
                Execute(true, {rsFile}, 0, reFileBegin);
            } else {
                logFileEvent(mReport.Job, mSettings.GetBool(CLI_DropFailed),
                             QStringLiteral("Transfer failed."), mReport.Attempt, false);
                if (!*alive) return;
                Execute(true, {rsNextFile});
            }
            break;
        case reProgress:
            report();
            break;
        case reDone:
            logFileEvent(mReport.Job, false, QStringLiteral("Transfer done."), mReport.Attempt,
                         true);
            if (!*alive || !waitPort(scaledDelay(2, 1, 1000))) return;
            if (mActivity == raOnline) Execute(true, {rsNextFile});
            break;
        default:
            break;
        }
    });
}

void TRemProcess::requestDirList() {
    mReport.FileText = DirListName;
    mReport.Total = 100;
    mReport.Progress = 0;
    aTryCommand(QStringLiteral("Requesting DIR..."), QStringLiteral("DIR"), reDirYes, rsDir,
                reDirRequest, rsNone, 0);
}

void TRemProcess::DoDir() {
    const auto alive = mAlive;
    guarded("DoDir", [&] {
        mReport.Operation = QStringLiteral("Retrieving");
        switch (mEvent) {
        case reDirRequest:
            if (!isLinkDevice()) return;
            mReport.Attempt = 0;
            requestDirList();
            break;
        case reDirYes: {
            if (!waitPort(scaledDelay(2, 1, 1000)) || !pause(scaledDelay(2, 1, 1000))) return;
            if (mActivity != raOnline) {
                mXModem->Disarm();
                return;
            }
            mReport.Message = QStringLiteral("Getting dir list...");
            report();
            if (!*alive) return;
            mDownloading = true;
            mCheckLength = false;
            mFinalPath = DirListPath();
            mPartPath = received_file::TemporaryPath(mFinalPath);
            mDirListFile.clear();
            mXModem->SetFileName(mPartPath);
            mXModem->SetMode(tmDownload);
            Put(mReport.Job, qkSize, QStringLiteral("0"));
            startTransfer();
            break;
        }
        case reDirOther:
            mReport.Message = QStringLiteral("No files to retrieve from server.");
            report();
            if (!*alive) return;
            Execute(true, {rsIdle});
            break;
        case reProgress:
            report();
            break;
        case reAttemptFailed:
            cancelTransfer();
            if (mReport.Attempt < retries()) {
                ++mReport.Attempt;
                requestDirList();
            } else {
                Execute(true, {rsIdle});
            }
            break;
        case reUploadEnded:
        case reDone:
            if (!mDirListFile.isEmpty() && QFileInfo::exists(mDirListFile)) {
                mReport.Message = QStringLiteral("DIR list retrieved.");
                report();
                if (!*alive) return;
                const bool queued = aEnqueueToReceive();
                if (!*alive) return;
                Execute(true, {queued ? rsNextFile : rsIdle});
            } else {
                mReport.Message = QStringLiteral("DIR list not found.");
                report();
                if (!*alive) return;
                Execute(true, {rsIdle});
            }
            break;
        default:
            break;
        }
    });
}

void TRemProcess::DoDisconnect() {
    guarded("DoDisconnect", [&] {
        const auto alive = mAlive;
        mReport.Attempt = 0;
        mSubStep = 0;
        mEvent = 0;
        if (mActivity != raIdle) mReport.Operation = QStringLiteral("Disconnect");
        if (!isLinkDevice()) return;
        forgetReply();
        mWatcher->SetActive(false);
        try {
            if (mModem->Active()) {
                mReport.Message = QStringLiteral("Disconnecting...");
                report();
                if (!*alive) return;
                guarded("DoDisconnect_1", [&] { cancelTransfer(); });
                guarded("DoDisconnect_2", [&] {
                    if (mModem->Operation() != moNone) mModem->CancelCommand();
                });
                guarded("DoDisconnect_3", [&] { mModem->SetActive(false); });
            }
        } catch (...) {
            guarded("DoDisconnect_4", [] { throw; });
        }
        // A direct cable has no modem to hang up, but its transfer must end as well.
        guarded("DoDisconnect_1", [&] { cancelTransfer(); });
        try {
            if (mComm->IsOpen()) {
                mReport.Message = QStringLiteral("Closing COM port...");
                report();
                if (!*alive) return;
                guarded("DoDisconnect_5", [&] { mComm->Close(); });
            }
        } catch (...) {
            guarded("DoDisconnect_6", [] { throw; });
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Port, modem, watcher and transfer events

void TRemProcess::yPortOpen() {
    guarded("yPortOpen", [&] {
        mReport.Message = QStringLiteral("Port opened.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(false, {rsConnect}, 1);
    });
}

void TRemProcess::yPortClose() {
    guarded("yPortClose", [&] {
        mReport.Message = QStringLiteral("Port closed.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(false, {rsConnect}, 2);
    });
}

void TRemProcess::yPortError(uint32_t errors) {
    guarded("yPortError", [&] {
        QString text = QStringLiteral("COM port error (") + QString::number(errors) + "): ";
        if (errors & 8) text += QStringLiteral("ERR_FRAME ");
        if (errors & 2) text += QStringLiteral("ERR_OVERRUN ");
        if (errors & 4) text += QStringLiteral("ERR_RXPARITY");
        mReport.Message = text;
        report();
    });
}

void TRemProcess::yModemOK() {
    guarded("yModemOK", [&] {
        const auto alive = mAlive;
        switch (mModem->Operation()) {
        case moInit:
            mReport.Message = QStringLiteral("Modem initialized.");
            report();
            if (!*alive) return;
            Execute(false, {rsConnect}, 3);
            break;
        case moReset:
            mReport.Message = QStringLiteral("Modem reset.");
            report();
            break;
        case moDial:
            mReport.Message = QStringLiteral("Dialing...");
            report();
            break;
        default:
            break;
        }
    });
}

void TRemProcess::yModemBusy() {
    guarded("yModemBusy", [&] {
        mReport.Message = QStringLiteral("Line is busy.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(true, {rsConnect}, 5);
    });
}

void TRemProcess::yModemCommandTimeout() {
    guarded("yModemCommandTimeout", [&] {
        mReport.Message = QStringLiteral("Command timeout.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        guarded("yModemCommandTimeout", [&] { mModem->Reset(); });
        ++mTimeoutCount;
        if (mTimeoutCount > 9) {
            mTimeoutCount = 0;
            Execute(true, {rsStop});
        } else {
            Execute(true, {rsIdle});
        }
    });
}

void TRemProcess::yModemConnect(const QString& connectString) {
    guarded("yModemConnect", [&] {
        mReport.Message = connectString;
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(false, {rsConnect}, 4);
    });
}

void TRemProcess::yModemError() {
    guarded("yModemError", [&] {
        mReport.Message = QStringLiteral("Modem error.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(true, {rsIdle});
    });
}

void TRemProcess::lineLost() {
    const auto alive = mAlive;
    Execute(true, {rsDisconnect});
    if (!*alive) return;
    Execute(true, {rsConnect}, 5);
}

void TRemProcess::yModemNoCarrier() {
    guarded("yModemNoCarrier", [&] {
        mReport.Message = QStringLiteral("No carrier.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        lineLost();
    });
}

void TRemProcess::yModemNoDialTone() {
    guarded("yModemNoDialTone", [&] {
        mReport.Message = QStringLiteral("No dialtone.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        lineLost();
    });
}

void TRemProcess::yModemVoice() {
    guarded("yModemVoice", [&] {
        mReport.Message = QStringLiteral("Voice line detected.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        Execute(true, {rsIdle});
    });
}

void TRemProcess::yModemDialTimeout() {
    guarded("yModemDialTimeout", [&] {
        mReport.Message = QStringLiteral("No answer.");
        const auto alive = mAlive;
        report();
        if (!*alive) return;
        lineLost();
    });
}

void TRemProcess::yXModFileInfo(const QString& name, qint64 size) {
    guarded("yXModFileInfo", [&] {
        if (mDownloading) {
            mPartPath = name;
        } else if (size != mUploadSize) {
            // The file changed between the announcement and the transfer: the attempt fails
            // and the next one announces the new length.
            mReport.Message = QStringLiteral("File error: ") + TransferErrorText(trIncompleteFile);
            report();
            mXModem->Cancel();
        }
    });
}

void TRemProcess::yXModError(int errorCode) {
    guarded("yXModError", [&] {
        if (mAbandoned) return;
        // The transfer recovers by itself (a block sent again after a NAK, the line drained
        // after noise) until its error limit; only its end decides the attempt.
        mReport.Message = QStringLiteral("Transfer error: ") + TransferErrorText(errorCode);
        report();
    });
}

void TRemProcess::yModemTransferEnd(int exitCode) {
    guarded("yModemTransferEnd", [&] {
        const auto alive = mAlive;
        int code = exitCode;
        if (mAbandoned) {
            // The end of a transfer given up earlier: only its leftovers are cleared away.
            mAbandoned = false;
            if (mDownloading) deletePartialDownload();
            mReport.Progress = 0;
            return;
        }
        if (code == 0 && mDownloading) {
            try {
                QFile file(mPartPath);
                if (!file.exists()) {
                    code = trIncompleteFile;
                } else if (mCheckLength) {
                    const qint64 announced = Get(mReport.Job, qkSize).trimmed().toLongLong();
                    if (file.size() > announced) {
                        if (!file.resize(announced))
                            throw std::runtime_error(file.errorString().toStdString());
                    } else if (file.size() < announced) {
                        code = trIncompleteFile;
                    }
                }
                if (code == 0) {
                    const QString final = finishDownload();
                    if (final.isEmpty())
                        code = trTimeout;
                    else if (!mCheckLength)
                        mDirListFile = final;
                }
            } catch (const std::exception& e) {
                error("yModemTransferEnd_1", QString::fromLocal8Bit(e.what()));
                code = trTimeout;
            }
        } else if (code == 0 && mTransferred < mUploadSize) {
            code = trIncompleteFile;
        }
        if (code != 0) {
            mReport.Message = QStringLiteral("File error: ") + TransferErrorText(code);
            report();
            if (!*alive) return;
            if (mDownloading) deletePartialDownload();
            mReport.Progress = 0;
            Execute(false, {rsFile, rsDir}, 0, reAttemptFailed);
        } else {
            mReport.Message = QStringLiteral("File done.");
            report();
            if (!*alive) return;
            mReport.Progress = 0;
            Execute(false, {rsFile, rsDir}, 0, mDownloading ? reDone : reUploadEnded);
        }
        if (*alive) mReport.Progress = 0;
    });
}

QString TRemProcess::finishDownload() {
    // Replaces an older file of that name in one step, once the new one is whole; one that
    // cannot be replaced stays, and the new file takes the next free name.
    QString final = mFinalPath;
    QString why;
    if (!received_file::Commit(mPartPath, final, &why)) {
        mReport.Message =
            QStringLiteral("Local file cannot be deleted. Incoming file will be renamed.");
        report();
        final = UniqueFileName(final);
        if (!received_file::Commit(mPartPath, final, &why)) {
            error("yModemTransferEnd_1", why);
            return QString();
        }
    }
    mPartPath.clear();
    return final;
}

void TRemProcess::yMsgMessage(int index) {
    guarded("yMsgMessage", [&] {
        if (index != ReplyEndIndex) {
            // A reply word: the first one of a frame counts; the engine acts on it once the
            // frame's checksum and closing CR have arrived too (or after a short wait, should
            // the CR be lost). Starting a transfer before then would hand it the frame's tail.
            if (mPendingReply >= 0) return;
            mPendingReply = index;
            mReplyTimer->SetEnabled(false);
            mReplyTimer->SetEnabled(true);
            return;
        }
        // A CR: the end of a reply's frame, or the CR that opens one.
        if (mPendingReply >= 0) yReplyComplete();
    });
}

void TRemProcess::forgetReply() {
    mPendingReply = -1;
    if (mReplyTimer) mReplyTimer->SetEnabled(false);
}

void TRemProcess::yReplyComplete() {
    guarded("yMsgMessage", [&] {
        const int index = mPendingReply;
        forgetReply();
        if (index < 0) return;
        mWatcher->SetActive(false);
        mWatcher->ResetMatching();
        if (transferRunning()) return;
        // A "YES" in these steps starts a transfer: whatever follows the reply (a prompt
        // server's start character, even in this very receive block) is kept for it.
        if (index == 0 && (mStep == rsFile || mStep == rsDir)) mXModem->Arm();
        switch (mStep) {
        case rsLogin:
            Execute(false, {rsLogin}, 0, index == 0 ? reLogonAccepted : reLogonFailed);
            break;
        case rsFile:
            if (index == 0)
                Execute(false, {rsFile}, 0, reFileYes);
            else if (index == 1)
                Execute(false, {rsFile}, 0, reFileNo);
            else if (mEvent == reUploadEnded)
                Execute(false, {rsFile}, 0, index == 2 ? reDone : reAttemptFailed);
            break;
        case rsDir:
            Execute(false, {rsDir}, 0, index == 0 ? reDirYes : reDirOther);
            break;
        default:
            break;
        }
    });
}
