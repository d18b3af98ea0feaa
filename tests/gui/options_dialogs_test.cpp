// The options, user and password dialogs as widgets on the offscreen platform: their controls'
// names and captions, the lists following the presenters (check boxes, selection, the Delete
// key), the number fields, OK keeping a dialog open on a failed check, and the main window
// opening the dialogs from a console's buttons.
#include "app/shell.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "consoles/console_world.h"
#include "gui/account_dialogs.h"
#include "gui/client_view.h"
#include "gui/desktop_prompt.h"
#include "gui/main_window.h"
#include "gui/options_dialogs.h"
#include "window_gallery.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QSignalSpy>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {
template <typename T> T* child(const QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no %s", name);
    return found;
}

QString caption(const QWidget& parent, const char* name) {
    const QWidget* w = child<QWidget>(parent, name);
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    return {};
}

// "caption/width" of each column.
QStringList columns(const QTreeWidget* list) {
    QStringList out;
    for (int c = 0; c < list->columnCount(); ++c)
        out << list->headerItem()->text(c) + "/" + QString::number(list->header()->sectionSize(c));
    return out;
}

// "x" or "-" for the check box, then the device name, per row.
QStringList checks(const QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        out << (item->checkState(0) == Qt::Checked ? "x" : "-") + item->text(2);
    }
    return out;
}

// The text of the label that names a control.
QString labelOf(const QWidget& parent, const QWidget* control) {
    for (const QLabel* label : parent.findChildren<QLabel*>())
        if (label->buddy() == control) return label->text();
    return {};
}

void pressDelete(QWidget* list) {
    QTest::keyClick(list, Qt::Key_Delete);
}

void whenModal(std::function<void()> action) {
    QTimer::singleShot(50, [action]() { action(); });
}

TDeviceEditor directOn(const QString& port) {
    return [port](TModemsList&, TCommDevice& device) {
        device[dvkDevType].SetStr("Direct");
        device[dvkDevName].SetStr(port);
        device[dvkDevGUID].SetStr(port);
        return true;
    };
}

// ---- The keyboard of a window ----

// The control a focus lands on (a spin box's line edit stands for the spin box).
QWidget* control(QWidget* w) {
    while (w && w->focusProxy())
        w = w->focusProxy();
    if (w && w->parentWidget() && qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
        return w->parentWidget();
    return w;
}

QString describe(const QWidget* w) {
    if (!w) return QStringLiteral("(none)");
    QString text = w->objectName();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) text += "\"" + b->text() + "\"";
    return text.isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : text;
}

// Where a control stands in the window.
QRect place(const QWidget* w, const QWidget* window) {
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// B comes before A in reading order: wholly above it, or on its row and wholly left of it.
bool readsBefore(const QRect& b, const QRect& a) {
    if (b.bottom() < a.top()) return true;
    const bool sameRow = b.top() <= a.bottom() && a.top() <= b.bottom();
    return sameRow && b.right() < a.left() && b.top() >= a.top() - 4 && b.top() <= a.bottom();
}

// The controls Tab must reach: shown, enabled, taking the focus by Tab. Of an exclusive group of
// radio buttons Tab reaches one (the arrows move within), so the group counts as one control.
QList<QWidget*> tabControls(QWidget* window, QHash<QWidget*, QWidget*>& groupOf) {
    QList<QWidget*> out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)) continue;
        if (w->focusProxy() || w->window() != window) continue;
        if (w->parentWidget() && qobject_cast<QAbstractSpinBox*>(w->parentWidget())) continue;
        if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            QWidget* key = radio->group() && radio->group()->buttons().size() > 1
                               ? radio->group()->buttons().first()
                               : (radio->autoExclusive() ? radio->parentWidget() : radio);
            groupOf[w] = key;
            if (out.contains(key)) continue;
            out << key;
            continue;
        }
        out << w;
    }
    return out;
}

// The letters of a window's mnemonics among its shown controls, with who carries each.
QMultiMap<QChar, QString> mnemonics(QWidget* window) {
    QMultiMap<QChar, QString> out;
    auto add = [&](const QString& text, const QString& who) {
        for (int i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != '&') continue;
            if (text[i + 1] == '&') {
                ++i;
                continue;
            }
            out.insert(text[i + 1].toLower(), who);
            break;
        }
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) add(b->text(), describe(w));
        if (auto* g = qobject_cast<QGroupBox*>(w)) add(g->title(), describe(w));
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) add(l->text(), l->text());
        if (auto* t = qobject_cast<QTabBar*>(w))
            for (int i = 0; i < t->count(); ++i)
                add(t->tabText(i), t->tabText(i));
    }
    return out;
}

