#include "gui/console_view.h"

#include "gui/list_view.h"
#include "gui/widget_helpers.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
// A group box with the list above a row of buttons.
QWidget* listPage(const QString& name, const QString& groupCaption, TListView* list,
                  QHBoxLayout* buttons) {
    auto* page = new QWidget;
    page->setObjectName(name);
    auto* group = new QGroupBox(groupCaption, page);
    auto* inGroup = new QVBoxLayout(group);
    list->setParent(group);
    inGroup->addWidget(list, 1);
    inGroup->addLayout(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    return page;
}
} // namespace

TConsoleView::TConsoleView(TConsoleBase& console, const QString& name, const QString& menuName,
                           QWidget* parent)
    : QWidget(parent), mConsole(&console) {
    setObjectName(name);
    resize(ViewWidth, ViewHeight);

    pg = new QTabWidget(this);
    pg->setObjectName(QStringLiteral("pg"));
    pg->addTab(makeQueuePage(), QStringLiteral("Pending files"));
    pg->addTab(makeLogPage(), QStringLiteral("Results Log"));

    btStart = NamedButton(QStringLiteral("btStart"), console.startCaption(), this);
    btOpt = NamedButton(QStringLiteral("btOpt"), QStringLiteral("&Configuration"), this);
    btPass = NamedButton(QStringLiteral("btPass"), QStringLiteral("Password..."), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btStart);
    buttons->addWidget(btOpt);
    buttons->addWidget(btPass);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pg, 1);
    layout->addLayout(buttons);

    mMenu = new QMenu(this);
    mMenu->setObjectName(menuName);
    Alwaysontop1 = mMenu->addAction(QStringLiteral("&Always on top"));
    Alwaysontop1->setObjectName(QStringLiteral("Alwaysontop1"));
    Alwaysontop1->setCheckable(true);
    mMenu->addSeparator();
    QAction* quit = mMenu->addAction(QStringLiteral("&Exit"));
    quit->setObjectName(QStringLiteral("Quit1"));

    connect(btStart, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btStartClick();
    });
    connect(btOpt, &QPushButton::clicked, this, &TConsoleView::optionsRequested);
    connect(btPass, &QPushButton::clicked, this, &TConsoleView::passwordRequested);
    connect(Alwaysontop1, &QAction::triggered, this, [this]() {
        if (mConsole) mConsole->Alwaysontop1Click();
        followGui(); // the check mark shows the console's value, whatever the click made of it
    });
    connect(quit, &QAction::triggered, this, [this]() {
        if (mConsole) mConsole->Quit1Click();
    });

    // The models follow the console first (they connected when they were made), then the view.
    connect(&console, &TConsoleBase::guiChanged, this, &TConsoleView::followGui);
    connect(&console, &TConsoleBase::queueChanged, this, &TConsoleView::followQueue);
    followGui();
    followQueue();
}

QWidget* TConsoleView::makeQueuePage() {
    lvQueue = new TListView(new TQueueModel(*mConsole), QStringLiteral("lvQueue"));
    btJobAdd = NamedButton(QStringLiteral("btJobAdd"), QStringLiteral("Add..."), nullptr);
    btJobDel = NamedButton(QStringLiteral("btJobDel"), QStringLiteral("Delete"), nullptr);
    btDelAll = NamedButton(QStringLiteral("btDelAll"), QStringLiteral("Delete All"), nullptr);
    edTotJobs = new QLineEdit;
    edTotJobs->setObjectName(QStringLiteral("edTotJobs"));
    edTotJobs->setReadOnly(true);
    edTotJobs->setMaximumWidth(50);
    auto* total = new QLabel(QStringLiteral("Total:"));
    total->setBuddy(edTotJobs);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btJobAdd);
    buttons->addWidget(btJobDel);
    buttons->addWidget(btDelAll);
    buttons->addStretch(1);
    buttons->addWidget(total);
    buttons->addWidget(edTotJobs);

    connect(btJobAdd, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btJobAddClick();
    });
    connect(btJobDel, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btJobDelClick();
    });
    connect(btDelAll, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btDelAllClick();
    });
    connect(lvQueue, &TListView::keyPressed, this, [this](int key) {
        if (mConsole && key == Qt::Key_Delete) mConsole->lvQueueKeyDown(Qt::Key_Delete);
    });
    connect(lvQueue->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TConsoleView::queueSelectionMoved);
    return listPage(QStringLiteral("tabQueue"), QStringLiteral(" Queue: "), lvQueue, buttons);
}

