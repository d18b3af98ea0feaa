#pragma once
// The client session engine (TRemProcess): one per started device. It works in batches: while
// idle it looks at the job queue every CLI_BatchIntSec seconds; with work to do it connects
// (direct cable or dialling), logs on, sends every job that shares the connection, asks the
// server for the files that wait for the user, fetches them, and disconnects. It reports each
// change to the client console (IRemConsole) and hands it every finished job.
//
// Everything runs on the main thread, driven by port, modem, reply and transfer events and four
// timers. Waits inside a step (WaitFor, Delay) keep handling events, so the engine may be
// destroyed before a wait returns; each step looks at the engine's life token after it.
#include "engine/devices.h"
#include "engine/engine_base.h"
#include "engine/link_protocol.h"
#include "jobs/queue.h"
#include "serial/comm.h"
#include "serial/modem.h"
#include "serial/modems.h"
#include "serial/va_timer.h"
#include "serial/xmodem.h"

#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

class TVaWaitMessage;

// The steps of the client engine.
enum TRemStep : uint8_t {
    rsStop = 0,
    rsStart = 1,
    rsIdle = 2,
    rsConnect = 3,
    rsLogin = 4,
    rsFile = 5,
    rsDir = 6,
    rsFirstFile = 7,
    rsNextFile = 8,
    rsDisconnect = 9,
};
// A trial's step value meaning "enter no step".
constexpr uint8_t rsNone = 10;

// The sub-steps of the Connect step: opening the port, preparing the modem and dialling. Execute
// keeps the sub-step when it is given NoSubStep, so the steps after Connect run with the last one
// (the Login step acts only on rcConnected); a disconnection goes back to rcOpenPort.
enum TRemConnectSub : uint8_t {
    rcOpenPort = NoSubStep, // open the port with the device's line settings
    rcPortOpened = 1,       // the port opened: initialise the modem, or log on at once on a
                            // direct cable
    rcPortClosed = 2,       // the port closed under the engine: the batch ends
    rcModemReady = 3,       // the modem took its init string: send the extra commands one by
                            // one, then dial
    rcConnected = 4,        // the line is up: log on
    rcCallFailed = 5,       // busy, no carrier, no dial tone, no answer: the batch ends
};

// Activity: 0 stopped, 1 idle (between batches), 2 online (a batch runs).
enum TRemActivity : uint8_t { raStopped = 0, raIdle = 1, raOnline = 2 };

// Events given to the Login, File, Dir and Idle steps. A command trial counts its command as
// answered once the event has reached the one it waits for, so their order matters.
enum TRemEvent : uint8_t {
    reNone = 0,
    reLogonSend = 1,     // Login: send the log-on
    reLogonAccepted = 2, // Login: "YES"
    reLogonFailed = 3,   // Login: refused or unanswered
    reFileBegin = 4,     // File: begin an attempt
    reFileYes = 5,       // File: "YES" to PUT/GET
    reFileNo = 6,        // File: "NO" to PUT/GET
    reUploadEnded = 7,   // File: upload ended, ask for the result; Dir: list arrived
    reAttemptFailed = 8, // File: attempt failed; Dir: list transfer failed
    reDirRequest = 9,    // Dir: request the list
    reDirYes = 10,       // Dir: "YES"
    reDirOther = 11,     // Dir: any other reply
    reProgress = 12,     // File, Dir: progress
    reDone = 13,         // File: job done; Dir: list arrived
    reBatchTimeout = 14, // Idle: batch time-out during a transfer
};

