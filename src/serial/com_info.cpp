#include "serial/com_info.h"

#include "core/inifile.h"
#include "platform/serial_device.h"
#include "serial/modem_probe.h"
#include "serial/modems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <exception>

namespace {
const char* const TopValues[] = {"Manufacturer", "Model", "FriendlyName", "AttachedTo", "Reset"};
const char* const SettingsValues[] = {"Prefix",
                                      "Terminator",
                                      "DialPrefix",
                                      "Pulse",
                                      "Tone",
                                      "Blind_Off",
                                      "Blind_On",
                                      "Compression_Off",
                                      "Compression_On",
                                      "SpeakerMode_Off",
                                      "SpeakerMode_On",
                                      "SpeakerMode_Dial",
                                      "SpeakerMode_Setup",
                                      "SpeakerVolume_High",
                                      "SpeakerVolume_Low",
                                      "SpeakerVolume_Med",
                                      "ErrorControl_Off",
                                      "ErrorControl_On",
                                      "FlowControl_Hard",
                                      "FlowControl_Off",
                                      "FlowControl_Soft",
                                      "SpeedNegotiation_Off",
                                      "SpeedNegotiation_On",
                                      "CallSetupFailTimer",
                                      "InactivityTimeout"};
// Sections holding numbered command lists, and the numbers read from them.
struct NumberedSection {
    const char* section;
    const char* numbers[2];
};
const NumberedSection NumberedSections[] = {
    {"Answer", {"1", nullptr}},
    {"Hangup", {"1", nullptr}},
    {"Init", {"1", "2"}},
    {"Monitor", {"1", nullptr}},
};

// A port about to be asked.
struct TCandidate {
    QString AttachedTo; // "COMn" or the device path
    QString Path;       // what is opened
    QString Canonical;  // the device it leads to (empty when it leads nowhere)
    QString Location;
    QString Driver;
};


QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

QString readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLatin1(file.read(256)).trimmed();
}

// Orders "ttyS2" before "ttyS10".
bool naturalLess(const QString& a, const QString& b) {
    static const QRegularExpression tail(QStringLiteral("^(.*?)([0-9]+)$"));
    const auto ma = tail.match(a), mb = tail.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    return a < b;
}

// The kernel driver of the tty named `name`, when it has one.
QString driverOf(const QString& ttyClassDir, const QString& name) {
    if (name.isEmpty()) return QString();
    const QFileInfo link(ttyClassDir + "/" + name + "/device/driver");
    return link.exists() ? QFileInfo(link.canonicalFilePath()).fileName() : QString();
}

std::vector<TCandidate> portLinks(const QString& ttyClassDir, const QString& programFolder) {
    std::vector<std::pair<int, TCandidate>> found;
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QDir dir(programFolder + "ports");
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const auto match = com.match(name);
        if (!match.hasMatch()) continue;
        bool ok = false;
        const int number = match.captured(1).toInt(&ok);
        if (!ok || number < 1) continue;
        const bool taken = std::any_of(found.begin(), found.end(),
                                       [&](const auto& p) { return p.first == number; });
        if (taken) continue; // "COM3" and "com3": the device path rule picks one of them
        TCandidate c;
        c.AttachedTo = QStringLiteral("COM") + QString::number(number);
        c.Path = SerialDevicePath(c.AttachedTo, programFolder);
        c.Canonical = canonical(c.Path);
        c.Location = c.AttachedTo;
        c.Driver = driverOf(ttyClassDir, QFileInfo(c.Canonical).fileName());
        found.emplace_back(number, c);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TCandidate> out;
    for (auto& p : found)
        out.push_back(p.second);
    return out;
}

