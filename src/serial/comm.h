#pragma once
// The serial port (TVaComm) with its event and write threads, the components that listen to a
// port (TVaCommComponent, through a TVaDispatcher), and the pending-write buffer (TVaCommBuffer).
//
// Threads: everything that reaches user code (received data, events, errors, OnOpen/OnClose) runs
// on the main thread. The port's workers hand each delivery to the main thread and wait until it
// has been handled. WriteData/WriteChar/WriteText, OutputDrained, BytesWaiting, IsOpen and the
// dispatcher's WriteData/WriteChar may also be called from another worker (the transfer engine's
// thread); everything else belongs to the main thread. Deliveries travel through the application
// object: create ports after it and close them before it goes.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Errors

// Raised by the port; carries the message text that callers write into their status line.
class EVaCommError : public std::exception {
public:
    explicit EVaCommError(const QString& message);
    const QString& Message() const { return mMessage; }
    const char* what() const noexcept override { return mUtf8.constData(); }

private:
    QString mMessage;
    QByteArray mUtf8;
};

// Where errors from event handlers end up (the application's exception handler): the owner of a
// component decides (the engines write the status line "!" + origin + ": " + text).
using TVaExceptionHandler = std::function<void(const QString& origin, const QString& text)>;
// The text of the exception in flight (EVaCommError, any std::exception, or an unknown one); call
// it inside a catch block.
QString VaExceptionText();
// Reports the exception in flight to the handler; without one it goes to standard error.
void VaReportException(const TVaExceptionHandler& handler, const QString& origin);

// ---------------------------------------------------------------------------------------------
// Enumerations and sets

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
// The seven-step priority scale of the worker threads.
enum TVaThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Bits per second of a TVaBaudrate member (brUser gives 0: the port uses UserBaudrate).
int BaudrateValue(TVaBaudrate rate);

// Event-mask bits, as delivered to OnXxx handlers and to clients' HandleCommEvent.
constexpr uint32_t VaEvRxChar = 0x0001;
constexpr uint32_t VaEvRxFlag = 0x0002;
constexpr uint32_t VaEvTxEmpty = 0x0004;
constexpr uint32_t VaEvCts = 0x0008;
constexpr uint32_t VaEvDsr = 0x0010;
constexpr uint32_t VaEvRlsd = 0x0020;
constexpr uint32_t VaEvBreak = 0x0040;
constexpr uint32_t VaEvErr = 0x0080;
constexpr uint32_t VaEvRing = 0x0100;
constexpr uint32_t VaEvPErr = 0x0200;
constexpr uint32_t VaEvRx80Full = 0x0400;
constexpr uint32_t VaEvEvent1 = 0x0800;
constexpr uint32_t VaEvEvent2 = 0x1000;
// The mask bit of one TVaCommEvent member.
uint32_t CommEventBit(TVaCommEvent event);

// Line error flags (TVaCommStatus::Errors, the OnError argument).
constexpr uint32_t VaCeRxOver = 0x0001;  // input queue overflowed
constexpr uint32_t VaCeOverrun = 0x0002; // character lost by the hardware
constexpr uint32_t VaCeRxParity = 0x0004;
constexpr uint32_t VaCeFrame = 0x0008;
constexpr uint32_t VaCeBreak = 0x0010;
constexpr uint32_t VaCeIoe = 0x0400; // the device refused a background write

// Purge flags.
constexpr uint32_t VaPurgeTxAbort = 0x1;
constexpr uint32_t VaPurgeRxAbort = 0x2;
constexpr uint32_t VaPurgeTxClear = 0x4;
constexpr uint32_t VaPurgeRxClear = 0x8;

// A set of enumeration members (members must be below 32).
template <typename E> class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> members) {
        for (E m : members)
            mBits |= Bit(m);
    }
    constexpr bool Contains(E m) const { return (mBits & Bit(m)) != 0; }
    constexpr TVaSet& Include(E m) {
        mBits |= Bit(m);
        return *this;
    }
    constexpr TVaSet& Exclude(E m) {
        mBits &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return mBits == 0; }
    constexpr uint32_t Bits() const { return mBits; }
    static constexpr TVaSet FromBits(uint32_t bits) {
        TVaSet s;
        s.mBits = bits;
        return s;
    }
    friend constexpr TVaSet operator+(TVaSet a, TVaSet b) { return FromBits(a.mBits | b.mBits); }
    friend constexpr TVaSet operator-(TVaSet a, TVaSet b) { return FromBits(a.mBits & ~b.mBits); }
    friend constexpr TVaSet operator*(TVaSet a, TVaSet b) { return FromBits(a.mBits & b.mBits); }
    friend constexpr bool operator==(TVaSet a, TVaSet b) { return a.mBits == b.mBits; }

