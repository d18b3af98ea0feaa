#include "gui/login_dialog.h"

#include "core/helpers.h"
#include "core/settings.h"
#include "gui/widget_helpers.h"
#include "platform/prompt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmLogin::TfrmLogin(const QString& scrambledPassword, IPrompt& prompt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      mScrambled(scrambledPassword), mPrompt(prompt) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Marrowline Security"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Enter access password:"), this);
    layout->addWidget(heading);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Password:"), this);
    mPassword = new QLineEdit(this);
    mPassword->setObjectName(QStringLiteral("edPass"));
    MakePasswordField(mPassword);
    label->setBuddy(mPassword);
    row->addWidget(label);
    row->addWidget(mPassword, 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOk"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("btCancel"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &TfrmLogin::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
}

void TfrmLogin::okClicked() {
    if (ScramblePassword(mPassword->text()) != mScrambled) {
        mPrompt.MessageBox(QStringLiteral("Wrong password!"), QString::fromLatin1(ApplicationTitle),
                           TBoxIcon::Error, TBoxButtons::Ok);
        reject();
        return;
    }
    accept();
}

void TfrmLogin::takeFocus() {
    raise();
    activateWindow();
    mPassword->setFocus();
}

void TfrmLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    takeFocus();
}

void TfrmLogin::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    takeFocus();
}
