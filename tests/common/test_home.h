#pragma once
// Test support: every test works in a temporary program folder of its own, with an application
// context of its own for that folder.
#include "app/context.h"
#include "core/status.h"
#include "platform/prompt.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Creates a temporary folder, points MARROWLINE_HOME, XDG_CONFIG_HOME and XDG_DATA_HOME into it,
// and makes an application context for it (settings file "marrowline.ini", the settings table
// with its defaults, empty lists, a scripted prompt), with one session text registered for both
// roles so that status lines can be read. Destroying it removes the folder.
class TestHome {
public:
    explicit TestHome(int role = 0);
    ~TestHome();

    QString path() const;                       // with a trailing '/'
    QString file(const QString& relative) const; // path() + relative
    // Sets MRL_Function (status lines are kept only while a role is set).
    void setRole(int role);
    // Status lines added since creation (or the last clearStatus), without their time stamps.
    QStringList status() const;
    void clearStatus();
    TSessionText& sessionText() { return *mText; }

    TAppContext& ctx() { return *mContext; }
    // Hands the context to a shell (which then owns it); ctx() stays valid while the shell lives.
    std::unique_ptr<TAppContext> takeContext() { return std::move(mOwned); }
    TSettings& settings() { return mContext->settings; }
    TStatusSink& sink() { return mContext->status; }
    TScriptedPrompt& prompt() { return mPrompt; }

private:
    std::unique_ptr<QTemporaryDir> mDir;
    TScriptedPrompt mPrompt;
    std::unique_ptr<TAppContext> mOwned;
    TAppContext* mContext = nullptr;
    std::unique_ptr<TSessionText> mText;
};

// Writes bytes to a file, creating its folder; returns false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
// Reads a whole file (empty when missing).
QByteArray ReadFile(const QString& path);
