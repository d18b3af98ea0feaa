// The desktop window over a real shell and real consoles, on the offscreen platform: the role
// choice, the password guard of the restore, always-on-top, the close question, the keys, and
// the boxes that must not hold the caller.
#include "app/shell.h"
#include "common/test_home.h"
#include "consoles/console_base.h"
#include "gui/choice_page.h"
#include "gui/client_view.h"
#include "consoles/client_console.h"
#include "platform/instance.h"
#include "gui/desktop_prompt.h"
#include "gui/folder_picker.h"
#include "gui/login_dialog.h"
#include "gui/main_window.h"
#include "gui/notification.h"
#include "core/helpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QProcess>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTreeView>
#include <QListView>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {
// A window over its own shell, wired as the program wires it.
struct Desktop {
    TestHome& home;
    std::unique_ptr<TMainShell> shell;
    std::unique_ptr<TfrmMRL> window;

    explicit Desktop(TestHome& h, bool initialize = true) : home(h) {
        shell = std::make_unique<TMainShell>(home.takeContext());
        window = std::make_unique<TfrmMRL>(*shell, home.settings(), home.sink(), home.prompt(),
                                           TfrmMRL::TViewFactory{}, false);
        QObject::connect(shell.get(), &TMainShell::PageChanged, window.get(), &TfrmMRL::showPage);
        QObject::connect(shell.get(), &TMainShell::ChoiceShown, window.get(),
                         &TfrmMRL::showChoice);
        QObject::connect(shell.get(), &TMainShell::OnTopChanged, window.get(),
                         &TfrmMRL::applyOnTop);
        QObject::connect(shell.get(), &TMainShell::TerminateRequested, window.get(),
                         &TfrmMRL::terminate);
        window->minimizeToTray();
        if (initialize) shell->Initialize();
    }
    ~Desktop() {
        window.reset();
        if (shell) shell->Shutdown();
    }
    template <typename T> T* child(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
};

// Runs `action` once the event loop is running inside a modal window.
void whenModal(std::function<void()> action) {
    QTimer::singleShot(50, [action]() { action(); });
}

// A radio button takes clicks on its indicator and text only.
void clickRadio(QRadioButton* button) {
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

QByteArray iniText(TestHome& home) {
    return ReadFile(home.file("marrowline.ini"));
}
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { TfrmMRL::LoadResources(); }
    void firstStartShowsTheChoice();
    void choosingServerSavesTheRoleAndShowsItsConsole();
    void closeButtonOfTheChoiceEndsWithoutAsking();
    void restoreWithoutPassword();
    void restoreGuardedByPassword();
    void alwaysOnTopAppliedAtOnceAndSaved();
    void closeQuestion();
    void escMinimisesAndF1ShowsHelp();
    void makerLabelTurnsPurple();
    void tellingBoxesDoNotWait();
    void sendFileOffersEveryFile();
    void notificationBeeps();
    void folderPickerFollowsTheTree();
    void secondStartQueuesIntoTheShownList();
    void taskBarRestoreAsksForThePassword();
};

void MainWindowTest::firstStartShowsTheChoice() {
    TestHome home;
    Desktop desk(home);
    QCOMPARE(desk.shell->Page(), PageChoice);
    QCOMPARE(desk.window->windowTitle(), QStringLiteral("Marrowline 1.00"));
    QVERIFY(desk.window->isVisible());
    QVERIFY(!desk.window->isMinimized());
    QCOMPARE(desk.window->size(), QSize(477, 459));
    QVERIFY(!(desk.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    auto* mm = desk.child<QPlainTextEdit>("mm");
    QVERIFY(mm);
    QVERIFY(mm->toPlainText().isEmpty());

    // OK without a selection does nothing.
    QTest::mouseClick(desk.child<QPushButton>("btOk"), Qt::LeftButton);
    QCOMPARE(desk.shell->Page(), PageChoice);
    QCOMPARE(home.settings().Role(), 0);

    // The descriptions follow the selection.
    clickRadio(desk.child<QRadioButton>("rbClient"));
    QCOMPARE(mm->toPlainText(),
             QStringLiteral("Marrowline initiates the communication with servers.\n\nThe client "
                            "handles file transfers to and from server locations."));
    clickRadio(desk.child<QRadioButton>("rbServer"));
    QCOMPARE(mm->toPlainText(),
             QStringLiteral("Marrowline responds to communication requests initiated by "
                            "clients.\n\nThe server receives and sends files as requested by "
                            "clients."));
    QVERIFY(!desk.child<QRadioButton>("rbClient")->isChecked());
}

void MainWindowTest::choosingServerSavesTheRoleAndShowsItsConsole() {
    TestHome home;
    Desktop desk(home);
    clickRadio(desk.child<QRadioButton>("rbServer"));
    QTest::mouseClick(desk.child<QPushButton>("btOk"), Qt::LeftButton);
    QCOMPARE(desk.shell->Page(), PageServer);
    QCOMPARE(desk.child<QStackedWidget>("nb")->currentIndex(), 2);
    QVERIFY(iniText(home).contains("MRL_Function=2"));
    QCOMPARE(desk.window->windowTitle(), QStringLiteral("Marrowline 1.00 - SERVER"));

    // A later start with the role set shows its page and selects its item on the choice page.
    desk.window.reset();
    desk.shell->Shutdown();
    desk.shell.reset();
    TestHome second(2);
    Desktop again(second);
    QCOMPARE(again.shell->Page(), PageServer);
    QCOMPARE(again.window->windowTitle(), QStringLiteral("Marrowline 1.00 - SERVER"));
    // It starts in the tray (minimised here: offscreen has no tray).
    QVERIFY(!again.window->isVisible() || again.window->isMinimized());
    QVERIFY(again.window->choicePage()->selectedRole() == RoleServer);
}

void MainWindowTest::closeButtonOfTheChoiceEndsWithoutAsking() {
    TestHome home;
    Desktop desk(home);
    QSignalSpy terminate(desk.shell.get(), &TMainShell::TerminateRequested);
    QTest::mouseClick(desk.child<QPushButton>("btClose"), Qt::LeftButton);
    QCOMPARE(terminate.count(), 1);
    QVERIFY(home.prompt().boxes.isEmpty());
    QVERIFY(!desk.window->isVisible());
}

void MainWindowTest::restoreWithoutPassword() {
    TestHome home(1);
    Desktop desk(home);
    QVERIFY(desk.window->trayArmed());
    QSignalSpy restored(desk.window.get(), &TfrmMRL::restored);
    desk.window->trayDoubleClick();
    QCOMPARE(restored.count(), 1);
    QVERIFY(desk.window->isVisible() && !desk.window->isMinimized());
    QVERIFY(!desk.window->loginOpen());
    // Disarmed until the next minimise.
    QVERIFY(!desk.window->trayArmed());
    desk.window->trayDoubleClick();
    QCOMPARE(restored.count(), 1);
    desk.window->minimizeToTray();
    QVERIFY(desk.window->trayArmed());
    desk.window->trayDoubleClick();
    QCOMPARE(restored.count(), 2);
}

void MainWindowTest::restoreGuardedByPassword() {
    TestHome home(1);
    home.settings().PutStr(MRL_Passw, ScramblePassword(QStringLiteral("s3cret")));
    Desktop desk(home);
    QSignalSpy restored(desk.window.get(), &TfrmMRL::restored);

    // Cancel: stays in the tray, still armed.
    bool secondIgnored = false;
    whenModal([&]() {
        QVERIFY(desk.window->loginOpen());
        TfrmLogin* login = desk.window->loginWindow();
        QCOMPARE(login->windowTitle(), QStringLiteral("Marrowline Security"));
        QVERIFY(login->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(login->passwordEdit()->echoMode(), QLineEdit::Password);
        // A second double click while the login window is open is ignored.
        desk.window->trayDoubleClick();
        secondIgnored = desk.window->loginOpen() && restored.isEmpty();
        QTest::mouseClick(login->findChild<QPushButton*>("btCancel"), Qt::LeftButton);
    });
    desk.window->trayDoubleClick();
    QVERIFY(secondIgnored);
    QCOMPARE(restored.count(), 0);
    QVERIFY(desk.window->trayArmed());
    QTRY_VERIFY(!desk.window->loginOpen());

    // A wrong password: the box, and still in the tray.
    whenModal([&]() {
        TfrmLogin* login = desk.window->loginWindow();
        QTest::keyClicks(login->passwordEdit(), QStringLiteral("wrong"));
        QTest::mouseClick(login->findChild<QPushButton*>("btOk"), Qt::LeftButton);
    });
    desk.window->trayDoubleClick();
    QCOMPARE(restored.count(), 0);
    QCOMPARE(home.prompt().boxes.size(), 1);
    QCOMPARE(home.prompt().boxes[0].text, QStringLiteral("Wrong password!"));
    QCOMPARE(home.prompt().boxes[0].caption, QStringLiteral("Marrowline"));
    QVERIFY(home.prompt().boxes[0].icon == TBoxIcon::Error);

    // The right one restores.
    whenModal([&]() {
        TfrmLogin* login = desk.window->loginWindow();
        QTest::keyClicks(login->passwordEdit(), QStringLiteral("s3cret"));
        QTest::keyClick(login->passwordEdit(), Qt::Key_Return);
    });
    desk.window->trayDoubleClick();
    QCOMPARE(restored.count(), 1);
    QVERIFY(desk.window->isVisible() && !desk.window->isMinimized());
    QVERIFY(!desk.window->trayArmed());
}

void MainWindowTest::alwaysOnTopAppliedAtOnceAndSaved() {
    TestHome home(1);
    Desktop desk(home);
    desk.window->trayDoubleClick();
    // The default is on top; the console applied it when it was shown.
    QVERIFY(desk.window->windowFlags() & Qt::WindowStaysOnTopHint);
    auto* console = dynamic_cast<TConsoleBase*>(desk.shell->Console(RoleClient));
    QVERIFY(console);
    console->Alwaysontop1Click();
    QVERIFY(!(desk.window->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(!console->alwaysOnTop());
    QVERIFY(desk.window->isVisible());
    // In memory until the settings are saved, at the latest at shutdown.
    QVERIFY(!iniText(home).contains("MRL_OnTop=0"));
    desk.window.reset();
    desk.shell->Shutdown();
    QVERIFY2(iniText(home).contains("MRL_OnTop=0"), iniText(home).constData());
}

void MainWindowTest::closeQuestion() {
    TestHome home(1);
    Desktop desk(home);
    desk.window->trayDoubleClick();
    home.prompt().answers = {TBoxResult::Cancel};
    desk.window->close();
    QVERIFY(desk.window->isVisible());
    QVERIFY(!desk.shell->Terminated());
    QCOMPARE(home.prompt().boxes.last().text,
             QStringLiteral("Are you sure you want to close Marrowline?"));
    home.prompt().answers = {TBoxResult::Ok};
    desk.window->close();
    QVERIFY(desk.shell->Terminated());
    QVERIFY(!desk.window->isVisible());
}

void MainWindowTest::escMinimisesAndF1ShowsHelp() {
    TestHome home(2);
    Desktop desk(home);
    desk.window->trayDoubleClick();
    QVERIFY(!desk.window->trayArmed());
    desk.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(desk.window.get()));
    QTest::keyClick(desk.window.get(), Qt::Key_F1);
    QCOMPARE(home.prompt().boxes.size(), 1);
    QCOMPARE(home.prompt().boxes[0].caption,
             QStringLiteral("Marrowline 1.00 Command Line Arguments"));
    QTest::keyClick(desk.window.get(), Qt::Key_Escape);
    QTRY_VERIFY(desk.window->isMinimized() || !desk.window->isVisible());
    QTRY_VERIFY(desk.window->trayArmed());
}

void MainWindowTest::makerLabelTurnsPurple() {
    TestHome home(1);
    Desktop desk(home);
    QLabel* maker = desk.window->makerLabel();
    QCOMPARE(maker->text(), QStringLiteral("Marrowline"));
    QCOMPARE(maker->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(TfrmMRL::ProjectPage().endsWith("README.md"));
    QVERIFY(QFileInfo(TfrmMRL::ProjectPage()).isFile());
}

void MainWindowTest::tellingBoxesDoNotWait() {
    // A box with only OK returns at once, the box still open; nothing runs a nested loop.
    QWidget owner;
    owner.show();
    TDesktopPrompt prompt([&owner]() { return &owner; });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks]() { ++ticks; });
    timer.start(1);
    QCOMPARE(prompt.MessageBox(QStringLiteral("Line one\r\nline two"), QString(),
                               TBoxIcon::Error, TBoxButtons::Ok),
             TBoxResult::Ok);
    QCOMPARE(ticks, 0);
    QMessageBox* box = owner.findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("Line one\nline two"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Marrowline"));
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    box->accept();
    QTRY_VERIFY(owner.findChild<QMessageBox*>() == nullptr);

    // A question waits for its answer.
    QTimer::singleShot(50, [&owner]() {
        QMessageBox* question = owner.findChild<QMessageBox*>();
        QVERIFY(question);
        question->button(QMessageBox::No)->click();
    });
    QCOMPARE(prompt.MessageBox(QStringLiteral("Sure?"), QStringLiteral("Q"), TBoxIcon::Warning,
                               TBoxButtons::YesNo),
             TBoxResult::No);
    // Over an open dialog the box belongs to the dialog, so the dialog's buttons wait too.
    QDialog dialog(&owner);
    QTimer::singleShot(0, [&]() {
        prompt.MessageBox(QStringLiteral("Inside"), QString(), TBoxIcon::Error, TBoxButtons::Ok);
        QMessageBox* inner = dialog.findChild<QMessageBox*>();
        QVERIFY(inner);
        QCOMPARE(inner->windowModality(), Qt::WindowModal);
        inner->accept();
        dialog.reject();
    });
    dialog.exec();

    // A box raised as its dialog ends ("Wrong password!" as the login closes) outlives it.
    QPointer<QMessageBox> survivor;
    {
        QDialog login(&owner);
        QTimer::singleShot(0, [&]() {
            prompt.MessageBox(QStringLiteral("Wrong password!"), QString(), TBoxIcon::Error,
                              TBoxButtons::Ok);
            survivor = login.findChild<QMessageBox*>();
            login.reject();
        });
        login.exec();
    }
    QVERIFY(survivor);
    QVERIFY(survivor->isVisible());
    QCOMPARE(survivor->parentWidget(), &owner);
    survivor->accept();
    QCOMPARE(TDesktopPrompt::QtFilter(QStringLiteral("Text files (*.txt)|*.txt")),
             QStringLiteral("Text files (*.txt) (*.txt)"));
}

void MainWindowTest::sendFileOffersEveryFile() {
    // "All files (*.*)" of "Send file": a name without a dot is a file too.
    QTemporaryDir outbox;
    QVERIFY(WriteFile(outbox.filePath("README"), "no dot"));
    QVERIFY(WriteFile(outbox.filePath("plan.pdf"), "dot"));
    QWidget owner;
    owner.show();
    TDesktopPrompt prompt([&owner]() { return &owner; });
    QString shownFilter;
    QStringList listed;
    whenModal([&]() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        shownFilter = dialog->findChild<QComboBox*>("fileTypeCombo")->currentText();
        auto* files = dialog->findChild<QListView*>("listView");
        // The folder is read in the background; both files, or one when the filter hides one.
        (void)QTest::qWaitFor(
            [&]() { return files->model()->rowCount(files->rootIndex()) == 2; }, 3000);
        for (int r = 0; r < files->model()->rowCount(files->rootIndex()); ++r)
            listed << files->model()->index(r, 0, files->rootIndex()).data().toString();
        // Typed as the operator would: selectFile() leaves a focused name field empty.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        name->clear();
        QTest::keyClicks(name, "README");
        QMetaObject::invokeMethod(dialog, "accept");
        // A dialog that does not take the file goes, so that the test goes on.
        if (dialog->isVisible()) dialog->reject();
    });
    const QString chosen =
        prompt.OpenFile("Send file", "All files (*.*)|*.*", outbox.path());
    QCOMPARE(shownFilter, QStringLiteral("All files (*.*)"));
    listed.sort();
    QCOMPARE(listed, QStringList({"README", "plan.pdf"}));
    QCOMPARE(chosen, outbox.filePath("README"));
}

void MainWindowTest::notificationBeeps() {
    TfrmNotif notif;
    QCOMPARE(notif.windowTitle().isEmpty(), false);
    QVERIFY(notif.windowFlags() & Qt::WindowStaysOnTopHint);
    notif.notify();
    QVERIFY(notif.isVisible());
    QCOMPARE(notif.beeps(), 2);
    QTest::mouseClick(notif.findChild<QPushButton*>("btOk"), Qt::LeftButton);
    QVERIFY(!notif.isVisible());
    notif.notify();
    QVERIFY(notif.isVisible());
    QCOMPARE(notif.beeps(), 4);
}

void MainWindowTest::folderPickerFollowsTheTree() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("a/b"));
    TfrmSelFold picker;
    QCOMPARE(picker.windowTitle(), QStringLiteral("Select Folder"));
    picker.setFolder(dir.path() + "/a/b");
    QCOMPARE(picker.folder(), QDir::cleanPath(dir.path() + "/a/b"));
    QCOMPARE(picker.findChild<QLabel*>("lbdir")->toolTip(), picker.folder());
    // The tree opens on the folder, selected and in view, not on "/".
    picker.show();
    auto* tree = picker.findChild<QTreeView*>("dir");
    QTRY_COMPARE(tree->currentIndex().data(QFileSystemModel::FilePathRole).toString(),
                 picker.folder());
    QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()).center()));
    // A folder that does not exist keeps the current one.
    picker.setFolder(dir.path() + "/missing");
    QCOMPARE(picker.folder(), QDir::cleanPath(dir.path() + "/a/b"));
    QVERIFY(picker.findChild<QComboBox*>("drv")->count() >= 1);
}

