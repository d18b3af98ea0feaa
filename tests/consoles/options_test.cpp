// The options dialogs' logic over a real program folder: the values they show, the device list
// with its check boxes and buttons, the Users tab, the OK checks in order with their messages,
// and the copies reaching the program only on OK.
#include "consoles/account_dialogs.h"
#include "consoles/console_base.h"
#include "consoles/console_world.h"
#include "consoles/options.h"
#include "core/inifile.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const QString DeleteDevice = QStringLiteral("Are you sure you want to delete the selected device?");
const QString DeleteUser = QStringLiteral("Are you sure you want to delete the selected user?");

// A device editor as the device dialog behaves: on OK it configures the device as a direct
// cable on `port` and adds a modem configuration to the modem copy; on Cancel it changes
// nothing.
struct ScriptedDeviceEditor {
    QList<bool> answers; // one per call; none left: OK
    QString port = QStringLiteral("COM1");
    int calls = 0;
    TDeviceEditor editor() {
        return [this](TModemsList& modems, TCommDevice& device) {
            ++calls;
            if (!answers.isEmpty() && !answers.takeFirst()) return false;
            device[dvkDevType].SetStr("Direct");
            device[dvkDevName].SetStr(port);
            device[dvkDevGUID].SetStr(port);
            device[dvkDevParam].SetStr(port + ",57600,8,None,1");
            modems.AddModem();
            return true;
        };
    }
};

// A user editor that fills the user dialog as an operator would and presses its OK.
struct TypedUser {
    explicit TypedUser(const QString& typedName) : name(typedName) {}
    QString name;
    QString password = QStringLiteral("secret");
    QStringList defaults; // the default folders the editor was given, per call
    TUserEditor editor(TScriptedPrompt& prompt) {
        return [this, &prompt](TMRLUser& user, const QString& inbox, const QString& outbox) {
            defaults << inbox + "|" + outbox;
            TfrmHstUsr dialog(user, inbox, outbox, prompt);
            dialog.setUserName(name);
            dialog.setPassword(password);
            dialog.setConfirmation(password);
            return dialog.btOkClick();
        };
    }
};

QStringList checks(const TOptionsBase& options) {
    QStringList out;
    for (const TDeviceRow& row : options.deviceRows())
        out << (row.checked ? "x" : "-") + row.name;
    return out;
}

QStringList userNames(const TfrmHstOpt& options) {
    QStringList out;
    for (const QStringList& row : options.userRows())
        out << row.value(0);
    return out;
}

QString iniValue(ConsoleWorld& w, const QString& section, const QString& key) {
    TIniFile ini(w.home.file("marrowline.ini"));
    return ini.ReadString(section, key, QStringLiteral("<none>"));
}
} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverShowsTheSettingsAndLists();
    void cancelLeavesEverythingAsItWas();
    void serverOkTakesOverAndSaves();
    void serverOkChecksTheFoldersInOrder();
    void deviceButtons();
    void serverChecksSurviveARefill();
    void usersTab();
    void batchIntervalShown_data();
    void batchIntervalShown();
    void clientDefaultConnection();
    void clientOkRefusesMissingFolders();
    void clientOkTakesOverAndSaves();
    void folderButtonsAndNumberRanges();
};

