#pragma once
// The client console's logic (TfraClient): the queue of files to send, the results log, the
// session fields of the client engine, start and stop, the client's command-line grammar, job
// preparation and the results files that calling programs ask for. Its state is what a view
// shows; every box goes through the prompt interface.
#include "consoles/console_services.h"
#include "engine/rem_process.h"
#include "jobs/results_log.h"
#include "core/status.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// Width of the single line of a results file.
constexpr int ResultsLineLength = 415;

// The results-file line of a log record: job number (4), "Yes"/"No" (3), result (60), file name
// (255), submitted (16) and processed (16) as date-and-time text, user (20), device parameter
// (40), "1"/"0" (1); each field cut or padded with blanks.
QString ResultsFileLine(const TLogRecord& record);
// The line for a job that could not be queued from the command line ("0000No Command line
// error...", submitted now, processed at day 0, done "0").
QString CommandLineErrorLine(const TQueueItem& job);
// Replaces the results file with the line (no line end). False, with the error text, on failure.
bool WriteResultsFile(const QString& path, const QString& line, QString* error = nullptr);

class TfraClient : public QObject, public IConsole, public IRemConsole {
    Q_OBJECT
public:
    explicit TfraClient(const TConsoleServices& services, QObject* parent = nullptr);
    ~TfraClient() override;

    // IConsole
    int Role() const override { return 1; }
    TSessionText* SessionText() override { return &mmDetail; }
    void Initialize() override;
    void ProcessParams() override { ProcessClientParams(); }

    // The designed operations.
    void ProcessClientParams();
    // Fills `job` for a file inside the global Outbox; shows its own error boxes; true when the
    // job can be queued.
    bool PrepareClientJob(TQueueItem& job, const QString& file, const QString& user,
                          const QString& password, const QString& server);
    void UpdateQueueList() override;
    void UpdateLogList();
    void ShowLogEntry(const TLogRecord& record);
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result, int attempt,
                      bool done) override;
    void DeviceProcessing(bool start);
    void SetGUI();
    void OnDeviceStatus(TRemStatusReport& report) override;
    void ClearStatus();

    // The handlers a view forwards its clicks to.
    void btStartClick();
    // Asks for a file (dlgJob), prepares it, lets RemEnqueueDialog complete it; queues it on OK.
    bool btJobAddClick();
    void btJobDelClick();
    void btDelAllClick();
    void lvQueueKeyDown(int key);
    void btLogClearClick(bool clicked);
    void btLogExpClick();
    void Quit1Click();
    void Alwaysontop1Click();

    // ---- State a view shows ----
    // The session fields.
    QString edStat = QStringLiteral("Client service stopped.");
    QString edAttempt;
    QString edHost;
    QString edJob;
    QString edFile;
    int prbMax = 100;
    int prbPosition = 0;
    // lvQueue rows: "File #", "File name", "Size", "Method", "User name", "Submitted",
    // "Comm Device", "Parameters", "Destination Path".
    QList<QStringList> lvQueue;
    int QueueSelected = -1;
    QString edTotJobs;
    // lsvLog rows: "File #", "Done", "Result", "File name", "Attempt", "Method",
    // "Destination Path", "Submitted", "Processed", "User Name", "Comm Device", "Parameters".
    QList<QStringList> lsvLog;
    bool btOptEnabled = true;
    bool btJobAddEnabled = true;
    bool btJobDelEnabled = true;
    bool btDelAllEnabled = true;
    bool btStartEnabled = true;
    QString btStartCaption = QStringLiteral("&Start");
    bool AlwaysOnTopChecked = false;
    QString Caption;
    QString TrayHint;
    int IconIndex = 1;
    TSessionText mmDetail;

    // The enqueue dialog (TfrmRemEnq) of the view: completes a prepared job, true on OK.
    std::function<bool(TQueueItem& job)> RemEnqueueDialog;

Q_SIGNALS:
    void SessionChanged();
    void QueueChanged();
    void LogChanged();
    void GuiChanged();

private:
    void processJobPart();
    TDevicesList* devices() const;
    void errorBox(const QString& text);
    void report(const char* operation, const QString& text);
    // Runs an operation: anything it throws becomes the status line "!" + class + "." +
    // operation + ": " + text.
    template <typename F> void guarded(const char* operation, F&& body) {
        try {
            body();
        } catch (const std::exception& e) {
            report(operation, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            report(operation, QStringLiteral("unknown error"));
        }
    }
    bool askYesNo(const QString& text);
    void queueJob(const TQueueItem& job);
    void writeResultsFile(const QString& path, const QString& line);
    bool running() const;

    TConsoleServices mServices;
    TQueueList* mQueue;
    TQLog* mLog;
};
