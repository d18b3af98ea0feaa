#include "gui/enqueue_dialogs.h"

#include "gui/widget_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {
QLineEdit* lineEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

// The chosen file: shown, never typed, and skipped by the tab key.
QLineEdit* fileField(QWidget* parent, const QString& file) {
    QLineEdit* edit = lineEdit(parent, "edFile");
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setText(file);
    edit->setCursorPosition(0);
    edit->setMinimumWidth(280);
    return edit;
}

// A captioned field in the next row of the grid.
void addRow(QGridLayout* grid, const QString& caption, QWidget* field) {
    const int row = grid->rowCount();
    auto* label = new QLabel(caption, field->parentWidget());
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
}

// "&OK" (the default button) and "Cancel", right-aligned under the fields.
QHBoxLayout* okCancel(QDialog* dialog, QPushButton** ok, QPushButton** cancel) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    *ok = new QPushButton(QStringLiteral("&OK"), dialog);
    (*ok)->setObjectName(QStringLiteral("btOk"));
    (*ok)->setDefault(true);
    *cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    (*cancel)->setObjectName(QStringLiteral("btCancel"));
    row->addWidget(*ok);
    row->addWidget(*cancel);
    QObject::connect(*cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

// Shows a dialog modally; on OK the caller's job becomes the presenter's. The dialog may be
// destroyed with its parent while it is open: that counts as Cancel.
template <typename Dialog>
bool executeOn(const TConsoleServices& services, TQueueItem& job, QWidget* parent) {
    QPointer<Dialog> dialog = new Dialog(services, job, parent);
    const int result = dialog->exec();
    if (!dialog) return false;
    const bool ok = result == QDialog::Accepted;
    if (ok) job = dialog->presenter().job();
    delete dialog.data();
    return ok;
}
} // namespace

// ---- TfrmHstEnq ----

