#pragma once
// A small file system of its own (tmpfs) mounted on a folder for one test: a full disk without
// filling the real one. Mounting needs root (CI runs as root); where it is refused, `mounted` is
// false and `why` says why, and the test skips.
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

struct SmallDisk {
    QString path;
    bool mounted = false;
    QString why;

    SmallDisk(const QString& folder, qint64 bytes) : path(folder) {
        QDir().mkpath(folder);
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.constData()) == 0)
            mounted = true;
        else
            why = QStringLiteral("cannot mount a small file system on ") + folder + ": " +
                  QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallDisk() {
        if (mounted) ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
};
