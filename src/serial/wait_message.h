#pragma once
// The reply watcher: watches the received byte stream for any of a list of strings and raises
// OnMessage with the index of the string that has just arrived.
#include "serial/comm.h"
#include "serial/wait_message_match.h"

#include <QStringList>
#include <functional>
#include <memory>

class TVaWaitMessage : public TVaCommComponent {
    Q_OBJECT
public:
    using TMessage = std::function<void(TVaWaitMessage* Sender, int Index)>;

    explicit TVaWaitMessage(QObject* owner = nullptr);
    ~TVaWaitMessage() override;

    // The watched strings (caret notation allowed); setting them resets the matching. An empty
    // entry never matches.
    const QStringList& Strings() const { return mStrings; }
    void SetStrings(const QStringList& strings);
    // ASCII case-insensitive unless set.
    bool CaseSensitive() const { return mMatcher.CaseSensitive(); }
    void SetCaseSensitive(bool value) { mMatcher.SetCaseSensitive(value); }
    // Rebuilds the patterns from Strings and forgets everything received so far, so that earlier
    // text cannot complete a match.
    void ResetMatching();
    // After loading from a stored form: the same as ResetMatching.
    void Loaded() { ResetMatching(); }

    // Raised for every entry that a received byte completes (0-based index, in list order).
    // Matches may overlap, and several entries may match on the same byte.
    TMessage OnMessage;

protected:
    void HandleCommData(const char* Data, int Count) override;

private:
    QStringList mStrings;
    TMessageMatcher mMatcher;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
