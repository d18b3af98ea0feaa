// The results log as read back from disk: any bytes (a torn tail, damaged records, impossible
// times and lengths) are read, listed, sorted and exported without harm; a record written back
// reads the same; a new record is appended after the whole records, whatever the tail held.
#include "consoles/client_console.h"
#include "consoles/list_models.h"
#include "jobs/log_sort.h"
#include "jobs/results_log.h"
#include "fuzz_context.h"

#include <QFile>
#include <cstring>

namespace {
bool same(const TLogRecord& a, const TLogRecord& b) {
    auto bits = [](double d) {
        quint64 u;
        std::memcpy(&u, &d, sizeof u);
        return u;
    };
    return a.JobNo == b.JobNo && a.Done == b.Done && a.Result == b.Result &&
           a.FileName == b.FileName && a.Method == b.Method && a.DestPath == b.DestPath &&
           bits(a.Submitted) == bits(b.Submitted) && bits(a.Processed) == bits(b.Processed) &&
           a.Attempt == b.Attempt && a.UserName == b.UserName && a.CommName == b.CommName &&
           a.CommGUID == b.CommGUID && a.CommParam == b.CommParam &&
           a.ResultsFile == b.ResultsFile;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::App();
    TAppContext& ctx = fuzz::Context(1);
    static TfraClient* console = [&] {
        auto* c = new TfraClient(ctx.ConsoleServices(nullptr));
        return c;
    }();
    static TLogModel model(*console);
    const QString home = fuzz::Home();
    const QString path = home + "client.log";
    const QByteArray bytes = fuzz::Bytes(data, size);
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "not written");
        file.write(bytes);
    }

    TQLog& log = *ctx.log;
    log.SetFileName();
    const int count = log.Count();
    FUZZ_CHECK(count == int(bytes.size() / LogLayout::RecordSize), QString::number(count));
    for (int i = 0; i < count; ++i) {
        TLogRecord first, second, third;
        FUZZ_CHECK(log.GetEntry(i, first), "a whole record not read");
        // Stored once, a record is in its normal form: storing it again changes nothing.
        FUZZ_CHECK(DecodeLogRecord(EncodeLogRecord(first), second), "not decoded");
        FUZZ_CHECK(DecodeLogRecord(EncodeLogRecord(second), third), "not decoded");
        FUZZ_CHECK(same(second, third), "a stored record changes when stored again");
        FUZZ_CHECK(second.UserName.toUtf8().size() <= LogLayout::UserNameMax, "user name");
    }

    // The console's list and the view's model over it: every cell, shown and sorted.
    console->UpdateLogList();
    FUZZ_CHECK(console->logRows().count() == count, "log rows");
    model.refresh();
    FUZZ_CHECK(model.rowCount() == count, "model rows");
    for (int r = 0; r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c) {
            model.data(model.index(r, c), Qt::DisplayRole);
            model.data(model.index(r, c), TListModel::SortRole);
        }
    // Sorted by any column, the rows hold every record once, in order by that column, equal
    // ones in file order; the order stands whatever the bytes (times that are no numbers,
    // texts that are no UTF-8).
    const QByteArray whole = bytes.left(qsizetype(count) * LogLayout::RecordSize);
    auto recordBytes = [&](int record) {
        return whole.constData() + qsizetype(record) * LogLayout::RecordSize;
    };
    const int column = count > 0 ? int(uchar(bytes[0])) % model.columnCount() : 1;
    const Qt::SortOrder order = count > 0 && (uchar(bytes[1]) & 1) ? Qt::DescendingOrder
                                                                   : Qt::AscendingOrder;
    model.sort(column, order);
    FUZZ_CHECK(model.rowCount() == count && model.sortColumn() == column, "not sorted");
    const TLogField field = TLogModel::Field(RoleClient, column);
    QList<bool> seen(count, false);
    for (int r = 0; r < count; ++r) {
        const int record = model.sourceRow(r);
        FUZZ_CHECK(record >= 0 && record < count && !seen[record], "a record missing or twice");
        seen[record] = true;
        if (r == 0) continue;
        const int previous = model.sourceRow(r - 1);
        int cmp = CompareLogField(recordBytes(previous), recordBytes(record), field);
        if (order == Qt::DescendingOrder) cmp = -cmp;
        FUZZ_CHECK(cmp < 0 || (cmp == 0 && previous < record), "rows out of order");
    }
    model.sort(-1);
    FUZZ_CHECK(count == 0 || model.sourceRow(count - 1) == count - 1, "file order not back");
    fuzz::Prompt().fileAnswers = {home + "export.txt"};
    console->btLogExpClick();

    // A new record goes after the whole records: a torn tail is dropped, nothing else.
    TLogRecord added;
    added.JobNo = 4242;
    added.Result = QStringLiteral("File done.");
    added.FileName = QStringLiteral("added.bin");
    if (count < ctx.settings.GetInt(MRL_MaxLogSize)) {
        FUZZ_CHECK(log.LogEntry(added), "not appended");
        FUZZ_CHECK(log.Count() == count + 1, "appended record not counted");
        TLogRecord back;
        FUZZ_CHECK(log.GetEntry(count, back) && back.JobNo == 4242 && back.FileName == "added.bin",
                   "appended record differs");
        for (int i = 0; i < count; ++i) {
            TLogRecord before;
            FUZZ_CHECK(log.GetEntry(i, before), "an old record lost");
        }
    }
    return 0;
}
