// The client engine on a modem device: initialisation, extra commands and dialling against a
// scripted modem on a real pseudo-terminal, and each way a call can fail.
#include "core/helpers.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "engine/devices.h"
#include "engine/link_protocol.h"
#include "engine/rem_process.h"
#include "jobs/queue.h"
#include "serial/modem_peer.h"
#include "serial/modems.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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

class TRecorder : public IRemConsole {
public:
    TQueueList* queue = nullptr;
    QStringList messages;
    QStringList results;
    QList<bool> discards;
    void OnDeviceStatus(TRemStatusReport& report) override {
        if (!report.Message.isEmpty()) messages << report.Message;
    }
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result, int,
                      bool) override {
        results << result;
        discards << discard;
        if (!discard) return;
        for (int i = 0; i < queue->Count(); ++i)
            if (queue->GetSetting(i, qkNo) == Get(job, qkNo)) queue->DeleteItem(i, true);
    }
    void UpdateQueueList() override {}
    bool Has(const QString& text) const {
        for (const QString& m : messages)
            if (m.contains(text)) return true;
        return false;
    }
};

const QString ModemGuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");

} // namespace

class RemEngineModemTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<ModemPeer> modem;
    std::unique_ptr<TRecorder> console;

    TRemProcess* engine() {
        TCommDevice* device = home->ctx().devices->GetDevice(0);
        return device ? dynamic_cast<TRemProcess*>(device->Engine.get()) : nullptr;
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("MARROWLINE_TRIAL_FIRST_MS", "20");
        qputenv("MARROWLINE_TRIAL_REPEAT_MS", "400");
        qputenv("MARROWLINE_BATCH_IDLE_MS", "100");
        qputenv("MARROWLINE_BATCH_TIMEOUT_MS", "3000");
    }

    void init() {
        home = std::make_unique<TestHome>(1);
        home->settings().PutStr(MRL_Outbox, home->file("OUTBOX"));
        QVERIFY(WriteFile(home->file("OUTBOX/m.txt"), "by modem"));
        QDir().mkpath(home->file("QUEUE"));
        modem = std::make_unique<ModemPeer>();
        QVERIFY(modem->IsValid());
        QDir().mkpath(home->file("ports"));
        QVERIFY(QFile::link(modem->SlavePath(), home->file("ports/COM7")));
        home->ctx().modems->AddModem();
        home->ctx().modems->PutSetting(0, mdkGUID, ModemGuid);
        home->ctx().modems->PutSetting(0, mdkFriendlyName, "Test Modem");
        home->ctx().modems->PutSetting(0, mdkDialPrefixNo, "9,");
        home->ctx().modems->PutSetting(0, mdkDefaultInitialization, "ATZE1M1");
        home->ctx().modems->PutSetting(0, mdkCommandPrefix, "AT");
        home->ctx().modems->PutSetting(0, mdkSupportsErrorControl, "YES");
        home->ctx().modems->PutSetting(0, mdkUseECC, "YES");
        home->ctx().modems->PutSetting(0, mdkErrorControlOn, "\\N3");
        home->ctx().queue->AddItem();
        home->ctx().queue->PutSetting(0, qkMethod, "SEND");
        home->ctx().queue->PutSetting(0, qkSrcFile, "m.txt");
        home->ctx().queue->PutSetting(0, qkSize, "8");
        home->ctx().queue->PutSetting(0, qkUser, "USER");
        home->ctx().queue->PutSetting(0, qkPassw, ScramblePassword("pw"));
        home->ctx().queue->PutSetting(0, qkCommGUID, ModemGuid);
        home->ctx().queue->PutSetting(0, qkCommParam, "5551234");
        QVERIFY(home->ctx().queue->Save());
        home->ctx().devices->AddDevice();
        home->ctx().devices->PutSetting(0, dvkDevType, "Modem");
        home->ctx().devices->PutSetting(0, dvkDevName, "Test Modem");
        home->ctx().devices->PutSetting(0, dvkDevGUID, ModemGuid);
        home->ctx().devices->PutSetting(0, dvkDevDelay, "20");
        home->ctx().devices->PutSetting(0, dvkDevParam, "COM7,57600");
        console = std::make_unique<TRecorder>();
        home->ctx().engines.remConsole = console.get();
        console->queue = home->ctx().queue.get();
    }

    void cleanup() {
        home->ctx().devices->StopRemProc(0);
        modem.reset();
        console.reset();
        home.reset();
    }

    // Init, the extra command, the dial with prefix and number; then whatever the call gives,
    // the batch ends in Idle and the job stays queued.
    void dialsAndEndsBatch_data() {
        QTest::addColumn<QByteArray>("dialReply");
        QTest::addColumn<QString>("message");
        QTest::newRow("connect, log-on refused")
            << QByteArray("\r\nCONNECT 9600\r\n") << "Logon failed!";
        QTest::newRow("busy") << QByteArray("\r\nBUSY\r\n") << "Line is busy.";
        QTest::newRow("no dial tone") << QByteArray("\r\nNO DIALTONE\r\n") << "No dialtone.";
        QTest::newRow("no carrier") << QByteArray("\r\nNO CARRIER\r\n") << "No carrier.";
        QTest::newRow("voice") << QByteArray("\r\nVOICE\r\n") << "Voice line detected.";
    }
    void dialsAndEndsBatch() {
        QFETCH(QByteArray, dialReply);
        QFETCH(QString, message);
        modem->OnCommand("ATZE1M1\r", "\r\nOK\r\n");
        modem->OnCommand("AT\\N3\r", "\r\nOK\r\n");
        modem->OnCommand("ATDT9,5551234\r", dialReply);
        modem->OnCommand("LOGON USER pw", FrameLine("NO"));
        home->ctx().devices->StartRemProc(0);
        QVERIFY(RunUntil([&] { return console->Has(message); }, 15000));
        QVERIFY(RunUntil([&] { return engine()->Activity() == TRemActivity::Idle; }, 5000));
        home->ctx().devices->StopRemProc(0);
        const QByteArray sent = modem->Received();
        const qsizetype init = sent.indexOf("ATZE1M1\r"), extra = sent.indexOf("AT\\N3\r"),
                        dial = sent.indexOf("ATDT9,5551234\r");
        QVERIFY2(init >= 0 && extra > init && dial > extra, sent.constData());
        QCOMPARE(sent.contains(FrameLine("LOGON USER pw")), message == "Logon failed!");
        QVERIFY(console->Has("Attempting connection by \"Test Modem 5551234\""));
        QVERIFY(console->results.isEmpty());
        QCOMPARE(home->ctx().queue->Count(), 1);
    }

    // A job for a modem whose configuration is gone is discarded without dialling.
    void missingModemConfiguration() {
        home->ctx().modems->DeleteModem(0);
        home->ctx().devices->StartRemProc(0);
        QVERIFY(RunUntil([&] { return !console->results.isEmpty(); }, 10000));
        QCOMPARE(console->results.value(0), QString("Invalid communication device."));
        QVERIFY(console->discards.value(0));
        QCOMPARE(home->ctx().queue->Count(), 0);
        QVERIFY(!modem->Received().contains("ATDT"));
    }
};

QTEST_GUILESS_MAIN(RemEngineModemTest)
#include "rem_engine_modem_test.moc"
