#include "gui/main_window.h"

#include "consoles/console_base.h"
#include "consoles/console_services.h"
#include "consoles/server_console.h"
#include "core/settings.h"
#include "core/status.h"
#include "gui/account_dialogs.h"
#include "gui/choice_page.h"
#include "gui/device_dialog.h"
#include "gui/console_view.h"
#include "gui/login_dialog.h"
#include "gui/notification.h"
#include "gui/options_dialogs.h"
#include "platform/prompt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int ClientWidth = 477;
constexpr int ClientHeight = 459;
// A tray tooltip holds at most 63 characters.
constexpr int TrayTipLength = 63;

Qt::WindowFlags mainWindowFlags(bool onTop) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint;
    if (onTop) flags |= Qt::WindowStaysOnTopHint;
    return flags;
}
} // namespace

// Q_INIT_RESOURCE may not stand inside a namespace or a member.
static void initGuiResources() {
    Q_INIT_RESOURCE(gui);
}

void TfrmMRL::LoadResources() {
    static const bool loaded = (initGuiResources(), true);
    Q_UNUSED(loaded);
}

QIcon TfrmMRL::RoleIcon(TRole role) {
    if (role == RoleClient) return QIcon(QStringLiteral(":/icons/marrowline-client.svg"));
    if (role == RoleServer) return QIcon(QStringLiteral(":/icons/marrowline-server.svg"));
    return QIcon(QStringLiteral(":/icons/marrowline-choice.svg"));
}

QString TfrmMRL::ProjectPage() {
    // <prefix>/share/doc/marrowline/README.md next to <prefix>/bin; a build tree has it in the
    // same place.
    const QDir bin(QCoreApplication::applicationDirPath());
    return QDir::cleanPath(
        bin.absoluteFilePath(QStringLiteral("../share/doc/marrowline/README.md")));
}

TfrmMRL::TfrmMRL(IMainShell& shell, TSettings& settings, TStatusSink& status, IPrompt& prompt,
                 TViewFactory views, bool trayAllowed, QWidget* parent)
    : QWidget(parent, mainWindowFlags(true)), mShell(shell), mSettings(settings), mStatus(status),
      mPrompt(prompt),
      mViews(std::move(views)) {
    setObjectName(QStringLiteral("frmMRL"));
    LoadResources();
    setFixedSize(ClientWidth, ClientHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // A device of the options dialogs is edited in "Device Configuration", over the dialog.
    mDeviceEditor = [this](TModemsList& modems, TCommDevice& device) {
        QWidget* over = QApplication::activeModalWidget();
        return EditDevice(modems, device, mSettings, mPrompt, over ? over : this);
    };
    mPages = new QStackedWidget(this);
    mPages->setObjectName(QStringLiteral("nb"));
    layout->addWidget(mPages);
    mChoice = new TfraChoice(shell, settings.Role(), mPages);
    mPages->addWidget(mChoice);
    for (TRole role : {RoleClient, RoleServer}) {
        QWidget* view = mViews ? mViews(role, mPages) : nullptr;
        if (!view) view = new QWidget(mPages);
        mConsoleViews[role] = view;
        mPages->addWidget(view);
        // "Configuration" and "Password..." of a console open their dialogs over this window.
        if (auto* consoleView = qobject_cast<TConsoleView*>(view)) {
            connect(consoleView, &TConsoleView::optionsRequested, this, [this, consoleView]() {
                if (TConsoleBase* console = consoleView->console())
                    ShowConsoleOptions(*console, mDeviceEditor, this);
            });
            connect(consoleView, &TConsoleView::passwordRequested, this,
                    [this]() { ShowChangePassword(mSettings, mStatus, mPrompt, this); });
        }
    }

    // The maker's label, top right over the pages.
    mMaker = new QLabel(QString::fromLatin1(ApplicationTitle), this);
    mMaker->setObjectName(QStringLiteral("stCpy"));
    mMaker->setCursor(Qt::PointingHandCursor);
    mMaker->adjustSize();
    mMaker->raise();
    mMaker->installEventFilter(this);

    fitToContents();
    mNotif = new TfrmNotif(this);

    if (trayAllowed && QSystemTrayIcon::isSystemTrayAvailable()) {
        mTray = new QSystemTrayIcon(RoleIcon(RoleNone), this);
        mTray->setObjectName(QStringLiteral("TrayIcon1"));
        mTray->setToolTip(QString::fromLatin1(ApplicationTitle));
        connect(mTray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::DoubleClick) trayDoubleClick();
                });
        mTray->show();
    }

    // Esc and F1 belong to the window whatever control has the focus.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this]() { showMinimized(); });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, [this]() { mShell.ShowHelp(); });

    // The consoles' caption, tray hint and icon follow their state.
    for (TRole role : {RoleClient, RoleServer}) {
        auto* console = dynamic_cast<TConsoleBase*>(mShell.Console(role));
        if (!console) continue;
        connect(console, &TConsoleBase::guiChanged, this, [this, role]() {
            if (mShell.Page() == PageOf(role)) updateCaption();
        });
        if (auto* server = dynamic_cast<TfraServer*>(console))
            connect(server, &TfraServer::notificationRequested, this, &TfrmMRL::showNotification);
    }

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    showPage(mShell.Page());
}

