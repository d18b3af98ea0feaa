#pragma once
// Lists of records made of typed INI slots. The job queue, the user accounts, the communication
// devices and the modem catalogue each keep such a list: a record is a fixed array of TIniKey
// slots indexed by the list's key enumeration, and the key names are the value names in the
// files. TRecordList holds what the four share: the records, the text of one slot and storing
// one, copying a record into the list, and reading and writing a record's section. Each list
// keeps the operations that are its own (with the operation names of its status lines), its
// files and its current index.
#include "core/inifile.h"
#include "core/settings.h"
#include "core/status.h"

#include <QString>
#include <array>
#include <memory>
#include <utility>
#include <vector>

// Reads a slot of its kind from the section under `name`; a missing or unreadable value gives the
// slot's default. Strings are cut to 255 bytes.
void ReadSlot(const TIniFile& ini, const QString& section, const QString& name, TIniKey& slot);
// Writes a slot of its kind: Booleans "1"/"0", Integers in decimal, Strings as they are.
void WriteSlot(TIniFile& ini, const QString& section, const QString& name, const TIniKey& slot);
// A slot as text: a Boolean "-1" (true) or "0", an Integer in decimal, a String as it is.
QString SlotText(const TIniKey& slot);
// Stores text into a slot of its kind: a Boolean takes an integer (0 false, any other true) or
// the words true and false, an Integer a decimal integer, a String any text (cut to 255 bytes).
// False, with the slot unchanged and *error saying why, for text the kind cannot take.
bool SetSlotText(TIniKey& slot, const QString& text, QString* error);

// One record: N slots indexed by Key.
template <typename KeyType, int N> struct TSlotRecord {
    using Key = KeyType;
    static constexpr int KeyCount = N;
    std::array<TIniKey, N> Slots;

    TIniKey& operator[](Key key) { return Slots[size_t(key)]; }
    const TIniKey& operator[](Key key) const { return Slots[size_t(key)]; }
    QString Get(Key key) const { return Slots[size_t(key)].StrValue; }
};

// What a list's records look like: the value name of each slot in key order, and the kinds of
// the slots (nullptr: all String).
struct TRecordLayout {
    const char* const* Names = nullptr;
    const TIniKind* Kinds = nullptr;
    TIniKind Kind(int key) const { return Kinds ? Kinds[key] : TIniKind::String; }
};

// How a list's text values are stored in its files (the user accounts upper-case theirs); applied
// when a String slot is read and when it is written.
using TStoredText = QString (*)(int key, const QString& text);

