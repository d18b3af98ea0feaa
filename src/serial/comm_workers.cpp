// The port's worker threads and their hand-off to the main thread.
//
// Each delivery is queued to the main thread (on the port's own receiver object) and the worker
// waits for it. The wait ends when the main thread has handled the delivery or when the port
// stops, so Close and the destructor can wake a waiting worker and join it without waiting for
// the main thread themselves. A delivery that reaches the main thread after its port was closed,
// reopened or destroyed is dropped; one still queued when the port is destroyed goes with the
// port's receiver.
#include "serial/comm_shared.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

TVaCommShared::~TVaCommShared() {
    for (int fd : {EventWake[0], EventWake[1], WriteWake[0], WriteWake[1]})
        if (fd >= 0) ::close(fd);
}

void TVaCommShared::Wake(const int pipe[2]) {
    if (pipe[1] < 0) return;
    const char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] ssize_t n = ::write(pipe[1], &byte, 1);
}

uint32_t TVaCommShared::CollectErrors(bool* breakSeen) {
    if (breakSeen) *breakSeen = false;
    if (!CountsSupported) return 0;
    SerialErrorCounts now;
    if (!Device.ErrorCounts(now)) return 0;
    uint32_t flags = 0;
    if (now.Frame != LastCounts.Frame) flags |= VaCeFrame;
    if (now.Overrun != LastCounts.Overrun) flags |= VaCeOverrun;
    if (now.Parity != LastCounts.Parity) flags |= VaCeRxParity;
    if (now.BufferOverrun != LastCounts.BufferOverrun) flags |= VaCeRxOver;
    if (now.Break != LastCounts.Break) {
        flags |= VaCeBreak;
        if (breakSeen) *breakSeen = true;
    }
    LastCounts = now;
    PendingErrors |= flags;
    return flags;
}

void TVaCommShared::MarkLineLost(int error) {
    {
        std::lock_guard<std::mutex> g(Lock);
        if (LineLost) return;
        LineLost = true;
        LostError = error;
        // Bytes for a line that is gone can never be sent.
        Buffer.Clear();
        TxWatch = false;
    }
    Cond.notify_all();
    Wake(EventWake);
    Wake(WriteWake);
}

namespace {
// One delivery on its way to the main thread. Qt owns the event and deletes it on the main
// thread after it has been handled (or with the receiver), so a worker frees nothing there.
class DeliveryEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const int kind = QEvent::registerEventType();
        return QEvent::Type(kind);
    }
    DeliveryEvent(std::shared_ptr<TVaCommShared> shared, std::shared_ptr<TVaCommDelivery> delivery,
                  bool fromWriter)
        : QEvent(Kind()), Shared(std::move(shared)), Delivery(std::move(delivery)),
          FromWriter(fromWriter) {}
    std::shared_ptr<TVaCommShared> Shared;
    std::shared_ptr<TVaCommDelivery> Delivery;
    bool FromWriter;
};

class DeliveryReceiver : public QObject {
public:
    using QObject::QObject;

protected:
    bool event(QEvent* e) override {
        if (e->type() != DeliveryEvent::Kind()) return QObject::event(e);
        auto* d = static_cast<DeliveryEvent*>(e);
        TVaCommDelivery::Run(d->Shared, d->Delivery, d->FromWriter);
        return true;
    }
};
} // namespace

std::unique_ptr<QObject> MakeCommDeliveryReceiver() {
    if (!QCoreApplication::instance()) return nullptr;
    DeliveryEvent::Kind();
    return std::make_unique<DeliveryReceiver>();
}

std::shared_ptr<TVaCommDelivery> TVaCommDelivery::Post(const std::shared_ptr<TVaCommShared>& shared,
                                                       uint32_t mask, bool fromWriter) {
    auto delivery = std::make_shared<TVaCommDelivery>();
    delivery->Mask = mask;
    if (!shared->Receiver) {
        // No main thread to deliver to: nothing waits for this.
        delivery->Done = true;
        return delivery;
    }
    QCoreApplication::postEvent(shared->Receiver, new DeliveryEvent(shared, delivery, fromWriter));
    return delivery;
}

