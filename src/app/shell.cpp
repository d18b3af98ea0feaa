#include "app/shell.h"

#include "app/cmdline.h"
#include "core/settings.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "jobs/users.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "platform/prompt.h"
#include "serial/modems.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

namespace {
QString errorText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}
} // namespace

QString HandOverName(const QString& appDir) {
    return HandOverServerName(ApplicationTitle, appDir);
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

// ---- TStandInConsole ----

TStandInConsole::TStandInConsole(TRole role, const TConsoleServices& services)
    : mRole(role), mServices(services), mText(std::make_unique<TSessionText>()) {
    mServices.status.SetSessionText(mRole, mText.get());
}

TStandInConsole::~TStandInConsole() {
    if (mServices.status.SessionText(mRole) == mText.get())
        mServices.status.SetSessionText(mRole, nullptr);
}

void TStandInConsole::Initialize() {
    if (mRole == RoleClient) mServices.status.Add("Application started.");
    if (!mServices.params.entries.isEmpty()) ProcessParams();
}

void TStandInConsole::ProcessParams() {
    mServices.status.Add("Console not built yet; parameters dropped: " +
                         mServices.params.entries.join(' '));
    mServices.params.entries.clear();
}

// ---- TMainShell ----

TMainShell::TMainShell(std::unique_ptr<TAppContext> context, QStringList params,
                       TConsoleFactory consoles, QObject* parent)
    : QObject(parent), mContext(std::move(context)), mParams(std::move(params)) {
    const TConsoleServices services = mContext->ConsoleServices(this);
    for (TRole role : {RoleClient, RoleServer}) {
        if (consoles) mConsoles[role] = consoles(role, services);
        if (!mConsoles[role]) {
            if (role == RoleClient)
                mConsoles[role] = std::make_unique<TfraClient>(services);
            else
                mConsoles[role] = std::make_unique<TfraServer>(services);
        }
    }
    connect(&mReceiver, &THandOverReceiver::MessageReceived, this, &TMainShell::ReceiveHandOver);
}

TMainShell::~TMainShell() {
    Shutdown();
    // The consoles go before the context they use.
    for (auto& console : mConsoles)
        console.reset();
}

IConsole* TMainShell::Console(TRole role) {
    return role == RoleClient || role == RoleServer ? mConsoles[role].get() : nullptr;
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
        mContext->NewDevices();
        if (!mParams.isEmpty()) ProcessCommandLine(mParams);
        // A role switch from the command line ends the program: no console is started for it.
        if (mTerminated) return;
        if (mContext->settings.IsClient() || mContext->settings.IsServer()) {
            SelectPage(PageOf(mContext->settings.Role()));
        } else {
            SelectPage(PageChoice);
            pageChanged();
        }
    } catch (const std::exception& e) {
        mContext->status.Add("!TfrmMRL.Initialize: " + errorText(e));
    }
}

void TMainShell::SelectPage(TPage page) {
    if (page == mPage) return;
    mPage = page;
    pageChanged();
}

void TMainShell::pageChanged() {
    Q_EMIT PageChanged(mPage);
    if (mPage == PageChoice)
        choiceInitialize();
    else if (IConsole* console = Console(RoleOf(mPage)))
        console->Initialize();
}

void TMainShell::choiceInitialize() {
    Caption = ChoiceCaption();
    if (!mContext->settings.IsClient() && !mContext->settings.IsServer()) Q_EMIT ChoiceShown();
}

QString TMainShell::ChoiceCaption() const {
    return QString::fromLatin1(ApplicationTitle) + ' ' + QString::fromLatin1(ProgramVersion);
}

void TMainShell::ShowHelp() {
    ShowCommandLineHelp(mContext->prompt);
}

void TMainShell::ChooseRole(TRole role) {
    if (role != RoleClient && role != RoleServer) return;
    mContext->settings.PutInt(MRL_Function, role);
    mContext->settings.Save(mContext->prompt, mContext->status);
    Initialize();
}

void TMainShell::ProcessCommandLine(const QStringList& params) {
    ::ProcessCommandLine(*mContext, this, params);
}

bool TMainShell::CloseApplication(bool confirm) {
    if (confirm) {
        const QString question =
            QStringLiteral("Are you sure you want to close ") + ApplicationTitle + "?";
        if (mContext->prompt.MessageBox(question, ApplicationTitle, TBoxIcon::Warning,
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
    TSettings& settings = mContext->settings;
    if (toggle) settings.PutBool(MRL_OnTop, !settings.GetBool(MRL_OnTop));
    const bool onTop = settings.GetBool(MRL_OnTop);
    Q_EMIT OnTopChanged(onTop);
    return onTop;
}

bool TMainShell::StartHandOverReceiver(QString* error) {
    return mReceiver.Listen(HandOverName(mContext->settings.AppDir()), error);
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
            mContext->status.Add("!TfrmMRL.Marrowline was unable to receive the command line parameters.");
        else
            ProcessParams(*mContext, this, text);
    } catch (const std::exception& e) {
        mContext->status.Add("!TfrmMRL.ApplicationEventsMessage: " + errorText(e));
    }
    Q_EMIT HandOverProcessed();
}

void TMainShell::Shutdown() {
    if (mShutDown) return;
    mShutDown = true;
    mReceiver.Close();
    TAppContext& ctx = *mContext;
    try {
        // Engines stop first, so their last reports reach the session text before it is saved.
        if (ctx.devices)
            for (int i = 0; i < ctx.devices->Count(); ++i)
                ctx.devices->StopHostProc(i); // either role: destroys the device's engine
        if (IConsole* console = Console(ctx.settings.Role()))
            ctx.status.Save(console->SessionText());
        // After a role switch the other console still holds the lines written before it.
        for (TRole role : {RoleClient, RoleServer}) {
            TSessionText* text = Console(role)->SessionText();
            if (text && text->LineCount() > 0) ctx.status.Save(text);
        }
        ctx.Shutdown();
    } catch (const std::exception& e) {
        ctx.status.Add("!TfrmMRL.Destroy: " + errorText(e));
    }
}
