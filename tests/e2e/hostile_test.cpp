// A hostile or broken client on the line: names that cannot be stored, over-long lines, garbage,
// NULs, a megabyte without CR, commands before the log-on, sizes that are no sizes, more or fewer
// bytes than announced, hundreds of reconnects. After each, the next honest client is answered,
// every bad request gets an answer (never silence), and nothing appears outside the user's inbox.
#include "e2e_harness.h"

#include "engine/link_protocol.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace e2e;

namespace {
struct Server {
    QTemporaryDir root;
    Home home{root.path(), "server"};
    std::unique_ptr<LineSim> cable;
    std::unique_ptr<Program> program;
    QString peerEnd() const { return root.path() + "/peer/COM1"; }
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

// An honest client's log-on and "DIR" (nothing queued: "NO").
bool honest(LineEnd& peer, QString* why) {
    peer.pending();
    if (!peer.send("LOGON ALICE secret")) return *why = "write", false;
    const QString logon = peer.reply(5000);
    if (logon != "YES") return *why = "LOGON answered " + logon, false;
    if (!peer.send("DIR")) return *why = "write", false;
    const QString dir = peer.reply(5000);
    if (dir != "NO") return *why = "DIR answered " + dir, false;
    return true;
}

// Every file under the server's home except its own program files and the user's inbox.
QStringList strayFiles(const Home& home) {
    QStringList out;
    for (const QString& file : Home::tree(home.path())) {
        if (file.startsWith("INBOX/") || file.startsWith("OUTBOX/") || file.startsWith("USERS/") ||
            file.startsWith("ports/") || file.startsWith(".xdg") || file.startsWith("QUEUE/"))
            continue;
        if (QStringList{"marrowline.ini", "marrowline.lock", "stdout.txt", "stderr.txt",
                        "sessions.log", "server.log"}
                .contains(file))
            continue;
        out << file;
    }
    return out;
}
} // namespace

class E2EHostileTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<Server> server;
    std::unique_ptr<LineEnd> peer;

private Q_SLOTS:
    void initTestCase() {
        server = std::make_unique<Server>();
        E2E_VERIFY(server->start(), server->program ? server->program->output() : QString());
        peer = std::make_unique<LineEnd>(server->peerEnd());
        QVERIFY(peer->isOpen());
        QString why;
        QVERIFY2(honest(*peer, &why), qPrintable(why));
    }
    void cleanupTestCase() {
        peer.reset();
        if (server) {
            QVERIFY(server->program->running());
            QVERIFY(server->program->stop());
            const QStringList stray = strayFiles(server->home);
            QVERIFY2(stray.isEmpty(), qPrintable(stray.join(", ")));
            // Only what the honest transfers put there.
            QCOMPARE(Home::tree(server->home.inbox()), QStringList{"more.bin"});
        }
        server.reset();
    }

    // Requests that name something that cannot be stored or found: answered "NO", at once.
    void refusedNames_data() {
        QTest::addColumn<QByteArray>("command");
        const QByteArray longName(5000, 'n');
        QTest::newRow("NUL in a name") << QByteArray("PUT \"a\0b.txt\" 3", 15);
        QTest::newRow("control character") << QByteArray("PUT \"a\x07" "b.txt\" 3");
        QTest::newRow("300-character name") << "PUT \"" + QByteArray(300, 'x') + "\" 3";
        QTest::newRow("5,000-character name") << "PUT \"" + longName + "\" 3";
        QTest::newRow("6,000-character path") << "PUT \"" + QByteArray("DIR\\").repeated(1500) +
                                                     "a.txt\" 3";
        QTest::newRow("a temporary name") << QByteArray("PUT \".a.txt.mrl-1-1.part\" 3");
        QTest::newRow("parent folder") << QByteArray("PUT \"..\\..\\etc\\passwd\" 3");
        QTest::newRow("negative size") << QByteArray("PUT \"a.bin\" -5");
        QTest::newRow("huge size") << QByteArray("PUT \"a.bin\" 99999999999999999999999");
        QTest::newRow("size not a number") << QByteArray("PUT \"a.bin\" 12abc");
        QTest::newRow("GET /G 5,000 characters") << "GET /G \"" + longName + "\"";
        QTest::newRow("GET of another folder") << QByteArray("GET \"..\\server.log\"");
        QTest::newRow("LOGON 10 KB name") << "LOGON " + QByteArray(10240, 'u') + " secret";
        QTest::newRow("LOGON 10 KB password") << "LOGON ALICE " + QByteArray(10240, 'p');
    }
    void refusedNames() {
        QFETCH(QByteArray, command);
        QString why;
        QVERIFY2(honest(*peer, &why), qPrintable(why));
        QVERIFY(peer->write(FrameBytes(command)));
        E2E_VERIFY(peer->reply(5000) == "NO", server->program->output().right(3000));
        QVERIFY2(honest(*peer, &why), qPrintable(why));
        QVERIFY(Home::tree(server->home.inbox()).isEmpty() ||
                Home::tree(server->home.inbox()) == QStringList{"more.bin"});
    }

