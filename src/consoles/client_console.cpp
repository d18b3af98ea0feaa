#include "consoles/client_console.h"

#include "consoles/enqueue.h"
#include "core/helpers.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <stdexcept>

namespace {
// "File #", "File name", "Size", "Method", "User name", "Submitted", "Comm Device", "Parameters",
// "Destination Path". A job named by its full path shows the path below the Outbox when it lies
// there.
QStringList queueRow(const TQueueItem& job, const TSettings& settings) {
    QString shown = Get(job, qkSrcFile);
    QString relative;
    if (QDir::isAbsolutePath(shown) &&
        RelativeToFolder(shown, settings.GetStr(MRL_Outbox), &relative))
        shown = relative;
    return {Get(job, qkNo),       shown,
            Get(job, qkSize),     Get(job, qkMethod),
            Get(job, qkUser),     Get(job, qkDate),
            Get(job, qkCommName), Get(job, qkCommParam),
            Get(job, qkDestPath)};
}

// "File #", "Done", "Result", "File name", "Attempt", "Method", "Destination Path", "Submitted",
// "Processed", "User Name", "Comm Device", "Parameters".
QStringList logRow(const TLogRecord& record) {
    QStringList row = LogFields(record, LogTimeText);
    row.insert(4, QString::number(record.Attempt));
    return row << record.CommName << record.CommParam;
}

// The shared fields, the device name and parameter, separated by tabs.
QString logExportLine(const TLogRecord& record) {
    return (LogFields(record, LogExportTime) << record.CommName << record.CommParam).join('\t');
}

const TConsoleRole ClientRole{.role = RoleClient,
                              .className = "TfraClient",
                              .captionSuffix = " - CLIENT",
                              .autoDelivery = CLI_AutoDelivery,
                              .queueRow = queueRow,
                              .logRow = logRow,
                              .logExportLine = logExportLine};

// The index of the default connection (the first device whose identifier is CLI_ActiveDevice),
// or -1.
int defaultDevice(TDevicesList* devices, const QString& active) {
    if (!devices) return -1;
    for (int i = 0; i < devices->Count(); ++i)
        if (devices->GetSetting(i, dvkDevGUID) == active) return i;
    return -1;
}

QString digitsOnly(const QString& text) {
    QString digits;
    for (QChar c : text)
        if (c >= '0' && c <= '9') digits += c;
    return digits;
}
} // namespace

// ---- Results files ----

QString ResultsFileLine(const TLogRecord& record) {
    const QString done = QString::fromLatin1(NoYes[record.Done ? 1 : 0]);
    return PadRight(QString::number(record.JobNo), 4) + PadRight(Capitalize(done), 3) +
           PadRight(record.Result, 60) + PadRight(record.FileName, 255) +
           PadRight(LogTimeText(record.Submitted), 16) +
           PadRight(LogTimeText(record.Processed), 16) + PadRight(record.UserName, 20) +
           PadRight(record.CommParam, 40) + (record.Done ? "1" : "0");
}

QString CommandLineErrorLine(const TQueueItem& job) {
    return "0000No " + PadRight("Command line error", 60) + PadRight(Get(job, qkSrcFile), 255) +
           PadRight(DateTimeToStr(QDateTime::currentDateTime()), 16) +
           PadRight(LogTimeText(0), 16) + PadRight(Get(job, qkUser), 20) +
           PadRight(Get(job, qkCommParam), 40) + "0";
}

bool WriteResultsFile(const QString& path, const QString& line, QString* error) {
    if (path.trimmed().isEmpty()) {
        if (error) *error = QStringLiteral("No results file name");
        return false;
    }
    return WriteTextFile(path, line.toUtf8(), error);
}

// ---- TfraClient ----

TfraClient::TfraClient(const TConsoleServices& services, QObject* parent)
    : TConsoleBase(services, ClientRole, parent) {
    services.engines.remConsole = this;
}

TfraClient::~TfraClient() {
    if (services().engines.remConsole == this) services().engines.remConsole = nullptr;
}

void TfraClient::loadLists() {
    UpdateLogList();
    UpdateQueueList();
    addStatus(QStringLiteral("Application started."));
}

// ---- Command line ----

