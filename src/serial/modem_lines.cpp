#include "serial/modem_lines.h"

bool TModemLineSplitter::Feed(char byte) {
    if (byte == mTerminator) return !mLine.isEmpty();
    if (mLine.size() < MaxLineLength) mLine.append(byte == '\0' ? ' ' : byte);
    return false;
}

QByteArray TModemLineSplitter::TakeLine() {
    QByteArray line;
    line.swap(mLine);
    return line;
}

QByteArray TrimReplyLine(const QByteArray& line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (begin < end && blank(line.at(begin)))
        ++begin;
    while (end > begin && blank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin);
}

TModemReply RecogniseReply(const QByteArray& line, const TModemReplies& replies) {
    if (line.isEmpty()) return TModemReply::None;
    const std::pair<const QByteArray*, TModemReply> exact[] = {
        {&replies.OK, TModemReply::OK},
        {&replies.Ring, TModemReply::Ring},
        {&replies.Busy, TModemReply::Busy},
        {&replies.Voice, TModemReply::Voice},
        {&replies.NoCarrier, TModemReply::NoCarrier},
        {&replies.NoDialTone, TModemReply::NoDialTone},
        {&replies.Error, TModemReply::Error},
    };
    for (const auto& [text, reply] : exact)
        if (!text->isEmpty() && line == *text) return reply;
    if (!replies.Connect.isEmpty() && line.startsWith(replies.Connect)) return TModemReply::Connect;
    return TModemReply::None;
}
