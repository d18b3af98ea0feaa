// A new server and a new client set up from their windows alone, on a real X display: the role
// chosen on the first page; on the server a device, two users and options through "Server
// Options", "Device Configuration" and the user dialog, a file queued for a user with "Add...";
// on the client a device, the default connection and the batch interval through "Client
// Configuration", a file queued with "Add..." through the file chooser and "Enqueue client
// file". Then the service runs: the file is delivered and the server's file fetched, as both
// results-log views show. Nothing is written into marrowline.ini by the test.
#include "e2e/desktop_program.h"
#include "gui/device_dialog.h"
#include "gui/enqueue_dialogs.h"
#include "gui/options_dialogs.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace e2e;

namespace {
// What the operator does in the modal windows that come up, in order: each step waits for a
// modal window of its kind and then acts on it, outside the poll (its click may open the next).
class Operator : public QObject {
public:
    using Match = std::function<bool(QWidget*)>;
    using Act = std::function<void(QWidget*)>;

    Operator() {
        connect(&mTimer, &QTimer::timeout, this, &Operator::poll);
        mTimer.start(50);
    }
    void then(const char* kind, Act act) {
        mSteps.append({QString::fromLatin1(kind), std::move(act)});
    }
    bool done() const { return mNext >= mSteps.size() && !QApplication::activeModalWidget(); }
    QString waitingFor() const {
        return mNext < mSteps.size() ? mSteps[mNext].kind : QStringLiteral("nothing");
    }

private:
    struct Step {
        QString kind;
        Act act;
    };
    void poll() {
        if (mNext >= mSteps.size()) return;
        QWidget* modal = QApplication::activeModalWidget();
        // A step that never comes (a box nobody expected): close every window so that the
        // test's own wait, which the modal windows' loops hold, can fail.
        if (mIdle.isValid() && mIdle.elapsed() > 20000) {
            qWarning("operator: no %s after 20 s; %s is open", qPrintable(mSteps[mNext].kind),
                     modal ? modal->metaObject()->className() : "nothing");
            mNext = mSteps.size();
            for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
                QApplication::activeModalWidget()->close();
            return;
        }
        if (!mIdle.isValid()) mIdle.start();
        if (!modal || !modal->inherits(qPrintable(mSteps[mNext].kind)) || !modal->isVisible())
            return;
        Act act = mSteps[mNext++].act;
        mIdle.restart();
        QPointer<QWidget> window = modal;
        QTimer::singleShot(0, this, [act, window]() {
            if (window) act(window);
        });
    }
    QTimer mTimer;
    QElapsedTimer mIdle;
    QList<Step> mSteps;
    qsizetype mNext = 0;
};

template <typename T> T* find(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no control %s in %s", name, qPrintable(parent->objectName()));
    return found;
}

void click(QWidget* parent, const char* name) {
    if (auto* button = find<QAbstractButton>(parent, name)) button->click();
}

void type(QWidget* parent, const char* name, const QString& text) {
    if (auto* edit = find<QLineEdit>(parent, name)) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
}

void choose(QWidget* parent, const char* name, const QString& text) {
    auto* list = find<QComboBox>(parent, name);
    if (!list) return;
    const int index = list->findText(text);
    if (index < 0) qWarning("no entry %s in %s", qPrintable(text), name);
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

// "Device Configuration" for a direct cable on a port.
Operator::Act directCable(const QString& port) {
    return [port](QWidget* dialog) {
        choose(dialog, "cbPort", port);
        choose(dialog, "cbDev", "Direct");
        choose(dialog, "cbBaud", "115200");
        click(dialog, "btOk");
    };
}

// The first device of an options dialog gets its check (answers calls; default connection).
void checkFirstDevice(QWidget* dialog) {
    if (auto* list = find<QTreeWidget>(dialog, "lvConn"))
        if (list->topLevelItemCount() > 0) list->topLevelItem(0)->setCheckState(0, Qt::Checked);
}

Operator::Act newUser(const QString& name, const QString& password) {
    return [name, password](QWidget* dialog) {
        type(dialog, "edUser", name);
        type(dialog, "edPass", password);
        type(dialog, "edPass2", password);
        click(dialog, "btOk");
    };
}

Operator::Act pickFile(const QString& path) {
    return [path](QWidget* window) {
        // As the operator does: the path typed into the name field, then Enter.
        auto* name = window->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            qWarning("file chooser without its name field");
            return;
        }
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    };
}

void clickRole(DesktopProgram& program, const char* radio) {
    auto* button = program.window->page(PageChoice)->findChild<QRadioButton*>(radio);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    QTest::mouseClick(program.window->page(PageChoice)->findChild<QPushButton*>("btOk"),
                      Qt::LeftButton);
}
} // namespace

class ConfigureTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newInstallationsFromTheirWindows();
};

