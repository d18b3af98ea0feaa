#pragma once
// Every window and dialog of the desktop program, each made with the sample data that makes it
// meaningful (a queue, results logs with rows, an operations row of a running server, a client
// during a transfer, detected modems, users with their folders...). A gallery entry makes its
// window, hands each state of it (a tab, a page) to a visitor, and takes everything down again.
// The screenshots draw the states; the keyboard test walks their focus chains.
#include "app/shell.h"
#include "common/fake_machine.h"
#include "common/test_home.h"
#include "consoles/account_dialogs.h"
#include "consoles/client_console.h"
#include "consoles/options.h"
#include "consoles/server_console.h"
#include "core/helpers.h"
#include "gui/account_dialogs.h"
#include "gui/client_view.h"
#include "gui/device_dialog.h"
#include "gui/enqueue_dialogs.h"
#include "gui/folder_picker.h"
#include "gui/login_dialog.h"
#include "gui/main_window.h"
#include "gui/modem_dialogs.h"
#include "gui/notification.h"
#include "gui/options_dialogs.h"
#include "gui/server_view.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <pty.h>
#include <unistd.h>

namespace gallery {

// Shown one state of a window: the window and the name of its picture.
using Visitor = std::function<void(QWidget* window, const QString& name)>;

struct Entry {
    QString name;
    // Whether the window is a dialog (Enter is OK, Esc is Cancel).
    bool dialog;
    std::function<void(const Visitor&)> run;
};

// A pseudo-terminal whose slave stands for a serial port of the home (ports/COMn): an engine
// opens it and waits on it; nobody answers on the master.
struct Line {
    int master = -1;
    int slave = -1;
    Line(TestHome& home, int port) {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        QDir().mkpath(home.file("ports"));
        QFile::link(QString::fromLocal8Bit(name), home.file(QStringLiteral("ports/COM%1").arg(port)));
    }
    ~Line() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
};

// One state per tab of the tab widget `tabs` inside `window`, named name-1, name-2...
inline void eachTab(QWidget* window, QWidget* holder, const char* tabs, const QString& name,
                    const Visitor& visit) {
    auto* pages = holder->findChild<QTabWidget*>(QString::fromLatin1(tabs));
    if (!pages) {
        visit(window, name);
        return;
    }
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        visit(window, QStringLiteral("%1-%2").arg(name).arg(i + 1));
    }
    pages->setCurrentIndex(0);
}

inline void addUser(TestHome& home, const QString& name, const QString& inbox,
                    const QString& outbox) {
    TUsersList& users = home.ctx().Users();
    TMRLUser user;
    users.EmptyItem(user);
    user[ukUser].SetStr(name);
    user[ukPassw].SetStr(ScramblePassword(QStringLiteral("secret")));
    user[ukUseGlobalInbox].BoolValue = inbox.isEmpty();
    user[ukUseGlobalOutbox].BoolValue = outbox.isEmpty();
    user[ukInbox].SetStr(inbox.isEmpty() ? home.settings().GetStr(MRL_Inbox) : inbox);
    user[ukOutbox].SetStr(outbox.isEmpty() ? home.settings().GetStr(MRL_Outbox) : outbox);
    users.SetItem(users.Count(), &user);
}

inline int addDevice(TDevicesList& devices, const QString& type, const QString& name,
                     const QString& guid, const QString& param, bool active) {
    devices.AddDevice();
    const int i = devices.Count() - 1;
    devices.PutSetting(i, dvkDevType, type);
    devices.PutSetting(i, dvkDevName, name);
    devices.PutSetting(i, dvkDevGUID, guid);
    devices.PutSetting(i, dvkDevParam, param);
    devices.PutSetting(i, dvkDevHostActive, active ? "YES" : "NO");
    devices.PutSetting(i, dvkDevRetries, "5");
    return i;
}

