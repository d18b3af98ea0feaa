#pragma once
// The components of the serial layer (TVaComponent) and those that listen to a port
// (TVaCommComponent): each registers with the port through a TVaDispatcher, and the port hands
// it received bytes and events through IVaCommUser.
#include "serial/comm_error.h"

#include <QObject>
#include <cstdint>

class TVaComm;

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
