// The client engine against a scripted server on the far end of a virtual cable: real port,
// real framed lines, real XMODEM-1K transfers in both directions.
#include "common/small_disk.h"
#include "common/test_home.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "engine/devices.h"
#include "engine/link_protocol.h"
#include "engine/rem_process.h"
#include "jobs/queue.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "serial/comm.h"
#include "serial/xmodem.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

bool RunUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

QByteArray RandomBytes(int size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

// `linesim cable` with its ends published as AppDir/ports/COM5 (the engine) and COM6 (the peer).
class TCable {
public:
    ~TCable() {
        if (mProcess.state() == QProcess::NotRunning) return;
        mProcess.terminate();
        if (!mProcess.waitForFinished(5000)) mProcess.kill();
        mProcess.waitForFinished(2000);
    }
    bool Start(const QString& home) {
        const QByteArray bin = qgetenv("LINESIM_BIN");
        mProcess.setProgram(bin.isEmpty() ? QStringLiteral("linesim")
                                          : QString::fromLocal8Bit(bin));
        mProcess.setArguments({"cable", home + "ports/COM5", home + "ports/COM6"});
        mProcess.setStandardErrorFile(QProcess::nullDevice());
        mProcess.start();
        QByteArray out;
        RunUntil(
            [&] {
                out += mProcess.readAllStandardOutput();
                return out.contains('\n') || mProcess.state() == QProcess::NotRunning;
            },
            10000);
        return out.startsWith("ready");
    }

private:
    QProcess mProcess;
};

// The server side, scripted: answers framed commands as told and runs XMODEM with our engine.
class TPeer {
public:
    QStringList commands; // every valid command line received (without checksum)
    QList<QByteArray> rawCommands; // the same, as bytes
    QString folder;       // where PUT files are received and GET files are served from
    QByteArray dirList;   // sent for the first "DIR"s (empty: "NO")
    int dirListsLeft = 1; // how many "DIR"s get the list before the answer becomes "NO"
    bool refuseLogon = false;
    bool refusePut = false;
    bool failResult = false;
    int ignoreLogons = 0; // the first n log-ons get no answer
    // Replies go out in two pieces, the checksum and CR this many ms after the word (a line
    // that delivers a frame in parts); transfers start only after the whole frame.
    int replyTailMs = 0;
    bool ignoreDirs = false;
    bool cutGets = false; // every GET transfer is cancelled after its first block
    bool promptStart = false; // transfers start the moment the reply is written
    // How the peer answers the feature question: -1 not at all (a plain server), else after
    // this many ms, offering `offer`.
    int featuresAfterMs = -1;
    QString offer = "resume";
    int putsReceived = 0;
    int timeouts = 0; // time-outs of the peer's own transfers
    int lastCode = 1;
    QString lastPut; // local path of the last received file
    qint64 lastPutSize = 0;

    TPeer() {
        mXModem.SetProtocol(XModem1K);
        mXModem.SetTimeout(5000);
        mXModem.SetComm(&mPort);
        mXModem.OnTransferEnd = [this](TVaProtocol*, int code) { transferEnded(code); };
        mXModem.OnError = [this](TVaProtocol*, int code, int) { timeouts += code == -1; };
        mXModem.OnPacketEvent = [this](TVaXYModem*, int, qint64) {
            if (cutGets && mServingGet) mXModem.Cancel();
        };
        mPort.SetPortNum(6);
        mPort.OnRxBuf = [this](TVaComm*, const char* data, int count) {
            if (mXModem.InProgress()) return;
            for (const TReceivedLine& line : mLines.Feed(QByteArray(data, count))) {
                if (!line.checksumOk) continue;
                rawCommands << line.bytes.chopped(2);
                handle(DecodeLineText(line.bytes.chopped(2)));
            }
        };
    }
    ~TPeer() {
        mPort.OnRxBuf = nullptr;
        mXModem.OnTransferEnd = nullptr;
        mXModem.OnError = nullptr;
        mXModem.OnPacketEvent = nullptr;
    }
    // Opens COM6 of the given program folder.
    void Open(const QString& programFolder) {
        mPort.SetPortMapFolder(programFolder);
        mPort.Open();
    }
    bool Busy() const { return mXModem.InProgress(); }
    int Count(const QString& prefix) const {
        int n = 0;
        for (const QString& c : commands)
            n += c.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    void reply(const QString& text) {
        mLines.Discard();
        const QByteArray frame = FrameLine(text);
        if (replyTailMs <= 0) {
            mPort.WriteText(frame);
            return;
        }
        const qsizetype head = 1 + text.size();
        mPort.WriteText(frame.left(head));
        WaitFor([this] { return mPort.OutputDrained(); }, 500);
        QTimer::singleShot(replyTailMs, [this, tail = frame.mid(head)] { mPort.WriteText(tail); });
    }
    void startLater(TVaTransferMode mode, const QString& path) {
        mXModem.SetMode(mode);
        mXModem.SetFileName(path);
        if (promptStart) {
            // A receiver's start character follows the reply after a moment, while the client
            // still waits before its own start.
            mXModem.Arm();
            QTimer::singleShot(20, [this] { mXModem.Start(); });
            return;
        }
        QTimer::singleShot(30 + replyTailMs, [this] {
            WaitFor([this] { return mPort.OutputDrained(); }, 500);
            mXModem.Start();
        });
    }
    void handle(const QString& command) {
        commands << command;
        if (command == "XFEATURES" && featuresAfterMs >= 0) {
            QTimer::singleShot(featuresAfterMs, &mPort, [this] {
                reply(QString("XFEATURES " + offer).trimmed());
            });
            return;
        }
        if (command.startsWith("XUSE") && featuresAfterMs >= 0) {
            reply(command);
            return;
        }
        if (command.startsWith("LOGON ")) {
            if (ignoreLogons > 0) {
                --ignoreLogons;
                return;
            }
            reply(refuseLogon ? "NO" : "YES");
        } else if (command.startsWith("PUT ")) {
            const TPutRequest put = ParsePut(command + Checksum(command));
            if (refusePut || !put.valid) return reply("NO");
            lastPut = folder + NamePart(put.name);
            lastPutSize = put.size.toLongLong();
            QFile::remove(lastPut);
            mReceiving = true;
            reply("YES");
            startLater(tmDownload, lastPut);
        } else if (command == "RESULT") {
            reply(!failResult && lastCode == 0 ? "OK" : "FAIL");
        } else if (command == "DIR") {
            if (ignoreDirs) return;
            if (dirList.isEmpty() || dirListsLeft <= 0) return reply("NO");
            --dirListsLeft;
            const QString path = folder + "DIR.LST";
            WriteFile(path, dirList);
            mReceiving = false;
            reply("YES");
            startLater(tmUpload, path);
        } else if (command.startsWith("GET ")) {
            const TGetRequest get = ParseGet(command + Checksum(command));
            const QString path = folder + get.name;
            if (!QFileInfo::exists(path)) return reply("NO");
            mReceiving = false;
            mServingGet = true;
            reply("YES");
            startLater(tmUpload, path);
        }
    }
    void transferEnded(int code) {
        lastCode = code;
        mServingGet = false;
        if (!mReceiving || code != 0) return;
        ++putsReceived;
        QFile file(lastPut);
        if (file.size() < lastPutSize) lastCode = -18;
        file.resize(lastPutSize);
    }

    TVaComm mPort;
    TVaXModem mXModem;
    TLineAssembler mLines;
    bool mReceiving = false;
    bool mServingGet = false;
};

struct TLogged {
    QString src;
    QString method;
    bool discard;
    QString result;
    int attempt;
    bool done;
};

// The console: records what the engine hands it and, like the real one, removes ended jobs.
class TTestConsole : public IRemConsole {
public:
    TQueueList* queue = nullptr;
    QList<TLogged> logged;
    QStringList messages;
    QList<TRemActivity> activities;
    int queueUpdates = 0;
    std::function<void(const TRemStatusReport&)> probe;

    void OnDeviceStatus(TRemStatusReport& report) override {
        if (!report.Message.isEmpty()) messages << report.Message;
        if (report.Kind == TReportKind::SetsActivity) activities << report.Activity;
        if (probe) probe(report);
    }
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result, int attempt,
                      bool done) override {
        logged << TLogged{Get(job, qkSrcFile), Get(job, qkMethod), discard, result, attempt, done};
        if (!discard && !done) return;
        for (int i = 0; i < queue->Count(); ++i)
            if (queue->GetSetting(i, qkNo) == Get(job, qkNo)) {
                queue->DeleteItem(i, true);
                break;
            }
    }
    void UpdateQueueList() override { ++queueUpdates; }
    bool HasMessage(const QString& text) const {
        for (const QString& m : messages)
            if (m.contains(text)) return true;
        return false;
    }
    int Results(const QString& result) const {
        int n = 0;
        for (const TLogged& l : logged)
            n += l.result == result ? 1 : 0;
        return n;
    }
};

} // namespace

class RemEngineTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    std::unique_ptr<TCable> cable;
    std::unique_ptr<TPeer> peer;
    std::unique_ptr<TTestConsole> console;

    QString outbox() const { return home->file("OUTBOX/"); }
    QString inbox() const { return home->file("INBOX/"); }

    // Queues a sending job for `name` (a file of the outbox) with the given recorded size.
    void queueSend(const QString& name, const QString& size) {
        home->ctx().queue->AddItem();
        const int i = home->ctx().queue->Count() - 1;
        home->ctx().queue->PutSetting(i, qkMethod, "SEND");
        home->ctx().queue->PutSetting(i, qkSrcFile, name);
        home->ctx().queue->PutSetting(i, qkSize, size);
        home->ctx().queue->PutSetting(i, qkUser, "USER");
        home->ctx().queue->PutSetting(i, qkPassw, ScramblePassword("sec ret"));
        home->ctx().queue->PutSetting(i, qkCommName, "COM5");
        home->ctx().queue->PutSetting(i, qkCommGUID, "COM5");
        QVERIFY(home->ctx().queue->Save());
    }
    void queueFile(const QString& name, const QByteArray& bytes) {
        QVERIFY(WriteFile(outbox() + name, bytes));
        queueSend(name, QString::number(bytes.size()));
    }
    TRemProcess* engine() {
        TCommDevice* device = home->ctx().devices->GetDevice(0);
        return device ? dynamic_cast<TRemProcess*>(device->Engine.get()) : nullptr;
    }
    void start() { home->ctx().devices->StartRemProc(0); }
    // Waits until the engine is idle again after a batch (or stopped) and the peer is quiet.
    bool batchEnded(int ms = 20000) {
        return RunUntil(
            [&] {
                return engine() && engine()->Activity() == TRemActivity::Idle &&
                       console->activities.size() > 2 && !peer->Busy();
            },
            ms);
    }

