// Program entry; the start-up order is built in app/startup.
#include "app/settings.h"
#include "platform/appdir.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    InitAppDir(QCoreApplication::applicationFilePath());
    BuildSettingsTable();
    LoadSettings();
    return 0;
}
