#include "consoles/log_rows.h"

TLogRows::TLogRows(TQLog& log, RowTexts texts, Report report, std::function<void()> readFailed)
    : mLog(log), mTexts(texts), mReport(std::move(report)), mReadFailedHook(std::move(readFailed)),
      mCache(CachedRows) {}

void TLogRows::readFailed() {
    if (mReadFailed) return;
    mReadFailed = true;
    if (mReadFailedHook) mReadFailedHook();
}

void TLogRows::reportFailure(const char* operation, const QString& text) const {
    if (mReport) mReport(operation, text);
}

void TLogRows::reload(bool refill) {
    const int count = mLog.Count();
    const quint64 resets = mLog.Resets();
    if (refill || resets != mLogResets || count < mCount) {
        ++mGeneration;
        mCache.clear();
        mRun.clear();
        mRunHeld = 0;
    }
    // A log that could not be read is read again once it changed, not at every look.
    if (count != mCount || resets != mLogResets || refill) mReadFailed = false;
    mLogResets = resets;
    mCount = count;
}

const TLogRows::TRow* TLogRows::row(int index) {
    if (index < 0 || index >= mCount) return nullptr;
    if (const TRow* kept = mCache.object(index)) return kept;
    if (index < mRunFirst || index >= mRunFirst + mRunHeld) {
        if (mReadFailed) return nullptr; // once is enough until the log is counted again
        // The run of neighbours the row lies in: a view scrolling on asks for them next.
        mRunFirst = index - index % ReadRun;
        mRunHeld = mLog.GetEntries(mRunFirst, qMin(ReadRun, mCount - mRunFirst), mRun);
        if (index >= mRunFirst + mRunHeld) {
            readFailed();
            return nullptr;
        }
    }
    auto* fresh = new TRow;
    DecodeLogRecord(mRun.constData() + qsizetype(index - mRunFirst) * LogLayout::RecordSize,
                    fresh->record);
    fresh->texts = mTexts(fresh->record);
    mCache.insert(index, fresh);
    return fresh;
}

QStringList TLogRows::texts(int index) {
    const TRow* found = row(index);
    return found ? found->texts : QStringList();
}

bool TLogRows::record(int index, TLogRecord& record) {
    const TRow* found = row(index);
    if (found) record = found->record;
    return found != nullptr;
}

QByteArray TLogRows::bytes(int index) {
    if (index >= mRunFirst && index < mRunFirst + mRunHeld)
        return mRun.mid(qsizetype(index - mRunFirst) * LogLayout::RecordSize, LogLayout::RecordSize);
    QByteArray one;
    if (index < 0 || index >= mCount || mLog.GetEntries(index, 1, one) != 1) {
        readFailed();
        return {};
    }
    return one;
}

bool TLogRows::order(TLogField field, TLogOrder& order) {
    QString error;
    if (SortLogFile(fileName(), mCount, field, order, &error)) return true;
    reportFailure("SortLogList", error);
    return false;
}