    // Bytes that are no commands at all; the server stays silent, then answers the next client.
    void noise_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << RandomBytes(4000, 3);
        QTest::newRow("NULs") << QByteArray(4000, '\0');
        QTest::newRow("1 MB without CR") << QByteArray(1 << 20, 'G');
        QTest::newRow("commands before the log-on")
            << FrameLine("RESULT") + FrameLine("DIR") + FrameLine("GET \"a.bin\"") +
                   FrameLine("PUT \"a.bin\" 3");
        QTest::newRow("wrong checksums") << QByteArray("\rLOGON ALICE secret00\r\rDIRFF\r");
    }
    void noise() {
        QFETCH(QByteArray, bytes);
        // A fresh line: no session open.
        const int listening = server->program->count("Listening for command...");
        QVERIFY(peer->send("LOGOFF"));
        QVERIFY(server->program->waitFor("Listening for command...", 5000, listening + 1));
        QVERIFY(peer->write(bytes));
        QVERIFY(peer->reply(1500).isNull()); // nothing was a command
        QString why;
        QVERIFY2(honest(*peer, &why), qPrintable(why));
    }

    // More bytes than announced: the file is cut to its size. Fewer: the transfer fails and
    // nothing is kept.
    void wrongLengths() {
        if (QStandardPaths::findExecutable("sx").isEmpty()) QSKIP("lrzsz is not installed");
        const QString folder = server->root.path() + "/peer/";
        const QByteArray data = RandomBytes(3000, 9);
        QVERIFY(WriteAll(folder + "data.bin", data));
        for (const auto& [name, announced] : {std::pair{QString("more.bin"), 1000},
                                              std::pair{QString("fewer.bin"), 9000}}) {
            QString why;
            QVERIFY2(honest(*peer, &why), qPrintable(why));
            QVERIFY(peer->send(QString("PUT \"%1\" %2").arg(name).arg(announced)));
            QCOMPARE(peer->reply(5000), QString("YES"));
            const QString outcome = announced < data.size() ? "Transfer done." : "Transfer failed: ";
            const int before = server->program->count(outcome);
            QProcess sx;
            sx.setWorkingDirectory(folder);
            sx.setStandardInputFile(server->peerEnd());
            sx.setStandardOutputFile(server->peerEnd(), QIODevice::Append);
            sx.setStandardErrorFile(QProcess::nullDevice());
            sx.start("sx", {"-k", "data.bin"});
            QVERIFY(sx.waitForFinished(30000));
            E2E_VERIFY(server->program->waitFor(outcome, 10000, before + 1),
                       server->program->output().right(3000));
            QVERIFY(peer->send("RESULT"));
            QCOMPARE(peer->reply(5000), QString(announced < data.size() ? "OK" : "FAIL"));
        }
        QCOMPARE(ReadAll(server->home.inbox() + "more.bin"), data.left(1000));
        QCOMPARE(Home::tree(server->home.inbox()), QStringList{"more.bin"});
    }

    // The line opened and closed again and again, sometimes in the middle of a command.
    void reconnects() {
        for (int i = 0; i < 300; ++i) {
            LineEnd again(server->peerEnd());
            QVERIFY(again.isOpen());
            if (i % 3 == 0) again.write(FrameLine("LOGON ALICE secret").left(i % 11));
            if (i % 7 == 0) again.send("DIR");
        }
        // Answers to the commands above may still be on their way: they are not the next
        // client's.
        QTest::qWait(1000);
        peer->pending();
        QString why;
        QVERIFY2(honest(*peer, &why), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(E2EHostileTest)
#include "hostile_test.moc"
