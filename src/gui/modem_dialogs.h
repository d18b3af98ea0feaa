#pragma once
// The two windows of the modem catalogue: TfrmMdmProp "Modem Parameters" edits the catalogue's
// current entry, TfrmDetMdm "Detected Modems" (opened from it) lists the modems of this machine
// and copies one into that entry. Both are fixed-size, centred on the screen, and change the
// catalogue they were given only when they close with OK.
#include "consoles/detected_modems.h"
#include "consoles/modem_properties.h"
#include "serial/com_info.h"

#include <QDialog>

class IPrompt;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class TfrmDetMdm : public QDialog {
    Q_OBJECT
public:
    // `catalogue`: the "Modem Parameters" working copy, whose current entry is replaced on OK.
    TfrmDetMdm(TModemsList& catalogue, IPrompt& prompt, QWidget* parent = nullptr);

    TDetectedModems& presenter() { return mPresenter; }
    QTreeWidget* deviceList() const { return lvDev; }
    QTreeWidget* settingList() const { return lvSet; }

protected:
    // The first showing starts detection (FormShow).
    void showEvent(QShowEvent* event) override;

private:
    void detectionEnded();
    void showProgress(const QString& message);
    void showSelection();
    void rowChosen();
    void selectClicked();

    TDetectedModems mPresenter;
    QTreeWidget* lvDev;
    QTreeWidget* lvSet;
    QProgressBar* mProgress;
    QLabel* mProgressText;
    QPushButton* btSelect;
    bool mShown = false;
    bool mFilling = false;
};

class TfrmMdmProp : public QDialog {
    Q_OBJECT
public:
    // `catalogue`'s CurrentIndex designates the entry to edit; the role comes from `settings`.
    TfrmMdmProp(TModemsList& catalogue, const TSettings& settings, IPrompt& prompt,
                QWidget* parent = nullptr);

    TModemProperties& presenter() { return mPresenter; }
    // Where "Detect modems..." looks (the defaults: this machine's devices and the program
    // folder).
    TComInfo DetectionSource;

protected:
    // The first showing fills the controls (FormShow).
    void showEvent(QShowEvent* event) override;

private:
    void showFields();
    void takeFields();
    void detectClicked();
    void okClicked();

    TModemProperties mPresenter;
    IPrompt& mPrompt;
    QLineEdit* edMdmDesc;
    QWidget* pnlDial;
    QLineEdit* edDialString;
    QLineEdit* edDialPrefixNo;
    QCheckBox* ckBlind;
    QLineEdit* edInit;
    QLineEdit* edHangup;
    QLineEdit* edReset;
    QLineEdit* edAAOn;
    QLineEdit* edAAOff;
    QLineEdit* edSpkON;
    QLineEdit* edSpkOff;
    QCheckBox* ckECC;
    QCheckBox* ckCompr;
    QCheckBox* ckEnableSpk;
    QGroupBox* rgAA;
    QButtonGroup* mAutoAnswer;
    bool mShown = false;
};

// Moves a window to the middle of the screen it is on (the primary screen when it has none yet).
void CentreOnScreen(QWidget* window);