void TestOptions::serverShowsTheSettingsAndLists() {
    ConsoleWorld w(2);
    TSettings& s = w.home.settings();
    s.PutBool(MRL_AutoRun, true);
    s.PutBool(SVR_AutoDelivery, true);
    s.PutBool(SVR_PopupNotification, true);
    s.PutInt(SVR_SessionTimeout, 45); // above the field's range
    s.PutInt(MRL_MaxLogSize, 20000);
    w.addDevice("Direct", "COM1", "COM1", true);
    w.addDevice("Modem", "Hayes", "{G}", false);
    Devices()->PutSetting(0, dvkDevParam, "COM1,57600,8,None,1");
    w.addUser("BOB", "pw");
    w.addUser("ANN", "pw", w.home.file("ANNOUT"));

    TfrmHstOpt options(w.services(), {}, {});
    QCOMPARE(options.inbox(), w.home.file("INBOX"));
    QCOMPARE(options.outbox(), w.home.file("OUTBOX"));
    QVERIFY(options.launch());
    QVERIFY(options.autoDelivery());
    QVERIFY(options.notification());
    QCOMPARE(options.sessionTimeout(), 30);
    QCOMPARE(options.maxLogSize(), 20000);
    QCOMPARE(checks(options), QStringList({"xCOM1", "-Hayes"}));
    const TDeviceRow& row = options.deviceRows()[0];
    QCOMPARE(QStringList({row.type, row.param, row.retries}),
             QStringList({"Direct", "COM1,57600,8,None,1", "5"}));
    QCOMPARE(options.userRows(),
             QList<QStringList>({{"BOB", w.home.file("INBOX"), w.home.file("OUTBOX")},
                                 {"ANN", w.home.file("INBOX"), w.home.file("ANNOUT")}}));
    QCOMPARE(options.deviceSelection(), -1);
    QCOMPARE(options.userSelection(), -1);
    QVERIFY(!options.canEditDevices());
}

void TestOptions::cancelLeavesEverythingAsItWas() {
    ConsoleWorld w(2);
    w.addDevice("Direct", "COM1", "COM1", false);
    w.addUser("BOB", "pw");
    Users()->Save();
    w.home.settings().Save(w.prompt, w.home.sink());
    const QByteArray iniBefore = ReadFile(w.home.file("marrowline.ini"));
    const QString bobFile = Users()->UserFilePath("BOB");
    QVERIFY(QFile::exists(bobFile));

    ScriptedDeviceEditor devices;
    TypedUser typed("CAROL");
    {
        TfrmHstOpt options(w.services(), devices.editor(), typed.editor(w.prompt));
        options.btAddDevClick();
        options.lvConnChange(0, true);
        options.btNewUserClick();
        options.setUserSelection(0);
        w.prompt.answers << TBoxResult::Yes;
        options.btDelUserClick();
        options.setInbox(w.home.file("ELSEWHERE"));
        options.setLaunch(true);
        QCOMPARE(options.devices().Count(), 2);
        QCOMPARE(userNames(options), QStringList{"CAROL"});
        // The dialog is closed with Cancel: its copies go with it.
    }
    QCOMPARE(Devices()->Count(), 1);
    QCOMPARE(Devices()->GetSetting(0, dvkDevHostActive), QString("NO"));
    QCOMPARE(w.ctx().modems->Count(), 0);
    QCOMPARE(Users()->Count(), 1);
    QVERIFY(QFile::exists(bobFile)); // a deleted account keeps its file until OK
    QCOMPARE(w.home.settings().GetStr(MRL_Inbox), w.home.file("INBOX"));
    QVERIFY(!w.home.settings().GetBool(MRL_AutoRun));
    QCOMPARE(ReadFile(w.home.file("marrowline.ini")), iniBefore);
    QVERIFY(!QFileInfo::exists(w.home.file("ELSEWHERE")));
}

