// What the engines hand the consoles (finished jobs, status reports), start and stop, the log
// export and the queue's delete operations, and the headless program taking a job from a second
// start.
#include "console_world.h"
#include "consoles/client_console.h"
#include "consoles/enqueue.h"
#include "consoles/server_console.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <csignal>

namespace {
// An engine that only exists: the device list counts it as running.
class IdleEngine : public TDeviceEngine {
public:
    void Restart() override {}
};

// The world's engines are idle ones.
struct EngineFactories {
    EngineFactories() {
        auto make = [](TDevicesList&, TCommDevice&) -> std::unique_ptr<TDeviceEngine> {
            return std::make_unique<IdleEngine>();
        };
        TEngineServices& engines = ConsoleWorld::current()->ctx().engines;
        engines.hostFactory = make;
        engines.remFactory = make;
    }
};

// Queues a job through the queue's own operations (job file included) and returns a copy.
TQueueItem queueJob(const QString& srcFile, const QString& method, const QString& autoDel,
                    const QString& user, const QString& resultsFile = QString()) {
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, srcFile);
    Put(job, qkMethod, method);
    Put(job, qkAutoDel, autoDel);
    Put(job, qkUser, user);
    Put(job, qkResultsFile, resultsFile);
    Put(job, qkCommParam, "5551234");
    Queue()->AddItem();
    Queue()->SetItem(Queue()->Count() - 1, &job);
    Queue()->Save();
    return *Queue()->GetItem(Queue()->Count() - 1);
}

TLogRecord lastRecord() {
    TLogRecord record;
    Log()->GetEntry(Log()->Count() - 1, record);
    return record;
}
} // namespace

class TestConsoleEvents : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void progressPercent_data();
    void progressPercent();
    void exportTime_data();
    void exportTime();
    void clientLogFileEvent_data();
    void clientLogFileEvent();
    void clientLogFileEventRefusals();
    void serverLogFileEvent_data();
    void serverLogFileEvent();
    void serverStatus();
    void clientStatus();
    void startStop();
    void logExport();
    void queueDeletion();
    void jobAdd();
    void serverInitialize();
    void headlessHandOver();
};

void TestConsoleEvents::progressPercent_data() {
    QTest::addColumn<qint64>("progress");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");
    QTest::newRow("half") << qint64(50) << qint64(100) << 50;
    QTest::newRow("above the total") << qint64(150) << qint64(100) << 100;
    QTest::newRow("12.5 to even") << qint64(1) << qint64(8) << 12;
    QTest::newRow("37.5 to even") << qint64(3) << qint64(8) << 38;
    QTest::newRow("62.5 to even") << qint64(5) << qint64(8) << 62;
    QTest::newRow("a third") << qint64(1) << qint64(3) << 33;
    QTest::newRow("two thirds") << qint64(2) << qint64(3) << 67;
    QTest::newRow("negative") << qint64(-5) << qint64(100) << 0;
    QTest::newRow("no total") << qint64(5) << qint64(0) << 0;
    QTest::newRow("large file") << qint64(2147483000) << qint64(2147483647) << 100;
}

void TestConsoleEvents::progressPercent() {
    QFETCH(qint64, progress);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QCOMPARE(ProgressPercent(progress, total), percent);
}

void TestConsoleEvents::exportTime_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << " 0.00000000000000E+0000";
    QTest::newRow("a day and a half") << 45000.5 << " 4.50005000000000E+0004";
    QTest::newRow("negative") << -1.25 << "-1.25000000000000E+0000";
    QTest::newRow("small") << 0.00001 << " 1.00000000000000E-0005";
}

void TestConsoleEvents::exportTime() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(LogExportTime(value), text);
    QCOMPARE(LogExportTime(value).size(), 23);
}

