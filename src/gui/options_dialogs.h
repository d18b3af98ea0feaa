#pragma once
// The options dialogs: TfrmHstOpt "Server Options" and TfrmRemOpt "Client Configuration" over
// their presenters (consoles/options.h). The widgets carry the controls' names (edIn, btOk) and
// captions the presenters and tests know them by, show the presenter's fields and rows, write the
// operator's input back and forward the clicks.
#include "consoles/options.h"
#include "gui/desktop_prompt.h"

#include <functional>
#include <utility>

#include <QSpinBox>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class TConsoleBase;

// A number field: a text that is no number counts as the minimum, and a number outside the
// range is brought into it, when the field loses the focus.
class TNumberField : public QSpinBox {
    Q_OBJECT
public:
    TNumberField(const TNumberRange& range, const QString& name, QWidget* parent = nullptr);

protected:
    void fixup(QString& input) const override;
};

// What both options dialogs show: the device list and its buttons, the paths, the start-up
// options, the log size and OK/Cancel.
class TOptionsDialog : public QDialog {
    Q_OBJECT
public:
    QTreeWidget* deviceList() const { return lvConn; }

protected:
    TOptionsDialog(TOptionsBase& options, const QString& name, const QString& caption,
                   QWidget* parent);
    // The device list and its three buttons with the role's captions, in one widget; `onHint`
    // says what the check box of a row does.
    QWidget* makeDevicePart(const QStringList& buttonCaptions, const QString& onHint);
    // " Paths: " with Inbox and Outbox.
    QWidget* makePaths();
    // ckLaunch and ckAutoDeliv, from the presenter (the caller lays them out).
    void makeStartChecks();
    QCheckBox* checkBox(const QString& name, const QString& caption, bool checked);
    // A labelled number field with an optional unit after it, as one row.
    QLayout* numberRow(const QString& label, TNumberField* field, const QString& unit);
    // OK and Cancel, right-aligned.
    QLayout* makeButtons();
    // Writes every field into the presenter (a number being typed is taken as it stands).
    virtual void store();
    // The Delete key on `list` runs `action` instead of reaching the list.
    void onDeleteKey(QTreeWidget* list, std::function<void()> action);
    bool eventFilter(QObject* watched, QEvent* event) override;

    QCheckBox* ckLaunch = nullptr;
    QCheckBox* ckAutoDeliv = nullptr;
    TNumberField* spMaxlog = nullptr;

private:
    void followDevices();
    void followFields();
    void okClicked();

    TOptionsBase& mOptions;
    QTreeWidget* lvConn = nullptr;
    QLineEdit* edIn = nullptr;
    QLineEdit* edOut = nullptr;
    QString mOnHint;
    bool mFollowing = false;
    QList<std::pair<QObject*, std::function<void()>>> mDeleteKeys;
};

class TfrmHstOptDialog : public TOptionsDialog {
    Q_OBJECT
public:
    explicit TfrmHstOptDialog(TfrmHstOpt& options, QWidget* parent = nullptr);

    QTreeWidget* userList() const { return lvUser; }

protected:
    void store() override;

private:
    QWidget* makeUsersPage();
    void followUsers();

    TfrmHstOpt& mServer;
    QTreeWidget* lvUser = nullptr;
    QCheckBox* ckNotif = nullptr;
    TNumberField* spCommTmo = nullptr;
    bool mFollowingUsers = false;
};

class TfrmRemOptDialog : public TOptionsDialog {
    Q_OBJECT
public:
    explicit TfrmRemOptDialog(TfrmRemOpt& options, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    TfrmRemOpt& mClient;
    QCheckBox* ckDeq = nullptr;
    QComboBox* cbBatchInt = nullptr;
    TNumberField* spBatchTmo = nullptr;
};

// Shows the options dialog of the console's role modally, while no engine runs: its copies are
// made from the console's services, devices are edited with `deviceEditor` (none: Add and Edit
// do nothing), accounts with the user dialog. After OK the console reads its queue rows again
// (they show paths below the Outbox). True on OK.
bool ShowConsoleOptions(TConsoleBase& console, const TDeviceEditor& deviceEditor, QWidget* parent);
