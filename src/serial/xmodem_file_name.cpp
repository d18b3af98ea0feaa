#include "serial/xmodem_file_name.h"

#include <QFileInfo>

namespace {
// A dangling symbolic link counts as taken: creating the file would follow it elsewhere.
bool taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

QString UniqueFileName(const QString& path) {
    if (!taken(path)) return path;
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    const qsizetype split = dot > slash ? dot : path.size();
    const QString stem = path.left(split);
    const QString extension = path.mid(split);
    for (qint64 n = 1;; ++n) {
        const QString candidate = stem + '-' + QString::number(n) + extension;
        if (!taken(candidate)) return candidate;
    }
}
