#include "consoles/device_config.h"

#include "core/settings.h"
#include "platform/prompt.h"
#include "platform/serial_device.h"

#include <QFileInfo>
#include <algorithm>

namespace {
const QString DirectType = QStringLiteral("Direct");
const QString ModemType = QStringLiteral("Modem");
const QString UserDefined = QStringLiteral("User defined");

// The number in a stored text, kept inside the control's range; false when it is no number.
bool storedNumber(const QString& text, int low, int high, int& value) {
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok) return false;
    value = std::clamp(number, low, high);
    return true;
}

// The entry of a drop-down list equal to the text, or no selection.
QString entryOf(const QStringList& entries, const QString& text) {
    return entries.contains(text) ? text : QString();
}
} // namespace

const QStringList TDeviceConfig::Ports = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                          "COM6", "COM7", "COM8", "COM9"};
const QStringList TDeviceConfig::Bauds = {"1200",  "2400",  "4800",   "9600",   "19200",
                                          "38400", "57600", "115200", "128000", "256000"};
const QStringList TDeviceConfig::Types = {"Direct", "Modem"};
const QStringList TDeviceConfig::Parities = {"None", "Even", "Odd"};
const QStringList TDeviceConfig::StopBits = {"1", "1.5", "2"};

TDeviceConfig::TDeviceConfig(TModemsList& modems, TCommDevice& device, const TSettings& settings,
                             IPrompt& prompt)
    : mGivenModems(modems), mGivenDevice(device), mSettings(settings), mPrompt(prompt),
      mModems(modems.Settings(), modems.Status()) {}

QStringList TDeviceConfig::ModemNames() {
    QStringList names;
    for (int i = 0; i < mModems.Count(); ++i)
        names << mModems.GetSetting(i, mdkFriendlyName);
    return names;
}

QString TDeviceConfig::ModemText() {
    return modem >= 0 ? mModems.GetSetting(modem, mdkFriendlyName) : QString();
}

QString TDeviceConfig::portTarget() const {
    if (port.isEmpty()) return QString();
    if (!mBindDevice.isEmpty() && mBindPort == port) return mBindDevice;
    return SerialDevicePath(port, mSettings.AppDir());
}

QString TDeviceConfig::PortDevice() const {
    const QString path = portTarget();
    if (path.isEmpty() || QFileInfo::exists(path)) return path;
    return QStringLiteral("No device (") + path + QStringLiteral(" does not exist)");
}

QList<TDeviceConfig::TPortChoice> TDeviceConfig::PortChoices() const {
    QList<TPortChoice> choices;
    if (port.isEmpty()) return choices;
    const QString now = SerialDevicePath(port, mSettings.AppDir());
    const QString nowDevice = QFileInfo(now).canonicalFilePath();
    bool listed = false;
    for (const TSerialPortInfo& info : mMachinePorts) {
        const bool current = !nowDevice.isEmpty() && info.Device == nowDevice;
        // Slots without a UART would fill the list (a PC may have 32 of them).
        if (info.NoUart && !current) continue;
        listed = listed || current;
        choices.append({info.Path, info.Label()});
    }
    if (!listed)
        choices.append({now, QFileInfo::exists(now) ? now : now + QStringLiteral(" (missing)")});
    return choices;
}

int TDeviceConfig::PortChoice() const {
    const QList<TPortChoice> choices = PortChoices();
    const QString target = portTarget();
    const QString device = QFileInfo(target).canonicalFilePath();
    for (int i = 0; i < choices.size(); ++i)
        if (choices[i].Path == target) return i;
    for (int i = 0; i < choices.size(); ++i)
        if (!device.isEmpty() && QFileInfo(choices[i].Path).canonicalFilePath() == device) return i;
    return -1;
}

void TDeviceConfig::ChoosePortDevice(int index) {
    const QList<TPortChoice> choices = PortChoices();
    if (port.isEmpty() || index < 0 || index >= choices.size()) return;
    mBindPort = port;
    mBindDevice = choices[index].Path;
    // The modem found on that device now belongs to the port.
    if (page != DirectType) fillModems();
}

bool TDeviceConfig::attachedToPort(const QString& attached) const {
    if (attached == port) return true;
    // A modem found on a device that no port linked to carries the device's path.
    if (!attached.startsWith('/')) return false;
    const QString device = QFileInfo(portTarget()).canonicalFilePath();
    return !device.isEmpty() && QFileInfo(attached).canonicalFilePath() == device;
}

void TDeviceConfig::fillModems() {
    modem = -1;
    for (int i = 0; i < mModems.Count(); ++i)
        if (attachedToPort(mModems.GetSetting(i, mdkAttachedTo))) modem = i;
}

