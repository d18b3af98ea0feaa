// The server engine on one end of a linesim cable, driven by a scripted client on the other end:
// framed commands written with FrameLine, replies read raw, files moved with our XMODEM engine.
#include "common/small_disk.h"
#include "common/test_home.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "engine/devices.h"
#include "engine/host_process.h"
#include "engine/link_protocol.h"
#include "jobs/queue.h"
#include "jobs/users.h"
#include "serial/comm.h"
#include "serial/modem_peer.h"
#include "serial/modems.h"
#include "serial/xmodem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

bool RunUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

// What the engine told its console.
class TestConsole : public IHostConsole {
public:
    struct Log {
        TQueueItem job;
        bool discard;
        QString result;
        bool done;
    };
    void OnDeviceStatus(THstStatusReport& report) override {
        if (!report.Message.isEmpty()) messages << report.Message;
        if (operations.isEmpty() || operations.last() != report.Operation)
            operations << report.Operation;
        if (onStatus) onStatus(report);
    }
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                      bool done) override {
        logs.append({job, discard, result, done});
    }
    void ShowNotification() override { ++notifications; }

    bool saw(const QString& message) const { return messages.contains(message); }
    bool sawStart(const QString& prefix) const {
        for (const QString& m : messages)
            if (m.startsWith(prefix)) return true;
        return false;
    }

    QStringList messages;
    QStringList operations; // each change of operation text
    QList<Log> logs;
    int notifications = 0;
    std::function<void(THstStatusReport&)> onStatus;
};

QString LinesimPath() {
    const QByteArray path = qgetenv("LINESIM_BIN");
    return path.isEmpty() ? QStringLiteral("linesim") : QString::fromLocal8Bit(path);
}

} // namespace

class HostEngineTest : public QObject {
    Q_OBJECT

private:
    // One whole set-up: a program folder, a cable whose ends are COM1 (server) and COM2 (the
    // scripted client), a user ALICE, a direct device on COM1 and its engine.
    std::unique_ptr<TestHome> mHome;
    std::unique_ptr<QProcess> mCable;
    std::unique_ptr<TUsersList> mUsers;
    TQueueList* mQueue = nullptr; // the context's
    std::unique_ptr<TDevicesList> mDevices;
    std::unique_ptr<TestConsole> mConsole;
    std::unique_ptr<TVaComm> mClient;
    std::unique_ptr<TVaXModem> mClientX;
    QByteArray mRx;
    int mClientEnd = 1; // exit code of the client's transfer; 1 while it runs
    QString mInbox, mOutbox;

    THostProcess* engine() {
        TCommDevice* device = mDevices ? mDevices->GetDevice(0) : nullptr;
        return device ? static_cast<THostProcess*>(device->Engine.get()) : nullptr;
    }

    bool startCable(const QStringList& options = {}) {
        mCable = std::make_unique<QProcess>();
        mCable->setProgram(LinesimPath());
        mCable->setArguments(QStringList{"cable"} + options +
                             QStringList{mHome->file("ports/COM1"), mHome->file("ports/COM2")});
        mCable->setStandardErrorFile(QProcess::nullDevice());
        mCable->start();
        QByteArray out;
        RunUntil(
            [&] {
                out += mCable->readAllStandardOutput();
                return out.contains('\n') || mCable->state() == QProcess::NotRunning;
            },
            10000);
        return out.startsWith("ready");
    }

    void startEngine(const QString& delay = "200") {
        mDevices->AddDevice();
        mDevices->PutSetting(0, dvkDevType, "Direct");
        mDevices->PutSetting(0, dvkDevName, "COM1");
        mDevices->PutSetting(0, dvkDevGUID, "COM1");
        mDevices->PutSetting(0, dvkDevParam, "COM1,115200,8,N,1");
        mDevices->PutSetting(0, dvkDevDelay, delay);
        mDevices->PutSetting(0, dvkDevHostActive, "YES");
        mDevices->StartHostProc(0);
    }

