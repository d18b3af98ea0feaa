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
    // The controls of one of the two folder groups: the default or a private folder, the folder's
    // path and its browse button.
    struct TFolderGroup {
        QRadioButton* def = nullptr;
        QRadioButton* prv = nullptr;
        QLineEdit* edit = nullptr;
        QPushButton* browse = nullptr;
    };

    // One of the two folder groups, its controls named after `name` (rbDefInbox, edInbox,
    // btBrowInbox for "Inbox"); returns the group.
    QWidget* makeFolderGroup(const QString& caption, const QString& kind, const QString& name,
                             TFolderGroup& folder);
    // A folder group as the presenter has it: the default or not, whether its path can be typed
    // (and browsed for), its path.
    static void followFolder(const TFolderGroup& folder, bool isDefault, bool enabled,
                             const QString& path);
    void follow();
    void okClicked();

    TfrmHstUsr& mUser;
    QLineEdit* edUser = nullptr;
    QLineEdit* edPass = nullptr;
    QLineEdit* edPass2 = nullptr;
    TFolderGroup mInbox;
    TFolderGroup mOutbox;
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
