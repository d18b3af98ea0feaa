#pragma once
// What the views of the two consoles share: the page control with the queue and the results log,
// the buttons below it, the session text and the context menu. The view only shows the console's
// state and forwards the operator's actions to the console's handlers; the dialogs behind
// "Configuration" and "Password..." belong to the main window, which the view asks through
// signals.
#include "consoles/console_base.h"
#include "consoles/list_models.h"

#include <QPointer>
#include <QWidget>

class QAction;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class TListView;

class TConsoleView : public QWidget {
    Q_OBJECT
public:
    // The size of the client area the view fills.
    static constexpr int ViewWidth = 477;
    static constexpr int ViewHeight = 459;

    TConsoleBase* console() const { return mConsole; }
    QTabWidget* pages() const { return pg; }
    TListView* queueList() const { return lvQueue; }
    TListView* logList() const { return lsvLog; }
    QPlainTextEdit* detail() const { return mmDetail; }
    QMenu* contextMenu() const { return mMenu; }

Q_SIGNALS:
    // "Configuration" was clicked: the main window shows the options dialog.
    void optionsRequested();
    // "Password..." was clicked: the main window shows the password dialog.
    void passwordRequested();

protected:
    // Builds the queue and log pages (the role's own first page is inserted before them by the
    // role's view), the buttons and the context menu named `menuName`.
    TConsoleView(TConsoleBase& console, const QString& name, const QString& menuName,
                 QWidget* parent);
    // Puts the role's first page before the queue and the log and shows it.
    void insertFirstPage(QWidget* page, const QString& name, const QString& caption);
    // The session text of the console, read-only, following its lines.
    QPlainTextEdit* makeDetail(QWidget* parent);
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Shows the context menu at a point of the screen.
    void popUpMenu(const QPoint& globalPos);

private:
    QWidget* makeQueuePage();
    QWidget* makeLogPage();
    // Button states, the start button's caption and always-on-top, from the console.
    void followGui();
    // The job count and the selected job, from the console.
    void followQueue();
    // The operator moved the queue's selection: the console is told.
    void queueSelectionMoved();

    QPointer<TConsoleBase> mConsole;
    QTabWidget* pg = nullptr;
    TListView* lvQueue = nullptr;
    TListView* lsvLog = nullptr;
    QLineEdit* edTotJobs = nullptr;
    QPushButton* btJobAdd = nullptr;
    QPushButton* btJobDel = nullptr;
    QPushButton* btDelAll = nullptr;
    QPushButton* btStart = nullptr;
    QPushButton* btOpt = nullptr;
    QPushButton* btPass = nullptr;
    QPlainTextEdit* mmDetail = nullptr;
    QMenu* mMenu = nullptr;
    QAction* Alwaysontop1 = nullptr;
    bool mFollowing = false; // true while the view applies the console's selection
};