void TVaCommDelivery::Run(const std::shared_ptr<TVaCommShared>& shared,
                          const std::shared_ptr<TVaCommDelivery>& delivery, bool fromWriter) {
    bool current;
    {
        std::lock_guard<std::mutex> g(shared->Lock);
        current = !shared->Stop && !shared->Life.expired();
    }
    int left = 0;
    bool throttled = false;
    // The port may have been closed (and reopened with new shared state) since this was queued.
    if (current && shared->Port->mShared == shared)
        shared->Port->HandleEventMask(delivery->Mask, &left, &throttled);
    // The port itself may be gone now; only the shared state is touched from here on.
    {
        std::lock_guard<std::mutex> g(shared->Lock);
        delivery->Done = true;
        delivery->LeftUnread = left;
        delivery->Throttled = throttled;
        // Set here, before the worker runs again: a read right after this delivery (from a
        // timer, say) must already wake it.
        if (left > 0) shared->AwaitingRead = true;
        delivery->ReadMark = shared->BytesRead.load();
        delivery->PurgeMark = shared->InputPurges.load();
    }
    shared->Cond.notify_all();
    if (fromWriter) TVaCommShared::Wake(shared->WriteWake);
}

namespace {
void drainPipe(int fd) {
    char sink[64];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}

// Input gathering (TVaComm::SetRxGatherUs): while bytes keep arriving after `queued` were
// found, waits a little longer before they are reported. Ends at once when the thread is woken
// (the port stops, a read, a purge) or the device cannot be asked. Only called while input
// streams in (see CommEventThread): a lone byte, such as an acknowledgement, would only be made
// late by it.
// Fresh input is gathered only when the first look finds fewer bytes than this.
constexpr int GatherFew = 64;
void gatherInput(TVaCommShared& s, int queued) {
    // More than this is reported at once whatever follows.
    constexpr int Enough = 1024;
    const int quietUs = s.RxGatherUs;
    if (quietUs <= 0) return;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(16LL * quietUs);
    int count = queued;
    while (count < Enough && std::chrono::steady_clock::now() < deadline) {
        pollfd wake = {s.EventWake[0], POLLIN, 0};
        const timespec quiet = {quietUs / 1000000, long(quietUs % 1000000) * 1000L};
        if (::ppoll(&wake, 1, &quiet, nullptr) != 0) return;
        const int now = s.Device.InputQueued();
        // Nothing new within the quiet spell: the input has stopped for now.
        if (now <= count) return;
        count = now;
    }
}

// Waits for the delivery to be handled or for the port to stop; false when stopping.
bool waitHandled(TVaCommShared& s, const std::shared_ptr<TVaCommDelivery>& d) {
    std::unique_lock<std::mutex> lk(s.Lock);
    s.Cond.wait(lk, [&] { return d->Done || s.Stop; });
    return !s.Stop;
}

// The event thread's watch over one open device, one look at a time: it waits for the device
// (or a wake-up), finds what is news (input, line errors, modem lines, an emptied output queue,
// a hang-up) and delivers it to the main thread.
class TEventWatch {
public:
    explicit TEventWatch(std::shared_ptr<TVaCommShared> shared);
    void Run();

private:
    // Each step that can end the thread is false when it must (the port stops, poll fails).
    bool takeState(bool* txWatch, bool* lost);
    // The line is lost: reported once, then the thread only waits to be stopped.
    bool whileLost();
    void followPriority();
    // Waits for the device or a wake-up; *deviceEvents: what poll saw on the device, 0 when it
    // was not watched.
    bool waitForDevice(bool watchInput, bool txWatch, short* deviceEvents);
    // Looks for a hang-up and at the bytes waiting (*inQueue). False when the line was found
    // lost (marked; the next look reports it).
    bool lookAtDevice(bool watchInput, short deviceEvents, int* inQueue);
    uint32_t inputEvent(int inQueue, bool watchInput, short deviceEvents);
    uint32_t lineErrorEvents();
    uint32_t modemLineEvents();
    uint32_t txEmptyEvent(bool txWatch);
    bool deliver(uint32_t events);

    std::shared_ptr<TVaCommShared> mShared;
    TVaCommShared& s;
    int mPriority;
    const uint32_t mMask;
    const bool mWantRx;
    bool mWantErrors = false;
    int mLastLines = -1;
    bool mWantLines = false;

