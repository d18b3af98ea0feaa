#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString AutostartEntryPath(const QString& name) {
    QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty()) config = QDir::homePath() + "/.config";
    return config + "/autostart/" + name + ".desktop";
}

namespace {
// Exec values quote arguments that hold blanks or reserved characters.
QString quoteExec(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needs = false;
    for (QChar c : path)
        if (reserved.contains(c)) needs = true;
    if (!needs) return path;
    QString escaped = path;
    escaped.replace("\\", "\\\\").replace("\"", "\\\"").replace("`", "\\`").replace("$", "\\$");
    return "\"" + escaped + "\"";
}
} // namespace

bool SetAutostartEntry(bool enable, const QString& name, const QString& executable,
                       QString* error) {
    const QString path = AutostartEntryPath(name);
    if (!enable) {
        if (!QFile::exists(path) || QFile::remove(path)) return true;
        if (error) *error = QStringLiteral("Cannot remove %1").arg(path);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error) *error = QStringLiteral("Cannot create the folder of %1").arg(path);
        return false;
    }
    const QByteArray text = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(name, quoteExec(executable))
                                .toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}
