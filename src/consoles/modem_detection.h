#pragma once
// Modem detection without holding up the window: TModemsList::Detect asks every serial device
// and waits for its answers (a second or more), so it runs on a worker thread of its own, with a
// catalogue, settings and status sink of its own. Its status lines and its result reach the main
// thread through queued signals; nothing of the program's own state is touched by the worker.
#include "core/settings.h"
#include "serial/com_info.h"
#include "serial/modems.h"

#include <QObject>
#include <QString>
#include <vector>

class QThread;

class TModemDetection : public QObject {
    Q_OBJECT
public:
    // `settings` is copied (the worker reads the program folder from it); `source` says where
    // to look (its program folder defaults to the settings' one).
    TModemDetection(const TSettings& settings, const TComInfo& source, QObject* parent = nullptr);
    // Waits for a running worker; Abandon instead lets it end on its own.
    ~TModemDetection() override;

    void Start();
    bool IsRunning() const;
    // The modems found, in the order Detect lists them; complete once Finished was signalled.
    const std::vector<TModemSettings>& Found() const { return mFound; }

    // Nobody waits for the result any more: the signals reach no one from now on, and the object
    // deletes itself once the worker has ended (at once when it is not running).
    void Abandon();

Q_SIGNALS:
    // A status line of the detection (without time stamp), delivered on the main thread.
    void StatusLine(const QString& message);
    // The worker has ended; Found() holds the result.
    void Finished();

private:
    void run();

    TSettings mSettings;
    TComInfo mSource;
    std::vector<TModemSettings> mFound;
    QThread* mThread = nullptr;
};
