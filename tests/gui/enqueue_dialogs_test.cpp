// The enqueue dialogs as windows: their controls and captions, the phone field taking digits only,
// OK and Cancel as the caller sees them, and "Add..." on both console views from the file
// chooser through the filled-in dialog to the job in the queue list and in its job file.
#include "consoles/client_console.h"
#include "consoles/console_world.h"
#include "consoles/server_console.h"
#include "core/inifile.h"
#include "gui/client_view.h"
#include "gui/enqueue_dialogs.h"
#include "gui/list_view.h"
#include "gui/server_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {
template <typename T> T* child(const QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no %s", name);
    return found;
}

// "caption=field" of each captioned field, and the captions of the other controls, in order.
QStringList fields(const QDialog& dialog) {
    QStringList out;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (label->buddy()) out << label->text() + "=" + label->buddy()->objectName();
    return out;
}

// Runs `fill` on the dialog of type T once it is open modally; a dialog that `fill` leaves open
// is cancelled so that the test goes on (and fails on what it finds).
template <typename T> void whenOpen(std::function<void(T*)> fill) {
    QTimer::singleShot(0, [fill]() {
        const QPointer<T> dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog) {
            qWarning("no modal dialog");
            return;
        }
        fill(dialog);
        if (dialog && dialog->isVisible()) {
            qWarning("dialog left open");
            dialog->reject();
        }
    });
}

void type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void click(const QWidget* dialog, const char* name) {
    QTest::mouseClick(child<QPushButton>(dialog, name), Qt::LeftButton);
}

// The fields of a job file from qkSrcFile to qkCommParam, as the file holds them.
QStringList stored(const QString& jobFile) {
    const TIniFile file(jobFile);
    QStringList out;
    for (int key = qkSrcFile; key < QueueKeyCount; ++key)
        out << file.ReadString("ITEM", QString::fromLatin1(QueueKeyNames[key]), "?");
    return out;
}

// The texts of a column in the order the list shows them.
QStringList shown(const TListView* lv, int column) {
    QStringList out;
    for (int i = 0; i < lv->model()->rowCount(); ++i)
        out << lv->model()->index(i, column).data().toString();
    return out;
}
} // namespace

class TestEnqueueDialogWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostControls();
    void clientControls();
    void okAndCancel();
    void addOnServerView();
    void addOnClientView();
};

void TestEnqueueDialogWindows::hostControls() {
    ConsoleWorld w(2);
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, w.outbox("a.txt"));
    TfrmHstEnq dialog(w.services(), job);
    QCOMPARE(dialog.objectName(), QString("frmHstEnq"));
    QCOMPARE(dialog.windowTitle(), QString("Enqueue host file"));
    QCOMPARE(fields(dialog), QStringList({"File name:=edFile", "Destination user:=edUser",
                                          "Destination subfolder:=edDest"}));
    auto* file = child<QLineEdit>(&dialog, "edFile");
    QCOMPARE(file->text(), w.outbox("a.txt"));
    QVERIFY(file->isReadOnly());
    QCOMPARE(file->focusPolicy(), Qt::NoFocus);
    QCOMPARE(child<QPushButton>(&dialog, "btOk")->text(), QString("&OK"));
    QVERIFY(child<QPushButton>(&dialog, "btOk")->isDefault());
    QCOMPARE(child<QPushButton>(&dialog, "btCancel")->text(), QString("Cancel"));
}

