// The command line (ProcessParams and its rules) and the main window's logic around it: first
// start, hand-over receiving, closing, the role choice and the shutdown order.
#include "app/cmdline.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "app/shell.h"
#include "common/test_home.h"
#include "engine/devices.h"
#include "jobs/queue.h"
#include "platform/prompt.h"
#include "serial/modems.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

namespace {
QStringList messages(const TSessionText* text) {
    QStringList out;
    for (const QString& line : text->Lines())
        out << line.mid(line.indexOf(": ") + 2);
    return out;
}

QStringList helpLines() {
    return {"To display help:",
            "Marrowline /HELP",
            "",
            "Optional flags (server and client):",
            "/CLIENT - Use Marrowline as client",
            "/SERVER - Use Marrowline as server",
            "",
            "To queue a job in Marrowline client:",
            "Marrowline file_name user_name password server [results_file] [/AUTODEL]",
            "",
            "To queue a job in Marrowline server:",
            "Marrowline file_name user_name [/AUTODEL]",
            "",
            "/CLEAR - Clear the log file",
            "",
            "/START - Auto start communications",
            "/STOP - Auto stop communications",
            "",
            "/USERS:filename - Import user information",
            "/EXCLUSIVE - Delete users not found in import file",
            "",
            "/PASSFILE:file - Instead of the password: read it from a file only you can read",
            "/PASSFILE:- - Instead of the password: read it from standard input"};
}

// Consoles that only report what they are handed.
TConsoleFactory standIns() {
    return [](TRole role, const TConsoleServices& services) -> std::unique_ptr<IConsole> {
        return std::make_unique<TStandInConsole>(role, services);
    };
}
} // namespace

class TestCmdline : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void splitting_data();
    void splitting();
    void isSwitch_data();
    void isSwitch();
    void roleRules_data();
    void roleRules();
    void help();
    void passwordFile_data();
    void passwordFile();
    void folders_data();
    void folders();
    void noRoleEmptiesList();
    void handsListToShownConsole();
    void paramStartsWith();
    void firstStartOrder();
    void firstStartWithoutRole();
    void roleSwitchAtFirstStartStartsNoConsole();
    void handOverReceiving();
    void handOverWaitsForTheOneInProgress();
    void closeApplicationAsks();
    void chooseRole();
    void shutdownSavesInOrder();
};

void TestCmdline::splitting_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("status");
    QTest::newRow("unterminated last")
        << "a.txt|||bob" << QStringList{"a.txt"} << QStringList{"CmdParam:> a.txt"};
    QTest::newRow("blank token") << "   |||x|||" << QStringList{"x"}
                                 << QStringList{"CmdParam:> ", "CmdParam:> x"};
    QTest::newRow("switch upper-cased, status as given")
        << " /autodel |||" << QStringList{"/AUTODEL"} << QStringList{"CmdParam:> /autodel"};
    QTest::newRow("switch path keeps case")
        << "/users:/Home/Me/List.txt|||" << QStringList{"/USERS:/Home/Me/List.txt"}
        << QStringList{"CmdParam:> /users:/Home/Me/List.txt"};
    QTest::newRow("absolute path is no switch")
        << "/home/me/OUTBOX/a.txt|||Bob|||" << QStringList{"/home/me/OUTBOX/a.txt", "Bob"}
        << QStringList{"CmdParam:> /home/me/OUTBOX/a.txt", "CmdParam:> Bob"};
    QTest::newRow("empty text") << "" << QStringList{} << QStringList{};
    QTest::newRow("no separator") << "lonely" << QStringList{} << QStringList{};
    QTest::newRow("separators only")
        << "||||||" << QStringList{} << QStringList{"CmdParam:> ", "CmdParam:> "};
    QTest::newRow("four bars") << "a||||b|||" << QStringList{"a", "|b"}
                               << QStringList{"CmdParam:> a", "CmdParam:> |b"};
}

