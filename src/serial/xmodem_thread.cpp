#include "serial/xmodem_thread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "serial/xmodem_file_name.h"

using namespace xmodem;

namespace {
// The port's text when its pending-write buffer stays full for its whole write time-out.
constexpr char OutputBufferFullText[] = "Output buffer is full. Please check comm status.";
// A receiver waiting for a block repeats its start character or NAK this often while the line
// is silent, so that a lost start, ACK or NAK costs seconds, not a whole Timeout.
constexpr int HeaderRepeatMs = 10000;
// A peer's cancel is CAN CAN; a single CAN is taken for line noise when no second one follows
// within this time (or within the transfer's Timeout, when that is shorter).
constexpr int SecondCanMs = 1000;
} // namespace

// ---------------------------------------------------------------------------------------------
// TVaProtocolThread

TVaProtocolThread::TVaProtocolThread(TVaProtocol* owner, const TSettings& settings)
    : mOwner(owner), mSettings(settings), mShared(std::make_shared<TShared>()),
      mQueue(static_cast<std::size_t>(std::max(0, settings.BufferSize))) {}

TVaProtocolThread::~TVaProtocolThread() {
    Stop();
    wait();
}

void TVaProtocolThread::Deliver(const char* data, int count) {
    {
        std::lock_guard guard(mShared->Lock);
        const int capacity = int(mQueue.size());
        if (mOverrun || count > capacity - mCount) {
            mOverrun = true;
        } else {
            int tail = (mHead + mCount) % capacity;
            const int first = std::min(count, capacity - tail);
            std::memcpy(mQueue.data() + tail, data, std::size_t(first));
            std::memcpy(mQueue.data(), data + first, std::size_t(count - first));
            mCount += count;
        }
    }
    mShared->Signal.notify_all();
}

int TVaProtocolThread::Room() {
    std::lock_guard guard(mShared->Lock);
    // After an overrun every chunk is dropped anyway: take them out of the device.
    if (mOverrun) return -1;
    return std::max(0, int(mQueue.size()) - mCount);
}

void TVaProtocolThread::HeldBack() {
    bool roomNow = false;
    {
        std::lock_guard guard(mShared->Lock);
        // The worker may have emptied the queue since Room was asked: then nothing it takes
        // out later would tell the port, so the port is told now.
        roomNow = mCount == 0;
        mResumeWanted = !roomNow;
    }
    if (roomNow)
        if (TVaComm* port = mOwner->Dispatcher().Comm()) port->ResumeReading();
}

void TVaProtocolThread::Cancel() {
    {
        std::lock_guard guard(mShared->Lock);
        mCancel = true;
    }
    mShared->Signal.notify_all();
}

void TVaProtocolThread::Stop() {
    {
        std::lock_guard guard(mShared->Lock);
        mCancel = true;
        mShared->Stopped = true;
    }
    mShared->Signal.notify_all();
}

bool TVaProtocolThread::Cancelled() {
    std::lock_guard guard(mShared->Lock);
    return mCancel;
}

void TVaProtocolThread::run() {
    try {
        Execute();
        mExitCode = trSuccess;
    } catch (const TTransferAbort& abort) {
        mExitCode = abort.code;
    } catch (const EVaCommError& error) {
        // The port itself failed (closed, output stuck): the transfer did not complete.
        mExitCode = trComWriteError;
        mPortError = error.Message();
    } catch (const std::exception& error) {
        mExitCode = trUnknownError;
        mPortError = QString::fromLocal8Bit(error.what());
    } catch (...) {
        mExitCode = trUnknownError;
        mPortError = QStringLiteral("Unknown exception");
    }
    {
        std::lock_guard guard(mShared->Lock);
        mCancel = true;
    }
    CloseStreams();
    TVaProtocol* owner = mOwner;
    Post([owner, this]() { owner->WorkerEnded(this); }, 0, "TVaProtocol.WorkerEnded");
}

