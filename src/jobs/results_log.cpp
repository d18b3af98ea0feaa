#include "jobs/results_log.h"

#include "core/settings.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "platform/prompt.h"

#include <QFile>
#include <QtEndian>
#include <climits>
#include <cstring>
#include <exception>
#include <unistd.h>


namespace {


// The UTF-8 bytes of a text, cut to at most `max` bytes without splitting a character.
QByteArray cutUtf8(const QString& text, int max) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= max) return bytes;
    qsizetype cut = max;
    while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

void putString(char* record, int offset, int max, const QString& text) {
    const QByteArray bytes = cutUtf8(text, max);
    record[offset] = char(uchar(bytes.size()));
    std::memcpy(record + offset + 1, bytes.constData(), size_t(bytes.size()));
}

QString getString(const char* record, int offset, int max) {
    int length = uchar(record[offset]);
    if (length > max) length = max; // a foreign or damaged record must not read past its field
    return QString::fromUtf8(record + offset + 1, length);
}

void putDouble(char* record, int offset, double value) {
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian(bits, record + offset);
}

double getDouble(const char* record, int offset) {
    const quint64 bits = qFromLittleEndian<quint64>(record + offset);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Makes sure the data reaches the disk, so a finished job's record survives a crash.
bool syncToDisk(QFile& file) {
    if (!file.flush()) return false;
    return ::fdatasync(file.handle()) == 0;
}
} // namespace

QByteArray EncodeLogRecord(const TLogRecord& r) {
    using namespace LogLayout;
    QByteArray bytes(RecordSize, '\0');
    char* p = bytes.data();
    qToLittleEndian<qint32>(r.JobNo, p + JobNo);
    p[Done] = r.Done ? 1 : 0;
    putString(p, Result, StringMax, r.Result);
    putString(p, FileName, StringMax, r.FileName);
    putString(p, Method, StringMax, r.Method);
    putString(p, DestPath, StringMax, r.DestPath);
    putDouble(p, Submitted, r.Submitted);
    putDouble(p, Processed, r.Processed);
    qToLittleEndian<qint32>(r.Attempt, p + Attempt);
    putString(p, UserName, UserNameMax, r.UserName);
    putString(p, CommName, StringMax, r.CommName);
    putString(p, CommGUID, StringMax, r.CommGUID);
    putString(p, CommParam, StringMax, r.CommParam);
    putString(p, ResultsFile, StringMax, r.ResultsFile);
    return bytes;
}

bool DecodeLogRecord(const QByteArray& bytes, TLogRecord& r) {
    if (bytes.size() != LogLayout::RecordSize) return false;
    DecodeLogRecord(bytes.constData(), r);
    return true;
}

void DecodeLogRecord(const char* p, TLogRecord& r) {
    using namespace LogLayout;
    r.JobNo = qFromLittleEndian<qint32>(p + JobNo);
    r.Done = p[Done] != 0;
    r.Result = getString(p, Result, StringMax);
    r.FileName = getString(p, FileName, StringMax);
    r.Method = getString(p, Method, StringMax);
    r.DestPath = getString(p, DestPath, StringMax);
    r.Submitted = getDouble(p, Submitted);
    r.Processed = getDouble(p, Processed);
    r.Attempt = qFromLittleEndian<qint32>(p + Attempt);
    r.UserName = getString(p, UserName, UserNameMax);
    r.CommName = getString(p, CommName, StringMax);
    r.CommGUID = getString(p, CommGUID, StringMax);
    r.CommParam = getString(p, CommParam, StringMax);
    r.ResultsFile = getString(p, ResultsFile, StringMax);
}

// ---- TLogReader ----

TLogReader::TLogReader(const QString& path, int readAhead)
    : mFile(path), mReadAhead(qMax(1, readAhead)) {}

