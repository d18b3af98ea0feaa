// What other local users can learn: a job's password stays out of the transcript, out of
// standard output and out of /proc/PID/cmdline, and with "/PASSFILE:" out of every process list
// even while a second start hands it over; files that hold secrets are readable by their
// owner only and the folders the program makes for its home are private, whatever the umask; and
// a headless message box reaches the transcript as a status line with its caption.
#include "e2e_harness.h"

#include "core/helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace e2e;

namespace {
int modeOf(const QString& path) {
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return int(info.st_mode & 07777);
}

// Looks at every process's command line (what ps shows) every 5 ms while it lives, and counts the
// looks in which some process showed the text.
class ProcessListSampler {
public:
    explicit ProcessListSampler(QByteArray text)
        : mText(std::move(text)), mThread([this] { run(); }) {}
    ~ProcessListSampler() { stop(); }
    void stop() {
        mStop = true;
        if (mThread.joinable()) mThread.join();
    }
    int hits() const { return mHits; }
    int looks() const { return mLooks; }

private:
    void run() {
        auto next = std::chrono::steady_clock::now();
        while (!mStop) {
            if (lookOnce()) ++mHits;
            ++mLooks;
            next += std::chrono::milliseconds(5);
            std::this_thread::sleep_until(next);
        }
    }
    bool lookOnce() const {
        DIR* proc = ::opendir("/proc");
        if (!proc) return false;
        bool seen = false;
        while (const dirent* e = ::readdir(proc)) {
            if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
            const QByteArray path = QByteArray("/proc/") + e->d_name + "/cmdline";
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            char buf[65536];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            ::close(fd);
            if (n > 0 && QByteArray::fromRawData(buf, int(n)).contains(mText)) seen = true;
        }
        ::closedir(proc);
        return seen;
    }
    const QByteArray mText;
    std::atomic<bool> mStop{false};
    std::atomic<int> mHits{0}, mLooks{0};
    std::thread mThread;
};

// Sets the umask for what the test starts, and puts it back.
struct Umask {
    explicit Umask(mode_t mask) : previous(::umask(mask)) {}
    ~Umask() { ::umask(previous); }
    mode_t previous;
};
} // namespace

class E2ESecurityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passwordStaysSecret() {
        const Umask open(0); // a careless umask: the program must not rely on it
        QTemporaryDir root;
        Home home(root.path(), "client");
        // The program makes its home itself (a folder that does not exist yet), and its
        // settings file.
        const QString app = home.path() + "app/";
        const QMap<QString, QString> env{{"MARROWLINE_HOME", app}};
        const QString secret = "Sw0rdf1sh-secret";
        {
            Program first(home, {"/CLIENT"}, env);
            E2E_VERIFY(first.waitFor("Application started.", 15000), first.output());
            QVERIFY(first.stop());
        }
        QVERIFY(WriteAll(app + "OUTBOX/report.txt", "data"));
        Program program(home, {app + "OUTBOX/report.txt", "alice", secret, "5551234"}, env);
        E2E_VERIFY(program.waitFor("File queued: report.txt", 15000), program.output());
        const QByteArray cmdline = ReadAll(QString("/proc/%1/cmdline").arg(program.pid()));
        QVERIFY(cmdline.contains("report.txt"));
        QVERIFY2(!cmdline.contains(secret.toUtf8()), cmdline.constData());
        // A second start with a password: shown masked by the running instance.
        QVERIFY(WriteAll(app + "OUTBOX/second.txt", "more"));
        bool ok = false;
        QProcess second;
        second.setProcessEnvironment(ProgramEnvironment(home, env));
        second.start(qEnvironmentVariable("MARROWLINE_BIN"),
                     {app + "OUTBOX/second.txt", "alice", secret + "2", "5551234"});
        ok = second.waitForFinished(20000);
        QVERIFY(ok);
        QVERIFY(program.waitFor("File queued: second.txt", 10000));
        QVERIFY(program.stop());
        QVERIFY(!program.output().contains(secret));
        QVERIFY(program.count("CmdParam:> **********") >= 2);
        QVERIFY(!ReadAll(app + "sessions.log").contains(secret.toUtf8()));
        QVERIFY(ReadAll(app + "sessions.log").contains("CmdParam:> **********"));

