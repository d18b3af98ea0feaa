// The instance lock and the hand-over socket, first inside this process, then with real
// marrowline processes (MARROWLINE_BIN) sharing one program folder: also how a start finds its
// program folder, what it does when its display cannot be reached, and the switches that only
// print.
#include "core/helpers.h"
#include "core/inifile.h"
#include "common/test_home.h"
#include "platform/appdir.h"
#include "platform/instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {
struct Received {
    quint32 message = 0, wParam = 0;
    QString text;
    bool readOk = false;
};

Received takeMessage(QSignalSpy& spy, int ms = 10000) {
    if (spy.isEmpty() && !spy.wait(ms)) return {};
    const QList<QVariant> args = spy.takeFirst();
    return {args[0].value<quint32>(), args[1].value<quint32>(), args[2].toString(),
            args[3].toBool()};
}

// Sends from another thread, as a second process would; the receiver needs this thread's loop.
bool sendFromThread(const QString& name, const QString& text, int connectMs = 3000) {
    std::atomic<bool> done{false}, ok{false};
    std::thread sender([&]() {
        ok = SendHandOver(name, text, connectMs);
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    sender.join();
    return ok;
}

// A raw client that writes the given bytes and hangs up (or stays silent when keepOpen).
void rawClient(const QString& name, const QByteArray& bytes, bool keepOpen, int holdMs = 0) {
    std::thread client([&]() {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(5000)) return;
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
        if (keepOpen) QThread::msleep(holdMs);
        socket.disconnectFromServer();
    });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < holdMs + 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    client.join();
}

QByteArray header(quint32 message, quint32 wParam, quint32 length) {
    QByteArray out(12, '\0');
    qToLittleEndian<quint32>(message, out.data());
    qToLittleEndian<quint32>(wParam, out.data() + 4);
    qToLittleEndian<quint32>(length, out.data() + 8);
    return out;
}

// One marrowline process with its output collected. Headless, unless `extra` names a display;
// `extra` is added to its environment.
class Program {
public:
    Program(const QString& home, const QStringList& args,
            const QMap<QString, QString>& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MARROWLINE_HOME", home);
        env.insert("XDG_CONFIG_HOME", home + ".xdg-config");
        env.insert("XDG_DATA_HOME", home + ".xdg-data");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        for (auto it = extra.begin(); it != extra.end(); ++it) env.insert(it.key(), it.value());
        mProcess.setProcessEnvironment(env);
        mProcess.setProcessChannelMode(QProcess::SeparateChannels);
        // A relative file the program writes (a results file) lands in the test's home.
        mProcess.setWorkingDirectory(QFileInfo(home).isDir() ? home : QDir::tempPath());
        // A test started in the background may have SIGINT ignored; the program keeps what it
        // inherits, so give it the default dispositions.
        mProcess.setChildProcessModifier([]() {
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGHUP, SIG_DFL);
        });
        mProcess.start(QString::fromLocal8Bit(qgetenv("MARROWLINE_BIN")), args);
    }
    ~Program() {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.kill();
            mProcess.waitForFinished(5000);
        }
    }
    QString output() {
        mOut += QString::fromUtf8(mProcess.readAllStandardOutput());
        return mOut;
    }
    QString errors() {
        mErr += QString::fromUtf8(mProcess.readAllStandardError());
        return mErr;
    }
    // Waits until the output holds the text.
    bool waitFor(const QString& text, int ms = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!output().contains(text)) {
            if (clock.elapsed() > ms || mProcess.state() == QProcess::NotRunning) return false;
            mProcess.waitForReadyRead(100);
        }
        return true;
    }
    bool finished(int ms = 20000) { return mProcess.waitForFinished(ms); }
    int exitCode() const { return mProcess.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return mProcess.exitStatus(); }
    QProcess& process() { return mProcess; }

private:
    QProcess mProcess;
    QString mOut, mErr;
};
} // namespace

class TestInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void lockIsExclusive();
    void lockFailsWithoutFolder();
    void serverNameIsStableAndPerFolder();
    void handOverDelivers_data();
    void handOverDelivers();
    void brokenSendersAreSurvived();
    void handlerWaitsWhileSenderHangsUp();
    void staleSocketFileIsReplaced();
    void nobodyListening();
    void twoProcesses();
    void killedInstanceDoesNotBlock();
    void lockHeldButNobodyAnswers();
    void roleArrivesByHandOver();
    void unreachableDisplay_data();
    void unreachableDisplay();
    void infoSwitches_data();
    void infoSwitches();
    void programFolder_data();
    void programFolder();

private:
    void writeClientSettings(const TestHome& home);
};

void TestInstance::initTestCase() {
    QVERIFY2(QFileInfo(QString::fromLocal8Bit(qgetenv("MARROWLINE_BIN"))).isExecutable(),
             "MARROWLINE_BIN must name the built program");
}

void TestInstance::writeClientSettings(const TestHome& home) {
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=1\n"));
}

void TestInstance::lockIsExclusive() {
    TestHome home;
    // A lock file left behind is no lock.
    QVERIFY(WriteFile(home.file("marrowline.lock"), "stale"));
    TInstanceLock first, second;
    QCOMPARE(first.Acquire(home.path()), TInstanceLock::Acquired);
    QCOMPARE(second.Acquire(home.path()), TInstanceLock::HeldElsewhere);
    first.Release();
    QCOMPARE(second.Acquire(home.path()), TInstanceLock::Acquired);
    // Another folder is another instance.
    TestHome other;
    TInstanceLock third;
    QCOMPARE(third.Acquire(other.path()), TInstanceLock::Acquired);
}

void TestInstance::lockFailsWithoutFolder() {
    TInstanceLock lock;
    QCOMPARE(lock.Acquire("/proc/no-such-folder/"), TInstanceLock::Failed);
    QVERIFY(lock.Error().contains("marrowline.lock"));
}

void TestInstance::serverNameIsStableAndPerFolder() {
    const QString a = HandOverServerName("Marrowline", "/srv/a/");
    QCOMPARE(HandOverServerName("Marrowline", "/srv/a"), a);
    QVERIFY(HandOverServerName("Marrowline", "/srv/b/") != a);
    QVERIFY(HandOverServerName("Marrowline", "/srv/A/") != a);
    QVERIFY(a.startsWith("marrowline-"));
    QVERIFY(a.size() <= 32);
    QVERIFY(!a.contains('/'));
}

void TestInstance::handOverDelivers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two parameters") << "a.txt|||bob|||"
                                    << "a.txt|||bob|||";
    QTest::newRow("10000 characters") << QString(10000, 'x') << QString(499, 'x');
    QTest::newRow("exactly 499") << QString(499, 'y') << QString(499, 'y');
    QTest::newRow("multibyte") << QString(600, QChar(0x20AC)) << QString(499, QChar(0x20AC));
    const QString pair = QString::fromUtf8("\xf0\x9f\x94\x91");
    QTest::newRow("no half surrogate") << "a" + pair.repeated(300) << "a" + pair.repeated(249);
}

void TestInstance::handOverDelivers() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestHome home;
    THandOverReceiver receiver;
    const QString name = HandOverServerName("MarrowlineTest", home.path());
    QVERIFY(receiver.Listen(name));
    QSignalSpy spy(&receiver, &THandOverReceiver::MessageReceived);
    QVERIFY(sendFromThread(name, text));
    const Received got = takeMessage(spy);
    QCOMPARE(got.message, HandOverMessage);
    QCOMPARE(got.wParam, HandOverWParam);
    QVERIFY(got.readOk);
    QCOMPARE(got.text, expected);
    QTest::qWait(50);
    QCOMPARE(spy.count(), 0); // one message per connection
}

