#pragma once
// The application context: the one instance of everything the program keeps for its whole run
// (settings, status sink, pending parameters, modem catalogue, job queue, results log, user
// accounts, device list). The shell owns it; consoles and engines get the parts they use when
// they are made (TConsoleServices, TEngineServices). Tests make their own.
//
// Order: made in this order: settings and status sink, then, in StartupLoad, the settings file,
// the modem catalogue, the folders and the job queue; the device list with the main window; the
// user accounts on first use. Saved by Shutdown in its order, and destroyed in that order too.
#include "consoles/console_services.h"
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
#include <memory>

class TAppContext {
public:
    // The settings table for the program folder and executable, with its defaults; the lists
    // exist (empty) from here on. `prompt` outlives the context.
    TAppContext(const QString& appDir, const QString& executablePath, IPrompt& prompt);
    // Destroys in Shutdown's order: device list (and so the engines) first.
    ~TAppContext();
    TAppContext(const TAppContext&) = delete;
    TAppContext& operator=(const TAppContext&) = delete;

    // The start-up loader: pending parameters emptied, the settings file read, the modem
    // catalogue loaded, the queue (and, on a server, users) folder made, the inbox and outbox
    // folders made (a setting naming one that cannot be made falls back to its default), and
    // the job queue loaded. Failures are shown as "!StartupLoadVars: " + the error.
    void StartupLoad();
    // The device list made anew and loaded (the main window's initialisation).
    void NewDevices();
    // The user accounts, loaded on first use.
    TUsersList& Users();
    // In this order: every engine stopped, the device list saved and let go, then the modem
    // catalogue, the settings and the user accounts saved, and the pending parameters emptied.
    void Shutdown();

    // What a console reaches; `host` is the main window (nullptr for none).
    TConsoleServices ConsoleServices(IConsoleHost* host);

    IPrompt& prompt;
    TSettings settings;
    TStatusSink status;
    TPendingParams params;
    std::unique_ptr<TModemsList> modems;
    std::unique_ptr<TQueueList> queue;
    std::unique_ptr<TQLog> log;
    std::unique_ptr<TUsersList> users; // empty until Users() is first asked
    TEngineServices engines;
    std::unique_ptr<TDevicesList> devices;
};