// A set of steps for Execute (steps below 32).
class TRemSteps {
public:
    constexpr TRemSteps() = default;
    constexpr TRemSteps(std::initializer_list<TRemStep> steps) {
        for (TRemStep s : steps)
            mBits |= uint32_t(1) << unsigned(s);
    }
    constexpr bool Contains(uint8_t step) const { return step < 32 && (mBits >> step) & 1u; }
    static constexpr TRemSteps Of(uint8_t step) {
        TRemSteps s;
        if (step < 32) s.mBits = uint32_t(1) << step;
        return s;
    }
    // The lowest step of the set (rsStop for an empty set).
    constexpr uint8_t Lowest() const {
        for (uint8_t s = 0; s < 32; ++s)
            if (Contains(s)) return s;
        return rsStop;
    }

private:
    uint32_t mBits = 0;
};

// What the engine hands its console at each change.
struct TRemStatusReport {
    uint8_t PrevActivity = 0; // the engine's Activity when the report was made
    uint8_t Kind = 3;         // 0, 1, 2: the new Activity; 3: message only
    // "Batch started.", "Waiting for files...", "Client service stopped.", "Connect", "Login",
    // "Transfer", "Retrieving", "Seeking enqueued files...", "Seek", "Disconnect"
    QString Operation;
    int32_t Total = 100;           // announced length of the current file; 100 with no file in hand
    int32_t Progress = 0;          // bytes transferred
    int32_t JobIndex = 0;          // queue index of the job in hand
    QString FileText;              // qkSrcFile of the job in hand, or "DIR.LST"
    int32_t Attempt = 0;           // attempt number of the current job
    QString Message;               // this report's message; emptied after each report
    TQueueItem Job;                // a copy of the job in hand
    TCommDevice* Device = nullptr; // the engine's device
    TModemSettings Modem;          // the modem configuration loaded for a modem device
};

// The command trial: a command sent up to three times until its answer arrives.
struct TRemTrialCommand {
    int32_t RetriesLeft = 0;
    QString StatusText;       // shown at each try
    QString Command;          // the line text (framed when sent)
    uint8_t AnsweredFrom = 0; // the command counts as answered once Event >= this
    uint8_t FailStep = rsNone;
    uint8_t SuccessStep = rsNone;
    uint8_t FailEvent = reNone;
    uint8_t SuccessEvent = reNone;
};

// The client console as the engine sees it.
class IRemConsole {
public:
    virtual ~IRemConsole() = default;
    // At each change of step; the report belongs to the engine and is only valid during the call.
    virtual void OnDeviceStatus(TRemStatusReport& report) = 0;
    // A job has ended (or failed one attempt): write the results-log record, delete or keep the
    // job (discard) and its file, write the caller's results file.
    virtual void LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                              int attempt, bool done) = 0;
    // The queue changed under the engine (fetching jobs added or removed).
    virtual void UpdateQueueList() = 0;
};

// The factory of client engines for TEngineServices::remFactory (StartRemProc creates a
// TRemProcess).
TDeviceEngineFactory RemEngineFactory();

// Timing overrides for tests, read once from the environment at the first engine's creation:
//   MARROWLINE_TRIAL_FIRST_MS  first firing of the command trial (default 100)
//   MARROWLINE_TRIAL_REPEAT_MS later firings of the command trial (default 18000)
//   MARROWLINE_BATCH_IDLE_MS   batch idle interval in ms instead of CLI_BatchIntSec x 1000
//   MARROWLINE_BATCH_TIMEOUT_MS batch time-out in ms instead of CLI_BatchTimeOutMin x 60000
// Unset or invalid values keep the timing above and that of the settings.
struct TRemTiming {
    int TrialFirstMs = 100;
    int TrialRepeatMs = 18000;
    int BatchIdleMs = -1;    // -1: from CLI_BatchIntSec
    int BatchTimeoutMs = -1; // -1: from CLI_BatchTimeOutMin
};
const TRemTiming& RemTiming();

class TRemProcess : public TEngineBase {
public:
    TRemProcess(TDevicesList* owner, TCommDevice& device);
    ~TRemProcess() override;
    TRemProcess(const TRemProcess&) = delete;
    TRemProcess& operator=(const TRemProcess&) = delete;

    // Started again while running: forced to Idle.
    void Restart() override;

