#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "core/status.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/xmodem_file_name.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <exception>
#include <stdexcept>


namespace {
const QChar Quote('"');
// The folder that never exists: what the outbox and inbox look-ups give when they fail.
const QString ImpossibleFolder = QStringLiteral("/\\/");

QString errorText() {
    try {
        throw;
    } catch (const EVaCommError& e) {
        return e.Message();
    } catch (const EVaModemException& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

int envMs(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariable(name).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

int toIntOrThrow(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        throw std::runtime_error(("'" + text + "' is not a valid integer value").toStdString());
    return value;
}

// A size as the client announces it: decimal digits only.
bool validSize(const QString& text, qint64* size = nullptr) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (!c.isDigit() || c.unicode() > '9') return false;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (size) *size = value;
    return ok;
}

} // namespace

TDeviceEngineFactory HostEngineFactory() {
    return [](TDevicesList& owner, TCommDevice& device) {
        return std::unique_ptr<TDeviceEngine>(new THostProcess(&owner, device));
    };
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

THostProcess::THostProcess(TDevicesList* owner, TCommDevice& device)
    : mOwner(owner), mDevice(device), mSettings(owner->Services().settings),
      mStatus(owner->Services().status), mQueue(&owner->Services().queue),
      mUsers(owner->Services().users), mModems(&owner->Services().modems),
      mConsole(owner->Services().hostConsole) {
    try {
        for (int k = 0; k < QueueKeyCount; ++k)
            mReport.Job.Slots[size_t(k)] = TIniKey::StringSlot(QueueKeyNames[k]);
        for (int k = 0; k < ModemKeyCount; ++k)
            mReport.Modem.Slots[size_t(k)] = TIniKey::StringSlot(ModemKeyNames[k]);
        if (mUsers) mUsers->EmptyItem(mReport.User);
        mReport.Device = &mDevice;

        const int sessionOverride = envMs("MARROWLINE_SESSION_TIMEOUT_MS", -1);
        mSessionTimeoutMs = sessionOverride;
        mWatchDogMs = envMs("MARROWLINE_WATCHDOG_MS", 600000);
        removeLeftovers();

        // What the components' event handlers raise becomes a status line.
        const TVaExceptionHandler toStatus = [status = &mStatus](const QString& origin,
                                                                 const QString& text) {
            status->Add("!" + origin + ": " + text);
        };
        mPort = std::make_unique<TVaComm>();
        mPort->SetExceptionHandler(toStatus);
        mPort->SetPortMapFolder(mSettings.AppDir());
        mPort->SetBaudrate(br56000);
        mPort->Buffers().SetReadSize(78000);
        mPort->Buffers().SetReadTimeout(4000);
        mPort->Buffers().SetWriteTimeout(4000);
        mPort->OnOpen = [this](TVaComm*) { yPortOpen(); };
        mPort->OnClose = [this](TVaComm*) { yPortClose(); };
        mPort->OnError = [this](TVaComm*, uint32_t errors) { yPortError(errors); };

        mModem = std::make_unique<TVaModem>();
        mModem->SetExceptionHandler(toStatus);
        mModem->SetActive(false);
        mModem->SetRingWaitTimeout(30000);
        mModem->SetRingDetect(rdMsg);
        mModem->SetComm(mPort.get());
        mModem->OnOK = [this](TVaCustomModem*) { yModemOK(); };
        mModem->OnBusy = [this](TVaCustomModem*) { yModemBusy(); };
        mModem->OnCommandTimeout = [this](TVaCustomModem*) { yModemCommandTimeout(); };
        mModem->OnConnect = [this](TVaCustomModem*, const QString& s) { yModemConnect(s); };
        mModem->OnError = [this](TVaCustomModem*) { yModemError(); };
        mModem->OnNoCarrier = [this](TVaCustomModem*) { yModemNoCarrier(); };
        mModem->OnVoice = [this](TVaCustomModem*) { yModemVoice(); };
        mModem->OnRingDetect = [this](TVaCustomModem*, int rings, bool& accept) {
            yModemRingDetect(rings, accept);
        };
        mModem->OnRingWaitTimeout = [this](TVaCustomModem*) { yModemRingWaitTimeout(); };

        mXModem = std::make_unique<TVaXModem>();
        mXModem->SetExceptionHandler(toStatus);
        mXModem->SetComm(mPort.get());
        mXModem->SetProtocol(XModem1K);
        mXModem->OnTransferStart = [this](TVaProtocol*) { yTransferStart(); };
        mXModem->OnFileInfo = [this](TVaXYModem*, const QString& name, qint64) {
            yTransferFileInfo(name);
        };
        mXModem->OnPacketEvent = [this](TVaXYModem*, int, qint64 bytes) { yTransferPacket(bytes); };
        mXModem->OnTransferEnd = [this](TVaProtocol*, int code) { yTransferEnd(code); };
        mXModem->OnError = [this](TVaProtocol*, int code, int) { yTransferError(code); };

        mWatchDog.SetExceptionHandler(toStatus);
        mSessionTimer.SetExceptionHandler(toStatus);
        mWatchDog.SetInterval(mWatchDogMs);
        mWatchDog.SetOnTimer([this](TVaTimer*) { tmWatchDogTimer(); });
        mWatchDog.SetEnabled(true);
        mSessionTimer.SetEnabled(false);
        mSessionTimer.SetOnTimer([this](TVaTimer*) { tmBatchTmoTimer(); });
        mBusy = false;
    } catch (...) {
        reportError("Create");
        return;
    }
    Execute(true, {hsCallWait});
}

THostProcess::~THostProcess() {
    try {
        DoStop();
        mWatchDog.SetEnabled(false);
        mSessionTimer.SetEnabled(false);
        mLines.clear();
        // Lets the port's and the transfer's last deliveries run while the engine still exists.
        Delay(500);
    } catch (...) {
        reportError("Destroy");
    }
    // Nothing that the components raise from now on may reach this object.
    mAlive.reset();
    mWatchDog.SetOnTimer(nullptr);
    mSessionTimer.SetOnTimer(nullptr);
    if (mXModem) {
        mXModem->OnTransferStart = nullptr;
        mXModem->OnFileInfo = nullptr;
        mXModem->OnPacketEvent = nullptr;
        mXModem->OnTransferEnd = nullptr;
        mXModem->OnError = nullptr;
    }
    if (mModem) {
        mModem->OnOK = nullptr;
        mModem->OnBusy = nullptr;
        mModem->OnCommandTimeout = nullptr;
        mModem->OnConnect = nullptr;
        mModem->OnError = nullptr;
        mModem->OnNoCarrier = nullptr;
        mModem->OnVoice = nullptr;
        mModem->OnRingDetect = nullptr;
        mModem->OnRingWaitTimeout = nullptr;
    }
    if (mPort) {
        mPort->OnOpen = nullptr;
        mPort->OnClose = nullptr;
        mPort->OnError = nullptr;
        mPort->OnRxBuf = nullptr;
    }
    // A partial file must not outlive the session that was receiving it.
    try {
        if (mXModem) mXModem.reset();
        discardPartialFile();
    } catch (...) {
        reportError("Destroy");
    }
}

void THostProcess::Restart() {
    Execute(true, {hsCallWait});
}

void THostProcess::reportError(const char* operation) {
    mStatus.Add(QStringLiteral("!THostProcess.") + QLatin1String(operation) + ": " + errorText());
}

// ---------------------------------------------------------------------------------------------
// The state machine

void THostProcess::Execute(bool force, THstSteps steps, uint8_t subStep, uint8_t event) {
    const std::weak_ptr<bool> life = mAlive;
    try {
        if (mBusy) return;
        if (!steps.Contains(THstStep(mStep)) && !force) return;
        if (force) {
            for (int s = hsStop; s <= hsDisconnect; ++s) {
                if (steps.Contains(THstStep(s))) {
                    mStep = uint8_t(s);
                    break;
                }
            }
            mSubStep = subStep;
            mEvent = event;
        } else {
            if (subStep != 0) mSubStep = subStep;
            if (event != 0) mEvent = event;
        }
        switch (mActivity) {
        case haStopped:
            if (mStep == hsCallWait)
                DoCallWait();
            else if (mStep == hsDisconnect)
                DoDisconnect();
            break;
        case haWaiting:
            switch (mStep) {
            case hsStop:
                DoStop();
                break;
            case hsStart:
                DoStart();
                break;
            // Back to CallWait while waiting (a busy line, a modem that timed out, a caller that
            // hung up before connecting): the device is prepared again rather than left idle.
            case hsCallWait:
                DoCallWait();
                break;
            case hsConnect:
                DoConnect();
                break;
            default:
                break;
            }
            break;
        case haOnline:
            switch (mStep) {
            case hsStop:
            case hsDisconnect:
                DoStop();
                break;
            case hsCallWait:
            case hsConnect:
                DoCallWait();
                break;
            case hsLogin:
                DoLogin();
                break;
            case hsFile:
                DoFile();
                break;
            case hsDir:
                DoDir();
                break;
            default:
                break;
            }
            break;
        default:
            break;
        }
        if (life.expired()) return;
        // Every command that reaches these steps restarts the session time-out.
        if (mActivity == haOnline && (mStep == hsLogin || mStep == hsFile || mStep == hsDir))
            aResetBatchTimeout();
    } catch (...) {
        if (!life.expired()) reportError("Execute");
    }
}

void THostProcess::DoCallWait() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        // Only one preparation at a time: a port closing inside it must not start another.
        if (mInCallWait) return;
        const uint8_t event = mEvent;
        if (event == heSessionTimeout && mJobOpen) {
            mJobOpen = false;
            if (mConsole)
                mConsole->LogFileEvent(mReport.Job, false,
                                           QStringLiteral("File transfer error."), false);
            if (life.expired()) return;
        }
        // A request that waits somewhere further up the stack belongs to the old session.
        ++mRequestCount;
        mReport.Operation = QStringLiteral("Preparing device...");
        mReport.Message = mReport.Operation;
        mReport.ResultCode = 0;
        mReport.FileText.clear();
        mReport.Progress = 0;
        mReport.Total = 100;
        for (int k = 0; k < QueueKeyCount; ++k)
            mReport.Job.Slots[size_t(k)].StrValue = QStringLiteral("0");
        mJobOpen = false;

        mInCallWait = true;
        mBusy = true;
        DoDisconnect();
        aSetStatus(true, haWaiting);
        mBusy = false;
        mInCallWait = false;
        Execute(true, {hsConnect}, 0, 0);
        if (life.expired()) return;
        mSessionTimer.SetEnabled(false);
    } catch (...) {
        if (life.expired()) return;
        mBusy = false;
        mInCallWait = false;
        reportError("DoCallWait");
    }
}

void THostProcess::DoStart() {
    try {
        if (mActivity != haWaiting) return;
        mReport.Operation = QStringLiteral("Answering...");
        mReport.Message = mReport.Operation;
        mReport.ResultCode = 0;
        mReport.FileText.clear();
        mReport.Progress = 0;
        mReport.Total = 100;
        aResetBatchTimeout();
        mTimeoutCount = 0;
    } catch (...) {
        reportError("DoStart");
    }
}

void THostProcess::DoStop() {
    try {
        if (mActivity == haStopped) return;
        mBusy = true;
        DoDisconnect();
        mBusy = false;
        mTimeoutCount = 0;
        ++mRequestCount;
        mReport.Operation = QStringLiteral("Device stopped.");
        mReport.Message = mReport.Operation;
        mReport.ResultCode = 0;
        mReport.FileText.clear();
        mReport.Progress = 0;
        mReport.Total = 100;
        mJobOpen = false;
        aSetStatus(true, haStopped);
        mSessionTimer.SetEnabled(false);
    } catch (...) {
        mBusy = false;
        reportError("DoStop");
    }
}

void THostProcess::DoConnect() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        mReport.Operation = QStringLiteral("Connect");
        const QString type = mDevice.Get(dvkDevType);
        switch (mSubStep) {
        case 0: {
            const QStringList fields = mDevice.Get(dvkDevParam).split(',');
            if (type == QLatin1String("Direct")) {
                mPort->SetBaudrate(brUser);
                try {
                    mPort->SetUserBaudrate(toIntOrThrow(fields.value(1)));
                } catch (...) {
                    mStatus.Add(errorText());
                }
            } else if (type == QLatin1String("Modem")) {
                TVaFlowControl& flow = mPort->FlowControl();
                flow.SetControlDtr(dtrHandshake);
                flow.SetControlRts(rtsHandshake);
                flow.SetOutCtsFlow(true);
                flow.SetOutDsrFlow(true);
                flow.SetDsrSensitivity(true);
            }
            const QString portName = fields.value(0).trimmed();
            mReport.Message = QStringLiteral("Opening port ") + portName + "...";
            const int portNum = toIntOrThrow(portName.mid(3));
            aSetStatus(false, 3);
            try {
                mPort->SetPortNum(portNum);
                mPort->Open();
            } catch (...) {
                // A port that cannot be opened stops the device; the watchdog tries again later.
                if (life.expired()) return;
                reportError("DoConnect");
                Execute(true, {hsStop});
            }
            break;
        }
        case 1:
            if (type == QLatin1String("Direct")) {
                Execute(false, {hsConnect}, 5);
                if (life.expired()) return;
                aListen(true);
            } else if (type == QLatin1String("Modem")) {
                if (aLoadDevice()) {
                    SetModemInitStrings(*mModem, mReport.Modem, mExtraCommands, 2);
                    mReport.Message = QStringLiteral("Initializing modem (") +
                                      mReport.Modem.Get(mdkGUID) + ")...\r\n" +
                                      mModem->ConfigText();
                    aSetStatus(false, 3);
                    mModem->SetActive(true);
                    mModem->Init();
                } else {
                    mReport.Message = QStringLiteral("Invalid device configuration.");
                    aSetStatus(false, 3);
                    Execute(true, {hsStop});
                }
            }
            break;
        case 3:
            if (!mExtraCommands.isEmpty()) {
                const qsizetype end = mExtraCommands.indexOf(QLatin1String("|||"));
                QString command;
                if (end >= 0) {
                    command = mExtraCommands.left(end);
                    mExtraCommands.remove(0, end + 3);
                } else {
                    command = mExtraCommands;
                    mExtraCommands.clear();
                }
                mReport.Message = command;
                aSetStatus(false, 3);
                mModem->SendCommand(command);
            } else {
                aListen(true);
            }
            break;
        case 4:
            Execute(true, {hsStart});
            break;
        case 5:
            mReport.User[ukUser].StrValue.clear();
            mReport.Message = QStringLiteral("Listening for command...");
            // The parser may have been detached by an earlier failed call while waiting.
            aListen(true);
            aSetStatus(true, haOnline);
            // A modem caller that never sends a command must not hold the line for ever. (A
            // direct cable is always "connected"; its session time-out starts with the first
            // command.)
            if (type == QLatin1String("Modem")) aResetBatchTimeout();
            break;
        default:
            aListen(false);
            Execute(true, {hsCallWait});
            break;
        }
    } catch (...) {
        if (!life.expired()) reportError("DoConnect");
    }
}