bool TVaProtocolThread::Post(std::function<void()> call, quint64 ticket, const char* origin) {
    // The application object is the context (not the component), so a handler may even destroy
    // the component while one of these calls runs.
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return false;
    return QMetaObject::invokeMethod(
        application,
        [shared = mShared, call = std::move(call), ticket, origin,
         handler = mOwner->ExceptionHandler()]() {
            {
                std::lock_guard guard(shared->Lock);
                if (shared->Stopped) return;
            }
            try {
                call();
            } catch (...) {
                VaReportException(handler, QString::fromLatin1(origin));
            }
            if (ticket == 0) return;
            {
                std::lock_guard guard(shared->Lock);
                shared->CallsDone = ticket;
            }
            shared->Signal.notify_all();
        },
        Qt::QueuedConnection);
}

bool TVaProtocolThread::Synchronize(const char* origin, std::function<void()> call) {
    quint64 ticket;
    {
        std::lock_guard guard(mShared->Lock);
        if (mShared->Stopped) return false;
        ticket = ++mCallsPosted;
    }
    if (!Post(std::move(call), ticket, origin)) return false;
    std::unique_lock lock(mShared->Lock);
    mShared->Signal.wait(lock, [&] { return mShared->CallsDone >= ticket || mShared->Stopped; });
    return mShared->CallsDone >= ticket;
}

void TVaProtocolThread::Notify(const char* origin, std::function<void()> call) {
    {
        std::lock_guard guard(mShared->Lock);
        if (mShared->Stopped) return;
    }
    Post(std::move(call), 0, origin);
}

bool TVaProtocolThread::WaitForData(std::unique_lock<std::mutex>& lock, int ms) {
    return mShared->Signal.wait_for(lock, std::chrono::milliseconds(std::max(1, ms)),
                                    [this] { return mCount > 0 || mCancel || mOverrun; });
}

void TVaProtocolThread::TakeQueued(std::unique_lock<std::mutex>& lock, uint8_t* dest, int count) {
    const int capacity = int(mQueue.size());
    int done = 0;
    while (done < count) {
        const int take = std::min(count - done, capacity - mHead);
        if (dest) std::memcpy(dest + done, mQueue.data() + mHead, std::size_t(take));
        mHead = (mHead + take) % capacity;
        done += take;
    }
    mCount -= count;
    // The port held bytes back while the queue was full: it may deliver again.
    if (mResumeWanted && mCount < capacity) {
        mResumeWanted = false;
        lock.unlock();
        if (TVaComm* port = mOwner->Dispatcher().Comm()) port->ResumeReading();
        lock.lock();
    }
}

int TVaProtocolThread::ReadByteWithin(int ms) {
    std::unique_lock lock(mShared->Lock);
    if (!WaitForData(lock, ms)) return Silent;
    if (mOverrun) {
        lock.unlock();
        SendCanCan();
        Abort(trBufferOverrun);
    }
    if (mCancel) return 0;
    uint8_t byte = 0;
    TakeQueued(lock, &byte, 1);
    return byte;
}

int TVaProtocolThread::SecondCanWait() const {
    return mSettings.Timeout > 0 ? std::min(SecondCanMs, mSettings.Timeout) : SecondCanMs;
}

int TVaProtocolThread::ReadByte() {
    for (;;) {
        const int byte = ReadByteWithin(mSettings.Timeout);
        if (byte != Silent) return byte;
        CountError(trTimeout, false);
        TimedOut();
    }
}

