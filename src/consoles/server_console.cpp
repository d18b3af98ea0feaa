#include "consoles/server_console.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "consoles/enqueue.h"
#include "jobs/users.h"
#include "engine/devices.h"
#include "engine/link_protocol.h"
#include "jobs/queue.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace {
const char* const ClassName = "TfraServer";


QString title() {
    return QString::fromLatin1(ApplicationTitle);
}


QString timeText(double value) {
    const QDateTime time = DoubleToDateTime(value);
    return time.isValid() ? DateTimeToStr(time) : QString();
}

// qkNo as the log's job number: 0 when empty; anything else must be a number.
int32_t jobNumber(const QString& text) {
    if (text.trimmed().isEmpty()) return 0;
    int number = 0;
    if (!ParseInteger(text.trimmed(), &number))
        throw std::runtime_error(("'" + text + "' is not a valid integer value").toStdString());
    return number;
}

// qkDate as a date-time number; 0 when empty or unreadable (the record is still written).
double submittedTime(const QString& text) {
    if (text.trimmed().isEmpty()) return 0;
    const QDateTime time = StrToDateTime(text);
    return time.isValid() ? DateTimeToDouble(time) : 0;
}
} // namespace

QString LogExportTime(double value) {
    if (!std::isfinite(value)) value = 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14E", value);
    QString text = QString::fromLatin1(buffer);
    // printf writes at least two exponent digits; the export always has four.
    const qsizetype e = text.indexOf('E');
    if (e < 0) return text;
    const QString mantissa = text.left(e);
    const QChar sign = text.at(e + 1);
    const QString digits = text.mid(e + 2);
    return (mantissa.startsWith('-') ? mantissa : ' ' + mantissa) + 'E' + sign +
           digits.rightJustified(4, '0');
}

int ProgressPercent(qint64 progress, qint64 total) {
    if (total <= 0) return 0;
    progress = qBound<qint64>(0, progress, total);
    const qint64 scaled = progress * 100;
    qint64 quotient = scaled / total;
    const qint64 twiceRest = 2 * (scaled % total);
    if (twiceRest > total || (twiceRest == total && quotient % 2 == 1)) ++quotient;
    return int(quotient);
}

bool WriteTextFile(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    // A target that is not writable in place (a link, a special file) is still replaced as a whole.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

// ---- TfraServer ----

TfraServer::TfraServer(const TConsoleServices& services, QObject* parent)
    : QObject(parent), mServices(services), mQueue(&services.queue), mLog(&services.log) {
    mServices.status.SetSessionText(2, &mmDetail);
    mServices.engines.hostConsole = this;
}

TfraServer::~TfraServer() {
    if (mServices.engines.hostConsole == this) mServices.engines.hostConsole = nullptr;
    if (mServices.status.SessionText(2) == &mmDetail) mServices.status.SetSessionText(2, nullptr);
}

TUsersList& TfraServer::users() {
    return mServices.users();
}

void TfraServer::report(const char* operation, const QString& text) {
    mServices.status.Add(QStringLiteral("!") + ClassName + "." + operation + ": " + text);
}

void TfraServer::errorBox(const QString& text) {
    mServices.prompt.MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool TfraServer::askYesNo(const QString& text) {
    return mServices.prompt.MessageBox(text, title(), TBoxIcon::Warning, TBoxButtons::YesNo) ==
           TBoxResult::Yes;
}

TDevicesList* TfraServer::devices() const {
    return mServices.devices();
}

bool TfraServer::running() const {
    return devices() && devices()->EngineCount() > 0;
}

void TfraServer::Initialize() {
    guarded("Initialize", [&]() {
        Caption = title() + ' ' + QString::fromLatin1(ProgramVersion) + " - SERVER";
        TrayHint = Caption + ' ';
        IconIndex = 2;
        if (mServices.host) mServices.host->SetCaption(Caption);
        AlwaysOnTopChecked = mServices.host ? mServices.host->ApplyOnTop(false) : mServices.settings.GetBool(MRL_OnTop);
        users();
        UpdateQueueList();
        UpdateLogList();
        if (!mServices.params.entries.isEmpty()) ProcessHostParams();
        if (mServices.settings.GetBool(SVR_AutoDelivery) && !mServices.params.stopRequested) btStartClick();
        SetGUI();
    });
}

// ---- Command line ----

void TfraServer::ProcessHostParams() {
    guarded("ProcessHostParams", [&]() {
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
            } else if (entry.startsWith("/INBOX:")) {
                redirectUsers(ukUseGlobalInbox, ukInbox, MRL_Inbox, "Inbox redirected for ");
            } else if (entry.startsWith("/OUTBOX:")) {
                redirectUsers(ukUseGlobalOutbox, ukOutbox, MRL_Outbox, "Outbox redirected for ");
            } else if (entry.startsWith("/USERS:")) {
                importUsers(entry);
            }
        }
        mServices.params.entries.clear();
        users().Save();
    });
    // Whatever failed on the way, the list is not read a second time.
    mServices.params.entries.clear();
}

