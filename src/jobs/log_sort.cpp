#include "jobs/log_sort.h"

#include "jobs/results_log.h"

#include <QChar>
#include <QString>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
using namespace LogLayout;

// Where a text field lies; false for the fields that are numbers.
bool textField(TLogField field, int& offset, int& max) {
    max = StringMax;
    switch (field) {
    case TLogField::Result: offset = Result; return true;
    case TLogField::FileName: offset = FileName; return true;
    case TLogField::Method: offset = Method; return true;
    case TLogField::DestPath: offset = DestPath; return true;
    case TLogField::UserName: offset = UserName; max = UserNameMax; return true;
    case TLogField::CommName: offset = CommName; return true;
    case TLogField::CommParam: offset = CommParam; return true;
    default: return false;
    }
}

// Room for a field's text as UTF-16: one unit per byte at most, and folding keeps a character in
// its plane, so 255 units; the rest is margin.
constexpr int MaxUnits = 512;

// The field's text as DecodeLogRecord reads it, each character case-folded, as UTF-16 units;
// returns their number.
int foldedText(const char* record, int offset, int max, char16_t* out) {
    int length = uchar(record[offset]);
    if (length > max) length = max;
    const char* bytes = record + offset + 1;
    int i = 0;
    while (i < length && uchar(bytes[i]) < 0x80)
        ++i;
    if (i == length) { // the usual case: plain ASCII
        for (i = 0; i < length; ++i) {
            const char c = bytes[i];
            out[i] = char16_t(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        return length;
    }
    const QString text = QString::fromUtf8(bytes, length);
    int n = 0;
    for (qsizetype k = 0; k < text.size() && n + 2 <= MaxUnits; ++k) {
        char32_t c = text[k].unicode();
        if (QChar::isHighSurrogate(c) && k + 1 < text.size() && text[k + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++k].unicode());
        c = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(c)) {
            out[n++] = QChar::highSurrogate(c);
            out[n++] = QChar::lowSurrogate(c);
        } else {
            out[n++] = char16_t(c);
        }
    }
    return n;
}

// A number field as an unsigned key in the same order.
uint64_t numberKey(const char* record, TLogField field) {
    switch (field) {
    case TLogField::JobNo:
    case TLogField::Attempt: {
        const qint32 value =
            qFromLittleEndian<qint32>(record + (field == TLogField::JobNo ? JobNo : Attempt));
        return uint64_t(int64_t(value) + 0x80000000LL);
    }
    case TLogField::Done:
        return record[Done] != 0 ? 1 : 0;
    case TLogField::Submitted:
    case TLogField::Processed: {
        quint64 bits =
            qFromLittleEndian<quint64>(record + (field == TLogField::Submitted ? Submitted : Processed));
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value)) return UINT64_MAX; // after every time, all alike
        if (value == 0) bits = 0;                 // -0 is 0
        // IEEE doubles in the order of their values: negative ones reversed below the positive.
        constexpr quint64 Sign = quint64(1) << 63;
        return (bits & Sign) ? ~bits : bits | Sign;
    }
    default:
        return 0;
    }
}

// A record's place in the sort: 16 bytes of key and the record's index, which orders equal keys.
// For a text the key holds 7 units from `from` on (0 past its end) and how many units remain
// there, counted up to 8: 8 means "more than the key holds", and records whose keys agree then
// are told apart by their next 7 units.
struct TKey {
    uint64_t hi;
    uint64_t lo;
    int32_t record;
    bool operator<(const TKey& other) const {
        if (hi != other.hi) return hi < other.hi;
        if (lo != other.lo) return lo < other.lo;
        return record < other.record;
    }
    bool sameKey(const TKey& other) const { return hi == other.hi && lo == other.lo; }
    bool open() const { return (lo & 0xFFFF) == 8; }
};

void textKey(TKey& key, const char16_t* units, int n, int from) {
    auto unit = [&](int k) -> uint64_t { return from + k < n ? units[from + k] : 0; };
    key.hi = unit(0) << 48 | unit(1) << 32 | unit(2) << 16 | unit(3);
    key.lo = unit(4) << 48 | unit(5) << 32 | unit(6) << 16 | uint64_t(std::clamp(n - from, 0, 8));
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Records that agree in their key and go on beyond it, with the unit their next key starts at.
struct TGroup {
    int first;
    int end;
    int from;
};
} // namespace

