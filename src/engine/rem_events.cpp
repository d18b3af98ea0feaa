// The client engine's event handlers: its timers (the batch's idle interval and time-out, the
// command trial, the wait for a reply's end), the port, the modem controller, the reply watcher
// and the transfer. Each runs under the engine's Guard (see CreateComponents, ConfigureModem,
// HookTimer and the constructor).
#include "engine/rem_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/link_protocol.h"
#include "engine/rem_internal.h"
#include "serial/wait_message.h"
#include "serial/xmodem_codes.h"

#include <QFile>
#include <stdexcept>

using namespace rem_internal;

// ---------------------------------------------------------------------------------------------
// Timers

void TRemProcess::aTryCommandTimer() {
    mTrialTimer.SetEnabled(false);
    mTrialTimer.SetInterval(RemTiming().TrialRepeatMs);
    --mTrial.RetriesLeft;
    if (unsigned(mEvent) >= unsigned(mTrial.AnsweredFrom)) {
        if (mTrial.SuccessStep != TRemStep::None)
            Execute(false, {mTrial.SuccessStep}, {}, mTrial.SuccessEvent);
        return;
    }
    if (mTrial.RetriesLeft < 0) {
        // A command that went unanswered is no sign of life: the step it re-enters must not
        // restart the batch time-out, or a server that never answers "DIR" would hold the line
        // for ever.
        if (mTrial.FailStep == TRemStep::None) return;
        ExecuteQuietly({mTrial.FailStep}, mTrial.FailEvent);
        return;
    }
    if (!aReport(mTrial.StatusText)) return;
    aSendMessage(mTrial.Command);
    mTrialTimer.SetEnabled(true);
}

void TRemProcess::tmBatchIdleTimer() {
    if (mQueue && mQueue->Count() > 0) Execute(true, {TRemStep::Start});
}

void TRemProcess::tmBatchTmoTimer() {
    if (!aReport(QStringLiteral("Batch timeout!"))) return;
    // Only a job's own transfer step holds a job to report; in the Dir step the job in hand is
    // one that has already ended.
    if (mActivity == TRemActivity::Online && mStep == TRemStep::File)
        Execute(true, {TRemStep::Idle}, {}, TRemEvent::BatchTimeout);
    else
        Execute(true, {TRemStep::Idle});
}

// ---------------------------------------------------------------------------------------------
// The port

void TRemProcess::yPortOpen() {
    if (!aReport(QStringLiteral("Port opened."))) return;
    Execute(false, {TRemStep::Connect}, TRemConnectSub::PortOpened);
}

void TRemProcess::yPortClose() {
    if (!aReport(QStringLiteral("Port closed."))) return;
    Execute(false, {TRemStep::Connect}, TRemConnectSub::PortClosed);
}

void TRemProcess::yPortError(uint32_t errors) {
    aReport(PortErrorText(errors));
}

void TRemProcess::yPortLineLost(int error) {
    const TLife life = Life();
    if (!aReport(LineLostText(error))) return;
    if (mActivity != TRemActivity::Online) {
        Execute(true, {TRemStep::Disconnect});
        return;
    }
    noteLostWork();
    if (!Alive(life)) return;
    mTrialTimer.SetEnabled(false);
    Execute(true, {TRemStep::Disconnect});
    if (!Alive(life) || mActivity != TRemActivity::Online) return;
    // Connected again as soon as the device is back; the batch time-out still bounds the wait.
    mStep = TRemStep::Connect;
    mSubStep = TRemConnectSub::OpenPort;
    WatchForDevice([this] {
        if (mActivity == TRemActivity::Online && mStep == TRemStep::Connect)
            Execute(true, {TRemStep::Connect}, TRemConnectSub::OpenPort);
    });
}

