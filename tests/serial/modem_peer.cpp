#include "modem_peer.h"

#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ModemPeer::ModemPeer() {
    char name[128] = {};
    if (openpty(&mMaster, &mSlave, name, nullptr, nullptr) != 0) {
        mMaster = mSlave = -1;
        return;
    }
    mSlavePath = QString::fromLocal8Bit(name);
    // Raw on both sides from the start, so nothing is echoed or translated before the port under
    // test programs its own settings.
    termios tio{};
    tcgetattr(mSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(mSlave, TCSANOW, &tio);
    fcntl(mMaster, F_SETFL, fcntl(mMaster, F_GETFL) | O_NONBLOCK);
    mNotifier = std::make_unique<QSocketNotifier>(mMaster, QSocketNotifier::Read);
    QObject::connect(mNotifier.get(), &QSocketNotifier::activated, [this]() { ReadAvailable(); });
}

ModemPeer::~ModemPeer() {
    mNotifier.reset();
    if (mSlave >= 0) ::close(mSlave);
    if (mMaster >= 0) ::close(mMaster);
}

void ModemPeer::OnCommand(const QByteArray& command, const QByteArray& reply) {
    mRules.append({command, reply});
}

void ModemPeer::Send(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(mMaster, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            QTest::qWait(1);
        }
    }
}

void ModemPeer::SendPieces(const QList<QByteArray>& pieces, int gapMs) {
    for (const QByteArray& piece : pieces) {
        Send(piece);
        QTest::qWait(gapMs);
    }
}

void ModemPeer::ClearReceived() {
    mReceived.clear();
    mScanFrom = 0;
}

void ModemPeer::ReadAvailable() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(mMaster, buffer, sizeof buffer);
        if (n <= 0) break;
        mReceived.append(buffer, n);
    }
    for (bool fired = true; fired;) {
        fired = false;
        for (const Rule& rule : mRules) {
            const qsizetype at = mReceived.indexOf(rule.command, mScanFrom);
            if (at < 0) continue;
            mScanFrom = at + rule.command.size();
            Send(rule.reply);
            fired = true;
            break;
        }
    }
}
