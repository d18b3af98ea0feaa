#include "app/settings.h"

#include "app/inifile.h"
#include "jobs/status.h"
#include "platform/appdir.h"
#include "platform/autostart.h"
#include "platform/prompt.h"

#include <array>

const char* const SectionNames[3] = {"GENERAL", "CLIENT", "SERVER"};
const char* const ApplicationTitle = "Marrowline";
const char* const ProgramVersion = "1.00";

namespace {
std::array<TIniKey, SettingCount> gTable;

void define(TSettingKey k, int section, const char* name, TIniKind kind) {
    TIniKey& key = gTable[k];
    key = TIniKey();
    key.Section = section;
    key.Key = name;
    key.Kind = kind;
}
void defBool(TSettingKey k, int section, const char* name, bool def) {
    define(k, section, name, TIniKind::Boolean);
    gTable[k].BoolDefault = gTable[k].BoolValue = def;
}
void defInt(TSettingKey k, int section, const char* name, int def) {
    define(k, section, name, TIniKind::Integer);
    gTable[k].IntDefault = gTable[k].IntValue = def;
}
void defStr(TSettingKey k, int section, const char* name, const QString& def) {
    define(k, section, name, TIniKind::String);
    gTable[k].StrDefault = gTable[k].StrValue = Cut255(def);
}

void showError(const QString& prefix, const QString& text) {
    Prompt().MessageBox(prefix + text, ApplicationTitle, TBoxIcon::Error, TBoxButtons::Ok);
}
} // namespace

QString Cut255(const QString& text) {
    if (text.size() <= 255 / 3) return text; // cannot exceed 255 bytes
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= 255) return text;
    qsizetype cut = 255;
    // Step back over continuation bytes so no character is split.
    while (cut > 0 && (uchar(utf8[cut]) & 0xC0) == 0x80) --cut;
    return QString::fromUtf8(utf8.left(cut));
}

TIniKey TIniKey::StringSlot(const QString& key) {
    TIniKey slot;
    slot.Key = key;
    slot.Kind = TIniKind::String;
    return slot;
}

TIniKey& Setting(TSettingKey key) { return gTable[key]; }
int GetInt(TSettingKey key) { return gTable[key].IntValue; }
bool GetBool(TSettingKey key) { return gTable[key].BoolValue; }
QString GetStr(TSettingKey key) { return gTable[key].StrValue; }
void PutInt(TSettingKey key, int value) { gTable[key].IntValue = value; }
void PutBool(TSettingKey key, bool value) { gTable[key].BoolValue = value; }
void PutStr(TSettingKey key, const QString& value) { gTable[key].SetStr(value); }

void BuildSettingsTable() {
    defInt(MRL_Function, 0, "MRL_Function", 0);
    defStr(MRL_Version, 0, "MRL_Version", ProgramVersion);
    defBool(MRL_OnTop, 0, "MRL_OnTop", true);
    defStr(MRL_Passw, 0, "MRL_Passw", QString());
    defBool(MRL_AutoRun, 0, "MRL_AutoRun", false);
    defBool(CLI_AutoDelivery, 1, "CLI_AutoDelivery", false);
    defBool(CLI_DropFailed, 1, "CLI_DropFailed", false);
    defInt(CLI_BatchIntSec, 1, "CLI_BatchIntSec", 15);
    defInt(CLI_BatchTimeOutMin, 1, "CLI_BatchTimeOutMin", 5);
    defStr(CLI_ActiveDevice, 1, "CLI_ActiveDevice", QString());
    defBool(SVR_AutoDelivery, 2, "SVR_AutoDelivery", false);
    defInt(SVR_SessionTimeout, 2, "SVR_SessionTimeout", 5);
    defBool(SVR_PopupNotification, 2, "SVR_PopupNotification", false);
    defInt(MRL_MaxLogSize, 0, "MRL_MaxLogSize", 3000000);
    defInt(MRL_QueueCounter, 0, "MRL_QueueCounter", 0);
    defInt(MRL_CommDevices, 0, "MRL_CommDevices", 0);
    defInt(MRL_Modems, 0, "MRL_Modems", 0);
    defStr(MRL_Inbox, 0, "MRL_Inbox", AppDir() + "INBOX");
    defStr(MRL_Outbox, 0, "MRL_Outbox", AppDir() + "OUTBOX");
}

bool IsClient() { return gTable[MRL_Function].IntValue == 1; }
bool IsServer() { return gTable[MRL_Function].IntValue == 2; }

void LoadSettings() {
    TIniFile ini(SettingsFilePath());
    if (!ini.LastError().isEmpty()) {
        showError("!LoadSettings: ", ini.LastError());
        return;
    }
    for (TIniKey& key : gTable) {
        const QString section = SectionNames[key.Section];
        switch (key.Kind) {
        case TIniKind::Boolean: key.BoolValue = ini.ReadBool(section, key.Key, key.BoolDefault); break;
        case TIniKind::Integer: key.IntValue = ini.ReadInteger(section, key.Key, key.IntDefault); break;
        case TIniKind::String: key.SetStr(ini.ReadString(section, key.Key, key.StrDefault)); break;
        }
    }
    gTable[MRL_Version].StrValue = ProgramVersion;
    RunOnStartup(GetBool(MRL_AutoRun), ApplicationTitle, ExecutablePath());
}

void SaveSettings() {
    TIniFile ini(SettingsFilePath());
    for (const TIniKey& key : gTable) {
        const QString section = SectionNames[key.Section];
        switch (key.Kind) {
        case TIniKind::Boolean: ini.WriteBool(section, key.Key, key.BoolValue); break;
        case TIniKind::Integer: ini.WriteInteger(section, key.Key, key.IntValue); break;
        case TIniKind::String: ini.WriteString(section, key.Key, key.StrValue); break;
        }
    }
    if (!ini.UpdateFile()) showError("!SaveSettings: ", ini.LastError());
    RunOnStartup(GetBool(MRL_AutoRun), ApplicationTitle, ExecutablePath());
}

void RunOnStartup(bool enable, const QString& valueName, const QString& path) {
    QString error;
    if (!SetAutostartEntry(enable, valueName, path, &error)) AddStatus("!RunOnStartup: " + error);
}