void TRemProcess::noteLostWork() {
    const TLife life = Life();
    if (mStep == TRemStep::Dir) {
        mResumeStep = TRemStep::Dir;
        return;
    }
    if (mStep != TRemStep::File)
        return; // connecting or logging on: the batch starts its course again
    const int attempt = mSession.Attempt;
    switch (mEvent) {
    case TRemEvent::FileBegin:
    case TRemEvent::FileYes:
    case TRemEvent::Progress:
    case TRemEvent::UploadEnded: {
        // The attempt under way fails here, as if its transfer had.
        cancelTransfer();
        const bool last = attempt >= retries();
        logFileEvent(mSession.Job, last && mSettings.GetBool(CLI_DropFailed),
                     QStringLiteral("Transfer failed."), attempt, false);
        if (!Alive(life)) return;
        mResumeStep = last ? TRemStep::NextFile : TRemStep::File;
        mResumeAttempt = attempt;
        break;
    }
    case TRemEvent::AttemptFailed: // logged already; its retry follows
        mResumeStep = TRemStep::File;
        mResumeAttempt = attempt;
        break;
    default: // done or denied, and logged: the batch goes on with the next job
        mResumeStep = TRemStep::NextFile;
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// The modem

void TRemProcess::ConfigureModem(TVaModem& modem) {
    modem.SetDialTimeout(60000);
    modem.SetAnswerTimeout(60000);
    modem.SetRingDetect(rdNone);
    modem.OnNoDialTone = [this](TVaCustomModem*) {
        Guard("yModemNoDialTone", [&] { yModemNoDialTone(); });
    };
    modem.OnDialTimeout = [this](TVaCustomModem*) {
        Guard("yModemDialTimeout", [&] { yModemDialTimeout(); });
    };
}

void TRemProcess::yModemOK() {
    switch (mModem->Operation()) {
    case moInit:
        if (!aReport(QStringLiteral("Modem initialized."))) return;
        Execute(false, {TRemStep::Connect}, TRemConnectSub::ModemReady);
        break;
    case moReset:
        aReport(QStringLiteral("Modem reset."));
        break;
    case moDial:
        aReport(QStringLiteral("Dialing..."));
        break;
    default:
        break;
    }
}

void TRemProcess::yModemBusy() {
    if (!aReport(QStringLiteral("Line is busy."))) return;
    Execute(true, {TRemStep::Connect}, TRemConnectSub::CallFailed);
}

void TRemProcess::yModemCommandTimeout() {
    if (!aReport(QStringLiteral("Command timeout."))) return;
    // A modem that cannot be reset is reported; the batch ends all the same.
    Guard("yModemCommandTimeout", [&] { mModem->Reset(); });
    ++mTimeoutCount;
    if (mTimeoutCount > 9) {
        mTimeoutCount = 0;
        Execute(true, {TRemStep::Stop});
    } else {
        Execute(true, {TRemStep::Idle});
    }
}

void TRemProcess::yModemConnect(const QString& connectString) {
    if (!aReport(connectString)) return;
    Execute(false, {TRemStep::Connect}, TRemConnectSub::Connected);
}

void TRemProcess::yModemError() {
    if (!aReport(QStringLiteral("Modem error."))) return;
    Execute(true, {TRemStep::Idle});
}

void TRemProcess::lineLost() {
    const TLife life = Life();
    Execute(true, {TRemStep::Disconnect});
    if (!Alive(life)) return;
    Execute(true, {TRemStep::Connect}, TRemConnectSub::CallFailed);
}

void TRemProcess::yModemNoCarrier() {
    if (aReport(QStringLiteral("No carrier."))) lineLost();
}

void TRemProcess::yModemNoDialTone() {
    if (aReport(QStringLiteral("No dialtone."))) lineLost();
}

void TRemProcess::yModemVoice() {
    if (!aReport(QStringLiteral("Voice line detected."))) return;
    Execute(true, {TRemStep::Idle});
}

void TRemProcess::yModemDialTimeout() {
    if (aReport(QStringLiteral("No answer."))) lineLost();
}

// ---------------------------------------------------------------------------------------------
// Replies

void TRemProcess::yMsgMessage(int index) {
    if (index != rpFrameEnd) {
        // A reply word: the first one of a frame counts; the engine acts on it once the frame's
        // checksum and closing CR have arrived too (or after a short wait, should the CR be
        // lost). Starting a transfer before then would hand it the frame's tail.
        if (mPendingReply != rpNone) return;
        mPendingReply = index;
        mReplyTimer.SetEnabled(false);
        mReplyTimer.SetEnabled(true);
        return;
    }
    // A CR: the end of a reply's frame, or the CR that opens one.
    if (mPendingReply != rpNone) yReplyComplete();
}

void TRemProcess::forgetReply() {
    mPendingReply = rpNone;
    mReplyTimer.SetEnabled(false);
}

void TRemProcess::yReplyComplete() {
    const int index = mPendingReply;
    forgetReply();
    if (index < 0 || index >= LinkReplyCount) return;
    mWatcher->SetActive(false);
    mWatcher->ResetMatching();
    if (transferRunning()) return;
    // Read by the row of the command in hand, in the step it belongs to. A confirmation counts
    // only while the result of an upload is awaited.
    const TLinkCommand& command = LinkCommand(mTrial.Verb);
    const TRemStep step = ClientStep(command.step);
    const TReplyMeaning meaning = command.replies[index];
    if (step != mStep) return;
    if ((meaning == TReplyMeaning::Confirmed || meaning == TReplyMeaning::Failed) &&
        mEvent != TRemEvent::UploadEnded)
        return;
    const TRemEvent event = ClientEvent(command.step, meaning);
    if (event == TRemEvent::None) return;
    // A reply that lets a transfer start: whatever follows it (a prompt server's start
    // character, even in this very receive block) is kept for the transfer.
    if (meaning == TReplyMeaning::Accepted && (step == TRemStep::File || step == TRemStep::Dir))
        mXModem->Arm();
    Execute(false, {step}, {}, event);
}

void TRemProcess::yAnswerRxBuf(const char* data, int count) {
    if (!mAsk.Active || transferRunning() || mXModem->Armed()) return;
    for (const TReceivedLine& line : mAnswerLines.Feed(QByteArray(data, count))) {
        QStringList fields;
        if (!line.checksumOk ||
            !ReadExtensionReply(mAsk.Verb, DecodeLineText(line.bytes.chopped(2)), &fields))
            continue;
        // The answer may start the next step at once; what else this block held is not its.
        finishAsk(&fields);
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// The transfer

void TRemProcess::yTransferFileInfo(const QString& name, qint64 size) {
    if (mDownloading) {
        mPartPath = name;
    } else if (size != mUploadSize) {
        // The file changed between the announcement and the transfer: the attempt fails and the
        // next one announces the new length.
        if (!aReport(QStringLiteral("File error: ") + TransferErrorText(trIncompleteFile))) return;
        mXModem->Cancel();
    }
}

void TRemProcess::yTransferError(int code) {
    if (mAbandoned) return;
    // The transfer recovers by itself (a block sent again after a NAK, the line drained after
    // noise) until its error limit; only its end decides the attempt.
    aReport(QStringLiteral("Transfer error: ") + TransferErrorText(code));
}

void TRemProcess::yTransferEnd(int exitCode) {
    if (mAbandoned) {
        // The end of a transfer given up earlier: only its leftovers are cleared away.
        mAbandoned = false;
        if (mDownloading) deletePartialDownload();
        mReport.Progress = 0;
        return;
    }
    const TLife life = Life();
    const int code = transferOutcome(exitCode);
    if (code != 0) {
        if (!aReport(QStringLiteral("File error: ") + TransferErrorText(code))) return;
        if (mDownloading) deletePartialDownload();
        mReport.Progress = 0;
        Execute(false, {TRemStep::File, TRemStep::Dir}, {}, TRemEvent::AttemptFailed);
    } else {
        if (!aReport(QStringLiteral("File done."))) return;
        mReport.Progress = 0;
        Execute(false, {TRemStep::File, TRemStep::Dir}, {},
                mDownloading ? TRemEvent::Done : TRemEvent::UploadEnded);
    }
    if (Alive(life)) mReport.Progress = 0;
}

int TRemProcess::transferOutcome(int exitCode) {
    if (exitCode != 0) return exitCode;
    if (!mDownloading) return mTransferred < mUploadSize ? trIncompleteFile : 0;
    // A download that cannot be checked or moved into place fails as a timed-out one does.
    int code = trTimeout;
    Guard("yModemTransferEnd_1", [&] { code = checkDownload(); });
    return code;
}

int TRemProcess::checkDownload() {
    QFile file(mPartPath);
    if (!file.exists()) return trIncompleteFile;
    // A download is cut to the announced length, and fails when it is shorter.
    if (mCheckLength) {
        const qint64 announced = Get(mSession.Job, qkSize).trimmed().toLongLong();
        if (file.size() > announced) {
            if (!file.resize(announced)) throw std::runtime_error(file.errorString().toStdString());
        } else if (file.size() < announced) {
            return trIncompleteFile;
        }
    }
    const QString final = finishDownload();
    if (final.isEmpty()) return trTimeout;
    if (!mCheckLength) mDirListFile = final;
    return 0;
}
