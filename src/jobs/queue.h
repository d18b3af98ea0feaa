#pragma once
// The job queue: the file transfers that wait, each kept in memory and in a small INI file of its
// own ("QUEUE/" + number + role extension) so that pending jobs survive a restart.
#include "core/record_list.h"
#include "core/settings.h"
#include "core/status.h"

#include <QString>
#include <memory>

class TBackgroundSync;

// The fields of a job, in file order; the names double as value names in the job file.
enum TQueueKey {
    qkNo,
    qkDate,
    qkMethod,
    qkAutoDel,
    qkSrcFile,
    qkSize,
    qkDestPath,
    qkUser,
    qkPassw,
    qkResultsFile,
    qkCommName,
    qkCommGUID,
    qkCommParam,
    QueueKeyCount
};

// "qkNo", "qkDate", ... in key order.
extern const char* const QueueKeyNames[QueueKeyCount];

// One job: 13 String slots indexed by TQueueKey.
struct TQueueItem : TSlotRecord<TQueueKey, QueueKeyCount> {};

// The text of one field, and storing one (cut to 255 bytes).
QString Get(const TQueueItem& item, TQueueKey key);
void Put(TQueueItem& item, TQueueKey key, const QString& text);

// A length in bytes as a job and the line carry it: decimal digits only, nothing else. False
// for any other text; *size is then 0 when the text is all digits but too large, and untouched
// otherwise.
bool ParseJobSize(const QString& text, qint64* size = nullptr);
// The job's length in bytes (qkSize, as ParseJobSize reads it); 0 when it holds none. The job
// file keeps the text as it was written.
qint64 JobSize(const TQueueItem& item, bool* known = nullptr);
// Stores a length in bytes in qkSize.
void PutJobSize(TQueueItem& item, qint64 size);

// Highest job number before numbering starts again at 1.
constexpr int MaxJobNumber = 9999;

class TQueueList : public TRecordList<TQueueItem> {
public:
    TQueueList(TSettings& settings, TStatusSink& status);
    ~TQueueList();
    TQueueList(const TQueueList&) = delete;
    TQueueList& operator=(const TQueueList&) = delete;

    // Reads every job file of the current role, in job-number order. Without any job file the
    // list is left as it was.
    void Load();
    // Writes the job file of the last job in the list; false when it could not be written.
    bool Save();
    // Removes every job from memory; the files stay.
    void Clear();

    // The job at index, or nullptr outside 0..Count-1. The list keeps ownership.
    TQueueItem* GetItem(int index);
    // GetSetting and PutSetting (TRecordList) read and set one field; PutSetting does not
    // rewrite the job file.
    // Resets a caller-owned record: all fields empty, qkDate now, qkMethod "SEND", qkAutoDel "NO".
    void EmptyItem(TQueueItem& item);
    // Appends a new job with defaults and the next free job number.
    void AddItem();
    // Copies a record into the list at index, appending jobs first when index is past the end.
    // The job keeps the record's qkNo when it has one, else the number already at index.
    void SetItem(int index, const TQueueItem* item);
    // Removes a job, with its file when deleteFile is set. False when the index is outside the
    // list or the file exists and could not be deleted (the job then stays). With inBackground
    // the file is deleted on a thread of its own (see TBackgroundSync): the main thread, which
    // serves every port, does not wait for the file system, and a delete that fails is reported
    // at the next call. Until then the file still counts for new job numbers, Load waits for
    // it, and so does Save of a job under that number.
    bool DeleteItem(int index, bool deleteFile, bool inBackground = false);
    // First job whose qkSrcFile equals the file name (exact); -1 when none.
    int ItemIndexByFile(const QString& fileName);
    // First job equal to the given one in method, source, destination, user, password, results
    // file, device identifier and device parameters; -1 when none.
    int SearchItem(const TQueueItem& item);

    // The job the console or engine is working on; -1 for none. Reset to -1 only when that very
    // job is deleted.
    int ItemIndex = -1;

    // ".xfr" for the client, ".xfh" for the server, empty with no role chosen.
    QString RoleExtension() const;
    // AppDir + "QUEUE/".
    QString QueueFolder() const;
    // The job file of a job number: QueueFolder() + number + RoleExtension(). Empty (and *ok
    // false) for a number that cannot name a job file in the folder: empty, with a separator,
    // a leading '.' (a hidden file is never loaded), or a control character (a NUL would cut
    // the name short).
    QString JobFilePath(const QString& jobNo, bool* ok = nullptr) const;

private:
    bool numberInUse(int number) const;
    void reportRemovalError();

    TSettings& mSettings;
    std::unique_ptr<TBackgroundSync> mRemovals; // made at the first delete in the background
};
