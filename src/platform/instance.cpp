#include "platform/instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A 32-bit little-endian number at a byte offset; the caller has checked the length.
quint32 readLittleEndian32(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}
constexpr int HeaderSize = 12;
// 499 characters take at most 1497 bytes of UTF-8 (three per character, four per surrogate
// pair); with a few more every text is long enough to yield its first 499 characters.
constexpr int MaxTextBytes = HandOverMaxChars * 3 + 3;

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

QString CutChars(const QString& text, int max) {
    if (text.size() <= max) return text;
    qsizetype cut = max;
    if (cut > 0 && text[cut - 1].isHighSurrogate()) --cut;
    return text.left(cut);
}

// ---- TInstanceLock ----

TInstanceLock::~TInstanceLock() {
    Release();
}

TInstanceLock::State TInstanceLock::Acquire(const QString& folder) {
    Release();
    mFolder = folder;
    QString path = folder;
    if (!path.endsWith('/')) path += '/';
    path += LockFileName();
    mFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (mFd < 0) {
        mError = path + ": " + errnoText(errno);
        return mState = Failed;
    }
    int rc;
    do {
        rc = ::flock(mFd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        mError.clear();
        return mState = Acquired;
    }
    const int error = errno;
    ::close(mFd);
    mFd = -1;
    if (error == EWOULDBLOCK) {
        mError.clear();
        return mState = HeldElsewhere;
    }
    mError = path + ": " + errnoText(error);
    return mState = Failed;
}

void TInstanceLock::Release() {
    if (mFd >= 0) {
        // Closing the last descriptor drops the flock; the file itself stays, harmlessly.
        ::close(mFd);
        mFd = -1;
    }
    mState = NotTried;
}

// ---- names and wire form ----

QString HandOverServerName(const QString& title, const QString& folder) {
    QString normal = folder;
    if (!normal.endsWith('/')) normal += '/';
    const QByteArray hash =
        QCryptographicHash::hash((title + QChar(0) + normal).toUtf8(), QCryptographicHash::Sha256);
    return title.toLower() + '-' + QString::fromLatin1(hash.toHex().left(16));
}

QByteArray EncodeHandOver(quint32 message, quint32 wParam, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out(HeaderSize, '\0');
    qToLittleEndian<quint32>(message, out.data());
    qToLittleEndian<quint32>(wParam, out.data() + 4);
    qToLittleEndian<quint32>(quint32(utf8.size()), out.data() + 8);
    return out + utf8;
}

QString HandOverSocketPath(const QString& serverName) {
    return serverName.startsWith('/') ? serverName : QDir::tempPath() + '/' + serverName;
}

bool SendHandOver(const QString& serverName, const QString& text, int connectMs, QString* error,
                  quint32 message, quint32 wParam) {
    QLocalSocket socket;
    QDeadlineTimer deadline(connectMs);
    for (;;) {
        // The folder is shared by all users: parameters (passwords among them) go only to a
        // socket of this user's own.
        struct stat info = {};
        const QByteArray path = QFile::encodeName(HandOverSocketPath(serverName));
        if (::lstat(path.constData(), &info) == 0 &&
            (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid())) {
            if (error) *error = QString::fromLocal8Bit(path) + ": not a socket of this user";
            return false;
        }
        socket.connectToServer(serverName);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) break;
        const auto failure = socket.error();
        socket.abort();
        // A starting instance may hold the lock a moment before it listens.
        const bool mayAppear = failure == QLocalSocket::ServerNotFoundError ||
                               failure == QLocalSocket::ConnectionRefusedError;
        if (!mayAppear || deadline.hasExpired()) {
            if (error) *error = socket.errorString();
            return false;
        }
        QThread::msleep(50);
    }
    socket.write(EncodeHandOver(message, wParam, text));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(qMax<qint64>(1000, deadline.remainingTime())))) {
            if (error) *error = socket.errorString();
            return false;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
    return true;
}

// ---- THandOverReceiver ----

THandOverReceiver::THandOverReceiver(QObject* parent) : QObject(parent) {}

THandOverReceiver::~THandOverReceiver() {
    Close();
}

bool THandOverReceiver::Listen(const QString& serverName, QString* error) {
    Close();
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(serverName);
    if (!mServer->listen(serverName)) {
        if (error) *error = mServer->errorString();
        delete mServer;
        mServer = nullptr;
        return false;
    }
    connect(mServer, &QLocalServer::newConnection, this, &THandOverReceiver::onNewConnection);
    return true;
}

void THandOverReceiver::Close() {
    const auto sockets = mPending.keys();
    mPending.clear();
    for (QLocalSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    if (mServer) {
        mServer->close();
        delete mServer;
        mServer = nullptr;
    }
}

bool THandOverReceiver::IsListening() const {
    return mServer && mServer->isListening();
}

void THandOverReceiver::onNewConnection() {
    while (QLocalSocket* socket = mServer ? mServer->nextPendingConnection() : nullptr) {
        mPending.insert(socket, Pending{});
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket]() {
            onReadyRead(socket);
            finish(socket, false);
        });
        QTimer::singleShot(mTimeoutMs, socket, [this, socket]() { finish(socket, false); });
        onReadyRead(socket);
    }
}

void THandOverReceiver::onReadyRead(QLocalSocket* socket) {
    auto it = mPending.find(socket);
    if (it == mPending.end()) return;
    if (it->done) {
        // The message is handled; the rest of a long text is read and dropped so the sender can
        // finish writing and hang up.
        socket->readAll();
        return;
    }
    const qsizetype want = HeaderSize + MaxTextBytes - it->bytes.size();
    if (want > 0) it->bytes += socket->read(want);
    if (it->bytes.size() < HeaderSize) return;
    const quint32 length = readLittleEndian32(it->bytes, 8);
    const qsizetype needed = HeaderSize + qMin<qsizetype>(qsizetype(length), MaxTextBytes);
    if (it->bytes.size() >= needed) finish(socket, true);
}

void THandOverReceiver::finish(QLocalSocket* socket, bool complete) {
    auto it = mPending.find(socket);
    if (it == mPending.end()) return;
    if (!it->done) {
        it->done = true;
        const QByteArray bytes = it->bytes;
        quint32 message = 0, wParam = 0, length = 0;
        bool readOk = complete;
        QString text;
        if (bytes.size() >= HeaderSize) {
            message = readLittleEndian32(bytes, 0);
            wParam = readLittleEndian32(bytes, 4);
            length = readLittleEndian32(bytes, 8);
            const QByteArray body =
                bytes.mid(HeaderSize, qMin<qsizetype>(qsizetype(length), MaxTextBytes));
            text = CutChars(QString::fromUtf8(body), HandOverMaxChars);
        } else {
            readOk = false;
        }
        // The message is handled from the event loop, not from inside the socket's signal: its
        // handler may run a nested event loop, in which the socket can hang up and be deleted,
        // and the socket's own code must not be on the stack then.
        QMetaObject::invokeMethod(
            this,
            [this, message, wParam, text, readOk]() {
                Q_EMIT MessageReceived(message, wParam, text, readOk);
            },
            Qt::QueuedConnection);
        if (complete && socket->state() == QLocalSocket::ConnectedState) {
            socket->readAll();
            return; // wait for the sender to hang up (or the time-out)
        }
    }
    mPending.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