void TfraServer::processJobPart() {
    if (mServices.params.entries.size() < 2 || IsSwitch(mServices.params.entries[0])) return;
    guarded("ProcessHostParams_1", [&]() {
        TQueueItem job;
        const bool prepared =
            mQueue && PrepareHostJob(mServices, job, mServices.params.entries[0], mServices.params.entries[1], QString());
        if (prepared && !Get(job, qkUser).isEmpty()) {
            if (mServices.params.entries.size() >= 3 && !IsSwitch(mServices.params.entries[2]))
                Put(job, qkResultsFile, PathCase(mServices.params.entries[2]).trimmed());
            if (mServices.params.StartsWith("/AUTODEL")) Put(job, qkAutoDel, QString::fromLatin1(NoYes[1]));
            if (mQueue->SearchItem(job) < 0) {
                queueJob(job);
                mServices.status.Add("File queued: " + Get(job, qkSrcFile));
            } else {
                mServices.status.Add("File already in queue: " + Get(job, qkSrcFile));
            }
        } else {
            mServices.status.Add("Queuing up failed. Error in command line.");
        }
    });
    mServices.params.entries.remove(0, qMin<qsizetype>(2, mServices.params.entries.size()));
}

void TfraServer::queueJob(const TQueueItem& job) {
    mQueue->AddItem();
    const int last = mQueue->Count() - 1;
    mQueue->SetItem(last, &job);
    mQueue->ItemIndex = last;
    UpdateQueueList();
    QueueSelected = int(lvQueue.size()) - 1;
    Q_EMIT QueueChanged();
    mQueue->Save();
}

void TfraServer::redirectUsers(TUserKey useGlobal, TUserKey folder, TSettingKey setting,
                               const QString& text) {
    TUsersList& list = users();
    int changed = 0;
    for (int i = 0; i < list.Count(); ++i) {
        TMRLUser* user = list.GetItem(i);
        if (!user || !(*user)[useGlobal].BoolValue) continue;
        (*user)[folder].SetStr(mServices.settings.GetStr(setting));
        ++changed;
    }
    if (changed > 0) mServices.status.Add(text + QString::number(changed) + " users.");
}

void TfraServer::importUsers(const QString& entry) {
    guarded("ProcessHostParams_2", [&]() {
        const QString name = PathCase(entry.mid(7)).trimmed();
        if (name.isEmpty() || !QFileInfo(name).isFile()) {
            mServices.status.Add("Error - specified file not found: " + name);
            return;
        }
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error((name + ": " + file.errorString()).toStdString());
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        file.close();

        TUsersList& list = users();
        bool exclusive = false;
        for (const QString& pending : mServices.params.entries)
            if (pending.compare("/EXCLUSIVE", Qt::CaseInsensitive) == 0) exclusive = true;
        // The accounts an exclusive import replaces: their files go too, so a removed account
        // cannot log on again after the next start.
        QList<TMRLUser> before;
        if (exclusive) {
            for (int i = 0; i < list.Count(); ++i)
                before << *list.GetItem(i);
            list.Clear();
        }

        const QString globalInbox = mServices.settings.GetStr(MRL_Inbox);
        const QString globalOutbox = mServices.settings.GetStr(MRL_Outbox);
        for (const QString& line : lines) {
            const QStringList fields = SplitCommaText(line);
            if (fields.size() < 2) continue;
            TMRLUser user;
            list.EmptyItem(user);
            user[ukUser].SetStr(fields[0].toUpper().trimmed());
            // A blank name can never log on and is never saved.
            if (user[ukUser].StrValue.isEmpty()) continue;
            user[ukPassw].SetStr(ScramblePassword(fields[1]));
            QString inbox = PathCase(fields.value(2)).trimmed();
            QString outbox = PathCase(fields.value(3)).trimmed();
            if (inbox.isEmpty()) inbox = globalInbox;
            if (outbox.isEmpty()) outbox = globalOutbox;
            user[ukInbox].SetStr(inbox);
            user[ukOutbox].SetStr(outbox);
            user[ukUseGlobalInbox].BoolValue = inbox == globalInbox;
            user[ukUseGlobalOutbox].BoolValue = outbox == globalOutbox;
            int index = list.SearchItem(user[ukUser].StrValue, QString());
            if (index < 0) {
                list.AddItem();
                index = list.Count() - 1;
            }
            list.SetItem(index, &user);
            mServices.status.Add("User imported: " + user[ukUser].StrValue);
        }

        for (const TMRLUser& old : before) {
            const QString oldName = old[ukUser].StrValue;
            if (list.SearchItem(oldName, QString()) >= 0) continue;
            const QString path =
                old.FileName.isEmpty() ? users().UserFilePath(oldName) : old.FileName;
            if (!path.isEmpty() && QFileInfo::exists(path) && !QFile::remove(path))
                report("ProcessHostParams_2", path + ": could not be deleted");
        }
    });
}

