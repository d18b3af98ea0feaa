// The item models over the consoles' lists: a refresh keeps rows (and so a view's selection)
// matched by key through removals, moves and inserts; the sort values order sizes, numbers and
// times by value, not by their text. The results log's model over a log of thousands of records:
// its rows read from the file, sorted by each kind of column at once or in the background, rows
// and selection kept while records are logged, the log emptied at its limit or cut behind its
// back. (Selection through a console's refresh: tests/gui.)
#include "common/log_fixture.h"
#include "console_world.h"
#include "consoles/client_console.h"
#include "consoles/list_models.h"
#include "consoles/server_console.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTest>

namespace {
// A model whose rows the test sets: key and value.
class ScriptedModel : public TListModel {
public:
    ScriptedModel() : TListModel({{"Key", 60}, {"Value", 80}}, nullptr) {}
    QList<QPair<QString, QString>> rows;
    void set(const QStringList& keys, const QString& value = "v") {
        rows.clear();
        for (const QString& key : keys)
            rows.append({key, value});
        refresh();
    }
    void refresh() override {
        QList<TRow> list;
        for (const auto& [key, value] : rows)
            list.append({key, {key, value}, {}});
        sync(std::move(list));
    }
    QStringList keys() const {
        QStringList out;
        for (int i = 0; i < rowCount(); ++i)
            out << keyOf(i);
        return out;
    }
};

// Each row's key with how often it came before: what a refresh matches rows by.
QStringList identities(const QStringList& keys) {
    QStringList out;
    QHash<QString, int> seen;
    for (const QString& key : keys)
        out << key + "#" + QString::number(seen[key]++);
    return out;
}

void queueJob(const QString& srcFile, const QString& size, const QDateTime& date) {
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, srcFile);
    Put(job, qkSize, size);
    Put(job, qkDate, DateTimeToStr(date));
    Put(job, qkUser, "BOB");
    Queue()->AddItem();
    Queue()->SetItem(Queue()->Count() - 1, &job);
    Queue()->Save();
}

// The display texts of a column in the order the model shows them.
QStringList shownColumn(const QAbstractItemModel& proxy, int column) {
    QStringList out;
    for (int i = 0; i < proxy.rowCount(); ++i)
        out << proxy.index(i, column).data().toString();
    return out;
}

const QDateTime Dec31(QDate(2022, 12, 31), QTime(23, 0));
const QDateTime Feb1(QDate(2023, 2, 1), QTime(8, 0));
const QDateTime Oct1(QDate(2023, 10, 1), QTime(9, 30));
} // namespace

class TestListModels : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sync_data();
    void sync();
    void syncAnnouncesChangesOnly();
    void queueSortsByValue();
    void logSortsByValue();
    void logModel_data();
    void logModel();
    void logCutBehindItsBack();
};

void TestListModels::sync_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("append") << QStringList{"a", "b"} << QStringList{"a", "b", "c"};
    QTest::newRow("insert at the front") << QStringList{"b", "c"} << QStringList{"a", "b", "c"};
    QTest::newRow("from empty") << QStringList{} << QStringList{"a", "b", "c"};
    QTest::newRow("clear") << QStringList{"a", "b", "c"} << QStringList{};
    QTest::newRow("runs removed") << QStringList{"a", "b", "c", "d", "e", "f"}
                                  << QStringList{"a", "d", "f"};
    QTest::newRow("reversed") << QStringList{"a", "b", "c", "d"} << QStringList{"d", "c", "b", "a"};
    QTest::newRow("mixed") << QStringList{"a", "b", "c", "d", "e"}
                           << QStringList{"e", "b", "x", "a", "y"};
    QTest::newRow("repeated keys") << QStringList{"a", "a", "b"} << QStringList{"a", "b", "a", "a"};
    QTest::newRow("repeated key dropped") << QStringList{"a", "b", "a"} << QStringList{"a", "b"};
}

void TestListModels::sync() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    ScriptedModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.set(before);
    QCOMPARE(model.keys(), before);
    QList<QPersistentModelIndex> held;
    for (int i = 0; i < model.rowCount(); ++i)
        held << QPersistentModelIndex(model.index(i, 1));

    model.set(after);
    QCOMPARE(model.keys(), after);
    // Every row that stayed is still held where it went; rows that went are no longer held.
    const QStringList old = identities(before);
    const QStringList now = identities(after);
    for (int i = 0; i < held.size(); ++i) {
        const int expected = int(now.indexOf(old[i]));
        QCOMPARE(held[i].isValid() ? held[i].row() : -1, expected);
        if (expected >= 0) QCOMPARE(held[i].column(), 1);
    }
}

