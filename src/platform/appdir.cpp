#include "platform/appdir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString withSlash(QString path) {
    if (!path.endsWith('/')) path += '/';
    return path;
}

bool folderWritable(const QString& folder) {
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// A build tree: CMake keeps its own folder next to every target it builds.
bool buildTree(const QString& folder) {
    return QFileInfo(folder + "/CMakeFiles").isDir() &&
           QFileInfo(folder + "/cmake_install.cmake").isFile();
}

QString created(const QString& folder) {
    MakePrivateFolder(folder);
    return withSlash(QFileInfo(folder).absoluteFilePath());
}
} // namespace

QString ResolveAppDir(const QString& executablePath) {
    const QByteArray home = qgetenv("MARROWLINE_HOME");
    if (!home.isEmpty()) return created(QFile::decodeName(home));
    const QFileInfo exe(executablePath);
    const QString exeDir = exe.absolutePath();
    // The settings file is named after the executable (marrowline.ini).
    const bool meant = buildTree(exeDir) ||
                       QFileInfo(exeDir + '/' + exe.completeBaseName() + ".ini").isFile();
    if (meant && folderWritable(exeDir)) return created(exeDir);
    QString data = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
    return created(data + "/marrowline");
}

QString OwnExecutablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
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
