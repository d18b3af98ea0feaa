#pragma once
// Small helpers that the client engine's source files share (not part of its interface).
#include <QString>
#include <QStringList>

namespace rem_internal {

inline const QString DirListName = QStringLiteral("DIR.LST");

// The strings the reply watcher looks for, by their index in ReplyStrings: the replies, and the
// CR that closes a reply's frame.
enum TReply : int { rpNone = -1, rpYes = 0, rpNo = 1, rpOk = 2, rpFail = 3, rpFrameEnd = 4 };
inline const QStringList ReplyStrings{"YES", "NO", "OK", "FAIL", "^M"};

// How long a matched reply waits for the rest of its frame: three characters and the line's
// latency, with room for a loaded machine.
constexpr int ReplyEndWaitMs = 500;

} // namespace rem_internal
