#pragma once
// The server console's logic (TfraServer): what it adds to the shared console parts are one row
// per running server engine, start and stop, the server's command-line grammar (jobs, switches,
// user import, folder redirection) and the arrival notice. It holds what its view shows as plain
// state (rows of texts, button states) and signals changes; every box goes through Prompt(), so
// it runs the same headless, on the desktop and in tests.
#include "consoles/console_base.h"
#include "consoles/console_services.h"
#include "engine/host_process.h"
#include "jobs/results_log.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class TfraServer : public TConsoleBase, public IHostConsole {
    Q_OBJECT
public:
    explicit TfraServer(const TConsoleServices& services, QObject* parent = nullptr);
    ~TfraServer() override;

    // IConsole
    void ProcessParams() override { ProcessHostParams(); }

    // The server's own work: the command line's parameters (jobs, users, start and stop), a
    // finished job in the log, an engine per active device started or stopped, and what an
    // engine reports shown in its row.
    void ProcessHostParams();
    void LogFileEvent(const TQueueItem& job, bool discard, const QString& result,
                      bool done) override;
    void DeviceProcessing(bool start) override;
    void OnDeviceStatus(THstStatusReport& report) override;
    void ClearStatus();
    // Headless there is no window: the arrival is written as a status line.
    void ShowNotification() override;

    // A failure while starting or stopping becomes the status line of "StartClick".
    void btStartClick() override;

    // ---- State a view shows ----
    struct TOperRow {
        const TCommDevice* Device = nullptr; // the device whose engine the row shows
        QString Caption;                     // "Device"
        QString User;
        QString Operation;
        QString File;
    };
    // One row per server engine started by DeviceProcessing.
    const QList<TOperRow>& operationRows() const { return mOperationRows; }

Q_SIGNALS:
    // The operation rows changed.
    void operationsChanged();
    // The arrived-files window is to be shown.
    void notificationRequested();

protected:
    void loadLists() override;
    bool prepareAddedJob(TQueueItem& job, const QString& file) override;

private:
    void processJobPart();
    TUsersList& users();
    void importUsers(const QString& entry);
    void redirectUsers(TUserKey useGlobal, TUserKey folder, TSettingKey setting,
                       const QString& text);

    QList<TOperRow> mOperationRows;
};