void TfrmMRL::fitToContents() {
    // The consoles' tabs show whole and leave room at their right for the maker's label, which
    // stands over them.
    for (QWidget* view : {mConsoleViews[RoleClient], mConsoleViews[RoleServer]}) {
        auto* tabs = view ? view->findChild<QTabWidget*>(QStringLiteral("pg")) : nullptr;
        if (!tabs) continue;
        tabs->setUsesScrollButtons(false);
        auto* room = new QWidget(tabs);
        room->setFixedSize(mMaker->width() + 8, 1);
        tabs->setCornerWidget(room, Qt::TopRightCorner);
    }
    // ClientWidth x ClientHeight, or larger where a large font or scaling needs more, so that
    // nothing is cut.
    setFixedSize(QSize(ClientWidth, ClientHeight).expandedTo(layout()->minimumSize()));
    mMaker->move(width() - mMaker->width() - 6, 4);
}

TfrmMRL::~TfrmMRL() {
    if (mTray) mTray->hide();
}

QWidget* TfrmMRL::page(TPage page) const {
    switch (page) {
    case PageChoice:
        return mChoice;
    case PageClient:
        return mConsoleViews[RoleClient];
    case PageServer:
        return mConsoleViews[RoleServer];
    }
    return nullptr;
}

void TfrmMRL::showPage(TPage page) {
    QWidget* shown = this->page(page);
    if (!shown) return;
    mPages->setCurrentWidget(shown);
    if (page == PageChoice) mChoice->Initialize(mSettings.Role());
    updateCaption();
}

void TfrmMRL::updateCaption() {
    auto* console = dynamic_cast<TConsoleBase*>(mShell.Console(RoleOf(mShell.Page())));
    if (!console) {
        setWindowTitle(mShell.ChoiceCaption());
        if (mTray) mTray->setToolTip(mShell.ChoiceCaption().left(TrayTipLength));
        setRoleIcon(RoleNone);
        return;
    }
    if (!console->caption().isEmpty()) setWindowTitle(console->caption());
    if (mTray && !console->trayHint().isEmpty())
        mTray->setToolTip(console->trayHint().left(TrayTipLength));
    setRoleIcon(console->iconRole());
}

void TfrmMRL::setRoleIcon(TRole role) {
    const QIcon icon = RoleIcon(role);
    setWindowIcon(icon);
    if (mTray) mTray->setIcon(icon);
}

void TfrmMRL::showChoice() {
    mTrayArmed = false;
    coverConsole(false);
    showNormal();
    raise();
    activateWindow();
}

void TfrmMRL::applyOnTop(bool onTop) {
    if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == onTop) return;
    const bool visible = isVisible();
    const bool minimized = isMinimized();
    const QSize size = this->size();
    setWindowFlags(mainWindowFlags(onTop));
    setFixedSize(size);
    // Changing the flags hides the window; it comes back as it was.
    if (visible) minimized ? showMinimized() : show();
    if (visible && onTop && !minimized) raise();
}

void TfrmMRL::coverConsole(bool covered) {
    if (covered == mPages->isHidden()) return;
    if (covered) {
        mFocusBeforeCover = focusWidget();
        mPages->hide();
        return;
    }
    mPages->show();
    if (mFocusBeforeCover && isAncestorOf(mFocusBeforeCover)) mFocusBeforeCover->setFocus();
}

void TfrmMRL::minimizeToTray() {
    mTrayArmed = true;
    // The next restore asks for the password first: until it passes, the console (queue, log,
    // session text) is not shown, also not by a task bar that maps the window before asking.
    if (!mSettings.GetStr(MRL_Passw).isEmpty()) coverConsole(true);
    if (mTray) {
        hide();
    } else if (!isMinimized()) {
        showMinimized();
    }
}

bool TfrmMRL::askPassword() {
    const QString password = mSettings.GetStr(MRL_Passw);
    if (password.isEmpty()) return true;
    auto* login = new TfrmLogin(password, mPrompt);
    login->setAttribute(Qt::WA_DeleteOnClose);
    mLogin = login;
    const bool ok = login->exec() == QDialog::Accepted;
    return ok;
}

void TfrmMRL::trayDoubleClick() {
    if (!mLogin.isNull()) return;
    if (!mTrayArmed) return;
    if (!askPassword()) {
        // Without a tray the window stays on the task bar, minimised.
        if (!mTray && !isMinimized()) {
            mRestoring = true;
            showMinimized();
            mRestoring = false;
        }
        return;
    }
    mTrayArmed = false;
    restoreWindow();
}

void TfrmMRL::restoreWindow() {
    coverConsole(false);
    mRestoring = true;
    showNormal();
    raise();
    activateWindow();
    mRestoring = false;
    Q_EMIT restored();
}

void TfrmMRL::showNotification() {
    mNotif->notify();
}

void TfrmMRL::terminate() {
    mClosing = true;
    if (mLogin) mLogin->reject();
    mNotif->hide();
    close();
}

void TfrmMRL::closeEvent(QCloseEvent* event) {
    if (mClosing || mShell.Terminated()) {
        event->accept();
        return;
    }
    // The system menu or Alt+F4: only after the question.
    if (mShell.CloseApplication(true)) {
        mClosing = true;
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMRL::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || mRestoring || mClosing) return;
    auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    if (isMinimized() && !wasMinimized) {
        // Hiding from inside the state change confuses some window managers: a moment later.
        QTimer::singleShot(0, this, [this]() {
            if (isMinimized()) minimizeToTray();
        });
    } else if (!isMinimized() && wasMinimized && !mTray && mTrayArmed) {
        // Without a tray the task bar restores the window: the password guards it the same.
        QTimer::singleShot(0, this, [this]() { trayDoubleClick(); });
    }
}

bool TfrmMRL::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mMaker && event->type() == QEvent::MouseButtonRelease) {
        makerClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMRL::makerClicked() {
    QPalette palette = mMaker->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 0, 128));
    mMaker->setPalette(palette);
    const QString page = ProjectPage();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        mStatus.Add(QStringLiteral("!TfrmMRL.stCpyClick: cannot open ") + page);
}
