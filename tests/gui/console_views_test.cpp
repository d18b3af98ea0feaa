// The two console views over real consoles: their controls and columns, the queue as
// the console changes it (selection kept, sorting, the Delete key), the buttons following start
// and stop, the log export refusing the log file, the session fields and the server's operation
// rows, the context menu.
#include "consoles/client_console.h"
#include "consoles/console_world.h"
#include "consoles/server_console.h"
#include "gui/client_view.h"
#include "gui/list_view.h"
#include "gui/server_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

namespace {
// The main window as far as the context menu reaches it.
class RecordingHost : public IConsoleHost {
public:
    bool onTop = false;
    QList<bool> closes;
    void SetCaption(const QString&) override {}
    bool ApplyOnTop(bool toggle) override { return onTop = toggle ? !onTop : onTop; }
    bool CloseApplication(bool confirm) override {
        closes << confirm;
        return false;
    }
};

template <typename T> T* child(const QWidget& view, const char* name) {
    T* found = view.findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no %s", name);
    return found;
}

QPushButton* button(const QWidget& view, const char* name) {
    return child<QPushButton>(view, name);
}

// "name=caption" of each page.
QStringList pages(const QWidget& view) {
    QStringList out;
    const QTabWidget* pg = child<QTabWidget>(view, "pg");
    for (int i = 0; i < pg->count(); ++i)
        out << pg->widget(i)->objectName() + "=" + pg->tabText(i);
    return out;
}

// "caption/width" of each column as the list shows it: the width its model gives, which it has
// unless its caption needs more (then it is as wide as the caption needs; any other width shows as
// it is).
QStringList columns(const QWidget& view, const char* list) {
    const TListView* lv = child<TListView>(view, list);
    QStringList out;
    for (int c = 0; c < lv->header()->count(); ++c) {
        const QString caption = lv->model()->headerData(c, Qt::Horizontal).toString();
        const int width = lv->header()->sectionSize(c);
        const int given = lv->model()->headerData(c, Qt::Horizontal, TListModel::WidthRole).toInt();
        const int needed = TListView::CaptionWidth(lv->header(), caption);
        out << caption + "/" + QString::number(width == qMax(given, needed) ? given : width);
    }
    return out;
}

// The texts of a column in the order the list shows them.
QStringList shown(const TListView* lv, int column) {
    QStringList out;
    for (int i = 0; i < lv->model()->rowCount(); ++i)
        out << lv->model()->index(i, column).data().toString();
    return out;
}

void clickRow(TListView* lv, int shownRow) {
    const QRect rect = lv->visualRect(lv->model()->index(shownRow, 0));
    QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, rect.center());
}

void clickHeader(TListView* lv, int column) {
    QHeaderView* header = lv->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

TQueueItem queueJob(const QString& srcFile, const QString& size) {
    TQueueItem job;
    Queue()->EmptyItem(job);
    Put(job, qkSrcFile, srcFile);
    Put(job, qkSize, size);
    Put(job, qkUser, "BOB");
    Queue()->AddItem();
    Queue()->SetItem(Queue()->Count() - 1, &job);
    Queue()->Save();
    return *Queue()->GetItem(Queue()->Count() - 1);
}

const QStringList ServerQueueColumns{"File #/60",           "File name/150", "Size/65",
                                     "Method/60",           "User name/70",  "Submitted/130",
                                     "Destination Path/100"};
const QStringList ServerLogColumns{"File #/60",     "Done/60",       "Result/100",
                                   "File name/150", "Method/60",     "Destination Path/150",
                                   "Submitted/130", "Processed/130", "User Name/90"};
const QStringList ClientQueueColumns{"File #/60",       "File name/150",  "Size/65",
                                     "Method/60",       "User name/70",   "Submitted/130",
                                     "Comm Device/150", "Parameters/100", "Destination Path/100"};
const QStringList ClientLogColumns{
    "File #/60",     "Done/40",      "Result/100",           "File name/150",
    "Attempt/40",    "Method/60",    "Destination Path/150", "Submitted/130",
    "Processed/130", "User Name/90", "Comm Device/150",      "Parameters/100"};
} // namespace

class TestConsoleViews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverControls();
    void clientControls();
    void queuedJobAppears();
    void selectionKeptOnRefresh();
    void deleteKey();
    void buttonsFollowStartStop();
    void logExport();
    void logSortedByHeader();
    void clientSession();
    void serverOperations();
    void contextMenu();
};

