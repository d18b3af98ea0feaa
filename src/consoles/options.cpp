#include "consoles/options.h"

#include "consoles/console_base.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "platform/appdir.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <utility>

namespace {
QString title() {
    return QString::fromLatin1(ApplicationTitle);
}

// The caption of a stored interval that is not in the list.
QString intervalCaption(int seconds) {
    return seconds % 60 == 0 ? QStringLiteral("%1 min").arg(seconds / 60)
                             : QStringLiteral("%1 sec").arg(seconds);
}
} // namespace

const QList<TBatchInterval>& BatchIntervals() {
    static const QList<TBatchInterval> intervals{{"15 sec", 15},   {"30 sec", 30},  {"1 min", 60},
                                                 {"3 min", 180},   {"5 min", 300},  {"7 min", 420},
                                                 {"10 min", 600},  {"13 min", 780}, {"16 min", 960},
                                                 {"20 min", 1200}, {"30 min", 1800}};
    return intervals;
}

bool UsableFolder(const QString& path, bool create) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || Cut255(path) != path) return false;
    if (QFileInfo(path).isDir()) return true;
    return create && MakePrivateFolder(path) && QFileInfo(path).isDir();
}

// ---- TOptionsBase ----

TOptionsBase::TOptionsBase(const TConsoleServices& services, TDeviceEditor deviceEditor,
                           QObject* parent)
    : QObject(parent), mServices(services), mDeviceEditor(std::move(deviceEditor)),
      mModems(std::make_unique<TModemsList>(services.settings, services.status)),
      mDevices(std::make_unique<TDevicesList>(services.engines)) {
    mModems->CopyFrom(&services.modems);
    mDevices->CopyFrom(services.devices ? services.devices() : nullptr);
    const TSettings& s = services.settings;
    mInbox = s.GetStr(MRL_Inbox);
    mOutbox = s.GetStr(MRL_Outbox);
    mLaunch = s.GetBool(MRL_AutoRun);
    setMaxLogSize(s.GetInt(MRL_MaxLogSize));
}

TOptionsBase::~TOptionsBase() = default;

void TOptionsBase::errorBox(const QString& text) {
    mServices.prompt.MessageBox(text, title(), TBoxIcon::Error, TBoxButtons::Ok);
}

bool TOptionsBase::askYesNo(const QString& text) {
    return mServices.prompt.MessageBox(text, title(), TBoxIcon::Warning, TBoxButtons::YesNo) ==
           TBoxResult::Yes;
}

void TOptionsBase::fillDevices() {
    mDeviceRows.clear();
    for (int i = 0; i < mDevices->Count(); ++i) {
        TDeviceRow row;
        row.checked = deviceChecked(i);
        row.type = mDevices->GetSetting(i, dvkDevType);
        row.name = mDevices->GetSetting(i, dvkDevName);
        row.param = mDevices->GetSetting(i, dvkDevParam);
        row.retries = mDevices->GetSetting(i, dvkDevRetries);
        mDeviceRows << row;
    }
    if (mDeviceSelection >= mDeviceRows.size()) mDeviceSelection = -1;
    Q_EMIT devicesChanged();
}

void TOptionsBase::setDeviceSelection(int row) {
    const int selection = row >= 0 && row < mDeviceRows.size() ? row : -1;
    if (selection == mDeviceSelection) return;
    mDeviceSelection = selection;
    Q_EMIT devicesChanged();
}

void TOptionsBase::btAddDevClick() {
    if (!mDeviceEditor) return;
    mDevices->AddDevice();
    TCommDevice* device = mDevices->GetDevice(mDevices->Count() - 1);
    if (!device) return;
    if (!mDeviceEditor(*mModems, *device)) {
        mDevices->DeleteDevice(mDevices->Count() - 1);
        return;
    }
    fillDevices();
    setDeviceSelection(mDeviceRows.size() - 1);
}

