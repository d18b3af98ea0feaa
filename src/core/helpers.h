#pragma once
// Small helpers shared by every part of the program.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

// The shared Boolean texts: NoYes[false] = "NO", NoYes[true] = "YES".
extern const char* const NoYes[2];

// Waits the given time while the main thread keeps handling its events (a nested event loop that
// wakes for each event, so serial deliveries are never held up).
void Delay(int ms);
// Returns as soon as `signalled` is true, or after `ms`, whichever comes first; events keep
// being handled meanwhile. The result is the last value of `signalled`.
bool WaitFor(const std::function<bool()>& signalled, int ms);

// Two upper-case hexadecimal digits of the byte sum of the text's UTF-8 bytes modulo 256.
QString Checksum(const QString& text);
QString Checksum(const QByteArray& bytes);
// True when the text is at least two characters long and its last two characters equal
// (case-sensitively) the checksum of the characters before them.
bool ChecksumOk(const QString& text);

// Cuts the text to `length`, or appends `fill` until it has that length.
QString PadRight(const QString& text, int length, QChar fill = ' ');
// The same with the fill added in front.
QString PadLeft(const QString& text, int length, QChar fill = ' ');
// First character upper case, the rest lower case.
QString Capitalize(const QString& text);
// A C0 control character or DEL: no file name or settings line can keep one as it is.
bool IsControlChar(QChar c);
bool HasControlChar(const QString& text);

// The stored form of every password: each byte (UTF-8) combined with a key byte and its position,
// written as two upper-case hexadecimal digits.
QString ScramblePassword(const QString& text);
QString UnscramblePassword(const QString& text);

// A timer's length as a test sets it through the environment (MARROWLINE_..._MS): the whole
// positive number of milliseconds the variable holds, else `fallback`.
int TimerOverrideMs(const char* variable, int fallback);

// Date-and-time text in the host's short date and long time format; the time is left out when
// it is exactly midnight.
QString DateTimeToStr(const QDateTime& value);
// Reads such a text back; an invalid QDateTime when it cannot be read.
QDateTime StrToDateTime(const QString& text);
// Days since 1899-12-30, the fraction being the time of day, and back (a value that is not a
// finite number of days within the years 100..9999 gives an invalid QDateTime).
double DateTimeToDouble(const QDateTime& value);
QDateTime DoubleToDateTime(double days);
