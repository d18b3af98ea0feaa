#include "gui/device_dialog.h"

#include "gui/modem_dialogs.h"
#include "platform/prompt.h"

#include <QComboBox>
#include <algorithm>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
QComboBox* makeList(const char* name, const QStringList& entries, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->addItems(entries);
    return list;
}

QSpinBox* makeNumber(const char* name, int low, int high, int step, QWidget* parent) {
    auto* number = new QSpinBox(parent);
    number->setObjectName(QString::fromLatin1(name));
    number->setRange(low, high);
    number->setSingleStep(step);
    return number;
}

QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QLabel* labelFor(const QString& caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    return label;
}

// Selects the entry with the text; an empty text (or one the list does not hold) selects none.
void selectText(QComboBox* list, const QString& text) {
    list->setCurrentIndex(text.isEmpty() ? -1 : list->findText(text, Qt::MatchExactly));
}
} // namespace

TfrmConn::TfrmConn(TModemsList& modems, TCommDevice& device, const TSettings& settings,
                   IPrompt& prompt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      mPresenter(modems, device, settings, prompt), mSettings(settings), mPrompt(prompt) {
    setObjectName(QStringLiteral("frmConn"));
    setWindowTitle(QStringLiteral("Device Configuration"));
    auto* layout = new QVBoxLayout(this);
    auto* pgDev = new QTabWidget(this);
    pgDev->setObjectName(QStringLiteral("pgDev"));
    auto* tabSerial = new QWidget(pgDev);
    tabSerial->setObjectName(QStringLiteral("tabSerial"));
    pgDev->addTab(tabSerial, QStringLiteral("Serial"));
    layout->addWidget(pgDev);

    auto* grid = new QGridLayout(tabSerial);
    cbPort = makeList("cbPort", TDeviceConfig::Ports, tabSerial);
    grid->addWidget(labelFor(QStringLiteral("Port #:"), cbPort, tabSerial), 0, 0);
    grid->addWidget(cbPort, 0, 1);
    // This machine's serial devices by their Linux names; the one chosen is what the port opens
    // once the dialog closes with OK.
    cbPortDevice = makeList("cbPortDevice", {}, tabSerial);
    cbPortDevice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbPortDevice->setMinimumContentsLength(44);
    grid->addWidget(labelFor(QStringLiteral("Device:"), cbPortDevice, tabSerial), 1, 0);
    grid->addWidget(cbPortDevice, 1, 1, 1, 3);
    // The Linux device that the port opens, so the operator sees where "COM3" leads.
    mPortDevice = new QLabel(tabSerial);
    mPortDevice->setObjectName(QStringLiteral("lbPortDevice"));
    mPortDevice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mPortDevice->setWordWrap(true);
    grid->addWidget(mPortDevice, 2, 1, 1, 3);

    cbBaud = makeList("cbBaud", TDeviceConfig::Bauds, tabSerial);
    grid->addWidget(labelFor(QStringLiteral("Port baud rate:"), cbBaud, tabSerial), 3, 0);
    grid->addWidget(cbBaud, 3, 1);

    cbDev = makeList("cbDev", TDeviceConfig::Types, tabSerial);
    grid->addWidget(labelFor(QStringLiteral("Type:"), cbDev, tabSerial), 4, 0);
    grid->addWidget(cbDev, 4, 1);

    pRetr = new QWidget(tabSerial);
    pRetr->setObjectName(QStringLiteral("pRetr"));
    auto* retries = new QHBoxLayout(pRetr);
    retries->setContentsMargins(0, 0, 0, 0);
    spRetry = makeNumber("spRetry", TDeviceConfig::MinRetries, TDeviceConfig::MaxRetries, 1, pRetr);
    retries->addWidget(labelFor(QStringLiteral("Max retries:"), spRetry, pRetr));
    retries->addWidget(spRetry);
    grid->addWidget(pRetr, 4, 2, 1, 2);

    spDelay = makeNumber("spDelay", TDeviceConfig::MinDelay, TDeviceConfig::MaxDelay,
                         TDeviceConfig::DelayStep, tabSerial);
    grid->addWidget(labelFor(QStringLiteral("Response delay:"), spDelay, tabSerial), 5, 0);
    grid->addWidget(spDelay, 5, 1);
    grid->addWidget(new QLabel(QStringLiteral("ms"), tabSerial), 5, 2);

    nbSerial = new QStackedWidget(tabSerial);
    nbSerial->setObjectName(QStringLiteral("nbSerial"));
    auto* direct = new QWidget(nbSerial);
    direct->setObjectName(QStringLiteral("Direct"));
    auto* directGrid = new QGridLayout(direct);
    directGrid->setContentsMargins(0, 0, 0, 0);
    spBits = makeNumber("spBits", TDeviceConfig::MinBits, TDeviceConfig::MaxBits, 1, direct);
    cbParity = makeList("cbParity", TDeviceConfig::Parities, direct);
    cbStop = makeList("cbStop", TDeviceConfig::StopBits, direct);
    directGrid->addWidget(labelFor(QStringLiteral("Bits:"), spBits, direct), 0, 0);
    directGrid->addWidget(spBits, 0, 1);
    directGrid->addWidget(labelFor(QStringLiteral("Parity:"), cbParity, direct), 1, 0);
    directGrid->addWidget(cbParity, 1, 1);
    directGrid->addWidget(labelFor(QStringLiteral("Stop bits:"), cbStop, direct), 2, 0);
    directGrid->addWidget(cbStop, 2, 1);
    directGrid->setColumnStretch(2, 1);
    nbSerial->addWidget(direct);

    auto* modem = new QWidget(nbSerial);
    modem->setObjectName(QStringLiteral("Modem"));
    auto* modemGrid = new QGridLayout(modem);
    modemGrid->setContentsMargins(0, 0, 0, 0);
    cbModem = makeList("cbModem", {}, modem);
    cbModem->setMinimumWidth(220);
    modemGrid->addWidget(labelFor(QStringLiteral("Modem:"), cbModem, modem), 0, 0);
    modemGrid->addWidget(cbModem, 0, 1, 1, 3);
    auto* add = makeButton(QStringLiteral("&Add"), "btAdd", modem);
    auto* edit = makeButton(QStringLiteral("&Edit"), "btEdit", modem);
    auto* remove = makeButton(QStringLiteral("&Delete"), "btDel", modem);
    modemGrid->addWidget(add, 1, 1);
    modemGrid->addWidget(edit, 1, 2);
    modemGrid->addWidget(remove, 1, 3);
    modemGrid->setRowStretch(2, 1);
    nbSerial->addWidget(modem);
    grid->addWidget(nbSerial, 6, 0, 1, 4);
    // The pages' captions take the width of the widest caption above them, so that their fields
    // line up with the fields above.
    int captionWidth = 0;
    for (QLabel* caption : findChildren<QLabel*>())
        if (caption->buddy()) captionWidth = std::max(captionWidth, caption->sizeHint().width());
    for (QGridLayout* captions : {grid, directGrid, modemGrid})
        captions->setColumnMinimumWidth(0, captionWidth);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = makeButton(QStringLiteral("&OK"), "btOk", this);
    ok->setDefault(true);
    auto* cancel = makeButton(QStringLiteral("&Cancel"), "btCancel", this);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    // Only the operator's own choices count as changes (activated), never the dialog filling
    // its lists.
    connect(cbPort, &QComboBox::activated, this, &TfrmConn::portOrTypeChosen);
    connect(cbDev, &QComboBox::activated, this, &TfrmConn::portOrTypeChosen);
    connect(cbModem, &QComboBox::activated, this, &TfrmConn::modemChosen);
    connect(cbPortDevice, &QComboBox::activated, this, [this](int index) {
        mPresenter.ChoosePortDevice(index);
        showState();
    });
    connect(cbBaud, &QComboBox::activated, this,
            [this] { mPresenter.baud = cbBaud->currentText(); });
    connect(cbParity, &QComboBox::activated, this,
            [this] { mPresenter.parity = cbParity->currentText(); });
    connect(cbStop, &QComboBox::activated, this,
            [this] { mPresenter.stopBits = cbStop->currentText(); });
    connect(spRetry, &QSpinBox::valueChanged, this, [this](int value) {
        if (!mShowing) mPresenter.retries = value;
    });
    connect(spDelay, &QSpinBox::valueChanged, this, [this](int value) {
        if (!mShowing) mPresenter.delay = value;
    });
    connect(spBits, &QSpinBox::valueChanged, this, [this](int value) {
        if (!mShowing) mPresenter.bits = value;
    });
    const auto modemEditor = [this](TModemsList& catalogue) { return editModem(catalogue); };
    connect(add, &QPushButton::clicked, this, [this, modemEditor] {
        mPresenter.AddModem(modemEditor);
        showState();
    });
    connect(edit, &QPushButton::clicked, this, [this, modemEditor] {
        mPresenter.EditModem(modemEditor);
        showState();
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        mPresenter.DeleteModem();
        showState();
    });
    connect(ok, &QPushButton::clicked, this, &TfrmConn::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    pRetr->setVisible(mPresenter.retriesVisible());
    showState();
    setFixedSize(sizeHint());
}

void TfrmConn::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (mShown) return;
    mShown = true;
    CentreOnScreen(this);
    mPresenter.Show();
    showState();
}

void TfrmConn::showState() {
    mShowing = true;
    const TDeviceConfig& p = mPresenter;
    selectText(cbPort, p.port);
    cbPortDevice->clear();
    for (const TDeviceConfig::TPortChoice& choice : p.PortChoices())
        cbPortDevice->addItem(choice.Label, choice.Path);
    cbPortDevice->setCurrentIndex(p.PortChoice());
    mPortDevice->setText(p.PortDevice());
    selectText(cbBaud, p.baud);
    selectText(cbDev, p.type);
    spRetry->setValue(p.retries);
    spDelay->setValue(p.delay);
    spBits->setValue(p.bits);
    selectText(cbParity, p.parity);
    selectText(cbStop, p.stopBits);
    cbModem->clear();
    cbModem->addItems(mPresenter.ModemNames());
    cbModem->setCurrentIndex(p.modem);
    if (QWidget* page = nbSerial->findChild<QWidget*>(p.page, Qt::FindDirectChildrenOnly))
        nbSerial->setCurrentWidget(page);
    mShowing = false;
}

void TfrmConn::portOrTypeChosen() {
    mPresenter.port = cbPort->currentText();
    mPresenter.type = cbDev->currentText();
    mPresenter.TypeOrPortChanged();
    showState();
}

void TfrmConn::modemChosen(int index) {
    mPresenter.modem = index;
    mPresenter.ModemChanged();
    showState();
}

bool TfrmConn::editModem(TModemsList& catalogue) {
    TfrmMdmProp properties(catalogue, mSettings, mPrompt, this);
    properties.DetectionSource = DetectionSource;
    return properties.exec() == QDialog::Accepted;
}

void TfrmConn::okClicked() {
    for (QSpinBox* number : {spRetry, spDelay, spBits})
        number->interpretText();
    if (mPresenter.Ok()) accept();
}

bool EditDevice(TModemsList& modems, TCommDevice& device, TSettings& settings, IPrompt& prompt,
                QWidget* parent) {
    TfrmConn dialog(modems, device, settings, prompt, parent);
    return dialog.exec() == QDialog::Accepted;
}
