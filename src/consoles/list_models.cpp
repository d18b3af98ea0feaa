#include "consoles/list_models.h"

#include "consoles/console_base.h"
#include "consoles/server_console.h"
#include "core/helpers.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

namespace {
constexpr int W = TListModel::DefaultWidth;

// A number column's value; the text itself when it is no number.
QVariant numberValue(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok ? QVariant(value) : QVariant(text);
}

QVariant timeValue(double days) {
    return DoubleToDateTime(days);
}

// The positions of the raw values in a role's queue and log rows (see the role's columns).
constexpr int QueueNumber = 0, QueueSize = 2, QueueSubmitted = 5;
constexpr int LogNumber = 0;
constexpr int ClientLogAttempt = 4;
int logSubmitted(int role) {
    return role == 1 ? 7 : 6;
}
} // namespace

// ---- TListModel ----

TListModel::TListModel(QList<TListColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), mColumns(std::move(columns)) {}

int TListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(mEntries.size());
}

int TListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(mColumns.size());
}

QVariant TListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TRow& row = mEntries[index.row()].row;
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return row.texts.value(column);
    case SortRole: {
        const QVariant value = row.sortValues.value(column);
        return value.isValid() ? value : QVariant(row.texts.value(column));
    }
    case KeyRole:
        return row.key;
    default:
        return {};
    }
}

QVariant TListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= mColumns.size()) return {};
    if (role == Qt::DisplayRole) return mColumns[section].caption;
    if (role == WidthRole) return mColumns[section].width;
    // A header clicked for the first time sorts upwards.
    if (role == Qt::InitialSortOrderRole) return Qt::AscendingOrder;
    return {};
}

int TListModel::rowOfKey(const QString& key) const {
    for (int i = 0; i < mEntries.size(); ++i)
        if (mEntries[i].row.key == key) return i;
    return -1;
}

QString TListModel::keyOf(int row) const {
    return row >= 0 && row < mEntries.size() ? mEntries[row].row.key : QString();
}

void TListModel::update(int index, TRow&& row) {
    TRow& current = mEntries[index].row;
    if (current.texts == row.texts && current.sortValues == row.sortValues) return;
    current = std::move(row);
    Q_EMIT dataChanged(this->index(index, 0), this->index(index, int(mColumns.size()) - 1));
}

void TListModel::sync(QList<TRow> rows) {
    mRefreshing = true;
    // Identities: a key that appears again is told apart by how often it came before.
    QList<TEntry> wanted;
    wanted.reserve(rows.size());
    QHash<QString, int> seen;
    for (TRow& row : rows) {
        const int occurrence = seen[row.key]++;
        QString id =
            occurrence == 0 ? row.key : row.key + QChar(0x1F) + QString::number(occurrence);
        wanted.append({std::move(row), std::move(id)});
    }
    QSet<QString> wantedIds;
    for (const TEntry& entry : wanted)
        wantedIds.insert(entry.id);

    // Rows that are gone, a run of neighbours at a time, from the last.
    for (int last = int(mEntries.size()) - 1; last >= 0;) {
        if (wantedIds.contains(mEntries[last].id)) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !wantedIds.contains(mEntries[first - 1].id))
            --first;
        beginRemoveRows(QModelIndex(), first, last);
        mEntries.remove(first, last - first + 1);
        endRemoveRows();
        last = first - 1;
    }

    // Every row left is wanted: walk the new order, moving rows up into place and inserting the
    // new ones a run at a time.
    QSet<QString> present;
    for (const TEntry& entry : mEntries)
        present.insert(entry.id);
    for (int i = 0; i < wanted.size();) {
        const QString& id = wanted[i].id;
        if (i < mEntries.size() && mEntries[i].id == id) {
            update(i, std::move(wanted[i].row));
            ++i;
            continue;
        }
        if (present.contains(id)) {
            int from = i + 1;
            while (mEntries[from].id != id)
                ++from;
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), i);
            mEntries.move(from, i);
            endMoveRows();
            update(i, std::move(wanted[i].row));
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < wanted.size() && !present.contains(wanted[end].id))
            ++end;
        beginInsertRows(QModelIndex(), i, end - 1);
        for (int k = i; k < end; ++k)
            mEntries.insert(k, std::move(wanted[k]));
        endInsertRows();
        i = end;
    }
    mRefreshing = false;
}

