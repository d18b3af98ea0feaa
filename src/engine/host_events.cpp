// The server engine's event handlers: its two timers, the port (opened, closed, line errors,
// received command lines), the modem controller (replies, rings) and the transfer. Each runs
// under the engine's Guard (see CreateComponents, HookTimer and aListen).
#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/status.h"
#include "engine/host_internal.h"
#include "platform/received_file.h"
#include "serial/xmodem_codes.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <stdexcept>
#include <utility>

using namespace host_internal;

// ---------------------------------------------------------------------------------------------
// Timers

void THostProcess::tmWatchDogTimer() {
    if (mActivity != THstActivity::Stopped) return;
    aReport(QStringLiteral("Session wake-up."));
    Release();
    Execute(true, {THstStep::CallWait});
}

void THostProcess::tmBatchTmoTimer() {
    mSessionTimer.SetEnabled(false);
    if (mActivity != THstActivity::Online) return;
    aReport(QStringLiteral("Session timeout!"));
    Execute(true, {THstStep::CallWait}, {}, THstEvent::SessionTimeout);
}

// ---------------------------------------------------------------------------------------------
// The port

void THostProcess::yPortOpen() {
    aReport(QStringLiteral("Port opened."));
    Execute(false, {THstStep::Connect}, THstConnectSub::PortOpened);
}

void THostProcess::yPortClose() {
    aReport(QStringLiteral("Port closed."));
    Execute(true, {THstStep::Connect}, THstConnectSub::PortClosed);
}

void THostProcess::yPortError(uint32_t errors) {
    aReport(PortErrorText(errors));
    Tolerate([&] {
        mPort->PurgeReadWrite();
        if (mXModem->InProgress()) mXModem->Cancel();
    });
}

void THostProcess::yPortLineLost(int error) {
    aReport(LineLostText(error));
    // The session and its transfer end at once; the device is prepared again when it is back.
    mAwaitDevice = true;
    Execute(true, {THstStep::CallWait}, {}, THstEvent::LineLost);
}

void THostProcess::yPortRxBuf(const char* data, int count) {
    // The outcome of a received file is still being made safe: the caller's next line waits.
    if (mCommitting) {
        mHeldInput.append(data, count);
        return;
    }
    // Bytes that arrive during a transfer, or after the reply that starts one, belong to it.
    if (mXModem->InProgress() || mXModem->Armed()) return;
    const QList<TReceivedLine> completed = mAssembler.Feed(QByteArray(data, count));
    if (completed.isEmpty()) return;
    for (const TReceivedLine& received : completed)
        mLines += received.bytes;
    // Only the last line completed in a block is examined, and only once. The checksum covers
    // the bytes as received; the text is read from them after that.
    mLastLine = completed.last().bytes;
    if (!completed.last().checksumOk) return;
    const QString line = DecodeLineText(mLastLine);
    if (const TLinkCommand* command = FindLinkCommand(line)) onCommand(*command, line);
}

namespace {
// The server's step for a command's step.
THstStep hostStep(TLinkStep step) {
    switch (step) {
    case TLinkStep::Login:
        return THstStep::Login;
    case TLinkStep::File:
        return THstStep::File;
    case TLinkStep::Dir:
        return THstStep::Dir;
    case TLinkStep::End:
        break;
    }
    return THstStep::CallWait;
}
} // namespace

void THostProcess::onCommand(const TLinkCommand& command, const QString& line) {
    const TLife life = Life();
    const TLinkRequest request = command.parse(line);
    const THstStep step = hostStep(command.step);
    // Commands that need a log-on are taken apart and shown before it too, but acted on only
    // in a session's steps.
    const bool act = !command.afterLogon || mStep == THstStep::File || mStep == THstStep::Dir;
    switch (command.verb) {
    case TLinkVerb::Logon:
        // A new log-on starts without extensions, until they are agreed again.
        mSession.Features = {};
        // The console is shown the caller's name with the command.
        Put(mSession.Job, qkUser, request.user);
        Put(mSession.Job, qkPassw, request.password);
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        Execute(true, {step}, {},
                request.password.isEmpty() ? THstEvent::LogonDenied : THstEvent::Logon);
        break;
    case TLinkVerb::Get:
    case TLinkVerb::ChkCrc:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        onGet(request, command.verb == TLinkVerb::ChkCrc, act);
        break;
    case TLinkVerb::Put:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        onPut(request, act);
        break;
    case TLinkVerb::Dir:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        onDir(request, act);
        break;
    case TLinkVerb::Result:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        Execute(false, {step}, {}, THstEvent::Result);
        break;
    case TLinkVerb::Logoff:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life)) return;
        Execute(true, {step});
        break;
    case TLinkVerb::Features:
    case TLinkVerb::Use:
        aReport(QStringLiteral("?") + request.shown);
        if (!Alive(life) || !act) return;
        onFeatures(command.verb, request);
        break;
    }
}

