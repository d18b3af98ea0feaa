// The marrowline program. With a display it is the desktop program: the main window, most of the
// time an icon in the notification area. Without one (or with MARROWLINE_HEADLESS=1) it runs
// headless: the consoles' logic runs without a view, message boxes are written as lines and take
// their default answer. Either way status lines go to standard output as well as to the session
// transcript. One instance runs per program folder; a later start hands its parameters to it
// without loading any window system, so it needs no display. A first start whose display cannot
// be reached says so in one line and runs headless. "--help", "-h" and "--version" as the first
// argument print the help or the version and end before anything is started. A job's password
// may come from a file or standard input ("/PASSFILE:"), so that no process list shows it; a
// password given as an argument is overwritten once read. The exit code is 0 in every path.
#include "app/cmdline.h"
#include "app/context.h"
#include "app/shell.h"
#include "app/stall_probe.h"
#include "core/settings.h"
#include "platform/appdir.h"
#include "platform/instance.h"
#include "platform/prompt.h"

#include <QCoreApplication>
#include <QDir>
#include <memory>
#include <vector>
#ifdef MARROWLINE_WITH_GUI
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "gui/client_view.h"
#include "gui/desktop_application.h"
#include "gui/desktop_prompt.h"
#include "gui/main_window.h"
#include "gui/server_view.h"

#include <QApplication>
#include <QPointer>
#endif
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

void printLine(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// SIGINT, SIGTERM and SIGHUP end the program through the normal close, so everything is saved.
// The handler only writes to a pipe; the main thread reads it in its event loop. A signal that
// was ignored when the program started (nohup) stays ignored.
bool installSignalPipe() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous = {};
        if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
    return true;
}
// "--help", "-h" and "--version" as the first argument: the command-line help (the text F1
// shows) or the version, before anything is started and before any file or folder is made. Only
// the first argument counts: later ones are a job's, and "-h" may well be a password.
bool answerInfoSwitch(int argc, char** argv) {
    if (argc < 2) return false;
    const QByteArray first(argv[1]);
    const QString title = QString::fromLatin1(ApplicationTitle) + ' ' + ProgramVersion;
    if (first == "--version") {
        printLine(title);
        return true;
    }
    if (first != "--help" && first != "-h") return false;
    printLine(title + " Command Line Arguments\n\n" + CommandLineHelpLines().join('\n') +
              "\n\n--help, -h - Print this help\n--version - Print the version\n"
              "marrowline(1) tells about the program folder, the environment and more.");
    return true;
}

// One line of standard input, for "/PASSFILE:-". From a terminal it is asked for, and not echoed.
QByteArray readPasswordLine() {
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
    }
    QByteArray line;
    char c = 0;
    while (line.size() < 4096 && ::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        line += c;
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return line;
}

