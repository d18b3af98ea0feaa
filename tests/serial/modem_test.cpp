// The modem controller and the reply watcher on a real pseudo-terminal, with a scripted modem on
// the far end.
#include "core/helpers.h"
#include "common/test_home.h"
#include "modem_peer.h"
#include "serial/comm.h"
#include "serial/modem.h"
#include "serial/modems.h"
#include "serial/wait_message.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>

namespace {
const QByteArray Sentinel = "\r\nERROR\r\n";

// A pseudo-terminal has no ring-indicator line: the port's event entry is opened up so that the
// event can be delivered as the port delivers it.
class LineRingModem : public TVaModem {
public:
    using TVaCustomModem::HandleCommEvent;
};
} // namespace

// One line under test: the scripted modem, the port on the other end, and a controller whose
// events are written into `events` as short texts.
struct Rig {
    ModemPeer peer;
    TVaComm port;
    std::unique_ptr<TVaModem> modem = std::make_unique<TVaModem>();
    QStringList events;
    QStringList errors; // "origin: text" from the layer's exception handler

    Rig() {
        port.SetExceptionHandler(Handler());
        port.SetDeviceName(peer.SlavePath());
        modem->SetComm(&port);
        Record(*modem);
    }

    // What the layer's exception handler writes: "origin: text" into `errors`.
    TVaExceptionHandler Handler() {
        return [this](const QString& origin, const QString& text) {
            errors.append(origin + QStringLiteral(": ") + text);
        };
    }

    bool Open() {
        if (!peer.IsValid()) return false;
        port.Open();
        return port.IsOpen();
    }

    void Record(TVaModem& m) {
        m.SetExceptionHandler(Handler());
        auto note = [this](const char* text) {
            return [this, text](TVaCustomModem*) { events.append(QLatin1String(text)); };
        };
        m.OnOK = note("OK");
        m.OnBusy = note("BUSY");
        m.OnVoice = note("VOICE");
        m.OnNoCarrier = note("NO CARRIER");
        m.OnNoDialTone = note("NO DIALTONE");
        m.OnError = note("ERROR");
        m.OnCommandTimeout = note("command timeout");
        m.OnDialTimeout = note("dial timeout");
        m.OnAnswerTimeout = note("answer timeout");
        m.OnRingWaitTimeout = note("ring wait timeout");
        m.OnConnect = [this](TVaCustomModem*, const QString& text) {
            events.append(QStringLiteral("CONNECT:") + text);
        };
        m.OnRingDetect = [this](TVaCustomModem*, int rings, bool&) {
            events.append(QStringLiteral("RING:%1").arg(rings));
        };
    }

    // Sends the sentinel reply and waits until it has been handled: everything sent before it
    // has been handled too.
    bool Settle() {
        const int before = int(events.size());
        peer.Send(Sentinel);
        if (!WaitFor([&]() { return events.size() > before && events.last() == "ERROR"; }, 5000))
            return false;
        events.removeLast();
        return true;
    }
};

class ModemTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { mHome = std::make_unique<TestHome>(); }
    void cleanupTestCase() { mHome.reset(); }

    void commandBytes_data();
    void commandBytes();
    void charDelayPacesCommand();
    void noPortRefusesCommand();

    void replies_data();
    void replies();
    void replyEndsCommand();

    void timeouts_data();
    void timeouts();
    void previousOperationPending();

    void ringsCounted();
    void acceptAnswers();
    void errorInRingHandlingKeepsLaterReplies();
    void ringIndicatorEvent_data();
    void ringIndicatorEvent();
    void ringsIgnoredUnlessFromReplies_data();
    void ringsIgnoredUnlessFromReplies();

    void inactiveRecognisesNothing();
    void configNamesAndTerminator();
    void catalogueEntryToConfig();

    void malformedInput_data();
    void malformedInput();
    void handlerFreesController();

    void watcher();
    void watcherResetAndInactive();

private:
    std::unique_ptr<TestHome> mHome;
};

// ---------------------------------------------------------------------------------------------