void TestCmdline::splitting() {
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, status);
    TestHome home(1);
    ProcessParams(home.ctx(), nullptr, text);
    QCOMPARE(home.ctx().params.entries, entries);
    QCOMPARE(home.status(), status);
}

void TestCmdline::isSwitch_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("expected");
    QTest::newRow("plain switch") << "/START" << true;
    QTest::newRow("folder switch") << "/INBOX:/srv/in" << true;
    QTest::newRow("absolute path") << "/srv/OUTBOX/a.txt" << false;
    QTest::newRow("path with colon later") << "/srv/a:b" << false;
    QTest::newRow("name") << "a.txt" << false;
    QTest::newRow("slash only") << "/" << true;
}

void TestCmdline::isSwitch() {
    QFETCH(QString, entry);
    QFETCH(bool, expected);
    QCOMPARE(IsSwitch(entry), expected);
}

void TestCmdline::roleRules_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("newRole");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("client on client") << 1 << "/client|||" << 1 << false << QStringList{};
    QTest::newRow("client on server") << 2 << "/client|||" << 1 << true << QStringList{"/CLIENT"};
    QTest::newRow("only the client rule")
        << 2 << "/CLIENT|||/SERVER|||" << 1 << true << QStringList{"/CLIENT", "/SERVER"};
    QTest::newRow("server on client")
        << 1 << "x|||/Server|||" << 2 << true << QStringList{"x", "/SERVER"};
    QTest::newRow("server on server") << 2 << "/SERVER|||/SERVER|||" << 2 << false << QStringList{};
    QTest::newRow("role from the choice page")
        << 0 << "/server|||" << 2 << false << QStringList{"/SERVER"};
}

void TestCmdline::roleRules() {
    QFETCH(int, role);
    QFETCH(QString, text);
    QFETCH(int, newRole);
    QFETCH(bool, closes);
    QFETCH(QStringList, entries);
    TestHome home(role);
    TMainShell shell(home.takeContext());
    QSignalSpy terminate(&shell, &TMainShell::TerminateRequested);
    ProcessParams(home.ctx(), &shell, text);
    QCOMPARE(home.settings().GetInt(MRL_Function), newRole);
    QCOMPARE(shell.Terminated(), closes);
    QCOMPARE(terminate.count(), closes ? 1 : 0);
    QCOMPARE(home.ctx().params.entries, entries);
    // The new role is only in memory until the program saves at shutdown.
    QVERIFY(!QFileInfo::exists(home.file("marrowline.ini")));
    shell.Shutdown();
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("GENERAL", "MRL_Function", -1),
             newRole);
}

void TestCmdline::help() {
    TestHome home(1);
    TScriptedPrompt& prompt = home.prompt();
    ProcessParams(home.ctx(), nullptr, "a|||/help|||");
    QCOMPARE(prompt.boxes.size(), 1);
    QCOMPARE(prompt.boxes[0].caption, QString("Marrowline 1.00 Command Line Arguments"));
    QCOMPARE(prompt.boxes[0].text, helpLines().join('\n'));
    QCOMPARE(prompt.boxes[0].buttons, TBoxButtons::Ok);
    QCOMPARE(home.ctx().params.entries, QStringList{"a"});
    // Only the first applicable rule: the role rule wins over help.
    ProcessParams(home.ctx(), nullptr, "/CLIENT|||/HELP|||");
    QCOMPARE(prompt.boxes.size(), 1);
    QCOMPARE(home.ctx().params.entries, QStringList{"/HELP"});
    ShowCommandLineHelp(prompt);
    QCOMPARE(prompt.boxes.size(), 2);
}

