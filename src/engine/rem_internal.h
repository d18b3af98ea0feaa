#pragma once
// Small helpers that the client engine's source files share (not part of its interface).
#include "engine/link_protocol.h"
#include "engine/rem_process.h"

#include <QString>
#include <QStringList>

namespace rem_internal {

inline const QString DirListName = QStringLiteral("DIR.LST");

// The strings the reply watcher looks for, by their index in ReplyStrings: the replies of the
// command table (by TLinkReply), and the CR that closes a reply's frame.
enum TReply : int { rpNone = -1, rpYes = int(TLinkReply::Yes), rpFrameEnd = LinkReplyCount };
inline const QStringList ReplyStrings = ReplyTexts() << QStringLiteral("^M");

// The client's step for a command's step (None for the end of a session).
inline TRemStep ClientStep(TLinkStep step) {
    switch (step) {
    case TLinkStep::Login:
        return TRemStep::Login;
    case TLinkStep::File:
        return TRemStep::File;
    case TLinkStep::Dir:
        return TRemStep::Dir;
    case TLinkStep::End:
        break;
    }
    return TRemStep::None;
}

// The event a reply (or no reply) of that meaning gives the client's step of a command; None
// when it gives none.
inline TRemEvent ClientEvent(TLinkStep step, TReplyMeaning meaning) {
    using M = TReplyMeaning;
    switch (step) {
    case TLinkStep::Login:
        if (meaning == M::Accepted) return TRemEvent::LogonAccepted;
        if (meaning == M::Refused) return TRemEvent::LogonFailed;
        break;
    case TLinkStep::File:
        if (meaning == M::Accepted) return TRemEvent::FileYes;
        if (meaning == M::Refused) return TRemEvent::FileNo;
        if (meaning == M::Confirmed) return TRemEvent::Done;
        if (meaning == M::Failed) return TRemEvent::AttemptFailed;
        break;
    case TLinkStep::Dir:
        if (meaning == M::Accepted) return TRemEvent::DirYes;
        if (meaning == M::Refused) return TRemEvent::DirOther;
        if (meaning == M::AskAgain) return TRemEvent::DirRequest;
        break;
    case TLinkStep::End:
        break;
    }
    return TRemEvent::None;
}

// How long a matched reply waits for the rest of its frame: three characters and the line's
// latency, with room for a loaded machine.
constexpr int ReplyEndWaitMs = 500;

} // namespace rem_internal