private:
    static constexpr uint32_t Bit(E m) { return uint32_t(1) << unsigned(m); }
    uint32_t mBits = 0;
};
using TVaCommOptions = TVaSet<TVaCommOption>;
using TVaCommEvents = TVaSet<TVaCommEvent>;

// ---------------------------------------------------------------------------------------------
// Sub-objects of the port

class TVaComm;

// Base of the port's sub-objects: a back-reference to the owning port (none for a free-standing
// copy) and a change notification. Assign copies every field with notification suspended and
// notifies once at the end. Copying makes a free-standing object; assigning to a port's own
// sub-object goes through Assign.
class TVaPersistent {
public:
    virtual ~TVaPersistent() = default;
    TVaComm* Owner() const { return mOwner; }

protected:
    TVaPersistent() = default;
    explicit TVaPersistent(TVaComm* owner) : mOwner(owner) {}
    TVaPersistent(const TVaPersistent&) {}
    TVaPersistent& operator=(const TVaPersistent&) { return *this; }
    void BeginUpdate() { ++mUpdateCount; }
    void EndUpdate(bool changed);
    // Tells the owner (when not inside Assign and there is one) that a field changed.
    void Changed();
    // Asks the owner whether the change is allowed now (raises when it is not).
    void CheckChange(bool closedOnly) const;

private:
    TVaComm* mOwner = nullptr;
    int mUpdateCount = 0;
    bool mPendingChange = false;
};

// Queue sizes, time-outs and flow-control limits. ReadSize, WriteSize, XonLimit, XoffLimit (and
// Assign) raise "Can't perform this operation while port is open" while the owner is open;
// ReadTimeout and WriteTimeout may change at any time.
class TVaBuffers : public TVaPersistent {
public:
    TVaBuffers() = default;
    explicit TVaBuffers(TVaComm* owner) : TVaPersistent(owner) {}
    TVaBuffers(const TVaBuffers& other);
    TVaBuffers& operator=(const TVaBuffers& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaBuffers& source);

    int ReadSize() const { return mReadSize; }
    int WriteSize() const { return mWriteSize; }
    int ReadTimeout() const { return mReadTimeout; }
    int WriteTimeout() const { return mWriteTimeout; }
    int XonLimit() const { return mXonLimit; }
    int XoffLimit() const { return mXoffLimit; }
    void SetReadSize(int value);
    void SetWriteSize(int value);
    void SetReadTimeout(int value);
    void SetWriteTimeout(int value);
    void SetXonLimit(int value);
    void SetXoffLimit(int value);

private:
    void SetField(int& field, int value, bool closedOnly);
    int mReadSize = 4096;
    int mWriteSize = 2048;
    int mReadTimeout = 1000;
    int mWriteTimeout = 1000;
    int mXonLimit = 1024;
    int mXoffLimit = 1024;
};

// The special characters of the line.
class TVaEventChars : public TVaPersistent {
public:
    TVaEventChars() = default;
    explicit TVaEventChars(TVaComm* owner) : TVaPersistent(owner) {}
    TVaEventChars(const TVaEventChars& other);
    TVaEventChars& operator=(const TVaEventChars& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaEventChars& source);

    uint8_t XonChar() const { return mXonChar; }
    uint8_t XoffChar() const { return mXoffChar; }
    uint8_t ErrorChar() const { return mErrorChar; }
    uint8_t EventChar() const { return mEventChar; }
    uint8_t EofChar() const { return mEofChar; }
    void SetXonChar(uint8_t value) { SetField(mXonChar, value); }
    void SetXoffChar(uint8_t value) { SetField(mXoffChar, value); }
    void SetErrorChar(uint8_t value) { SetField(mErrorChar, value); }
    void SetEventChar(uint8_t value) { SetField(mEventChar, value); }
    void SetEofChar(uint8_t value) { SetField(mEofChar, value); }

private:
    void SetField(uint8_t& field, uint8_t value);
    uint8_t mXonChar = 17;
    uint8_t mXoffChar = 19;
    uint8_t mErrorChar = 0;
    uint8_t mEventChar = 0;
    uint8_t mEofChar = 0;
};