void TestEnqueueDialogWindows::clientControls() {
    for (const QString deviceType : {"Direct", "Modem"}) {
        ConsoleWorld w(1);
        w.addDevice(deviceType, "Line", "{L}");
        w.home.settings().PutStr(CLI_ActiveDevice, "{L}");
        TQueueItem job;
        Queue()->EmptyItem(job);
        Put(job, qkSrcFile, "S\\a.txt");
        TfrmRemEnq dialog(w.services(), job);
        QCOMPARE(dialog.objectName(), QString("frmRemEnq"));
        QCOMPARE(dialog.windowTitle(), QString("Enqueue client file"));
        QCOMPARE(fields(dialog), QStringList({"File Name:=edFile", "User name:=edUser",
                                              "Password:=edPassw", "Destination subfolder:=edDest",
                                              "Connection:=cbConn", "Dest phone #:=medPhone"}));
        auto* file = child<QLineEdit>(&dialog, "edFile");
        QCOMPARE(file->text(), QString("S\\a.txt"));
        QVERIFY(file->isReadOnly());
        QCOMPARE(file->focusPolicy(), Qt::NoFocus);
        QCOMPARE(child<QLineEdit>(&dialog, "edPassw")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QCheckBox>(&dialog, "ckAutoDel")->text(), QString("&Erase after send"));
        QVERIFY(!child<QCheckBox>(&dialog, "ckAutoDel")->isChecked());
        auto* conn = child<QComboBox>(&dialog, "cbConn");
        QVERIFY(!conn->isEditable());
        QCOMPARE(conn->count(), 1);
        QCOMPARE(conn->currentText(), QString("Line"));
        auto* params = child<QStackedWidget>(&dialog, "nbParams");
        QCOMPARE(params->count(), 2);
        QCOMPARE(params->currentWidget()->objectName(), deviceType);
        QVERIFY(params->widget(1)->isAncestorOf(child<QLineEdit>(&dialog, "medPhone")));
        QVERIFY(child<QPushButton>(&dialog, "btOk")->isDefault());
        QCOMPARE(child<QPushButton>(&dialog, "btCancel")->text(), QString("Cancel"));

        // The phone field takes digits only, 17 at most.
        dialog.show();
        auto* phone = child<QLineEdit>(&dialog, "medPhone");
        // It stands in the column of the fields above it.
        if (phone->isVisible())
            QCOMPARE(phone->mapTo(&dialog, QPoint()).x(),
                     child<QLineEdit>(&dialog, "edUser")->mapTo(&dialog, QPoint()).x());
        type(phone, "55-5a 12");
        QCOMPARE(phone->text(), QString("55512"));
        type(phone, "123456789012345678901");
        QCOMPARE(phone->text(), QString("12345678901234567"));
    }
}

void TestEnqueueDialogWindows::okAndCancel() {
    ConsoleWorld w(1);
    w.addDevice("Direct", "Cable", "{C}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{C}");
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, "a.txt");
    const QString date = Get(job, qkDate);

    // Cancel after a refused OK: the caller's job is as it was.
    whenOpen<TfrmRemEnq>([](TfrmRemEnq* dialog) {
        type(child<QLineEdit>(dialog, "edDest"), "in");
        click(dialog, "btOk");
        QVERIFY(dialog->isVisible());
        click(dialog, "btCancel");
    });
    QVERIFY(!TfrmRemEnq::Execute(w.services(), job, nullptr));
    QCOMPARE(w.prompt.texts(), QStringList{"Invalid user name!"});
    QCOMPARE(Get(job, qkDestPath), QString());
    QCOMPARE(Get(job, qkUser), QString());

    whenOpen<TfrmRemEnq>([](TfrmRemEnq* dialog) {
        type(child<QLineEdit>(dialog, "edUser"), "bob");
        type(child<QLineEdit>(dialog, "edPassw"), "secret");
        child<QCheckBox>(dialog, "ckAutoDel")->setChecked(true);
        type(child<QLineEdit>(dialog, "edDest"), "in");
        click(dialog, "btOk");
    });
    QVERIFY(TfrmRemEnq::Execute(w.services(), job, nullptr));
    QCOMPARE(Get(job, qkUser), QString("bob"));
    QCOMPARE(Get(job, qkPassw), ScramblePassword("secret"));
    QCOMPARE(Get(job, qkAutoDel), QString("YES"));
    QCOMPARE(Get(job, qkDestPath), QString("in"));
    QCOMPARE(Get(job, qkCommName), QString("Cable"));
    QCOMPARE(Get(job, qkCommGUID), QString("{C}"));
    QCOMPARE(Get(job, qkDate), date);

    // The window under the dialog goes away while the dialog is open: as good as Cancel.
    auto* window = new QWidget;
    window->show();
    whenOpen<TfrmRemEnq>([window](TfrmRemEnq* dialog) {
        type(child<QLineEdit>(dialog, "edUser"), "ann");
        delete window;
    });
    QVERIFY(!TfrmRemEnq::Execute(w.services(), job, window));
    QCOMPARE(Get(job, qkUser), QString("bob"));
}