// "/PASSFILE:": the password of a client job from a file only its owner may read, or from
// standard input, put where the job's grammar has it. "~" is the test folder; the file "pw" holds
// "s3cret word\r\nsecond line" with the mode of the row.
void TestCmdline::passwordFile_data() {
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("expected"); // empty: refused
    QTest::addColumn<QString>("error");
    const QStringList job{"a.txt", "alice", "s3cret word", "5551234", "/AUTODEL"};
    QTest::newRow("in the password's place")
        << QStringList{"a.txt", "alice", "/PASSFILE:~pw", "5551234", "/AUTODEL"} << 0600
        << QByteArray() << job << "";
    QTest::newRow("at the end, lower case")
        << QStringList{"a.txt", "alice", "5551234", "/AUTODEL", "/passfile:~pw"} << 0400
        << QByteArray() << job << "";
    QTest::newRow("standard input")
        << QStringList{"a.txt", "alice", "/PASSFILE:-", "5551234", "/AUTODEL"} << 0644
        << QByteArray("s3cret word\n") << job << "";
    QTest::newRow("no switch: as given")
        << QStringList{"a.txt", "alice", "pw", "1"} << 0600 << QByteArray()
        << QStringList{"a.txt", "alice", "pw", "1"} << "";
    QTest::newRow("readable by others") << QStringList{"a.txt", "alice", "/PASSFILE:~pw", "1"}
                                        << 0640 << QByteArray() << QStringList()
                                        << "Password file ~pw can be read by other users "
                                           "(mode 0640): chmod 600 ~pw";
    QTest::newRow("missing file") << QStringList{"a.txt", "alice", "/PASSFILE:~none", "1"} << 0600
                                  << QByteArray() << QStringList()
                                  << "Password file not found: ~none";
    QTest::newRow("empty input") << QStringList{"a.txt", "alice", "/PASSFILE:-", "1"} << 0600
                                 << QByteArray("\n") << QStringList()
                                 << "No password in standard input";
    QTest::newRow("no job before it")
        << QStringList{"/PASSFILE:-", "/START"} << 0600 << QByteArray("pw\n") << QStringList()
        << "/PASSFILE: belongs to a client job: file_name "
           "user_name /PASSFILE:file server [results_file] [/AUTODEL]";
    QTest::newRow("twice") << QStringList{"a", "b", "/PASSFILE:-", "c", "/PASSFILE:-"} << 0600
                           << QByteArray("pw\n") << QStringList() << "/PASSFILE: is given twice.";
}

void TestCmdline::passwordFile() {
    QFETCH(QStringList, params);
    QFETCH(int, mode);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);
    TestHome home;
    const QString pw = home.file("pw");
    QVERIFY(WriteFile(pw, "s3cret word\r\nsecond line"));
    QVERIFY(::chmod(QFile::encodeName(pw).constData(), mode_t(mode)) == 0);
    params.replaceInStrings("~", home.path());
    error.replace("~", home.path());
    const QStringList given = params;
    QString said;
    const bool ok = TakePasswordFile(
        params, [&] { return input; }, said);
    QCOMPARE(said, error);
    QCOMPARE(ok, !expected.isEmpty());
    QCOMPARE(params, expected.isEmpty() ? given : expected);
}

void TestCmdline::folders_data() {
    QTest::addColumn<QString>("param");  // "%1" is the test folder
    QTest::addColumn<QString>("inbox");  // expected MRL_Inbox, "" = unchanged
    QTest::addColumn<QString>("outbox"); // expected MRL_Outbox, "" = unchanged
    QTest::addColumn<QString>("status");
    QTest::newRow("inbox, trimmed, case kept") << "/inbox: %1New In/Sub "
                                               << "%1New In/Sub"
                                               << ""
                                               << "Inbox changed.";
    QTest::newRow("outbox") << "/OUTBOX:%1Out"
                            << ""
                            << "%1Out"
                            << "Outbox changed.";
    QTest::newRow("existing folder") << "/INBOX:%1"
                                     << "%1"
                                     << ""
                                     << "Inbox changed.";
    QTest::newRow("empty") << "/INBOX:  "
                           << ""
                           << ""
                           << "Error - specified path cannot be created: ";
    QTest::newRow("relative") << "/INBOX:in"
                              << ""
                              << ""
                              << "Error - specified path cannot be created: in";
    QTest::newRow("cannot be created")
        << "/OUTBOX:/proc/nope/out"
        << ""
        << ""
        << "Error - specified path cannot be created: /proc/nope/out";
    QTest::newRow("a file, not a folder") << "/INBOX:%1marrowline.ini"
                                          << ""
                                          << ""
                                          << "Error - specified path cannot be created: "
                                             "%1marrowline.ini";
    QTest::newRow("longer than a setting holds")
        << "/INBOX:%1" + QString(260, 'd') << ""
        << ""
        << "Error - specified path cannot be created: %1" + QString(260, 'd');
}