// The devices of the tty class that have hardware behind them, except those a port link already
// leads to.
std::vector<TCandidate> classDevices(const QString& ttyClassDir, const QString& devDir,
                                     const std::vector<TCandidate>& links, const QString& programFolder) {
    std::vector<TCandidate> out;
    if (ttyClassDir.isEmpty()) return out;
    QStringList names =
        QDir(ttyClassDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), naturalLess);
    // Stable names of the same devices (USB adapters change their ttyUSBn from plug to plug).
    QMap<QString, QString> stableNames;
    const QDir byId(devDir + "/serial/by-id");
    for (const QFileInfo& info :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty() && !stableNames.contains(target))
            stableNames.insert(target, info.absoluteFilePath());
    }
    static const QRegularExpression legacy(QStringLiteral("^ttyS([0-9]+)$"));
    for (const QString& name : names) {
        const QString classEntry = ttyClassDir + "/" + name;
        if (!QFileInfo::exists(classEntry + "/device")) continue; // virtual terminals, ptys
        // Legacy UART slots with no chip behind them report type 0.
        if (readSmallFile(classEntry + "/type") == QLatin1String("0")) continue;
        TCandidate c;
        c.Path = devDir + "/" + name;
        c.Canonical = canonical(c.Path);
        const bool linked = std::any_of(links.begin(), links.end(), [&](const TCandidate& l) {
            return !c.Canonical.isEmpty() && l.Canonical == c.Canonical;
        });
        if (linked) continue;
        c.AttachedTo = c.Path;
        // /dev/ttyS(n-1) is what COMn opens when no link says otherwise.
        const auto match = legacy.match(name);
        if (match.hasMatch() && !c.Canonical.isEmpty()) {
            const QString com =
                QStringLiteral("COM") + QString::number(match.captured(1).toInt() + 1);
            if (canonical(SerialDevicePath(com, programFolder)) == c.Canonical) c.AttachedTo = com;
        }
        c.Location = stableNames.value(c.Canonical, c.AttachedTo);
        c.Driver = driverOf(ttyClassDir, name);
        out.push_back(c);
    }
    return out;
}

// Applies a description's values: a value given empty removes it.
void applyDescription(QMap<QString, QString>& values, const QMap<QString, QString>& given) {
    for (auto it = given.begin(); it != given.end(); ++it) {
        if (it.value().isEmpty()) {
            values.remove(it.key());
        } else {
            values.insert(it.key(), it.value());
        }
    }
}

// "Maker Model", or the model alone when it already names the maker. Commas separate the parts
// of a device's stored modem reference, so none may appear in a name.
QString composeFriendlyName(const QMap<QString, QString>& values) {
    const QString given = values.value("friendlyname").trimmed();
    QString name;
    if (!given.isEmpty()) {
        name = given;
    } else {
        const QString maker = values.value("manufacturer").trimmed();
        const QString model = values.value("model").trimmed();
        if (model.isEmpty()) {
            name = maker;
        } else if (maker.isEmpty() || model.startsWith(maker, Qt::CaseInsensitive)) {
            name = model;
        } else {
            name = maker + " " + model;
        }
    }
    name.replace(',', ' ');
    return name.simplified().left(100);
}

using TLineFn = std::function<void(const QString&)>;

// The ports to ask: the port links, then the tty devices that no link leads to, without the
// system console (a serial console with a log-in prompt on it is never written to).
std::vector<TCandidate> candidatePorts(const QString& ttyClassDir, const QString& devDir,
                                       const QString& programFolder, const TLineFn& trace) {
    std::vector<TCandidate> candidates = portLinks(ttyClassDir, programFolder);
    const std::vector<TCandidate> devices =
        classDevices(ttyClassDir, devDir, candidates, programFolder);
    candidates.insert(candidates.end(), devices.begin(), devices.end());
    const QStringList consoles =
        readSmallFile(ttyClassDir + "/console/active").split(' ', Qt::SkipEmptyParts);
    for (const QString& name : consoles) {
        const QString device = canonical(devDir + "/" + name);
        for (auto it = candidates.begin(); it != candidates.end();) {
            if (device.isEmpty() || it->Canonical != device) {
                ++it;
                continue;
            }
            trace(it->AttachedTo + ": the system console, not asked");
            it = candidates.erase(it);
        }
    }
    return candidates;
}

// A description file, and the port it describes (-1: a modem of its own).
struct TDescription {
    QString Path;
    QMap<QString, QString> Values;
    int Candidate = -1;
};

// The description files of the program folder's "modems", each matched to the candidate its
// AttachedTo names; a file that cannot be read is reported and left out.
std::vector<TDescription> readDescriptions(const QString& programFolder,
                                           const std::vector<TCandidate>& candidates,
                                           const TLineFn& report) {
    std::vector<TDescription> descriptions;
    const QDir modemsDir(programFolder + "modems");
    for (const QFileInfo& file :
         modemsDir.entryInfoList({"*.ini"}, QDir::Files | QDir::System, QDir::Name)) {
        TDescription d;
        d.Path = file.absoluteFilePath();
        QString error;
        if (!TComInfo::ReadDescription(d.Path, d.Values, error)) {
            report(QStringLiteral("!TComInfo.Scan: ") + error);
            continue;
        }
        const QString attached = d.Values.value("attachedto").trimmed();
        for (size_t i = 0; i < candidates.size() && !attached.isEmpty(); ++i) {
            const TCandidate& c = candidates[i];
            const bool samePath = attached.startsWith('/') && !c.Canonical.isEmpty() &&
                                  canonical(attached) == c.Canonical;
            if (c.AttachedTo.compare(attached, Qt::CaseInsensitive) == 0 || samePath) {
                d.Candidate = int(i);
                break;
            }
        }
        descriptions.push_back(d);
    }
    return descriptions;
}