void TestInstance::brokenSendersAreSurvived() {
    TestHome home;
    THandOverReceiver receiver;
    receiver.SetReceiveTimeout(300);
    const QString name = HandOverServerName("MarrowlineTest", home.path());
    QVERIFY(receiver.Listen(name));
    QSignalSpy spy(&receiver, &THandOverReceiver::MessageReceived);

    rawClient(name, "\x90\x81", false); // hangs up inside the header
    Received got = takeMessage(spy);
    QVERIFY(!got.readOk);
    QVERIFY(got.text.isEmpty());

    rawClient(name, header(HandOverMessage, 1, 100) + "only part", false);
    got = takeMessage(spy);
    QCOMPARE(got.message, HandOverMessage);
    QVERIFY(!got.readOk);
    QCOMPARE(got.text, QString("only part"));

    // An absurd length announces more than is ever read; what came is kept, nothing is
    // allocated for the rest.
    rawClient(name, header(HandOverMessage, 1, 0xFFFFFFFFu) + "abc", false);
    got = takeMessage(spy);
    QVERIFY(!got.readOk);
    QCOMPARE(got.text, QString("abc"));

    // A silent client is dropped after the time-out.
    rawClient(name, QByteArray(), true, 700);
    got = takeMessage(spy, 3000);
    QVERIFY(!got.readOk);
    QCOMPARE(got.message, 0u);

    // Invalid UTF-8 does not fail.
    rawClient(name, header(HandOverMessage, 1, 4) + "\xff\xfe|a", false);
    got = takeMessage(spy);
    QVERIFY(got.readOk);
    QVERIFY(got.text.endsWith("|a"));

    // Still listening after all that.
    QVERIFY(sendFromThread(name, "ok|||"));
    QCOMPARE(takeMessage(spy).text, QString("ok|||"));
}

// A handler that keeps the events going (as a service stopping its engines does) while the
// sender hangs up and a second sender comes: the first socket goes away during the handler, and
// nothing of it may be touched afterwards.
void TestInstance::handlerWaitsWhileSenderHangsUp() {
    TestHome home;
    THandOverReceiver receiver;
    receiver.SetReceiveTimeout(200); // the handler outlasts it: the socket is dropped meanwhile
    const QString name = HandOverServerName("MarrowlineTest", home.path());
    QVERIFY(receiver.Listen(name));
    QStringList texts;
    connect(&receiver, &THandOverReceiver::MessageReceived, this,
            [&](quint32, quint32, const QString& text, bool) {
                texts << text;
                Delay(400);
            });
    // Each sender hangs up a moment after writing: while the handler still waits.
    const QByteArray stop = "/STOP|||", start = "/START|||";
    rawClient(name, header(HandOverMessage, HandOverWParam, quint32(stop.size())) + stop, true,
              150);
    rawClient(name, header(HandOverMessage, HandOverWParam, quint32(start.size())) + start,
              true, 150);
    QTRY_COMPARE_WITH_TIMEOUT(texts, (QStringList{"/STOP|||", "/START|||"}), 5000);
}

void TestInstance::staleSocketFileIsReplaced() {
    TestHome home;
    const QString name = HandOverServerName("MarrowlineTest", home.path());
    // A file left at the socket's place (a killed instance leaves its socket behind).
    QVERIFY(WriteFile(HandOverSocketPath(name), "left over"));
    // Nothing is sent to what is not a socket of this user's.
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!SendHandOver(name, "secret|||", 3000, &error));
    QVERIFY(error.contains("not a socket of this user"));
    QVERIFY(clock.elapsed() < 2000);
    THandOverReceiver receiver;
    QVERIFY2(receiver.Listen(name, &error), qPrintable(error));
    QSignalSpy spy(&receiver, &THandOverReceiver::MessageReceived);
    QVERIFY(sendFromThread(name, "z|||"));
    QCOMPARE(takeMessage(spy).text, QString("z|||"));
    // A socket that belongs to another user gets nothing either.
    if (::geteuid() == 0) {
        const QByteArray path = QFile::encodeName(HandOverSocketPath(name));
        QCOMPARE(::lchown(path.constData(), 65534, 65534), 0);
        QVERIFY(!SendHandOver(name, "secret|||", 300, &error));
        QVERIFY(error.contains("not a socket of this user"));
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
    }
    receiver.Close();
}