bool TLogReader::Open() {
    if (!mFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return false;
    mCount = int(qMin<qint64>(mFile.size() / LogLayout::RecordSize, INT_MAX));
    return true;
}

const char* TLogReader::Record(int index, int readAhead) {
    using LogLayout::RecordSize;
    if (index < 0 || index >= mCount || !mFile.isOpen()) return nullptr;
    if (index < mFirst || index >= mFirst + mHeld) {
        const int want = qMin(readAhead > 0 ? readAhead : mReadAhead, mCount - index);
        mRun.resize(qsizetype(want) * RecordSize);
        mFirst = index;
        mHeld = 0;
        if (!mFile.seek(qint64(index) * RecordSize)) return nullptr;
        const qint64 got = mFile.read(mRun.data(), mRun.size());
        // A file emptied or cut since it was opened gives fewer records, or none.
        mHeld = got < 0 ? 0 : int(got / RecordSize);
        if (mHeld == 0) return nullptr;
    }
    return mRun.constData() + qsizetype(index - mFirst) * RecordSize;
}

bool TLogReader::Read(int index, TLogRecord& record) {
    const char* bytes = Record(index);
    if (!bytes) return false;
    DecodeLogRecord(bytes, record);
    return true;
}

TQLog::TQLog(TSettings& settings, TStatusSink& status, IPrompt& prompt)
    : mSettings(settings), mStatus(status), mPrompt(prompt) {}

void TQLog::report(const char* operation, const QString& text) {
    mStatus.ReportOperationError("TQLog", operation, text);
}

void TQLog::SetFileName() {
    guarded("SetFileName", 0, [this]() {
        mRole = mSettings.Role();
        ++mResets; // another file, or none: whatever was read of the last one is gone
        if (mRole == RoleClient)
            FileName = mSettings.AppDir() + "client.log";
        else if (mRole == RoleServer)
            FileName = mSettings.AppDir() + "server.log";
        else
            FileName.clear();
        return 0;
    });
}

bool TQLog::ensureFileName(const char* operation) {
    const TRole role = mSettings.Role();
    // The role can change while the program runs; the log follows it.
    if (FileName.isEmpty() || role != mRole) SetFileName();
    if (FileName.isEmpty()) {
        report(operation, QStringLiteral("no role chosen"));
        return false;
    }
    return true;
}

int TQLog::Count() {
    return guarded("Count", 0, [this]() {
        if (!ensureFileName("Count")) return 0;
        QFile file(FileName);
        if (!file.exists()) {
            if (!file.open(QIODevice::WriteOnly)) {
                report("Count", FileName + ": " + file.errorString());
                return 0;
            }
            return 0;
        }
        return int(file.size() / LogLayout::RecordSize);
    });
}

bool TQLog::LogEntry(const TLogRecord& record) {
    return guarded("LogEntry", false, [&]() {
        if (!ensureFileName("LogEntry")) return false;
        QFile file(FileName);
        if (!file.open(QIODevice::ReadWrite)) {
            report("LogEntry", FileName + ": " + file.errorString());
            return false;
        }
        const qint64 count = file.size() / LogLayout::RecordSize;
        // The limit counts records, not bytes.
        qint64 at = count > mSettings.GetInt(MRL_MaxLogSize) ? 0 : count * LogLayout::RecordSize;
        if (at == 0 && count > 0) ++mResets;
        // Dropping a torn tail keeps every record on its 2112-byte boundary.
        if (file.size() != at && !file.resize(at)) {
            report("LogEntry", FileName + ": " + file.errorString());
            return false;
        }
        const QByteArray bytes = EncodeLogRecord(record);
        if (!file.seek(at) || file.write(bytes) != bytes.size() || !file.flush()) {
            report("LogEntry", FileName + ": " + file.errorString());
            return false;
        }
        file.close();
        mSync.Request(FileName);
        if (const QString failed = mSync.TakeError(); !failed.isEmpty())
            report("LogEntry", QStringLiteral("sync: ") + failed);
        return true;
    });
}

bool TQLog::GetEntry(int index, TLogRecord& record) {
    return guarded("GetEntry", false, [&]() {
        if (!ensureFileName("GetEntry")) return false;
        QFile file(FileName);
        if (!file.open(QIODevice::ReadOnly)) {
            report("GetEntry", FileName + ": " + file.errorString());
            return false;
        }
        const qint64 count = file.size() / LogLayout::RecordSize;
        if (index < 0 || index >= count) {
            report("GetEntry", QStringLiteral("Record %1 is beyond the end of the log (%2 records)")
                                   .arg(index)
                                   .arg(count));
            return false;
        }
        QByteArray bytes;
        if (file.seek(qint64(index) * LogLayout::RecordSize))
            bytes = file.read(LogLayout::RecordSize);
        if (!DecodeLogRecord(bytes, record)) {
            report("GetEntry", FileName + ": " + file.errorString());
            return false;
        }
        return true;
    });
}

int TQLog::GetEntries(int first, int count, QByteArray& bytes) {
    return guarded("GetEntry", 0, [&]() {
        bytes.clear();
        if (!ensureFileName("GetEntry")) return 0;
        QFile file(FileName);
        if (!file.open(QIODevice::ReadOnly)) {
            report("GetEntry", FileName + ": " + file.errorString());
            return 0;
        }
        const qint64 whole = file.size() / LogLayout::RecordSize;
        if (first < 0 || count <= 0 || first >= whole) return 0;
        const qint64 want = qMin<qint64>(count, whole - first) * LogLayout::RecordSize;
        if (!file.seek(qint64(first) * LogLayout::RecordSize)) {
            report("GetEntry", FileName + ": " + file.errorString());
            return 0;
        }
        bytes = file.read(want);
        if (bytes.size() < want && file.error() != QFileDevice::NoError) {
            report("GetEntry", FileName + ": " + file.errorString());
            bytes.clear();
            return 0;
        }
        const int got = int(bytes.size() / LogLayout::RecordSize);
        bytes.truncate(qsizetype(got) * LogLayout::RecordSize);
        return got;
    });
}

bool TQLog::Clear(bool ask) {
    return guarded("Clear", false, [&]() {
        if (Count() == 0) return false;
        if (ask &&
            mPrompt.MessageBox("Are you sure you want to clear all log entries?", ApplicationTitle,
                                TBoxIcon::Warning, TBoxButtons::YesNo) != TBoxResult::Yes)
            return false;
        QFile file(FileName);
        ++mResets; // also when the sync below fails: the file may be empty already
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !syncToDisk(file)) {
            report("Clear", FileName + ": " + file.errorString());
            return false;
        }
        return true;
    });
}
