// The server engine's steps: preparing the device and waiting for a call (CallWait, Connect,
// Start), stopping and disconnecting, log-on, and the directory list. The File step is in
// host_file.cpp.
#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "core/status.h"
#include "engine/host_internal.h"

#include <QFile>

using namespace host_internal;

void THostProcess::beginOperation(const QString& operation) {
    mReport.Operation = operation;
    mReport.Message = mReport.Operation;
    mSession.ResultCode = 0;
    mReport.FileText.clear();
    mReport.Progress = 0;
    mReport.Total = 100;
}

// ---------------------------------------------------------------------------------------------
// CallWait, Start, Stop

void THostProcess::DoCallWait() {
    const TLife life = Life();
    // Only one preparation at a time: a port closing inside it must not start another.
    if (mInCallWait) return;
    if ((mEvent == THstEvent::SessionTimeout || mEvent == THstEvent::LineLost) && mJobOpen) {
        mJobOpen = false;
        if (mConsole)
            mConsole->LogFileEvent(mSession.Job, false, QStringLiteral("File transfer error."),
                                   false);
        if (!Alive(life)) return;
    }
    // A request that waits somewhere further up the stack belongs to the old session.
    ++mRequestCount;
    mSession.Features = {};
    beginOperation(QStringLiteral("Preparing device..."));
    for (int k = 0; k < QueueKeyCount; ++k)
        mSession.Job.Slots[size_t(k)].StrValue = QStringLiteral("0");
    mJobOpen = false;

    WithFlagRaised(mInCallWait, [&] {
        Hold([&] {
            RunStep(&THostProcess::DoDisconnect, "DoDisconnect");
            aSetStatus(THstActivity::Waiting);
        });
    });
    if (!Alive(life)) return;
    Execute(true, {THstStep::Connect}, THstConnectSub::OpenPort, THstEvent::None);
    if (!Alive(life)) return;
    mSessionTimer.SetEnabled(false);
}

void THostProcess::DoStart() {
    if (mActivity != THstActivity::Waiting) return;
    beginOperation(QStringLiteral("Answering..."));
    aResetBatchTimeout();
    mTimeoutCount = 0;
}