// Asks every candidate at once whether a modem answers, and who made it.
std::vector<TModemProbe> askPorts(const std::vector<TCandidate>& candidates,
                                  const TModemProbeTimes& times) {
    std::vector<TModemProbe> probes(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i)
        probes[i].Path = candidates[i].Path;
    ProbeModems(probes, times);
    return probes;
}

void traceProbe(const TCandidate& c, const TModemProbe& p, const TLineFn& trace) {
    const QString where = c.AttachedTo == c.Path ? c.Path : c.AttachedTo + " (" + c.Path + ")";
    switch (p.Outcome) {
    case TModemProbe::Answered:
        trace(where + ": modem answered" +
              (p.Manufacturer.isEmpty() ? QString() : ", manufacturer " + p.Manufacturer) +
              (p.Model.isEmpty() ? QString() : ", model " + p.Model));
        break;
    case TModemProbe::InUse:
        trace(where + ": in use by another program");
        break;
    case TModemProbe::NotOpened:
        trace(where + ": cannot open: " + p.Error);
        break;
    default:
        trace(where + ": no modem answered");
        break;
    }
}

const TDescription* descriptionOf(const std::vector<TDescription>& descriptions, int candidate) {
    for (const TDescription& d : descriptions)
        if (d.Candidate == candidate) return &d;
    return nullptr;
}

// A modem on a port that answered or that a file describes: the generic profile, what the
// modem said of itself, then the file's values.
TComModemRecord answeredRecord(const TCandidate& c, const TModemProbe& p,
                               const TDescription* described) {
    TComModemRecord record;
    record.Location = c.Location;
    record.AttachedTo = c.AttachedTo;
    record.Device = c.Location.startsWith('/') ? c.Location : c.Path;
    record.Driver = described ? described->Path : c.Driver;
    record.Values = TComInfo::GenericHayesProfile();
    if (!p.Manufacturer.isEmpty()) record.Values.insert("manufacturer", p.Manufacturer);
    if (!p.Model.isEmpty()) record.Values.insert("model", p.Model);
    if (described) applyDescription(record.Values, described->Values);
    return record;
}

// A modem known from its file alone.
TComModemRecord describedRecord(const TDescription& d) {
    TComModemRecord record;
    record.AttachedTo = d.Values.value("attachedto").trimmed();
    record.Location = record.AttachedTo.isEmpty()
                          ? QStringLiteral("modems/") + QFileInfo(d.Path).fileName()
                          : record.AttachedTo;
    record.Driver = d.Path;
    record.Values = TComInfo::GenericHayesProfile();
    applyDescription(record.Values, d.Values);
    return record;
}

// Names tell the modems apart in the lists: a second modem of the same name gets " #2".
void nameRecords(std::vector<TComModemRecord>& records) {
    QMap<QString, int> seen;
    for (TComModemRecord& record : records) {
        record.FriendlyName = composeFriendlyName(record.Values);
        if (record.FriendlyName.isEmpty()) continue;
        const int n = ++seen[record.FriendlyName.toUpper()];
        if (n > 1) record.FriendlyName += " #" + QString::number(n);
    }
}
} // namespace

