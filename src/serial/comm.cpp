// TVaComm: opening and closing, line settings, reads and writes, status and purge, and the
// main-thread handling of the events that the workers deliver.
#include "serial/comm_shared.h"

#include "platform/serial_ports.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
const char* const OpenPortError = "Can't perform this operation while port is open";

[[noreturn]] void raise(const QString& text) {
    throw EVaCommError(text);
}

// "(%d), %s" messages: the error code and its system text.
[[noreturn]] void raiseSystem(const char* format, int error) {
    raise(QString::fromLatin1(format).arg(error).arg(SystemErrorText(error)));
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return int(std::max<long long>(0, left.count()));
}

bool makePipe(int fds[2]) {
    return ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0;
}

} // namespace

// Calls a user handler; whatever it raises goes to the application's exception handler.
template <typename F> void TVaComm::invokeHandler(const char* operation, F&& call) {
    try {
        call();
    } catch (...) {
        HandleException(QStringLiteral("TVaComm.") + QLatin1String(operation));
    }
}

TVaComm::TVaComm(QObject* owner) : TVaComponent(owner), mLife(std::make_shared<char>(0)) {}

TVaComm::~TVaComm() {
    mDestroying = true;
    CloseDevice(true);
    while (!mClients.empty())
        DetachClient(mClients.back());
    mLife.reset();
}

std::shared_ptr<TVaCommShared> TVaComm::Shared() const {
    std::lock_guard<std::mutex> g(mSharedLock);
    return mShared;
}

bool TVaComm::IsOpen() const {
    return Shared() != nullptr;
}

void TVaComm::CheckClosed() const {
    if (IsOpen()) raise(QString::fromLatin1(OpenPortError));
}

QString TVaComm::FormattedDeviceName() const {
    return FormatDeviceName(mDeviceName, mPortNum);
}

QString TVaComm::DevicePath() const {
    return SerialDevicePath(FormattedDeviceName(), mPortMapFolder);
}

// ---------------------------------------------------------------------------------------------
// Open and close

void TVaComm::Open() {
    CheckClosed();
    const QString name = FormattedDeviceName();
    auto s = std::make_shared<TVaCommShared>(mBuffers.WriteSize());
    const QString path = DevicePath();
    const int r = s->Device.Open(path);
    if (r < 0) {
        // The message, then what the operator can do about it: where the port's link leads, the
        // group that may open the device, the program that holds it.
        QString text = SerialDeviceMissing(-r)
                           ? QStringLiteral("Specified device not found (%1).").arg(name)
                           : QStringLiteral("Can't open specified device %1").arg(name) +
                                 QStringLiteral(" (Error %1, %2)").arg(-r).arg(SystemErrorText(-r));
        const QString advice = SerialOpenAdvice(-r, name, path, mPortMapFolder);
        if (!advice.isEmpty()) text += (text.endsWith('.') ? " " : ". ") + advice;
        raise(text);
    }
    mOpenedPath = path;
    s->Port = this;
    if (!mDeliveryReceiver) mDeliveryReceiver = MakeCommDeliveryReceiver();
    s->Receiver = mDeliveryReceiver.get();
    s->Life = mLife;
    s->ReadTimeout = mBuffers.ReadTimeout();
    s->WriteTimeout = mBuffers.WriteTimeout();
    s->EventPriority = mEventPriority;
    s->WritePriority = mWritePriority;
    s->NullStrip = mOptions.Contains(coNullStrip);
    s->DirectWrite = mDirectWrite;
    s->RxGatherUs = mRxGatherUs;
    uint32_t mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e)
        if (mMonitorEvents.Contains(TVaCommEvent(e))) mask |= CommEventBit(TVaCommEvent(e));
    if (!mDirectWrite) mask &= ~VaEvTxEmpty;
    s->EventMask = mask;
    s->CountsSupported = s->Device.ErrorCounts(s->LastCounts);

    {
        std::lock_guard<std::mutex> g(mSharedLock);
        mShared = s;
    }
    try {
        SendLineSettings();
        // Queue sizes and read time-outs have no counterpart here: the kernel sizes its own
        // queues, and reads never wait for more than is queued.
        if (mask != 0) {
            if (!makePipe(s->EventWake)) raiseSystem(" Error setting EventMask (%1), %2", errno);
            s->EventThread = std::thread(CommEventThread, s);
        }
        if (!mDirectWrite) {
            if (!makePipe(s->WriteWake)) raiseSystem(" Error setting EventMask (%1), %2", errno);
            s->WriteThread = std::thread(CommWriteThread, s);
        }
    } catch (const std::system_error& e) {
        CloseDevice(true);
        raise(QString::fromUtf8(e.what()));
    } catch (...) {
        CloseDevice(true);
        throw;
    }
    if (OnOpen) invokeHandler("Open", [&] { OnOpen(this); });
}