// Walks a shown window with real keys. Returns what is wrong with it (empty: nothing) and
// counts its controls.
QStringList walkKeyboard(QWidget* window, bool dialog, int& controls) {
    QStringList problems;
    window->show();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window)) return {"window never became active"};

    QHash<QWidget*, QWidget*> groupOf;
    const QList<QWidget*> expected = tabControls(window, groupOf);
    controls += int(expected.size());
    auto canonical = [&](QWidget* w) { return groupOf.value(w, w); };

    // Tab from the control that has the focus as the window opens, once round.
    QList<QWidget*> visited;
    if (!QApplication::focusWidget()) QTest::keyClick(window, Qt::Key_Tab);
    for (int i = 0; i < 4 * expected.size() + 4; ++i) {
        QWidget* at = canonical(control(QApplication::focusWidget()));
        if (!at || visited.contains(at)) break;
        visited << at;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (QWidget* w : expected)
        if (!visited.contains(w)) problems << "Tab never reaches " + describe(w);

    // Reading order: from the control that reads first, each next one reads after the last.
    int first = 0;
    for (int i = 1; i < visited.size(); ++i)
        if (readsBefore(place(visited[i], window), place(visited[first], window))) first = i;
    for (int i = 1; i < visited.size(); ++i) {
        QWidget* a = visited[(first + i - 1) % visited.size()];
        QWidget* b = visited[(first + i) % visited.size()];
        if (readsBefore(place(b, window), place(a, window)))
            problems << "Tab goes back from " + describe(a) + " to " + describe(b);
    }

    // A letter leads to one control.
    const QMultiMap<QChar, QString> letters = mnemonics(window);
    for (const QChar letter : letters.uniqueKeys())
        if (letters.count(letter) > 1)
            problems << QStringLiteral("&%1 is shared by ").arg(letter) +
                            QStringList(letters.values(letter)).join(", ");

    if (!dialog) return problems;
    auto* box = qobject_cast<QDialog*>(window);
    QPushButton* ok = nullptr;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->isDefault() && b->isVisible()) ok = b;
    if (!box || !ok) return problems << "no default button";
    // Enter in any control but a push button (which takes it itself) is the default button.
    for (QWidget* w : visited) {
        if (qobject_cast<QPushButton*>(w)) continue;
        QSignalSpy pressed(ok, &QPushButton::clicked);
        if (!box->isVisible()) {
            box->show();
            QApplication::setActiveWindow(box);
            (void)QTest::qWaitForWindowActive(box);
        }
        w->setFocus();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w,
                        Qt::Key_Return);
        if (pressed.isEmpty()) problems << "Enter in " + describe(w) + " does not press OK";
    }
    // Esc is Cancel.
    box->show();
    QApplication::setActiveWindow(box);
    (void)QTest::qWaitForWindowActive(box);
    box->setResult(-1);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box,
                    Qt::Key_Escape);
    if (box->isVisible() || box->result() != QDialog::Rejected) problems << "Esc does not cancel";
    return problems;
}
} // namespace

class TestOptionsDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverDialog();
    void clientDialog();
    void numberFields();
    void userDialog();
    void passwordDialog();
    void boxesBelongToTheOpenDialog();
    void mainWindowOpensTheDialogs();
    void startRefusedWhileConfiguring();
    void keyboard_data();
    void keyboard();
};