    // The single entry into the state machine: forces a step (the lowest of the set) or passes
    // a sub-step and an event to the step that is running, then runs that step's handler.
    void Execute(bool force, TRemSteps steps, uint8_t subStep = NoSubStep, uint8_t event = reNone);

    uint8_t Activity() const { return mActivity; }
    uint8_t Step() const { return mStep; }
    uint8_t SubStep() const { return mSubStep; }
    uint8_t Event() const { return mEvent; }
    const TRemStatusReport& Report() const { return mReport; }
    const TRemTrialCommand& Trial() const { return mTrial; }
    TVaComm& Port() { return *mPort; }
    TVaModem& Modem() { return *mModem; }
    TVaXModem& Transfer() { return *mXModem; }

    // The file "DIR.LST" is received into and read from: AppDir + "DIR.LST".
    QString DirListPath() const;

private:
    // A step handler with the name its errors are reported under.
    struct TStepRun {
        void (TRemProcess::*run)() = nullptr;
        const char* name = nullptr;
    };
    // The handler of the step in hand (none: the step does nothing).
    TStepRun stepFor() const;

    // Step handlers (rem_steps.cpp).
    void DoStart();
    void DoIdle();
    void DoStop();
    void DoConnect();
    void DoLogin();
    void DoFirstFile();
    void DoNextFile();
    void DoDisconnect();
    // Connect's sub-steps.
    void connectOpenPort();
    void connectPortOpened();
    void connectModemReady();
    void dial();
    // The first job at or after `from` that `wanted` accepts and that loads (aLoadQueue); -1
    // when there is none or the engine ended meanwhile.
    int seekJob(int from, const std::function<bool(int)>& wanted);
    // Clears the report's job and transfer fields: no job, no attempt, no file in hand.
    void resetJobReport();

    // The File and Dir steps (rem_file.cpp).
    void DoFile();
    void DoDir();
    // File's events.
    void beginAttempt();
    // Each prepares one kind of job's transfer and tells the command that asks for it; false
    // when the job cannot run (it was reported and the engine moved on).
    bool prepareUpload(QString* command);
    bool prepareDownload(QString* command);
    void fileAccepted();
    void fileDenied();
    void attemptFailed();
    void jobDone();
    // Dir's events.
    void requestDirList();
    void dirAccepted();
    void dirListArrived();
    void startTransfer();

    // Actions and helpers (rem_actions.cpp).
    void aSetStatus(bool setActivity, uint8_t value);
    // Reports mReport as it stands (a message only); false when the engine ended meanwhile.
    bool report();
    // The same with `message` as the report's message.
    bool aReport(const QString& message);
    void aSendMessage(const QString& text);
    void aTryCommand(const QString& statusText, const QString& command, uint8_t answeredFrom,
                     uint8_t failStep, uint8_t failEvent, uint8_t successStep,
                     uint8_t successEvent);
    void aResetBatchTimeout();
    void aFileNotification(qint64 byteCount);
    bool aLoadQueue(int index);
    bool aEnqueueToReceive();
    // The job that fetches one entry of the server's list for the user of the job in hand.
    TQueueItem fetchJob(const TDirEntry& entry);
    // The received "DIR.LST", without the transfer's padding; the file is removed.
    QByteArray takeDirList();
    struct TOutboxFile {
        QString path;
        bool exists = false;
        qint64 size = 0;
    };
    TOutboxFile outboxFile(const TQueueItem& job) const;
    bool fetchQueued(const TQueueItem& job) const;
    bool transferRunning() const;
    // Cancels a running transfer whose end then no longer counts as an outcome.
    void cancelTransfer();
    // Waits until the transfer has ended, at most ms; false when the engine ended meanwhile.
    bool waitTransferEnd(int ms);
    // dvkDevDelay x multiply / divide in ms, or whenEmpty when the setting is empty.
    int scaledDelay(int multiply, int divide, int whenEmpty) const;
    int retries() const; // dvkDevRetries
    int batchTimeoutMs() const;
    int batchIdleMs() const;
    void logFileEvent(const TQueueItem& job, bool discard, const QString& result, int attempt,
                      bool done);
    void deletePartialDownload();
    // Moves a whole download from its temporary name to its final one; the name used, or empty.
    QString finishDownload();