void THostProcess::DoDisconnect() {
    try {
        mSubStep = 0;
        mEvent = 0;
        mReport.Operation = QStringLiteral("Disconnect");
        if (!isLineDevice()) return;
        if (mModem->Active()) {
            mReport.Message = QStringLiteral("Disconnecting...");
            aSetStatus(false, 3);
            try {
                mXModem->Cancel();
            } catch (...) {
                mStatus.Add(errorText());
            }
            try {
                if (mModem->Operation() != moNone) mModem->CancelCommand();
            } catch (...) {
                mStatus.Add(errorText());
            }
            try {
                mModem->SetActive(false);
            } catch (...) {
                mStatus.Add(errorText());
            }
        } else if (mXModem->InProgress() || mXModem->Armed()) {
            // A direct cable has no modem, but a running transfer must still end.
            try {
                mXModem->Cancel();
            } catch (...) {
                mStatus.Add(errorText());
            }
        }
        if (mPort->IsOpen()) {
            mReport.Message = QStringLiteral("Closing COM port...");
            aSetStatus(false, 3);
            try {
                mPort->Close();
            } catch (...) {
                mStatus.Add(errorText());
            }
        }
    } catch (...) {
        reportError("DoDisconnect");
    }
}

void THostProcess::DoLogin() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        mReport.Operation = QStringLiteral("Authentication");
        switch (mEvent) {
        case heLogon: {
            if (!isLineDevice()) return;
            mReport.Message = QStringLiteral("Authenticating user ") + Get(mReport.Job, qkUser);
            aSetStatus(true, haOnline);
            const int index =
                mUsers ? mUsers->SearchItem(Get(mReport.Job, qkUser), Get(mReport.Job, qkPassw))
                       : -1;
            const TMRLUser* user = mUsers && index >= 0 ? mUsers->GetItem(index) : nullptr;
            if (!user) {
                Execute(false, {hsLogin}, 0, heLogonDenied);
            } else {
                mReport.User.Slots = user->Slots;
                Execute(true, {hsLogin}, 0, heLogonOk);
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
    } catch (...) {
        if (!life.expired()) reportError("DoLogin");
    }
}

void THostProcess::DoFile() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        mReport.Operation = QStringLiteral("Transfer");
        switch (mEvent) {
        case heFileRequest: {
            if (!isLineDevice()) return;
            const quint64 request = ++mRequestCount;
            Put(mReport.Job, qkNo, QString());
            const QString method = Get(mReport.Job, qkMethod);
            const QString name = Get(mReport.Job, qkSrcFile);
            bool receiving = false;
            QString fileName;
            if (method == QLatin1String("SEND")) {
                // A name cut to its 255 bytes is not the name asked for.
                const bool allowed =
                    !mNameCut && !HasParentReference(name) && aLoadQueueItemByName(name);
                if (life.expired()) return;
                bool inside = false;
                if (allowed)
                    fileName = LocalPath(aGetOutbox(), Get(mReport.Job, qkSrcFile), &inside);
                if (!allowed || !inside) {
                    aReport(QStringLiteral("Requested file denied: ") + name);
                    aSendMessage(QStringLiteral("NO"));
                    return;
                }
                mXModem->SetMode(tmUpload);
            } else if (method == QLatin1String("RECV")) {
                mReport.Message = QStringLiteral("Preparing to receive...");
                const QString inbox = aUserInbox();
                bool inside = false;
                const QString target =
                    inbox == ImpossibleFolder ? QString() : LocalPath(inbox, name, &inside);
                const QString folder =
                    inside ? FolderPart(target) : inbox + LocalSeparators(FolderPart(name));
                if (!inside || HasParentReference(name) ||
                    (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))) {
                    mReport.Message +=
                        QStringLiteral("\r\nError! Destination path cannot be created: ") + folder;
                    aSetStatus(false, 3);
                    aSendMessage(QStringLiteral("NO"));
                    return;
                }
                mXModem->SetMode(tmDownload);
                Put(mReport.Job, qkNo, QString());
                // The old file stays until the new one is whole; then it is replaced in one step.
                // When it cannot be replaced, the new file takes the next free name instead.
                const QFileInfo existing(target);
                if (existing.exists() && (existing.isDir() || !QFileInfo(folder).isWritable())) {
                    aReport(QStringLiteral(
                        "Local file cannot be deleted. Incoming file will be renamed."));
                }
                discardPartialFile();
                mFinalPath = target;
                // Received under a hidden temporary name in the same folder: a cut line or a
                // crash never leaves a partial file that looks like a delivered one. What a
                // killed server left there goes first.
                received_file::RemoveLeftovers(folder);
                mPartPath = received_file::TemporaryPath(target);
                fileName = mPartPath;
                receiving = true;
            } else if (method == QLatin1String("CRC")) {
                const bool sent = !mNameCut && !HasParentReference(name) && aLoadCrcItem();
                if (life.expired()) return;
                if (!sent) {
                    aReport(QStringLiteral("Requested file CRC denied: ") + name);
                    aSendMessage(QStringLiteral("NO"));
                }
                return;
            } else {
                return;
            }

            // The common part.
            qint64 size = 0;
            validSize(Get(mReport.Job, qkSize), &size);
            mReport.Total = int32_t(qMin<qint64>(size, INT32_MAX));
            mReport.Progress = 0;
            aSetStatus(false, 3);
            mXModem->SetFileName(fileName);
            // Accepted: from here on the request ends logged, as done or as failed.
            mJobOpen = true;
            // Everything that arrives after the reply belongs to the transfer: a prompt
            // receiver's start character must not be lost to the transfer's start.
            mXModem->Arm();
            aSendMessage(QStringLiteral("YES"));
            if (life.expired()) return;
            if (receiving || mReport.BufferTransfer) {
                const int half = deviceDelay(2000) / 2;
                const std::weak_ptr<bool> alive = mAlive;
                TVaComm* port = mPort.get();
                WaitFor([alive, port] { return alive.expired() || port->OutputDrained(); }, half);
                if (life.expired()) return;
                Delay(half);
                if (life.expired()) return;
            }
            // The session ended during the wait, or a newer request took over.
            if (mActivity != haOnline || request != mRequestCount) {
                if (!mXModem->InProgress()) mXModem->Disarm();
                return;
            }
            const QString what =
                Get(mReport.Job, qkSrcFile) + " (" + Get(mReport.Job, qkSize) + " bytes)";
            if (receiving) {
                aReport(QStringLiteral("Receiving: ") + what);
            } else {
                mReport.Message = QStringLiteral("Sending: ") + what;
            }
            mReport.FileText = receiving ? mFinalPath : fileName;
            mXModem->Start();
            break;
        }
        case heInvalidRequest:
            aReport(QStringLiteral("Invalid file request received."));
            aSendMessage(QStringLiteral("NO"));
            break;
        case heProgress:
            aSetStatus(false, 3);
            break;
        case heTransferDone: {
            const bool received = Get(mReport.Job, qkMethod) == QLatin1String("RECV");
            mJobOpen = false;
            if (mConsole)
                mConsole->LogFileEvent(mReport.Job, false,
                                           QStringLiteral("Transfer successful."), true);
            if (life.expired()) return;
            mReport.Message = QStringLiteral("Transfer done.");
            mReport.FileText.clear();
            aSetStatus(false, 3);
            // The notification tells of files that arrived, not of files that were fetched.
            if (received && mSettings.GetBool(SVR_PopupNotification) && mConsole)
                mConsole->ShowNotification();
            break;
        }
        case heTransferFailed: {
            if (mXModem->Mode() == tmDownload) discardPartialFile();
            mJobOpen = false;
            if (mConsole)
                mConsole->LogFileEvent(mReport.Job, false,
                                           QStringLiteral("File transfer error."), false);
            if (life.expired()) return;
            mReport.Message = QStringLiteral("Transfer failed: ") +
                              (mXModem->Mode() == tmDownload ? mFinalPath : mXModem->FileName());
            mReport.FileText.clear();
            aSetStatus(false, 3);
            break;
        }
        case heResult: {
            const QString answer = FailOk[mReport.ResultCode == 0 ? 1 : 0];
            aReport(QStringLiteral("Sending confirmation: ") + answer);
            aSendMessage(answer);
            break;
        }
        default:
            break;
        }
    } catch (...) {
        if (!life.expired()) reportError("DoFile");
    }
}

