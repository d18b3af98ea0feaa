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
    : TStepEngine(owner, device, "THostProcess", "Unknown exception"),
      mUsers(owner->Services().users), mConsole(owner->Services().hostConsole) {
    const bool created = Guard("Create", [&] {
        for (int k = 0; k < QueueKeyCount; ++k)
            mSession.Job.Slots[size_t(k)] = TIniKey::StringSlot(QueueKeyNames[k]);
        for (int k = 0; k < ModemKeyCount; ++k)
            mSession.Modem.Slots[size_t(k)] = TIniKey::StringSlot(ModemKeyNames[k]);
        if (mUsers) mUsers->EmptyItem(mSession.User);
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
    });
    if (created) Execute(true, {THstStep::CallWait});
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
    Execute(true, {THstStep::CallWait});
}

// ---------------------------------------------------------------------------------------------
// The state machine

THostProcess::TStepRun THostProcess::stepFor() const {
    static constexpr TStepRun None{};
    static constexpr TStepRun CallWait{&THostProcess::DoCallWait, "DoCallWait"};
    static constexpr TStepRun Start{&THostProcess::DoStart, "DoStart"};
    static constexpr TStepRun Stop{&THostProcess::DoStop, "DoStop"};
    static constexpr TStepRun Connect{&THostProcess::DoConnect, "DoConnect"};
    static constexpr TStepRun Disconnect{&THostProcess::DoDisconnect, "DoDisconnect"};
    static constexpr TStepRun Login{&THostProcess::DoLogin, "DoLogin"};
    static constexpr TStepRun File{&THostProcess::DoFile, "DoFile"};
    static constexpr TStepRun Dir{&THostProcess::DoDir, "DoDir"};
    struct TRow {
        TStepRun stopped, waiting, online;
    };
    // By step, the handler for each Activity. Back to CallWait while waiting (a busy line, a
    // modem that timed out, a caller that hung up before connecting), the device is prepared
    // again rather than left idle; online, a step that ends the session ends it.
    // clang-format off
    static constexpr TRow Table[] = {
        //                 stopped     waiting   online
        /* Stop       */ {None,       Stop,     Stop},
        /* Start      */ {None,       Start,    None},
        /* CallWait   */ {CallWait,   CallWait, CallWait},
        /* Connect    */ {None,       Connect,  CallWait},
        /* Login      */ {None,       None,     Login},
        /* File       */ {None,       None,     File},
        /* Dir        */ {None,       None,     Dir},
        /* Disconnect */ {Disconnect, None,     Stop},
    };
    // clang-format on
    const TRow& row = Table[size_t(mStep)];
    switch (mActivity) {
    case THstActivity::Stopped:
        return row.stopped;
    case THstActivity::Waiting:
        return row.waiting;
    case THstActivity::Online:
        return row.online;
    }
    return None;
}