    // Timers (rem_events.cpp).
    void aTryCommandTimer();
    void tmBatchIdleTimer();
    void tmBatchTmoTimer();

    // Port, modem, reply and transfer events (rem_events.cpp).
    void ConfigureModem(TVaModem& modem) override;
    void yPortOpen() override;
    void yPortClose() override;
    void yPortError(uint32_t errors) override;
    void yPortLineLost(int error) override;
    // The line was lost during a batch: the attempt under way fails (logged as any failed
    // attempt), and what the batch was doing is noted to go on with once it is back.
    void noteLostWork();
    void yModemOK() override;
    void yModemBusy() override;
    void yModemCommandTimeout() override;
    void yModemConnect(const QString& connectString) override;
    void yModemError() override;
    void yModemNoCarrier() override;
    void yModemNoDialTone();
    void yModemVoice() override;
    void yModemDialTimeout();
    void yTransferStart() override;
    void yTransferFileInfo(const QString& name, qint64 size) override;
    void yTransferPacket(qint64 byteCount) override;
    void yTransferEnd(int exitCode) override;
    void yTransferError(int code) override;
    void yMsgMessage(int index);
    // The reply word seen before its frame's closing CR (or the wait for it is over): acts on it.
    void yReplyComplete();
    void forgetReply();
    // The line went down during the batch: disconnect, and the batch ends.
    void lineLost();
    // The outcome of a transfer that ended by itself: 0, or the code it fails with.
    int transferOutcome(int exitCode);
    // A whole download checked against its announced length and moved into place.
    int checkDownload();

    IRemConsole* mConsole;

    uint8_t mActivity = raStopped;
    uint8_t mStep = rsStop;
    uint8_t mSubStep = NoSubStep;
    uint8_t mEvent = reNone;
    int32_t mTimeoutCount = 0;
    TRemStatusReport mReport;
    TRemTrialCommand mTrial;

    // A download goes into mPartPath and is renamed to mFinalPath once it is whole.
    QString mPartPath;
    QString mFinalPath;
    QString mDirListFile; // where the last "DIR.LST" was received
    // GET lines for files that a server listed in Windows-1252: asked for in the same bytes.
    QSet<QString> mLegacyGets;
    bool mDownloading = false;   // the transfer in hand receives
    bool mCheckLength = false;   // a download is checked against qkSize
    bool mAbandoned = false;     // the running transfer was given up; its end is not an outcome
    qint64 mUploadSize = 0;      // the length announced for the upload in hand
    qint64 mTransferred = 0;     // bytes moved by the transfer in hand
    bool mTrialGivingUp = false; // a trial enters its failure step
    // After a lost line, once connected and logged on again: the step the batch goes on with
    // (rsFile: the job in hand, its next attempt after mResumeAttempt; rsNextFile; rsDir), or
    // rsNone for the batch's usual course.
    uint8_t mResumeStep = rsNone;
    int mResumeAttempt = 0;
    // A reply word matched whose frame has not ended yet (rem_internal::TReply), or rpNone. The
    // engine acts on a reply only once the rest of its frame has arrived, so that the frame's
    // tail cannot reach a transfer started on it.
    int mPendingReply = -1;

    // Watches the received bytes for the replies (on the engine's port).
    std::unique_ptr<TVaWaitMessage> mWatcher;
    TVaTimer mIdleTimer;
    TVaTimer mBatchTimer;
    TVaTimer mTrialTimer;
    TVaTimer mReplyTimer; // bounds the wait for a reply frame's closing CR
};
