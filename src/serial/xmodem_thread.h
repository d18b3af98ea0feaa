#pragma once
// The worker threads of the XMODEM engine. TVaProtocolThread holds the receive queue, the byte
// reads and writes, error counting and the hand-over of events to the main thread;
// TVaXYModemThread the block and file procedures; TVaXModemThread chooses sending or receiving.
//
// Every way out of a transfer procedure is an abort with a result code (TTransferAbort), caught
// in run(); the code becomes the component's exit code.
#include "serial/xmodem.h"
#include "serial/xmodem_block.h"

#include <QFile>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Thrown by Abort: ends the transfer procedure with `code`.
struct TTransferAbort {
    int code;
};

class TVaProtocolThread : public QThread {
public:
    // Everything the worker reads from its component, copied at Start.
    struct TSettings {
        TVaTransferMode Mode = tmUpload;
        int Timeout = 60000;
        int MaxErrors = 10;
        int BufferSize = 4096;
    };

    TVaProtocolThread(TVaProtocol* owner, const TSettings& settings);
    ~TVaProtocolThread() override;

    // Main thread: a chunk of received bytes for the queue. When it does not fit, the overrun
    // flag is set and this and every later chunk are dropped.
    void Deliver(const char* data, int count);
    // Main thread: ends the transfer with -3 at its next byte request or block.
    void Cancel();
    // Main thread: the component is going away. Cancels, stops all writes to the port, releases
    // any wait for the main thread and drops every main-thread call not yet run.
    void Stop();

    int ExitCode() const { return mExitCode; }
    // The text of an error raised by the port itself (empty when none).
    const QString& PortError() const { return mPortError; }

protected:
    void run() override;
    // The transfer procedure; leaves only through Abort (or an exception from the port).
    virtual void Execute() = 0;

    // Next received byte. Waits up to Timeout ms at a time, counting each expiry as error -1
    // (no CAN at the limit). An overrun sends CAN CAN and aborts with -14; a cancelled transfer
    // returns 0.
    int ReadByte();
    // Fills `dest` with `count` received bytes under the same rules as ReadByte; once cancelled
    // the rest is filled with 0.
    void ReadBytes(uint8_t* dest, int count);
    // The first queued byte without taking it, or -1 when the queue is empty.
    int PeekByte();
    // Writes to the port (nothing once stopped). The port accepting fewer bytes than asked (it
    // was closed) aborts with -2.
    void SendBytes(const uint8_t* data, int count);
    void SendByte(uint8_t byte) { SendBytes(&byte, 1); }
    void SendCanCan();
    // Counts a recoverable error. At MaxErrors: sends CAN CAN when `canAtLimit`, aborts with -9.
    // Below it: raises OnError on the main thread.
    void CountError(int code, bool canAtLimit);
    [[noreturn]] void Abort(int code) { throw TTransferAbort{code}; }
    bool Cancelled();
    // Runs `call` on the main thread and waits until it has run; an exception from it goes to
    // the application's exception handler under `origin`. Returns false without running it once
    // the worker has been stopped.
    bool Synchronize(const char* origin, std::function<void()> call);
    // Closes the open file; run() calls it on every way out.
    virtual void CloseStreams() {}
    // Called after each counted time-out (a receiver repeats its start character there).
    virtual void TimedOut() {}

    TVaProtocol* const mOwner;
    const TSettings mSettings;

private:
    // Waits until bytes are queued, the transfer is cancelled or the queue overran. Returns with
    // the lock held.
    void WaitForData(std::unique_lock<std::mutex>& lock);

    // What the worker shares with the calls it posts to the main thread. Those calls keep it
    // alive, so a call that runs after its worker (or component) has gone finds it intact, sees
    // Stopped and does nothing.
    struct TShared {
        std::mutex Lock;
        std::condition_variable Signal; // data arrived, cancel, stop, main-thread call done
        bool Stopped = false;
        quint64 CallsDone = 0;
    };
    // Posts `call` to the main thread; it runs only while the worker has not been stopped.
    // False when there is no application object to run it.
    bool Post(std::function<void()> call, quint64 ticket, const char* origin);

    std::shared_ptr<TShared> mShared;
    // Guarded by mShared->Lock:
    std::vector<uint8_t> mQueue; // ring buffer of BufferSize bytes
    int mHead = 0;
    int mCount = 0;
    bool mOverrun = false;
    bool mCancel = false;
    quint64 mCallsPosted = 0;
    // Worker only:
    int mErrorCount = 0;
    int mLastError = 0;
    int mExitCode = 0;
    QString mPortError;
};

class TVaXYModemThread : public TVaProtocolThread {
public:
    struct TFileSettings {
        QString FileName;
        TVaXProtocol Protocol = XModem;
    };
    TVaXYModemThread(TVaXYModem* owner, const TSettings& settings, const TFileSettings& file);

protected:
    void SendFile();
    void ReceiveFile();
    void TimedOut() override;
    void CloseStreams() override;

private:
    void SendBlock(int counter, int blockSize, uint8_t start);
    void SendEndOfFile();
    // Receives the next block into the block buffer; returns its data size.
    int ReceiveBlock(int counter);
    void RaiseFileInfo();
    void RaisePacketEvent();

    TVaXYModem* const mXYOwner;
    const TFileSettings mFile;
    QFile mStream;
    uint8_t mBlock[xmodem::LargeBlock];
    QString mCurrentName;
    qint64 mCurrentSize = 0;
    int mPacket = 0;
    qint64 mByteCount = 0;
    // The receiver's start character, repeated on time-outs until the first block header came.
    int mPendingStart = -1;
};

class TVaXModemThread : public TVaXYModemThread {
public:
    using TVaXYModemThread::TVaXYModemThread;

protected:
    void Execute() override;
};
