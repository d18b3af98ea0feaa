#pragma once
// The server console's logic (TfraServer): the host queue, the results log, one row per running
// server engine, the status trail, start and stop, and the server's command-line grammar. It
// holds what its view shows as plain state (rows of texts, button states) and signals changes;
// every box goes through Prompt(), so it runs the same headless, on the desktop and in tests.
#include "consoles/console_services.h"
#include "engine/host_process.h"
#include "jobs/results_log.h"
#include "core/status.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// A date-time number as the log export writes it: 23 characters of scientific notation, a blank
// or "-", one digit, ".", 14 digits, "E", the exponent's sign and 4 exponent digits
// (" 4.54321234567890E+0004").
QString LogExportTime(double value);
// Progress as a whole percentage of the total: progress limited to 0..total, rounded to the nearest
// integer with halves going to the even neighbour. 0 when the total is not positive.
int ProgressPercent(qint64 progress, qint64 total);
// Writes the lines to a text file, replacing it only once every byte is written. False on error.
bool WriteTextFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

class TfraServer : public QObject, public IConsole, public IHostConsole {
    Q_OBJECT
public:
    explicit TfraServer(const TConsoleServices& services, QObject* parent = nullptr);
    ~TfraServer() override;

    // IConsole
    int Role() const override { return 2; }
    TSessionText* SessionText() override { return &mmDetail; }
    void Initialize() override;
    void ProcessParams() override { ProcessHostParams(); }

    // The designed operations.
    void ProcessHostParams();
    void UpdateQueueList();
    void UpdateLogList();
    void ShowLogEntry(const TLogRecord& record);
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                      bool done) override;
    void DeviceProcessing(bool start);
    void SetGUI();
    void OnDeviceStatus(THstStatusReport& report) override;
    void ClearStatus();
    // Headless there is no window: the arrival is written as a status line.
    void ShowNotification() override;

    // The handlers a view forwards its clicks to.
    void btStartClick();
    // Asks for a file (dlgJob), then lets HostEnqueueDialog complete the job; queues it on OK.
    // True when a job was queued.
    bool btJobAddClick();
    void btJobDelClick();
    void btDelAllClick();
    void lvQueueKeyDown(int key);
    // `clicked`: the operator pressed the button (asks first); false for "/CLEARLOG".
    void btLogClearClick(bool clicked);
    void btLogExpClick();
    void Quit1Click();
    void Alwaysontop1Click();

    // ---- State a view shows ----
    struct TOperRow {
        const TCommDevice* Device = nullptr; // the device whose engine the row shows
        QString Caption;                     // "Device"
        QString User;
        QString Operation;
        QString File;
    };
    QList<TOperRow> lvOper;
    // lvQueue rows: "File #", "File name", "Size", "Method", "User name", "Submitted",
    // "Destination Path".
    QList<QStringList> lvQueue;
    int QueueSelected = -1; // selected lvQueue row, -1 for none
    QString edTotJobs;
    // lsvLog rows: "File #", "Done", "Result", "File name", "Method", "Destination Path",
    // "Submitted", "Processed", "User Name".
    QList<QStringList> lsvLog;
    bool btOptEnabled = true;
    bool btJobAddEnabled = true;
    bool btJobDelEnabled = true;
    bool btDelAllEnabled = true;
    bool btStartEnabled = true;
    QString btStartCaption = QStringLiteral("&Start");
    bool AlwaysOnTopChecked = false;
    // The caption, tray hint and icon (index into the main window's images) set by Initialize.
    QString Caption;
    QString TrayHint;
    int IconIndex = 2;
    // The status trail.
    TSessionText mmDetail;

    // The enqueue dialog (TfrmHstEnq) of the view: completes the job, true on OK. Without one
    // (headless) "Add..." queues nothing.
    std::function<bool(TQueueItem& job)> HostEnqueueDialog;

Q_SIGNALS:
    void OperChanged();
    void QueueChanged();
    void LogChanged();
    void GuiChanged();
    // The arrived-files window is to be shown.
    void NotificationRequested();

private:
    void processJobPart();
    TUsersList& users();
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
    void importUsers(const QString& entry);
    void redirectUsers(TUserKey useGlobal, TUserKey folder, TSettingKey setting,
                       const QString& text);
    void queueJob(const TQueueItem& job);
    bool running() const;

    TConsoleServices mServices;
    TQueueList* mQueue;
    TQLog* mLog;
};