void TestEnqueueDialogWindows::addOnServerView() {
    ConsoleWorld w(2);
    w.addUser("ANN", "pw", w.home.file("ANNOUT"));
    w.addUser("BOB", "pw");
    TfraServer server(w.services());
    TfraServerView view(server);
    view.show();
    const QString path = w.file("ANNOUT/Sub/a.txt", "hello");

    // Cancelled: nothing is queued.
    w.prompt.fileAnswers << path;
    whenOpen<TfrmHstEnq>([](TfrmHstEnq* dialog) { click(dialog, "btCancel"); });
    click(&view, "btJobAdd");
    QCOMPARE(Queue()->Count(), 0);

    // The wrong user first keeps the dialog open; the right one queues the job.
    w.prompt.fileAnswers << path;
    whenOpen<TfrmHstEnq>([&](TfrmHstEnq* dialog) {
        QCOMPARE(child<QLineEdit>(dialog, "edFile")->text(), path);
        type(child<QLineEdit>(dialog, "edUser"), "bob");
        type(child<QLineEdit>(dialog, "edDest"), "in");
        click(dialog, "btOk");
        QVERIFY(dialog->isVisible());
        type(child<QLineEdit>(dialog, "edUser"), "ann");
        click(dialog, "btOk");
    });
    click(&view, "btJobAdd");
    QCOMPARE(w.prompt.texts(), QStringList{"File must be in the user's Outbox or a subfolder."});
    QCOMPARE(Queue()->Count(), 1);

    const TListView* list = view.queueList();
    QCOMPARE(shown(list, 1), QStringList{"Sub\\a.txt"});
    QCOMPARE(shown(list, 4), QStringList{"ANN"});
    QCOMPARE(shown(list, 6), QStringList{"in"});
    QCOMPARE(child<QLineEdit>(&view, "edTotJobs")->text(), QString("1"));
    const QString number = Queue()->GetSetting(0, qkNo);
    QCOMPARE(shown(list, 0), QStringList{number});
    QCOMPARE(stored(Queue()->JobFilePath(number)),
             QStringList({"Sub\\a.txt", "5", "in", "ANN", "-", "", "-", "-", "-"}));
}

void TestEnqueueDialogWindows::addOnClientView() {
    ConsoleWorld w(1);
    w.addDevice("Modem", "Dialer", "{M}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{M}");
    TfraClient client(w.services());
    TfraClientView view(client);
    view.show();
    w.file("OUTBOX/S/a.txt", "abcd");

    w.prompt.fileAnswers << w.outbox("S/a.txt");
    whenOpen<TfrmRemEnq>([](TfrmRemEnq* dialog) {
        QCOMPARE(child<QLineEdit>(dialog, "edFile")->text(), QString("S\\a.txt"));
        type(child<QLineEdit>(dialog, "edUser"), "BOB");
        type(child<QLineEdit>(dialog, "edPassw"), "pw");
        click(dialog, "btOk");
        QVERIFY(dialog->isVisible());
        type(child<QLineEdit>(dialog, "medPhone"), "5551234");
        click(dialog, "btOk");
    });
    click(&view, "btJobAdd");
    QCOMPARE(w.prompt.texts(), QStringList{"Invalid Server Phone No.!"});
    QCOMPARE(Queue()->Count(), 1);

    const TListView* list = view.queueList();
    QCOMPARE(shown(list, 1), QStringList{"S\\a.txt"});
    QCOMPARE(shown(list, 4), QStringList{"BOB"});
    QCOMPARE(shown(list, 6), QStringList{"Dialer"});
    QCOMPARE(shown(list, 7), QStringList{"5551234"});
    const QString number = Queue()->GetSetting(0, qkNo);
    QVERIFY(Queue()->JobFilePath(number).endsWith(".xfr"));
    QCOMPARE(stored(Queue()->JobFilePath(number)),
             QStringList({"S\\a.txt", "4", "", "BOB", ScramblePassword("pw"), "", "Dialer", "{M}",
                          "5551234"}));
}

QTEST_MAIN(TestEnqueueDialogWindows)
#include "enqueue_dialogs_test.moc"
