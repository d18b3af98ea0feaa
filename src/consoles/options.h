#pragma once
// The options dialogs' logic: TfrmHstOpt ("Server Options") and TfrmRemOpt ("Client
// Configuration"). Each works on private copies of the modem catalogue and the device list (the
// server also of the user accounts), made when it is created, and hands them and the settings
// back only on OK. A view shows the fields, rows and selections, writes the operator's input
// back through the setters and forwards clicks to the handlers; every box goes through the
// prompt.
#include "consoles/console_services.h"
#include "engine/devices.h"
#include "jobs/users.h"
#include "serial/modems.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Edits one device of the dialog's device-list copy with the dialog's modem-list copy (the
// device configuration dialog); both change only when it returns true (OK).
using TDeviceEditor = std::function<bool(TModemsList& modems, TCommDevice& device)>;
// Edits one account (the user dialog) with the dialog's current Inbox and Outbox as the
// default folders; writes into the record and returns true on OK.
using TUserEditor =
    std::function<bool(TMRLUser& user, const QString& defaultInbox, const QString& defaultOutbox)>;

// An entry of the batch-interval list and the seconds stored for it.
struct TBatchInterval {
    QString caption;
    int seconds;
};
// The eleven fixed entries, "15 sec" (15) to "30 min" (1800).
const QList<TBatchInterval>& BatchIntervals();

// An inclusive range of a number field.
struct TNumberRange {
    int minimum;
    int maximum;
    int step;
    // The value brought into the range.
    int bound(int value) const {
        return value < minimum ? minimum : value > maximum ? maximum : value;
    }
};
constexpr TNumberRange MaxLogRange{10000, 5000000, 10000};
constexpr TNumberRange TimeoutRange{1, 30, 1}; // session and batch time-outs, in minutes

// A typed folder the dialogs accept: absolute (a relative one would depend on the program's
// working folder), not longer than a setting holds, and existing as a folder, or, with `create`,
// made with its missing parents.
bool UsableFolder(const QString& path, bool create);

// One row of lvConn: the check box and the columns "Type", "Device", "Parameters", "Retries".
struct TDeviceRow {
    bool checked = false;
    QString type;
    QString name;
    QString param;
    QString retries;
};

// What both options dialogs share: the copies, the common fields, the device list with its
// buttons, the folder buttons.
class TOptionsBase : public QObject {
    Q_OBJECT
public:
    ~TOptionsBase() override;

    // The dialog's copies.
    TModemsList& modems() { return *mModems; }
    TDevicesList& devices() { return *mDevices; }

    // ---- Fields (edIn, edOut, ckLaunch, ckAutoDeliv, spMaxlog) ----
    const QString& inbox() const { return mInbox; }
    void setInbox(const QString& text) { mInbox = text; }
    const QString& outbox() const { return mOutbox; }
    void setOutbox(const QString& text) { mOutbox = text; }
    bool launch() const { return mLaunch; }
    void setLaunch(bool on) { mLaunch = on; }
    bool autoDelivery() const { return mAutoDelivery; }
    void setAutoDelivery(bool on) { mAutoDelivery = on; }
    int maxLogSize() const { return mMaxLogSize; }
    void setMaxLogSize(int value) { mMaxLogSize = MaxLogRange.bound(value); }

    // ---- The device list ----
    const QList<TDeviceRow>& deviceRows() const { return mDeviceRows; }
    // The selected row, -1 for none.
    int deviceSelection() const { return mDeviceSelection; }
    void setDeviceSelection(int row);
    // False when no device editor was given: Add and Edit do nothing.
    bool canEditDevices() const { return bool(mDeviceEditor); }

    // ---- Handlers ----
    // Add (a new device, removed again when its editing is cancelled) and Edit (the selected
    // device).
    void btAddDevClick();
    void btEditDevClick();
    // Deletes the selected device after the question.
    void btDelDevClick();
    // The Delete key does what btDelDevClick does.
    void lvConnKeyDown(Qt::Key key);
    // The check box of a row was set or cleared by the operator.
    virtual void lvConnChange(int row, bool checked) = 0;
    // The folder picker on the field's text; the field takes the chosen folder.
    void btInClick();
    void btOutClick();
    // Checks the Inbox, then the Outbox (checkFolders); on success hands the copies and the
    // settings back, saves them and returns true (the dialog closes). A failure shows its box
    // and returns false (the dialog stays open).
    virtual bool btOkClick() = 0;

Q_SIGNALS:
    // The device rows, their check boxes or the selection changed.
    void devicesChanged();
    // A field was changed by the dialog itself (a folder was picked).
    void fieldsChanged();

protected:
    TOptionsBase(const TConsoleServices& services, TDeviceEditor deviceEditor, QObject* parent);

