#pragma once
// The settings table: the typed value slot that every persisted record is made of, the settings
// of the program in sections "GENERAL", "CLIENT" and "SERVER" (the 19 designed ones, then the
// extensions'), the program folder they live in, and the start-with-login entry.
#include <QString>
#include <array>
#include <cstdint>

class IPrompt;
class TStatusSink;

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

// The role of this installation: what MRL_Function holds in the settings file (these numbers).
enum TRole : int { RoleNone = 0, RoleClient = 1, RoleServer = 2 };

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
    // Extensions between two Marrowline peers (kept in "GENERAL", after the designed ones).
    MRL_Resume, // a cut transfer goes on where it stopped, when the peer agrees (default on)
    SettingCount
};

extern const char* const SectionNames[3]; // "GENERAL", "CLIENT", "SERVER"
extern const char* const ApplicationTitle; // "Marrowline"
extern const char* const ProgramVersion;   // "1.00"

class TSettings {
public:
    // The table with its keys, kinds and defaults for a program folder (the inbox and outbox
    // defaults are that folder + "INBOX" and + "OUTBOX"), whose settings file is named after
    // the executable.
    TSettings(const QString& appDir, const QString& executablePath);

    // The program folder, with a trailing '/'.
    const QString& AppDir() const { return mAppDir; }
    const QString& ExecutablePath() const { return mExecutable; }
    // AppDir + the executable's base name + ".ini".
    QString SettingsFilePath() const;

    TIniKey& Setting(TSettingKey key) { return mTable[key]; }
    const TIniKey& Setting(TSettingKey key) const { return mTable[key]; }
    int GetInt(TSettingKey key) const { return mTable[key].IntValue; }
    bool GetBool(TSettingKey key) const { return mTable[key].BoolValue; }
    QString GetStr(TSettingKey key) const { return mTable[key].StrValue; }
    void PutInt(TSettingKey key, int value) { mTable[key].IntValue = value; }
    void PutBool(TSettingKey key, bool value) { mTable[key].BoolValue = value; }
    void PutStr(TSettingKey key, const QString& value) { mTable[key].SetStr(value); }

    bool IsClient() const { return GetInt(MRL_Function) == RoleClient; }
    bool IsServer() const { return GetInt(MRL_Function) == RoleServer; }
    // RoleNone until a role is chosen (MRL_Function holds neither role's number).
    TRole Role() const { return IsClient() ? RoleClient : IsServer() ? RoleServer : RoleNone; }

    // Reads the settings file into the table (a missing file reads as all defaults); a file that
    // cannot be read is shown as "!LoadSettings: " + the error.
    void Load(IPrompt& prompt, TStatusSink& status);
    // Writes the whole table into the settings file ("!SaveSettings: " on failure).
    void Save(IPrompt& prompt, TStatusSink& status);

private:
    QString mAppDir;
    QString mExecutable;
    std::array<TIniKey, SettingCount> mTable;
};

// Creates or removes the start-with-login entry named after the value name; a failure is the
// status line "!RunOnStartup: " + the error.
void RunOnStartup(bool enable, const QString& valueName, const QString& path,
                  TStatusSink& status);