bool TVaProtocolThread::DeviceHoldsInput() {
    TVaComm* port = mOwner->Dispatcher().Comm();
    if (!port) return false;
    try {
        return port->BytesWaiting() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool TVaProtocolThread::ReadBytesWithin(uint8_t* dest, int count, int ms) {
    int done = 0;
    QElapsedTimer waiting;
    while (done < count) {
        std::unique_lock lock(mShared->Lock);
        if (!WaitForData(lock, ms)) {
            // Quiet here, but the device may hold bytes that the main thread has not handed
            // over yet: those are not lost.
            lock.unlock();
            if (!waiting.isValid()) waiting.start();
            if (waiting.elapsed() + ms < std::max(ms, mSettings.Timeout) && DeviceHoldsInput())
                continue;
            return false;
        }
        waiting.invalidate();
        if (mOverrun) {
            lock.unlock();
            SendCanCan();
            Abort(trBufferOverrun);
        }
        if (mCancel) {
            std::memset(dest + done, 0, std::size_t(count - done));
            return true;
        }
        const int take = std::min(count - done, mCount);
        TakeQueued(lock, dest + done, take);
        done += take;
    }
    return true;
}

int TVaProtocolThread::PeekByte() {
    std::lock_guard guard(mShared->Lock);
    return mCount > 0 ? mQueue[std::size_t(mHead)] : -1;
}

QByteArray TVaProtocolThread::DiscardQueued() {
    std::unique_lock lock(mShared->Lock);
    if (mOverrun || mCancel) return {};
    QByteArray dropped(mCount, Qt::Uninitialized);
    TakeQueued(lock, reinterpret_cast<uint8_t*>(dropped.data()), mCount);
    return dropped;
}

void TVaProtocolThread::Drain(int quietMs, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        std::unique_lock lock(mShared->Lock);
        if (mOverrun || mCancel) return;
        TakeQueued(lock, nullptr, mCount);
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0) return;
        if (!WaitForData(lock, int(std::min<qint64>(quietMs, left)))) return;
    }
}

void TVaProtocolThread::SendBytes(const uint8_t* data, int count) {
    {
        std::lock_guard guard(mShared->Lock);
        if (mShared->Stopped) return;
    }
    // A streaming sender outruns a slow line: the port's buffer stays full for longer than its
    // write time-out while the line is still draining it. Nothing was queued when that happens,
    // so the write is tried again until the transfer's own Timeout has passed without room.
    QElapsedTimer waiting;
    waiting.start();
    int accepted = 0;
    for (;;) {
        try {
            accepted = mOwner->Dispatcher().WriteData(reinterpret_cast<const char*>(data), count);
            break;
        } catch (const EVaCommError& error) {
            if (error.Message() != QLatin1String(OutputBufferFullText) ||
                waiting.elapsed() >= std::max(1, mSettings.Timeout) || Cancelled())
                throw;
        }
    }
    if (accepted < count) Abort(trComWriteError);
}

void TVaProtocolThread::SendCanCan() {
    // Best effort on the way out: a port that fails here must not replace the code being ended
    // with.
    try {
        SendByte(CAN);
        SendByte(CAN);
    } catch (const TTransferAbort&) {
    } catch (const std::exception&) {
    }
}

void TVaProtocolThread::CountError(int code, bool canAtLimit) {
    ++mErrorCount;
    ++mTotalErrors;
    mLastError = code;
    if (mSettings.MaxErrors > 0 && mErrorCount >= mSettings.MaxErrors) {
        if (canAtLimit) SendCanCan();
        Abort(trMaxErrors);
    }
    TVaProtocol* owner = mOwner;
    const int count = mTotalErrors;
    Synchronize("TVaProtocol.OnError", [owner, code, count]() {
        if (owner->OnError) owner->OnError(owner, code, count);
    });
}

// ---------------------------------------------------------------------------------------------
// TVaXYModemThread

TVaXYModemThread::TVaXYModemThread(TVaXYModem* owner, const TSettings& settings,
                                   const TFileSettings& file)
    : TVaProtocolThread(owner, settings), mXYOwner(owner), mFile(file), mQuietMs(settings.QuietMs) {
}

void TVaXYModemThread::CloseStreams() {
    if (mStream.isOpen()) mStream.close();
}

void TVaXYModemThread::RaiseFileInfo() {
    TVaXYModem* owner = mXYOwner;
    Synchronize("TVaXYModem.OnFileInfo", [owner, name = mCurrentName, size = mCurrentSize]() {
        if (owner->OnFileInfo) owner->OnFileInfo(owner, name, size);
    });
}

void TVaXYModemThread::RaisePacketEvent() {
    // Not waited for: the next block goes out while the main thread shows the progress, so a
    // busy window never holds the line back. The events still arrive in order, before the end.
    TVaXYModem* owner = mXYOwner;
    Notify("TVaXYModem.OnPacketEvent", [owner, packet = mPacket, bytes = mByteCount]() {
        if (owner->OnPacketEvent) owner->OnPacketEvent(owner, packet, bytes);
    });
}