void TestListModels::syncAnnouncesChangesOnly() {
    ScriptedModel model;
    model.set({"a", "b", "c"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.refresh();
    QCOMPARE(changed.count() + inserted.count() + removed.count() + moved.count(), 0);

    model.rows[1].second = "new";
    model.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), model.index(1, 0));
    QCOMPARE(changed[0][1].toModelIndex(), model.index(1, 1));
    QCOMPARE(model.index(1, 1).data().toString(), QString("new"));
    // A run of new rows is one insert, a run of rows gone one removal.
    model.set({"a", "b", "c", "d", "e", "f"}, "new");
    model.set({"a", "f"}, "new");
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(reset.count(), 0);
}

void TestListModels::queueSortsByValue() {
    ConsoleWorld w(1);
    TfraClient client(w.services());
    queueJob("a.txt", "9", Oct1);
    queueJob("b.txt", "100", Dec31);
    queueJob("c.txt", "25", Feb1);
    client.UpdateQueueList();
    TQueueModel model(client);
    QCOMPARE(model.columns().size(), 9);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(TListModel::SortRole);

    proxy.sort(2, Qt::AscendingOrder);
    QCOMPARE(shownColumn(proxy, 2), QStringList({"9", "25", "100"}));
    proxy.sort(5, Qt::AscendingOrder);
    QCOMPARE(shownColumn(proxy, 1), QStringList({"b.txt", "c.txt", "a.txt"}));
    // The texts alone would sort otherwise (else this would prove nothing in this locale).
    QStringList texts = shownColumn(proxy, 5);
    texts.sort();
    QVERIFY2(texts != shownColumn(proxy, 5), qPrintable(texts.join(" | ")));
}

void TestListModels::logSortsByValue() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        TfraClient client(w.services());
        TfraServer server(w.services());
        TConsoleBase& console = role == 1 ? static_cast<TConsoleBase&>(client) : server;
        struct Entry {
            int job;
            QDateTime submitted;
            int attempt;
        };
        for (const Entry& e : {Entry{10, Oct1, 2}, Entry{9, Dec31, 10}, Entry{100, Feb1, 1}}) {
            TLogRecord r;
            r.JobNo = e.job;
            r.FileName = QString::number(e.job) + ".txt";
            r.Submitted = DateTimeToDouble(e.submitted);
            // Processed a few seconds apart within one minute.
            r.Processed = DateTimeToDouble(Oct1.addSecs(100 - e.job / 10));
            r.Attempt = e.attempt;
            QVERIFY(Log()->LogEntry(r));
        }
        console.UpdateLogList();
        TLogModel model(console);
        const int submitted = role == 1 ? 7 : 6;
        QCOMPARE(model.headerData(submitted, Qt::Horizontal).toString(), QString("Submitted"));
        QCOMPARE(model.data(model.index(2, submitted), TListModel::SortRole).toDateTime(), Feb1);
        QCOMPARE(model.data(model.index(2, 0), TListModel::SortRole).toInt(), 100);

        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(shownColumn(model, 0), QStringList({"9", "10", "100"}));
        model.sort(submitted, Qt::AscendingOrder);
        QCOMPARE(shownColumn(model, 0), QStringList({"9", "100", "10"}));
        model.sort(submitted + 1, Qt::AscendingOrder);
        QCOMPARE(shownColumn(model, 0), QStringList({"100", "10", "9"}));
        if (role == 1) {
            model.sort(4, Qt::AscendingOrder);
            QCOMPARE(shownColumn(model, 4), QStringList({"1", "2", "10"}));
        }
        model.sort(-1);

        // A job logged twice keeps its rows apart; clearing the log empties the list.
        TLogRecord again;
        again.JobNo = 10;
        again.Attempt = 3;
        QVERIFY(Log()->LogEntry(again));
        console.ShowLogEntry(again);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.rowOfKey("10"), 0);
        QCOMPARE(model.index(3, 1).data().toString(), QString("NO"));
        QCOMPARE(model.keyOf(3), QString("10"));
        console.btLogClearClick(false);
        QCOMPARE(model.rowCount(), 0);
    }
}

void TestListModels::logModel_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<bool>("background");
    QTest::newRow("client, file order") << 1 << -1 << false << false;
    QTest::newRow("client, file name up") << 1 << 3 << false << false;
    QTest::newRow("client, attempt down, background") << 1 << 4 << true << true;
    QTest::newRow("client, parameters down") << 1 << 11 << true << false;
    QTest::newRow("server, result down") << 2 << 2 << true << false;
    QTest::newRow("server, submitted up, background") << 2 << 6 << false << true;
    QTest::newRow("server, user name up, background") << 2 << 8 << false << true;
    QTest::newRow("server, done down") << 2 << 1 << true << false;
}