void TestOptions::serverOkTakesOverAndSaves() {
    ConsoleWorld w(2);
    w.addDevice("Direct", "COM1", "COM1", false);
    w.addUser("BOB", "pw");
    w.addUser("ANN", "pw", w.home.file("ANNOUT"));
    w.addUser("DAN", "pw");
    Users()->Save();
    const QString danFile = Users()->UserFilePath("DAN");

    ScriptedDeviceEditor devices;
    devices.port = "COM2";
    TypedUser typed("carol");
    TfrmHstOpt options(w.services(), devices.editor(), typed.editor(w.prompt));
    options.btAddDevClick();
    options.lvConnChange(0, true);
    options.btNewUserClick();
    options.setUserSelection(2);
    w.prompt.answers << TBoxResult::Yes;
    options.btDelUserClick();
    QCOMPARE(userNames(options), QStringList({"BOB", "ANN", "CAROL"}));
    // A new Inbox that does not exist yet is made.
    const QString inbox = w.home.file("NEW/IN");
    options.setInbox(" " + inbox + " ");
    options.setLaunch(true);
    options.setAutoDelivery(true);
    options.setNotification(true);
    options.setSessionTimeout(12);
    options.setMaxLogSize(40000);
    QVERIFY(options.btOkClick());
    QCOMPARE(w.prompt.texts(), QStringList{DeleteUser}); // no box from OK itself
    QVERIFY(QFileInfo(inbox).isDir());
    QCOMPARE(options.inbox(), inbox);

    TSettings& s = w.home.settings();
    QCOMPARE(s.GetStr(MRL_Inbox), inbox);
    QVERIFY(s.GetBool(MRL_AutoRun));
    QVERIFY(s.GetBool(SVR_AutoDelivery));
    QVERIFY(s.GetBool(SVR_PopupNotification));
    QCOMPARE(s.GetInt(SVR_SessionTimeout), 12);
    QCOMPARE(s.GetInt(MRL_MaxLogSize), 40000);
    // Saved: the settings, the devices and the modems in the settings file, the accounts in
    // their files.
    QCOMPARE(iniValue(w, "GENERAL", "MRL_Inbox"), inbox);
    QCOMPARE(iniValue(w, "SERVER", "SVR_SessionTimeout"), QString("12"));
    QCOMPARE(iniValue(w, "GENERAL", "MRL_CommDevices"), QString("2"));
    QCOMPARE(iniValue(w, "DEVICE1", "dvkDevHostActive"), QString("YES"));
    QCOMPARE(iniValue(w, "DEVICE2", "dvkDevGUID"), QString("COM2"));
    QCOMPARE(iniValue(w, "GENERAL", "MRL_Modems"), QString("1"));
    QCOMPARE(w.ctx().modems->Count(), 1);
    QCOMPARE(Devices()->Count(), 2);
    QVERIFY(QFileInfo::exists(w.home.file(".xdg-config/autostart/Marrowline.desktop")));

    // The accounts that follow the global Inbox follow the new one; DAN's file is gone.
    QCOMPARE(Users()->Count(), 3);
    QCOMPARE(Users()->GetSetting(0, ukInbox), inbox);
    QCOMPARE(Users()->GetSetting(2, ukUser), QString("CAROL"));
    QCOMPARE(Users()->GetSetting(2, ukInbox), inbox);
    QCOMPARE(Users()->GetSetting(1, ukOutbox), w.home.file("ANNOUT"));
    QVERIFY(!QFile::exists(danFile));
    TUsersList reread(s, w.home.sink());
    reread.Load();
    QCOMPARE(reread.Count(), 3);
    QVERIFY(reread.SearchItem("carol", "secret") >= 0);
}

void TestOptions::serverOkChecksTheFoldersInOrder() {
    ConsoleWorld w(2);
    WriteFile(w.home.file("plain"), "x"); // a file: no folder can be made below it
    struct Case {
        QString inbox, outbox, message;
    };
    const QList<Case> cases{
        {"", "", "Invalid INBOX path specified."},
        {"relative/in", w.home.file("OUTBOX"), "Invalid INBOX path specified."},
        {w.home.file("plain/in"), "", "Invalid INBOX path specified."},
        {w.home.file("INBOX"), w.home.file("plain/out"), "Invalid OUTBOX path specified."},
        {w.home.file("IN2"), "  ", "Invalid OUTBOX path specified."},
    };
    for (const Case& c : cases) {
        w.prompt.boxes.clear();
        TfrmHstOpt options(w.services(), {}, {});
        options.setInbox(c.inbox);
        options.setOutbox(c.outbox);
        options.setLaunch(true);
        QVERIFY(!options.btOkClick());
        QCOMPARE(w.prompt.texts(), QStringList{c.message});
        QCOMPARE(w.prompt.boxes[0].icon, TBoxIcon::Error);
        QCOMPARE(w.prompt.boxes[0].buttons, TBoxButtons::Ok);
        // A failed OK takes nothing over, the Inbox accepted before the failure neither.
        QCOMPARE(w.home.settings().GetStr(MRL_Inbox), w.home.file("INBOX"));
        QVERIFY(!w.home.settings().GetBool(MRL_AutoRun));
    }
    QVERIFY(!QFileInfo::exists(QDir::current().filePath("relative")));
    QVERIFY(!QFileInfo::exists(w.home.file("marrowline.ini")));
}