void THostProcess::onFeatures(TLinkVerb verb, const TLinkRequest& request) {
    const TLife life = Life();
    const TLinkFeatures offered = LocalFeatures();
    // Asked only: a client that never asks never sees an answer.
    if (verb == TLinkVerb::Features) {
        aSendMessage(ExtensionReply(verb, LinkFeatureList(offered).split(' ', Qt::SkipEmptyParts)));
    } else {
        mSession.Features = ParseLinkFeatures(request.words) * offered;
        aSendMessage(ExtensionReply(
            verb, LinkFeatureList(mSession.Features).split(' ', Qt::SkipEmptyParts)));
        if (!Alive(life)) return;
        aReport(QStringLiteral("Features agreed: ") + LinkFeatureList(mSession.Features, true));
    }
    if (Alive(life)) aResetBatchTimeout();
}

void THostProcess::onGet(const TLinkRequest& get, bool crc, bool act) {
    mSession.GlobalFile = get.global;
    mSession.NameCut = get.cut;
    Put(mSession.Job, qkSrcFile, get.name);
    Put(mSession.Job, qkMethod, crc ? QStringLiteral("CRC") : QStringLiteral("SEND"));
    if (act) Execute(true, {THstStep::File}, {}, THstEvent::FileRequest);
}

void THostProcess::onPut(const TLinkRequest& put, bool act) {
    // The size must be a length in bytes: the received file is cut or refused by it. A name
    // that cannot be stored as it came (cut, control characters, one of our own temporary
    // names) is refused before anything is written.
    if (put.valid && ParseJobSize(put.size) && !put.cut &&
        received_file::IsStorableName(put.name)) {
        Put(mSession.Job, qkNo, QString());
        Put(mSession.Job, qkDate, DateTimeToStr(QDateTime::currentDateTime()));
        Put(mSession.Job, qkMethod, QStringLiteral("RECV"));
        Put(mSession.Job, qkSrcFile, put.name);
        Put(mSession.Job, qkSize, put.size);
        Put(mSession.Job, qkDestPath, QString());
        if (act) Execute(true, {THstStep::File}, {}, THstEvent::FileRequest);
    } else if (act) {
        // Answered in the Dir step too: a refused request must never go unanswered.
        Execute(true, {THstStep::File}, {}, THstEvent::InvalidRequest);
    }
}

void THostProcess::onDir(const TLinkRequest& dir, bool act) {
    mSession.GlobalFile = false;
    mSession.BufferTransfer = dir.buffer;
    Put(mSession.Job, qkMethod, QStringLiteral("SEND"));
    if (mSession.BufferTransfer) {
        aReport(QStringLiteral("Using buffer transfer..."));
        Put(mSession.Job, qkSrcFile, QString());
    } else {
        Put(mSession.Job, qkSrcFile, QStringLiteral("DIR.LST"));
    }
    if (act) Execute(true, {THstStep::Dir}, {}, THstEvent::DirRequest);
}

// ---------------------------------------------------------------------------------------------
// The modem

void THostProcess::ConfigureModem(TVaModem& modem) {
    modem.SetRingWaitTimeout(30000);
    modem.SetRingDetect(rdMsg);
    modem.OnRingDetect = [this](TVaCustomModem*, int rings, bool& accept) {
        Guard("yModemRingDetect", [&] { yModemRingDetect(rings, accept); });
    };
    modem.OnRingWaitTimeout = [this](TVaCustomModem*) {
        Guard("yModemRingWaitTimeout", [&] { yModemRingWaitTimeout(); });
    };
}

void THostProcess::yModemOK() {
    THstConnectSub subStep = THstConnectSub::OpenPort;
    switch (mModem->Operation()) {
    case moInit:
        mReport.Message = QStringLiteral("Modem initialized.");
        subStep = THstConnectSub::ModemReady;
        break;
    case moReset:
        mReport.Message = QStringLiteral("Modem reset.");
        subStep = THstConnectSub::PortOpened;
        break;
    default:
        return;
    }
    report();
    mTimeoutCount = 0;
    Execute(false, {THstStep::Connect}, subStep);
}

void THostProcess::yModemBusy() {
    aReport(QStringLiteral("Line is busy."));
    Execute(true, {THstStep::Connect}, THstConnectSub::CallFailed);
}

void THostProcess::yModemCommandTimeout() {
    aReport(QStringLiteral("Command timeout."));
    Tolerate([&] { mModem->Reset(); });
    ++mTimeoutCount;
    if (mTimeoutCount <= 9) {
        Execute(false, {THstStep::Connect}, THstConnectSub::CallFailed);
    } else {
        mTimeoutCount = 0;
        Execute(true, {THstStep::Stop});
    }
}

void THostProcess::yModemConnect(const QString& connectString) {
    aReport(connectString);
    Execute(true, {THstStep::Connect}, THstConnectSub::Connected);
}

void THostProcess::yModemError() {
    switch (mModem->Operation()) {
    case moInit:
        mReport.Message = QStringLiteral("Error in init string.");
        break;
    case moAnswer:
        mReport.Message = QStringLiteral("Error in answer string.");
        break;
    default:
        mReport.Message = QStringLiteral("Modem error.");
        break;
    }
    report();
    Execute(true, {THstStep::Stop});
}

