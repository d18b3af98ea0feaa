#pragma once
// TfrmMRL: the program's window. It shows one page at a time (0 role choice, 1 client console,
// 2 server console; the page follows the shell), lives in the notification area when minimised,
// and may ask for the access password before it comes back from there.
#include "consoles/options.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>

class IMainShell;
class IPrompt;
class TSettings;
class TStatusSink;
class TfraChoice;
#include "gui/login_dialog.h"
class TfrmNotif;
class QLabel;
class QStackedWidget;
class QSystemTrayIcon;

class TfrmMRL : public QWidget {
    Q_OBJECT
public:
    // Makes the view of a role's console page over the shell's console.
    using TViewFactory = std::function<QWidget*(TRole role, QWidget* parent)>;

    // `trayAllowed`: false keeps the window off the notification area even where one exists.
    TfrmMRL(IMainShell& shell, TSettings& settings, TStatusSink& status, IPrompt& prompt,
            TViewFactory views,
            bool trayAllowed = true, QWidget* parent = nullptr);
    ~TfrmMRL() override;

    // The shown page changed (the shell's PageChanged).
    void showPage(TPage page);
    // The role-choice page came up without a role: the window is shown normally.
    void showChoice();
    // MRL_OnTop was applied: the window's stay-on-top style follows it at once.
    void applyOnTop(bool onTop);
    // Minimises the window: into the notification area when there is one, else to the task bar.
    // Either way the next restore is guarded by the access password.
    void minimizeToTray();
    // A double click on the tray icon (or, without a tray, restoring the minimised window).
    void trayDoubleClick();
    // The notice of arrived files.
    void showNotification();
    // How the options dialogs edit a device (the device configuration dialog); without one
    // their Add and Edit buttons do nothing.
    void setDeviceEditor(TDeviceEditor editor) { mDeviceEditor = std::move(editor); }
    // The program is ending: the window closes without the question.
    void terminate();

    // For tests and the program entry.
    bool trayArmed() const { return mTrayArmed; }
    bool loginOpen() const { return !mLogin.isNull(); }
    TfrmLogin* loginWindow() const { return mLogin; }
    QSystemTrayIcon* trayIcon() const { return mTray; }
    TfraChoice* choicePage() const { return mChoice; }
    QWidget* page(TPage page) const;
    TfrmNotif* notificationWindow() const { return mNotif; }
    QLabel* makerLabel() const { return mMaker; }
    // Registers the icons that the library carries (once; the window does it itself).
    static void LoadResources();
    // The image of a role; the role choice's for RoleNone.
    static QIcon RoleIcon(TRole role);
    // Where the maker's label leads: the project's README.
    static QString ProjectPage();

Q_SIGNALS:
    // The window came back from the tray (after the password, when one is set).
    void restored();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCaption();
    // Sizes the window for its pages (ClientWidth x ClientHeight at least).
    void fitToContents();
    void setRoleIcon(TRole role);
    bool askPassword();
    void restoreWindow();
    // Hides the pages (or shows them again) while the window waits for the access password.
    void coverConsole(bool covered);
    void makerClicked();

    IMainShell& mShell;
    TSettings& mSettings;
    TStatusSink& mStatus;
    IPrompt& mPrompt;
    TViewFactory mViews;
    TDeviceEditor mDeviceEditor;
    QStackedWidget* mPages;
    TfraChoice* mChoice;
    QWidget* mConsoleViews[3] = {nullptr, nullptr, nullptr};
    QLabel* mMaker;
    QSystemTrayIcon* mTray = nullptr;
    TfrmNotif* mNotif;
    QPointer<TfrmLogin> mLogin;
    QPointer<QWidget> mFocusBeforeCover;
    bool mTrayArmed = false;
    bool mRestoring = false;
    bool mClosing = false;
};
