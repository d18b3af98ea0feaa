#pragma once
// The status line and the session transcript: every part of the program reports progress and
// caught errors as time-stamped lines in the session text of the active console; that text moves
// to "sessions.log" when it grows past 500 lines, when the operator clears it, and at shutdown.
#include "core/settings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

class IPrompt;
class TSettings;

// A console's session text (the memo the view shows). Lines are kept without line ends.
class TSessionText : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    int LineCount() const { return int(mLines.size()); }
    const QStringList& Lines() const { return mLines; }
    // The whole text, lines joined by CR LF.
    QString Text() const { return mLines.join("\r\n"); }
    void Append(const QString& line);
    void Clear();

Q_SIGNALS:
    void LineAppended(const QString& line);
    void Cleared();

private:
    QStringList mLines;
};

// Where status lines go: the session text of the console of the current role.
class TStatusSink {
public:
    TStatusSink(const TSettings& settings, IPrompt& prompt);
    TStatusSink(const TStatusSink&) = delete;
    TStatusSink& operator=(const TStatusSink&) = delete;

    // Registers the session text of the console of a role; nullptr removes it.
    void SetSessionText(TRole role, TSessionText* text);
    TSessionText* SessionText(TRole role) const;
    // An extra receiver of every status line that is kept (headless mode prints them).
    void SetEcho(std::function<void(const QString&)> echo) { mEcho = std::move(echo); }
    // Hands every message to `relay` instead of keeping it. A sink used by a worker thread relays
    // its lines to the main thread, where the sink of the program keeps them (session texts
    // belong to the main thread).
    void SetRelay(std::function<void(const QString&)> relay) { mRelay = std::move(relay); }

    // Appends "date time: message" to the active console's session text; dropped while no role
    // is chosen or that console has no session text yet.
    void Add(const QString& message);
    // Writes the status line "!" + className + "." + operation + ": " + text.
    void ReportOperationError(const char* className, const char* operation, const QString& text);
    // Appends the session text to AppDir + "sessions.log" (emptied first when it has grown past
    // MRL_MaxLogSize bytes) and empties it. A call while another runs returns at once.
    void Save(TSessionText* text);

    // Runs one operation of the program's own classes: anything it throws becomes that status
    // line and the operation returns its neutral result.
    template <typename F, typename R>
    R Guarded(const char* className, const char* operation, R neutral, F&& body) {
        try {
            return body();
        } catch (const std::exception& e) {
            ReportOperationError(className, operation, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            ReportOperationError(className, operation, QStringLiteral("unknown error"));
        }
        return neutral;
    }

private:
    const TSettings& mSettings;
    IPrompt& mPrompt;
    TSessionText* mTexts[3] = {nullptr, nullptr, nullptr};
    std::function<void(const QString&)> mEcho;
    std::function<void(const QString&)> mRelay;
    bool mSaving = false;
};
