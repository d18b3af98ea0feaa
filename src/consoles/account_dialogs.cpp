#include "consoles/account_dialogs.h"

#include "consoles/options.h"
#include "core/helpers.h"
#include "platform/paths.h"

namespace {
QString title() {
    return QString::fromLatin1(ApplicationTitle);
}

bool tooLong(const QString& password) {
    return password.toUtf8().size() > MaxPasswordBytes;
}
} // namespace

// ---- TfrmHstUsr ----

TfrmHstUsr::TfrmHstUsr(TMRLUser& user, const QString& defaultInbox, const QString& defaultOutbox,
                       IPrompt& prompt, QObject* parent)
    : QObject(parent), mUser(user), mDefaultInboxText(defaultInbox),
      mDefaultOutboxText(defaultOutbox), mPrompt(prompt) {
    mUserName = user[ukUser].StrValue;
    mPassword = mConfirmation = UnscramblePassword(user[ukPassw].StrValue);
    mDefaultInbox = user[ukUseGlobalInbox].BoolValue;
    mDefaultOutbox = user[ukUseGlobalOutbox].BoolValue;
    mInbox = user[ukInbox].StrValue;
    mOutbox = user[ukOutbox].StrValue;
    setDefaultInbox(mDefaultInbox);
    setDefaultOutbox(mDefaultOutbox);
}

void TfrmHstUsr::setDefaultInbox(bool useDefault) {
    mDefaultInbox = useDefault;
    if (useDefault) mInbox = mDefaultInboxText;
    Q_EMIT changed();
}

void TfrmHstUsr::setDefaultOutbox(bool useDefault) {
    mDefaultOutbox = useDefault;
    if (useDefault) mOutbox = mDefaultOutboxText;
    Q_EMIT changed();
}

void TfrmHstUsr::pickFolder(QString& field) {
    const QString chosen = mPrompt.PickFolder(field);
    if (chosen.isEmpty()) return;
    field = chosen;
    Q_EMIT changed();
}

void TfrmHstUsr::btBrowInboxClick() {
    pickFolder(mInbox);
}

void TfrmHstUsr::btBrowOutboxClick() {
    pickFolder(mOutbox);
}

void TfrmHstUsr::errorBox(const QString& text) {
    mPrompt.MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool TfrmHstUsr::acceptFolder(QString& field, bool useDefault, const QString& missingDefault,
                              const QString& cannotCreate, TUserKey key) {
    const QString path = PathCase(field).trimmed();
    if (!UsableFolder(path, false)) {
        if (useDefault) {
            errorBox(missingDefault);
            return false;
        }
        // An empty or relative field names no folder to create.
        if (!UsableFolder(path, true)) {
            errorBox(cannotCreate);
            return false;
        }
    }
    field = path;
    mUser[key].SetStr(path);
    return true;
}

bool TfrmHstUsr::btOkClick() {
    if (mUserName.trimmed().size() < 3) {
        errorBox(QStringLiteral("User name must contain at least 3 characters!"));
        return false;
    }
    // Stored as the user file keeps it, so that the duplicate check of the options dialog finds
    // it before the accounts have been saved and read again.
    mUser[ukUser].SetStr(mUserName.toUpper().trimmed());
    if (mPassword != mConfirmation) {
        errorBox(QStringLiteral("Confirmation password does not match!"));
        return false;
    }
    if (mPassword.trimmed().size() < 4) {
        errorBox(QStringLiteral("Password must contain at least 4 characters!"));
        return false;
    }
    // A longer one would be cut when stored and never match at log-on.
    if (tooLong(mConfirmation)) {
        errorBox(
            QStringLiteral("Password must contain at most %1 characters!").arg(MaxPasswordBytes));
        return false;
    }
    mUser[ukPassw].SetStr(ScramblePassword(mConfirmation));
    mUser[ukUseGlobalInbox].BoolValue = mDefaultInbox;
    mUser[ukUseGlobalOutbox].BoolValue = mDefaultOutbox;
    if (!acceptFolder(mInbox, mDefaultInbox, QStringLiteral("Default INBOX path does not exist!"),
                      QStringLiteral("Cannot create the INBOX path!"), ukInbox))
        return false;
    if (!acceptFolder(mOutbox, mDefaultOutbox,
                      QStringLiteral("Default OUTBOX path does not exist!"),
                      QStringLiteral("Cannot create the OUTBOX path!"), ukOutbox))
        return false;
    return true;
}

// ---- TfrmChgPass ----

TfrmChgPass::TfrmChgPass(TSettings& settings, TStatusSink& status, IPrompt& prompt, QObject* parent)
    : QObject(parent), mSettings(settings), mStatus(status), mPrompt(prompt) {}

void TfrmChgPass::box(const QString& text) {
    mPrompt.MessageBox(text, title(), TBoxIcon::None, TBoxButtons::Ok);
}

bool TfrmChgPass::btOkClick() {
    if (ScramblePassword(mCurrent) != mSettings.GetStr(MRL_Passw)) {
        box(QStringLiteral("Invalid current password!"));
        return false;
    }
    // A password too long to be stored whole could never be typed back at the login.
    if (mNew.isEmpty() || tooLong(mNew)) {
        box(QStringLiteral("Invalid new password!"));
        return false;
    }
    if (mNew == mCurrent) {
        box(QStringLiteral("New password is the same as the current one!"));
        return false;
    }
    if (mNew != mConfirm) {
        box(QStringLiteral("Specified passwords don't match! Please type again."));
        return false;
    }
    mSettings.PutStr(MRL_Passw, ScramblePassword(mNew));
    mSettings.Save(mPrompt, mStatus);
    return true;
}
