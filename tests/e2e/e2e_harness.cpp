#include "e2e_harness.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "engine/link_protocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace e2e {

namespace {
QString binary(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

void resetSignals() {
    // A test started in the background may have SIGINT ignored; the program keeps ignored
    // signals ignored, so give it the default dispositions.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    // A test killed by its time-out must not leave its programs running.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool endProcess(QProcess& process, int ms) {
    if (process.state() == QProcess::NotRunning) return true;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (process.waitForFinished(ms)) return process.exitStatus() == QProcess::NormalExit;
    process.kill();
    process.waitForFinished(5000);
    return false;
}
} // namespace

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

int Scaled(int ms) {
    bool ok = false;
    const int factor = qEnvironmentVariableIntValue("MARROWLINE_E2E_SLOW", &ok);
    return ok && factor > 1 ? ms * factor : ms;
}

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(random.generate() & 0xFF);
    return out;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// ---- Home

Home::Home(const QString& root, const QString& name) : mPath(root + "/" + name + "/") {
    QDir().mkpath(mPath);
}

void Home::set(const QString& section, const QString& key, const QString& value) {
    TIniFile ini(iniPath());
    ini.WriteString(section, key, value);
    ini.UpdateFile();
}

QString Home::get(const QString& section, const QString& key) const {
    return TIniFile(iniPath()).ReadString(section, key, {});
}

void Home::makeClient(int port, int delayMs, int retries) {
    TIniFile ini(iniPath());
    ini.WriteInteger("GENERAL", "MRL_Function", 1);
    ini.WriteInteger("GENERAL", "MRL_CommDevices", 1);
    ini.WriteString("CLIENT", "CLI_ActiveDevice", QString("COM%1").arg(port));
    ini.WriteInteger("CLIENT", "CLI_BatchIntSec", 1);
    ini.WriteInteger("CLIENT", "CLI_BatchTimeOutMin", 5);
    ini.WriteBool("CLIENT", "CLI_AutoDelivery", true);
    ini.WriteString("DEVICE1", "dvkDevType", "Direct");
    ini.WriteString("DEVICE1", "dvkDevName", QString("COM%1").arg(port));
    ini.WriteString("DEVICE1", "dvkDevGUID", QString("COM%1").arg(port));
    ini.WriteString("DEVICE1", "dvkDevDelay", QString::number(delayMs));
    ini.WriteString("DEVICE1", "dvkDevParam", QString("COM%1,115200,8,N,1").arg(port));
    ini.WriteString("DEVICE1", "dvkDevHostActive", "NO");
    ini.WriteString("DEVICE1", "dvkDevRetries", QString::number(retries));
    ini.UpdateFile();
    QDir().mkpath(inbox());
    QDir().mkpath(outbox());
}

void Home::makeServer(const QList<int>& ports, int delayMs) {
    TIniFile ini(iniPath());
    ini.WriteInteger("GENERAL", "MRL_Function", 2);
    ini.WriteInteger("GENERAL", "MRL_CommDevices", int(ports.size()));
    ini.WriteBool("SERVER", "SVR_AutoDelivery", true);
    ini.WriteInteger("SERVER", "SVR_SessionTimeout", 5);
    for (int i = 0; i < ports.size(); ++i) {
        const QString section = QString("DEVICE%1").arg(i + 1);
        const QString com = QString("COM%1").arg(ports[i]);
        ini.WriteString(section, "dvkDevType", "Direct");
        ini.WriteString(section, "dvkDevName", com);
        ini.WriteString(section, "dvkDevGUID", com);
        ini.WriteString(section, "dvkDevDelay", QString::number(delayMs));
        ini.WriteString(section, "dvkDevParam", com + ",115200,8,N,1");
        ini.WriteString(section, "dvkDevHostActive", "YES");
        ini.WriteString(section, "dvkDevRetries", "3");
    }
    ini.UpdateFile();
    QDir().mkpath(inbox());
    QDir().mkpath(outbox());
    QDir().mkpath(mPath + "USERS");
}

void Home::addUser(const QString& name, const QString& password, const QString& inboxFolder,
                   const QString& outboxFolder) {
    TIniFile ini(mPath + "USERS/" + name.toUpper() + ".xus");
    ini.WriteString("USER", "ukUser", name.toUpper());
    ini.WriteString("USER", "ukPassw", ScramblePassword(password));
    ini.WriteBool("USER", "ukUseGlobalInbox", inboxFolder.isEmpty());
    ini.WriteBool("USER", "ukUseGlobalOutbox", outboxFolder.isEmpty());
    ini.WriteString("USER", "ukInbox", inboxFolder.isEmpty() ? mPath + "INBOX" : inboxFolder);
    ini.WriteString("USER", "ukOutbox", outboxFolder.isEmpty() ? mPath + "OUTBOX" : outboxFolder);
    QDir().mkpath(mPath + "USERS");
    ini.UpdateFile();
    if (!inboxFolder.isEmpty()) QDir().mkpath(inboxFolder);
    if (!outboxFolder.isEmpty()) QDir().mkpath(outboxFolder);
}

bool Home::put(const QString& relative, const QByteArray& bytes) const {
    return WriteAll(mPath + relative, bytes);
}

void Home::writeJob(int no, const QString& ext, const QMap<TQueueKey, QString>& fields) {
    TIniFile ini(mPath + QString("QUEUE/%1.%2").arg(no).arg(ext));
    for (int k = 0; k < QueueKeyCount; ++k) {
        QString value = fields.value(TQueueKey(k));
        if (k == qkNo) value = QString::number(no);
        if (k == qkDate && value.isEmpty()) value = DateTimeToStr(QDateTime::currentDateTime());
        ini.WriteString("ITEM", QueueKeyNames[k], value);
    }
    QDir().mkpath(mPath + "QUEUE");
    ini.UpdateFile();
    TIniFile settings(iniPath());
    if (settings.ReadInteger("GENERAL", "MRL_QueueCounter", 0) < no) {
        settings.WriteInteger("GENERAL", "MRL_QueueCounter", no);
        settings.UpdateFile();
    }
}

QList<TQueueItem> Home::jobs() const {
    QList<TQueueItem> out;
    const QDir queue(mPath + "QUEUE");
    const QStringList names = queue.entryList({"*.xfr", "*.xfh"}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        TIniFile ini(queue.filePath(name));
        TQueueItem item;
        for (int k = 0; k < QueueKeyCount; ++k)
            item.Slots[size_t(k)].StrValue = ini.ReadString("ITEM", QueueKeyNames[k], {});
        out << item;
    }
    return out;
}

QList<TLogRecord> Home::log(const QString& name) const {
    QList<TLogRecord> out;
    const QByteArray bytes = ReadAll(mPath + name);
    for (qsizetype at = 0; at + LogLayout::RecordSize <= bytes.size();
         at += LogLayout::RecordSize) {
        TLogRecord record;
        if (DecodeLogRecord(bytes.mid(at, LogLayout::RecordSize), record)) out << record;
    }
    return out;
}

bool Home::waitLog(const QString& name, int count, int ms) const {
    return WaitUntil([&]() { return log(name).size() >= count; }, Scaled(ms));
}

QStringList Home::tree(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext())
        out << base.relativeFilePath(it.next());
    out.sort();
    return out;
}

