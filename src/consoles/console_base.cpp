#include "consoles/console_base.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "engine/devices.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {
QString title() {
    return QString::fromLatin1(ApplicationTitle);
}
} // namespace

// ---- Shared texts and files ----

QString LogTimeText(double value) {
    const QDateTime time = DoubleToDateTime(value);
    return time.isValid() ? DateTimeToStr(time) : QString();
}

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

QStringList LogFields(const TLogRecord& r, QString (*time)(double)) {
    return {QString::number(r.JobNo),
            QString::fromLatin1(NoYes[r.Done ? 1 : 0]),
            r.Result,
            r.FileName,
            r.Method,
            r.DestPath,
            time(r.Submitted),
            time(r.Processed),
            r.UserName};
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

// ---- TConsoleBase ----

TConsoleBase::TConsoleBase(const TConsoleServices& services, const TConsoleRole& role,
                           QObject* parent)
    : QObject(parent), mServices(services), mRole(role), mIconRole(role.role),
      mLogRows(
          services.log, role.logRow,
          [this](const char* operation, const QString& text) { report(operation, text); },
          [this]() { logReadFailed(); }) {
    mServices.status.SetSessionText(mRole.role, &mSessionText);
}

TConsoleBase::~TConsoleBase() {
    if (mServices.status.SessionText(mRole.role) == &mSessionText)
        mServices.status.SetSessionText(mRole.role, nullptr);
}

void TConsoleBase::report(const char* operation, const QString& text) {
    mServices.status.Add(QStringLiteral("!") + mRole.className + "." + operation + ": " + text);
}

void TConsoleBase::addStatus(const QString& line) {
    mServices.status.Add(line);
}

void TConsoleBase::errorBox(const QString& text) {
    mServices.prompt.MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool TConsoleBase::askYesNo(const QString& text) {
    return mServices.prompt.MessageBox(text, title(), TBoxIcon::Warning, TBoxButtons::YesNo) ==
           TBoxResult::Yes;
}

TDevicesList* TConsoleBase::devices() const {
    return mServices.devices();
}

bool TConsoleBase::running() const {
    return devices() && devices()->EngineCount() > 0;
}

void TConsoleBase::Initialize() {
    guarded("Initialize", [&]() {
        mCaption = title() + ' ' + QString::fromLatin1(ProgramVersion) + mRole.captionSuffix;
        mTrayHint = mCaption + ' ';
        mIconRole = mRole.role;
        if (mServices.host) mServices.host->SetCaption(mCaption);
        mAlwaysOnTop = mServices.host ? mServices.host->ApplyOnTop(false)
                                      : mServices.settings.GetBool(MRL_OnTop);
        loadLists();
        if (!mServices.params.entries.isEmpty()) ProcessParams();
        // The automatic start only starts: a "/START" among the parameters has already started
        // the service, and the start button's toggle would stop it again.
        if (mServices.settings.GetBool(mRole.autoDelivery) && !mServices.params.stopRequested &&
            !running())
            btStartClick();
        SetGUI();
    });
}

// ---- State ----

void TConsoleBase::setQueueSelection(int row) {
    const int selection = row >= 0 && row < mQueueRows.size() ? row : -1;
    if (selection == mQueueSelection) return;
    mQueueSelection = selection;
    Q_EMIT queueChanged();
}

void TConsoleBase::setEnqueueDialog(std::function<bool(TQueueItem& job)> dialog) {
    mEnqueueDialog = std::move(dialog);
}

void TConsoleBase::setStartEnabled(bool enabled) {
    mStartEnabled = enabled;
    Q_EMIT guiChanged();
}

void TConsoleBase::queueRowsChanged() {
    mTotalJobs = QString::number(mQueueRows.size());
    Q_EMIT queueChanged();
}

void TConsoleBase::SetGUI() {
    guarded("SetGUI", [&]() {
        const bool stopped = !running();
        mOptionsEnabled = stopped;
        mDeleteEnabled = stopped;
        mDeleteAllEnabled = stopped;
        mAddEnabled = true;
        mStartCaption = stopped ? QStringLiteral("&Start") : QStringLiteral("&Stop");
        Q_EMIT guiChanged();
    });
}

// ---- Command line ----

bool TConsoleBase::startRefused() {
    if (!mOptionsOpen) return false;
    addStatus(QStringLiteral("Service not started: the configuration dialog is open."));
    return true;
}

bool TConsoleBase::processSwitch(const QString& entry) {
    if (entry == "/START") {
        if (!startRefused()) DeviceProcessing(true);
    } else if (entry == "/STOP") {
        mServices.params.stopRequested = true;
        DeviceProcessing(false);
    } else if (entry == "/CLEARLOG") {
        btLogClearClick(false);
    } else {
        return false;
    }
    return true;
}

void TConsoleBase::queueCommandLineJob(TQueueItem& job) {
    if (mServices.params.StartsWith("/AUTODEL")) Put(job, qkAutoDel, QString::fromLatin1(NoYes[1]));
    if (queue().SearchItem(job) < 0) {
        queueJob(job);
        addStatus("File queued: " + Get(job, qkSrcFile));
    } else {
        addStatus("File already in queue: " + Get(job, qkSrcFile));
    }
}

// ---- Queue ----

void TConsoleBase::queueJob(const TQueueItem& job) {
    TQueueList& jobs = queue();
    jobs.AddItem();
    const int last = jobs.Count() - 1;
    jobs.SetItem(last, &job);
    jobs.ItemIndex = last;
    UpdateQueueList();
    mQueueSelection = int(mQueueRows.size()) - 1;
    Q_EMIT queueChanged();
    jobs.Save();
}

int TConsoleBase::queueIndexOf(const QString& number) {
    for (int i = 0; i < queue().Count(); ++i)
        if (queue().GetSetting(i, qkNo).trimmed() == number) return i;
    return -1;
}

void TConsoleBase::deleteSentFile(const QString& outbox, const QString& srcFile) {
    bool inside = false;
    const QString path = LocalPath(outbox, srcFile, &inside);
    addStatus("Deleting file: " + WithTrailingSlash(outbox) + LocalSeparators(srcFile));
    if (inside) QFile::remove(path);
}

void TConsoleBase::UpdateQueueList() {
    guarded("UpdateQueueList", [&]() {
        // The selection follows its job (first column: the job number) wherever it moves; a
        // job that is gone selects none.
        const QString selected = mQueueSelection >= 0 && mQueueSelection < mQueueRows.size()
                                     ? mQueueRows[mQueueSelection].value(0)
                                     : QString();
        mQueueRows.clear();
        mQueueSelection = -1;
        const int count = queue().Count();
        for (int i = 0; i < count; ++i) {
            const TQueueItem* job = queue().GetItem(i);
            if (!job) continue;
            mQueueRows << mRole.queueRow(*job, mServices.settings);
            if (!selected.isEmpty() && mQueueRows.last().value(0) == selected)
                mQueueSelection = int(mQueueRows.size()) - 1;
        }
        queueRowsChanged();
    });
}

bool TConsoleBase::btJobAddClick() {
    bool queued = false;
    guarded("JobAddClick", [&]() {
        const QString name = mServices.prompt.OpenFile("Send file", "All files (*.*)|*.*",
                                                       mServices.settings.GetStr(MRL_Outbox));
        if (name.isEmpty()) return;
        TQueueItem job;
        if (!prepareAddedJob(job, name)) return;
        if (!mEnqueueDialog || !mEnqueueDialog(job)) return;
        queueJob(job);
        queued = true;
    });
    return queued;
}

void TConsoleBase::btJobDelClick() {
    guarded("JobDelClick", [&]() {
        if (mQueueSelection < 0 || mQueueSelection >= mQueueRows.size()) return;
        const int index = mQueueSelection;
        if (!askYesNo("Are you sure you want to delete file # " + mQueueRows[index].value(0) +
                      " from the queue?"))
            return;
        if (queue().DeleteItem(index, true)) {
            mQueueRows.removeAt(index);
            mQueueSelection = -1;
        } else {
            errorBox(QStringLiteral("File could not be deleted!"));
        }
        queueRowsChanged();
    });
}

void TConsoleBase::lvQueueKeyDown(Qt::Key key) {
    if (key == Qt::Key_Delete && mQueueSelection >= 0 && mDeleteEnabled) btJobDelClick();
}

void TConsoleBase::btDelAllClick() {
    guarded("DelAllClick", [&]() {
        if (!askYesNo(QStringLiteral("Are you sure you want to empty all the queue?"))) return;
        while (!mQueueRows.isEmpty()) {
            const QString number = queue().GetSetting(0, qkNo);
            const QString file = queue().GetSetting(0, qkSrcFile);
            if (!queue().DeleteItem(0, true)) {
                errorBox("File # " + number + " could not be deleted:\r\n" + file);
                break;
            }
            mQueueRows.removeFirst();
        }
        mQueueSelection = -1;
        queueRowsChanged();
    });
}

// ---- Log ----

void TConsoleBase::UpdateLogList() {
    guarded("UpdateLogList", [&]() {
        mLogRows.reload(true);
        Q_EMIT logChanged();
    });
}

void TConsoleBase::ShowLogEntry(const TLogRecord&) {
    // The record is on file already (TQLog.LogEntry): the rows count it, and read it back when
    // it is shown. Emptied at the size limit, the log starts its rows anew.
    guarded("ShowLogEntry", [&]() {
        mLogRows.reload(false);
        Q_EMIT logChanged();
    });
}

void TConsoleBase::logReadFailed() {
    if (mRecountPosted) return;
    mRecountPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            mRecountPosted = false;
            guarded("UpdateLogList", [&]() {
                const int shown = mLogRows.count();
                const quint64 generation = mLogRows.generation();
                mLogRows.reload(false);
                if (mLogRows.count() != shown || mLogRows.generation() != generation)
                    Q_EMIT logChanged();
            });
        },
        Qt::QueuedConnection);
}

