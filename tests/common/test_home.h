#pragma once
// Test support: every test works in a temporary program folder of its own.
#include "core/status.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Creates a temporary folder, points MARROWLINE_HOME, XDG_CONFIG_HOME and XDG_DATA_HOME into it,
// makes it the program folder (settings file "marrowline.ini"), builds the settings table with its
// defaults, and registers one session text for both roles so that status lines can be read.
// Destroying it removes the folder.
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

private:
    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TSessionText> mText;
};

// Writes bytes to a file, creating its folder; returns false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
// Reads a whole file (empty when missing).
QByteArray ReadFile(const QString& path);