// Handshaking. The session engines switch on hardware handshaking with ControlDtr = dtrHandshake,
// ControlRts = rtsHandshake and OutCtsFlow, OutDsrFlow, DsrSensitivity = true.
class TVaFlowControl : public TVaPersistent {
public:
    TVaFlowControl() = default;
    explicit TVaFlowControl(TVaComm* owner) : TVaPersistent(owner) {}
    TVaFlowControl(const TVaFlowControl& other);
    TVaFlowControl& operator=(const TVaFlowControl& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaFlowControl& source);

    bool OutCtsFlow() const { return mOutCtsFlow; }
    bool OutDsrFlow() const { return mOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return mControlDtr; }
    TVaControlRts ControlRts() const { return mControlRts; }
    bool XonXoffOut() const { return mXonXoffOut; }
    bool XonXoffIn() const { return mXonXoffIn; }
    bool DsrSensitivity() const { return mDsrSensitivity; }
    bool TxContinueOnXoff() const { return mTxContinueOnXoff; }
    void SetOutCtsFlow(bool value) { SetField(mOutCtsFlow, value); }
    void SetOutDsrFlow(bool value) { SetField(mOutDsrFlow, value); }
    void SetControlDtr(TVaControlDtr value);
    void SetControlRts(TVaControlRts value);
    void SetXonXoffOut(bool value) { SetField(mXonXoffOut, value); }
    void SetXonXoffIn(bool value) { SetField(mXonXoffIn, value); }
    void SetDsrSensitivity(bool value) { SetField(mDsrSensitivity, value); }
    void SetTxContinueOnXoff(bool value) { SetField(mTxContinueOnXoff, value); }

private:
    void SetField(bool& field, bool value);
    bool mOutCtsFlow = false;
    bool mOutDsrFlow = false;
    TVaControlDtr mControlDtr = dtrDisabled;
    TVaControlRts mControlRts = rtsDisabled;
    bool mXonXoffOut = false;
    bool mXonXoffIn = false;
    bool mDsrSensitivity = false;
    bool mTxContinueOnXoff = false;
};

// ---------------------------------------------------------------------------------------------
// Pending bytes

// A byte array of fixed capacity with a fill count: append at the end, copy out from the front,
// delete from the front, clear. Not locked: its owner guards it. Deleting from the front is
// O(1); the bytes are moved down lazily when an append needs the room, so Data() is always one
// contiguous block.
class TVaCommBuffer {
public:
    explicit TVaCommBuffer(int capacity);
    int Capacity() const { return mCapacity; }
    int Count() const { return mCount; }
    int Free() const { return mCapacity - mCount; }
    bool Empty() const { return mCount == 0; }
    // Appends all `count` bytes, or nothing (false) when they do not fit.
    bool Append(const char* data, int count);
    // Copies up to `count` bytes from the front; returns how many were copied.
    int Peek(char* dest, int count) const;
    // The first Count() bytes.
    const char* Data() const { return mBytes.data() + mStart; }
    // Removes up to `count` bytes from the front.
    void Delete(int count);
    void Clear();

private:
    std::vector<char> mBytes;
    int mCapacity = 0;
    int mStart = 0;
    int mCount = 0;
};

// ---------------------------------------------------------------------------------------------
// Components, clients and the port

// Base of the serial layer's components.
class TVaComponent : public QObject {
    Q_OBJECT
public:
    explicit TVaComponent(QObject* owner = nullptr) : QObject(owner) {}

    // What an event handler raises goes here (see TVaExceptionHandler).
    void SetExceptionHandler(TVaExceptionHandler handler) {
        mExceptionHandler = std::move(handler);
    }
    const TVaExceptionHandler& ExceptionHandler() const { return mExceptionHandler; }

protected:
    // Reports the exception in flight under `origin`; call it inside a catch block.
    void HandleException(const QString& origin) { VaReportException(mExceptionHandler, origin); }

private:
    TVaExceptionHandler mExceptionHandler;
};