void TestOptionsDialogs::serverDialog() {
    ConsoleWorld w(2);
    w.home.settings().PutBool(SVR_PopupNotification, true);
    w.home.settings().PutInt(SVR_SessionTimeout, 7);
    w.addDevice("Direct", "COM1", "COM1", true);
    w.addDevice("Direct", "COM2", "COM2", false);
    w.addUser("BOB", "pw");
    w.addUser("ANN", "pw");
    TfrmHstOpt options(w.services(), directOn("COM3"), {});
    TfrmHstOptDialog dialog(options);
    dialog.show();
    QCOMPARE(dialog.objectName(), QString("frmHstOpt"));
    QCOMPARE(dialog.windowTitle(), QString("Server Options"));
    const auto* pages = child<QTabWidget>(dialog, "PageControl1");
    QCOMPARE(pages->count(), 2);
    QCOMPARE(pages->widget(0)->objectName() + "=" + pages->tabText(0),
             QString("TabSheet1=Communication Devices"));
    QCOMPARE(pages->widget(1)->objectName() + "=" + pages->tabText(1), QString("TabSheet2=Users"));
    QTreeWidget* lvConn = child<QTreeWidget>(dialog, "lvConn");
    QTreeWidget* lvUser = child<QTreeWidget>(dialog, "lvUser");
    QCOMPARE(columns(lvConn),
             QStringList({"On/30", "Type/60", "Device/140", "Parameters/180", "Retries/60"}));
    QCOMPARE(columns(lvUser), QStringList({"User Name/100", "INBOX/200", "OUTBOX/200"}));
    const QStringList captions{"btAddDev=&Add device",
                               "btEditDev=&Edit device",
                               "btDelDev=&Delete device",
                               "btNewUser=&New user",
                               "btEditUser=&Edit user",
                               "btDelUser=&Delete user",
                               "gbPaths= Paths: ",
                               "btIn=...",
                               "btOut=...",
                               "ckLaunch=Launch application at login",
                               "ckAutoDeliv=Start service on application launch",
                               "ckNotif=Pop-up notification on new files",
                               "btOk=&OK",
                               "btCanc=&Cancel"};
    for (const QString& c : captions)
        QCOMPARE(c.section('=', 0, 0) + "=" + caption(dialog, qPrintable(c.section('=', 0, 0))), c);
    QVERIFY(child<QPushButton>(dialog, "btOk")->isDefault());
    QVERIFY(child<QCheckBox>(dialog, "ckNotif")->isChecked());
    QVERIFY(!child<QCheckBox>(dialog, "ckLaunch")->isChecked());
    auto* spMaxlog = child<QSpinBox>(dialog, "spMaxlog");
    auto* spCommTmo = child<QSpinBox>(dialog, "spCommTmo");
    QCOMPARE(QList<int>({spMaxlog->minimum(), spMaxlog->maximum(), spMaxlog->singleStep(),
                         spMaxlog->value()}),
             QList<int>({10000, 5000000, 10000, 3000000}));
    QCOMPARE(QList<int>({spCommTmo->minimum(), spCommTmo->maximum(), spCommTmo->value()}),
             QList<int>({1, 30, 7}));
    QCOMPARE(labelOf(dialog, spMaxlog), QString("Maximum log files size:"));
    QCOMPARE(labelOf(dialog, spCommTmo), QString("Session timeout:"));
    QCOMPARE(labelOf(dialog, child<QLineEdit>(dialog, "edIn")), QString("Inbox:"));
    QCOMPARE(child<QLineEdit>(dialog, "edOut")->text(), w.home.file("OUTBOX"));

    // The rows, their check boxes and the selection follow the presenter and back.
    QCOMPARE(checks(lvConn), QStringList({"xCOM1", "-COM2"}));
    lvConn->topLevelItem(1)->setCheckState(0, Qt::Checked); // the operator's click
    QVERIFY(options.deviceRows()[1].checked);
    QCOMPARE(options.devices().GetSetting(1, dvkDevHostActive), QString("YES"));
    QTest::mouseClick(child<QPushButton>(dialog, "btAddDev"), Qt::LeftButton);
    QCOMPARE(checks(lvConn), QStringList({"xCOM1", "xCOM2", "-COM3"}));
    QCOMPARE(lvConn->currentItem(), lvConn->topLevelItem(2));
    lvConn->setCurrentItem(lvConn->topLevelItem(0));
    QCOMPARE(options.deviceSelection(), 0);
    w.prompt.answers << TBoxResult::Yes;
    pressDelete(lvConn);
    QCOMPARE(checks(lvConn), QStringList({"xCOM2", "-COM3"}));
    QCOMPARE(w.prompt.texts(), QStringList{"Are you sure you want to delete the selected device?"});

    QCOMPARE(lvUser->topLevelItemCount(), 2);
    QCOMPARE(lvUser->topLevelItem(1)->text(0), QString("ANN"));
    QCOMPARE(lvUser->topLevelItem(1)->text(1), w.home.file("INBOX"));
    // Without a user dialog the user buttons that need it are off.
    QVERIFY(!child<QPushButton>(dialog, "btNewUser")->isEnabled());
    lvUser->setCurrentItem(lvUser->topLevelItem(1));
    QCOMPARE(options.userSelection(), 1);
    w.prompt.answers << TBoxResult::Yes;
    pressDelete(lvUser);
    QCOMPARE(lvUser->topLevelItemCount(), 1);
    QCOMPARE(lvUser->topLevelItem(0)->text(0), QString("BOB"));
}