void TestOptions::deviceButtons() {
    ConsoleWorld w(1);
    w.addDevice("Direct", "COM1", "COM1");
    ScriptedDeviceEditor devices;
    TfrmRemOpt options(w.services(), devices.editor());
    QSignalSpy changed(&options, &TOptionsBase::devicesChanged);

    // Add, cancelled in the device dialog: the new device goes again.
    devices.answers << false;
    options.btAddDevClick();
    QCOMPARE(options.devices().Count(), 1);
    QCOMPARE(checks(options), QStringList{"-COM1"});
    // Add, OK: appended and selected.
    devices.port = "COM3";
    options.btAddDevClick();
    QCOMPARE(checks(options), QStringList({"-COM1", "-COM3"}));
    QCOMPARE(options.deviceSelection(), 1);
    QVERIFY(changed.count() > 0);

    // Edit works on the selected device only.
    options.setDeviceSelection(-1);
    const int calls = devices.calls;
    options.btEditDevClick();
    QCOMPARE(devices.calls, calls);
    options.setDeviceSelection(0);
    devices.port = "COM4";
    options.btEditDevClick();
    QCOMPARE(checks(options), QStringList({"-COM4", "-COM3"}));
    QCOMPARE(options.deviceSelection(), 0);
    devices.answers << false;
    devices.port = "COM9";
    options.btEditDevClick();
    QCOMPARE(checks(options), QStringList({"-COM4", "-COM3"}));

    // Delete asks; No keeps the device, Yes removes it; the Delete key does the same.
    w.prompt.answers << TBoxResult::No << TBoxResult::Yes;
    options.btDelDevClick();
    QCOMPARE(options.devices().Count(), 2);
    options.btDelDevClick();
    QCOMPARE(checks(options), QStringList{"-COM3"});
    QCOMPARE(options.deviceSelection(), -1);
    options.lvConnKeyDown(Qt::Key_Delete); // nothing selected: no question
    options.setDeviceSelection(0);
    options.lvConnKeyDown(Qt::Key_Insert);
    QCOMPARE(w.prompt.texts(), QStringList({DeleteDevice, DeleteDevice}));
    w.prompt.answers << TBoxResult::Yes;
    options.lvConnKeyDown(Qt::Key_Delete);
    QCOMPARE(options.devices().Count(), 0);
    QCOMPARE(w.prompt.boxes.last().icon, TBoxIcon::Warning);
    QCOMPARE(w.prompt.boxes.last().buttons, TBoxButtons::YesNo);
    QCOMPARE(Devices()->Count(), 1); // the program's list is untouched before OK

    // Without a device dialog Add and Edit do nothing.
    TfrmRemOpt bare(w.services(), {});
    bare.btAddDevClick();
    QCOMPARE(bare.devices().Count(), 1);
}

