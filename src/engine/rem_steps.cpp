// The client engine's steps around the transfers: starting a batch, going idle and stopping,
// seeking the jobs of a batch, connecting (port, modem, dialling), logging on, disconnecting.
// The File and Dir steps are in rem_file.cpp.
#include "engine/rem_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/link_protocol.h"
#include "platform/paths.h"
#include "serial/wait_message.h"

#include <utility>

namespace {
// The next job to try at or after `index`: steps past a job only when it is still there, since a
// job that failed to load may have been removed from under the index.
int nextIndexAfterFailure(TQueueList& queue, int index, const QString& jobNo) {
    if (index < queue.Count() && queue.GetSetting(index, qkNo) != jobNo) return index;
    return index + 1;
}
} // namespace

void TRemProcess::resetJobReport() {
    mReport.Attempt = 0;
    mReport.JobIndex = 0;
    mReport.Progress = 0;
    mReport.FileText.clear();
    mReport.Total = 100;
}

// ---------------------------------------------------------------------------------------------
// Start, Idle, Stop

void TRemProcess::DoStart() {
    const TLife life = Life();
    if (mActivity == raOnline) return;
    Execute(true, {rsDisconnect});
    if (!Alive(life)) return;
    mReport.Operation = QStringLiteral("Batch started.");
    resetJobReport();
    mResumeStep = rsNone;
    aSetStatus(true, raOnline);
    if (!Alive(life)) return;
    mIdleTimer.SetEnabled(false);
    mBatchTimer.SetEnabled(false);
    mBatchTimer.SetInterval(batchTimeoutMs());
    mBatchTimer.SetEnabled(true);
    Execute(true, {rsFirstFile});
}

void TRemProcess::DoIdle() {
    const TLife life = Life();
    if (mActivity == raIdle) return;
    if (mEvent == reBatchTimeout)
        logFileEvent(mReport.Job, false, QStringLiteral("File transfer error."), mReport.Attempt,
                     false);
    if (!Alive(life)) return;
    mReport.Operation = QStringLiteral("Waiting for files...");
    mReport.Message = QStringLiteral("Client service idle.");
    resetJobReport();
    mResumeStep = rsNone;
    aSetStatus(true, raIdle);
    if (!Alive(life)) return;
    Execute(true, {rsDisconnect});
    if (!Alive(life)) return;
    mBatchTimer.SetEnabled(false);
    mTrialTimer.SetEnabled(false);
    mIdleTimer.SetEnabled(false);
    mIdleTimer.SetInterval(batchIdleMs());
    mIdleTimer.SetEnabled(true);
}

void TRemProcess::DoStop() {
    const TLife life = Life();
    if (mActivity == raStopped) return;
    if (transferRunning())
        logFileEvent(mReport.Job, false, QStringLiteral("Service stopped."), mReport.Attempt,
                     false);
    if (!Alive(life)) return;
    Execute(true, {rsDisconnect});
    if (!Alive(life)) return;
    mIdleTimer.SetEnabled(false);
    mBatchTimer.SetEnabled(false);
    mTrialTimer.SetEnabled(false);
    mTimeoutCount = 0;
    mReport.Operation = QStringLiteral("Client service stopped.");
    mReport.Message = mReport.Operation;
    resetJobReport();
    mResumeStep = rsNone;
    // Fetching jobs live only for the batch that listed them; from the end, so that none is
    // skipped when several follow each other.
    if (mQueue)
        for (int i = mQueue->Count() - 1; i >= 0; --i)
            if (mQueue->GetSetting(i, qkMethod) == QLatin1String("RECV"))
                mQueue->DeleteItem(i, true);
    if (mConsole) mConsole->UpdateQueueList();
    if (!Alive(life)) return;
    aSetStatus(true, raStopped);
}

// ---------------------------------------------------------------------------------------------
// Seeking the jobs of a batch

