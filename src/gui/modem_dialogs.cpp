#include "gui/modem_dialogs.h"

#include "gui/list_view.h"

#include "platform/prompt.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr Qt::WindowFlags DialogBorder = Qt::Dialog | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                         Qt::MSWindowsFixedSizeDialogHint;

QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// A read-only report list with the given "caption/width" columns.
QTreeWidget* makeReport(const char* name, const QList<QPair<QString, int>>& columns,
                        QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setColumnCount(int(columns.size()));
    QStringList captions;
    for (const auto& column : columns)
        captions << column.first;
    list->setHeaderLabels(captions);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    // A column is never narrower than its caption.
    for (int c = 0; c < columns.size(); ++c)
        list->header()->resizeSection(
            c, qMax(columns[c].second, TListView::CaptionWidth(list->header(), captions[c])));
    return list;
}

// A text field after its label in a grid row.
QLineEdit* addField(QGridLayout* grid, int row, const QString& caption, const char* name,
                    QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

QCheckBox* makeCheck(const QString& caption, const char* name, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}
} // namespace

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

// ---- TfrmDetMdm ------------------------------------------------------------------------------

TfrmDetMdm::TfrmDetMdm(TModemsList& catalogue, IPrompt& prompt, QWidget* parent)
    : QDialog(parent, DialogBorder), mPresenter(catalogue, prompt) {
    setObjectName(QStringLiteral("frmDetMdm"));
    setWindowTitle(QStringLiteral("Detected Modems"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Modems:"), this));
    lvDev = makeReport("lvDev",
                       {{QStringLiteral("Device Name"), 300}, {QStringLiteral("Attached To"), 170}},
                       this);
    // The chosen modem stays marked while the operator reads its settings.
    QPalette colours = lvDev->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    lvDev->setPalette(colours);
    lvDev->setMinimumSize(490, 120);
    layout->addWidget(lvDev);

    // Detection asks every serial device and takes a few seconds: the window says so meanwhile.
    auto* progressRow = new QHBoxLayout;
    mProgress = new QProgressBar(this);
    mProgress->setObjectName(QStringLiteral("pbDetect"));
    mProgress->setRange(0, 0);
    mProgress->setTextVisible(false);
    mProgress->setMaximumWidth(120);
    mProgressText = new QLabel(QStringLiteral("Detecting modems..."), this);
    mProgressText->setObjectName(QStringLiteral("lbDetect"));
    // A long status line is cut rather than widening the window.
    mProgressText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progressRow->addWidget(mProgress);
    progressRow->addWidget(mProgressText, 1);
    layout->addLayout(progressRow);

    layout->addWidget(new QLabel(QStringLiteral("Device information:"), this));
    lvSet = makeReport(
        "lvSet", {{QStringLiteral("Device Setting"), 200}, {QStringLiteral("Value"), 270}}, this);
    lvSet->setSelectionMode(QAbstractItemView::NoSelection);
    lvSet->setMinimumSize(490, 200);
    layout->addWidget(lvSet);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btSelect = makeButton(QStringLiteral("Select"), "btSelect", this);
    btSelect->setDefault(true);
    auto* cancel = makeButton(QStringLiteral("&Cancel"), "btCancel", this);
    buttons->addWidget(btSelect);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(btSelect, &QPushButton::clicked, this, &TfrmDetMdm::selectClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvDev, &QTreeWidget::itemSelectionChanged, this, &TfrmDetMdm::rowChosen);
    connect(&mPresenter, &TDetectedModems::Progress, this, &TfrmDetMdm::showProgress);
    connect(&mPresenter, &TDetectedModems::DetectionFinished, this, &TfrmDetMdm::detectionEnded);
    connect(&mPresenter, &TDetectedModems::SelectionChanged, this, &TfrmDetMdm::showSelection);
    setFixedSize(sizeHint());
}

void TfrmDetMdm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (mShown) return;
    mShown = true;
    CentreOnScreen(this);
    mPresenter.Show();
}

void TfrmDetMdm::showProgress(const QString& message) {
    mProgressText->setText(message);
}

void TfrmDetMdm::detectionEnded() {
    mProgress->hide();
    TModemsList& found = mPresenter.Detected();
    mProgressText->setText(found.Count() == 1
                               ? QStringLiteral("1 modem found.")
                               : QStringLiteral("%1 modems found.").arg(found.Count()));
    mFilling = true;
    lvDev->clear();
    for (int i = 0; i < found.Count(); ++i)
        new QTreeWidgetItem(
            lvDev, {found.GetSetting(i, mdkFriendlyName), found.GetSetting(i, mdkAttachedTo)});
    mFilling = false;
    showSelection();
}

void TfrmDetMdm::showSelection() {
    const int row = mPresenter.selected();
    mFilling = true;
    if (QTreeWidgetItem* item = lvDev->topLevelItem(row)) {
        lvDev->setCurrentItem(item);
    } else {
        lvDev->clearSelection();
    }
    mFilling = false;
    lvSet->clear();
    for (const auto& [caption, value] : mPresenter.Details())
        new QTreeWidgetItem(lvSet, {caption, value});
}

void TfrmDetMdm::rowChosen() {
    if (mFilling) return;
    const QList<QTreeWidgetItem*> chosen = lvDev->selectedItems();
    mPresenter.Select(chosen.isEmpty() ? -1 : lvDev->indexOfTopLevelItem(chosen.first()));
}

void TfrmDetMdm::selectClicked() {
    if (mPresenter.SelectClicked()) accept();
}

// ---- TfrmMdmProp -----------------------------------------------------------------------------

TfrmMdmProp::TfrmMdmProp(TModemsList& catalogue, const TSettings& settings, IPrompt& prompt,
                         QWidget* parent)
    : QDialog(parent, DialogBorder), mPresenter(catalogue, settings, prompt), mPrompt(prompt) {
    setObjectName(QStringLiteral("frmMdmProp"));
    setWindowTitle(QStringLiteral("Modem Parameters"));
    auto* layout = new QVBoxLayout(this);

    auto* nameGrid = new QGridLayout;
    edMdmDesc = addField(nameGrid, 0, QStringLiteral("Modem name:"), "edMdmDesc", this);
    edMdmDesc->setText(QStringLiteral("Generic Modem"));
    layout->addLayout(nameGrid);

    pnlDial = new QWidget(this);
    pnlDial->setObjectName(QStringLiteral("pnlDial"));
    auto* dialGrid = new QGridLayout(pnlDial);
    dialGrid->setContentsMargins(0, 0, 0, 0);
    edDialString = addField(dialGrid, 0, QStringLiteral("Dial string:"), "edDialString", pnlDial);
    edDialPrefixNo =
        addField(dialGrid, 1, QStringLiteral("Dial prefix:"), "edDialPrefixNo", pnlDial);
    ckBlind = makeCheck(QStringLiteral("Enable blind dialing"), "ckBlind", pnlDial);
    // In line with the dialog's other check boxes.
    dialGrid->addWidget(ckBlind, 2, 0, 1, 2);
    layout->addWidget(pnlDial);

    auto* grid = new QGridLayout;
    edInit = addField(grid, 0, QStringLiteral("Initialization string:"), "edInit", this);
    edHangup = addField(grid, 1, QStringLiteral("Hangup string:"), "edHangup", this);
    edReset = addField(grid, 2, QStringLiteral("Reset string:"), "edReset", this);
    edAAOn = addField(grid, 3, QStringLiteral("Auto-answer ON:"), "edAAOn", this);
    edAAOff = addField(grid, 4, QStringLiteral("Auto-answer OFF:"), "edAAOff", this);
    edSpkON = addField(grid, 5, QStringLiteral("Speaker ON:"), "edSpkON", this);
    edSpkOff = addField(grid, 6, QStringLiteral("Speaker OFF:"), "edSpkOff", this);
    layout->addLayout(grid);
    // Both dialog name columns line up.
    nameGrid->setColumnMinimumWidth(0, grid->itemAtPosition(0, 0)->widget()->sizeHint().width());
    dialGrid->setColumnMinimumWidth(0, grid->itemAtPosition(0, 0)->widget()->sizeHint().width());
    for (QGridLayout* g : {nameGrid, dialGrid, grid})
        g->setColumnMinimumWidth(1, 240);

    ckECC = makeCheck(QStringLiteral("Enable error correction"), "ckECC", this);
    ckCompr = makeCheck(QStringLiteral("Enable compression"), "ckCompr", this);
    ckEnableSpk = makeCheck(QStringLiteral("Enable modem speaker"), "ckEnableSpk", this);
    for (QCheckBox* box : {ckBlind, ckECC, ckCompr, ckEnableSpk})
        box->setEnabled(false);
    layout->addWidget(ckECC);
    layout->addWidget(ckCompr);
    layout->addWidget(ckEnableSpk);

    rgAA = new QGroupBox(QStringLiteral(" Auto-answering "), this);
    rgAA->setObjectName(QStringLiteral("rgAA"));
    auto* choices = new QVBoxLayout(rgAA);
    mAutoAnswer = new QButtonGroup(this);
    const QStringList modes = {QStringLiteral("Default (use Init. string)"),
                               QStringLiteral("Hardware"), QStringLiteral("Forced (software)")};
    for (int i = 0; i < modes.size(); ++i) {
        auto* choice = new QRadioButton(modes[i], rgAA);
        choice->setObjectName(QStringLiteral("rbAA%1").arg(i));
        mAutoAnswer->addButton(choice, i);
        choices->addWidget(choice);
    }
    mAutoAnswer->button(0)->setChecked(true);
    layout->addWidget(rgAA);

    auto* buttons = new QHBoxLayout;
    auto* detect = makeButton(QStringLiteral("Detect modems..."), "btModems", this);
    auto* ok = makeButton(QStringLiteral("&OK"), "btOk", this);
    ok->setDefault(true);
    auto* cancel = makeButton(QStringLiteral("&Cancel"), "btCancel", this);
    buttons->addWidget(detect);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(detect, &QPushButton::clicked, this, &TfrmMdmProp::detectClicked);
    connect(ok, &QPushButton::clicked, this, &TfrmMdmProp::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    pnlDial->setVisible(mPresenter.dialVisible());
    rgAA->setVisible(mPresenter.autoAnswerVisible());
    setFixedSize(sizeHint());
}

void TfrmMdmProp::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (mShown) return;
    mShown = true;
    CentreOnScreen(this);
    mPresenter.Show();
    showFields();
}

void TfrmMdmProp::showFields() {
    const TModemFields& f = mPresenter.fields;
    edMdmDesc->setText(f.name);
    edDialString->setText(f.dialString);
    edDialPrefixNo->setText(f.dialPrefix);
    edInit->setText(f.init);
    edHangup->setText(f.hangup);
    edReset->setText(f.reset);
    edAAOn->setText(f.autoAnswerOn);
    edAAOff->setText(f.autoAnswerOff);
    edSpkON->setText(f.speakerOn);
    edSpkOff->setText(f.speakerOff);
    const std::pair<QCheckBox*, std::pair<bool, bool>> boxes[] = {
        {ckBlind, {mPresenter.blindEnabled, f.blind}},
        {ckECC, {mPresenter.errorCorrectionEnabled, f.errorCorrection}},
        {ckCompr, {mPresenter.compressionEnabled, f.compression}},
        {ckEnableSpk, {mPresenter.speakerEnabled, f.speaker}},
    };
    for (const auto& [box, state] : boxes) {
        box->setEnabled(state.first);
        box->setChecked(state.second);
    }
    if (QAbstractButton* mode = mAutoAnswer->button(f.autoAnswerMode)) mode->setChecked(true);
}

void TfrmMdmProp::takeFields() {
    TModemFields& f = mPresenter.fields;
    f.name = edMdmDesc->text();
    f.dialString = edDialString->text();
    f.dialPrefix = edDialPrefixNo->text();
    f.init = edInit->text();
    f.hangup = edHangup->text();
    f.reset = edReset->text();
    f.autoAnswerOn = edAAOn->text();
    f.autoAnswerOff = edAAOff->text();
    f.speakerOn = edSpkON->text();
    f.speakerOff = edSpkOff->text();
    f.blind = ckBlind->isChecked();
    f.errorCorrection = ckECC->isChecked();
    f.compression = ckCompr->isChecked();
    f.speaker = ckEnableSpk->isChecked();
    f.autoAnswerMode = std::max(0, mAutoAnswer->checkedId());
}

void TfrmMdmProp::detectClicked() {
    TfrmDetMdm detected(mPresenter.Working(), mPrompt, this);
    detected.presenter().Source = DetectionSource;
    if (detected.exec() != QDialog::Accepted) return;
    mPresenter.Fill();
    showFields();
}

void TfrmMdmProp::okClicked() {
    takeFields();
    if (mPresenter.Ok()) accept();
}