void ModemTest::commandBytes_data() {
    QTest::addColumn<QString>("command");    // Init, Reset, Dial:<number>, Answer, Send:<text>
    QTest::addColumn<QStringList>("config"); // extra lines in front of the defaults
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("operation");
    QTest::newRow("reset") << "Reset" << QStringList{} << QByteArray("ATZ\r") << 2;
    QTest::newRow("init") << "Init" << QStringList{} << QByteArray("ATZE1M1\r") << 1;
    QTest::newRow("answer") << "Answer" << QStringList{} << QByteArray("ATA\r") << 4;
    QTest::newRow("dial") << "Dial:5551234" << QStringList{} << QByteArray("ATDT5551234\r") << 3;
    QTest::newRow("dial configured")
        << "Dial:9,123" << QStringList{"dialcmd= ATDP ", "DIALTERM=;^M"}
        << QByteArray("ATDP9,123;\r") << 3;
    QTest::newRow("send, trailing caret") << "Send:ATH^" << QStringList{} << QByteArray("ATH") << 0;
    QTest::newRow("send, doubled caret")
        << "Send:AT^^X^M" << QStringList{} << QByteArray("AT^X\r") << 0;
    QTest::newRow("reset configured")
        << "Reset" << QStringList{"RESETCMD=AT&F^M^J"} << QByteArray("AT&F\r\n") << 2;
}

void ModemTest::commandBytes() {
    QFETCH(QString, command);
    QFETCH(QStringList, config);
    QFETCH(QByteArray, bytes);
    QFETCH(int, operation);
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetConfig(config + TVaModem::DefaultConfig());
    if (command == "Reset")
        rig.modem->Reset();
    else if (command == "Init")
        rig.modem->Init();
    else if (command == "Answer")
        rig.modem->Answer();
    else if (command.startsWith("Dial:"))
        rig.modem->Dial(command.mid(5));
    else
        rig.modem->SendCommand(command.mid(5));
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), bytes, 5000);
    QCOMPARE(rig.modem->Operation(), operation);
    QCOMPARE(rig.modem->CommandPending(), operation != 0);
    QTest::qWait(30);
    QCOMPARE(rig.peer.Received(), bytes); // nothing more
}

void ModemTest::charDelayPacesCommand() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetCharDelay(25);
    QElapsedTimer clock;
    clock.start();
    rig.modem->SendCommand("ATZ^M");
    QVERIFY2(clock.elapsed() >= 100, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), QByteArray("ATZ\r"), 5000);
}

void ModemTest::noPortRefusesCommand() {
    TVaModem modem;
    QString error;
    try {
        modem.Init();
    } catch (const EVaModemException& e) {
        error = e.Message();
    }
    QCOMPARE(error, QStringLiteral("TVaModem: error writing to comm."));
    QVERIFY(!modem.CommandPending()); // the timer is not started
    QCOMPARE(modem.Operation(), 1);
    // A port that is attached but closed refuses as well.
    TVaComm port;
    modem.SetComm(&port);
    QVERIFY_THROWS_EXCEPTION(EVaModemException, modem.SendCommand("AT"));
}

// ---------------------------------------------------------------------------------------------

void ModemTest::replies_data() {
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("ok split byte by byte")
        << QList<QByteArray>{"\r", "\n", "O", "K", "\r", "\n"} << QStringList{"OK"};
    QTest::newRow("connect with suffixes") << QList<QByteArray>{"\r\nCONN", "ECT 9600/A", "RQ\r\n"}
                                           << QStringList{"CONNECT:CONNECT 9600/ARQ"};
    QTest::newRow("connected") << QList<QByteArray>{"\r\nCONNECTED\r\n"}
                               << QStringList{"CONNECT:CONNECTED"};
    QTest::newRow("echo ignored") << QList<QByteArray>{"ATZE1M1\r", "\r\nOK\r\n"}
                                  << QStringList{"OK"};
    QTest::newRow("every reply in one block")
        << QList<QByteArray>{"\r\nBUSY\r\n\r\nVOICE\r\n\r\nNO CARRIER\r\n\r\nNO DIALTONE\r\n"
                             "\r\nCONNECT\r\n\r\nOK\r\n"}
        << QStringList{"BUSY", "VOICE", "NO CARRIER", "NO DIALTONE", "CONNECT:CONNECT", "OK"};
    QTest::newRow("case matters") << QList<QByteArray>{"\r\nok\r\n\r\nconnect 2400\r\n"}
                                  << QStringList{};
    QTest::newRow("near misses") << QList<QByteArray>{"\r\nOKAY\r\nNO CARRIER!\r\n BUSY \r\n"}
                                 << QStringList{"BUSY"};
    QTest::newRow("nul as blank") << QList<QByteArray>{QByteArray("\r\nNO\0CARRIER\r\n", 14)}
                                  << QStringList{"NO CARRIER"};
    QTest::newRow("ring ignored with line detection")
        << QList<QByteArray>{"\r\nRING\r\n"} << QStringList{};
}