    void send(const QString& command) {
        mRx.clear();
        mClient->WriteText(FrameLine(command));
    }
    bool reply(const QString& text, int ms = 5000) {
        const QByteArray frame = FrameLine(text);
        const bool ok = RunUntil([&] { return mRx.contains(frame); }, ms);
        if (ok)
            mRx.clear();
        else
            qWarning() << "no" << text << "in" << mRx << "after" << mConsole->messages
                       << mHome->status();
        return ok;
    }
    // Nothing at all comes back within `ms`.
    bool silence(int ms = 600) {
        RunUntil([&] { return !mRx.isEmpty(); }, ms);
        return mRx.isEmpty();
    }
    bool logOn() {
        send("LOGON ALICE secret word");
        return reply("YES");
    }
    void startClientTransfer(TVaTransferMode mode, const QString& file) {
        mClientEnd = 1;
        mClientX->SetMode(mode);
        mClientX->SetFileName(file);
        mClientX->Start();
    }
    bool clientTransferEnded(int ms = 15000) {
        return RunUntil([&] { return mClientEnd != 1; }, ms);
    }
    // The transfer has ended and a received file's commit (in the background) with it.
    bool engineSettled() {
        return RunUntil(
            [&] { return !engine()->Transfer().InProgress() && !engine()->Committing(); }, 10000);
    }
    // A file of the client's own, outside the server's folders.
    QString clientFile(const QString& name, const QByteArray& bytes) {
        const QString path = mHome->file("client/" + name);
        WriteFile(path, bytes);
        return path;
    }
    int queueJob(const QString& user, const QString& file, const QString& dest = QString()) {
        mQueue->AddItem();
        const int i = mQueue->Count() - 1;
        mQueue->PutSetting(i, qkMethod, "SEND");
        mQueue->PutSetting(i, qkUser, user);
        mQueue->PutSetting(i, qkSrcFile, file);
        mQueue->PutSetting(i, qkDestPath, dest);
        mQueue->PutSetting(i, qkSize, "0");
        return i;
    }
    QStringList filesUnder(const QString& folder) {
        QStringList out;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(folder).relativeFilePath(it.next());
        out.sort();
        return out;
    }

private Q_SLOTS:
    void init() {
        mHome = std::make_unique<TestHome>(2);
        QVERIFY2(startCable(), "linesim did not start");
        mInbox = mHome->file("ALICE_IN");
        mOutbox = mHome->file("ALICE_OUT");
        QDir().mkpath(mInbox);
        QDir().mkpath(mOutbox);
        mHome->settings().PutStr(MRL_Outbox, mHome->file("GLOBAL_OUT"));
        QDir().mkpath(mHome->file("GLOBAL_OUT"));

        mUsers = std::make_unique<TUsersList>(mHome->settings(), mHome->sink());
        mUsers->AddItem();
        mUsers->PutSetting(0, ukUser, "ALICE");
        mUsers->PutSetting(0, ukPassw, ScramblePassword("secret word"));
        mUsers->PutSetting(0, ukUseGlobalInbox, "0");
        mUsers->PutSetting(0, ukUseGlobalOutbox, "0");
        mUsers->PutSetting(0, ukInbox, mInbox);
        mUsers->PutSetting(0, ukOutbox, mOutbox);
        mQueue = mHome->ctx().queue.get();
        mConsole = std::make_unique<TestConsole>();
        TEngineServices& services = mHome->ctx().engines;
        services.users = mUsers.get();
        services.hostConsole = mConsole.get();
        mDevices = std::make_unique<TDevicesList>(services);

        mClient = std::make_unique<TVaComm>();
        mClient->SetPortMapFolder(mHome->path());
        mClient->SetPortNum(2);
        mClient->SetBaudrate(br115200);
        mClientX = std::make_unique<TVaXModem>();
        mClientX->SetComm(mClient.get());
        mClientX->SetProtocol(XModem1K);
        // A start character sent before the server's transfer began is purged by it; the
        // receiver repeats it at each time-out.
        mClientX->SetTimeout(1000);
        mClientX->OnTransferEnd = [this](TVaProtocol*, int code) { mClientEnd = code; };
        mClient->OnRxBuf = [this](TVaComm*, const char* data, int n) { mRx.append(data, n); };
        mClient->Open();
    }

    void cleanup() {
        mDevices.reset(); // stops the engine
        mClientX.reset();
        mClient.reset();
        if (mCable) {
            mCable->terminate();
            if (!mCable->waitForFinished(5000)) mCable->kill();
        }
        mCable.reset();
        mQueue = nullptr;
        mUsers.reset();
        mConsole.reset();
        mHome.reset();
        qunsetenv("MARROWLINE_SESSION_TIMEOUT_MS");
        qunsetenv("MARROWLINE_WATCHDOG_MS");
    }

    void preparesDirectDeviceAndListens() {
        startEngine();
        QVERIFY(engine());
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(mConsole->saw("Preparing device..."));
        QVERIFY(mConsole->saw("Opening port COM1..."));
        QVERIFY(mConsole->saw("Port opened."));
        QVERIFY(mConsole->saw("Listening for command..."));
        QCOMPARE(engine()->Port().UserBaudrate(), 115200);
        QCOMPARE(mDevices->EngineCount(), 1);
    }

