// The small shared helpers: checksums, padding, password scrambling, waits, day numbers.
#include "core/helpers.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <limits>

class TestHelpers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checksum_data();
    void checksum();
    void padding_data();
    void padding();
    void capitalize_data();
    void capitalize();
    void scrambleRoundTripsEveryByte();
    void scrambleForm();
    void delayKeepsEventsFlowing();
    void waitForReturnsEarly();
    void waitForTimesOut();
    void dayNumbers();
    void timerOverrides_data();
    void timerOverrides();
};

void TestHelpers::checksum_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sum");
    QTest::newRow("YES") << "YES"
                         << "F1";
    QTest::newRow("empty") << ""
                           << "00";
    QTest::newRow("wraps at 256") << QString(QChar(0xFF)) + QChar(0x01) << "00"; // C3 BF 01
    QTest::newRow("one byte") << "\x0f"
                              << "0F";
}

void TestHelpers::checksum() {
    QFETCH(QString, text);
    QFETCH(QString, sum);
    if (QTest::currentDataTag() == QByteArray("wraps at 256"))
        sum = Checksum(QByteArray("\xc3\xbf\x01")); // the UTF-8 bytes are summed
    QCOMPARE(Checksum(text), sum);
    QVERIFY(ChecksumOk(text + sum));
    QVERIFY(!ChecksumOk(text + sum.toLower()) || sum == sum.toLower());
    QVERIFY(!ChecksumOk(text + "X" + sum));
}

void TestHelpers::padding_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("left");
    QTest::newRow("fill") << "ab" << 5 << "ab   "
                          << "   ab";
    QTest::newRow("cut") << "abcdef" << 3 << "abc"
                         << "abc";
    QTest::newRow("exact") << "abc" << 3 << "abc"
                           << "abc";
    QTest::newRow("zero") << "abc" << 0 << ""
                          << "";
    QTest::newRow("negative") << "abc" << -2 << ""
                              << "";
}

void TestHelpers::padding() {
    QFETCH(QString, text);
    QFETCH(int, length);
    QFETCH(QString, right);
    QFETCH(QString, left);
    QCOMPARE(PadRight(text, length), right);
    QCOMPARE(PadLeft(text, length), left);
    QCOMPARE(PadLeft("7", 4, '0'), QString("0007"));
}

void TestHelpers::capitalize_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("upper") << "DIRECT"
                           << "Direct";
    QTest::newRow("lower") << "modem"
                           << "Modem";
    QTest::newRow("one") << "x"
                         << "X";
    QTest::newRow("empty") << ""
                           << "";
}

void TestHelpers::capitalize() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(Capitalize(text), expected);
}

void TestHelpers::scrambleRoundTripsEveryByte() {
    QString all;
    for (int code = 0; code < 256; ++code) {
        const QString one = QString(QChar(char16_t(code)));
        QCOMPARE(UnscramblePassword(ScramblePassword(one)), one);
        all += one;
    }
    // Every position too: each byte value at positions 1..256.
    QCOMPARE(UnscramblePassword(ScramblePassword(all)), all);
    const QString astral = QString::fromUtf8("p\xf0\x9f\x94\x91w");
    QCOMPARE(UnscramblePassword(ScramblePassword(astral)), astral);
}

void TestHelpers::scrambleForm() {
    QCOMPARE(ScramblePassword(""), QString());
    const QString s = ScramblePassword("secret");
    QCOMPARE(s.size(), 12);
    QCOMPARE(s, s.toUpper());
    for (QChar c : s)
        QVERIFY(QString("0123456789ABCDEF").contains(c));
    // The same letter at another position scrambles differently.
    const QString aa = ScramblePassword("aa");
    QVERIFY(aa.left(2) != aa.mid(2));
    // A trailing odd digit is ignored.
    QCOMPARE(UnscramblePassword(s + "7"), QString("secret"));
    QVERIFY(ScramblePassword("Secret") != s); // case-sensitive
}

void TestHelpers::delayKeepsEventsFlowing() {
    QElapsedTimer clock;
    clock.start();
    qint64 handledAt = -1;
    QTimer::singleShot(30, this, [&]() { handledAt = clock.elapsed(); });
    Delay(300);
    const qint64 total = clock.elapsed();
    QVERIFY(total >= 295);
    QVERIFY(handledAt >= 25);
    // Handled when it fell due, not at the end of the wait or of a 100 ms step.
    QVERIFY2(handledAt < 99, qPrintable(QString::number(handledAt)));
}

void TestHelpers::waitForReturnsEarly() {
    bool flag = false;
    QTimer::singleShot(20, this, [&]() { flag = true; });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(WaitFor([&]() { return flag; }, 10000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(WaitFor([]() { return true; }, 0));
}

void TestHelpers::waitForTimesOut() {
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!WaitFor([]() { return false; }, 60));
    QVERIFY(clock.elapsed() >= 58);
    QVERIFY(clock.elapsed() < 3000);
}

void TestHelpers::dayNumbers() {
    const QDateTime noon(QDate(2024, 2, 29), QTime(12, 0));
    QCOMPARE(DateTimeToDouble(noon), 45351.5);
    QCOMPARE(DoubleToDateTime(45351.5), noon);
    QCOMPARE(DoubleToDateTime(0).date(), QDate(1899, 12, 30));
    QCOMPARE(DoubleToDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    QCOMPARE(DateTimeToDouble(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
    // Values read from a damaged file give an invalid date, never an undefined conversion.
    QVERIFY(!DoubleToDateTime(std::numeric_limits<double>::quiet_NaN()).isValid());
    QVERIFY(!DoubleToDateTime(std::numeric_limits<double>::infinity()).isValid());
    QVERIFY(!DoubleToDateTime(1e300).isValid());
    QVERIFY(!DoubleToDateTime(-1e19).isValid());
    QVERIFY(DoubleToDateTime(2958465.5).isValid()); // 9999-12-31 12:00
}

// The test timer overrides: a whole positive number of milliseconds, anything else is ignored.
void TestHelpers::timerOverrides_data() {
    QTest::addColumn<QByteArray>("value"); // null: the variable is not set
    QTest::addColumn<int>("ms");
    QTest::newRow("unset") << QByteArray() << 77;
    QTest::newRow("milliseconds") << QByteArray("250") << 250;
    QTest::newRow("zero") << QByteArray("0") << 77;
    QTest::newRow("negative") << QByteArray("-5") << 77;
    QTest::newRow("not a number") << QByteArray("fast") << 77;
    QTest::newRow("with a unit") << QByteArray("250ms") << 77;
    QTest::newRow("hexadecimal") << QByteArray("0x10") << 77;
    QTest::newRow("leading zero is decimal") << QByteArray("010") << 10;
}

void TestHelpers::timerOverrides() {
    QFETCH(QByteArray, value);
    QFETCH(int, ms);
    const char* const name = "MARROWLINE_HELPERS_TEST_MS";
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
    QCOMPARE(TimerOverrideMs(name, 77), ms);
    qunsetenv(name);
}

QTEST_GUILESS_MAIN(TestHelpers)
#include "helpers_test.moc"
