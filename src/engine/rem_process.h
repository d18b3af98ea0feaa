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
enum class TRemStep : uint8_t {
    Stop,
    Start,
    Idle,
    Connect,
    Login,
    File,
    Dir,
    FirstFile,
    NextFile,
    Disconnect,
    None, // a trial's or a resumption's step: enter no step
};

// The sub-steps of the Connect step: opening the port, preparing the modem and dialling. Execute
// keeps the sub-step when it is given the first one (OpenPort), so the steps after Connect run
// with the last one (the Login step acts only on Connected); a disconnection goes back to
// OpenPort.
enum class TRemConnectSub : uint8_t {
    OpenPort,   // open the port with the device's line settings
    PortOpened, // the port opened: initialise the modem, or log on at once on a direct cable
    PortClosed, // the port closed under the engine: the batch ends
    ModemReady, // the modem took its init string: send the extra commands one by one, then dial
    Connected,  // the line is up: log on
    CallFailed, // busy, no carrier, no dial tone, no answer: the batch ends
};

enum class TRemActivity : uint8_t {
    Stopped,
    Idle,   // between batches
    Online, // a batch runs
};

// Events given to the Login, File, Dir and Idle steps. A command trial counts its command as
// answered once the event has reached the one it waits for, so their order matters.
enum class TRemEvent : uint8_t {
    None,
    LogonSend,     // Login: send the log-on
    LogonAccepted, // Login: "YES"
    LogonFailed,   // Login: refused or unanswered
    FileBegin,     // File: begin an attempt
    FileYes,       // File: "YES" to PUT/GET
    FileNo,        // File: "NO" to PUT/GET
    UploadEnded,   // File: upload ended, ask for the result; Dir: list arrived
    AttemptFailed, // File: attempt failed; Dir: list transfer failed
    DirRequest,    // Dir: request the list
    DirYes,        // Dir: "YES"
    DirOther,      // Dir: any other reply
    Progress,      // File, Dir: progress
    Done,          // File: job done; Dir: list arrived
    BatchTimeout,  // Idle: batch time-out during a transfer
};

using TRemSteps = TVaSet<TRemStep>;

struct TRemStatusReport : TStatusReport<TRemActivity> {
    int32_t Attempt = 0; // attempt number of the job in hand
};

// What the engine keeps of the job in hand.
struct TRemSession {
    TQueueItem Job;       // a copy of the job in hand
    int32_t JobIndex = 0; // its queue index
    int32_t Attempt = 0;  // its attempt number
    TModemSettings Modem; // the modem configuration loaded for a modem device
};