// A modem of the catalogue with the command strings and capabilities of a Hayes modem.
inline int addModem(TModemsList& modems, const QString& name, const QString& port) {
    modems.AddModem();
    const int i = modems.Count() - 1;
    const std::pair<TModemKey, const char*> values[] = {
        {mdkFriendlyName, nullptr},       {mdkAttachedTo, nullptr},
        {mdkDialString, "ATDT"},          {mdkDialPrefixNo, "9,"},
        {mdkDefaultInitialization, "AT&F E0 V1 &C1 &D2"},
        {mdkHangupString, "ATH"},         {mdkCommandReset, "ATZ"},
        {mdkMonitorOn, "ATS0=1"},         {mdkMonitorOff, "ATS0=0"},
        {mdkCommandSpeakerOn, "ATM1"},    {mdkCommandSpeakerOff, "ATM0"},
        {mdkSupportsBlindDialing, "YES"}, {mdkSupportsErrorControl, "YES"},
        {mdkSupportsDataCompression, "YES"}, {mdkSupportsSpeakerControl, "YES"},
        {mdkUseECC, "YES"},               {mdkUseCompression, "YES"},
        {mdkAAMode, "1"}};
    for (const auto& [key, value] : values)
        modems.PutSetting(i, key, value ? QString::fromLatin1(value) : QString());
    modems.PutSetting(i, mdkFriendlyName, name);
    modems.PutSetting(i, mdkAttachedTo, port);
    return i;
}

// A description of a modem that cannot be asked (modems/NAME.ini), found by detection.
inline void describeModem(TestHome& home, const QString& file, const QString& maker,
                          const QString& model, const QString& port) {
    WriteFile(home.file("modems/" + file),
              QStringLiteral("[Modem]\nManufacturer=%1\nModel=%2\nFriendlyName=%1 %2\n"
                             "AttachedTo=%3\n")
                  .arg(maker, model, port)
                  .toUtf8());
}

// Detection that looks only at the home's ports and modem descriptions.
inline TComInfo homeSource(TestHome& home, const QTemporaryDir& empty) {
    TComInfo source;
    source.ProgramFolder = home.path();
    source.TtyClassDir = empty.path();
    source.DevDir = empty.path();
    return source;
}

// The program's window over a shell of its own, wired as the program wires it.
struct Program {
    TestHome& home;
    std::unique_ptr<TMainShell> shell;
    std::unique_ptr<TfrmMRL> window;
    explicit Program(TestHome& h) : home(h) {
        shell = std::make_unique<TMainShell>(home.takeContext());
        TMainShell* s = shell.get();
        auto views = [s](TRole role, QWidget* parent) -> QWidget* {
            if (auto* client = dynamic_cast<TfraClient*>(s->Console(role)))
                return new TfraClientView(*client, parent);
            if (auto* server = dynamic_cast<TfraServer*>(s->Console(role)))
                return new TfraServerView(*server, parent);
            return nullptr;
        };
        window = std::make_unique<TfrmMRL>(*shell, home.settings(), home.sink(), home.prompt(),
                                           views, false);
        QObject::connect(s, &TMainShell::PageChanged, window.get(), &TfrmMRL::showPage);
        shell->Initialize();
    }
    ~Program() {
        window->terminate();
        window.reset();
        shell->Shutdown();
    }
};

inline void writeSampleFiles(TestHome& home) {
    WriteFile(home.file("OUTBOX/report-2026.txt"), QByteArray(48213, 'x'));
    WriteFile(home.file("OUTBOX/plan.pdf"), QByteArray(1200, 'y'));
    WriteFile(home.file("OUTBOX/invoices.zip"), QByteArray(310422, 'z'));
}

inline void roleChoice(const Visitor& visit) {
    TestHome home(0);
    Program program(home);
    visit(program.window.get(), QStringLiteral("main-choice"));
}

