#include "serial/comm_error.h"

#include <cstdio>

EVaCommError::EVaCommError(const QString& message) : mMessage(message), mUtf8(message.toUtf8()) {}

QString VaExceptionText() {
    try {
        throw;
    } catch (const EVaCommError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void VaReportException(const TVaExceptionHandler& handler, const QString& origin) {
    const QString text = VaExceptionText();
    if (handler)
        handler(origin, text);
    else
        std::fprintf(stderr, "!%s: %s\n", qPrintable(origin), qPrintable(text));
}
