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
    // Ends the program; with confirm only after the operator answers OK to "Are you sure you want
    // to close Marrowline?".
    virtual bool CloseApplication(bool confirm) = 0;
};

// What the main window shows: the role choice or the console of a role. A console's page has
// its role's number.
enum TPage : int { PageChoice = 0, PageClient = RoleClient, PageServer = RoleServer };
// The page of a role's console; the choice for no role.
inline TPage PageOf(TRole role) {
    return role == RoleClient ? PageClient : role == RoleServer ? PageServer : PageChoice;
}
// The role whose console a page shows; none for the choice.
inline TRole RoleOf(TPage page) {
    return page == PageClient ? RoleClient : page == PageServer ? RoleServer : RoleNone;
}

// What the main window needs from a console. The console registers its session text for its
// role while it exists, so status lines reach it.
class IConsole {
public:
    virtual ~IConsole() = default;
    virtual TRole Role() const = 0;
    // The status trail that status lines are written into while this role is active.
    virtual TSessionText* SessionText() = 0;
    // Runs when the console's page is selected: caption, lists, pending parameters, auto-start.
    virtual void Initialize() = 0;
    // ProcessClientParams / ProcessHostParams: interprets and empties the pending parameters.
    virtual void ProcessParams() = 0;
};

// The main window's logic as the desktop window sees it: the window shows its state and forwards
// the operator's actions to it.
class IMainShell : public IConsoleHost {
public:
    // The page shown.
    virtual TPage Page() const = 0;
    // The console of a role, or nullptr (RoleNone).
    virtual IConsole* Console(TRole role) = 0;
    // The caption of the role-choice page.
    virtual QString ChoiceCaption() const = 0;
    // The role choice's OK: stores the role, saves the settings and initialises again; nothing
    // for RoleNone.
    virtual void ChooseRole(TRole role) = 0;
    // The command-line help box (F1).
    virtual void ShowHelp() = 0;
    // True once the program is ending.
    virtual bool Terminated() const = 0;
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
