#pragma once
// The client session engine (TRemProcess): one per started device. It works in batches: while
// idle it looks at the job queue every CLI_BatchIntSec seconds; with work to do it connects
// (direct cable or dialling), logs on, sends every job that shares the connection, asks the
// server for the files that wait for the user, fetches them, and disconnects. It reports each
// change to the client console (IRemConsole) and hands it every finished job.
#include "engine/devices.h"
#include "jobs/queue.h"
#include "serial/modems.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <cstdint>
#include <initializer_list>
#include <memory>

class TVaComm;
class TVaCustomModem;
class TVaModem;
class TVaProtocol;
class TVaXModem;
class TVaWaitMessage;
class TVaTimer;

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

// Activity values.
constexpr uint8_t raStopped = 0;
constexpr uint8_t raIdle = 1;
constexpr uint8_t raOnline = 2;

// Event numbers given to the Login, File, Dir and Idle steps.
enum TRemEvent : uint8_t {
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
    uint8_t FailEvent = 0;
    uint8_t SuccessEvent = 0;
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
// Unset or invalid values keep the designed timing.
struct TRemTiming {
    int TrialFirstMs = 100;
    int TrialRepeatMs = 18000;
    int BatchIdleMs = -1;    // -1: from CLI_BatchIntSec
    int BatchTimeoutMs = -1; // -1: from CLI_BatchTimeOutMin
};
const TRemTiming& RemTiming();

class TRemProcess : public QObject, public TDeviceEngine {
    Q_OBJECT
public:
    TRemProcess(TDevicesList* owner, TCommDevice* device);
    ~TRemProcess() override;
    TRemProcess(const TRemProcess&) = delete;
    TRemProcess& operator=(const TRemProcess&) = delete;

    // Started again while running: forced to Idle.
    void Restart() override;

    // The single entry into the state machine: forces a step (the lowest of the set) or passes
    // a sub-step and an event to the step that is running, then runs that step's handler.
    void Execute(bool force, TRemSteps steps, uint8_t subStep = 0, uint8_t event = 0);

    uint8_t Activity() const { return mActivity; }
    uint8_t Step() const { return mStep; }
    uint8_t SubStep() const { return mSubStep; }
    uint8_t Event() const { return mEvent; }
    const TRemStatusReport& Report() const { return mReport; }
    const TRemTrialCommand& Trial() const { return mTrial; }
    TVaComm* Comm() const { return mComm; }
    TVaModem* Modem() const { return mModem; }
    TVaXModem* XModem() const { return mXModem; }

    // The file "DIR.LST" is received into and read from: AppDir + "DIR.LST".
    QString DirListPath() const;

private:
    // Step handlers.
    void DoStart();
    void DoIdle();
    void DoStop();
    void DoConnect();
    void DoLogin();
    void DoFile();
    void DoDir();
    void DoFirstFile();
    void DoNextFile();
    void DoDisconnect();

    // Actions.
    void aSetStatus(bool setActivity, uint8_t value);
    void aSendMessage(const QString& text);
    void aTryCommand(const QString& statusText, const QString& command, uint8_t answeredFrom,
                     uint8_t failStep, uint8_t failEvent, uint8_t successStep,
                     uint8_t successEvent);
    void aTryCommandTimer();
    void aResetBatchTimeout();
    bool aLoadQueue(int index);
    bool aEnqueueToReceive();
    void FileNotification(qint64 byteCount);
    void tmBatchIdleTimer();
    void tmBatchTmoTimer();

    // Event handlers.
    void yPortOpen();
    void yPortClose();
    void yPortError(uint32_t errors);
    void yModemOK();
    void yModemBusy();
    void yModemCommandTimeout();
    void yModemConnect(const QString& connectString);
    void yModemError();
    void yModemNoCarrier();
    void yModemNoDialTone();
    void yModemVoice();
    void yModemDialTimeout();
    void yModemTransferEnd(int exitCode);
    void yXModError(int errorCode);
    void yMsgMessage(int index);
    // The reply word seen before its frame's closing CR (or the wait for it is over): acts on it.
    void yReplyComplete();
    void forgetReply();

    // Helpers.
    struct TOutboxFile {
        QString path;
        bool exists = false;
        qint64 size = 0;
    };
    void report() { aSetStatus(false, 3); }
    bool isLinkDevice() const; // "Direct" or "Modem"
    bool isModemDevice() const;
    bool transferRunning() const;
    // Cancels a running transfer whose end then no longer counts as an outcome.
    void cancelTransfer();
    // dvkDevDelay x multiply / divide in ms, or whenEmpty when the setting is empty.
    int scaledDelay(int multiply, int divide, int whenEmpty) const;
    int retries() const; // dvkDevRetries
    int batchTimeoutMs() const;
    int batchIdleMs() const;
    // Waits; false when the engine was destroyed meanwhile.
    bool waitPort(int ms); // until the port's output has drained, at most ms
    bool pause(int ms);
    bool waitTransferEnd(int ms);
    TOutboxFile outboxFile(const TQueueItem& job) const;
    bool fetchQueued(const TQueueItem& job) const;
    void beginAttempt();
    bool startTransfer();
    void requestDirList();
    void lineLost();
    void yXModFileInfo(const QString& name, qint64 size);
    void deletePartialDownload();
    // Moves a whole download from its temporary name to its final one; the name used, or empty.
    QString finishDownload();
    void logFileEvent(const TQueueItem& job, bool discard, const QString& result, int attempt,
                      bool done);
    void error(const char* operation, const QString& text);
    template <typename F> void guarded(const char* operation, F&& body);

    TDevicesList* mOwner;
    TCommDevice* mDevice;
    TSettings& mSettings;
    TStatusSink& mStatus;
    TQueueList* mQueue;
    TModemsList* mModems;
    IRemConsole* mConsole;

    uint8_t mActivity = raStopped;
    uint8_t mStep = rsStop;
    uint8_t mSubStep = 0;
    uint8_t mEvent = 0;
    int32_t mTimeoutCount = 0;
    QString mExtraCommands;
    TRemStatusReport mReport;
    TRemTrialCommand mTrial;

    // A download goes into mPartPath and is renamed to mFinalPath once it is whole.
    QString mPartPath;
    QString mFinalPath;
    QString mDirListFile;        // where the last "DIR.LST" was received
    // GET lines for files that a server listed in Windows-1252: asked for in the same bytes.
    QSet<QString> mLegacyGets;
    bool mDownloading = false;   // the transfer in hand receives
    bool mCheckLength = false;   // a download is checked against qkSize
    bool mAbandoned = false;     // the running transfer was given up; its end is not an outcome
    qint64 mUploadSize = 0;      // the length announced for the upload in hand
    qint64 mTransferred = 0;     // bytes moved by the transfer in hand
    bool mTrialGivingUp = false; // a trial enters its failure step
    // A reply word matched whose frame has not ended yet (watched string index), or -1. The
    // engine acts on a reply only once the rest of its frame has arrived, so that the frame's
    // tail cannot reach a transfer started on it.
    int mPendingReply = -1;

    TVaComm* mComm = nullptr;
    TVaModem* mModem = nullptr;
    TVaXModem* mXModem = nullptr;
    TVaWaitMessage* mWatcher = nullptr;
    std::unique_ptr<TVaTimer> mIdleTimer;
    std::unique_ptr<TVaTimer> mBatchTimer;
    std::unique_ptr<TVaTimer> mTrialTimer;
    std::unique_ptr<TVaTimer> mReplyTimer; // bounds the wait for a reply frame's closing CR
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
