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
                VaHandleException(QStringLiteral("TVaWaitMessage.HandleCommData"));
            }
        }
        return *alive && Active();
    };
    for (int i = 0; i < Count && *alive; ++i) {
        // The owner switches the watcher off on the first match; later bytes are not for it.
        if (!Active()) return;
        mMatcher.Feed(Data[i], matched);
    }
}
