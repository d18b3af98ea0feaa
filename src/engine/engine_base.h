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
#include "engine/link_protocol.h"
#include "jobs/queue.h"
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

// What a status report does besides carrying its message.
enum class TReportKind : uint8_t {
    SetsActivity, // the engine's Activity becomes the report's once the console has seen it
    MessageOnly,  // the Activity stays as it is
};

class TEngineBase : public TDeviceEngine {
public:
    ~TEngineBase() override;
    TEngineBase(const TEngineBase&) = delete;
    TEngineBase& operator=(const TEngineBase&) = delete;

    TVaComm& Port() { return *mPort; }
    TVaModem& Modem() { return *mModem; }
    TVaXModem& Transfer() { return *mXModem; }

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
    // Runs body with `flag` raised, and lowers it afterwards unless the engine ended meanwhile
    // (the flag went with it). For the flags that keep a step from being entered again while it
    // waits.
    template <typename F> void WithFlagRaised(bool& flag, F&& body) {
        const TLife life = Life();
        flag = true;
        try {
            std::forward<F>(body)();
        } catch (...) {
            if (Alive(life)) flag = false;
            throw;
        }
        if (Alive(life)) flag = false;
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
    // The extensions this installation's settings allow it to agree on with a Marrowline peer.
    TLinkFeatures LocalFeatures() const;
    // How long an answer to an extension takes at most on this line (ExtensionWaitMs for the
    // port's speed and framing and the transfer's delivery latency).
    int ExtensionWait() const;
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
    // The transfer started (0) or moved byteCount bytes so far.
    virtual void aFileNotification(qint64 byteCount) = 0;
    virtual void yTransferFileInfo(const QString& name, qint64 size) = 0;
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

// What an engine tells its console at each change.
template <typename A> struct TStatusReport {
    A PrevActivity = A::Stopped; // the engine's Activity when the report was made
    TReportKind Kind = TReportKind::MessageOnly;
    A Activity = A::Stopped;       // the Activity the report leaves
    QString Operation;             // the step's name as the console shows it
    int32_t Total = 100;           // announced length of the current file; 100 with no file in hand
    int32_t Progress = 0;          // bytes transferred so far
    QString FileText;              // the file in transfer, or "DIR.LST"
    QString Message;               // this report's message; emptied after each report
    TQueueItem Job;                // the job in hand, as it stood
    TCommDevice* Device = nullptr; // the engine's device
};

// The step machine both engines run over their own scoped enumerations: TStep, TSubStep (the
// Connect step's phases), TEvent and TActivity; `StartsClean`: a forced step starts with the
// sub-step and event it is given rather than keeping those it had. The machine relies on these
// enumerators: TStep::Stop, Login, File and Dir (the last three: the steps of a session),
// TEvent::None, TActivity::Stopped and Online, and TSubStep's first value, which is also the
// sub-step of a step given none.
//
// Execute is the single entry: it forces a step (the lowest of the set) or passes a sub-step
// and an event to the step that runs, then runs the handler the engine's step table (stepFor)
// gives for the step in hand. A handler may call Execute again; the nested call runs to its end
// first. Waits inside a step keep handling events, so two guards keep a step from being
// re-entered: while the machine is held (Hold) Execute does nothing, and a step entered quietly
// (ExecuteQuietly) does not count as a sign of life for the session time-out.
template <typename Engine, typename TStep, typename TSubStep, typename TEvent, typename TActivity,
          bool StartsClean>
class TStepEngine : public TEngineBase {
public:
    using TSteps = TVaSet<TStep>;

    void Execute(bool force, TSteps steps, TSubStep subStep = TSubStep{},
                 TEvent event = TEvent::None) {
        const TLife life = Life();
        Guard("Execute", [&] {
            if (mBusy) return;
            if (!steps.Contains(mStep) && !force) return;
            enterStep(force, steps, subStep, event);
            const TStepRun step = stepFor();
            if (step.run) RunStep(step.run, step.name);
            if (!Alive(life)) return;
            // Whatever reaches a session's steps restarts its time-out.
            if (mActivity == TActivity::Online && !mQuiet &&
                (mStep == TStep::Login || mStep == TStep::File || mStep == TStep::Dir))
                aResetBatchTimeout();
        });
    }

    TActivity Activity() const { return mActivity; }
    TStep Step() const { return mStep; }
    TSubStep SubStep() const { return mSubStep; }
    TEvent Event() const { return mEvent; }
    bool Busy() const { return mBusy; }

protected:
    using TEngineBase::TEngineBase;

    // A step handler with the name its errors are reported under.
    struct TStepRun {
        void (Engine::*run)() = nullptr;
        const char* name = nullptr;
    };
    // The engine's step table: the handler of the step (and Activity) in hand; none: the step
    // does nothing.
    virtual TStepRun stepFor() const = 0;
    // Restarts the session time-out.
    virtual void aResetBatchTimeout() = 0;

    // Runs body with the machine held: Execute does nothing meanwhile.
    template <typename F> void Hold(F&& body) { WithFlagRaised(mBusy, std::forward<F>(body)); }
    // Lets the machine go again from outside the body that held it.
    void Release() { mBusy = false; }
    // Hands `report` to the console (`show`) with the Activity before it and the one it leaves
    // (`kind`, `value`); a report that sets the Activity sets it once the console has seen it.
    // Its message is emptied afterwards. A console that fails to show a report must not stop
    // the step that made it.
    template <typename Report, typename Show>
    void Tell(Report& report, TReportKind kind, TActivity value, Show&& show) {
        const TLife life = Life();
        Guard("aSetStatus", [&] {
            report.PrevActivity = mActivity;
            report.Kind = kind;
            report.Activity = value;
            std::forward<Show>(show)();
            if (!Alive(life)) return;
            if (kind == TReportKind::SetsActivity) mActivity = value;
            report.Message.clear();
        });
    }
    // Execute, except that the step entered does not restart the session time-out.
    void ExecuteQuietly(TSteps steps, TEvent event) {
        WithFlagRaised(mQuiet, [&] { Execute(false, steps, TSubStep{}, event); });
    }

    TActivity mActivity = TActivity::Stopped;
    TStep mStep = TStep::Stop;
    TSubStep mSubStep = TSubStep{};
    TEvent mEvent = TEvent::None;

private:
    void enterStep(bool force, TSteps steps, TSubStep subStep, TEvent event) {
        if (force) {
            for (unsigned s = 0; s < 32; ++s) {
                if (steps.Contains(TStep(s))) {
                    mStep = TStep(s);
                    break;
                }
            }
        }
        if (force && StartsClean) {
            mSubStep = subStep;
            mEvent = event;
            return;
        }
        if (subStep != TSubStep{}) mSubStep = subStep;
        if (event != TEvent::None) mEvent = event;
    }

    bool mBusy = false;
    bool mQuiet = false;
};
