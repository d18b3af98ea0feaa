#pragma once
// A program folder with the process-wide lists the consoles use (queue, users, log, devices), a
// scripted prompt, and helpers to set up outbox files, users and devices.
#include "app/cmdline.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "jobs/users.h"
#include "engine/devices.h"
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
    TScriptedPrompt prompt;
    TPromptGuard guard{&prompt};

    explicit ConsoleWorld(int role) : home(role) {
        PutStr(MRL_Inbox, home.file("INBOX"));
        PutStr(MRL_Outbox, home.file("OUTBOX"));
        QDir().mkpath(home.file("INBOX"));
        QDir().mkpath(home.file("OUTBOX"));
        QDir().mkpath(home.file("QUEUE"));
        gPendingParams.clear();
        gStopRequested = false;
        gQueue = new TQueueList;
        gUsers = new TUsersList;
        gLog = new TQLog;
        gDevices = new TDevicesList;
    }
    ~ConsoleWorld() {
        delete gDevices;
        gDevices = nullptr;
        delete gQueue;
        gQueue = nullptr;
        delete gUsers;
        gUsers = nullptr;
        delete gLog;
        gLog = nullptr;
        gPendingParams.clear();
        gStopRequested = false;
    }

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
        gUsers->EmptyItem(user);
        user[ukUser].SetStr(name);
        user[ukPassw].SetStr(ScramblePassword(password));
        user[ukInbox].SetStr(GetStr(MRL_Inbox));
        user[ukOutbox].SetStr(outbox.isEmpty() ? GetStr(MRL_Outbox) : outbox);
        user[ukUseGlobalOutbox].BoolValue = outbox.isEmpty();
        gUsers->SetItem(gUsers->Count(), &user);
        return gUsers->Count() - 1;
    }
    int addDevice(const QString& type, const QString& name, const QString& guid,
                  bool hostActive = false) {
        gDevices->AddDevice();
        const int i = gDevices->Count() - 1;
        gDevices->PutSetting(i, dvkDevType, type);
        gDevices->PutSetting(i, dvkDevName, name);
        gDevices->PutSetting(i, dvkDevGUID, guid);
        gDevices->PutSetting(i, dvkDevHostActive, hostActive ? "YES" : "NO");
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
        gPendingParams.clear();
        for (const QString& p : params) {
            const QString t = p.trimmed();
            if (IsSwitch(t))
                gPendingParams << SwitchCase(t);
            else if (!t.isEmpty())
                gPendingParams << t;
        }
    }
};