void TestOptionsDialogs::clientDialog() {
    ConsoleWorld w(1);
    w.home.settings().PutInt(CLI_BatchIntSec, 45);
    w.home.settings().PutStr(CLI_ActiveDevice, "COM1");
    w.addDevice("Direct", "COM1", "COM1");
    w.addDevice("Direct", "COM2", "COM2");
    TfrmRemOpt options(w.services(), {});
    TfrmRemOptDialog dialog(options);
    QCOMPARE(dialog.objectName(), QString("frmRemOpt"));
    QCOMPARE(dialog.windowTitle(), QString("Client Configuration"));
    const QStringList captions{"btAddDev=&Add", "btEditDev=&Edit", "btDelDev=&Delete",
                               "ckDeq=Drop failed jobs after retries",
                               "ckAutoDeliv=Start service on application launch"};
    for (const QString& c : captions)
        QCOMPARE(c.section('=', 0, 0) + "=" + caption(dialog, qPrintable(c.section('=', 0, 0))), c);
    QCOMPARE(child<QTreeWidget>(dialog, "lvConn")
                 ->parentWidget()
                 ->parentWidget()
                 ->property("title")
                 .toString(),
             QString(" Communication Devices: "));
    // Without a device dialog Add and Edit are off.
    QVERIFY(!child<QPushButton>(dialog, "btAddDev")->isEnabled());
    QVERIFY(child<QPushButton>(dialog, "btDelDev")->isEnabled());

    auto* cbBatchInt = child<QComboBox>(dialog, "cbBatchInt");
    QCOMPARE(cbBatchInt->count(), 12);
    QCOMPARE(cbBatchInt->currentText(), QString("45 sec"));
    QCOMPARE(cbBatchInt->itemText(3), QString("1 min"));
    QCOMPARE(labelOf(dialog, cbBatchInt), QString("Batch start interval:"));
    auto* spBatchTmo = child<QSpinBox>(dialog, "spBatchTmo");
    QCOMPARE(labelOf(dialog, spBatchTmo), QString("Batch timeout:"));
    QCOMPARE(spBatchTmo->maximum(), 30);

    // One checked device at most, in the widget too.
    QTreeWidget* lvConn = child<QTreeWidget>(dialog, "lvConn");
    QCOMPARE(checks(lvConn), QStringList({"xCOM1", "-COM2"}));
    lvConn->topLevelItem(1)->setCheckState(0, Qt::Checked);
    QCOMPARE(checks(lvConn), QStringList({"-COM1", "xCOM2"}));

    // A failed OK keeps the dialog open; a good one closes it with the values typed.
    dialog.show();
    auto* edIn = child<QLineEdit>(dialog, "edIn");
    edIn->clear();
    QTest::keyClicks(edIn, w.home.file("NOWHERE"));
    cbBatchInt->setCurrentIndex(cbBatchInt->findText("10 min"));
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(w.prompt.texts(), QStringList{"Invalid INBOX path specified."});
    edIn->clear();
    QTest::keyClicks(edIn, w.home.file("INBOX"));
    child<QCheckBox>(dialog, "ckDeq")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(w.home.settings().GetInt(CLI_BatchIntSec), 600);
    QVERIFY(w.home.settings().GetBool(CLI_DropFailed));
    QCOMPARE(w.home.settings().GetStr(CLI_ActiveDevice), QString("COM2"));
}

void TestOptionsDialogs::numberFields() {
    TNumberField field(MaxLogRange, "spMaxlog");
    field.setValue(50000);
    // What is typed counts when it is taken: no number is the minimum, a number outside the
    // range the nearest end of it.
    for (auto [typed, value] : QList<std::pair<QString, int>>{
             {"", 10000}, {"abc", 10000}, {"5", 10000}, {"123456", 123456}, {"5000000", 5000000}}) {
        field.findChild<QLineEdit*>()->setText(typed);
        field.interpretText();
        QCOMPARE(field.value(), value);
    }
    // On losing the focus.
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* minutes = new TNumberField(TimeoutRange, "spCommTmo", &window);
    window.show();
    QApplication::setActiveWindow(&window);
    minutes->setFocus();
    minutes->findChild<QLineEdit*>()->setText("");
    other->setFocus();
    QTRY_COMPARE(minutes->value(), 1);
    QCOMPARE(minutes->text(), QString("1"));
}

