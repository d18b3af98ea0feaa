#include "serial/xmodem.h"

#include "serial/xmodem_thread.h"

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
    mExitCode = 0;
    PurgeReadWrite();
    mWorker = CreateWorker();
    SetActive(true);
    if (OnTransferStart) {
        try {
            OnTransferStart(this);
        } catch (...) {
            VaHandleException(QStringLiteral("TVaProtocol.OnTransferStart"));
        }
    }
    // A Cancel from the handler is already flagged; the worker acts on it at its first byte.
    mWorker->start(QThread::HighPriority);
}

void TVaProtocol::Cancel() {
    if (mWorker) mWorker->Cancel();
}

void TVaProtocol::HandleCommData(const char* Data, int Count) {
    if (Count <= 0 || !mWorker) return;
    mWorker->Deliver(Data, Count);
}

void TVaProtocol::StopWorker() {
    if (!mWorker) return;
    mWorker->Stop();
    mWorker->wait();
    mWorker.reset();
    SetActive(false);
}

void TVaProtocol::WorkerEnded(TVaProtocolThread* worker) {
    if (worker != mWorker.get()) return;
    mWorker->wait();
    mExitCode = mWorker->ExitCode();
    const QString portError = mWorker->PortError();
    mWorker.reset();
    SetActive(false);
    if (!portError.isEmpty()) {
        try {
            throw EVaCommError(portError);
        } catch (...) {
            VaHandleException(QStringLiteral("TVaXModem.Execute"));
        }
    }
    if (OnTransferEnd) {
        try {
            // Last use of this object: the handler may destroy it.
            OnTransferEnd(this, mExitCode);
        } catch (...) {
            VaHandleException(QStringLiteral("TVaProtocol.OnTransferEnd"));
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
    return std::make_unique<TVaXModemThread>(this, settings,
                                             TVaXYModemThread::TFileSettings{mFileName, mProtocol});
}
