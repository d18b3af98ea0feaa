#pragma once
// The enqueue dialogs over their presenters: TfrmHstEnq "Enqueue host file" and TfrmRemEnq
// "Enqueue client file". They show the presenter's fields, hand the operator's input to it on OK
// and close with OK when its checks pass. Execute shows one modally on a job and writes the
// completed job back only on OK.
#include "consoles/console_services.h"
#include "consoles/enqueue_dialogs.h"
#include "jobs/queue.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QStackedWidget;

class TfrmHstEnq : public QDialog {
    Q_OBJECT
public:
    TfrmHstEnq(const TConsoleServices& services, const TQueueItem& job, QWidget* parent = nullptr);

    // Shows the dialog modally on the job; on OK the job is replaced by the completed one and the
    // result is true. Cancel leaves the job as it was.
    static bool Execute(const TConsoleServices& services, TQueueItem& job, QWidget* parent);

    const THstEnqPresenter& presenter() const { return mPresenter; }

private:
    void btOkClick();

    THstEnqPresenter mPresenter;
    QLineEdit* edFile = nullptr;
    QLineEdit* edUser = nullptr;
    QLineEdit* edDest = nullptr;
    QPushButton* btOk = nullptr;
    QPushButton* btCancel = nullptr;
};

class TfrmRemEnq : public QDialog {
    Q_OBJECT
public:
    TfrmRemEnq(const TConsoleServices& services, const TQueueItem& job, QWidget* parent = nullptr);

    // Shows the dialog modally on the job; on OK the job is replaced by the completed one and the
    // result is true. Cancel leaves the job as it was.
    static bool Execute(const TConsoleServices& services, TQueueItem& job, QWidget* parent);

    const TRemEnqPresenter& presenter() const { return mPresenter; }

private:
    // Shows the presenter's connection and its parameter page.
    void followConnection();
    void btOkClick();

    TRemEnqPresenter mPresenter;
    QLineEdit* edFile = nullptr;
    QLineEdit* edUser = nullptr;
    QLineEdit* edPassw = nullptr;
    QCheckBox* ckAutoDel = nullptr;
    QLineEdit* edDest = nullptr;
    QComboBox* cbConn = nullptr;
    QStackedWidget* nbParams = nullptr;
    QWidget* pageDirect = nullptr;
    QWidget* pageModem = nullptr;
    QLineEdit* medPhone = nullptr;
    QPushButton* btOk = nullptr;
    QPushButton* btCancel = nullptr;
};