QMap<QString, QString> TComInfo::GenericHayesProfile() {
    return {
        {"manufacturer", "Generic"},
        {"model", "Hayes Compatible Modem"},
        {"reset", "ATZ<cr>"},
        {"answer\\1", "ATA<cr>"},
        {"hangup\\1", "ATH<cr>"},
        {"init\\1", "AT<cr>"},
        {"init\\2", "AT&F E0 V1 &D2 &C1 S0=0<cr>"},
        {"monitor\\1", "ATS0=0<cr>"},
        {"settings\\prefix", "AT"},
        {"settings\\terminator", "<cr>"},
        {"settings\\dialprefix", "D"},
        {"settings\\pulse", "P"},
        {"settings\\tone", "T"},
        {"settings\\blind_off", "X4"},
        {"settings\\blind_on", "X3"},
        {"settings\\compression_off", "%C0"},
        {"settings\\compression_on", "%C1"},
        {"settings\\speakermode_off", "M0"},
        {"settings\\speakermode_on", "M2"},
        {"settings\\speakermode_dial", "M1"},
        {"settings\\speakermode_setup", "M3"},
        {"settings\\speakervolume_high", "L3"},
        {"settings\\speakervolume_low", "L1"},
        {"settings\\speakervolume_med", "L2"},
        {"settings\\errorcontrol_off", "\\N0"},
        {"settings\\errorcontrol_on", "\\N3"},
        {"settings\\flowcontrol_hard", "&K3"},
        {"settings\\flowcontrol_off", "&K0"},
        {"settings\\flowcontrol_soft", "&K4"},
        {"settings\\speednegotiation_off", "N0"},
        {"settings\\speednegotiation_on", "N1"},
        {"settings\\callsetupfailtimer", "S7=<#>"},
        {"settings\\inactivitytimeout", "S30=<#>"},
    };
}

bool TComInfo::ReadDescription(const QString& path, QMap<QString, QString>& values,
                               QString& error) {
    values.clear();
    if (!QFileInfo(path).isFile()) {
        error = path + ": not a file";
        return false;
    }
    const TIniFile ini(path);
    if (!ini.LastError().isEmpty()) {
        error = ini.LastError();
        return false;
    }
    const auto take = [&](const QString& section, const QString& name, const QString& key) {
        if (ini.ValueExists(section, name))
            values.insert(key.toLower(), ini.ReadString(section, name, QString()));
    };
    for (const char* name : TopValues)
        take("Modem", name, name);
    for (const NumberedSection& s : NumberedSections)
        for (const char* number : s.numbers)
            if (number) take(s.section, number, QString(s.section) + "\\" + number);
    for (const char* name : SettingsValues)
        take("Settings", name, QStringLiteral("Settings\\") + name);
    return true;
}

void TComInfo::Scan() {
    mScanned = true;
    mRecords.clear();
    const auto traceLine = [this](const QString& text) { trace(text); };
    const std::vector<TCandidate> candidates =
        candidatePorts(TtyClassDir, DevDir, ProgramFolder, traceLine);
    const std::vector<TDescription> descriptions =
        readDescriptions(ProgramFolder, candidates, [this](const QString& line) { report(line); });
    const std::vector<TModemProbe> probes =
        askPorts(candidates, TModemProbeTimes{AnswerTimeoutMs, CommandTimeoutMs});

    for (size_t i = 0; i < candidates.size(); ++i) {
        traceProbe(candidates[i], probes[i], traceLine);
        const TDescription* described = descriptionOf(descriptions, int(i));
        if (probes[i].Outcome != TModemProbe::Answered && !described) continue;
        mRecords.push_back(answeredRecord(candidates[i], probes[i], described));
    }
    for (const TDescription& d : descriptions)
        if (d.Candidate < 0) mRecords.push_back(describedRecord(d));
    if (int(mRecords.size()) > MaxModems) mRecords.resize(MaxModems);
    nameRecords(mRecords);
}

const std::vector<TComModemRecord>& TComInfo::Records() {
    if (!mScanned) Scan();
    return mRecords;
}

QString TComInfo::DeviceOf(int index) {
    if (!mScanned) Scan();
    return index >= 0 && index < int(mRecords.size()) ? mRecords[size_t(index)].Device : QString();
}

void TComInfo::trace(const QString& text) {
    report(QStringLiteral("TComInfo.Scan: ") + text);
}

void TComInfo::report(const QString& line) {
    if (Report) Report(line);
}

