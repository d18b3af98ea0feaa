// The settings table over real settings files, and the INI rules underneath it.
#include "common/test_home.h"
#include "core/inifile.h"
#include "core/record_list.h"
#include "core/settings.h"
#include "jobs/queue.h"
#include "platform/prompt.h"
#include "serial/modems.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <memory>
#include <unistd.h>

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noFileGivesDefaults();
    void versionIsAlwaysOneHundred();
    void valuesAreRead_data();
    void valuesAreRead();
    void longStringsAreCut_data();
    void longStringsAreCut();
    void missingInboxFallsBack();
    void malformedFileKeepsUnknownBytes();
    void unreadableFileIsNotOverwritten();
    void iniRules();
    void iniValuesRoundTrip_data();
    void iniValuesRoundTrip();
    void slotRoundTrip_data();
    void slotRoundTrip();
    void slotText_data();
    void slotText();
};

void TestSettings::noFileGivesDefaults() {
    TestHome home;
    home.settings().Load(home.prompt(), home.sink());
    QVERIFY(!QFile::exists(home.file("marrowline.ini")));
    QCOMPARE(home.settings().GetInt(MRL_Function), 0);
    QVERIFY(!home.settings().IsClient() && !home.settings().IsServer());
    QCOMPARE(home.settings().GetStr(MRL_Version), QString("1.00"));
    QCOMPARE(home.settings().GetBool(MRL_OnTop), true);
    QCOMPARE(home.settings().GetBool(MRL_AutoRun), false);
    QCOMPARE(home.settings().GetInt(CLI_BatchIntSec), 15);
    QCOMPARE(home.settings().GetInt(CLI_BatchTimeOutMin), 5);
    QCOMPARE(home.settings().GetInt(SVR_SessionTimeout), 5);
    QCOMPARE(home.settings().GetInt(MRL_MaxLogSize), 3000000);
    QCOMPARE(home.settings().GetStr(MRL_Inbox), home.path() + "INBOX");
    QCOMPARE(home.settings().GetStr(MRL_Outbox), home.path() + "OUTBOX");
    home.settings().Save(home.prompt(), home.sink());
    const QByteArray text = ReadFile(home.file("marrowline.ini"));
    QVERIFY(text.startsWith("[GENERAL]\nMRL_Function=0\nMRL_Version=1.00\nMRL_OnTop=1\n"));
    QVERIFY(text.contains("[CLIENT]\nCLI_AutoDelivery=0\n"));
    QVERIFY(!text.contains('\r'));
}

void TestSettings::versionIsAlwaysOneHundred() {
    TestHome home;
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Version=2.00\n"));
    home.settings().Load(home.prompt(), home.sink());
    QCOMPARE(home.settings().GetStr(MRL_Version), QString("1.00"));
    home.settings().Save(home.prompt(), home.sink());
    TIniFile ini(home.file("marrowline.ini"));
    QCOMPARE(ini.ReadString("GENERAL", "MRL_Version", "?"), QString("1.00"));
}

void TestSettings::valuesAreRead_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unreadable integer")
        << QByteArray("[CLIENT]\nCLI_BatchIntSec=abc\n") << int(CLI_BatchIntSec) << "15";
    QTest::newRow("integer with trailing text")
        << QByteArray("[CLIENT]\nCLI_BatchIntSec=30s\n") << int(CLI_BatchIntSec) << "15";
    QTest::newRow("integer out of range") << QByteArray("[GENERAL]\nMRL_MaxLogSize=99999999999\n")
                                          << int(MRL_MaxLogSize) << "3000000";
    QTest::newRow("boolean 2 is true")
        << QByteArray("[CLIENT]\nCLI_AutoDelivery=2\n") << int(CLI_AutoDelivery) << "true";
    QTest::newRow("boolean 0 is false")
        << QByteArray("[GENERAL]\nMRL_OnTop=0\n") << int(MRL_OnTop) << "false";
    QTest::newRow("boolean garbage is default")
        << QByteArray("[GENERAL]\nMRL_OnTop=yes\n") << int(MRL_OnTop) << "true";
    QTest::newRow("names without case, blanks trimmed")
        << QByteArray("[client]\n  cli_batchintsec  =  60  \n") << int(CLI_BatchIntSec) << "60";
    QTest::newRow("CR LF lines") << QByteArray("[SERVER]\r\nSVR_SessionTimeout=9\r\n")
                                 << int(SVR_SessionTimeout) << "9";
    QTest::newRow("first occurrence wins")
        << QByteArray("[SERVER]\nSVR_SessionTimeout=7\nSVR_SessionTimeout=8\n[SERVER]\n"
                      "SVR_SessionTimeout=9\n")
        << int(SVR_SessionTimeout) << "7";
    QTest::newRow("key in the wrong section is not read")
        << QByteArray("[GENERAL]\nCLI_BatchIntSec=60\n") << int(CLI_BatchIntSec) << "15";
    QTest::newRow("quoted string")
        << QByteArray("[CLIENT]\nCLI_ActiveDevice=\"{A B}\"\n") << int(CLI_ActiveDevice) << "{A B}";
}

