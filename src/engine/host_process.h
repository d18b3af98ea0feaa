#pragma once
// The server side of a session: one THostProcess per started device. It prepares its device
// (opens the port, initialises the modem), waits for a call, answers it, then serves the command
// exchange: log-on against the user accounts, files received into the user's inbox, queued or
// global files and the directory list sent from the outbox, results confirmed. Every change is
// reported to the server console (TEngineServices::hostConsole).
//
// Everything runs on the main thread, driven by port, modem and transfer events, received command
// lines and two timers. Waits inside a step (WaitFor, Delay) keep handling events, so a step can
// be re-entered meanwhile; the Busy flag and the Activity checks after each wait guard that.
#include "engine/devices.h"
#include "engine/engine_base.h"
#include "engine/link_protocol.h"
#include "jobs/queue.h"
#include "jobs/users.h"
#include "serial/comm.h"
#include "serial/modem.h"
#include "serial/modems.h"
#include "serial/va_timer.h"
#include "serial/xmodem.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

// The steps of the server's state machine.
enum class THstStep : uint8_t { Stop, Start, CallWait, Connect, Login, File, Dir, Disconnect };

// The sub-steps of the Connect step: preparing the device, waiting for a call and answering it.
// The other steps run with the first one, which Execute also reads as "none given".
enum class THstConnectSub : uint8_t {
    OpenPort,   // open the port with the device's line settings
    PortOpened, // the port opened (or the modem was reset): initialise the modem, or go online
                // at once on a direct cable
    PortClosed, // the port closed under the engine: prepare the device again
    ModemReady, // the modem took its init string: send the extra commands one by one, then
                // wait for a call
    Ringing,    // a call rings: the Start step answers it
    Connected,  // the line is up: online, listening for commands
    CallFailed, // busy, no answer, command time-out: prepare the device again
};

enum class THstActivity : uint8_t {
    Stopped,
    Waiting, // preparing the device or waiting for a call
    Online,  // a caller is connected and commands are listened for
};

// Events given to the Login, File, Dir and CallWait steps.
enum class THstEvent : uint8_t {
    None,
    Logon,          // Login: "LOGON" with a password
    LogonOk,        // Login: accepted
    LogonDenied,    // Login: refused
    FileRequest,    // File: "PUT", "GET" or "CHKCRC"
    InvalidRequest, // File
    Progress,       // File, Dir
    TransferDone,   // File, Dir
    TransferFailed, // File, Dir
    Result,         // File: "RESULT"
    DirRequest,     // Dir: "DIR"
    SessionTimeout, // CallWait
    LineLost,       // CallWait: the device hung up or went away
};

using THstSteps = TVaSet<THstStep>;
using THstStatusReport = TStatusReport<THstActivity>;

// What the engine keeps of the session in hand.
struct THstSession {
    TQueueItem Job;              // the current request or served job
    TMRLUser User;               // the authenticated caller
    TModemSettings Modem;        // the configuration loaded for a modem device
    bool BufferTransfer = false; // the current "DIR" asked for "/B"
    bool GlobalFile = false;     // the current request carried "/G"
    bool NameCut = false;        // the name of the current GET or CHKCRC was cut to 255 bytes
    TLinkFeatures Features;      // the extensions agreed with the caller since its log-on
    int32_t ResultCode = 0;      // result of the last transfer (0 success)
    qint64 Transferred = 0;      // bytes the transfer in hand has moved
    // The file being received: the final path, and the temporary one the transfer writes into.
    QString FinalPath;
    QString PartPath;
};

// The server console as the engine sees it.
class IHostConsole {
public:
    virtual ~IHostConsole() = default;
    // At each change of step: updates lists, status fields and the progress gauge.
    virtual void OnDeviceStatus(THstStatusReport& report) = 0;
    // A job has ended: writes the results-log record, deletes or keeps the job and its file.
    virtual void LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                              bool done) = 0;
    // New files have arrived (the notification window; headless: a status line).
    virtual void ShowNotification() = 0;
};

