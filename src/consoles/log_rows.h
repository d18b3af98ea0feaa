#pragma once
// The results log as a console lists it: one row per whole record of the file, in file order,
// each read from the file when it is asked for. Only the rows asked for last are kept (a few
// hundred, read a run of neighbours at a time), so a log of millions of records costs the console
// no more memory, and its start no more time, than an empty one.
#include "jobs/log_sort.h"
#include "jobs/results_log.h"

#include <QByteArray>
#include <QCache>
#include <QStringList>
#include <functional>

class TLogRows {
public:
    // A role's texts of a record: the columns of its list.
    using RowTexts = QStringList (*)(const TLogRecord& record);
    // Reports a failure as a status line of the console: operation, text.
    using Report = std::function<void(const char* operation, const QString& text)>;
    // The rows kept, and how many neighbours are read with a row that is not.
    static constexpr int CachedRows = 512;
    static constexpr int ReadRun = 32;

    // `readFailed` is called when a row could not be read (the log holds fewer records than
    // counted, or cannot be read), once until the rows are counted again.
    TLogRows(TQLog& log, RowTexts texts, Report report, std::function<void()> readFailed);

    // The rows: the whole records the file held when it was last counted.
    int count() const { return mCount; }
    // Changes whenever rows may have gone or changed, not only grown: the log was refilled,
    // cleared or emptied at its size limit, or holds fewer records than counted. Rows counted
    // in the same generation are the same records.
    quint64 generation() const { return mGeneration; }
    // Counts the records again. With `refill` the rows start a new generation even when the
    // log only grew.
    void reload(bool refill);

    // The texts of a row in the role's columns; empty when its record cannot be read.
    QStringList texts(int row);
    // The record of a row; false when it cannot be read.
    bool record(int row, TLogRecord& record);
    // The RecordSize bytes of a row's record as the file holds them; empty when unreadable.
    QByteArray bytes(int row);

    // The rows' order by a field (see SortLogFile); a failure is reported. On the calling
    // thread: a log that takes long is sorted with SortLogFile on a thread of its own.
    bool order(TLogField field, TLogOrder& order);
    // The log file; empty before the first count.
    QString fileName() const { return mLog.FileName; }
    void reportFailure(const char* operation, const QString& text) const;

private:
    struct TRow {
        TLogRecord record;
        QStringList texts;
    };
    const TRow* row(int index);
    void readFailed();

    TQLog& mLog;
    RowTexts mTexts;
    Report mReport;
    std::function<void()> mReadFailedHook;
    int mCount = 0;
    quint64 mGeneration = 0;
    quint64 mLogResets = 0;
    bool mReadFailed = false;
    QCache<int, TRow> mCache;
    QByteArray mRun; // the records read last: mRunFirst onwards
    int mRunFirst = 0;
    int mRunHeld = 0;
};