void TestCmdline::folders() {
    QFETCH(QString, param);
    QFETCH(QString, inbox);
    QFETCH(QString, outbox);
    QFETCH(QString, status);
    TestHome home(1);
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=1\n"));
    const QString oldInbox = home.settings().GetStr(MRL_Inbox), oldOutbox = home.settings().GetStr(MRL_Outbox);
    const auto at = [&home](QString text) { return text.replace("%1", home.path()); };
    ProcessParams(home.ctx(), nullptr, at(param) + "|||");
    QCOMPARE(home.status().last(), at(status));
    QCOMPARE(home.settings().GetStr(MRL_Inbox), inbox.isEmpty() ? oldInbox : at(inbox));
    QCOMPARE(home.settings().GetStr(MRL_Outbox), outbox.isEmpty() ? oldOutbox : at(outbox));
    const bool changed = !inbox.isEmpty() || !outbox.isEmpty();
    if (changed) {
        const QString folder = inbox.isEmpty() ? home.settings().GetStr(MRL_Outbox) : home.settings().GetStr(MRL_Inbox);
        QVERIFY(QFileInfo(folder).isDir());
        TIniFile ini(home.file("marrowline.ini"));
        QCOMPARE(ini.ReadString("GENERAL", inbox.isEmpty() ? "MRL_Outbox" : "MRL_Inbox", ""),
                 folder);
    }
    // The entry stays for the console.
    QCOMPARE(home.ctx().params.entries.size(), 1);
}

void TestCmdline::noRoleEmptiesList() {
    TestHome home(0);
    ProcessParams(home.ctx(), nullptr, "/INBOX:" + home.path() + "Elsewhere|||job.txt|||/START|||");
    QCOMPARE(home.settings().GetStr(MRL_Inbox), home.path() + "Elsewhere");
    QVERIFY(QFileInfo(home.path() + "Elsewhere").isDir());
    QVERIFY(home.ctx().params.entries.isEmpty());
}

void TestCmdline::handsListToShownConsole() {
    TestHome home(1);
    TMainShell shell(home.takeContext(), {}, standIns());
    // Not shown yet (first start): the list waits for the console's own initialisation.
    ProcessParams(home.ctx(), &shell, "a.txt|||b|||");
    QCOMPARE(home.ctx().params.entries, QStringList({"a.txt", "b"}));
    shell.SelectPage(PageClient);
    QVERIFY(home.ctx().params.entries.isEmpty());
    const QStringList lines = messages(shell.Console(RoleClient)->SessionText());
    QCOMPARE(lines.mid(lines.size() - 2),
             QStringList(
                 {"Application started.", "Console not built yet; parameters dropped: a.txt b"}));
    // Shown: handed over at once.
    ProcessParams(home.ctx(), &shell, "c|||");
    QVERIFY(home.ctx().params.entries.isEmpty());
    QCOMPARE(messages(shell.Console(RoleClient)->SessionText()).last(),
             QString("Console not built yet; parameters dropped: c"));
    // The server console gets nothing while the client role is active.
    QCOMPARE(shell.Console(RoleServer)->SessionText()->LineCount(), 0);
}

