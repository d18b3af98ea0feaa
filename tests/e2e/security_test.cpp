// What other local users can learn: a job's password stays out of the transcript, out of
// standard output and out of /proc/PID/cmdline; files that hold secrets are readable by their
// owner only and the folders the program makes for its home are private, whatever the umask; and
// a headless message box reaches the transcript as a status line with its caption.
#include "e2e_harness.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

using namespace e2e;

namespace {
int modeOf(const QString& path) {
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return int(info.st_mode & 07777);
}

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
