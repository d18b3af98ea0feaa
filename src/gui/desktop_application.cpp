#include "gui/desktop_application.h"

#include <QGuiApplication>
#include <QList>
#include <vector>

namespace {
// The window systems to try, in Qt's order of preference (QT_QPA_PLATFORM when the user set it),
// then Qt's "offscreen" platform, which always comes up: a display that cannot be reached must
// not make Qt abort the program. True when "offscreen" is the user's own choice.
QByteArray platformsToTry(bool* offscreenAsked) {
    QList<QByteArray> platforms;
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (!chosen.isEmpty()) {
        platforms = chosen.split(';');
    } else {
        const bool wayland = qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
        const bool x11 = qEnvironmentVariableIsSet("DISPLAY");
        const QByteArray desktop =
            (qgetenv("XDG_CURRENT_DESKTOP") + ':' + qgetenv("XDG_SESSION_DESKTOP")).toLower();
        // Qt prefers Wayland in a Wayland session, except under GNOME.
        if (wayland && qgetenv("XDG_SESSION_TYPE") == "wayland" && !desktop.contains("gnome"))
            platforms << "wayland";
        if (x11) platforms << "xcb";
        if (wayland && !platforms.contains("wayland")) platforms << "wayland";
    }
    *offscreenAsked = platforms.contains("offscreen");
    if (!*offscreenAsked) platforms << "offscreen";
    return platforms.join(';');
}

// Qt's messages while the application object comes up: kept, then passed on or dropped.
struct TStartMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<TStartMessage>* gStartMessages = nullptr;

void keepStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    gStartMessages->push_back({type, QByteArray(context.category), text});
}
} // namespace

std::unique_ptr<QApplication> MakeDesktopApplication(char* programName, QString* unreachable) {
    // The application object keeps these for its whole life.
    static int qtArgc;
    static QByteArray platforms;
    static char platformSwitch[] = "-platform";
    static char* qtArgv[4];
    bool offscreenAsked = false;
    platforms = platformsToTry(&offscreenAsked);
    qtArgc = 3;
    qtArgv[0] = programName;
    qtArgv[1] = platformSwitch;
    qtArgv[2] = platforms.data();
    qtArgv[3] = nullptr;

    std::vector<TStartMessage> messages;
    gStartMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(keepStartMessage);
    auto app = std::make_unique<QApplication>(qtArgc, qtArgv);
    qInstallMessageHandler(previous);
    gStartMessages = nullptr;

    const bool reached = offscreenAsked || QGuiApplication::platformName() != "offscreen";
    if (!reached) {
        *unreachable = qEnvironmentVariable(qEnvironmentVariableIsSet("DISPLAY") ? "DISPLAY"
                                                                                 : "WAYLAND_DISPLAY");
        return app; // what Qt said about the failed platforms is summed up by the caller
    }
    // Passed on as they came, but for the notes on the platforms of the list that were skipped.
    for (const TStartMessage& m : messages) {
        if (m.category == "qt.qpa.plugin") continue;
        QMessageLogger logger(nullptr, 0, nullptr, m.category.constData());
        switch (m.type) {
        case QtDebugMsg: logger.debug("%s", qUtf8Printable(m.text)); break;
        case QtInfoMsg: logger.info("%s", qUtf8Printable(m.text)); break;
        default: logger.warning("%s", qUtf8Printable(m.text)); break;
        }
    }
    // The window hides in the notification area: closing it is no reason to end.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}
