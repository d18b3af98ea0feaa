// mllog: prints the records of a results log ("client.log", "server.log") as a table, one row per
// record, without running the program. An incomplete last record is reported and skipped.
//
//   mllog [--tsv] FILE...
#include "core/helpers.h"
#include "jobs/results_log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {
void out(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString timeText(double days) {
    if (days == 0) return QStringLiteral("-");
    const QDateTime value = DoubleToDateTime(days);
    return value.isValid() ? value.toString("yyyy-MM-dd hh:mm:ss") : QStringLiteral("?");
}

QStringList fields(const TLogRecord& r) {
    return {QString::number(r.JobNo),
            r.Done ? "YES" : "NO",
            r.Result,
            r.FileName,
            QString::number(r.Attempt),
            r.Method,
            r.DestPath,
            timeText(r.Submitted),
            timeText(r.Processed),
            r.UserName,
            r.CommName,
            r.CommParam};
}

const QStringList Header = {"File #",    "Done",      "Result",           "File name",
                            "Attempt",   "Method",    "Destination Path", "Submitted",
                            "Processed", "User Name", "Comm Device",      "Parameters"};

// Reads the log front to back, a run of records at a time: a log of millions of records is
// printed in the memory of a few. The table's widths take a first pass over the file.
int printFile(const QString& path, bool tsv) {
    TLogReader reader(path);
    if (!reader.Open()) {
        std::fprintf(stderr, "mllog: %s: %s\n", qPrintable(path), qPrintable(reader.ErrorString()));
        return 1;
    }
    const int count = reader.Count();
    const qint64 tail = QFileInfo(path).size() - qint64(count) * LogLayout::RecordSize;
    out(QString("%1: %2 record(s)\n").arg(path).arg(count));
    QList<int> widths(Header.size(), 0);
    auto widen = [&](const QStringList& row) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], int(row[i].size()));
    };
    auto print = [&](const QStringList& row) {
        if (tsv) {
            out(row.join('\t') + '\n');
            return;
        }
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += row[i].leftJustified(widths[i]) + (i + 1 < row.size() ? " | " : "");
        out(line.trimmed() + '\n');
    };
    TLogRecord record;
    if (!tsv) {
        widen(Header);
        for (int i = 0; i < count && reader.Read(i, record); ++i)
            widen(fields(record));
    }
    print(Header);
    int printed = 0;
    for (; printed < count && reader.Read(printed, record); ++printed)
        print(fields(record));
    if (printed < count) {
        std::fprintf(stderr, "mllog: %s: read %d of %d record(s): %s\n", qPrintable(path), printed,
                     count, qPrintable(reader.ErrorString()));
        return 1;
    }
    if (tail > 0)
        out(QString("%1: %2 trailing byte(s) of an incomplete record ignored\n").arg(path).arg(tail));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool tsv = args.removeAll("--tsv") > 0;
    if (args.isEmpty() || args.contains("--help")) {
        std::fprintf(stderr, "usage: mllog [--tsv] FILE...\n"
                             "Prints the records of a Marrowline results log as a table.\n");
        return args.isEmpty() ? 2 : 0;
    }
    int status = 0;
    for (const QString& path : args)
        status |= printFile(path, tsv);
    return status;
}
