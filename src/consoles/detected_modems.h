#pragma once
// "Detected Modems" without its window: lists the modems installed on this machine and copies the
// chosen one into the current entry of the given catalogue (the "Modem Parameters" working copy).
// Detection runs on a worker thread (TModemDetection); the window stays usable meanwhile and may
// be closed before it ends, which discards the result.
#include "serial/com_info.h"
#include "serial/modems.h"

#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

class IPrompt;
class TModemDetection;

class TDetectedModems : public QObject {
    Q_OBJECT
public:
    TDetectedModems(TModemsList& given, IPrompt& prompt, QObject* parent = nullptr);
    // A detection still running is left to end on its own; its result is dropped.
    ~TDetectedModems() override;

    // Where detection looks; by default the program folder of the catalogue's settings and the
    // serial devices of this machine.
    TComInfo Source;

    // FormShow: copies the given catalogue and starts detection into the private catalogue.
    void Show();
    bool Detecting() const { return !mDetection.isNull(); }
    // The modems found (empty until detection has finished).
    TModemsList& Detected() { return mDetected; }

    // The selected row of the list (a modem of Detected()), -1 for none.
    int selected() const { return mSelected; }
    // lvDevSelectItem.
    void Select(int row);
    // "caption=value" rows for the selected modem: every key whose caption does not begin with
    // "-", in key order; empty without a selection.
    QList<QPair<QString, QString>> Details();

    // btSelectClick: false without a selected row or when the modem's name is already taken by
    // another entry (with the error box); otherwise the detected modem replaces the current entry
    // of the working copy (one is added when there is none), the working copy goes back to the
    // given catalogue, and it returns true.
    bool SelectClicked();

Q_SIGNALS:
    // Detection has ended and the list is filled (the first modem selected when there is one).
    void DetectionFinished();
    // A status line of the running detection (also written to the program's status line).
    void Progress(const QString& message);
    void SelectionChanged();

private:
    void detectionEnded();

    TModemsList& mGiven;
    IPrompt& mPrompt;
    TModemsList mWorking;
    TModemsList mDetected;
    QPointer<TModemDetection> mDetection;
    int mSelected = -1;
};
