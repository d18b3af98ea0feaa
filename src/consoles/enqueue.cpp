#include "consoles/enqueue.h"

#include "core/settings.h"
#include "jobs/users.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
void errorBox(IPrompt& prompt, const QString& text) {
    prompt.MessageBox(text, QString::fromLatin1(ApplicationTitle), TBoxIcon::Error,
                      TBoxButtons::Ok);
}
} // namespace

bool RelativeToFolder(const QString& path, const QString& folder, QString* relative) {
    const QString cleanFolder = QDir::cleanPath(LocalSeparators(folder.trimmed()));
    const QString cleanPath = QDir::cleanPath(LocalSeparators(path.trimmed()));
    if (cleanFolder.isEmpty() || cleanPath.isEmpty()) return false;
    QString rest;
    if (cleanPath == cleanFolder) {
        rest.clear();
    } else {
        const QString prefix = cleanFolder.endsWith('/') ? cleanFolder : cleanFolder + '/';
        if (!cleanPath.startsWith(prefix)) return false;
        rest = cleanPath.mid(prefix.size());
    }
    if (relative) *relative = StoredPath(rest);
    return true;
}

qint64 ReadableFileSize(const QString& localPath) {
    if (localPath.isEmpty() || !QFileInfo(localPath).isFile()) return -1;
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    return file.size();
}

bool PrepareHostJob(const TConsoleServices& services, TQueueItem& job, const QString& file,
                    const QString& user, const QString& destination) {
    services.queue.EmptyItem(job);
    Put(job, qkUser, user.toUpper().trimmed());
    Put(job, qkSrcFile, PathCase(file).trimmed());
    Put(job, qkDestPath, StoredPath(PathCase(destination).trimmed()));

    TUsersList& users = services.users();
    const int index = users.SearchItem(Get(job, qkUser), QString());
    if (index < 0) {
        errorBox(services.prompt, QStringLiteral("Invalid user name!"));
        return false;
    }
    const QString outbox = users.GetSetting(index, ukOutbox);
    QString relative;
    if (!RelativeToFolder(Get(job, qkSrcFile), outbox, &relative)) {
        errorBox(services.prompt, QStringLiteral("File must be in the user's Outbox or a subfolder."));
        return false;
    }
    // A stored name longer than a job field holds would be cut and name another file.
    if (Cut255(relative) != relative) {
        errorBox(services.prompt, QStringLiteral("Cannot open specified file."));
        return false;
    }
    Put(job, qkSrcFile, relative);

    bool inside = false;
    const QString local = LocalPath(outbox, relative, &inside);
    const qint64 size = inside ? ReadableFileSize(local) : -1;
    if (size < 0) {
        errorBox(services.prompt, QStringLiteral("Cannot open specified file."));
        return false;
    }
    PutJobSize(job, size);

    // A host job carries no log-on data and no device.
    for (TQueueKey key : {qkPassw, qkCommName, qkCommGUID, qkCommParam})
        Put(job, key, QStringLiteral("-"));
    return true;
}