// The desktop program runs where there is a display, unless told to run headless.
bool desktopWanted() {
#ifdef MARROWLINE_WITH_GUI
    if (qEnvironmentVariable("MARROWLINE_HEADLESS") == QLatin1String("1")) return false;
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

#ifdef MARROWLINE_WITH_GUI
// The window of the desktop program over the shell: pages follow the shell, the window's close
// and the shell's end follow each other.
std::unique_ptr<TfrmMRL> makeWindow(TMainShell& shell, IPrompt& prompt) {
    TAppContext& context = shell.Context();
    auto views = [&shell](TRole role, QWidget* parent) -> QWidget* {
        if (auto* client = dynamic_cast<TfraClient*>(shell.Console(role)))
            return new TfraClientView(*client, parent);
        if (auto* server = dynamic_cast<TfraServer*>(shell.Console(role)))
            return new TfraServerView(*server, parent);
        return nullptr;
    };
    auto window = std::make_unique<TfrmMRL>(shell, context.settings, context.status, prompt,
                                            views);
    TfrmMRL* w = window.get();
    QObject::connect(&shell, &TMainShell::PageChanged, w, &TfrmMRL::showPage);
    QObject::connect(&shell, &TMainShell::ChoiceShown, w, &TfrmMRL::showChoice);
    QObject::connect(&shell, &TMainShell::OnTopChanged, w, &TfrmMRL::applyOnTop);
    QObject::connect(&shell, &TMainShell::TerminateRequested, w, &TfrmMRL::terminate);
    return window;
}
#endif

const char* const HandOverFailed =
    "Marrowline: Could not pass parameters to the previous running instance.";

// Overwrites a job's password among the program's own arguments, so that it does not stay
// readable in /proc/PID/cmdline (and ps) for as long as the program runs. `argv` is the argument
// list as the program got it (Qt may since have taken entries out of its own copy). A password
// read from a file (or standard input) was never among them.
void hidePassword(const std::vector<char*>& argv, const QStringList& params,
                  const TSettings& settings) {
    if (params.size() + 1 != qsizetype(argv.size())) return;
    for (qsizetype i = 0; i < params.size(); ++i)
        if (params[i] != QString::fromLocal8Bit(argv[size_t(i + 1)])) return;
    const bool server = settings.IsServer() && !params.contains("/CLIENT", Qt::CaseInsensitive);
    if (const qsizetype at = PasswordPosition(params, server);
        at >= 0 && size_t(at) + 1 < argv.size())
        std::memset(argv[size_t(at + 1)], 0, std::strlen(argv[size_t(at + 1)]));
}

// A later start: loads what every start loads, hands its parameters to the running instance and
// ends. No window system is loaded for it. False when the parameters could not be delivered.
bool handOver(const TInstanceLock& lock, const std::vector<char*>& argv,
              const QStringList& params) {
    int argc = 1;
    char* coreArgv[] = {argv[0], nullptr};
    QCoreApplication app(argc, coreArgv);
    QCoreApplication::setApplicationName(ApplicationTitle);
    THeadlessPrompt prompt(printLine);
    const QString executable = OwnExecutablePath();
    TAppContext context(lock.Folder(), executable, prompt);
    context.StartupLoad();
    hidePassword(argv, params, context.settings);
    if (lock.Current() == TInstanceLock::Failed)
        std::fprintf(stderr, "marrowline: instance lock: %s\n", qPrintable(lock.Error()));
    if (params.isEmpty()) return true;
    const QStringList handed =
        WithAbsoluteJobPaths(params, context.settings.IsClient(), QDir::currentPath());
    return SendHandOver(HandOverName(context.settings.AppDir()), HandOverText(handed));
}

// A hand-over that could not be delivered: a line on standard output, and on the desktop also
// the box, once the hand-over's own application object is gone.
void reportHandOverFailure(const std::vector<char*>& argv) {
    printLine(QString::fromLatin1(HandOverFailed));
#ifdef MARROWLINE_WITH_GUI
    if (!desktopWanted()) return;
    QString unreachable;
    const std::unique_ptr<QApplication> app = MakeDesktopApplication(argv[0], &unreachable);
    if (!unreachable.isEmpty()) return;
    TDesktopPrompt prompt;
    prompt.MessageBox(QString::fromLatin1(HandOverFailed), QString(), TBoxIcon::Error,
                      TBoxButtons::Ok);
    // The box returns at once: the program ends when it is closed.
    QApplication::setQuitOnLastWindowClosed(true);
    app->exec();
#else
    Q_UNUSED(argv);
#endif
}

// Where the first instance puts its window: on the desktop only; boxes belong to it.
struct TWindowSlot {
    bool desktop = false;
#ifdef MARROWLINE_WITH_GUI
    QPointer<QWidget>* owner = nullptr;
#endif
};

// SIGINT, SIGTERM and SIGHUP close the program the normal way.
std::unique_ptr<QSocketNotifier> closeOnSignals(TMainShell& shell) {
    if (!installSignalPipe()) return {};
    auto notifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &shell, [&shell]() {
        char buffer[64];
        while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
        }
        shell.CloseApplication(false);
    });
    return notifier;
}