void TOptionsBase::btEditDevClick() {
    if (!mDeviceEditor || mDeviceSelection < 0) return;
    TCommDevice* device = mDevices->GetDevice(mDeviceSelection);
    if (!device || !mDeviceEditor(*mModems, *device)) return;
    fillDevices();
}

void TOptionsBase::btDelDevClick() {
    if (mDeviceSelection < 0) return;
    if (!askYesNo(QStringLiteral("Are you sure you want to delete the selected device?"))) return;
    mDevices->DeleteDevice(mDeviceSelection);
    mDeviceSelection = -1;
    fillDevices();
}

void TOptionsBase::lvConnKeyDown(Qt::Key key) {
    if (key == Qt::Key_Delete && mDeviceSelection >= 0) btDelDevClick();
}

void TOptionsBase::pickFolder(QString& field) {
    const QString chosen = mServices.prompt.PickFolder(field);
    if (chosen.isEmpty()) return;
    field = chosen;
    Q_EMIT fieldsChanged();
}

void TOptionsBase::btInClick() {
    pickFolder(mInbox);
}

void TOptionsBase::btOutClick() {
    pickFolder(mOutbox);
}

bool TOptionsBase::checkFolders(bool create) {
    mInbox = PathCase(mInbox).trimmed();
    mOutbox = PathCase(mOutbox).trimmed();
    Q_EMIT fieldsChanged();
    if (!UsableFolder(mInbox, create)) {
        errorBox(QStringLiteral("Invalid INBOX path specified."));
        return false;
    }
    if (!UsableFolder(mOutbox, create)) {
        errorBox(QStringLiteral("Invalid OUTBOX path specified."));
        return false;
    }
    return true;
}

void TOptionsBase::takeOverModems() {
    mServices.modems.CopyFrom(mModems.get());
}

void TOptionsBase::takeOverDevices() {
    if (TDevicesList* devices = mServices.devices ? mServices.devices() : nullptr)
        devices->CopyFrom(mDevices.get());
}

// ---- TfrmHstOpt ----

TfrmHstOpt::TfrmHstOpt(const TConsoleServices& services, TDeviceEditor deviceEditor,
                       TUserEditor userEditor, QObject* parent)
    : TOptionsBase(services, std::move(deviceEditor), parent), mUserEditor(std::move(userEditor)),
      mUsers(std::make_unique<TUsersList>(services.settings, services.status)) {
    if (services.users) mUsers->CopyFrom(&services.users());
    const TSettings& s = services.settings;
    setAutoDelivery(s.GetBool(SVR_AutoDelivery));
    mNotification = s.GetBool(SVR_PopupNotification);
    setSessionTimeout(s.GetInt(SVR_SessionTimeout));
    fillDevices();
    fillUsers();
}

TfrmHstOpt::~TfrmHstOpt() = default;

bool TfrmHstOpt::deviceChecked(int index) {
    return devices().GetSetting(index, dvkDevHostActive) == QLatin1String("YES");
}

void TfrmHstOpt::lvConnChange(int row, bool checked) {
    if (row < 0 || row >= deviceRows().size()) return;
    // Kept in the copy at once, so that a refill (after adding or editing a device) shows it.
    devices().PutSetting(row, dvkDevHostActive, QString::fromLatin1(NoYes[checked ? 1 : 0]));
    fillDevices();
}

void TfrmHstOpt::fillUsers() {
    mUserRows.clear();
    for (int i = 0; i < mUsers->Count(); ++i)
        mUserRows << QStringList{mUsers->GetSetting(i, ukUser), mUsers->GetSetting(i, ukInbox),
                                 mUsers->GetSetting(i, ukOutbox)};
    if (mUserSelection >= mUserRows.size()) mUserSelection = -1;
    Q_EMIT usersChanged();
}

void TfrmHstOpt::setUserSelection(int row) {
    const int selection = row >= 0 && row < mUserRows.size() ? row : -1;
    if (selection == mUserSelection) return;
    mUserSelection = selection;
    Q_EMIT usersChanged();
}

