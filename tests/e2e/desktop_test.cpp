// Two desktop programs on a real X display (Xvfb, started here when there is none): a client and
// a server, each a shell with its window and console views, on a linesim cable. What the
// operator sees is read from the widgets: the queued job, the transfer in the client's gauge and
// session fields and in the server's operations row, the finished jobs in both results-log views.
// A question box open while a transfer ends holds nothing. With a tray host (trayer) the window
// goes to the notification area and comes back from it.
#include "e2e/desktop_program.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include <unistd.h>

using namespace e2e;

namespace {
int countContaining(const QStringList& rows, const QString& a, const QString& b) {
    int n = 0;
    for (const QString& row : rows)
        if (row.contains(a) && row.contains(b)) ++n;
    return n;
}
} // namespace

class DesktopTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void deliveryShownOnBothDesktops();
    void trayHostTakesTheWindow();
};

void DesktopTest::initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             qPrintable(QGuiApplication::platformName()));
}

void DesktopTest::deliveryShownOnBothDesktops() {
    QTemporaryDir root;
    Home client(root.path(), "client"), server(root.path(), "server");
    client.makeClient(1);
    server.makeServer({2});
    server.addUser("ALICE", "secret");
    // 48 KB up at 57600 bit/s: about 9 s of transfer, long enough to watch it.
    const QByteArray up = RandomBytes(48 * 1024, 11), down = RandomBytes(3000, 12);
    QVERIFY(client.put("OUTBOX/up.bin", up));
    QVERIFY(server.put("OUTBOX/down.bin", down));
    LineSim cable("cable", {"--baud", "57600"}, client.portLink(1), server.portLink(2));
    QVERIFY(cable.ready());

    DesktopProgram srv(server, {server.outbox() + "down.bin", "ALICE"}, false);
    srv.shell->Initialize();
    QCOMPARE(srv.window->windowTitle(), QStringLiteral("Marrowline 1.00 - SERVER"));
    QCOMPARE(srv.rows("lvQueue").size(), 1);
    QVERIFY(srv.rows("lvQueue")[0].contains("down.bin"));
    QCOMPARE(srv.list("lvOper")->rowCount(), 1);

    DesktopProgram cli(client, {client.outbox() + "up.bin", "ALICE", "secret", "0"}, false);
    cli.shell->Initialize();
    cli.window->trayDoubleClick(); // no password: restored
    srv.window->trayDoubleClick();
    QCOMPARE(cli.window->windowTitle(), QStringLiteral("Marrowline 1.00 - CLIENT"));
    QTRY_VERIFY_WITH_TIMEOUT(countContaining(cli.rows("lvQueue"), "up.bin", "ALICE") == 1, 5000);

    // Watch the transfer as the operator sees it.
    auto* gauge = cli.find<QProgressBar>("prb");
    auto* status = cli.find<QLineEdit>("edStat");
    auto* file = cli.find<QLineEdit>("edFile");
    QVERIFY(gauge && status && file);
    int gaugeMax = 0, gaugeBest = 0;
    bool fileShown = false, percentShown = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&]() {
        if (gauge->maximum() == up.size()) gaugeBest = qMax(gaugeBest, gauge->value());
        gaugeMax = qMax(gaugeMax, gauge->maximum());
        fileShown = fileShown || file->text().contains("up.bin");
        for (const QString& row : srv.rows("lvOper"))
            if (row.contains('%')) percentShown = true;
    });
    sampler.start(20);

    // Halfway through, a question box opens on the client and stays open until the transfer has
    // ended and been logged: the engine goes on under it, and nothing runs twice.
    bool boxWasOpen = false, loggedUnderBox = false;
    QTimer asker;
    asker.setSingleShot(true);
    QObject::connect(&asker, &QTimer::timeout, [&]() {
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            boxWasOpen = true;
            if (client.log("client.log").size() >= 1) {
                loggedUnderBox = true;
                box->button(QMessageBox::Cancel)->click();
            }
        });
        answer.start(50);
        // The close question: Cancel keeps the program running.
        QVERIFY(!cli.shell->CloseApplication(true));
    });
    QTRY_VERIFY_WITH_TIMEOUT(gaugeBest > up.size() / 2, 30000);
    asker.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(loggedUnderBox, 30000);
    QVERIFY(boxWasOpen);
    QVERIFY(!cli.shell->Terminated());

    // Both files cross; both results-log views show the finished jobs.
    QTRY_VERIFY_WITH_TIMEOUT(ReadAll(server.inbox() + "up.bin") == up, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(ReadAll(client.inbox() + "down.bin") == down, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(countContaining(cli.rows("lsvLog"), "up.bin", "YES") == 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(countContaining(cli.rows("lsvLog"), "down.bin", "YES") == 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(countContaining(srv.rows("lsvLog"), "up.bin", "YES") == 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(countContaining(srv.rows("lsvLog"), "down.bin", "YES") == 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(cli.rows("lvQueue").isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(srv.rows("lvQueue").isEmpty(), 10000);
    sampler.stop();
    QCOMPARE(gaugeMax, int(up.size()));
    QVERIFY(fileShown);
    QVERIFY(percentShown);
    QVERIFY(!status->text().isEmpty());
    // Logged once each: the box did not make the engine run a step twice.
    QCOMPARE(client.log("client.log").size(), 2);
    QCOMPARE(server.log("server.log").size(), 2);
}

void DesktopTest::trayHostTakesTheWindow() {
    const QString trayer = QStandardPaths::findExecutable("trayer");
    if (trayer.isEmpty()) QFAIL("trayer is not installed (scripts/deps.sh installs it)");
    QProcess host;
    host.start(trayer, {"--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                        "--width", "120", "--heighttype", "pixel", "--height", "24"});
    QVERIFY(host.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

    QTemporaryDir root;
    Home home(root.path(), "client");
    home.makeClient(1);
    home.set("CLIENT", "CLI_AutoDelivery", "0");
    DesktopProgram program(home, {}, true);
    program.shell->Initialize();
    QSystemTrayIcon* tray = program.window->trayIcon();
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), QStringLiteral("Marrowline 1.00 - CLIENT "));
    // In the tray: hidden, not on the task bar.
    QVERIFY(!program.window->isVisible());
    QVERIFY(program.window->trayArmed());
    // A double click on the icon brings it back.
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    QTRY_VERIFY(program.window->isVisible());
    QVERIFY(!program.window->trayArmed());
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(program.window->isVisible());
    // Minimising hides it in the tray again.
    program.window->showMinimized();
    QTRY_VERIFY(!program.window->isVisible());
    QVERIFY(program.window->trayArmed());
    host.terminate();
    host.waitForFinished(3000);
}

int main(int argc, char** argv) {
    return e2e::RunOnXDisplay(argc, argv, [&]() {
        DesktopTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "desktop_test.moc"
