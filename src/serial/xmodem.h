#pragma once
// The XMODEM transfer engine: moves one file over an open port with XMODEM (128-byte blocks,
// arithmetic checksum), XMODEM-1K (1024-byte blocks, CRC-16) or XMODEM-G (1024-byte blocks,
// CRC-16, no acknowledgement per block).
//
// The transfer runs in a worker thread of its own. Received bytes reach the worker through the
// port's client delivery (main thread); the worker writes to the port directly. OnFileInfo,
// OnPacketEvent and OnError run on the main thread while the worker waits for them;
// OnTransferStart is raised by Start and OnTransferEnd by the end handling, both on the main
// thread. A component runs any number of transfers, one at a time.
#include "serial/comm.h"
#include "serial/xmodem_codes.h"

#include <QString>
#include <functional>
#include <memory>

enum TVaTransferMode { tmUpload, tmDownload };
enum TVaXProtocol { XModem, XModem1K, XModemG };

class TVaProtocolThread;

// Properties, worker management and the events every transfer has.
class TVaProtocol : public TVaCommComponent {
    Q_OBJECT
public:
    using TTransferStart = std::function<void(TVaProtocol* Sender)>;
    using TTransferEnd = std::function<void(TVaProtocol* Sender, int ExitCode)>;
    using TTransferError = std::function<void(TVaProtocol* Sender, int ErrorCode, int ErrorCount)>;

    explicit TVaProtocol(QObject* owner = nullptr);
    ~TVaProtocol() override;

    // Starts a transfer; raises std::runtime_error "Transfer already in progress..." while one
    // runs (and leaves that one alone). Unless armed, the port is purged both ways first; an
    // armed component keeps everything received since Arm and hands it to the transfer.
    void Start();
    // Listens from now on for the transfer that Start will run: bytes that arrive meanwhile (a
    // prompt peer's start character right after a reply) are kept for it instead of being lost
    // to the purge. Disarm, Cancel without a transfer, and the transfer's end undo it.
    void Arm();
    void Disarm();
    bool Armed() const { return mArmed; }
    // Asks the running transfer to end: it sends CAN CAN and ends with -3 at its next byte request
    // or block.
    void Cancel();
    // True while a worker exists (from Start until the end handling has run).
    bool InProgress() const { return mWorker != nullptr; }
    // The result of the last transfer (0 at each start).
    int ExitCode() const { return mExitCode; }

    TVaTransferMode Mode() const { return mMode; }
    void SetMode(TVaTransferMode value) { mMode = value; }
    // Longest wait in ms for the next received byte before a time-out error is counted.
    int Timeout() const { return mTimeout; }
    void SetTimeout(int ms) { mTimeout = ms; }
    // Error count at which a transfer is abandoned; 0 or less never abandons.
    int MaxErrors() const { return mMaxErrors; }
    void SetMaxErrors(int value) { mMaxErrors = value; }
    // Capacity in bytes of the worker's receive queue.
    int BufferSize() const { return mBufferSize; }
    void SetBufferSize(int value) { mBufferSize = value; }
    // How long in ms the port and the line may hold received bytes back beyond their character
    // time: a USB adapter's latency timer (16 ms), a peer that writes a block in pieces, a
    // modem's error correction. A block whose bytes stop for longer than this plus a few dozen
    // character times of the port's speed is taken as broken and asked for again (see
    // xmodem::InBlockQuietMs); the same quiet gap ends the draining of a damaged block. Taken
    // at Start.
    int DeliveryLatency() const { return mDeliveryLatency; }
    void SetDeliveryLatency(int ms) { mDeliveryLatency = ms; }
    static constexpr int DefaultDeliveryLatency = 50;

    TTransferStart OnTransferStart;
    TTransferEnd OnTransferEnd;
    TTransferError OnError;

protected:
    // The worker of one transfer, built from the current properties.
    virtual std::unique_ptr<TVaProtocolThread> CreateWorker() = 0;
    void HandleCommData(const char* Data, int Count) override;
    int HandleCommRoom() override;
    void HandleCommHeldBack() override;
    // The quiet gap after which a block counts as broken, for the port's speed and framing now.
    int InBlockQuietMs() const;
    // Stops and joins a running worker without raising OnTransferEnd. Every destructor in the
    // family calls it first, so the worker never outlives the part of the object it reads.
    void StopWorker();

private:
    friend class TVaProtocolThread;
    // End handling, main thread.
    void WorkerEnded(TVaProtocolThread* worker);

    TVaTransferMode mMode = tmUpload;
    int mTimeout = 60000;
    int mMaxErrors = 10;
    int mBufferSize = 4096;
    int mDeliveryLatency = DefaultDeliveryLatency;
    int mExitCode = 0;
    std::unique_ptr<TVaProtocolThread> mWorker;
    // The last worker after it reported its end: it only winds down now, and is waited for when
    // the next one starts or the component stops, not on the main thread while it handles the
    // end (a worker that the scheduler holds back would hold up every port's events with it).
    std::unique_ptr<TVaProtocolThread> mEndedWorker;
    void releaseEndedWorker();
    bool mArmed = false;
    QByteArray mEarly; // received while armed, before Start
};

// Adds the file events of the block protocols.
class TVaXYModem : public TVaProtocol {
    Q_OBJECT
public:
    using TFileInfo = std::function<void(TVaXYModem* Sender, const QString& Name, qint64 Size)>;
    using TPacketEvent = std::function<void(TVaXYModem* Sender, int Packet, qint64 ByteCount)>;

    using TVaProtocol::TVaProtocol;
    ~TVaXYModem() override;

    // Once per transfer, after the file has been opened or created: the name actually used and
    // the sender's file size (0 when receiving).
    TFileInfo OnFileInfo;
    // After each block sent or written: the block counter (1, 2, 3 ..., not wrapped) and the
    // file position after the block.
    TPacketEvent OnPacketEvent;
};

// XMODEM, XMODEM-1K and XMODEM-G transfers of one file.
class TVaXModem : public TVaXYModem {
    Q_OBJECT
public:
    using TVaXYModem::TVaXYModem;
    ~TVaXModem() override;

    // The file to send, or the file to create (an existing one is kept: the received file gets
    // the first free name, see UniqueFileName).
    QString FileName() const { return mFileName; }
    void SetFileName(const QString& value) { mFileName = value; }
    // Decides the receiver's start character; a sender follows the start character it receives.
    TVaXProtocol Protocol() const { return mProtocol; }
    void SetProtocol(TVaXProtocol value) { mProtocol = value; }

protected:
    std::unique_ptr<TVaProtocolThread> CreateWorker() override;

private:
    QString mFileName;
    TVaXProtocol mProtocol = XModem;
};
