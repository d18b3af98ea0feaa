#include "core/command_line.h"

#include "platform/paths.h"

bool IsSwitch(const QString& entry) {
    if (!entry.startsWith('/')) return false;
    const qsizetype colon = entry.indexOf(':');
    const qsizetype slash = entry.indexOf('/', 1);
    return slash < 0 || (colon >= 0 && colon < slash);
}

QString SwitchCase(const QString& entry) {
    const qsizetype colon = entry.indexOf(':');
    if (colon < 0) return entry.toUpper();
    return entry.left(colon + 1).toUpper() + PathCase(entry.mid(colon + 1));
}

QString HandOverText(const QStringList& params) {
    QString text;
    for (const QString& param : params)
        text += param + ParamSeparator;
    return text;
}

qsizetype PasswordPosition(const QStringList& params, bool server) {
    if (server) return -1;
    QList<qsizetype> entries;
    for (qsizetype i = 0; i < params.size(); ++i)
        if (!params[i].trimmed().isEmpty()) entries << i;
    if (entries.size() < 4 || IsSwitch(params[entries[0]].trimmed())) return -1;
    return entries[2];
}

bool TPendingParams::StartsWith(const QString& prefix) const {
    for (const QString& entry : entries)
        if (entry.startsWith(prefix)) return true;
    return false;
}