void THostProcess::DoStop() {
    if (mActivity == THstActivity::Stopped) return;
    const TLife life = Life();
    mAwaitDevice = false;
    Hold([&] { RunStep(&THostProcess::DoDisconnect, "DoDisconnect"); });
    if (!Alive(life)) return;
    mTimeoutCount = 0;
    ++mRequestCount;
    beginOperation(QStringLiteral("Device stopped."));
    mJobOpen = false;
    aSetStatus(THstActivity::Stopped);
    mSessionTimer.SetEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Connect

void THostProcess::DoConnect() {
    mReport.Operation = QStringLiteral("Connect");
    switch (mSubStep) {
    case THstConnectSub::OpenPort:
        connectOpenPort();
        break;
    case THstConnectSub::PortOpened:
        connectPortOpened();
        break;
    case THstConnectSub::ModemReady:
        connectModemReady();
        break;
    case THstConnectSub::Ringing:
        Execute(true, {THstStep::Start});
        break;
    case THstConnectSub::Connected:
        connectOnline();
        break;
    default: // THstConnectSub::PortClosed, THstConnectSub::CallFailed
        aListen(false);
        Execute(true, {THstStep::CallWait});
        break;
    }
}

void THostProcess::connectOpenPort() {
    const TLife life = Life();
    const QStringList fields = mDevice.Get(dvkDevParam).split(',');
    if (IsDirectDevice()) {
        mPort->SetBaudrate(brUser);
        Tolerate([&] { mPort->SetUserBaudrate(ToIntOrThrow(fields.value(1))); });
    } else if (IsModemDevice()) {
        SetModemFlowControl();
    }
    const QString portName = fields.value(0).trimmed();
    const int portNum = ToIntOrThrow(portName.mid(3));
    // A device that went away with its line: it is opened again as soon as it is back.
    if (mAwaitDevice && !mPort->IsOpen()) {
        mPort->SetPortNum(portNum);
        if (!DevicePresent()) {
            WatchForDevice([this] {
                if (mActivity == THstActivity::Waiting && mStep == THstStep::Connect)
                    Execute(true, {THstStep::Connect}, THstConnectSub::OpenPort);
            });
            return;
        }
    }
    mAwaitDevice = false;
    mReport.Message = QStringLiteral("Opening port ") + portName + "...";
    report();
    // A port that cannot be opened stops the device; the watchdog tries again later.
    const bool opened =
        Guard("DoConnect", [&] { mPort->SetPortNum(portNum); }) && OpenPort("DoConnect");
    if (!opened && Alive(life)) Execute(true, {THstStep::Stop});
}

void THostProcess::connectPortOpened() {
    if (IsDirectDevice()) {
        const TLife life = Life();
        Execute(false, {THstStep::Connect}, THstConnectSub::Connected);
        if (!Alive(life)) return;
        aListen(true);
    } else if (IsModemDevice()) {
        if (aLoadDevice()) {
            SetModemInitStrings(*mModem, mSession.Modem, mExtraCommands, RoleServer);
            mReport.Message = QStringLiteral("Initializing modem (") + mSession.Modem.Get(mdkGUID) +
                              ")...\r\n" + mModem->ConfigText();
            report();
            mModem->SetActive(true);
            mModem->Init();
        } else {
            mReport.Message = QStringLiteral("Invalid device configuration.");
            report();
            Execute(true, {THstStep::Stop});
        }
    }
}

void THostProcess::connectModemReady() {
    if (mExtraCommands.isEmpty()) {
        aListen(true);
        return;
    }
    const QString command = TakeExtraCommand();
    mReport.Message = command;
    report();
    mModem->SendCommand(command);
}

void THostProcess::connectOnline() {
    const bool modem = IsModemDevice();
    mSession.User[ukUser].StrValue.clear();
    mReport.Message = QStringLiteral("Listening for command...");
    // The parser may have been detached by an earlier failed call while waiting.
    aListen(true);
    aSetStatus(THstActivity::Online);
    // A modem caller that never sends a command must not hold the line for ever. (A direct
    // cable is always "connected"; its session time-out starts with the first command.)
    if (modem) aResetBatchTimeout();
}

// ---------------------------------------------------------------------------------------------
// Disconnect

void THostProcess::DoDisconnect() {
    mSubStep = THstConnectSub::OpenPort;
    mEvent = THstEvent::None;
    StopDeviceWatch();
    mReport.Operation = QStringLiteral("Disconnect");
    if (!IsLineDevice()) return;
    // Each part runs whatever the one before it raised.
    if (mModem->Active()) {
        mReport.Message = QStringLiteral("Disconnecting...");
        report();
        Tolerate([&] { mXModem->Cancel(); });
        Tolerate([&] {
            if (mModem->Operation() != moNone) mModem->CancelCommand();
        });
        Tolerate([&] { mModem->SetActive(false); });
    } else if (mXModem->InProgress() || mXModem->Armed()) {
        // A direct cable has no modem, but a running transfer must still end.
        Tolerate([&] { mXModem->Cancel(); });
    }
    if (mPort->IsOpen()) {
        mReport.Message = QStringLiteral("Closing COM port...");
        report();
        Tolerate([&] { mPort->Close(); });
    }
}

// ---------------------------------------------------------------------------------------------
// Login

void THostProcess::DoLogin() {
    mReport.Operation = QStringLiteral("Authentication");
    switch (mEvent) {
    case THstEvent::Logon: {
        if (!IsLineDevice()) return;
        mReport.Message = QStringLiteral("Authenticating user ") + Get(mSession.Job, qkUser);
        aSetStatus(THstActivity::Online);
        const int index =
            mUsers ? mUsers->SearchItem(Get(mSession.Job, qkUser), Get(mSession.Job, qkPassw)) : -1;
        const TMRLUser* user = mUsers && index >= 0 ? mUsers->GetItem(index) : nullptr;
        if (!user) {
            Execute(false, {THstStep::Login}, {}, THstEvent::LogonDenied);
        } else {
            mSession.User.Slots = user->Slots;
            Execute(true, {THstStep::Login}, {}, THstEvent::LogonOk);
        }
        break;
    }
    case THstEvent::LogonOk:
        mStep = THstStep::File;
        aReport(QStringLiteral("User authenticated."));
        aReply(TLinkReply::Yes);
        break;
    case THstEvent::LogonDenied:
        aReport(QStringLiteral("User denied access."));
        aReply(TLinkReply::No);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Dir

void THostProcess::DoDir() {
    mReport.Operation = QStringLiteral("DIR");
    switch (mEvent) {
    case THstEvent::DirRequest:
        dirRequest();
        break;
    case THstEvent::Progress:
        report();
        break;
    case THstEvent::TransferDone:
        mReport.Message = QStringLiteral("DIR list sent.");
        mReport.FileText.clear();
        report();
        if (!mSession.BufferTransfer) QFile::remove(aGetOutbox() + "DIR.LST");
        if (mXModem->InProgress()) mXModem->Cancel();
        break;
    case THstEvent::TransferFailed:
        mReport.Message = QStringLiteral("DIR list transfer failed.");
        mReport.FileText.clear();
        report();
        if (mXModem->InProgress()) mXModem->Cancel();
        break;
    default:
        break;
    }
}

void THostProcess::dirRequest() {
    const TLife life = Life();
    if (!IsLineDevice()) return;
    const bool listed = aPrepareUserDirList();
    if (!Alive(life)) return;
    mReport.Operation = QStringLiteral("DIR");
    if (!listed) {
        mReport.Message = QStringLiteral("DIR list empty.");
        mReport.FileText.clear();
        report();
        aReply(TLinkReply::No);
        return;
    }
    if (mSession.BufferTransfer) {
        Execute(false, {THstStep::Dir}, {}, THstEvent::TransferDone);
        return;
    }
    mXModem->SetFileName(aGetOutbox() + "DIR.LST");
    mXModem->SetMode(tmUpload);
    mReport.FileText = QStringLiteral("DIR.LST");
    report();
    const quint64 request = mRequestCount;
    mXModem->Arm();
    aReply(TLinkReply::Yes);
    if (!Alive(life)) return;
    if (mActivity != THstActivity::Online || request != mRequestCount) {
        if (!mXModem->InProgress()) mXModem->Disarm();
        return;
    }
    mReport.Message = QStringLiteral("Sending DIR list (") + Get(mSession.Job, qkSize) + " bytes)";
    mXModem->Start();
}
