#pragma once
// A desktop program in the test's own process, as main() wires it: context, shell, and the main
// window with the console views, boxes through the desktop prompt. Widgets are read from the
// page shown (both console pages have controls of the same names).
#include "app/context.h"
#include "app/shell.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "e2e/e2e_harness.h"
#include "gui/client_view.h"
#include "gui/desktop_prompt.h"
#include "gui/main_window.h"
#include "gui/server_view.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace e2e {
// A program as the desktop runs it, in-process: context, shell, window with the console views.
struct DesktopProgram {
    std::unique_ptr<TDesktopPrompt> prompt;
    std::unique_ptr<TMainShell> shell;
    std::unique_ptr<TfrmMRL> window;

    DesktopProgram(const Home& home, const QStringList& params, bool tray) {
        prompt = std::make_unique<TDesktopPrompt>([this]() { return window.get(); });
        auto context = std::make_unique<TAppContext>(
            home.path(), QString::fromLocal8Bit(qgetenv("MARROWLINE_BIN")), *prompt);
        context->StartupLoad();
        shell = std::make_unique<TMainShell>(std::move(context), params);
        TMainShell* s = shell.get();
        auto views = [s](TRole role, QWidget* parent) -> QWidget* {
            if (auto* client = dynamic_cast<TfraClient*>(s->Console(role)))
                return new TfraClientView(*client, parent);
            if (auto* server = dynamic_cast<TfraServer*>(s->Console(role)))
                return new TfraServerView(*server, parent);
            return nullptr;
        };
        TAppContext& ctx = shell->Context();
        window = std::make_unique<TfrmMRL>(*shell, ctx.settings, ctx.status, *prompt, views, tray);
        QObject::connect(s, &TMainShell::PageChanged, window.get(), &TfrmMRL::showPage);
        QObject::connect(s, &TMainShell::ChoiceShown, window.get(), &TfrmMRL::showChoice);
        QObject::connect(s, &TMainShell::OnTopChanged, window.get(), &TfrmMRL::applyOnTop);
        window->minimizeToTray();
    }
    ~DesktopProgram() {
        window.reset();
        if (shell) shell->Shutdown();
    }
    // A control of the page shown (both console pages have lists of the same names).
    template <typename T> T* find(const char* name) const {
        return window->page(shell->Page())->findChild<T*>(QString::fromLatin1(name));
    }
    QAbstractItemModel* list(const char* name) const {
        auto* view = find<QAbstractItemView>(name);
        return view ? view->model() : nullptr;
    }
    // The texts of a list's rows, cells joined by "|".
    QStringList rows(const char* name) const {
        QStringList out;
        QAbstractItemModel* model = list(name);
        if (!model) return out;
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            out << cells.join('|');
        }
        return out;
    }
};


// Runs the tests on a real X display: the one given, else an Xvfb of our own for as long as
// they run. The application is made here, on the X11 platform.
inline int RunOnXDisplay(int argc, char** argv, const std::function<int()>& run) {
    std::unique_ptr<QProcess> xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        const QString display = QStringLiteral(":%1").arg(200 + getpid() % 500);
        xvfb = std::make_unique<QProcess>();
        xvfb->start(QStringLiteral("Xvfb"),
                    {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!xvfb->waitForStarted(5000)) {
            std::fprintf(stderr, "cannot start Xvfb\n");
            return 1;
        }
        const QString socket = "/tmp/.X11-unix/X" + display.mid(1);
        for (int i = 0; i < 100 && !QFileInfo::exists(socket); ++i) QThread::msleep(50);
        qputenv("DISPLAY", display.toLocal8Bit());
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = run();
    }
    if (xvfb) {
        xvfb->terminate();
        xvfb->waitForFinished(3000);
    }
    return result;
}
} // namespace e2e