    // The step table online: the handler a forced step reaches, seen by what it says and the
    // Activity it leaves; a step with no handler online only takes the step.
    void stepTableOnline_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("activity");
        const int online = int(THstActivity::Online);
        const int stopped = int(THstActivity::Stopped);
        QTest::newRow("Stop stops") << int(THstStep::Stop) << "Device stopped." << stopped;
        QTest::newRow("Disconnect stops")
            << int(THstStep::Disconnect) << "Device stopped." << stopped;
        QTest::newRow("Connect prepares again")
            << int(THstStep::Connect) << "Opening port COM1..." << online;
        QTest::newRow("Start: none") << int(THstStep::Start) << QString() << online;
        QTest::newRow("Login: none without a log-on")
            << int(THstStep::Login) << QString() << online;
    }
    void stepTableOnline() {
        QFETCH(int, step);
        QFETCH(QString, shown);
        QFETCH(int, activity);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        mConsole->messages.clear();
        engine()->Execute(true, {THstStep(step)});
        QTRY_COMPARE_WITH_TIMEOUT(int(engine()->Activity()), activity, 5000);
        if (shown.isEmpty()) {
            QCOMPARE(int(engine()->Step()), step);
            QVERIFY(!mConsole->saw("Answering..."));
            QVERIFY(mConsole->messages.isEmpty());
        } else {
            QVERIFY(mConsole->saw(shown));
        }
    }

    void logon_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("good") << "LOGON ALICE secret word"
                              << "YES"
                              << "?LOGON ALICE **********";
        QTest::newRow("bad password") << "LOGON ALICE secret"
                                      << "NO"
                                      << "?LOGON ALICE **********";
        QTest::newRow("no password") << "LOGON ALICE"
                                     << "NO"
                                     << "?LOGON ALICE **********";
        QTest::newRow("unknown user") << "LOGON BOB secret word"
                                      << "NO"
                                      << "?LOGON BOB **********";
    }
    void logon() {
        QFETCH(QString, command);
        QFETCH(QString, answer);
        QFETCH(QString, shown);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        send(command);
        QVERIFY(reply(answer));
        QVERIFY(mConsole->saw(shown));
        QVERIFY(mConsole->saw(">>" + answer));
        // The password never shows.
        for (const QString& m : mConsole->messages)
            QVERIFY(!m.contains("secret"));
        QCOMPARE(engine()->Step(), answer == "YES" ? THstStep::File : THstStep::Login);
        if (answer == "YES") QCOMPARE(engine()->Session().User[ukUser].StrValue, QString("ALICE"));
    }

    void wrongChecksumIgnored() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QByteArray frame = FrameLine("LOGON ALICE secret word");
        frame[frame.size() - 2] = frame[frame.size() - 2] == '0' ? '1' : '0';
        mRx.clear();
        mClient->WriteText(frame);
        QVERIFY(silence());
        QVERIFY(!mConsole->sawStart("?LOGON"));
        // A lower-case checksum is not the checksum either.
        QByteArray lower = FrameLine("LOGON ALICE secret word").toLower();
        lower.replace("logon alice secret word", "LOGON ALICE secret word");
        if (lower != FrameLine("LOGON ALICE secret word")) {
            mClient->WriteText(lower);
            QVERIFY(silence());
        }
        // The same line framed properly, split across writes, is answered.
        const QByteArray good = FrameLine("LOGON ALICE secret word");
        mClient->WriteText(good.left(5));
        Delay(50);
        mClient->WriteText(good.mid(5));
        QVERIFY(reply("YES"));
    }

    void commandsBeforeLogonIgnored() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        send("PUT \"a.txt\" 10");
        QVERIFY(silence());
        QVERIFY(mConsole->saw("?PUT \"a.txt\" 10"));
        send("DIR");
        QVERIFY(silence());
        send("GET \"a.txt\"");
        QVERIFY(silence());
        send("RESULT");
        QVERIFY(silence());
        QVERIFY(filesUnder(mInbox).isEmpty());
    }

    void putReceivesIntoInbox_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("local");
        QTest::newRow("plain") << "a.bin" << 3000 << "a.bin";
        QTest::newRow("subfolder") << "sub\\deeper\\b.txt" << 1024 << "sub/deeper/b.txt";
        QTest::newRow("empty file") << "zero.dat" << 0 << "zero.dat";
    }
    void putReceivesIntoInbox() {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(QString, local);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QByteArray bytes = RandomBytes(size, 7);
        const QString source = clientFile("src.bin", bytes);
        send(PutCommand(QString(), name, QString::number(size)));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, source);
        QVERIFY(clientTransferEnded());
        QCOMPARE(mClientEnd, 0);
        QVERIFY(engineSettled());
        // Whole and exact: the padding of the last block is cut to the announced size.
        QCOMPARE(ReadFile(mInbox + "/" + local), bytes);
        QCOMPARE(filesUnder(mInbox), QStringList{local});
        send("RESULT");
        QVERIFY(reply("OK"));
        QCOMPARE(mConsole->logs.size(), 1);
        QCOMPARE(mConsole->logs[0].result, QString("Transfer successful."));
        QVERIFY(mConsole->logs[0].done);
        QCOMPARE(Get(mConsole->logs[0].job, qkMethod), QString("RECV"));
        QCOMPARE(Get(mConsole->logs[0].job, qkSrcFile), name);
        QVERIFY(mConsole->saw("Transfer done."));
        QCOMPARE(mConsole->notifications, 0); // SVR_PopupNotification is off
    }

    // The user's inbox is on a 200 KB file system: a file that fits (with the spare room) is
    // received; one that does not is answered "NO" at once, with the folder and its free space.
    void putRefusedWhenTheInboxCannotHoldIt() {
        const SmallDisk disk(mInbox, 200 * 1024);
        if (!disk.mounted) QSKIP(qPrintable(disk.why));
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QByteArray fits = RandomBytes(50 * 1024, 3);
        send(PutCommand(QString(), "fits.bin", QString::number(fits.size())));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, clientFile("fits.bin", fits));
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        QCOMPARE(ReadFile(mInbox + "/fits.bin"), fits);
        send("RESULT");
        QVERIFY(reply("OK"));

        send(PutCommand(QString(), "big.bin", "300000"));
        QVERIFY(reply("NO", 2000));
        bool shown = false;
        for (const QString& m : mConsole->messages)
            shown = shown ||
                    m.contains(QRegularExpression(
                        "Error! Not enough free space in " + QRegularExpression::escape(mInbox) +
                        "/? for big.bin: 300000 bytes announced, \\d+ bytes free\\.$"));
        QVERIFY2(shown, qPrintable(mConsole->messages.join(" | ")));
        QVERIFY(silence(500));
        QVERIFY(!engine()->Transfer().InProgress());
        QCOMPARE(filesUnder(mInbox), QStringList{"fits.bin"});
        QCOMPARE(mConsole->logs.size(), 1); // the refusal is no job
    }

    void putReplacesOlderFileAndNotifies() {
        mHome->settings().PutBool(SVR_PopupNotification, true);
        WriteFile(mInbox + "/r.txt", "old contents");
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QByteArray bytes = RandomBytes(1500, 3);
        send(PutCommand("", "r.txt", "1500"));
        QVERIFY(reply("YES"));
        // Until the new file is whole, the old one stays as it was.
        QCOMPARE(ReadFile(mInbox + "/r.txt"), QByteArray("old contents"));
        startClientTransfer(tmUpload, clientFile("r.txt", bytes));
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        QCOMPARE(ReadFile(mInbox + "/r.txt"), bytes);
        QCOMPARE(filesUnder(mInbox), QStringList{"r.txt"});
        QCOMPARE(mConsole->notifications, 1);
    }

    // The caller's RESULT, sent the moment its transfer ends, waits for the received file to be
    // committed (in the background): when "OK" comes, the file is whole under its final name and
    // its job is logged. A large file makes the commit's sync take a while.
    void resultDuringCommitWaitsForTheFile() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QByteArray bytes = RandomBytes(400000, 13);
        send(PutCommand("", "big.bin", QString::number(bytes.size())));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, clientFile("big.bin", bytes));
        QVERIFY(RunUntil([&] { return mClientEnd != 1 || engine()->Committing(); }, 30000));
        send("RESULT");
        QVERIFY(reply("OK"));
        QCOMPARE(filesUnder(mInbox), QStringList{"big.bin"});
        QCOMPARE(ReadFile(mInbox + "/big.bin"), bytes);
        QCOMPARE(mConsole->logs.size(), 1);
        QVERIFY(mConsole->logs[0].done);
        QVERIFY(clientTransferEnded());
        QCOMPARE(mClientEnd, 0);
    }

    void putLongerThanAnnouncedIsCut() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QByteArray bytes = RandomBytes(2500, 11);
        send(PutCommand("", "cut.bin", "1000"));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, clientFile("cut.bin", bytes));
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        QCOMPARE(ReadFile(mInbox + "/cut.bin"), bytes.left(1000));
        send("RESULT");
        QVERIFY(reply("OK"));
    }

    void putShorterThanAnnouncedIsDeleted() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(PutCommand("", "short.bin", "5000"));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, clientFile("short.bin", RandomBytes(1200, 5)));
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        QVERIFY(mConsole->saw("File error: " + TransferErrorText(-18)));
        QVERIFY(filesUnder(mInbox).isEmpty());
        QCOMPARE(mConsole->logs.size(), 1);
        QCOMPARE(mConsole->logs[0].result, QString("File transfer error."));
        QVERIFY(!mConsole->logs[0].done);
        QCOMPARE(engine()->Session().ResultCode, -18);
        send("RESULT");
        QVERIFY(reply("FAIL"));
    }

    void partialTransferNeverUnderFinalName() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QString final = mInbox + "/big.bin";
        bool finalSeenEarly = false;
        bool partSeen = false;
        mConsole->onStatus = [&](THstStatusReport& report) {
            if (report.Progress > 0 && report.Operation == "Transfer") {
                finalSeenEarly = finalSeenEarly || QFileInfo::exists(final);
                partSeen = partSeen || !filesUnder(mInbox).isEmpty();
            }
        };
        send(PutCommand("", "big.bin", "200000"));
        QVERIFY(reply("YES"));
        startClientTransfer(tmUpload, clientFile("big.bin", RandomBytes(200000, 9)));
        // Cut the line half-way: the client gives up.
        QVERIFY(RunUntil([&] { return engine()->Report().Progress > 20000; }, 15000));
        mClientX->Cancel();
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        mConsole->onStatus = nullptr;
        QVERIFY(partSeen);
        QVERIFY(!finalSeenEarly);
        QVERIFY(filesUnder(mInbox).isEmpty());
        QCOMPARE(mConsole->logs.size(), 1);
        QCOMPARE(mConsole->logs[0].result, QString("File transfer error."));
        send("RESULT");
        QVERIFY(reply("FAIL"));
    }

    void putRefused_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message");
        QTest::newRow("parent") << "PUT \"..\\evil.txt\" 5"
                                << "Error! Destination path cannot be created: ";
        QTest::newRow("parent inside") << "PUT \"a\\..\\..\\evil.txt\" 5"
                                       << "Error! Destination path cannot be created: ";
        QTest::newRow("absolute") << "PUT \"/tmp/evil.txt\" 5"
                                  << "Error! Destination path cannot be created: ";
        QTest::newRow("empty name") << "PUT \"\" 5"
                                    << "Invalid file request received.";
        QTest::newRow("no size") << "PUT \"x.txt\""
                                 << "Invalid file request received.";
        QTest::newRow("size not a number") << "PUT \"x.txt\" 12ab"
                                           << "Invalid file request received.";
        QTest::newRow("no closing quote") << "PUT \"x.txt 5"
                                          << "Invalid file request received.";
    }
    void putRefused() {
        QFETCH(QString, command);
        QFETCH(QString, message);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        const QStringList before = filesUnder(mHome->path());
        send(command);
        QVERIFY(reply("NO"));
        bool shown = false;
        for (const QString& m : mConsole->messages)
            shown = shown || m.contains(message);
        QVERIFY2(shown, qPrintable(mConsole->messages.join(" | ")));
        QVERIFY(silence(300));
        QCOMPARE(filesUnder(mHome->path()), before);
        QVERIFY(!engine()->Transfer().InProgress());
    }

    void getServesQueuedFile() {
        const QByteArray bytes = RandomBytes(4000, 21);
        WriteFile(mOutbox + "/out/report.txt", bytes);
        const int job = queueJob("ALICE", "out\\report.txt");
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(GetCommand("out\\report.txt"));
        QVERIFY(reply("YES"));
        QCOMPARE(mQueue->GetSetting(job, qkSize), QString("4000"));
        const QString target = mHome->file("client/got.bin");
        QDir().mkpath(mHome->file("client"));
        startClientTransfer(tmDownload, target);
        QVERIFY(clientTransferEnded());
        QCOMPARE(mClientEnd, 0);
        QVERIFY(engineSettled());
        QCOMPARE(ReadFile(target).left(4000), bytes);
        QTRY_COMPARE_WITH_TIMEOUT(mConsole->logs.size(), 1, 5000);
        QCOMPARE(mConsole->logs[0].result, QString("Transfer successful."));
        QVERIFY(mConsole->logs[0].done);
        QCOMPARE(Get(mConsole->logs[0].job, qkNo), mQueue->GetSetting(job, qkNo));
        QVERIFY(mConsole->sawStart("Sending: out\\report.txt (4000 bytes)"));
        QCOMPARE(mConsole->notifications, 0);
    }

    // Two users with a job of the same name: a GET serves the caller's own job only, and the
    // other user's job stays queued for that user.
    void getTakesOnlyTheCallersJob() {
        WriteFile(mOutbox + "/same.bin", "alice's");
        const QString bobOut = mHome->file("BOB_OUT");
        WriteFile(bobOut + "/same.bin", "bob's");
        mUsers->AddItem();
        mUsers->PutSetting(1, ukUser, "BOB");
        mUsers->PutSetting(1, ukPassw, ScramblePassword("bob pw"));
        mUsers->PutSetting(1, ukUseGlobalInbox, "0");
        mUsers->PutSetting(1, ukUseGlobalOutbox, "0");
        mUsers->PutSetting(1, ukInbox, mHome->file("BOB_IN"));
        mUsers->PutSetting(1, ukOutbox, bobOut);
        const QString bobNo = "7", aliceNo = "8";
        mQueue->PutSetting(queueJob("BOB", "same.bin"), qkNo, bobNo); // found first by name
        mQueue->PutSetting(queueJob("ALICE", "same.bin"), qkNo, aliceNo);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(GetCommand("same.bin"));
        QVERIFY(reply("YES"));
        const QString target = mHome->file("client/got.bin");
        QDir().mkpath(mHome->file("client"));
        startClientTransfer(tmDownload, target);
        QVERIFY(clientTransferEnded());
        QCOMPARE(mClientEnd, 0);
        QVERIFY(engineSettled());
        QCOMPARE(ReadFile(target).left(7), QByteArray("alice's"));
        QTRY_COMPARE_WITH_TIMEOUT(mConsole->logs.size(), 1, 5000);
        QCOMPARE(Get(mConsole->logs[0].job, qkNo), aliceNo);
        QCOMPARE(Get(mConsole->logs[0].job, qkUser), QString("ALICE"));
        bool bobStillQueued = false;
        for (int i = 0; i < mQueue->Count(); ++i)
            bobStillQueued = bobStillQueued || mQueue->GetSetting(i, qkNo) == bobNo;
        QVERIFY(bobStillQueued);
    }

    void getRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<QString>("logged");
        QTest::newRow("not queued") << "nothing.txt" << false << QString();
        QTest::newRow("queued, file gone") << "gone.txt" << true << "Queued file not found.";
        QTest::newRow("parent") << "..\\ALICE_IN\\x.txt" << true << QString();
        // A queued job that names a file outside the outbox can never be served.
        QTest::newRow("absolute") << "/etc/hostname" << true << "Queued file not found.";
    }
    void getRefused() {
        QFETCH(QString, name);
        QFETCH(bool, queued);
        QFETCH(QString, logged);
        WriteFile(mInbox + "/x.txt", "private");
        if (queued) queueJob("ALICE", name);
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(GetCommand(name));
        QVERIFY(reply("NO"));
        QVERIFY(mConsole->saw("Requested file denied: " + name));
        QVERIFY(!engine()->Transfer().InProgress());
        if (logged.isEmpty()) {
            QVERIFY(mConsole->logs.isEmpty());
        } else {
            QCOMPARE(mConsole->logs.size(), 1);
            QVERIFY(mConsole->logs[0].discard);
            QCOMPARE(mConsole->logs[0].result, logged);
        }
    }

    void getGlobalAndCrc() {
        WriteFile(mHome->file("GLOBAL_OUT/g.txt"), "global file");
        WriteFile(mHome->file("GLOBAL_OUT/g.crc"), "1A2B3C4D\r\nsecond line\r\n");
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send("CHKCRC /G \"g.crc\"");
        QVERIFY(reply("1A2B3C4D"));
        send("CHKCRC \"g.crc\"");
        QVERIFY(reply("NO"));
        QVERIFY(mConsole->saw("Requested file CRC denied: g.crc"));
        send("CHKCRC /G \"missing.crc\"");
        QVERIFY(reply("NO"));
        QVERIFY(mConsole->saw("Global CRC file not found."));
        send("GET /G \"g.txt\"");
        QVERIFY(reply("YES"));
        const QString target = mHome->file("client/g.txt");
        QDir().mkpath(mHome->file("client"));
        startClientTransfer(tmDownload, target);
        QVERIFY(clientTransferEnded());
        QVERIFY(engineSettled());
        QVERIFY(ReadFile(target).startsWith("global file"));
        send("GET /G \"..\\ALICE_OUT\\x\"");
        QVERIFY(reply("NO"));
    }

    void dirListsQueuedFiles() {
        WriteFile(mOutbox + "/one.txt", "12345");
        WriteFile(mOutbox + "/two words.bin", RandomBytes(1234, 1));
        queueJob("ALICE", "one.txt", "DEST");
        queueJob("BOB", "one.txt"); // another user's job
        queueJob("ALICE", "two words.bin");
        queueJob("ALICE", "vanished.txt"); // its file is gone: dropped from the list
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send("DIR");
        QVERIFY(reply("YES"));
        const QString target = mHome->file("client/DIR.LST");
        QDir().mkpath(mHome->file("client"));
        startClientTransfer(tmDownload, target);
        QVERIFY(clientTransferEnded());
        QCOMPARE(mClientEnd, 0);
        QVERIFY(engineSettled());
        const QByteArray expected =
            DirListText({{"one.txt", "5", "DEST\\"}, {"two words.bin", "1234", ""}});
        const QByteArray got = ReadFile(target);
        QCOMPARE(got.left(expected.size()), expected);
        QList<TDirEntry> entries;
        QVERIFY(ParseDirList(got, &entries));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1].name, QString("two words.bin"));
        QCOMPARE(mQueue->GetSetting(0, qkDestPath), QString("DEST\\"));
        QVERIFY(mConsole->saw("DIR list sent."));
        QVERIFY(!QFileInfo::exists(mOutbox + "/DIR.LST"));
        // The vanished file's job went to the console as discarded.
        QCOMPARE(mConsole->logs.size(), 1);
        QVERIFY(mConsole->logs[0].discard);
        QCOMPARE(mConsole->logs[0].result, QString("Queued file not found."));
        QCOMPARE(Get(mConsole->logs[0].job, qkSrcFile), QString("vanished.txt"));
    }

    void dirBufferedAndEmpty() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send("DIR");
        QVERIFY(reply("NO"));
        QVERIFY(mConsole->saw("DIR list empty."));
        send("DIR /B");
        QVERIFY(reply("NO"));

        WriteFile(mOutbox + "/a.txt", "a");
        WriteFile(mOutbox + "/b.txt", "bb");
        queueJob("ALICE", "a.txt");
        queueJob("ALICE", "b.txt");
        send("DIR /B");
        const QByteArray expected = FrameLine("\"a.txt\"") + FrameLine("\"b.txt\"") + FrameLine("");
        QVERIFY(RunUntil([&] { return mRx.contains(expected); }, 5000));
        QVERIFY(mConsole->saw("Using buffer transfer..."));
        QVERIFY(mConsole->saw("DIR list sent."));
        QVERIFY(!QFileInfo::exists(mOutbox + "/DIR.LST"));
    }

    void resultBeforeAnyTransferAndLogoff() {
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send("RESULT");
        QVERIFY(reply("OK"));
        QVERIFY(mConsole->saw("Sending confirmation: OK"));
        mConsole->messages.clear();
        send("LOGOFF");
        QVERIFY(RunUntil([&] { return mConsole->saw("Listening for command..."); }, 5000));
        QVERIFY(mConsole->saw("?LOGOFF"));
        QVERIFY(mConsole->saw("Closing COM port..."));
        // A new session must log on again.
        send("DIR");
        QVERIFY(silence());
        QVERIFY(logOn());
    }

    void sessionTimeoutLogsOpenTransfer() {
        qputenv("MARROWLINE_SESSION_TIMEOUT_MS", "1500");
        startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(PutCommand("", "never.bin", "100"));
        QVERIFY(reply("YES"));
        // The client never sends: the session times out and the job is logged as failed.
        QVERIFY(RunUntil([&] { return mConsole->saw("Session timeout!"); }, 6000));
        QVERIFY(engineSettled());
        QCOMPARE(mConsole->logs.size(), 1);
        QCOMPARE(mConsole->logs[0].result, QString("File transfer error."));
        QCOMPARE(Get(mConsole->logs[0].job, qkSrcFile), QString("never.bin"));
        QVERIFY(filesUnder(mInbox).isEmpty());
        // The device is prepared again and listens.
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        // An idle session that times out has nothing to log.
        QVERIFY(logOn());
        mConsole->messages.clear();
        QVERIFY(RunUntil([&] { return mConsole->saw("Session timeout!"); }, 6000));
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QCOMPARE(mConsole->logs.size(), 1);
    }

    void modemAnswersRingAndServes() {
        TModemsList& modems = *mHome->ctx().modems;
        modems.AddModem();
        modems.PutSetting(0, mdkDefaultInitialization, "ATZE0");
        modems.PutSetting(0, mdkCommandPrefix, "AT");
        modems.PutSetting(0, mdkSupportsErrorControl, "YES");
        modems.PutSetting(0, mdkUseECC, "YES");
        modems.PutSetting(0, mdkErrorControlOn, "&Q5");
        modems.PutSetting(0, mdkAAMode, "2");
        ModemPeer peer;
        QVERIFY(peer.IsValid());
        QDir().mkpath(mHome->file("ports"));
        QVERIFY(QFile::link(peer.SlavePath(), mHome->file("ports/COM3")));
        peer.OnCommand("ATZE0\r", "\r\nOK\r\n");
        peer.OnCommand("AT&Q5\r", "\r\nOK\r\n");
        peer.OnCommand("ATA\r", "\r\nCONNECT 33600\r\n");
        mDevices->AddDevice();
        mDevices->PutSetting(0, dvkDevType, "Modem");
        mDevices->PutSetting(0, dvkDevGUID, modems.GetSetting(0, mdkGUID));
        mDevices->PutSetting(0, dvkDevParam, "COM3,57600");
        mDevices->PutSetting(0, dvkDevDelay, "200");
        mDevices->StartHostProc(0);
        QVERIFY(RunUntil([&] { return peer.Received().contains("AT&Q5\r"); }, 8000));
        QVERIFY(mConsole->sawStart("Initializing modem (" + modems.GetSetting(0, mdkGUID) + ")"));
        QVERIFY(mConsole->saw("Modem initialized."));
        QVERIFY(engine()->Port().FlowControl().OutCtsFlow());
        QCOMPARE(engine()->Activity(), THstActivity::Waiting);

        peer.Send("\r\nRING\r\n");
        QVERIFY(RunUntil([&] { return engine()->Activity() == THstActivity::Online; }, 8000));
        QVERIFY(mConsole->operations.contains("Answering..."));
        QVERIFY(mConsole->saw("CONNECT 33600"));
        QVERIFY(peer.Received().contains("ATA\r"));

        peer.ClearReceived();
        peer.Send(FrameLine("LOGON ALICE secret word"));
        QVERIFY(RunUntil([&] { return peer.Received().contains(FrameLine("YES")); }, 5000));

        // The caller hangs up: the device is prepared again and waits for the next call.
        mConsole->messages.clear();
        peer.ClearReceived();
        peer.Send("\r\nNO CARRIER\r\n");
        // Initialised again: the init string and the extra command each confirmed.
        QVERIFY(
            RunUntil([&] { return mConsole->messages.count("Modem initialized.") == 2; }, 8000));
        QVERIFY(peer.Received().contains("AT&Q5\r"));
        QVERIFY(mConsole->saw("No carrier."));
        QCOMPARE(engine()->Activity(), THstActivity::Waiting);

        // A call that fails before it connects also prepares the modem again.
        peer.ClearRules();
        peer.OnCommand("ATZE0\r", "\r\nOK\r\n");
        peer.OnCommand("AT&Q5\r", "\r\nOK\r\n");
        peer.OnCommand("ATA\r", "\r\nNO CARRIER\r\n");
        mConsole->messages.clear();
        peer.ClearReceived();
        peer.Send("\r\nRING\r\n");
        QVERIFY(
            RunUntil([&] { return mConsole->messages.count("Modem initialized.") == 2; }, 8000));
        const QByteArray seen = peer.Received();
        QVERIFY(seen.indexOf("ATA\r") >= 0);
        QVERIFY(seen.indexOf("ATZE0\r") > seen.indexOf("ATA\r"));
        QCOMPARE(engine()->Activity(), THstActivity::Waiting);
        mDevices.reset();
    }

    void stopDuringWaitBeforeReceiving() {
        // The server waits (delay / 2 twice) between its "YES" and the transfer; the engine is
        // destroyed during that wait and the step that waited must not touch it afterwards.
        startEngine("3000");
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        // Everything here runs on one thread: what happens during the server's wait must be
        // scheduled before the request that starts it.
        QTimer::singleShot(600, [this] { mDevices->StopHostProc(0); });
        send(PutCommand("", "late.bin", "10"));
        QVERIFY(RunUntil([&] { return engine() == nullptr; }, 5000));
        QVERIFY(mRx.contains(FrameLine("YES")));
        Delay(3500); // past the end of the wait
        QCOMPARE(mDevices->EngineCount(), 0);
        QVERIFY(filesUnder(mInbox).isEmpty());
        QVERIFY(!mConsole->sawStart("Receiving: "));
        QVERIFY(mConsole->saw("Device stopped."));
    }

    void sessionTimeoutDuringWaitBeforeReceiving() {
        // The session times out while the server waits between its "YES" and the transfer; the
        // device is prepared again at once (a direct cable is online again right away), and the
        // step that waited must not start its transfer in the new session.
        qputenv("MARROWLINE_SESSION_TIMEOUT_MS", "400");
        startEngine("3000");
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
        send(PutCommand("", "late.bin", "10"));
        QVERIFY(RunUntil([&] { return mConsole->saw("Session timeout!"); }, 5000));
        Delay(500);
        QVERIFY(!mConsole->sawStart("Receiving: "));
        QVERIFY(!engine()->Transfer().InProgress());
        QCOMPARE(mConsole->logs.size(), 1);
        QCOMPARE(mConsole->logs[0].result, QString("File transfer error."));
        QCOMPARE(Get(mConsole->logs[0].job, qkSrcFile), QString("late.bin"));
        QVERIFY(filesUnder(mInbox).isEmpty());
        QVERIFY(mHome->status().filter("!THostProcess").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(engine()->Activity(), THstActivity::Online, 5000);
        QVERIFY(logOn());
    }

    void missingPortStopsAndStopDestroys() {
        qputenv("MARROWLINE_WATCHDOG_MS", "300");
        // The desktop's boxes: one per fault, not one per attempt.
        mHome->ctx().engines.alerts = &mHome->prompt();
        mDevices = std::make_unique<TDevicesList>(mHome->ctx().engines);
        mDevices->AddDevice();
        mDevices->PutSetting(0, dvkDevType, "Direct");
        mDevices->PutSetting(0, dvkDevGUID, "COM97");
        mDevices->PutSetting(0, dvkDevParam, "COM97,fast");
        mDevices->StartHostProc(0);
        QVERIFY(engine());
        QCOMPARE(engine()->Activity(), THstActivity::Stopped);
        QVERIFY(mConsole->saw("Device stopped."));
        QVERIFY(mHome->status().filter(QRegularExpression("^!THostProcess\\.DoConnect: ")).size() ==
                1);
        QVERIFY(mHome->status().contains("'fast' is not a valid integer value"));
        // The watchdog wakes a stopped device and tries again.
        QVERIFY(RunUntil([&] { return mConsole->saw("Session wake-up."); }, 3000));
        QVERIFY(RunUntil(
            [&] {
                return mHome->status()
                           .filter(QRegularExpression("^!THostProcess\\.DoConnect: "))
                           .size() >= 2;
            },
            3000));
        QCOMPARE(engine()->Activity(), THstActivity::Stopped);
        // The port number was fixed: the device is missing, and the line says where COM97 leads.
        mDevices->PutSetting(0, dvkDevParam, "COM97,115200");
        const int before = mHome->status().size();
        QVERIFY(RunUntil([&] { return mHome->status().size() > before + 4; }, 3000));
        const QStringList missing = mHome->status().mid(before).filter(
            "!THostProcess.DoConnect: Specified device not found (COM97). COM97 opens /dev/ttyS96 "
            "(there is no link ");
        QVERIFY2(missing.size() >= 2, qPrintable(mHome->status().mid(before).join('\n')));
        QCOMPARE(mHome->prompt().texts().filter("Specified device not found (COM97).").size(), 1);
        // Another fault gets a box of its own.
        QVERIFY(QDir().mkpath(mHome->file("ports")));
        QVERIFY(QFile::link("/dev/serial/by-id/usb-Unplugged-if00", mHome->file("ports/COM97")));
        QVERIFY(RunUntil([&] { return mHome->prompt().boxes.size() == 2; }, 3000));
        QVERIFY2(mHome->prompt().boxes.last().text.contains(
                     "ports/COM97 leads to /dev/serial/by-id/usb-Unplugged-if00, which does not "
                     "exist (is the adapter plugged in?)."),
                 qPrintable(mHome->prompt().boxes.last().text));
        QVERIFY(!RunUntil([&] { return mHome->prompt().boxes.size() > 2; }, 1000));
        QCOMPARE(mHome->prompt().boxes.last().icon, TBoxIcon::Error);
        qunsetenv("MARROWLINE_WATCHDOG_MS");
        mDevices->StopHostProc(0);
        QCOMPARE(mDevices->EngineCount(), 0);
        QVERIFY(!engine());
    }
};

QTEST_GUILESS_MAIN(HostEngineTest)
#include "host_engine_test.moc"