void TestInstance::nobodyListening() {
    TestHome home;
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!SendHandOver(HandOverServerName("MarrowlineTest", home.path()), "a|||", 300, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(clock.elapsed() < 5000);
}

void TestInstance::twoProcesses() {
    TestHome home;
    writeClientSettings(home);
    Program first(home.path(), {});
    QVERIFY2(first.waitFor("Application started."), qPrintable(first.output()));

    // A second start with parameters hands them over and ends.
    const QString inbox = home.path() + "Handed In";
    {
        Program second(home.path(), {"a.txt", "/inbox:" + inbox});
        QVERIFY(second.finished());
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }
    QVERIFY2(first.waitFor("Inbox changed."), qPrintable(first.output()));
    QVERIFY(first.output().contains(": CmdParam:> a.txt\n"));
    QVERIFY(first.output().contains(": CmdParam:> /inbox:" + inbox + "\n"));
    QVERIFY(QFileInfo(inbox).isDir());
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadString("GENERAL", "MRL_Inbox", ""), inbox);

    // Without parameters a second start ends at once and says nothing.
    const int before = first.output().size();
    {
        QElapsedTimer clock;
        clock.start();
        Program quiet(home.path(), {});
        QVERIFY(quiet.finished());
        QCOMPARE(quiet.exitCode(), 0);
        QVERIFY(quiet.output().isEmpty());
        QVERIFY(clock.elapsed() < 15000);
    }
    QTest::qWait(100);
    QCOMPARE(first.output().size(), before);

    // A 10,000-character hand-over: 1250 parameters of 5 characters, 8 with the separator. The
    // first 499 characters hold 62 whole ones.
    QStringList many;
    for (int i = 1; i <= 1250; ++i)
        many << QString("p%1").arg(i, 4, 10, QChar('0'));
    QCOMPARE(many.join("|||").size() + 3, 10000);
    {
        Program second(home.path(), many);
        QVERIFY(second.finished());
        QCOMPARE(second.exitCode(), 0);
    }
    QVERIFY2(first.waitFor("CmdParam:> p0062\n"), qPrintable(first.output()));
    // The client console reads p0001..p0004 as a job outside the Outbox.
    QVERIFY(first.waitFor("Queuing up failed. Error in command line."));
    QVERIFY(!first.output().contains("p0063"));

    // SIGTERM ends it through the normal shutdown: settings and transcript are saved (the file is
    // cut down first, so what it holds afterwards was written at shutdown).
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=1\n"));
    first.process().terminate();
    QVERIFY(first.finished());
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    TIniFile ini(home.file("marrowline.ini"));
    QCOMPARE(ini.ReadString("GENERAL", "MRL_Inbox", ""), inbox);
    QCOMPARE(ini.ReadString("GENERAL", "MRL_Version", ""), QString("1.00"));
    const QByteArray log = ReadFile(home.file("sessions.log"));
    QVERIFY(log.contains(": Application started.\r\n"));
    QVERIFY(log.contains(": CmdParam:> a.txt\r\n"));
}

