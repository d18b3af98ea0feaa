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
    mReport.ResultCode = 0;
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
    if ((mEvent == heSessionTimeout || mEvent == heLineLost) && mJobOpen) {
        mJobOpen = false;
        if (mConsole)
            mConsole->LogFileEvent(mReport.Job, false, QStringLiteral("File transfer error."),
                                   false);
        if (!Alive(life)) return;
    }
    // A request that waits somewhere further up the stack belongs to the old session.
    ++mRequestCount;
    beginOperation(QStringLiteral("Preparing device..."));
    for (int k = 0; k < QueueKeyCount; ++k)
        mReport.Job.Slots[size_t(k)].StrValue = QStringLiteral("0");
    mJobOpen = false;

    // Neither the disconnection nor the report raises (each catches what it must), so the
    // flags always come down again.
    mInCallWait = true;
    mBusy = true;
    RunStep(&THostProcess::DoDisconnect, "DoDisconnect");
    aSetStatus(true, haWaiting);
    mBusy = false;
    mInCallWait = false;
    Execute(true, {hsConnect}, hcOpenPort, heNone);
    if (!Alive(life)) return;
    mSessionTimer.SetEnabled(false);
}

void THostProcess::DoStart() {
    if (mActivity != haWaiting) return;
    beginOperation(QStringLiteral("Answering..."));
    aResetBatchTimeout();
    mTimeoutCount = 0;
}

void THostProcess::DoStop() {
    if (mActivity == haStopped) return;
    mAwaitDevice = false;
    mBusy = true;
    RunStep(&THostProcess::DoDisconnect, "DoDisconnect");
    mBusy = false;
    mTimeoutCount = 0;
    ++mRequestCount;
    beginOperation(QStringLiteral("Device stopped."));
    mJobOpen = false;
    aSetStatus(true, haStopped);
    mSessionTimer.SetEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Connect

void THostProcess::DoConnect() {
    mReport.Operation = QStringLiteral("Connect");
    switch (mSubStep) {
    case hcOpenPort:
        connectOpenPort();
        break;
    case hcPortOpened:
        connectPortOpened();
        break;
    case hcModemReady:
        connectModemReady();
        break;
    case hcRinging:
        Execute(true, {hsStart});
        break;
    case hcConnected:
        connectOnline();
        break;
    default: // hcPortClosed, hcCallFailed
        aListen(false);
        Execute(true, {hsCallWait});
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
                if (mActivity == haWaiting && mStep == hsConnect)
                    Execute(true, {hsConnect}, hcOpenPort);
            });
            return;
        }
    }
    mAwaitDevice = false;
    mReport.Message = QStringLiteral("Opening port ") + portName + "...";
    aSetStatus(false, MessageReport);
    // A port that cannot be opened stops the device; the watchdog tries again later.
    const bool opened =
        Guard("DoConnect", [&] { mPort->SetPortNum(portNum); }) && OpenPort("DoConnect");
    if (!opened && Alive(life)) Execute(true, {hsStop});
}