int TRemProcess::seekJob(int from, const std::function<bool(int)>& wanted) {
    const TLife life = Life();
    const int tries = mQueue ? mQueue->Count() : 0;
    for (int i = from, n = 0; mQueue && i < mQueue->Count() && n < tries; ++n) {
        const QString no = mQueue->GetSetting(i, qkNo);
        if (!wanted(i)) {
            ++i;
            continue;
        }
        if (aLoadQueue(i)) return i;
        if (!Alive(life)) return -1;
        i = nextIndexAfterFailure(*mQueue, i, no);
    }
    return -1;
}

void TRemProcess::DoFirstFile() {
    const TLife life = Life();
    mReport.Operation = QStringLiteral("Seeking enqueued files...");
    mReport.Message.clear();
    if (!report()) return;
    // The first job queued for this device opens the batch's connection.
    const int found = seekJob(
        0, [this](int i) { return mQueue->GetSetting(i, qkCommGUID) == mDevice.Get(dvkDevGUID); });
    if (!Alive(life)) return;
    mReport.Attempt = 0;
    if (found < 0) {
        Execute(true, {rsIdle});
        return;
    }
    mReport.JobIndex = found;
    if (!aReport(QStringLiteral("Attempting connection by \"") + mDevice.Get(dvkDevName) + " " +
                 Get(mReport.Job, qkCommParam) + "\""))
        return;
    Execute(true, {rsConnect});
}

void TRemProcess::DoNextFile() {
    const TLife life = Life();
    mReport.Progress = 0;
    mReport.Operation = QStringLiteral("Seek");
    if (!aReport(QStringLiteral("Looking for files..."))) return;
    // Another job that shares the connection and the log-on of the job in hand.
    const TQueueItem hand = mReport.Job;
    const int found = seekJob(qMax(0, mReport.JobIndex), [&](int i) {
        for (TQueueKey key : {qkCommGUID, qkCommParam, qkUser, qkPassw})
            if (mQueue->GetSetting(i, key) != Get(hand, key)) return false;
        return mQueue->GetSetting(i, qkNo) != Get(hand, qkNo);
    });
    if (!Alive(life)) return;
    mReport.Attempt = 0;
    if (found >= 0) {
        mReport.JobIndex = found;
        Execute(true, {rsFile}, NoSubStep, reFileBegin);
        return;
    }
    if (!aReport(QStringLiteral("No more files."))) return;
    Execute(true, {rsDir}, NoSubStep, reDirRequest);
}

// ---------------------------------------------------------------------------------------------
// Connect

void TRemProcess::DoConnect() {
    mReport.Operation = QStringLiteral("Connect");
    switch (mSubStep) {
    case rcOpenPort:
        connectOpenPort();
        break;
    case rcPortOpened:
        connectPortOpened();
        break;
    case rcModemReady:
        connectModemReady();
        break;
    case rcConnected:
        Execute(true, {rsLogin}, NoSubStep, reLogonSend);
        break;
    default: // rcPortClosed, rcCallFailed
        Execute(true, {rsIdle});
        break;
    }
}

void TRemProcess::connectOpenPort() {
    const TLife life = Life();
    const QStringList fields = mDevice.Get(dvkDevParam).split(',');
    const QString port = fields.value(0).trimmed();
    // A line setting that cannot be read is reported; the port opens with what it has.
    if (IsDirectDevice()) {
        Guard("DoConnect - Assign UserBaudrate", [&] {
            const int rate = ToIntOrThrow(fields.value(1).trimmed());
            mPort->SetBaudrate(brUser);
            mPort->SetUserBaudrate(rate);
        });
    } else if (IsModemDevice()) {
        SetModemFlowControl();
    }
    mReport.Message = QStringLiteral("Opening port ") + port + "...";
    Guard("DoConnect - Assign Port", [&] { mPort->SetPortNum(ToIntOrThrow(port.mid(3))); });
    if (!report()) return;
    // A port that cannot be opened ends the batch now rather than at its time-out.
    const bool opened = OpenPort("DoConnect");
    if (!opened && Alive(life) && mActivity == raOnline && mStep == rsConnect && !mPort->IsOpen())
        Execute(true, {rsIdle});
}