// A client with two queued jobs, a results log, and a transfer under way.
inline void clientConsole(const Visitor& visit) {
    TestHome home(1);
    writeSampleFiles(home);
    Line line(home, 1);
    home.ctx().NewDevices();
    addDevice(*home.ctx().devices, "Direct", "COM1", "COM1", "COM1,115200,8,None,1", false);
    home.settings().PutStr(CLI_ActiveDevice, QStringLiteral("COM1"));
    home.ctx().devices->Save();
    Program program(home);
    TMainShell& shell = *program.shell;
    shell.ProcessCommandLine(
        {home.file("OUTBOX/report-2026.txt"), "alice", "secret", "555-0199"});
    shell.ProcessCommandLine({home.file("OUTBOX/invoices.zip"), "alice", "secret", "555-0199"});
    auto* client = dynamic_cast<TfraClient*>(shell.Console(RoleClient));
    TQueueItem job = *shell.Context().queue->GetItem(0);
    client->LogFileEvent(job, false, QStringLiteral("Line is busy."), 1, false);
    client->LogFileEvent(job, false, QStringLiteral("No carrier."), 2, false);
    TQueueItem done = job;
    Put(done, qkSrcFile, QStringLiteral("plan.pdf"));
    Put(done, qkNo, QStringLiteral("0003"));
    client->LogFileEvent(done, false, QStringLiteral("Transfer successful."), 1, true);
    client->btStartClick();
    TRemStatusReport report;
    report.Device = shell.Context().devices->GetDevice(0);
    report.Operation = QStringLiteral("Sending file...");
    report.Attempt = 3;
    report.Job = job;
    report.FileText = Get(job, qkSrcFile);
    report.Total = 48213;
    report.Progress = 20480;
    client->OnDeviceStatus(report);
    eachTab(program.window.get(), program.window->page(PageClient), "pg",
            QStringLiteral("main-client"), visit);
    client->btStartClick();
}

// A server answering on one line (its engine waits on a pseudo-terminal), with a caller's
// transfer on it, a queued file and a results log.
inline void serverConsole(const Visitor& visit) {
    TestHome home(2);
    writeSampleFiles(home);
    addUser(home, QStringLiteral("ALICE"), {}, {});
    addUser(home, QStringLiteral("BOB"), {}, {});
    home.ctx().Users().Save();
    Line line(home, 1);
    home.ctx().NewDevices();
    addDevice(*home.ctx().devices, "Direct", "COM1", "COM1", "COM1,115200,8,None,1", true);
    home.ctx().devices->Save();
    Program program(home);
    TMainShell& shell = *program.shell;
    shell.ProcessCommandLine({home.file("OUTBOX/plan.pdf"), "ALICE"});
    auto* server = dynamic_cast<TfraServer*>(shell.Console(RoleServer));
    TQueueItem job = *shell.Context().queue->GetItem(0);
    server->LogFileEvent(job, false, QStringLiteral("File transfer error."), false);
    Put(job, qkUser, QStringLiteral("BOB"));
    Put(job, qkSrcFile, QStringLiteral("invoices.zip"));
    server->LogFileEvent(job, false, QStringLiteral("Transfer successful."), true);
    server->btStartClick();
    QTest::qWait(200);
    THstStatusReport report;
    report.Device = shell.Context().devices->GetDevice(0);
    report.Operation = QStringLiteral("Receiving");
    Put(report.Job, qkUser, QStringLiteral("BOB"));
    report.FileText = QStringLiteral("orders-0412.csv");
    report.Total = 96000;
    report.Progress = 61440;
    report.Message = QStringLiteral("BOB logged on.");
    server->OnDeviceStatus(report);
    eachTab(program.window.get(), program.window->page(PageServer), "pg",
            QStringLiteral("main-server"), visit);
    server->btStartClick();
}

inline void smallWindows(const Visitor& visit) {
    TestHome home(1);
    TfrmLogin login(ScramblePassword(QStringLiteral("pw")), home.prompt());
    visit(&login, QStringLiteral("login"));
}

inline void notification(const Visitor& visit) {
    TfrmNotif notif;
    visit(&notif, QStringLiteral("notification"));
    notif.hide();
}

inline void folderPicker(const Visitor& visit) {
    TestHome home(2);
    QDir().mkpath(home.file("INBOX/ALICE"));
    TfrmSelFold picker;
    picker.setFolder(home.file("INBOX/ALICE"));
    // The folders are read in the background: until the tree is open on the folder.
    picker.show();
    auto* tree = picker.findChild<QTreeView*>(QStringLiteral("dir"));
    (void)QTest::qWaitFor(
        [&]() {
            const QModelIndex current = tree->currentIndex();
            return current.isValid() &&
                   tree->viewport()->rect().contains(tree->visualRect(current).center());
        },
        5000);
    visit(&picker, QStringLiteral("select-folder"));
}

