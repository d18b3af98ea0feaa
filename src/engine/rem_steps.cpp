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
    mSession.Attempt = 0;
    mSession.JobIndex = 0;
    mReport.Progress = 0;
    mReport.FileText.clear();
    mReport.Total = 100;
}

// ---------------------------------------------------------------------------------------------
// Start, Idle, Stop

void TRemProcess::DoStart() {
    const TLife life = Life();
    if (mActivity == TRemActivity::Online) return;
    Execute(true, {TRemStep::Disconnect});
    if (!Alive(life)) return;
    mReport.Operation = QStringLiteral("Batch started.");
    resetJobReport();
    mResumeStep = TRemStep::None;
    mPeerPlain = false;
    aSetStatus(TRemActivity::Online);
    if (!Alive(life)) return;
    mIdleTimer.SetEnabled(false);
    mBatchTimer.SetEnabled(false);
    mBatchTimer.SetInterval(batchTimeoutMs());
    mBatchTimer.SetEnabled(true);
    Execute(true, {TRemStep::FirstFile});
}

void TRemProcess::DoIdle() {
    const TLife life = Life();
    if (mActivity == TRemActivity::Idle) return;
    if (mEvent == TRemEvent::BatchTimeout)
        logFileEvent(mSession.Job, false, QStringLiteral("File transfer error."), mSession.Attempt,
                     false);
    if (!Alive(life)) return;
    mReport.Operation = QStringLiteral("Waiting for files...");
    mReport.Message = QStringLiteral("Client service idle.");
    resetJobReport();
    mResumeStep = TRemStep::None;
    aSetStatus(TRemActivity::Idle);
    if (!Alive(life)) return;
    Execute(true, {TRemStep::Disconnect});
    if (!Alive(life)) return;
    mBatchTimer.SetEnabled(false);
    mTrialTimer.SetEnabled(false);
    mIdleTimer.SetEnabled(false);
    mIdleTimer.SetInterval(batchIdleMs());
    mIdleTimer.SetEnabled(true);
}

void TRemProcess::DoStop() {
    const TLife life = Life();
    if (mActivity == TRemActivity::Stopped) return;
    if (transferRunning())
        logFileEvent(mSession.Job, false, QStringLiteral("Service stopped."), mSession.Attempt,
                     false);
    if (!Alive(life)) return;
    Execute(true, {TRemStep::Disconnect});
    if (!Alive(life)) return;
    mIdleTimer.SetEnabled(false);
    mBatchTimer.SetEnabled(false);
    mTrialTimer.SetEnabled(false);
    mTimeoutCount = 0;
    mReport.Operation = QStringLiteral("Client service stopped.");
    mReport.Message = mReport.Operation;
    resetJobReport();
    mResumeStep = TRemStep::None;
    // Fetching jobs live only for the batch that listed them; from the end, so that none is
    // skipped when several follow each other.
    if (mQueue)
        for (int i = mQueue->Count() - 1; i >= 0; --i)
            if (mQueue->GetSetting(i, qkMethod) == QLatin1String("RECV"))
                mQueue->DeleteItem(i, true);
    if (mConsole) mConsole->UpdateQueueList();
    if (!Alive(life)) return;
    aSetStatus(TRemActivity::Stopped);
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
    mSession.Attempt = 0;
    if (found < 0) {
        Execute(true, {TRemStep::Idle});
        return;
    }
    mSession.JobIndex = found;
    if (!aReport(QStringLiteral("Attempting connection by \"") + mDevice.Get(dvkDevName) + " " +
                 Get(mSession.Job, qkCommParam) + "\""))
        return;
    Execute(true, {TRemStep::Connect});
}

void TRemProcess::DoNextFile() {
    const TLife life = Life();
    mReport.Progress = 0;
    mReport.Operation = QStringLiteral("Seek");
    if (!aReport(QStringLiteral("Looking for files..."))) return;
    // Another job that shares the connection and the log-on of the job in hand.
    const TQueueItem hand = mSession.Job;
    const int found = seekJob(qMax(0, mSession.JobIndex), [&](int i) {
        for (TQueueKey key : {qkCommGUID, qkCommParam, qkUser, qkPassw})
            if (mQueue->GetSetting(i, key) != Get(hand, key)) return false;
        return mQueue->GetSetting(i, qkNo) != Get(hand, qkNo);
    });
    if (!Alive(life)) return;
    mSession.Attempt = 0;
    if (found >= 0) {
        mSession.JobIndex = found;
        Execute(true, {TRemStep::File}, {}, TRemEvent::FileBegin);
        return;
    }
    if (!aReport(QStringLiteral("No more files."))) return;
    Execute(true, {TRemStep::Dir}, {}, TRemEvent::DirRequest);
}

// ---------------------------------------------------------------------------------------------
// Connect