template <typename Record> class TRecordList {
public:
    using Key = typename Record::Key;
    static constexpr int KeyCount = Record::KeyCount;

    int Count() const { return int(mItems.size()); }
    // A slot as text (see SlotText); empty outside the list.
    QString GetSetting(int index, Key key) {
        return guarded("GetSetting", QString(), [&]() {
            const Record* record = validKey(key) ? at(index) : nullptr;
            return record ? SlotText((*record)[key]) : QString();
        });
    }
    // Stores text into a slot (see SetSlotText; text a slot cannot take is reported); nothing
    // outside the list.
    void PutSetting(int index, Key key, const QString& text) {
        guarded("PutSetting", 0, [&]() {
            Record* record = validKey(key) ? at(index) : nullptr;
            QString error;
            if (record && !SetSlotText((*record)[key], text, &error)) report("PutSetting", error);
            return 0;
        });
    }

protected:
    TRecordList(const char* className, const TRecordLayout& layout, TStatusSink& status)
        : mStatus(status), mClassName(className), mLayout(layout) {}
    ~TRecordList() = default;
    TRecordList(const TRecordList&) = delete;
    TRecordList& operator=(const TRecordList&) = delete;

    static bool validKey(Key key) { return int(key) >= 0 && int(key) < KeyCount; }
    // The record at index, or nullptr outside the list. Records stay where they are while the
    // list changes around them.
    Record* at(int index) const {
        return index >= 0 && index < Count() ? mItems[size_t(index)].get() : nullptr;
    }
    // Every slot gets its name and kind, an empty value and an empty default.
    void clearSlots(Record& record) const {
        for (int k = 0; k < KeyCount; ++k) {
            TIniKey& slot = record.Slots[size_t(k)];
            slot = TIniKey();
            slot.Key = mLayout.Names[k];
            slot.Kind = mLayout.Kind(k);
        }
    }
    // Copies slots into a record: the values and defaults come along, the names and kinds stay
    // those of the list, texts are cut to 255 bytes.
    void copySlots(Record& to, const decltype(Record::Slots)& from) const {
        for (int k = 0; k < KeyCount; ++k) {
            TIniKey& slot = to.Slots[size_t(k)];
            slot = from[size_t(k)];
            slot.Key = mLayout.Names[k];
            slot.Kind = mLayout.Kind(k);
            slot.StrValue = Cut255(slot.StrValue);
        }
    }
    // Calls add until index exists; the record at index, or nullptr when add added nothing.
    template <typename Add> Record* growTo(int index, Add&& add) {
        while (Count() - 1 < index) {
            const int before = Count();
            add();
            if (Count() == before) return nullptr;
        }
        return at(index);
    }
    // Replaces the records by copies of the other list's.
    void copyRecordsFrom(const TRecordList& other) {
        std::vector<std::unique_ptr<Record>> copies;
        copies.reserve(other.mItems.size());
        for (const auto& record : other.mItems)
            copies.push_back(std::make_unique<Record>(*record));
        mItems = std::move(copies);
    }

    // Reads every slot from a section, each with the default it holds (see ReadSlot).
    void readSection(Record& record, const TIniFile& ini, const QString& section,
                     TStoredText stored = nullptr) const {
        for (int k = 0; k < KeyCount; ++k) {
            TIniKey& slot = record.Slots[size_t(k)];
            if (stored && slot.Kind == TIniKind::String)
                slot.SetStr(stored(k, ini.ReadString(section, mLayout.Names[k], slot.StrDefault)));
            else
                ReadSlot(ini, section, mLayout.Names[k], slot);
        }
    }
    // Writes every slot into a section, in key order.
    void writeSection(const Record& record, TIniFile& ini, const QString& section,
                      TStoredText stored = nullptr) const {
        for (int k = 0; k < KeyCount; ++k) {
            const TIniKey& slot = record.Slots[size_t(k)];
            if (stored && slot.Kind == TIniKind::String)
                ini.WriteString(section, mLayout.Names[k], stored(k, slot.StrValue));
            else
                WriteSlot(ini, section, mLayout.Names[k], slot);
        }
    }

    // Lists kept in the settings file, one section a record (prefix + 1, prefix + 2, ...) and
    // their number in a setting: appends the records of the first `countKey` sections whose
    // `idKey` is not empty (a record without an identifier is not kept), then sets the count
    // to the number appended in all.
    void loadNumbered(const TIniFile& ini, const QString& prefix, TSettings& settings,
                      TSettingKey countKey, Key idKey) {
        const int stored = settings.GetInt(countKey);
        for (int n = 1; n <= stored; ++n) {
            auto record = std::make_unique<Record>();
            clearSlots(*record);
            readSection(*record, ini, prefix + QString::number(n));
            if (!(*record)[idKey].StrValue.isEmpty()) mItems.push_back(std::move(record));
        }
        settings.PutInt(countKey, Count());
    }
    // Writes the count (into the setting and the file) and every record's section.
    void saveNumbered(TIniFile& ini, const QString& prefix, TSettings& settings,
                      TSettingKey countKey) const {
        const TIniKey& count = settings.Setting(countKey);
        settings.PutInt(countKey, Count());
        ini.WriteInteger(SectionNames[count.Section], count.Key, Count());
        for (int n = 1; n <= Count(); ++n)
            writeSection(*mItems[size_t(n - 1)], ini, prefix + QString::number(n));
    }

    void report(const char* operation, const QString& text) {
        mStatus.ReportOperationError(mClassName, operation, text);
    }
    template <typename F, typename R> R guarded(const char* operation, R neutral, F&& body) {
        return mStatus.Guarded(mClassName, operation, neutral, std::forward<F>(body));
    }

    TStatusSink& mStatus;
    std::vector<std::unique_ptr<Record>> mItems;

private:
    const char* mClassName;
    TRecordLayout mLayout;
};