// What a listening component receives from the port (main thread, only while its dispatcher is
// Active).
class IVaCommUser {
public:
    virtual ~IVaCommUser() = default;
    virtual void CommData(const char* Data, int Count) = 0;
    virtual void CommEvent(uint32_t Mask) = 0;
    // Bytes the client can take now; -1 for no limit. While an active client has no room the
    // port leaves received bytes in the device, so that the line's own buffers hold the sender
    // back; the client calls TVaComm::ResumeReading once it has room again.
    virtual int CommRoom() { return -1; }
    // The port left bytes in the device for lack of room in this client.
    virtual void CommHeldBack() {}
};

// A component's registration with a port: its IVaCommUser, its Active flag and the port it is
// attached to. Through it the component writes and purges; with no port these return 0, false,
// or do nothing. Destroying a dispatcher detaches it.
class TVaDispatcher {
public:
    explicit TVaDispatcher(IVaCommUser* user) : mUser(user) {}
    ~TVaDispatcher();
    TVaDispatcher(const TVaDispatcher&) = delete;
    TVaDispatcher& operator=(const TVaDispatcher&) = delete;

    IVaCommUser* User() const { return mUser; }
    TVaComm* Comm() const { return mComm; }
    bool Active() const { return mActive; }
    void SetActive(bool value) { mActive = value; }
    // While handling a receive block: the client has switched itself off after the first
    // `consumed` bytes of it. The rest is not for this client; the port hands it to the clients
    // that were switched on meanwhile (a reply that ends mid-block and starts a transfer, whose
    // first bytes came in the same block).
    void LeaveRest(int consumed) { mRestFrom = consumed; }

    int WriteData(const char* Data, int Count);
    bool WriteChar(char Ch);
    void PurgeReadWrite();

private:
    friend class TVaComm;
    IVaCommUser* mUser;
    TVaComm* mComm = nullptr;
    bool mActive = true;
    int mRestFrom = -1; // set through LeaveRest during one CommData call
};

// Base of the components that listen to a port (modem controller, reply watcher, transfer
// engine). Setting Comm detaches from the previous port and attaches to the new one; destroying
// either side removes the registration.
class TVaCommComponent : public TVaComponent, private IVaCommUser {
    Q_OBJECT
public:
    explicit TVaCommComponent(QObject* owner = nullptr);
    ~TVaCommComponent() override;

    TVaComm* Comm() const { return mDispatcher.Comm(); }
    void SetComm(TVaComm* comm);
    bool Active() const { return mDispatcher.Active(); }
    void SetActive(bool value) { mDispatcher.SetActive(value); }
    TVaDispatcher& Dispatcher() { return mDispatcher; }

protected:
    // Bytes received (main thread, only while Active). Does nothing here.
    virtual void HandleCommData(const char* Data, int Count);
    // Event-mask bits of one device event (main thread, only while Active). Does nothing here.
    virtual void HandleCommEvent(uint32_t Mask);
    // Bytes this component can take now (main thread); -1, no limit, here.
    virtual int HandleCommRoom() { return -1; }
    virtual void HandleCommHeldBack() {}
    // The port's writes and purge through the registration.
    int WriteData(const char* Data, int Count) { return mDispatcher.WriteData(Data, Count); }
    bool WriteChar(char Ch) { return mDispatcher.WriteChar(Ch); }
    void PurgeReadWrite() { mDispatcher.PurgeReadWrite(); }

private:
    void CommData(const char* Data, int Count) override { HandleCommData(Data, Count); }
    void CommEvent(uint32_t Mask) override { HandleCommEvent(Mask); }
    int CommRoom() override { return HandleCommRoom(); }
    void CommHeldBack() override { HandleCommHeldBack(); }
    TVaDispatcher mDispatcher;
};

// The result of GetStatus: line error flags (cleared by the query), status flags, and the bytes
// in the device's input and output queues.
struct TVaCommStatus {
    uint32_t Errors = 0;
    uint32_t StatusFlags = 0;
    uint32_t InQueue = 0;
    uint32_t OutQueue = 0;
};

