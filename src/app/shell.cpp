#include "app/shell.h"

#include "app/cmdline.h"
#include "app/settings.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "consoles/users.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"
#include "jobs/status.h"
#include "platform/appdir.h"
#include "platform/prompt.h"
#include "serial/modems.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

TMainShell* gMainShell = nullptr;

namespace {
TConsoleFactory gConsoleFactory;

QString errorText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}

// Makes sure a folder setting names a folder that exists; otherwise the setting falls back to its
// default folder (persisted by the next SaveSettings).
void ensureFolderSetting(TSettingKey key) {
    const QString folder = GetStr(key);
    if (!folder.isEmpty()) MakePrivateFolder(folder);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return;
    PutStr(key, Setting(key).StrDefault);
    MakePrivateFolder(GetStr(key));
}
} // namespace

void StartupLoadVars() {
    try {
        gPendingParams.clear();
        LoadSettings();
        delete gModems;
        gModems = new TModemsList;
        gModems->Load();
        MakePrivateFolder(AppDir() + "QUEUE");
        if (IsServer()) MakePrivateFolder(AppDir() + "USERS");
        ensureFolderSetting(MRL_Inbox);
        ensureFolderSetting(MRL_Outbox);
        delete gQueue;
        gQueue = new TQueueList;
        gQueue->Load();
    } catch (const std::exception& e) {
        Prompt().MessageBox("!StartupLoadVars: " + errorText(e), ApplicationTitle, TBoxIcon::Error,
                            TBoxButtons::Ok);
    }
}

QString HandOverName() {
    return HandOverServerName(ApplicationTitle, AppDir());
}

QStringList WithAbsoluteJobPaths(const QStringList& params, bool client,
                                 const QString& workingFolder) {
    QStringList out = params;
    // Positions count the entries the pending list will hold: trimmed, empty ones dropped.
    QList<qsizetype> positions;
    for (qsizetype i = 0; i < out.size(); ++i)
        if (!out[i].trimmed().isEmpty()) positions << i;
    // Only a job part has a file: at least 4 entries on a client, 2 on a server, the first of
    // them no switch.
    const int jobEntries = client ? 4 : 2;
    if (positions.size() < jobEntries) return out;
    QString& file = out[positions[0]];
    const QString path = file.trimmed();
    if (IsSwitch(path) || QDir::isAbsolutePath(path)) return out;
    // A name that is no file of the caller's folder is left for the console to refuse as given.
    const QString absolute = QDir(workingFolder).absoluteFilePath(path);
    if (!QFileInfo(absolute).isFile()) return out;
    file = absolute;
    if (client && positions.size() >= 5) {
        QString& results = out[positions[4]];
        const QString name = results.trimmed();
        if (!IsSwitch(name) && !QDir::isAbsolutePath(name))
            results = QDir(workingFolder).absoluteFilePath(name);
    }
    return out;
}

void SetConsoleFactory(TConsoleFactory factory) {
    gConsoleFactory = std::move(factory);
}

// ---- TStandInConsole ----

TStandInConsole::TStandInConsole(int role) : mRole(role), mText(std::make_unique<TSessionText>()) {
    SetConsoleSessionText(mRole, mText.get());
}

TStandInConsole::~TStandInConsole() {
    if (ConsoleSessionText(mRole) == mText.get()) SetConsoleSessionText(mRole, nullptr);
}

void TStandInConsole::Initialize() {
    if (mRole == 1) AddStatus("Application started.");
    if (!gPendingParams.isEmpty()) ProcessParams();
}

void TStandInConsole::ProcessParams() {
    AddStatus("Console not built yet; parameters dropped: " + gPendingParams.join(' '));
    gPendingParams.clear();
}

// ---- TMainShell ----

TMainShell::TMainShell(QStringList params, QObject* parent)
    : QObject(parent), mParams(std::move(params)) {
    for (int role = 1; role <= 2; ++role) {
        if (gConsoleFactory) mConsoles[role] = gConsoleFactory(role);
        if (!mConsoles[role]) {
            if (role == 1)
                mConsoles[role] = std::make_unique<TfraClient>();
            else
                mConsoles[role] = std::make_unique<TfraServer>();
        }
    }
    connect(&mReceiver, &THandOverReceiver::MessageReceived, this, &TMainShell::ReceiveHandOver);
    gMainShell = this;
}

TMainShell::~TMainShell() {
    Shutdown();
    if (gMainShell == this) gMainShell = nullptr;
}

IConsole* TMainShell::Console(int role) {
    return role >= 1 && role <= 2 ? mConsoles[role].get() : nullptr;
}

