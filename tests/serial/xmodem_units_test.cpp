// The pieces of the XMODEM engine that need no line: CRC table, result texts, block framing and
// the choice of a free file name.
#include "common/test_home.h"
#include "serial/crc16.h"
#include "serial/xmodem_block.h"
#include "serial/xmodem_codes.h"
#include "serial/xmodem_file_name.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

using namespace xmodem;

namespace {
// Bit-by-bit CRC-16/XMODEM, independent of the table.
uint16_t slowCrc(const QByteArray& data) {
    uint16_t crc = 0;
    for (char c : data) {
        crc ^= static_cast<uint16_t>(static_cast<uint8_t>(c) << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}
const uint8_t* bytes(const QByteArray& data) {
    return reinterpret_cast<const uint8_t*>(data.constData());
}
} // namespace

class XModemUnitsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crcCheckValue() {
        const QByteArray check("123456789");
        QCOMPARE(Crc16(bytes(check), 9), uint16_t(0x31C3));
        QCOMPARE(Crc16(nullptr, 0), uint16_t(0));
        // Continuing over a split gives the same as one pass.
        const uint16_t head = Crc16(bytes(check), 4);
        QCOMPARE(Crc16Update(head, bytes(check) + 4, 5), uint16_t(0x31C3));
    }

    void crcMatchesBitwiseComputation() {
        QByteArray data(4096, '\0');
        QRandomGenerator random(7);
        for (char& c : data)
            c = char(random.bounded(256));
        for (int size : {1, 2, 127, 128, 1024, 4096}) {
            const QByteArray part = data.left(size);
            QCOMPARE(Crc16(bytes(part), std::size_t(size)), slowCrc(part));
        }
    }

    void errorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "Success";
        QTest::newRow("-1") << -1 << "Timeout error";
        QTest::newRow("-3") << -3 << "Transfer cancelled locally";
        QTest::newRow("3") << 3 << "Transfer cancelled locally";
        QTest::newRow("-4") << -4 << "Client system cancelled the transfer";
        QTest::newRow("-9") << -9 << "Maximum errors reached";
        QTest::newRow("-14") << -14 << "Critical buffer overrun";
        QTest::newRow("-21") << -21 << "Client filesystem error occured";
        QTest::newRow("-25") << -25 << "Error in receiving command sequence";
        QTest::newRow("25") << 25 << "Error in receiving command sequence";
        QTest::newRow("-26") << -26 << "Unknown error code";
        QTest::newRow("26") << 26 << "Unknown error code";
        QTest::newRow("min") << std::numeric_limits<int>::min() << "Unknown error code";
    }
    void errorTexts() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(TransferErrorText(code), text);
    }

    void blockFraming_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("counter");
        QTest::addColumn<bool>("crc");
        QTest::addColumn<bool>("large");
        QTest::addColumn<int>("dataSize");
        QTest::newRow("empty checksum") << QByteArray() << 1 << false << false << 128;
        QTest::newRow("short crc 128") << QByteArray("abc") << 2 << true << false << 128;
        QTest::newRow("129 bytes") << QByteArray(129, 'x') << 3 << true << false << 1024;
        QTest::newRow("full 1K") << QByteArray(1024, '\xff') << 255 << true << true << 1024;
        QTest::newRow("counter wraps") << QByteArray("z") << 256 << true << true << 1024;
    }
    void blockFraming() {
        QFETCH(QByteArray, data);
        QFETCH(int, counter);
        QFETCH(bool, crc);
        QFETCH(bool, large);
        QFETCH(int, dataSize);
        const QByteArray block = EncodeBlock(data, counter, crc, large);
        QCOMPARE(block.size(), HeaderSize + dataSize + (crc ? 2 : 1));
        QCOMPARE(BlockSizeOfHeader(uint8_t(block[0])), dataSize);
        QCOMPARE(uint8_t(block[1]), uint8_t(counter & 0xFF));
        QCOMPARE(uint8_t(block[1]) + uint8_t(block[2]), 255);
        const QByteArray payload = block.mid(HeaderSize, dataSize);
        QCOMPARE(payload.left(data.size()), data);
        QVERIFY(payload.mid(data.size()).count('\0') == dataSize - data.size());
        const uint8_t* check = bytes(block) + HeaderSize + dataSize;
        QVERIFY(BlockCheckMatches(bytes(payload), dataSize, crc, check));
        if (crc) {
            QCOMPARE(uint16_t(check[0] << 8 | check[1]), slowCrc(payload));
        } else {
            int sum = 0;
            for (char c : payload)
                sum += uint8_t(c);
            QCOMPARE(int(check[0]), sum & 0xFF);
        }
        // Any single flipped data byte is caught by the CRC.
        if (crc) {
            QByteArray bad = payload;
            bad[dataSize / 2] = char(bad[dataSize / 2] ^ 0x10);
            QVERIFY(!BlockCheckMatches(bytes(bad), dataSize, crc, check));
        }
    }

    void headerSizes() {
        QCOMPARE(BlockSizeOfHeader(SOH), 128);
        QCOMPARE(BlockSizeOfHeader(STX), 1024);
        QCOMPARE(BlockSizeOfHeader(EOT), 0);
        QCOMPARE(BlockSizeOfHeader(0), 0);
    }

    // The in-block quiet gap follows the line: a lost byte costs a few dozen character times
    // plus the delivery allowance, not a second, at every speed from 300 bit/s up; a peer that
    // writes a block in pieces 20 ms apart (within the default allowance) is never cut short.
    void inBlockQuietGap_data() {
        QTest::addColumn<int>("bitsPerSecond");
        QTest::addColumn<int>("bitsPerCharacter");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<int>("expectedMs");
        QTest::newRow("115200 8N1") << 115200 << 10 << 50 << 60000 << 53;
        QTest::newRow("460800 8N1") << 460800 << 10 << 50 << 60000 << 51;
        QTest::newRow("9600 8E1") << 9600 << 11 << 50 << 60000 << 87;
        QTest::newRow("2400 8N1") << 2400 << 10 << 50 << 60000 << 184;
        QTest::newRow("300 8N1") << 300 << 10 << 50 << 60000 << 1117;
        QTest::newRow("modem at 56000") << 56000 << 10 << 1000 << 60000 << 1006;
        QTest::newRow("unknown speed") << 0 << 10 << 50 << 60000 << 1000;
        QTest::newRow("short Timeout") << 300 << 10 << 50 << 400 << 400;
        QTest::newRow("no Timeout") << 115200 << 10 << 50 << 0 << 53;
    }
    void inBlockQuietGap() {
        QFETCH(int, bitsPerSecond);
        QFETCH(int, bitsPerCharacter);
        QFETCH(int, latencyMs);
        QFETCH(int, limitMs);
        QFETCH(int, expectedMs);
        const int ms = InBlockQuietMs(bitsPerSecond, bitsPerCharacter, latencyMs, limitMs);
        QCOMPARE(ms, expectedMs);
        // Within a healthy stream the gap between two bytes is one character time.
        if (bitsPerSecond > 0) QVERIFY(ms > 1000 * bitsPerCharacter / bitsPerSecond);
    }

    void uniqueFileName_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList{} << "report.txt"
                              << "report.txt";
        QTest::newRow("taken") << QStringList{"report.txt"} << "report.txt"
                               << "report-1.txt";
        QTest::newRow("two taken") << QStringList{"report.txt", "report-1.txt"} << "report.txt"
                                   << "report-2.txt";
        QTest::newRow("gap") << QStringList{"report.txt", "report-2.txt"} << "report.txt"
                             << "report-1.txt";
        QTest::newRow("last dot") << QStringList{"a.tar.gz"} << "a.tar.gz"
                                  << "a.tar-1.gz";
        QTest::newRow("no extension") << QStringList{"README"} << "README"
                                      << "README-1";
        QTest::newRow("dot in folder") << QStringList{"d.x/README"} << "d.x/README"
                                       << "d.x/README-1";
    }
    void uniqueFileName() {
        QFETCH(QStringList, existing);
        QFETCH(QString, asked);
        QFETCH(QString, expected);
        TestHome home;
        for (const QString& name : existing)
            QVERIFY(WriteFile(home.file(name), "x"));
        QCOMPARE(UniqueFileName(home.file(asked)), home.file(expected));
    }

    void uniqueFileNameSkipsDanglingLink() {
        TestHome home;
        QVERIFY(WriteFile(home.file("f.bin"), "x"));
        QVERIFY(QFile::link(home.file("nowhere"), home.file("f-1.bin")));
        QCOMPARE(UniqueFileName(home.file("f.bin")), home.file("f-2.bin"));
    }
};

QTEST_GUILESS_MAIN(XModemUnitsTest)
#include "xmodem_units_test.moc"