void TVaXYModemThread::SendFile() {
    mCurrentName = mFile.FileName;
    mStream.setFileName(mCurrentName);
    // Read-only: sending needs no write access, and a read-only file must still be sendable.
    if (!mStream.open(QIODevice::ReadOnly)) {
        SendCanCan();
        Abort(trFileOpenError);
    }
    mCurrentSize = mStream.size();
    RaiseFileInfo();

    uint8_t start = 0;
    for (int unusable = 0;; ++unusable) {
        if (unusable == 10) Abort(trOutOfSync);
        const int byte = ReadByte();
        if (byte == NAK || byte == StartCrc || byte == StartStreaming) {
            start = uint8_t(byte);
            ResetErrors();
            break;
        }
        if (byte == 0) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        CountError(trBadCharacter, false);
    }

    const int blockSize = start == NAK ? SmallBlock : LargeBlock;
    for (int counter = 1;; ++counter) {
        std::memset(mBlock, 0, sizeof mBlock);
        // Never read past the size announced in OnFileInfo: a file that grows while it is sent
        // ends where it ended at the start, and one that shrinks ends at its first short read.
        const qint64 position = mStream.pos();
        const qint64 wanted =
            std::min<qint64>(blockSize, std::max<qint64>(0, mCurrentSize - position));
        const qint64 got = wanted > 0 ? mStream.read(reinterpret_cast<char*>(mBlock), wanted) : 0;
        if (got < 0) {
            SendCanCan();
            Abort(trFileReadError);
        }
        SendBlock(counter, blockSize, start);
        mPacket = counter;
        mByteCount = mStream.pos();
        RaisePacketEvent();
        if (mByteCount >= mCurrentSize || got < wanted) {
            SendEndOfFile();
            Abort(trSuccess);
        }
    }
}

void TVaXYModemThread::SendBlock(int counter, int blockSize, uint8_t start) {
    const bool crc = start != NAK;
    const bool streaming = start == StartStreaming;
    const TBlockHeader header = BlockHeader(blockSize, counter);
    const TBlockCheck check = BlockCheck(mBlock, blockSize, crc);
    for (;;) {
        if (Cancelled()) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        // Whatever is queued now answers an earlier block (a repeated start character, an ACK
        // or NAK sent twice): read as the answer to this one it would put the two sides out of
        // step. A cancel among it still counts.
        if (!streaming) DropStaleAnswers();
        for (uint8_t byte : header.bytes)
            SendByte(byte);
        SendBytes(mBlock, blockSize);
        for (int i = 0; i < check.count; ++i)
            SendByte(check.bytes[i]);
        if (streaming) {
            if (PeekByte() == CAN) Abort(trCancelledByPeer);
            return;
        }
        const int reply = ReadByteWithin(mSettings.Timeout);
        if (reply == ACK) {
            ResetErrors();
            return;
        }
        if (reply == Silent) {
            // The block or its answer was lost: send it again.
            CountError(trTimeout, false);
        } else if (reply == NAK) {
            CountError(trBadPacket, true);
        } else if (reply == 0) {
            // Cancelled (or a NUL on the line): the check at the top decides.
        } else if (reply == CAN && ReadByteWithin(SecondCanWait()) == CAN) {
            Abort(trCancelledByPeer);
        } else {
            // A damaged answer: nothing tells whether the block arrived, so it goes again once
            // the line is quiet; a receiver that had it answers the copy with ACK.
            CountError(trBadCharacter, false);
            Drain(mSettings.QuietMs, mSettings.Timeout);
        }
    }
}

void TVaXYModemThread::DropStaleAnswers() {
    const QByteArray dropped = DiscardQueued();
    const char can = char(CAN);
    if (dropped.contains(QByteArray(2, can)) ||
        (dropped.endsWith(can) && ReadByteWithin(SecondCanWait()) == CAN))
        Abort(trCancelledByPeer);
}

void TVaXYModemThread::SendEndOfFile() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        DropStaleAnswers();
        SendByte(EOT);
        const int reply = ReadByteWithin(mSettings.Timeout);
        if (reply == ACK) return;
        if (reply == 0) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        if (reply == Silent) {
            CountError(trTimeout, false);
        } else {
            CountError(trBadCharacter, false);
            if (reply != NAK) Drain(mSettings.QuietMs, mSettings.Timeout);
        }
    }
    Abort(trOutOfSync);
}