void TestConsoleEvents::clientLogFileEvent_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("autoDel");
    QTest::addColumn<bool>("discard");
    QTest::addColumn<bool>("done");
    QTest::addColumn<bool>("removed");       // job and job file gone
    QTest::addColumn<bool>("sourceDeleted"); // the Outbox file
    QTest::newRow("attempt failed, retried later") << "SEND"
                                                   << "YES" << false << false << false << false;
    QTest::newRow("done") << "SEND"
                          << "NO" << false << true << true << false;
    QTest::newRow("done with /AUTODEL") << "SEND"
                                        << "YES" << false << true << true << true;
    QTest::newRow("dropped keeps the file") << "SEND"
                                            << "YES" << true << false << true << false;
    QTest::newRow("dropped fetch keeps our file") << "RECV"
                                                  << "YES" << true << false << true << false;
}

void TestConsoleEvents::clientLogFileEvent() {
    QFETCH(QString, method);
    QFETCH(QString, autoDel);
    QFETCH(bool, discard);
    QFETCH(bool, done);
    QFETCH(bool, removed);
    QFETCH(bool, sourceDeleted);
    ConsoleWorld w(1);
    TfraClient client(w.services());
    const QString source = w.file("OUTBOX/Sub/a.txt");
    const QString results = w.home.file("results.txt");
    queueJob("keep.txt", "SEND", "NO", "BOB");
    const TQueueItem job = queueJob("Sub\\a.txt", method, autoDel, "BOB", results);
    const QString jobFile = Queue()->JobFilePath(Get(job, qkNo));
    QVERIFY(QFileInfo::exists(jobFile));
    client.UpdateQueueList();

    client.LogFileEvent(job, discard, "Transfer done.", 3, done);
    QCOMPARE(Log()->Count(), 1);
    const TLogRecord record = lastRecord();
    QCOMPARE(record.JobNo, Get(job, qkNo).toInt());
    QCOMPARE(record.Done, done);
    QCOMPARE(record.Attempt, 3);
    QCOMPARE(record.FileName, QString("Sub\\a.txt"));
    QCOMPARE(record.ResultsFile, results);
    QCOMPARE(record.CommParam, QString("5551234"));
    QVERIFY(record.Submitted > 40000);
    QCOMPARE(client.logRows().count(), 1);
    QCOMPARE(client.logRows().texts(0).value(4), QString("3"));

    QCOMPARE(Queue()->Count(), removed ? 1 : 2);
    QCOMPARE(Queue()->GetSetting(0, qkSrcFile), QString("keep.txt"));
    QCOMPARE(client.queueRows().size(), Queue()->Count());
    QCOMPARE(QFileInfo::exists(jobFile), !removed);
    QCOMPARE(QFileInfo::exists(source), !sourceDeleted);
    // The caller's answer comes when the job has ended, not after a failed attempt.
    QCOMPARE(QFileInfo::exists(results), removed);
    if (removed) QCOMPARE(ReadFile(results), ResultsFileLine(record).toUtf8());
}

void TestConsoleEvents::clientLogFileEventRefusals() {
    ConsoleWorld w(1);
    TfraClient client(w.services());
    TQueueItem job = queueJob("a.txt", "SEND", "NO", "BOB");
    TQueueItem nameless = job;
    Put(nameless, qkSrcFile, QString());
    client.LogFileEvent(nameless, true, "x", 1, true);
    TQueueItem badNumber = job;
    Put(badNumber, qkNo, "12a");
    client.LogFileEvent(badNumber, true, "x", 1, true);
    QCOMPARE(Log()->Count(), 0);
    QCOMPARE(Queue()->Count(), 1);
    const QStringList status = ConsoleWorld::messages(client.sessionText());
    QCOMPARE(status.size(), 2);
    QCOMPARE(status[0], QString("UpdateQueueList: Logging skipped - missing filename."));
    QVERIFY2(status[1].startsWith("!TfraClient.LogFileEvent: "), qPrintable(status[1]));
}

