// "Device Configuration" and "Modem Parameters" as windows, on the offscreen platform: their
// controls' names and captions, the role's panels, the page following the type, the device a
// port leads to and the machine's devices to bind it to, EditDevice's OK and Cancel, and a modem
// added through "Modem Parameters".
#include "common/fake_machine.h"
#include "common/test_home.h"
#include "consoles/device_fixtures.h"
#include "gui/device_dialog.h"
#include "gui/modem_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {
template <typename T> T* child(const QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no %s", name);
    return found;
}

QStringList items(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

QStringList labels(const QWidget* parent) {
    QStringList out;
    for (const QLabel* label : parent->findChildren<QLabel*>())
        out << label->text();
    return out;
}

// Chooses an entry as the operator does (activated, not only a changed index).
void choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

// Runs `action` on the modal window of type T once it is up (it may open later, from a click).
template <typename T> void whenModal(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action]() {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(window);
        }
    });
    timer->start();
}
} // namespace

class TestDeviceDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deviceConfigurationControls() {
        TestHome home(1);
        TCommDevice& device = newDevice(home);
        TfrmConn dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Device Configuration"));
        auto* pgDev = child<QTabWidget>(&dialog, "pgDev");
        QCOMPARE(pgDev->count(), 1);
        QCOMPARE(pgDev->widget(0)->objectName(), QString("tabSerial"));
        QCOMPARE(pgDev->tabText(0), QString("Serial"));

        auto* cbPort = child<QComboBox>(&dialog, "cbPort");
        QCOMPARE(items(cbPort), TDeviceConfig::Ports);
        QCOMPARE(cbPort->currentText(), QString("COM1"));
        auto* cbBaud = child<QComboBox>(&dialog, "cbBaud");
        QCOMPARE(items(cbBaud), (QStringList{"1200", "2400", "4800", "9600", "19200", "38400",
                                             "57600", "115200", "128000", "256000"}));
        QCOMPARE(cbBaud->currentText(), QString("57600"));
        auto* cbDev = child<QComboBox>(&dialog, "cbDev");
        QCOMPARE(items(cbDev), (QStringList{"Direct", "Modem"}));
        QCOMPARE(cbDev->currentText(), QString("Direct"));
        auto* spRetry = child<QSpinBox>(&dialog, "spRetry");
        QCOMPARE((QList<int>{spRetry->minimum(), spRetry->maximum(), spRetry->value()}),
                 (QList<int>{1, 9999, 5}));
        QVERIFY(child<QWidget>(&dialog, "pRetr")->isVisible());
        auto* spDelay = child<QSpinBox>(&dialog, "spDelay");
        QCOMPARE((QList<int>{spDelay->minimum(), spDelay->maximum(), spDelay->singleStep(),
                             spDelay->value()}),
                 (QList<int>{100, 60000, 100, 10000}));
        auto* spBits = child<QSpinBox>(&dialog, "spBits");
        QCOMPARE((QList<int>{spBits->minimum(), spBits->maximum(), spBits->value()}),
                 (QList<int>{7, 8, 8}));
        QCOMPARE(items(child<QComboBox>(&dialog, "cbParity")),
                 (QStringList{"None", "Even", "Odd"}));
        QCOMPARE(child<QComboBox>(&dialog, "cbParity")->currentText(), QString("None"));
        QCOMPARE(items(child<QComboBox>(&dialog, "cbStop")), (QStringList{"1", "1.5", "2"}));
        QCOMPARE(child<QComboBox>(&dialog, "cbStop")->currentText(), QString("1"));
        auto* nbSerial = child<QStackedWidget>(&dialog, "nbSerial");
        QCOMPARE(nbSerial->currentWidget()->objectName(), QString("Direct"));
        QVERIFY(child<QComboBox>(nbSerial, "cbModem"));
        // The line settings stand in the column of the fields above them.
        const int fields = cbBaud->mapTo(&dialog, QPoint()).x();
        for (const char* name : {"spBits", "cbParity", "cbStop", "spDelay"})
            QCOMPARE(child<QWidget>(&dialog, name)->mapTo(&dialog, QPoint()).x(), fields);

