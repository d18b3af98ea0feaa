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
        [shared = mShared, call = std::move(call), ticket, origin]() {
            {
                std::lock_guard guard(shared->Lock);
                if (shared->Stopped) return;
            }
            try {
                call();
            } catch (...) {
                VaHandleException(QString::fromLatin1(origin));
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

void TVaProtocolThread::WaitForData(std::unique_lock<std::mutex>& lock) {
    const auto timeout = std::chrono::milliseconds(std::max(1, mSettings.Timeout));
    const auto ready = [this] { return mCount > 0 || mCancel || mOverrun; };
    while (!ready()) {
        if (mShared->Signal.wait_for(lock, timeout, ready)) break;
        lock.unlock();
        CountError(trTimeout, false);
        TimedOut();
        lock.lock();
    }
}

int TVaProtocolThread::ReadByte() {
    std::unique_lock lock(mShared->Lock);
    WaitForData(lock);
    if (mOverrun) {
        lock.unlock();
        SendCanCan();
        Abort(trBufferOverrun);
    }
    if (mCancel) return 0;
    const uint8_t byte = mQueue[std::size_t(mHead)];
    mHead = (mHead + 1) % int(mQueue.size());
    --mCount;
    return byte;
}

void TVaProtocolThread::ReadBytes(uint8_t* dest, int count) {
    int done = 0;
    while (done < count) {
        std::unique_lock lock(mShared->Lock);
        WaitForData(lock);
        if (mOverrun) {
            lock.unlock();
            SendCanCan();
            Abort(trBufferOverrun);
        }
        if (mCancel) {
            std::memset(dest + done, 0, std::size_t(count - done));
            return;
        }
        const int capacity = int(mQueue.size());
        const int take = std::min({count - done, mCount, capacity - mHead});
        std::memcpy(dest + done, mQueue.data() + mHead, std::size_t(take));
        mHead = (mHead + take) % capacity;
        mCount -= take;
        done += take;
    }
}

int TVaProtocolThread::PeekByte() {
    std::lock_guard guard(mShared->Lock);
    return mCount > 0 ? mQueue[std::size_t(mHead)] : -1;
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
    mLastError = code;
    if (mSettings.MaxErrors > 0 && mErrorCount >= mSettings.MaxErrors) {
        if (canAtLimit) SendCanCan();
        Abort(trMaxErrors);
    }
    TVaProtocol* owner = mOwner;
    const int count = mErrorCount;
    Synchronize("TVaProtocol.OnError", [owner, code, count]() {
        if (owner->OnError) owner->OnError(owner, code, count);
    });
}

// ---------------------------------------------------------------------------------------------
// TVaXYModemThread

TVaXYModemThread::TVaXYModemThread(TVaXYModem* owner, const TSettings& settings,
                                   const TFileSettings& file)
    : TVaProtocolThread(owner, settings), mXYOwner(owner), mFile(file) {}

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
    TVaXYModem* owner = mXYOwner;
    Synchronize("TVaXYModem.OnPacketEvent", [owner, packet = mPacket, bytes = mByteCount]() {
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
    const TBlockHeader header = BlockHeader(blockSize, counter);
    const TBlockCheck check = BlockCheck(mBlock, blockSize, crc);
    for (;;) {
        if (Cancelled()) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        for (uint8_t byte : header.bytes)
            SendByte(byte);
        SendBytes(mBlock, blockSize);
        for (int i = 0; i < check.count; ++i)
            SendByte(check.bytes[i]);
        if (start == StartStreaming) {
            if (PeekByte() == CAN) Abort(trCancelledByPeer);
            return;
        }
        const int reply = ReadByte();
        if (reply == ACK) return;
        if (reply == NAK) {
            CountError(trBadPacket, true);
        } else if (reply == 0) {
            // Cancelled (or a NUL on the line): the check at the top decides.
        } else if (reply == CAN) {
            Abort(trCancelledByPeer);
        } else {
            Abort(trOutOfSync);
        }
    }
}

void TVaXYModemThread::SendEndOfFile() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        SendByte(EOT);
        const int reply = ReadByte();
        if (reply == ACK) return;
        if (reply == 0) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        CountError(trBadCharacter, false);
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
        mPacket = counter;
        mByteCount = mStream.pos();
        RaisePacketEvent();
        if (mFile.Protocol != XModemG) SendByte(ACK);
    }
}

void TVaXYModemThread::TimedOut() {
    // Until a block has begun, a time-out repeats the start character: a sender that started
    // after it (or purged its line on starting) would otherwise never begin.
    if (mPendingStart >= 0) SendByte(uint8_t(mPendingStart));
}

int TVaXYModemThread::ReceiveBlock(int counter) {
    const bool crc = mFile.Protocol != XModem;
    const int expected = counter & 0xFF;
    for (;;) {
        std::memset(mBlock, 0, sizeof mBlock);
        const int header = ReadByte();
        mPendingStart = -1;
        int size = 0;
        if (header == SOH || header == STX) {
            size = BlockSizeOfHeader(uint8_t(header));
        } else if (header == EOT) {
            SendByte(ACK);
            Abort(trSuccess);
        } else if (header == CAN) {
            Abort(trCancelledByPeer);
        } else if (header != 0) {
            Abort(trOutOfSync);
        }
        const int number = ReadByte();
        ReadByte(); // the complement
        ReadBytes(mBlock, size);
        uint8_t check[2] = {0, 0};
        ReadBytes(check, crc ? 2 : 1);
        if (Cancelled()) {
            SendCanCan();
            Abort(trCancelledLocally);
        }
        if (number != expected) {
            SendCanCan();
            Abort(trOutOfSync);
        }
        if (BlockCheckMatches(mBlock, size, crc, check)) return size;
        CountError(trBadPacket, true);
        SendByte(NAK);
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
