#include "consoles/enqueue_dialogs.h"

#include "consoles/enqueue.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "platform/paths.h"
#include "platform/prompt.h"

// ---- THstEnqPresenter ----

THstEnqPresenter::THstEnqPresenter(const TConsoleServices& services, const TQueueItem& job)
    : mServices(services), mJob(job), mFile(Get(job, qkSrcFile)) {}

bool THstEnqPresenter::btOkClick() {
    return mServices.status.Guarded("TfrmHstEnq", "btOkClick", false, [&]() {
        return PrepareHostJob(mServices, mJob, mFile, mUser, mDestination);
    });
}

// ---- TRemEnqPresenter ----

TRemEnqPresenter::TRemEnqPresenter(const TConsoleServices& services, const TQueueItem& job)
    : mServices(services), mJob(job), mFile(Get(job, qkSrcFile)) {
    mServices.status.Guarded("TfrmRemEnq", "FormShow", false, [&]() {
        // The one connection offered is the default one: the first device with its identifier.
        TDevicesList* devices = mServices.devices ? mServices.devices() : nullptr;
        const QString active = mServices.settings.GetStr(CLI_ActiveDevice);
        for (int i = 0; devices && i < devices->Count(); ++i) {
            if (devices->GetSetting(i, dvkDevGUID) != active) continue;
            mDevices << TConnection{devices->GetSetting(i, dvkDevName),
                                    devices->GetSetting(i, dvkDevGUID),
                                    devices->GetSetting(i, dvkDevType)};
            cbConnSelect(0);
            break;
        }
        return true;
    });
}

QStringList TRemEnqPresenter::connections() const {
    QStringList names;
    for (const TConnection& device : mDevices)
        names << device.name;
    return names;
}

void TRemEnqPresenter::setPhone(const QString& phone) {
    QString digits;
    for (QChar c : phone)
        if (c >= '0' && c <= '9' && digits.size() < PhoneDigits) digits += c;
    mPhone = digits;
}

void TRemEnqPresenter::cbConnSelect(int entry) {
    mConnection = entry >= 0 && entry < mDevices.size() ? entry : -1;
    if (mConnection < 0) return;
    // A type without a page of its own leaves the page shown as it was.
    const QString type = mDevices[mConnection].type;
    if (type == DirectPage || type == ModemPage) mParamsPage = type;
}

void TRemEnqPresenter::errorBox(const QString& text) {
    mServices.prompt.MessageBox(text, QString::fromLatin1(ApplicationTitle), TBoxIcon::Error,
                                TBoxButtons::Ok);
}

bool TRemEnqPresenter::btOkClick() {
    return mServices.status.Guarded("TfrmRemEnq", "btOkClick", false, [&]() {
        Put(mJob, qkAutoDel, QString::fromLatin1(NoYes[mAutoDelete ? 1 : 0]));
        // As typed; stored with '\' as separator like every relative path of a job.
        Put(mJob, qkDestPath, StoredPath(mDestination));

        if (mUser.trimmed().isEmpty()) {
            errorBox(QStringLiteral("Invalid user name!"));
            return false;
        }
        Put(mJob, qkUser, mUser);

        // Blanks around a password belong to it.
        if (mPassword.trimmed().isEmpty()) {
            errorBox(QStringLiteral("Invalid password!"));
            return false;
        }
        Put(mJob, qkPassw, ScramblePassword(mPassword));

        if (mConnection < 0) {
            errorBox(QStringLiteral("No default connection! Please set a connection device as "
                                    "active."));
            return false;
        }
        const TConnection& device = mDevices[mConnection];
        if (device.name.trimmed().isEmpty()) {
            errorBox(QStringLiteral("The selected connection has an invalid name!\r\nPlease check "
                                    "the connection properties in the \"Options\" dialog."));
            return false;
        }
        Put(mJob, qkCommName, device.name);
        if (device.guid.trimmed().isEmpty()) {
            errorBox(QStringLiteral("The selected connection has an invalid identifier!\r\nPlease "
                                    "check the connection properties in the \"Options\" dialog."));
            return false;
        }
        Put(mJob, qkCommGUID, device.guid);

        if (mParamsPage == ModemPage) {
            if (mPhone.trimmed().isEmpty()) {
                errorBox(QStringLiteral("Invalid Server Phone No.!"));
                return false;
            }
            Put(mJob, qkCommParam, mPhone.trimmed());
        } else {
            Put(mJob, qkCommParam, QString());
        }
        return true;
    });
}