// ---- Lists ----

void TfraServer::UpdateQueueList() {
    guarded("UpdateQueueList", [&]() {
        const int selected = QueueSelected;
        lvQueue.clear();
        const int count = mQueue ? mQueue->Count() : 0;
        for (int i = 0; i < count; ++i) {
            const TQueueItem* job = mQueue->GetItem(i);
            if (!job) continue;
            lvQueue << QStringList{Get(*job, qkNo),      Get(*job, qkSrcFile), Get(*job, qkSize),
                                   Get(*job, qkMethod),  Get(*job, qkUser),    Get(*job, qkDate),
                                   Get(*job, qkDestPath)};
        }
        QueueSelected = selected < lvQueue.size() ? selected : -1;
        edTotJobs = QString::number(lvQueue.size());
        Q_EMIT QueueChanged();
    });
}

void TfraServer::UpdateLogList() {
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

void TfraServer::ShowLogEntry(const TLogRecord& record) {
    guarded("ShowLogEntry", [&]() {
        lsvLog << QStringList{QString::number(record.JobNo),
                              QString::fromLatin1(NoYes[record.Done ? 1 : 0]),
                              record.Result,
                              record.FileName,
                              record.Method,
                              record.DestPath,
                              timeText(record.Submitted),
                              timeText(record.Processed),
                              record.UserName};
        Q_EMIT LogChanged();
    });
}

// ---- Engine reports ----

void TfraServer::LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                              bool done) {
    guarded("LogFileEvent", [&]() {
        TLogRecord record;
        record.JobNo = jobNumber(Get(job, qkNo));
        record.Done = done;
        record.Result = result;
        record.FileName = Get(job, qkSrcFile);
        record.Method = Get(job, qkMethod);
        record.DestPath = Get(job, qkDestPath);
        record.Submitted = submittedTime(Get(job, qkDate));
        record.Processed = DateTimeToDouble(QDateTime::currentDateTime());
        record.UserName = Get(job, qkUser);
        mLog->LogEntry(record);
        ShowLogEntry(record);

        // Only a job that came from the queue (it has a number) is looked up there.
        const QString number = Get(job, qkNo).trimmed();
        if (!(discard || done) || number.isEmpty() || !mQueue) return;
        int index = -1;
        for (int i = 0; i < mQueue->Count(); ++i)
            if (mQueue->GetSetting(i, qkNo).trimmed() == number) {
                index = i;
                break;
            }
        if (index < 0) return;

        if (done && Get(job, qkAutoDel) == QLatin1String(NoYes[1])) {
            const int user = users().SearchItem(Get(job, qkUser), QString());
            if (user < 0) {
                mServices.status.Add("!TfraServer.LogFileEvent: Could not locate user's outbox. Sent file "
                          "cannot be deleted.");
            } else {
                const QString outbox = users().GetSetting(user, ukOutbox);
                bool inside = false;
                const QString path = LocalPath(outbox, Get(job, qkSrcFile), &inside);
                mServices.status.Add("Deleting file: " + WithTrailingSlash(outbox) +
                          LocalSeparators(Get(job, qkSrcFile)));
                if (inside) QFile::remove(path);
            }
        }
        mQueue->DeleteItem(index, true);
        UpdateQueueList();
    });
}

void TfraServer::OnDeviceStatus(THstStatusReport& report) {
    guarded("OnDeviceStatus", [&]() {
        int row = -1;
        if (report.Device) {
            for (int i = 0; i < lvOper.size(); ++i)
                if (lvOper[i].Device == report.Device) {
                    row = i;
                    break;
                }
        }
        if (row >= 0) {
            TOperRow& line = lvOper[row];
            line.Caption = report.Device->Get(dvkDevName);
            line.User = Get(report.Job, qkUser);
            QString operation = report.Operation;
            if (report.Total > 0)
                operation +=
                    ' ' + QString::number(ProgressPercent(report.Progress, report.Total)) + '%';
            line.Operation = operation;
            line.File = report.FileText;
            Q_EMIT OperChanged();
            if (!report.Message.isEmpty())
                mServices.status.Add("[#" + QString::number(row + 1) + "]: " + report.Message);
        }
    });
    SetGUI();
}

void TfraServer::ShowNotification() {
    guarded("ShowNotification", [&]() {
        mServices.status.Add(QStringLiteral("New file(s) have arrived!"));
        Q_EMIT NotificationRequested();
    });
}

