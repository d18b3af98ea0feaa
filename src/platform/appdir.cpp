#include "platform/appdir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString gAppDir;
QString gExecutable;

QString withSlash(QString path) {
    if (!path.endsWith('/')) path += '/';
    return path;
}

bool folderWritable(const QString& folder) {
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}
} // namespace

QString InitAppDir(const QString& executablePath) {
    gExecutable = QFileInfo(executablePath).absoluteFilePath();
    const QByteArray home = qgetenv("MARROWLINE_HOME");
    if (!home.isEmpty()) {
        SetAppDir(QFile::decodeName(home));
        return gAppDir;
    }
    const QString exeDir = QFileInfo(gExecutable).absolutePath();
    if (folderWritable(exeDir)) {
        SetAppDir(exeDir);
        return gAppDir;
    }
    QString data = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
    SetAppDir(data + "/marrowline");
    return gAppDir;
}

bool MakePrivateFolder(const QString& folder) {
    if (folder.isEmpty()) return false;
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(absolute).isDir()) return true;
    QString path;
    for (const QString& part : absolute.split('/', Qt::SkipEmptyParts)) {
        path += '/' + part;
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), 0700) == 0)
            ::chmod(native.constData(), 0700); // the umask may have taken bits away
        else if (errno != EEXIST)
            return false;
    }
    return QFileInfo(absolute).isDir();
}

void SetAppDir(const QString& folder) {
    MakePrivateFolder(folder);
    gAppDir = withSlash(QFileInfo(folder).absoluteFilePath());
}

const QString& AppDir() { return gAppDir; }

void SetExecutablePath(const QString& path) { gExecutable = QFileInfo(path).absoluteFilePath(); }

QString ExecutablePath() { return gExecutable; }

QString ExecutableBaseName() {
    const QString base = QFileInfo(gExecutable).completeBaseName();
    return base.isEmpty() ? QStringLiteral("marrowline") : base;
}

QString SettingsFilePath() { return gAppDir + ExecutableBaseName() + ".ini"; }
