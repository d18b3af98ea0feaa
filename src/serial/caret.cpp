#include "serial/caret.h"

namespace {
int codeOf(char c) {
    return static_cast<unsigned char>(c);
}
int codeOf(QChar c) {
    return c.unicode();
}

// Shared by the byte and the text form: Text is QByteArray or QString, Char its element.
template <typename Text, typename Char> Text decode(const Text& text) {
    Text result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const Char c = text.at(i);
        if (c != Char('^')) {
            result.append(c);
            continue;
        }
        if (i + 1 >= n) break; // a caret at the very end is dropped
        const Char next = text.at(++i);
        const int code = codeOf(next);
        if ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z')) {
            const int upper = code >= 'a' ? code - 32 : code;
            result.append(Char(char(upper - 64)));
        } else if (code == '^') {
            // "^^" is one literal caret, so that a caret can be configured at all.
            result.append(Char('^'));
        } else {
            result.append(Char('^'));
            result.append(next);
        }
    }
    return result;
}
} // namespace

QByteArray DecodeCaretText(const QByteArray& text) {
    return decode<QByteArray, char>(text);
}

QString DecodeCaretText(const QString& text) {
    return decode<QString, QChar>(text);
}
