#include "consoles/server_console.h"

#include "consoles/enqueue.h"
#include "core/helpers.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "engine/devices.h"
#include "engine/link_protocol.h"
#include "jobs/queue.h"
#include "jobs/users.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace {
// "File #", "File name", "Size", "Method", "User name", "Submitted", "Destination Path".
QStringList queueRow(const TQueueItem& job, const TSettings&) {
    return {Get(job, qkNo),   Get(job, qkSrcFile), Get(job, qkSize),    Get(job, qkMethod),
            Get(job, qkUser), Get(job, qkDate),    Get(job, qkDestPath)};
}

// "File #", "Done", "Result", "File name", "Method", "Destination Path", "Submitted",
// "Processed", "User Name".
QStringList logRow(const TLogRecord& record) {
    return LogFields(record, LogTimeText);
}

// The shared fields, each followed by a tab (the last one too).
QString logExportLine(const TLogRecord& record) {
    return LogFields(record, LogExportTime).join('\t') + '\t';
}

const TConsoleRole ServerRole{.role = RoleServer,
                              .className = "TfraServer",
                              .captionSuffix = " - SERVER",
                              .autoDelivery = SVR_AutoDelivery,
                              .queueRow = queueRow,
                              .logRow = logRow,
                              .logExportLine = logExportLine};

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

// ---- TfraServer ----

TfraServer::TfraServer(const TConsoleServices& services, QObject* parent)
    : TConsoleBase(services, ServerRole, parent) {
    services.engines.hostConsole = this;
}

TfraServer::~TfraServer() {
    if (services().engines.hostConsole == this) services().engines.hostConsole = nullptr;
}

TUsersList& TfraServer::users() {
    return services().users();
}

void TfraServer::loadLists() {
    users();
    UpdateQueueList();
    UpdateLogList();
}

// ---- Command line ----

void TfraServer::ProcessHostParams() {
    TPendingParams& params = services().params;
    guarded("ProcessHostParams", [&]() {
        processJobPart();
        const QStringList entries = params.entries;
        for (const QString& entry : entries) {
            if (processSwitch(entry)) continue;
            if (entry.startsWith("/INBOX:"))
                redirectUsers(ukUseGlobalInbox, ukInbox, MRL_Inbox, "Inbox redirected for ");
            else if (entry.startsWith("/OUTBOX:"))
                redirectUsers(ukUseGlobalOutbox, ukOutbox, MRL_Outbox, "Outbox redirected for ");
            else if (entry.startsWith("/USERS:"))
                importUsers(entry);
        }
        params.entries.clear();
        users().Save();
    });
    // Whatever failed on the way, the list is not read a second time.
    params.entries.clear();
}

void TfraServer::processJobPart() {
    QStringList& entries = services().params.entries;
    if (entries.size() < 2 || IsSwitch(entries[0])) return;
    guarded("ProcessHostParams_1", [&]() {
        TQueueItem job;
        const bool prepared = PrepareHostJob(services(), job, entries[0], entries[1], QString());
        if (prepared && !Get(job, qkUser).isEmpty()) {
            if (entries.size() >= 3 && !IsSwitch(entries[2]))
                Put(job, qkResultsFile, PathCase(entries[2]).trimmed());
            queueCommandLineJob(job);
        } else {
            addStatus("Queuing up failed. Error in command line.");
        }
    });
    entries.remove(0, qMin<qsizetype>(2, entries.size()));
}

void TfraServer::redirectUsers(TUserKey useGlobal, TUserKey folder, TSettingKey setting,
                               const QString& text) {
    TUsersList& list = users();
    int changed = 0;
    for (int i = 0; i < list.Count(); ++i) {
        TMRLUser* user = list.GetItem(i);
        if (!user || !(*user)[useGlobal].BoolValue) continue;
        (*user)[folder].SetStr(services().settings.GetStr(setting));
        ++changed;
    }
    if (changed > 0) addStatus(text + QString::number(changed) + " users.");
}