void TestInstance::killedInstanceDoesNotBlock() {
    TestHome home;
    writeClientSettings(home);
    {
        Program first(home.path(), {});
        QVERIFY(first.waitFor("Application started."));
        first.process().kill();
        QVERIFY(first.finished());
    }
    QVERIFY(QFileInfo::exists(home.file("marrowline.lock")));
    // Started without parameters, a second instance would end silently; this one runs.
    Program next(home.path(), {});
    QVERIFY2(next.waitFor("Application started."), qPrintable(next.output()));
    // And it receives hand-overs although the killed one left its socket behind.
    {
        Program second(home.path(), {"after-kill"});
        QVERIFY(second.finished());
    }
    QVERIFY(next.waitFor("CmdParam:> after-kill"));
    // SIGINT ends it normally too.
    ::kill(pid_t(next.process().processId()), SIGINT);
    QVERIFY(next.finished());
    QCOMPARE(next.exitStatus(), QProcess::NormalExit);
    QCOMPARE(next.exitCode(), 0);
}

void TestInstance::lockHeldButNobodyAnswers() {
    TestHome home;
    writeClientSettings(home);
    TInstanceLock lock;
    QCOMPARE(lock.Acquire(home.path()), TInstanceLock::Acquired);
    Program second(home.path(), {"x"});
    QVERIFY(second.finished());
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(second.output().contains(
                 "Marrowline: Could not pass parameters to the previous running instance."),
             qPrintable(second.output()));
    Program quiet(home.path(), {});
    QVERIFY(quiet.finished());
    QVERIFY(quiet.output().isEmpty());
}

void TestInstance::roleArrivesByHandOver() {
    TestHome home;
    Program first(home.path(), {});
    QVERIFY2(first.waitFor("no role chosen"), qPrintable(first.output()));
    {
        Program second(home.path(), {"/client"});
        QVERIFY(second.finished());
        QCOMPARE(second.exitCode(), 0);
    }
    // Without a window the role from the command line is the choice: saved, console started.
    QVERIFY2(first.waitFor("Application started."), qPrintable(first.output()));
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("GENERAL", "MRL_Function", 0), 1);
    first.process().terminate();
    QVERIFY(first.finished());
    QCOMPARE(first.exitCode(), 0);
}

// A display that names no running display server: a forwarded X display whose SSH session is
// gone, a Wayland socket that is no more. A first start says so in one line and runs headless; a
// later start hands over without any display. Neither may abort.
void TestInstance::unreachableDisplay_data() {
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("laterStart");
    QTest::newRow("first start, X display gone") << "DISPLAY" << "localhost:97" << false;
    QTest::newRow("first start, Wayland display gone")
        << "WAYLAND_DISPLAY" << "marrowline-test-no-wayland" << false;
    QTest::newRow("later start, X display gone") << "DISPLAY" << "localhost:97" << true;
}

void TestInstance::unreachableDisplay() {
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(bool, laterStart);
    TestHome home;
    writeClientSettings(home);
    const QMap<QString, QString> gone{{variable, value}};
    if (!laterStart) {
        Program first(home.path(), {}, gone);
        QVERIFY2(first.waitFor("Application started."), qPrintable(first.errors()));
        QCOMPARE(first.errors(), "marrowline: cannot reach the display " + value +
                                     "; running headless\n");
        first.process().terminate();
        QVERIFY(first.finished());
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        return;
    }
    Program first(home.path(), {});
    QVERIFY2(first.waitFor("Application started."), qPrintable(first.output()));
    const QString inbox = home.path() + "In";
    Program second(home.path(), {"/inbox:" + inbox}, gone);
    QVERIFY(second.finished());
    QVERIFY2(second.exitStatus() == QProcess::NormalExit, qPrintable(second.errors()));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(second.errors().isEmpty(), qPrintable(second.errors()));
    QVERIFY2(first.waitFor("Inbox changed."), qPrintable(first.output()));
}

