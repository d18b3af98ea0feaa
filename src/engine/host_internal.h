#pragma once
// Small helpers that the server engine's source files share (not part of its interface).
#include <QChar>
#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace host_internal {

inline const QChar Quote('"');

// The folder that never exists: what the outbox and inbox look-ups give when they fail.
inline const QString ImpossibleFolder = QStringLiteral("/\\/");

// A size as the client announces it: decimal digits only.
inline bool ValidSize(const QString& text, qint64* size = nullptr) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (!c.isDigit() || c.unicode() > '9') return false;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (size) *size = value;
    return ok;
}

// The announced size of a request, 0 when it is none, cut to what a report can show.
inline int32_t ReportedSize(const QString& text) {
    qint64 size = 0;
    ValidSize(text, &size);
    return int32_t(qMin<qint64>(size, INT32_MAX));
}

} // namespace host_internal
