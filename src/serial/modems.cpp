#include "serial/modems.h"

#include "core/inifile.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "serial/com_info.h"

#include <QUuid>
#include <exception>

const char* const ModemKeyNames[ModemKeyCount] = {
    "mdkManufacturer",
    "mdkFriendlyName",
    "mdkModel",
    "mdkAttachedTo",
    "mdkDialString",
    "mdkDialPrefixNo",
    "mdkAnswerString",
    "mdkMonitorOn",
    "mdkMonitorOff",
    "mdkCommandPrefix",
    "mdkCommandTerminator",
    "mdkCommandReset",
    "mdkDialPrefix",
    "mdkSelectPulseDialing",
    "mdkSelectToneDialing",
    "mdkHangupString",
    "mdkSupportsBlindDialing",
    "mdkBlindDialingOff",
    "mdkBlindDialingOn",
    "mdkSupportsDataCompression",
    "mdkCompressionOff",
    "mdkCompressionOn",
    "mdkSupportsSpeakerControl",
    "mdkOnDuringDialing",
    "mdkOnDuringAnswer",
    "mdkSpeakerOff",
    "mdkSpeakerOn",
    "mdkSupportsVolumeControl",
    "mdkSpeakerVolumeHigh",
    "mdkSpeakerVolumeMedium",
    "mdkSpeakerVolumeLow",
    "mdkSupportsErrorControl",
    "mdkErrorControlOff",
    "mdkErrorControlOn",
    "mdkSupportsFlowControl",
    "mdkHardwareFlowControl",
    "mdkSoftwareFlowControl",
    "mdkNoFlowControl",
    "mdkSupportsSpeedNegotiation",
    "mdkSpeedNegotiationOff",
    "mdkSpeedNegotiationOn",
    "mdkSupportsCallFailTimer",
    "mdkSetCallFailTimer",
    "mdkSupportsInactivityTimeout",
    "mdkSetInactivityTimeout",
    "mdkDefaultInitialization",
    "mdkUseBlindDialing",
    "mdkUseCompression",
    "mdkUseECC",
    "mdkSpkEnabled",
    "mdkAAMode",
    "mdkCommandSpeakerOn",
    "mdkCommandSpeakerOff",
    "mdkGUID",
};

const char* const ModemKeyCaptions[ModemKeyCount] = {
    "Manufacturer:",
    "FriendlyName:",
    "Model:",
    "Attached To:",
    "-mdkDialString",
    "-mdkDialPrefixNo",
    "Answer String:",
    "Monitor On:",
    "Monitor Off:",
    "Command Prefix:",
    "Command Terminator:",
    "Reset String:",
    "Dial Prefix:",
    "Select Pulse Dialing:",
    "Select Tone Dialing:",
    "Hangup String:",
    "Supports Blind Dialing?",
    "Blind Dialing Off:",
    "Blind Dialing On:",
    "Supports Data Compression?",
    "Compression Off:",
    "Compression On:",
    "Supports Speaker Control?",
    "On During Dialing:",
    "On During Answer:",
    "Speaker Off:",
    "Speaker On:",
    "Supports Volume Control?",
    "Speaker Volume High:",
    "Speaker Volume Medium:",
    "Speaker Volume Low:",
    "Supports Error Control?",
    "Error Control Off:",
    "Error Control On:",
    "Supports Flow Control?",
    "Hardware Flow Control:",
    "Software Flow Control:",
    "No Flow Control:",
    "Supports Speed Negotiation?",
    "Speed Negotiation Off:",
    "Speed Negotiation On:",
    "Supports Call Fail Timer?",
    "Set Call Fail Timer:",
    "Supports Inactivity Timeout?",
    "Set Inactivity Timeout:",
    "Default Initialization:",
    "-mdkUseBlindDialing",
    "-mdkUseCompression",
    "-mdkUseECC",
    "-mdkSpkEnabled",
    "-mdkAAMode",
    "-mdkCommandSpeakerOn",
    "-mdkCommandSpeakerOff",
    "Unique ID",
};

namespace {
const TRecordLayout ModemLayout{ModemKeyNames};
const char* const ModemSection = "MODEM"; // + the number counted from 1

// Replaces the first NAME=... line of the list (name compared without regard to case), or
// appends one.
void setConfigValue(QStringList& config, const QString& name, const QString& value) {
    for (QString& line : config) {
        const qsizetype eq = line.indexOf('=');
        const QString lineName = (eq < 0 ? line : line.left(eq)).trimmed();
        if (lineName.compare(name, Qt::CaseInsensitive) == 0) {
            line = name + "=" + value;
            return;
        }
    }
    config.append(name + "=" + value);
}
} // namespace

