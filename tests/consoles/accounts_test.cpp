// The account dialogs' logic: the user dialog's checks in their order (name, password, folders)
// with their messages, what it shows and what it writes into the account, and the access password
// change.
#include "common/test_home.h"
#include "consoles/account_dialogs.h"
#include "core/helpers.h"
#include "core/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

namespace {
TMRLUser emptyUser(TestHome& home) {
    TUsersList list(home.settings(), home.sink());
    TMRLUser user;
    list.EmptyItem(user);
    return user;
}
} // namespace

class TestAccounts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void userChecksInOrder_data();
    void userChecksInOrder();
    void userShownAndWritten();
    void userFolderChoices();
    void passwordChange();
};

void TestAccounts::userChecksInOrder_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<bool>("defaultInbox");
    QTest::addColumn<QString>("inbox"); // below the home; "-" for empty
    QTest::addColumn<bool>("defaultOutbox");
    QTest::addColumn<QString>("outbox");
    QTest::addColumn<QString>("message"); // empty: accepted
    const QString in = "INBOX", out = "OUTBOX";
    const QString shortName = "User name must contain at least 3 characters!";
    const QString mismatch = "Confirmation password does not match!";
    const QString shortPass = "Password must contain at least 4 characters!";
    // Each failure is the first in the order even when later fields are wrong too.
    QTest::newRow("name") << " ab  "
                          << "x"
                          << "y" << true << "MISSING" << true << out << shortName;
    QTest::newRow("confirmation") << "bob"
                                  << "abcd"
                                  << "abce" << true << "MISSING" << true << out << mismatch;
    QTest::newRow("confirmation case") << "bob"
                                       << "abcd"
                                       << "ABCD" << true << in << true << out << mismatch;
    QTest::newRow("password 3") << "bob"
                                << "abc"
                                << "abc" << true << "MISSING" << true << out << shortPass;
    QTest::newRow("password blanks") << "bob"
                                     << "    "
                                     << "    " << true << in << true << out << shortPass;
    QTest::newRow("password too long")
        << "bob" << QString(128, 'p') << QString(128, 'p') << true << in << true << out
        << "Password must contain at most 127 characters!";
    QTest::newRow("default inbox") << "bob"
                                   << "abcd"
                                   << "abcd" << true << "MISSING" << true << "MISSING"
                                   << "Default INBOX path does not exist!";
    QTest::newRow("private inbox") << "bob"
                                   << "abcd"
                                   << "abcd" << false << "plain/IN" << true << "MISSING"
                                   << "Cannot create the INBOX path!";
    QTest::newRow("empty inbox") << "bob"
                                 << "abcd"
                                 << "abcd" << false << "-" << true << out
                                 << "Cannot create the INBOX path!";
    QTest::newRow("default outbox") << "bob"
                                    << "abcd"
                                    << "abcd" << false << "NEW/IN" << true << "MISSING"
                                    << "Default OUTBOX path does not exist!";
    QTest::newRow("private outbox") << "bob"
                                    << "abcd"
                                    << "abcd" << true << in << false << "plain/OUT"
                                    << "Cannot create the OUTBOX path!";
    QTest::newRow("accepted") << " bob "
                              << " ab cd "
                              << " ab cd " << false << "NEW/IN" << false << "NEW/OUT"
                              << "";
}

void TestAccounts::userChecksInOrder() {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(bool, defaultInbox);
    QFETCH(QString, inbox);
    QFETCH(bool, defaultOutbox);
    QFETCH(QString, outbox);
    QFETCH(QString, message);
    TestHome home;
    QDir().mkpath(home.file("INBOX"));
    QDir().mkpath(home.file("OUTBOX"));
    WriteFile(home.file("plain"), "a file, no folder below it");
    auto path = [&home](const QString& relative) {
        return relative == "-" ? QString() : home.file(relative);
    };
    TMRLUser user = emptyUser(home);
    // The defaults stand for the default choices; a private choice types its own path.
    TfrmHstUsr dialog(user, path(inbox), path(outbox), home.prompt());
    dialog.setUserName(name);
    dialog.setPassword(password);
    dialog.setConfirmation(confirmation);
    dialog.setDefaultInbox(defaultInbox);
    dialog.setDefaultOutbox(defaultOutbox);
    dialog.setInbox(path(inbox));
    dialog.setOutbox(path(outbox));
    QCOMPARE(dialog.btOkClick(), message.isEmpty());
    QCOMPARE(home.prompt().texts(), message.isEmpty() ? QStringList() : QStringList{message});
    if (!message.isEmpty()) {
        QCOMPARE(home.prompt().boxes[0].icon, TBoxIcon::Error);
        QCOMPARE(home.prompt().boxes[0].buttons, TBoxButtons::Ok);
    }
    // A missing default folder is never made.
    QVERIFY(!QFileInfo::exists(home.file("MISSING")));
    if (message.isEmpty()) {
        QVERIFY(QFileInfo(home.file("NEW/IN")).isDir());
        QVERIFY(QFileInfo(home.file("NEW/OUT")).isDir());
    }
}

