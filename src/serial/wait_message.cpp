#include "serial/wait_message.h"

TVaWaitMessage::TVaWaitMessage(QObject* owner) : TVaCommComponent(owner) {}

TVaWaitMessage::~TVaWaitMessage() {
    *mAlive = false;
}

void TVaWaitMessage::SetStrings(const QStringList& strings) {
    mStrings = strings;
    ResetMatching();
}

void TVaWaitMessage::ResetMatching() {
    mMatcher.Reset(mStrings);
}

void TVaWaitMessage::HandleCommData(const char* Data, int Count) {
    const std::shared_ptr<bool> alive = mAlive;
    // False stops the matching: the handler freed the watcher or switched it off.
    auto matched = [&](int index) {
        if (OnMessage) {
            TMessage handler = OnMessage; // the handler may replace itself or free the watcher
            try {
                handler(this, index);
            } catch (...) {
                HandleException(QStringLiteral("TVaWaitMessage.HandleCommData"));
            }
        }
        return *alive && Active();
    };
    for (int i = 0; i < Count; ++i) {
        mMatcher.Feed(Data[i], matched);
        if (!*alive) return;
        // The owner switches the watcher off on the match it acts on; the bytes after it are
        // not for the watcher but for whatever the owner started (a transfer's first bytes).
        if (!Active()) {
            if (i + 1 < Count) Dispatcher().LeaveRest(i + 1);
            return;
        }
    }
}