void TfraClient::ProcessClientParams() {
    TPendingParams& params = services().params;
    guarded("ProcessClientParams", [&]() {
        processJobPart();
        const QStringList entries = params.entries;
        for (const QString& entry : entries)
            processSwitch(entry);
    });
    params.entries.clear();
}

void TfraClient::processJobPart() {
    QStringList& entries = services().params.entries;
    if (entries.size() < 4 || IsSwitch(entries[0])) return;
    guarded("ProcessClientParams_1", [&]() {
        TQueueItem job;
        queue().EmptyItem(job);
        const bool prepared = PrepareClientJob(job, entries[0], entries[1], entries[2], entries[3]);
        const bool hasResultsFile = entries.size() >= 5 && !IsSwitch(entries[4]);
        const QString resultsFile = hasResultsFile ? PathCase(entries[4]).trimmed() : QString();
        if (prepared && !Get(job, qkUser).isEmpty() && !Get(job, qkPassw).isEmpty()) {
            if (hasResultsFile) Put(job, qkResultsFile, resultsFile);
            queueCommandLineJob(job);
        } else {
            addStatus(QStringLiteral("Queuing up failed. Error in command line."));
            // The calling program always finds an answer when it named a results file.
            if (hasResultsFile && !resultsFile.isEmpty()) {
                addStatus("Creating results file: " + resultsFile);
                writeResultsFile(resultsFile, CommandLineErrorLine(job));
            }
        }
    });
    entries.remove(0, qMin<qsizetype>(4, entries.size()));
}

void TfraClient::writeResultsFile(const QString& path, const QString& line) {
    QString error;
    if (!WriteResultsFile(path, line, &error)) addStatus(path + ": " + error);
}

bool TfraClient::PrepareClientJob(TQueueItem& job, const QString& file, const QString& user,
                                  const QString& password, const QString& server) {
    bool usable = false;
    guarded("PrepareClientJob", [&]() {
        queue().EmptyItem(job);
        const QString path = PathCase(file).trimmed();
        Put(job, qkUser, user.toUpper().trimmed());
        Put(job, qkPassw, ScramblePassword(password));

        const QString outbox = services().settings.GetStr(MRL_Outbox);
        QString relative;
        if (!RelativeToFolder(path, outbox, &relative)) {
            errorBox(path + "\r\nFile must be in the Outbox or a subfolder!");
            return;
        }
        if (relative.isEmpty()) return;
        // A stored name longer than a job field holds would be cut and name another file.
        if (Cut255(relative) != relative) {
            errorBox(QStringLiteral("Cannot open specified file."));
            return;
        }
        Put(job, qkSrcFile, relative);

        const int device = defaultDevice(devices(), services().settings.GetStr(CLI_ActiveDevice));
        if (device >= 0) {
            Put(job, qkCommName, devices()->GetSetting(device, dvkDevName));
            if (Get(job, qkCommName).trimmed().isEmpty()) {
                errorBox("The default connection has an invalid name!\r\nPlease check the "
                         "connection properties in the \"Options\" dialog.");
                return;
            }
            Put(job, qkCommGUID, devices()->GetSetting(device, dvkDevGUID));
            if (Get(job, qkCommGUID).trimmed().isEmpty()) {
                errorBox("The default connection has an invalid identifier!\r\nPlease check the "
                         "connection properties in the \"Options\" dialog.");
                return;
            }
            const QString type = devices()->GetSetting(device, dvkDevType);
            if (type == "Direct")
                Put(job, qkCommParam, QString());
            else if (type == "Modem")
                Put(job, qkCommParam, digitsOnly(server));
        }

        bool inside = false;
        const QString local = LocalPath(outbox, relative, &inside);
        const qint64 size = inside ? ReadableFileSize(local) : -1;
        if (size < 0) {
            errorBox(QStringLiteral("Cannot open specified file."));
            return;
        }
        PutJobSize(job, size);
        if (size == 0) {
            errorBox(QStringLiteral("File is empty."));
            return;
        }
        usable = true;
    });
    return usable;
}

bool TfraClient::prepareAddedJob(TQueueItem& job, const QString& file) {
    return PrepareClientJob(job, file, QString(), QString(), QString());
}

// ---- Engine reports ----