void TfrmHstOpt::btNewUserClick() {
    if (!mUserEditor) return;
    TMRLUser user;
    mUsers->EmptyItem(user);
    if (!mUserEditor(user, inbox(), outbox())) return;
    if (mUsers->SearchItem(user[ukUser].StrValue, QString()) >= 0) {
        errorBox(QStringLiteral("This user name already exists!"));
        return;
    }
    mUsers->SetItem(mUsers->Count(), &user);
    fillUsers();
    setUserSelection(mUserRows.size() - 1);
}

void TfrmHstOpt::btEditUserClick() {
    if (!mUserEditor || mUserSelection < 0) return;
    const TMRLUser* selected = mUsers->GetItem(mUserSelection);
    if (!selected) return;
    TMRLUser user = *selected;
    if (!mUserEditor(user, inbox(), outbox())) return;
    const int found = mUsers->SearchItem(user[ukUser].StrValue, QString());
    if (found >= 0 && found != mUserSelection) {
        errorBox(QStringLiteral("This user name already exists!"));
        return;
    }
    mUsers->SetItem(mUserSelection, &user);
    fillUsers();
}

void TfrmHstOpt::btDelUserClick() {
    if (mUserSelection < 0) return;
    if (!askYesNo(QStringLiteral("Are you sure you want to delete the selected user?"))) return;
    const TMRLUser* user = mUsers->GetItem(mUserSelection);
    if (!user) return;
    // The file of the account as stored, and the one a rename would have written.
    if (!user->FileName.isEmpty()) mDeletedUserFiles << user->FileName;
    mDeletedUserFiles << mUsers->UserFilePath((*user)[ukUser].StrValue);
    mUsers->DeleteItem(mUserSelection, false);
    mUserSelection = -1;
    fillUsers();
}

void TfrmHstOpt::lvUserKeyDown(Qt::Key key) {
    if (key == Qt::Key_Delete && mUserSelection >= 0) btDelUserClick();
}

bool TfrmHstOpt::btOkClick() {
    // Both folders are checked before anything is taken over, so that an OK that fails leaves
    // the settings as they were.
    if (!checkFolders(true)) return false;
    TSettings& s = settings();
    s.PutStr(MRL_Inbox, inbox());
    s.PutStr(MRL_Outbox, outbox());
    s.PutBool(MRL_AutoRun, launch());
    s.PutBool(SVR_AutoDelivery, autoDelivery());
    s.PutBool(SVR_PopupNotification, mNotification);
    s.PutInt(SVR_SessionTimeout, mSessionTimeout);
    s.PutInt(MRL_MaxLogSize, maxLogSize());

    for (int i = 0; i < mUsers->Count(); ++i) {
        if (mUsers->GetSetting(i, ukUseGlobalInbox) != QLatin1String("0"))
            mUsers->PutSetting(i, ukInbox, s.GetStr(MRL_Inbox));
        if (mUsers->GetSetting(i, ukUseGlobalOutbox) != QLatin1String("0"))
            mUsers->PutSetting(i, ukOutbox, s.GetStr(MRL_Outbox));
    }

    takeOverModems();
    takeOverDevices();
    if (TDevicesList* list = services().devices ? services().devices() : nullptr) list->Save();
    services().modems.Save();
    if (services().users) {
        TUsersList& users = services().users();
        users.CopyFrom(mUsers.get());
        users.Save();
        // A deleted account's file goes, unless an account of the list owns it again.
        QStringList owned;
        for (int i = 0; i < users.Count(); ++i)
            owned << users.UserFilePath(users.GetSetting(i, ukUser));
        for (const QString& file : std::as_const(mDeletedUserFiles))
            if (!file.isEmpty() && !owned.contains(file) && QFile::exists(file) &&
                !QFile::remove(file))
                services().status.Add("!TfrmHstOpt.btOkClick: cannot delete " + file);
    }
    s.Save(services().prompt, services().status);
    return true;
}