TfrmHstEnq::TfrmHstEnq(const TConsoleServices& services, const TQueueItem& job, QWidget* parent)
    : QDialog(parent), mPresenter(services, job) {
    setObjectName(QStringLiteral("frmHstEnq"));
    setWindowTitle(QStringLiteral("Enqueue host file"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    edFile = fileField(this, mPresenter.file());
    edUser = lineEdit(this, "edUser");
    edUser->setText(mPresenter.user());
    edDest = lineEdit(this, "edDest");
    edDest->setText(mPresenter.destination());
    addRow(grid, QStringLiteral("File name:"), edFile);
    addRow(grid, QStringLiteral("Destination user:"), edUser);
    addRow(grid, QStringLiteral("Destination subfolder:"), edDest);
    layout->addLayout(grid);
    layout->addLayout(okCancel(this, &btOk, &btCancel));
    connect(btOk, &QPushButton::clicked, this, &TfrmHstEnq::btOkClick);
    setFixedSize(sizeHint());
    edUser->setFocus();
}

bool TfrmHstEnq::Execute(const TConsoleServices& services, TQueueItem& job, QWidget* parent) {
    return executeOn<TfrmHstEnq>(services, job, parent);
}

void TfrmHstEnq::btOkClick() {
    mPresenter.setUser(edUser->text());
    mPresenter.setDestination(edDest->text());
    if (mPresenter.btOkClick()) accept();
}

// ---- TfrmRemEnq ----

TfrmRemEnq::TfrmRemEnq(const TConsoleServices& services, const TQueueItem& job, QWidget* parent)
    : QDialog(parent), mPresenter(services, job) {
    setObjectName(QStringLiteral("frmRemEnq"));
    setWindowTitle(QStringLiteral("Enqueue client file"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    edFile = fileField(this, mPresenter.file());
    edUser = lineEdit(this, "edUser");
    edUser->setText(mPresenter.user());
    edPassw = lineEdit(this, "edPassw");
    MakePasswordField(edPassw);
    edPassw->setText(mPresenter.password());
    ckAutoDel = new QCheckBox(QStringLiteral("&Erase after send"), this);
    ckAutoDel->setObjectName(QStringLiteral("ckAutoDel"));
    ckAutoDel->setChecked(mPresenter.autoDelete());
    edDest = lineEdit(this, "edDest");
    edDest->setText(mPresenter.destination());
    cbConn = new QComboBox(this);
    cbConn->setObjectName(QStringLiteral("cbConn"));
    cbConn->setEditable(false);
    cbConn->addItems(mPresenter.connections());
    connect(cbConn, &QComboBox::activated, this, [this](int entry) {
        mPresenter.cbConnSelect(entry);
        followConnection();
    });

    addRow(grid, QStringLiteral("File Name:"), edFile);
    addRow(grid, QStringLiteral("User name:"), edUser);
    addRow(grid, QStringLiteral("Password:"), edPassw);
    grid->addWidget(ckAutoDel, grid->rowCount(), 1);
    addRow(grid, QStringLiteral("Destination subfolder:"), edDest);
    addRow(grid, QStringLiteral("Connection:"), cbConn);

    // The connection parameters: nothing for a cable, the number to dial for a modem.
    nbParams = new QStackedWidget(this);
    nbParams->setObjectName(QStringLiteral("nbParams"));
    pageDirect = new QWidget(nbParams);
    pageDirect->setObjectName(QString::fromLatin1(TRemEnqPresenter::DirectPage));
    pageModem = new QWidget(nbParams);
    pageModem->setObjectName(QString::fromLatin1(TRemEnqPresenter::ModemPage));
    medPhone = lineEdit(pageModem, "medPhone");
    // Digits only; the positions not typed show as blanks.
    medPhone->setInputMask(QString(TRemEnqPresenter::PhoneDigits, '0') + QStringLiteral("; "));
    medPhone->setText(mPresenter.phone());
    auto* modemRow = new QGridLayout(pageModem);
    modemRow->setContentsMargins(0, 0, 0, 0);
    auto* phoneLabel = new QLabel(QStringLiteral("Dest phone #:"), pageModem);
    phoneLabel->setBuddy(medPhone);
    modemRow->addWidget(phoneLabel, 0, 0);
    modemRow->addWidget(medPhone, 0, 1);
    nbParams->addWidget(pageDirect);
    nbParams->addWidget(pageModem);
    grid->addWidget(nbParams, grid->rowCount(), 0, 1, 2);
    // The phone field lines up with the fields above it.
    int captionWidth = 0;
    for (QLabel* caption : findChildren<QLabel*>())
        if (caption->buddy()) captionWidth = std::max(captionWidth, caption->sizeHint().width());
    grid->setColumnMinimumWidth(0, captionWidth);
    modemRow->setColumnMinimumWidth(0, captionWidth);
    layout->addLayout(grid);
    layout->addLayout(okCancel(this, &btOk, &btCancel));
    connect(btOk, &QPushButton::clicked, this, &TfrmRemEnq::btOkClick);
    followConnection();
    setFixedSize(sizeHint());
    edUser->setFocus();
}

bool TfrmRemEnq::Execute(const TConsoleServices& services, TQueueItem& job, QWidget* parent) {
    return executeOn<TfrmRemEnq>(services, job, parent);
}

void TfrmRemEnq::followConnection() {
    cbConn->setCurrentIndex(mPresenter.connection());
    nbParams->setCurrentWidget(mPresenter.paramsPage() == pageModem->objectName() ? pageModem
                                                                                  : pageDirect);
}

void TfrmRemEnq::btOkClick() {
    mPresenter.setUser(edUser->text());
    mPresenter.setPassword(edPassw->text());
    mPresenter.setAutoDelete(ckAutoDel->isChecked());
    mPresenter.setDestination(edDest->text());
    mPresenter.setPhone(medPhone->text());
    if (mPresenter.btOkClick()) accept();
}
