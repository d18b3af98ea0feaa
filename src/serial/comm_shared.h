#pragma once
// State of one open port that its worker threads share with the main thread. The port holds it
// while open; each worker and each delivery in flight holds it too, so it outlives a port that is
// closed or destroyed while a delivery waits on the main thread.
#include "platform/serial_device.h"
#include "serial/comm.h"
#include "serial/comm_buffer.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// The delivery bit of a lost line (TVaComm::OnLineLost); never a device event, never handed to
// clients.
constexpr uint32_t CommLineLostBit = 0x10000;

// Errors by which a device says it has hung up or gone away (a USB adapter pulled, the far side
// of a pseudo-terminal closed): nothing will ever pass through that open device again.
inline bool CommLineGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

// One hand-off from a worker to the main thread. The worker waits until Done (or until the port
// stops); the main thread fills LeftUnread: bytes it reported in OnRxChar and left in the device.
struct TVaCommDelivery {
    uint32_t Mask = 0;
    bool Done = false;
    int LeftUnread = 0;
    bool Throttled = false; // bytes were left because a client had no room for them
    long long ReadMark = 0; // BytesRead when LeftUnread was taken
    int PurgeMark = 0;      // InputPurges at that moment

    // Queues the delivery for the main thread (runs Run there).
    static std::shared_ptr<TVaCommDelivery> Post(const std::shared_ptr<TVaCommShared>& shared,
                                                 uint32_t mask, bool fromWriter);
    static void Run(const std::shared_ptr<TVaCommShared>& shared,
                    const std::shared_ptr<TVaCommDelivery>& delivery, bool fromWriter);
};

struct TVaCommShared {
    explicit TVaCommShared(int writeSize) : Buffer(writeSize) {}
    ~TVaCommShared();

    // Wakes a worker out of its poll.
    static void Wake(const int pipe[2]);

    SerialDevice Device; // closed only after both workers have ended

    // Lock order. Where a thread holds more than one of the port's locks, it takes them in this
    // order, outermost first, and never the other way round:
    //
    //   DirectLock -> ReadLock -> Lock
    //
    // - Lock is innermost: nothing else is taken while it is held. The workers take it alone
    //   (TVaCommDelivery::Run, the event thread's TEventWatch, CommWriteThread), as do buffered
    //   WriteData, OutputDrained and the port's delivery of a lost line; Cond waits on it.
    // - ReadLock -> Lock: Purge and GetStatus (TVaComm), and CloseDevice when it stops the
    //   workers. ReadData and BytesWaiting take ReadLock alone.
    // - DirectLock -> Lock: a direct WriteData (Lock briefly, for Stop and TxWatch).
    // - DirectLock -> ReadLock -> Lock: CloseDevice closing the device, so that a direct write
    //   or a read on another thread has finished with it first.
    // - TVaComm::mSharedLock (comm.h) is taken alone: Shared(), Open and CloseDevice hold it only
    //   to read or swap the mShared pointer, never while taking or holding any lock here.
    // Workers wait for the main thread (waitHandled) on Cond, that is with Lock released; the
    // main thread's delivery handling (TVaCommDelivery::Run) calls the port's handlers with no
    // lock held, so a handler may read, write, purge or close.
    std::mutex ReadLock;   // reads, status queries, purges, closing
    std::mutex Lock;       // the write lock: buffer, flags, deliveries, error flags
    std::mutex DirectLock; // the whole of a direct write
    std::condition_variable Cond;

    // Under Lock.
    TVaCommBuffer Buffer;
    bool Stop = false;
    bool FlushRequested = false;
    bool FlushDone = false;
    bool WriterIdle = false; // the write thread sleeps until woken
    bool TxWatch = false;    // direct write done: report transmit-empty when the device drains
    uint32_t PendingErrors = 0;
    bool CountsSupported = false;
    // The line is lost (see MarkLineLost); LostError is the errno that told, 0 for a hang-up
    // seen only as such. Once lost, nothing is read from or written to the device any more.
    bool LineLost = false;
    int LostError = 0;
    SerialErrorCounts LastCounts;

    // Fixed at open.
    uint32_t EventMask = 0;
    bool DirectWrite = false;
    int RxGatherUs = 0;          // TVaComm::SetRxGatherUs
    QObject* Receiver = nullptr; // runs the deliveries on the main thread (owned by the port)
    TVaComm* Port = nullptr;     // dereferenced on the main thread only, after checking Life
    std::weak_ptr<char> Life;    // expires when the port is destroyed

    std::atomic<int> ReadTimeout{1000};
    std::atomic<int> WriteTimeout{1000};
    std::atomic<int> EventPriority{tpNormal};
    std::atomic<int> WritePriority{tpHighest};
    std::atomic<long long> BytesRead{0}; // by ReadData, ever
    std::atomic<int> InputPurges{0};     // purges of the input queue, ever
    std::atomic<bool> NullStrip{false};
    // The event thread waits for bytes it reported to be read (or for room): a read, a purge or
    // ResumeReading wakes it.
    std::atomic<bool> AwaitingRead{false};

    int EventWake[2] = {-1, -1};
    int WriteWake[2] = {-1, -1};
    std::thread EventThread;
    std::thread WriteThread;

    // New line-error flags since the last call, added to PendingErrors (caller holds Lock).
    // *breakSeen tells whether a break arrived.
    uint32_t CollectErrors(bool* breakSeen = nullptr);
    // Any thread: the device hung up or went away, as told by `error` (0: a hang-up alone).
    // The first call records it and wakes the event thread, which reports it once; pending
    // writes are dropped. Takes Lock.
    void MarkLineLost(int error);
    bool IsLineLost() {
        std::lock_guard<std::mutex> g(Lock);
        return LineLost;
    }
};

// A new object that runs the deliveries of one port on the thread that makes it (the main
// thread); the port owns it. Null without an application object: nothing would run them.
std::unique_ptr<QObject> MakeCommDeliveryReceiver();

void CommEventThread(std::shared_ptr<TVaCommShared> shared);
void CommWriteThread(std::shared_ptr<TVaCommShared> shared);