void TestOptionsDialogs::userDialog() {
    TestHome home;
    QDir().mkpath(home.file("INBOX"));
    QDir().mkpath(home.file("OUTBOX"));
    TUsersList list(home.settings(), home.sink());
    TMRLUser user;
    list.EmptyItem(user);
    TfrmHstUsr presenter(user, home.file("INBOX"), home.file("OUTBOX"), home.prompt());
    TfrmHstUsrDialog dialog(presenter);
    QCOMPARE(dialog.windowTitle(), QString("Add / Edit User"));
    const QStringList captions{"rbDefInbox=Use default inbox folder",
                               "rbPrvInbox=Create private inbox subfolder",
                               "rbDefOutbox=Use default outbox folder",
                               "rbPrvOutbox=Create private outbox subfolder",
                               "btBrowInbox=Browse...",
                               "btBrowOutbox=Browse...",
                               "btOk=&OK",
                               "btCancel=&Cancel"};
    for (const QString& c : captions)
        QCOMPARE(c.section('=', 0, 0) + "=" + caption(dialog, qPrintable(c.section('=', 0, 0))), c);
    QCOMPARE(labelOf(dialog, child<QLineEdit>(dialog, "edUser")), QString("User Name:"));
    QCOMPARE(labelOf(dialog, child<QLineEdit>(dialog, "edPass2")), QString("Confirmation:"));
    QCOMPARE(labelOf(dialog, child<QLineEdit>(dialog, "edOutbox")),
             QString("Enter the full path of the user's outbox folder:"));
    QCOMPARE(child<QLineEdit>(dialog, "edPass")->echoMode(), QLineEdit::Password);
    QStringList groups;
    for (const QGroupBox* g : dialog.findChildren<QGroupBox*>())
        groups << g->title();
    QCOMPARE(groups, QStringList({" Identification: ", " Inbox folder: ", " Outbox folder: "}));

    auto* edInbox = child<QLineEdit>(dialog, "edInbox");
    auto* btBrowInbox = child<QPushButton>(dialog, "btBrowInbox");
    QVERIFY(child<QRadioButton>(dialog, "rbDefInbox")->isChecked());
    QVERIFY(!edInbox->isEnabled());
    QVERIFY(!btBrowInbox->isEnabled());
    QCOMPARE(edInbox->text(), home.file("INBOX"));
    dialog.show();
    // The default folder shows whole.
    QVERIFY(edInbox->width() > edInbox->fontMetrics().horizontalAdvance(edInbox->text()) + 8);
    child<QRadioButton>(dialog, "rbPrvInbox")->click();
    QVERIFY(edInbox->isEnabled());
    QVERIFY(btBrowInbox->isEnabled());
    edInbox->clear();
    QTest::keyClicks(edInbox, home.file("BOB/IN"));

    QTest::keyClicks(child<QLineEdit>(dialog, "edUser"), "bo");
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(home.prompt().texts(), QStringList{"User name must contain at least 3 characters!"});
    QTest::keyClicks(child<QLineEdit>(dialog, "edUser"), "b");
    // A password longer than an account can store is refused with its message, not cut to fit
    // by the field (it would never match at log-on).
    const QString tooLong(MaxPasswordBytes + 73, 'p');
    for (const char* name : {"edPass", "edPass2"}) {
        QTest::keyClicks(child<QLineEdit>(dialog, name), tooLong);
        QCOMPARE(child<QLineEdit>(dialog, name)->text(), tooLong);
    }
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(home.prompt().texts().last(), QString("Password must contain at most 127 characters!"));
    child<QLineEdit>(dialog, "edPass")->clear();
    child<QLineEdit>(dialog, "edPass2")->clear();
    QTest::keyClicks(child<QLineEdit>(dialog, "edPass"), "pass1");
    QTest::keyClicks(child<QLineEdit>(dialog, "edPass2"), "pass1");
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(user[ukUser].StrValue, QString("BOB"));
    QCOMPARE(user[ukInbox].StrValue, home.file("BOB/IN"));
    QVERIFY(QFileInfo(home.file("BOB/IN")).isDir());
}

