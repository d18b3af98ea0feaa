// The results log: the 2112-byte record on disk, whole-record counting, reading runs of records,
// the size limit and clearing, and the order of a log by each field against the plain sort.
#include "core/helpers.h"
#include "core/settings.h"
#include "common/log_fixture.h"
#include "common/test_home.h"
#include "jobs/log_sort.h"
#include "jobs/results_log.h"
#include "platform/prompt.h"

#include <QFile>
#include <QTest>
#include <QtEndian>
#include <cstring>
#include <limits>

namespace {
TLogRecord sample(int jobNo) {
    TLogRecord r;
    r.JobNo = jobNo;
    r.Done = true;
    r.Result = "OK";
    r.FileName = "/data/report.pdf";
    r.Method = "SEND";
    r.DestPath = "IN\\";
    r.Submitted = DateTimeToDouble(QDateTime(QDate(2024, 3, 1), QTime(12, 0)));
    r.Processed = DateTimeToDouble(QDateTime(QDate(2024, 3, 1), QTime(18, 0)));
    r.Attempt = 3;
    r.UserName = "ALICE";
    r.CommName = "COM1";
    r.CommGUID = "{0000}";
    r.CommParam = "COM1,9600";
    r.ResultsFile = "/tmp/res.txt";
    return r;
}

// The length-prefixed string at an offset of a record as raw bytes.
QByteArray stringAt(const QByteArray& rec, int offset) {
    return rec.mid(offset + 1, uchar(rec[offset]));
}

double doubleAt(const QByteArray& rec, int offset) {
    const quint64 bits = qFromLittleEndian<quint64>(rec.constData() + offset);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void fillLog(const QString& path, int records) {
    QByteArray bytes;
    for (int i = 0; i < records; ++i)
        bytes += EncodeLogRecord(sample(i + 1));
    QVERIFY(WriteFile(path, bytes));
}
} // namespace

class TestResultsLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readerReadsRuns() {
        TestHome home(2);
        fillLog(home.file("server.log"), 600);
        TLogReader reader(home.file("server.log"), 256);
        QVERIFY(reader.Open());
        QCOMPARE(reader.Count(), 600);
        TLogRecord r;
        for (int i : {0, 255, 256, 599, 3, 598}) {
            QVERIFY(reader.Read(i, r));
            QCOMPARE(r.JobNo, i + 1);
        }
        QVERIFY(!reader.Record(600));
        QVERIFY(!reader.Record(-1));
        // Emptied while read: what was read stays readable, the rest is gone.
        QVERIFY(QFile::resize(home.file("server.log"), 10 * 2112));
        QVERIFY(reader.Read(598, r)); // still in the run read before
        QVERIFY(reader.Read(5, r));
        QVERIFY(!reader.Record(300));
    }

