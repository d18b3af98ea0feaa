#pragma once
// What the two session engines share. The server engine (THostProcess) and the client engine
// (TRemProcess) each run on one device of their owning device list and reach the program through
// that list's services. Both drive the same components: a port (TVaComm), the modem controller on
// it (TVaModem) and an XMODEM-1K transfer (TVaXModem), plus timers of their own.
//
// Everything runs on the main thread, driven by the components' events. A step that waits (WaitFor,
// Delay) keeps handling events meanwhile, so the engine may be destroyed before the wait returns:
// such a step takes the engine's life token (Life) before the wait and looks at it (Alive) after.
//
// Errors: what an entry point raises (a component's event, a timer, a step run by Execute) is
// caught once, there, and becomes the status line "!" + class + "." + operation + ": " + text.
// Inside a step, only operations whose failure the step gets over (a write, one part of a
// disconnection) catch on their own.
#include "engine/devices.h"
#include "serial/comm.h"
#include "serial/modem.h"
#include "serial/modems.h"
#include "serial/va_timer.h"
#include "serial/xmodem.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

// The sub-step passed with a step that has none of its own: a forced step starts with it (the
// server engine), and Execute leaves the current sub-step as it is on it (the client engine).
constexpr uint8_t NoSubStep = 0;
// A status report's Kind that carries only a message (0, 1 and 2 also set the Activity).
constexpr uint8_t MessageReport = 3;

class TEngineBase : public TDeviceEngine {
public:
    ~TEngineBase() override;
    TEngineBase(const TEngineBase&) = delete;
    TEngineBase& operator=(const TEngineBase&) = delete;

protected:
    // The token of the engine's life: it expires when the engine ends (EndLife).
    using TLife = std::weak_ptr<bool>;

    // `className` starts the engine's error lines ("THostProcess", "TRemProcess");
    // `unknownError` is the text written for an exception that carries none.
    TEngineBase(TDevicesList* owner, TCommDevice& device, const char* className,
                const char* unknownError);

    // --- life
    TLife Life() const { return mAlive; }
    static bool Alive(const TLife& life) { return !life.expired(); }
    // Every token taken so far expires. The destructor calls it once the engine has stopped,
    // before the components' handlers are detached.
    void EndLife() { mAlive.reset(); }

    // --- errors
    // The text of the exception in flight; call it inside a catch block.
    QString ErrorText() const;
    // Writes "!" + class + "." + operation + ": " + text.
    void ReportError(const char* operation, const QString& text);
    // The same with the exception in flight; call it inside a catch block.
    void ReportError(const char* operation) { ReportError(operation, ErrorText()); }
    // Runs body. What it raises becomes the error line of `operation`, unless the engine ended
    // meanwhile. False when body raised.
    template <typename F> bool Guard(const char* operation, F&& body) {
        const TLife life = Life();
        try {
            std::forward<F>(body)();
            return true;
        } catch (...) {
            if (Alive(life)) ReportError(operation);
            return false;
        }
    }
    // Runs body. What it raises is written as a bare status line (its text alone) and the caller
    // goes on: one part of a disconnection or a recovery must not keep the others from running.
    // False when body raised.
    template <typename F> bool Tolerate(F&& body) {
        try {
            std::forward<F>(body)();
            return true;
        } catch (...) {
            mStatus.Add(ErrorText());
            return false;
        }
    }
    // Runs one step handler of the engine `E` under the step's name, as Execute does.
    template <typename E> void RunStep(void (E::*step)(), const char* operation) {
        Guard(operation, [&] { (static_cast<E*>(this)->*step)(); });
    }

    // --- components
    // Makes the port, the modem controller and the transfer with the settings both engines use,
    // and wires their events to the y... handlers below (each under Guard, named after it).
    // ConfigureModem adds the engine's own modem settings before the modem joins the port.
    void CreateComponents();
    // Takes every handler off the components: nothing they raise reaches the engine any more.
    void DetachComponents();
    // What a component's or timer's own handlers raise becomes "!" + origin + ": " + text.
    TVaExceptionHandler StatusHandler() const;
    // Sets the timer's exception handler and its OnTimer, which runs `handler` under Guard.
    void HookTimer(TVaTimer& timer, const char* operation, std::function<void()> handler);

