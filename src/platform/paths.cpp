#include "platform/paths.h"

#include <QStringList>

namespace {
bool isSeparator(QChar c) { return c == '/' || c == '\\'; }
} // namespace

QString LocalSeparators(const QString& path) {
    QString out = path;
    out.replace('\\', '/');
    return out;
}

QString StoredPath(const QString& relative) {
    QString out = relative;
    out.replace('/', '\\');
    return out;
}

bool HasParentReference(const QString& path) {
    const QStringList parts = LocalSeparators(path).split('/');
    for (const QString& part : parts)
        if (part.trimmed() == "..") return true;
    return false;
}

QString LocalPath(const QString& folder, const QString& relative, bool* ok) {
    auto fail = [ok]() {
        if (ok) *ok = false;
        return QString();
    };
    const QString rel = LocalSeparators(relative);
    if (rel.isEmpty() || rel.startsWith('/')) return fail();
    if (rel.size() >= 2 && rel[1] == ':') return fail(); // a drive prefix such as C:
    QStringList kept;
    for (const QString& part : rel.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part.trimmed() == "..") return fail();
        kept << part;
    }
    if (kept.isEmpty()) return fail();
    if (ok) *ok = true;
    return WithTrailingSlash(LocalSeparators(folder)) + kept.join('/');
}

QString NamePart(const QString& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (isSeparator(path[i]) || path[i] == ':') return path.mid(i + 1);
    return path;
}

QString FolderPart(const QString& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (isSeparator(path[i]) || path[i] == ':') return path.left(i + 1);
    return QString();
}

QString WithTrailingSlash(const QString& folder) {
    if (folder.isEmpty() || isSeparator(folder.back())) return folder.isEmpty() ? "/" : folder;
    return folder + '/';
}

QString WithTrailingBackslash(const QString& folder) {
    if (folder.isEmpty() || isSeparator(folder.back())) return folder;
    return folder + '\\';
}