void THostProcess::DoDir() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        mReport.Operation = QStringLiteral("DIR");
        switch (mEvent) {
        case heDirRequest: {
            if (!isLineDevice()) return;
            const bool listed = aPrepareUserDirList();
            if (life.expired()) return;
            mReport.Operation = QStringLiteral("DIR");
            if (!listed) {
                mReport.Message = QStringLiteral("DIR list empty.");
                mReport.FileText.clear();
                aSetStatus(false, 3);
                aSendMessage(QStringLiteral("NO"));
                return;
            }
            if (mReport.BufferTransfer) {
                Execute(false, {hsDir}, 0, heTransferDone);
                return;
            }
            mXModem->SetFileName(aGetOutbox() + "DIR.LST");
            mXModem->SetMode(tmUpload);
            mReport.FileText = QStringLiteral("DIR.LST");
            aSetStatus(false, 3);
            const quint64 request = mRequestCount;
            mXModem->Arm();
            aSendMessage(QStringLiteral("YES"));
            if (life.expired()) return;
            if (mActivity != haOnline || request != mRequestCount) {
                if (!mXModem->InProgress()) mXModem->Disarm();
                return;
            }
            mReport.Message =
                QStringLiteral("Sending DIR list (") + Get(mReport.Job, qkSize) + " bytes)";
            mXModem->Start();
            break;
        }
        case heProgress:
            aSetStatus(false, 3);
            break;
        case heTransferDone:
            mReport.Message = QStringLiteral("DIR list sent.");
            mReport.FileText.clear();
            aSetStatus(false, 3);
            if (!mReport.BufferTransfer) QFile::remove(aGetOutbox() + "DIR.LST");
            if (mXModem->InProgress()) mXModem->Cancel();
            break;
        case heTransferFailed:
            mReport.Message = QStringLiteral("DIR list transfer failed.");
            mReport.FileText.clear();
            aSetStatus(false, 3);
            if (mXModem->InProgress()) mXModem->Cancel();
            break;
        default:
            break;
        }
    } catch (...) {
        if (!life.expired()) reportError("DoDir");
    }
}

