#include "core/helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cmath>

const char* const NoYes[2] = {"NO", "YES"};

namespace {
// Fixed constants of the password scrambling; passwords are portable between installations that
// use the same pair.
constexpr unsigned char ScrambleKey = 0x5A;
constexpr unsigned char ScrambleStep = 0x1D;

unsigned char scrambleByte(unsigned char byte, int position) {
    return byte ^ ScrambleKey ^ static_cast<unsigned char>((position * ScrambleStep) & 0xFF);
}

const QDateTime& epoch() {
    static const QDateTime e(QDate(1899, 12, 30), QTime(0, 0), Qt::LocalTime);
    return e;
}

// The locale's long time format without the time zone that Qt adds to it.
QString longTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove('t');
    return format.trimmed();
}
} // namespace

void Delay(int ms) {
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& signalled, int ms) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    bool done = signalled();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&]() {
        done = signalled();
        if (done || clock.elapsed() >= ms) loop.quit();
    });
    if (!done && ms > 0) {
        poll.start();
        loop.exec();
    }
    return done;
}

QString Checksum(const QByteArray& bytes) {
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return QStringLiteral("%1").arg(sum & 0xFF, 2, 16, QChar('0')).toUpper();
}

QString Checksum(const QString& text) {
    return Checksum(text.toUtf8());
}

bool ChecksumOk(const QString& text) {
    if (text.size() < 2) return false;
    return text.right(2) == Checksum(text.left(text.size() - 2));
}

QString PadRight(const QString& text, int length, QChar fill) {
    length = std::max(length, 0);
    if (text.size() >= length) return text.left(length);
    return text + QString(length - text.size(), fill);
}

QString PadLeft(const QString& text, int length, QChar fill) {
    length = std::max(length, 0);
    if (text.size() >= length) return text.left(length);
    return QString(length - text.size(), fill) + text;
}

QString Capitalize(const QString& text) {
    if (text.isEmpty()) return text;
    return text.left(1).toUpper() + text.mid(1).toLower();
}

bool IsControlChar(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

bool HasControlChar(const QString& text) {
    return std::any_of(text.begin(), text.end(), IsControlChar);
}

QString ScramblePassword(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QString out;
    out.reserve(bytes.size() * 2);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char b = scrambleByte(static_cast<unsigned char>(bytes[i]), int(i + 1));
        out += QStringLiteral("%1").arg(b, 2, 16, QChar('0')).toUpper();
    }
    return out;
}

QString UnscramblePassword(const QString& text) {
    QByteArray bytes;
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        bool ok = false;
        const unsigned value = text.mid(i, 2).toUInt(&ok, 16);
        const unsigned char b = ok ? static_cast<unsigned char>(value) : 0;
        bytes += static_cast<char>(scrambleByte(b, int(i / 2 + 1)));
    }
    return QString::fromUtf8(bytes);
}

int TimerOverrideMs(const char* variable, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariable(variable).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

QString DateTimeToStr(const QDateTime& value) {
    const QLocale locale = QLocale::system();
    QString text = locale.toString(value.date(), QLocale::ShortFormat);
    if (value.time() != QTime(0, 0)) text += ' ' + locale.toString(value.time(), longTimeFormat());
    return text;
}

QDateTime StrToDateTime(const QString& text) {
    const QLocale locale = QLocale::system();
    const QString t = text.trimmed();
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    QDateTime result = locale.toDateTime(t, dateFormat + ' ' + longTimeFormat());
    if (!result.isValid()) {
        const QDate date = locale.toDate(t, dateFormat);
        if (date.isValid()) result = QDateTime(date, QTime(0, 0));
    }
    if (!result.isValid()) return result;
    // A two-digit year reads as 19xx; texts are written by this program, so take the century
    // that puts the date nearest to now.
    if (!dateFormat.contains("yyyy") && result.date().year() < 1950) result = result.addYears(100);
    return result;
}

// Before 1899-12-30 the whole part counts days backwards while the fraction still adds the time
// of day: -1.25 is 1899-12-29 06:00.
double DateTimeToDouble(const QDateTime& value) {
    const qint64 days = epoch().date().daysTo(value.date());
    const double fraction = value.time().msecsSinceStartOfDay() / 86400000.0;
    return days < 0 ? double(days) - fraction : double(days) + fraction;
}

QDateTime DoubleToDateTime(double days) {
    // Values come from files: anything that is not a date between the years 100 and 9999 gives
    // an invalid result instead of an out-of-range conversion.
    if (!std::isfinite(days) || days < -657434.0 || days >= 2958466.0) return QDateTime();
    const double whole = std::trunc(days);
    const double fraction = std::fabs(days - whole);
    const QDate date = epoch().date().addDays(qint64(whole));
    const int msecs = int(std::llround(fraction * 86400000.0));
    return QDateTime(date, QTime(0, 0).addMSecs(std::min(msecs, 86399999)));
}