void TMainShell::Initialize() {
    ++mBusy;
    struct Done {
        TMainShell* shell;
        ~Done() {
            --shell->mBusy;
            shell->runDeferredHandOvers();
        }
    } done{this};
    try {
        // The device list belongs to the main window; a second run (after the role choice)
        // loads it anew.
        delete gDevices;
        gDevices = new TDevicesList;
        gDevices->Load();
        if (!mParams.isEmpty()) ProcessCommandLine(mParams);
        // A role switch from the command line ends the program: no console is started for it.
        if (mTerminated) return;
        if (IsClient() || IsServer()) {
            SelectPage(IsClient() ? 1 : 2);
        } else {
            SelectPage(0);
            pageChanged();
        }
    } catch (const std::exception& e) {
        AddStatus("!TfrmMRL.Initialize: " + errorText(e));
    }
}

void TMainShell::SelectPage(int page) {
    if (page < 0 || page > 2 || page == mPage) return;
    mPage = page;
    pageChanged();
}

void TMainShell::pageChanged() {
    Q_EMIT PageChanged(mPage);
    if (mPage == 0)
        choiceInitialize();
    else if (IConsole* console = Console(mPage))
        console->Initialize();
}

void TMainShell::choiceInitialize() {
    Caption = QString::fromLatin1(ApplicationTitle) + ' ' + QString::fromLatin1(ProgramVersion);
    if (!IsClient() && !IsServer()) Q_EMIT ChoiceShown();
}

void TMainShell::ChooseRole(int role) {
    if (role != 1 && role != 2) return;
    PutInt(MRL_Function, role);
    SaveSettings();
    Initialize();
}

bool TMainShell::CloseApplication(bool confirm) {
    if (confirm) {
        const QString question =
            QStringLiteral("Are you sure you want to close ") + ApplicationTitle + "?";
        if (Prompt().MessageBox(question, ApplicationTitle, TBoxIcon::Warning,
                                TBoxButtons::OkCancel) != TBoxResult::Ok)
            return false;
    }
    if (!mTerminated) {
        mTerminated = true;
        Q_EMIT TerminateRequested();
    }
    return true;
}

bool TMainShell::ApplyOnTop(bool toggle) {
    if (toggle) PutBool(MRL_OnTop, !GetBool(MRL_OnTop));
    const bool onTop = GetBool(MRL_OnTop);
    Q_EMIT OnTopChanged(onTop);
    return onTop;
}

bool TMainShell::StartHandOverReceiver(QString* error) {
    return mReceiver.Listen(HandOverName(), error);
}

void TMainShell::ReceiveHandOver(quint32 message, quint32 wParam, const QString& text,
                                 bool readOk) {
    if (message != HandOverMessage || wParam != HandOverWParam || mShutDown) return;
    mDeferred.append({text, readOk});
    runDeferredHandOvers();
}

void TMainShell::runDeferredHandOvers() {
    while (mBusy == 0 && !mShutDown && !mDeferred.isEmpty()) {
        const DeferredHandOver next = mDeferred.takeFirst();
        ++mBusy;
        handleHandOver(next.text, next.readOk);
        --mBusy;
    }
}

void TMainShell::handleHandOver(const QString& text, bool readOk) {
    try {
        if (!readOk || text.isEmpty())
            AddStatus("!TfrmMRL.Marrowline was unable to receive the command line parameters.");
        else
            ProcessParams(text);
    } catch (const std::exception& e) {
        AddStatus("!TfrmMRL.ApplicationEventsMessage: " + errorText(e));
    }
    Q_EMIT HandOverProcessed();
}

void TMainShell::Shutdown() {
    if (mShutDown) return;
    mShutDown = true;
    mReceiver.Close();
    try {
        // Engines stop first, so their last reports reach the session text before it is saved.
        if (gDevices) {
            for (int i = 0; i < gDevices->Count(); ++i)
                gDevices->StopHostProc(i); // either role: destroys the device's engine
        }
        if (IsClient() || IsServer()) SaveStatus(Console(IsClient() ? 1 : 2)->SessionText());
        // After a role switch the other console still holds the lines written before it.
        for (int role = 1; role <= 2; ++role) {
            TSessionText* text = Console(role)->SessionText();
            if (text && text->LineCount() > 0) SaveStatus(text);
        }
        if (gDevices) {
            gDevices->Save();
            delete gDevices;
            gDevices = nullptr;
        }
        if (gModems) {
            gModems->Save();
            delete gModems;
            gModems = nullptr;
        }
        delete gQueue;
        gQueue = nullptr;
        SaveSettings();
        if (gUsers) {
            gUsers->Save();
            delete gUsers;
            gUsers = nullptr;
        }
        delete gLog;
        gLog = nullptr;
        gPendingParams.clear();
    } catch (const std::exception& e) {
        AddStatus("!TfrmMRL.Destroy: " + errorText(e));
    }
}
