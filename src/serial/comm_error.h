#pragma once
// The serial layer's error: what the port raises, and where errors raised by the components'
// event handlers end up.
#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>

// Raised by the port; carries the message text that callers write into their status line.
class EVaCommError : public std::exception {
public:
    explicit EVaCommError(const QString& message);
    const QString& Message() const { return mMessage; }
    const char* what() const noexcept override { return mUtf8.constData(); }

private:
    QString mMessage;
    QByteArray mUtf8;
};

// Where errors from event handlers end up (the application's exception handler): the owner of a
// component decides (the engines write the status line "!" + origin + ": " + text).
using TVaExceptionHandler = std::function<void(const QString& origin, const QString& text)>;
// The text of the exception in flight (EVaCommError, any std::exception, or an unknown one); call
// it inside a catch block.
QString VaExceptionText();
// Reports the exception in flight to the handler; without one it goes to standard error.
void VaReportException(const TVaExceptionHandler& handler, const QString& origin);