void TestOptions::serverChecksSurviveARefill() {
    ConsoleWorld w(2);
    w.addDevice("Direct", "COM1", "COM1", false);
    w.addDevice("Direct", "COM2", "COM2", true);
    ScriptedDeviceEditor devices;
    devices.port = "COM3";
    TfrmHstOpt options(w.services(), devices.editor(), {});
    options.lvConnChange(0, true);
    options.lvConnChange(1, false);
    // Adding a device fills the list again from the copy: the checks just made stay.
    options.btAddDevClick();
    QCOMPARE(checks(options), QStringList({"xCOM1", "-COM2", "-COM3"}));
    options.lvConnChange(2, true);
    QCOMPARE(checks(options), QStringList({"xCOM1", "-COM2", "xCOM3"}));
    QVERIFY(options.btOkClick());
    QCOMPARE(Devices()->GetSetting(0, dvkDevHostActive), QString("YES"));
    QCOMPARE(Devices()->GetSetting(1, dvkDevHostActive), QString("NO"));
    QCOMPARE(Devices()->GetSetting(2, dvkDevHostActive), QString("YES"));
}

void TestOptions::usersTab() {
    ConsoleWorld w(2);
    w.addUser("BOB", "pw");
    w.addUser("ANN", "pw");
    TypedUser typed(" bob ");
    TfrmHstOpt options(w.services(), {}, typed.editor(w.prompt));
    QVERIFY(options.canEditUsers());

    // A new user gets the dialog's current folders as defaults (here one that does not exist).
    options.setInbox("/in/now");
    options.setOutbox("/out/now");
    options.btNewUserClick();
    QCOMPARE(typed.defaults, QStringList{"/in/now|/out/now"});
    QCOMPARE(w.prompt.texts(), QStringList{"Default INBOX path does not exist!"});
    // A name that exists, typed in another case and with blanks, is refused.
    options.setInbox(w.home.file("INBOX"));
    options.setOutbox(w.home.file("OUTBOX"));
    options.btNewUserClick();
    QCOMPARE(w.prompt.texts().last(), QString("This user name already exists!"));
    QCOMPARE(userNames(options), QStringList({"BOB", "ANN"}));

    typed.name = "Eve";
    options.btNewUserClick();
    QCOMPARE(userNames(options), QStringList({"BOB", "ANN", "EVE"}));
    QCOMPARE(options.userSelection(), 2);
    // A second new user of that name is refused before the accounts are saved.
    typed.name = "eve";
    options.btNewUserClick();
    QCOMPARE(userNames(options), QStringList({"BOB", "ANN", "EVE"}));

    // Editing a user without renaming is accepted; renaming onto another user is refused.
    options.setUserSelection(0);
    typed.name = "bob";
    typed.password = "changed";
    w.prompt.boxes.clear();
    options.btEditUserClick();
    QVERIFY(w.prompt.boxes.isEmpty());
    QVERIFY(options.users().SearchItem("BOB", "changed") == 0);
    typed.name = "ann";
    options.btEditUserClick();
    QCOMPARE(w.prompt.texts(), QStringList{"This user name already exists!"});
    QCOMPARE(userNames(options), QStringList({"BOB", "ANN", "EVE"}));
    typed.name = "Bobby";
    options.btEditUserClick();
    QCOMPARE(userNames(options), QStringList({"BOBBY", "ANN", "EVE"}));
    QCOMPARE(options.userSelection(), 0); // refilling keeps the selected row

    // Delete asks first; the Delete key does the same.
    w.prompt.boxes.clear();
    w.prompt.answers << TBoxResult::No << TBoxResult::Yes;
    options.btDelUserClick();
    QCOMPARE(userNames(options).size(), 3);
    options.lvUserKeyDown(Qt::Key_Delete);
    QCOMPARE(userNames(options), QStringList({"ANN", "EVE"}));
    QCOMPARE(options.userSelection(), -1);
    QCOMPARE(w.prompt.texts(), QStringList({DeleteUser, DeleteUser}));
    options.btEditUserClick(); // no selection: no dialog
    QCOMPARE(typed.defaults.size(), 7);
    QCOMPARE(Users()->Count(), 2); // the program's accounts wait for OK
}