void TestOptionsDialogs::passwordDialog() {
    TestHome home;
    TfrmChgPass presenter(home.settings(), home.sink(), home.prompt());
    TfrmChgPassDialog dialog(presenter);
    QCOMPARE(dialog.windowTitle(), QString("Change Password"));
    QStringList fields;
    for (const char* name : {"edCurrent", "edNew", "edConfirm"}) {
        const auto* edit = child<QLineEdit>(dialog, name);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        fields << labelOf(dialog, edit);
    }
    QCOMPARE(fields, QStringList({"Current Password:", "New Password:", "Confirm Password:"}));
    QCOMPARE(caption(dialog, "btCancel"), QString("Cancel"));
    dialog.show();
    // Too long to be stored whole: refused, not cut to what fits.
    const QString tooLong(MaxPasswordBytes + 73, 'q');
    QTest::keyClicks(child<QLineEdit>(dialog, "edNew"), tooLong);
    QTest::keyClicks(child<QLineEdit>(dialog, "edConfirm"), tooLong);
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(home.prompt().texts(), QStringList{"Invalid new password!"});
    QVERIFY(home.settings().GetStr(MRL_Passw).isEmpty());
    child<QLineEdit>(dialog, "edNew")->clear();
    child<QLineEdit>(dialog, "edConfirm")->clear();
    QTest::keyClicks(child<QLineEdit>(dialog, "edNew"), "open sesame");
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QTest::keyClicks(child<QLineEdit>(dialog, "edConfirm"), "open sesame");
    QTest::mouseClick(child<QPushButton>(dialog, "btOk"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(home.settings().GetStr(MRL_Passw), ScramblePassword("open sesame"));
    QCOMPARE(home.prompt().texts(),
             QStringList({"Invalid new password!",
                          "Specified passwords don't match! Please type again."}));
}

void TestOptionsDialogs::boxesBelongToTheOpenDialog() {
    // A box raised while a dialog is open shows over that dialog and holds it, whichever
    // dialog it is.
    QWidget owner;
    owner.show();
    TDesktopPrompt prompt([&owner]() { return &owner; });
    {
        auto dialog = std::make_unique<QDialog>(&owner);
        QWidget* boxParent = nullptr;
        whenModal([&]() {
            prompt.MessageBox("Invalid INBOX path specified.", QString(), TBoxIcon::Error,
                              TBoxButtons::Ok);
            auto* box = owner.findChild<QMessageBox*>();
            boxParent = box ? box->parentWidget() : nullptr;
            if (box) box->accept();
            dialog->reject();
        });
        dialog->exec();
        QCOMPARE(boxParent, dialog.get());
        QTRY_VERIFY(owner.findChild<QMessageBox*>() == nullptr);
    }

    // A box still open when its dialog closes stays, over the window behind.
    {
        QDialog dialog(&owner);
        whenModal([&]() {
            prompt.MessageBox("!SaveSettings: disk full", QString(), TBoxIcon::Error,
                              TBoxButtons::Ok);
            dialog.accept();
        });
        dialog.exec();
    }
    auto* box = owner.findChild<QMessageBox*>();
    QVERIFY(box);
    QCOMPARE(box->parentWidget(), &owner);
    QVERIFY(box->isVisible());
    QCOMPARE(box->text(), QString("!SaveSettings: disk full"));
    box->accept();
}

void TestOptionsDialogs::mainWindowOpensTheDialogs() {
    TestHome home(1);
    QDir().mkpath(home.file("INBOX"));
    QDir().mkpath(home.file("OUT2"));
    home.settings().PutStr(MRL_Inbox, home.file("INBOX"));
    // A job named by its full path shows the path below the Outbox once it lies there.
    auto shell = std::make_unique<TMainShell>(home.takeContext());
    TQueueList& queue = *shell->Context().queue;
    TQueueItem job;
    queue.EmptyItem(job);
    Put(job, qkNo, "0007");
    Put(job, qkSrcFile, home.file("OUT2/a.txt"));
    queue.AddItem();
    queue.SetItem(0, &job);
    auto views = [&shell](TRole role, QWidget* parent) -> QWidget* {
        if (auto* client = dynamic_cast<TfraClient*>(shell->Console(role)))
            return new TfraClientView(*client, parent);
        return nullptr;
    };
    TfrmMRL window(*shell, home.settings(), home.sink(), home.prompt(), views, false);
    QObject::connect(shell.get(), &TMainShell::PageChanged, &window, &TfrmMRL::showPage);
    int edits = 0;
    window.setDeviceEditor([&edits](TModemsList&, TCommDevice&) {
        ++edits;
        return false;
    });
    shell->Initialize();
    window.show();
    auto* lvQueue = window.page(PageClient)->findChild<QAbstractItemView*>("lvQueue");
    QCOMPARE(lvQueue->model()->index(0, 1).data().toString(), home.file("OUT2/a.txt"));

    QString opened;
    whenModal([&]() {
        QWidget* dialog = QApplication::activeModalWidget();
        opened = dialog ? dialog->objectName() : QString();
        if (!dialog) return;
        // The device dialog given to the window is the one the options use.
        QTest::mouseClick(child<QPushButton>(*dialog, "btAddDev"), Qt::LeftButton);
        auto* edOut = child<QLineEdit>(*dialog, "edOut");
        edOut->clear();
        QTest::keyClicks(edOut, home.file("OUT2"));
        QTest::mouseClick(child<QPushButton>(*dialog, "btOk"), Qt::LeftButton);
    });
    QTest::mouseClick(window.page(PageClient)->findChild<QPushButton*>("btOpt"), Qt::LeftButton);
    QCOMPARE(opened, QString("frmRemOpt"));
    QCOMPARE(edits, 1);
    QCOMPARE(home.settings().GetStr(MRL_Outbox), home.file("OUT2"));
    QCOMPARE(lvQueue->model()->index(0, 1).data().toString(), QString("a.txt"));

    whenModal([&]() {
        QWidget* dialog = QApplication::activeModalWidget();
        opened = dialog ? dialog->objectName() : QString();
        if (dialog) QTest::mouseClick(child<QPushButton>(*dialog, "btCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(window.page(PageClient)->findChild<QPushButton*>("btPass"), Qt::LeftButton);
    QCOMPARE(opened, QString("frmChgPass"));
    shell->Shutdown();
}

void TestOptionsDialogs::startRefusedWhileConfiguring() {
    // A second start's "/START" while the options dialog is open: the dialog's OK replaces the
    // device list, which would stop the service again without a word. The start is refused,
    // saying so, and works once the dialog is closed.
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        useIdleEngines();
        w.addDevice("Direct", "Cable", "{D}", true);
        w.home.settings().PutStr(CLI_ActiveDevice, "{D}");
        std::unique_ptr<TConsoleBase> console;
        if (role == 1)
            console = std::make_unique<TfraClient>(w.services());
        else
            console = std::make_unique<TfraServer>(w.services());
        whenModal([&]() {
            ConsoleWorld::pend({"/START"});
            console->ProcessParams();
            if (QWidget* dialog = QApplication::activeModalWidget())
                QTest::mouseClick(child<QPushButton>(*dialog, "btOk"), Qt::LeftButton);
        });
        QVERIFY(ShowConsoleOptions(*console, {}, nullptr));
        QCOMPARE(Devices()->EngineCount(), 0);
        QVERIFY(ConsoleWorld::messages(console->sessionText())
                    .contains("Service not started: the configuration dialog is open."));
        ConsoleWorld::pend({"/START"});
        console->ProcessParams();
        QCOMPARE(Devices()->EngineCount(), 1);
        console->DeviceProcessing(false);
    }
}

void TestOptionsDialogs::keyboard_data() {
    QTest::addColumn<int>("entry");
    for (int i = 0; i < gallery::Entries().size(); ++i)
        QTest::newRow(qPrintable(gallery::Entries()[i].name)) << i;
}

// Every window of the program, each state (tab, page) of it: Tab reaches every control in
// reading order, no two shown controls share a mnemonic; in a dialog, Enter presses OK and Esc
// cancels.
void TestOptionsDialogs::keyboard() {
    QFETCH(int, entry);
    const gallery::Entry& e = gallery::Entries()[entry];
    QStringList problems;
    int controls = 0;
    e.run([&](QWidget* window, const QString& name) {
        for (const QString& p : walkKeyboard(window, e.dialog, controls))
            problems << name + ": " + p;
    });
    qInfo("%s: %d controls", qPrintable(e.name), controls);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
}

QTEST_MAIN(TestOptionsDialogs)
#include "options_dialogs_test.moc"
