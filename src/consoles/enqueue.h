#pragma once
// Preparing jobs for the queues: the checks a file must pass before it is queued, shared by the
// consoles' command lines and their enqueue dialogs.
#include "consoles/console_services.h"
#include "jobs/queue.h"

#include <QString>

// When the local path lies inside the local folder (at a folder boundary: "/out/a" is inside
// "/out", "/outbox/a" is not), sets *relative to the path below the folder in stored form ('\' as
// separator) and returns true. Both paths are compared after "." and ".." components are resolved,
// so a path cannot climb out of the folder. A path equal to the folder gives true and an empty
// relative path.
bool RelativeToFolder(const QString& path, const QString& folder, QString* relative);

// The size in bytes of a regular file that can be opened for reading; -1 otherwise.
qint64 ReadableFileSize(const QString& localPath);

// Fills `job` with a host job: `file` (a local path inside the user's outbox) for the user
// `user`, to be stored by the client under `destination`. Shows its own error box and returns
// false when the user is unknown, the file is not in the user's outbox, or it cannot be opened.
bool PrepareHostJob(const TConsoleServices& services, TQueueItem& job, const QString& file,
                    const QString& user, const QString& destination);
