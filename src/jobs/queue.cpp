#include "jobs/queue.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "platform/background_sync.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>

const char* const QueueKeyNames[QueueKeyCount] = {
    "qkNo",   "qkDate",  "qkMethod",      "qkAutoDel",  "qkSrcFile",  "qkSize",     "qkDestPath",
    "qkUser", "qkPassw", "qkResultsFile", "qkCommName", "qkCommGUID", "qkCommParam"};

namespace {
const char* const JobSection = "ITEM";
const TRecordLayout JobLayout{QueueKeyNames};

// The job number a file name stands for ("12.xfr" -> 12), or 0.
int numberOfFile(const QString& fileName) {
    int number = 0;
    if (!ParseInteger(QFileInfo(fileName).completeBaseName(), &number)) return 0;
    return number >= 1 && number <= MaxJobNumber ? number : 0;
}
} // namespace

QString Get(const TQueueItem& item, TQueueKey key) {
    return item[key].StrValue;
}

void Put(TQueueItem& item, TQueueKey key, const QString& text) {
    item[key].SetStr(text);
}

bool ParseJobSize(const QString& text, qint64* size) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c < '0' || c > '9') return false;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (size) *size = value;
    return ok;
}

qint64 JobSize(const TQueueItem& item, bool* known) {
    qint64 size = 0;
    const bool ok = ParseJobSize(item[qkSize].StrValue, &size);
    if (known) *known = ok;
    return size;
}

void PutJobSize(TQueueItem& item, qint64 size) {
    item[qkSize].SetStr(QString::number(size));
}

TQueueList::TQueueList(TSettings& settings, TStatusSink& status)
    : TRecordList("TQueueList", JobLayout, status), mSettings(settings) {}

TQueueList::~TQueueList() {
    Clear();
}

void TQueueList::reportRemovalError() {
    if (!mRemovals) return;
    if (const QString failed = mRemovals->TakeError(); !failed.isEmpty())
        report("DeleteItem", failed);
}

QString TQueueList::RoleExtension() const {
    if (mSettings.IsClient()) return QStringLiteral(".xfr");
    if (mSettings.IsServer()) return QStringLiteral(".xfh");
    return QString();
}

QString TQueueList::QueueFolder() const {
    return mSettings.AppDir() + "QUEUE/";
}

QString TQueueList::JobFilePath(const QString& jobNo, bool* ok) const {
    const QString number = jobNo.trimmed();
    // A leading '.' would hide the file, and Load skips hidden files (leftovers of a crashed
    // write): the job would be saved but never read again.
    bool usable = !number.isEmpty() && !number.startsWith('.') && !number.contains('/') &&
                  !number.contains('\\') && !HasControlChar(number);
    QString path;
    if (usable) path = LocalPath(QueueFolder(), number + RoleExtension(), &usable);
    if (ok) *ok = usable;
    return usable ? path : QString();
}

void TQueueList::Load() {
    guarded("Load", 0, [this]() {
        // A job file on its way out must not be read back as a job.
        if (mRemovals) {
            mRemovals->Drain();
            reportRemovalError();
        }
        const QString extension = RoleExtension();
        QDir folder(QueueFolder());
        // Plain, visible files only: a crashed atomic write leaves a hidden temporary behind.
        const QStringList patterns{"*" + extension};
        QFileInfoList files = folder.entryInfoList(patterns, QDir::Files | QDir::NoDotAndDotDot);
        if (!extension.isEmpty()) {
            // The pattern is a suffix match; "1.xfrx" is not a job file.
            files.erase(std::remove_if(
                            files.begin(), files.end(),
                            [&](const QFileInfo& f) { return !f.fileName().endsWith(extension); }),
                        files.end());
        }
        if (files.isEmpty()) return 0;
        // Job-number order keeps the queue in the order the jobs were added; other names last.
        std::stable_sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
            const int na = numberOfFile(a.fileName()), nb = numberOfFile(b.fileName());
            if ((na == 0) != (nb == 0)) return na != 0;
            if (na != nb) return na < nb;
            return a.fileName() < b.fileName();
        });
        Clear();
        for (const QFileInfo& info : files) {
            TIniFile ini(info.filePath());
            if (!ini.LastError().isEmpty()) {
                // One unreadable file must not hide the jobs after it.
                report("Load", info.fileName() + ": " + ini.LastError());
                continue;
            }
            if (!ini.SectionExists(JobSection)) {
                report("Load", info.fileName() + ": not a job file");
                continue;
            }
            auto item = std::make_unique<TQueueItem>();
            clearSlots(*item);
            readSection(*item, ini, JobSection);
            // Without its number the job could never find its file again.
            if ((*item)[qkNo].StrValue.trimmed().isEmpty()) {
                const int number = numberOfFile(info.fileName());
                if (number > 0) (*item)[qkNo].StrValue = QString::number(number);
            }
            mItems.push_back(std::move(item));
        }
        return 0;
    });
}

