#pragma once
// The logic of the two enqueue dialogs that complete a job the operator added with "Add...":
// TfrmHstEnq "Enqueue host file" (the user whose client fetches a file of the user's outbox) and
// TfrmRemEnq "Enqueue client file" (log-on data and connection parameter for sending a file).
// Each works on a private copy of the caller's job; the caller takes the completed job only when
// btOkClick returned true (the dialog closes with OK). A failed check shows its error box through
// the prompt and leaves the dialog open.
#include "consoles/console_services.h"
#include "jobs/queue.h"

#include <QList>
#include <QString>
#include <QStringList>

// TfrmHstEnq: a file of a user's outbox, for that user's client to fetch.
class THstEnqPresenter {
public:
    // `job`: prepared by the server console, qkSrcFile the full path the operator chose.
    THstEnqPresenter(const TConsoleServices& services, const TQueueItem& job);

    // The file shown (read-only): the full path the operator chose.
    const QString& file() const { return mFile; }
    const QString& user() const { return mUser; }
    void setUser(const QString& user) { mUser = user; }
    const QString& destination() const { return mDestination; }
    void setDestination(const QString& destination) { mDestination = destination; }

    // Prepares the job for the file, the user and the destination (PrepareHostJob, which shows
    // its own error boxes); true when the dialog may close with OK.
    bool btOkClick();
    // The job as the last OK left it; complete once btOkClick returned true.
    const TQueueItem& job() const { return mJob; }

private:
    TConsoleServices mServices;
    TQueueItem mJob;
    QString mFile;
    QString mUser;
    QString mDestination;
};

// TfrmRemEnq: log-on data and the connection parameter of a client job.
class TRemEnqPresenter {
public:
    // The page of the connection parameters for each device type.
    static constexpr const char* DirectPage = "Direct";
    static constexpr const char* ModemPage = "Modem";
    // Digits the phone field holds at most.
    static constexpr int PhoneDigits = 17;

    // `job`: prepared by PrepareClientJob (qkSrcFile relative to the Outbox, size known, device
    // fields of the default connection). The connection list holds the default connection, if
    // any, selected, and the parameter page follows its type.
    TRemEnqPresenter(const TConsoleServices& services, const TQueueItem& job);

    // The file shown (read-only): the job's qkSrcFile.
    const QString& file() const { return mFile; }
    const QString& user() const { return mUser; }
    void setUser(const QString& user) { mUser = user; }
    const QString& password() const { return mPassword; }
    void setPassword(const QString& password) { mPassword = password; }
    bool autoDelete() const { return mAutoDelete; }
    void setAutoDelete(bool autoDelete) { mAutoDelete = autoDelete; }
    const QString& destination() const { return mDestination; }
    void setDestination(const QString& destination) { mDestination = destination; }
    // The number to dial: digits only, at most PhoneDigits of them; anything else is dropped.
    const QString& phone() const { return mPhone; }
    void setPhone(const QString& phone);

    // The connection entries (the default connection's name, or none) and the selected one
    // (-1 for none).
    QStringList connections() const;
    int connection() const { return mConnection; }
    // Selects an entry and shows the page named like its device type; -1 or an entry outside
    // the list selects none.
    void cbConnSelect(int entry);
    // The parameter page shown: DirectPage or ModemPage.
    const QString& paramsPage() const { return mParamsPage; }

    // Fills the job and checks, in this order: a user name, a password, a default connection
    // with a name and an identifier, and over a modem the server's phone number. The first
    // failure shows its error box and gives false (the dialog stays open). True when the dialog
    // may close with OK.
    bool btOkClick();
    // The job as the last OK left it; complete once btOkClick returned true.
    const TQueueItem& job() const { return mJob; }

private:
    void errorBox(const QString& text);

    // What the dialog keeps of a connection entry's device, copied when the dialog was made: the
    // device list may be made anew while the dialog is open.
    struct TConnection {
        QString name;
        QString guid;
        QString type;
    };

    TConsoleServices mServices;
    TQueueItem mJob;
    QString mFile;
    QString mUser;
    QString mPassword;
    bool mAutoDelete = false;
    QString mDestination;
    QString mPhone;
    QList<TConnection> mDevices; // the connection entries' devices
    int mConnection = -1;
    QString mParamsPage = QString::fromLatin1(DirectPage);
};