void TConsoleBase::btLogClearClick(bool clicked) {
    resultsLog().Clear(clicked);
    UpdateLogList();
}

void TConsoleBase::btLogExpClick() {
    guarded("LogExpClick", [&]() {
        TQLog& log = resultsLog();
        const int count = log.Count();
        if (count < 1) return;
        const QString path =
            mServices.prompt.SaveFile("Export Log", "Text files (*.txt)|*.txt", "txt", QString());
        if (path.isEmpty()) return;
        // The same file under another spelling ("a//b", "./x") is the same file.
        if (QFileInfo(path).absoluteFilePath() == QFileInfo(log.FileName).absoluteFilePath() ||
            (QFileInfo::exists(path) &&
             QFileInfo(path).canonicalFilePath() == QFileInfo(log.FileName).canonicalFilePath())) {
            mServices.prompt.MessageBox(QStringLiteral("Default log file cannot be overwritten!"),
                                        title(), TBoxIcon::None, TBoxButtons::Ok);
            return;
        }
        // Record by record into the new file, which replaces the old one only when whole.
        TLogReader reader(log.FileName);
        if (!reader.Open() || reader.Count() < count)
            throw std::runtime_error("log record unreadable");
        QSaveFile file(path);
        // A target that is not writable in place (a link, a special file) is still replaced as a
        // whole.
        file.setDirectWriteFallback(false);
        bool written = file.open(QIODevice::WriteOnly);
        TLogRecord r;
        for (int i = 0; i < count && written; ++i) {
            if (!reader.Read(i, r)) throw std::runtime_error("log record unreadable");
            const QByteArray line = (mRole.logExportLine(r) + "\r\n").toUtf8();
            written = file.write(line) == line.size();
        }
        if (!written || !file.commit()) {
            file.cancelWriting();
            mServices.prompt.MessageBox(QStringLiteral("Error exporting log file!"), title(),
                                        TBoxIcon::Error, TBoxButtons::Cancel);
        }
    });
}

// ---- Start, menu ----

void TConsoleBase::btStartClick() {
    const bool start = !running();
    if (start && startRefused()) return;
    setStartEnabled(false);
    DeviceProcessing(start);
    setStartEnabled(true);
}

void TConsoleBase::Quit1Click() {
    if (mServices.host) mServices.host->CloseApplication(true);
}

void TConsoleBase::Alwaysontop1Click() {
    mAlwaysOnTop =
        mServices.host ? mServices.host->ApplyOnTop(true) : mServices.settings.GetBool(MRL_OnTop);
    Q_EMIT guiChanged();
}
