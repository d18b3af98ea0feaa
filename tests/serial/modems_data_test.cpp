// The modem catalogue: entries in the settings file, the current entry, and the commands an
// entry gives the modem controller.
#include "core/inifile.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "platform/appdir.h"
#include "serial/modems.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {
TModemSettings hayes(TModemsList& list) {
    list.AddModem();
    TModemSettings entry = *list.GetModem(list.Count() - 1);
    list.DeleteModem(list.Count() - 1);
    auto set = [&](TModemKey k, const char* v) { entry[k].SetStr(v); };
    set(mdkCommandPrefix, "AT");
    set(mdkCommandReset, "ATZ");
    set(mdkDialString, "ATDT");
    set(mdkHangupString, "ATH");
    set(mdkDefaultInitialization, "AT&F");
    set(mdkAnswerString, "ATA");
    set(mdkMonitorOn, "ATS0=1");
    set(mdkBlindDialingOn, "X3");
    set(mdkErrorControlOn, "\\N3");
    set(mdkCompressionOn, "%C1");
    set(mdkOnDuringDialing, "M1");
    set(mdkOnDuringAnswer, "M2");
    set(mdkCommandSpeakerOff, "ATM0");
    return entry;
}
} // namespace

class TestModemsData : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newEntries() {
        TestHome home(1);
        TModemsList list(home.settings(), home.sink());
        QSet<QString> seen;
        const QRegularExpression guid("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                      "[0-9A-F]{12}\\}$");
        for (int i = 0; i < 20; ++i) {
            list.AddModem();
            const QString id = list.GetSetting(i, mdkGUID);
            QCOMPARE(id.size(), 38);
            QVERIFY2(guid.match(id).hasMatch(), qPrintable(id));
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 20);
        QCOMPARE(list.GetSetting(0, mdkSpkEnabled), QString("NO"));
        QCOMPARE(list.GetSetting(0, mdkAAMode), QString("0"));
        QCOMPARE(list.GetSetting(0, mdkFriendlyName), QString());
        QCOMPARE(list.GetSetting(20, mdkGUID), QString());
        QCOMPARE(QString(ModemKeyNames[mdkGUID]), QString("mdkGUID"));
        QCOMPARE(QString(ModemKeyCaptions[mdkGUID]), QString("Unique ID"));
        QCOMPARE(QString(ModemKeyCaptions[mdkAAMode]), QString("-mdkAAMode"));
        QCOMPARE(QString(ModemKeyCaptions[mdkDefaultInitialization]),
                 QString("Default Initialization:"));
    }

    void loadCompactsAndSaveRoundTrips() {
        TestHome home(2);
        WriteFile(home.settings().SettingsFilePath(), "[GENERAL]\nMRL_Modems=3\n"
                                      "[MODEM1]\nmdkFriendlyName=First\nmdkGUID={1}\n"
                                      "[MODEM2]\nmdkFriendlyName=No id\n"
                                      "[MODEM3]\nmdkFriendlyName=Third\nmdkGUID=Modem\\0003\n"
                                      "mdkCommandReset=ATZ\n");
        home.settings().PutInt(MRL_Modems, 3);
        TModemsList list(home.settings(), home.sink());
        list.Load();
        QCOMPARE(list.Count(), 2);
        QCOMPARE(home.settings().GetInt(MRL_Modems), 2);
        QCOMPARE(list.GetSetting(1, mdkFriendlyName), QString("Third"));
        QCOMPARE(list.GetSetting(1, mdkCommandReset), QString("ATZ"));
        QCOMPARE(list.GetSetting(1, mdkAAMode), QString()); // missing values read as empty

        for (int k = 0; k < ModemKeyCount; ++k)
            list.PutSetting(0, TModemKey(k), QString("v%1").arg(k));
        QVERIFY(list.Save());
        TIniFile ini(home.settings().SettingsFilePath());
        QCOMPARE(ini.ReadInteger("GENERAL", "MRL_Modems", -1), 2);
        home.settings().PutInt(MRL_Modems, 2);
        TModemsList again(home.settings(), home.sink());
        again.Load();
        QCOMPARE(again.Count(), 2);
        for (int k = 0; k < ModemKeyCount; ++k)
            QCOMPARE(again.GetSetting(0, TModemKey(k)), QString("v%1").arg(k));
    }

    void currentIndexOnDelete_data() {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("deleted");
        QTest::addColumn<int>("after");
        QTest::newRow("the current one") << 2 << 2 << -1;
        QTest::newRow("one before") << 2 << 0 << 2;
        QTest::newRow("one after") << 1 << 3 << 1;
        QTest::newRow("out of range") << 1 << 7 << 1;
    }
    void currentIndexOnDelete() {
        QFETCH(int, current);
        QFETCH(int, deleted);
        QFETCH(int, after);
        TestHome home(1);
        TModemsList list(home.settings(), home.sink());
        for (int i = 0; i < 4; ++i)
            list.AddModem();
        list.CurrentIndex = current;
        list.DeleteModem(deleted);
        QCOMPARE(list.CurrentIndex, after);
        QCOMPARE(list.Count(), deleted < 4 ? 3 : 4);
    }

    void setModemAndCopies() {
        TestHome home(1);
        TModemsList list(home.settings(), home.sink());
        TModemSettings entry = hayes(list);
        list.SetModem(2, &entry);
        QCOMPARE(list.Count(), 3);
        QCOMPARE(list.GetSetting(2, mdkCommandReset), QString("ATZ"));
        QCOMPARE(list.GetSetting(2, mdkGUID), entry.Get(mdkGUID));
        QCOMPARE(list.GetSetting(0, mdkAAMode), QString("0")); // filled as by AddModem
        list.SetModem(-1, &entry);
        list.SetModem(0, nullptr);
        QCOMPARE(list.Count(), 3);
        list.SetModem(1, list.GetModem(2)); // from the list itself
        QCOMPARE(list.GetSetting(1, mdkCommandReset), QString("ATZ"));

        list.CurrentIndex = 2;
        TModemsList copy(home.settings(), home.sink());
        copy.AddModem();
        copy.CopyFrom(&list);
        QCOMPARE(copy.Count(), 3);
        QCOMPARE(copy.CurrentIndex, 2);
        copy.PutSetting(2, mdkCommandReset, "ATZ0");
        QCOMPARE(list.GetSetting(2, mdkCommandReset), QString("ATZ"));
        copy.Clear();
        QCOMPARE(copy.Count(), 0);
    }

    void initStrings_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("spk");
        QTest::addColumn<QString>("aa");
        QTest::addColumn<QString>("extra");
        QTest::newRow("client, speaker on") << 1 << "YES"
                                            << "1"
                                            << "ATX3^M|||AT\\N3^M|||AT%C1^M|||ATM1^M|||";
        QTest::newRow("client, speaker off") << 1 << "NO"
                                             << "1"
                                             << "ATX3^M|||AT\\N3^M|||AT%C1^M|||ATM0^M|||";
        QTest::newRow("server, auto-answer")
            << 2 << "YES"
            << "1"
            << "ATX3^M|||AT\\N3^M|||AT%C1^M|||ATM2^M|||ATS0=1^M|||";
        QTest::newRow("server, no auto-answer") << 2 << "NO"
                                                << "0"
                                                << "ATX3^M|||AT\\N3^M|||AT%C1^M|||ATM0^M|||";
        QTest::newRow("no role") << 0 << "YES"
                                 << "1"
                                 << "ATX3^M|||AT\\N3^M|||AT%C1^M|||";
    }
    void initStrings() {
        QFETCH(int, role);
        QFETCH(QString, spk);
        QFETCH(QString, aa);
        QFETCH(QString, extra);
        TestHome home(role);
        TModemsList list(home.settings(), home.sink());
        TModemSettings entry = hayes(list);
        for (TModemKey k :
             {mdkSupportsBlindDialing, mdkUseBlindDialing, mdkSupportsErrorControl, mdkUseECC,
              mdkSupportsDataCompression, mdkUseCompression, mdkSupportsSpeakerControl})
            entry[k].SetStr("YES");
        entry[mdkSpkEnabled].SetStr(spk);
        entry[mdkAAMode].SetStr(aa);
        QStringList config{"resetcmd=ATZ0^M", "DIALTERM=^M", "INITCMD = AT^M", "X=1"};
        QString got = "stale";
        SetModemInitStrings(config, entry, got, TRole(role));
        QCOMPARE(got, extra);
        QCOMPARE(config, (QStringList{"RESETCMD=ATZ^M", "DIALTERM=^M", "INITCMD=AT&F^M", "X=1",
                                      "DIALCMD=ATDT", "HANGUPCMD=ATH^M", "ANSWERCMD=ATA^M"}));
    }

    void initStringsWithNothingChosen() {
        TestHome home(2);
        TModemsList list(home.settings(), home.sink());
        TModemSettings entry = hayes(list);
        entry[mdkCommandReset].SetStr("");
        entry[mdkAAMode].SetStr("0");
        // Supported but not chosen, and "yes" is not "YES".
        entry[mdkSupportsBlindDialing].SetStr("YES");
        entry[mdkUseECC].SetStr("yes");
        entry[mdkSupportsErrorControl].SetStr("YES");
        QStringList config{"RESETCMD=ATZ^M"};
        QString extra;
        SetModemInitStrings(config, entry, extra, RoleServer);
        QCOMPARE(extra, QString());
        QCOMPARE(config.first(), QString("RESETCMD=ATZ^M")); // an empty value leaves the line
    }
};

QTEST_GUILESS_MAIN(TestModemsData)
#include "modems_data_test.moc"