void TestConsoleEvents::serverLogFileEvent_data() {
    QTest::addColumn<QString>("autoDel");
    QTest::addColumn<bool>("discard");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<bool>("sourceDeleted");
    QTest::addColumn<QString>("line");
    QTest::newRow("failed, stays") << "YES" << false << false << "BOB" << false << false << "";
    QTest::newRow("done") << "NO" << false << true << "BOB" << true << false << "";
    QTest::newRow("done with /AUTODEL")
        << "YES" << false << true << "BOB" << true << true << "Deleting file: <src>";
    QTest::newRow("done with /AUTODEL, user gone")
        << "YES" << false << true << "GONE" << true << false
        << "!TfraServer.LogFileEvent: Could not locate user's outbox. Sent file cannot be "
           "deleted.";
    QTest::newRow("discarded keeps the file")
        << "YES" << true << false << "BOB" << true << false << "";
}

void TestConsoleEvents::serverLogFileEvent() {
    QFETCH(QString, autoDel);
    QFETCH(bool, discard);
    QFETCH(bool, done);
    QFETCH(QString, user);
    QFETCH(bool, removed);
    QFETCH(bool, sourceDeleted);
    QFETCH(QString, line);
    ConsoleWorld w(2);
    TfraServer server(w.services());
    w.addUser("BOB", "pw", w.home.file("BOBOUT"));
    const QString source = w.file("BOBOUT/Sub/a.txt");
    const TQueueItem job = queueJob("Sub\\a.txt", "SEND", autoDel, user);
    server.UpdateQueueList();
    server.LogFileEvent(job, discard, "Transfer successful.", done);
    QCOMPARE(Log()->Count(), 1);
    QCOMPARE(lastRecord().JobNo, Get(job, qkNo).toInt());
    QCOMPARE(lastRecord().UserName, user);
    QCOMPARE(server.logRows().count(), 1);
    QCOMPARE(server.logRows().texts(0).value(1), done ? QString("YES") : QString("NO"));
    QCOMPARE(Queue()->Count(), removed ? 0 : 1);
    QCOMPARE(server.queueRows().size(), Queue()->Count());
    QCOMPARE(server.totalJobs(), QString::number(Queue()->Count()));
    QCOMPARE(QFileInfo::exists(source), !sourceDeleted);
    line.replace("<src>", source);
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             line.isEmpty() ? QStringList() : QStringList{line});

    // A received file (no job number) is logged and touches no queued job.
    TQueueItem received;
    Queue()->EmptyItem(received);
    Put(received, qkSrcFile, "in.txt");
    const int before = Queue()->Count();
    server.LogFileEvent(received, true, "Transfer successful.", true);
    QCOMPARE(Queue()->Count(), before);
    QCOMPARE(lastRecord().JobNo, 0);
}

