// The marrowline program. There is no window yet, so it runs headless: the consoles' logic runs
// without a view, status lines go to standard output as well as to the session transcript, message
// boxes are written as lines and take their default answer. One instance runs per program folder; a
// later start hands its parameters to it. The exit code is 0 in every path.
#include "app/cmdline.h"
#include "app/context.h"
#include "app/shell.h"
#include "core/settings.h"
#include "platform/appdir.h"
#include "platform/instance.h"
#include "platform/prompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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
} // namespace

int main(int argc, char** argv) {
    // A hand-over peer that hangs up early must not kill the program.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(ApplicationTitle);
    const QStringList params = QCoreApplication::arguments().mid(1);

    // A box is a status line: in the transcript (and on standard output) once a console keeps
    // one, on standard output before that (a second start, a failure while starting).
    TAppContext* boxes = nullptr;
    THeadlessPrompt prompt([&boxes](const QString& line) {
        if (boxes && boxes->status.SessionText(boxes->settings.Role()))
            boxes->status.Add(line);
        else
            printLine(line);
    });

    // Every start, also a second one, loads the settings, the modem list and the job queue.
    const QString executable = QCoreApplication::applicationFilePath();
    auto context = std::make_unique<TAppContext>(ResolveAppDir(executable), executable, prompt);
    boxes = context.get();
    context->StartupLoad();
    const TSettings& settings = context->settings;
    // The password has been read: it must not stay readable in /proc/PID/cmdline (and ps) for
    // as long as the program runs.
    const bool server = settings.IsServer() && !params.contains("/CLIENT", Qt::CaseInsensitive);
    if (const qsizetype at = PasswordPosition(params, server); at >= 0 && at + 1 < argc)
        std::memset(argv[at + 1], 0, std::strlen(argv[at + 1]));

    TInstanceLock lock;
    if (lock.Acquire(settings.AppDir()) != TInstanceLock::Acquired) {
        if (lock.Current() == TInstanceLock::Failed)
            std::fprintf(stderr, "marrowline: instance lock: %s\n", qPrintable(lock.Error()));
        if (params.isEmpty()) return 0;
        const QStringList handed =
            WithAbsoluteJobPaths(params, settings.IsClient(), QDir::currentPath());
        if (!SendHandOver(HandOverName(settings.AppDir()), HandOverText(handed)))
            prompt.MessageBox(QStringLiteral("Marrowline: Could not pass parameters to the "
                                             "previous running instance."),
                              QString(), TBoxIcon::Error, TBoxButtons::Ok);
        return 0;
    }

    context->status.SetEcho(printLine);
    {
        TMainShell shell(std::move(context), params);
        QObject::connect(&shell, &TMainShell::TerminateRequested, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        // Without a window there is no role-choice page to answer: a role that arrives by a
        // hand-over while no role is chosen is taken as the choice.
        QObject::connect(&shell, &TMainShell::HandOverProcessed, &shell, [&shell]() {
            const TSettings& settings = shell.Context().settings;
            if (shell.Page() == 0 && !shell.Terminated() && settings.Role() != 0)
                shell.ChooseRole(settings.Role());
        });
        QObject::connect(&shell, &TMainShell::ChoiceShown, &shell, []() {
            printLine(QStringLiteral("Marrowline 1.00: no role chosen; start with /CLIENT or "
                                     "/SERVER."));
        });

        std::unique_ptr<QSocketNotifier> signalNotifier;
        if (installSignalPipe()) {
            signalNotifier =
                std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
            QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &shell, [&shell]() {
                char buffer[64];
                while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
                }
                shell.CloseApplication(false);
            });
        }

        QString error;
        if (!shell.StartHandOverReceiver(&error))
            std::fprintf(stderr, "marrowline: hand-over: %s\n", qPrintable(error));
        shell.Initialize();
        if (!shell.Terminated()) app.exec();
        shell.Shutdown();
        signalNotifier.reset();
        shell.Context().status.SetEcho({});
        boxes = nullptr; // the context goes with the shell
    }
    lock.Release();
    return 0;
}