void TestSettings::valuesAreRead() {
    QFETCH(QByteArray, file);
    QFETCH(int, key);
    QFETCH(QString, expected);
    TestHome home;
    QVERIFY(WriteFile(home.file("marrowline.ini"), file));
    home.settings().Load(home.prompt(), home.sink());
    const TIniKey& slot = home.settings().Setting(TSettingKey(key));
    QString actual;
    switch (slot.Kind) {
    case TIniKind::Boolean:
        actual = slot.BoolValue ? "true" : "false";
        break;
    case TIniKind::Integer:
        actual = QString::number(slot.IntValue);
        break;
    case TIniKind::String:
        actual = slot.StrValue;
        break;
    }
    QCOMPARE(actual, expected);
}

void TestSettings::longStringsAreCut_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("300 ASCII") << QString(300, 'a') << QString(255, 'a');
    // Two bytes each: 127 characters fit in 254 bytes; the 128th would be split.
    QTest::newRow("300 two-byte") << QString(300, QChar(0xE9)) << QString(127, QChar(0xE9));
    QTest::newRow("exactly 255") << QString(255, 'b') << QString(255, 'b');
}

void TestSettings::longStringsAreCut() {
    QFETCH(QString, value);
    QFETCH(QString, expected);
    TestHome home;
    QVERIFY(
        WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Inbox=" + value.toUtf8() + "\n"));
    home.settings().Load(home.prompt(), home.sink());
    QCOMPARE(home.settings().GetStr(MRL_Inbox), expected);
    QVERIFY(home.settings().GetStr(MRL_Inbox).toUtf8().size() <= 255);
    home.settings().PutStr(MRL_Outbox, value);
    QCOMPARE(home.settings().GetStr(MRL_Outbox), expected);
}

void TestSettings::missingInboxFallsBack() {
    TestHome home;
    // Nothing can be created below /proc.
    QVERIFY(WriteFile(home.file("marrowline.ini"),
                      "[GENERAL]\nMRL_Function=2\nMRL_Inbox=/proc/marrowline/in\n"
                      "MRL_Outbox=" +
                          home.file("deep/er/OUT").toUtf8() + "\n"));
    home.ctx().StartupLoad();
    QCOMPARE(home.settings().GetStr(MRL_Inbox), home.path() + "INBOX");
    QVERIFY(QFileInfo(home.path() + "INBOX").isDir());
    QCOMPARE(home.settings().GetStr(MRL_Outbox), home.file("deep/er/OUT"));
    QVERIFY(QFileInfo(home.file("deep/er/OUT")).isDir());
    QVERIFY(QFileInfo(home.file("QUEUE")).isDir());
    QVERIFY(QFileInfo(home.file("USERS")).isDir());
    home.settings().Save(home.prompt(), home.sink());
    TIniFile ini(home.file("marrowline.ini"));
    QCOMPARE(ini.ReadString("GENERAL", "MRL_Inbox", ""), home.path() + "INBOX");
}

void TestSettings::malformedFileKeepsUnknownBytes() {
    TestHome home;
    const QByteArray garbage("\x00\x01\xff\xfe binary \x80\x81", 14);
    const QByteArray latin1Device("[DEVICE1]\r\nName=Caf\xe9 line\r\n");
    QVERIFY(WriteFile(home.file("marrowline.ini"),
                      garbage +
                          "\n[GENERAL\nMRL_Function=1\n=novalue\n[GENERAL]\n"
                          "MRL_Function=2\nnoequals\n; comment\n" +
                          latin1Device + "[CLIENT]\nCLI_BatchIntSec=\n"));
    TScriptedPrompt& prompt = home.prompt();
    home.settings().Load(home.prompt(), home.sink());
    QVERIFY(prompt.boxes.isEmpty());
    // "[GENERAL" without its bracket is no section: the value under it is not read.
    QCOMPARE(home.settings().GetInt(MRL_Function), 2);
    QCOMPARE(home.settings().GetInt(CLI_BatchIntSec), 15);
    home.settings().PutInt(CLI_BatchIntSec, 30);
    home.settings().Save(home.prompt(), home.sink());
    QVERIFY(prompt.boxes.isEmpty());
    const QByteArray after = ReadFile(home.file("marrowline.ini"));
    QVERIFY(after.startsWith(garbage + "\n"));
    QVERIFY(after.contains("[DEVICE1]\nName=Caf\xe9 line\n"));
    QVERIFY(after.contains("; comment\n"));
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("CLIENT", "CLI_BatchIntSec", 0), 30);
}

