// The server with XMODEM peers that someone else wrote (lrzsz's sx and rx) on the client's end
// of the cable, the command lines written by the test: a receiver that sends its start
// character once, right after "YES", is served at once; names that a Windows peer sends in
// Windows-1252 are understood and stored under their UTF-8 form.
#include "e2e_harness.h"

#include "engine/link_protocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

using namespace e2e;

namespace {
bool haveLrzsz() {
    return !QStandardPaths::findExecutable("sx").isEmpty() &&
           !QStandardPaths::findExecutable("rx").isEmpty();
}

// An lrzsz program with its standard input and output on the peer's end of the cable.
void startLrzsz(QProcess& process, const QString& program, const QStringList& args,
                const QString& device, const QString& folder) {
    process.setProgram(program);
    process.setArguments(args);
    process.setWorkingDirectory(folder);
    process.setStandardInputFile(device);
    process.setStandardOutputFile(device, QIODevice::Append);
    process.setStandardErrorFile(folder + "/" + program + ".log", QIODevice::Append);
    process.start();
}

// The data followed by XMODEM padding only (NUL from us, ^Z from lrzsz), less than a block.
bool samePadded(const QByteArray& sent, const QByteArray& received) {
    if (!received.startsWith(sent) || received.size() - sent.size() >= 1024) return false;
    for (qsizetype i = sent.size(); i < received.size(); ++i)
        if (received[i] != '\0' && received[i] != '\x1a') return false;
    return true;
}

// A server on COM2 with user ALICE; the peer's end of the cable is "peer/COM1" under the root.
struct Server {
    QTemporaryDir root;
    Home home{root.path(), "server"};
    std::unique_ptr<LineSim> cable;
    std::unique_ptr<Program> program;
    QString peerEnd() const { return root.path() + "/peer/COM1"; }
    QString peerFolder() const { return root.path() + "/peer/"; }
    bool start() {
        home.makeServer({2});
        home.addUser("ALICE", "secret");
        cable = std::make_unique<LineSim>("cable", QStringList{}, peerEnd(), home.portLink(2),
                                          root.path() + "/linesim.log");
        if (!cable->ready()) return false;
        program = std::make_unique<Program>(home);
        return program->waitFor("Listening for command...", 15000);
    }
};

// The commands of the designed exchange.
bool designedCommand(const QString& text) {
    for (const char* keyword : {"LOGON ", "GET ", "CHKCRC ", "PUT ", "DIR", "RESULT", "LOGOFF"})
        if (text.startsWith(QLatin1String(keyword))) return true;
    return false;
}
} // namespace