void TestConsoleViews::serverControls() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    // A desktop whose lists grey their selection out while they have no focus.
    const QPalette desktop = QApplication::palette();
    QPalette greying = desktop;
    greying.setColor(QPalette::Inactive, QPalette::Highlight, Qt::lightGray);
    QApplication::setPalette(greying);
    TfraServerView view(server);
    QApplication::setPalette(desktop);
    QCOMPARE(view.objectName(), QString("fraServer1"));
    QCOMPARE(view.size(), QSize(477, 459));
    QCOMPARE(pages(view), QStringList({"TabSheet1=Communication", "tabQueue=Pending files",
                                       "tabLog=Results Log"}));
    QCOMPARE(child<QTabWidget>(view, "pg")->currentIndex(), 0);
    QCOMPARE(columns(view, "lvOper"),
             QStringList({"Device/180", "User/80", "Operation/80", "File/150"}));
    QCOMPARE(columns(view, "lvQueue"), ServerQueueColumns);
    QCOMPARE(columns(view, "lsvLog"), ServerLogColumns);
    QWidget* first = child<QWidget>(view, "TabSheet1");
    QVERIFY(first->isAncestorOf(child<QWidget>(view, "lvOper")));
    QVERIFY(first->isAncestorOf(child<QWidget>(view, "mmDetail")));
    QVERIFY(child<QPlainTextEdit>(view, "mmDetail")->isReadOnly());
    QCOMPARE(child<TListView>(view, "lvOper")->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(child<TListView>(view, "lvOper")->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view.contextMenu()->objectName(), QString("popHstQuit"));
    // The log's selection keeps its colours when the list loses the focus; the queue's greys.
    for (const char* list : {"lsvLog", "lvQueue"}) {
        const QPalette colours = child<TListView>(view, list)->palette();
        QCOMPARE(colours.color(QPalette::Inactive, QPalette::Highlight) ==
                     colours.color(QPalette::Active, QPalette::Highlight),
                 QByteArray(list) == "lsvLog");
    }
}

void TestConsoleViews::clientControls() {
    ConsoleWorld w(1);
    TfraClient client(w.services());
    TfraClientView view(client);
    QCOMPARE(view.objectName(), QString("fraClient1"));
    QCOMPARE(pages(view), QStringList({"tabComm=Communications", "tabQueue=Pending files",
                                       "tabLog=Results Log"}));
    QCOMPARE(columns(view, "lvQueue"), ClientQueueColumns);
    QCOMPARE(columns(view, "lsvLog"), ClientLogColumns);
    // "Attempt" is wider than its model's 40: at 40 it read "Attem".
    const QHeaderView* logHeader = child<TListView>(view, "lsvLog")->header();
    QVERIFY(logHeader->sectionSize(4) > logHeader->fontMetrics().horizontalAdvance("Attempt") + 4);

    // The session fields, each labelled, in their order.
    const QGroupBox* session = child<QGroupBox>(view, "GroupBox1");
    QCOMPARE(session->title(), QString(" Session: "));
    auto* grid = qobject_cast<QGridLayout*>(session->layout());
    QStringList fields;
    for (int row = 0; row < grid->rowCount(); ++row) {
        auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
        fields << label->text() + "=" + label->buddy()->objectName();
    }
    QCOMPARE(fields, QStringList({"Status:=edStat", "Attempt:=edAttempt", "Server:=edHost",
                                  "File #:=edJob", "File name:=edFile", "Progress:=prb"}));
    QCOMPARE(child<QLineEdit>(view, "edStat")->text(), QString("Client service stopped."));
    QVERIFY(child<QLineEdit>(view, "edFile")->isReadOnly());
    QCOMPARE(child<QProgressBar>(view, "prb")->maximum(), 100);
    QCOMPARE(child<QProgressBar>(view, "prb")->value(), 0);

    // The parts both views share, seen once here.
    const QStringList captions{
        "btStart=&Start",       "btOpt=&Configuration", "btPass=Password...",
        "btJobAdd=Add...",      "btJobDel=Delete",      "btDelAll=Delete All",
        "btLogClear=Clear Log", "btLogExp=Export...",   "btLogPrint=Print"};
    for (const QString& caption : captions) {
        const QStringList parts = caption.split('=');
        QCOMPARE(button(view, qPrintable(parts[0]))->text(), parts[1]);
    }
    QVERIFY(button(view, "btLogPrint")->isHidden());
    QCOMPARE(child<QWidget>(view, "tabQueue")->findChild<QGroupBox*>()->title(),
             QString(" Queue: "));
    QCOMPARE(child<QWidget>(view, "tabLog")->findChild<QGroupBox*>()->title(), QString(" Log: "));
    QVERIFY(child<QLineEdit>(view, "edTotJobs")->isReadOnly());
    QStringList menu;
    for (QAction* action : view.contextMenu()->actions())
        menu << (action->isSeparator() ? "-" : action->objectName() + "=" + action->text());
    QCOMPARE(menu, QStringList({"Alwaysontop1=&Always on top", "-", "Quit1=&Exit"}));
    QVERIFY(view.contextMenu()->actions()[0]->isCheckable());
    QCOMPARE(view.contextMenu()->objectName(), QString("popRemQuit"));

    QSignalSpy options(&view, &TConsoleView::optionsRequested);
    QSignalSpy password(&view, &TConsoleView::passwordRequested);
    button(view, "btOpt")->click();
    button(view, "btPass")->click();
    QCOMPARE(options.count(), 1);
    QCOMPARE(password.count(), 1);
}