bool TComInfo::GetModemNameAndPort(int index, QString& model, int& port) {
    model.clear();
    port = 0;
    try {
        if (!mScanned) Scan();
        if (index < 0 || index >= int(mRecords.size())) return false;
        const TComModemRecord& record = mRecords[size_t(index)];
        const QString head = QStringLiteral("GetModemNameAndPort(%1).").arg(index);
        report(head + "Location=" + record.Location);
        if (!record.Driver.isEmpty()) report(head + "Driver=" + record.Driver);
        if (!record.Has("Model")) return false;
        model = record.Value("Model").left(40);
        report(head + "Model=" + model);
        const QString attached = record.AttachedTo.left(40);
        report(head + "AttachedTo=" + attached);
        static const QRegularExpression com(QStringLiteral("^COM([0-9]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
        const auto match = com.match(attached);
        if (match.hasMatch()) port = match.captured(1).toInt();
        return true;
    } catch (const std::exception& e) {
        report(QStringLiteral("!TComInfo.GetModemNameAndPort: ") +
                  QString::fromLocal8Bit(e.what()));
    }
    return false;
}

bool TComInfo::GetModemInfo(int index, TModemSettings& entry, QString& location) {
    location.clear();
    try {
        if (!mScanned) Scan();
        if (index < 0 || index >= int(mRecords.size())) return false;
        const TComModemRecord& record = mRecords[size_t(index)];
        report(QStringLiteral("GetModemInfo(") + record.Location + ")=" + record.FriendlyName);
        location = record.Location;
        entry[mdkFriendlyName].SetStr(record.FriendlyName);
        entry[mdkAttachedTo].SetStr(record.AttachedTo.left(40));

        // Values are read in the modem class's order; a missing required value ends the reading
        // and leaves the rest empty.
        const auto read = [&](const QString& name, int length, TModemKey key) {
            if (!record.Has(name)) return false;
            entry[key].SetStr(record.Value(name).left(length));
            return true;
        };
        if (!read("Manufacturer", 40, mdkManufacturer)) return true;
        if (!read("Model", 40, mdkModel)) entry[mdkModel].SetStr(record.FriendlyName);
        read("Reset", 40, mdkCommandReset);
        if (!read("Answer\\1", 40, mdkAnswerString)) return true;
        if (!read("Hangup\\1", 40, mdkHangupString)) return true;
        if (!read("Init\\2", 100, mdkDefaultInitialization)) return true;
        if (!read("Monitor\\1", 100, mdkMonitorOn)) return true;
        const std::pair<const char*, TModemKey> required[] = {
            {"Prefix", mdkCommandPrefix},   {"Terminator", mdkCommandTerminator},
            {"DialPrefix", mdkDialPrefix},  {"Pulse", mdkSelectPulseDialing},
            {"Tone", mdkSelectToneDialing},
        };
        for (const auto& [name, key] : required)
            if (!read(QStringLiteral("Settings\\") + name, 40, key)) return true;

        // A capability is supported when every value of its group was read.
        const auto group = [&](TModemKey supported,
                               std::initializer_list<std::pair<const char*, TModemKey>> values) {
            bool all = true;
            for (const auto& [name, key] : values)
                if (!read(QStringLiteral("Settings\\") + name, 40, key)) {
                    all = false;
                    break;
                }
            entry[supported].SetStr(all ? "YES" : "NO");
        };
        group(mdkSupportsBlindDialing,
              {{"Blind_Off", mdkBlindDialingOff}, {"Blind_On", mdkBlindDialingOn}});
        group(mdkSupportsDataCompression,
              {{"Compression_Off", mdkCompressionOff}, {"Compression_On", mdkCompressionOn}});
        group(mdkSupportsSpeakerControl, {{"SpeakerMode_Off", mdkSpeakerOff},
                                          {"SpeakerMode_On", mdkSpeakerOn},
                                          {"SpeakerMode_Dial", mdkOnDuringDialing},
                                          {"SpeakerMode_Setup", mdkOnDuringAnswer}});
        group(mdkSupportsVolumeControl, {{"SpeakerVolume_High", mdkSpeakerVolumeHigh},
                                         {"SpeakerVolume_Low", mdkSpeakerVolumeLow},
                                         {"SpeakerVolume_Med", mdkSpeakerVolumeMedium}});
        group(mdkSupportsErrorControl,
              {{"ErrorControl_Off", mdkErrorControlOff}, {"ErrorControl_On", mdkErrorControlOn}});
        group(mdkSupportsFlowControl, {{"FlowControl_Hard", mdkHardwareFlowControl},
                                       {"FlowControl_Off", mdkNoFlowControl},
                                       {"FlowControl_Soft", mdkSoftwareFlowControl}});
        group(mdkSupportsSpeedNegotiation, {{"SpeedNegotiation_Off", mdkSpeedNegotiationOff},
                                            {"SpeedNegotiation_On", mdkSpeedNegotiationOn}});
        group(mdkSupportsCallFailTimer, {{"CallSetupFailTimer", mdkSetCallFailTimer}});
        group(mdkSupportsInactivityTimeout, {{"InactivityTimeout", mdkSetInactivityTimeout}});
        return true;
    } catch (const std::exception& e) {
        report(QStringLiteral("!TComInfo.GetModemInfo: ") + QString::fromLocal8Bit(e.what()));
    }
    return false;
}
