#pragma once
// What the client and the server console share: the queue as rows of texts and the results log
// as rows read from its file, with their operations (delete one job or all, the Delete key, clear
// and export the log), the button states, caption and always-on-top of the window, the session
// text, and the helpers that ask through the prompt and turn a failed operation into a status
// line. A view reads the state through the getters, follows the change signals and forwards its
// clicks to the handlers; only the console changes its state (the queue selection excepted, which
// the view sets).
#include "consoles/console_services.h"
#include "consoles/log_rows.h"
#include "core/settings.h"
#include "core/status.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

// A date-time number as the lists and results files show it; empty when it is no valid time.
QString LogTimeText(double value);
// A date-time number as the log export writes it: 23 characters of scientific notation, a blank
// or "-", one digit, ".", 14 digits, "E", the exponent's sign and 4 exponent digits
// (" 4.54321234567890E+0004").
QString LogExportTime(double value);
// Progress as a whole percentage of the total: progress limited to 0..total, rounded to the nearest
// integer with halves going to the even neighbour. 0 when the total is not positive.
int ProgressPercent(qint64 progress, qint64 total);
// Writes the lines to a text file, replacing it only once every byte is written. False on error.
bool WriteTextFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The nine fields every log row and export line holds, in this order: number, done, result, file
// name, method, destination, submitted and processed (as `time` writes them), user. The client
// adds its own among them.
QStringList LogFields(const TLogRecord& record, QString (*time)(double));

// What sets the consoles of the two roles apart in the parts they share.
struct TConsoleRole {
    TRole role;                // its session text and its icon are the role's
    const char* className;     // named in the status line of a failed operation
    const char* captionSuffix; // ends the window caption: " - CLIENT", " - SERVER"
    TSettingKey autoDelivery;  // starts the service when the console's page is selected
    // The queue row of a job (the settings hold the Outbox), the list row of a log record and
    // its line in the log export (without line end): the role's columns.
    QStringList (*queueRow)(const TQueueItem& job, const TSettings& settings);
    QStringList (*logRow)(const TLogRecord& record);
    QString (*logExportLine)(const TLogRecord& record);
};

class TConsoleBase : public QObject, public IConsole {
    Q_OBJECT
public:
    ~TConsoleBase() override;

    // IConsole
    TRole Role() const override { return mRole.role; }
    TSessionText* SessionText() override { return &mSessionText; }
    // Caption, tray hint, icon and always-on-top, then the lists, the pending parameters, the
    // auto-start and the button states.
    void Initialize() override;

    // What both roles do alike: fill the queue and log lists, add a new log record to the list,
    // start or stop the service, and set the buttons' states.
    virtual void UpdateQueueList();
    void UpdateLogList();
    void ShowLogEntry(const TLogRecord& record);
    virtual void DeviceProcessing(bool start) = 0;
    void SetGUI();

    // The handlers a view forwards its clicks to.
    // Starts the service when it is stopped and stops it when it runs; the button is disabled
    // meanwhile.
    virtual void btStartClick();
    // Asks for a file (dlgJob), prepares it, lets the enqueue dialog complete it; queues it on OK.
    // True when a job was queued.
    bool btJobAddClick();
    void btJobDelClick();
    void btDelAllClick();
    // The Delete key deletes the selected job, as btJobDelClick.
    void lvQueueKeyDown(Qt::Key key);
    // `clicked`: the operator pressed the button (asks first); false for "/CLEARLOG".
    void btLogClearClick(bool clicked);
    void btLogExpClick();
    void Quit1Click();
    void Alwaysontop1Click();

    // ---- State a view shows ----
    bool startEnabled() const { return mStartEnabled; }
    const QString& startCaption() const { return mStartCaption; } // "&Start" or "&Stop"
    bool optionsEnabled() const { return mOptionsEnabled; }
    bool addEnabled() const { return mAddEnabled; }
    bool deleteEnabled() const { return mDeleteEnabled; }
    bool deleteAllEnabled() const { return mDeleteAllEnabled; }
    bool alwaysOnTop() const { return mAlwaysOnTop; }
    // The caption, tray hint and icon (index into the main window's images) set by Initialize.
    const QString& caption() const { return mCaption; }
    const QString& trayHint() const { return mTrayHint; }
    TRole iconRole() const { return mIconRole; }
    // One row of texts per queued job, in the role's columns.
    const QList<QStringList>& queueRows() const { return mQueueRows; }
    // The selected queue row, -1 for none. A refresh of the rows keeps the same job selected.
    int queueSelection() const { return mQueueSelection; }
    // The number of queued jobs as the view shows it.
    const QString& totalJobs() const { return mTotalJobs; }
    // One row per results-log record, in the role's columns, read from the file when asked for.
    TLogRows& logRows() { return mLogRows; }
    // The status trail.
    const TSessionText& sessionText() const { return mSessionText; }