void TestConsoleViews::queuedJobAppears() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        w.addUser("BOB", "pw");
        TfraClient client(w.services());
        TfraServer server(w.services());
        TfraClientView clientView(client);
        TfraServerView serverView(server);
        TConsoleView& view = role == 1 ? static_cast<TConsoleView&>(clientView) : serverView;
        const QString file = w.file("OUTBOX/a.txt", "abc");
        if (role == 1) {
            ConsoleWorld::pend({file, "bob", "pw", "server"});
            client.ProcessClientParams();
        } else {
            ConsoleWorld::pend({file, "bob"});
            server.ProcessHostParams();
        }
        QCOMPARE(Queue()->Count(), 1);
        const TListView* lv = view.queueList();
        QCOMPARE(shown(lv, 0), QStringList{Queue()->GetSetting(0, qkNo)});
        QCOMPARE(shown(lv, 2), QStringList{"3"});
        QCOMPARE(shown(lv, 4), QStringList{"BOB"});
        QCOMPARE(child<QLineEdit>(view, "edTotJobs")->text(), QString("1"));
        // A queued job is selected.
        QCOMPARE(lv->selectedSourceRow(), 0);
    }
}

void TestConsoleViews::selectionKeptOnRefresh() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    const TQueueItem a = queueJob("a.txt", "9");
    const TQueueItem b = queueJob("b.txt", "100");
    queueJob("c.txt", "25");
    server.UpdateQueueList();
    TfraServerView view(server);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    child<QTabWidget>(view, "pg")->setCurrentIndex(1);
    TListView* lv = view.queueList();

    // Sorted by size, by value: up, then down.
    clickHeader(lv, 2);
    QCOMPARE(shown(lv, 2), QStringList({"9", "25", "100"}));
    clickHeader(lv, 2);
    QCOMPARE(shown(lv, 2), QStringList({"100", "25", "9"}));

    // The operator picks b (shown first, the console's second row).
    clickRow(lv, 0);
    QCOMPARE(server.queueSelection(), 1);
    // a leaves the queue: b stays selected, in the view and in the console.
    server.LogFileEvent(a, false, "Transfer successful.", true);
    QCOMPARE(shown(lv, 1), QStringList({"b.txt", "c.txt"}));
    QCOMPARE(lv->selectedSourceRow(), 0);
    QCOMPARE(server.queueSelection(), 0);
    QCOMPARE(server.queueRows()[0].value(0), Get(b, qkNo));
    queueJob("d.txt", "1000");
    server.UpdateQueueList();
    QCOMPARE(shown(lv, 1), QStringList({"d.txt", "b.txt", "c.txt"}));
    QCOMPARE(lv->selectionModel()->selectedRows()[0].data().toString(), Get(b, qkNo));
    QCOMPARE(server.queueSelection(), 0);
    // The selected job leaving selects none.
    server.LogFileEvent(b, true, "Refused.", false);
    QVERIFY(lv->selectionModel()->selectedRows().isEmpty());
    QCOMPARE(server.queueSelection(), -1);
    // Another header, clicked for the first time, sorts upwards again.
    clickHeader(lv, 1);
    QCOMPARE(shown(lv, 1), QStringList({"c.txt", "d.txt"}));
}

