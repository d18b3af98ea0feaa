// "Device Configuration" without its window: a new device's values, direct and modem devices
// stored and shown again, the modem list following the port, the warning for a modem found on
// another port, the checks on OK with their messages, adding, editing and deleting modems on the
// dialog's copy, and the caller's catalogue and device untouched until OK; the machine's serial
// devices listed for a port and the chosen one bound to it (a port that then talks over a
// pseudo-terminal behind a stable name).
#include "common/fake_machine.h"
#include "common/test_home.h"
#include "consoles/device_config.h"
#include "consoles/device_fixtures.h"
#include "serial/comm.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <fcntl.h>
#include <pty.h>

namespace {
void store(TCommDevice& device, const QString& type, const QString& name, const QString& guid,
           const QString& param, const QString& retries = "5") {
    device[dvkDevType].SetStr(type);
    device[dvkDevName].SetStr(name);
    device[dvkDevGUID].SetStr(guid);
    device[dvkDevParam].SetStr(param);
    device[dvkDevRetries].SetStr(retries);
}

QStringList slots(const TCommDevice& device) {
    QStringList out;
    for (const TIniKey& slot : device.Slots)
        out << slot.StrValue;
    return out;
}

QStringList names(TModemsList& list) {
    QStringList out;
    for (int i = 0; i < list.Count(); ++i)
        out << list.GetSetting(i, mdkFriendlyName);
    return out;
}

const QString WarningCOM3 =
    QStringLiteral("Setting may be incorrect!\r\nThis device appears to be connected on COM3!");
} // namespace

class TestDeviceConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newDeviceOpensWithInitialValuesAndStoresDirect() {
        TestHome home(1);
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.Show();
        QCOMPARE(dialog.port, QString("COM1"));
        QCOMPARE(dialog.baud, QString("57600"));
        QCOMPARE(dialog.type, QString("Direct"));
        QCOMPARE(dialog.page, QString("Direct"));
        QCOMPARE(dialog.bits, 8);
        QCOMPARE(dialog.parity, QString("None"));
        QCOMPARE(dialog.stopBits, QString("1"));
        QCOMPARE(dialog.delay, 10000);
        QCOMPARE(dialog.retries, 5);
        QVERIFY(dialog.retriesVisible());