QString NewModemGUID() {
    return QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
}

TModemsList::TModemsList(TSettings& settings, TStatusSink& status)
    : TRecordList("TModemsList", ModemLayout, status), mSettings(settings) {}

void TModemsList::AddModem() {
    guarded("AddModem", 0, [this]() {
        auto entry = std::make_unique<TModemSettings>();
        clearSlots(*entry);
        (*entry)[mdkSpkEnabled].StrValue = "NO";
        (*entry)[mdkAAMode].StrValue = "0";
        (*entry)[mdkGUID].StrValue = NewModemGUID();
        mItems.push_back(std::move(entry));
        return 0;
    });
}

TModemSettings* TModemsList::GetModem(int index) {
    return guarded("GetModem", static_cast<TModemSettings*>(nullptr), [&] { return at(index); });
}

void TModemsList::SetModem(int index, const TModemSettings* entry) {
    guarded("SetModem", 0, [&]() {
        if (index < 0 || !entry) return 0;
        if (TModemSettings* target = growTo(index, [this] { AddModem(); }))
            copySlots(*target, entry->Slots);
        return 0;
    });
}

void TModemsList::CopyFrom(const TModemsList* other) {
    guarded("CopyFrom", 0, [&]() {
        if (!other || other == this) return 0;
        copyRecordsFrom(*other);
        CurrentIndex = other->CurrentIndex;
        return 0;
    });
}

void TModemsList::DeleteModem(int index) {
    guarded("DeleteModem", 0, [&]() {
        if (index < 0 || index >= Count()) return 0;
        mItems.erase(mItems.begin() + index);
        if (index == CurrentIndex) CurrentIndex = -1;
        return 0;
    });
}

void TModemsList::Clear() {
    guarded("Clear", 0, [this]() {
        while (Count() > 0)
            DeleteModem(Count() - 1);
        return 0;
    });
}

void TModemsList::Load() {
    guarded("Load", 0, [this]() {
        mItems.clear();
        TIniFile ini(mSettings.SettingsFilePath());
        if (!ini.LastError().isEmpty()) {
            report("Load", ini.LastError());
            mSettings.PutInt(MRL_Modems, 0);
            return 0;
        }
        loadNumbered(ini, ModemSection, mSettings, MRL_Modems, mdkGUID);
        return 0;
    });
}

bool TModemsList::Save() {
    return guarded("Save", false, [this]() {
        TIniFile ini(mSettings.SettingsFilePath());
        if (!ini.LastError().isEmpty()) {
            report("Save", ini.LastError());
            return false;
        }
        saveNumbered(ini, ModemSection, mSettings, MRL_Modems);
        if (!ini.UpdateFile()) {
            report("Save", ini.LastError());
            return false;
        }
        return true;
    });
}

void TModemsList::Detect() {
    guarded("Detect", 0, [this]() {
        TComInfo source;
        Detect(source);
        return 0;
    });
}

