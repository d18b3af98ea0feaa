#pragma once
// Shared by the fuzz targets: one Qt application object, a private program folder for targets
// that write files, and a check that stops the run with a message (libFuzzer then keeps the
// input that broke it).
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <functional>

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n  %s\n", #condition, __FILE__,    \
                         __LINE__, qPrintable(QString(detail)));                                   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

inline QByteArray Bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The application object every target shares (event loop, sockets, timers).
inline QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "marrowline-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance()
                                       ? static_cast<QCoreApplication*>(QCoreApplication::instance())
                                       : new QCoreApplication(argc, argv);
    return *app;
}

// A program folder of the target's own, made once per process and pointed at by
// MARROWLINE_HOME and the XDG folders, so nothing the code under test writes lands elsewhere.
inline QString Home() {
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir(QDir::tempPath() + "/marrowline-fuzz-XXXXXX");
        const QByteArray path = QFile::encodeName(d->path());
        qputenv("MARROWLINE_HOME", path);
        qputenv("XDG_CONFIG_HOME", path + "/.xdg");
        qputenv("XDG_DATA_HOME", path + "/.xdg");
        return d;
    }();
    return dir->path() + '/';
}

// Empties a folder (made when missing).
inline void Reset(const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// Processes events until `done` or `ms` have passed.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Deterministic cut points for feeding a stream in pieces: sizes 1..max from a small generator.
class Pieces {
public:
    Pieces(quint32 seed, int max) : mState(seed | 1u), mMax(max < 1 ? 1 : max) {}
    int Next() {
        mState = mState * 1103515245u + 12345u;
        return int((mState >> 16) % quint32(mMax)) + 1;
    }

private:
    quint32 mState;
    int mMax;
};

} // namespace fuzz
