#pragma once
// Results logs of many records for the tests of the log, its rows and its sort: texts that share
// long beginnings and differ in case or late (as paths do), numbers and times that repeat, some
// records logged over and over, and the order a list must show them in, worked out the plain way
// (every record decoded, compared as QString and double, stable sort).
#include "jobs/log_sort.h"
#include "jobs/results_log.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

namespace logfixture {

inline QString pick(QRandomGenerator& random, const QStringList& from) {
    return from[int(random.bounded(quint32(from.size())))];
}

// A text of `parts` pieces, each from a small set, so that texts often agree for long.
inline QString varied(QRandomGenerator& random, int parts) {
    static const QStringList pieces = {"/srv/marrowline/inbox/", "/SRV/Marrowline/INBOX/", "a",
                                       "A", "b", "é", "É", "ß", "Ω", "\U0001F600", "report-",
                                       "Report-", "0", "9", "_", ".TXT", ".txt"};
    QString text;
    for (int i = 0; i < parts; ++i)
        text += pick(random, pieces);
    return text;
}

inline TLogRecord Record(QRandomGenerator& random) {
    TLogRecord r;
    r.JobNo = int(random.bounded(200)) - 20;
    r.Done = random.bounded(2) == 1;
    r.Result = pick(random, {"Transfer successful.", "transfer SUCCESSFUL.", "Refused.", ""});
    r.FileName = varied(random, 1 + int(random.bounded(12)));
    r.Method = pick(random, {"SEND", "RECV", "send"});
    r.DestPath = varied(random, int(random.bounded(4)));
    r.Submitted = 45000 + random.bounded(50) / 8.0;
    r.Processed = random.bounded(4) == 0 ? -r.Submitted : r.Submitted + random.bounded(1000) / 1e5;
    r.Attempt = int(random.bounded(5));
    r.UserName = pick(random, {"ALICE", "alice", "Bob", "bob", "ÉMILE", "émile"});
    r.CommName = varied(random, 2);
    r.CommParam = pick(random, {"COM1,9600", "com1,9600", "5551234"});
    return r;
}

// `count` records from the seed; one record in five repeats one before it byte for byte.
inline QList<TLogRecord> Records(int count, quint32 seed = 1) {
    QRandomGenerator random(seed);
    QList<TLogRecord> records;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && random.bounded(5) == 0)
            records << records[int(random.bounded(quint32(i)))];
        else
            records << Record(random);
    }
    return records;
}

// The records as read back from a file (texts cut to their fields).
inline QList<TLogRecord> Stored(const QList<TLogRecord>& records) {
    QList<TLogRecord> out;
    for (const TLogRecord& r : records) {
        TLogRecord back;
        DecodeLogRecord(EncodeLogRecord(r), back);
        out << back;
    }
    return out;
}

inline QByteArray Bytes(const QList<TLogRecord>& records) {
    QByteArray bytes;
    for (const TLogRecord& r : records)
        bytes += EncodeLogRecord(r);
    return bytes;
}

// Below 0, 0 or above 0: the plain comparison of a field of two decoded records.
inline int Compare(const TLogRecord& a, const TLogRecord& b, TLogField field) {
    auto number = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
    auto time = [](double x, double y) { // values that are no number after every other
        if (std::isnan(x) || std::isnan(y)) return std::isnan(x) - std::isnan(y);
        return x < y ? -1 : x > y ? 1 : 0;
    };
    auto text = [](const QString& x, const QString& y) {
        const int c = QString::compare(x, y, Qt::CaseInsensitive);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    };
    switch (field) {
    case TLogField::JobNo: return number(a.JobNo, b.JobNo);
    case TLogField::Done: return number(a.Done, b.Done);
    case TLogField::Result: return text(a.Result, b.Result);
    case TLogField::FileName: return text(a.FileName, b.FileName);
    case TLogField::Method: return text(a.Method, b.Method);
    case TLogField::DestPath: return text(a.DestPath, b.DestPath);
    case TLogField::Submitted: return time(a.Submitted, b.Submitted);
    case TLogField::Processed: return time(a.Processed, b.Processed);
    case TLogField::Attempt: return number(a.Attempt, b.Attempt);
    case TLogField::UserName: return text(a.UserName, b.UserName);
    case TLogField::CommName: return text(a.CommName, b.CommName);
    case TLogField::CommParam: return text(a.CommParam, b.CommParam);
    }
    return 0;
}

// The record indexes in the order a list sorted by the field shows them; equal records in file
// order either way.
inline std::vector<int32_t> Order(const QList<TLogRecord>& stored, TLogField field,
                                  bool descending = false) {
    std::vector<int32_t> order(size_t(stored.size()));
    for (int i = 0; i < stored.size(); ++i)
        order[size_t(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const int c = Compare(stored[a], stored[b], field);
        return descending ? c > 0 : c < 0;
    });
    return order;
}
} // namespace logfixture