inline void deviceDialog(int role, const Visitor& visit) {
    TestHome home(role);
    const QString suffix = role == 1 ? QStringLiteral("client") : QStringLiteral("server");
    home.ctx().NewDevices();
    home.ctx().devices->AddDevice();
    TCommDevice& device = *home.ctx().devices->GetDevice(0);
    TModemsList& modems = *home.ctx().modems;
    addModem(modems, QStringLiteral("Hayes Accura 56K"), QStringLiteral("COM1"));
    // A machine with a USB adapter, bound to COM1.
    FakeMachine machine{home.path() + "machine"};
    MakeSmallMachine(machine, QString());
    makeLink(machine.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
             home.file("ports/COM1"));
    TfrmConn conn(modems, device, home.settings(), home.prompt());
    conn.presenter().DevRoot = machine.dev();
    conn.presenter().SysRoot = machine.sys();
    visit(&conn, "device-direct-" + suffix);
    if (auto* type = conn.findChild<QComboBox*>(QStringLiteral("cbDev"))) {
        type->setCurrentIndex(1);
        Q_EMIT type->activated(1);
    }
    visit(&conn, "device-modem-" + suffix);
}

inline void modemParameters(int role, const Visitor& visit) {
    TestHome home(role);
    const QString suffix = role == 1 ? QStringLiteral("client") : QStringLiteral("server");
    TModemsList& modems = *home.ctx().modems;
    modems.CurrentIndex = addModem(modems, QStringLiteral("Hayes Accura 56K"), QStringLiteral("COM1"));
    TfrmMdmProp properties(modems, home.settings(), home.prompt());
    visit(&properties, "modem-parameters-" + suffix);
}

// Detection under way (a port that does not answer keeps it waiting), then done: two modems
// described by files, the first one's settings listed.
inline void detectedModems(const Visitor& visit) {
    TestHome home(1);
    Line silent(home, 5);
    describeModem(home, "acme.ini", "Acme", "Fast 56K", "COM3");
    describeModem(home, "zeta.ini", "Zeta", "LL-9600 Leased Line", "COM7");
    QTemporaryDir empty;
    TfrmDetMdm detected(*home.ctx().modems, home.prompt());
    TComInfo source = homeSource(home, empty);
    source.AnswerTimeoutMs = 2500;
    detected.presenter().Source = source;
    QSignalSpy finished(&detected.presenter(), &TDetectedModems::DetectionFinished);
    visit(&detected, QStringLiteral("detected-modems"));
    if (finished.isEmpty()) finished.wait(10000);
    QTest::qWait(50);
    visit(&detected, QStringLiteral("detected-modems-done"));
}

inline void enqueueHost(const Visitor& visit) {
    TestHome home(2);
    writeSampleFiles(home);
    addUser(home, QStringLiteral("ALICE"), {}, {});
    TQueueItem job;
    home.ctx().queue->EmptyItem(job);
    Put(job, qkSrcFile, home.file("OUTBOX/plan.pdf"));
    Put(job, qkSize, QStringLiteral("1200"));
    TfraServer server(home.ctx().ConsoleServices(nullptr));
    TfrmHstEnq dialog(server.services(), job);
    visit(&dialog, QStringLiteral("enqueue-host"));
}

// The client's dialog over a default connection through a modem: the phone page.
inline void enqueueClient(const Visitor& visit) {
    TestHome home(1);
    home.ctx().NewDevices();
    addDevice(*home.ctx().devices, "Modem", "Hayes Accura 56K", "{4D36E96D-0001}", "COM1,57600",
              false);
    home.settings().PutStr(CLI_ActiveDevice, QStringLiteral("{4D36E96D-0001}"));
    TQueueItem job;
    home.ctx().queue->EmptyItem(job);
    Put(job, qkSrcFile, QStringLiteral("report-2026.txt"));
    Put(job, qkUser, QStringLiteral("ALICE"));
    Put(job, qkCommParam, QStringLiteral("5550199"));
    TfraClient client(home.ctx().ConsoleServices(nullptr));
    TfrmRemEnq dialog(client.services(), job);
    // As the operator fills it in.
    for (const auto& [name, text] : {std::pair{"edUser", "alice"}, std::pair{"edPassw", "secret"},
                                     std::pair{"medPhone", "5550199"}})
        if (auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(name))) edit->setText(text);
    visit(&dialog, QStringLiteral("enqueue-client"));
}