// "--help", "-h" and "--version" print and end with 0 before anything starts: no program
// folder is made, and a running instance is not handed anything. After the first argument they
// are a job's parameters like any other.
void TestInstance::infoSwitches_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("printed");
    QTest::newRow("--help") << QStringList{"--help"} << false
                            << "Marrowline 1.00 Command Line Arguments\n\nTo display help:\n"
                               "Marrowline /HELP\n";
    QTest::newRow("-h") << QStringList{"-h", "/START"} << false
                        << "/EXCLUSIVE - Delete users not found in import file\n";
    QTest::newRow("--version") << QStringList{"--version"} << false << "Marrowline 1.00\n";
    QTest::newRow("--help beside a running instance")
        << QStringList{"--help", "/STOP"} << true << "/STOP - Auto stop communications\n";
    QTest::newRow("-h as a later parameter") << QStringList{"x.txt", "-h"} << true << QString();
}

void TestInstance::infoSwitches() {
    QFETCH(QStringList, args);
    QFETCH(bool, running);
    QFETCH(QString, printed);
    TestHome home;
    writeClientSettings(home);
    std::unique_ptr<Program> first;
    if (running) {
        first = std::make_unique<Program>(home.path(), QStringList{});
        QVERIFY2(first->waitFor("Application started."), qPrintable(first->output()));
    }
    // A program folder that does not exist yet stays so.
    const QString unmade = home.path() + "unmade/";
    Program info(running ? home.path() : unmade, args);
    QVERIFY(info.finished());
    QCOMPARE(info.exitStatus(), QProcess::NormalExit);
    QCOMPARE(info.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(unmade));
    if (printed.isEmpty()) {
        // Handed over as a job's parameter.
        QVERIFY(info.output().isEmpty());
        QVERIFY2(first->waitFor("CmdParam:> -h"), qPrintable(first->output()));
        return;
    }
    QVERIFY2(info.output().contains(printed), qPrintable(info.output()));
    if (first) {
        QTest::qWait(500);
        QVERIFY2(!first->output().contains("CmdParam"), qPrintable(first->output()));
    }
}

// Without MARROWLINE_HOME the executable's folder is the program folder only where that is
// meant: a build tree, or a folder that already holds the settings file. An installed program
// (/usr/bin, /usr/local/bin, which root may write) keeps its files in the XDG data folder and
// writes nothing next to itself.
void TestInstance::programFolder_data() {
    QTest::addColumn<QStringList>("holds");
    QTest::addColumn<bool>("besideExecutable");
    QTest::newRow("installed") << QStringList{} << false;
    QTest::newRow("another program's settings") << QStringList{"other.ini"} << false;
    QTest::newRow("kept with its settings") << QStringList{"marrowline.ini"} << true;
    QTest::newRow("build tree") << QStringList{"CMakeFiles/", "cmake_install.cmake"} << true;
}

void TestInstance::programFolder() {
    QFETCH(QStringList, holds);
    QFETCH(bool, besideExecutable);
    QTemporaryDir root;
    const QString bin = root.path() + "/usr/local/bin/";
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(WriteFile(bin + "marrowline", "#!/bin/sh\n"));
    for (const QString& entry : holds)
        QVERIFY(entry.endsWith('/') ? QDir().mkpath(bin + entry) : WriteFile(bin + entry, ""));
    const QStringList before = QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const QByteArray home = qgetenv("MARROWLINE_HOME"), data = qgetenv("XDG_DATA_HOME");
    qunsetenv("MARROWLINE_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    const QString folder = ResolveAppDir(bin + "marrowline");
    qputenv("MARROWLINE_HOME", home);
    qputenv("XDG_DATA_HOME", data);

    const QString xdg = root.path() + "/data/marrowline/";
    QCOMPARE(folder, besideExecutable ? bin : xdg);
    QCOMPARE(QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    if (!besideExecutable) {
        // Private to its owner: it will hold passwords.
        const QFileDevice::Permissions modes = QFileInfo(xdg).permissions();
        QVERIFY(modes.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ExeOwner));
        QCOMPARE(int(modes & 0x0077), 0); // no group or other bits
    }
}

QTEST_GUILESS_MAIN(TestInstance)
#include "instance_test.moc"
