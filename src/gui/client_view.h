#pragma once
// The client console's view (fraClient1): the session fields, the progress gauge and the session
// text on the first page, then the queue and the results log.
#include "consoles/client_console.h"
#include "gui/console_view.h"

class QLineEdit;
class QProgressBar;

class TfraClientView : public TConsoleView {
    Q_OBJECT
public:
    explicit TfraClientView(TfraClient& client, QWidget* parent = nullptr);

private:
    // The session fields and the gauge, from the console.
    void followSession();

    QPointer<TfraClient> mClient;
    // edStat, edAttempt, edHost, edJob and edFile, in the order of SessionFields.
    QList<QLineEdit*> mSessionEdits;
    QProgressBar* prb = nullptr;
};
