#pragma once
// The worker threads of the XMODEM engine. TVaProtocolThread holds the receive queue, the byte
// reads and writes, error counting and the hand-over of events to the main thread;
// TVaXYModemThread the block and file procedures; TVaXModemThread chooses sending or receiving.
//
// Every way out of a transfer procedure is an abort with a result code (TTransferAbort), caught
// in run(); the code becomes the component's exit code.
#include "serial/xmodem.h"
#include "serial/xmodem_block.h"

#include <QByteArray>
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
        // A block whose bytes stop for this long is broken; a damaged block or answer has been
        // drained once the line was this long quiet (TVaProtocol::InBlockQuietMs).
        int QuietMs = 1000;
    };

    TVaProtocolThread(TVaProtocol* owner, const TSettings& settings);
    ~TVaProtocolThread() override;

    // Main thread: a chunk of received bytes for the queue. When it does not fit, the overrun
    // flag is set and this and every later chunk are dropped.
    void Deliver(const char* data, int count);
    // Main thread: free bytes in the queue. The port delivers no more than that; once it has
    // been found full, the worker asks the port to read again when it has taken bytes out.
    int Room();
    // Main thread: the port left bytes in the device for lack of room; the worker asks it to
    // read again once it has taken bytes out.
    void HeldBack();
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

    // ReadByteWithin's answer when no byte came in time.
    static constexpr int Silent = -1;
    // Next received byte within `ms`, or Silent; no error is counted. An overrun sends CAN CAN
    // and aborts with -14; a cancelled transfer returns 0.
    int ReadByteWithin(int ms);
    // How long to wait for the second CAN of a cancel.
    int SecondCanWait() const;
    // Next received byte. Waits up to Timeout ms at a time, counting each expiry as error -1
    // (no CAN at the limit) and calling TimedOut.
    int ReadByte();
    // Fills `dest` with `count` received bytes, each within `ms` of the one before; false when
    // one did not come in time. Bytes that wait in the port's device, not yet handed over (the
    // main thread was busy), are still on their way: the wait goes on for them, up to Timeout.
    // Once cancelled the rest is filled with 0.
    bool ReadBytesWithin(uint8_t* dest, int count, int ms);
    // The first queued byte without taking it, or -1 when the queue is empty.
    int PeekByte();
    // Drops the bytes queued so far and returns them.
    QByteArray DiscardQueued();
    // Drops received bytes until the line has been quiet for `quietMs` (or `limitMs` have
    // passed): what is left of a damaged block or reply must not be read as the next one.
    void Drain(int quietMs, int limitMs);
    // Writes to the port (nothing once stopped). The port accepting fewer bytes than asked (it
    // was closed) aborts with -2.
    void SendBytes(const uint8_t* data, int count);
    void SendByte(uint8_t byte) { SendBytes(&byte, 1); }
    void SendCanCan();
    // Counts a recoverable error. At MaxErrors errors in a row: sends CAN CAN when `canAtLimit`,
    // aborts with -9. Below it: raises OnError on the main thread with the transfer's count.
    void CountError(int code, bool canAtLimit);
    // A block went through: the errors in a row start again from 0.
    void ResetErrors() { mErrorCount = 0; }
    [[noreturn]] void Abort(int code) { throw TTransferAbort{code}; }
    bool Cancelled();
    // Runs `call` on the main thread and waits until it has run; an exception from it goes to
    // the application's exception handler under `origin`. Returns false without running it once
    // the worker has been stopped.
    bool Synchronize(const char* origin, std::function<void()> call);
    // Runs `call` on the main thread without waiting for it (in order with every other call);
    // nothing runs once the worker has been stopped.
    void Notify(const char* origin, std::function<void()> call);
    // Closes the open file; run() calls it on every way out.
    virtual void CloseStreams() {}
    // Called after each counted time-out (a receiver repeats its start character there).
    virtual void TimedOut() {}

    TVaProtocol* const mOwner;
    const TSettings mSettings;

private:
    // True when the port's device holds received bytes that have not been handed over yet.
    bool DeviceHoldsInput();
    // Waits up to `ms` until bytes are queued, the transfer is cancelled or the queue overran;
    // false when none of these happened in time. Returns with the lock held.
    bool WaitForData(std::unique_lock<std::mutex>& lock, int ms);
    // Takes `count` queued bytes (into `dest` unless null); lock held. Tells the port to read
    // again when it was held back by a full queue and there is room now.
    void TakeQueued(std::unique_lock<std::mutex>& lock, uint8_t* dest, int count);

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
    bool mResumeWanted = false; // the port found the queue full
    // Worker only:
    int mErrorCount = 0;  // in a row, since the last block that went through
    int mTotalErrors = 0; // in the whole transfer
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
    // Before a block or EOT goes out: drops the answers still queued from earlier ones, but ends
    // the transfer with -4 when the peer cancelled (CAN CAN) among them.
    void DropStaleAnswers();
    // After a damaged block or a stray byte: drains the line and asks for the block again. A
    // line that is already known to be quiet (the block's bytes stopped) is not waited for.
    void Reject(int code, bool canAtLimit, bool lineQuiet = false);
    // After a NAK: passes over what is left of the block refused until a block's start (SOH,
    // STX) comes, from `byte` on; Silent when the line stays quiet for CopyWaitMs first.
    int HuntHeader(int byte);
    int CopyWaitMs() const;
    // Waits for a block's header byte: repeats the start character (before the first block) or
    // NAK (after it) every few seconds of silence and counts -1 per Timeout of silence.
    int ReadHeader();
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
    // A NAK went out; the copy it asked for is awaited (HuntHeader).
    bool mAwaitingResend = false;
    // The receiver's quiet gap: TSettings::QuietMs, doubled when bytes of a block given up on
    // come after all (once for each NAK), halved again after 16 blocks in a row that needed no
    // NAK.
    int mQuietMs;
    int mCleanBlocks = 0;
    // Stale bytes after this NAK have not yet made the quiet gap grow.
    bool mGapMayGrow = false;
};

class TVaXModemThread : public TVaXYModemThread {
public:
    using TVaXYModemThread::TVaXYModemThread;

protected:
    void Execute() override;
};
