#pragma once
// The modem catalogue: the modem configurations that communication devices refer to by their
// mdkGUID. Entries live in the settings file ("MODEM" + n, count MRL_Modems) and are turned into
// the modem controller's command table by SetModemInitStrings when a modem session starts.
#include "core/record_list.h"
#include "core/settings.h"
#include "core/status.h"

#include <QString>
#include <QStringList>

class TComInfo;

enum TModemKey {
    mdkManufacturer,
    mdkFriendlyName,
    mdkModel,
    mdkAttachedTo,
    mdkDialString,
    mdkDialPrefixNo,
    mdkAnswerString,
    mdkMonitorOn,
    mdkMonitorOff,
    mdkCommandPrefix,
    mdkCommandTerminator,
    mdkCommandReset,
    mdkDialPrefix,
    mdkSelectPulseDialing,
    mdkSelectToneDialing,
    mdkHangupString,
    mdkSupportsBlindDialing,
    mdkBlindDialingOff,
    mdkBlindDialingOn,
    mdkSupportsDataCompression,
    mdkCompressionOff,
    mdkCompressionOn,
    mdkSupportsSpeakerControl,
    mdkOnDuringDialing,
    mdkOnDuringAnswer,
    mdkSpeakerOff,
    mdkSpeakerOn,
    mdkSupportsVolumeControl,
    mdkSpeakerVolumeHigh,
    mdkSpeakerVolumeMedium,
    mdkSpeakerVolumeLow,
    mdkSupportsErrorControl,
    mdkErrorControlOff,
    mdkErrorControlOn,
    mdkSupportsFlowControl,
    mdkHardwareFlowControl,
    mdkSoftwareFlowControl,
    mdkNoFlowControl,
    mdkSupportsSpeedNegotiation,
    mdkSpeedNegotiationOff,
    mdkSpeedNegotiationOn,
    mdkSupportsCallFailTimer,
    mdkSetCallFailTimer,
    mdkSupportsInactivityTimeout,
    mdkSetInactivityTimeout,
    mdkDefaultInitialization,
    mdkUseBlindDialing,
    mdkUseCompression,
    mdkUseECC,
    mdkSpkEnabled,
    mdkAAMode,
    mdkCommandSpeakerOn,
    mdkCommandSpeakerOff,
    mdkGUID,
    ModemKeyCount
};
static_assert(ModemKeyCount == 54);

// "mdkManufacturer", ... in key order (also the value names in the settings file).
extern const char* const ModemKeyNames[ModemKeyCount];
// The texts shown for the keys in the detection dialog ("Manufacturer:", ...); a caption that
// begins with "-" marks a key the dialog does not show.
extern const char* const ModemKeyCaptions[ModemKeyCount];

// One modem configuration: 54 String slots indexed by TModemKey.
struct TModemSettings : TSlotRecord<TModemKey, ModemKeyCount> {};

// A new identifier in the braced 38-character form, upper case like a Windows GUID.
QString NewModemGUID();

class TModemsList : public TRecordList<TModemSettings> {
public:
    TModemsList(TSettings& settings, TStatusSink& status);

    // GetSetting and PutSetting (TRecordList) give and take a value (cut to 255 bytes).
    // Appends an entry: every value empty, mdkSpkEnabled "NO", mdkAAMode "0", mdkGUID new.
    void AddModem();
    // The entry at index, or nullptr outside the list. The list keeps ownership.
    TModemSettings* GetModem(int index);
    // Appends new entries (as AddModem) until index exists, then copies all 54 values. Negative
    // index or no entry: nothing.
    void SetModem(int index, const TModemSettings* entry);
    // Replaces all entries by copies of the other list's and takes its CurrentIndex.
    void CopyFrom(const TModemsList* other);
    // Removes the entry; CurrentIndex becomes -1 when it pointed at it, and is otherwise left as
    // it was.
    void DeleteModem(int index);
    void Clear();
    // Reads MRL_Modems sections "MODEM" + n of the settings file; entries without mdkGUID are
    // dropped and MRL_Modems becomes the number kept.
    void Load();
    // Writes MRL_Modems and every entry into the settings file. False when it could not be
    // written.
    bool Save();
    // Replaces the entries by the modems installed on this machine (see serial/com_info.h): each
    // with its friendly name, port, command strings and capabilities, mdkGUID from its location,
    // the values cut at the command terminator, the dial and speaker commands composed, and the
    // user choices "NO". Asks the serial devices, so it takes about a second.
    void Detect();
    // The same from a given source (tests point it at folders of their own).
    void Detect(TComInfo& source);

    // The entry being worked on; -1 for none.
    int CurrentIndex = -1;

    // What the catalogue was made with; a working copy of it is made with the same.
    TSettings& Settings() const { return mSettings; }
    TStatusSink& Status() const { return mStatus; }

private:
    TSettings& mSettings;
};

// Writes the entry's command strings into the modem controller's NAME=VALUE list (RESETCMD,
// DIALCMD, HANGUPCMD, INITCMD, ANSWERCMD; each only when the entry has a value; a line with that
// name, compared case-insensitively, is replaced, else one is appended) and sets `extra` to the
// additional commands for the role, each followed by "^M" and "|||".
void SetModemInitStrings(QStringList& config, const TModemSettings& entry, QString& extra,
                         TRole role);