struct TVaCommShared; // state shared with the worker threads (comm_shared.h)

// The serial port.
//
// DeviceName is a pattern with one integer placeholder (%d takes PortNum; default "COM%d").
// "COMn" opens the target of AppDir/ports/COMn when that link exists, else /dev/ttyS(n-1); a
// name that formats to an absolute path is opened as it is.
class TVaComm : public TVaComponent {
    Q_OBJECT
public:
    using TNotify = std::function<void(TVaComm* Sender)>;
    using TRxChar = std::function<void(TVaComm* Sender, int Count)>;
    using TRxBuf = std::function<void(TVaComm* Sender, const char* Data, int Count)>;
    using TError = std::function<void(TVaComm* Sender, uint32_t Errors)>;
    using TLineLost = std::function<void(TVaComm* Sender, int Error)>;

    explicit TVaComm(QObject* owner = nullptr);
    ~TVaComm() override;

    // --- operations
    void Open();
    void Close();
    bool IsOpen() const;
    // Bytes accepted (0 when closed). Buffered: raises "Output buffer is full. Please check comm
    // status." when the bytes do not fit within WriteTimeout ms. Direct: waits up to
    // ReadTimeout ms and returns the count written by then.
    int WriteData(const char* Data, int Count);
    bool WriteText(const QByteArray& Text);
    bool WriteText(const QString& Text); // as UTF-8 bytes
    bool WriteChar(char Ch);
    // Bytes read from what is waiting (never blocks longer than ReadTimeout; 0 when closed).
    int ReadData(char* Data, int Count);
    int BytesWaiting();
    TVaCommStatus GetStatus();
    void Purge(uint32_t Flags);
    void PurgeReadWrite() { Purge(0xF); }
    // True when nothing is waiting to go out: the pending-write buffer is empty and the device's
    // output queue is empty (also true when closed). For WaitFor([&]{...}, ms). A
    // pseudo-terminal keeps no output queue: there, bytes count as sent once written to it.
    bool OutputDrained();
    // Any thread: a client that had no room (CommRoom) can take bytes again; the event thread
    // looks at the device at once instead of waiting for new input.
    void ResumeReading();
    void AttachClient(TVaDispatcher* client);
    void DetachClient(TVaDispatcher* client);
    int ClientCount() const { return int(mClients.size()); }
    // Opens the port when AutoOpen is set (after its settings have been loaded).
    void Loaded();
    // The path that Open would open (for messages and tests).
    QString DevicePath() const;
    // The path the last successful Open opened (kept after Close): the device a lost line
    // was on.
    QString OpenedPath() const { return mOpenedPath; }
    // The folder whose "ports/COMn" links name the device behind COMn (the program folder).
    void SetPortMapFolder(const QString& folder) { mPortMapFolder = folder; }
    // DeviceName formatted with PortNum.
    QString FormattedDeviceName() const;

    // --- properties
    bool AutoOpen() const { return mAutoOpen; }
    void SetAutoOpen(bool value) { mAutoOpen = value; }
    TVaBaudrate Baudrate() const { return mBaudrate; }
    void SetBaudrate(TVaBaudrate value);
    int UserBaudrate() const { return mUserBaudrate; }
    void SetUserBaudrate(int value);
    TVaParity Parity() const { return mParity; }
    void SetParity(TVaParity value);
    TVaDatabits Databits() const { return mDatabits; }
    void SetDatabits(TVaDatabits value);
    TVaStopbits Stopbits() const { return mStopbits; }
    void SetStopbits(TVaStopbits value);
    TVaEventChars& EventChars() { return mEventChars; }
    void SetEventChars(const TVaEventChars& value) { mEventChars.Assign(value); }
    TVaFlowControl& FlowControl() { return mFlowControl; }
    void SetFlowControl(const TVaFlowControl& value) { mFlowControl.Assign(value); }
    TVaCommOptions Options() const { return mOptions; }
    void SetOptions(TVaCommOptions value);
    int PortNum() const { return mPortNum; }
    void SetPortNum(int value);
    QString DeviceName() const { return mDeviceName; }
    void SetDeviceName(const QString& value);
    TVaCommEvents MonitorEvents() const { return mMonitorEvents; }
    void SetMonitorEvents(TVaCommEvents value);
    TVaBuffers& Buffers() { return mBuffers; }
    void SetBuffers(const TVaBuffers& value) { mBuffers.Assign(value); }
    TVaThreadPriority EventPriority() const { return mEventPriority; }
    void SetEventPriority(TVaThreadPriority value);
    TVaThreadPriority WritePriority() const { return mWritePriority; }
    void SetWritePriority(TVaThreadPriority value);
    bool DirectWrite() const { return mDirectWrite; }
    void SetDirectWrite(bool value);
    bool UpdateDCB() const { return mUpdateDCB; }
    void SetUpdateDCB(bool value);
    // Input gathering, in microseconds (0, the default: off). When a few bytes arrive within
    // half this long of the last input delivery (input streaming in faster than the main thread
    // takes it), the event thread waits while more keep coming, up to this long between two
    // looks, at most 16 times this long in all, before it reports them: a stream then reaches
    // the main thread in a few deliveries instead of one for every byte or two, each of which
    // costs the main thread a hand-off. Input after a pause (a lone acknowledgement) and input
    // that comes many bytes at a time are reported at once. Taken at open.
    int RxGatherUs() const { return mRxGatherUs; }
    void SetRxGatherUs(int value);