// ---- Start and stop ----

void TfraServer::DeviceProcessing(bool start) {
    guarded("DeviceProcessing", [&]() {
        if (!devices()) return;
        if (start) {
            ClearStatus();
            for (int i = 0; i < devices()->Count(); ++i) {
                if (devices()->GetSetting(i, dvkDevHostActive) != QLatin1String(NoYes[1])) continue;
                // The row exists before the engine starts, so its first report finds it.
                TOperRow row;
                row.Device = devices()->GetDevice(i);
                row.Caption = devices()->GetSetting(i, dvkDevName);
                lvOper << row;
                Q_EMIT OperChanged();
                devices()->StartHostProc(i);
            }
        } else {
            for (int i = 0; i < devices()->Count(); ++i)
                devices()->StopHostProc(i);
            mServices.status.Add(QStringLiteral("Host services stopped."));
            ClearStatus();
        }
    });
    SetGUI();
}

void TfraServer::btStartClick() {
    guarded("StartClick", [&]() {
        btStartEnabled = false;
        Q_EMIT GuiChanged();
        DeviceProcessing(!running());
        btStartEnabled = true;
        Q_EMIT GuiChanged();
    });
}

void TfraServer::SetGUI() {
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

void TfraServer::ClearStatus() {
    guarded("ClearStatus", [&]() {
        lvOper.clear();
        Q_EMIT OperChanged();
        mServices.status.Save(&mmDetail);
    });
}

// ---- Queue ----

bool TfraServer::btJobAddClick() {
    bool queued = false;
    guarded("JobAddClick", [&]() {
        if (!mQueue) return;
        const QString name =
            mServices.prompt.OpenFile("Send file", "All files (*.*)|*.*", mServices.settings.GetStr(MRL_Outbox));
        if (name.isEmpty()) return;
        TQueueItem job;
        mQueue->EmptyItem(job);
        Put(job, qkSrcFile, PathCase(name));
        const qint64 size = ReadableFileSize(name);
        if (size < 0) {
            errorBox(QStringLiteral("Cannot open specified file."));
            return;
        }
        Put(job, qkSize, QString::number(size));
        if (!HostEnqueueDialog || !HostEnqueueDialog(job)) return;
        queueJob(job);
        queued = true;
    });
    return queued;
}

void TfraServer::btJobDelClick() {
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

void TfraServer::lvQueueKeyDown(int key) {
    constexpr int VkDelete = 46;
    if (key == VkDelete && QueueSelected >= 0 && btJobDelEnabled) btJobDelClick();
}

void TfraServer::btDelAllClick() {
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

void TfraServer::btLogClearClick(bool clicked) {
    mLog->Clear(clicked);
    UpdateLogList();
}

void TfraServer::btLogExpClick() {
    guarded("LogExpClick", [&]() {
        const int count = mLog->Count();
        if (count < 1) return;
        const QString path =
            mServices.prompt.SaveFile("Export Log", "Text files (*.txt)|*.txt", "txt", QString());
        if (path.isEmpty()) return;
        // The same file under another spelling ("a//b", "./x") is the same file.
        if (QFileInfo(path).absoluteFilePath() == QFileInfo(mLog->FileName).absoluteFilePath() ||
            (QFileInfo::exists(path) && QFileInfo(path).canonicalFilePath() ==
                                            QFileInfo(mLog->FileName).canonicalFilePath())) {
            mServices.prompt.MessageBox(QStringLiteral("Default log file cannot be overwritten!"), title(),
                                TBoxIcon::None, TBoxButtons::Ok);
            return;
        }
        QByteArray bytes;
        const QChar tab('\t');
        for (int i = 0; i < count; ++i) {
            TLogRecord r;
            if (!mLog->GetEntry(i, r)) throw std::runtime_error("log record unreadable");
            QString line;
            for (const QString& field :
                 {QString::number(r.JobNo), QString::fromLatin1(NoYes[r.Done ? 1 : 0]), r.Result,
                  r.FileName, r.Method, r.DestPath, LogExportTime(r.Submitted),
                  LogExportTime(r.Processed), r.UserName})
                line += field + tab;
            bytes += (line + "\r\n").toUtf8();
        }
        QString error;
        if (!WriteTextFile(path, bytes, &error))
            mServices.prompt.MessageBox(QStringLiteral("Error exporting log file!"), title(),
                                TBoxIcon::Error, TBoxButtons::Cancel);
    });
}

// ---- Menu ----

void TfraServer::Quit1Click() {
    if (mServices.host) mServices.host->CloseApplication(true);
}

void TfraServer::Alwaysontop1Click() {
    AlwaysOnTopChecked = mServices.host ? mServices.host->ApplyOnTop(true) : mServices.settings.GetBool(MRL_OnTop);
    Q_EMIT GuiChanged();
}