void TestConsoleEvents::serverStatus() {
    ConsoleWorld w(2);
    EngineFactories factories;
    TfraServer server(w.services());
    w.addDevice("Direct", "Cable A", "{A}", true);
    w.addDevice("Direct", "Idle B", "{B}", false);
    w.addDevice("Modem", "Modem C", "{C}", true);
    server.DeviceProcessing(true);
    QCOMPARE(Devices()->EngineCount(), 2);
    QCOMPARE(server.operationRows().size(), 2);
    QCOMPARE(server.operationRows()[1].Caption, QString("Modem C"));
    QCOMPARE(server.startCaption(), QString("&Stop"));
    QVERIFY(!server.optionsEnabled() && !server.deleteEnabled() && !server.deleteAllEnabled());
    QVERIFY(server.addEnabled());

    THstStatusReport report = ServerTransferReport(Devices()->GetDevice(2));
    Devices()->PutSetting(2, dvkDevName, "Modem C renamed");
    server.OnDeviceStatus(report);
    QCOMPARE(server.operationRows()[1].Caption, QString("Modem C renamed"));
    QCOMPARE(server.operationRows()[1].User, QString("BOB"));
    QCOMPARE(server.operationRows()[1].Operation, QString("Transfer 38%"));
    QCOMPARE(server.operationRows()[1].File, QString("/in/a.txt"));
    report.Progress = 20;
    report.Message.clear();
    server.OnDeviceStatus(report);
    QCOMPARE(server.operationRows()[1].Operation, QString("Transfer 100%"));
    report.Total = 0;
    report.Operation = "Connect";
    server.OnDeviceStatus(report);
    QCOMPARE(server.operationRows()[1].Operation, QString("Connect"));

    // A device without a row changes no row.
    const QList<TfraServer::TOperRow> rows = server.operationRows();
    report.Device = Devices()->GetDevice(1);
    report.Message = "lost";
    server.OnDeviceStatus(report);
    QCOMPARE(server.operationRows().size(), rows.size());
    QCOMPARE(server.operationRows()[0].Operation, rows[0].Operation);
    QCOMPARE(ConsoleWorld::messages(server.sessionText()), QStringList{"[#2]: Receiving"});

    server.btStartClick();
    QCOMPARE(Devices()->EngineCount(), 0);
    QVERIFY(server.operationRows().isEmpty());
    QCOMPARE(server.startCaption(), QString("&Start"));
    QVERIFY(server.optionsEnabled() && server.deleteEnabled());
    // Stopping saves the trail, its last line being the stop.
    const QByteArray log = ReadFile(w.home.file("sessions.log"));
    QVERIFY(log.contains(": [#2]: Receiving\r\n"));
    QVERIFY(log.endsWith(": Host services stopped.\r\n"));
    QCOMPARE(server.sessionText().LineCount(), 0);
}

void TestConsoleEvents::clientStatus() {
    ConsoleWorld w(1);
    EngineFactories factories;
    TfraClient client(w.services());
    w.addDevice("Modem", "Dialer", "{D}");
    w.addDevice("Direct", "Other", "{O}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{D}");

    TRemStatusReport report = ClientTransferReport(Devices()->GetDevice(0), 300);
    client.OnDeviceStatus(report); // nothing runs yet: ignored
    QCOMPARE(client.status(), QString("Client service stopped."));
    QCOMPARE(client.sessionText().LineCount(), 0);

    client.btStartClick();
    QCOMPARE(Devices()->EngineCount(), 1);
    QCOMPARE(client.startCaption(), QString("&Stop"));
    client.OnDeviceStatus(report);
    QCOMPARE(client.status(), QString("Transfer"));
    QCOMPARE(client.attempt(), QString("2 / 5"));
    QCOMPARE(client.host(), QString("555"));
    QCOMPARE(client.job(), QString("17"));
    QCOMPARE(client.file(), QString("a.txt"));
    QCOMPARE(client.progressMax(), 200);
    QCOMPARE(client.progress(), 200);
    Put(report.Job, qkCommParam, QString());
    report.Total = 0;
    report.Message = "Connected";
    client.OnDeviceStatus(report);
    QCOMPARE(client.host(), QString("Dialer"));
    QCOMPARE(client.progressMax(), 100);
    QCOMPARE(client.progress(), 0);
    QCOMPARE(ConsoleWorld::messages(client.sessionText()),
             QStringList({"(100%) Sending", "Connected"}));

    client.btStartClick();
    QCOMPARE(Devices()->EngineCount(), 0);
    QCOMPARE(client.status(), QString("Client service stopped."));
    QVERIFY(client.attempt().isEmpty() && client.host().isEmpty() && client.job().isEmpty());
    QVERIFY(ReadFile(w.home.file("sessions.log")).contains(": (100%) Sending\r\n"));
}