private Q_SLOTS:
    void initTestCase() {
        // Short command trials; the 100 ms / 18000 ms stay the defaults.
        qputenv("MARROWLINE_TRIAL_FIRST_MS", "20");
        qputenv("MARROWLINE_TRIAL_REPEAT_MS", "400");
        qputenv("MARROWLINE_BATCH_IDLE_MS", "100");
        qputenv("MARROWLINE_BATCH_TIMEOUT_MS", "3000");
    }

    void init() {
        home = std::make_unique<TestHome>(1);
        home->settings().PutStr(MRL_Outbox, home->file("OUTBOX"));
        home->settings().PutStr(MRL_Inbox, home->file("INBOX"));
        home->settings().PutBool(CLI_DropFailed, false);
        // The scripted peer is a plain server: the engine's designed exchange is tested as it
        // is, without the feature question (its own tests switch resume on).
        home->settings().PutBool(MRL_Resume, false);
        QDir().mkpath(outbox());
        QDir().mkpath(inbox());
        QDir().mkpath(home->file("SERVER"));
        QDir().mkpath(home->file("QUEUE"));
        home->ctx().devices->AddDevice();
        home->ctx().devices->PutSetting(0, dvkDevType, "Direct");
        home->ctx().devices->PutSetting(0, dvkDevName, "COM5");
        home->ctx().devices->PutSetting(0, dvkDevGUID, "COM5");
        home->ctx().devices->PutSetting(0, dvkDevDelay, "20");
        home->ctx().devices->PutSetting(0, dvkDevParam, "COM5,115200,8,N,1");
        home->ctx().devices->PutSetting(0, dvkDevRetries, "5");
        console = std::make_unique<TTestConsole>();
        home->ctx().engines.remConsole = console.get();
        console->queue = home->ctx().queue.get();
        cable = std::make_unique<TCable>();
        QVERIFY(cable->Start(home->path()));
        peer = std::make_unique<TPeer>();
        peer->folder = home->file("SERVER/");
        peer->Open(home->path());
    }

    void cleanup() {
        home->ctx().devices->StopRemProc(0);
        peer.reset();
        cable.reset();
        console.reset();
        home.reset();
    }

    // A job is sent whole and confirmed; the length announced is the file's length when it is
    // sent, whatever was recorded at queuing.
    void sendsAndConfirms_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("as queued") << 3000 << "3000";
        QTest::newRow("grew after queuing") << 5000 << "1200";
        QTest::newRow("empty file") << 0 << "0";
    }
    void sendsAndConfirms() {
        QFETCH(int, length);
        QFETCH(QString, recorded);
        const QByteArray bytes = RandomBytes(length, 7);
        QVERIFY(WriteFile(outbox() + "a.txt", bytes));
        queueSend("a.txt", recorded);
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer done.") == 1; }, 20000));
        QVERIFY(batchEnded());
        QCOMPARE(peer->commands.value(0), QString("LOGON USER sec ret"));
        QCOMPARE(peer->commands.value(1), QString("PUT \"a.txt\" %1").arg(length));
        QCOMPARE(peer->commands.value(2), QString("RESULT"));
        QCOMPARE(peer->commands.value(3), QString("DIR"));
        QCOMPARE(ReadFile(peer->lastPut), bytes);
        QCOMPARE(console->logged.size(), 1);
        QCOMPARE(console->logged[0].attempt, 1);
        QVERIFY(console->logged[0].done);
        QCOMPARE(home->ctx().queue->Count(), 0);
        QVERIFY(console->HasMessage("No files to retrieve from server."));
    }

    // The feature question after the log-on, asked once: a plain server that ignores it, or
    // answers too late, costs one line and one wait, and the session goes on as designed (a
    // late answer holds no reply word that the PUT could take for its own); a Marrowline
    // server's offer is taken up and agreed.
    void featureQuestion_data() {
        QTest::addColumn<int>("answerMs"); // -1: never
        QTest::addColumn<QString>("offer");
        QTest::addColumn<bool>("agreed");
        QTest::newRow("plain server") << -1 << "" << false;
        QTest::newRow("answer too late") << 1500 << "resume" << false;
        QTest::newRow("offers resume") << 0 << "resume" << true;
        QTest::newRow("offers nothing") << 0 << "" << false;
    }
    void featureQuestion() {
        QFETCH(int, answerMs);
        QFETCH(QString, offer);
        QFETCH(bool, agreed);
        home->settings().PutBool(MRL_Resume, true);
        peer->featuresAfterMs = answerMs;
        peer->offer = offer;
        queueFile("a.txt", RandomBytes(2000, 9));
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer done.") == 1; }, 20000));
        QVERIFY(batchEnded());
        QCOMPARE(peer->commands.value(0), QString("LOGON USER sec ret"));
        QCOMPARE(peer->commands.value(1), QString("XFEATURES"));
        const bool answered = answerMs >= 0 && answerMs < 1000;
        QCOMPARE(peer->Count("XFEATURES"), 1);
        QCOMPARE(peer->Count("XUSE"), answered ? 1 : 0);
        if (answered) QCOMPARE(peer->commands.value(2), QString("XUSE " + offer).trimmed());
        QCOMPARE(peer->commands.value(answered ? 3 : 2), QString("PUT \"a.txt\" 2000"));
        QCOMPARE(console->HasMessage("Features agreed: resume"), agreed);
        QCOMPARE(console->HasMessage("Features agreed: none"), answered && !agreed);
        QCOMPARE(engine()->Agreed().Contains(TLinkFeature::Resume), false); // gone with the batch
        QCOMPARE(console->logged.size(), 1);
        QVERIFY(console->logged[0].done);
    }

    void deniedJobIsDiscarded() {
        peer->refusePut = true;
        queueFile("d.txt", "denied");
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer denied.") == 1; }, 20000));
        QVERIFY(batchEnded());
        QVERIFY(console->logged[0].discard);
        QVERIFY(!console->logged[0].done);
        QCOMPARE(peer->Count("RESULT"), 0);
        QCOMPARE(home->ctx().queue->Count(), 0);
    }

    // "FAIL" to "RESULT": every attempt is logged, "Retrying..." between them, and after the
    // last one the job is dropped or kept by CLI_DropFailed.
    void failedJobIsRetried_data() {
        QTest::addColumn<bool>("drop");
        QTest::newRow("kept") << false;
        QTest::newRow("dropped") << true;
    }
    void failedJobIsRetried() {
        QFETCH(bool, drop);
        home->settings().PutBool(CLI_DropFailed, drop);
        home->ctx().devices->PutSetting(0, dvkDevRetries, "3");
        peer->failResult = true;
        queueFile("f.txt", RandomBytes(1500, 3));
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer failed.") == 3; }, 30000));
        QVERIFY(RunUntil(
            [&] {
                return engine()->Step() == TRemStep::Dir ||
                       engine()->Activity() == TRemActivity::Idle;
            },
            10000));
        home->ctx().devices->StopRemProc(0);
        QCOMPARE(peer->putsReceived, 3);
        QCOMPARE(peer->Count("PUT "), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(console->logged[i].attempt, i + 1);
            QCOMPARE(console->logged[i].discard, i == 2 && drop);
        }
        QCOMPARE(console->messages.count("Retrying..."), 2);
        QCOMPARE(home->ctx().queue->Count(), drop ? 0 : 1);
    }

    // A job whose file is gone is reported and removed; the search goes on with the next one.
    void missingFileIsSkipped() {
        queueSend("gone.txt", "10");
        queueFile("here.txt", "present");
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer done.") == 1; }, 20000));
        QVERIFY(batchEnded());
        QCOMPARE(console->logged[0].result, QString("Enqueued file not found."));
        QVERIFY(console->logged[0].discard);
        QCOMPARE(console->logged[1].src, QString("here.txt"));
        QCOMPARE(peer->Count("PUT "), 1);
        QCOMPARE(home->ctx().queue->Count(), 0);
    }

    void refusedLogonEndsBatch() {
        peer->refuseLogon = true;
        queueFile("x.txt", "x");
        start();
        QVERIFY(RunUntil([&] { return console->HasMessage("Logon failed!"); }, 20000));
        QVERIFY(RunUntil([&] { return engine()->Activity() == TRemActivity::Idle; }, 5000));
        home->ctx().devices->StopRemProc(0);
        QCOMPARE(peer->Count("PUT "), 0);
        QCOMPARE(peer->Count("DIR"), 0);
        QVERIFY(console->logged.isEmpty());
        QCOMPARE(home->ctx().queue->Count(), 1);
    }

    // An unanswered command is sent again by the trial; three unanswered tries fail the log-on.
    void trialResendsCommand_data() {
        QTest::addColumn<int>("ignored");
        QTest::newRow("answered at the second try") << 1;
        QTest::newRow("never answered") << 3;
    }
    void trialResendsCommand() {
        QFETCH(int, ignored);
        peer->ignoreLogons = ignored;
        queueFile("t.txt", "trial");
        start();
        if (ignored < 3) {
            QVERIFY(RunUntil([&] { return console->Results("Transfer done.") == 1; }, 20000));
            QCOMPARE(peer->Count("LOGON "), ignored + 1);
        } else {
            QVERIFY(RunUntil([&] { return console->HasMessage("Logon failed!"); }, 20000));
            home->ctx().devices->StopRemProc(0);
            QCOMPARE(peer->Count("LOGON "), 3);
            QCOMPARE(console->messages.count("Logging on to server..."), 3);
        }
    }

    // DIR → DIR.LST → GET of each listed file → DIR again → "NO" ends the batch. Files arrive
    // under their final names only when whole; a ".." destination is refused.
    void fetchesListedFiles() {
        const QByteArray b = RandomBytes(2500, 11), c = "small text";
        QVERIFY(WriteFile(peer->folder + "b.bin", b));
        QVERIFY(WriteFile(peer->folder + "c.txt", c));
        QVERIFY(WriteFile(peer->folder + "evil.txt", "evil"));
        peer->dirList = DirListText({{"b.bin", "2500", "SUB\\"},
                                     {"evil.txt", "4", "..\\"},
                                     {"c.txt", QString::number(c.size()), ""}});
        queueFile("s.txt", "send first");
        start();
        QVERIFY(RunUntil([&] { return peer->Count("DIR") == 2; }, 30000));
        QVERIFY(batchEnded());
        QCOMPARE(ReadFile(inbox() + "SUB/b.bin"), b);
        QCOMPARE(ReadFile(inbox() + "c.txt"), c);
        QVERIFY(!QFileInfo::exists(home->file("evil.txt")));
        QVERIFY(console->HasMessage("Error! Destination path cannot be created: "));
        QCOMPARE(peer->Count("GET "), 2);
        QVERIFY(peer->commands.contains("GET \"b.bin\""));
        QCOMPARE(console->Results("Transfer done."), 3);
        QVERIFY(!QFileInfo::exists(home->file("DIR.LST")));
        QDirIterator it(home->path(), QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().endsWith(".part"), qPrintable(it.filePath()));
        // The refused fetching job stays until the service stops, which removes it.
        home->ctx().devices->StopRemProc(0);
        for (int i = 0; i < home->ctx().queue->Count(); ++i)
            QVERIFY(home->ctx().queue->GetSetting(i, qkMethod) != "RECV");
    }

    // The inbox is on a 200 KB file system: a listed file it cannot hold is not asked for (one
    // line says why), the others are fetched, and the batch ends as usual.
    void fetchSkippedWhenTheInboxCannotHoldIt() {
        const SmallDisk disk(inbox(), 200 * 1024);
        if (!disk.mounted) QSKIP(qPrintable(disk.why));
        const QByteArray small = RandomBytes(20 * 1024, 5);
        QVERIFY(WriteFile(peer->folder + "small.bin", small));
        QVERIFY(WriteFile(peer->folder + "big.bin", RandomBytes(300000, 6)));
        peer->dirList = DirListText({{"big.bin", "300000", ""}, {"small.bin", "20480", ""}});
        // The same list once more after the fetches: the big file, still queued, is not queued
        // again (small.bin, fetched, is), and the third "DIR" gets "NO".
        peer->dirListsLeft = 2;
        queueFile("s.txt", "send first");
        start();
        QVERIFY(RunUntil([&] { return peer->Count("DIR") == 3; }, 30000));
        QVERIFY(batchEnded());
        QCOMPARE(ReadFile(inbox() + "small.bin"), small);
        QVERIFY(!QFileInfo::exists(inbox() + "big.bin"));
        QCOMPARE(peer->Count("GET \"small.bin\""), 2);
        QCOMPARE(peer->Count("GET \"big.bin\""), 0);
        QVERIFY2(console->HasMessage("Error! Not enough free space in " + home->file("INBOX") +
                                     " for big.bin: 300000 bytes listed, "),
                 qPrintable(console->messages.join(" | ")));
        QCOMPARE(peer->Count("DIR"), 3);
    }

    // A server that lists its files in Windows-1252 gets them asked for in the same bytes; the
    // file is stored under the UTF-8 form of its name.
    void windowsServerNames() {
        const QString cafe = QString::fromUtf8("caf\u00e9.txt");
        QVERIFY(WriteFile(peer->folder + cafe, "fetched"));
        peer->dirList = "\"caf\xE9.txt\",7,\"\"\r\n<EOF>\r\n";
        queueFile(QString::fromUtf8("\u00e9t\u00e9.txt"), "sent");
        start();
        QVERIFY(RunUntil([&] { return peer->Count("DIR") == 2; }, 30000));
        QVERIFY(batchEnded());
        QCOMPARE(ReadFile(inbox() + cafe), QByteArray("fetched"));
        QVERIFY(peer->rawCommands.contains("GET \"caf\xE9.txt\""));
        // Our own names go out as UTF-8.
        QVERIFY(peer->rawCommands.contains("PUT \"\xC3\xA9t\xC3\xA9.txt\" 4"));
        QCOMPARE(ReadFile(peer->lastPut), QByteArray("sent"));
    }

    // A server whose receiver starts the moment it has answered "YES" (a long device delay, so
    // the client's wait before sending, which follows it, is long too): its start character must
    // reach the client's transfer, not be lost to that transfer's start.
    void promptServer() {
        home->ctx().devices->PutSetting(0, dvkDevDelay, "4000");
        peer->promptStart = true;
        const QByteArray up = RandomBytes(3000, 31);
        queueFile("u.bin", up);
        start();
        QVERIFY(RunUntil([&] { return peer->putsReceived == 1; }, 30000));
        QCOMPARE(ReadFile(peer->lastPut), up);
        // A lost start character would show as the peer's time-out and the client's wait.
        QVERIFY(!console->HasMessage("Transfer error"));
        QCOMPARE(peer->timeouts, 0);
    }

    // Replies whose checksum and CR arrive well after the word: the engine acts on a reply only
    // once its frame is whole, so no transfer sees the tail, and every job (sent, the list and
    // a fetched file) goes through at its first attempt without a repeated command.
    void replyTailArrivesLate() {
        peer->replyTailMs = 150;
        const QByteArray up = RandomBytes(3000, 21), down = RandomBytes(2000, 22);
        QVERIFY(WriteFile(peer->folder + "d.bin", down));
        peer->dirList = DirListText({{"d.bin", "2000", ""}});
        queueFile("u.bin", up);
        start();
        QVERIFY(RunUntil([&] { return peer->Count("DIR") == 2; }, 30000));
        QVERIFY(batchEnded());
        QCOMPARE(ReadFile(peer->lastPut), up);
        QCOMPARE(ReadFile(inbox() + "d.bin"), down);
        QCOMPARE(console->Results("Transfer done."), 2);
        for (const TLogged& l : console->logged)
            QCOMPARE(l.attempt, 1);
        QCOMPARE(peer->commands, (QStringList{"LOGON USER sec ret", "PUT \"u.bin\" 3000", "RESULT",
                                              "DIR", "GET \"d.bin\"", "DIR"}));
        QVERIFY(!console->HasMessage("Transfer error"));
        QVERIFY(!console->HasMessage("File error"));
    }

    // A server that never answers "DIR" gets it again and again until the batch time-out ends
    // the batch; the job already sent is not reported again.
    void unansweredDirEndsAtBatchTimeout() {
        peer->dirList = "never answered";
        peer->dirListsLeft = 0;
        peer->ignoreDirs = true;
        queueFile("s.txt", "sent");
        start();
        QVERIFY(RunUntil([&] { return console->HasMessage("Batch timeout!"); }, 20000));
        QVERIFY(RunUntil([&] { return engine()->Activity() == TRemActivity::Idle; }, 5000));
        home->ctx().devices->StopRemProc(0);
        QVERIFY2(peer->Count("DIR") > 3, qPrintable(peer->commands.join('|')));
        QCOMPARE(console->logged.size(), 1);
        QCOMPARE(console->logged[0].result, QString("Transfer done."));
    }

    // A download cut short never shows up under its final name, neither while it runs nor after.
    void cutDownloadLeavesNoFile() {
        home->ctx().devices->PutSetting(0, dvkDevRetries, "2");
        QVERIFY(WriteFile(peer->folder + "big.bin", RandomBytes(6000, 5)));
        peer->dirList = DirListText({{"big.bin", "6000", ""}});
        peer->cutGets = true;
        bool finalSeen = false, partSeen = false;
        console->probe = [&](const TRemStatusReport& report) {
            if (report.Operation != "Transfer" || report.Progress == 0) return;
            finalSeen = finalSeen || QFileInfo::exists(inbox() + "big.bin");
            for (const QString& name : QDir(inbox()).entryList(QDir::Files | QDir::Hidden))
                partSeen = partSeen || (name.startsWith(".big.bin.mrl-") &&
                                        received_file::IsTemporaryName(name));
        };
        queueFile("s.txt", "send first");
        start();
        QVERIFY(RunUntil([&] { return console->Results("Transfer failed.") == 2; }, 30000));
        QVERIFY(
            RunUntil([&] { return !peer->Busy() && engine()->Step() != TRemStep::File; }, 10000));
        home->ctx().devices->StopRemProc(0);
        QVERIFY(partSeen);
        QVERIFY(!finalSeen);
        QCOMPARE(QDir(inbox()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(peer->Count("GET "), 2);
    }

    // A port that cannot be opened ends the batch at once, not at its time-out; the line
    // setting that cannot be read and the failed opening are each reported, and the job stays
    // queued for the next batch.
    void missingPortEndsBatchAtOnce() {
        home->ctx().devices->PutSetting(0, dvkDevParam, "COM97,fast");
        queueFile("x.txt", "x");
        QElapsedTimer clock;
        clock.start();
        start();
        const auto batchOver = [&] {
            const qsizetype online = console->activities.indexOf(TRemActivity::Online);
            return online >= 0 && console->activities.indexOf(TRemActivity::Idle, online) > online;
        };
        QVERIFY(RunUntil(batchOver, 5000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        home->ctx().devices->StopRemProc(0);
        QVERIFY(console->HasMessage("Opening port COM97..."));
        QVERIFY(!console->HasMessage("Batch timeout!"));
        const QStringList status = home->status();
        QVERIFY(status.contains("!TRemProcess.DoConnect - Assign UserBaudrate: "
                                "'fast' is not a valid integer value"));
        QVERIFY(!status.filter(QRegularExpression("^!TRemProcess\\.DoConnect: ")).isEmpty());
        QVERIFY(console->logged.isEmpty());
        QCOMPARE(home->ctx().queue->Count(), 1);
    }

    // Stopping removes every fetching job, however many follow each other.
    void stopRemovesFetchingJobs() {
        queueFile("keep.txt", "k");
        for (int n = 0; n < 3; ++n) {
            home->ctx().queue->AddItem();
            home->ctx().queue->PutSetting(home->ctx().queue->Count() - 1, qkMethod, "RECV");
        }
        queueFile("keep2.txt", "k2");
        home->ctx().queue->AddItem();
        home->ctx().queue->PutSetting(home->ctx().queue->Count() - 1, qkMethod, "RECV");
        peer->refuseLogon = true;
        start();
        QVERIFY(engine());
        home->ctx().devices->StopRemProc(0);
        QCOMPARE(home->ctx().queue->Count(), 2);
        QCOMPARE(home->ctx().queue->GetSetting(0, qkSrcFile), QString("keep.txt"));
        QCOMPARE(home->ctx().queue->GetSetting(1, qkSrcFile), QString("keep2.txt"));
        QVERIFY(console->HasMessage("Client service stopped."));
        QCOMPARE(console->activities.last(), TRemActivity::Stopped);
    }
};

QTEST_GUILESS_MAIN(RemEngineTest)
#include "rem_engine_test.moc"