void TRemProcess::connectPortOpened() {
    if (IsDirectDevice()) {
        Execute(true, {rsConnect}, rcConnected);
    } else if (IsModemDevice()) {
        SetModemInitStrings(*mModem, mReport.Modem, mExtraCommands, RoleClient);
        if (!aReport(QStringLiteral("Initializing modem...\r\n") + mModem->ConfigText())) return;
        mModem->SetActive(true);
        mModem->Init();
    }
}

void TRemProcess::connectModemReady() {
    if (mExtraCommands.isEmpty()) {
        dial();
        return;
    }
    const QString command = TakeExtraCommand();
    if (!aReport(command)) return;
    mModem->SendCommand(command);
}

void TRemProcess::dial() {
    if (!aReport(QStringLiteral("Preparing to dial...")) || !WaitDrained(1000)) return;
    if (mActivity != raOnline) return;
    if (mModem->Operation() == moDial) return;
    const QString number = mReport.Modem.Get(mdkDialPrefixNo) + Get(mReport.Job, qkCommParam);
    if (!aReport(QStringLiteral("Dialing...") + number)) return;
    mModem->Dial(number);
}

// ---------------------------------------------------------------------------------------------
// Login

void TRemProcess::DoLogin() {
    if (mSubStep != rcConnected) return;
    mReport.Operation = QStringLiteral("Login");
    switch (mEvent) {
    case reLogonSend:
        if (IsLineDevice())
            aTryCommand(QStringLiteral("Logging on to server..."),
                        LogonCommand(Get(mReport.Job, qkUser),
                                     UnscramblePassword(Get(mReport.Job, qkPassw))),
                        reLogonAccepted, rsLogin, reLogonFailed, rsNone, reNone);
        break;
    case reLogonAccepted: {
        mReport.Attempt = 0;
        if (!WaitDrained(scaledDelay(1, 1, 1000))) return;
        if (mActivity != raOnline) return;
        // Logged on again after a lost line: the batch goes on where the line left it.
        const uint8_t resume = std::exchange(mResumeStep, rsNone);
        if (resume == rsNextFile) {
            Execute(true, {rsNextFile});
        } else if (resume == rsDir) {
            Execute(true, {rsDir}, NoSubStep, reDirRequest);
        } else {
            if (resume == rsFile) mReport.Attempt = mResumeAttempt;
            Execute(true, {rsFile}, NoSubStep, reFileBegin);
        }
        break;
    }
    case reLogonFailed:
        if (!aReport(QStringLiteral("Logon failed!"))) return;
        Execute(true, {rsIdle});
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Disconnect

void TRemProcess::DoDisconnect() {
    StopDeviceWatch();
    mReport.Attempt = 0;
    mSubStep = NoSubStep;
    mEvent = reNone;
    if (mActivity != raIdle) mReport.Operation = QStringLiteral("Disconnect");
    if (!IsLineDevice()) return;
    forgetReply();
    mWatcher->SetActive(false);
    // Each part runs whatever the one before it raised.
    if (mModem->Active()) {
        if (!aReport(QStringLiteral("Disconnecting..."))) return;
        Guard("DoDisconnect_1", [&] { cancelTransfer(); });
        Guard("DoDisconnect_2", [&] {
            if (mModem->Operation() != moNone) mModem->CancelCommand();
        });
        Guard("DoDisconnect_3", [&] { mModem->SetActive(false); });
    }
    // A direct cable has no modem to hang up, but its transfer must end as well.
    Guard("DoDisconnect_1", [&] { cancelTransfer(); });
    if (!mPort->IsOpen()) return;
    if (!aReport(QStringLiteral("Closing COM port..."))) return;
    Guard("DoDisconnect_5", [&] { mPort->Close(); });
}