// ---- TfrmRemOpt ----

TfrmRemOpt::TfrmRemOpt(const TConsoleServices& services, TDeviceEditor deviceEditor,
                       QObject* parent)
    : TOptionsBase(services, std::move(deviceEditor), parent), mIntervals(BatchIntervals()) {
    const TSettings& s = services.settings;
    setAutoDelivery(s.GetBool(CLI_AutoDelivery));
    mDropFailed = s.GetBool(CLI_DropFailed);
    setBatchTimeout(s.GetInt(CLI_BatchTimeOutMin));
    mActiveDevice = s.GetStr(CLI_ActiveDevice);

    // A stored interval outside the list (set in the file by hand) is offered as it is, so that
    // OK does not change the delivery timing behind the operator's back; one that is no positive
    // number of seconds shows the first entry.
    const int seconds = s.GetInt(CLI_BatchIntSec);
    auto at = std::find_if(mIntervals.begin(), mIntervals.end(),
                           [seconds](const TBatchInterval& i) { return i.seconds >= seconds; });
    mIntervalIndex = 0;
    if (at != mIntervals.end() && at->seconds == seconds) {
        mIntervalIndex = int(at - mIntervals.begin());
    } else if (seconds > 0) {
        at = mIntervals.insert(at, TBatchInterval{intervalCaption(seconds), seconds});
        mIntervalIndex = int(at - mIntervals.begin());
    }
    fillDevices();
}

QStringList TfrmRemOpt::batchIntervalCaptions() const {
    QStringList captions;
    for (const TBatchInterval& interval : mIntervals)
        captions << interval.caption;
    return captions;
}

void TfrmRemOpt::setBatchIntervalIndex(int index) {
    if (index >= 0 && index < mIntervals.size()) mIntervalIndex = index;
}

int TfrmRemOpt::batchIntervalSeconds() const {
    return mIntervals.value(mIntervalIndex, mIntervals.first()).seconds;
}

bool TfrmRemOpt::deviceChecked(int index) {
    return !mActiveDevice.isEmpty() && devices().GetSetting(index, dvkDevGUID) == mActiveDevice;
}

void TfrmRemOpt::lvConnChange(int row, bool checked) {
    if (row < 0 || row >= deviceRows().size()) return;
    const QString guid = devices().GetSetting(row, dvkDevGUID);
    if (checked)
        mActiveDevice = guid;
    else if (guid == mActiveDevice)
        mActiveDevice.clear();
    // The rows follow the working identifier: the checked device alone shows checked.
    fillDevices();
}

bool TfrmRemOpt::btOkClick() {
    if (!checkFolders(false)) return false;
    TSettings& s = settings();
    s.PutStr(MRL_Inbox, inbox());
    s.PutStr(MRL_Outbox, outbox());
    s.PutBool(MRL_AutoRun, launch());
    s.PutBool(CLI_AutoDelivery, autoDelivery());
    s.PutBool(CLI_DropFailed, mDropFailed);
    s.PutInt(CLI_BatchIntSec, batchIntervalSeconds());
    s.PutInt(CLI_BatchTimeOutMin, mBatchTimeout);
    s.PutInt(MRL_MaxLogSize, maxLogSize());
    // The default connection is the checked device: none when the identifier names no device
    // any more (deleted, or reconfigured to another port or modem).
    bool named = false;
    for (int i = 0; i < devices().Count() && !named; ++i)
        named = deviceChecked(i);
    s.PutStr(CLI_ActiveDevice, named ? mActiveDevice : QString());

    takeOverModems();
    takeOverDevices();
    services().modems.Save();
    if (TDevicesList* list = services().devices ? services().devices() : nullptr) list->Save();
    s.Save(services().prompt, services().status);
    return true;
}