class E2EPeersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A peer that speaks only the designed exchange, written apart from Marrowline (a script
    // over python3-xmodem), on the other end of a paced cable: files go both ways, whole, and
    // the peer sees only the designed commands and replies.
    void plainPeer_data() {
        QTest::addColumn<bool>("plainServer");
        QTest::newRow("plain server") << true;
        QTest::newRow("plain client") << false;
    }
    void plainPeer() {
        QFETCH(bool, plainServer);
        if (!PlainPeer::available()) QSKIP("python3-xmodem is not installed");
        QTemporaryDir root;
        const QString peerEnd = root.path() + "/peer/COM9";
        const QString peer = root.path() + "/peer/";
        const QByteArray up = RandomBytes(40 * 1024 + 300, 81), down = RandomBytes(9000, 82);
        QVERIFY(WriteAll(peer + (plainServer ? "outbox/down.bin" : "up.bin"),
                         plainServer ? down : up));
        QVERIFY(QDir().mkpath(peer + "inbox"));
        Home home(root.path(), plainServer ? "client" : "server");
        if (plainServer) {
            home.makeClient(1);
            QVERIFY(home.put("OUTBOX/up.bin", up));
        } else {
            home.makeServer({1});
            home.addUser("ALICE", "secret");
            QVERIFY(home.put("OUTBOX/down.bin", down));
        }
        LineSim cable("cable", {"--baud", "115200"}, home.portLink(1), peerEnd,
                      root.path() + "/linesim.log");
        QVERIFY(cable.ready());
        std::unique_ptr<PlainPeer> plain;
        if (plainServer)
            plain = std::make_unique<PlainPeer>(
                "server", peerEnd, peer,
                QStringList{"--users", "ALICE:secret", "--inbox", peer + "inbox", "--outbox",
                            peer + "outbox"});
        Program program(home);
        QVERIFY(program.waitFor(plainServer ? "Application started." : "Listening for command...",
                                15000));
        if (plainServer) {
            RunOnce(home, {home.outbox() + "up.bin", "ALICE", "secret", "0"});
            E2E_VERIFY(home.waitLog("client.log", 2, Scaled(60000)),
                       program.output() + plain->log());
        } else {
            RunOnce(home, {home.outbox() + "down.bin", "ALICE"});
            QVERIFY(program.waitFor("File queued: down.bin", 10000));
            plain = std::make_unique<PlainPeer>(
                "client", peerEnd, peer,
                QStringList{"--user", "ALICE", "--password", "secret", "--put", peer + "up.bin",
                            "--inbox", peer + "inbox"});
            E2E_VERIFY(plain->waitEnd(Scaled(60000)) && plain->exitCode() == 0,
                       program.output() + plain->log());
        }
        const QString upAt = plainServer ? peer + "inbox/up.bin" : home.inbox() + "up.bin";
        const QString downAt = plainServer ? home.inbox() + "down.bin" : peer + "inbox/down.bin";
        E2E_VERIFY(WaitUntil([&] { return ReadAll(upAt) == up && ReadAll(downAt) == down; },
                             10000),
                   program.output() + plain->log());
        // What the plain peer saw: the designed commands, or the designed replies, only.
        // Our client asks once, after its log-on, which features the server offers; a plain
        // server ignores the question, and nothing else changes.
        QStringList unknown;
        for (const QString& text : plain->events("RX"))
            if (plainServer ? !designedCommand(text) && text != "XFEATURES"
                            : !QStringList({"YES", "NO", "OK", "FAIL"}).contains(text))
                unknown << text;
        QVERIFY2(unknown.isEmpty(), qPrintable(unknown.join(" | ")));
        QVERIFY2(plain->events("STRAY").isEmpty(), qPrintable(plain->log()));
        QCOMPARE(plain->events("IGNORED"),
                 plainServer ? QStringList{"XFEATURES"} : QStringList{});
        if (plainServer) QCOMPARE(plain->events("RX").value(1), QString("XFEATURES"));
        const QList<double> rx = plain->times("RX");
        qInfo("%s: %d lines from Marrowline, session %.2f s", plainServer ? "client" : "server",
              int(rx.size()), rx.isEmpty() ? 0.0 : rx.last() - rx.first());
    }


    // rx sends 'C' once and repeats it only after 10 s: the transfer must start on the first.
    void promptReceiver_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("GET") << "GET \"small.bin\"";
        QTest::newRow("DIR") << "DIR";
    }
    void promptReceiver() {
        QFETCH(QString, command);
        if (!haveLrzsz()) QSKIP("lrzsz (sx, rx) is not installed");
        Server server;
        const QByteArray data = RandomBytes(3000, 5);
        QVERIFY(server.home.put("OUTBOX/small.bin", data));
        E2E_VERIFY(server.start(), server.program ? server.program->output() : QString());
        RunOnce(server.home, {server.home.outbox() + "small.bin", "ALICE"});
        QVERIFY(server.program->waitFor("File queued: small.bin", 10000));
        QVERIFY(QDir().mkpath(server.peerFolder()));

        LineEnd peer(server.peerEnd());
        QVERIFY(peer.send("LOGON ALICE secret"));
        QCOMPARE(peer.reply(5000), QString("YES"));
        QVERIFY(peer.send(command));
        E2E_VERIFY(peer.reply(5000) == "YES", server.program->output());
        QElapsedTimer clock;
        clock.start();
        const QString name = command == "DIR" ? "DIR.LST" : "small.bin";
        QProcess rx;
        startLrzsz(rx, "rx", {"-c", "-t", "100", name}, server.peerEnd(), server.peerFolder());
        QVERIFY(rx.waitForFinished(30000));
        const qint64 ms = clock.elapsed();
        qInfo("%s to rx: rx ended %lld ms after YES", qPrintable(command), ms);
        QCOMPARE(rx.exitCode(), 0);
        const QByteArray got = ReadAll(server.peerFolder() + name);
        if (command == "DIR") {
            QList<TDirEntry> entries;
            QVERIFY(ParseDirList(got, &entries));
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries[0].name, QString("small.bin"));
        } else {
            QVERIFY(samePadded(data, got));
        }
        // rx confirms the end of file by a second of silence before it answers and exits, so
        // a prompt start ends a little over a second after the YES; a lost start character
        // would cost rx's 10 s repeat on top.
        QVERIFY2(ms < Scaled(3000), qPrintable(QString::number(ms)));
    }

    // A Windows peer's names in Windows-1252: "café.txt" sent as the byte E9, taken as é.
    void windowsNames() {
        if (!haveLrzsz()) QSKIP("lrzsz (sx, rx) is not installed");
        Server server;
        const QByteArray down = RandomBytes(2000, 6), up = RandomBytes(1500, 7);
        const QString ete = QString::fromUtf8("\u00e9t\u00e9.bin");
        QVERIFY(server.home.put("OUTBOX/" + ete, down));
        E2E_VERIFY(server.start(), server.program ? server.program->output() : QString());
        RunOnce(server.home, {server.home.outbox() + ete, "ALICE"});
        QVERIFY(server.program->waitFor("File queued: ", 10000));
        QVERIFY(QDir().mkpath(server.peerFolder()));
        QVERIFY(WriteAll(server.peerFolder() + "up.bin", up));

        LineEnd peer(server.peerEnd());
        QVERIFY(peer.send("LOGON ALICE secret"));
        QCOMPARE(peer.reply(5000), QString("YES"));

        // Sent in Windows-1252 bytes: stored as "café.txt".
        QVERIFY(peer.write(FrameBytes("PUT \"caf\xE9.txt\" 1500")));
        E2E_VERIFY(peer.reply(5000) == "YES", server.program->output());
        QProcess sx;
        startLrzsz(sx, "sx", {"-k", "up.bin"}, server.peerEnd(), server.peerFolder());
        QVERIFY(sx.waitForFinished(30000));
        const QString stored = server.home.inbox() + QString::fromUtf8("caf\u00e9.txt");
        E2E_VERIFY(WaitUntil([&] { return QFileInfo::exists(stored); }, 10000),
                   server.program->output() + Home::tree(server.home.inbox()).join(", "));
        QCOMPARE(ReadAll(stored), up);
        QCOMPARE(Home::tree(server.home.inbox()), QStringList{QString::fromUtf8("caf\u00e9.txt")});

        // The list names the file as it is stored, in UTF-8 (the buffered form shows the names
        // without a transfer).
        QVERIFY(peer.send("DIR /B"));
        QCOMPARE(peer.reply(5000), "\"" + ete + "\"");
        QCOMPARE(peer.reply(5000), QString(""));

        // Asked for in Windows-1252 bytes. (Last: rx may swallow its own final ACK as it
        // exits, and the server then waits for it.)
        QVERIFY(peer.write(FrameBytes("GET \"\xE9t\xE9.bin\"")));
        E2E_VERIFY(peer.reply(5000) == "YES", server.program->output());
        QProcess rx;
        startLrzsz(rx, "rx", {"-c", "ete.bin"}, server.peerEnd(), server.peerFolder());
        QVERIFY(rx.waitForFinished(30000));
        QCOMPARE(rx.exitCode(), 0);
        QVERIFY(samePadded(down, ReadAll(server.peerFolder() + "ete.bin")));
    }
};

QTEST_GUILESS_MAIN(E2EPeersTest)
#include "peers_test.moc"