// ---- Program

QProcessEnvironment ProgramEnvironment(const Home& home, const QMap<QString, QString>& env) {
    QProcessEnvironment out = QProcessEnvironment::systemEnvironment();
    out.insert("MARROWLINE_HOME", home.path());
    out.insert("MARROWLINE_HEADLESS", "1");
    out.insert("XDG_CONFIG_HOME", home.path() + ".xdg-config");
    out.insert("XDG_DATA_HOME", home.path() + ".xdg-data");
    out.remove("DISPLAY");
    out.remove("WAYLAND_DISPLAY");
    for (auto it = env.begin(); it != env.end(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

Program::Program(const Home& home, const QStringList& args, const QMap<QString, QString>& env)
    : mProcess(std::make_unique<QProcess>()), mStdout(home.path() + "stdout.txt") {
    QFile::remove(mStdout);
    mProcess->setProcessEnvironment(ProgramEnvironment(home, env));
    mProcess->setStandardOutputFile(mStdout, QIODevice::Append);
    mProcess->setStandardErrorFile(home.path() + "stderr.txt", QIODevice::Append);
    mProcess->setChildProcessModifier(resetSignals);
    mProcess->setWorkingDirectory(home.path());
    mProcess->start(binary("MARROWLINE_BIN"), args);
    mProcess->waitForStarted(10000);
}

Program::~Program() {
    stop();
}

bool Program::running() const {
    return mProcess->state() != QProcess::NotRunning;
}

QString Program::output() const {
    return QString::fromUtf8(ReadAll(mStdout));
}

QStringList Program::lines() const {
    return output().split('\n', Qt::SkipEmptyParts);
}

int Program::count(const QString& text) const {
    int n = 0;
    for (const QString& line : lines())
        if (line.contains(text)) ++n;
    return n;
}

bool Program::waitFor(const QString& text, int ms, int times) {
    return WaitUntil([&]() { return count(text) >= times; }, Scaled(ms));
}

bool Program::stop(int ms) {
    return endProcess(*mProcess, ms);
}

int Program::pid() const {
    return int(mProcess->processId());
}

QString RunOnce(const Home& home, const QStringList& args, bool* ok, int ms) {
    QProcess process;
    process.setProcessEnvironment(ProgramEnvironment(home));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setChildProcessModifier(resetSignals);
    process.start(binary("MARROWLINE_BIN"), args);
    const bool ended = process.waitForFinished(Scaled(ms));
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    if (ok) *ok = ended && process.exitStatus() == QProcess::NormalExit;
    return QString::fromUtf8(process.readAll());
}

// ---- LineSim

LineSim::LineSim(const QString& mode, const QStringList& options, const QString& endA,
                 const QString& endB, const QString& logPath)
    : mProcess(std::make_unique<QProcess>()), mLog(logPath) {
    QStringList args{mode};
    args << options;
    if (!mLog.isEmpty()) args << "--log" << mLog;
    args << endA << endB;
    mProcess->setProcessChannelMode(QProcess::SeparateChannels);
    mProcess->setChildProcessModifier(resetSignals);
    mProcess->start(binary("LINESIM_BIN"), args);
    QElapsedTimer clock;
    clock.start();
    while (!mProcess->canReadLine() && clock.elapsed() < 10000) {
        if (!mProcess->waitForReadyRead(100) && mProcess->state() == QProcess::NotRunning) break;
    }
    mReadyLine = QString::fromUtf8(mProcess->readLine()).trimmed();
    mReady = mReadyLine.startsWith("ready ");
}

LineSim::~LineSim() {
    stop();
}

void LineSim::signal(int sig) {
    if (mProcess->state() != QProcess::NotRunning) ::kill(pid_t(mProcess->processId()), sig);
}

QString LineSim::log() const {
    return QString::fromUtf8(ReadAll(mLog));
}

bool LineSim::stop(int ms) {
    return endProcess(*mProcess, ms);
}

// ---- PlainPeer

namespace {
const QString Python = QStringLiteral("/usr/bin/python3");
} // namespace

bool PlainPeer::available() {
    return QProcess::execute(Python, {"-c", "import xmodem"}) == 0 &&
           QFileInfo::exists(binary("MARROWLINE_PLAIN_PEER"));
}

PlainPeer::PlainPeer(const QString& role, const QString& device, const QString& folder,
                     const QStringList& options)
    : mProcess(std::make_unique<QProcess>()), mLog(folder + "/plain-" + role + ".log") {
    QDir().mkpath(folder);
    mProcess->setProcessChannelMode(QProcess::SeparateChannels);
    mProcess->setStandardOutputFile(folder + "/plain-" + role + ".out");
    mProcess->setStandardErrorFile(folder + "/plain-" + role + ".err");
    mProcess->setChildProcessModifier(resetSignals);
    mProcess->start(Python, QStringList{binary("MARROWLINE_PLAIN_PEER"), role, device, "--log", mLog} +
                                options);
    mProcess->waitForStarted(5000);
    // Up once it has opened its end.
    WaitUntil([&] { return !events("START").isEmpty() || !running(); }, 10000);
}

PlainPeer::~PlainPeer() {
    endProcess(*mProcess, 3000);
}

bool PlainPeer::running() const {
    return mProcess->state() != QProcess::NotRunning;
}

int PlainPeer::exitCode() const {
    return running() ? -1 : mProcess->exitCode();
}

bool PlainPeer::waitEnd(int ms) {
    return WaitUntil([&] { return !running(); }, ms);
}

QString PlainPeer::log() const {
    return QString::fromUtf8(ReadAll(mLog));
}

QStringList PlainPeer::events(const QString& kind) const {
    QStringList out;
    for (const QString& line : log().split('\n')) {
        const QStringList parts = line.split(' ');
        if (parts.size() >= 2 && parts[1] == kind) out << line.section(' ', 2);
    }
    return out;
}

QList<double> PlainPeer::times(const QString& kind) const {
    QList<double> out;
    for (const QString& line : log().split('\n')) {
        const QStringList parts = line.split(' ');
        if (parts.size() >= 2 && parts[1] == kind) out << parts[0].toDouble();
    }
    return out;
}

// ---- LineEnd

LineEnd::LineEnd(const QString& path) {
    // Not inherited: a program started later must not keep this end open after it is closed.
    mFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mFd < 0) return;
    termios tio{};
    if (::tcgetattr(mFd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(mFd, TCSANOW, &tio);
    }
}

LineEnd::~LineEnd() {
    if (mFd >= 0) ::close(mFd);
}

bool LineEnd::write(const QByteArray& bytes) {
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (mFd >= 0 && done < bytes.size() && clock.elapsed() < 5000) {
        const ssize_t n = ::write(mFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else
            QThread::msleep(5);
    }
    return done == bytes.size();
}

bool LineEnd::send(const QString& text) {
    return write(FrameLine(text));
}

void LineEnd::readAvailable() {
    char buffer[4096];
    ssize_t n = 0;
    while (mFd >= 0 && (n = ::read(mFd, buffer, sizeof buffer)) > 0)
        mIn.append(buffer, n);
}

QString LineEnd::reply(int ms) {
    QString found;
    WaitUntil(
        [&]() {
            readAvailable();
            // A frame is CR, text, two checksum digits, CR.
            qsizetype start = mIn.indexOf('\r');
            while (start >= 0) {
                const qsizetype end = mIn.indexOf('\r', start + 1);
                if (end < 0) return false;
                const QString text = QString::fromUtf8(mIn.mid(start + 1, end - start - 1));
                if (ChecksumOk(text)) {
                    found = text.left(text.size() - 2);
                    mIn.remove(0, end + 1);
                    return true;
                }
                start = end;
            }
            return false;
        },
        Scaled(ms));
    return found;
}

QByteArray LineEnd::pending() {
    readAvailable();
    return std::exchange(mIn, {});
}

// ---- Results file

ResultsLine ParseResultsLine(const QByteArray& bytes) {
    ResultsLine out;
    const QString text = QString::fromUtf8(bytes);
    out.ok = text.size() == 415;
    const int widths[] = {4, 3, 60, 255, 16, 16, 20, 40, 1};
    QString* fields[] = {&out.jobNo,     &out.doneText, &out.result, &out.fileName, &out.submitted,
                         &out.processed, &out.user,     &out.param,  &out.doneFlag};
    int at = 0;
    for (int i = 0; i < 9; ++i) {
        *fields[i] = text.mid(at, widths[i]);
        at += widths[i];
    }
    return out;
}

// ---- Pair

Pair::Pair(const QStringList& lineOptions, const QMap<QString, QString>& extraEnv) {
    env = extraEnv;
    if (qEnvironmentVariableIsSet("MARROWLINE_E2E_KEEP")) {
        root.setAutoRemove(false);
        qInfo().noquote() << "kept:" << root.path();
    }
    client = std::make_unique<Home>(root.path(), "client");
    server = std::make_unique<Home>(root.path(), "server");
    client->makeClient(1);
    server->makeServer({2});
    server->addUser("ALICE", "secret");
    if (!lineOptions.contains("--no-start")) start(lineOptions);
}

Pair::~Pair() {
    stopAll();
}

bool Pair::start(const QStringList& lineOptions) {
    QStringList options = lineOptions;
    options.removeAll("--no-start");
    cable = std::make_unique<LineSim>("cable", options, client->portLink(1), server->portLink(2),
                                      root.path() + "/linesim.log");
    ok = false;
    if (!cable->ready()) return false;
    serverProgram = std::make_unique<Program>(*server, QStringList{}, env);
    // The client's first log-on must find the server listening.
    serverProgram->waitFor("Listening for command...", 15000);
    clientProgram = std::make_unique<Program>(*client, QStringList{}, env);
    // A second start made before the client holds its instance lock would become the first
    // instance itself.
    clientProgram->waitFor("Application started.", 15000);
    ok = serverProgram->running() && clientProgram->running() &&
         clientProgram->count("Application started.") > 0;
    return ok;
}

QString Pair::queue(const QString& relative, const QString& user, const QString& password,
                    const QStringList& extra) {
    const QString file = QFileInfo(relative).isAbsolute() ? relative : client->outbox() + relative;
    return RunOnce(*client, QStringList{file, user, password, "0"} + extra);
}

QString Pair::queueHost(const QString& relative, const QString& user, const QStringList& extra) {
    const QString file = QFileInfo(relative).isAbsolute() ? relative : server->outbox() + relative;
    return RunOnce(*server, QStringList{file, user} + extra);
}

void Pair::stopAll() {
    if (clientProgram) clientProgram->stop();
    if (serverProgram) serverProgram->stop();
    if (cable) cable->stop();
}

QString Pair::transcripts() const {
    QString out;
    if (clientProgram) out += "--- client\n" + clientProgram->output().right(20000);
    if (serverProgram) out += "--- server\n" + serverProgram->output().right(20000);
    return out;
}

} // namespace e2e
