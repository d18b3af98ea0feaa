// The server engine: creation and destruction, and the state machine's single entry (Execute).
// The steps are in host_steps.cpp and host_file.cpp, the actions in host_actions.cpp, the
// handlers of the components' events and of the timers in host_events.cpp.
#include "engine/host_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "core/status.h"

TDeviceEngineFactory HostEngineFactory() {
    return [](TDevicesList& owner, TCommDevice& device) {
        return std::unique_ptr<TDeviceEngine>(new THostProcess(&owner, device));
    };
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

THostProcess::THostProcess(TDevicesList* owner, TCommDevice& device)
    : TEngineBase(owner, device, "THostProcess", "Unknown exception"),
      mUsers(owner->Services().users), mConsole(owner->Services().hostConsole) {
    const bool created = Guard("Create", [&] {
        for (int k = 0; k < QueueKeyCount; ++k)
            mReport.Job.Slots[size_t(k)] = TIniKey::StringSlot(QueueKeyNames[k]);
        for (int k = 0; k < ModemKeyCount; ++k)
            mReport.Modem.Slots[size_t(k)] = TIniKey::StringSlot(ModemKeyNames[k]);
        if (mUsers) mUsers->EmptyItem(mReport.User);
        mReport.Device = &mDevice;

        mSessionTimeoutMs = TimerOverrideMs("MARROWLINE_SESSION_TIMEOUT_MS", -1);
        mWatchDogMs = TimerOverrideMs("MARROWLINE_WATCHDOG_MS", 600000);
        removeLeftovers();

        CreateComponents();
        mWatchDog.SetInterval(mWatchDogMs);
        HookTimer(mWatchDog, "tmWatchDogTimer", [this] { tmWatchDogTimer(); });
        mWatchDog.SetEnabled(true);
        mSessionTimer.SetEnabled(false);
        HookTimer(mSessionTimer, "tmBatchTmoTimer", [this] { tmBatchTmoTimer(); });
        mBusy = false;
    });
    if (created) Execute(true, {hsCallWait});
}

THostProcess::~THostProcess() {
    Guard("Destroy", [&] {
        RunStep(&THostProcess::DoStop, "DoStop");
        mWatchDog.SetEnabled(false);
        mSessionTimer.SetEnabled(false);
        mLines.clear();
        // Lets the port's and the transfer's last deliveries run while the engine still exists.
        Delay(500);
    });
    // Nothing that the components raise from now on may reach this object.
    EndLife();
    mWatchDog.SetOnTimer(nullptr);
    mSessionTimer.SetOnTimer(nullptr);
    DetachComponents();
    // A partial file must not outlive the session that was receiving it.
    try {
        mXModem.reset();
        discardPartialFile();
    } catch (...) {
        ReportError("Destroy");
    }
}

void THostProcess::Restart() {
    Execute(true, {hsCallWait});
}

// ---------------------------------------------------------------------------------------------
// The state machine

void THostProcess::Execute(bool force, THstSteps steps, uint8_t subStep, uint8_t event) {
    const TLife life = Life();
    Guard("Execute", [&] {
        if (mBusy) return;
        if (!steps.Contains(THstStep(mStep)) && !force) return;
        enterStep(force, steps, subStep, event);
        const TStepRun step = stepFor();
        if (step.run) RunStep(step.run, step.name);
        if (!Alive(life)) return;
        // Every command that reaches these steps restarts the session time-out.
        if (mActivity == haOnline && (mStep == hsLogin || mStep == hsFile || mStep == hsDir))
            aResetBatchTimeout();
    });
}

void THostProcess::enterStep(bool force, THstSteps steps, uint8_t subStep, uint8_t event) {
    if (force) {
        for (int s = hsStop; s <= hsDisconnect; ++s) {
            if (steps.Contains(THstStep(s))) {
                mStep = uint8_t(s);
                break;
            }
        }
        mSubStep = subStep;
        mEvent = event;
    } else {
        if (subStep != NoSubStep) mSubStep = subStep;
        if (event != heNone) mEvent = event;
    }
}

THostProcess::TStepRun THostProcess::stepFor() const {
    switch (mActivity) {
    case haStopped:
        if (mStep == hsCallWait) return {&THostProcess::DoCallWait, "DoCallWait"};
        if (mStep == hsDisconnect) return {&THostProcess::DoDisconnect, "DoDisconnect"};
        break;
    case haWaiting:
        switch (mStep) {
        case hsStop:
            return {&THostProcess::DoStop, "DoStop"};
        case hsStart:
            return {&THostProcess::DoStart, "DoStart"};
        // Back to CallWait while waiting (a busy line, a modem that timed out, a caller that
        // hung up before connecting): the device is prepared again rather than left idle.
        case hsCallWait:
            return {&THostProcess::DoCallWait, "DoCallWait"};
        case hsConnect:
            return {&THostProcess::DoConnect, "DoConnect"};
        default:
            break;
        }
        break;
    case haOnline:
        switch (mStep) {
        case hsStop:
        case hsDisconnect:
            return {&THostProcess::DoStop, "DoStop"};
        case hsCallWait:
        case hsConnect:
            return {&THostProcess::DoCallWait, "DoCallWait"};
        case hsLogin:
            return {&THostProcess::DoLogin, "DoLogin"};
        case hsFile:
            return {&THostProcess::DoFile, "DoFile"};
        case hsDir:
            return {&THostProcess::DoDir, "DoDir"};
        default:
            break;
        }
        break;
    default:
        break;
    }
    return {};
}