void TestListModels::logModel() {
    QFETCH(int, role);
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(bool, background);
    ConsoleWorld w(role);
    TfraClient client(w.services());
    TfraServer server(w.services());
    TConsoleBase& console = role == 1 ? static_cast<TConsoleBase&>(client) : server;
    QList<TLogRecord> records = logfixture::Records(3000, quint32(role * 100 + column));
    QVERIFY(WriteFile(w.home.file(role == 1 ? "client.log" : "server.log"),
                      logfixture::Bytes(records)));
    console.UpdateLogList();
    TLogModel model(console);
    model.setBackgroundSortFrom(background ? 100 : 1000000);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy sorted(&model, &TLogModel::sorted);
    const TLogField field = TLogModel::Field(TRole(role), column);
    const Qt::SortOrder order = descending ? Qt::DescendingOrder : Qt::AscendingOrder;
    // The rows in the order asked for, each showing its record's texts.
    auto shownOrder = [&]() {
        std::vector<int32_t> out;
        for (int row = 0; row < model.rowCount(); ++row)
            out.push_back(model.sourceRow(row));
        return out;
    };
    auto expected = [&]() {
        std::vector<int32_t> out;
        if (column < 0)
            for (int i = 0; i < records.size(); ++i)
                out.push_back(i);
        else
            out = logfixture::Order(logfixture::Stored(records), field, descending);
        return out;
    };
    QCOMPARE(model.rowCount(), 3000);
    const QList<TLogRecord> stored = logfixture::Stored(records);
    for (int row : {0, 1499, 2999})
        QCOMPARE(model.index(row, 3).data().toString(), stored[row].FileName);

    // The operator holds a row; it is sorted (records logged while a sort runs in the background
    // find their places when it is done).
    QPersistentModelIndex held = model.index(1234, 2);
    const int heldRecord = 1234;
    model.sort(column, order);
    auto log = [&](int job) {
        TLogRecord r = logfixture::Records(1, quint32(job))[0];
        r.JobNo = job;
        QVERIFY(Log()->LogEntry(r));
        console.ShowLogEntry(r);
        records << r;
    };
    if (background && column >= 0) {
        QVERIFY(model.sorting());
        log(5000);
        QVERIFY(sorted.wait(20000));
        QVERIFY(!model.sorting());
    }
    QCOMPARE(model.sortColumn(), column);
    QCOMPARE(shownOrder(), expected());
    QCOMPARE(model.sourceRow(held.row()), heldRecord);
    QCOMPARE(held.column(), 2);
    QCOMPARE(model.shownRow(heldRecord), held.row());

    // Records logged while it shows: each where it belongs, the held row still held.
    for (int job = 6000; job < 6005; ++job)
        log(job);
    QCOMPARE(model.rowCount(), int(records.size()));
    QCOMPARE(shownOrder(), expected());
    QCOMPARE(model.sourceRow(held.row()), heldRecord);

    if (column >= 0) {
        // The other way round, and back to file order, the row still held.
        model.sort(column, descending ? Qt::AscendingOrder : Qt::DescendingOrder);
        descending = !descending;
        QCOMPARE(shownOrder(), expected());
        QCOMPARE(model.sourceRow(held.row()), heldRecord);
        model.sort(-1);
        QCOMPARE(model.sourceRow(held.row()), heldRecord);
        QCOMPARE(held.row(), heldRecord);
        model.sort(column, order);
        descending = order == Qt::DescendingOrder;
        if (background) QVERIFY(sorted.wait(20000));
        QCOMPARE(shownOrder(), expected());
    }

    // Emptied at its size limit, the log shows its new first record alone; nothing is held.
    w.home.settings().PutInt(MRL_MaxLogSize, int(records.size()) - 1);
    records.clear();
    log(7000);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, 0).data().toString(), QString("7000"));
    QVERIFY(!held.isValid());
    if (background && column >= 0) QVERIFY(!model.sorting()); // one record is sorted at once
    QCOMPARE(model.sortColumn(), column);
    log(7001);
    QCOMPARE(shownOrder(), expected());
    // Cleared: no rows.
    console.btLogClearClick(false);
    QCOMPARE(model.rowCount(), 0);
}

void TestListModels::logCutBehindItsBack() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    QVERIFY(WriteFile(w.home.file("server.log"), logfixture::Bytes(logfixture::Records(3000))));
    server.UpdateLogList();
    TLogModel model(server);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 3000);
    QVERIFY(QFile::resize(w.home.file("server.log"), 100 * 2112 + 7));
    // The rows beyond the file's end read as empty; the console counts again and the rows follow.
    QCOMPARE(model.index(2500, 0).data().toString(), QString());
    QTRY_COMPARE(model.rowCount(), 100);
    QVERIFY(!model.index(99, 0).data().toString().isEmpty());
}

QTEST_GUILESS_MAIN(TestListModels)
#include "list_models_test.moc"