// ---------------------------------------------------------------------------------------------
// Actions

void THostProcess::aSetStatus(bool setActivity, uint8_t value) {
    try {
        mReport.PrevActivity = mActivity;
        mReport.Kind = value;
        if (mConsole) mConsole->OnDeviceStatus(mReport);
        if (setActivity) mActivity = value;
        mReport.Message.clear();
    } catch (...) {
        reportError("aSetStatus");
    }
}

void THostProcess::aReport(const QString& message) {
    mReport.Message = message;
    aSetStatus(false, 3);
}

void THostProcess::aSendMessage(const QString& text) {
    const std::weak_ptr<bool> life = mAlive;
    try {
        aReport(QStringLiteral(">>") + text);
        const QByteArray frame = FrameLine(text);
        if (!isLineDevice()) return;
        mLines.clear();
        mAssembler.Discard();
        aListen(true);
        if (mXModem->InProgress()) return;
        mPort->WriteText(frame);
        TVaComm* port = mPort.get();
        WaitFor([life, port] { return life.expired() || port->OutputDrained(); }, 500);
    } catch (...) {
        if (!life.expired()) reportError("aSendMessage");
    }
}

void THostProcess::aListen(bool on) {
    if (on)
        mPort->OnRxBuf = [this](TVaComm*, const char* data, int count) { yPortRxBuf(data, count); };
    else
        mPort->OnRxBuf = nullptr;
}