    // Bytes already reported and left in the device, as of BytesRead == mSeenReadMark. Whatever
    // is read afterwards comes off that count, so new bytes are told apart from old ones.
    int mSeen = 0;
    bool mSeenThrottled = false; // left because a client had no room: only a wake-up is news
    long long mSeenReadMark = 0;
    int mSeenPurges = 0;
    // When the last input delivery had been handled. Fresh input that follows it within one
    // gathering spell is part of a stream (it came while the main thread was busy with the
    // last), and only then is it gathered: input that starts after a pause, a lone byte above
    // all, is reported at once, so gathering never slows a reply, and a line whose input comes
    // in sparse bursts (a UART's FIFO) is left as it is.
    std::chrono::steady_clock::time_point mLastRxHandled;
    const std::chrono::microseconds mStreamGap;
    bool mHup = false; // the device may have hung up: confirmed by a second look
    bool mLostReported = false;
};

TEventWatch::TEventWatch(std::shared_ptr<TVaCommShared> shared)
    : mShared(std::move(shared)), s(*mShared), mPriority(s.EventPriority.load()),
      mMask(s.EventMask), mWantRx(mMask & VaEvRxChar), mSeenPurges(s.InputPurges.load()),
      mStreamGap(s.RxGatherUs / 2) {
    SetCurrentThreadPriorityStep(mPriority);
    {
        std::lock_guard<std::mutex> g(s.Lock);
        mWantErrors = (mMask & (VaEvErr | VaEvBreak)) && s.CountsSupported;
    }
    if (mMask & (VaEvCts | VaEvDsr | VaEvRing | VaEvRlsd)) mLastLines = s.Device.ModemLines();
    mWantLines = mLastLines >= 0;
}

void TEventWatch::Run() {
    for (;;) {
        bool txWatch, lost;
        if (!takeState(&txWatch, &lost)) return;
        if (lost) {
            if (!whileLost()) return;
            continue;
        }
        followPriority();
        // Watch the device for input only while fresh input would be news; otherwise poll just
        // the wake-up pipe with a time-out, so that a hung-up line or bytes that a handler left
        // unread cannot make the loop spin.
        const bool watchInput = mWantRx && mSeen == 0 && !mHup;
        short deviceEvents = 0;
        if (!waitForDevice(watchInput, txWatch, &deviceEvents)) return;
        int inQueue = 0;
        if (!lookAtDevice(watchInput, deviceEvents, &inQueue)) continue;
        uint32_t events = inputEvent(inQueue, watchInput, deviceEvents);
        events |= lineErrorEvents();
        events |= modemLineEvents();
        events |= txEmptyEvent(txWatch);
        events &= mMask;
        if (events && !deliver(events)) return;
    }
}

bool TEventWatch::takeState(bool* txWatch, bool* lost) {
    std::lock_guard<std::mutex> g(s.Lock);
    if (s.Stop) return false;
    *txWatch = s.TxWatch;
    *lost = s.LineLost;
    return true;
}

bool TEventWatch::whileLost() {
    // Told once; after that nothing comes from the device, so this thread only waits to be
    // stopped.
    if (!mLostReported) {
        mLostReported = true;
        auto delivery = TVaCommDelivery::Post(mShared, CommLineLostBit, false);
        return waitHandled(s, delivery);
    }
    pollfd wake = {s.EventWake[0], POLLIN, 0};
    if (::poll(&wake, 1, -1) < 0 && errno != EINTR) return false;
    drainPipe(s.EventWake[0]);
    return true;
}

void TEventWatch::followPriority() {
    if (const int p = s.EventPriority.load(); p != mPriority) {
        mPriority = p;
        SetCurrentThreadPriorityStep(p);
    }
}

bool TEventWatch::waitForDevice(bool watchInput, bool txWatch, short* deviceEvents) {
    int timeout = -1;
    if (mWantErrors || mWantLines) timeout = 50;
    if (mHup) timeout = timeout < 0 ? 100 : std::min(timeout, 100);
    // Bytes left unread: a read, a purge or a client's ResumeReading wakes this thread at
    // once. Left by an OnRxChar handler, new bytes must still be noticed, so the device is
    // looked at again after a short while; left for lack of room, only a wake-up can change
    // anything (the long time-out is a safety net).
    if (mWantRx && mSeen > 0) {
        const int idle = mSeenThrottled ? 200 : 10;
        timeout = timeout < 0 ? idle : std::min(timeout, idle);
    }
    s.AwaitingRead = mWantRx && mSeen > 0;
    if (txWatch) timeout = timeout < 0 ? 2 : std::min(timeout, 2);

    pollfd fds[2] = {{s.EventWake[0], POLLIN, 0}, {s.Device.Fd(), POLLIN, 0}};
    const int r = ::poll(fds, watchInput ? 2 : 1, timeout);
    if (r < 0 && errno != EINTR) return false;
    if (fds[0].revents & POLLIN) drainPipe(s.EventWake[0]);
    *deviceEvents = fds[1].revents;
    std::lock_guard<std::mutex> g(s.Lock);
    return !s.Stop;
}

bool TEventWatch::lookAtDevice(bool watchInput, short deviceEvents, int* inQueue) {
    // A hang-up: the poll says so, or a look at a device that seemed to have one.
    bool hungUp = watchInput && (deviceEvents & (POLLHUP | POLLERR | POLLNVAL));
    if (mHup && !watchInput) {
        pollfd probe = {s.Device.Fd(), POLLIN, 0};
        hungUp = ::poll(&probe, 1, 0) >= 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL));
    }
    mHup = hungUp;
    if (!mWantRx && !hungUp) return true;
    *inQueue = s.Device.InputQueued();
    // A device that refuses to be asked has gone away (or was hung up by the kernel).
    if (*inQueue < 0 && CommLineGone(-*inQueue)) {
        s.MarkLineLost(-*inQueue);
        return false;
    }
    // Hung up with nothing left to read: the line is lost. Bytes that came before the
    // hang-up are reported first.
    if (hungUp && *inQueue <= 0) {
        s.MarkLineLost(0);
        return false;
    }
    return true;
}