void TestOptions::batchIntervalShown_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("saved");
    QTest::newRow("listed") << 180 << "3 min" << 3 << 180;
    QTest::newRow("first") << 15 << "15 sec" << 0 << 15;
    QTest::newRow("last") << 1800 << "30 min" << 10 << 1800;
    // Kept as stored, listed at its place.
    QTest::newRow("seconds") << 45 << "45 sec" << 2 << 45;
    QTest::newRow("minutes") << 120 << "2 min" << 3 << 120;
    QTest::newRow("longer") << 3600 << "60 min" << 11 << 3600;
    // No usable interval: the first entry.
    QTest::newRow("zero") << 0 << "15 sec" << 0 << 15;
    QTest::newRow("negative") << -30 << "15 sec" << 0 << 15;
}

void TestOptions::batchIntervalShown() {
    QFETCH(int, stored);
    QFETCH(QString, shown);
    QFETCH(int, index);
    QFETCH(int, saved);
    ConsoleWorld w(1);
    w.home.settings().PutInt(CLI_BatchIntSec, stored);
    TfrmRemOpt options(w.services(), {});
    const QStringList captions = options.batchIntervalCaptions();
    QCOMPARE(captions.value(options.batchIntervalIndex()), shown);
    QCOMPARE(options.batchIntervalIndex(), index);
    QVERIFY(captions.size() == 11 || captions.size() == 12);
    QCOMPARE(captions.mid(0, 2), QStringList({"15 sec", "30 sec"}));
    QCOMPARE(captions.last(), stored > 1800 ? shown : QString("30 min"));
    QVERIFY(options.btOkClick());
    QCOMPARE(w.home.settings().GetInt(CLI_BatchIntSec), saved);
    // Another entry chosen: its seconds.
    TfrmRemOpt again(w.services(), {});
    again.setBatchIntervalIndex(again.batchIntervalCaptions().indexOf("7 min"));
    QVERIFY(again.btOkClick());
    QCOMPARE(w.home.settings().GetInt(CLI_BatchIntSec), 420);
}

void TestOptions::clientDefaultConnection() {
    ConsoleWorld w(1);
    w.addDevice("Direct", "COM1", "COM1");
    w.addDevice("Direct", "COM2", "COM2");
    w.home.settings().PutStr(CLI_ActiveDevice, "COM1");
    ScriptedDeviceEditor devices;
    TfrmRemOpt options(w.services(), devices.editor());
    QCOMPARE(checks(options), QStringList({"xCOM1", "-COM2"}));

    // Checking a second device unchecks the first; unchecking it leaves none.
    options.lvConnChange(1, true);
    QCOMPARE(checks(options), QStringList({"-COM1", "xCOM2"}));
    QCOMPARE(options.activeDevice(), QString("COM2"));
    options.lvConnChange(0, false); // not the default: nothing changes
    QCOMPARE(options.activeDevice(), QString("COM2"));
    options.lvConnChange(1, false);
    QCOMPARE(checks(options), QStringList({"-COM1", "-COM2"}));
    QVERIFY(options.btOkClick());
    QCOMPARE(w.home.settings().GetStr(CLI_ActiveDevice), QString());

    // The default device reconfigured to another port no longer is the default.
    w.home.settings().PutStr(CLI_ActiveDevice, "COM2");
    TfrmRemOpt moved(w.services(), devices.editor());
    moved.setDeviceSelection(1);
    devices.port = "COM5";
    moved.btEditDevClick();
    QCOMPARE(checks(moved), QStringList({"-COM1", "-COM5"}));
    QVERIFY(moved.btOkClick());
    QCOMPARE(w.home.settings().GetStr(CLI_ActiveDevice), QString());

    // A checked device stays the default after OK.
    TfrmRemOpt chosen(w.services(), devices.editor());
    chosen.lvConnChange(1, true);
    QVERIFY(chosen.btOkClick());
    QCOMPARE(w.home.settings().GetStr(CLI_ActiveDevice), QString("COM5"));
    QCOMPARE(iniValue(w, "CLIENT", "CLI_ActiveDevice"), QString("COM5"));
}