void TModemsList::Detect(TComInfo& source) {
    guarded("Detect", 0, [&]() {
        // A source that was not told otherwise reads this program's folder and reports here.
        if (source.ProgramFolder.isEmpty()) source.ProgramFolder = mSettings.AppDir();
        if (!source.Report) source.Report = [this](const QString& line) { mStatus.Add(line); };
        Clear();
        source.Scan();
        int slotCount = 0;
        for (int n = 0; n < TComInfo::MaxModems; ++n) {
            QString model;
            int port = 0;
            if (source.GetModemNameAndPort(n, model, port)) slotCount = n + 1;
        }
        mStatus.Add(QStringLiteral("TModemsList.Detect: nummodems=") +
                  QString::number(slotCount - 1));
        for (int n = 0; n < slotCount; ++n) {
            TModemSettings found;
            clearSlots(found);
            QString location;
            if (!source.GetModemInfo(n, found, location)) continue;
            const QString name = found.Get(mdkFriendlyName);
            if (name.isEmpty()) continue;
            // The port, and the Linux device behind it ("COM3 (/dev/serial/by-id/...)").
            const QString attached = found.Get(mdkAttachedTo);
            const QString device = source.DeviceOf(n);
            mStatus.Add(QStringLiteral("TModemsList.Detect: (%1) Detected ").arg(n) + name +
                        " on " + attached +
                        (device.isEmpty() || device == attached ? QString() : " (" + device + ")"));
            AddModem();
            TModemSettings& entry = *mItems.back();
            for (int k = mdkManufacturer; k <= mdkDefaultInitialization; ++k)
                entry.Slots[size_t(k)].SetStr(found.Slots[size_t(k)].StrValue);

            if (!location.trimmed().isEmpty()) {
                entry[mdkGUID].SetStr(location.trimmed());
            } else if (!entry.Get(mdkModel).trimmed().isEmpty()) {
                entry[mdkGUID].SetStr(entry.Get(mdkModel).trimmed());
            }

            // The stored strings end before the terminator ("ATZ<cr>" is kept as "ATZ"): the
            // modem controller adds its own.
            const QString terminator = entry.Get(mdkCommandTerminator).trimmed();
            if (!terminator.isEmpty()) {
                for (int k = 0; k < ModemKeyCount; ++k) {
                    if (k == mdkCommandTerminator) continue;
                    QString& value = entry.Slots[size_t(k)].StrValue;
                    const qsizetype at = value.indexOf(terminator);
                    if (at >= 0) value.truncate(at);
                }
            }

            const QString prefix = entry.Get(mdkCommandPrefix);
            entry[mdkDialString].SetStr(prefix + entry.Get(mdkDialPrefix) +
                                        entry.Get(mdkSelectToneDialing));
            entry[mdkCommandSpeakerOff].SetStr(prefix + entry.Get(mdkSpeakerOff));
            entry[mdkCommandSpeakerOn].SetStr(prefix + entry.Get(mdkSpeakerOn));
            // The monitor command switches auto-answer off ("ATS0=0"); on is the same register
            // set to answer at the first ring.
            const QString monitor = entry.Get(mdkMonitorOn);
            const qsizetype zero = monitor.indexOf(QLatin1String("=0"));
            if (zero >= 0) {
                entry[mdkMonitorOff].SetStr(monitor);
                entry[mdkMonitorOn].SetStr(monitor.left(zero + 1) + "1");
            } else {
                entry[mdkMonitorOff].SetStr(QString());
            }

            entry[mdkDialPrefixNo].SetStr(QString());
            entry[mdkUseBlindDialing].SetStr("NO");
            entry[mdkUseCompression].SetStr("NO");
            entry[mdkUseECC].SetStr("NO");
        }
        return 0;
    });
}

void SetModemInitStrings(QStringList& config, const TModemSettings& entry, QString& extra,
                         TRole role) {
    extra.clear();
    const auto set = [&](const char* name, TModemKey key, const char* terminator) {
        const QString value = entry.Get(key);
        if (!value.isEmpty()) setConfigValue(config, name, value + terminator);
    };
    set("RESETCMD", mdkCommandReset, "^M");
    set("DIALCMD", mdkDialString, "");
    set("HANGUPCMD", mdkHangupString, "^M");
    set("INITCMD", mdkDefaultInitialization, "^M");
    set("ANSWERCMD", mdkAnswerString, "^M");

    const auto yes = [&](TModemKey key) { return entry.Get(key) == "YES"; };
    // An empty command would only send a bare carriage return and wait for a reply.
    const auto add = [&](const QString& command) {
        if (!command.isEmpty()) extra += command + "^M" + "|||";
    };
    const QString prefix = entry.Get(mdkCommandPrefix);
    if (yes(mdkSupportsBlindDialing) && yes(mdkUseBlindDialing))
        add(prefix + entry.Get(mdkBlindDialingOn));
    if (yes(mdkSupportsErrorControl) && yes(mdkUseECC))
        add(prefix + entry.Get(mdkErrorControlOn));
    if (yes(mdkSupportsDataCompression) && yes(mdkUseCompression))
        add(prefix + entry.Get(mdkCompressionOn));
    const bool client = role == RoleClient, server = role == RoleServer;
    if (client || server) {
        const TModemKey speakerOn = client ? mdkOnDuringDialing : mdkOnDuringAnswer;
        if (yes(mdkSupportsSpeakerControl) && !entry.Get(speakerOn).isEmpty())
            add(yes(mdkSpkEnabled) ? prefix + entry.Get(speakerOn)
                                   : entry.Get(mdkCommandSpeakerOff));
    }
    if (server && entry.Get(mdkAAMode) == "1") add(entry.Get(mdkMonitorOn));
}