void THostProcess::aResetBatchTimeout() {
    try {
        mSessionTimer.SetEnabled(false);
        const int ms =
            mSessionTimeoutMs > 0
                ? mSessionTimeoutMs
                : int(qMin<qint64>(qint64(mSettings.GetInt(SVR_SessionTimeout)) * 60000, INT32_MAX));
        mSessionTimer.SetInterval(ms);
        mSessionTimer.SetEnabled(mActivity == haOnline);
    } catch (...) {
        reportError("aResetBatchTimeout");
    }
}

void THostProcess::aFileNotification(qint64 byteCount) {
    try {
        if (byteCount == 0) {
            qint64 size = 0;
            validSize(Get(mReport.Job, qkSize), &size);
            mReport.Total = int32_t(qMin<qint64>(size, INT32_MAX));
        }
        mReport.Progress = int32_t(qMin<qint64>(byteCount, INT32_MAX));
        Execute(false, {hsFile, hsDir}, 0, heProgress);
    } catch (...) {
        reportError("aFileNotification");
    }
}

bool THostProcess::aLoadDevice() {
    try {
        if (mDevice.Get(dvkDevType) != QLatin1String("Modem")) return true;
        mReport.Modem[mdkGUID].StrValue.clear();
        const QString guid = mDevice.Get(dvkDevGUID);
        for (int i = 0; mModems && i < mModems->Count(); ++i) {
            if (mModems->GetSetting(i, mdkGUID) != guid) continue;
            if (const TModemSettings* entry = mModems->GetModem(i)) mReport.Modem = *entry;
            break;
        }
        return !mReport.Modem.Get(mdkGUID).isEmpty();
    } catch (...) {
        reportError("aLoadDevice");
        return false;
    }
}

QString THostProcess::aGetOutbox() {
    try {
        const QString folder =
            mReport.GlobalFile ? mSettings.GetStr(MRL_Outbox) : mReport.User[ukOutbox].StrValue;
        // An unset folder must not turn into the file system's root.
        if (folder.trimmed().isEmpty()) return ImpossibleFolder;
        return WithTrailingSlash(LocalSeparators(folder));
    } catch (...) {
        reportError("aGetOutbox");
        return ImpossibleFolder;
    }
}

