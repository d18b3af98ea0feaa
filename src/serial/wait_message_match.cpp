#include "serial/wait_message_match.h"

#include "serial/caret.h"

void TMessageMatcher::Reset(const QStringList& strings) {
    std::vector<Entry> entries;
    entries.reserve(strings.size());
    for (const QString& text : strings) {
        Entry entry;
        entry.pattern = DecodeCaretText(text.toUtf8());
        entry.window.reserve(entry.pattern.size() + 1);
        entries.push_back(std::move(entry));
    }
    mEntries.swap(entries);
    ++mGeneration;
}

bool TMessageMatcher::Equal(const QByteArray& window, const QByteArray& pattern) const {
    if (mCaseSensitive) return window == pattern;
    // ASCII case folding only: bytes of multi-byte characters are compared as they are.
    if (window.size() != pattern.size()) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    for (qsizetype i = 0; i < window.size(); ++i)
        if (lower(window.at(i)) != lower(pattern.at(i))) return false;
    return true;
}

void TMessageMatcher::Feed(char byte, const std::function<bool(int index)>& matched) {
    if (byte == '\0') byte = ' ';
    const unsigned generation = mGeneration;
    for (size_t i = 0; i < mEntries.size(); ++i) {
        Entry& entry = mEntries[i];
        const qsizetype length = entry.pattern.size();
        if (length == 0) continue;
        entry.window.append(byte);
        if (Equal(entry.window, entry.pattern)) {
            if (!matched(int(i))) return;
            if (generation != mGeneration) return; // reset by the handler; `entry` is gone
        }
        if (entry.window.size() >= length) entry.window.remove(0, 1);
    }
}
