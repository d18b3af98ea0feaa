#include "gui/options_dialogs.h"

#include "consoles/console_base.h"
#include "consoles/list_models.h"
#include "gui/account_dialogs.h"
#include "gui/desktop_prompt.h"
#include "gui/list_view.h"
#include "gui/widget_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>
#include <functional>

namespace {
// A report-style list: whole rows, one at a time, read-only, the selection shown also while
// the list has no focus.
QTreeWidget* reportList(const QString& name, const QList<TListColumn>& columns, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setColumnCount(int(columns.size()));
    QStringList captions;
    for (const TListColumn& column : columns)
        captions << column.caption;
    list->setHeaderLabels(captions);
    // A column is never narrower than its caption.
    for (int c = 0; c < columns.size(); ++c)
        list->header()->resizeSection(
            c, qMax(columns[c].width, TListView::CaptionWidth(list->header(), captions[c])));
    // A few rows show whatever the font.
    list->setMinimumHeight(list->fontMetrics().height() * 7);
    list->header()->setStretchLastSection(false);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setAllColumnsShowFocus(true);
    QPalette colours = list->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    list->setPalette(colours);
    return list;
}

int selectedRow(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

// Brings the list to `count` rows, keeping the items that stay (a check-box change arrives
// from an item, which must outlive its own signal).
void resizeRows(QTreeWidget* list, int count, Qt::ItemFlags flags) {
    while (list->topLevelItemCount() > count)
        delete list->takeTopLevelItem(list->topLevelItemCount() - 1);
    while (list->topLevelItemCount() < count)
        (new QTreeWidgetItem(list))->setFlags(flags);
}

void selectRow(QTreeWidget* list, int row) {
    QTreeWidgetItem* item = row >= 0 ? list->topLevelItem(row) : nullptr;
    if (item == list->currentItem() && (!item || item->isSelected())) return;
    list->clearSelection();
    list->setCurrentItem(item);
    if (item) item->setSelected(true);
}

void setTextIfChanged(QLineEdit* edit, const QString& text) {
    if (edit->text() == text) return;
    edit->setText(text);
    // A long path shows from its start until the operator edits it.
    if (!edit->hasFocus()) edit->setCursorPosition(0);
}

bool isDeleteKey(QObject* watched, QEvent* event, QObject* list) {
    return watched == list && event->type() == QEvent::KeyPress &&
           static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete;
}

// One of the buttons under a list of the options dialogs: its control name, its caption and what
// a click does.
struct TListButton {
    QString name;
    QString caption;
    std::function<void()> click;
};

// Lays out a list over a row of its add, edit and delete buttons on `page`; add and edit are
// enabled with `editable`. Add and edit open a dialog; when it closes, the focus comes back to
// the list it changed.
void layOutList(QWidget* page, QTreeWidget* list, const std::array<TListButton, 3>& buttons,
                bool editable) {
    auto* add = NamedButton(buttons[0].name, buttons[0].caption, page);
    auto* edit = NamedButton(buttons[1].name, buttons[1].caption, page);
    auto* del = NamedButton(buttons[2].name, buttons[2].caption, page);
    add->setEnabled(editable);
    edit->setEnabled(editable);
    auto* row = new QHBoxLayout;
    row->addWidget(add);
    row->addWidget(edit);
    row->addWidget(del);
    row->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(list, 1);
    layout->addLayout(row);

    const auto andFocus = [list](const std::function<void()>& click) {
        return [list, click]() {
            click();
            list->setFocus();
        };
    };
    QObject::connect(add, &QPushButton::clicked, list, andFocus(buttons[0].click));
    QObject::connect(edit, &QPushButton::clicked, list, andFocus(buttons[1].click));
    QObject::connect(del, &QPushButton::clicked, list, buttons[2].click);
}
} // namespace

// ---- TNumberField ----

TNumberField::TNumberField(const TNumberRange& range, const QString& name, QWidget* parent)
    : QSpinBox(parent) {
    setObjectName(name);
    setRange(range.minimum, range.maximum);
    setSingleStep(range.step);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void TNumberField::fixup(QString& input) const {
    bool ok = false;
    const qlonglong number = locale().toLongLong(input.trimmed(), &ok);
    input = textFromValue(
        ok ? int(qBound<qlonglong>(qlonglong(minimum()), number, qlonglong(maximum())))
           : minimum());
}

// ---- TOptionsDialog ----

TOptionsDialog::TOptionsDialog(TOptionsBase& options, const QString& name, const QString& caption,
                               QWidget* parent)
    : QDialog(parent), mOptions(options) {
    setObjectName(name);
    setWindowTitle(caption);
    connect(&options, &TOptionsBase::devicesChanged, this, &TOptionsDialog::followDevices);
    connect(&options, &TOptionsBase::fieldsChanged, this, &TOptionsDialog::followFields);
}

QWidget* TOptionsDialog::makeDevicePart(const QStringList& buttonCaptions, const QString& onHint) {
    auto* part = new QWidget;
    lvConn = reportList(QStringLiteral("lvConn"),
                        {{QStringLiteral("On"), 30},
                         {QStringLiteral("Type"), TListModel::DefaultWidth},
                         {QStringLiteral("Device"), 140},
                         {QStringLiteral("Parameters"), 180},
                         {QStringLiteral("Retries"), TListModel::DefaultWidth}},
                        part);
    onDeleteKey(lvConn, [this]() { mOptions.lvConnKeyDown(Qt::Key_Delete); });
    // The column of check boxes keeps its short caption; its header says what a tick does.
    lvConn->headerItem()->setToolTip(0, onHint);
    mOnHint = onHint;
    layOutList(part, lvConn,
               {{{QStringLiteral("btAddDev"), buttonCaptions.value(0),
                  [this]() { mOptions.btAddDevClick(); }},
                 {QStringLiteral("btEditDev"), buttonCaptions.value(1),
                  [this]() { mOptions.btEditDevClick(); }},
                 {QStringLiteral("btDelDev"), buttonCaptions.value(2),
                  [this]() { mOptions.btDelDevClick(); }}}},
               mOptions.canEditDevices());

    connect(lvConn, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (mFollowing || column != 0) return;
        mOptions.lvConnChange(lvConn->indexOfTopLevelItem(item),
                              item->checkState(0) == Qt::Checked);
    });
    connect(lvConn, &QTreeWidget::itemSelectionChanged, this, [this]() {
        if (!mFollowing) mOptions.setDeviceSelection(selectedRow(lvConn));
    });
    followDevices();
    return part;
}

void TOptionsDialog::makeStartChecks() {
    ckLaunch = checkBox(QStringLiteral("ckLaunch"), QStringLiteral("Launch application at login"),
                        mOptions.launch());
    ckAutoDeliv =
        checkBox(QStringLiteral("ckAutoDeliv"),
                 QStringLiteral("Start service on application launch"), mOptions.autoDelivery());
}

QWidget* TOptionsDialog::makePaths() {
    // Made with its parent: a control joins the Tab order when it joins the window.
    auto* group = new QGroupBox(QStringLiteral(" Paths: "), this);
    group->setObjectName(QStringLiteral("gbPaths"));
    auto* grid = new QGridLayout(group);
    auto row = [&](int at, const QString& label, const QString& editName,
                   const QString& buttonName) {
        auto* edit = new QLineEdit(group);
        edit->setObjectName(editName);
        auto* caption = new QLabel(label, group);
        caption->setBuddy(edit);
        auto* browse = NamedButton(buttonName, QStringLiteral("..."), group);
        browse->setMaximumWidth(30);
        grid->addWidget(caption, at, 0);
        grid->addWidget(edit, at, 1);
        grid->addWidget(browse, at, 2);
        return std::make_pair(edit, browse);
    };
    auto [in, btIn] =
        row(0, QStringLiteral("Inbox:"), QStringLiteral("edIn"), QStringLiteral("btIn"));
    auto [out, btOut] =
        row(1, QStringLiteral("Outbox:"), QStringLiteral("edOut"), QStringLiteral("btOut"));
    edIn = in;
    edOut = out;
    connect(edIn, &QLineEdit::textEdited, this, [this](const QString& t) { mOptions.setInbox(t); });
    connect(edOut, &QLineEdit::textEdited, this,
            [this](const QString& t) { mOptions.setOutbox(t); });
    connect(btIn, &QPushButton::clicked, this, [this]() { mOptions.btInClick(); });
    connect(btOut, &QPushButton::clicked, this, [this]() { mOptions.btOutClick(); });
    followFields();
    return group;
}

QCheckBox* TOptionsDialog::checkBox(const QString& name, const QString& caption, bool checked) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

QLayout* TOptionsDialog::numberRow(const QString& label, TNumberField* field, const QString& unit) {
    auto* row = new QHBoxLayout;
    auto* caption = new QLabel(label, this);
    caption->setBuddy(field);
    row->addWidget(caption);
    row->addWidget(field);
    if (!unit.isEmpty()) row->addWidget(new QLabel(unit, this));
    row->addStretch(1);
    return row;
}

QLayout* TOptionsDialog::makeButtons() {
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOk"));
    ok->setDefault(true);
    auto* cancel = NamedButton(QStringLiteral("btCanc"), QStringLiteral("&Cancel"), this);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    connect(ok, &QPushButton::clicked, this, &TOptionsDialog::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return row;
}

void TOptionsDialog::store() {
    mOptions.setInbox(edIn->text());
    mOptions.setOutbox(edOut->text());
    mOptions.setLaunch(ckLaunch->isChecked());
    mOptions.setAutoDelivery(ckAutoDeliv->isChecked());
    spMaxlog->interpretText();
    mOptions.setMaxLogSize(spMaxlog->value());
}

void TOptionsDialog::okClicked() {
    store();
    if (mOptions.btOkClick()) accept();
}

void TOptionsDialog::followDevices() {
    if (!lvConn) return;
    mFollowing = true;
    const QList<TDeviceRow>& rows = mOptions.deviceRows();
    resizeRows(lvConn, int(rows.size()),
               Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    for (int i = 0; i < rows.size(); ++i) {
        QTreeWidgetItem* item = lvConn->topLevelItem(i);
        item->setCheckState(0, rows[i].checked ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(0, mOnHint);
        item->setText(1, rows[i].type);
        item->setText(2, rows[i].name);
        item->setText(3, rows[i].param);
        item->setText(4, rows[i].retries);
    }
    selectRow(lvConn, mOptions.deviceSelection());
    mFollowing = false;
}

void TOptionsDialog::followFields() {
    if (edIn) setTextIfChanged(edIn, mOptions.inbox());
    if (edOut) setTextIfChanged(edOut, mOptions.outbox());
}

void TOptionsDialog::onDeleteKey(QTreeWidget* list, std::function<void()> action) {
    list->installEventFilter(this);
    mDeleteKeys.append({list, std::move(action)});
}

bool TOptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    for (const auto& [list, action] : mDeleteKeys) {
        if (isDeleteKey(watched, event, list)) {
            action();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- TfrmHstOptDialog ----

TfrmHstOptDialog::TfrmHstOptDialog(TfrmHstOpt& options, QWidget* parent)
    : TOptionsDialog(options, QStringLiteral("frmHstOpt"), QStringLiteral("Server Options"),
                     parent),
      mServer(options) {
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    QWidget* devicesPage =
        makeDevicePart({QStringLiteral("&Add device"), QStringLiteral("&Edit device"),
                        QStringLiteral("&Delete device")},
                       QStringLiteral("Checked: the device answers calls"));
    devicesPage->setObjectName(QStringLiteral("TabSheet1"));
    pages->addTab(devicesPage, QStringLiteral("Communication Devices"));
    pages->addTab(makeUsersPage(), QStringLiteral("Users"));
    // Made in reading order, which is the order Tab follows.
    QWidget* paths = makePaths();

    makeStartChecks();
    ckNotif = checkBox(QStringLiteral("ckNotif"),
                       QStringLiteral("Pop-up notification on new files"), options.notification());
    spMaxlog = new TNumberField(MaxLogRange, QStringLiteral("spMaxlog"), this);
    spMaxlog->setValue(options.maxLogSize());
    spCommTmo = new TNumberField(TimeoutRange, QStringLiteral("spCommTmo"), this);
    spCommTmo->setValue(options.sessionTimeout());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages, 1);
    layout->addWidget(paths);
    layout->addWidget(ckLaunch);
    layout->addWidget(ckAutoDeliv);
    layout->addWidget(ckNotif);
    layout->addLayout(numberRow(QStringLiteral("Maximum log files size:"), spMaxlog, {}));
    layout->addLayout(
        numberRow(QStringLiteral("Session timeout:"), spCommTmo, QStringLiteral("min")));
    layout->addLayout(makeButtons());
    resize(QSize(560, 520).expandedTo(sizeHint()));
}

QWidget* TfrmHstOptDialog::makeUsersPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet2"));
    lvUser = reportList(QStringLiteral("lvUser"),
                        {{QStringLiteral("User Name"), 100},
                         {QStringLiteral("INBOX"), 200},
                         {QStringLiteral("OUTBOX"), 200}},
                        page);
    onDeleteKey(lvUser, [this]() { mServer.lvUserKeyDown(Qt::Key_Delete); });
    layOutList(page, lvUser,
               {{{QStringLiteral("btNewUser"), QStringLiteral("&New user"),
                  [this]() { mServer.btNewUserClick(); }},
                 {QStringLiteral("btEditUser"), QStringLiteral("&Edit user"),
                  [this]() { mServer.btEditUserClick(); }},
                 {QStringLiteral("btDelUser"), QStringLiteral("&Delete user"),
                  [this]() { mServer.btDelUserClick(); }}}},
               mServer.canEditUsers());

    connect(&mServer, &TfrmHstOpt::usersChanged, this, &TfrmHstOptDialog::followUsers);
    connect(lvUser, &QTreeWidget::itemSelectionChanged, this, [this]() {
        if (!mFollowingUsers) mServer.setUserSelection(selectedRow(lvUser));
    });
    followUsers();
    return page;
}

void TfrmHstOptDialog::followUsers() {
    mFollowingUsers = true;
    const QList<QStringList>& rows = mServer.userRows();
    resizeRows(lvUser, int(rows.size()), Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    for (int i = 0; i < rows.size(); ++i)
        for (int c = 0; c < 3; ++c)
            lvUser->topLevelItem(i)->setText(c, rows[i].value(c));
    selectRow(lvUser, mServer.userSelection());
    mFollowingUsers = false;
}

void TfrmHstOptDialog::store() {
    TOptionsDialog::store();
    mServer.setNotification(ckNotif->isChecked());
    spCommTmo->interpretText();
    mServer.setSessionTimeout(spCommTmo->value());
}

// ---- TfrmRemOptDialog ----

TfrmRemOptDialog::TfrmRemOptDialog(TfrmRemOpt& options, QWidget* parent)
    : TOptionsDialog(options, QStringLiteral("frmRemOpt"), QStringLiteral("Client Configuration"),
                     parent),
      mClient(options) {
    auto* devices = new QGroupBox(QStringLiteral(" Communication Devices: "), this);
    devices->setObjectName(QStringLiteral("gbDevices"));
    auto* inGroup = new QVBoxLayout(devices);
    inGroup->setContentsMargins(0, 0, 0, 0);
    inGroup->addWidget(makeDevicePart(
        {QStringLiteral("&Add"), QStringLiteral("&Edit"), QStringLiteral("&Delete")},
        QStringLiteral("Checked: the default connection, which deliveries use (one at most)")));
    // Made in reading order, which is the order Tab follows.
    QWidget* paths = makePaths();

    makeStartChecks();
    ckDeq = checkBox(QStringLiteral("ckDeq"), QStringLiteral("Drop failed jobs after retries"),
                     options.dropFailed());
    cbBatchInt = new QComboBox(this);
    cbBatchInt->setObjectName(QStringLiteral("cbBatchInt"));
    cbBatchInt->addItems(options.batchIntervalCaptions());
    cbBatchInt->setCurrentIndex(options.batchIntervalIndex());
    spBatchTmo = new TNumberField(TimeoutRange, QStringLiteral("spBatchTmo"), this);
    spBatchTmo->setValue(options.batchTimeout());
    spMaxlog = new TNumberField(MaxLogRange, QStringLiteral("spMaxlog"), this);
    spMaxlog->setValue(options.maxLogSize());

    auto* interval = new QHBoxLayout;
    auto* intervalLabel = new QLabel(QStringLiteral("Batch start interval:"), this);
    intervalLabel->setBuddy(cbBatchInt);
    interval->addWidget(intervalLabel);
    interval->addWidget(cbBatchInt);
    interval->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(devices, 1);
    layout->addWidget(paths);
    layout->addWidget(ckLaunch);
    layout->addWidget(ckAutoDeliv);
    layout->addWidget(ckDeq);
    layout->addLayout(interval);
    layout->addLayout(
        numberRow(QStringLiteral("Batch timeout:"), spBatchTmo, QStringLiteral("min")));
    layout->addLayout(numberRow(QStringLiteral("Maximum log files size:"), spMaxlog, {}));
    layout->addLayout(makeButtons());
    resize(QSize(520, 500).expandedTo(sizeHint()));
}

void TfrmRemOptDialog::store() {
    TOptionsDialog::store();
    mClient.setDropFailed(ckDeq->isChecked());
    mClient.setBatchIntervalIndex(cbBatchInt->currentIndex());
    spBatchTmo->interpretText();
    mClient.setBatchTimeout(spBatchTmo->value());
}

// ---- Opening ----

bool ShowConsoleOptions(TConsoleBase& console, const TDeviceEditor& deviceEditor, QWidget* parent) {
    if (!console.optionsEnabled()) return false;
    const TConsoleServices& services = console.services();
    // While the dialog is open the console refuses to start its service (the dialog's OK would
    // stop it again).
    console.setOptionsOpen(true);
    const auto closed = qScopeGuard([&console]() { console.setOptionsOpen(false); });
    bool ok = false;
    if (console.Role() == RoleServer) {
        QWidget* owner = parent;
        TfrmHstOpt options(
            services, deviceEditor,
            [&services, &owner](TMRLUser& user, const QString& inbox, const QString& outbox) {
                return EditUser(user, inbox, outbox, services.prompt, owner);
            });
        TfrmHstOptDialog dialog(options, parent);
        owner = &dialog;
        ok = dialog.exec() == QDialog::Accepted;
    } else {
        TfrmRemOpt options(services, deviceEditor);
        TfrmRemOptDialog dialog(options, parent);
        ok = dialog.exec() == QDialog::Accepted;
    }
    if (ok) {
        console.UpdateQueueList();
        console.SetGUI();
    }
    return ok;
}
