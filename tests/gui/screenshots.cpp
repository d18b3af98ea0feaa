// Pictures of every window and dialog with sample data, to look at them as an operator would:
// gui_screenshots OUTPUT_FOLDER [POINT_SIZE] writes one PNG per window (and per tab), drawn with
// the given font size when one is given (as a desktop with a large font draws them). On an X
// display with a window manager each picture is the whole window, frame and caption included;
// elsewhere (offscreen) the window's contents. Run by scripts/screenshots.sh; the
// gui_screenshots test checks that every picture is made.
#include "window_gallery.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTest>
#include <cstdio>

namespace {
QString gFolder;
int gWritten = 0;
int gFailed = 0;

void save(QWidget* window, const QString& name) {
    window->show();
    window->raise();
    window->activateWindow();
    const bool onX = QGuiApplication::platformName() == QLatin1String("xcb");
    (void)QTest::qWaitForWindowExposed(window);
    // The window manager frames the window and the window draws itself.
    QTest::qWait(onX ? 400 : 60);
    QPixmap picture;
    if (onX && window->screen()) {
        const QRect frame = window->frameGeometry();
        picture = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                               frame.height());
    } else {
        picture = window->grab();
    }
    const QString path = gFolder + '/' + name + ".png";
    // Highest compression: the pictures are kept in the repository.
    if (picture.save(path, "PNG", 0)) {
        ++gWritten;
        std::printf("%s\n", qPrintable(path));
    } else {
        ++gFailed;
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    }
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTPUT_FOLDER [POINT_SIZE]\n");
        return 2;
    }
    gFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gFolder);
    if (argc > 2) {
        QFont font = QApplication::font();
        font.setPointSizeF(QString::fromLocal8Bit(argv[2]).toDouble());
        QApplication::setFont(font);
    }
    TfrmMRL::LoadResources();
    for (const gallery::Entry& entry : gallery::Entries())
        entry.run(save);
    std::printf("%d pictures, %d failed\n", gWritten, gFailed);
    return gFailed == 0 && gWritten > 0 ? 0 : 1;
}