void ModemTest::replies() {
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, events);
    Rig rig;
    QVERIFY(rig.Open());
    rig.peer.SendPieces(pieces, 15);
    QVERIFY(rig.Settle());
    QCOMPARE(rig.events, events);
    QVERIFY(rig.errors.isEmpty());
}

void ModemTest::replyEndsCommand() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.peer.OnCommand("ATZE1M1\r", "ATZE1M1\r\r\nOK\r\n");
    rig.modem->SetCommandTimeout(150);
    rig.modem->Init();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, QStringList{"OK"}, 5000);
    QVERIFY(!rig.modem->CommandPending());
    QCOMPARE(rig.modem->Operation(), 1); // kept for the owner's OnOK
    QTest::qWait(300);
    QCOMPARE(rig.events, QStringList{"OK"}); // no time-out after the reply
    // The next command may go now.
    rig.modem->Dial("1");
    QCOMPARE(rig.modem->Operation(), 3);
}

// ---------------------------------------------------------------------------------------------

void ModemTest::timeouts_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("timeout");
    QTest::newRow("init") << "Init"
                          << "command timeout" << 100;
    QTest::newRow("reset") << "Reset"
                           << "command timeout" << 100;
    QTest::newRow("dial") << "Dial"
                          << "dial timeout" << 400;
    QTest::newRow("answer") << "Answer"
                            << "answer timeout" << 250;
}

void ModemTest::timeouts() {
    QFETCH(QString, command);
    QFETCH(QString, event);
    QFETCH(int, timeout);
    Rig rig;
    QVERIFY(rig.Open());
    // Each command kind uses its own timer value.
    rig.modem->SetCommandTimeout(100);
    rig.modem->SetDialTimeout(400);
    rig.modem->SetAnswerTimeout(250);
    rig.modem->SetRingDetect(rdMsg);
    rig.peer.SendPieces({"\r\nRING\r\n", "\r\nRING\r\n"}, 10);
    QTRY_COMPARE_WITH_TIMEOUT(rig.modem->RingCount(), 2, 5000);
    rig.events.clear();

    QElapsedTimer clock;
    clock.start();
    if (command == "Init")
        rig.modem->Init();
    else if (command == "Reset")
        rig.modem->Reset();
    else if (command == "Dial")
        rig.modem->Dial("42");
    else
        rig.modem->Answer();
    const int operation = rig.modem->Operation();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, QStringList{event}, 5000);
    QVERIFY2(clock.elapsed() >= timeout - 5, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!rig.modem->CommandPending());
    QCOMPARE(rig.modem->Operation(), operation);
    QCOMPARE(rig.modem->RingCount(), command == "Answer" ? 0 : 2);
    QTest::qWait(2 * timeout);
    QCOMPARE(rig.events.count(event), 1); // one-shot
}

void ModemTest::previousOperationPending() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetCommandTimeout(5000);
    rig.modem->Init();
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), QByteArray("ATZE1M1\r"), 5000);
    for (const QString command : {"Dial", "Init", "Reset", "Answer"}) {
        QString error;
        try {
            if (command == "Dial") rig.modem->Dial("5551234");
            if (command == "Init") rig.modem->Init();
            if (command == "Reset") rig.modem->Reset();
            if (command == "Answer") rig.modem->Answer();
        } catch (const EVaModemException& e) {
            error = e.Message();
        }
        QCOMPARE(error, QStringLiteral("Waiting for previous operation to complete."));
        QCOMPARE(rig.modem->Operation(), 1);
    }
    QTest::qWait(30);
    QCOMPARE(rig.peer.Received(), QByteArray("ATZE1M1\r")); // nothing else was sent
    rig.modem->CancelCommand();
    QCOMPARE(rig.modem->Operation(), 0);
    QVERIFY(!rig.modem->CommandPending());
    rig.modem->Dial("7");
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), QByteArray("ATZE1M1\rATDT7\r"), 5000);
}

// ---------------------------------------------------------------------------------------------

