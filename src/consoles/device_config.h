#pragma once
// "Device Configuration" without its window: edits one communication device (a direct cable or a
// modem on a port) and the modem catalogue it picks from. Works on a copy of the catalogue and of
// the device record; both go back to the caller only on OK (the catalogue only for a modem
// device).
//
// The port (COMn, as the device stores it) can be bound to one of this machine's serial devices,
// listed by their Linux names; OK then points the program folder's link ports/COMn at it (at its
// stable /dev/serial/by-id name where it has one).
#include "engine/devices.h"
#include "platform/serial_ports.h"
#include "serial/modems.h"

#include <QString>
#include <QStringList>
#include <functional>

class IPrompt;

class TDeviceConfig {
public:
    // The entries of the drop-down lists.
    static const QStringList Ports;    // cbPort: "COM1" .. "COM9"
    static const QStringList Bauds;    // cbBaud
    static const QStringList Types;    // cbDev: "Direct", "Modem"
    static const QStringList Parities; // cbParity
    static const QStringList StopBits; // cbStop
    static constexpr int MinDelay = 100, MaxDelay = 60000, DelayStep = 100;
    static constexpr int MinRetries = 1, MaxRetries = 9999;
    static constexpr int MinBits = 7, MaxBits = 8;

    TDeviceConfig(TModemsList& modems, TCommDevice& device, const TSettings& settings,
                  IPrompt& prompt);
    TDeviceConfig(const TDeviceConfig&) = delete;
    TDeviceConfig& operator=(const TDeviceConfig&) = delete;

    // What the controls show. A drop-down list's text is empty while it has no selection.
    QString port = QStringLiteral("COM1");   // cbPort
    QString baud = QStringLiteral("57600");  // cbBaud
    QString type = QStringLiteral("Direct"); // cbDev
    int retries = 5;                         // spRetry
    int delay = 10000;                       // spDelay, ms
    int bits = 8;                            // spBits
    QString parity = QStringLiteral("None"); // cbParity
    QString stopBits = QStringLiteral("1");  // cbStop
    int modem = -1;                          // cbModem: the selected entry (its catalogue index)
    QString page = QStringLiteral("Direct"); // the page nbSerial shows

    // The retry limit is shown in the client role only.
    bool retriesVisible() const { return mSettings.IsClient(); }
    // cbModem's entries: the catalogue copy's names in list order.
    QStringList ModemNames();
    // cbModem's text: the selected entry's name (empty without a selection).
    QString ModemText();
    // The device the chosen port opens on this machine (the target of the program folder's
    // ports/COMn link, else /dev/ttyS(n-1)), or a text saying that there is none; once a device
    // has been chosen for the port, that device.
    QString PortDevice() const;

    // Where the machine's serial devices are looked for (tests point them at a tree of their own).
    QString DevRoot = QStringLiteral("/dev");
    QString SysRoot = QStringLiteral("/sys");
    // One entry of the device list: what the port would be bound to, and its line in the list.
    struct TPortChoice {
        QString Path;
        QString Label;
    };
    // The device list for the chosen port: this machine's serial devices (ttyS slots without a
    // UART only when the port leads to one), and where the port leads now when that is none of
    // them (a test line, a device that is missing).
    QList<TPortChoice> PortChoices() const;
    // The entry of PortChoices() the port leads to (or is to be bound to); -1 for none.
    int PortChoice() const;
    // The operator chose an entry of PortChoices(): OK binds the port to it.
    void ChoosePortDevice(int index);

    // FormShow: the catalogue copied, the controls filled from the device.
    void Show();
    // cbDevChange (type or port changed): the page follows the type; a modem device's list is
    // filled again, selecting the modem attached to the port.
    void TypeOrPortChanged();
    // cbModemChange (a modem chosen): it becomes the current entry; a warning when it was found
    // on another port.
    void ModemChanged();

    // Shows "Modem Parameters" on the catalogue's current entry; true when it closed with OK.
    using TModemEditor = std::function<bool(TModemsList& catalogue)>;
    // btAddClick: a new "Generic Modem" ("User defined"), kept only when its editor says OK.
    void AddModem(const TModemEditor& edit);
    // btEditClick: edits the selected entry.
    void EditModem(const TModemEditor& edit);
    // btDelClick: removes the selected entry after the question.
    void DeleteModem();

    // btOkClick: on success the device (and, for a modem device, the catalogue) go back to the
    // caller and it returns true; a failed check shows its error box and returns false.
    bool Ok();

    TModemsList& Modems() { return mModems; }
    const TCommDevice& Working() const { return mWorking; }

private:
    void fillModems();
    bool fail(const QString& text);
    // Where the port leads: the chosen device, else what its link (or the default) names.
    QString portTarget() const;
    // True when a modem's attached-to text names the chosen port, or the device it leads to.
    bool attachedToPort(const QString& attached) const;

    std::vector<TSerialPortInfo> mMachinePorts; // read when the dialog is shown
    QString mBindPort, mBindDevice;             // the device chosen for a port, bound on OK

    TModemsList& mGivenModems;
    TCommDevice& mGivenDevice;
    const TSettings& mSettings;
    IPrompt& mPrompt;
    TModemsList mModems;
    TCommDevice mWorking;
};
