// "Modem Parameters" and "Detected Modems" without their windows: the fields filled from the
// current entry and the check boxes the modem allows, the eight checks of OK in their order with
// their messages, the role's fields, the private copy handed back only on OK; detection on a
// worker thread (status lines on the main thread), the details of a detected modem and the rule
// for taking one over.
#include "common/test_home.h"
#include "consoles/detected_modems.h"
#include "consoles/modem_properties.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// An entry that passes every check, supporting every choice.
int addCompleteModem(TModemsList& list, const QString& name) {
    list.AddModem();
    const int i = list.Count() - 1;
    const std::pair<TModemKey, const char*> values[] = {
        {mdkFriendlyName, ""},
        {mdkDialString, "ATDT"},
        {mdkDialPrefixNo, "9,"},
        {mdkDefaultInitialization, "AT&F"},
        {mdkHangupString, "ATH"},
        {mdkCommandReset, "ATZ"},
        {mdkMonitorOn, "ATS0=1"},
        {mdkMonitorOff, "ATS0=0"},
        {mdkCommandSpeakerOn, "ATM2"},
        {mdkCommandSpeakerOff, "ATM0"},
        {mdkSupportsBlindDialing, "YES"},
        {mdkSupportsErrorControl, "YES"},
        {mdkSupportsDataCompression, "YES"},
        {mdkSupportsSpeakerControl, "YES"},
        {mdkUseBlindDialing, "YES"},
        {mdkUseECC, "NO"},
        {mdkUseCompression, "YES"},
        {mdkSpkEnabled, "YES"},
        {mdkAAMode, "2"},
    };
    for (const auto& [key, value] : values)
        list.PutSetting(i, key, value);
    list.PutSetting(i, mdkFriendlyName, name);
    return i;
}

QStringList values(TModemsList& list, int index) {
    QStringList out;
    for (int k = 0; k < ModemKeyCount; ++k)
        out << list.GetSetting(index, TModemKey(k));
    return out;
}

// A detection source that sees only the description files of the home.
TComInfo isolatedSource(const QTemporaryDir& empty) {
    TComInfo source;
    source.TtyClassDir = empty.path();
    source.DevDir = empty.path();
    return source;
}

bool describeModem(TestHome& home, const QString& file, const QByteArray& modemSection) {
    return WriteFile(home.file("modems/" + file), "[Modem]\n" + modemSection);
}
} // namespace

class TestModemDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fieldsFollowTheCurrentEntry() {
        TestHome home(2);
        TModemsList& modems = *home.ctx().modems;
        addCompleteModem(modems, "Other");
        const int edited = addCompleteModem(modems, "Desk modem");
        modems.PutSetting(edited, mdkSupportsBlindDialing, "NO");    // chosen, but not supported
        modems.PutSetting(edited, mdkSupportsSpeakerControl, "yes"); // only "YES" counts
        modems.CurrentIndex = edited;
        TModemProperties dialog(modems, home.settings(), home.prompt());
        dialog.Show();
        const TModemFields& f = dialog.fields;
        QCOMPARE((QStringList{f.name, f.dialString, f.dialPrefix, f.init, f.hangup, f.reset,
                              f.autoAnswerOn, f.autoAnswerOff, f.speakerOn, f.speakerOff}),
                 (QStringList{"Desk modem", "ATDT", "9,", "AT&F", "ATH", "ATZ", "ATS0=1", "ATS0=0",
                              "ATM2", "ATM0"}));
        QCOMPARE((QList<bool>{dialog.blindEnabled, dialog.errorCorrectionEnabled,
                              dialog.compressionEnabled, dialog.speakerEnabled}),
                 (QList<bool>{false, true, true, false}));
        QCOMPARE((QList<bool>{f.blind, f.errorCorrection, f.compression, f.speaker}),
                 (QList<bool>{false, false, true, false}));
        QCOMPARE(f.autoAnswerMode, 2);
        QVERIFY(dialog.autoAnswerVisible());
        QVERIFY(!dialog.dialVisible());

