#pragma once
// The main window's logic without the window: start-up of the lists it owns, the role's console,
// the hand-over receiver, closing the program and the shutdown order. The headless program runs
// it alone; the desktop window shows its state and forwards the operator's actions to it.
#include "app/context.h"
#include "consoles/console_services.h"
#include "platform/instance.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// A console without logic, for tests of the shell: owns its session text, writes "Application
// started." on the client as the client console does, and reports and empties the pending
// parameters it is handed (it queues no job and starts nothing).
class TStandInConsole : public IConsole {
public:
    TStandInConsole(TRole role, const TConsoleServices& services);
    ~TStandInConsole() override;
    TRole Role() const override { return mRole; }
    TSessionText* SessionText() override { return mText.get(); }
    void Initialize() override;
    void ProcessParams() override;

private:
    TRole mRole;
    TConsoleServices mServices;
    std::unique_ptr<TSessionText> mText;
};

// Creates the console of a role. Without one the shell creates the real consoles (TfraClient,
// TfraServer); tests of the shell alone give one that makes TStandInConsole.
using TConsoleFactory =
    std::function<std::unique_ptr<IConsole>(TRole role, const TConsoleServices& services)>;

class TMainShell : public QObject, public IMainShell {
    Q_OBJECT
public:
    // Takes the application context (loaded by its StartupLoad); `params`: the process's own
    // parameters, without the program name. Creates both consoles.
    explicit TMainShell(std::unique_ptr<TAppContext> context, QStringList params = {},
                        TConsoleFactory consoles = {}, QObject* parent = nullptr);
    // Runs Shutdown() when it has not run yet.
    ~TMainShell() override;

    // Creates and loads the device list, processes the command line when there is one, and
    // shows the page of the current role (the role choice while there is none).
    void Initialize();
    TPage Page() const override { return mPage; }
    // Selects a page; a change runs that page's initialisation.
    void SelectPage(TPage page);
    IConsole* Console(TRole role) override;
    // The window caption ("Marrowline 1.00" on the choice page; the consoles set theirs).
    QString Caption;
    void SetCaption(const QString& caption) override { Caption = caption; }
    TAppContext& Context() { return *mContext; }

    // The role choice's OK: stores the role, saves the settings and initialises again.
    void ChooseRole(TRole role) override;
    // Ends the program, with confirm after "Are you sure you want to close Marrowline?" (OK or
    // Cancel). True when the program is ending.
    bool CloseApplication(bool confirm) override;
    bool Terminated() const override { return mTerminated; }
    QString ChoiceCaption() const override;
    void ShowHelp() override;
    // TfrmMRL.ApplyOnTop: with toggle, inverts MRL_OnTop first (saved with the settings);
    // returns the resulting value. A window keeps itself on top while it is true.
    bool ApplyOnTop(bool toggle) override;

    // Listens for hand-overs of later starts under the name derived from the title and AppDir.
    bool StartHandOverReceiver(QString* error = nullptr);
    // Handles one hand-over message (the receiver calls it; tests may too). A hand-over that
    // arrives while the command line or another hand-over is being processed (a dialog on the
    // way runs a nested event loop) waits until that one is done, so the pending list is never
    // refilled under a console that is reading it.
    void ReceiveHandOver(quint32 message, quint32 wParam, const QString& text, bool readOk);

    // Ends the program's work, in this order: session text to "sessions.log", device list, modem
    // list, job queue, settings, user list, results log and pending parameters. Runs once.
    void Shutdown();
    // Joins the process's own parameters into the hand-over form and processes them.
    void ProcessCommandLine(const QStringList& params);

Q_SIGNALS:
    void PageChanged(TPage page);
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

    std::unique_ptr<TAppContext> mContext; // destroyed last
    QStringList mParams;
    std::unique_ptr<IConsole> mConsoles[3];
    THandOverReceiver mReceiver;
    TPage mPage = PageChoice;
    bool mTerminated = false;
    bool mShutDown = false;
};

// The socket name under which the instance of a program folder receives hand-overs.
QString HandOverName(const QString& appDir);

// A second start's job file and results file are relative to the caller's working folder, not to
// the running instance's: when the job file (the first positional parameter) names a file of
// `workingFolder`, it and, on a client, the results file (the fifth) are made absolute before
// they are handed over. Switches, user names and passwords are left as they are.
QStringList WithAbsoluteJobPaths(const QStringList& params, bool client,
                                 const QString& workingFolder);