void TestCmdline::paramStartsWith() {
    TestHome home(2);
    ProcessParams(home.ctx(), nullptr, "f|||u|||/autodel|||/users:/x/Y.txt|||");
    const TPendingParams& pending = home.ctx().params;
    QVERIFY(pending.StartsWith("/AUTODEL"));
    QVERIFY(pending.StartsWith("/USERS:"));
    QVERIFY(!pending.StartsWith("/autodel"));
    QVERIFY(!pending.StartsWith("/START"));
    ProcessCommandLine(home.ctx(), nullptr, {" f ", "/start"});
    QCOMPARE(home.ctx().params.entries, QStringList({"f", "/START"}));
}

void TestCmdline::firstStartOrder() {
    TestHome home(1);
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=1\n"));
    home.ctx().StartupLoad();
    TMainShell shell(home.takeContext(), {"x.txt", "/start"}, standIns());
    QSignalSpy pages(&shell, &TMainShell::PageChanged);
    shell.Initialize();
    QCOMPARE(shell.Page(), PageClient);
    QCOMPARE(pages.count(), 1);
    QVERIFY(home.ctx().devices != nullptr);
    QCOMPARE(messages(shell.Console(RoleClient)->SessionText()),
             QStringList({"CmdParam:> x.txt", "CmdParam:> /start", "Application started.",
                          "Console not built yet; parameters dropped: x.txt /START"}));
    shell.Shutdown();
    QVERIFY(home.ctx().devices == nullptr);
}

void TestCmdline::firstStartWithoutRole() {
    TestHome home(0);
    home.ctx().StartupLoad();
    TMainShell shell(home.takeContext(), {"job.txt"});
    QSignalSpy choice(&shell, &TMainShell::ChoiceShown);
    shell.Initialize();
    QCOMPARE(shell.Page(), PageChoice);
    QCOMPARE(choice.count(), 1);
    QCOMPARE(shell.Caption, QString("Marrowline 1.00"));
    QVERIFY(home.ctx().params.entries.isEmpty());
    shell.Shutdown();
}

void TestCmdline::roleSwitchAtFirstStartStartsNoConsole() {
    TestHome home(2);
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=2\n"));
    home.ctx().StartupLoad();
    TMainShell shell(home.takeContext(), {"/CLIENT"});
    QSignalSpy pages(&shell, &TMainShell::PageChanged);
    shell.Initialize();
    QVERIFY(shell.Terminated());
    QCOMPARE(pages.count(), 0);
    QCOMPARE(shell.Console(RoleClient)->SessionText()->LineCount(), 0); // no "Application started."
    shell.Shutdown();
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("GENERAL", "MRL_Function", -1), 1);
}

void TestCmdline::handOverReceiving() {
    TestHome home(1);
    TMainShell shell(home.takeContext());
    shell.SelectPage(PageClient);
    TSessionText* text = shell.Console(RoleClient)->SessionText();
    text->Clear();
    QSignalSpy processed(&shell, &TMainShell::HandOverProcessed);
    shell.ReceiveHandOver(33169, 1, "a|||", true);
    shell.ReceiveHandOver(HandOverMessage, 0, "a|||", true);
    QCOMPARE(text->LineCount(), 0);
    QCOMPARE(processed.count(), 0);
    shell.ReceiveHandOver(HandOverMessage, HandOverWParam, "", true);
    shell.ReceiveHandOver(HandOverMessage, HandOverWParam, "a|||", false);
    QCOMPARE(messages(text),
             QStringList(2, "!TfrmMRL.Marrowline was unable to receive the command line "
                            "parameters."));
    text->Clear();
    shell.ReceiveHandOver(HandOverMessage, HandOverWParam, "x|||/SERVER|||", true);
    QCOMPARE(processed.count(), 3);
    QVERIFY(shell.Terminated());
    QCOMPARE(home.settings().GetInt(MRL_Function), 2);
    QCOMPARE(messages(text), QStringList({"CmdParam:> x", "CmdParam:> /SERVER"}));
}