// The command trial: a command sent up to three times until its answer arrives. What it waits
// for and what it does without an answer come from the command's row of the command table.
struct TRemTrialCommand {
    TLinkVerb Verb = TLinkVerb::Logon; // the command in hand: its replies are read by its row
    int32_t RetriesLeft = 0;
    QString StatusText;                       // shown at each try
    QString Command;                          // the line text (framed when sent)
    TRemEvent AnsweredFrom = TRemEvent::None; // the command counts as answered once Event >= this
    TRemStep FailStep = TRemStep::None;
    TRemStep SuccessStep = TRemStep::None;
    TRemEvent FailEvent = TRemEvent::None;
    TRemEvent SuccessEvent = TRemEvent::None;
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

// A forced step keeps the sub-step and event it had unless it is given others.
class TRemProcess
    : public TStepEngine<TRemProcess, TRemStep, TRemConnectSub, TRemEvent, TRemActivity, false> {
public:
    TRemProcess(TDevicesList* owner, TCommDevice& device);
    ~TRemProcess() override;

    // Started again while running: forced to Idle.
    void Restart() override;

    const TRemStatusReport& Report() const { return mReport; }
    const TRemSession& Session() const { return mSession; }
    const TRemTrialCommand& Trial() const { return mTrial; }
    TLinkFeatures Agreed() const { return mAgreed; }

    // The file "DIR.LST" is received into and read from: AppDir + "DIR.LST".
    QString DirListPath() const;

private:
    // The handler of the step in hand.
    TStepRun stepFor() const override;

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
    // Tells the console the report as it stands, and the Activity becomes `value` after it.
    void aSetStatus(TRemActivity value);
    void tell(TReportKind kind, TRemActivity value);
    // Tells the console the report as it stands (a message only); false when the engine ended
    // meanwhile.
    bool report();
    // The same with `message` as the report's message.
    bool aReport(const QString& message);
    void aSendMessage(const QString& text);
    // Sends `command` (a line of the verb's row) under a trial.
    void aTryCommand(TLinkVerb verb, const QString& command);
    // Sends an extension's line once and hands its answer's fields to `answered`, or null when
    // none came within the line's wait (ExtensionWait). A new ask, a disconnection, the batch's
    // end forget the one in hand without a word.
    using TAnswered = std::function<void(const QStringList* fields)>;
    void aAsk(TLinkVerb verb, const QString& line, TAnswered answered);
    void finishAsk(const QStringList* fields);
    void cancelAsk();
    // After the log-on: asks the server which features it offers and agrees on those both use;
    // a server that does not answer is one of the designed exchange. Then afterLogon.
    void askFeatures();
    // The batch goes on after the log-on: with its first job, or where a lost line left it.
    void afterLogon();
    void aResetBatchTimeout() override;
    void aFileNotification(qint64 byteCount) override;
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

    // Sets the modem component up from the device's modem settings (rem_events.cpp).
    void ConfigureModem(TVaModem& modem) override;

    // Timers (rem_events.cpp).
    void aTryCommandTimer();
    void tmBatchIdleTimer();
    void tmBatchTmoTimer();

    // Port, modem, reply and transfer events (rem_events.cpp).
    void yPortOpen() override;
    void yPortClose() override;
    void yPortError(uint32_t errors) override;
    void yPortLineLost(int error) override;
    // The line was lost during a batch: the attempt under way fails (logged as any failed
    // attempt), and what the batch was doing is noted to go on with once it is back.
    void noteLostWork();
    // Modem answers: an initialised modem dials; a reset or a dial is only reported.
    void yModemOK() override;
    void yModemBusy() override; // the call failed, to be tried again
    // Up to nine in a row end the attempt; the tenth stops the device.
    void yModemCommandTimeout() override;
    void yModemConnect(const QString& connectString) override; // the server answered
    void yModemError() override; // the attempt ends
    // No carrier, no dial tone, no answer: the line is lost and the call failed.
    void yModemNoCarrier() override;
    void yModemNoDialTone();
    void yModemDialTimeout();
    void yModemVoice() override; // a voice answered: the attempt ends
    void yTransferFileInfo(const QString& name, qint64 size) override;
    void yTransferEnd(int exitCode) override;
    void yTransferError(int code) override;
    void yMsgMessage(int index);
    // Received bytes outside transfers: the answer to an extension in hand (aAsk).
    void yAnswerRxBuf(const char* data, int count);
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

    int32_t mTimeoutCount = 0;
    TRemSession mSession;
    // What the console is told: the steps set its texts and progress, the rest is filled in when
    // it is told (tell).
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
    // After a lost line, once connected and logged on again: the step the batch goes on with
    // (File: the job in hand, its next attempt after mResumeAttempt; NextFile; Dir), or None
    // for the batch's usual course.
    TRemStep mResumeStep = TRemStep::None;
    int mResumeAttempt = 0;
    // A reply word matched whose frame has not ended yet (rem_internal::TReply), or rpNone. The
    // engine acts on a reply only once the rest of its frame has arrived, so that the frame's
    // tail cannot reach a transfer started on it.
    int mPendingReply = -1;

    // The extension in hand (aAsk), and the lines its answer is read from.
    struct TAsk {
        TLinkVerb Verb = TLinkVerb::Features;
        TAnswered Answered;
        bool Active = false;
    };
    TAsk mAsk;
    TLineAssembler mAnswerLines;
    // The features agreed with the server since the last log-on.
    TLinkFeatures mAgreed;
    // The server of this batch did not answer the feature question: it is not asked again.
    bool mPeerPlain = false;

    // Watches the received bytes for the replies (on the engine's port).
    std::unique_ptr<TVaWaitMessage> mWatcher;
    TVaTimer mIdleTimer;
    TVaTimer mBatchTimer;
    TVaTimer mTrialTimer;
    TVaTimer mReplyTimer; // bounds the wait for a reply frame's closing CR
    TVaTimer mAskTimer;   // bounds the wait for an extension's answer
};
