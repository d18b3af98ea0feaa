#pragma once
// The main window's logic without the window: start-up of the lists it owns, the role's console,
// the hand-over receiver, closing the program and the shutdown order. The headless program runs
// it alone; the desktop window shows its state and forwards the operator's actions to it.
#include "platform/instance.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TSessionText;

// What the main window needs from a console (client: role 1, server: role 2). The console
// registers its session text for its role while it exists, so status lines reach it.
class IConsole {
public:
    virtual ~IConsole() = default;
    virtual int Role() const = 0;
    // The status trail (mmDetail) that AddStatus writes into while this role is active.
    virtual TSessionText* SessionText() = 0;
    // Runs when the console's page is selected: caption, lists, pending parameters, auto-start.
    virtual void Initialize() = 0;
    // ProcessClientParams / ProcessHostParams: interprets and empties gPendingParams.
    virtual void ProcessParams() = 0;
};

// Creates the console of a role. Without a factory the shell creates the real consoles
// (TfraClient, TfraServer); tests of the shell alone install one that makes TStandInConsole.
using TConsoleFactory = std::function<std::unique_ptr<IConsole>(int role)>;
void SetConsoleFactory(TConsoleFactory factory); // empty: back to the real consoles

// A console without logic, for tests of the shell: owns its session text, writes "Application
// started." on the client as the client console does, and reports and empties the pending
// parameters it is handed (it queues no job and starts nothing).
class TStandInConsole : public IConsole {
public:
    explicit TStandInConsole(int role);
    ~TStandInConsole() override;
    int Role() const override { return mRole; }
    TSessionText* SessionText() override { return mText.get(); }
    void Initialize() override;
    void ProcessParams() override;

private:
    int mRole;
    std::unique_ptr<TSessionText> mText;
};

class TMainShell : public QObject {
    Q_OBJECT
public:
    // `params`: the process's own parameters, without the program name. Creates both consoles;
    // becomes gMainShell.
    explicit TMainShell(QStringList params = {}, QObject* parent = nullptr);
    // Runs Shutdown() when it has not run yet.
    ~TMainShell() override;

    // Creates and loads the device list, processes the command line when there is one, and
    // shows the page of the current role (0: role choice).
    void Initialize();
    // The page shown: 0 role choice, 1 client console, 2 server console.
    int Page() const { return mPage; }
    // Selects a page; a change runs that page's initialisation.
    void SelectPage(int page);
    // The console of a role (1, 2), or nullptr.
    IConsole* Console(int role);
    // The window caption ("Marrowline 1.00" on the choice page; the consoles set theirs).
    QString Caption;

    // The role choice's OK: stores the role, saves the settings and initialises again.
    void ChooseRole(int role);
    // Ends the program, with confirm after "Are you sure you want to close Marrowline?" (OK or
    // Cancel). True when the program is ending.
    bool CloseApplication(bool confirm);
    bool Terminated() const { return mTerminated; }
    // TfrmMRL.ApplyOnTop: with toggle, inverts MRL_OnTop first (saved with the settings);
    // returns the resulting value. A window keeps itself on top while it is true.
    bool ApplyOnTop(bool toggle);

    // Listens for hand-overs of later starts under the name derived from the title and AppDir.
    bool StartHandOverReceiver(QString* error = nullptr);
    // Handles one hand-over message (the receiver calls it; tests may too). A hand-over that
    // arrives while the command line or another hand-over is being processed (a dialog on the
    // way runs a nested event loop) waits until that one is done, so the pending list is never
    // refilled under a console that is reading it.
    void ReceiveHandOver(quint32 message, quint32 wParam, const QString& text, bool readOk);

    // The designed shutdown: session text to "sessions.log", device list, modem list, job queue,
    // settings, user list, results log and pending parameters. Runs once.
    void Shutdown();

Q_SIGNALS:
    void PageChanged(int page);
    // The choice page was initialised with no role set: a view shows the window normally.
    void ChoiceShown();
    // MRL_OnTop was applied (ApplyOnTop): a window changes its stay-on-top style.
    void OnTopChanged(bool onTop);
    // The program is to end (CloseApplication); the program entry quits its event loop.
    void TerminateRequested();
    // A hand-over has been processed.
    void HandOverProcessed();

private:
    void pageChanged();
    void choiceInitialize();
    void handleHandOver(const QString& text, bool readOk);
    void runDeferredHandOvers();

    struct DeferredHandOver {
        QString text;
        bool readOk;
    };
    QList<DeferredHandOver> mDeferred;
    int mBusy = 0; // > 0 while the command line or a hand-over is being processed

    QStringList mParams;
    std::unique_ptr<IConsole> mConsoles[3];
    THandOverReceiver mReceiver;
    int mPage = 0;
    bool mTerminated = false;
    bool mShutDown = false;
};

// The main window's logic while it exists; nullptr before it is created and after it is gone.
extern TMainShell* gMainShell;

// The socket name under which the instance of this AppDir receives hand-overs.
QString HandOverName();

// A second start's job file and results file are relative to the caller's working folder, not to
// the running instance's: when the job file (the first positional parameter) names a file of
// `workingFolder`, it and, on a client, the results file (the fifth) are made absolute before
// they are handed over. Switches, user names and passwords are left as they are.
QStringList WithAbsoluteJobPaths(const QStringList& params, bool client,
                                 const QString& workingFolder);