void TVaComm::Close() {
    CloseDevice(mDestroying);
}

void TVaComm::CloseDevice(bool destroying) {
    std::shared_ptr<TVaCommShared> s = mShared;
    if (!s) return;
    {
        std::lock_guard<std::mutex> readLock(s->ReadLock);
        {
            std::lock_guard<std::mutex> g(s->Lock);
            s->Stop = true;
        }
        s->Cond.notify_all();
        TVaCommShared::Wake(s->EventWake);
        TVaCommShared::Wake(s->WriteWake);
    }
    // Both workers end promptly now: neither waits for the main thread once Stop is set.
    for (std::thread* t : {&s->EventThread, &s->WriteThread}) {
        if (!t->joinable()) continue;
        if (t->get_id() == std::this_thread::get_id())
            t->detach();
        else
            t->join();
    }
    {
        std::lock_guard<std::mutex> g(mSharedLock);
        mShared.reset();
    }
    {
        // A direct write in progress on another thread finishes before the device goes.
        std::lock_guard<std::mutex> direct(s->DirectLock);
        std::lock_guard<std::mutex> readLock(s->ReadLock);
        std::lock_guard<std::mutex> g(s->Lock);
        s->Device.Close();
    }
    if (!destroying && OnClose) invokeHandler("Close", [&] { OnClose(this); });
}

void TVaComm::Loaded() {
    if (mAutoOpen && !IsOpen()) Open();
}

// ---------------------------------------------------------------------------------------------
// Line settings and properties

void TVaComm::SendLineSettings() {
    std::shared_ptr<TVaCommShared> s = mShared;
    if (!s || !mUpdateDCB) return;
    SerialLineSettings l;
    l.Baud = mBaudrate == brUser ? mUserBaudrate : BaudrateValue(mBaudrate);
    l.DataBits = 4 + int(mDatabits);
    l.Parity = int(mParity);
    l.StopBits = mStopbits == sb1 ? 1 : 2;
    l.ParityCheck = mOptions.Contains(coParityCheck);
    l.RtsCtsFlow = mFlowControl.OutCtsFlow() || mFlowControl.ControlRts() == rtsHandshake;
    l.XonXoffOut = mFlowControl.XonXoffOut();
    l.XonXoffIn = mFlowControl.XonXoffIn();
    l.XonChar = mEventChars.XonChar();
    l.XoffChar = mEventChars.XoffChar();
    l.IgnoreCarrier = !mFlowControl.DsrSensitivity();
    int r = s->Device.Apply(l);
    if (r == 0)
        r = s->Device.SetControlLines(mFlowControl.ControlDtr() != dtrDisabled,
                                      mFlowControl.ControlRts() != rtsDisabled);
    if (r < 0) raiseSystem("Error writing dcb (%1), %2", -r);
}

void TVaComm::PersistentChanged(TVaPersistent* sender) {
    if (sender == &mBuffers) {
        if (auto s = Shared()) {
            s->ReadTimeout = mBuffers.ReadTimeout();
            s->WriteTimeout = mBuffers.WriteTimeout();
        }
        return;
    }
    SendLineSettings();
}

void TVaComm::CheckPersistentChange(bool closedOnly) const {
    if (closedOnly) CheckClosed();
}

void TVaComm::SetBaudrate(TVaBaudrate value) {
    if (value == mBaudrate) return;
    mBaudrate = value;
    if (value != brUser) mUserBaudrate = 0;
    SendLineSettings();
}

