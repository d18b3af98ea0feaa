#pragma once
// One running instance per program folder, and the hand-over by which a second start passes its
// parameters to the running one.
//
// The lock is an exclusive flock on AppDir + "marrowline.lock": the kernel drops it when the
// process ends in any way, so a lock file left behind by a killed process never blocks a start.
// The hand-over travels over a local socket whose name is derived from the application title and
// the program folder. A message is: message number, wParam (both 32-bit little-endian), the byte
// length of the text (32-bit little-endian), then the text in UTF-8.
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The hand-over message and its wParam.
constexpr quint32 HandOverMessage = 33168;
constexpr quint32 HandOverWParam = 1;
// The receiver keeps at most this many characters of a hand-over text.
constexpr int HandOverMaxChars = 499;

class TInstanceLock {
public:
    enum State { NotTried, Acquired, HeldElsewhere, Failed };

    TInstanceLock() = default;
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Takes the lock on folder + "marrowline.lock" without waiting. Acquired when this process is
    // the first instance; HeldElsewhere when another process holds it; Failed (with Error()) when
    // the lock file cannot be opened or locked.
    State Acquire(const QString& folder);
    // Gives the lock up (also done by the destructor and, at the latest, by the kernel).
    void Release();

    State Current() const { return mState; }
    // The folder of the last Acquire, as it was given.
    const QString& Folder() const { return mFolder; }
    const QString& Error() const { return mError; }
    static QString LockFileName() { return QStringLiteral("marrowline.lock"); }

private:
    int mFd = -1;
    State mState = NotTried;
    QString mFolder;
    QString mError;
};

// The local socket name of the instance that owns `folder`: short, stable, and different for
// every program folder.
QString HandOverServerName(const QString& title, const QString& folder);

// Where the socket of a server name lives (names without a '/' are placed in the temporary
// folder, as QLocalServer does).
QString HandOverSocketPath(const QString& serverName);

// The wire form of one hand-over message.
QByteArray EncodeHandOver(quint32 message, quint32 wParam, const QString& text);

// Sends one message to the instance listening on `serverName`. A running instance that has not
// started listening yet is given up to `connectMs` to do so. Returns false (and *error) when
// nobody answers, the socket is not one of this user's, or the text cannot be delivered. Does
// not wait for the message to be handled.
bool SendHandOver(const QString& serverName, const QString& text, int connectMs = 3000,
                  QString* error = nullptr, quint32 message = HandOverMessage,
                  quint32 wParam = HandOverWParam);

// The listening side. Each connection carries one message; the text is cut to 499 characters
// and anything beyond is neither buffered nor read. A connection that stays silent or incomplete
// is dropped after a time-out, so a stuck sender cannot hold resources.
class THandOverReceiver : public QObject {
    Q_OBJECT
public:
    explicit THandOverReceiver(QObject* parent = nullptr);
    ~THandOverReceiver() override;

    // Starts listening under `serverName`; a socket file left by a dead instance is removed
    // first (the caller holds the instance lock, so no live instance can own it). Only the
    // same user can connect.
    bool Listen(const QString& serverName, QString* error = nullptr);
    void Close();
    bool IsListening() const;
    // How long a connection may take to deliver its message (milliseconds).
    void SetReceiveTimeout(int ms) { mTimeoutMs = ms; }

Q_SIGNALS:
    // One complete message. `readOk` is false when the connection ended before the header and
    // the announced text (or 499 characters of it) had arrived; `text` then holds what came.
    void MessageReceived(quint32 message, quint32 wParam, const QString& text, bool readOk);

private:
    struct Pending {
        QByteArray bytes;
        bool done = false;
    };
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);
    void finish(QLocalSocket* socket, bool complete);

    QLocalServer* mServer = nullptr;
    QHash<QLocalSocket*, Pending> mPending;
    int mTimeoutMs = 5000;
};

// Cuts a text to at most `max` characters without splitting a surrogate pair.
QString CutChars(const QString& text, int max);
