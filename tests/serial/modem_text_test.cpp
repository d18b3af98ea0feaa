// The text side of the modem controller and the reply watcher, and the window-message timer:
// caret notation, the cap on a reply line, watched strings. Replies as a whole are tested on a
// pseudo-terminal (modem_test.cpp).
#include "serial/caret.h"
#include "serial/comm.h"
#include "serial/modem_lines.h"
#include "serial/va_timer.h"
#include "serial/wait_message_match.h"

#include <QElapsedTimer>
#include <QtTest>
#include <thread>

class ModemTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void caretDecoding_data();
    void caretDecoding();
    void caretText();

    void endlessLineIsCapped();

    void watcher_data();
    void watcher();
    void watcherResetInsideHandler();

    void timerRunsOnlyWhenComplete();
    void timerRestartsOnChange();
    void timerWithoutEventDispatcher();
    void timerHandlerError();
};

void ModemTextTest::caretDecoding_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("reset") << QByteArray("ATZ^M") << QByteArray("ATZ\r");
    QTest::newRow("lower letter") << QByteArray("a^j") << QByteArray("a\n");
    QTest::newRow("all letters") << QByteArray("^A^Z^a^z") << QByteArray("\x01\x1a\x01\x1a");
    QTest::newRow("trailing caret dropped") << QByteArray("ATH^") << QByteArray("ATH");
    QTest::newRow("caret and digit") << QByteArray("^1x") << QByteArray("^1x");
    QTest::newRow("caret and blank") << QByteArray("a^ b") << QByteArray("a^ b");
    QTest::newRow("doubled caret") << QByteArray("A^^M") << QByteArray("A^M");
    QTest::newRow("doubled then letter") << QByteArray("^^^M") << QByteArray("^\r");
    QTest::newRow("tripled at end") << QByteArray("x^^^") << QByteArray("x^");
    QTest::newRow("lone caret") << QByteArray("^") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("hangup") << QByteArray("+++~~~ATH0^M") << QByteArray("+++~~~ATH0\r");
    QTest::newRow("high byte after caret") << QByteArray("^\xc3\xa9") << QByteArray("^\xc3\xa9");
}

void ModemTextTest::caretDecoding() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(DecodeCaretText(text), bytes);
}

void ModemTextTest::caretText() {
    // The text form agrees with the byte form and leaves non-ASCII characters whole.
    QCOMPARE(DecodeCaretText(QStringLiteral("ATDT^M")), QStringLiteral("ATDT\r"));
    QCOMPARE(DecodeCaretText(QStringLiteral("é^é")), QStringLiteral("é^é"));
    QCOMPARE(DecodeCaretText(QStringLiteral("^^^J")), QStringLiteral("^\n"));
}

void ModemTextTest::endlessLineIsCapped() {
    TModemLineSplitter splitter;
    splitter.SetTerminator('\r');
    QByteArray noise(200000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) % 256 == '\r' ? 'x' : (i * 7919) % 256);
    for (char c : noise)
        QVERIFY(!splitter.Feed(c));
    QCOMPARE(splitter.Pending().size(), TModemLineSplitter::MaxLineLength);
    QVERIFY(splitter.Feed('\r'));
    QCOMPARE(splitter.TakeLine().size(), TModemLineSplitter::MaxLineLength);
    // The next line starts clean.
    for (char c : QByteArray("OK"))
        splitter.Feed(c);
    QVERIFY(splitter.Feed('\r'));
    QCOMPARE(splitter.TakeLine(), QByteArray("OK"));
}

void ModemTextTest::watcher_data() {
    QTest::addColumn<QStringList>("strings");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("matches");
    const QStringList reply{"YES", "NO", "OK", "FAIL"};
    QTest::newRow("no") << QStringList{"NO", "FAIL"} << false << QByteArray("NO") << QList<int>{0};
    QTest::newRow("fail lower") << QStringList{"NO", "FAIL"} << false << QByteArray("fail")
                                << QList<int>{1};
    QTest::newRow("fail lower, case-sensitive")
        << QStringList{"NO", "FAIL"} << true << QByteArray("fail") << QList<int>{};
    QTest::newRow("overlapping") << QStringList{"AA"} << false << QByteArray("AAAA")
                                 << QList<int>{0, 0, 0};
    QTest::newRow("same byte, two entries")
        << QStringList{"OK", "K"} << false << QByteArray("xOK") << QList<int>{0, 1};
    QTest::newRow("empty entry") << QStringList{"", "OK"} << false << QByteArray("OK")
                                 << QList<int>{1};
    QTest::newRow("inside the stream") << reply << false
                                       << QByteArray("\x02"
                                                     "12OK3F\x03")
                                       << QList<int>{2};
    QTest::newRow("nul is a blank")
        << QStringList{"A B"} << false << QByteArray("A\0B", 3) << QList<int>{0};
    QTest::newRow("caret pattern")
        << QStringList{"OK^M"} << false << QByteArray("OK\r") << QList<int>{0};
    QTest::newRow("split letters")
        << QStringList{"NO"} << false << QByteArray("N-O") << QList<int>{};
    QTest::newRow("non-ascii not folded")
        << QStringList{"É"} << false << QByteArray("\xc3\xa9") << QList<int>{};
}