void THostProcess::connectPortOpened() {
    if (IsDirectDevice()) {
        const TLife life = Life();
        Execute(false, {hsConnect}, hcConnected);
        if (!Alive(life)) return;
        aListen(true);
    } else if (IsModemDevice()) {
        if (aLoadDevice()) {
            SetModemInitStrings(*mModem, mReport.Modem, mExtraCommands, RoleServer);
            mReport.Message = QStringLiteral("Initializing modem (") + mReport.Modem.Get(mdkGUID) +
                              ")...\r\n" + mModem->ConfigText();
            aSetStatus(false, MessageReport);
            mModem->SetActive(true);
            mModem->Init();
        } else {
            mReport.Message = QStringLiteral("Invalid device configuration.");
            aSetStatus(false, MessageReport);
            Execute(true, {hsStop});
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
    aSetStatus(false, MessageReport);
    mModem->SendCommand(command);
}

void THostProcess::connectOnline() {
    const bool modem = IsModemDevice();
    mReport.User[ukUser].StrValue.clear();
    mReport.Message = QStringLiteral("Listening for command...");
    // The parser may have been detached by an earlier failed call while waiting.
    aListen(true);
    aSetStatus(true, haOnline);
    // A modem caller that never sends a command must not hold the line for ever. (A direct
    // cable is always "connected"; its session time-out starts with the first command.)
    if (modem) aResetBatchTimeout();
}

// ---------------------------------------------------------------------------------------------
// Disconnect

void THostProcess::DoDisconnect() {
    mSubStep = NoSubStep;
    mEvent = heNone;
    StopDeviceWatch();
    mReport.Operation = QStringLiteral("Disconnect");
    if (!IsLineDevice()) return;
    // Each part runs whatever the one before it raised.
    if (mModem->Active()) {
        mReport.Message = QStringLiteral("Disconnecting...");
        aSetStatus(false, MessageReport);
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
        aSetStatus(false, MessageReport);
        Tolerate([&] { mPort->Close(); });
    }
}

// ---------------------------------------------------------------------------------------------
// Login

void THostProcess::DoLogin() {
    mReport.Operation = QStringLiteral("Authentication");
    switch (mEvent) {
    case heLogon: {
        if (!IsLineDevice()) return;
        mReport.Message = QStringLiteral("Authenticating user ") + Get(mReport.Job, qkUser);
        aSetStatus(true, haOnline);
        const int index =
            mUsers ? mUsers->SearchItem(Get(mReport.Job, qkUser), Get(mReport.Job, qkPassw)) : -1;
        const TMRLUser* user = mUsers && index >= 0 ? mUsers->GetItem(index) : nullptr;
        if (!user) {
            Execute(false, {hsLogin}, NoSubStep, heLogonDenied);
        } else {
            mReport.User.Slots = user->Slots;
            Execute(true, {hsLogin}, NoSubStep, heLogonOk);
        }
        break;
    }
    case heLogonOk:
        mStep = hsFile;
        aReport(QStringLiteral("User authenticated."));
        aSendMessage(QStringLiteral("YES"));
        break;
    case heLogonDenied:
        aReport(QStringLiteral("User denied access."));
        aSendMessage(QStringLiteral("NO"));
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
    case heDirRequest:
        dirRequest();
        break;
    case heProgress:
        aSetStatus(false, MessageReport);
        break;
    case heTransferDone:
        mReport.Message = QStringLiteral("DIR list sent.");
        mReport.FileText.clear();
        aSetStatus(false, MessageReport);
        if (!mReport.BufferTransfer) QFile::remove(aGetOutbox() + "DIR.LST");
        if (mXModem->InProgress()) mXModem->Cancel();
        break;
    case heTransferFailed:
        mReport.Message = QStringLiteral("DIR list transfer failed.");
        mReport.FileText.clear();
        aSetStatus(false, MessageReport);
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
        aSetStatus(false, MessageReport);
        aSendMessage(QStringLiteral("NO"));
        return;
    }
    if (mReport.BufferTransfer) {
        Execute(false, {hsDir}, NoSubStep, heTransferDone);
        return;
    }
    mXModem->SetFileName(aGetOutbox() + "DIR.LST");
    mXModem->SetMode(tmUpload);
    mReport.FileText = QStringLiteral("DIR.LST");
    aSetStatus(false, MessageReport);
    const quint64 request = mRequestCount;
    mXModem->Arm();
    aSendMessage(QStringLiteral("YES"));
    if (!Alive(life)) return;
    if (mActivity != haOnline || request != mRequestCount) {
        if (!mXModem->InProgress()) mXModem->Disarm();
        return;
    }
    mReport.Message = QStringLiteral("Sending DIR list (") + Get(mReport.Job, qkSize) + " bytes)";
    mXModem->Start();
}
