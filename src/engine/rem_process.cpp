// The client engine: creation and destruction, and the state machine's single entry (Execute).
// The steps are in rem_steps.cpp and rem_file.cpp, the actions in rem_actions.cpp, the handlers
// of the components' events and of the timers in rem_events.cpp.
#include "engine/rem_process.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/rem_internal.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/wait_message.h"

using namespace rem_internal;

const TRemTiming& RemTiming() {
    static const TRemTiming timing = [] {
        TRemTiming t;
        t.TrialFirstMs = TimerOverrideMs("MARROWLINE_TRIAL_FIRST_MS", t.TrialFirstMs);
        t.TrialRepeatMs = TimerOverrideMs("MARROWLINE_TRIAL_REPEAT_MS", t.TrialRepeatMs);
        t.BatchIdleMs = TimerOverrideMs("MARROWLINE_BATCH_IDLE_MS", t.BatchIdleMs);
        t.BatchTimeoutMs = TimerOverrideMs("MARROWLINE_BATCH_TIMEOUT_MS", t.BatchTimeoutMs);
        return t;
    }();
    return timing;
}

TDeviceEngineFactory RemEngineFactory() {
    return [](TDevicesList& owner, TCommDevice& device) {
        return std::unique_ptr<TDeviceEngine>(std::make_unique<TRemProcess>(&owner, device));
    };
}

QString TRemProcess::DirListPath() const {
    return mSettings.AppDir() + DirListName;
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

TRemProcess::TRemProcess(TDevicesList* owner, TCommDevice& device)
    : TStepEngine(owner, device, "TRemProcess", "unknown error"),
      mConsole(owner->Services().remConsole) {
    mReport.Device = &mDevice;
    const bool created = Guard("Create", [&] {
        // What a killed client left while it was fetching (the folders of fetched files are
        // cleaned again before each fetch).
        received_file::RemoveLeftovers(LocalSeparators(mSettings.GetStr(MRL_Inbox)));
        received_file::RemoveLeftovers(mSettings.AppDir());
        CreateComponents();

        mWatcher = std::make_unique<TVaWaitMessage>();
        mWatcher->SetExceptionHandler(StatusHandler());
        mWatcher->SetActive(false);
        mWatcher->SetStrings(ReplyStrings);
        mWatcher->SetComm(mPort.get());
        mWatcher->OnMessage = [this](TVaWaitMessage*, int index) {
            Guard("yMsgMessage", [&] { yMsgMessage(index); });
        };

        mPort->OnRxBuf = [this](TVaComm*, const char* data, int count) {
            Guard("yPortRxBuf", [&] { yAnswerRxBuf(data, count); });
        };

        for (TVaTimer* timer :
             {&mIdleTimer, &mBatchTimer, &mTrialTimer, &mReplyTimer, &mAskTimer})
            timer->SetEnabled(false);
        HookTimer(mIdleTimer, "tmBatchIdleTimer", [this] { tmBatchIdleTimer(); });
        HookTimer(mBatchTimer, "tmBatchTmoTimer", [this] { tmBatchTmoTimer(); });
        HookTimer(mTrialTimer, "aTryCommandTimer", [this] { aTryCommandTimer(); });
        HookTimer(mReplyTimer, "yMsgMessage", [this] { yReplyComplete(); });
        HookTimer(mAskTimer, "aAsk", [this] { finishAsk(nullptr); });
        mReplyTimer.SetInterval(ReplyEndWaitMs);
    });
    if (created) RunStep(&TRemProcess::DoIdle, "DoIdle");
}

TRemProcess::~TRemProcess() {
    Guard("Destroy", [&] {
        for (TVaTimer* timer :
             {&mIdleTimer, &mBatchTimer, &mTrialTimer, &mReplyTimer, &mAskTimer})
            timer->SetEnabled(false);
        if (mPort) RunStep(&TRemProcess::DoStop, "DoStop");
        // Lets the port's and the transfer's last deliveries run while the engine still exists.
        Delay(500);
    });
    // Nothing that the components raise from now on may reach this object.
    EndLife();
    for (TVaTimer* timer : {&mIdleTimer, &mBatchTimer, &mTrialTimer, &mReplyTimer, &mAskTimer})
        timer->SetOnTimer(nullptr);
    DetachComponents();
    if (mPort) mPort->OnRxBuf = nullptr;
    if (mWatcher) mWatcher->OnMessage = nullptr;
    // The transfer and the watcher go before the port they are attached to.
    mXModem.reset();
    mWatcher.reset();
}

void TRemProcess::Restart() {
    Execute(true, {TRemStep::Idle});
}

// ---------------------------------------------------------------------------------------------
// The state machine

TRemProcess::TStepRun TRemProcess::stepFor() const {
    // By step; None has no handler.
    static constexpr TStepRun Table[] = {
        {&TRemProcess::DoStop, "DoStop"},         {&TRemProcess::DoStart, "DoStart"},
        {&TRemProcess::DoIdle, "DoIdle"},         {&TRemProcess::DoConnect, "DoConnect"},
        {&TRemProcess::DoLogin, "DoLogin"},       {&TRemProcess::DoFile, "DoFile"},
        {&TRemProcess::DoDir, "DoDir"},           {&TRemProcess::DoFirstFile, "DoFirstFile"},
        {&TRemProcess::DoNextFile, "DoNextFile"}, {&TRemProcess::DoDisconnect, "DoDisconnect"},
    };
    const size_t step = size_t(mStep);
    return step < std::size(Table) ? Table[step] : TStepRun{};
}
