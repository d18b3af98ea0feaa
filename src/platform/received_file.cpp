#include "platform/received_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace received_file {
namespace {
// The start of the final name kept in the temporary one: enough to recognise the file, short
// enough that the temporary name always fits in a 255-byte file name.
constexpr int NameHintBytes = 64;

const QRegularExpression& pattern() {
    static const QRegularExpression re(QStringLiteral("^\\..*\\.mrl-([0-9]{1,10})-[0-9]{1,10}\\.part$"),
                                       QRegularExpression::DotMatchesEverythingOption);
    return re;
}

QString nameHint(const QString& name) {
    QString hint;
    int bytes = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        // Whole characters only: a surrogate pair goes in together.
        const qsizetype length = name[i].isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const int size = int(name.mid(i, length).toUtf8().size());
        if (bytes + size > NameHintBytes) break;
        hint += name.mid(i, length);
        bytes += size;
        i += length - 1;
    }
    return hint;
}

bool syncPath(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool processGone(qint64 pid) {
    if (pid <= 0 || pid > 0x7fffffff) return true;
    if (pid == ::getpid()) return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}
} // namespace

QString TemporaryPath(const QString& finalPath) {
    static std::atomic<int> counter{0};
    const QFileInfo info(finalPath);
    return info.path() + "/." + nameHint(info.fileName()) + ".mrl-" +
           QString::number(::getpid()) + "-" + QString::number(++counter) + ".part";
}

bool IsTemporaryName(const QString& fileName) {
    return pattern().match(fileName).hasMatch();
}

bool Commit(const QString& temporaryPath, const QString& finalPath, QString* error) {
    // The data first, then the name: after a crash the final name holds the old file or the
    // whole new one, never a part of it.
    if (!syncPath(temporaryPath, O_RDONLY)) {
        *error = temporaryPath + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (std::rename(QFile::encodeName(temporaryPath).constData(),
                    QFile::encodeName(finalPath).constData()) != 0) {
        *error = finalPath + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    syncPath(QFileInfo(finalPath).path(), O_RDONLY | O_DIRECTORY);
    return true;
}

bool Discard(const QString& temporaryPath) {
    if (temporaryPath.isEmpty()) return true;
    return ::unlink(QFile::encodeName(temporaryPath).constData()) == 0 || errno == ENOENT;
}

bool IsStorableName(const QString& name) {
    if (name.isEmpty() || name.toUtf8().size() > 255) return false;
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    const qsizetype slash = std::max(name.lastIndexOf('\\'), name.lastIndexOf('/'));
    const QString last = name.mid(slash + 1);
    return !last.isEmpty() && !IsTemporaryName(last);
}

int RemoveLeftovers(const QString& folder) {
    int removed = 0;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const auto match = pattern().match(name);
        if (!match.hasMatch() || !processGone(match.captured(1).toLongLong())) continue;
        if (Discard(dir.filePath(name))) ++removed;
    }
    return removed;
}

qint64 FreeSpace(const QString& folder) {
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0) return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

bool RoomFor(const QString& folder, const QString& length, qint64* free) {
    *free = FreeSpace(folder);
    bool ok = false;
    const qint64 bytes = length.trimmed().toLongLong(&ok);
    if (!ok || bytes < 0 || *free < 0) return true;
    return bytes <= *free - SpareBytes;
}

} // namespace received_file