void TestConsoleEvents::startStop() {
    ConsoleWorld w(1);
    EngineFactories factories;
    TfraClient client(w.services());
    w.addDevice("Direct", "Cable", "{D}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{D}");
    ConsoleWorld::pend({"/START"});
    client.ProcessClientParams();
    QCOMPARE(Devices()->EngineCount(), 1);
    QVERIFY(!Params().stopRequested);
    ConsoleWorld::pend({"/STOP"});
    client.ProcessClientParams();
    QCOMPARE(Devices()->EngineCount(), 0);
    QVERIFY(Params().stopRequested);
    // Auto-start is held back after "/STOP".
    w.home.settings().PutBool(CLI_AutoDelivery, true);
    client.Initialize();
    QCOMPARE(Devices()->EngineCount(), 0);
    Params().stopRequested = false;
    client.Initialize();
    QCOMPARE(Devices()->EngineCount(), 1);
    QCOMPARE(client.caption(), QString("Marrowline 1.00 - CLIENT"));
    QCOMPARE(client.trayHint(), QString("Marrowline 1.00 - CLIENT "));
    client.DeviceProcessing(false);
    QCOMPARE(Devices()->EngineCount(), 0);
}

void TestConsoleEvents::logExport() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        TfraClient client(w.services());
        TfraServer server(w.services());
        auto exportLog = [&]() {
            if (role == 1)
                client.btLogExpClick();
            else
                server.btLogExpClick();
        };
        exportLog(); // an empty log: nothing is asked
        QVERIFY(w.prompt.boxes.isEmpty());

        TLogRecord r;
        r.JobNo = 3;
        r.Done = true;
        r.Result = "ok";
        r.FileName = "f.txt";
        r.Method = "SEND";
        r.DestPath = "d\\";
        r.Submitted = 45000.5;
        r.Processed = 0;
        r.Attempt = 9;
        r.UserName = "BOB";
        r.CommName = "Cable";
        r.CommParam = "555";
        QVERIFY(Log()->LogEntry(r));
        r.JobNo = 4;
        r.Done = false;
        QVERIFY(Log()->LogEntry(r));

        const QString target = w.home.file("export.txt");
        QVERIFY(WriteFile(target, "old content that is longer than nothing"));
        w.prompt.fileAnswers << target;
        exportLog();
        QVERIFY(w.prompt.boxes.isEmpty());
        const QByteArray times = "\t 4.50005000000000E+0004\t 0.00000000000000E+0000\tBOB";
        const QByteArray expected =
            role == 1 ? "3\tYES\tok\tf.txt\tSEND\td\\" + times + "\tCable\t555\r\n" +
                            "4\tNO\tok\tf.txt\tSEND\td\\" + times + "\tCable\t555\r\n"
                      : "3\tYES\tok\tf.txt\tSEND\td\\" + times + "\t\r\n" +
                            "4\tNO\tok\tf.txt\tSEND\td\\" + times + "\t\r\n";
        QCOMPARE(ReadFile(target), expected);

        // The log file itself, however it is spelled, is never the target.
        const QByteArray logBytes = ReadFile(Log()->FileName);
        w.prompt.fileAnswers << w.home.path() + "./" + QFileInfo(Log()->FileName).fileName();
        exportLog();
        QCOMPARE(w.prompt.texts(), QStringList{"Default log file cannot be overwritten!"});
        QCOMPARE(ReadFile(Log()->FileName), logBytes);

        w.prompt.fileAnswers << w.home.file("no/such/folder/x.txt");
        exportLog();
        QCOMPARE(w.prompt.boxes.last().text, QString("Error exporting log file!"));
        QCOMPARE(w.prompt.boxes.last().buttons, TBoxButtons::Cancel);

        // A log longer than one read of the file is exported whole, in order.
        QByteArray more;
        for (int job = 100; job < 700; ++job) {
            r.JobNo = job;
            more += EncodeLogRecord(r);
        }
        QFile log(Log()->FileName);
        QVERIFY(log.open(QIODevice::Append));
        QCOMPARE(log.write(more), more.size());
        log.close();
        w.prompt.fileAnswers << target;
        exportLog();
        const QList<QByteArray> lines = ReadFile(target).split('\n');
        QCOMPARE(lines.size(), 2 + 600 + 1);
        for (int i : {2, 257, 258, 601})
            QVERIFY2(lines[i].startsWith(QByteArray::number(98 + i) + "\tNO\tok\t"), lines[i]);
    }
}

