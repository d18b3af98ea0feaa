#include "gui/account_dialogs.h"

#include "gui/desktop_prompt.h"
#include "gui/widget_helpers.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QLineEdit* lineEdit(const QString& name, bool secret, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (secret) MakePasswordField(edit);
    return edit;
}

// OK (the default button) and Cancel, right-aligned.
QHBoxLayout* okCancel(QDialog* dialog, const QString& cancelCaption, QPushButton** ok) {
    *ok = new QPushButton(QStringLiteral("&OK"), dialog);
    (*ok)->setObjectName(QStringLiteral("btOk"));
    (*ok)->setDefault(true);
    auto* cancel = new QPushButton(cancelCaption, dialog);
    cancel->setObjectName(QStringLiteral("btCancel"));
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(*ok);
    row->addWidget(cancel);
    return row;
}

void setTextIfChanged(QLineEdit* edit, const QString& text) {
    if (edit->text() == text) return;
    edit->setText(text);
    // A long path shows from its start (the folder it lies in), not from its end, until the
    // operator edits it.
    if (!edit->hasFocus()) edit->setCursorPosition(0);
}
} // namespace

// ---- TfrmHstUsrDialog ----

TfrmHstUsrDialog::TfrmHstUsrDialog(TfrmHstUsr& user, QWidget* parent)
    : QDialog(parent), mUser(user) {
    setObjectName(QStringLiteral("frmHstUsr"));
    setWindowTitle(QStringLiteral("Add / Edit User"));

    auto* identification = new QGroupBox(QStringLiteral(" Identification: "), this);
    auto* grid = new QGridLayout(identification);
    edUser = lineEdit(QStringLiteral("edUser"), false, identification);
    edPass = lineEdit(QStringLiteral("edPass"), true, identification);
    edPass2 = lineEdit(QStringLiteral("edPass2"), true, identification);
    int row = 0;
    for (auto [caption, edit] : {std::pair{QStringLiteral("User Name:"), edUser},
                                 std::pair{QStringLiteral("Password:"), edPass},
                                 std::pair{QStringLiteral("Confirmation:"), edPass2}}) {
        auto* label = new QLabel(caption, identification);
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    }

    QWidget* inbox = makeFolderGroup(QStringLiteral(" Inbox folder: "), QStringLiteral("inbox"),
                                     QStringLiteral("Inbox"), mInbox);
    QWidget* outbox = makeFolderGroup(QStringLiteral(" Outbox folder: "), QStringLiteral("outbox"),
                                      QStringLiteral("Outbox"), mOutbox);

    QPushButton* ok = nullptr;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(identification);
    layout->addWidget(inbox);
    layout->addWidget(outbox);
    layout->addLayout(okCancel(this, QStringLiteral("&Cancel"), &ok));

    edUser->setText(user.userName());
    edPass->setText(user.password());
    edPass2->setText(user.confirmation());
    connect(edUser, &QLineEdit::textEdited, this,
            [this](const QString& t) { mUser.setUserName(t); });
    connect(edPass, &QLineEdit::textEdited, this,
            [this](const QString& t) { mUser.setPassword(t); });
    connect(edPass2, &QLineEdit::textEdited, this,
            [this](const QString& t) { mUser.setConfirmation(t); });
    connect(mInbox.edit, &QLineEdit::textEdited, this,
            [this](const QString& t) { mUser.setInbox(t); });
    connect(mOutbox.edit, &QLineEdit::textEdited, this,
            [this](const QString& t) { mUser.setOutbox(t); });
    connect(mInbox.def, &QRadioButton::clicked, this, [this]() { mUser.setDefaultInbox(true); });
    connect(mInbox.prv, &QRadioButton::clicked, this, [this]() { mUser.setDefaultInbox(false); });
    connect(mOutbox.def, &QRadioButton::clicked, this, [this]() { mUser.setDefaultOutbox(true); });
    connect(mOutbox.prv, &QRadioButton::clicked, this, [this]() { mUser.setDefaultOutbox(false); });
    connect(mInbox.browse, &QPushButton::clicked, this, [this]() { mUser.btBrowInboxClick(); });
    connect(mOutbox.browse, &QPushButton::clicked, this, [this]() { mUser.btBrowOutboxClick(); });
    connect(ok, &QPushButton::clicked, this, &TfrmHstUsrDialog::okClicked);
    connect(&user, &TfrmHstUsr::changed, this, &TfrmHstUsrDialog::follow);
    follow();
}

