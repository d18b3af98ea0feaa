#include "consoles/list_models.h"

#include "consoles/console_base.h"
#include "consoles/server_console.h"
#include "core/helpers.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <algorithm>

namespace {
constexpr int W = TListModel::DefaultWidth;

// A number column's value; the text itself when it is no number.
QVariant numberValue(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok ? QVariant(value) : QVariant(text);
}

// The positions of the raw values in a role's queue and log rows (see the role's columns).
constexpr int QueueNumber = 0, QueueSize = 2, QueueSubmitted = 5;
constexpr int LogNumber = 0;

// The fields of a role's log columns.
const std::vector<TLogField> ClientLogFields = {
    TLogField::JobNo,     TLogField::Done,      TLogField::Result,   TLogField::FileName,
    TLogField::Attempt,   TLogField::Method,    TLogField::DestPath, TLogField::Submitted,
    TLogField::Processed, TLogField::UserName,  TLogField::CommName, TLogField::CommParam};
const std::vector<TLogField> ServerLogFields = {
    TLogField::JobNo,    TLogField::Done,      TLogField::Result,
    TLogField::FileName, TLogField::Method,    TLogField::DestPath,
    TLogField::Submitted, TLogField::Processed, TLogField::UserName};
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
    for (int i = 0; i < rowCount(); ++i)
        if (keyOf(i) == key) return i;
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

QList<TListColumn> TQueueModel::Columns(TRole role) {
    if (role == RoleClient)
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

QList<TListColumn> TLogModel::Columns(TRole role) {
    if (role == RoleClient)
        return {
            {"File #", 60},     {"Done", 40},      {"Result", 100},           {"File name", 150},
            {"Attempt", 40},    {"Method", W},     {"Destination Path", 150}, {"Submitted", 130},
            {"Processed", 130}, {"User Name", 90}, {"Comm Device", 150},      {"Parameters", 100}};
    return {{"File #", 60},     {"Done", W},        {"Result", 100},
            {"File name", 150}, {"Method", W},      {"Destination Path", 150},
            {"Submitted", 130}, {"Processed", 130}, {"User Name", 90}};
}

TLogField TLogModel::Field(TRole role, int column) {
    const std::vector<TLogField>& fields = role == RoleClient ? ClientLogFields : ServerLogFields;
    return column >= 0 && column < int(fields.size()) ? fields[size_t(column)] : TLogField::JobNo;
}

// A sort on the sort's own thread. The thread only reads the file; its result comes back as a
// call posted to the model, which drops it when another sort was asked for meanwhile or the rows
// were read anew. The model stops and waits for the thread before it goes.
struct TLogModel::TSortJob {
    quint64 serial;
    int column;
    int count;
    quint64 generation;
    std::atomic<bool> cancel{false};
    std::thread thread;
};

TLogModel::TLogModel(TConsoleBase& console, QObject* parent)
    : TListModel(Columns(console.Role()), parent), mConsole(&console), mRole(console.Role()) {
    connect(&console, &TConsoleBase::logChanged, this, &TLogModel::follow);
    mCount = console.logRows().count();
    mGeneration = console.logRows().generation();
}

TLogModel::~TLogModel() {
    cancelSort();
}

void TLogModel::refresh() {
    if (!mConsole) return;
    reset();
}

int TLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : mCount;
}

int TLogModel::recordAt(int row) const {
    return mSortColumn < 0 ? row : mOrder[size_t(row)];
}

int TLogModel::sourceRow(int row) const {
    return row >= 0 && row < mCount ? recordAt(row) : -1;
}

int TLogModel::shownRow(int sourceRow) const {
    if (sourceRow < 0 || sourceRow >= mCount) return -1;
    if (mSortColumn < 0) return sourceRow;
    const auto found = std::find(mOrder.begin(), mOrder.end(), sourceRow);
    return found == mOrder.end() ? -1 : int(found - mOrder.begin());
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
    if (!mConsole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole && role != SortRole && role != KeyRole) return {};
    TLogRows& rows = mConsole->logRows();
    const int record = recordAt(index.row());
    if (role == KeyRole) return rows.texts(record).value(LogNumber);
    const QString text = rows.texts(record).value(index.column());
    if (role == Qt::DisplayRole) return text;
    // The value behind the text: numbers as numbers, times as date-times.
    TLogRecord r;
    if (!rows.record(record, r)) return text;
    switch (Field(mRole, index.column())) {
    case TLogField::JobNo: return r.JobNo;
    case TLogField::Attempt: return r.Attempt;
    case TLogField::Submitted: return DoubleToDateTime(r.Submitted);
    case TLogField::Processed: return DoubleToDateTime(r.Processed);
    default: return text;
    }
}

QString TLogModel::keyOf(int row) const {
    if (!mConsole || row < 0 || row >= mCount) return {};
    return mConsole->logRows().texts(recordAt(row)).value(LogNumber);
}

void TLogModel::follow() {
    if (!mConsole) return;
    TLogRows& rows = mConsole->logRows();
    const int count = rows.count();
    // A few records at a time are put in their places; many (a log that grew behind the
    // console's back) are sorted anew.
    if (rows.generation() != mGeneration || count < mCount ||
        (mSortColumn >= 0 && count - mCount > 64)) {
        reset();
        return;
    }
    if (count == mCount) return;
    if (mSortColumn < 0) {
        beginInsertRows(QModelIndex(), mCount, count - 1);
        mCount = count;
        endInsertRows();
        return;
    }
    while (mCount < count) {
        bool tied = false;
        const int place = placeOf(mCount, tied);
        beginInsertRows(QModelIndex(), place, place);
        mOrder.insert(mOrder.begin() + place, mCount);
        mTied.insert(mTied.begin() + place, tied);
        ++mCount;
        endInsertRows();
    }
}

void TLogModel::reset() {
    TLogRows& rows = mConsole->logRows();
    beginResetModel();
    cancelSort();
    mCount = rows.count();
    mGeneration = rows.generation();
    mSortColumn = -1;
    mOrder = {};
    mTied = {};
    endResetModel();
    if (mWantColumn >= 0) startSort();
}

int TLogModel::placeOf(int record, bool& tied) {
    // After every row that comes before it or equals it: a record logged later goes after the
    // equal ones, as in file order.
    TLogRows& rows = mConsole->logRows();
    const QByteArray added = rows.bytes(record);
    tied = false;
    const int rowsNow = int(mOrder.size());
    if (added.isEmpty()) return rowsNow;
    const TLogField field = Field(mRole, mSortColumn);
    const int sign = mSortOrder == Qt::AscendingOrder ? 1 : -1;
    auto compare = [&](int row) { // the row against the added record, in the rows' order
        const QByteArray other = rows.bytes(mOrder[size_t(row)]);
        return other.isEmpty() ? 0 : sign * CompareLogField(other.constData(), added.constData(), field);
    };
    int low = 0, high = rowsNow;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (compare(middle) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    tied = low > 0 && compare(low - 1) == 0;
    return low;
}

void TLogModel::sort(int column, Qt::SortOrder order) {
    if (!mConsole) return;
    if (column >= int(columns().size())) column = -1;
    mWantColumn = column;
    mWantOrder = order;
    if (column < 0) {
        cancelSort();
        showFileOrder();
        return;
    }
    if (mJob && mJob->column == column) return; // the order is applied when it is ready
    if (column == mSortColumn) {
        cancelSort();
        if (order == mSortOrder) return;
        relayout([&]() {
            reverseRuns();
            mSortOrder = order;
        });
        return;
    }
    startSort();
}

void TLogModel::startSort() {
    cancelSort();
    TLogRows& rows = mConsole->logRows();
    const int column = mWantColumn;
    const int count = mCount;
    if (count <= mBackgroundFrom) {
        TLogOrder order;
        if (rows.order(Field(mRole, column), order)) applyOrder(column, std::move(order), count);
        return;
    }
    auto job = std::make_unique<TSortJob>();
    job->serial = ++mJobSerial;
    job->column = column;
    job->count = count;
    job->generation = mGeneration;
    TSortJob* running = job.get();
    const QString path = rows.fileName();
    const TLogField field = Field(mRole, column);
    running->thread = std::thread([this, running, path, count, field]() {
        auto order = std::make_shared<TLogOrder>();
        QString error;
        const bool ok = SortLogFile(path, count, field, *order, &error, &running->cancel);
        if (running->cancel.load()) return;
        const quint64 serial = running->serial;
        QMetaObject::invokeMethod(
            this, [this, serial, ok, error, order]() { finishSort(serial, ok, error, *order); },
            Qt::QueuedConnection);
    });
    mJob = std::move(job);
}

void TLogModel::cancelSort() {
    if (!mJob) return;
    mJob->cancel.store(true);
    mJob->thread.join();
    mJob.reset();
}

void TLogModel::finishSort(quint64 serial, bool ok, const QString& error, TLogOrder& order) {
    if (!mJob || mJob->serial != serial) return; // another sort was asked for since
    const int column = mJob->column;
    const int count = mJob->count;
    const bool current = mJob->generation == mGeneration;
    mJob->thread.join();
    mJob.reset();
    if (!current) return; // the rows were read anew, and sorted again then
    if (!ok) {
        if (mConsole) mConsole->logRows().reportFailure("SortLogList", error);
        return;
    }
    applyOrder(column, std::move(order), count);
}

void TLogModel::relayout(const std::function<void()>& change) {
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList held = persistentIndexList();
    std::vector<int32_t> records;
    for (const QModelIndex& index : held)
        records.push_back(recordAt(index.row()));
    change();
    // Every held index stays on its record.
    QModelIndexList moved;
    if (!held.isEmpty()) {
        std::vector<int32_t> rowOf(static_cast<size_t>(mCount));
        for (int row = 0; row < mCount; ++row)
            rowOf[size_t(recordAt(row))] = row;
        for (int i = 0; i < held.size(); ++i)
            moved << index(rowOf[size_t(records[size_t(i)])], held[i].column());
    }
    changePersistentIndexList(held, moved);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    Q_EMIT sorted();
}

void TLogModel::applyOrder(int column, TLogOrder&& order, int sortedCount) {
    relayout([&]() {
        mOrder = std::move(order.records);
        mTied = std::move(order.tiedToPrevious);
        mSortColumn = column;
        mSortOrder = Qt::AscendingOrder;
        if (mWantOrder == Qt::DescendingOrder) {
            reverseRuns();
            mSortOrder = Qt::DescendingOrder;
        }
        for (int record = sortedCount; record < mCount; ++record) {
            bool tied = false;
            const int place = placeOf(record, tied);
            mOrder.insert(mOrder.begin() + place, record);
            mTied.insert(mTied.begin() + place, tied);
        }
    });
}

void TLogModel::showFileOrder() {
    if (mSortColumn < 0) return;
    relayout([&]() {
        mSortColumn = -1;
        mOrder = {};
        mTied = {};
    });
}

void TLogModel::reverseRuns() {
    std::vector<int32_t> order;
    std::vector<bool> tied(mTied.size());
    order.reserve(mOrder.size());
    for (int end = int(mOrder.size()); end > 0;) {
        int first = end - 1;
        while (first > 0 && mTied[size_t(first)])
            --first;
        for (int k = first; k < end; ++k) {
            tied[order.size()] = k > first;
            order.push_back(mOrder[size_t(k)]);
        }
        end = first;
    }
    mOrder = std::move(order);
    mTied = std::move(tied);
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
