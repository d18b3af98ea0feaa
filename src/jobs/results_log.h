#pragma once
// The results log: one fixed-size binary record per finished job, "client.log" on a client and
// "server.log" on a server. The file has no header; record n lies at byte 2112 * n.
#include "core/settings.h"
#include "core/status.h"
#include "platform/background_sync.h"
#include "platform/prompt.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

// One record as the program sees it. Times are days since 1899-12-30 with the time of day as
// fraction (DateTimeToDouble / DoubleToDateTime convert).
struct TLogRecord {
    int32_t JobNo = 0;
    bool Done = false;
    QString Result;   // at most 255 bytes on file
    QString FileName; // qkSrcFile
    QString Method;   // qkMethod
    QString DestPath; // qkDestPath
    double Submitted = 0;
    double Processed = 0;
    int32_t Attempt = 0;
    QString UserName; // at most 30 bytes on file
    QString CommName;
    QString CommGUID;
    QString CommParam;
    QString ResultsFile;
};

// Record layout: size and field offsets in bytes; little-endian; strings are one length byte
// followed by at most 255 (user name: 30) bytes of UTF-8, never split inside a character.
namespace LogLayout {
constexpr int RecordSize = 2112;
constexpr int JobNo = 0;
constexpr int Done = 4;
constexpr int Result = 5;
constexpr int FileName = 261;
constexpr int Method = 517;
constexpr int DestPath = 773;
constexpr int Submitted = 1032;
constexpr int Processed = 1040;
constexpr int Attempt = 1048;
constexpr int UserName = 1052;
constexpr int CommName = 1083;
constexpr int CommGUID = 1339;
constexpr int CommParam = 1595;
constexpr int ResultsFile = 1851;
constexpr int StringMax = 255;
constexpr int UserNameMax = 30;
} // namespace LogLayout

// The 2112 bytes of a record; unused bytes are zero.
QByteArray EncodeLogRecord(const TLogRecord& record);
// Reads a record from its 2112 bytes; false (record untouched) when the size is wrong. A length
// byte larger than its field is taken as the field's maximum; invalid UTF-8 does not fail.
bool DecodeLogRecord(const QByteArray& bytes, TLogRecord& record);
// The same from RecordSize bytes at `bytes`.
void DecodeLogRecord(const char* bytes, TLogRecord& record);

// Reads the records of a results log by index without holding more than a run of them: the file
// stays open while the reader lives, and a record missing from the buffer is read together with
// up to `readAhead` - 1 records after it, so reading the log front to back costs one read per
// run. Counts whole records as the file holds them when it is opened; a record the file no
// longer holds (it was emptied meanwhile) is not read.
class TLogReader {
public:
    explicit TLogReader(const QString& path, int readAhead = 256);
    // False when the file cannot be opened for reading (ErrorString says why).
    bool Open();
    QString ErrorString() const { return mFile.errorString(); }
    int Count() const { return mCount; }
    // The RecordSize bytes of record `index`, valid until the next call; nullptr when the index
    // is outside the whole records or the file cannot give them. `readAhead` above 0 replaces
    // the reader's own for this read (1 for a record far from the last one).
    const char* Record(int index, int readAhead = 0);
    bool Read(int index, TLogRecord& record);

private:
    QFile mFile;
    int mReadAhead;
    int mCount = 0;
    QByteArray mRun; // records mFirst .. mFirst + mHeld - 1
    int mFirst = 0;
    int mHeld = 0;
};

class TQLog {
public:
    TQLog(TSettings& settings, TStatusSink& status, IPrompt& prompt);

    // Empty until first use; then AppDir + "client.log" or "server.log" by role.
    QString FileName;

    // Sets FileName from the current role. Every other operation calls it while FileName is
    // empty or was set for another role.
    void SetFileName();
    // Number of whole records (an incomplete tail is ignored); creates an empty file when none
    // exists. 0 on error.
    int Count();
    // Appends a record after the last whole one; when the file already holds more than
    // MRL_MaxLogSize records it is emptied first. The record is written before return (every
    // reader sees it, a killed process keeps it) and a thread of the log's own syncs it to disk
    // right after: a sync can take a good part of a second on a busy disk, and the main thread,
    // which serves every port, must not wait for it. A sync that failed is reported with the
    // next record.
    bool LogEntry(const TLogRecord& record);
    // Reads record index (0-based) of an existing file; false when missing or out of range.
    bool GetEntry(int index, TLogRecord& record);
    // Reads up to `count` whole records from record `first` on into `bytes` (RecordSize each)
    // and returns how many: fewer, or 0, where the file ends. The file is opened and closed
    // again; failing to read it is reported as GetEntry's failure and gives 0.
    int GetEntries(int first, int count, QByteArray& bytes);
    // How often the records on file were dropped as a whole (cleared, emptied at the limit, the
    // file changed with the role): a reader that holds record indexes reads them again when it
    // changes. Starts at 0.
    quint64 Resets() const { return mResets; }
    // Empties the file; with ask, only after Yes to "Are you sure you want to clear all log
    // entries?". Nothing happens (and nothing is asked) when the log holds no record. True when
    // the file was emptied.
    bool Clear(bool ask);

private:
    bool ensureFileName(const char* operation);
    void report(const char* operation, const QString& text);
    template <typename F, typename R> R guarded(const char* operation, R neutral, F&& body) {
        return mStatus.Guarded("TQLog", operation, neutral, std::forward<F>(body));
    }

    TSettings& mSettings;
    TStatusSink& mStatus;
    IPrompt& mPrompt;
    TRole mRole = RoleNone; // the role FileName was set for
    quint64 mResets = 0;
    TBackgroundSync mSync;
};