    const TConsoleServices& services() const { return mServices; }
    TSettings& settings() const { return mServices.settings; }
    void errorBox(const QString& text);
    bool askYesNo(const QString& text);
    // The rows again from the copy, keeping the selected row.
    void fillDevices();
    // Whether a device's row is checked when the list is filled.
    virtual bool deviceChecked(int index) = 0;
    // The Inbox and Outbox fields in their stored form (trimmed, the case kept), written back to
    // the fields; false, after the box "Invalid INBOX path specified." or "Invalid OUTBOX path
    // specified.", when one is not usable.
    bool checkFolders(bool create);
    // The process-wide lists take over the copies.
    void takeOverModems();
    void takeOverDevices();

private:
    void pickFolder(QString& field);

    TConsoleServices mServices;
    TDeviceEditor mDeviceEditor;
    std::unique_ptr<TModemsList> mModems;
    std::unique_ptr<TDevicesList> mDevices;
    QString mInbox;
    QString mOutbox;
    bool mLaunch = false;
    bool mAutoDelivery = false;
    int mMaxLogSize = 3000000;
    QList<TDeviceRow> mDeviceRows;
    int mDeviceSelection = -1;
};

// TfrmHstOpt: the server's options. Its check boxes are independent: every checked device
// answers calls.
class TfrmHstOpt : public TOptionsBase {
    Q_OBJECT
public:
    TfrmHstOpt(const TConsoleServices& services, TDeviceEditor deviceEditor, TUserEditor userEditor,
               QObject* parent = nullptr);
    ~TfrmHstOpt() override;

    // The dialog's copy of the accounts.
    TUsersList& users() { return *mUsers; }

    // ---- Fields (ckNotif, spCommTmo) ----
    bool notification() const { return mNotification; }
    void setNotification(bool on) { mNotification = on; }
    int sessionTimeout() const { return mSessionTimeout; }
    void setSessionTimeout(int minutes) { mSessionTimeout = TimeoutRange.bound(minutes); }

    // ---- The Users tab: rows of "User Name", "INBOX", "OUTBOX" ----
    const QList<QStringList>& userRows() const { return mUserRows; }
    int userSelection() const { return mUserSelection; }
    void setUserSelection(int row);
    bool canEditUsers() const { return bool(mUserEditor); }

    void btNewUserClick();
    void btEditUserClick();
    void btDelUserClick();
    void lvUserKeyDown(Qt::Key key);

    void lvConnChange(int row, bool checked) override;
    bool btOkClick() override;

Q_SIGNALS:
    // The user rows or their selection changed.
    void usersChanged();

protected:
    bool deviceChecked(int index) override;

private:
    void fillUsers();

    TUserEditor mUserEditor;
    std::unique_ptr<TUsersList> mUsers;
    // The files of accounts deleted on the Users tab: they go on OK (Cancel keeps them).
    QStringList mDeletedUserFiles;
    bool mNotification = false;
    int mSessionTimeout = 5;
    QList<QStringList> mUserRows;
    int mUserSelection = -1;
};

// TfrmRemOpt: the client's options. At most one device is checked: the default connection.
class TfrmRemOpt : public TOptionsBase {
    Q_OBJECT
public:
    TfrmRemOpt(const TConsoleServices& services, TDeviceEditor deviceEditor,
               QObject* parent = nullptr);

    // ---- Fields (ckDeq, cbBatchInt, spBatchTmo) ----
    bool dropFailed() const { return mDropFailed; }
    void setDropFailed(bool on) { mDropFailed = on; }
    // The entries of cbBatchInt: the fixed ones (BatchIntervals), plus, at its place in the
    // order, a stored interval that is none of them.
    const QList<TBatchInterval>& batchIntervals() const { return mIntervals; }
    QStringList batchIntervalCaptions() const;
    int batchIntervalIndex() const { return mIntervalIndex; }
    void setBatchIntervalIndex(int index);
    // The seconds of the selected entry.
    int batchIntervalSeconds() const;
    int batchTimeout() const { return mBatchTimeout; }
    void setBatchTimeout(int minutes) { mBatchTimeout = TimeoutRange.bound(minutes); }

    // The working default-connection identifier.
    const QString& activeDevice() const { return mActiveDevice; }

    void lvConnChange(int row, bool checked) override;
    bool btOkClick() override;

protected:
    bool deviceChecked(int index) override;

private:
    bool mDropFailed = false;
    QList<TBatchInterval> mIntervals;
    int mIntervalIndex = 0;
    int mBatchTimeout = 5;
    QString mActiveDevice;
};