    // --- work off the main thread
    // Runs `work` on a thread of its own, then `done` on the main thread, unless the engine has
    // ended by then. For what may wait on the disk (syncing a received file) while the main
    // thread serves the other ports. `work` must not touch the engine. One piece of work at a
    // time: a call made while the last one still runs waits for it first.
    void RunInBackground(std::function<void()> work, std::function<void()> done);
    // Waits for the work in the background to end (the engine's destructor does, and a `done`
    // still on its way is then dropped).
    void JoinBackground();

    // --- waits: false when the engine ended meanwhile, or the line was lost meanwhile (the step
    // that waited is over: the line it waited on is gone)
    // Until the port has sent all it holds, at most ms.
    bool WaitDrained(int ms);
    bool Pause(int ms);

    // --- a lost line (the port's OnLineLost: a USB adapter pulled, a cable's far end gone)
    // Counts the loss, so that a step waiting meanwhile ends (see WaitDrained).
    void NoteLineLost() { ++mLineLosses; }
    // The status line: "Line lost on COM1 (/dev/...): " and what happened.
    QString LineLostText(int error) const;
    // The device the port opens for its port number is there (the path its link leads to
    // exists).
    bool DevicePresent() const;
    // Looks about once a second, without a word, whether the device is there again; once it
    // is, stops looking and runs `back`. StopDeviceWatch stops looking (Disconnect does).
    void WatchForDevice(std::function<void()> back);
    void StopDeviceWatch();

    // --- the device
    bool IsDirectDevice() const { return mDevice.Get(dvkDevType) == QLatin1String("Direct"); }
    bool IsModemDevice() const { return mDevice.Get(dvkDevType) == QLatin1String("Modem"); }
    // A device on a line: "Direct" or "Modem".
    bool IsLineDevice() const { return IsDirectDevice() || IsModemDevice(); }
    // The next of the modem's extra commands (mExtraCommands), taken off the list.
    QString TakeExtraCommand();
    // Loads the configuration of the device's modem (the entry with the device's GUID) into
    // `modem`; false when there is none. The GUID in `modem` is emptied first.
    bool LoadDeviceModem(TModemSettings& modem) const;
    // The hardware handshake a modem line runs with: DTR and RTS, CTS and DSR output flow, DSR
    // sensitivity.
    void SetModemFlowControl();
    // A number from the device's line settings; raises when the text is not one.
    static int ToIntOrThrow(const QString& text);
    // The status line of a port error: "COM port error (n): " and the errors it names.
    static QString PortErrorText(uint32_t errors);
    // Opens the port. What it raises (a device that is missing, held or not allowed, with what
    // mends it) becomes the error line of `operation` and, on the desktop, a box: one box per
    // fault, not one per attempt, until the port opens. False when it raised.
    bool OpenPort(const char* operation);

    // --- the engine's own parts
    virtual void ConfigureModem(TVaModem& modem) = 0;
    virtual void yPortOpen() = 0;
    virtual void yPortClose() = 0;
    virtual void yPortError(uint32_t errors) = 0;
    virtual void yPortLineLost(int error) = 0;
    virtual void yModemOK() = 0;
    virtual void yModemBusy() = 0;
    virtual void yModemCommandTimeout() = 0;
    virtual void yModemConnect(const QString& connectString) = 0;
    virtual void yModemError() = 0;
    virtual void yModemNoCarrier() = 0;
    virtual void yModemVoice() = 0;
    virtual void yTransferStart() = 0;
    virtual void yTransferFileInfo(const QString& name, qint64 size) = 0;
    virtual void yTransferPacket(qint64 byteCount) = 0;
    virtual void yTransferEnd(int exitCode) = 0;
    virtual void yTransferError(int code) = 0;

    TDevicesList* mOwner;
    TCommDevice& mDevice;
    TSettings& mSettings;
    TStatusSink& mStatus;
    TQueueList* mQueue;
    TModemsList* mModems;

    // The modem's extra commands of the session, each followed by "|||".
    QString mExtraCommands;

    std::unique_ptr<TVaComm> mPort;
    std::unique_ptr<TVaModem> mModem;
    std::unique_ptr<TVaXModem> mXModem;

private:
    const char* mClassName;
    const char* mUnknownError;
    IPrompt* mAlerts;
    QString mLastAlert; // the text of the last box about opening the port
    quint64 mLineLosses = 0;
    TVaTimer mDeviceWatch;
    std::function<void()> mDeviceBack;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    // The work in the background, and the object on the main thread its end is posted to. The
    // thread is joined before the object goes, so the post always finds it.
    std::unique_ptr<QObject> mBackgroundReceiver = std::make_unique<QObject>();
    std::thread mBackground;
};
