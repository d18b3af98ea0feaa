#include "engine/engine_base.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "core/status.h"
#include "platform/prompt.h"
#include "platform/serial_device.h"

#include <QFileInfo>

#include <cerrno>
#include <exception>
#include <stdexcept>
#include <utility>

TEngineBase::TEngineBase(TDevicesList* owner, TCommDevice& device, const char* className,
                         const char* unknownError)
    : mOwner(owner), mDevice(device), mSettings(owner->Services().settings),
      mStatus(owner->Services().status), mQueue(&owner->Services().queue),
      mModems(&owner->Services().modems), mClassName(className), mUnknownError(unknownError),
      mAlerts(owner->Services().alerts) {}

// The components go here, after the engine's own parts, unless the engine let them go earlier.
TEngineBase::~TEngineBase() {
    JoinBackground();
}

// ---------------------------------------------------------------------------------------------
// Errors

QString TEngineBase::ErrorText() const {
    try {
        throw;
    } catch (const EVaCommError& e) {
        return e.Message();
    } catch (const EVaModemException& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QString::fromLatin1(mUnknownError);
    }
}

void TEngineBase::ReportError(const char* operation, const QString& text) {
    mStatus.ReportOperationError(mClassName, operation, text);
}

bool TEngineBase::OpenPort(const char* operation) {
    const TLife life = Life();
    QString text;
    try {
        mPort->Open();
        return true;
    } catch (...) {
        if (!Alive(life)) return false;
        text = ErrorText();
    }
    ReportError(operation, text);
    // A server tries again every few seconds, a client at every batch: the operator is told
    // once, and again only when the fault changes.
    if (mAlerts && text != mLastAlert) {
        mLastAlert = text;
        mAlerts->MessageBox(text, QString::fromLatin1(ApplicationTitle), TBoxIcon::Error,
                            TBoxButtons::Ok);
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Components

TVaExceptionHandler TEngineBase::StatusHandler() const {
    return [status = &mStatus](const QString& origin, const QString& text) {
        status->Add("!" + origin + ": " + text);
    };
}

void TEngineBase::CreateComponents() {
    const TVaExceptionHandler toStatus = StatusHandler();

    mPort = std::make_unique<TVaComm>();
    mPort->SetExceptionHandler(toStatus);
    mPort->SetPortMapFolder(mSettings.AppDir());
    mPort->SetBaudrate(br56000);
    mPort->Buffers().SetReadSize(78000);
    mPort->Buffers().SetReadTimeout(4000);
    mPort->Buffers().SetWriteTimeout(4000);
    // Input that comes a few bytes at a time (a UART raises every few bytes, linesim writes every
    // 0.1 ms) would reach the main thread in hundreds of deliveries per 1 KB block, and a
    // server's main thread serves every port: eight lines receiving at 115200 bit/s kept it at
    // 80 % of a processor. Gathered while it keeps coming, a block takes a few dozen; the end
    // of a block is reported 0.3 ms after its last byte, a lone byte (an ACK) at once.
    mPort->SetRxGatherUs(300);
    mPort->OnOpen = [this](TVaComm*) {
        mLastAlert.clear();
        Guard("yPortOpen", [&] { yPortOpen(); });
    };
    mPort->OnClose = [this](TVaComm*) { Guard("yPortClose", [&] { yPortClose(); }); };
    mPort->OnError = [this](TVaComm*, uint32_t errors) {
        Guard("yPortError", [&] { yPortError(errors); });
    };
    mPort->OnLineLost = [this](TVaComm*, int error) {
        NoteLineLost();
        Guard("yPortLineLost", [&] { yPortLineLost(error); });
    };
    mDeviceWatch.SetEnabled(false);
    mDeviceWatch.SetInterval(1000);
    HookTimer(mDeviceWatch, "tmDeviceWatch", [this] {
        if (!DevicePresent()) return;
        mDeviceWatch.SetEnabled(false);
        if (const std::function<void()> back = std::exchange(mDeviceBack, {})) back();
    });

    mModem = std::make_unique<TVaModem>();
    mModem->SetExceptionHandler(toStatus);
    mModem->SetActive(false);
    ConfigureModem(*mModem);
    mModem->SetComm(mPort.get());
    mModem->OnOK = [this](TVaCustomModem*) { Guard("yModemOK", [&] { yModemOK(); }); };
    mModem->OnBusy = [this](TVaCustomModem*) { Guard("yModemBusy", [&] { yModemBusy(); }); };
    mModem->OnCommandTimeout = [this](TVaCustomModem*) {
        Guard("yModemCommandTimeout", [&] { yModemCommandTimeout(); });
    };
    mModem->OnConnect = [this](TVaCustomModem*, const QString& line) {
        Guard("yModemConnect", [&] { yModemConnect(line); });
    };
    mModem->OnError = [this](TVaCustomModem*) { Guard("yModemError", [&] { yModemError(); }); };
    mModem->OnNoCarrier = [this](TVaCustomModem*) {
        Guard("yModemNoCarrier", [&] { yModemNoCarrier(); });
    };
    mModem->OnVoice = [this](TVaCustomModem*) { Guard("yModemVoice", [&] { yModemVoice(); }); };

    mXModem = std::make_unique<TVaXModem>();
    mXModem->SetExceptionHandler(toStatus);
    mXModem->SetProtocol(XModem1K);
    // A modem's error correction holds bytes back for as long as it takes to repeat a frame the
    // telephone line damaged, and the port's speed is not the line's: a block is given the
    // second it always had. A direct line follows its own speed (TVaProtocol::DeliveryLatency).
    if (IsModemDevice()) mXModem->SetDeliveryLatency(1000);
    mXModem->SetComm(mPort.get());
    mXModem->OnTransferStart = [this](TVaProtocol*) {
        Guard("yTransferStart", [&] { aFileNotification(0); });
    };
    mXModem->OnFileInfo = [this](TVaXYModem*, const QString& name, qint64 size) {
        Guard("yTransferFileInfo", [&] { yTransferFileInfo(name, size); });
    };
    mXModem->OnPacketEvent = [this](TVaXYModem*, int, qint64 bytes) {
        Guard("yTransferPacket", [&] { aFileNotification(bytes); });
    };
    mXModem->OnTransferEnd = [this](TVaProtocol*, int code) {
        Guard("yTransferEnd", [&] { yTransferEnd(code); });
    };
    mXModem->OnError = [this](TVaProtocol*, int code, int) {
        Guard("yTransferError", [&] { yTransferError(code); });
    };
}

void TEngineBase::DetachComponents() {
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
        mModem->OnNoDialTone = nullptr;
        mModem->OnVoice = nullptr;
        mModem->OnDialTimeout = nullptr;
        mModem->OnRingDetect = nullptr;
        mModem->OnRingWaitTimeout = nullptr;
    }
    if (mPort) {
        mPort->OnOpen = nullptr;
        mPort->OnClose = nullptr;
        mPort->OnError = nullptr;
        mPort->OnLineLost = nullptr;
        mPort->OnRxBuf = nullptr;
    }
    StopDeviceWatch();
    mDeviceWatch.SetOnTimer(nullptr);
}

void TEngineBase::HookTimer(TVaTimer& timer, const char* operation, std::function<void()> handler) {
    timer.SetExceptionHandler(StatusHandler());
    timer.SetOnTimer(
        [this, operation, handler = std::move(handler)](TVaTimer*) { Guard(operation, handler); });
}

// ---------------------------------------------------------------------------------------------
// Work off the main thread

void TEngineBase::RunInBackground(std::function<void()> work, std::function<void()> done) {
    JoinBackground();
    QObject* receiver = mBackgroundReceiver.get();
    mBackground = std::thread([receiver, life = Life(), work = std::move(work),
                               done = std::move(done)]() mutable {
        // The work reports its own outcome to `done`; nothing it raises may end the program.
        try {
            work();
        } catch (...) {
        }
        QMetaObject::invokeMethod(
            receiver,
            [life, done = std::move(done)]() {
                if (Alive(life)) done();
            },
            Qt::QueuedConnection);
    });
}

void TEngineBase::JoinBackground() {
    if (mBackground.joinable()) mBackground.join();
}

// ---------------------------------------------------------------------------------------------
// Waits

bool TEngineBase::WaitDrained(int ms) {
    const TLife life = Life();
    const quint64 losses = mLineLosses;
    TVaComm* port = mPort.get();
    WaitFor(
        [&, life, port] { return !Alive(life) || mLineLosses != losses || port->OutputDrained(); },
        ms);
    return Alive(life) && mLineLosses == losses;
}

bool TEngineBase::Pause(int ms) {
    const TLife life = Life();
    const quint64 losses = mLineLosses;
    Delay(ms);
    return Alive(life) && mLineLosses == losses;
}

// ---------------------------------------------------------------------------------------------
// A lost line

QString TEngineBase::LineLostText(int error) const {
    const QString path = mPort->OpenedPath();
    // The device node (or the link that named it) went with the device: it was pulled.
    const bool gone = !path.isEmpty() && !QFileInfo::exists(path);
    QString text =
        QStringLiteral("Line lost on ") + mPort->FormattedDeviceName() + " (" + path + "): " +
        (gone ? QStringLiteral("the device is gone") : QStringLiteral("the device hung up"));
    if (error != 0) text += " (" + SystemErrorText(error) + ")";
    return text;
}

bool TEngineBase::DevicePresent() const {
    return QFileInfo::exists(mPort->DevicePath());
}

void TEngineBase::WatchForDevice(std::function<void()> back) {
    mDeviceBack = std::move(back);
    mDeviceWatch.SetEnabled(false);
    mDeviceWatch.SetEnabled(true);
}

void TEngineBase::StopDeviceWatch() {
    mDeviceWatch.SetEnabled(false);
    mDeviceBack = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The device

QString TEngineBase::TakeExtraCommand() {
    const qsizetype end = mExtraCommands.indexOf(QLatin1String("|||"));
    QString command;
    if (end >= 0) {
        command = mExtraCommands.left(end);
        mExtraCommands.remove(0, end + 3);
    } else {
        command = mExtraCommands;
        mExtraCommands.clear();
    }
    return command;
}

bool TEngineBase::LoadDeviceModem(TModemSettings& modem) const {
    modem[mdkGUID].StrValue.clear();
    const QString guid = mDevice.Get(dvkDevGUID);
    for (int i = 0; mModems && i < mModems->Count(); ++i) {
        if (mModems->GetSetting(i, mdkGUID) != guid) continue;
        if (const TModemSettings* entry = mModems->GetModem(i)) modem = *entry;
        break;
    }
    return !modem.Get(mdkGUID).isEmpty();
}

void TEngineBase::SetModemFlowControl() {
    TVaFlowControl& flow = mPort->FlowControl();
    flow.SetControlDtr(dtrHandshake);
    flow.SetControlRts(rtsHandshake);
    flow.SetOutCtsFlow(true);
    flow.SetOutDsrFlow(true);
    flow.SetDsrSensitivity(true);
}

int TEngineBase::ToIntOrThrow(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        throw std::runtime_error(("'" + text + "' is not a valid integer value").toStdString());
    return value;
}

QString TEngineBase::PortErrorText(uint32_t errors) {
    QString text = QStringLiteral("COM port error (") + QString::number(errors) + "): ";
    if (errors & VaCeFrame) text += QLatin1String("ERR_FRAME ");
    if (errors & VaCeOverrun) text += QLatin1String("ERR_OVERRUN ");
    if (errors & VaCeRxParity) text += QLatin1String("ERR_RXPARITY");
    return text;
}

TLinkFeatures TEngineBase::LocalFeatures() const {
    TLinkFeatures features;
    if (mSettings.GetBool(MRL_Resume)) features.Include(TLinkFeature::Resume);
    return features;
}

int TEngineBase::ExtensionWait() const {
    int bitsPerSecond = 0, bitsPerCharacter = 10;
    if (mPort) {
        bitsPerSecond = mPort->BitsPerSecond();
        bitsPerCharacter = mPort->BitsPerCharacter();
    }
    const int latency = mXModem ? mXModem->DeliveryLatency() : TVaProtocol::DefaultDeliveryLatency;
    return ExtensionWaitMs(bitsPerSecond, bitsPerCharacter, latency);
}