// A console that, while it reads the pending list, lets another hand-over arrive (as a dialog's
// nested event loop would).
class NestingConsole : public TStandInConsole {
public:
    NestingConsole(TRole role, const TConsoleServices& services)
        : TStandInConsole(role, services), params(services.params) {}
    QList<QStringList> seen;
    TMainShell* shell = nullptr;
    TPendingParams& params;
    void ProcessParams() override {
        const QStringList before = params.entries;
        if (seen.isEmpty())
            shell->ReceiveHandOver(HandOverMessage, HandOverWParam, "nested|||", true);
        seen << before;
        QCOMPARE(params.entries, before);
        params.entries.clear();
    }
};

void TestCmdline::handOverWaitsForTheOneInProgress() {
    TestHome home(1);
    NestingConsole* client = nullptr;
    TMainShell shell(
        home.takeContext(), {},
        [&client](TRole role, const TConsoleServices& services) -> std::unique_ptr<IConsole> {
            auto console = std::make_unique<NestingConsole>(role, services);
            if (role == RoleClient) client = console.get();
            return console;
        });
    QVERIFY(client != nullptr);
    client->shell = &shell;
    shell.SelectPage(PageClient);
    shell.ReceiveHandOver(HandOverMessage, HandOverWParam, "a|||b|||", true);
    QCOMPARE(client->seen, QList<QStringList>({{"a", "b"}, {"nested"}}));
}

void TestCmdline::closeApplicationAsks() {
    TestHome home(1);
    TScriptedPrompt& prompt = home.prompt();
    TMainShell shell(home.takeContext());
    QSignalSpy terminate(&shell, &TMainShell::TerminateRequested);
    prompt.answers << TBoxResult::Cancel;
    QVERIFY(!shell.CloseApplication(true));
    QVERIFY(!shell.Terminated());
    QCOMPARE(prompt.boxes[0].text, QString("Are you sure you want to close Marrowline?"));
    QCOMPARE(prompt.boxes[0].icon, TBoxIcon::Warning);
    QCOMPARE(prompt.boxes[0].buttons, TBoxButtons::OkCancel);
    prompt.answers << TBoxResult::Ok;
    QVERIFY(shell.CloseApplication(true));
    QVERIFY(shell.CloseApplication(false));
    QCOMPARE(prompt.boxes.size(), 2);
    QCOMPARE(terminate.count(), 1);
}

void TestCmdline::chooseRole() {
    TestHome home(0);
    home.ctx().StartupLoad();
    TMainShell shell(home.takeContext());
    shell.Initialize();
    QCOMPARE(shell.Page(), PageChoice);
    shell.ChooseRole(RoleNone); // nothing selected: nothing happens
    QCOMPARE(shell.Page(), PageChoice);
    QVERIFY(!QFileInfo::exists(home.file("marrowline.ini")));
    shell.ChooseRole(RoleServer);
    QCOMPARE(shell.Page(), PageServer);
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("GENERAL", "MRL_Function", -1), 2);
    shell.Shutdown();
}

void TestCmdline::shutdownSavesInOrder() {
    TestHome home(1);
    QVERIFY(WriteFile(home.file("marrowline.ini"), "[GENERAL]\nMRL_Function=1\n"));
    home.ctx().StartupLoad();
    {
        TMainShell shell(home.takeContext());
        shell.Initialize();
        home.settings().PutInt(CLI_BatchIntSec, 60);
        home.ctx().params.entries << "left over";
        QVERIFY(home.ctx().devices != nullptr);
        shell.Shutdown();
        // The engines are gone with the device list, and nothing is left pending.
        QVERIFY(home.ctx().devices == nullptr);
        QVERIFY(home.ctx().params.entries.isEmpty());
    } // the destructor does not shut down twice
    const QByteArray log = ReadFile(home.file("sessions.log"));
    QVERIFY(log.contains(": Application started.\r\n"));
    QCOMPARE(TIniFile(home.file("marrowline.ini")).ReadInteger("CLIENT", "CLI_BatchIntSec", 0), 60);
}

QTEST_GUILESS_MAIN(TestCmdline)
#include "cmdline_test.moc"