// ---- TQueueModel ----

QList<TListColumn> TQueueModel::Columns(int role) {
    if (role == 1)
        return {{"File #", W},        {"File name", 150},  {"Size", 65},
                {"Method", W},        {"User name", 70},   {"Submitted", 130},
                {"Comm Device", 150}, {"Parameters", 100}, {"Destination Path", 100}};
    return {{"File #", W},
            {"File name", 150},
            {"Size", 65},
            {"Method", W},
            {"User name", 70},
            {"Submitted", 130},
            {"Destination Path", 100}};
}

TQueueModel::TQueueModel(TConsoleBase& console, QObject* parent)
    : TListModel(Columns(console.Role()), parent), mConsole(&console) {
    connect(&console, &TConsoleBase::queueChanged, this, &TQueueModel::refresh);
    refresh();
}

void TQueueModel::refresh() {
    if (!mConsole) return;
    QList<TRow> rows;
    for (const QStringList& texts : mConsole->queueRows()) {
        QVariantList values(texts.size());
        if (texts.size() > QueueSubmitted) {
            values[QueueNumber] = numberValue(texts[QueueNumber]);
            values[QueueSize] = numberValue(texts[QueueSize]);
            values[QueueSubmitted] = StrToDateTime(texts[QueueSubmitted]);
        }
        rows.append({texts.value(QueueNumber).trimmed(), texts, values});
    }
    sync(std::move(rows));
}

// ---- TLogModel ----

QList<TListColumn> TLogModel::Columns(int role) {
    if (role == 1)
        return {
            {"File #", 60},     {"Done", 40},      {"Result", 100},           {"File name", 150},
            {"Attempt", 40},    {"Method", W},     {"Destination Path", 150}, {"Submitted", 130},
            {"Processed", 130}, {"User Name", 90}, {"Comm Device", 150},      {"Parameters", 100}};
    return {{"File #", 60},     {"Done", W},        {"Result", 100},
            {"File name", 150}, {"Method", W},      {"Destination Path", 150},
            {"Submitted", 130}, {"Processed", 130}, {"User Name", 90}};
}

TLogModel::TLogModel(TConsoleBase& console, QObject* parent)
    : TListModel(Columns(console.Role()), parent), mConsole(&console), mRole(console.Role()) {
    connect(&console, &TConsoleBase::logChanged, this, &TLogModel::refresh);
    refresh();
}

void TLogModel::refresh() {
    if (!mConsole) return;
    const QList<QStringList>& texts = mConsole->logRows();
    const QList<TLogRecord>& records = mConsole->logRecords();
    const int submitted = logSubmitted(mRole);
    QList<TRow> rows;
    for (int i = 0; i < texts.size(); ++i) {
        QVariantList values(texts[i].size());
        if (i < records.size() && values.size() > submitted + 1) {
            const TLogRecord& record = records[i];
            values[LogNumber] = record.JobNo;
            values[submitted] = timeValue(record.Submitted);
            values[submitted + 1] = timeValue(record.Processed);
            if (mRole == 1) values[ClientLogAttempt] = record.Attempt;
        }
        rows.append({texts[i].value(LogNumber), texts[i], values});
    }
    sync(std::move(rows));
}

// ---- TOperationsModel ----

QList<TListColumn> TOperationsModel::Columns() {
    return {{"Device", 180}, {"User", 80}, {"Operation", 80}, {"File", 150}};
}

TOperationsModel::TOperationsModel(TfraServer& server, QObject* parent)
    : TListModel(Columns(), parent), mServer(&server) {
    connect(&server, &TfraServer::operationsChanged, this, &TOperationsModel::refresh);
    refresh();
}

void TOperationsModel::refresh() {
    if (!mServer) return;
    QList<TRow> rows;
    for (const TfraServer::TOperRow& line : mServer->operationRows())
        rows.append({QString::number(quintptr(line.Device), 16),
                     {line.Caption, line.User, line.Operation, line.File},
                     {}});
    sync(std::move(rows));
}