void MainWindowTest::secondStartQueuesIntoTheShownList() {
    // The running instance is this test: it holds the lock and receives the hand-over of a real
    // second start, whose job must show in the client's queue view without a restart.
    TestHome home(1);
    QVERIFY(WriteFile(home.file("OUTBOX/report.txt"), "twelve bytes"));
    TInstanceLock lock;
    QCOMPARE(lock.Acquire(home.settings().AppDir()), TInstanceLock::Acquired);
    auto shell = std::make_unique<TMainShell>(home.takeContext());
    auto views = [&shell](TRole role, QWidget* parent) -> QWidget* {
        if (auto* client = dynamic_cast<TfraClient*>(shell->Console(role)))
            return new TfraClientView(*client, parent);
        return nullptr;
    };
    TfrmMRL window(*shell, home.settings(), home.sink(), home.prompt(), views, false);
    QObject::connect(shell.get(), &TMainShell::PageChanged, &window, &TfrmMRL::showPage);
    QString error;
    QVERIFY2(shell->StartHandOverReceiver(&error), qPrintable(error));
    shell->Initialize();
    auto* queue = window.page(PageClient)->findChild<QAbstractItemView*>("lvQueue");
    QVERIFY(queue);
    QCOMPARE(queue->model()->rowCount(), 0);

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MARROWLINE_HOME", home.path());
    env.insert("MARROWLINE_HEADLESS", "1");
    second.setProcessEnvironment(env);
    second.start(QString::fromLocal8Bit(qgetenv("MARROWLINE_BIN")),
                 {home.file("OUTBOX/report.txt"), "alice", "secret", "5551234"});
    QVERIFY(second.waitForFinished(20000));
    QTRY_COMPARE_WITH_TIMEOUT(queue->model()->rowCount(), 1, 10000);
    QCOMPARE(queue->model()->index(0, 1).data().toString(), QStringLiteral("report.txt"));
    QCOMPARE(queue->model()->index(0, 2).data().toString(), QStringLiteral("12"));
    QCOMPARE(window.page(PageClient)->findChild<QLineEdit*>("edTotJobs")->text(),
             QStringLiteral("1"));
    shell->Shutdown();
}