void TfraServer::importUsers(const QString& entry) {
    guarded("ProcessHostParams_2", [&]() {
        const QString name = PathCase(entry.mid(7)).trimmed();
        if (name.isEmpty() || !QFileInfo(name).isFile()) {
            addStatus("Error - specified file not found: " + name);
            return;
        }
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error((name + ": " + file.errorString()).toStdString());
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        file.close();

        TUsersList& list = users();
        bool exclusive = false;
        for (const QString& pending : services().params.entries)
            if (pending.compare("/EXCLUSIVE", Qt::CaseInsensitive) == 0) exclusive = true;
        // The accounts an exclusive import replaces: their files go too, so a removed account
        // cannot log on again after the next start.
        QList<TMRLUser> before;
        if (exclusive) {
            for (int i = 0; i < list.Count(); ++i)
                before << *list.GetItem(i);
            list.Clear();
        }

        const QString globalInbox = services().settings.GetStr(MRL_Inbox);
        const QString globalOutbox = services().settings.GetStr(MRL_Outbox);
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
            // A control character (only a quoted field can hold one) cannot be stored in the
            // account file as it is: the account would come back under another name or folder
            // at the next start.
            if (HasControlChar(user[ukUser].StrValue) || HasControlChar(inbox) ||
                HasControlChar(outbox)) {
                QString shown = user[ukUser].StrValue;
                for (QChar& c : shown)
                    if (IsControlChar(c)) c = '?';
                addStatus("Error - user cannot be imported: " + shown);
                continue;
            }
            user[ukUseGlobalInbox].BoolValue = inbox == globalInbox;
            user[ukUseGlobalOutbox].BoolValue = outbox == globalOutbox;
            int index = list.SearchItem(user[ukUser].StrValue, QString());
            if (index < 0) {
                list.AddItem();
                index = list.Count() - 1;
            }
            list.SetItem(index, &user);
            addStatus("User imported: " + user[ukUser].StrValue);
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

// ---- Queue ----

bool TfraServer::prepareAddedJob(TQueueItem& job, const QString& file) {
    queue().EmptyItem(job);
    Put(job, qkSrcFile, PathCase(file));
    const qint64 size = ReadableFileSize(file);
    if (size < 0) {
        errorBox(QStringLiteral("Cannot open specified file."));
        return false;
    }
    PutJobSize(job, size);
    return true;
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
        resultsLog().LogEntry(record);
        ShowLogEntry(record);

        // Only a job that came from the queue (it has a number) is looked up there.
        const QString number = Get(job, qkNo).trimmed();
        if (!(discard || done) || number.isEmpty()) return;
        const int index = queueIndexOf(number);
        if (index < 0) return;

        if (done && Get(job, qkAutoDel) == QLatin1String(NoYes[1])) {
            const int user = users().SearchItem(Get(job, qkUser), QString());
            if (user < 0)
                addStatus("!TfraServer.LogFileEvent: Could not locate user's outbox. Sent file "
                          "cannot be deleted.");
            else
                deleteSentFile(users().GetSetting(user, ukOutbox), Get(job, qkSrcFile));
        }
        // Off the main thread: with every port's files being synced, a delete can wait a good
        // part of a second for the file system, and every port would wait with it.
        queue().DeleteItem(index, true, true);
        UpdateQueueList();
    });
}

void TfraServer::OnDeviceStatus(THstStatusReport& report) {
    guarded("OnDeviceStatus", [&]() {
        int row = -1;
        if (report.Device) {
            for (int i = 0; i < mOperationRows.size(); ++i)
                if (mOperationRows[i].Device == report.Device) {
                    row = i;
                    break;
                }
        }
        if (row >= 0) {
            TOperRow& line = mOperationRows[row];
            line.Caption = report.Device->Get(dvkDevName);
            line.User = Get(report.Job, qkUser);
            QString operation = report.Operation;
            if (report.Total > 0)
                operation +=
                    ' ' + QString::number(ProgressPercent(report.Progress, report.Total)) + '%';
            line.Operation = operation;
            line.File = report.FileText;
            Q_EMIT operationsChanged();
            if (!report.Message.isEmpty())
                addStatus("[#" + QString::number(row + 1) + "]: " + report.Message);
        }
    });
    SetGUI();
}

void TfraServer::ShowNotification() {
    guarded("ShowNotification", [&]() {
        addStatus(QStringLiteral("New file(s) have arrived!"));
        Q_EMIT notificationRequested();
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
                mOperationRows << row;
                Q_EMIT operationsChanged();
                devices()->StartHostProc(i);
            }
        } else {
            for (int i = 0; i < devices()->Count(); ++i)
                devices()->StopHostProc(i);
            addStatus(QStringLiteral("Host services stopped."));
            ClearStatus();
        }
    });
    SetGUI();
}

void TfraServer::btStartClick() {
    guarded("StartClick", [&]() { TConsoleBase::btStartClick(); });
}

void TfraServer::ClearStatus() {
    guarded("ClearStatus", [&]() {
        mOperationRows.clear();
        Q_EMIT operationsChanged();
        services().status.Save(SessionText());
    });
}