        QVERIFY(dialog.Ok());
        QCOMPARE(slots(device), (QStringList{"Direct", "COM1", "COM1", "10000",
                                             "COM1,57600,8,None,1", "NO", "5"}));
        QVERIFY(home.prompt().boxes.isEmpty());
    }

    void directDeviceStoredAndShownAgain() {
        TestHome home(1);
        TCommDevice& device = newDevice(home);
        {
            TDeviceConfig dialog(*home.ctx().modems, device, home.settings(), home.prompt());
            dialog.Show();
            dialog.port = "COM2";
            dialog.TypeOrPortChanged();
            dialog.baud = "19200";
            dialog.bits = 7;
            dialog.parity = "Even";
            dialog.stopBits = "2";
            dialog.delay = 2500;
            dialog.retries = 12;
            QVERIFY(dialog.Ok());
        }
        QCOMPARE(slots(device), (QStringList{"Direct", "COM2", "COM2", "2500",
                                             "COM2,19200,7,Even,2", "NO", "12"}));
        TDeviceConfig again(*home.ctx().modems, device, home.settings(), home.prompt());
        again.Show();
        QCOMPARE((QStringList{again.port, again.baud, again.type, QString::number(again.bits),
                              again.parity, again.stopBits, QString::number(again.delay),
                              QString::number(again.retries)}),
                 (QStringList{"COM2", "19200", "Direct", "7", "Even", "2", "2500", "12"}));
    }

    void modemDeviceStoredWithPortAndBaudAndFoundByName() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        const int mine = addModem(modems, "Desk modem", "User defined");
        TCommDevice& device = newDevice(home);
        {
            TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
            dialog.Show();
            dialog.type = "Modem";
            dialog.TypeOrPortChanged();
            QCOMPARE(dialog.page, QString("Modem"));
            QCOMPARE(dialog.modem, -1); // none attached to COM1
            QCOMPARE(dialog.ModemNames(), (QStringList{"Acme 56K", "Desk modem"}));
            dialog.modem = mine;
            dialog.ModemChanged();
            QVERIFY(dialog.Ok());
        }
        QCOMPARE(slots(device),
                 (QStringList{"Modem", "Desk modem", modems.GetSetting(mine, mdkGUID), "10000",
                              "COM1,57600", "NO", "5"}));
        QCOMPARE(modems.CurrentIndex, mine);
        QVERIFY(home.prompt().boxes.isEmpty());

        TDeviceConfig again(modems, device, home.settings(), home.prompt());
        again.Show();
        QCOMPARE(again.page, QString("Modem"));
        QCOMPARE(again.modem, mine);
        QCOMPARE(again.ModemText(), QString("Desk modem"));
        QCOMPARE(again.port, QString("COM1"));
        QCOMPARE(again.baud, QString("57600"));
    }

    // Of two entries with the same name, the one the device refers to is shown and kept.
    void sameNamedModemsKeepTheOneReferredTo() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Generic Modem", "User defined");
        const int second = addModem(modems, "Generic Modem", "User defined");
        TCommDevice& device = newDevice(home);
        store(device, "Modem", "Generic Modem", modems.GetSetting(second, mdkGUID), "COM1,57600");
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        QCOMPARE(dialog.modem, second);
        QVERIFY(dialog.Ok());
        QCOMPARE(device.Get(dvkDevGUID), modems.GetSetting(second, mdkGUID));
    }

    void modemListFollowsThePort() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "First on COM3", "COM3");
        addModem(modems, "On COM4", "COM4");
        const int last = addModem(modems, "Last on COM3", "COM3");
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.type = "Modem";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.modem, -1);
        dialog.port = "COM3";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.modem, last);
        dialog.port = "COM4";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.ModemText(), QString("On COM4"));
        // The direct page leaves the modem list alone.
        dialog.type = "Direct";
        dialog.port = "COM3";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.page, QString("Direct"));
        QCOMPARE(dialog.ModemText(), QString("On COM4"));
        QVERIFY(home.prompt().boxes.isEmpty()); // filling the list never warns
    }

    void modemOnAnotherPortWarns_data() {
        QTest::addColumn<QString>("attachedTo");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("found on COM3") << "COM3" << QStringList{WarningCOM3};
        QTest::newRow("entered by hand") << "User defined" << QStringList{};
        QTest::newRow("no port known") << "" << QStringList{};
        QTest::newRow("found on this port") << "COM1" << QStringList{};
    }
    void modemOnAnotherPortWarns() {
        QFETCH(QString, attachedTo);
        QFETCH(QStringList, boxes);
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Other", "User defined");
        const int chosen = addModem(modems, "Chosen", attachedTo);
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.type = "Modem";
        dialog.TypeOrPortChanged();
        dialog.modem = chosen;
        dialog.ModemChanged();
        QCOMPARE(dialog.Modems().CurrentIndex, chosen);
        QCOMPARE(home.prompt().texts(), boxes);
        if (!boxes.isEmpty()) {
            QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Warning);
            QCOMPARE(home.prompt().boxes[0].buttons, TBoxButtons::Ok);
        }
        // OK warns once more, and still stores the device; opening it again warns too.
        QVERIFY(dialog.Ok());
        QCOMPARE(home.prompt().texts().size(), boxes.size() * 2);
        QCOMPARE(device.Get(dvkDevName), QString("Chosen"));
        TDeviceConfig again(modems, device, home.settings(), home.prompt());
        again.Show();
        QCOMPARE(again.modem, chosen);
        QCOMPARE(home.prompt().texts().size(), boxes.size() * 3);
    }

    // The checks of OK, in order; a failed one keeps the caller's device and catalogue as they
    // were.
    void okChecks_data() {
        QTest::addColumn<QString>("param");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("selectNameless");
        QTest::addColumn<QString>("message");
        QTest::newRow("no modem selected") << "COM1,57600"
                                           << "Modem" << false << "Invalid modem selected!";
        QTest::newRow("modem without a name")
            << "COM1,57600"
            << "Modem" << true << "Modem is not properly configured!";
        QTest::newRow("stored port not in the list before the modem")
            << "COM12,57600"
            << "Modem" << false << "Invalid port selected!";
        QTest::newRow("stored speed not in the list")
            << "COM2,56000,8,None,1"
            << "Direct" << false << "Invalid baud rate selected!";
        QTest::newRow("stored port not in the list")
            << "COM10,9600,8,None,1"
            << "Direct" << false << "Invalid port selected!";
    }
    void okChecks() {
        QFETCH(QString, param);
        QFETCH(QString, type);
        QFETCH(bool, selectNameless);
        QFETCH(QString, message);
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Kept", "User defined");
        const int nameless = addModem(modems, "", "User defined");
        modems.CurrentIndex = 0;
        TCommDevice& device = newDevice(home);
        store(device, type, type == "Direct" ? param.section(',', 0, 0) : "Gone", "ID", param);
        const QStringList before = slots(device);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.AddModem([](TModemsList&) { return true; }); // a change that must not leak
        dialog.modem = selectNameless ? nameless : -1;
        dialog.delay = 300;

        QVERIFY(!dialog.Ok());
        QCOMPARE(home.prompt().texts(), QStringList{message});
        QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Error);
        QCOMPARE(home.prompt().boxes[0].buttons, TBoxButtons::Ok);
        QCOMPARE(slots(device), before);
        QCOMPARE(names(modems), (QStringList{"Kept", ""}));
        QCOMPARE(modems.CurrentIndex, 0);
    }

    void storedValuesThatFitNoControl() {
        TestHome home(1);
        TCommDevice& device = newDevice(home);
        store(device, "Direct", "COM4", "COM4", "COM4,4800,9,Mark,3", "many");
        device[dvkDevDelay].SetStr("soon");
        TDeviceConfig dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.Show();
        QCOMPARE(dialog.port, QString("COM4"));
        QCOMPARE(dialog.baud, QString("4800"));
        QCOMPARE(dialog.bits, 8);
        QCOMPARE(dialog.parity, QString("None"));
        QCOMPARE(dialog.stopBits, QString("1"));
        QCOMPARE(dialog.retries, 5);
        QCOMPARE(dialog.delay, 10000);

        // Numbers outside a field's range are brought into it; a short parameter leaves the
        // line settings as they are.
        store(device, "Direct", "COM5", "COM5", "COM5", "0");
        device[dvkDevDelay].SetStr("999999");
        TDeviceConfig second(*home.ctx().modems, device, home.settings(), home.prompt());
        second.Show();
        QCOMPARE(second.port, QString("COM5"));
        QCOMPARE(second.baud, QString());
        QCOMPARE(second.retries, 1);
        QCOMPARE(second.delay, 60000);
        QCOMPARE(second.bits, 8);
    }

    void retryLimitBelongsToTheClient() {
        TestHome home(2);
        TCommDevice& device = newDevice(home);
        store(device, "Direct", "COM1", "COM1", "COM1,57600,8,None,1", "7");
        TDeviceConfig dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.Show();
        QVERIFY(!dialog.retriesVisible());
        QVERIFY(dialog.Ok());
        QCOMPARE(device.Get(dvkDevRetries), QString("7"));
    }

    void addedModemKeptOnlyWhenItsEditorSaysOk() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        const int first = addModem(modems, "Acme 56K", "COM1");
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.type = "Modem";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.modem, first);

        QString editedName, editedPort;
        dialog.AddModem([&](TModemsList& catalogue) {
            editedName = catalogue.GetSetting(catalogue.CurrentIndex, mdkFriendlyName);
            editedPort = catalogue.GetSetting(catalogue.CurrentIndex, mdkAttachedTo);
            return false;
        });
        QCOMPARE(editedName, QString("Generic Modem"));
        QCOMPARE(editedPort, QString("User defined"));
        QCOMPARE(names(dialog.Modems()), QStringList{"Acme 56K"});
        QCOMPARE(dialog.Modems().CurrentIndex, first);
        QCOMPARE(dialog.modem, first);

        dialog.AddModem([](TModemsList& catalogue) {
            catalogue.PutSetting(catalogue.CurrentIndex, mdkFriendlyName, "Bench modem");
            return true;
        });
        QCOMPARE(names(dialog.Modems()), (QStringList{"Acme 56K", "Bench modem"}));
        QCOMPARE(dialog.modem, 1);
        QCOMPARE(dialog.Modems().CurrentIndex, 1);
        QVERIFY(home.prompt().boxes.isEmpty());
        QCOMPARE(names(modems), QStringList{"Acme 56K"}); // the caller's, until OK

        QVERIFY(dialog.Ok());
        QCOMPARE(names(modems), (QStringList{"Acme 56K", "Bench modem"}));
        QCOMPARE(device.Get(dvkDevName), QString("Bench modem"));
        QCOMPARE(device.Get(dvkDevGUID), modems.GetSetting(1, mdkGUID));
    }

    void modemChangesDiscardedWithADirectDevice() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM1");
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.AddModem([](TModemsList&) { return true; });
        QVERIFY(dialog.Ok());
        QCOMPARE(device.Get(dvkDevType), QString("Direct"));
        QCOMPARE(names(modems), QStringList{"Acme 56K"});
    }

    // The entry edited and the one stored are the entry shown, whatever entry was worked on last.
    void editAndOkUseTheSelectedModem() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        const int onCOM1 = addModem(modems, "Bench modem", "COM1");
        modems.CurrentIndex = 0;
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        dialog.type = "Modem";
        dialog.TypeOrPortChanged();
        QCOMPARE(dialog.modem, onCOM1);

        int edited = -2;
        dialog.EditModem([&](TModemsList& catalogue) {
            edited = catalogue.CurrentIndex;
            catalogue.PutSetting(edited, mdkFriendlyName, "Bench modem 2");
            return true;
        });
        QCOMPARE(edited, onCOM1);
        QCOMPARE(dialog.ModemText(), QString("Bench modem 2"));
        dialog.Modems().CurrentIndex = 0;
        QVERIFY(dialog.Ok());
        QCOMPARE(device.Get(dvkDevName), QString("Bench modem 2"));
        QCOMPARE(device.Get(dvkDevGUID), modems.GetSetting(onCOM1, mdkGUID));
        QCOMPARE(modems.CurrentIndex, onCOM1);
        QVERIFY(home.prompt().boxes.isEmpty());

        // Without a selection there is nothing to edit.
        TDeviceConfig none(modems, device, home.settings(), home.prompt());
        none.Show();
        none.modem = -1;
        bool opened = false;
        none.EditModem([&](TModemsList&) { return opened = true; });
        QVERIFY(!opened);
    }

    void deleteAsksFirst() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Acme 56K", "COM3");
        const int onCOM1 = addModem(modems, "Bench modem", "COM1");
        TCommDevice& device = newDevice(home);
        store(device, "Modem", "Bench modem", modems.GetSetting(onCOM1, mdkGUID), "COM1,57600");
        TDeviceConfig dialog(modems, device, home.settings(), home.prompt());
        dialog.Show();
        QCOMPARE(dialog.modem, onCOM1);

        home.prompt().answers = {TBoxResult::No};
        dialog.DeleteModem();
        QCOMPARE(home.prompt().texts(),
                 QStringList{"Are you sure you want to delete the selected modem configuration?"});
        QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Warning);
        QCOMPARE(home.prompt().boxes[0].buttons, TBoxButtons::YesNo);
        QCOMPARE(dialog.Modems().Count(), 2);

        home.prompt().answers = {TBoxResult::Yes};
        dialog.DeleteModem();
        QCOMPARE(names(dialog.Modems()), QStringList{"Acme 56K"});
        QCOMPARE(dialog.modem, -1);
        QCOMPARE(dialog.Modems().CurrentIndex, -1);
        QCOMPARE(names(modems), (QStringList{"Acme 56K", "Bench modem"}));
        // Nothing selected: the delete button does nothing, and OK refuses.
        dialog.DeleteModem();
        QCOMPARE(home.prompt().boxes.size(), 2);
        QVERIFY(!dialog.Ok());
        QCOMPARE(home.prompt().texts().last(), QString("Invalid modem selected!"));
    }

    void portDeviceNamesWhereThePortLeads() {
        TestHome home(1);
        TCommDevice& device = newDevice(home);
        TDeviceConfig dialog(*home.ctx().modems, device, home.settings(), home.prompt());
        dialog.Show();
        QVERIFY(WriteFile(home.file("dev/line0"), ""));
        QVERIFY(QDir().mkpath(home.file("ports")));
        QVERIFY(QFile::link(home.file("dev/line0"), home.file("ports/COM3")));
        QVERIFY(QFile::link(home.file("dev/unplugged"), home.file("ports/COM4")));
        dialog.port = "COM3";
        QCOMPARE(dialog.PortDevice(), home.file("dev/line0"));
        dialog.port = "COM4";
        QCOMPARE(dialog.PortDevice(),
                 "No device (" + home.file("dev/unplugged") + " does not exist)");
        dialog.port = "COM9";
        QVERIFY2(dialog.PortDevice().contains("/dev/ttyS8"), qPrintable(dialog.PortDevice()));
        dialog.port.clear();
        QCOMPARE(dialog.PortDevice(), QString());
    }

    void machineDevicesListedAndBoundOnOk() {
        TestHome home(1);
        int master = -1, slave = -1;
        char name[256] = {};
        QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
        FakeMachine m{home.path() + "machine"};
        MakeSmallMachine(m, QString::fromLocal8Bit(name));
        const QString ftdi = m.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
        const QString line = m.dev() + "/serial/by-id/usb-Virtual_Line_42-if00";
        QVERIFY(makeLink(home.file("unplugged"), home.file("ports/COM3")));
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Line modem", line);
        TCommDevice& device = newDevice(home);
        store(device, "Direct", "COM3", "COM3", "COM3,115200,8,None,1");
        const auto open = [&] {
            auto dialog =
                std::make_unique<TDeviceConfig>(modems, device, home.settings(), home.prompt());
            dialog->DevRoot = m.dev();
            dialog->SysRoot = m.sys();
            dialog->Show();
            return dialog;
        };
        const auto labels = [](const TDeviceConfig& d) {
            QStringList out;
            for (const auto& c : d.PortChoices())
                out << c.Label;
            return out;
        };

        // Stable names first, no UART-less slots, and where COM3 leads now (nowhere).
        auto dialog = open();
        const QString pts = QString::fromLocal8Bit(name).mid(5);
        QCOMPARE(labels(*dialog),
                 (QStringList{"ttyUSB0: FTDI FT232R USB UART, serial A1B2C3 "
                              "(ftdi_sio)",
                              pts, "ttyS0 (serial), system console", "ttyS12 (serial)",
                              "ttyACM0: Acme LL-9600 Modem (cdc_acm)",
                              home.file("unplugged") + " (missing)"}));
        QCOMPARE(dialog->PortChoice(), 5);
        // A port that leads to a slot without a UART shows that one slot.
        QVERIFY(makeLink(m.dev() + "/ttyS1", home.file("ports/COM2")));
        dialog->port = "COM2";
        dialog->TypeOrPortChanged();
        QCOMPARE(labels(*dialog).last(), QString("ttyS1: no UART found"));
        // Chosen for COM3, then the port changed: nothing is bound.
        dialog->port = "COM3";
        dialog->TypeOrPortChanged();
        dialog->ChoosePortDevice(0);
        QCOMPARE(dialog->PortDevice(), ftdi);
        dialog->port = "COM4";
        dialog->TypeOrPortChanged();
        dialog->port = "COM3";
        dialog->TypeOrPortChanged();
        QCOMPARE(dialog->PortChoice(), 5);
        // Chosen and cancelled (the dialog goes without OK): the link is as it was.
        dialog->ChoosePortDevice(1);
        dialog.reset();
        QCOMPARE(QFileInfo(home.file("ports/COM3")).symLinkTarget(), home.file("unplugged"));

        // Chosen and OK: the link names the stable name, the device still says "COM3", and the
        // modem found on that device belongs to the port without a warning.
        dialog = open();
        dialog->ChoosePortDevice(1);
        QCOMPARE(dialog->PortDevice(), line);
        dialog->type = "Modem";
        dialog->TypeOrPortChanged();
        QCOMPARE(dialog->ModemText(), QString("Line modem"));
        dialog->ModemChanged();
        dialog->type = "Direct";
        dialog->TypeOrPortChanged();
        QVERIFY(dialog->Ok());
        QVERIFY(home.prompt().boxes.isEmpty());
        QCOMPARE(QFileInfo(home.file("ports/COM3")).symLinkTarget(), line);
        QCOMPARE(device.Get(dvkDevParam), QString("COM3,115200,8,None,1"));
        QCOMPARE(open()->PortChoice(), 1);

        // The port now talks over the line behind the stable name.
        TVaComm port;
        port.SetPortMapFolder(home.path());
        port.SetPortNum(3);
        port.Open();
        QVERIFY(port.WriteText(QByteArray("ping")));
        QByteArray far;
        QVERIFY(QTest::qWaitFor(
            [&] {
                char buf[16];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) far.append(buf, n);
                return far == "ping";
            },
            5000));
        QCOMPARE(::write(master, "pong", 4), ssize_t(4));
        QVERIFY(QTest::qWaitFor([&] { return port.BytesWaiting() == 4; }, 5000));
        char got[4];
        QCOMPARE(port.ReadData(got, 4), 4);
        QCOMPARE(QByteArray(got, 4), QByteArray("pong"));
        port.Close();

        // A link that cannot be written keeps the dialog open and hands nothing back.
        QVERIFY(QFile::remove(home.file("ports/COM3")));
        QVERIFY(QDir().mkpath(home.file("ports/COM3/in-the-way")));
        dialog = open();
        dialog->ChoosePortDevice(0);
        dialog->baud = "9600";
        QVERIFY(!dialog->Ok());
        QVERIFY2(home.prompt().texts().last().startsWith("Cannot bind COM3 to " + ftdi + ": "),
                 qPrintable(home.prompt().texts().last()));
        QCOMPARE(device.Get(dvkDevParam), QString("COM3,115200,8,None,1"));
        ::close(master);
        ::close(slave);
    }
};

QTEST_GUILESS_MAIN(TestDeviceConfig)
#include "device_config_test.moc"