void TVaComm::SetUserBaudrate(int value) {
    if (value == mUserBaudrate) return;
    mUserBaudrate = value;
    mBaudrate = brUser;
    SendLineSettings();
}

void TVaComm::SetParity(TVaParity value) {
    if (value == mParity) return;
    mParity = value;
    SendLineSettings();
}

void TVaComm::SetDatabits(TVaDatabits value) {
    if (value == mDatabits) return;
    mDatabits = value;
    SendLineSettings();
}

void TVaComm::SetStopbits(TVaStopbits value) {
    if (value == mStopbits) return;
    mStopbits = value;
    SendLineSettings();
}

int TVaComm::BitsPerSecond() const {
    return mBaudrate == brUser ? mUserBaudrate : BaudrateValue(mBaudrate);
}

int TVaComm::BitsPerCharacter() const {
    return 1 + 4 + int(mDatabits) + (mParity != paNone ? 1 : 0) + (mStopbits == sb1 ? 1 : 2);
}

void TVaComm::SetOptions(TVaCommOptions value) {
    if (value == mOptions) return;
    mOptions = value;
    if (auto s = Shared()) s->NullStrip = mOptions.Contains(coNullStrip);
    SendLineSettings();
}

void TVaComm::SetPortNum(int value) {
    CheckClosed();
    mPortNum = std::max(value, 0);
}

void TVaComm::SetDeviceName(const QString& value) {
    CheckClosed();
    mDeviceName = value;
}

void TVaComm::SetMonitorEvents(TVaCommEvents value) {
    CheckClosed();
    mMonitorEvents = value;
}

void TVaComm::SetDirectWrite(bool value) {
    CheckClosed();
    mDirectWrite = value;
}

void TVaComm::SetRxGatherUs(int value) {
    mRxGatherUs = std::clamp(value, 0, 100000);
}

void TVaComm::SetUpdateDCB(bool value) {
    CheckClosed();
    mUpdateDCB = value;
}

void TVaComm::SetEventPriority(TVaThreadPriority value) {
    mEventPriority = value;
    if (auto s = Shared()) {
        s->EventPriority = value;
        TVaCommShared::Wake(s->EventWake);
    }
}

