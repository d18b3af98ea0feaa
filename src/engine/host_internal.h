#pragma once
// Small helpers that the server engine's source files share (not part of its interface).
#include "jobs/queue.h"

#include <QChar>
#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace host_internal {

inline const QChar Quote('"');

// The folder that never exists: what the outbox and inbox look-ups give when they fail.
inline const QString ImpossibleFolder = QStringLiteral("/\\/");

// The announced size of a request, 0 when it is none, cut to what a report can show.
inline int32_t ReportedSize(const TQueueItem& job) {
    return int32_t(qMin<qint64>(JobSize(job), INT32_MAX));
}

} // namespace host_internal
