#include "jobs/status.h"

#include "app/helpers.h"
#include "app/settings.h"
#include "platform/appdir.h"
#include "platform/prompt.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {
TSessionText* gTexts[3] = {nullptr, nullptr, nullptr};
std::function<void(const QString&)> gEcho;
bool gSaving = false;
} // namespace

void TSessionText::Append(const QString& line) {
    mLines.append(line);
    Q_EMIT LineAppended(line);
}

void TSessionText::Clear() {
    mLines.clear();
    Q_EMIT Cleared();
}

void SetConsoleSessionText(int role, TSessionText* text) {
    if (role >= 1 && role <= 2) gTexts[role] = text;
}

TSessionText* ConsoleSessionText(int role) {
    return role >= 1 && role <= 2 ? gTexts[role] : nullptr;
}

void ReportOperationError(const char* className, const char* operation, const QString& text) {
    AddStatus(QStringLiteral("!") + className + "." + operation + ": " + text);
}

void SetStatusEcho(std::function<void(const QString&)> echo) { gEcho = std::move(echo); }

void AddStatus(const QString& message) {
    const int role = IsClient() ? 1 : IsServer() ? 2 : 0;
    TSessionText* text = ConsoleSessionText(role);
    if (!text) return;
    if (text->LineCount() > 500) SaveStatus(text);
    const QString line = DateTimeToStr(QDateTime::currentDateTime()) + ": " + message;
    text->Append(line);
    if (gEcho) gEcho(line);
}

void SaveStatus(TSessionText* text) {
    if (gSaving || !text) return;
    gSaving = true;
    struct Release {
        ~Release() { gSaving = false; }
    } release;
    const QString path = AppDir() + "sessions.log";
    QFile file(path);
    const QFileInfo info(path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
    if (!info.exists() || info.size() > GetInt(MRL_MaxLogSize)) mode = QIODevice::WriteOnly | QIODevice::Truncate;
    const QByteArray block = (text->Text() + "\r\n").toUtf8();
    if (!file.open(mode) || file.write(block) != block.size() || !file.flush()) {
        const QString error = file.errorString();
        file.close();
        Prompt().MessageBox("!SaveStatus: " + error, ApplicationTitle, TBoxIcon::Error,
                            TBoxButtons::Ok);
        return;
    }
    file.close();
    text->Clear();
}