void TVaXYModemThread::ReceiveFile() {
    mCurrentName = UniqueFileName(mFile.FileName);
    mStream.setFileName(mCurrentName);
    // Unbuffered: a failing write is seen at the block that failed.
    if (!mStream.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        SendCanCan();
        Abort(trFileCreateError);
    }
    mCurrentSize = 0;
    RaiseFileInfo();

    const uint8_t start = mFile.Protocol == XModem     ? NAK
                          : mFile.Protocol == XModem1K ? StartCrc
                                                       : StartStreaming;
    mPendingStart = start;
    SendByte(start);
    for (int counter = 1;; ++counter) {
        const int size = ReceiveBlock(counter);
        if (mStream.write(reinterpret_cast<const char*>(mBlock), size) != size) {
            SendCanCan();
            Abort(trFileWriteError);
        }
        // The answer goes out before the main thread hears of the block, so the next block
        // is on its way meanwhile.
        if (mFile.Protocol != XModemG) SendByte(ACK);
        ResetErrors();
        mPacket = counter;
        mByteCount = mStream.pos();
        RaisePacketEvent();
    }
}

void TVaXYModemThread::TimedOut() {
    // Until a block has begun, a time-out repeats the start character: a sender that started
    // after it (or purged its line on starting) would otherwise never begin.
    if (mPendingStart >= 0) SendByte(uint8_t(mPendingStart));
}

int TVaXYModemThread::ReadHeader() {
    QElapsedTimer silent;
    silent.start();
    for (;;) {
        const qint64 untilError = std::max<qint64>(1, mSettings.Timeout - silent.elapsed());
        const int byte = ReadByteWithin(int(std::min<qint64>(HeaderRepeatMs, untilError)));
        if (byte != Silent) return byte;
        if (silent.elapsed() >= mSettings.Timeout) {
            CountError(trTimeout, false);
            silent.restart();
        }
        // Not in XMODEM-G: its sender does not act on NAK.
        if (mPendingStart >= 0)
            SendByte(uint8_t(mPendingStart));
        else if (mFile.Protocol != XModemG)
            SendByte(NAK);
    }
}

int TVaXYModemThread::CopyWaitMs() const {
    // After a NAK, the copy follows the rest of the refused block. A line that stalls in that
    // rest for longer than the quiet gap must not draw a second NAK: the sender would send two
    // copies and could take the first copy's ACK for the answer to the next block, which puts
    // the two ends a block apart. A lost NAK is rare; waiting the second for it costs little.
    return std::max(mQuietMs, InBlockFallbackMs);
}

int TVaXYModemThread::HuntHeader(int byte) {
    // Only a block's start ends the hunt: an EOT, CAN or NUL here is data of the old block.
    bool stale = false;
    while (byte != SOH && byte != STX) {
        stale = true;
        byte = ReadByteWithin(CopyWaitMs());
        if (byte == Silent) return Silent;
        if (Cancelled()) return 0;
    }
    // Bytes of the block given up on came after all: the line (or the peer) stalls longer than
    // the quiet gap allowed, so the gap doubles, up to the second a block was always given.
    // Once for each NAK: the rest of one block may hold many false headers, each ending a hunt.
    if (stale && mGapMayGrow) {
        mGapMayGrow = false;
        // A gap already past the second (a slow line's own) stays as it is.
        if (mQuietMs < InBlockFallbackMs) mQuietMs = std::min(2 * mQuietMs, InBlockFallbackMs);
    }
    return byte;
}

void TVaXYModemThread::Reject(int code, bool canAtLimit, bool lineQuiet) {
    CountError(code, canAtLimit);
    mCleanBlocks = 0;
    if (lineQuiet)
        DiscardQueued();
    else
        Drain(mQuietMs, mSettings.Timeout);
    // One NAK asks for one copy: until it begins, whatever comes is passed over (HuntHeader),
    // never answered with another NAK, whose copy's ACK the sender could take for the answer
    // to the next block. Only a quiet line asks again.
    mAwaitingResend = mFile.Protocol != XModemG;
    mGapMayGrow = true;
    // Before the first block a NAK would be a start character of its own (checksum mode).
    SendByte(mPendingStart >= 0 ? uint8_t(mPendingStart) : NAK);
}