    void sortMatchesPlainOrder_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("log");
        const char* names[] = {"job number", "done",      "result",    "file name",
                               "method",     "dest path", "submitted", "processed",
                               "attempt",    "user name", "comm name", "comm param"};
        for (const char* log : {"varied", "edges"})
            for (int f = 0; f <= int(TLogField::CommParam); ++f)
                QTest::addRow("%s, %s", log, names[f]) << f << QString(log);
    }

    void sortMatchesPlainOrder() {
        QFETCH(int, field);
        QFETCH(QString, log);
        QList<TLogRecord> records;
        if (log == "varied") {
            records = logfixture::Records(3000, 7);
        } else {
            // Texts that agree for a key's length and more, are beginnings of one another, hold
            // NULs or differ only in case or in their last character; times that are no number.
            const QString longText = QString(200, 'x');
            const QStringList texts = {"",           "a",          "A",         QString("a") + QChar(0),
                                       "abcdefg",    "abcdefgh",   "ABCDEFGH",  QString("abcdefg") + QChar(0),
                                       "abcdefghijklmn", "abcdefghijklmnop", "ABCDEFGHIJKLMNO",
                                       longText + "b", longText + "a", longText + "B", longText,
                                       longText + "a", "é", "É", "f", "\U0001F600", "z"};
            const double nan = std::numeric_limits<double>::quiet_NaN();
            const double inf = std::numeric_limits<double>::infinity();
            const QList<double> times = {nan, 0.0, -0.0, -1.0, inf, -inf, 45000.5, -nan, 1e-300};
            for (int i = 0; i < 60; ++i) {
                TLogRecord r = sample(i % 7 - 3);
                r.Done = i % 3 == 0;
                r.Result = r.FileName = r.Method = r.DestPath = r.CommName = r.CommParam =
                    texts[i % texts.size()];
                r.UserName = texts[(i * 7) % texts.size()].left(30);
                r.Submitted = times[i % times.size()];
                r.Processed = times[(i * 5) % times.size()];
                r.Attempt = i % 2 ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
                records << r;
            }
        }
        TestHome home(2);
        QVERIFY(WriteFile(home.file("server.log"), logfixture::Bytes(records)));
        const QList<TLogRecord> stored = logfixture::Stored(records);
        const TLogField by = TLogField(field);
        TLogOrder order;
        QString error;
        QVERIFY2(SortLogFile(home.file("server.log"), int(records.size()), by, order, &error),
                 qPrintable(error));
        const std::vector<int32_t> expected = logfixture::Order(stored, by);
        QCOMPARE(order.records, expected);
        for (size_t i = 1; i < expected.size(); ++i)
            QCOMPARE(bool(order.tiedToPrevious[i]),
                     logfixture::Compare(stored[expected[i - 1]], stored[expected[i]], by) == 0);

        // Two records compared alone agree with the sort (a list puts a new record by it).
        const QByteArray bytes = logfixture::Bytes(records);
        auto at = [&](int i) { return bytes.constData() + qsizetype(i) * LogLayout::RecordSize; };
        for (int i = 0; i + 1 < stored.size(); i += 3) {
            const int j = (i * 7919) % int(stored.size());
            QCOMPARE(qBound(-1, CompareLogField(at(i), at(j), by), 1),
                     logfixture::Compare(stored[i], stored[j], by));
        }
    }

    void sortOfALogThatChanged() {
        TestHome home(2);
        fillLog(home.file("server.log"), 50);
        TLogOrder order;
        QString error;
        // Emptied since it was counted: no order, and why.
        QVERIFY(!SortLogFile(home.file("server.log"), 51, TLogField::FileName, order, &error));
        QVERIFY2(error.contains("fewer records"), qPrintable(error));
        QVERIFY(!SortLogFile(home.file("missing.log"), 1, TLogField::JobNo, order, &error));
        // Stopped from outside: no order.
        std::atomic<bool> cancel{true};
        QVERIFY(!SortLogFile(home.file("server.log"), 50, TLogField::JobNo, order, &error, &cancel));
        QVERIFY(SortLogFile(home.file("server.log"), 0, TLogField::JobNo, order, &error));
        QVERIFY(order.records.empty());
    }

    void recordFieldsAtTheirOffsets() {
        TestHome home(1);
        TQLog log(home.settings(), home.sink(), home.prompt());
        TLogRecord r = sample(-2);
        r.UserName = QString(29, 'U') + QChar(0x00E9) + "XYZ"; // the 2-byte é straddles byte 30
        r.Result = QString(300, 'R');
        QVERIFY(log.LogEntry(r));
        QCOMPARE(log.FileName, home.file("client.log"));
        const QByteArray f = ReadFile(log.FileName);
        QCOMPARE(f.size(), 2112);

        QCOMPARE(f.mid(0, 4), QByteArray::fromHex("feffffff")); // -2, little-endian
        QCOMPARE(int(f[4]), 1);
        QCOMPARE(uchar(f[5]), uchar(255));
        QCOMPARE(stringAt(f, 5), QByteArray(255, 'R'));
        QCOMPARE(stringAt(f, 261), QByteArray("/data/report.pdf"));
        QCOMPARE(stringAt(f, 517), QByteArray("SEND"));
        QCOMPARE(stringAt(f, 773), QByteArray("IN\\"));
        QCOMPARE(f.mid(1029, 3), QByteArray(3, '\0'));
        // 2024-03-01 12:00 is day 45352.5 after 1899-12-30, as an IEEE double, little-endian.
        QCOMPARE(f.mid(1032, 8), QByteArray::fromHex("000000001025e640"));
        QCOMPARE(doubleAt(f, 1032), 45352.5);
        QCOMPARE(doubleAt(f, 1040), 45352.75);
        QCOMPARE(f.mid(1048, 4), QByteArray::fromHex("03000000"));
        // 30 bytes at most, and é is not split: 29 bytes remain.
        QCOMPARE(stringAt(f, 1052), QByteArray(29, 'U'));
        QCOMPARE(f.mid(1082, 1), QByteArray(1, '\0')); // the field's last byte
        QCOMPARE(stringAt(f, 1083), QByteArray("COM1"));
        QCOMPARE(stringAt(f, 1339), QByteArray("{0000}"));
        QCOMPARE(stringAt(f, 1595), QByteArray("COM1,9600"));
        QCOMPARE(stringAt(f, 1851), QByteArray("/tmp/res.txt"));
        QCOMPARE(f.mid(2107, 5), QByteArray(5, '\0'));
        // Unused bytes after each text are zero.
        QCOMPARE(f.mid(261 + 1 + 16, 256 - 17), QByteArray(256 - 17, '\0'));

        TLogRecord back;
        QVERIFY(log.GetEntry(0, back));
        QCOMPARE(back.JobNo, -2);
        QCOMPARE(back.UserName, QString(29, 'U'));
        QCOMPARE(back.ResultsFile, r.ResultsFile);
        QCOMPARE(back.Processed, r.Processed);
        QCOMPARE(back.Attempt, 3);
        QCOMPARE(DoubleToDateTime(back.Submitted), QDateTime(QDate(2024, 3, 1), QTime(12, 0)));
    }

    void decodeIsSafeOnForeignBytes() {
        // Length bytes larger than their field, and bytes that are not UTF-8.
        QByteArray raw(2112, char(0xFF));
        TLogRecord r;
        QVERIFY(DecodeLogRecord(raw, r));
        QCOMPARE(r.UserName.isEmpty(), false);
        QVERIFY(r.UserName.size() <= 30);
        QVERIFY(r.Result.size() <= 255);
        QVERIFY(!DecodeLogRecord(raw.left(2111), r));
    }

    void tornTailCountsWholeRecords() {
        TestHome home(2);
        TQLog log(home.settings(), home.sink(), home.prompt());
        fillLog(home.file("server.log"), 2);
        QFile f(home.file("server.log"));
        QVERIFY(f.open(QIODevice::Append));
        f.write(EncodeLogRecord(sample(99)).left(700)); // a write cut short by a crash
        f.close();
        QCOMPARE(log.Count(), 2);
        QByteArray run;
        QCOMPARE(log.GetEntries(1, 5, run), 1);
        QCOMPARE(run, EncodeLogRecord(sample(2)));
        QCOMPARE(log.GetEntries(2, 5, run), 0);
        TLogReader reader(home.file("server.log"), 1);
        QVERIFY(reader.Open());
        QCOMPARE(reader.Count(), 2);
        QVERIFY(!reader.Record(2));

        // The next record lands on the record boundary, replacing the torn tail.
        QVERIFY(log.LogEntry(sample(3)));
        QCOMPARE(QFileInfo(home.file("server.log")).size(), 3 * 2112);
        TLogRecord r;
        QVERIFY(log.GetEntry(2, r));
        QCOMPARE(r.JobNo, 3);
    }

    void truncatedLogAndMissingFile() {
        TestHome home(1);
        TQLog log(home.settings(), home.sink(), home.prompt());
        TLogRecord r;
        QVERIFY(!log.GetEntry(0, r));
        QVERIFY(home.status().join('\n').contains("!TQLog.GetEntry: "));
        QVERIFY(!QFile::exists(home.file("client.log")));

        QVERIFY(WriteFile(home.file("client.log"), QByteArray(2000, 'x')));
        QCOMPARE(log.Count(), 0);
        home.clearStatus();
        QVERIFY(!log.GetEntry(0, r));
        QCOMPARE(home.status().size(), 1);
        QVERIFY(!log.GetEntry(-1, r));

        // Count creates the missing file.
        QVERIFY(QFile::remove(home.file("client.log")));
        QCOMPARE(log.Count(), 0);
        QVERIFY(QFile::exists(home.file("client.log")));
    }

    void limitCountsRecords() {
        TestHome home(1);
        home.settings().PutInt(MRL_MaxLogSize, 3);
        TQLog log(home.settings(), home.sink(), home.prompt());
        fillLog(home.file("client.log"), 3);
        // Three records do not exceed a limit of three: the fourth is appended.
        QVERIFY(log.LogEntry(sample(4)));
        QCOMPARE(log.Count(), 4);
        // Four do: the file is emptied and the new record becomes record 0; readers that hold
        // record indexes learn that they are gone.
        const quint64 resets = log.Resets();
        QVERIFY(log.LogEntry(sample(5)));
        QCOMPARE(log.Count(), 1);
        QCOMPARE(log.Resets(), resets + 1);
        TLogRecord r;
        QVERIFY(log.GetEntry(0, r));
        QCOMPARE(r.JobNo, 5);
    }

    void roleDecidesTheFile() {
        TestHome home(0);
        TQLog log(home.settings(), home.sink(), home.prompt());
        QCOMPARE(log.Count(), 0);
        QVERIFY(!log.LogEntry(sample(1)));
        home.setRole(1);
        QVERIFY(log.LogEntry(sample(1)));
        home.setRole(2);
        QVERIFY(log.LogEntry(sample(2)));
        QCOMPARE(log.FileName, home.file("server.log"));
        QCOMPARE(QFileInfo(home.file("client.log")).size(), 2112);
        QCOMPARE(QFileInfo(home.file("server.log")).size(), 2112);
    }

    void clearAsks() {
        TestHome home(1);
    TScriptedPrompt& prompt = home.prompt();
        TQLog log(home.settings(), home.sink(), home.prompt());
        QVERIFY(!log.Clear(true)); // an empty log: nothing asked
        QCOMPARE(prompt.boxes.size(), 0);

        fillLog(home.file("client.log"), 2);
        prompt.answers << TBoxResult::No;
        QVERIFY(!log.Clear(true));
        QCOMPARE(log.Count(), 2);
        QCOMPARE(prompt.boxes.size(), 1);
        QCOMPARE(prompt.boxes[0].text, QString("Are you sure you want to clear all log entries?"));
        QCOMPARE(prompt.boxes[0].icon, TBoxIcon::Warning);
        QCOMPARE(prompt.boxes[0].buttons, TBoxButtons::YesNo);

        const quint64 resets = log.Resets();
        prompt.answers << TBoxResult::Yes;
        QVERIFY(log.Clear(true));
        QCOMPARE(log.Count(), 0);
        QCOMPARE(log.Resets(), resets + 1);

        fillLog(home.file("client.log"), 1);
        QVERIFY(log.Clear(false));
        QCOMPARE(prompt.boxes.size(), 2);
        QCOMPARE(QFileInfo(home.file("client.log")).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestResultsLog)
#include "results_log_test.moc"
