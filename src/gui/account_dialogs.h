#pragma once
// The account dialogs: TfrmHstUsr "Add / Edit User" and TfrmChgPass "Change Password" over their
// presenters (consoles/account_dialogs.h).
#include "consoles/account_dialogs.h"
#include "gui/desktop_prompt.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

class TfrmHstUsrDialog : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHstUsrDialog(TfrmHstUsr& user, QWidget* parent = nullptr);

private:
    // One of the two folder groups; returns the group.
    QWidget* makeFolderGroup(const QString& caption, const QString& kind, QRadioButton*& def,
                             QRadioButton*& prv, QLineEdit*& edit, QPushButton*& browse);
    void follow();
    void okClicked();

    TfrmHstUsr& mUser;
    QLineEdit* edUser = nullptr;
    QLineEdit* edPass = nullptr;
    QLineEdit* edPass2 = nullptr;
    QRadioButton* rbDefInbox = nullptr;
    QRadioButton* rbPrvInbox = nullptr;
    QLineEdit* edInbox = nullptr;
    QPushButton* btBrowInbox = nullptr;
    QRadioButton* rbDefOutbox = nullptr;
    QRadioButton* rbPrvOutbox = nullptr;
    QLineEdit* edOutbox = nullptr;
    QPushButton* btBrowOutbox = nullptr;
};

class TfrmChgPassDialog : public QDialog {
    Q_OBJECT
public:
    explicit TfrmChgPassDialog(TfrmChgPass& password, QWidget* parent = nullptr);

private:
    void okClicked();

    TfrmChgPass& mPassword;
    QLineEdit* edCurrent = nullptr;
    QLineEdit* edNew = nullptr;
    QLineEdit* edConfirm = nullptr;
};

// Edits one account in TfrmHstUsr, shown modally; true on OK (the record then holds it).
bool EditUser(TMRLUser& user, const QString& defaultInbox, const QString& defaultOutbox,
              IPrompt& prompt, QWidget* parent);
// Shows TfrmChgPass modally; true when the access password was changed and saved.
bool ShowChangePassword(TSettings& settings, TStatusSink& status, IPrompt& prompt, QWidget* parent);