void THostProcess::yModemNoCarrier() {
    aReport(QStringLiteral("No carrier."));
    mTimeoutCount = 0;
    Execute(true, {THstStep::CallWait});
}

void THostProcess::yModemVoice() {
    aReport(QStringLiteral("Voice line detected."));
    Execute(true, {THstStep::CallWait});
}

void THostProcess::yModemRingDetect(int, bool& accept) {
    const TLife life = Life();
    mTimeoutCount = 0;
    Execute(false, {THstStep::Connect}, THstConnectSub::Ringing);
    if (!Alive(life)) {
        accept = false;
        return;
    }
    // The controller answers only when told to; a second ring while the answer is pending must
    // not send another answer command.
    accept = mSession.Modem.Get(mdkAAMode) == QLatin1String("2") && !mModem->CommandPending();
}

void THostProcess::yModemRingWaitTimeout() {
    aReport(QStringLiteral("Timeout answering call."));
    Execute(false, {THstStep::Connect}, THstConnectSub::CallFailed);
}

// ---------------------------------------------------------------------------------------------
// The transfer

void THostProcess::yTransferFileInfo(const QString& name, qint64) {
    // The transfer may have had to pick another free name for the temporary file.
    if (mXModem->Mode() == tmDownload && !name.isEmpty()) mSession.PartPath = name;
}

void THostProcess::yTransferEnd(int exitCode) {
    const bool receiving = mXModem->Mode() == tmDownload;
    const int code = checkTransferEnd(exitCode, receiving);
    if (code == 0 && receiving) {
        commitReceivedFile();
        return;
    }
    finishTransferEnd(code, receiving);
}

void THostProcess::finishTransferEnd(int code, bool receiving) {
    mSession.ResultCode = code;
    if (code != 0) {
        aReport(QStringLiteral("File error: ") + TransferErrorText(code));
        if (receiving) discardPartialFile();
        Execute(false, {THstStep::File, THstStep::Dir}, {}, THstEvent::TransferFailed);
    } else {
        aReport(QStringLiteral("File done."));
        Execute(false, {THstStep::File, THstStep::Dir}, {}, THstEvent::TransferDone);
    }
}

void THostProcess::commitReceivedFile() {
    struct TOutcome {
        bool ok = false;
        QString finalPath;
        QString error;
    };
    auto outcome = std::make_shared<TOutcome>();
    outcome->finalPath = mSession.FinalPath;
    // The file is the background's now: a stop meanwhile must not discard it under its feet.
    const QString part = std::exchange(mSession.PartPath, {});
    const quint64 request = mRequestCount;
    mCommitting = true;
    RunInBackground(
        [part, outcome]() {
            outcome->ok = moveReceivedFile(part, &outcome->finalPath, &outcome->error);
        },
        [this, request, outcome]() {
            Guard("yTransferEnd", [&] {
                receivedFileCommitted(request, outcome->ok, outcome->finalPath, outcome->error);
            });
        });
}

void THostProcess::receivedFileCommitted(quint64 request, bool ok, const QString& finalPath,
                                         const QString& error) {
    const TLife life = Life();
    mCommitting = false;
    const QByteArray held = std::exchange(mHeldInput, {});
    // A session that ended meanwhile (stopped, timed out, the line closed) is not told.
    if (request == mRequestCount && mActivity == THstActivity::Online) {
        if (ok)
            mSession.FinalPath = finalPath;
        else
            ReportError("DoFile", error);
        finishTransferEnd(ok ? 0 : trFileWriteError, true);
        if (!Alive(life)) return;
    }
    // What arrived meanwhile is handled as if it arrived now.
    if (!held.isEmpty() && mPort->OnRxBuf)
        Guard("yPortRxBuf", [&] { yPortRxBuf(held.constData(), int(held.size())); });
}

int THostProcess::checkTransferEnd(int exitCode, bool receiving) {
    if (exitCode != 0) return exitCode;
    const qint64 announced = JobSize(mSession.Job);
    // A sender must have sent all it announced.
    if (!receiving) return mSession.Transferred < announced ? trIncompleteFile : 0;
    // A received file is cut to the announced length, and refused when it is shorter.
    int code = 0;
    const bool checked = Tolerate([&] {
        const QFileInfo info(mSession.PartPath);
        if (mSession.PartPath.isEmpty() || !info.isFile()) {
            code = trIncompleteFile;
        } else if (info.size() > announced) {
            QFile file(mSession.PartPath);
            if (!file.resize(announced))
                throw std::runtime_error(file.errorString().toStdString());
        } else if (info.size() < announced) {
            code = trIncompleteFile;
        }
    });
    if (!checked) return trTimeout;
    return code;
}

void THostProcess::yTransferError(int code) {
    // Errors the transfer recovers from are only reported; a transfer that gives up ends with
    // its code, and that end is handled once, in yTransferEnd.
    aReport(QStringLiteral("Transfer error: ") + TransferErrorText(code));
}
