#pragma once
// The serial port (TVaComm) with its event and write threads. The components that listen to it
// are in comm_component.h, its sub-objects in comm_settings.h, its vocabulary in comm_types.h.
//
// Threads: everything that reaches user code (received data, events, errors, OnOpen/OnClose) runs
// on the main thread. The port's workers hand each delivery to the main thread and wait until it
// has been handled. WriteData/WriteChar/WriteText, OutputDrained, BytesWaiting, IsOpen and the
// dispatcher's WriteData/WriteChar may also be called from another worker (the transfer engine's
// thread); everything else belongs to the main thread. Deliveries run through the application's
// event loop, on an object the port owns: open ports after the application object exists and
// close them before it goes.
#include "serial/comm_component.h"
#include "serial/comm_error.h"
#include "serial/comm_settings.h"
#include "serial/comm_types.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

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
    // The speed in bit/s the port is set to (the user rate when Baudrate is brUser).
    int BitsPerSecond() const;
    // Bit times per character: start bit, data bits, parity, stop bits (one and a half counts as
    // two).
    int BitsPerCharacter() const;
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
    // Main-thread handling of one event mask delivered by a worker, and its steps: received
    // bytes (the clients, as much as they have room for, then OnRxBuf; OnRxChar without
    // clients), a lost line, line errors, then the other events. A step is false when a handler
    // destroyed the port.
    void HandleEventMask(uint32_t mask, int* leftUnread, bool* throttled);
    bool deliverInput(const std::weak_ptr<char>& life, int* leftUnread, bool* throttled);
    int inputRoom(int waiting);
    bool handOutInput(const std::weak_ptr<char>& life, const char* data, int n);
    bool deliverLineLost(const std::weak_ptr<char>& life);
    bool deliverLineErrors(const std::weak_ptr<char>& life);
    void deliverEvents(const std::weak_ptr<char>& life, uint32_t mask);
    bool isAttached(const TVaDispatcher* client) const;
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
    // Runs the workers' deliveries on the main thread (made at the first Open). It goes with the
    // port, and with it any delivery still queued for the port.
    std::unique_ptr<QObject> mDeliveryReceiver;
    bool mDestroying = false;
};