int TVaXYModemThread::ReceiveBlock(int counter) {
    const bool crc = mFile.Protocol != XModem;
    const bool streaming = mFile.Protocol == XModemG;
    const int expected = counter & 0xFF;
    // Within a block the bytes follow each other at line speed: once they stop for a quiet gap
    // of the line's own measure, a byte was lost and the sender is waiting for an answer.
    // XMODEM-G streams: nothing is sent again, so a damaged stream cannot be mended.
    // The hunt goes on inside a stream of bytes: only a quiet gap there, not the wait for a
    // header, ends it.
    bool huntOn = false;
    for (;;) {
        const int inBlockMs = streaming ? mSettings.Timeout : mQuietMs;
        std::memset(mBlock, 0, sizeof mBlock);
        int header = huntOn ? ReadByteWithin(CopyWaitMs()) : ReadHeader();
        huntOn = false;
        if (mAwaitingResend) {
            if (header != Silent) header = HuntHeader(header);
            if (header == Silent) {
                // Quiet again, and no block began: the NAK may have been lost.
                Reject(trTimeout, false, true);
                continue;
            }
        }
        int size = 0;
        if (header == SOH || header == STX) {
            size = BlockSizeOfHeader(uint8_t(header));
            mPendingStart = -1;
        } else if (header == EOT) {
            SendByte(ACK);
            Abort(trSuccess);
        } else if (header == CAN && ReadByteWithin(SecondCanWait()) == CAN) {
            Abort(trCancelledByPeer);
        } else if (header == 0 && Cancelled()) {
            SendCanCan();
            Abort(trCancelledLocally);
        } else if (streaming) {
            Abort(trOutOfSync);
        } else {
            // Noise where a header belongs: the rest of that block is still coming.
            Reject(trBadCharacter, false);
            continue;
        }
        uint8_t numbers[2] = {0, 0};
        uint8_t check[2] = {0, 0};
        bool whole = ReadBytesWithin(numbers, 2, inBlockMs);
        // While hunting, a header byte whose block number does not match its complement is a
        // byte of the old block's rest.
        if (whole && mAwaitingResend && !Cancelled() && numbers[1] != uint8_t(255 - numbers[0])) {
            huntOn = true;
            continue;
        }
        whole = whole && ReadBytesWithin(mBlock, size, inBlockMs) &&
                ReadBytesWithin(check, crc ? 2 : 1, inBlockMs);
        if (Cancelled()) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        mAwaitingResend = false;
        if (!whole) {
            // Bytes of the block were lost: the sender waits for an answer, and the line has
            // just been quiet for the whole gap, so the NAK goes at once. Should the rest come
            // all the same (a line that only stalled), it is passed over (HuntHeader).
            Reject(trTimeout, false, true);
            continue;
        }
        const int number = numbers[0];
        if (numbers[1] != uint8_t(255 - number) || !BlockCheckMatches(mBlock, size, crc, check)) {
            if (streaming) {
                CountError(trBadPacket, true);
                SendByte(NAK);
            } else {
                Reject(trBadPacket, true);
            }
            continue;
        }
        if (number == expected) {
            // A gap that grew on a line that stalled comes back down once blocks pass again.
            if (++mCleanBlocks >= 16 && mQuietMs > mSettings.QuietMs) {
                mQuietMs = std::max(mSettings.QuietMs, mQuietMs / 2);
                mCleanBlocks = 0;
            }
            return size;
        }
        if (!streaming && number == ((expected - 1) & 0xFF)) {
            // The sender did not get the answer to the last block and sent it again.
            SendByte(ACK);
            continue;
        }
        SendCanCan();
        Abort(trOutOfSync);
    }
}

// ---------------------------------------------------------------------------------------------
// TVaXModemThread

void TVaXModemThread::Execute() {
    if (mSettings.Mode == tmUpload)
        SendFile();
    else
        ReceiveFile();
}
