#pragma once
// The order of a results log by one of its fields, for the lists that show it sorted. The log
// can hold millions of records (2112 bytes each), so the order is worked out from the file: a
// compact key per record (16 bytes and its index) is read in one pass, sorted, and records whose
// texts agree beyond the key are read again, only they, for the next part of their texts. What
// is kept is the order itself (4 bytes a record) and one bit a record that says where equal
// records begin and end; while it runs the sort holds 24 bytes a record: some 28 MB for a
// million records, whatever the texts.
#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

// A field of the results-log record as a list column shows it.
enum class TLogField : uint8_t {
    JobNo,
    Done,
    Result,
    FileName,
    Method,
    DestPath,
    Submitted,
    Processed,
    Attempt,
    UserName,
    CommName,
    CommParam,
};

// The order of two records (their RecordSize bytes) by a field: below 0 when `a` comes first, 0
// when they are equal in that field. Numbers and times by value (a time that is no number sorts
// after every other), the done flag "NO" before "YES", texts without regard to case: unit by unit
// of their UTF-16 form, each letter folded to its case-independent form, a text that is the
// beginning of another first.
int CompareLogField(const char* a, const char* b, TLogField field);

// A log sorted by a field: the record indexes in ascending order, equal records in file order,
// and for each position whether its record equals the one before it.
struct TLogOrder {
    std::vector<int32_t> records;
    std::vector<bool> tiedToPrevious;
};

// Sorts the first `count` records of the log file by the field. False, with the reason in
// `error`, when the file cannot be read or holds fewer records by now (it was emptied
// meanwhile); false at once, without a reason, when `cancel` becomes true. Safe on any thread:
// it only reads the file.
bool SortLogFile(const QString& path, int count, TLogField field, TLogOrder& order,
                 QString* error = nullptr, const std::atomic<bool>* cancel = nullptr);
