// Pictures of every window and dialog with sample data, to look at them as an operator would:
// gui_screenshots OUTPUT_FOLDER writes one PNG per window (and per tab). Run by
// scripts/screenshots.sh; the gui_screenshots test checks that every picture is made.
#include "app/shell.h"
#include "common/fake_machine.h"
#include "common/test_home.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "core/helpers.h"
#include "gui/client_view.h"
#include "gui/device_dialog.h"
#include "gui/enqueue_dialogs.h"
#include "gui/folder_picker.h"
#include "gui/login_dialog.h"
#include "gui/main_window.h"
#include "gui/modem_dialogs.h"
#include "gui/notification.h"
#include "gui/options_dialogs.h"
#include "gui/account_dialogs.h"
#include "consoles/options.h"
#include "consoles/account_dialogs.h"
#include "gui/server_view.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {
QString gFolder;
int gWritten = 0;
int gFailed = 0;

void save(QWidget* widget, const QString& name) {
    widget->show();
    QTest::qWait(60);
    const QString path = gFolder + '/' + name + ".png";
    if (widget->grab().save(path)) {
        ++gWritten;
        std::printf("%s\n", qPrintable(path));
    } else {
        ++gFailed;
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    }
}

// One picture per tab of the tab widget `tabs` inside `widget`.
void saveTabs(QWidget* widget, const char* tabs, const QString& name) {
    auto* pages = widget->findChild<QTabWidget*>(QString::fromLatin1(tabs));
    if (!pages) {
        save(widget, name);
        return;
    }
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        save(widget, QStringLiteral("%1-%2").arg(name).arg(i + 1));
    }
}

// A window over a shell with sample data: a queued job and two logged ones.
void mainWindows() {
    for (int role : {0, 1, 2}) {
        TestHome home(role);
        WriteFile(home.file("OUTBOX/report-2026.txt"), QByteArray(48213, 'x'));
        WriteFile(home.file("OUTBOX/plan.pdf"), QByteArray(1200, 'y'));
        TestHome* h = &home;
        auto shell = std::make_unique<TMainShell>(home.takeContext());
        TMainShell* s = shell.get();
        auto views = [s](int r, QWidget* parent) -> QWidget* {
            if (auto* client = dynamic_cast<TfraClient*>(s->Console(r)))
                return new TfraClientView(*client, parent);
            if (auto* server = dynamic_cast<TfraServer*>(s->Console(r)))
                return new TfraServerView(*server, parent);
            return nullptr;
        };
        TfrmMRL window(*shell, h->settings(), h->sink(), h->prompt(), views, false);
        QObject::connect(s, &TMainShell::PageChanged, &window, &TfrmMRL::showPage);
        shell->Initialize();
        if (role == 0) {
            save(&window, QStringLiteral("main-choice"));
        } else if (role == 1) {
            shell->ProcessCommandLine({h->file("OUTBOX/report-2026.txt"), "alice", "secret",
                                       "555-0199"});
            auto* client = dynamic_cast<TfraClient*>(shell->Console(1));
            TQueueItem done = *h->ctx().queue->GetItem(0);
            client->LogFileEvent(done, false, QStringLiteral("Line is busy."), 1, false);
            client->LogFileEvent(done, false, QStringLiteral("Batch timeout!"), 2, false);
            saveTabs(window.page(1), "pg", QStringLiteral("main-client"));
        } else {
            h->ctx().Users().AddItem();
            h->ctx().Users().PutSetting(0, ukUser, QStringLiteral("ALICE"));
            h->ctx().Users().PutSetting(0, ukInbox, h->settings().GetStr(MRL_Inbox));
            h->ctx().Users().PutSetting(0, ukOutbox, h->settings().GetStr(MRL_Outbox));
            shell->ProcessCommandLine({h->file("OUTBOX/plan.pdf"), "ALICE"});
            saveTabs(window.page(2), "pg", QStringLiteral("main-server"));
        }
        window.close();
        shell->Shutdown();
    }
}

void smallWindows() {
    TestHome home(1);
    TfrmLogin login(ScramblePassword(QStringLiteral("pw")), home.prompt());
    save(&login, QStringLiteral("login"));
    TfrmNotif notif;
    save(&notif, QStringLiteral("notification"));
    TfrmSelFold picker;
    picker.setFolder(QDir::tempPath());
    save(&picker, QStringLiteral("select-folder"));
}