void TestConsoleEvents::queueDeletion() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    server.btDelAllClick(); // an empty queue: asked, nothing deleted
    QCOMPARE(w.prompt.texts(), QStringList{"Are you sure you want to empty all the queue?"});
    const TQueueItem a = queueJob("a.txt", "SEND", "NO", "BOB");
    const TQueueItem b = queueJob("b.txt", "SEND", "NO", "BOB");
    server.UpdateQueueList();
    server.setQueueSelection(1);
    w.prompt.answers << TBoxResult::No;
    server.lvQueueKeyDown(Qt::Key_Delete);
    QCOMPARE(Queue()->Count(), 2);
    QCOMPARE(w.prompt.boxes.last().text,
             "Are you sure you want to delete file # " + Get(b, qkNo) + " from the queue?");
    w.prompt.answers << TBoxResult::Yes;
    server.btJobDelClick();
    QCOMPARE(Queue()->Count(), 1);
    QVERIFY(!QFileInfo::exists(Queue()->JobFilePath(Get(b, qkNo))));
    QCOMPARE(server.queueRows().size(), 1);
    QCOMPARE(server.totalJobs(), QString("1"));
    w.prompt.answers << TBoxResult::Yes;
    server.btDelAllClick();
    QCOMPARE(Queue()->Count(), 0);
    QVERIFY(!QFileInfo::exists(Queue()->JobFilePath(Get(a, qkNo))));
    QCOMPARE(server.totalJobs(), QString("0"));
}

void TestConsoleEvents::jobAdd() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        w.addUser("BOB", "pw");
        TfraClient client(w.services());
        TfraServer server(w.services());
        QString shown;
        server.setEnqueueDialog([&](TQueueItem& job) {
            shown = Get(job, qkSrcFile); // the full path the operator chose
            return PrepareHostJob(w.services(), job, shown, "bob", "in");
        });
        client.setEnqueueDialog([&](TQueueItem& job) {
            shown = Get(job, qkSrcFile);
            Put(job, qkUser, "BOB");
            Put(job, qkPassw, ScramblePassword("pw"));
            return true;
        });
        auto add = [&]() { return role == 1 ? client.btJobAddClick() : server.btJobAddClick(); };
        const QString file = w.file("OUTBOX/S/a.txt", "abc");
        // Cancelled file prompt, then an unreadable file: nothing is queued.
        QVERIFY(!add());
        w.prompt.fileAnswers << w.home.file("OUTBOX/none.txt");
        QVERIFY(!add());
        QCOMPARE(w.prompt.texts(), QStringList{"Cannot open specified file."});
        w.prompt.fileAnswers << file;
        QVERIFY(add());
        QCOMPARE(shown, role == 1 ? QString("S\\a.txt") : file);
        QCOMPARE(Queue()->Count(), 1);
        QCOMPARE(Queue()->GetSetting(0, qkSrcFile), QString("S\\a.txt"));
        QCOMPARE(Queue()->GetSetting(0, qkUser), QString("BOB"));
        QVERIFY(QFileInfo::exists(Queue()->JobFilePath(Queue()->GetSetting(0, qkNo))));
        const QList<QStringList>& rows = role == 1 ? client.queueRows() : server.queueRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(role == 1 ? client.queueSelection() : server.queueSelection(), 0);
    }
}

