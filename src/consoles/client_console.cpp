#include "consoles/client_console.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "core/settings.h"
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


QString title() {
    return QString::fromLatin1(ApplicationTitle);
}


QString timeText(double value) {
    const QDateTime time = DoubleToDateTime(value);
    return time.isValid() ? DateTimeToStr(time) : QString();
}

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

TfraClient::TfraClient(const TConsoleServices& services, QObject* parent)
    : QObject(parent), mServices(services), mQueue(&services.queue), mLog(&services.log) {
    mServices.status.SetSessionText(1, &mmDetail);
    mServices.engines.remConsole = this;
}

TfraClient::~TfraClient() {
    if (mServices.engines.remConsole == this) mServices.engines.remConsole = nullptr;
    if (mServices.status.SessionText(1) == &mmDetail) mServices.status.SetSessionText(1, nullptr);
}

void TfraClient::report(const char* operation, const QString& text) {
    mServices.status.Add(QStringLiteral("!") + ClassName + "." + operation + ": " + text);
}

void TfraClient::errorBox(const QString& text) {
    mServices.prompt.MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool TfraClient::askYesNo(const QString& text) {
    return mServices.prompt.MessageBox(text, title(), TBoxIcon::Warning, TBoxButtons::YesNo) ==
           TBoxResult::Yes;
}

TDevicesList* TfraClient::devices() const {
    return mServices.devices();
}

bool TfraClient::running() const {
    return devices() && devices()->EngineCount() > 0;
}

void TfraClient::Initialize() {
    guarded("Initialize", [&]() {
        Caption = title() + ' ' + QString::fromLatin1(ProgramVersion) + " - CLIENT";
        TrayHint = Caption + ' ';
        IconIndex = 1;
        if (mServices.host) mServices.host->SetCaption(Caption);
        AlwaysOnTopChecked = mServices.host ? mServices.host->ApplyOnTop(false) : mServices.settings.GetBool(MRL_OnTop);
        UpdateLogList();
        UpdateQueueList();
        mServices.status.Add(QStringLiteral("Application started."));
        if (!mServices.params.entries.isEmpty()) ProcessClientParams();
        if (mServices.settings.GetBool(CLI_AutoDelivery) && !mServices.params.stopRequested) btStartClick();
        SetGUI();
    });
}

// ---- Command line ----

void TfraClient::ProcessClientParams() {
    guarded("ProcessClientParams", [&]() {
        processJobPart();
        const QStringList entries = mServices.params.entries;
        for (const QString& entry : entries) {
            if (entry == "/START") {
                DeviceProcessing(true);
            } else if (entry == "/STOP") {
                mServices.params.stopRequested = true;
                DeviceProcessing(false);
            } else if (entry == "/CLEARLOG") {
                btLogClearClick(false);
            }
        }
    });
    mServices.params.entries.clear();
}

void TfraClient::processJobPart() {
    if (mServices.params.entries.size() < 4 || IsSwitch(mServices.params.entries[0])) return;
    guarded("ProcessClientParams_1", [&]() {
        TQueueItem job;
        if (mQueue) mQueue->EmptyItem(job);
        const bool prepared = mQueue && PrepareClientJob(job, mServices.params.entries[0], mServices.params.entries[1],
                                                         mServices.params.entries[2], mServices.params.entries[3]);
        const bool hasResultsFile = mServices.params.entries.size() >= 5 && !IsSwitch(mServices.params.entries[4]);
        const QString resultsFile =
            hasResultsFile ? PathCase(mServices.params.entries[4]).trimmed() : QString();
        if (prepared && !Get(job, qkUser).isEmpty() && !Get(job, qkPassw).isEmpty()) {
            if (hasResultsFile) Put(job, qkResultsFile, resultsFile);
            if (mServices.params.StartsWith("/AUTODEL")) Put(job, qkAutoDel, QString::fromLatin1(NoYes[1]));
            if (mQueue->SearchItem(job) < 0) {
                queueJob(job);
                mServices.status.Add("File queued: " + Get(job, qkSrcFile));
            } else {
                mServices.status.Add("File already in queue: " + Get(job, qkSrcFile));
            }
        } else {
            mServices.status.Add(QStringLiteral("Queuing up failed. Error in command line."));
            // The calling program always finds an answer when it named a results file.
            if (hasResultsFile && !resultsFile.isEmpty()) {
                mServices.status.Add("Creating results file: " + resultsFile);
                writeResultsFile(resultsFile, CommandLineErrorLine(job));
            }
        }
    });
    mServices.params.entries.remove(0, qMin<qsizetype>(4, mServices.params.entries.size()));
}

void TfraClient::writeResultsFile(const QString& path, const QString& line) {
    QString error;
    if (!WriteResultsFile(path, line, &error)) mServices.status.Add(path + ": " + error);
}

void TfraClient::queueJob(const TQueueItem& job) {
    mQueue->AddItem();
    const int last = mQueue->Count() - 1;
    mQueue->SetItem(last, &job);
    mQueue->ItemIndex = last;
    UpdateQueueList();
    QueueSelected = int(lvQueue.size()) - 1;
    Q_EMIT QueueChanged();
    mQueue->Save();
}

bool TfraClient::PrepareClientJob(TQueueItem& job, const QString& file, const QString& user,
                                  const QString& password, const QString& server) {
    bool usable = false;
    guarded("PrepareClientJob", [&]() {
        if (!mQueue) return;
        mQueue->EmptyItem(job);
        const QString path = PathCase(file).trimmed();
        Put(job, qkUser, user.toUpper().trimmed());
        Put(job, qkPassw, ScramblePassword(password));

        const QString outbox = mServices.settings.GetStr(MRL_Outbox);
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

        const int device = defaultDevice(devices(), mServices.settings.GetStr(CLI_ActiveDevice));
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
        const int count = mQueue ? mQueue->Count() : 0;
        const QString outbox = mServices.settings.GetStr(MRL_Outbox);
        for (int i = 0; i < count; ++i) {
            const TQueueItem* job = mQueue->GetItem(i);
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
        const int count = mLog->Count();
        for (int i = 0; i < count; ++i) {
            TLogRecord record;
            if (mLog->GetEntry(i, record)) ShowLogEntry(record);
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
            mServices.status.Add(QStringLiteral("UpdateQueueList: Logging skipped - missing filename."));
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
        mLog->LogEntry(record);
        ShowLogEntry(record);

        // Neither ended nor dropped: the job stays queued for another attempt.
        if (!discard && !done) return;
        if (!mQueue) return;
        int index = -1;
        for (int i = 0; i < mQueue->Count(); ++i)
            if (mQueue->GetSetting(i, qkNo).trimmed() == number) {
                index = i;
                break;
            }
        if (index < 0) return;

        // Only a file that was delivered is removed from the Outbox, and only when asked for; a
        // dropped job keeps its file, and a fetching job names a file of the server, not ours.
        if (done && Get(job, qkAutoDel) == QLatin1String(NoYes[1]) &&
            Get(job, qkMethod) == QLatin1String("SEND")) {
            const QString outbox = mServices.settings.GetStr(MRL_Outbox);
            bool inside = false;
            const QString path = LocalPath(outbox, Get(job, qkSrcFile), &inside);
            mServices.status.Add("Deleting file: " + WithTrailingSlash(outbox) +
                      LocalSeparators(Get(job, qkSrcFile)));
            if (inside) QFile::remove(path);
        }
        if (!record.ResultsFile.isEmpty()) {
            mServices.status.Add("Creating results file: " + record.ResultsFile);
            QString error;
            if (!WriteResultsFile(record.ResultsFile, ResultsFileLine(record), &error))
                mServices.status.Add(error);
        }
        mQueue->DeleteItem(index, true);
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
                mServices.status.Add("(" + QString::number(ProgressPercent(prbPosition, prbMax)) + "%) " +
                          report.Message);
            else
                mServices.status.Add(report.Message);
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
            const QString active = mServices.settings.GetStr(CLI_ActiveDevice);
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
        mServices.status.Save(&mmDetail);
    });
}

// ---- Queue ----

bool TfraClient::btJobAddClick() {
    bool queued = false;
    guarded("JobAddClick", [&]() {
        if (!mQueue) return;
        const QString name =
            mServices.prompt.OpenFile("Send file", "All files (*.*)|*.*", mServices.settings.GetStr(MRL_Outbox));
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
        if (!mQueue || QueueSelected < 0 || QueueSelected >= lvQueue.size()) return;
        const int index = QueueSelected;
        if (!askYesNo("Are you sure you want to delete file # " + lvQueue[index].value(0) +
                      " from the queue?"))
            return;
        if (mQueue->DeleteItem(index, true)) {
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
        if (!mQueue) return;
        if (!askYesNo(QStringLiteral("Are you sure you want to empty all the queue?"))) return;
        while (!lvQueue.isEmpty()) {
            const QString number = mQueue->GetSetting(0, qkNo);
            const QString file = mQueue->GetSetting(0, qkSrcFile);
            if (!mQueue->DeleteItem(0, true)) {
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
    mLog->Clear(clicked);
    UpdateLogList();
}

void TfraClient::btLogExpClick() {
    guarded("LogExpClick", [&]() {
        const int count = mLog->Count();
        if (count < 1) return;
        const QString path =
            mServices.prompt.SaveFile("Export Log", "Text files (*.txt)|*.txt", "txt", QString());
        if (path.isEmpty()) return;
        if (QFileInfo(path).absoluteFilePath() == QFileInfo(mLog->FileName).absoluteFilePath() ||
            (QFileInfo::exists(path) && QFileInfo(path).canonicalFilePath() ==
                                            QFileInfo(mLog->FileName).canonicalFilePath())) {
            mServices.prompt.MessageBox(QStringLiteral("Default log file cannot be overwritten!"), title(),
                                TBoxIcon::None, TBoxButtons::Ok);
            return;
        }
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            TLogRecord r;
            if (!mLog->GetEntry(i, r)) throw std::runtime_error("log record unreadable");
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
            mServices.prompt.MessageBox(QStringLiteral("Error exporting log file!"), title(),
                                TBoxIcon::Error, TBoxButtons::Cancel);
    });
}

// ---- Menu ----

void TfraClient::Quit1Click() {
    if (mServices.host) mServices.host->CloseApplication(true);
}

void TfraClient::Alwaysontop1Click() {
    AlwaysOnTopChecked = mServices.host ? mServices.host->ApplyOnTop(true) : mServices.settings.GetBool(MRL_OnTop);
    Q_EMIT GuiChanged();
}
