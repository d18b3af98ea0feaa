#pragma once
// A program folder with its application context (queue, users, log, devices: what the consoles
// use), a scripted prompt, and helpers to set up outbox files, users and devices. The world being
// built is reachable as ConsoleWorld::current() for the helpers of the tests.
#include "app/cmdline.h"
#include "consoles/console_services.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "jobs/users.h"
#include "engine/devices.h"
#include "engine/host_process.h"
#include "engine/rem_process.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"
#include "core/status.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <memory>

struct ConsoleWorld {
    TestHome home;
    TScriptedPrompt& prompt;

    explicit ConsoleWorld(int role) : home(role), prompt(home.prompt()) {
        TSettings& settings = home.settings();
        settings.PutStr(MRL_Inbox, home.file("INBOX"));
        settings.PutStr(MRL_Outbox, home.file("OUTBOX"));
        QDir().mkpath(home.file("INBOX"));
        QDir().mkpath(home.file("OUTBOX"));
        QDir().mkpath(home.file("QUEUE"));
        ctx().Users();
        current() = this;
    }
    ~ConsoleWorld() {
        if (current() == this) current() = nullptr;
    }
    static ConsoleWorld*& current() {
        static ConsoleWorld* world = nullptr;
        return world;
    }
    TAppContext& ctx() { return home.ctx(); }
    // What the consoles of this world are made with (no main window).
    TConsoleServices services() { return ctx().ConsoleServices(nullptr); }

    QString outbox(const QString& relative = QString()) const {
        return home.file("OUTBOX") + (relative.isEmpty() ? QString() : "/" + relative);
    }
    // A file in the global Outbox (or anywhere below the home) with the given bytes.
    QString file(const QString& relative, const QByteArray& bytes = "data") const {
        const QString path = home.file(relative);
        if (!WriteFile(path, bytes)) qWarning("cannot write %s", qPrintable(path));
        return path;
    }
    int addUser(const QString& name, const QString& password, const QString& outbox = QString()) {
        TMRLUser user;
        ctx().users->EmptyItem(user);
        user[ukUser].SetStr(name);
        user[ukPassw].SetStr(ScramblePassword(password));
        user[ukInbox].SetStr(home.settings().GetStr(MRL_Inbox));
        user[ukOutbox].SetStr(outbox.isEmpty() ? home.settings().GetStr(MRL_Outbox) : outbox);
        user[ukUseGlobalOutbox].BoolValue = outbox.isEmpty();
        ctx().users->SetItem(ctx().users->Count(), &user);
        return ctx().users->Count() - 1;
    }
    int addDevice(const QString& type, const QString& name, const QString& guid,
                  bool hostActive = false) {
        ctx().devices->AddDevice();
        const int i = ctx().devices->Count() - 1;
        ctx().devices->PutSetting(i, dvkDevType, type);
        ctx().devices->PutSetting(i, dvkDevName, name);
        ctx().devices->PutSetting(i, dvkDevGUID, guid);
        ctx().devices->PutSetting(i, dvkDevHostActive, hostActive ? "YES" : "NO");
        return i;
    }
    // Lines of a session text without their time stamps.
    static QStringList messages(const TSessionText& text) {
        QStringList out;
        for (const QString& line : text.Lines())
            out << line.mid(line.indexOf(": ") + 2);
        return out;
    }
    // Handing a command line over as ProcessParams does, without the shell's role rules.
    static void pend(const QStringList& params) {
        QStringList& pending = current()->ctx().params.entries;
        pending.clear();
        for (const QString& p : params) {
            const QString t = p.trimmed();
            if (IsSwitch(t))
                pending << SwitchCase(t);
            else if (!t.isEmpty())
                pending << t;
        }
    }
};

// An engine that only exists: the device list counts it as running.
class IdleEngine : public TDeviceEngine {
public:
    void Restart() override {}
};

// The world's device list starts idle engines (no port is opened).
inline void useIdleEngines() {
    auto make = [](TDevicesList&, TCommDevice&) -> std::unique_ptr<TDeviceEngine> {
        return std::make_unique<IdleEngine>();
    };
    ConsoleWorld::current()->ctx().engines.hostFactory = make;
    ConsoleWorld::current()->ctx().engines.remFactory = make;
}

// The lists of the world being built, for the tests' own helpers.
inline TQueueList* Queue() { return ConsoleWorld::current()->ctx().queue.get(); }
inline TQLog* Log() { return ConsoleWorld::current()->ctx().log.get(); }
inline TUsersList* Users() { return ConsoleWorld::current()->ctx().users.get(); }
inline TDevicesList* Devices() { return ConsoleWorld::current()->ctx().devices.get(); }
inline TPendingParams& Params() { return ConsoleWorld::current()->ctx().params; }

// The client engine's report of a transfer of job 17 ("a.txt", 200 bytes, attempt 2, number
// dialled 555) at `progress` bytes, with the message "Sending".
inline TRemStatusReport ClientTransferReport(TCommDevice* device, int progress) {
    TRemStatusReport report;
    report.Device = device;
    report.Operation = "Transfer";
    report.Attempt = 2;
    report.FileText = "a.txt";
    report.Total = 200;
    report.Progress = progress;
    report.Message = "Sending";
    Put(report.Job, qkNo, "17");
    Put(report.Job, qkCommParam, "555");
    return report;
}

// A server engine's report of BOB's transfer of "/in/a.txt", 3 of 8 bytes, with the message
// "Receiving".
inline THstStatusReport ServerTransferReport(TCommDevice* device) {
    THstStatusReport report;
    report.Device = device;
    report.Operation = "Transfer";
    report.Total = 8;
    report.Progress = 3;
    report.FileText = "/in/a.txt";
    Put(report.Job, qkUser, "BOB");
    report.Message = "Receiving";
    return report;
}