void TestSettings::unreadableFileIsNotOverwritten() {
    if (::geteuid() == 0) QSKIP("root reads every file");
    TestHome home;
    const QString path = home.file("marrowline.ini");
    const QByteArray original("[GENERAL]\nMRL_Function=2\n[DEVICE1]\nName=keep me\n");
    QVERIFY(WriteFile(path, original));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    TScriptedPrompt& prompt = home.prompt();
    home.settings().Load(home.prompt(), home.sink());
    home.settings().Save(home.prompt(), home.sink());
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(ReadFile(path), original);
    QCOMPARE(prompt.boxes.size(), 2);
    QVERIFY(prompt.boxes[0].text.startsWith("!LoadSettings: "));
    QVERIFY(prompt.boxes[1].text.startsWith("!SaveSettings: "));
}

void TestSettings::iniRules() {
    TestHome home;
    const QString path = home.file("rules.ini");
    QVERIFY(WriteFile(path, "[One]\r\nKey=first\r\nkey=second\r\n[ONE]\r\nOther=x\r\n"
                            "[Two]\r\n  Spaced Name  =  v  \r\n"));
    TIniFile ini(path);
    QCOMPARE(ini.ReadString("one", "KEY", "?"), QString("first"));
    QVERIFY(!ini.ValueExists("One", "Other")); // only the first [One] section counts
    QCOMPARE(ini.ReadString("TWO", "spaced name", "?"), QString("v"));
    QCOMPARE(ini.ReadSections(), QStringList({"One", "ONE", "Two"}));
    ini.WriteString("ONE", "KEY", "third");
    ini.WriteString("two", "New", "n");
    QVERIFY(ini.UpdateFile());
    const QByteArray text = ReadFile(path);
    QVERIFY(text.startsWith("[One]\nKey=third\nkey=second\n")); // the file's spelling is kept
    QVERIFY(text.contains("Spaced Name  =  v  \nNew=n\n"));
    QVERIFY(!text.contains('\r'));
}

void TestSettings::iniValuesRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "C:\\IN";
    QTest::newRow("blanks at the ends") << "  padded  ";
    QTest::newRow("double quoted") << "\"quoted\"";
    QTest::newRow("single quoted") << "'q'";
    QTest::newRow("one quote") << "\"";
    QTest::newRow("equals and semicolon") << "a=b;c";
    QTest::newRow("empty") << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("K\xc3\xb6ln \xe2\x82\xac");
}

void TestSettings::iniValuesRoundTrip() {
    QFETCH(QString, value);
    TestHome home;
    const QString path = home.file("values.ini");
    {
        TIniFile ini(path);
        ini.WriteString("S", "K", value);
        QVERIFY(ini.UpdateFile());
    }
    QCOMPARE(TIniFile(path).ReadString("S", "K", "?"), value);
}

namespace {
TIniKey slotOf(TIniKind kind, const QVariant& value) {
    TIniKey slot;
    slot.Kind = kind;
    slot.BoolValue = value.toBool();
    slot.IntValue = value.toInt();
    slot.SetStr(value.toString());
    return slot;
}
} // namespace

