// Saves a picture of the whole X screen (DISPLAY) as PNG: screenshot FILE.png [DELAY_MS]
// Used by scripts/screenshots.sh to look at the desktop program as an operator sees it.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshot FILE.png [DELAY_MS]\n");
        return 2;
    }
    if (argc > 2) QThread::msleep(QString::fromLocal8Bit(argv[2]).toULong());
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screenshot: cannot grab or save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
