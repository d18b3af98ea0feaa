#include "core/settings.h"

#include "core/inifile.h"
#include "core/record_list.h"
#include "core/status.h"
#include "platform/autostart.h"
#include "platform/prompt.h"

#include <QFileInfo>

const char* const SectionNames[3] = {"GENERAL", "CLIENT", "SERVER"};
const char* const ApplicationTitle = "Marrowline";
const char* const ProgramVersion = "1.00";

namespace {
TIniKey define(int section, const char* name, TIniKind kind) {
    TIniKey key;
    key.Section = section;
    key.Key = name;
    key.Kind = kind;
    return key;
}
TIniKey defBool(int section, const char* name, bool def) {
    TIniKey key = define(section, name, TIniKind::Boolean);
    key.BoolDefault = key.BoolValue = def;
    return key;
}
TIniKey defInt(int section, const char* name, int def) {
    TIniKey key = define(section, name, TIniKind::Integer);
    key.IntDefault = key.IntValue = def;
    return key;
}
TIniKey defStr(int section, const char* name, const QString& def) {
    TIniKey key = define(section, name, TIniKind::String);
    key.StrDefault = key.StrValue = Cut255(def);
    return key;
}

QString withSlash(QString path) {
    if (!path.isEmpty() && !path.endsWith('/')) path += '/';
    return path;
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

TSettings::TSettings(const QString& appDir, const QString& executablePath)
    : mAppDir(withSlash(appDir)), mExecutable(executablePath) {
    mTable[MRL_Function] = defInt(0, "MRL_Function", 0);
    mTable[MRL_Version] = defStr(0, "MRL_Version", ProgramVersion);
    mTable[MRL_OnTop] = defBool(0, "MRL_OnTop", true);
    mTable[MRL_Passw] = defStr(0, "MRL_Passw", QString());
    mTable[MRL_AutoRun] = defBool(0, "MRL_AutoRun", false);
    mTable[CLI_AutoDelivery] = defBool(1, "CLI_AutoDelivery", false);
    mTable[CLI_DropFailed] = defBool(1, "CLI_DropFailed", false);
    mTable[CLI_BatchIntSec] = defInt(1, "CLI_BatchIntSec", 15);
    mTable[CLI_BatchTimeOutMin] = defInt(1, "CLI_BatchTimeOutMin", 5);
    mTable[CLI_ActiveDevice] = defStr(1, "CLI_ActiveDevice", QString());
    mTable[SVR_AutoDelivery] = defBool(2, "SVR_AutoDelivery", false);
    mTable[SVR_SessionTimeout] = defInt(2, "SVR_SessionTimeout", 5);
    mTable[SVR_PopupNotification] = defBool(2, "SVR_PopupNotification", false);
    mTable[MRL_MaxLogSize] = defInt(0, "MRL_MaxLogSize", 3000000);
    mTable[MRL_QueueCounter] = defInt(0, "MRL_QueueCounter", 0);
    mTable[MRL_CommDevices] = defInt(0, "MRL_CommDevices", 0);
    mTable[MRL_Modems] = defInt(0, "MRL_Modems", 0);
    mTable[MRL_Inbox] = defStr(0, "MRL_Inbox", mAppDir + "INBOX");
    mTable[MRL_Outbox] = defStr(0, "MRL_Outbox", mAppDir + "OUTBOX");
    mTable[MRL_Resume] = defBool(0, "MRL_Resume", true);
}

QString TSettings::SettingsFilePath() const {
    QString base = QFileInfo(mExecutable).completeBaseName();
    if (base.isEmpty()) base = QStringLiteral("marrowline");
    return mAppDir + base + ".ini";
}

void TSettings::Load(IPrompt& prompt, TStatusSink& status) {
    TIniFile ini(SettingsFilePath());
    if (!ini.LastError().isEmpty()) {
        prompt.MessageBox("!LoadSettings: " + ini.LastError(), ApplicationTitle, TBoxIcon::Error,
                          TBoxButtons::Ok);
        return;
    }
    for (TIniKey& key : mTable)
        ReadSlot(ini, SectionNames[key.Section], key.Key, key);
    mTable[MRL_Version].StrValue = ProgramVersion;
    RunOnStartup(GetBool(MRL_AutoRun), ApplicationTitle, mExecutable, status);
}

void TSettings::Save(IPrompt& prompt, TStatusSink& status) {
    TIniFile ini(SettingsFilePath());
    for (const TIniKey& key : mTable)
        WriteSlot(ini, SectionNames[key.Section], key.Key, key);
    if (!ini.UpdateFile())
        prompt.MessageBox("!SaveSettings: " + ini.LastError(), ApplicationTitle, TBoxIcon::Error,
                          TBoxButtons::Ok);
    RunOnStartup(GetBool(MRL_AutoRun), ApplicationTitle, mExecutable, status);
}

void RunOnStartup(bool enable, const QString& valueName, const QString& path,
                  TStatusSink& status) {
    QString error;
    if (!SetAutostartEntry(enable, valueName, path, &error)) status.Add("!RunOnStartup: " + error);
}