int CompareLogField(const char* a, const char* b, TLogField field) {
    int offset = 0, max = 0;
    if (!textField(field, offset, max)) {
        const uint64_t ka = numberKey(a, field), kb = numberKey(b, field);
        return ka < kb ? -1 : ka > kb ? 1 : 0;
    }
    char16_t ua[MaxUnits], ub[MaxUnits];
    const int na = foldedText(a, offset, max, ua);
    const int nb = foldedText(b, offset, max, ub);
    for (int i = 0; i < na && i < nb; ++i)
        if (ua[i] != ub[i]) return ua[i] < ub[i] ? -1 : 1;
    return na < nb ? -1 : na > nb ? 1 : 0;
}

bool SortLogFile(const QString& path, int count, TLogField field, TLogOrder& order,
                 QString* error, const std::atomic<bool>* cancel) {
    order.records.clear();
    order.tiedToPrevious.clear();
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (count <= 0) return true;
    TLogReader reader(path);
    if (!reader.Open()) return fail(path + ": " + reader.ErrorString());
    auto lost = [&]() {
        return fail(path + QStringLiteral(": fewer records than %1 (the log was emptied)").arg(count));
    };
    if (reader.Count() < count) return lost();

    int offset = 0, max = 0;
    const bool text = textField(field, offset, max);
    char16_t units[MaxUnits];
    std::vector<TKey> keys(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if ((i & 4095) == 0 && cancelled(cancel)) return false;
        const char* record = reader.Record(i);
        if (!record) return lost();
        keys[size_t(i)].record = i;
        if (text) {
            textKey(keys[size_t(i)], units, foldedText(record, offset, max, units), 0);
        } else {
            keys[size_t(i)].hi = numberKey(record, field);
            keys[size_t(i)].lo = 0;
        }
    }
    std::sort(keys.begin(), keys.end());
    if (cancelled(cancel)) return false;

    std::vector<bool>& tied = order.tiedToPrevious;
    tied.assign(size_t(count), false);
    std::vector<TGroup> pending;
    // Marks the runs of equal keys in [first, end): the same text, or a group for later.
    auto markRuns = [&](int first, int end, int from) {
        for (int i = first; i < end;) {
            int j = i + 1;
            while (j < end && keys[size_t(j)].sameKey(keys[size_t(i)]))
                ++j;
            if (j - i > 1) {
                if (text && keys[size_t(i)].open())
                    pending.push_back({i, j, from + 7});
                else
                    for (int k = i + 1; k < j; ++k)
                        tied[size_t(k)] = true;
            }
            i = j;
        }
    };
    markRuns(0, count, 0);

    // Each group holds records in file order (equal keys are ordered by index); they are read
    // again for their next key. A group whose fields are byte for byte alike is settled at once,
    // however long the text (a job logged many times costs one more pass, not one per seven
    // characters), and a group whose texts all agree further on (paths below one folder) goes
    // on from where they part.
    QByteArray firstField;
    char16_t firstUnits[MaxUnits];
    int firstLength = 0;
    while (!pending.empty()) {
        const TGroup group = pending.back();
        pending.pop_back();
        bool alike = true;
        int common = MaxUnits; // the units every text of the group shares
        for (int k = group.first; k < group.end; ++k) {
            if ((k & 1023) == 0 && cancelled(cancel)) return false;
            // Read runs of records where the group lies close together, one record where not.
            const int next = std::min(k + 8, group.end - 1);
            const int readAhead =
                keys[size_t(next)].record - keys[size_t(k)].record < 256 ? 256 : 1;
            const char* record = reader.Record(keys[size_t(k)].record, readAhead);
            if (!record) return lost();
            const int length = std::min<int>(uchar(record[offset]), max);
            const int n = foldedText(record, offset, max, units);
            if (k == group.first) {
                firstField = QByteArray(record + offset + 1, length);
                std::copy(units, units + n, firstUnits);
                firstLength = n;
            } else {
                if (alike)
                    alike = length == firstField.size() &&
                            std::memcmp(record + offset + 1, firstField.constData(),
                                        size_t(length)) == 0;
                int shared = group.from;
                while (shared < n && shared < firstLength && units[shared] == firstUnits[shared])
                    ++shared;
                common = std::min(common, shared);
            }
            textKey(keys[size_t(k)], units, n, group.from);
        }
        if (alike) {
            for (int k = group.first + 1; k < group.end; ++k)
                tied[size_t(k)] = true;
        } else if (common > group.from + 7) {
            pending.push_back({group.first, group.end, common}); // the keys read were all alike
        } else {
            std::sort(keys.begin() + group.first, keys.begin() + group.end);
            markRuns(group.first, group.end, group.from);
        }
    }

    order.records.resize(size_t(count));
    for (int i = 0; i < count; ++i)
        order.records[size_t(i)] = keys[size_t(i)].record;
    return true;
}