void TVaComm::SetWritePriority(TVaThreadPriority value) {
    mWritePriority = value;
    if (auto s = Shared()) {
        s->WritePriority = value;
        TVaCommShared::Wake(s->WriteWake);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

int TVaComm::WriteData(const char* Data, int Count) {
    std::shared_ptr<TVaCommShared> s = Shared();
    if (!s || Count <= 0) return 0;
    using clock = std::chrono::steady_clock;

    if (s->DirectWrite) {
        std::lock_guard<std::mutex> direct(s->DirectLock);
        const auto deadline = clock::now() + std::chrono::milliseconds(s->ReadTimeout.load());
        int written = 0;
        while (written < Count) {
            {
                std::lock_guard<std::mutex> g(s->Lock);
                if (s->Stop) break;
            }
            const int n = s->Device.Write(Data + written, Count - written);
            if (n < 0 && CommLineGone(-n)) {
                s->MarkLineLost(-n);
                break;
            }
            if (n < 0) {
                if (written == 0) raiseSystem("Write error (%1), %2", -n);
                break;
            }
            written += n;
            if (written == Count) break;
            const int wait = remainingMs(deadline);
            if (wait <= 0) break;
            pollfd p = {s->Device.Fd(), POLLOUT, 0};
            ::poll(&p, 1, std::min(wait, 50));
        }
        if (written > 0 && (s->EventMask & VaEvTxEmpty)) {
            {
                std::lock_guard<std::mutex> g(s->Lock);
                s->TxWatch = true;
            }
            TVaCommShared::Wake(s->EventWake);
        }
        return written;
    }

    const auto deadline = clock::now() + std::chrono::milliseconds(s->WriteTimeout.load());
    std::unique_lock<std::mutex> lk(s->Lock);
    s->Cond.wait_until(lk, deadline,
                       [&] { return s->Stop || s->LineLost || s->Buffer.Free() >= Count; });
    // A lost line takes nothing, as a closed port does.
    if (s->Stop || s->LineLost) return 0;
    if (!s->Buffer.Append(Data, Count))
        raise(QStringLiteral("Output buffer is full. Please check comm status."));
    const bool wake = s->WriterIdle;
    s->WriterIdle = false;
    lk.unlock();
    if (wake) TVaCommShared::Wake(s->WriteWake);
    return Count;
}

bool TVaComm::WriteText(const QByteArray& Text) {
    return WriteData(Text.constData(), int(Text.size())) == int(Text.size());
}

bool TVaComm::WriteText(const QString& Text) {
    return WriteText(Text.toUtf8());
}

bool TVaComm::WriteChar(char Ch) {
    return WriteData(&Ch, 1) == 1;
}

bool TVaComm::OutputDrained() {
    std::shared_ptr<TVaCommShared> s = Shared();
    if (!s) return true;
    // Under the lock: a Close on the main thread cannot close the device meanwhile.
    std::lock_guard<std::mutex> g(s->Lock);
    if (s->Stop || s->LineLost) return true;
    if (!s->Buffer.Empty()) return false;
    return s->Device.OutputQueued() <= 0;
}

// ---------------------------------------------------------------------------------------------
// Reading, status, purge

int TVaComm::ReadData(char* Data, int Count) {
    std::shared_ptr<TVaCommShared> s = Shared();
    if (!s || Count <= 0) return 0;
    std::lock_guard<std::mutex> readLock(s->ReadLock);
    const int n = s->Device.Read(Data, Count);
    if (n < 0 && CommLineGone(-n)) {
        s->MarkLineLost(-n);
        return 0;
    }
    if (n < 0) raiseSystem("Read error (%1), %2", -n);
    s->BytesRead += n;
    if (n > 0 && s->AwaitingRead.load()) TVaCommShared::Wake(s->EventWake);
    if (!s->NullStrip) return n;
    return int(std::remove(Data, Data + n, '\0') - Data);
}

int TVaComm::BytesWaiting() {
    // Only the input count: unlike a full GetStatus this leaves the line-error flags for the
    // error event that may follow in the same delivery.
    std::shared_ptr<TVaCommShared> s = Shared();
    if (!s) return 0;
    std::lock_guard<std::mutex> readLock(s->ReadLock);
    const int n = s->Device.InputQueued();
    if (n < 0 && CommLineGone(-n)) {
        // A hung-up line holds nothing.
        s->MarkLineLost(-n);
        return 0;
    }
    if (n < 0) raiseSystem("Error retrieving statistics (%1), %2", -n);
    return n;
}

TVaCommStatus TVaComm::GetStatus() {
    TVaCommStatus status;
    std::shared_ptr<TVaCommShared> s = Shared();
    if (!s) return status;
    std::lock_guard<std::mutex> readLock(s->ReadLock);
    // A line that is gone answers every query with an error: it holds nothing, and the error
    // flags gathered before still have to reach OnError.
    const int in = s->Device.InputQueued();
    if (in < 0 && !CommLineGone(-in)) raiseSystem("Error retrieving statistics (%1), %2", -in);
    const int out = s->Device.OutputQueued();
    if (out < 0 && !CommLineGone(-out)) raiseSystem("Error retrieving statistics (%1), %2", -out);
    if (in < 0 || out < 0) s->MarkLineLost(in < 0 ? -in : -out);
    {
        std::lock_guard<std::mutex> g(s->Lock);
        s->CollectErrors();
        status.Errors = s->PendingErrors;
        s->PendingErrors = 0;
    }
    status.InQueue = uint32_t(std::max(in, 0));
    status.OutQueue = uint32_t(std::max(out, 0));
    return status;
}

void TVaComm::Purge(uint32_t Flags) {
    std::shared_ptr<TVaCommShared> s = Shared();
    // A lost line holds nothing to purge (its pending writes went with it).
    if (!s || s->IsLineLost()) return;
    std::lock_guard<std::mutex> readLock(s->ReadLock);
    const bool output = Flags & (VaPurgeTxAbort | VaPurgeTxClear);
    const bool input = Flags & (VaPurgeRxAbort | VaPurgeRxClear);
    // Pending writes are dropped only when the output side is purged.
    if (output && s->WriteThread.joinable()) {
        std::unique_lock<std::mutex> lk(s->Lock);
        s->FlushRequested = true;
        s->FlushDone = false;
        s->WriterIdle = false;
        lk.unlock();
        TVaCommShared::Wake(s->WriteWake);
        lk.lock();
        if (!s->Cond.wait_for(lk, std::chrono::milliseconds(2000),
                              [&] { return s->FlushDone || s->Stop; }))
            s->FlushRequested = false; // no answer within 2 s: leave the buffer as it is
        s->FlushDone = false;
    }
    if (input) ++s->InputPurges;
    const int r = s->Device.Flush(input, output);
    if (r < 0 && CommLineGone(-r)) {
        s->MarkLineLost(-r);
        return;
    }
    if (r < 0) raiseSystem("Error clearing buffers (%1), %2", -r);
    if (input && s->AwaitingRead.load()) TVaCommShared::Wake(s->EventWake);
}

void TVaComm::ResumeReading() {
    if (std::shared_ptr<TVaCommShared> s = Shared()) TVaCommShared::Wake(s->EventWake);
}

// ---------------------------------------------------------------------------------------------
// Clients

void TVaComm::AttachClient(TVaDispatcher* client) {
    if (!client) return;
    if (client->mComm && client->mComm != this) client->mComm->DetachClient(client);
    if (std::find(mClients.begin(), mClients.end(), client) == mClients.end())
        mClients.push_back(client);
    client->mComm = this;
}

void TVaComm::DetachClient(TVaDispatcher* client) {
    auto it = std::find(mClients.begin(), mClients.end(), client);
    if (it == mClients.end()) return;
    mClients.erase(it);
    client->mComm = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Main-thread event handling

void TVaComm::HandleEventMask(uint32_t mask, int* leftUnread, bool* throttled) {
    // Any handler may close or destroy the port (or detach clients); after each one the port
    // checks that it still exists (each step is false when it does not) and that a client is
    // still attached before going on.
    const std::weak_ptr<char> life = mLife;
    if ((mask & VaEvRxChar) && !deliverInput(life, leftUnread, throttled)) return;
    if ((mask & CommLineLostBit) && !deliverLineLost(life)) return;
    mask &= ~(VaEvRxChar | CommLineLostBit);
    if (!mask) return;
    if ((mask & VaEvErr) && !deliverLineErrors(life)) return;
    deliverEvents(life, mask);
}

bool TVaComm::isAttached(const TVaDispatcher* client) const {
    return std::find(mClients.begin(), mClients.end(), client) != mClients.end();
}

bool TVaComm::deliverInput(const std::weak_ptr<char>& life, int* leftUnread, bool* throttledOut) {
    std::shared_ptr<TVaCommShared> s = Shared();
    const long long readBefore = s ? s->BytesRead.load() : 0;
    int reported = 0;
    bool throttled = false;
    try {
        const int waiting = BytesWaiting();
        if (waiting > 0 && mClients.empty()) {
            reported = waiting;
            if (OnRxChar) {
                const TRxChar handler = OnRxChar;
                invokeHandler("HandleEvent", [&] { handler(this, waiting); });
                if (life.expired()) return false;
            }
        } else if (waiting > 0) {
            const int room = inputRoom(waiting);
            if (room < waiting) {
                reported = waiting;
                throttled = true;
            }
            QByteArray data(room, '\0');
            const int n = room > 0 ? ReadData(data.data(), room) : 0;
            if (n > 0 && !handOutInput(life, data.constData(), n)) return false;
        }
    } catch (...) {
        HandleException(QStringLiteral("TVaComm.HandleEvent"));
    }
    if (s && reported > 0)
        *leftUnread = int(std::max<long long>(0, reported - (s->BytesRead.load() - readBefore)));
    *throttledOut = throttled && *leftUnread > 0;
    return true;
}

int TVaComm::inputRoom(int waiting) {
    // A client with a bounded queue (a running transfer) takes no more than it has room for;
    // the rest stays in the device until it asks for more.
    int room = waiting;
    for (TVaDispatcher* d : mClients) {
        if (!d->Active()) continue;
        const int r = d->User()->CommRoom();
        if (r >= 0 && r < room) {
            room = r;
            d->User()->CommHeldBack();
        }
    }
    return room;
}

bool TVaComm::handOutInput(const std::weak_ptr<char>& life, const char* data, int n) {
    const std::vector<TVaDispatcher*> clients = mClients;
    std::vector<char> wasActive;
    for (TVaDispatcher* d : clients)
        wasActive.push_back(d->Active());
    // A client switched on by another's handler during this block gets only the bytes after
    // that point (below), never the whole block.
    int restFrom = n;
    for (size_t i = 0; i < clients.size(); ++i) {
        TVaDispatcher* d = clients[i];
        if (!wasActive[i] || !isAttached(d) || !d->Active()) continue;
        d->mRestFrom = -1;
        invokeHandler("HandleEvent", [&] { d->User()->CommData(data, n); });
        if (life.expired()) return false;
        if (isAttached(d) && !d->Active() && d->mRestFrom >= 0)
            restFrom = std::min(restFrom, d->mRestFrom);
    }
    // A client switched itself off part way through the block and its handler switched others
    // on: the bytes after that point are theirs. (They were read before the new client's start
    // purged the input.)
    for (size_t i = 0; restFrom < n && i < clients.size(); ++i) {
        TVaDispatcher* d = clients[i];
        if (wasActive[i] || !isAttached(d) || !d->Active()) continue;
        invokeHandler("HandleEvent", [&] { d->User()->CommData(data + restFrom, n - restFrom); });
        if (life.expired()) return false;
    }
    if (OnRxBuf) {
        const TRxBuf handler = OnRxBuf;
        invokeHandler("HandleEvent", [&] { handler(this, data, n); });
        if (life.expired()) return false;
    }
    return true;
}

bool TVaComm::deliverLineLost(const std::weak_ptr<char>& life) {
    int error = 0;
    if (std::shared_ptr<TVaCommShared> s = Shared()) {
        std::lock_guard<std::mutex> g(s->Lock);
        error = s->LostError;
    }
    if (!OnLineLost) return true;
    const TLineLost handler = OnLineLost;
    invokeHandler("HandleEvent", [&] { handler(this, error); });
    return !life.expired();
}

bool TVaComm::deliverLineErrors(const std::weak_ptr<char>& life) {
    try {
        const TVaCommStatus status = GetStatus();
        if (status.Errors != 0 && OnError) {
            const TError handler = OnError;
            invokeHandler("HandleEvent", [&] { handler(this, status.Errors); });
            if (life.expired()) return false;
        }
    } catch (...) {
        HandleException(QStringLiteral("TVaComm.HandleEvent"));
    }
    return true;
}

void TVaComm::deliverEvents(const std::weak_ptr<char>& life, uint32_t mask) {
    // The clients first, then the port's own handlers.
    const std::vector<TVaDispatcher*> clients = mClients;
    for (TVaDispatcher* d : clients) {
        if (!isAttached(d) || !d->Active()) continue;
        invokeHandler("HandleEvent", [&] { d->User()->CommEvent(mask); });
        if (life.expired()) return;
    }
    const std::pair<uint32_t, TNotify TVaComm::*> handlers[] = {
        {VaEvRxFlag, &TVaComm::OnRxFlag},     {VaEvCts, &TVaComm::OnCts},
        {VaEvDsr, &TVaComm::OnDsr},           {VaEvRing, &TVaComm::OnRing},
        {VaEvRlsd, &TVaComm::OnRlsd},         {VaEvTxEmpty, &TVaComm::OnTxEmpty},
        {VaEvBreak, &TVaComm::OnBreak},       {VaEvPErr, &TVaComm::OnPErr},
        {VaEvRx80Full, &TVaComm::OnRx80Full}, {VaEvEvent1, &TVaComm::OnEvent1},
        {VaEvEvent2, &TVaComm::OnEvent2}};
    for (const auto& [bit, member] : handlers) {
        if (!(mask & bit) || !(this->*member)) continue;
        const TNotify handler = this->*member;
        invokeHandler("HandleEvent", [&] { handler(this); });
        if (life.expired()) return;
    }
}
