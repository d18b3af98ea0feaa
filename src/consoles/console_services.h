#pragma once
// What a console reaches of the program: the application context fills it and hands it to each
// console when it makes it.
#include "core/command_line.h"
#include "core/settings.h"
#include "core/status.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"
#include "jobs/users.h"
#include "platform/prompt.h"
#include "serial/modems.h"

#include <QString>
#include <functional>

// The main window as a console sees it.
class IConsoleHost {
public:
    virtual ~IConsoleHost() = default;
    // The window caption.
    virtual void SetCaption(const QString& caption) = 0;
    // TfrmMRL.ApplyOnTop: with toggle, inverts MRL_OnTop first; returns the resulting value.
    virtual bool ApplyOnTop(bool toggle) = 0;
    // Ends the program, after the designed question when confirm is set.
    virtual bool CloseApplication(bool confirm) = 0;
};

// What the main window needs from a console (client: role 1, server: role 2). The console
// registers its session text for its role while it exists, so status lines reach it.
class IConsole {
public:
    virtual ~IConsole() = default;
    virtual int Role() const = 0;
    // The status trail that status lines are written into while this role is active.
    virtual TSessionText* SessionText() = 0;
    // Runs when the console's page is selected: caption, lists, pending parameters, auto-start.
    virtual void Initialize() = 0;
    // ProcessClientParams / ProcessHostParams: interprets and empties the pending parameters.
    virtual void ProcessParams() = 0;
};

struct TConsoleServices {
    TSettings& settings;
    TStatusSink& status;
    IPrompt& prompt;
    TQueueList& queue;
    TQLog& log;
    TModemsList& modems;
    // Where a console registers itself as the console of its role's engines.
    TEngineServices& engines;
    // The device list of the main window (made anew each time the window initialises).
    std::function<TDevicesList*()> devices;
    // The user accounts, loaded on first use (server role).
    std::function<TUsersList&()> users;
    TPendingParams& params;
    // The main window; nullptr while there is none (tests of a console alone).
    IConsoleHost* host = nullptr;
};
