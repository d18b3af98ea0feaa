#pragma once
// The client console's logic (TfraClient): what it adds to the shared console parts are the
// session fields of the client engine, start and stop, the client's command-line grammar, job
// preparation and the results files that calling programs ask for. Its state is what a view
// shows; every box goes through the prompt interface.
#include "consoles/console_base.h"
#include "consoles/console_services.h"
#include "engine/rem_process.h"
#include "jobs/results_log.h"

#include <QObject>
#include <QString>
#include <QStringList>

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

class TfraClient : public TConsoleBase, public IRemConsole {
    Q_OBJECT
public:
    explicit TfraClient(const TConsoleServices& services, QObject* parent = nullptr);
    ~TfraClient() override;

    // IConsole
    void ProcessParams() override { ProcessClientParams(); }

    // The client's own work: the command line's parameters (a job), a finished job in the log
    // and the caller's results file, the engine of the default connection started or stopped,
    // and what it reports shown in the session fields.
    void ProcessClientParams();
    // Fills `job` for a file inside the global Outbox; shows its own error boxes; true when the
    // job can be queued.
    bool PrepareClientJob(TQueueItem& job, const QString& file, const QString& user,
                          const QString& password, const QString& server);
    // Also what the engine calls when it changed the queue (fetching jobs added or removed).
    void UpdateQueueList() override { TConsoleBase::UpdateQueueList(); }
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result, int attempt,
                      bool done) override;
    void DeviceProcessing(bool start) override;
    void OnDeviceStatus(TRemStatusReport& report) override;
    void ClearStatus();

    // ---- The session fields a view shows ----
    const QString& status() const { return mStatus; }   // the engine's current step
    const QString& attempt() const { return mAttempt; } // "attempt / retries"
    const QString& host() const { return mHost; }       // the number dialled, else the device name
    const QString& job() const { return mJob; }         // the job number
    const QString& file() const { return mFile; }
    // The progress gauge: its full value and its position (never past full).
    int progressMax() const { return mProgressMax; }
    int progress() const { return mProgress; }

Q_SIGNALS:
    // A session field changed.
    void sessionChanged();

protected:
    void loadLists() override;
    bool prepareAddedJob(TQueueItem& job, const QString& file) override;

private:
    void processJobPart();
    void writeResultsFile(const QString& path, const QString& line);

    QString mStatus = QStringLiteral("Client service stopped.");
    QString mAttempt;
    QString mHost;
    QString mJob;
    QString mFile;
    int mProgressMax = 100;
    int mProgress = 0;
};