        // OK stores the choices the modem allows: blind dialing and the speaker go off.
        QVERIFY(dialog.Ok());
        QCOMPARE(modems.GetSetting(edited, mdkUseBlindDialing), QString("NO"));
        QCOMPARE(modems.GetSetting(edited, mdkSpkEnabled), QString("NO"));
        QCOMPARE(modems.GetSetting(edited, mdkUseCompression), QString("YES"));
        QCOMPARE(modems.GetSetting(edited, mdkAAMode), QString("2"));
    }

    void okChecksInOrder_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("failing"); // the first check that fails; every later one fails too
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("storedName"); // the working copy's name after the failure
        QTest::newRow("1 comma") << 1 << 1 << "Modem name must not contain commas!"
                                 << "Original";
        QTest::newRow("2 blank name") << 1 << 2 << "Invalid modem name!"
                                      << "Original";
        QTest::newRow("3 blank dial string") << 1 << 3 << "Invalid dial string!"
                                             << "New name";
        QTest::newRow("4 init") << 1 << 4 << "Invalid init string!"
                                << "New name";
        QTest::newRow("5 hangup") << 1 << 5 << "Invalid hangup string!"
                                  << "New name";
        QTest::newRow("6 reset") << 2 << 6 << "Invalid reset string!"
                                 << "New name";
        QTest::newRow("7 auto-answer on") << 2 << 7 << "Invalid auto-answer ON string!"
                                          << "New name";
        QTest::newRow("8 speaker on") << 1 << 8 << "Invalid speaker ON string!"
                                      << "New name";
    }
    void okChecksInOrder() {
        QFETCH(int, role);
        QFETCH(int, failing);
        QFETCH(QString, message);
        QFETCH(QString, storedName);
        TestHome home(role);
        TModemsList& modems = *home.ctx().modems;
        const int edited = addCompleteModem(modems, "Original");
        modems.CurrentIndex = edited;
        const QStringList before = values(modems, edited);
        TModemProperties dialog(modems, home.settings(), home.prompt());
        dialog.Show();
        TModemFields& f = dialog.fields;
        f.name = "New name";
        f.autoAnswerMode = 1;
        f.speaker = true;
        const auto breaks = [&](int check) { return check >= failing; };
        if (breaks(1)) f.name = "New, name";
        if (breaks(2) && failing == 2) f.name = "  ";
        if (breaks(3)) f.dialString = " \t";
        if (breaks(4)) f.init.clear();
        if (breaks(5)) f.hangup.clear();
        if (breaks(6)) f.reset.clear();
        if (breaks(7)) f.autoAnswerOn.clear();
        if (breaks(8)) f.speakerOn.clear();

        QVERIFY(!dialog.Ok());
        QCOMPARE(home.prompt().texts(), QStringList{message});
        QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Error);
        QCOMPARE(home.prompt().boxes[0].buttons, TBoxButtons::Ok);
        QCOMPARE(values(modems, edited), before);
        // Values are stored into the working copy as each of their checks passes.
        QCOMPARE(dialog.Working().GetSetting(edited, mdkFriendlyName), storedName);
    }

    void roleDecidesDialAndAutoAnswer() {
        TestHome client(1);
        TModemsList& clientModems = *client.ctx().modems;
        const int c = addCompleteModem(clientModems, "Line");
        clientModems.CurrentIndex = c;
        TModemProperties clientDialog(clientModems, client.settings(), client.prompt());
        clientDialog.Show();
        QVERIFY(clientDialog.dialVisible());
        QVERIFY(!clientDialog.autoAnswerVisible());
        QCOMPARE(clientDialog.fields.autoAnswerMode, 0); // hidden: its first item
        clientDialog.fields.autoAnswerOn.clear();        // not needed for the first item
        QVERIFY(clientDialog.Ok());
        QCOMPARE(clientModems.GetSetting(c, mdkAAMode), QString("0"));

        TestHome server(2);
        TModemsList& serverModems = *server.ctx().modems;
        const int s = addCompleteModem(serverModems, "Line");
        serverModems.CurrentIndex = s;
        TModemProperties serverDialog(serverModems, server.settings(), server.prompt());
        serverDialog.Show();
        serverDialog.fields.dialString.clear();
        serverDialog.fields.autoAnswerMode = 1;
        // A name with blanks around it passes and is kept as typed.
        serverDialog.fields.name = "  Spaced  ";
        QVERIFY(serverDialog.Ok());
        QCOMPARE(serverModems.GetSetting(s, mdkDialString), QString());
        QCOMPARE(serverModems.GetSetting(s, mdkAAMode), QString("1"));
        QCOMPARE(serverModems.GetSetting(s, mdkFriendlyName), QString("  Spaced  "));
        QVERIFY(server.prompt().boxes.isEmpty());
    }

    void okStoresEveryFieldAndHandsTheCopyBack() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addCompleteModem(modems, "Other");
        const int edited = addCompleteModem(modems, "Desk modem");
        modems.CurrentIndex = edited;
        TModemProperties dialog(modems, home.settings(), home.prompt());
        dialog.Show();
        TModemFields& f = dialog.fields;
        f = TModemFields{"Bench", "ATDP",  "0W",  "ATE0", "ATH0", "ATZ0", "ATS0=2", "ATS0=0x",
                         "ATM1",  "ATM0x", false, true,   false,  true,   0};
        QVERIFY(dialog.Ok());
        const std::pair<TModemKey, QString> expected[] = {
            {mdkFriendlyName, "Bench"},
            {mdkDialString, "ATDP"},
            {mdkDialPrefixNo, "0W"},
            {mdkDefaultInitialization, "ATE0"},
            {mdkHangupString, "ATH0"},
            {mdkCommandReset, "ATZ0"},
            {mdkMonitorOn, "ATS0=2"},
            {mdkMonitorOff, "ATS0=0x"},
            {mdkCommandSpeakerOn, "ATM1"},
            {mdkCommandSpeakerOff, "ATM0x"},
            {mdkUseBlindDialing, "NO"},
            {mdkUseECC, "YES"},
            {mdkUseCompression, "NO"},
            {mdkSpkEnabled, "YES"},
            {mdkAAMode, "0"},
        };
        for (const auto& [key, value] : expected)
            QVERIFY2(modems.GetSetting(edited, key) == value, ModemKeyNames[key]);
        QCOMPARE(modems.GetSetting(0, mdkFriendlyName), QString("Other"));
        QCOMPARE(modems.CurrentIndex, edited);
    }

    void nothingToEditWithoutACurrentEntry() {
        TestHome home(1);
        TModemsList& modems = *home.ctx().modems;
        addCompleteModem(modems, "Other");
        modems.CurrentIndex = -1;
        TModemProperties dialog(modems, home.settings(), home.prompt());
        dialog.Show();
        QCOMPARE(dialog.fields.name, QString("Generic Modem"));
        dialog.fields.name = "Changed";
        QVERIFY(!dialog.Ok());
        QVERIFY(home.prompt().boxes.isEmpty());
        QCOMPARE(modems.GetSetting(0, mdkFriendlyName), QString("Other"));
    }

    // Detection runs on its worker; its status lines still reach the program's session text.
    void detectionListsModemsWithTheirDetails() {
        TestHome home(1);
        QVERIFY(
            describeModem(home, "a.ini", "Manufacturer=Acme\nModel=Fast 56K\nAttachedTo=COM7\n"));
        QVERIFY(describeModem(home, "b.ini", "Manufacturer=Bench\nModel=LL-9600\n"));
        TModemsList& modems = *home.ctx().modems;
        QTemporaryDir empty;
        TDetectedModems dialog(modems, home.prompt());
        dialog.Source = isolatedSource(empty);
        QSignalSpy finished(&dialog, &TDetectedModems::DetectionFinished);
        dialog.Show();
        QVERIFY(dialog.Detecting());
        QVERIFY(finished.wait(10000));
        QVERIFY(!dialog.Detecting());

        TModemsList& found = dialog.Detected();
        QCOMPARE(found.Count(), 2);
        QCOMPARE(found.GetSetting(0, mdkFriendlyName), QString("Acme Fast 56K"));
        QCOMPARE(found.GetSetting(0, mdkAttachedTo), QString("COM7"));
        QCOMPARE(found.GetSetting(1, mdkFriendlyName), QString("Bench LL-9600"));
        QCOMPARE(dialog.selected(), 0);
        const QStringList status = home.status();
        QVERIFY2(status.contains("TModemsList.Detect: nummodems=1"), qPrintable(status.join('\n')));
        QVERIFY(status.contains("TModemsList.Detect: (0) Detected Acme Fast 56K on COM7"));

        // Every key whose caption is shown, in key order, with the modem's value.
        const auto details = dialog.Details();
        int shown = 0;
        for (int k = 0; k < ModemKeyCount; ++k) {
            if (ModemKeyCaptions[k][0] == '-') continue;
            QCOMPARE(details.value(shown).first, QString(ModemKeyCaptions[k]));
            QCOMPARE(details.value(shown).second, found.GetSetting(0, TModemKey(k)));
            ++shown;
        }
        QCOMPARE(details.size(), shown);
        QCOMPARE(details.first().second, QString("Acme"));
        dialog.Select(1);
        QCOMPARE(dialog.Details()[1].second, QString("Bench LL-9600"));
        dialog.Select(7);
        QCOMPARE(dialog.selected(), -1);
        QVERIFY(dialog.Details().isEmpty());
        QVERIFY(!dialog.SelectClicked());
        QVERIFY(home.prompt().boxes.isEmpty());
    }

    void selectTakesOverTheCurrentEntry() {
        TestHome home(1);
        QVERIFY(
            describeModem(home, "a.ini", "Manufacturer=Acme\nModel=Fast 56K\nAttachedTo=COM7\n"));
        TModemsList& modems = *home.ctx().modems;
        addCompleteModem(modems, "Acme Fast 56K");
        const int desk = addCompleteModem(modems, "Desk modem");
        QTemporaryDir empty;

        // The name belongs to another entry: refused, nothing changes.
        modems.CurrentIndex = desk;
        const QStringList before = values(modems, desk);
        {
            TDetectedModems dialog(modems, home.prompt());
            dialog.Source = isolatedSource(empty);
            QSignalSpy finished(&dialog, &TDetectedModems::DetectionFinished);
            dialog.Show();
            QVERIFY(finished.wait(10000));
            QVERIFY(!dialog.SelectClicked());
            QCOMPARE(home.prompt().texts(),
                     QStringList{"This modem was previously added to the list of available "
                                 "modems!"});
            QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Error);
            QCOMPARE(values(modems, desk), before);
        }

        // For the entry that has that name it is taken, every value including the identity.
        modems.CurrentIndex = 0;
        {
            TDetectedModems dialog(modems, home.prompt());
            dialog.Source = isolatedSource(empty);
            QSignalSpy finished(&dialog, &TDetectedModems::DetectionFinished);
            dialog.Show();
            QVERIFY(finished.wait(10000));
            QVERIFY(dialog.SelectClicked());
            QCOMPARE(values(modems, 0), values(dialog.Detected(), 0));
            QCOMPARE(modems.GetSetting(0, mdkGUID), QString("COM7"));
            QCOMPARE(modems.Count(), 2);
            QCOMPARE(values(modems, desk), before);
        }

        // Without a current entry a new one is added for it.
        modems.DeleteModem(0);
        modems.CurrentIndex = -1;
        {
            TDetectedModems dialog(modems, home.prompt());
            dialog.Source = isolatedSource(empty);
            QSignalSpy finished(&dialog, &TDetectedModems::DetectionFinished);
            dialog.Show();
            QVERIFY(finished.wait(10000));
            QVERIFY(dialog.SelectClicked());
            QCOMPARE(modems.Count(), 2);
            QCOMPARE(modems.CurrentIndex, 1);
            QCOMPARE(modems.GetSetting(1, mdkFriendlyName), QString("Acme Fast 56K"));
        }
        QCOMPARE(home.prompt().boxes.size(), 1);
    }

    // Closing the window while detection runs: the result is dropped, nothing waits for it.
    void abandonedDetectionChangesNothing() {
        TestHome home(1);
        QVERIFY(describeModem(home, "a.ini", "Manufacturer=Acme\nModel=Fast 56K\n"));
        TModemsList& modems = *home.ctx().modems;
        const int desk = addCompleteModem(modems, "Desk modem");
        modems.CurrentIndex = desk;
        const QStringList before = values(modems, desk);
        QTemporaryDir empty;
        for (int round = 0; round < 20; ++round) {
            auto dialog = std::make_unique<TDetectedModems>(modems, home.prompt());
            dialog->Source = isolatedSource(empty);
            dialog->Show();
            if (round % 2) QTest::qWait(1);
            dialog.reset();
        }
        QTest::qWait(300);
        QCOMPARE(modems.Count(), 1);
        QCOMPARE(values(modems, desk), before);
    }
};

QTEST_GUILESS_MAIN(TestModemDialogs)
#include "modem_dialogs_test.moc"
