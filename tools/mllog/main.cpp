// mllog: prints the records of a results log ("client.log", "server.log") as a table, one row per
// record, without running the program. An incomplete last record is reported and skipped.
//
//   mllog [--tsv] FILE...
#include "core/helpers.h"
#include "jobs/results_log.h"

#include <QCoreApplication>
#include <QFile>
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

int printFile(const QString& path, bool tsv) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mllog: %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray bytes = file.readAll();
    QList<QStringList> rows{Header};
    qsizetype at = 0;
    for (; at + LogLayout::RecordSize <= bytes.size(); at += LogLayout::RecordSize) {
        TLogRecord record;
        DecodeLogRecord(bytes.mid(at, LogLayout::RecordSize), record);
        rows << fields(record);
    }
    out(QString("%1: %2 record(s)\n").arg(path).arg(rows.size() - 1));
    if (tsv) {
        for (const QStringList& row : rows)
            out(row.join('\t') + '\n');
    } else {
        QList<int> widths(Header.size(), 0);
        for (const QStringList& row : rows)
            for (int i = 0; i < row.size(); ++i)
                widths[i] = qMax(widths[i], int(row[i].size()));
        for (const QStringList& row : rows) {
            QString line;
            for (int i = 0; i < row.size(); ++i)
                line += row[i].leftJustified(widths[i]) + (i + 1 < row.size() ? " | " : "");
            out(line.trimmed() + '\n');
        }
    }
    if (at < bytes.size())
        out(QString("%1: %2 trailing byte(s) of an incomplete record ignored\n")
                .arg(path)
                .arg(bytes.size() - at));
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