void ConfigureTest::newInstallationsFromTheirWindows() {
    QTemporaryDir root;
    Home client(root.path(), "client"), server(root.path(), "server");
    LineSim cable("cable", {}, client.portLink(1), server.portLink(2));
    QVERIFY(cable.ready());
    const QByteArray up = RandomBytes(20000, 21), down = RandomBytes(7000, 22);

    // ---- The server: role, options (a device that answers, two users), a file for ALICE.
    DesktopProgram srv(server, {}, false);
    srv.shell->Initialize();
    QCOMPARE(srv.shell->Page(), PageChoice);
    clickRole(srv, "rbServer");
    QCOMPARE(srv.shell->Page(), PageServer);
    const QString outbox = srv.shell->Context().settings.GetStr(MRL_Outbox);
    QVERIFY(WriteAll(outbox + "/down.bin", down));
    {
        Operator op;
        op.then("TfrmHstOptDialog", [](QWidget* options) { click(options, "btAddDev"); });
        op.then("TfrmConn", directCable("COM2"));
        op.then("TfrmHstOptDialog", [](QWidget* options) {
            checkFirstDevice(options);
            click(options, "btNewUser");
        });
        op.then("TfrmHstUsrDialog", newUser("alice", "secret1"));
        op.then("TfrmHstOptDialog", [](QWidget* options) { click(options, "btNewUser"); });
        op.then("TfrmHstUsrDialog", newUser("bob", "secret2"));
        op.then("TfrmHstOptDialog", [](QWidget* options) {
            if (auto* notify = find<QCheckBox>(options, "ckNotif")) notify->setChecked(false);
            click(options, "btOk");
        });
        QTimer::singleShot(0, [&]() { click(srv.find<QWidget>("pg")->parentWidget(), "btOpt"); });
        QTRY_VERIFY2_WITH_TIMEOUT(op.done(), qPrintable("server options at " + op.waitingFor()),
                                  20000);
    }
    QCOMPARE(srv.shell->Context().Users().Count(), 2);
    {
        Operator op;
        op.then("QFileDialog", pickFile(outbox + "/down.bin"));
        op.then("TfrmHstEnq", [](QWidget* dialog) {
            type(dialog, "edUser", "ALICE");
            click(dialog, "btOk");
        });
        QTimer::singleShot(0, [&]() { click(srv.find<QWidget>("pg")->parentWidget(), "btJobAdd"); });
        QTRY_VERIFY2_WITH_TIMEOUT(op.done(), qPrintable("server Add at " + op.waitingFor()),
                                  20000);
    }
    QTRY_COMPARE(srv.rows("lvQueue").size(), 1);
    click(srv.find<QWidget>("pg")->parentWidget(), "btStart");
    QTRY_COMPARE(srv.list("lvOper")->rowCount(), 1);

    // ---- The client: role, options (a device as the default connection, the batch
    // interval), a file queued with "Add...".
    DesktopProgram cli(client, {}, false);
    cli.shell->Initialize();
    clickRole(cli, "rbClient");
    QCOMPARE(cli.shell->Page(), PageClient);
    const QString clientOutbox = cli.shell->Context().settings.GetStr(MRL_Outbox);
    QVERIFY(WriteAll(clientOutbox + "/up.bin", up));
    {
        Operator op;
        op.then("TfrmRemOptDialog", [](QWidget* options) { click(options, "btAddDev"); });
        op.then("TfrmConn", directCable("COM1"));
        op.then("TfrmRemOptDialog", [](QWidget* options) {
            checkFirstDevice(options);
            if (auto* interval = find<QComboBox>(options, "cbBatchInt")) {
                interval->setCurrentIndex(0);
                Q_EMIT interval->activated(0);
            }
            click(options, "btOk");
        });
        QTimer::singleShot(0, [&]() { click(cli.find<QWidget>("pg")->parentWidget(), "btOpt"); });
        QTRY_VERIFY2_WITH_TIMEOUT(op.done(), qPrintable("client options at " + op.waitingFor()),
                                  20000);
    }
    QCOMPARE(cli.shell->Context().settings.GetStr(CLI_ActiveDevice).isEmpty(), false);
    {
        Operator op;
        op.then("QFileDialog", pickFile(clientOutbox + "/up.bin"));
        op.then("TfrmRemEnq", [](QWidget* dialog) {
            type(dialog, "edUser", "alice");
            type(dialog, "edPassw", "secret1");
            click(dialog, "btOk");
        });
        QTimer::singleShot(0, [&]() { click(cli.find<QWidget>("pg")->parentWidget(), "btJobAdd"); });
        QTRY_VERIFY2_WITH_TIMEOUT(op.done(), qPrintable("client Add at " + op.waitingFor()),
                                  20000);
    }
    QTRY_COMPARE(cli.rows("lvQueue").size(), 1);
    click(cli.find<QWidget>("pg")->parentWidget(), "btStart");

    // ---- Delivered and fetched, as the results-log views show.
    const auto logged = [](const DesktopProgram& program, const char* file) {
        for (const QString& row : program.rows("lsvLog"))
            if (row.contains(file) && row.contains("YES")) return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged(cli, "up.bin") && logged(cli, "down.bin"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(logged(srv, "up.bin") && logged(srv, "down.bin"), 10000);
    const QString inbox = srv.shell->Context().settings.GetStr(MRL_Inbox);
    QCOMPARE(ReadAll(inbox + "/up.bin"), up);
    QCOMPARE(ReadAll(cli.shell->Context().settings.GetStr(MRL_Inbox) + "/down.bin"), down);
    QTRY_VERIFY(cli.rows("lvQueue").isEmpty());
    QTRY_VERIFY(srv.rows("lvQueue").isEmpty());
}

int main(int argc, char** argv) {
    return e2e::RunOnXDisplay(argc, argv, [&]() {
        ConfigureTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "configure_test.moc"