void TestAccounts::userShownAndWritten() {
    TestHome home;
    QDir().mkpath(home.file("INBOX"));
    QDir().mkpath(home.file("OUTBOX"));
    TMRLUser user = emptyUser(home);
    user[ukUser].SetStr("BOB");
    user[ukPassw].SetStr(ScramblePassword("old pass"));
    user[ukUseGlobalInbox].BoolValue = false;
    user[ukInbox].SetStr(home.file("BOBIN"));
    user[ukOutbox].SetStr("stale text");
    TfrmHstUsr dialog(user, home.file("INBOX"), home.file("OUTBOX"), home.prompt());
    QCOMPARE(dialog.userName(), QString("BOB"));
    QCOMPARE(dialog.password(), QString("old pass"));
    QCOMPARE(dialog.confirmation(), QString("old pass"));
    QVERIFY(!dialog.defaultInbox());
    QVERIFY(dialog.inboxEnabled());
    QCOMPARE(dialog.inbox(), home.file("BOBIN"));
    // The default outbox shows the default folder, whatever the account held.
    QVERIFY(dialog.defaultOutbox());
    QVERIFY(!dialog.outboxEnabled());
    QCOMPARE(dialog.outbox(), home.file("OUTBOX"));

    dialog.setUserName("  bobby ");
    dialog.setPassword(" new pass");
    dialog.setConfirmation(" new pass");
    dialog.setInbox(" " + home.file("BOBIN") + " ");
    QVERIFY(dialog.btOkClick());
    // The name as the user file keeps it; the password scrambled as typed; the private folder
    // made and stored trimmed.
    QCOMPARE(user[ukUser].StrValue, QString("BOBBY"));
    QCOMPARE(user[ukPassw].StrValue, ScramblePassword(" new pass"));
    QVERIFY(!user[ukUseGlobalInbox].BoolValue);
    QVERIFY(user[ukUseGlobalOutbox].BoolValue);
    QCOMPARE(user[ukInbox].StrValue, home.file("BOBIN"));
    QCOMPARE(user[ukOutbox].StrValue, home.file("OUTBOX"));
    QVERIFY(QFileInfo(home.file("BOBIN")).isDir());
}

void TestAccounts::userFolderChoices() {
    TestHome home;
    TMRLUser user = emptyUser(home);
    TfrmHstUsr dialog(user, "/default/in", "/default/out", home.prompt());
    QCOMPARE(dialog.password(), QString());
    QCOMPARE(dialog.inbox(), QString("/default/in"));
    QSignalSpy changed(&dialog, &TfrmHstUsr::changed);
    dialog.setDefaultInbox(false);
    QVERIFY(dialog.inboxEnabled());
    dialog.setInbox("/mine");
    dialog.setDefaultInbox(true);
    QCOMPARE(dialog.inbox(), QString("/default/in"));
    QVERIFY(!dialog.inboxEnabled());
    dialog.setDefaultOutbox(false);
    QCOMPARE(dialog.outbox(), QString("/default/out")); // the private choice keeps the text

    home.prompt().folderAnswers << "/picked/in"
                                << ""
                                << "/picked/out";
    dialog.btBrowInboxClick();
    dialog.btBrowInboxClick();
    dialog.btBrowOutboxClick();
    QCOMPARE(dialog.inbox(), QString("/picked/in"));
    QCOMPARE(dialog.outbox(), QString("/picked/out"));
    QCOMPARE(changed.count(), 5);

    // A relative private folder is not made below the working folder.
    dialog.setUserName("bob");
    dialog.setPassword("abcd");
    dialog.setConfirmation("abcd");
    dialog.setDefaultInbox(false);
    dialog.setInbox("relative-in");
    QVERIFY(!dialog.btOkClick());
    QCOMPARE(home.prompt().texts(), QStringList{"Cannot create the INBOX path!"});
    QVERIFY(!QFileInfo::exists(QDir::current().filePath("relative-in")));
    // Fields taken by earlier steps stay written.
    QCOMPARE(user[ukUser].StrValue, QString("BOB"));
    QCOMPARE(user[ukPassw].StrValue, ScramblePassword("abcd"));
}

void TestAccounts::passwordChange() {
    TestHome home;
    TSettings& s = home.settings();
    TScriptedPrompt& prompt = home.prompt();
    auto attempt = [&](const QString& current, const QString& next, const QString& confirm) {
        TfrmChgPass dialog(s, home.sink(), prompt);
        dialog.setCurrent(current);
        dialog.setNew(next);
        dialog.setConfirm(confirm);
        return dialog.btOkClick();
    };

    // No password set: the current one is left empty.
    QVERIFY(!attempt("anything", "new1", "new1"));
    QVERIFY(!attempt("", "", ""));
    QVERIFY(!attempt("", "new1", "new2"));
    QVERIFY(!attempt("", QString(128, 'p'), QString(128, 'p')));
    QCOMPARE(prompt.texts(), QStringList({"Invalid current password!", "Invalid new password!",
                                          "Specified passwords don't match! Please type again.",
                                          "Invalid new password!"}));
    QCOMPARE(prompt.boxes[0].icon, TBoxIcon::None);
    QCOMPARE(prompt.boxes[0].buttons, TBoxButtons::Ok);
    QVERIFY(!QFileInfo::exists(home.file("marrowline.ini")));
    QVERIFY(attempt("", "new1", "new1"));
    QCOMPARE(s.GetStr(MRL_Passw), ScramblePassword("new1"));
    TIniFile ini(home.file("marrowline.ini"));
    QCOMPARE(ini.ReadString("GENERAL", "MRL_Passw", QString()), ScramblePassword("new1"));

    // With a password set: the current one must be typed; the same one again is refused, and
    // the check of the current password comes first.
    prompt.boxes.clear();
    QVERIFY(!attempt("NEW1", "new1", "new1"));
    QVERIFY(!attempt("new1", "new1", "new1"));
    QVERIFY(!attempt("new1", "", "x"));
    QCOMPARE(prompt.texts(), QStringList({"Invalid current password!",
                                          "New password is the same as the current one!",
                                          "Invalid new password!"}));
    QVERIFY(attempt("new1", "second", "second"));
    QCOMPARE(s.GetStr(MRL_Passw), ScramblePassword("second"));
}

QTEST_GUILESS_MAIN(TestAccounts)
#include "accounts_test.moc"