QWidget* TfrmHstUsrDialog::makeFolderGroup(const QString& caption, const QString& kind,
                                           const QString& name, TFolderGroup& folder) {
    auto* group = new QGroupBox(caption, this);
    auto* def = new QRadioButton(QStringLiteral("Use default %1 folder").arg(kind), group);
    def->setObjectName("rbDef" + name);
    auto* prv = new QRadioButton(QStringLiteral("Create private %1 subfolder").arg(kind), group);
    prv->setObjectName("rbPrv" + name);
    auto* choice = new QButtonGroup(group);
    choice->addButton(def);
    choice->addButton(prv);
    auto* edit = lineEdit(QString(), false, group);
    edit->setObjectName("ed" + name);
    // Wide enough for a folder path such as the default folder.
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 48);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), group);
    browse->setObjectName("btBrow" + name);
    auto* label =
        new QLabel(QStringLiteral("Enter the full path of the user's %1 folder:").arg(kind), group);
    label->setBuddy(edit);
    auto* path = new QHBoxLayout;
    path->addWidget(edit, 1);
    path->addWidget(browse);
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(def);
    layout->addWidget(prv);
    layout->addWidget(label);
    layout->addLayout(path);
    folder = {def, prv, edit, browse};
    return group;
}

void TfrmHstUsrDialog::followFolder(const TFolderGroup& folder, bool isDefault, bool enabled,
                                    const QString& path) {
    folder.def->setChecked(isDefault);
    folder.prv->setChecked(!isDefault);
    folder.edit->setEnabled(enabled);
    // A folder that cannot be typed cannot be browsed for either.
    folder.browse->setEnabled(enabled);
    setTextIfChanged(folder.edit, path);
}

void TfrmHstUsrDialog::follow() {
    followFolder(mInbox, mUser.defaultInbox(), mUser.inboxEnabled(), mUser.inbox());
    followFolder(mOutbox, mUser.defaultOutbox(), mUser.outboxEnabled(), mUser.outbox());
}

void TfrmHstUsrDialog::okClicked() {
    mUser.setUserName(edUser->text());
    mUser.setPassword(edPass->text());
    mUser.setConfirmation(edPass2->text());
    mUser.setInbox(mInbox.edit->text());
    mUser.setOutbox(mOutbox.edit->text());
    const bool ok = mUser.btOkClick();
    follow();
    if (ok) accept();
}

// ---- TfrmChgPassDialog ----

TfrmChgPassDialog::TfrmChgPassDialog(TfrmChgPass& password, QWidget* parent)
    : QDialog(parent), mPassword(password) {
    setObjectName(QStringLiteral("frmChgPass"));
    setWindowTitle(QStringLiteral("Change Password"));

    auto* grid = new QGridLayout;
    edCurrent = lineEdit(QStringLiteral("edCurrent"), true, this);
    edNew = lineEdit(QStringLiteral("edNew"), true, this);
    edConfirm = lineEdit(QStringLiteral("edConfirm"), true, this);
    int row = 0;
    for (auto [caption, edit] : {std::pair{QStringLiteral("Current Password:"), edCurrent},
                                 std::pair{QStringLiteral("New Password:"), edNew},
                                 std::pair{QStringLiteral("Confirm Password:"), edConfirm}}) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    }
    QPushButton* ok = nullptr;
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(okCancel(this, QStringLiteral("Cancel"), &ok));
    connect(ok, &QPushButton::clicked, this, &TfrmChgPassDialog::okClicked);
    setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

void TfrmChgPassDialog::okClicked() {
    mPassword.setCurrent(edCurrent->text());
    mPassword.setNew(edNew->text());
    mPassword.setConfirm(edConfirm->text());
    if (mPassword.btOkClick()) accept();
}

// ---- Opening ----

bool EditUser(TMRLUser& user, const QString& defaultInbox, const QString& defaultOutbox,
              IPrompt& prompt, QWidget* parent) {
    TfrmHstUsr presenter(user, defaultInbox, defaultOutbox, prompt);
    TfrmHstUsrDialog dialog(presenter, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool ShowChangePassword(TSettings& settings, TStatusSink& status, IPrompt& prompt,
                        QWidget* parent) {
    TfrmChgPass presenter(settings, status, prompt);
    TfrmChgPassDialog dialog(presenter, parent);
    return dialog.exec() == QDialog::Accepted;
}