void TfraClient::LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                              int attempt, bool done) {
    guarded("LogFileEvent", [&]() {
        if (Get(job, qkSrcFile).isEmpty()) {
            addStatus(QStringLiteral("UpdateQueueList: Logging skipped - missing filename."));
            return;
        }
        const QString number = Get(job, qkNo).trimmed();
        int jobNo = 0;
        if (!ParseInteger(number, &jobNo))
            throw std::runtime_error(
                ("'" + number + "' is not a valid integer value").toStdString());
        TLogRecord record;
        record.JobNo = jobNo;
        record.Done = done;
        record.Result = result;
        record.FileName = Get(job, qkSrcFile);
        record.Method = Get(job, qkMethod);
        record.DestPath = Get(job, qkDestPath);
        if (!Get(job, qkDate).trimmed().isEmpty()) {
            const QDateTime submitted = StrToDateTime(Get(job, qkDate));
            if (submitted.isValid()) record.Submitted = DateTimeToDouble(submitted);
        }
        record.Processed = DateTimeToDouble(QDateTime::currentDateTime());
        record.Attempt = attempt;
        record.UserName = Get(job, qkUser);
        record.CommName = Get(job, qkCommName);
        record.CommGUID = Get(job, qkCommGUID);
        record.CommParam = Get(job, qkCommParam);
        record.ResultsFile = Get(job, qkResultsFile);
        resultsLog().LogEntry(record);
        ShowLogEntry(record);

        // Neither ended nor dropped: the job stays queued for another attempt.
        if (!discard && !done) return;
        const int index = queueIndexOf(number);
        if (index < 0) return;

        // Only a file that was delivered is removed from the Outbox, and only when asked for; a
        // dropped job keeps its file, and a fetching job names a file of the server, not ours.
        if (done && Get(job, qkAutoDel) == QLatin1String(NoYes[1]) &&
            Get(job, qkMethod) == QLatin1String("SEND"))
            deleteSentFile(services().settings.GetStr(MRL_Outbox), Get(job, qkSrcFile));
        if (!record.ResultsFile.isEmpty()) {
            addStatus("Creating results file: " + record.ResultsFile);
            QString error;
            if (!WriteResultsFile(record.ResultsFile, ResultsFileLine(record), &error))
                addStatus(error);
        }
        queue().DeleteItem(index, true);
        UpdateQueueList();
    });
}

void TfraClient::OnDeviceStatus(TRemStatusReport& report) {
    if (!running()) return;
    guarded("OnDeviceStatus", [&]() {
        mStatus = report.Operation;
        const QString retries = report.Device ? report.Device->Get(dvkDevRetries) : QString();
        mAttempt = QString::number(report.Attempt) + " / " + retries;
        const QString param = Get(report.Job, qkCommParam);
        mHost =
            !param.isEmpty() ? param : (report.Device ? report.Device->Get(dvkDevName) : QString());
        mJob = Get(report.Job, qkNo);
        mFile = report.FileText;
        if (report.Total > 0) {
            mProgressMax = report.Total;
            // A gauge never shows more than full.
            mProgress = qBound(0, report.Progress, report.Total);
        } else {
            mProgressMax = 100;
            mProgress = 0;
        }
        Q_EMIT sessionChanged();
        if (!report.Message.isEmpty()) {
            if (mProgress > 0)
                addStatus("(" + QString::number(ProgressPercent(mProgress, mProgressMax)) + "%) " +
                          report.Message);
            else
                addStatus(report.Message);
        }
    });
    SetGUI();
}

// ---- Start and stop ----

void TfraClient::DeviceProcessing(bool start) {
    guarded("DeviceProcessing", [&]() {
        if (!devices()) return;
        if (start) {
            ClearStatus();
            const QString active = services().settings.GetStr(CLI_ActiveDevice);
            for (int i = 0; i < devices()->Count(); ++i)
                if (devices()->GetSetting(i, dvkDevGUID) == active) devices()->StartRemProc(i);
        } else {
            for (int i = 0; i < devices()->Count(); ++i)
                devices()->StopRemProc(i);
            ClearStatus();
        }
    });
    SetGUI();
}

void TfraClient::ClearStatus() {
    guarded("ClearStatus", [&]() {
        mStatus = QStringLiteral("Client service stopped.");
        mAttempt.clear();
        mHost.clear();
        mJob.clear();
        mFile.clear();
        mProgressMax = 100;
        mProgress = 0;
        Q_EMIT sessionChanged();
        services().status.Save(SessionText());
    });
}