uint32_t TEventWatch::inputEvent(int inQueue, bool watchInput, short deviceEvents) {
    if (!mWantRx) return 0;
    int queued = std::max(0, inQueue);
    // Fresh input in a stream: gathered for a moment while more keeps coming.
    // Many bytes at the first look mean fast input (or a busy main thread): that
    // delivery is worth its hand-off as it is.
    if (queued > 0 && queued < GatherFew && mSeen == 0 && !mHup && s.RxGatherUs > 0 &&
        std::chrono::steady_clock::now() - mLastRxHandled < mStreamGap) {
        gatherInput(s, queued);
        queued = std::max(0, s.Device.InputQueued());
    }
    if (mSeen > 0) {
        const long long readSince = s.BytesRead.load() - mSeenReadMark;
        mSeenReadMark += readSince;
        mSeen = int(std::max<long long>(0, mSeen - readSince));
        if (const int purges = s.InputPurges.load(); purges != mSeenPurges) {
            mSeenPurges = purges;
            mSeen = 0;
        }
        mSeen = std::min(mSeen, queued);
        // Held back for a client without room: offered again at every wake-up.
        if (mSeenThrottled) mSeen = 0;
    }
    mSeenThrottled = false;
    if (queued > mSeen) return VaEvRxChar;
    if (watchInput && (deviceEvents & POLLIN))
        mHup = true; // readable but nothing to read: looked at again (lookAtDevice)
    return 0;
}

uint32_t TEventWatch::lineErrorEvents() {
    if (!mWantErrors) return 0;
    uint32_t events = 0;
    bool breakSeen = false;
    std::lock_guard<std::mutex> g(s.Lock);
    if (s.CollectErrors(&breakSeen) & ~VaCeBreak) events |= VaEvErr;
    if (breakSeen) events |= VaEvBreak;
    return events;
}

uint32_t TEventWatch::modemLineEvents() {
    if (!mWantLines) return 0;
    const int lines = s.Device.ModemLines();
    if (lines < 0) return 0;
    uint32_t events = 0;
    const int changed = lines ^ mLastLines;
    if (changed & SerialLineCts) events |= VaEvCts;
    if (changed & SerialLineDsr) events |= VaEvDsr;
    if (changed & SerialLineCarrier) events |= VaEvRlsd;
    if ((changed & SerialLineRing) && (lines & SerialLineRing)) events |= VaEvRing;
    mLastLines = lines;
    return events;
}