        // Files with secrets 0600, the folders made for the home 0700.
        QCOMPARE(modeOf(app + "marrowline.ini"), 0600);
        const QStringList jobs = QDir(app + "QUEUE").entryList(QDir::Files);
        QCOMPARE(jobs.size(), 2);
        for (const QString& job : jobs)
            QCOMPARE(modeOf(app + "QUEUE/" + job), 0600);
        for (const QString& folder : {QString(), QString("QUEUE"), QString("INBOX"),
                                      QString("OUTBOX")})
            QCOMPARE(modeOf(app + folder), 0700);
    }

    // A second start with "/PASSFILE:" (standard input or a file only its owner may read) hands
    // the job over without the password ever being in a process list. The positional form, seen
    // by the same sampler, shows that the sampler does see arguments.
    void passwordFileNeverInAProcessList() {
        QTemporaryDir root;
        Home home(root.path(), "client");
        Program program(home, {"/CLIENT"});
        E2E_VERIFY(program.waitFor("Application started.", 15000), program.output());
        const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch());
        const QString given = "Given-" + stamp, piped = "Piped-" + stamp, filed = "Filed-" + stamp;
        for (const char* name : {"given.txt", "piped.txt", "filed.txt"})
            QVERIFY(WriteAll(home.outbox() + name, name));
        QVERIFY(WriteAll(root.path() + "/pw", filed.toUtf8() + "\n"));
        QVERIFY(::chmod(QFile::encodeName(root.path() + "/pw").constData(), 0600) == 0);

        const auto handOver = [&](const QString& password, const QStringList& args,
                                  const QByteArray& input) {
            ProcessListSampler sampler(password.toUtf8());
            QProcess second;
            second.setProcessEnvironment(ProgramEnvironment(home));
            second.start(qEnvironmentVariable("MARROWLINE_BIN"), args);
            second.write(input);
            second.closeWriteChannel();
            const bool ended = second.waitForFinished(20000);
            sampler.stop();
            const QStringList form = args.filter("/PASSFILE:");
            qInfo().noquote() << (form.isEmpty() ? QString("positional") : form.first())
                              << ": seen in" << sampler.hits() << "of" << sampler.looks()
                              << "looks at every process list";
            return ended && sampler.looks() >= 5 ? sampler.hits() : -1;
        };
        QVERIFY(handOver(given, {home.outbox() + "given.txt", "alice", given, "5551234"}, {}) > 0);
        QCOMPARE(handOver(piped, {home.outbox() + "piped.txt", "alice", "/PASSFILE:-", "5551234"},
                          piped.toUtf8() + "\n"),
                 0);
        QCOMPARE(handOver(filed,
                          {home.outbox() + "filed.txt", "alice", "5551234",
                           "/PASSFILE:" + root.path() + "/pw"},
                          {}),
                 0);
        for (const char* name : {"given.txt", "piped.txt", "filed.txt"})
            E2E_VERIFY(program.waitFor(QString("File queued: ") + name, 10000), program.output());
        QVERIFY(program.stop());
        // Each job carries its own password.
        QMap<QString, QString> passwords;
        for (const TQueueItem& job : home.jobs())
            passwords[QFileInfo(job.Slots[qkSrcFile].StrValue).fileName()] =
                UnscramblePassword(job.Slots[qkPassw].StrValue);
        QCOMPARE(passwords, (QMap<QString, QString>{
                                {"given.txt", given}, {"piped.txt", piped}, {"filed.txt", filed}}));
        for (const QString& secret : {given, piped, filed})
            QVERIFY(!program.output().contains(secret));
    }

    void serverAccountsArePrivate() {
        const Umask open(0);
        QTemporaryDir root;
        Home home(root.path(), "server");
        home.makeServer({2});
        QVERIFY(WriteAll(root.path() + "/users.txt", "bob,builder\n"));
        Program program(home, {"/USERS:" + root.path() + "/users.txt"});
        E2E_VERIFY(program.waitFor("User imported: BOB", 15000), program.output());
        QVERIFY(program.stop());
        QCOMPARE(modeOf(home.file("USERS/BOB.xus")), 0600);
        QVERIFY(!ReadAll(home.file("USERS/BOB.xus")).contains("builder"));
    }

    // A box in a program without a display is a status line: time-stamped, in the transcript,
    // with its caption, so that the transcript says why a job was refused.
    void headlessBoxIsAStatusLine() {
        QTemporaryDir root;
        Home home(root.path(), "client");
        home.makeClient(1);
        Program program(home);
        QVERIFY(program.waitFor("Application started.", 15000));
        QVERIFY(WriteAll(root.path() + "/elsewhere.txt", "x"));
        RunOnce(home, {root.path() + "/elsewhere.txt", "alice", "pw", "5551234"});
        QVERIFY(program.waitFor("Queuing up failed. Error in command line.", 10000));
        QVERIFY(program.stop());
        const QString transcript = QString::fromUtf8(ReadAll(home.file("sessions.log")));
        QVERIFY2(transcript.contains("File must be in the Outbox or a subfolder!"),
                 qPrintable(transcript));
        // A status line: the time stamp, the box's caption, then its text.
        const QRegularExpression line(
            "(?m)^.*\\d\\d:\\d\\d:\\d\\d: Marrowline: " +
            QRegularExpression::escape(root.path() + "/elsewhere.txt"));
        QVERIFY2(transcript.contains(line), qPrintable(transcript));
    }
};

QTEST_GUILESS_MAIN(E2ESecurityTest)
#include "security_test.moc"