inline void serverOptions(const Visitor& visit) {
    TestHome home(2);
    home.ctx().NewDevices();
    TDevicesList& devices = *home.ctx().devices;
    addDevice(devices, "Direct", "COM1", "COM1", "COM1,115200,8,None,1", true);
    addDevice(devices, "Modem", "Hayes Accura 56K", "{4D36E96D-0001}", "COM2,57600", true);
    addDevice(devices, "Direct", "COM4", "COM4", "COM4,19200,7,Even,2", false);
    addUser(home, QStringLiteral("ALICE"), {}, {});
    addUser(home, QStringLiteral("BOB"), home.file("USERS-IN/BOB"), home.file("USERS-OUT/BOB"));
    const TConsoleServices services = home.ctx().ConsoleServices(nullptr);
    // Editing a device or a user opens a dialog of its own (pictured by itself).
    const TDeviceEditor device = [](TModemsList&, TCommDevice&) { return false; };
    TfrmHstOpt options(services, device,
                       [](TMRLUser&, const QString&, const QString&) { return false; });
    TfrmHstOptDialog dialog(options);
    eachTab(&dialog, &dialog, "PageControl1", QStringLiteral("server-options"), visit);
}

inline void clientOptions(const Visitor& visit) {
    TestHome home(1);
    home.ctx().NewDevices();
    TDevicesList& devices = *home.ctx().devices;
    addDevice(devices, "Modem", "Hayes Accura 56K", "{4D36E96D-0001}", "COM1,57600", false);
    addDevice(devices, "Direct", "COM2", "COM2", "COM2,115200,8,None,1", false);
    home.settings().PutStr(CLI_ActiveDevice, QStringLiteral("{4D36E96D-0001}"));
    const TDeviceEditor device = [](TModemsList&, TCommDevice&) { return false; };
    TfrmRemOpt options(home.ctx().ConsoleServices(nullptr), device);
    TfrmRemOptDialog dialog(options);
    visit(&dialog, QStringLiteral("client-options"));
}

// BOB with a private inbox and the default outbox.
inline void userDialog(const Visitor& visit) {
    TestHome home(2);
    QDir().mkpath(home.file("INBOX"));
    QDir().mkpath(home.file("OUTBOX"));
    TUsersList& users = home.ctx().Users();
    TMRLUser user;
    users.EmptyItem(user);
    user[ukUser].SetStr(QStringLiteral("BOB"));
    user[ukPassw].SetStr(ScramblePassword(QStringLiteral("secret")));
    user[ukUseGlobalInbox].BoolValue = false;
    user[ukInbox].SetStr(home.file("USERS-IN/BOB"));
    TfrmHstUsr presenter(user, home.settings().GetStr(MRL_Inbox),
                         home.settings().GetStr(MRL_Outbox), home.prompt());
    TfrmHstUsrDialog dialog(presenter);
    visit(&dialog, QStringLiteral("user"));
}

inline void changePassword(const Visitor& visit) {
    TestHome home(1);
    TfrmChgPass presenter(home.settings(), home.sink(), home.prompt());
    TfrmChgPassDialog dialog(presenter);
    visit(&dialog, QStringLiteral("change-password"));
}

// Every window of the program, in the order an operator meets them.
inline const QList<Entry>& Entries() {
    static const QList<Entry> entries{
        {"main-choice", false, roleChoice},
        {"main-client", false, clientConsole},
        {"main-server", false, serverConsole},
        {"login", true, smallWindows},
        {"notification", true, notification},
        {"select-folder", true, folderPicker},
        {"device-client", true, [](const Visitor& v) { deviceDialog(1, v); }},
        {"device-server", true, [](const Visitor& v) { deviceDialog(2, v); }},
        {"modem-parameters-client", true, [](const Visitor& v) { modemParameters(1, v); }},
        {"modem-parameters-server", true, [](const Visitor& v) { modemParameters(2, v); }},
        {"detected-modems", true, detectedModems},
        {"enqueue-host", true, enqueueHost},
        {"enqueue-client", true, enqueueClient},
        {"server-options", true, serverOptions},
        {"client-options", true, clientOptions},
        {"user", true, userDialog},
        {"change-password", true, changePassword},
    };
    return entries;
}

} // namespace gallery