void TestOptions::clientOkRefusesMissingFolders() {
    ConsoleWorld w(1);
    const QString missing = w.home.file("NOT/THERE");
    TfrmRemOpt options(w.services(), {});
    options.setInbox(missing);
    options.setOutbox(missing);
    QVERIFY(!options.btOkClick());
    options.setInbox(w.home.file("INBOX"));
    QVERIFY(!options.btOkClick());
    options.setInbox("INBOX"); // relative
    options.setOutbox(w.home.file("OUTBOX"));
    QVERIFY(!options.btOkClick());
    QCOMPARE(w.prompt.texts(),
             QStringList({"Invalid INBOX path specified.", "Invalid OUTBOX path specified.",
                          "Invalid INBOX path specified."}));
    // The client makes no folder.
    QVERIFY(!QFileInfo::exists(w.home.file("NOT")));
    QCOMPARE(w.home.settings().GetStr(MRL_Inbox), w.home.file("INBOX"));
}

void TestOptions::clientOkTakesOverAndSaves() {
    ConsoleWorld w(1);
    QDir().mkpath(w.home.file("IN2"));
    ScriptedDeviceEditor devices;
    TfrmRemOpt options(w.services(), devices.editor());
    options.btAddDevClick();
    options.lvConnChange(0, true);
    options.setInbox(w.home.file("IN2"));
    options.setAutoDelivery(true);
    options.setDropFailed(true);
    options.setBatchTimeout(9);
    options.setMaxLogSize(990000);
    QVERIFY(options.btOkClick());
    TSettings& s = w.home.settings();
    QCOMPARE(s.GetStr(MRL_Inbox), w.home.file("IN2"));
    QVERIFY(s.GetBool(CLI_AutoDelivery));
    QVERIFY(s.GetBool(CLI_DropFailed));
    QCOMPARE(s.GetInt(CLI_BatchTimeOutMin), 9);
    QCOMPARE(s.GetInt(MRL_MaxLogSize), 990000);
    QCOMPARE(s.GetStr(CLI_ActiveDevice), QString("COM1"));
    QCOMPARE(Devices()->Count(), 1);
    QCOMPARE(w.ctx().modems->Count(), 1);
    QCOMPARE(iniValue(w, "CLIENT", "CLI_DropFailed"), QString("1"));
    QCOMPARE(iniValue(w, "DEVICE1", "dvkDevGUID"), QString("COM1"));
    QCOMPARE(iniValue(w, "MODEM1", "mdkGUID"), w.ctx().modems->GetSetting(0, mdkGUID));
}

void TestOptions::folderButtonsAndNumberRanges() {
    ConsoleWorld w(1);
    TfrmRemOpt options(w.services(), {});
    QSignalSpy fields(&options, &TOptionsBase::fieldsChanged);
    w.prompt.folderAnswers << "/picked/in"
                           << ""
                           << "/picked/out";
    options.btInClick();
    options.btInClick(); // cancelled: the field keeps its text
    options.btOutClick();
    QCOMPARE(options.inbox(), QString("/picked/in"));
    QCOMPARE(options.outbox(), QString("/picked/out"));
    QCOMPARE(fields.count(), 2);

    const QList<std::pair<int, int>> logSizes{
        {5, 10000}, {10000, 10000}, {123456, 123456}, {5000000, 5000000}, {9000000, 5000000}};
    for (auto [given, kept] : logSizes) {
        options.setMaxLogSize(given);
        QCOMPARE(options.maxLogSize(), kept);
    }
    for (auto [given, kept] : QList<std::pair<int, int>>{{0, 1}, {7, 7}, {31, 30}}) {
        options.setBatchTimeout(given);
        QCOMPARE(options.batchTimeout(), kept);
    }
    w.home.settings().PutInt(MRL_MaxLogSize, 1);
    QCOMPARE(TfrmRemOpt(w.services(), {}).maxLogSize(), 10000);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "options_test.moc"
