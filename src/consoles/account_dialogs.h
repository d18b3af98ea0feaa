#pragma once
// The logic of the two account dialogs: TfrmHstUsr ("Add / Edit User"), which edits one server
// account for the server options, and TfrmChgPass ("Change Password"), which changes the
// program's access password (MRL_Passw). A view shows the fields, writes the operator's input
// back through the setters and forwards its clicks; every box goes through the prompt.
#include "core/settings.h"
#include "core/status.h"
#include "jobs/users.h"
#include "platform/prompt.h"

#include <QObject>
#include <QString>

// The longest password whose stored (scrambled, twice as long) form fits a 255-byte slot.
constexpr int MaxPasswordBytes = 127;

class TfrmHstUsr : public QObject {
    Q_OBJECT
public:
    // Shows `user` (which the dialog writes into), with the default folders that the "default"
    // choices stand for.
    TfrmHstUsr(TMRLUser& user, const QString& defaultInbox, const QString& defaultOutbox,
               IPrompt& prompt, QObject* parent = nullptr);

    // ---- Fields (edUser, edPass, edPass2, rbDefInbox/rbPrvInbox, edInbox, and the outbox) ----
    const QString& userName() const { return mUserName; }
    void setUserName(const QString& text) { mUserName = text; }
    const QString& password() const { return mPassword; }
    void setPassword(const QString& text) { mPassword = text; }
    const QString& confirmation() const { return mConfirmation; }
    void setConfirmation(const QString& text) { mConfirmation = text; }
    // True: the default folder; false: a private one.
    bool defaultInbox() const { return mDefaultInbox; }
    bool defaultOutbox() const { return mDefaultOutbox; }
    const QString& inbox() const { return mInbox; }
    void setInbox(const QString& text) { mInbox = text; }
    const QString& outbox() const { return mOutbox; }
    void setOutbox(const QString& text) { mOutbox = text; }
    // A folder field can be typed in only when its private folder is chosen.
    bool inboxEnabled() const { return !mDefaultInbox; }
    bool outboxEnabled() const { return !mDefaultOutbox; }

    // ---- Handlers ----
    // rbUseClick: a "default" choice shows the default folder in its field.
    void setDefaultInbox(bool useDefault);
    void setDefaultOutbox(bool useDefault);
    // The folder picker on the field's text; the field takes the chosen folder.
    void btBrowInboxClick();
    void btBrowOutboxClick();
    // Checks, in this order: a user name of 3 characters or more, the confirmation equal to the
    // password, a password of 4 or more, then the inbox and the outbox (an existing folder is
    // taken; a missing one is refused when it is the default and created when it is private).
    // The first failure shows its box and returns false (the dialog stays open). True when the
    // record holds the account.
    bool btOkClick();

Q_SIGNALS:
    // A field or a choice changed through the dialog itself.
    void changed();

private:
    void errorBox(const QString& text);
    // Accepts the folder field (default or private), creating a private folder; false after
    // the box.
    bool acceptFolder(QString& field, bool useDefault, const QString& missingDefault,
                      const QString& cannotCreate, TUserKey key);
    void pickFolder(QString& field);

    TMRLUser& mUser;
    QString mDefaultInboxText;
    QString mDefaultOutboxText;
    IPrompt& mPrompt;
    QString mUserName;
    QString mPassword;
    QString mConfirmation;
    bool mDefaultInbox = true;
    bool mDefaultOutbox = true;
    QString mInbox;
    QString mOutbox;
};

class TfrmChgPass : public QObject {
    Q_OBJECT
public:
    TfrmChgPass(TSettings& settings, TStatusSink& status, IPrompt& prompt,
                QObject* parent = nullptr);

    // edCurrent, edNew, edConfirm.
    void setCurrent(const QString& text) { mCurrent = text; }
    void setNew(const QString& text) { mNew = text; }
    void setConfirm(const QString& text) { mConfirm = text; }

    // Checks, in this order: the current password is the access password, a new password is
    // given, it differs from the current one, and the confirmation equals it. On success
    // MRL_Passw takes the new password and the settings are saved (true: the dialog closes).
    bool btOkClick();

private:
    void box(const QString& text);

    TSettings& mSettings;
    TStatusSink& mStatus;
    IPrompt& mPrompt;
    QString mCurrent;
    QString mNew;
    QString mConfirm;
};
