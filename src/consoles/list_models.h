#pragma once
// Item models over the lists a console holds (the queue, the results log and the server's
// operations), for the views to show. Each cell shows the console's text; the sort role holds the
// value behind it (numbers as numbers, times as date-times), so a view sorting by it orders sizes
// and dates correctly. A refresh matches rows by their key (the job number; the device of an
// operation row) and turns the difference into row removals, moves, inserts and data changes, so
// a view keeps its selection and current row across it.
#include "core/settings.h"
#include "jobs/log_sort.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class TConsoleBase;
class TfraServer;

// One column of a list: its caption and its initial width in pixels.
struct TListColumn {
    QString caption;
    int width;
};

class TListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // data(): the value a view sorts by.
    static constexpr int SortRole = Qt::UserRole;
    // data(): the key the row is matched by on a refresh.
    static constexpr int KeyRole = Qt::UserRole + 1;
    // headerData() of a column: its initial width in pixels.
    static constexpr int WidthRole = Qt::UserRole + 2;
    // The width of the columns that have none of their own.
    static constexpr int DefaultWidth = 60;

    const QList<TListColumn>& columns() const { return mColumns; }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The first row with this key, or -1.
    int rowOfKey(const QString& key) const;
    // The key of a row; empty outside the rows.
    virtual QString keyOf(int row) const;
    // True when the model orders its rows itself (sort()); a view then shows it as it is, without
    // sorting it through a proxy, and names rows to the outside by sourceRow().
    virtual bool sortsItself() const { return false; }
    // The row of the console's list (its source) that row `row` shows, and the other way round
    // (-1 for none): the same row unless the model sorts itself.
    virtual int sourceRow(int row) const { return row; }
    virtual int shownRow(int sourceRow) const { return sourceRow; }
    // True while a refresh changes the rows (a view ignores the selection changes it causes).
    bool refreshing() const { return mRefreshing; }

    // Reads the rows from the console again.
    virtual void refresh() = 0;

protected:
    struct TRow {
        QString key;
        QStringList texts;
        QVariantList sortValues; // one per text; a missing one sorts by the text
    };
    TListModel(QList<TListColumn> columns, QObject* parent);
    // Brings the rows to `rows` in that order, matching old and new rows by key.
    void sync(QList<TRow> rows);

private:
    struct TEntry {
        TRow row;
        QString id; // the key, with its occurrence number when an earlier row has the same key
    };
    // Replaces the row's values, announcing the change when there is one.
    void update(int index, TRow&& row);

    QList<TListColumn> mColumns;
    QList<TEntry> mEntries;
    bool mRefreshing = false;
};

// The queue of either role: one row per queued job, keyed by job number. Follows the console's
// queueChanged.
class TQueueModel : public TListModel {
    Q_OBJECT
public:
    explicit TQueueModel(TConsoleBase& console, QObject* parent = nullptr);
    // The columns of a role's queue.
    static QList<TListColumn> Columns(TRole role);
    void refresh() override;

private:
    QPointer<TConsoleBase> mConsole;
};

// The results log of either role: one row per record of the file, read when shown (the console's
// rows), keyed by job number. Follows the console's logChanged: records added become rows
// inserted where they belong, so a view keeps its selection; a log read anew (cleared, emptied at
// its size limit) resets the rows. Sorts itself by a column over the whole log (see SortLogFile):
// the order is worked out when the operator first sorts, on a thread of its own for a long log,
// and the rows take it when it is ready; until then they keep their order.
class TLogModel : public TListModel {
    Q_OBJECT
public:
    explicit TLogModel(TConsoleBase& console, QObject* parent = nullptr);
    ~TLogModel() override;
    static QList<TListColumn> Columns(TRole role);
    // The record field a role's column shows.
    static TLogField Field(TRole role, int column);
    void refresh() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString keyOf(int row) const override;
    bool sortsItself() const override { return true; }
    // The record a row shows, and the row of a record.
    int sourceRow(int row) const override;
    int shownRow(int sourceRow) const override;
    // Column -1: file order. Equal rows keep their file order either way.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The column and order the rows show now (-1: file order).
    int sortColumn() const { return mSortColumn; }
    Qt::SortOrder sortOrder() const { return mSortOrder; }
    // True while an order is worked out on the sort's own thread.
    bool sorting() const { return mJob != nullptr; }
    // Logs of more records than this are sorted on a thread of their own (a few hundred
    // milliseconds a million records and more: the main thread serves every port).
    void setBackgroundSortFrom(int records) { mBackgroundFrom = records; }

Q_SIGNALS:
    // The rows took a new order.
    void sorted();

private:
    struct TSortJob;
    // Follows the console's rows.
    void follow();
    void reset();
    int recordAt(int row) const;
    // Works out the order of the column asked for last: at once or on the sort's thread.
    void startSort();
    void cancelSort();
    void finishSort(quint64 serial, bool ok, const QString& error, TLogOrder& order);
    // Takes an ascending order of the first `sortedCount` records as the rows' order, in the
    // order asked for, the records logged since put in their places.
    void applyOrder(int column, TLogOrder&& order, int sortedCount);
    void showFileOrder();
    // Runs `change`, a new order of the rows, as a change of the layout: held indexes follow
    // their records.
    void relayout(const std::function<void()>& change);
    // Equal rows in runs: reverses the runs, keeping each run's own order.
    void reverseRuns();
    // The row a record logged after the others goes to in the current order.
    int placeOf(int record, bool& tied);

    QPointer<TConsoleBase> mConsole;
    TRole mRole;
    int mCount = 0;
    quint64 mGeneration = 0;
    int mSortColumn = -1;
    Qt::SortOrder mSortOrder = Qt::AscendingOrder;
    // While sorted: the record of each row, and whether a row's record equals the row's before.
    std::vector<int32_t> mOrder;
    std::vector<bool> mTied;
    // What was asked for last.
    int mWantColumn = -1;
    Qt::SortOrder mWantOrder = Qt::AscendingOrder;
    int mBackgroundFrom = 20000;
    std::unique_ptr<TSortJob> mJob;
    quint64 mJobSerial = 0;
};

// The server's operations: one row per server engine, keyed by its device. Follows the
// console's operationsChanged.
class TOperationsModel : public TListModel {
    Q_OBJECT
public:
    explicit TOperationsModel(TfraServer& server, QObject* parent = nullptr);
    static QList<TListColumn> Columns();
    void refresh() override;

private:
    QPointer<TfraServer> mServer;
};