void TDeviceConfig::Show() {
    mMachinePorts = ListSerialPorts(DevRoot, SysRoot);
    mModems.CopyFrom(&mGivenModems);
    fillModems();

    mWorking.Slots = mGivenDevice.Slots;
    const QStringList param = mWorking.Get(dvkDevParam).split(',');
    const auto field = [&](int number) {
        return number <= param.size() ? param[number - 1] : QString();
    };
    const QString storedDelay = mWorking.Get(dvkDevDelay);
    if (!storedDelay.isEmpty()) storedNumber(storedDelay, MinDelay, MaxDelay, delay);

    const QString storedType = mWorking.Get(dvkDevType);
    if (storedType != DirectType && storedType != ModemType) {
        // A new device: the controls keep their initial values.
        page = DirectType;
        return;
    }
    storedNumber(mWorking.Get(dvkDevRetries), MinRetries, MaxRetries, retries);
    port = entryOf(Ports, field(1));
    baud = entryOf(Bauds, field(2));
    type = storedType;
    TypeOrPortChanged();
    if (type == ModemType) {
        // By name, as stored; of several entries with that name, the one the device refers to.
        const QString name = mWorking.Get(dvkDevName);
        const QStringList names = ModemNames();
        modem = names.indexOf(name);
        for (int i = 0; i < names.size(); ++i)
            if (names[i] == name && mModems.GetSetting(i, mdkGUID) == mWorking.Get(dvkDevGUID))
                modem = i;
        ModemChanged();
    } else {
        bool ok = false;
        const int storedBits = field(3).trimmed().toInt(&ok);
        if (ok && storedBits >= MinBits && storedBits <= MaxBits) bits = storedBits;
        if (Parities.contains(field(4))) parity = field(4);
        if (StopBits.contains(field(5))) stopBits = field(5);
    }
}

void TDeviceConfig::TypeOrPortChanged() {
    // A device chosen for another port is not bound to this one.
    if (mBindPort != port) mBindDevice.clear();
    page = type;
    if (page != DirectType) fillModems();
}

void TDeviceConfig::ModemChanged() {
    if (modem < 0 || modem >= mModems.Count()) return;
    mModems.CurrentIndex = modem;
    const QString attached = mModems.GetSetting(modem, mdkAttachedTo);
    if (attached == UserDefined || attached.isEmpty() || attachedToPort(attached)) return;
    mPrompt.MessageBox(QStringLiteral("Setting may be incorrect!\r\nThis device appears to be "
                                      "connected on ") +
                           attached + "!",
                       QString::fromLatin1(ApplicationTitle), TBoxIcon::Warning, TBoxButtons::Ok);
}

void TDeviceConfig::AddModem(const TModemEditor& edit) {
    mModems.AddModem();
    const int added = mModems.Count() - 1;
    mModems.CurrentIndex = added;
    mModems.PutSetting(added, mdkFriendlyName, QStringLiteral("Generic Modem"));
    mModems.PutSetting(added, mdkAttachedTo, UserDefined);
    if (edit && edit(mModems)) {
        fillModems();
        modem = added;
        ModemChanged();
        return;
    }
    mModems.DeleteModem(added);
    mModems.CurrentIndex = modem;
}

void TDeviceConfig::EditModem(const TModemEditor& edit) {
    if (modem < 0 || modem >= mModems.Count()) return;
    // The entry edited is the one the operator sees selected.
    mModems.CurrentIndex = modem;
    if (!edit || !edit(mModems)) return;
    fillModems();
    modem = mModems.CurrentIndex;
    ModemChanged();
}

void TDeviceConfig::DeleteModem() {
    if (modem < 0 || modem >= mModems.Count()) return;
    const TBoxResult answer = mPrompt.MessageBox(
        QStringLiteral("Are you sure you want to delete the selected modem configuration?"),
        QString::fromLatin1(ApplicationTitle), TBoxIcon::Warning, TBoxButtons::YesNo);
    if (answer != TBoxResult::Yes) return;
    mModems.DeleteModem(modem);
    // The list has no selection once its selected entry is gone.
    modem = -1;
    mModems.CurrentIndex = -1;
}

bool TDeviceConfig::fail(const QString& text) {
    mPrompt.MessageBox(text, QString::fromLatin1(ApplicationTitle), TBoxIcon::Error,
                       TBoxButtons::Ok);
    return false;
}

bool TDeviceConfig::Ok() {
    // A stored port or speed that the lists do not hold leaves them without a selection; saving
    // that would store a device without a port (and drop it from the list when it is saved).
    if (port.isEmpty()) return fail(QStringLiteral("Invalid port selected!"));
    if (baud.isEmpty()) return fail(QStringLiteral("Invalid baud rate selected!"));
    if (page != DirectType && ModemText().isEmpty())
        return fail(modem < 0 ? QStringLiteral("Invalid modem selected!")
                              : QStringLiteral("Modem is not properly configured!"));
    // The port's link; the device goes on storing "COMn". Nothing is handed back when the link
    // cannot be written.
    if (!mBindDevice.isEmpty() && mBindPort == port &&
        mBindDevice != SerialDevicePath(port, mSettings.AppDir())) {
        QString error;
        if (!BindSerialPort(mSettings.AppDir(), port, mBindDevice, error))
            return fail(QStringLiteral("Cannot bind ") + port + QStringLiteral(" to ") +
                        mBindDevice + ": " + error);
    }

    mWorking[dvkDevDelay].SetStr(QString::number(delay));
    mWorking[dvkDevType].SetStr(page);
    mWorking[dvkDevRetries].SetStr(QString::number(retries));
    if (page == DirectType) {
        mWorking[dvkDevName].SetStr(port);
        mWorking[dvkDevGUID].SetStr(port);
        mWorking[dvkDevParam].SetStr(
            QStringList{port, baud, QString::number(bits), parity, stopBits}.join(','));
    } else {
        // The device refers to the modem it shows, whichever entry was worked on last.
        mModems.CurrentIndex = modem;
        mGivenModems.CopyFrom(&mModems);
        mWorking[dvkDevName].SetStr(mModems.GetSetting(modem, mdkFriendlyName));
        mWorking[dvkDevGUID].SetStr(mModems.GetSetting(modem, mdkGUID));
        mWorking[dvkDevParam].SetStr(port + "," + baud);
    }
    mGivenDevice.Slots = mWorking.Slots;
    if (page != DirectType) ModemChanged();
    return true;
}