// The factory of server engines for TEngineServices::hostFactory (StartHostProc creates a
// THostProcess).
TDeviceEngineFactory HostEngineFactory();

// Environment overrides for short timers (read when an engine is created; the stored settings
// keep their units):
//   MARROWLINE_SESSION_TIMEOUT_MS  the session time-out in ms instead of SVR_SessionTimeout min
//   MARROWLINE_WATCHDOG_MS         the watchdog interval in ms instead of 600000
// A forced step starts with the sub-step and event it is given.
class THostProcess
    : public TStepEngine<THostProcess, THstStep, THstConnectSub, THstEvent, THstActivity, true> {
public:
    THostProcess(TDevicesList* owner, TCommDevice& device);
    ~THostProcess() override;

    // The device was started again: back to CallWait (forced).
    void Restart() override;

    // A received file is being committed in the background (see commitReceivedFile).
    bool Committing() const { return mCommitting; }
    const THstStatusReport& Report() const { return mReport; }
    const THstSession& Session() const { return mSession; }

private:
    // The handler of the step in hand for the Activity in hand.
    TStepRun stepFor() const override;

    // Step handlers (host_steps.cpp).
    void DoCallWait();
    void DoStart();
    void DoStop();
    void DoConnect();
    void DoDisconnect();
    void DoLogin();
    void DoFile();
    void DoDir();
    // Connect's sub-steps.
    void connectOpenPort();
    void connectPortOpened();
    void connectModemReady();
    void connectOnline();
    // Resets the report's transfer fields for a new operation whose message is its name.
    void beginOperation(const QString& operation);

    // File's events (host_file.cpp).
    void fileRequest();
    // Each prepares one kind of request and tells the transfer's file name; false when the
    // request was refused (and answered) or the engine ended meanwhile.
    bool prepareSend(const QString& name, QString* fileName);
    bool prepareReceive(const QString& name, QString* fileName);
    void answerCrc(const QString& name);
    // Answers "YES" to an accepted request and starts its transfer once the line is ready.
    void startFileTransfer(quint64 request, const QString& fileName, bool receiving);
    void fileTransferDone();
    void fileTransferFailed();
    void dirRequest();

    // Actions (host_actions.cpp).
    // Tells the console the report as it stands, and the Activity becomes `value` after it.
    void aSetStatus(THstActivity value);
    // Tells the console the report as it stands (its message); the Activity stays.
    void report();
    void tell(TReportKind kind, THstActivity value);
    void aSendMessage(const QString& text);
    void aListen(bool on);
    void aResetBatchTimeout() override;
    void aFileNotification(qint64 byteCount) override;
    bool aLoadDevice();
    QString aGetOutbox();
    QString aUserInbox();
    bool aLoadQueueItem(int index);
    bool aLoadQueueItemByName(const QString& fileName); // for "GET"
    bool aLoadCrcItem();                                // for "CHKCRC"
    // aLoadQueueItem (index); replyOnError false keeps an unreadable file from answering "NO"
    // in the middle of a directory list.
    bool loadQueueItem(int index, bool replyOnError);
    // A global file (GET /G) in the outbox: its size into the request.
    bool loadGlobalItem();
    bool aPrepareUserDirList();
    // Writes the directory list of the caller's jobs into the outbox's "DIR.LST".
    bool writeDirListFile(const QList<TDirEntry>& entries);
    void aReport(const QString& message);

    // Sets the modem component up from the device's modem settings (host_events.cpp).
    void ConfigureModem(TVaModem& modem) override;

    // Timers (host_events.cpp).
    void tmWatchDogTimer();
    void tmBatchTmoTimer();

    // Port, modem and transfer events (host_events.cpp).
    void yPortOpen() override;
    void yPortClose() override;
    void yPortError(uint32_t errors) override;
    void yPortLineLost(int error) override;
    void yPortRxBuf(const char* data, int count);
    // Modem answers: an initialised modem waits for calls, a reset one is prepared again.
    void yModemOK() override;
    void yModemBusy() override; // the call failed
    // Up to nine in a row count as a failed call; the tenth stops the device.
    void yModemCommandTimeout() override;
    void yModemConnect(const QString& connectString) override; // a caller is on the line
    void yModemError() override;
    // The caller went, or was a voice: back to waiting for calls.
    void yModemNoCarrier() override;
    void yModemVoice() override;
    void yModemRingDetect(int rings, bool& accept);
    void yModemRingWaitTimeout();
    void yTransferFileInfo(const QString& name, qint64 size) override;
    void yTransferEnd(int exitCode) override;
    void yTransferError(int code) override;
    // A command found in a received line, by its row of the command table; the commands whose
    // requests need more than one line of handling.
    void onCommand(const TLinkCommand& command, const QString& line);
    void onGet(const TLinkRequest& get, bool crc, bool act);
    void onPut(const TLinkRequest& put, bool act);
    void onDir(const TLinkRequest& dir, bool act);
    // The feature question (the features this installation offers) and the client's choice
    // (those agreed: asked for and offered).
    void onFeatures(TLinkVerb verb, const TLinkRequest& request);
    // Sends one of the designed replies.
    void aReply(TLinkReply reply) { aSendMessage(ReplyText(reply)); }
    // The result of a transfer that ended by itself: 0, or the code it fails with after the
    // received file's length check.
    int checkTransferEnd(int exitCode, bool receiving);
    // Reports a transfer's outcome and hands it to the File or Dir step.
    void finishTransferEnd(int code, bool receiving);
    // A received file that passed its checks is committed in the background (its data synced,
    // renamed over its final name, its folder synced): a sync waits on the disk, and the main
    // thread serves every port. Until the outcome is known the session stands still: whatever
    // the caller sends meanwhile (its RESULT) is held, and handled once the outcome has been
    // reported, so that "OK" is never answered for a file that is not safely in place.
    void commitReceivedFile();
    void receivedFileCommitted(quint64 request, bool ok, const QString& finalPath,
                               const QString& error);

    // Receiving into a temporary name: the whole file appears under its final name only after
    // the length check.
    void discardPartialFile();
    // Removes the temporary files a killed receiver left in the inboxes.
    void removeLeftovers();
    // Commits `part` over *finalPath, or over the next free name when that cannot be replaced
    // (*finalPath then names it); a file that cannot be placed is removed. Runs in the
    // background: it touches nothing of the engine.
    static bool moveReceivedFile(const QString& part, QString* finalPath, QString* error);

    // dvkDevDelay in ms; emptyValue when empty or unreadable.
    int deviceDelay(int emptyValue) const;

    TUsersList* mUsers;
    IHostConsole* mConsole;

    QList<QByteArray> mLines; // received command lines, emptied before each reply
    QByteArray mLastLine;
    TLineAssembler mAssembler;
    bool mInCallWait = false;
    // The line was lost: the device is prepared again once it is back (looked for every second)
    // instead of being stopped for the watchdog.
    bool mAwaitDevice = false;
    int mTimeoutCount = 0;
    // A file request was accepted and its outcome not yet logged.
    bool mJobOpen = false;
    // Counts file requests and session changes, so that a request that waited can tell that
    // its session ended or a newer request took over meanwhile.
    quint64 mRequestCount = 0;
    THstSession mSession;
    // What the console is told: the steps set its texts and progress, the rest is filled in when
    // it is told (tell).
    THstStatusReport mReport;

    // A received file is being committed; the input that arrives meanwhile.
    bool mCommitting = false;
    QByteArray mHeldInput;

    int mSessionTimeoutMs = -1; // override, -1: from the settings
    int mWatchDogMs = 600000;

    TVaTimer mWatchDog;
    TVaTimer mSessionTimer;
};