        const QStringList shown = labels(&dialog);
        for (const char* caption :
             {"Port #:", "Port baud rate:", "Type:", "Max retries:", "Response delay:", "ms",
              "Bits:", "Parity:", "Stop bits:", "Modem:"})
            QVERIFY2(shown.contains(caption), caption);
        const std::pair<const char*, const char*> buttons[] = {{"btAdd", "&Add"},
                                                               {"btEdit", "&Edit"},
                                                               {"btDel", "&Delete"},
                                                               {"btOk", "&OK"},
                                                               {"btCancel", "&Cancel"}};
        for (const auto& [name, caption] : buttons)
            QCOMPARE(child<QPushButton>(&dialog, name)->text(), QString(caption));
        QVERIFY(child<QPushButton>(&dialog, "btOk")->isDefault());
    }

    void serverHasNoRetryLimit() {
        TestHome home(2);
        TCommDevice& device = newDevice(home);
        TfrmConn dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.show();
        QVERIFY(!child<QWidget>(&dialog, "pRetr")->isVisible());
        QVERIFY(child<QSpinBox>(&dialog, "spDelay")->isVisible());
    }

    void typeAndPortChoices() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        addModem(modems, "Bench modem", "User defined");
        QVERIFY(WriteFile(home.file("dev/line3"), ""));
        QVERIFY(QDir().mkpath(home.file("ports")));
        QVERIFY(QFile::link(home.file("dev/line3"), home.file("ports/COM3")));
        TCommDevice& device = newDevice(home);
        TfrmConn dialog(modems, device, home.settings(), home.prompt());
        dialog.show();
        auto* nbSerial = child<QStackedWidget>(&dialog, "nbSerial");
        auto* cbModem = child<QComboBox>(&dialog, "cbModem");
        auto* portDevice = child<QLabel>(&dialog, "lbPortDevice");

        choose(child<QComboBox>(&dialog, "cbDev"), "Modem");
        QCOMPARE(nbSerial->currentWidget()->objectName(), QString("Modem"));
        QCOMPARE(items(cbModem), (QStringList{"Acme 56K", "Bench modem"}));
        QCOMPARE(cbModem->currentIndex(), -1);

        choose(child<QComboBox>(&dialog, "cbPort"), "COM3");
        QCOMPARE(cbModem->currentText(), QString("Acme 56K"));
        QCOMPARE(portDevice->text(), home.file("dev/line3"));
        QVERIFY(home.prompt().boxes.isEmpty());

        choose(child<QComboBox>(&dialog, "cbPort"), "COM2");
        choose(cbModem, "Acme 56K");
        QCOMPARE(home.prompt().texts(),
                 QStringList{"Setting may be incorrect!\r\nThis device appears to be connected "
                             "on COM3!"});
        choose(child<QComboBox>(&dialog, "cbDev"), "Direct");
        QCOMPARE(nbSerial->currentWidget()->objectName(), QString("Direct"));
    }

    void portBoundToAMachineDevice() {
        TestHome home(1);
        FakeMachine m{home.path() + "machine"};
        MakeSmallMachine(m, QString());
        const QString ftdi = m.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
        QVERIFY(makeLink(m.dev() + "/ttyS0", home.file("ports/COM1")));
        TCommDevice& device = newDevice(home);
        TfrmConn dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.presenter().DevRoot = m.dev();
        dialog.presenter().SysRoot = m.sys();
        dialog.show();
        auto* list = child<QComboBox>(&dialog, "cbPortDevice");
        QCOMPARE(items(list).mid(0, 3),
                 (QStringList{"ttyUSB0: FTDI FT232R USB UART, serial A1B2C3 (ftdi_sio)",
                              "ttyS0 (serial), system console", "ttyS12 (serial)"}));
        QCOMPARE(list->currentIndex(), 1);
        QVERIFY(labels(&dialog).contains("Device:"));
        choose(list, items(list).first());
        QCOMPARE(child<QLabel>(&dialog, "lbPortDevice")->text(), ftdi);
        QCOMPARE(QFileInfo(home.file("ports/COM1")).symLinkTarget(), m.dev() + "/ttyS0");
        child<QPushButton>(&dialog, "btOk")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(QFileInfo(home.file("ports/COM1")).symLinkTarget(), ftdi);
        QCOMPARE(device.Get(dvkDevParam).section(',', 0, 0), QString("COM1"));
    }

    void editDeviceWritesBackOnlyOnOk() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        TCommDevice& device = newDevice(home);
        device[dvkDevType].SetStr("Direct");
        device[dvkDevName].SetStr("COM2");
        device[dvkDevGUID].SetStr("COM2");
        device[dvkDevParam].SetStr("COM2,19200,7,Even,2");

        // Changed, then cancelled.
        whenModal<TfrmConn>([](TfrmConn* dialog) {
            QCOMPARE(child<QComboBox>(dialog, "cbBaud")->currentText(), QString("19200"));
            QCOMPARE(child<QSpinBox>(dialog, "spBits")->value(), 7);
            QCOMPARE(child<QComboBox>(dialog, "cbParity")->currentText(), QString("Even"));
            QCOMPARE(child<QComboBox>(dialog, "cbStop")->currentText(), QString("2"));
            choose(child<QComboBox>(dialog, "cbPort"), "COM4");
            child<QSpinBox>(dialog, "spDelay")->setValue(700);
            child<QPushButton>(dialog, "btCancel")->click();
        });
        QVERIFY(!EditDevice(modems, device, home.settings(), home.prompt(), nullptr));
        QCOMPARE(device.Get(dvkDevParam), QString("COM2,19200,7,Even,2"));
        QCOMPARE(device.Get(dvkDevDelay), QString("10000"));

        // A modem device without a modem: the error keeps the window open; then a direct one.
        bool stayedOpen = false;
        whenModal<TfrmConn>([&](TfrmConn* dialog) {
            choose(child<QComboBox>(dialog, "cbPort"), "COM1");
            choose(child<QComboBox>(dialog, "cbDev"), "Modem");
            child<QPushButton>(dialog, "btOk")->click();
            stayedOpen = dialog->isVisible();
            choose(child<QComboBox>(dialog, "cbDev"), "Direct");
            choose(child<QComboBox>(dialog, "cbParity"), "Odd");
            child<QSpinBox>(dialog, "spDelay")->setValue(700);
            child<QPushButton>(dialog, "btOk")->click();
        });
        QVERIFY(EditDevice(modems, device, home.settings(), home.prompt(), nullptr));
        QVERIFY(stayedOpen);
        QCOMPARE(home.prompt().texts(), QStringList{"Invalid modem selected!"});
        QCOMPARE(device.Get(dvkDevParam), QString("COM1,19200,7,Odd,2"));
        QCOMPARE(device.Get(dvkDevName), QString("COM1"));
        QCOMPARE(device.Get(dvkDevDelay), QString("700"));
        QCOMPARE(modems.Count(), 1);
    }

    // Add opens "Modem Parameters" on a new entry; its OK puts it into the list, selected, and
    // the device's OK hands the catalogue back.
    void modemAddedThroughModemParameters() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        TCommDevice& device = newDevice(home);
        QStringList seen;
        whenModal<TfrmConn>([&](TfrmConn* dialog) {
            choose(child<QComboBox>(dialog, "cbDev"), "Modem");
            whenModal<TfrmMdmProp>([&](TfrmMdmProp* properties) {
                seen << child<QLineEdit>(properties, "edMdmDesc")->text();
                // The first OK fails (no init string) and keeps the window open.
                child<QLineEdit>(properties, "edMdmDesc")->setText("Bench modem");
                child<QLineEdit>(properties, "edDialString")->setText("ATDT");
                child<QPushButton>(properties, "btOk")->click();
                seen << QString::number(properties->isVisible());
                child<QLineEdit>(properties, "edInit")->setText("AT&F");
                child<QLineEdit>(properties, "edHangup")->setText("ATH");
                child<QLineEdit>(properties, "edReset")->setText("ATZ");
                child<QPushButton>(properties, "btOk")->click();
            });
            child<QPushButton>(dialog, "btAdd")->click();
            seen << child<QComboBox>(dialog, "cbModem")->currentText();
            child<QPushButton>(dialog, "btOk")->click();
        });
        QVERIFY(EditDevice(modems, device, home.settings(), home.prompt(), nullptr));
        QCOMPARE(seen, (QStringList{"Generic Modem", "1", "Bench modem"}));
        QCOMPARE(home.prompt().texts(), QStringList{"Invalid init string!"});
        QCOMPARE(modems.Count(), 2);
        QCOMPARE(modems.GetSetting(1, mdkFriendlyName), QString("Bench modem"));
        QCOMPARE(modems.GetSetting(1, mdkAttachedTo), QString("User defined"));
        QCOMPARE(modems.GetSetting(1, mdkDefaultInitialization), QString("AT&F"));
        QCOMPARE(device.Get(dvkDevType), QString("Modem"));
        QCOMPARE(device.Get(dvkDevGUID), modems.GetSetting(1, mdkGUID));
        QCOMPARE(device.Get(dvkDevParam), QString("COM1,57600"));
    }

    void modemParametersFollowTheRole_data() {
        QTest::addColumn<int>("role");
        QTest::newRow("client") << 1;
        QTest::newRow("server") << 2;
    }
    void modemParametersFollowTheRole() {
        QFETCH(int, role);
        TestHome home(role);
        TModemsList& modems = *home.ctx().modems;
        const int edited = addModem(modems, "Desk modem", "COM2");
        modems.PutSetting(edited, mdkSupportsErrorControl, "YES");
        modems.PutSetting(edited, mdkUseECC, "YES");
        modems.PutSetting(edited, mdkUseCompression, "YES"); // not supported
        modems.PutSetting(edited, mdkAAMode, "1");
        modems.CurrentIndex = edited;
        TfrmMdmProp dialog(modems, home.settings(), home.prompt());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Modem Parameters"));
        QCOMPARE(child<QWidget>(&dialog, "pnlDial")->isVisible(), role == 1);
        auto* rgAA = child<QGroupBox>(&dialog, "rgAA");
        QCOMPARE(rgAA->isVisible(), role == 2);
        QCOMPARE(rgAA->title(), QString(" Auto-answering "));
        QStringList modes;
        for (const QRadioButton* mode : rgAA->findChildren<QRadioButton*>())
            modes << mode->text() + (mode->isChecked() ? "*" : "");
        // The entry's mode is shown in the server role only; the client keeps the first item.
        QStringList expectedModes{"Default (use Init. string)", "Hardware", "Forced (software)"};
        expectedModes[role == 2 ? 1 : 0] += "*";
        QCOMPARE(modes, expectedModes);
        QCOMPARE(child<QLineEdit>(&dialog, "edMdmDesc")->text(), QString("Desk modem"));
        const std::pair<const char*, const char*> boxes[] = {
            {"ckBlind", "Enable blind dialing"},
            {"ckECC", "Enable error correction"},
            {"ckCompr", "Enable compression"},
            {"ckEnableSpk", "Enable modem speaker"}};
        QStringList state;
        for (const auto& [name, caption] : boxes) {
            const QCheckBox* box = child<QCheckBox>(&dialog, name);
            QCOMPARE(box->text(), QString(caption));
            state << QString("%1%2").arg(box->isEnabled()).arg(box->isChecked());
        }
        QCOMPARE(state, (QStringList{"00", "11", "00", "00"}));
        // The four check boxes stand in one column, left under the captions.
        for (const auto& [name, caption] : boxes) {
            const QCheckBox* box = child<QCheckBox>(&dialog, name);
            if (box->isVisible())
                QCOMPARE(box->mapTo(&dialog, QPoint()).x(),
                         child<QCheckBox>(&dialog, "ckECC")->mapTo(&dialog, QPoint()).x());
        }
        const QStringList shown = labels(&dialog);
        for (const char* caption :
             {"Modem name:", "Dial string:", "Dial prefix:", "Initialization string:",
              "Hangup string:", "Reset string:", "Auto-answer ON:", "Auto-answer OFF:",
              "Speaker ON:", "Speaker OFF:"})
            QVERIFY2(shown.contains(caption), caption);
        QCOMPARE(child<QPushButton>(&dialog, "btModems")->text(), QString("Detect modems..."));
        QVERIFY(child<QPushButton>(&dialog, "btOk")->isDefault());

        // In the server role "Hardware" asks for an auto-answer ON string.
        for (const char* name : {"edInit", "edHangup", "edReset"})
            child<QLineEdit>(&dialog, name)->setText("AT");
        child<QPushButton>(&dialog, "btOk")->click();
        const QStringList expected = role == 1 ? QStringList{"Invalid dial string!"}
                                               : QStringList{"Invalid auto-answer ON string!"};
        QCOMPARE(home.prompt().texts(), expected);
        QVERIFY(dialog.isVisible());
        QCOMPARE(modems.GetSetting(edited, mdkDefaultInitialization), QString());
    }
};

QTEST_MAIN(TestDeviceDialog)
#include "device_dialog_test.moc"