void deviceDialogs() {
    for (int role : {1, 2}) {
        TestHome home(role);
        const QString suffix = role == 1 ? QStringLiteral("client") : QStringLiteral("server");
        home.ctx().NewDevices();
        home.ctx().devices->AddDevice();
        TCommDevice& device = *home.ctx().devices->GetDevice(0);
        TModemsList& modems = *home.ctx().modems;
        modems.AddModem();
        modems.PutSetting(0, mdkFriendlyName, QStringLiteral("Hayes Accura 56K"));
        modems.PutSetting(0, mdkAttachedTo, QStringLiteral("COM1"));
        // A machine with a USB adapter, bound to COM1.
        FakeMachine machine{home.path() + "machine"};
        MakeSmallMachine(machine, QString());
        makeLink(machine.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
                 home.file("ports/COM1"));
        TfrmConn conn(modems, device, home.settings(), home.prompt());
        conn.presenter().DevRoot = machine.dev();
        conn.presenter().SysRoot = machine.sys();
        save(&conn, "device-direct-" + suffix);
        if (auto* type = conn.findChild<QComboBox*>(QStringLiteral("cbDev"))) {
            type->setCurrentIndex(1);
            Q_EMIT type->activated(1);
        }
        save(&conn, "device-modem-" + suffix);
        conn.close();
        modems.CurrentIndex = 0;
        TfrmMdmProp properties(modems, home.settings(), home.prompt());
        save(&properties, "modem-parameters-" + suffix);
        properties.close();
    }
    TestHome home(1);
    TfrmDetMdm detected(*home.ctx().modems, home.prompt());
    save(&detected, QStringLiteral("detected-modems"));
    QTest::qWait(1500);
    save(&detected, QStringLiteral("detected-modems-done"));
    detected.close();
}

void enqueueDialogs() {
    {
        TestHome home(2);
        TQueueItem job;
        home.ctx().queue->EmptyItem(job);
        Put(job, qkSrcFile, QStringLiteral("/srv/marrowline/OUTBOX/plan.pdf"));
        Put(job, qkSize, QStringLiteral("1200"));
        auto* server = new TfraServer(home.ctx().ConsoleServices(nullptr));
        TfrmHstEnq dialog(server->services(), job);
        save(&dialog, QStringLiteral("enqueue-host"));
        dialog.close();
        delete server;
    }
    TestHome home(1);
    TQueueItem job;
    home.ctx().queue->EmptyItem(job);
    Put(job, qkSrcFile, QStringLiteral("report-2026.txt"));
    auto* client = new TfraClient(home.ctx().ConsoleServices(nullptr));
    TfrmRemEnq dialog(client->services(), job);
    save(&dialog, QStringLiteral("enqueue-client"));
    dialog.close();
    delete client;
}
void optionsDialogs() {
    for (int role : {1, 2}) {
        TestHome home(role);
        home.ctx().NewDevices();
        TDevicesList& devices = *home.ctx().devices;
        devices.AddDevice();
        devices.PutSetting(0, dvkDevName, QStringLiteral("COM1"));
        devices.PutSetting(0, dvkDevGUID, QStringLiteral("COM1"));
        devices.PutSetting(0, dvkDevType, QStringLiteral("Direct"));
        devices.PutSetting(0, dvkDevParam, QStringLiteral("COM1,115200,8,N,1"));
        home.settings().PutStr(CLI_ActiveDevice, QStringLiteral("COM1"));
        const TConsoleServices services = home.ctx().ConsoleServices(nullptr);
        // The program edits devices in "Device Configuration"; the pictures only show the list.
        const TDeviceEditor editNothing = [](TModemsList&, TCommDevice&) { return false; };
        if (role == 2) {
            TUsersList& users = home.ctx().Users();
            users.AddItem();
            users.PutSetting(0, ukUser, QStringLiteral("ALICE"));
            TfrmHstOpt options(services, editNothing, [](TMRLUser&, const QString&, const QString&) {
                return false;
            });
            TfrmHstOptDialog dialog(options);
            saveTabs(&dialog, "PageControl1", QStringLiteral("server-options"));
            dialog.close();
            TMRLUser user;
            users.EmptyItem(user);
            TfrmHstUsr presenter(user, home.settings().GetStr(MRL_Inbox),
                                 home.settings().GetStr(MRL_Outbox), home.prompt());
            TfrmHstUsrDialog userDialog(presenter);
            save(&userDialog, QStringLiteral("user"));
            userDialog.close();
        } else {
            TfrmRemOpt options(services, editNothing);
            TfrmRemOptDialog dialog(options);
            saveTabs(&dialog, "PageControl1", QStringLiteral("client-options"));
            dialog.close();
        }
    }
    TestHome home(1);
    TfrmChgPass presenter(home.settings(), home.sink(), home.prompt());
    TfrmChgPassDialog dialog(presenter);
    save(&dialog, QStringLiteral("change-password"));
    dialog.close();
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    gFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gFolder);
    TfrmMRL::LoadResources();
    mainWindows();
    smallWindows();
    deviceDialogs();
    enqueueDialogs();
    optionsDialogs();
    std::printf("%d pictures, %d failed\n", gWritten, gFailed);
    return gFailed == 0 && gWritten > 0 ? 0 : 1;
}
