#pragma once
// A scripted modem for tests: the master side of a real pseudo-terminal. The program under test
// opens the slave side as its serial device; the peer records every byte it receives and answers
// commands by script.
#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <memory>

class ModemPeer {
public:
    ModemPeer();
    ~ModemPeer();
    ModemPeer(const ModemPeer&) = delete;
    ModemPeer& operator=(const ModemPeer&) = delete;

    bool IsValid() const { return mMaster >= 0; }
    // The slave device path ("/dev/pts/N").
    QString SlavePath() const { return mSlavePath; }

    // When the received bytes (since the last rule fired) contain `command`, `reply` is sent and
    // the bytes up to the end of the command are consumed. Rules are checked in order.
    void OnCommand(const QByteArray& command, const QByteArray& reply);
    void ClearRules() { mRules.clear(); }

    // Sends bytes to the program under test; each piece is written separately, `gapMs` apart
    // (events keep being processed), so that replies arrive split across reads.
    void Send(const QByteArray& bytes);
    void SendPieces(const QList<QByteArray>& pieces, int gapMs);

    // Every byte received so far.
    const QByteArray& Received() const { return mReceived; }
    void ClearReceived();

private:
    void ReadAvailable();
    struct Rule {
        QByteArray command;
        QByteArray reply;
    };

    int mMaster = -1;
    int mSlave = -1; // kept open so the master never reads end-of-file between openers
    QString mSlavePath;
    std::unique_ptr<QSocketNotifier> mNotifier;
    QByteArray mReceived;
    qsizetype mScanFrom = 0;
    QList<Rule> mRules;
};