void MainWindowTest::taskBarRestoreAsksForThePassword() {
    // Without a tray (offscreen has none) the window minimises to the task bar; restoring it
    // from there is guarded as the tray's double click is.
    TestHome home(1);
    home.settings().PutStr(MRL_Passw, ScramblePassword(QStringLiteral("pw12")));
    Desktop desk(home);
    QVERIFY(desk.window->trayIcon() == nullptr);
    QVERIFY(desk.window->trayArmed());
    bool asked = false;
    bool consoleShown = true;
    whenModal([&]() {
        asked = desk.window->loginOpen();
        // The window is up again behind the login: nothing of the console shows in it.
        consoleShown = desk.window->isVisible() && desk.window->page(PageClient)->isVisible();
        if (asked)
            QTest::mouseClick(desk.window->loginWindow()->findChild<QPushButton*>("btCancel"),
                              Qt::LeftButton);
    });
    desk.window->showNormal(); // what the task bar does
    QTRY_VERIFY(asked);
    QVERIFY(!consoleShown);
    QTRY_VERIFY(desk.window->isMinimized());
    QVERIFY(desk.window->trayArmed());

    // The right password shows the console.
    whenModal([&]() {
        if (!desk.window->loginOpen()) return;
        QTest::keyClicks(desk.window->loginWindow()->passwordEdit(), "pw12");
        QTest::keyClick(desk.window->loginWindow()->passwordEdit(), Qt::Key_Return);
    });
    desk.window->showNormal();
    QTRY_VERIFY(!desk.window->trayArmed());
    QVERIFY(desk.window->page(PageClient)->isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
