#pragma once
// Where detection finds the installed modems on Linux. The candidates are the serial devices:
// the links AppDir/ports/COMn, and every device of /sys/class/tty that has hardware behind it.
// Each is asked at once, with short time-outs, whether a Hayes modem answers "OK" to "AT", and
// then for its maker and model. A modem that answers is described by the generic Hayes profile
// (command strings and every capability group of a standard modem).
//
// Modems that cannot be asked (a port held by another program, a modem with its command set
// switched off) and modems whose commands differ from the generic ones are described by files
// AppDir/modems/*.ini, with the value names of the Windows modem class:
//
//   [Modem]                   the modem's own values
//   Manufacturer=Acme         (a value given here wins over the modem's answers)
//   Model=LL-9600
//   FriendlyName=Acme LL-9600 Leased Line
//   AttachedTo=COM7           the port: "COMn" or a device path; empty or missing: no port
//   Reset=ATZ<cr>
//   [Answer]
//   1=ATA<cr>
//   [Hangup]
//   1=ATH<cr>
//   [Init]
//   2=AT&F E0 V1 &D2 &C1 S0=0<cr>
//   [Monitor]
//   1=ATS0=0<cr>
//   [Settings]
//   Prefix=AT
//   Terminator=<cr>
//   DialPrefix=D
//   Pulse=P
//   Tone=T
//   Blind_Off=X4              ... and the other capability values: Blind_On, Compression_Off,
//                             Compression_On, SpeakerMode_Off/_On/_Dial/_Setup,
//                             SpeakerVolume_High/_Low/_Med, ErrorControl_Off/_On,
//                             FlowControl_Hard/_Off/_Soft, SpeedNegotiation_Off/_On,
//                             CallSetupFailTimer, InactivityTimeout
//
// Values the file leaves out are taken from the generic profile; a value given empty means the
// modem has no such command (so an empty Blind_On makes the modem not support blind dialing).
// A file whose AttachedTo names a port that is also asked describes that modem: the file's values
// win over the answers and the generic ones. Any other file adds a modem of its own.
#include <QMap>
#include <QString>
#include <functional>
#include <vector>

struct TModemSettings;

// One modem as the source knows it. Values are keyed by their modem-class names in lower case
// ("manufacturer", "answer\1", "settings\prefix"); an absent key is a value that cannot be read.
struct TComModemRecord {
    QString FriendlyName;
    QString Location;   // the modem's identity: its COMn name, a device path or its file
    QString AttachedTo; // "COMn", a device path, or empty
    QString Device;     // the device it was found on (a port's link target, a stable name)
    QString Driver;     // the kernel driver of its device, or its description file
    QMap<QString, QString> Values;

    bool Has(const QString& name) const { return Values.contains(name.toLower()); }
    QString Value(const QString& name) const { return Values.value(name.toLower()); }
};

class TComInfo {
public:
    // At most this many modems are reported (indexes 0 to 50).
    static constexpr int MaxModems = 51;

    TComInfo() = default;

    // Sources; tests point them at folders of their own. The "ports/COMn" links and the
    // "modems/*.ini" descriptions are read from the program folder.
    QString ProgramFolder;
    QString TtyClassDir = QStringLiteral("/sys/class/tty");
    QString DevDir = QStringLiteral("/dev");
    int AnswerTimeoutMs = 1000;  // for the "OK" to "AT"
    int CommandTimeoutMs = 1000; // for each question after it
    // Writes a status line (what was asked and found, and the errors).
    std::function<void(const QString&)> Report;

    // Enumerates, asks and reads the files (again, when called again); the queries below scan
    // on first use.
    void Scan();

    // The model of the modem at the index and the number n of its port "COMn" (0 for another
    // port). False when there is no modem there or it has no model.
    bool GetModemNameAndPort(int index, QString& model, int& port);
    // Fills the values of the key table that the source knows (manufacturer ... initialisation,
    // with the capability groups) into the entry, by the reading rules of the modem class;
    // `location` gets the modem's location text. False when there is no modem at the index.
    bool GetModemInfo(int index, TModemSettings& entry, QString& location);

    const std::vector<TComModemRecord>& Records();
    // The device the modem at the index was found on; empty for one known from its file alone.
    QString DeviceOf(int index);

    // The values of a standard Hayes modem, keyed as in TComModemRecord.
    static QMap<QString, QString> GenericHayesProfile();
    // The values a description file (see above) gives, keyed as in TComModemRecord; a value given
    // empty is kept as an empty text. False with `error` set when the file cannot be read.
    static bool ReadDescription(const QString& path, QMap<QString, QString>& values,
                                QString& error);

private:
    void trace(const QString& text);
    void report(const QString& line);

    bool mScanned = false;
    std::vector<TComModemRecord> mRecords;
};