uint32_t TEventWatch::txEmptyEvent(bool txWatch) {
    if (!txWatch || s.Device.OutputQueued() > 0) return 0;
    std::lock_guard<std::mutex> g(s.Lock);
    s.TxWatch = false;
    return VaEvTxEmpty;
}

bool TEventWatch::deliver(uint32_t events) {
    auto delivery = TVaCommDelivery::Post(mShared, events, false);
    if (!waitHandled(s, delivery)) return false;
    if (events & VaEvRxChar) {
        mLastRxHandled = std::chrono::steady_clock::now();
        // Marks taken by the main thread: it may read more before this thread runs again.
        std::lock_guard<std::mutex> g(s.Lock);
        mSeen = delivery->LeftUnread;
        mSeenThrottled = delivery->Throttled;
        mSeenReadMark = delivery->ReadMark;
        mSeenPurges = delivery->PurgeMark;
    }
    return true;
}
} // namespace

void CommEventThread(std::shared_ptr<TVaCommShared> shared) {
    TEventWatch(std::move(shared)).Run();
}

void CommWriteThread(std::shared_ptr<TVaCommShared> shared) {
    TVaCommShared& s = *shared;
    int priority = s.WritePriority.load();
    SetCurrentThreadPriorityStep(priority);

    std::vector<char> chunk(size_t(std::max(1, s.Buffer.Capacity())));
    // The write thread does not sit idle while the main thread handles its transmit-empty or
    // error delivery: it keeps writing, and bits that come up meanwhile go out in the next
    // delivery once the previous one has been handled.
    std::shared_ptr<TVaCommDelivery> outstanding;
    uint32_t owed = 0;
    bool waitWritable = false;
    for (;;) {
        int count = 0;
        {
            std::lock_guard<std::mutex> g(s.Lock);
            if (s.Stop) break;
            if (s.FlushRequested) {
                s.Buffer.Clear();
                s.FlushRequested = false;
                s.FlushDone = true;
                waitWritable = false;
                s.Cond.notify_all();
            }
            if (outstanding && outstanding->Done) outstanding.reset();
            if (!outstanding && owed) {
                outstanding = TVaCommDelivery::Post(shared, owed, true);
                owed = 0;
            }
            if (s.LineLost) waitWritable = false; // the buffer was emptied; nothing more goes
            if (!waitWritable) count = s.Buffer.Peek(chunk.data(), int(chunk.size()));
            s.WriterIdle = count == 0 && !waitWritable;
        }
        if (const int p = s.WritePriority.load(); p != priority) {
            priority = p;
            SetCurrentThreadPriorityStep(p);
        }

        bool failed = false;
        if (count > 0) {
            const int written = s.Device.Write(chunk.data(), count);
            if (written > 0) {
                std::lock_guard<std::mutex> g(s.Lock);
                s.Buffer.Delete(written);
                if (s.Buffer.Empty()) owed |= VaEvTxEmpty;
                s.Cond.notify_all();
                continue;
            }
            if (written == 0) {
                waitWritable = true;
            } else if (CommLineGone(-written)) {
                s.MarkLineLost(-written);
                continue;
            } else {
                failed = true;
            }
        }

        if (!failed) {
            pollfd fds[2] = {{s.WriteWake[0], POLLIN, 0}, {s.Device.Fd(), POLLOUT, 0}};
            const int r = ::poll(fds, waitWritable ? 2 : 1, -1);
            if (r < 0 && errno != EINTR) break;
            if (fds[0].revents & POLLIN) drainPipe(s.WriteWake[0]);
            if (waitWritable && fds[1].revents) {
                waitWritable = false;
                // A line that hangs up can never take the bytes.
                if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) &&
                    !(fds[1].revents & POLLOUT)) {
                    s.MarkLineLost(0);
                    continue;
                }
            }
        }
        if (failed) {
            // The device refused the bytes: they cannot be sent, so they are dropped and the
            // failure is reported as a line error (OnError) rather than retried in a loop.
            std::lock_guard<std::mutex> g(s.Lock);
            s.Buffer.Clear();
            s.PendingErrors |= VaCeIoe;
            owed |= VaEvErr;
            waitWritable = false;
            s.Cond.notify_all();
        }
    }
}
