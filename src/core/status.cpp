#include "core/status.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "platform/prompt.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

void TSessionText::Append(const QString& line) {
    mLines.append(line);
    Q_EMIT LineAppended(line);
}

void TSessionText::Clear() {
    mLines.clear();
    Q_EMIT Cleared();
}

TStatusSink::TStatusSink(const TSettings& settings, IPrompt& prompt)
    : mSettings(settings), mPrompt(prompt) {}

void TStatusSink::SetSessionText(TRole role, TSessionText* text) {
    if (role == RoleClient || role == RoleServer) mTexts[role] = text;
}

TSessionText* TStatusSink::SessionText(TRole role) const {
    return role == RoleClient || role == RoleServer ? mTexts[role] : nullptr;
}

void TStatusSink::ReportOperationError(const char* className, const char* operation,
                                       const QString& text) {
    Add(QStringLiteral("!") + className + "." + operation + ": " + text);
}

void TStatusSink::Add(const QString& message) {
    if (mRelay) {
        mRelay(message);
        return;
    }
    TSessionText* text = SessionText(mSettings.Role());
    if (!text) return;
    if (text->LineCount() > 500) Save(text);
    const QString line = DateTimeToStr(QDateTime::currentDateTime()) + ": " + message;
    text->Append(line);
    if (mEcho) mEcho(line);
}

void TStatusSink::Save(TSessionText* text) {
    if (mSaving || !text) return;
    mSaving = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{mSaving};
    const QString path = mSettings.AppDir() + "sessions.log";
    QFile file(path);
    const QFileInfo info(path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
    if (!info.exists() || info.size() > mSettings.GetInt(MRL_MaxLogSize))
        mode = QIODevice::WriteOnly | QIODevice::Truncate;
    const QByteArray block = (text->Text() + "\r\n").toUtf8();
    if (!file.open(mode) || file.write(block) != block.size() || !file.flush()) {
        const QString error = file.errorString();
        file.close();
        mPrompt.MessageBox("!SaveStatus: " + error, ApplicationTitle, TBoxIcon::Error,
                           TBoxButtons::Ok);
        return;
    }
    file.close();
    text->Clear();
}