// Every kind of slot, as the record lists and the settings table keep them: written and read
// back under its name, and a slot whose value is missing or unreadable keeps its default.
void TestSettings::slotRoundTrip_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("line"); // as written
    QTest::addColumn<QString>("read");    // SlotText of what is read back
    const int b = int(TIniKind::Boolean), i = int(TIniKind::Integer), s = int(TIniKind::String);
    QTest::newRow("Boolean true") << b << QVariant(true) << QByteArray("K=1") << "-1";
    QTest::newRow("Boolean false") << b << QVariant(false) << QByteArray("K=0") << "0";
    QTest::newRow("Integer negative") << i << QVariant(-7) << QByteArray("K=-7") << "-7";
    QTest::newRow("Integer largest")
        << i << QVariant(INT32_MAX) << QByteArray("K=2147483647") << "2147483647";
    QTest::newRow("String padded")
        << s << QVariant("  a b  ") << QByteArray("K=\"  a b  \"") << "  a b  ";
    QTest::newRow("String cut") << s << QVariant(QString(300, 'x')) << "K=" + QByteArray(255, 'x')
                                << QString(255, 'x');
}

void TestSettings::slotRoundTrip() {
    QFETCH(int, kind);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, line);
    QFETCH(QString, read);
    TestHome home;
    const QString path = home.file("slots.ini");
    {
        TIniFile ini(path);
        WriteSlot(ini, "S", "K", slotOf(TIniKind(kind), value));
        QVERIFY(ini.UpdateFile());
    }
    QCOMPARE(ReadFile(path), "[S]\n" + line + "\n");
    TIniKey back = slotOf(TIniKind(kind), QVariant());
    back.BoolDefault = !value.toBool();
    back.IntDefault = 99;
    back.StrDefault = "default";
    ReadSlot(TIniFile(path), "s", "k", back); // names without regard to case
    QCOMPARE(SlotText(back), read);

    // A missing value, and one the kind cannot read, give the default.
    QVERIFY(WriteFile(path, "[S]\nK=not a number\n"));
    ReadSlot(TIniFile(path), "S", "Other", back);
    TIniKey byDefault = back;
    byDefault.BoolValue = back.BoolDefault;
    byDefault.IntValue = back.IntDefault;
    byDefault.StrValue = back.StrDefault;
    const QString fallback = SlotText(byDefault);
    QCOMPARE(SlotText(back), fallback);
    ReadSlot(TIniFile(path), "S", "K", back);
    QCOMPARE(SlotText(back), kind == int(TIniKind::String) ? QString("not a number") : fallback);
}

// A slot's text as the record lists give and take it (GetSetting, PutSetting).
void TestSettings::slotText_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("shown");
    const int b = int(TIniKind::Boolean), i = int(TIniKind::Integer), s = int(TIniKind::String);
    QTest::newRow("Boolean word") << b << "True" << true << "-1";
    QTest::newRow("Boolean other number") << b << " 7 " << true << "-1";
    QTest::newRow("Boolean zero") << b << "0" << true << "0";
    QTest::newRow("Boolean word false") << b << "FALSE" << true << "0";
    QTest::newRow("Boolean unreadable") << b << "maybe" << false << "-1";
    QTest::newRow("Integer") << i << "-12" << true << "-12";
    QTest::newRow("Integer with text") << i << "12 bytes" << false << "5";
    QTest::newRow("Integer out of range") << i << "99999999999" << false << "5";
    QTest::newRow("String") << s << " as typed " << true << " as typed ";
    QTest::newRow("String cut") << s << QString(300, 's') << true << QString(255, 's');
}

void TestSettings::slotText() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QFETCH(QString, shown);
    // Before: a true Boolean, the Integer 5, an empty String.
    TIniKey slot =
        slotOf(TIniKind(kind), kind == int(TIniKind::String) ? QVariant(QString()) : QVariant(5));
    QString error;
    QCOMPARE(SetSlotText(slot, text, &error), taken);
    QCOMPARE(error.isEmpty(), taken);
    if (!taken) QVERIFY2(error.contains("'" + text + "' is not a valid"), qPrintable(error));
    QCOMPARE(SlotText(slot), shown);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "settings_test.moc"
