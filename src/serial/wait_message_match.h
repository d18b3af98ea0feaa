#pragma once
// The matching core of the reply watcher: one sliding window of the most recent received bytes
// per watched string.
#include <QByteArray>
#include <QStringList>
#include <functional>
#include <vector>

class TMessageMatcher {
public:
    // Rebuilds the patterns (caret notation decoded, UTF-8) and empties every window.
    void Reset(const QStringList& strings);
    bool CaseSensitive() const { return mCaseSensitive; }
    void SetCaseSensitive(bool value) { mCaseSensitive = value; }
    int Count() const { return int(mEntries.size()); }

    // Takes one received byte (NUL counts as a blank) and calls `matched` with the 0-based index
    // of every entry, in order, whose pattern the byte completes. Matches may overlap; a matched
    // window is shifted, not cleared. When `matched` resets the matcher, the rest of this byte is
    // not looked at: text received before a reset must not complete a match. When `matched`
    // returns false the matcher is not touched again (its owner may be gone).
    void Feed(char byte, const std::function<bool(int index)>& matched);

private:
    struct Entry {
        QByteArray pattern; // empty: never matches, no window kept
        QByteArray window;
    };
    bool Equal(const QByteArray& window, const QByteArray& pattern) const;

    std::vector<Entry> mEntries;
    bool mCaseSensitive = false;
    unsigned mGeneration = 0;
};