void ModemTest::ringsCounted() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetRingDetect(rdMsg);
    rig.modem->SetRingWaitTimeout(400);
    rig.peer.Send("\r\nRING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, QStringList{"RING:1"}, 5000);
    QTest::qWait(150); // less than the ring wait: same sequence
    rig.peer.Send("\r\nRING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, (QStringList{"RING:1", "RING:2"}), 5000);
    QCOMPARE(rig.modem->RingCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 3, 5000);
    QCOMPARE(rig.events.last(), QStringLiteral("ring wait timeout"));
    QCOMPARE(rig.modem->RingCount(), 0);
    rig.peer.Send("\r\nRING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 4, 5000);
    QCOMPARE(rig.events.last(), QStringLiteral("RING:1"));
    QVERIFY(rig.peer.Received().isEmpty()); // never answered
}

void ModemTest::acceptAnswers() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetRingDetect(rdMsg);
    rig.modem->SetRingWaitTimeout(600);
    rig.modem->OnRingDetect = [&](TVaCustomModem*, int rings, bool& accept) {
        rig.events.append(QStringLiteral("RING:%1").arg(rings));
        accept = rings == 2;
    };
    rig.peer.OnCommand("ATA\r", "ATA\r\r\nCONNECT 2400\r\n");
    rig.peer.Send("\r\nRING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 1, 5000);
    QVERIFY(rig.peer.Received().isEmpty());
    rig.peer.Send("\r\nRING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, (QStringList{"RING:1", "RING:2", "CONNECT:CONNECT 2400"}),
                              5000);
    QCOMPARE(rig.peer.Received(), QByteArray("ATA\r"));
    QCOMPARE(rig.modem->Operation(), 4);
    QCOMPARE(rig.modem->RingCount(), 2); // accepting does not reset the count
    QTest::qWait(800); // the ring wait is not started again after an accepted ring
    QVERIFY(!rig.events.contains("ring wait timeout"));
}

void ModemTest::errorInRingHandlingKeepsLaterReplies() {
    // The owner starts a command from its ring handler and accepts the call: Answer finds the
    // previous command pending. The error is reported, and the replies after it in the same
    // block are still handled.
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetRingDetect(rdMsg);
    rig.modem->OnRingDetect = [&](TVaCustomModem* sender, int, bool& accept) {
        rig.events.append("RING");
        sender->Reset();
        accept = true;
    };
    rig.peer.Send("\r\nRING\r\n\r\nOK\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, (QStringList{"RING", "OK"}), 5000);
    QCOMPARE(rig.errors,
             QStringList{"TVaModem.HandleCommData: Waiting for previous operation to complete."});
    QCOMPARE(rig.modem->Operation(), 2);
}

void ModemTest::ringIndicatorEvent_data() {
    QTest::addColumn<int>("detect");
    QTest::addColumn<uint>("mask");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("busy"); // a command awaits its reply
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("errors");
    const QString waiting = "TVaModem.HandleCommEvent: Waiting for previous operation to complete.";
    QTest::newRow("line") << int(rdLine) << uint(VaEvRing) << true << false
                          << QStringList{"RING:1", "RING:2"} << QStringList{};
    QTest::newRow("with other bits") << int(rdLine) << uint(VaEvRing | VaEvCts | VaEvRxChar) << true
                                     << false << QStringList{"RING:1", "RING:2"} << QStringList{};
    QTest::newRow("other bits only") << int(rdLine) << uint(VaEvCts | VaEvDsr) << true << false
                                     << QStringList{} << QStringList{};
    QTest::newRow("msg") << int(rdMsg) << uint(VaEvRing) << true << false << QStringList{}
                         << QStringList{};
    QTest::newRow("none") << int(rdNone) << uint(VaEvRing) << true << false << QStringList{}
                          << QStringList{};
    QTest::newRow("inactive") << int(rdLine) << uint(VaEvRing) << false << false << QStringList{}
                              << QStringList{};
    // The second ring is accepted, but the owner's command still awaits its reply.
    QTest::newRow("accept while busy") << int(rdLine) << uint(VaEvRing) << true << true
                                       << QStringList{"RING:1", "RING:2"} << QStringList{waiting};
}

void ModemTest::ringIndicatorEvent() {
    QFETCH(int, detect);
    QFETCH(uint, mask);
    QFETCH(bool, active);
    QFETCH(bool, busy);
    QFETCH(QStringList, events);
    QFETCH(QStringList, errors);
    Rig rig;
    QVERIFY(rig.Open());
    LineRingModem modem;
    modem.SetComm(&rig.port);
    rig.Record(modem);
    modem.OnRingDetect = [&](TVaCustomModem*, int rings, bool& accept) {
        rig.events.append(QStringLiteral("RING:%1").arg(rings));
        accept = rings == 2;
    };
    rig.modem->SetActive(false);
    modem.SetRingDetect(TVaRingDetect(detect));
    modem.SetActive(active);
    if (busy) modem.Reset();
    modem.HandleCommEvent(mask);
    modem.HandleCommEvent(mask);
    QCOMPARE(rig.events, events);
    QCOMPARE(rig.errors, errors);
    // An accepted ring answers unless a command is pending.
    const bool answered = events.size() == 2 && !busy;
    QCOMPARE(modem.Operation(), answered ? 4 : busy ? 2 : 0);
    const QByteArray sent = QByteArray(busy ? "ATZ\r" : "") + QByteArray(answered ? "ATA\r" : "");
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), sent, 5000);
}

void ModemTest::ringsIgnoredUnlessFromReplies_data() {
    QTest::addColumn<int>("detect");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("line") << int(rdLine) << QStringList{};
    QTest::newRow("none") << int(rdNone) << QStringList{};
    QTest::newRow("msg") << int(rdMsg) << QStringList{"RING:1"};
}

void ModemTest::ringsIgnoredUnlessFromReplies() {
    QFETCH(int, detect);
    QFETCH(QStringList, events);
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetRingDetect(TVaRingDetect(detect));
    rig.modem->SetCommandTimeout(60000);
    rig.modem->Init();
    rig.peer.Send("\r\nRING\r\n");
    // A RING line is a reply whatever the detection: it ends the wait for the command.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.modem->CommandPending(), 5000);
    QVERIFY(rig.Settle());
    QCOMPARE(rig.events, events);
}

// ---------------------------------------------------------------------------------------------

void ModemTest::inactiveRecognisesNothing() {
    Rig rig;
    QVERIFY(rig.Open());
    // A line begun before switching off does not take up the bytes after switching on again.
    rig.peer.Send("\r\nBU");
    QTest::qWait(100);
    rig.modem->SetActive(false);
    rig.peer.Send("\r\nOK\r\nCONNECT 300\r\nBU");
    QTest::qWait(150);
    QVERIFY(rig.events.isEmpty());
    rig.modem->SetActive(true);
    rig.peer.Send("SY\r\n");
    QVERIFY(rig.Settle());
    QVERIFY2(rig.events.isEmpty(), qPrintable(rig.events.join(',')));
}

void ModemTest::configNamesAndTerminator() {
    Rig rig;
    QVERIFY(rig.Open());
    // Names without regard to case, the first line of a name wins, values trimmed; an unnamed
    // reply matches nothing.
    rig.modem->SetConfig({"rok= READY\t", "ROK=OK", "RTERM=^J", "RERROR=ERROR", "RCONNECT="});
    QCOMPARE(rig.modem->ConfigValue("Rok"), QStringLiteral("READY"));
    QCOMPARE(rig.modem->ConfigValue("RBUSY"), QString());
    rig.peer.Send("READY\nOK\n\nBUSY\nanything\n\r\nERROR\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, (QStringList{"OK", "ERROR"}), 5000);
    QTest::qWait(50);
    QCOMPARE(rig.events, (QStringList{"OK", "ERROR"}));
}

void ModemTest::catalogueEntryToConfig() {
    Rig rig;
    QVERIFY(rig.Open());
    TModemSettings entry;
    entry[mdkCommandReset].SetStr("AT&F");
    entry[mdkDialString].SetStr("ATDP");
    QString extra = "stale";
    SetModemInitStrings(*rig.modem, entry, extra, RoleNone);
    QCOMPARE(rig.modem->ConfigValue("RESETCMD"), QStringLiteral("AT&F^M"));
    QCOMPARE(rig.modem->ConfigValue("INITCMD"), QStringLiteral("ATZE1M1^M")); // untouched
    QCOMPARE(extra, QString());
    rig.modem->Reset();
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), QByteArray("AT&F\r"), 5000);
    rig.modem->CancelCommand();
    rig.modem->Dial("12");
    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.Received(), QByteArray("AT&F\rATDP12\r"), 5000);
}

