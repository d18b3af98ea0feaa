#pragma once
// TfrmConn "Device Configuration": one communication device (a direct cable or a modem on a
// port, its speed, line settings or modem, response delay and retry limit) and the modem
// catalogue it picks from, whose entries are added and edited through "Modem Parameters".
#include "consoles/device_config.h"
#include "serial/com_info.h"

#include <QDialog>

class IPrompt;
class QComboBox;
class QLabel;
class QSpinBox;
class QStackedWidget;

class TfrmConn : public QDialog {
    Q_OBJECT
public:
    // Edits `device` and `modems`, which change only when the dialog closes with OK.
    TfrmConn(TModemsList& modems, TCommDevice& device, const TSettings& settings, IPrompt& prompt,
             QWidget* parent = nullptr);

    TDeviceConfig& presenter() { return mPresenter; }
    // Where "Detect modems..." of "Modem Parameters" looks.
    TComInfo DetectionSource;

protected:
    // The first showing fills the controls from the device (FormShow).
    void showEvent(QShowEvent* event) override;

private:
    // Shows the presenter's state in the controls.
    void showState();
    void portOrTypeChosen();
    void modemChosen(int index);
    bool editModem(TModemsList& catalogue);
    void okClicked();

    TDeviceConfig mPresenter;
    const TSettings& mSettings;
    IPrompt& mPrompt;
    QComboBox* cbPort;
    QComboBox* cbPortDevice;
    QLabel* mPortDevice;
    QComboBox* cbBaud;
    QComboBox* cbDev;
    QWidget* pRetr;
    QSpinBox* spRetry;
    QSpinBox* spDelay;
    QStackedWidget* nbSerial;
    QSpinBox* spBits;
    QComboBox* cbParity;
    QComboBox* cbStop;
    QComboBox* cbModem;
    bool mShown = false;
    bool mShowing = false;
};

// Shows "Device Configuration" modally for `device` with the catalogue `modems`; both are edited
// on private copies and written back only when the operator closes it with OK (the catalogue
// only for a modem device). True on OK.
bool EditDevice(TModemsList& modems, TCommDevice& device, TSettings& settings, IPrompt& prompt,
                QWidget* parent);