void TestConsoleViews::deleteKey() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    const TQueueItem a = queueJob("a.txt", "1");
    const TQueueItem b = queueJob("b.txt", "2");
    server.UpdateQueueList();
    TfraServerView view(server);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    child<QTabWidget>(view, "pg")->setCurrentIndex(1);
    TListView* lv = view.queueList();
    lv->sortByColumn(0, Qt::DescendingOrder);
    clickRow(lv, 0); // b

    w.prompt.answers << TBoxResult::No;
    QTest::keyClick(lv, Qt::Key_Delete);
    QCOMPARE(w.prompt.texts(), QStringList{"Are you sure you want to delete file # " +
                                           Get(b, qkNo) + " from the queue?"});
    QCOMPARE(Queue()->Count(), 2);
    w.prompt.answers << TBoxResult::Yes;
    QTest::keyClick(lv, Qt::Key_Delete);
    QCOMPARE(Queue()->Count(), 1);
    QCOMPARE(Queue()->GetSetting(0, qkNo), Get(a, qkNo));
    QCOMPARE(shown(lv, 1), QStringList{"a.txt"});
    QCOMPARE(child<QLineEdit>(view, "edTotJobs")->text(), QString("1"));
    // Nothing selected: the key asks nothing.
    QTest::keyClick(lv, Qt::Key_Delete);
    QCOMPARE(w.prompt.boxes.size(), 2);
}

void TestConsoleViews::buttonsFollowStartStop() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        useIdleEngines();
        w.addDevice("Direct", "Cable", "{D}", true);
        w.home.settings().PutStr(CLI_ActiveDevice, "{D}");
        TfraClient client(w.services());
        TfraServer server(w.services());
        TfraClientView clientView(client);
        TfraServerView serverView(server);
        const TConsoleView& view = role == 1 ? static_cast<TConsoleView&>(clientView) : serverView;
        auto state = [&]() {
            QString out = button(view, "btStart")->text();
            for (const char* name : {"btStart", "btOpt", "btJobAdd", "btJobDel", "btDelAll"})
                out += button(view, name)->isEnabled() ? " +" : " -";
            return out;
        };
        QCOMPARE(state(), QString("&Start + + + + +"));
        button(view, "btStart")->click();
        QCOMPARE(Devices()->EngineCount(), 1);
        QCOMPARE(state(), QString("&Stop + - + - -"));
        button(view, "btStart")->click();
        QCOMPARE(Devices()->EngineCount(), 0);
        QCOMPARE(state(), QString("&Start + + + + +"));
    }
}

void TestConsoleViews::logExport() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        TfraClient client(w.services());
        TfraServer server(w.services());
        TfraClientView clientView(client);
        TfraServerView serverView(server);
        const TConsoleView& view = role == 1 ? static_cast<TConsoleView&>(clientView) : serverView;
        TLogRecord record;
        record.JobNo = 7;
        record.FileName = "f.txt";
        QVERIFY(Log()->LogEntry(record));
        (role == 1 ? static_cast<TConsoleBase&>(client) : server).ShowLogEntry(record);
        QCOMPARE(shown(view.logList(), 3), QStringList{"f.txt"});

        const QByteArray logBytes = ReadFile(Log()->FileName);
        w.prompt.fileAnswers << Log()->FileName;
        button(view, "btLogExp")->click();
        QCOMPARE(w.prompt.texts(), QStringList{"Default log file cannot be overwritten!"});
        QCOMPARE(ReadFile(Log()->FileName), logBytes);
    }
}

void TestConsoleViews::logSortedByHeader() {
    ConsoleWorld w(2);
    TfraServer server(w.services());
    auto logFile = [&](const QString& name) {
        TLogRecord record;
        record.JobNo = int(Log()->Count()) + 1;
        record.FileName = name;
        QVERIFY(Log()->LogEntry(record));
        server.ShowLogEntry(record);
    };
    for (const char* name : {"b.txt", "C.txt", "a.txt"})
        logFile(name);
    server.UpdateLogList();
    TfraServerView view(server);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    child<QTabWidget>(view, "pg")->setCurrentIndex(2);
    TListView* lv = view.logList();
    QVERIFY(!lv->proxy()); // the log's model sorts itself
    QCOMPARE(shown(lv, 3), QStringList({"b.txt", "C.txt", "a.txt"}));

    // By file name, without regard to case; the selection stays on its record as the order
    // changes and as jobs are logged.
    clickHeader(lv, 3);
    QCOMPARE(shown(lv, 3), QStringList({"a.txt", "b.txt", "C.txt"}));
    clickRow(lv, 1);
    QCOMPARE(lv->selectedSourceRow(), 0);
    logFile("B.txt");
    logFile("0.txt");
    QCOMPARE(shown(lv, 3), QStringList({"0.txt", "a.txt", "b.txt", "B.txt", "C.txt"}));
    QCOMPARE(lv->selectedSourceRow(), 0);
    QCOMPARE(lv->selectionModel()->selectedRows(3)[0].data().toString(), QString("b.txt"));
    clickHeader(lv, 3);
    QCOMPARE(shown(lv, 3), QStringList({"C.txt", "b.txt", "B.txt", "a.txt", "0.txt"}));
    QCOMPARE(lv->selectionModel()->selectedRows(3)[0].data().toString(), QString("b.txt"));
    lv->selectSourceRow(2);
    QCOMPARE(lv->selectionModel()->selectedRows(3)[0].data().toString(), QString("a.txt"));
}

