#include "serial/xmodem.h"

#include "serial/xmodem_block.h"
#include "serial/xmodem_thread.h"

#include <algorithm>
#include <stdexcept>

// ---------------------------------------------------------------------------------------------
// TVaProtocol

TVaProtocol::TVaProtocol(QObject* owner) : TVaCommComponent(owner) {
    // Listens to its port only while a transfer runs.
    SetActive(false);
}

TVaProtocol::~TVaProtocol() {
    StopWorker();
}

void TVaProtocol::Start() {
    if (mWorker) throw std::runtime_error("Transfer already in progress...");
    releaseEndedWorker();
    mExitCode = 0;
    const bool armed = mArmed;
    const QByteArray early = mEarly;
    mArmed = false;
    mEarly.clear();
    if (!armed) PurgeReadWrite();
    mWorker = CreateWorker();
    if (!early.isEmpty()) mWorker->Deliver(early.constData(), int(early.size()));
    SetActive(true);
    // Bytes held back while armed are for the worker's larger queue.
    if (armed)
        if (TVaComm* port = Comm()) port->ResumeReading();
    if (OnTransferStart) {
        try {
            OnTransferStart(this);
        } catch (...) {
            HandleException(QStringLiteral("TVaProtocol.OnTransferStart"));
        }
    }
    // A Cancel from the handler is already flagged; the worker acts on it at its first byte.
    mWorker->start(QThread::HighPriority);
}

void TVaProtocol::Cancel() {
    if (mWorker)
        mWorker->Cancel();
    else
        Disarm();
}

void TVaProtocol::Arm() {
    if (mWorker) return;
    mArmed = true;
    mEarly.clear();
    SetActive(true);
}

void TVaProtocol::Disarm() {
    if (!mArmed) return;
    mArmed = false;
    mEarly.clear();
    if (!mWorker) SetActive(false);
}

void TVaProtocol::HandleCommData(const char* Data, int Count) {
    if (Count <= 0) return;
    if (mWorker) {
        mWorker->Deliver(Data, Count);
    } else if (mArmed) {
        // Bounded by HandleCommRoom: the rest waits in the device.
        mEarly.append(Data, std::min<qsizetype>(Count, std::max(0, mBufferSize) - mEarly.size()));
    }
}

void TVaProtocol::HandleCommHeldBack() {
    if (mWorker) mWorker->HeldBack();
}

int TVaProtocol::HandleCommRoom() {
    if (mWorker) return mWorker->Room();
    if (mArmed) return int(std::max<qsizetype>(0, std::max(0, mBufferSize) - mEarly.size()));
    return -1;
}

int TVaProtocol::InBlockQuietMs() const {
    int bitsPerSecond = 0, bitsPerCharacter = 10;
    if (TVaComm* port = Comm()) {
        bitsPerSecond = port->BitsPerSecond();
        bitsPerCharacter = port->BitsPerCharacter();
    }
    return xmodem::InBlockQuietMs(bitsPerSecond, bitsPerCharacter, mDeliveryLatency, mTimeout);
}

void TVaProtocol::releaseEndedWorker() {
    if (!mEndedWorker) return;
    mEndedWorker->wait();
    mEndedWorker.reset();
}

void TVaProtocol::StopWorker() {
    mArmed = false;
    mEarly.clear();
    releaseEndedWorker();
    if (!mWorker) return;
    mWorker->Stop();
    mWorker->wait();
    mWorker.reset();
    SetActive(false);
}

void TVaProtocol::WorkerEnded(TVaProtocolThread* worker) {
    if (worker != mWorker.get()) return;
    // Its outcome was set before it posted this call, its last act.
    mExitCode = mWorker->ExitCode();
    const QString portError = mWorker->PortError();
    releaseEndedWorker();
    mEndedWorker = std::move(mWorker);
    SetActive(false);
    // Bytes held back for the transfer's queue are now for the port's other clients.
    if (TVaComm* port = Comm()) port->ResumeReading();
    if (!portError.isEmpty()) {
        try {
            throw EVaCommError(portError);
        } catch (...) {
            HandleException(QStringLiteral("TVaXModem.Execute"));
        }
    }
    if (OnTransferEnd) {
        try {
            // Last use of this object: the handler may destroy it.
            OnTransferEnd(this, mExitCode);
        } catch (...) {
            HandleException(QStringLiteral("TVaProtocol.OnTransferEnd"));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TVaXYModem, TVaXModem

TVaXYModem::~TVaXYModem() {
    StopWorker();
}

TVaXModem::~TVaXModem() {
    StopWorker();
}

std::unique_ptr<TVaProtocolThread> TVaXModem::CreateWorker() {
    TVaProtocolThread::TSettings settings;
    settings.Mode = Mode();
    settings.Timeout = Timeout();
    settings.MaxErrors = MaxErrors();
    settings.BufferSize = BufferSize();
    settings.QuietMs = InBlockQuietMs();
    return std::make_unique<TVaXModemThread>(this, settings,
                                             TVaXYModemThread::TFileSettings{mFileName, mProtocol});
}