QWidget* TConsoleView::makeLogPage() {
    lsvLog = new TListView(new TLogModel(*mConsole), QStringLiteral("lsvLog"));
    lsvLog->setSelectionAlwaysVisible();
    auto* clear = NamedButton(QStringLiteral("btLogClear"), QStringLiteral("Clear Log"), nullptr);
    auto* exportLog = NamedButton(QStringLiteral("btLogExp"), QStringLiteral("Export..."), nullptr);
    // Printing the log is not offered.
    auto* print = NamedButton(QStringLiteral("btLogPrint"), QStringLiteral("Print"), nullptr);
    print->setVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addWidget(exportLog);
    buttons->addWidget(print);
    buttons->addStretch(1);

    connect(clear, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btLogClearClick(true);
    });
    connect(exportLog, &QPushButton::clicked, this, [this]() {
        if (mConsole) mConsole->btLogExpClick();
    });
    return listPage(QStringLiteral("tabLog"), QStringLiteral(" Log: "), lsvLog, buttons);
}

void TConsoleView::insertFirstPage(QWidget* page, const QString& name, const QString& caption) {
    page->setObjectName(name);
    pg->insertTab(0, page, caption);
    pg->setCurrentIndex(0);
    // Made after the buttons below the pages, the page still comes first after the tabs.
    TabThroughAfter(pg->tabBar(), page);
}

QPlainTextEdit* TConsoleView::makeDetail(QWidget* parent) {
    mmDetail = new QPlainTextEdit(parent);
    mmDetail->setObjectName(QStringLiteral("mmDetail"));
    mmDetail->setReadOnly(true);
    mmDetail->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TSessionText* text = mConsole->SessionText();
    mmDetail->setPlainText(text->Lines().join('\n'));
    connect(text, &TSessionText::LineAppended, mmDetail, &QPlainTextEdit::appendPlainText);
    connect(text, &TSessionText::Cleared, mmDetail, &QPlainTextEdit::clear);
    return mmDetail;
}

void TConsoleView::contextMenuEvent(QContextMenuEvent* event) {
    popUpMenu(event->globalPos());
    event->accept();
}

void TConsoleView::popUpMenu(const QPoint& globalPos) {
    if (mConsole) Alwaysontop1->setChecked(mConsole->alwaysOnTop());
    mMenu->popup(globalPos);
}

void TConsoleView::followGui() {
    if (!mConsole) return;
    btStart->setText(mConsole->startCaption());
    btStart->setEnabled(mConsole->startEnabled());
    btOpt->setEnabled(mConsole->optionsEnabled());
    btJobAdd->setEnabled(mConsole->addEnabled());
    btJobDel->setEnabled(mConsole->deleteEnabled());
    btDelAll->setEnabled(mConsole->deleteAllEnabled());
    Alwaysontop1->setChecked(mConsole->alwaysOnTop());
}

void TConsoleView::followQueue() {
    if (!mConsole) return;
    edTotJobs->setText(mConsole->totalJobs());
    if (lvQueue->selectedSourceRow() == mConsole->queueSelection()) return;
    mFollowing = true;
    lvQueue->selectSourceRow(mConsole->queueSelection());
    mFollowing = false;
}

void TConsoleView::queueSelectionMoved() {
    if (mFollowing || !mConsole || lvQueue->listModel()->refreshing()) return;
    mConsole->setQueueSelection(lvQueue->selectedSourceRow());
}