    // The view's selection of a queue row; anything outside the rows selects none.
    void setQueueSelection(int row);
    // The enqueue dialog of the view: completes a prepared job, true on OK. Without one
    // (headless) "Add..." queues nothing.
    void setEnqueueDialog(std::function<bool(TQueueItem& job)> dialog);
    // What the console reaches of the program; the view makes the console's dialogs with it.
    const TConsoleServices& services() const { return mServices; }
    // The options dialog is open. Its OK replaces the device list with its copy, which would
    // stop every engine started meanwhile without a word: until it closes, a start ("/START",
    // the start button, the automatic start) is refused with a status line instead.
    void setOptionsOpen(bool open) { mOptionsOpen = open; }
    bool optionsOpen() const { return mOptionsOpen; }

Q_SIGNALS:
    // The queue rows, their selection or the job count changed.
    void queueChanged();
    // The log rows changed: records were added (the generation of the rows is the same) or the
    // rows were read anew.
    void logChanged();
    // A button state, the caption or always-on-top changed.
    void guiChanged();

protected:
    TConsoleBase(const TConsoleServices& services, const TConsoleRole& role, QObject* parent);

    TQueueList& queue() const { return mServices.queue; }
    TQLog& resultsLog() const { return mServices.log; }
    TDevicesList* devices() const;
    // True while any engine runs.
    bool running() const;
    void addStatus(const QString& line);

    // Writes the status line "!" + class + "." + operation + ": " + text.
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
    void errorBox(const QString& text);
    bool askYesNo(const QString& text);

    // Adds the job to the queue, selects its row and saves the queue.
    void queueJob(const TQueueItem& job);
    // The job part of a command line that passed its checks: marks it for deletion after
    // delivery when "/AUTODEL" is pending, then queues it unless the same job is queued already,
    // and says which.
    void queueCommandLineJob(TQueueItem& job);
    // The switches both roles know: "/START", "/STOP" (which also holds back the auto-start) and
    // "/CLEARLOG" (which does not ask). False for any other entry.
    bool processSwitch(const QString& entry);
    // The index of the queued job with this number (compared without blanks), or -1.
    int queueIndexOf(const QString& number);
    // Deletes a delivered file from the outbox it was sent from, saying so first.
    void deleteSentFile(const QString& outbox, const QString& srcFile);

    // ---- What each role fills in ----
    // Reads what the page shows when it is selected (lists, accounts).
    virtual void loadLists() = 0;
    // Fills `job` for a file the operator chose; shows its own error boxes; true when it can go
    // on to the enqueue dialog.
    virtual bool prepareAddedJob(TQueueItem& job, const QString& file) = 0;

    // True (after saying so on the status line) when the service may not start now.
    bool startRefused();

private:
    void setStartEnabled(bool enabled);
    // A row of the log could not be read: counts the records again once the event loop is
    // back, and refills the rows when the file holds fewer than they show.
    void logReadFailed();
    // The job count follows the rows; announces the change of the queue.
    void queueRowsChanged();

    TConsoleServices mServices;
    const TConsoleRole mRole;
    std::function<bool(TQueueItem& job)> mEnqueueDialog;

    bool mStartEnabled = true;
    QString mStartCaption = QStringLiteral("&Start");
    bool mOptionsEnabled = true;
    bool mAddEnabled = true;
    bool mDeleteEnabled = true;
    bool mDeleteAllEnabled = true;
    bool mAlwaysOnTop = false;
    bool mOptionsOpen = false;
    QString mCaption;
    QString mTrayHint;
    TRole mIconRole;
    QList<QStringList> mQueueRows;
    int mQueueSelection = -1;
    QString mTotalJobs;
    TLogRows mLogRows;
    bool mRecountPosted = false;
    TSessionText mSessionText;
};