// ---------------------------------------------------------------------------------------------

void ModemTest::malformedInput_data() {
    QTest::addColumn<QByteArray>("noise");
    QByteArray endless(512 * 1024, 'A'); // one line without a terminator
    QByteArray nuls(64 * 1024, '\0');
    QByteArray binary(256 * 1024, '\0');
    quint32 seed = 12345;
    for (char& c : binary) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 24);
    }
    QTest::newRow("endless line") << endless;
    QTest::newRow("nul bytes") << nuls;
    QTest::newRow("binary noise") << binary;
}

void ModemTest::malformedInput() {
    QFETCH(QByteArray, noise);
    Rig rig;
    QVERIFY(rig.Open());
    rig.events.clear();
    QElapsedTimer clock;
    clock.start();
    // Written in pieces while the peer keeps reading what the port would send back.
    for (qsizetype at = 0; at < noise.size(); at += 4096)
        rig.peer.Send(noise.mid(at, 4096));
    rig.peer.Send("\r\n\r\nOK\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(rig.events.contains("OK"), 20000);
    QVERIFY(rig.Settle());
    QCOMPARE(rig.events.last(), QStringLiteral("OK"));
    QVERIFY(rig.errors.isEmpty());
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
}

void ModemTest::handlerFreesController() {
    // The owner frees its controller from an event handler: the rest of the block is dropped,
    // nothing touches the freed controller (the address sanitizer watches).
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->OnOK = [&](TVaCustomModem*) {
        rig.events.append("OK");
        rig.modem.reset();
    };
    rig.peer.Send("\r\nOK\r\n\r\nBUSY\r\n\r\nOK\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.events, QStringList{"OK"}, 5000);
    QTest::qWait(50);
    QCOMPARE(rig.events, QStringList{"OK"});
    QCOMPARE(rig.port.ClientCount(), 0);
}

// ---------------------------------------------------------------------------------------------

void ModemTest::watcher() {
    Rig rig;
    QVERIFY(rig.Open());
    rig.modem->SetActive(false);
    TVaWaitMessage watch;
    watch.SetComm(&rig.port);
    watch.SetStrings({"NO", "FAIL", "", "AA"});
    QList<int> got;
    watch.OnMessage = [&](TVaWaitMessage* sender, int index) {
        QCOMPARE(sender, &watch);
        got.append(index);
    };
    rig.peer.SendPieces({"N", "O", " f", "Ai", "l!"}, 15);
    QTRY_COMPARE_WITH_TIMEOUT(got, (QList<int>{0, 1}), 5000);
    got.clear();
    rig.peer.Send("AAAA");
    QTRY_COMPARE_WITH_TIMEOUT(got, (QList<int>{3, 3, 3}), 5000);
    got.clear();
    watch.SetCaseSensitive(true);
    rig.peer.Send("fail FAIL no");
    QTRY_COMPARE_WITH_TIMEOUT(got, QList<int>{1}, 5000);
    QTest::qWait(50);
    QCOMPARE(got, QList<int>{1});
}

void ModemTest::watcherResetAndInactive() {
    // As the client engine uses it: reset and switch on before a command, off and reset on the
    // first match.
    Rig rig;
    QVERIFY(rig.Open());
    TVaWaitMessage watch;
    watch.SetComm(&rig.port);
    watch.SetStrings({"YES", "NO", "OK", "FAIL"});
    QList<int> got;
    watch.OnMessage = [&](TVaWaitMessage* sender, int index) {
        got.append(index);
        sender->SetActive(false);
        sender->ResetMatching();
    };
    rig.peer.Send("N");
    QTest::qWait(80);
    watch.ResetMatching(); // a command goes out: the earlier N cannot complete a match
    rig.peer.Send("O...OK...NO");
    QTRY_COMPARE_WITH_TIMEOUT(got, QList<int>{2}, 5000);
    QTest::qWait(80);
    QCOMPARE(got, QList<int>{2}); // inactive after the first match
    watch.SetActive(true);
    rig.peer.Send("yes");
    QTRY_COMPARE_WITH_TIMEOUT(got, (QList<int>{2, 0}), 5000);
}

QTEST_GUILESS_MAIN(ModemTest)
#include "modem_test.moc"