bool TQueueList::Save() {
    return guarded("Load", false, [this]() {
        if (Count() > mSettings.GetInt(MRL_QueueCounter))
            mSettings.PutInt(MRL_QueueCounter, Count());
        if (mItems.empty()) return true;
        const TQueueItem& item = *mItems.back();
        const QString number = item[qkNo].StrValue.trimmed();
        if (number.isEmpty()) return true;
        bool ok = false;
        const QString path = JobFilePath(number, &ok);
        if (!ok) {
            report("Load", "invalid job number: " + number);
            return false;
        }
        if (mRemovals) mRemovals->WaitForRemoval(path);
        MakePrivateFolder(QueueFolder());
        TIniFile ini(path);
        writeSection(item, ini, JobSection);
        if (!ini.UpdateFile()) {
            report("Load", path + ": " + ini.LastError());
            return false;
        }
        return true;
    });
}

void TQueueList::Clear() {
    guarded("Load", 0, [this]() {
        while (!mItems.empty())
            if (!DeleteItem(0, false)) break;
        return 0;
    });
}

TQueueItem* TQueueList::GetItem(int index) {
    return guarded("GetItem", static_cast<TQueueItem*>(nullptr), [&] { return at(index); });
}

void TQueueList::EmptyItem(TQueueItem& item) {
    guarded("EmptyItem", 0, [&]() {
        clearSlots(item);
        item[qkDate].SetStr(DateTimeToStr(QDateTime::currentDateTime()));
        item[qkMethod].SetStr(QStringLiteral("SEND"));
        item[qkAutoDel].SetStr(QString::fromLatin1(NoYes[0]));
        return 0;
    });
}

bool TQueueList::numberInUse(int number) const {
    const QString text = QString::number(number);
    for (const auto& item : mItems)
        if ((*item)[qkNo].StrValue.trimmed() == text) return true;
    return QFileInfo::exists(JobFilePath(text));
}

void TQueueList::AddItem() {
    guarded("AddItem", 0, [this]() {
        auto item = std::make_unique<TQueueItem>();
        EmptyItem(*item);
        // Numbers wrap from 9999 to 1. A number still held by a job (in the list or on disk) is
        // skipped, so a new job never overwrites the file of one that waits.
        int counter = mSettings.GetInt(MRL_QueueCounter);
        for (int tries = 0; tries < MaxJobNumber; ++tries) {
            ++counter;
            if (counter > MaxJobNumber || counter < 1) counter = 1;
            if (!numberInUse(counter)) break;
        }
        mSettings.PutInt(MRL_QueueCounter, counter);
        (*item)[qkNo].StrValue = QString::number(counter);
        mItems.push_back(std::move(item));
        return 0;
    });
}

void TQueueList::SetItem(int index, const TQueueItem* item) {
    guarded("SetItem", 0, [&]() {
        if (index < 0 || !item) return 0;
        TQueueItem* target = growTo(index, [this] { AddItem(); });
        if (!target) return 0; // AddItem failed and said so
        QString number = (*item)[qkNo].StrValue;
        if (number.isEmpty()) number = (*target)[qkNo].StrValue;
        copySlots(*target, item->Slots);
        (*target)[qkNo].StrValue = number;
        return 0;
    });
}

bool TQueueList::DeleteItem(int index, bool deleteFile, bool inBackground) {
    return guarded("DeleteItem", false, [&]() {
        reportRemovalError();
        if (index < 0 || index >= Count()) return false;
        bool result = true;
        if (deleteFile) {
            const QString number = (*mItems[size_t(index)])[qkNo].StrValue.trimmed();
            bool ok = false;
            const QString path = JobFilePath(number, &ok);
            if (ok && inBackground) {
                if (!mRemovals) mRemovals = std::make_unique<TBackgroundSync>();
                mRemovals->RequestRemove(path);
            } else if (ok) {
                QFile file(path);
                if (file.exists()) {
                    result = file.remove();
                    if (!result) report("DeleteItem", path + ": " + file.errorString());
                }
            }
        }
        if (!result) return false;
        mItems.erase(mItems.begin() + index);
        if (index == ItemIndex) ItemIndex = -1;
        return true;
    });
}

int TQueueList::ItemIndexByFile(const QString& fileName) {
    return guarded("ItemIndexByFile", -1, [&]() {
        const QString wanted = PathCase(fileName);
        for (size_t i = 0; i < mItems.size(); ++i)
            if ((*mItems[i])[qkSrcFile].StrValue == wanted) return int(i);
        return -1;
    });
}

int TQueueList::SearchItem(const TQueueItem& item) {
    return guarded("SearchItem", -1, [&]() {
        static const TQueueKey compared[] = {qkMethod, qkSrcFile,     qkDestPath, qkUser,
                                             qkPassw,  qkResultsFile, qkCommGUID, qkCommParam};
        for (size_t i = 0; i < mItems.size(); ++i) {
            const TQueueItem& job = *mItems[i];
            bool equal = true;
            for (TQueueKey key : compared)
                if (job[key].StrValue != item[key].StrValue) {
                    equal = false;
                    break;
                }
            if (equal) return int(i);
        }
        return -1;
    });
}