    // --- events (main thread)
    TNotify OnOpen;
    TNotify OnClose;
    TNotify OnCts;
    TNotify OnDsr;
    TNotify OnRlsd;
    TNotify OnRing;
    TNotify OnBreak;
    TError OnError;
    TRxChar OnRxChar;
    TRxBuf OnRxBuf;
    TNotify OnRxFlag;
    TNotify OnTxEmpty;
    TNotify OnPErr;
    TNotify OnRx80Full;
    TNotify OnEvent1;
    TNotify OnEvent2;
    // The device hung up or went away while open (poll reported a hang-up, or it answered with
    // EIO, ENODEV or ENXIO): a USB adapter pulled, the far side of a pseudo-terminal closed, a
    // modem line's carrier dropped with DSR/DCD sensitivity on. Raised once, after the bytes
    // that came before it; Error is the errno that told (0 for a hang-up alone). From then on
    // the port reads nothing, writes take nothing (0), purges do nothing and no line errors are
    // reported; the owner closes it and may open it again once the device is back. Needs an
    // event thread (MonitorEvents not empty).
    TLineLost OnLineLost;

private:
    friend class TVaPersistent;
    friend struct TVaCommDelivery;
    // Sub-object notifications.
    void PersistentChanged(TVaPersistent* sender);
    void CheckPersistentChange(bool closedOnly) const;
    void CheckClosed() const;
    void SendLineSettings();
    std::shared_ptr<TVaCommShared> Shared() const;
    // Main-thread handling of one event mask delivered by a worker.
    void HandleEventMask(uint32_t mask, int* leftUnread, bool* throttled);
    void CloseDevice(bool destroying);
    template <typename F> void invokeHandler(const char* operation, F&& call);

    bool mAutoOpen = false;
    TVaBaudrate mBaudrate = br1200;
    int mUserBaudrate = 0;
    TVaParity mParity = paNone;
    TVaDatabits mDatabits = db8;
    TVaStopbits mStopbits = sb1;
    TVaEventChars mEventChars{this};
    TVaFlowControl mFlowControl{this};
    TVaCommOptions mOptions;
    int mPortNum = 0;
    QString mDeviceName = QStringLiteral("COM%d");
    QString mPortMapFolder;
    QString mOpenedPath;
    TVaCommEvents mMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers mBuffers{this};
    TVaThreadPriority mEventPriority = tpNormal;
    TVaThreadPriority mWritePriority = tpHighest;
    bool mDirectWrite = false;
    bool mUpdateDCB = true;
    int mRxGatherUs = 0;

    std::vector<TVaDispatcher*> mClients;
    // Guards mShared for writers on other threads. Taken alone, never together with one of the
    // shared state's locks (see the lock order in comm_shared.h).
    mutable std::mutex mSharedLock;
    std::shared_ptr<TVaCommShared> mShared; // present exactly while open
    std::shared_ptr<char> mLife;            // expires when the port is destroyed
    bool mDestroying = false;
};