QString THostProcess::aUserInbox() {
    try {
        const QString folder = mReport.User[ukInbox].StrValue;
        if (folder.trimmed().isEmpty()) return ImpossibleFolder;
        return WithTrailingSlash(LocalSeparators(folder));
    } catch (...) {
        reportError("aUserInbox");
        return ImpossibleFolder;
    }
}

bool THostProcess::loadQueueItem(int index, bool replyOnError) {
    const std::weak_ptr<bool> life = mAlive;
    try {
        if (!mQueue || index < 0 || index >= mQueue->Count()) return false;
        if (mQueue->GetSetting(index, qkMethod) == QLatin1String("SEND")) {
            bool inside = false;
            const QString path =
                LocalPath(aGetOutbox(), mQueue->GetSetting(index, qkSrcFile), &inside);
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
                if (replyOnError) aSendMessage(QStringLiteral("NO"));
                return false;
            }
            mQueue->PutSetting(index, qkSize, QString::number(file.size()));
        }
        if (life.expired()) return false;
        if (const TQueueItem* job = mQueue->GetItem(index)) mReport.Job.Slots = job->Slots;
        return true;
    } catch (...) {
        if (!life.expired()) reportError("aLoadQueueItem");
        return false;
    }
}

bool THostProcess::aLoadQueueItem(int index) {
    return loadQueueItem(index, true);
}

bool THostProcess::aLoadQueueItemByName(const QString& fileName) {
    try {
        if (mReport.GlobalFile) {
            if (Get(mReport.Job, qkMethod) != QLatin1String("SEND")) return false;
            bool inside = false;
            const QString path = LocalPath(aGetOutbox(), Get(mReport.Job, qkSrcFile), &inside);
            if (!inside || !QFileInfo(path).isFile()) {
                const QString message = QStringLiteral("Global file not found.");
                aReport(message);
                if (mConsole) mConsole->LogFileEvent(mReport.Job, true, message, false);
                return false;
            }
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                aReport(QStringLiteral("Could not open global file: ") + path);
                aSendMessage(QStringLiteral("NO"));
                return false;
            }
            Put(mReport.Job, qkSize, QString::number(file.size()));
            return true;
        }
        if (!mQueue) return false;
        // Only a job queued for the caller: another user's job of the same name must stay
        // queued for that user.
        const QString user = mReport.User[ukUser].StrValue;
        const QString wanted = PathCase(fileName);
        for (int i = 0; i < mQueue->Count(); ++i) {
            if (mQueue->GetSetting(i, qkSrcFile) == wanted && mQueue->GetSetting(i, qkUser) == user)
                return aLoadQueueItem(i);
        }
        return false;
    } catch (...) {
        reportError("aLoadQueueItem");
        return false;
    }
}

bool THostProcess::aLoadCrcItem() {
    try {
        if (!mReport.GlobalFile || Get(mReport.Job, qkMethod) != QLatin1String("CRC")) return false;
        bool inside = false;
        const QString path = LocalPath(aGetOutbox(), Get(mReport.Job, qkSrcFile), &inside);
        if (!inside || !QFileInfo(path).isFile()) {
            const QString message = QStringLiteral("Global CRC file not found.");
            aReport(message);
            if (mConsole) mConsole->LogFileEvent(mReport.Job, true, message, false);
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            aReport(QStringLiteral("Could not open global file: ") + path);
            aSendMessage(QStringLiteral("NO"));
            return false;
        }
        QString line = QString::fromUtf8(file.readLine());
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        file.close();
        aSendMessage(line);
        return true;
    } catch (...) {
        reportError("aLoadQueueItem");
        return false;
    }
}