void TestConsoleEvents::serverInitialize() {
    ConsoleWorld w(2);
    EngineFactories factories;
    // The user list is loaded by the console when nobody has loaded it yet.
    w.ctx().engines.users = nullptr;
    w.ctx().users.reset();
    QVERIFY(WriteFile(w.home.file("USERS/BOB.xus"), "[USER]\nukUser=BOB\n"));
    w.addDevice("Direct", "Cable", "{A}", true);
    w.home.settings().PutBool(SVR_AutoDelivery, true);
    TfraServer server(w.services());
    QSignalSpy notified(&server, &TfraServer::notificationRequested);
    server.Initialize();
    QVERIFY(Users() != nullptr);
    QCOMPARE(Users()->Count(), 1);
    QCOMPARE(server.caption(), QString("Marrowline 1.00 - SERVER"));
    QCOMPARE(server.iconRole(), RoleServer);
    QCOMPARE(Devices()->EngineCount(), 1);
    QCOMPARE(server.operationRows().size(), 1);
    server.ShowNotification();
    QCOMPARE(notified.count(), 1);
    QCOMPARE(ConsoleWorld::messages(server.sessionText()),
             QStringList{"New file(s) have arrived!"});
    server.DeviceProcessing(false);

    // "/START" on the command line with the automatic start on: the service runs afterwards
    // (the automatic start used to toggle it off again).
    w.ctx().params.entries = {QStringLiteral("/START")};
    server.Initialize();
    QCOMPARE(Devices()->EngineCount(), 1);
    QVERIFY(!ConsoleWorld::messages(server.sessionText()).contains("Host services stopped."));
    server.DeviceProcessing(false);
}

// The headless program: a second start hands its job to the running server, which queues it.
void TestConsoleEvents::headlessHandOver() {
    const QString bin = qEnvironmentVariable("MARROWLINE_BIN");
    if (bin.isEmpty()) QSKIP("MARROWLINE_BIN is not set (run through ctest)");
    TestHome home(2);
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=2\nMRL_Outbox=" +
                                                       home.file("OUTBOX").toUtf8() + "\n"));
    QVERIFY(WriteFile(home.file("USERS/BOB.xus"),
                      "[USER]\nukUser=BOB\nukOutbox=" + home.file("OUTBOX").toUtf8() + "\n"));
    QVERIFY(WriteFile(home.file("OUTBOX/job.txt"), "payload"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MARROWLINE_HOME", home.path());
    env.insert("MARROWLINE_HEADLESS", "1");
    QProcess server;
    server.setProcessEnvironment(env);
    // The program keeps signals ignored by whoever started the test; SIGTERM must end it.
    server.setChildProcessModifier([]() {
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
    });
    // The parameter makes the first instance say when it holds the instance lock.
    server.start(bin, {"/CLEARLOG"});
    QVERIFY(server.waitForStarted(10000));
    QString output;
    auto waitFor = [&](const QString& text) {
        return QTest::qWaitFor(
            [&]() {
                server.waitForReadyRead(50);
                output += QString::fromUtf8(server.readAllStandardOutput());
                return output.contains(text);
            },
            20000);
    };
    QVERIFY2(waitFor("CmdParam:> /CLEARLOG"), qPrintable(output));
    QProcess second;
    second.setProcessEnvironment(env);
    // A file named relative to the caller's folder, not to the running instance's.
    second.setWorkingDirectory(home.file("OUTBOX"));
    second.start(bin, {"job.txt", "bob", "/AUTODEL"});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(waitFor("File queued: job.txt"), qPrintable(output));
    ::kill(pid_t(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(20000));
    const QString jobs = QString::fromUtf8(ReadFile(home.file("QUEUE/1.xfh")));
    QVERIFY2(jobs.contains("qkSrcFile=job.txt\n") && jobs.contains("qkAutoDel=YES\n"),
             qPrintable(jobs));
    QVERIFY(ReadFile(home.file("sessions.log")).contains(": File queued: job.txt\r\n"));
}

QTEST_GUILESS_MAIN(TestConsoleEvents)
#include "events_test.moc"
