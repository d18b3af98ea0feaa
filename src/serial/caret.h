#pragma once
// Caret notation for control characters in configured modem strings and watched texts: "^M" is a
// carriage return, "^J" a line feed.
#include <QByteArray>
#include <QString>

// Copies the text, turning a caret followed by a letter into the control character of that
// letter (upper-case code minus 64). A caret followed by any other character gives the caret and
// that character, except that a doubled caret gives one literal caret; a caret at the very end is
// dropped.
QByteArray DecodeCaretText(const QByteArray& text);
// The same on text; the result is the decoded text (control characters as QChars).
QString DecodeCaretText(const QString& text);