void TestConsoleViews::clientSession() {
    ConsoleWorld w(1);
    useIdleEngines();
    w.addDevice("Modem", "Dialer", "{D}");
    w.home.settings().PutStr(CLI_ActiveDevice, "{D}");
    TfraClient client(w.services());
    TfraClientView view(client);
    auto fields = [&]() {
        QStringList out;
        for (const char* name : {"edStat", "edAttempt", "edHost", "edJob", "edFile"})
            out << child<QLineEdit>(view, name)->text();
        const QProgressBar* prb = child<QProgressBar>(view, "prb");
        return out << QString::number(prb->value()) + " of " + QString::number(prb->maximum());
    };
    button(view, "btStart")->click();
    TRemStatusReport report = ClientTransferReport(Devices()->GetDevice(0), 150);
    client.OnDeviceStatus(report);
    QCOMPARE(fields(), QStringList({"Transfer", "2 / 5", "555", "17", "a.txt", "150 of 200"}));
    QVERIFY(view.detail()->toPlainText().endsWith(": (75%) Sending"));
    report.Total = 0;
    report.Operation = "Hanging up";
    client.OnDeviceStatus(report);
    QCOMPARE(fields()[0], QString("Hanging up"));
    QCOMPARE(fields()[5], QString("0 of 100"));

    button(view, "btStart")->click();
    QCOMPARE(fields(), QStringList({"Client service stopped.", "", "", "", "", "0 of 100"}));
    // Stopping saved the session text, which leaves it empty.
    QCOMPARE(view.detail()->toPlainText(), QString());
}

void TestConsoleViews::serverOperations() {
    ConsoleWorld w(2);
    useIdleEngines();
    w.addDevice("Direct", "Cable A", "{A}", true);
    w.addDevice("Direct", "Idle B", "{B}", false);
    w.addDevice("Modem", "Modem C", "{C}", true);
    TfraServer server(w.services());
    TfraServerView view(server);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    TListView* lv = view.operationsList();
    button(view, "btStart")->click();
    QCOMPARE(shown(lv, 0), QStringList({"Cable A", "Modem C"}));
    clickRow(lv, 1);

    THstStatusReport report = ServerTransferReport(Devices()->GetDevice(2));
    server.OnDeviceStatus(report);
    QStringList second;
    for (int c = 0; c < 4; ++c)
        second << lv->model()->index(1, c).data().toString();
    QCOMPARE(second, QStringList({"Modem C", "BOB", "Transfer 38%", "/in/a.txt"}));
    QCOMPARE(shown(lv, 2), QStringList({"", "Transfer 38%"}));
    QCOMPARE(lv->selectedSourceRow(), 1);
    QVERIFY(view.detail()->toPlainText().endsWith(": [#2]: Receiving"));

    button(view, "btStart")->click();
    QCOMPARE(lv->model()->rowCount(), 0);
}

void TestConsoleViews::contextMenu() {
    for (int role : {1, 2}) {
        ConsoleWorld w(role);
        RecordingHost host;
        const TConsoleServices services = w.ctx().ConsoleServices(&host);
        TfraClient client(services);
        TfraServer server(services);
        TfraClientView clientView(client);
        TfraServerView serverView(server);
        TConsoleView& view = role == 1 ? static_cast<TConsoleView&>(clientView) : serverView;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // Clicked on the gauge (client) or anywhere on the page (server): the page passes the
        // click on to the frame.
        QWidget* target =
            role == 1 ? child<QWidget>(view, "prb") : child<QWidget>(view, "TabSheet1");
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2),
                                target->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(target, &click);
        QMenu* menu = view.contextMenu();
        QVERIFY(menu->isVisible());
        QAction* onTop = menu->findChild<QAction*>("Alwaysontop1");
        QVERIFY(!onTop->isChecked());
        onTop->trigger();
        QVERIFY(host.onTop);
        QVERIFY(onTop->isChecked());
        menu->hide();
        menu->findChild<QAction*>("Quit1")->trigger();
        QCOMPARE(host.closes, QList<bool>{true});
    }
}

QTEST_MAIN(TestConsoleViews)
#include "console_views_test.moc"
