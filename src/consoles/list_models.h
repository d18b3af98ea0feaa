#pragma once
// Item models over the lists a console holds (the queue, the results log and the server's
// operations), for the views to show. Each cell shows the console's text; the sort role holds the
// value behind it (numbers as numbers, times as date-times), so a view sorting by it orders sizes
// and dates correctly. A refresh matches rows by their key (the job number; the device of an
// operation row) and turns the difference into row removals, moves, inserts and data changes, so
// a view keeps its selection and current row across it.
#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

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
    // The width of the columns designed without one.
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
    QString keyOf(int row) const;
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
    // The columns of a role's queue (1 client, 2 server).
    static QList<TListColumn> Columns(int role);
    void refresh() override;

private:
    QPointer<TConsoleBase> mConsole;
};

// The results log of either role: one row per record, keyed by job number (a job logged more
// than once is told apart by its order). Follows the console's logChanged.
class TLogModel : public TListModel {
    Q_OBJECT
public:
    explicit TLogModel(TConsoleBase& console, QObject* parent = nullptr);
    static QList<TListColumn> Columns(int role);
    void refresh() override;

private:
    QPointer<TConsoleBase> mConsole;
    int mRole;
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