void TRemProcess::DoConnect() {
    mReport.Operation = QStringLiteral("Connect");
    switch (mSubStep) {
    case TRemConnectSub::OpenPort:
        connectOpenPort();
        break;
    case TRemConnectSub::PortOpened:
        connectPortOpened();
        break;
    case TRemConnectSub::ModemReady:
        connectModemReady();
        break;
    case TRemConnectSub::Connected:
        Execute(true, {TRemStep::Login}, {}, TRemEvent::LogonSend);
        break;
    default: // TRemConnectSub::PortClosed, TRemConnectSub::CallFailed
        Execute(true, {TRemStep::Idle});
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
    if (!opened && Alive(life) && mActivity == TRemActivity::Online && mStep == TRemStep::Connect &&
        !mPort->IsOpen())
        Execute(true, {TRemStep::Idle});
}

void TRemProcess::connectPortOpened() {
    if (IsDirectDevice()) {
        Execute(true, {TRemStep::Connect}, TRemConnectSub::Connected);
    } else if (IsModemDevice()) {
        SetModemInitStrings(*mModem, mSession.Modem, mExtraCommands, RoleClient);
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
    if (mActivity != TRemActivity::Online) return;
    if (mModem->Operation() == moDial) return;
    const QString number = mSession.Modem.Get(mdkDialPrefixNo) + Get(mSession.Job, qkCommParam);
    if (!aReport(QStringLiteral("Dialing...") + number)) return;
    mModem->Dial(number);
}

// ---------------------------------------------------------------------------------------------
// Login

void TRemProcess::DoLogin() {
    if (mSubStep != TRemConnectSub::Connected) return;
    mReport.Operation = QStringLiteral("Login");
    switch (mEvent) {
    case TRemEvent::LogonSend:
        mAgreed = {};
        if (IsLineDevice())
            aTryCommand(TLinkVerb::Logon,
                        LogonCommand(Get(mSession.Job, qkUser),
                                     UnscramblePassword(Get(mSession.Job, qkPassw))));
        break;
    case TRemEvent::LogonAccepted: {
        mSession.Attempt = 0;
        if (!WaitDrained(scaledDelay(1, 1, 1000))) return;
        if (mActivity != TRemActivity::Online) return;
        if (!LocalFeatures().Empty() && !mPeerPlain) {
            askFeatures();
            return;
        }
        afterLogon();
        break;
    }
    case TRemEvent::LogonFailed:
        if (!aReport(QStringLiteral("Logon failed!"))) return;
        Execute(true, {TRemStep::Idle});
        break;
    default:
        break;
    }
}

void TRemProcess::askFeatures() {
    const TLinkFeatures wanted = LocalFeatures();
    aAsk(TLinkVerb::Features, ExtensionCommand(TLinkVerb::Features),
         [this, wanted](const QStringList* offer) {
             if (!offer) {
                 // A server of the designed exchange ignores the question: the batch goes on
                 // as designed, and this server is not asked again.
                 mPeerPlain = true;
                 afterLogon();
                 return;
             }
             const TLinkFeatures use = ParseLinkFeatures(*offer) * wanted;
             aAsk(TLinkVerb::Use,
                  ExtensionCommand(TLinkVerb::Use,
                                   LinkFeatureList(use).split(' ', Qt::SkipEmptyParts)),
                  [this, use](const QStringList* agreed) {
                      // Nothing is used unless the server said it agreed.
                      mAgreed = agreed ? ParseLinkFeatures(*agreed) * use : TLinkFeatures{};
                      if (!aReport(QStringLiteral("Features agreed: ") +
                                   LinkFeatureList(mAgreed, true)))
                          return;
                      afterLogon();
                  });
         });
}

void TRemProcess::afterLogon() {
    // The batch may have moved on while the server was asked.
    if (mActivity != TRemActivity::Online || mStep != TRemStep::Login) return;
    // Logged on again after a lost line: the batch goes on where the line left it.
    const TRemStep resume = std::exchange(mResumeStep, TRemStep::None);
    if (resume == TRemStep::NextFile) {
        Execute(true, {TRemStep::NextFile});
    } else if (resume == TRemStep::Dir) {
        Execute(true, {TRemStep::Dir}, {}, TRemEvent::DirRequest);
    } else {
        if (resume == TRemStep::File) mSession.Attempt = mResumeAttempt;
        Execute(true, {TRemStep::File}, {}, TRemEvent::FileBegin);
    }
}

// ---------------------------------------------------------------------------------------------
// Disconnect

void TRemProcess::DoDisconnect() {
    StopDeviceWatch();
    mSession.Attempt = 0;
    mSubStep = TRemConnectSub::OpenPort;
    mEvent = TRemEvent::None;
    if (mActivity != TRemActivity::Idle) mReport.Operation = QStringLiteral("Disconnect");
    cancelAsk();
    mAgreed = {};
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
