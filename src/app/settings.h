#pragma once
// The program-wide settings table, the typed value slot that every persisted record is made of,
// and the start-with-login entry.
#include <QString>
#include <cstdint>

// Cuts a text to at most 255 bytes of UTF-8 without splitting a character.
QString Cut255(const QString& text);

enum class TIniKind : uint8_t { Boolean = 0, Integer = 1, String = 2 };

// One typed value slot. Strings hold at most 255 bytes and are cut beyond.
struct TIniKey {
    int32_t Section = 0; // index into "GENERAL", "CLIENT", "SERVER"
    QString Key;         // value name in the file
    TIniKind Kind = TIniKind::String;
    bool BoolValue = false;
    bool BoolDefault = false;
    int32_t IntValue = 0;
    int32_t IntDefault = 0;
    QString StrValue;
    QString StrDefault;

    void SetStr(const QString& text) { StrValue = Cut255(text); }
    // A String slot with the given key name, empty value and empty default.
    static TIniKey StringSlot(const QString& key);
};

// The settings, in table order (also the order of reading and writing).
enum TSettingKey {
    MRL_Function,
    MRL_Version,
    MRL_OnTop,
    MRL_Passw,
    MRL_AutoRun,
    CLI_AutoDelivery,
    CLI_DropFailed,
    CLI_BatchIntSec,
    CLI_BatchTimeOutMin,
    CLI_ActiveDevice,
    SVR_AutoDelivery,
    SVR_SessionTimeout,
    SVR_PopupNotification,
    MRL_MaxLogSize,
    MRL_QueueCounter,
    MRL_CommDevices,
    MRL_Modems,
    MRL_Inbox,
    MRL_Outbox,
    SettingCount
};

extern const char* const SectionNames[3]; // "GENERAL", "CLIENT", "SERVER"
extern const char* const ApplicationTitle; // "Marrowline"
extern const char* const ProgramVersion;   // "1.00"

// The table, reachable from everywhere; reads see the current in-memory value.
TIniKey& Setting(TSettingKey key);
int GetInt(TSettingKey key);
bool GetBool(TSettingKey key);
QString GetStr(TSettingKey key);
void PutInt(TSettingKey key, int value);
void PutBool(TSettingKey key, bool value);
void PutStr(TSettingKey key, const QString& value);

// Fills the table with its keys, kinds and defaults (the inbox and outbox defaults are
// AppDir + "INBOX" and AppDir + "OUTBOX"), so AppDir must be set first.
void BuildSettingsTable();

bool IsClient(); // MRL_Function = 1
bool IsServer(); // MRL_Function = 2

// Reads the settings file into the table; a missing file reads as all defaults.
void LoadSettings();
// Writes the whole table into the settings file.
void SaveSettings();
// Creates or removes the start-with-login entry named after the value name.
void RunOnStartup(bool enable, const QString& valueName, const QString& path);
// The start-up loader: pending parameters, settings, modem list, folders, job queue.
void StartupLoadVars();
