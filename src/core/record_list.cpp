#include "core/record_list.h"

void ReadSlot(const TIniFile& ini, const QString& section, const QString& name, TIniKey& slot) {
    switch (slot.Kind) {
    case TIniKind::Boolean:
        slot.BoolValue = ini.ReadBool(section, name, slot.BoolDefault);
        break;
    case TIniKind::Integer:
        slot.IntValue = ini.ReadInteger(section, name, slot.IntDefault);
        break;
    case TIniKind::String:
        slot.SetStr(ini.ReadString(section, name, slot.StrDefault));
        break;
    }
}

void WriteSlot(TIniFile& ini, const QString& section, const QString& name, const TIniKey& slot) {
    switch (slot.Kind) {
    case TIniKind::Boolean:
        ini.WriteBool(section, name, slot.BoolValue);
        break;
    case TIniKind::Integer:
        ini.WriteInteger(section, name, slot.IntValue);
        break;
    case TIniKind::String:
        ini.WriteString(section, name, slot.StrValue);
        break;
    }
}

QString SlotText(const TIniKey& slot) {
    switch (slot.Kind) {
    case TIniKind::Boolean:
        return QString(slot.BoolValue ? "-1" : "0");
    case TIniKind::Integer:
        return QString::number(slot.IntValue);
    case TIniKind::String:
        break;
    }
    return slot.StrValue;
}

bool SetSlotText(TIniKey& slot, const QString& text, QString* error) {
    switch (slot.Kind) {
    case TIniKind::Boolean: {
        const QString t = text.trimmed();
        int number = 0;
        if (ParseInteger(t, &number))
            slot.BoolValue = number != 0;
        else if (t.compare("true", Qt::CaseInsensitive) == 0)
            slot.BoolValue = true;
        else if (t.compare("false", Qt::CaseInsensitive) == 0)
            slot.BoolValue = false;
        else {
            *error = "'" + text + "' is not a valid boolean value";
            return false;
        }
        return true;
    }
    case TIniKind::Integer: {
        int value = 0;
        if (!ParseInteger(text, &value)) {
            *error = "'" + text + "' is not a valid integer value";
            return false;
        }
        slot.IntValue = value;
        return true;
    }
    case TIniKind::String:
        break;
    }
    slot.SetStr(text);
    return true;
}