bool THostProcess::aPrepareUserDirList() {
    const std::weak_ptr<bool> life = mAlive;
    try {
        const bool buffer = mReport.BufferTransfer;
        mReport.Operation = QStringLiteral("Dir");
        mReport.Message.clear();
        aSetStatus(false, 3);
        if (buffer) {
            aReport(QStringLiteral("Sending DIR buffer..."));
            Put(mReport.Job, qkSrcFile, QString());
        }
        const QString user = mReport.User[ukUser].StrValue;
        QList<TDirEntry> entries;
        for (int i = 0; mQueue && i < mQueue->Count(); ++i) {
            if (mQueue->GetSetting(i, qkUser) != user) continue;
            const int before = mQueue->Count();
            // An unreadable file is left out of the list; it must not answer the DIR with "NO".
            const bool loaded = loadQueueItem(i, false);
            if (life.expired()) return false;
            if (!loaded) {
                // The console drops a job whose file is gone: the next job moved into its place.
                if (mQueue->Count() < before) --i;
                continue;
            }
            QString dest = mQueue->GetSetting(i, qkDestPath);
            if (!dest.isEmpty() && !dest.endsWith('\\')) {
                dest += '\\';
                mQueue->PutSetting(i, qkDestPath, dest);
                Put(mReport.Job, qkDestPath, dest);
            }
            entries.append({Get(mReport.Job, qkSrcFile), Get(mReport.Job, qkSize), dest});
            if (buffer) {
                aSendMessage(Quote + Get(mReport.Job, qkSrcFile) + Quote);
                if (life.expired()) return false;
            }
        }
        if (entries.isEmpty()) return false;
        if (buffer) {
            aSendMessage(QString());
            return true;
        }
        aReport(QStringLiteral("Preparing DIR file..."));
        Put(mReport.Job, qkSrcFile, QStringLiteral("DIR.LST"));
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
        Put(mReport.Job, qkSize, QString::number(written.size()));
        Put(mReport.Job, qkMethod, QStringLiteral("SEND"));
        return true;
    } catch (...) {
        if (!life.expired()) reportError("aPrepareUserDirList");
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Timers

void THostProcess::tmWatchDogTimer() {
    try {
        if (mActivity != haStopped) return;
        aReport(QStringLiteral("Session wake-up."));
        mBusy = false;
        Execute(true, {hsCallWait});
    } catch (...) {
        reportError("tmWatchDogTimer");
    }
}

void THostProcess::tmBatchTmoTimer() {
    try {
        mSessionTimer.SetEnabled(false);
        if (mActivity != haOnline) return;
        aReport(QStringLiteral("Session timeout!"));
        Execute(true, {hsCallWait}, 0, heSessionTimeout);
    } catch (...) {
        reportError("tmBatchTmoTimer");
    }
}

// ---------------------------------------------------------------------------------------------
// Port, modem and transfer events

void THostProcess::yPortOpen() {
    aReport(QStringLiteral("Port opened."));
    Execute(false, {hsConnect}, 1);
}

void THostProcess::yPortClose() {
    aReport(QStringLiteral("Port closed."));
    Execute(true, {hsConnect}, 2);
}

void THostProcess::yPortError(uint32_t errors) {
    try {
        QString text = QStringLiteral("COM port error (") + QString::number(errors) + "): ";
        if (errors & VaCeFrame) text += QLatin1String("ERR_FRAME ");
        if (errors & VaCeOverrun) text += QLatin1String("ERR_OVERRUN ");
        if (errors & VaCeRxParity) text += QLatin1String("ERR_RXPARITY");
        aReport(text);
        mPort->PurgeReadWrite();
        if (mXModem->InProgress()) mXModem->Cancel();
    } catch (...) {
        mStatus.Add(errorText());
    }
}

void THostProcess::yPortRxBuf(const char* data, int count) {
    const std::weak_ptr<bool> life = mAlive;
    try {
        // Bytes that arrive during a transfer, or after the reply that starts one, belong to it.
        if (mXModem->InProgress() || mXModem->Armed()) return;
        const QList<TReceivedLine> completed = mAssembler.Feed(QByteArray(data, count));
        if (completed.isEmpty()) return;
        for (const TReceivedLine& received : completed)
            mLines += received.bytes;
        // Only the last line completed in a block is examined, and only once. The checksum
        // covers the bytes as received; the text is read from them after that.
        mLastLine = completed.last().bytes;
        if (!completed.last().checksumOk) return;
        const QString line = DecodeLineText(mLastLine);
        const bool inSession = mStep == hsFile || mStep == hsDir;

        if (line.startsWith(QLatin1String("LOGON "))) {
            const TLogonRequest logon = ParseLogon(line);
            Put(mReport.Job, qkUser, logon.user);
            Put(mReport.Job, qkPassw, logon.password);
            aReport(QStringLiteral("?LOGON ") + logon.user + " **********");
            if (life.expired()) return;
            Execute(true, {hsLogin}, 0, logon.password.isEmpty() ? heLogonDenied : heLogon);
        } else if (line.startsWith(QLatin1String("GET ")) ||
                   line.startsWith(QLatin1String("CHKCRC "))) {
            const bool crc = line.startsWith(QLatin1String("CHKCRC "));
            const TGetRequest get = ParseGet(line);
            aReport(QStringLiteral("?") + get.shown);
            if (life.expired()) return;
            mReport.GlobalFile = get.global;
            mNameCut = get.cut;
            Put(mReport.Job, qkSrcFile, get.name);
            Put(mReport.Job, qkMethod, crc ? QStringLiteral("CRC") : QStringLiteral("SEND"));
            if (inSession) Execute(true, {hsFile}, 0, heFileRequest);
        } else if (line.startsWith(QLatin1String("PUT "))) {
            const TPutRequest put = ParsePut(line);
            aReport(QStringLiteral("?") + put.shown);
            if (life.expired()) return;
            // The size must be a length in bytes: the received file is cut or refused by it.
            // A name that cannot be stored as it came (cut, control characters, one of our own
            // temporary names) is refused before anything is written.
            if (put.valid && validSize(put.size) && !put.cut &&
                received_file::IsStorableName(put.name)) {
                Put(mReport.Job, qkNo, QString());
                Put(mReport.Job, qkDate, DateTimeToStr(QDateTime::currentDateTime()));
                Put(mReport.Job, qkMethod, QStringLiteral("RECV"));
                Put(mReport.Job, qkSrcFile, put.name);
                Put(mReport.Job, qkSize, put.size);
                Put(mReport.Job, qkDestPath, QString());
                if (inSession) Execute(true, {hsFile}, 0, heFileRequest);
            } else if (inSession) {
                // Answered in the Dir step too: a refused request must never go unanswered.
                Execute(true, {hsFile}, 0, heInvalidRequest);
            }
        } else if (line.startsWith(QLatin1String("DIR"))) {
            QString shown = line;
            shown.chop(2);
            aReport(QStringLiteral("?") + shown);
            if (life.expired()) return;
            mReport.GlobalFile = false;
            mReport.BufferTransfer = DirWantsBuffer(shown);
            Put(mReport.Job, qkMethod, QStringLiteral("SEND"));
            if (mReport.BufferTransfer) {
                aReport(QStringLiteral("Using buffer transfer..."));
                Put(mReport.Job, qkSrcFile, QString());
            } else {
                Put(mReport.Job, qkSrcFile, QStringLiteral("DIR.LST"));
            }
            if (inSession) Execute(true, {hsDir}, 0, heDirRequest);
        } else if (line.startsWith(QLatin1String("RESULT"))) {
            aReport(QStringLiteral("?RESULT"));
            Execute(false, {hsFile}, 0, heResult);
        } else if (line.startsWith(QLatin1String("LOGOFF"))) {
            aReport(QStringLiteral("?LOGOFF"));
            Execute(true, {hsCallWait});
        }
    } catch (...) {
        if (!life.expired()) reportError("yPortRxBuf");
    }
}

void THostProcess::yModemOK() {
    try {
        int subStep = 0;
        switch (mModem->Operation()) {
        case moInit:
            mReport.Message = QStringLiteral("Modem initialized.");
            subStep = 3;
            break;
        case moReset:
            mReport.Message = QStringLiteral("Modem reset.");
            subStep = 1;
            break;
        default:
            return;
        }
        aSetStatus(false, 3);
        mTimeoutCount = 0;
        Execute(false, {hsConnect}, uint8_t(subStep));
    } catch (...) {
        reportError("Execute");
    }
}

void THostProcess::yModemBusy() {
    aReport(QStringLiteral("Line is busy."));
    Execute(true, {hsConnect}, 6);
}

void THostProcess::yModemCommandTimeout() {
    aReport(QStringLiteral("Command timeout."));
    try {
        mModem->Reset();
    } catch (...) {
        mStatus.Add(errorText());
    }
    ++mTimeoutCount;
    if (mTimeoutCount <= 9) {
        Execute(false, {hsConnect}, 6);
    } else {
        mTimeoutCount = 0;
        Execute(true, {hsStop});
    }
}

void THostProcess::yModemConnect(const QString& connectString) {
    aReport(connectString);
    Execute(true, {hsConnect}, 5);
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
    aSetStatus(false, 3);
    Execute(true, {hsStop});
}

void THostProcess::yModemNoCarrier() {
    aReport(QStringLiteral("No carrier."));
    mTimeoutCount = 0;
    Execute(true, {hsCallWait});
}

void THostProcess::yModemVoice() {
    aReport(QStringLiteral("Voice line detected."));
    Execute(true, {hsCallWait});
}

void THostProcess::yModemRingDetect(int, bool& accept) {
    const std::weak_ptr<bool> life = mAlive;
    mTimeoutCount = 0;
    Execute(false, {hsConnect}, 4);
    if (life.expired()) {
        accept = false;
        return;
    }
    // The controller answers only when told to; a second ring while the answer is pending must
    // not send another answer command.
    accept = mReport.Modem.Get(mdkAAMode) == QLatin1String("2") && !mModem->CommandPending();
}

void THostProcess::yModemRingWaitTimeout() {
    aReport(QStringLiteral("Timeout answering call."));
    Execute(false, {hsConnect}, 6);
}

void THostProcess::yTransferStart() {
    aFileNotification(0);
}

void THostProcess::yTransferFileInfo(const QString& name) {
    // The transfer may have had to pick another free name for the temporary file.
    if (mXModem->Mode() == tmDownload && !name.isEmpty()) mPartPath = name;
}

void THostProcess::yTransferPacket(qint64 byteCount) {
    aFileNotification(byteCount);
}

void THostProcess::yTransferEnd(int exitCode) {
    const std::weak_ptr<bool> life = mAlive;
    try {
        int code = exitCode;
        const bool receiving = mXModem->Mode() == tmDownload;
        if (code == 0) {
            qint64 announced = 0;
            validSize(Get(mReport.Job, qkSize), &announced);
            if (receiving) {
                try {
                    const QFileInfo info(mPartPath);
                    if (mPartPath.isEmpty() || !info.isFile()) {
                        code = trIncompleteFile;
                    } else if (info.size() > announced) {
                        QFile file(mPartPath);
                        if (!file.resize(announced))
                            throw std::runtime_error(file.errorString().toStdString());
                    } else if (info.size() < announced) {
                        code = trIncompleteFile;
                    }
                } catch (...) {
                    mStatus.Add(errorText());
                    code = trTimeout;
                }
                if (code == 0) {
                    QString error;
                    if (!moveReceivedFile(&error)) {
                        mStatus.Add(QStringLiteral("!THostProcess.DoFile: ") + error);
                        code = trFileWriteError;
                    }
                }
            } else if (mReport.Progress < announced) {
                code = trIncompleteFile;
            }
        }
        mReport.ResultCode = code;
        if (code != 0) {
            aReport(QStringLiteral("File error: ") + TransferErrorText(code));
            if (receiving) discardPartialFile();
            Execute(false, {hsFile, hsDir}, 0, heTransferFailed);
        } else {
            aReport(QStringLiteral("File done."));
            Execute(false, {hsFile, hsDir}, 0, heTransferDone);
        }
    } catch (...) {
        if (!life.expired()) reportError("DoFile");
    }
}

void THostProcess::yTransferError(int code) {
    // Errors the transfer recovers from are only reported; a transfer that gives up ends with
    // its code, and that end is handled once, in yTransferEnd.
    aReport(QStringLiteral("Transfer error: ") + TransferErrorText(code));
}

// ---------------------------------------------------------------------------------------------
// Helpers

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
    if (mPartPath.isEmpty()) return;
    const QString path = mPartPath;
    mPartPath.clear();
    if (!received_file::Discard(path))
        mStatus.Add(QStringLiteral("!THostProcess.DoFile: Partial file cannot be deleted: ") + path);
}

bool THostProcess::moveReceivedFile(QString* error) {
    if (mPartPath.isEmpty() || mFinalPath.isEmpty()) {
        *error = QStringLiteral("No received file.");
        return false;
    }
    // Replaces an older file of that name in one step; one that cannot be replaced keeps its
    // place and the new file takes the next free name.
    if (!received_file::Commit(mPartPath, mFinalPath, error)) {
        const QString other = UniqueFileName(mFinalPath);
        if (!received_file::Commit(mPartPath, other, error)) return false;
        mFinalPath = other;
    }
    mPartPath.clear();
    return true;
}

bool THostProcess::isLineDevice() const {
    const QString type = mDevice.Get(dvkDevType);
    return type == QLatin1String("Direct") || type == QLatin1String("Modem");
}

int THostProcess::deviceDelay(int emptyValue) const {
    const QString text = mDevice.Get(dvkDevDelay).trimmed();
    if (text.isEmpty()) return emptyValue;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 0 ? value : emptyValue;
}