void ModemTextTest::watcher() {
    QFETCH(QStringList, strings);
    QFETCH(bool, caseSensitive);
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, matches);
    TMessageMatcher matcher;
    matcher.SetCaseSensitive(caseSensitive);
    matcher.Reset(strings);
    QList<int> got;
    for (char c : stream)
        matcher.Feed(c, [&](int index) {
            got.append(index);
            return true;
        });
    QCOMPARE(got, matches);
}

void ModemTextTest::watcherResetInsideHandler() {
    // The handler resets the watcher on the first match (as the client engine does): the same
    // byte must not be looked at by the rebuilt entries, and earlier text cannot complete a
    // match afterwards.
    TMessageMatcher matcher;
    const QStringList strings{"OK", "K", "OK"};
    matcher.Reset(strings);
    QList<int> got;
    std::function<bool(int)> handler = [&](int index) {
        got.append(index);
        matcher.Reset(strings);
        return true;
    };
    for (char c : QByteArray("OK"))
        matcher.Feed(c, handler);
    QCOMPARE(got, QList<int>{0});
    for (char c : QByteArray("K"))
        matcher.Feed(c, handler); // "O" was before the reset
    QCOMPARE(got, (QList<int>{0, 1}));
}

void ModemTextTest::timerRunsOnlyWhenComplete() {
    TVaTimer timer;
    int fired = 0;
    QVERIFY(timer.Enabled());
    QCOMPARE(timer.Interval(), 1000);
    QVERIFY(!timer.IsRunning()); // no handler yet
    timer.SetInterval(10);
    QVERIFY(!timer.IsRunning());
    timer.SetOnTimer([&](TVaTimer* sender) {
        QCOMPARE(sender, &timer);
        ++fired;
    });
    QVERIFY(timer.IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, 2000); // repeats
    timer.SetEnabled(false);
    QVERIFY(!timer.IsRunning());
    const int stopped = fired;
    QTest::qWait(50);
    QCOMPARE(fired, stopped);
    timer.SetEnabled(true);
    timer.SetInterval(0);
    QVERIFY(!timer.IsRunning());
    timer.SetInterval(-5);
    QVERIFY(!timer.IsRunning());
    timer.SetInterval(10);
    QVERIFY(timer.IsRunning());
    timer.SetOnTimer({});
    QVERIFY(!timer.IsRunning());
}

void ModemTextTest::timerRestartsOnChange() {
    // Used one-shot: the handler disables its timer. Changing the interval while it counts starts
    // the count again.
    TVaTimer timer;
    timer.SetEnabled(false);
    timer.SetInterval(150);
    QElapsedTimer clock;
    qint64 firedAt = -1;
    timer.SetOnTimer([&](TVaTimer* sender) {
        sender->SetEnabled(false);
        firedAt = clock.elapsed();
    });
    clock.start();
    timer.SetEnabled(true);
    QTest::qWait(100);
    timer.SetInterval(200); // restarts: fires at about 300 ms, not 150
    QTRY_VERIFY_WITH_TIMEOUT(firedAt >= 0, 3000);
    QVERIFY2(firedAt >= 290, qPrintable(QString::number(firedAt)));
    QVERIFY(!timer.Enabled());
    firedAt = -1;
    QTest::qWait(300);
    QCOMPARE(firedAt, qint64(-1));
}

void ModemTextTest::timerWithoutEventDispatcher() {
    // A thread not started by Qt has no event dispatcher, so no timer can be had there.
    QString error;
    bool setupOk = false;
    std::thread([&]() {
        TVaTimer timer;
        timer.SetEnabled(false);
        timer.SetInterval(10);
        timer.SetOnTimer([](TVaTimer*) {});
        setupOk = !timer.IsRunning();
        try {
            timer.SetEnabled(true);
        } catch (const EOutOfResources& e) {
            error = QString::fromUtf8(e.what());
        }
        setupOk = setupOk && !timer.IsRunning();
    }).join();
    QVERIFY(setupOk);
    QCOMPARE(error, QStringLiteral("No timer resources available."));
}

void ModemTextTest::timerHandlerError() {
    // An error in the handler goes to the layer's exception handler, not through the event loop;
    // the timer keeps running.
    QStringList reported;
    TVaTimer timer;
    timer.SetExceptionHandler(
        [&](const QString& origin, const QString& text) { reported.append(origin + ": " + text); });
    timer.SetInterval(5);
    timer.SetOnTimer([](TVaTimer*) { throw std::runtime_error("no line"); });
    QTRY_VERIFY_WITH_TIMEOUT(reported.size() >= 2, 2000);
    QCOMPARE(reported.first(), QStringLiteral("TVaTimer.OnTimer: no line"));
    QVERIFY(timer.IsRunning());
}

QTEST_GUILESS_MAIN(ModemTextTest)
#include "modem_text_test.moc"
