#include "consoles/client_console.h"

#include "app/cmdline.h"
#include "app/helpers.h"
#include "app/inifile.h"
#include "app/settings.h"
#include "consoles/enqueue.h"
#include "consoles/server_console.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>
#include <stdexcept>

namespace {
const char* const ClassName = "TfraClient";

void report(const char* operation, const QString& text) {
    AddStatus(QStringLiteral("!") + ClassName + "." + operation + ": " + text);
}

template <typename F> void guarded(const char* operation, F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        report(operation, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        report(operation, QStringLiteral("unknown error"));
    }
}

QString title() {
    return QString::fromLatin1(ApplicationTitle);
}

void errorBox(const QString& text) {
    Prompt().MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool askYesNo(const QString& text) {
    return Prompt().MessageBox(text, title(), TBoxIcon::Warning, TBoxButtons::YesNo) ==
           TBoxResult::Yes;
}

QString timeText(double value) {
    const QDateTime time = DoubleToDateTime(value);
    return time.isValid() ? DateTimeToStr(time) : QString();
}

// The index of the default connection (the first device whose identifier is CLI_ActiveDevice),
// or -1.
int defaultDevice() {
    if (!gDevices) return -1;
    const QString active = GetStr(CLI_ActiveDevice);
    for (int i = 0; i < gDevices->Count(); ++i)
        if (gDevices->GetSetting(i, dvkDevGUID) == active) return i;
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
           PadRight(timeText(record.Submitted), 16) + PadRight(timeText(record.Processed), 16) +
           PadRight(record.UserName, 20) + PadRight(record.CommParam, 40) +
           (record.Done ? "1" : "0");
}

QString CommandLineErrorLine(const TQueueItem& job) {
    return "0000No " + PadRight("Command line error", 60) + PadRight(Get(job, qkSrcFile), 255) +
           PadRight(DateTimeToStr(QDateTime::currentDateTime()), 16) + PadRight(timeText(0), 16) +
           PadRight(Get(job, qkUser), 20) + PadRight(Get(job, qkCommParam), 40) + "0";
}

bool WriteResultsFile(const QString& path, const QString& line, QString* error) {
    if (path.trimmed().isEmpty()) {
        if (error) *error = QStringLiteral("No results file name");
        return false;
    }
    return WriteTextFile(path, line.toUtf8(), error);
}

// ---- TfraClient ----

TfraClient::TfraClient(QObject* parent) : QObject(parent) {
    SetConsoleSessionText(1, &mmDetail);
    gRemConsole = this;
}

TfraClient::~TfraClient() {
    if (gRemConsole == this) gRemConsole = nullptr;
    if (ConsoleSessionText(1) == &mmDetail) SetConsoleSessionText(1, nullptr);
}

bool TfraClient::running() const {
    return gDevices && gDevices->EngineCount() > 0;
}

void TfraClient::Initialize() {
    guarded("Initialize", [&]() {
        Caption = title() + ' ' + QString::fromLatin1(ProgramVersion) + " - CLIENT";
        TrayHint = Caption + ' ';
        IconIndex = 1;
        if (gMainShell) gMainShell->Caption = Caption;
        AlwaysOnTopChecked = gMainShell ? gMainShell->ApplyOnTop(false) : GetBool(MRL_OnTop);
        if (!gLog) gLog = new TQLog;
        UpdateLogList();
        UpdateQueueList();
        AddStatus(QStringLiteral("Application started."));
        if (!gPendingParams.isEmpty()) ProcessClientParams();
        if (GetBool(CLI_AutoDelivery) && !gStopRequested) btStartClick();
        SetGUI();
    });
}

// ---- Command line ----

void TfraClient::ProcessClientParams() {
    guarded("ProcessClientParams", [&]() {
        processJobPart();
        const QStringList entries = gPendingParams;
        for (const QString& entry : entries) {
            if (entry == "/START") {
                DeviceProcessing(true);
            } else if (entry == "/STOP") {
                gStopRequested = true;
                DeviceProcessing(false);
            } else if (entry == "/CLEARLOG") {
                btLogClearClick(false);
            }
        }
    });
    gPendingParams.clear();
}

void TfraClient::processJobPart() {
    if (gPendingParams.size() < 4 || IsSwitch(gPendingParams[0])) return;
    guarded("ProcessClientParams_1", [&]() {
        TQueueItem job;
        if (gQueue) gQueue->EmptyItem(job);
        const bool prepared = gQueue && PrepareClientJob(job, gPendingParams[0], gPendingParams[1],
                                                         gPendingParams[2], gPendingParams[3]);
        const bool hasResultsFile = gPendingParams.size() >= 5 && !IsSwitch(gPendingParams[4]);
        const QString resultsFile =
            hasResultsFile ? PathCase(gPendingParams[4]).trimmed() : QString();
        if (prepared && !Get(job, qkUser).isEmpty() && !Get(job, qkPassw).isEmpty()) {
            if (hasResultsFile) Put(job, qkResultsFile, resultsFile);
            if (ParamStartsWith("/AUTODEL")) Put(job, qkAutoDel, QString::fromLatin1(NoYes[1]));
            if (gQueue->SearchItem(job) < 0) {
                queueJob(job);
                AddStatus("File queued: " + Get(job, qkSrcFile));
            } else {
                AddStatus("File already in queue: " + Get(job, qkSrcFile));
            }
        } else {
            AddStatus(QStringLiteral("Queuing up failed. Error in command line."));
            // The calling program always finds an answer when it named a results file.
            if (hasResultsFile && !resultsFile.isEmpty()) {
                AddStatus("Creating results file: " + resultsFile);
                writeResultsFile(resultsFile, CommandLineErrorLine(job));
            }
        }
    });
    gPendingParams.remove(0, qMin<qsizetype>(4, gPendingParams.size()));
}

void TfraClient::writeResultsFile(const QString& path, const QString& line) {
    QString error;
    if (!WriteResultsFile(path, line, &error)) AddStatus(path + ": " + error);
}

void TfraClient::queueJob(const TQueueItem& job) {
    gQueue->AddItem();
    const int last = gQueue->Count() - 1;
    gQueue->SetItem(last, &job);
    gQueue->ItemIndex = last;
    UpdateQueueList();
    QueueSelected = int(lvQueue.size()) - 1;
    Q_EMIT QueueChanged();
    gQueue->Save();
}

bool TfraClient::PrepareClientJob(TQueueItem& job, const QString& file, const QString& user,
                                  const QString& password, const QString& server) {
    bool usable = false;
    guarded("PrepareClientJob", [&]() {
        if (!gQueue) return;
        gQueue->EmptyItem(job);
        const QString path = PathCase(file).trimmed();
        Put(job, qkUser, user.toUpper().trimmed());
        Put(job, qkPassw, ScramblePassword(password));

        const QString outbox = GetStr(MRL_Outbox);
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

        const int device = defaultDevice();
        if (device >= 0) {
            Put(job, qkCommName, gDevices->GetSetting(device, dvkDevName));
            if (Get(job, qkCommName).trimmed().isEmpty()) {
                errorBox("The default connection has an invalid name!\r\nPlease check the "
                         "connection properties in the \"Options\" dialog.");
                return;
            }
            Put(job, qkCommGUID, gDevices->GetSetting(device, dvkDevGUID));
            if (Get(job, qkCommGUID).trimmed().isEmpty()) {
                errorBox("The default connection has an invalid identifier!\r\nPlease check the "
                         "connection properties in the \"Options\" dialog.");
                return;
            }
            const QString type = gDevices->GetSetting(device, dvkDevType);
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
        Put(job, qkSize, QString::number(size));
        if (size == 0) {
            errorBox(QStringLiteral("File is empty."));
            return;
        }
        usable = true;
    });
    return usable;
}

// ---- Lists ----

void TfraClient::UpdateQueueList() {
    guarded("UpdateQueueList", [&]() {
        const int selected = QueueSelected;
        lvQueue.clear();
        const int count = gQueue ? gQueue->Count() : 0;
        const QString outbox = GetStr(MRL_Outbox);
        for (int i = 0; i < count; ++i) {
            const TQueueItem* job = gQueue->GetItem(i);
            if (!job) continue;
            QString shown = Get(*job, qkSrcFile);
            QString relative;
            if (QDir::isAbsolutePath(shown) && RelativeToFolder(shown, outbox, &relative))
                shown = relative;
            lvQueue << QStringList{Get(*job, qkNo),       shown,
                                   Get(*job, qkSize),     Get(*job, qkMethod),
                                   Get(*job, qkUser),     Get(*job, qkDate),
                                   Get(*job, qkCommName), Get(*job, qkCommParam),
                                   Get(*job, qkDestPath)};
        }
        QueueSelected = selected < lvQueue.size() ? selected : -1;
        edTotJobs = QString::number(lvQueue.size());
        Q_EMIT QueueChanged();
    });
}

void TfraClient::UpdateLogList() {
    guarded("UpdateLogList", [&]() {
        lsvLog.clear();
        if (!gLog) gLog = new TQLog;
        const int count = gLog->Count();
        for (int i = 0; i < count; ++i) {
            TLogRecord record;
            if (gLog->GetEntry(i, record)) ShowLogEntry(record);
        }
        Q_EMIT LogChanged();
    });
}

void TfraClient::ShowLogEntry(const TLogRecord& record) {
    guarded("ShowLogEntry", [&]() {
        lsvLog << QStringList{QString::number(record.JobNo),
                              QString::fromLatin1(NoYes[record.Done ? 1 : 0]),
                              record.Result,
                              record.FileName,
                              QString::number(record.Attempt),
                              record.Method,
                              record.DestPath,
                              timeText(record.Submitted),
                              timeText(record.Processed),
                              record.UserName,
                              record.CommName,
                              record.CommParam};
        Q_EMIT LogChanged();
    });
}

// ---- Engine reports ----

void TfraClient::LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                              int attempt, bool done) {
    guarded("LogFileEvent", [&]() {
        if (Get(job, qkSrcFile).isEmpty()) {
            AddStatus(QStringLiteral("UpdateQueueList: Logging skipped - missing filename."));
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
        if (!gLog) gLog = new TQLog;
        gLog->LogEntry(record);
        ShowLogEntry(record);

        // Neither ended nor dropped: the job stays queued for another attempt.
        if (!discard && !done) return;
        if (!gQueue) return;
        int index = -1;
        for (int i = 0; i < gQueue->Count(); ++i)
            if (gQueue->GetSetting(i, qkNo).trimmed() == number) {
                index = i;
                break;
            }
        if (index < 0) return;

        // Only a file that was delivered is removed from the Outbox, and only when asked for; a
        // dropped job keeps its file, and a fetching job names a file of the server, not ours.
        if (done && Get(job, qkAutoDel) == QLatin1String(NoYes[1]) &&
            Get(job, qkMethod) == QLatin1String("SEND")) {
            const QString outbox = GetStr(MRL_Outbox);
            bool inside = false;
            const QString path = LocalPath(outbox, Get(job, qkSrcFile), &inside);
            AddStatus("Deleting file: " + WithTrailingSlash(outbox) +
                      LocalSeparators(Get(job, qkSrcFile)));
            if (inside) QFile::remove(path);
        }
        if (!record.ResultsFile.isEmpty()) {
            AddStatus("Creating results file: " + record.ResultsFile);
            QString error;
            if (!WriteResultsFile(record.ResultsFile, ResultsFileLine(record), &error))
                AddStatus(error);
        }
        gQueue->DeleteItem(index, true);
        UpdateQueueList();
    });
}

void TfraClient::OnDeviceStatus(TRemStatusReport& report) {
    if (!running()) return;
    guarded("OnDeviceStatus", [&]() {
        edStat = report.Operation;
        const QString retries = report.Device ? report.Device->Get(dvkDevRetries) : QString();
        edAttempt = QString::number(report.Attempt) + " / " + retries;
        const QString param = Get(report.Job, qkCommParam);
        edHost =
            !param.isEmpty() ? param : (report.Device ? report.Device->Get(dvkDevName) : QString());
        edJob = Get(report.Job, qkNo);
        edFile = report.FileText;
        if (report.Total > 0) {
            prbMax = report.Total;
            // A gauge never shows more than full.
            prbPosition = qBound(0, report.Progress, report.Total);
        } else {
            prbMax = 100;
            prbPosition = 0;
        }
        Q_EMIT SessionChanged();
        if (!report.Message.isEmpty()) {
            if (prbPosition > 0)
                AddStatus("(" + QString::number(ProgressPercent(prbPosition, prbMax)) + "%) " +
                          report.Message);
            else
                AddStatus(report.Message);
        }
    });
    SetGUI();
}

// ---- Start and stop ----

void TfraClient::DeviceProcessing(bool start) {
    guarded("DeviceProcessing", [&]() {
        if (!gDevices) return;
        if (start) {
            ClearStatus();
            const QString active = GetStr(CLI_ActiveDevice);
            for (int i = 0; i < gDevices->Count(); ++i)
                if (gDevices->GetSetting(i, dvkDevGUID) == active) gDevices->StartRemProc(i);
        } else {
            for (int i = 0; i < gDevices->Count(); ++i)
                gDevices->StopRemProc(i);
            ClearStatus();
        }
    });
    SetGUI();
}

void TfraClient::btStartClick() {
    btStartEnabled = false;
    Q_EMIT GuiChanged();
    DeviceProcessing(!running());
    btStartEnabled = true;
    Q_EMIT GuiChanged();
}

void TfraClient::SetGUI() {
    guarded("SetGUI", [&]() {
        const bool stopped = !running();
        btOptEnabled = stopped;
        btJobDelEnabled = stopped;
        btDelAllEnabled = stopped;
        btJobAddEnabled = true;
        btStartCaption = stopped ? QStringLiteral("&Start") : QStringLiteral("&Stop");
        Q_EMIT GuiChanged();
    });
}

void TfraClient::ClearStatus() {
    guarded("ClearStatus", [&]() {
        edStat = QStringLiteral("Client service stopped.");
        edAttempt.clear();
        edHost.clear();
        edJob.clear();
        edFile.clear();
        prbMax = 100;
        prbPosition = 0;
        Q_EMIT SessionChanged();
        SaveStatus(&mmDetail);
    });
}

// ---- Queue ----

bool TfraClient::btJobAddClick() {
    bool queued = false;
    guarded("JobAddClick", [&]() {
        if (!gQueue) return;
        const QString name =
            Prompt().OpenFile("Send file", "All files (*.*)|*.*", GetStr(MRL_Outbox));
        if (name.isEmpty()) return;
        TQueueItem job;
        if (!PrepareClientJob(job, name, QString(), QString(), QString())) return;
        if (!RemEnqueueDialog || !RemEnqueueDialog(job)) return;
        queueJob(job);
        queued = true;
    });
    return queued;
}

void TfraClient::btJobDelClick() {
    guarded("JobDelClick", [&]() {
        if (!gQueue || QueueSelected < 0 || QueueSelected >= lvQueue.size()) return;
        const int index = QueueSelected;
        if (!askYesNo("Are you sure you want to delete file # " + lvQueue[index].value(0) +
                      " from the queue?"))
            return;
        if (gQueue->DeleteItem(index, true)) {
            lvQueue.removeAt(index);
            QueueSelected = -1;
        } else {
            errorBox(QStringLiteral("File could not be deleted!"));
        }
        edTotJobs = QString::number(lvQueue.size());
        Q_EMIT QueueChanged();
    });
}

void TfraClient::lvQueueKeyDown(int key) {
    constexpr int VkDelete = 46;
    if (key == VkDelete && QueueSelected >= 0 && btJobDelEnabled) btJobDelClick();
}

void TfraClient::btDelAllClick() {
    guarded("DelAllClick", [&]() {
        if (!gQueue) return;
        if (!askYesNo(QStringLiteral("Are you sure you want to empty all the queue?"))) return;
        while (!lvQueue.isEmpty()) {
            const QString number = gQueue->GetSetting(0, qkNo);
            const QString file = gQueue->GetSetting(0, qkSrcFile);
            if (!gQueue->DeleteItem(0, true)) {
                errorBox("File # " + number + " could not be deleted:\r\n" + file);
                break;
            }
            lvQueue.removeFirst();
        }
        QueueSelected = -1;
        edTotJobs = QString::number(lvQueue.size());
        Q_EMIT QueueChanged();
    });
}

// ---- Log ----

void TfraClient::btLogClearClick(bool clicked) {
    if (!gLog) gLog = new TQLog;
    gLog->Clear(clicked);
    UpdateLogList();
}

void TfraClient::btLogExpClick() {
    guarded("LogExpClick", [&]() {
        if (!gLog) gLog = new TQLog;
        const int count = gLog->Count();
        if (count < 1) return;
        const QString path =
            Prompt().SaveFile("Export Log", "Text files (*.txt)|*.txt", "txt", QString());
        if (path.isEmpty()) return;
        if (QFileInfo(path).absoluteFilePath() == QFileInfo(gLog->FileName).absoluteFilePath() ||
            (QFileInfo::exists(path) && QFileInfo(path).canonicalFilePath() ==
                                            QFileInfo(gLog->FileName).canonicalFilePath())) {
            Prompt().MessageBox(QStringLiteral("Default log file cannot be overwritten!"), title(),
                                TBoxIcon::None, TBoxButtons::Ok);
            return;
        }
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            TLogRecord r;
            if (!gLog->GetEntry(i, r)) throw std::runtime_error("log record unreadable");
            const QStringList fields{QString::number(r.JobNo),
                                     QString::fromLatin1(NoYes[r.Done ? 1 : 0]),
                                     r.Result,
                                     r.FileName,
                                     r.Method,
                                     r.DestPath,
                                     LogExportTime(r.Submitted),
                                     LogExportTime(r.Processed),
                                     r.UserName,
                                     r.CommName,
                                     r.CommParam};
            bytes += (fields.join('\t') + "\r\n").toUtf8();
        }
        if (!WriteTextFile(path, bytes))
            Prompt().MessageBox(QStringLiteral("Error exporting log file!"), title(),
                                TBoxIcon::Error, TBoxButtons::Cancel);
    });
}

// ---- Menu ----

void TfraClient::Quit1Click() {
    if (gMainShell) gMainShell->CloseApplication(true);
}

void TfraClient::Alwaysontop1Click() {
    AlwaysOnTopChecked = gMainShell ? gMainShell->ApplyOnTop(true) : GetBool(MRL_OnTop);
    Q_EMIT GuiChanged();
}