// The first instance: the shell, with the window on the desktop, until the program ends; then
// the shell's Shutdown (everything saved, in its order).
void runInstance(QCoreApplication& app, std::unique_ptr<TAppContext> context,
                 const QStringList& params, IPrompt& prompt, const TWindowSlot& slot) {
    const bool desktop = slot.desktop;
    context->status.SetEcho(printLine);
    TMainShell shell(std::move(context), params);
    QObject::connect(&shell, &TMainShell::TerminateRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!desktop) {
        // Without a window there is no role-choice page to answer: a role that arrives by a
        // hand-over while no role is chosen is taken as the choice.
        QObject::connect(&shell, &TMainShell::HandOverProcessed, &shell, [&shell]() {
            const TSettings& settings = shell.Context().settings;
            if (shell.Page() == PageChoice && !shell.Terminated() && settings.Role() != RoleNone)
                shell.ChooseRole(settings.Role());
        });
        QObject::connect(&shell, &TMainShell::ChoiceShown, &shell, []() {
            printLine(QStringLiteral("Marrowline 1.00: no role chosen; start with /CLIENT or "
                                     "/SERVER."));
        });
    }
#ifdef MARROWLINE_WITH_GUI
    std::unique_ptr<TfrmMRL> window;
    if (desktop) {
        window = makeWindow(shell, prompt);
        if (slot.owner) *slot.owner = window.get();
        // The window starts minimised: in the notification area.
        window->minimizeToTray();
    }
#else
    Q_UNUSED(prompt);
#endif
    std::unique_ptr<QSocketNotifier> signalNotifier = closeOnSignals(shell);
    // MARROWLINE_STALL_PROBE=<file>: how long the event loop is kept from its events, measured
    // from its first turn until it ends.
    const std::unique_ptr<TStallProbe> stallProbe = TStallProbe::FromEnvironment();
    if (stallProbe) stallProbe->Start();
    QString error;
    if (!shell.StartHandOverReceiver(&error))
        std::fprintf(stderr, "marrowline: hand-over: %s\n", qPrintable(error));
    shell.Initialize();
    if (!shell.Terminated()) app.exec();
    if (stallProbe) stallProbe->Stop();
#ifdef MARROWLINE_WITH_GUI
    // The window goes before the shutdown: the consoles it shows are still there.
    window.reset();
#endif
    shell.Shutdown();
    signalNotifier.reset();
    shell.Context().status.SetEcho({});
}
} // namespace

int main(int argc, char** argv) {
    // A hand-over peer that hangs up early must not kill the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (answerInfoSwitch(argc, argv)) return 0;
    // The program's own parameters, as it got them: no application object has had a say.
    const std::vector<char*> arguments(argv, argv + argc);
    QStringList params;
    for (int i = 1; i < argc; ++i) params << QString::fromLocal8Bit(argv[i]);
    // A job's password from a file or standard input: it never appears among the arguments.
    QString passwordError;
    if (!TakePasswordFile(params, readPasswordLine, passwordError)) {
        printLine(QStringLiteral("marrowline: ") + passwordError);
        return 0;
    }

    // A first or a later start? The instance lock tells, before any window system is loaded.
    TInstanceLock lock;
    if (lock.Acquire(ResolveAppDir(OwnExecutablePath())) != TInstanceLock::Acquired) {
        if (!handOver(lock, arguments, params)) reportHandOverFailure(arguments);
        return 0;
    }

    // The first instance: the desktop where its display can be reached, else headless.
    bool desktop = desktopWanted();
    std::unique_ptr<QCoreApplication> application;
#ifdef MARROWLINE_WITH_GUI
    if (desktop) {
        QString unreachable;
        application = MakeDesktopApplication(argv[0], &unreachable);
        if (!unreachable.isEmpty()) {
            std::fprintf(stderr, "marrowline: cannot reach the display %s; running headless\n",
                         qPrintable(unreachable));
            desktop = false;
        }
    }
#endif
    if (!application) {
        int coreArgc = 1;
        static char* coreArgv[] = {argv[0], nullptr};
        application = std::make_unique<QCoreApplication>(coreArgc, coreArgv);
    }
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(ApplicationTitle);

    // Headless, a box is a status line: in the transcript (and on standard output) once a
    // console keeps one, on standard output before that (a failure while starting).
    TAppContext* boxes = nullptr;
    THeadlessPrompt headlessPrompt([&boxes](const QString& line) {
        if (boxes && boxes->status.SessionText(boxes->settings.Role()))
            boxes->status.Add(line);
        else
            printLine(line);
    });
#ifdef MARROWLINE_WITH_GUI
    QPointer<QWidget> boxOwner;
    TDesktopPrompt desktopPrompt([&boxOwner]() { return boxOwner.data(); });
    IPrompt& prompt = desktop ? static_cast<IPrompt&>(desktopPrompt) : headlessPrompt;
#else
    IPrompt& prompt = headlessPrompt;
#endif

    // Every start, also a later one, loads the settings, the modem list and the job queue.
    auto context = std::make_unique<TAppContext>(lock.Folder(), OwnExecutablePath(), prompt);
    boxes = context.get();
#ifdef MARROWLINE_WITH_GUI
    // On the desktop, a port that cannot be opened is told in a box as well.
    if (desktop) context->engines.alerts = &prompt;
#endif
    context->StartupLoad();
    hidePassword(arguments, params, context->settings);

    TWindowSlot window;
#ifdef MARROWLINE_WITH_GUI
    window.desktop = desktop;
    window.owner = &boxOwner;
#endif
    runInstance(app, std::move(context), params, prompt, window);
    boxes = nullptr; // the context went with the shell
    lock.Release();
    return 0;
}
