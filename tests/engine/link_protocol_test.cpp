// The bytes on the line between client and server, and the list of waiting files.
#include "core/helpers.h"
#include "engine/link_protocol.h"

#include <QTest>

class TestLinkProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void framesCarryTheirChecksum_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("YES") << "YES" << QByteArray::fromHex("0D59455346310D");
        QTest::newRow("NO") << "NO" << QByteArray::fromHex("0D4E4F39440D");
        QTest::newRow("OK") << "OK" << QByteArray("\rOK9A\r");
        QTest::newRow("FAIL") << "FAIL" << QByteArray("\rFAIL1C\r");
        QTest::newRow("empty") << "" << QByteArray::fromHex("0D30300D");
    }
    void framesCarryTheirChecksum() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(FrameLine(text), bytes);
        // What a server assembles from the frame passes the checksum test.
        TLineAssembler assembler;
        const QList<TReceivedLine> lines = assembler.Feed(FrameLine(text));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.last().checksumOk, true);
    }

    void assemblyAcrossBlocksAndNoise() {
        TLineAssembler a;
        const auto texts = [](const QList<TReceivedLine>& lines) {
            QList<QByteArray> out;
            for (const TReceivedLine& line : lines)
                out << line.bytes;
            return out;
        };
        using Lines = QList<QByteArray>;
        QCOMPARE(texts(a.Feed("\rLOG")), Lines{""}); // the leading CR completes an empty line
        QList<TReceivedLine> lines = a.Feed("ON BOB pw\n");
        QVERIFY(lines.isEmpty());
        lines = a.Feed("D2\r  \rDIR");
        QCOMPARE(texts(lines), Lines({"LOGON BOB pwD2", ""}));
        QCOMPARE(a.Partial(), QByteArray("DIR"));
        a.Discard();
        QCOMPARE(texts(a.Feed("\r")), Lines({""}));
        // An endless line is capped, not grown without bound.
        a.Feed(QByteArray(100000, 'x'));
        QCOMPARE(a.Partial().size(), TLineAssembler::MaxLineLength);
    }

    // The checksum covers the bytes as they came; the text is UTF-8 when the bytes are, else
    // Windows-1252 (a Windows peer's "café"), and a list line is read the same way.
    void bytesNotText_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("legacy");
        QTest::newRow("utf-8") << QByteArray("PUT \"caf\xC3\xA9.txt\" 3")
                               << QString::fromUtf8("PUT \"caf\u00e9.txt\" 3") << false;
        QTest::newRow("windows-1252") << QByteArray("PUT \"caf\xE9.txt\" 3")
                                      << QString::fromUtf8("PUT \"caf\u00e9.txt\" 3") << true;
        QTest::newRow("windows-1252 high row")
            << QByteArray("GET \"\x80 \x93x\x94 \x9F\x81\"")
            << QString::fromUtf8("GET \"\u20ac \u201cx\u201d \u0178\u0081\"") << true;
        QTest::newRow("ascii") << QByteArray("DIR") << QString("DIR") << false;
    }
    void bytesNotText() {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(bool, legacy);
        TLineAssembler assembler;
        const QList<TReceivedLine> lines = assembler.Feed(FrameBytes(body));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().checksumOk);
        QVERIFY(!ChecksumOkBytes(lines.last().bytes.chopped(1) + "0"));
        bool wasLegacy = !legacy;
        QCOMPARE(DecodeLineText(body, &wasLegacy), text);
        QCOMPARE(wasLegacy, legacy);
        QByteArray back;
        if (legacy) {
            QVERIFY(EncodeWindows1252(text, &back));
            QCOMPARE(back, body);
        }
        // The same bytes in a list line.
        const qsizetype open = body.indexOf('"'), close = body.indexOf('"', open + 1);
        const QByteArray list =
            body.mid(open, close - open + 1) + ",3,\"\"\r\n<EOF>\r\n"; // the quoted name
        QList<TDirEntry> entries;
        if (body.contains('"')) {
            QVERIFY(ParseDirList(list, &entries));
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries[0].legacy, legacy);
            QVERIFY(text.contains(entries[0].name));
        }
        QVERIFY(!EncodeWindows1252(QString::fromUtf8("\u4e2d"), &back));
    }

    // However long a line is, its checksum is tested over all of it and its start is kept; a
    // line with blanks and control bytes around it is trimmed before the test.
    void longLinesKeepTheirChecksum_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("short") << 10;
        QTest::newRow("at the limit") << TLineAssembler::MaxLineLength - 2;
        QTest::newRow("one over") << TLineAssembler::MaxLineLength - 1;
        QTest::newRow("1 MB") << (1 << 20);
    }
    void longLinesKeepTheirChecksum() {
        QFETCH(int, length);
        const QByteArray body = "LOGON " + QByteArray(length, 'n') + " pw";
        QByteArray frame = FrameBytes(body);
        frame.insert(frame.size() - 1, " \t\x01"); // trailing noise before the CR
        frame.insert(1, "  ");
        TLineAssembler a;
        QList<TReceivedLine> lines;
        for (qsizetype at = 0; at < frame.size(); at += 7000)
            lines += a.Feed(frame.mid(at, 7000));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().checksumOk);
        QVERIFY(lines.last().bytes.size() <= TLineAssembler::MaxLineLength);
        QVERIFY(lines.last().bytes.startsWith("LOGON nnn"));
        QCOMPARE(lines.last().bytes.right(2), Checksum(body).toLatin1());
        // One byte changed anywhere fails the test, kept or not.
        frame[frame.size() / 2] = 'm';
        lines = a.Feed(frame);
        QCOMPARE(lines.size(), 2);
        QVERIFY(!lines.last().checksumOk);
    }

    void logonParsing() {
        const QString text = "LOGON BOB my secret pw";
        TLogonRequest r = ParseLogon(text + Checksum(text));
        QCOMPARE(r.user, QString("BOB"));
        QCOMPARE(r.password, QString("my secret pw"));
        const QString bare = "LOGON BOB";
        r = ParseLogon(bare + Checksum(bare));
        QCOMPARE(r.user, QString("BOB"));
        QVERIFY(r.password.isEmpty());
    }

    void putParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("size");
        QTest::newRow("good") << "PUT \"SUB\\A B.TXT\" 1024" << true << "SUB\\A B.TXT" << "1024";
        QTest::newRow("empty name") << "PUT \"\" 10" << false << "" << "";
        QTest::newRow("no size") << "PUT \"A.TXT\"" << false << "A.TXT" << "";
        QTest::newRow("no closing quote") << "PUT \"A.TXT 10" << false << "" << "";
        QTest::newRow("no quote") << "PUT A.TXT 10" << false << "" << "";
    }
    void putParsing() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, name);
        QFETCH(QString, size);
        const TPutRequest r = ParsePut(text + Checksum(text));
        QCOMPARE(r.valid, valid);
        QCOMPARE(r.shown, text);
        if (valid) {
            QCOMPARE(r.name, name);
            QCOMPARE(r.size, size);
        }
    }

    void getParsing() {
        QString text = GetCommand("REPORT 1.TXT");
        TGetRequest r = ParseGet(text + Checksum(text));
        QCOMPARE(r.name, QString("REPORT 1.TXT"));
        QCOMPARE(r.shown, text);
        QVERIFY(!r.global);
        text = "GET /G \"X.TXT\"";
        r = ParseGet(text + Checksum(text));
        QVERIFY(r.global);
        QCOMPARE(r.name, QString("X.TXT"));
        QVERIFY(DirWantsBuffer("DIR /B"));
        QVERIFY(!DirWantsBuffer("DIR"));
    }

    // The server finds a command by the start of its line, exact case, in the table's order;
    // the row's parser gives what the status line shows.
    void commandTable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("verb"); // -1: no command
        QTest::addColumn<QString>("shown");
        QTest::newRow("LOGON") << "LOGON BOB pw" << int(TLinkVerb::Logon) << "LOGON BOB **********";
        QTest::newRow("LOGON without blank") << "LOGONBOB pw" << -1 << "";
        QTest::newRow("logon lower case") << "logon BOB pw" << -1 << "";
        QTest::newRow("GET") << "GET \"A.TXT\"" << int(TLinkVerb::Get) << "GET \"A.TXT\"";
        QTest::newRow("CHKCRC") << "CHKCRC /G \"A.TXT\"" << int(TLinkVerb::ChkCrc)
                                << "CHKCRC /G \"A.TXT\"";
        QTest::newRow("PUT") << "PUT \"A.TXT\" 5" << int(TLinkVerb::Put) << "PUT \"A.TXT\" 5";
        QTest::newRow("DIR /B") << "DIR /B" << int(TLinkVerb::Dir) << "DIR /B";
        QTest::newRow("DIRECTORY") << "DIRECTORY" << int(TLinkVerb::Dir) << "DIRECTORY";
        QTest::newRow("RESULT with more") << "RESULTS" << int(TLinkVerb::Result) << "RESULT";
        QTest::newRow("LOGOFF") << "LOGOFF" << int(TLinkVerb::Logoff) << "LOGOFF";
        QTest::newRow("blank first") << " DIR" << -1 << "";
        QTest::newRow("unknown") << "HELLO" << -1 << "";
    }
    void commandTable() {
        QFETCH(QString, text);
        QFETCH(int, verb);
        QFETCH(QString, shown);
        const QString line = text + Checksum(text);
        const TLinkCommand* command = FindLinkCommand(line);
        QCOMPARE(command ? int(command->verb) : -1, verb);
        if (command) QCOMPARE(command->parse(line).shown, shown);
        QCOMPARE(ReplyTexts(), QStringList({"YES", "NO", "OK", "FAIL"}));
    }

    // The extensions stay out of a plain peer's way: a plain server finds a command by its
    // start, so none begins with a designed keyword; a plain client finds the designed replies
    // anywhere in what it receives, so no answer of theirs (their reply word, a feature's name,
    // the hexadecimal digits of a number) holds one in any case.
    void extensionsStayApart() {
        const QStringList designed{"LOGON", "GET", "CHKCRC", "PUT", "DIR", "RESULT", "LOGOFF"};
        const QStringList replies = ReplyTexts();
        const auto holdsReply = [&](const QString& text) {
            for (const QString& reply : replies)
                if (text.contains(reply, Qt::CaseInsensitive)) return true;
            return false;
        };
        int extensions = 0;
        for (TLinkVerb verb : LinkVerbs()) {
            const TLinkCommand& row = LinkCommand(verb);
            if (!row.reply) continue;
            ++extensions;
            const QString keyword = QString::fromLatin1(row.keyword);
            for (const QString& k : designed)
                QVERIFY2(!keyword.startsWith(k), qPrintable(keyword));
            QVERIFY2(!holdsReply(QString::fromLatin1(row.reply)), row.reply);
            QCOMPARE(FindLinkCommand(ExtensionCommand(verb, {"a"}) + "00"), &row);
        }
        QVERIFY(extensions > 0);
        for (int f = 0; LinkFeatureName(TLinkFeature(f)); ++f)
            QVERIFY2(!holdsReply(LinkFeatureName(TLinkFeature(f))), LinkFeatureName(TLinkFeature(f)));
        QVERIFY(!holdsReply("0123456789ABCDEF"));
    }

    // An extension's line and its answer: a quoted name, then words; the answer is read only
    // by the command it answers.
    void extensionLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("words") << "XUSE resume later" << "" << QStringList{"resume", "later"};
        QTest::newRow("none") << "XFEATURES" << "" << QStringList{};
        QTest::newRow("unterminated name") << "XUSE \"a b" << "" << QStringList{};
    }
    void extensionLines() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QStringList, words);
        const TLinkCommand* row = FindLinkCommand(text + Checksum(text));
        QVERIFY(row && row->reply);
        const TLinkRequest request = row->parse(text + Checksum(text));
        QCOMPARE(request.name, name);
        QCOMPARE(request.words, words);
        QCOMPARE(request.valid, !text.contains("\"a b"));
        QStringList fields;
        QVERIFY(ReadExtensionReply(row->verb, ExtensionReply(row->verb, words), &fields));
        QCOMPARE(fields, words);
        const TLinkVerb other = row->verb == TLinkVerb::Use ? TLinkVerb::Features : TLinkVerb::Use;
        QVERIFY(!ReadExtensionReply(other, ExtensionReply(row->verb, words), &fields));
        QVERIFY(!ReadExtensionReply(TLinkVerb::Put, "YES", &fields));
        QCOMPARE(ParseLinkFeatures({"resume", "unknown"}), TLinkFeatures{TLinkFeature::Resume});
        QCOMPARE(LinkFeatureList({}, true), QString("none"));
    }

    // The wait for an extension's answer follows the line: about a second at 1,200 bit/s, well
    // under one at 115,200 (a plain peer's session is no more than that longer).
    void extensionWait_data() {
        QTest::addColumn<int>("bps");
        QTest::addColumn<int>("latency");
        QTest::addColumn<int>("least");
        QTest::addColumn<int>("most");
        QTest::newRow("1200") << 1200 << 50 << 800 << 1600;
        QTest::newRow("115200") << 115200 << 50 << 300 << 700;
        QTest::newRow("modem latency") << 33600 << 1000 << 1300 << 1700;
        QTest::newRow("unknown speed") << 0 << 50 << 1000 << 2000;
    }
    void extensionWait() {
        QFETCH(int, bps);
        QFETCH(int, latency);
        QFETCH(int, least);
        QFETCH(int, most);
        const int ms = ExtensionWaitMs(bps, 10, latency);
        QVERIFY2(ms >= least && ms <= most, qPrintable(QString::number(ms)));
    }

    void clientCommands() {
        QCOMPARE(PutCommand("IN\\SUB", "A.TXT", "5"), QString("PUT \"IN\\SUB\\A.TXT\" 5"));
        QCOMPARE(PutCommand("", "A.TXT", "5"), QString("PUT \"A.TXT\" 5"));
        QCOMPARE(LogonCommand("BOB", "p w"), QString("LOGON BOB p w"));
    }

    void commaText_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("quoted blank") << "\"MY FILE.TXT\",120,\"SUB\\\""
                                      << QStringList{"MY FILE.TXT", "120", "SUB\\"};
        QTest::newRow("doubled quote") << "\"A\"\"B\",1" << QStringList{"A\"B", "1"};
        QTest::newRow("blank ends field") << "bob secret x" << QStringList{"bob", "secret", "x"};
        QTest::newRow("empty fields") << "a,,b," << QStringList{"a", "", "b", ""};
        QTest::newRow("comma in quotes") << "\"a,b\",c" << QStringList{"a,b", "c"};
    }
    void commaText() {
        QFETCH(QString, line);
        QFETCH(QStringList, fields);
        QCOMPARE(SplitCommaText(line), fields);
    }

    void dirListRoundTrip() {
        const QList<TDirEntry> entries{{"A B.TXT", "10", "SUB\\"}, {"Q\"UOTE", "0", ""}};
        QByteArray text = DirListText(entries);
        QVERIFY(text.endsWith("<EOF>\r\n"));
        QCOMPARE(text.left(text.indexOf('\r')), QByteArray("\"A B.TXT\",10,\"SUB\\\""));
        // Padding as an XMODEM receiver leaves it.
        text += QByteArray(1024 - text.size(), '\0');
        QList<TDirEntry> read;
        QVERIFY(ParseDirList(text, &read));
        QCOMPARE(read.size(), 2);
        QCOMPARE(read[0].name, QString("A B.TXT"));
        QCOMPARE(read[0].destPath, QString("SUB\\"));
        QCOMPARE(read[1].name, QString("Q\"UOTE"));
        // A list whose last line is not "<EOF>" gives nothing.
        QVERIFY(!ParseDirList("\"A.TXT\",1,\"\"\r\n", &read));
        QVERIFY(read.isEmpty());
        QVERIFY(!ParseDirList(QByteArray(), &read));
    }
};

QTEST_GUILESS_MAIN(TestLinkProtocol)
#include "link_protocol_test.moc"
