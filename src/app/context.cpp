#include "app/context.h"

#include "engine/host_process.h"
#include "engine/rem_process.h"
#include "platform/appdir.h"

#include <QFileInfo>
#include <exception>

TAppContext::TAppContext(const QString& appDir, const QString& executablePath, IPrompt& prompt)
    : prompt(prompt), settings(appDir, executablePath), status(settings, prompt),
      modems(std::make_unique<TModemsList>(settings, status)),
      queue(std::make_unique<TQueueList>(settings, status)),
      log(std::make_unique<TQLog>(settings, status, prompt)),
      engines{.settings = settings,
              .status = status,
              .queue = *queue,
              .modems = *modems,
              .hostFactory = HostEngineFactory(),
              .remFactory = RemEngineFactory()},
      devices(std::make_unique<TDevicesList>(engines)) {}

TAppContext::~TAppContext() {
    devices.reset();
    engines.users = nullptr;
    modems.reset();
    queue.reset();
    users.reset();
    log.reset();
}

void TAppContext::StartupLoad() {
    // Makes sure a folder setting names a folder that exists; otherwise the setting falls back to
    // its default folder (persisted by the next save of the settings).
    const auto ensureFolder = [this](TSettingKey key) {
        const QString folder = settings.GetStr(key);
        if (!folder.isEmpty()) MakePrivateFolder(folder);
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) return;
        settings.PutStr(key, settings.Setting(key).StrDefault);
        MakePrivateFolder(settings.GetStr(key));
    };
    try {
        params.entries.clear();
        settings.Load(prompt, status);
        modems->Load();
        MakePrivateFolder(settings.AppDir() + "QUEUE");
        if (settings.IsServer()) MakePrivateFolder(settings.AppDir() + "USERS");
        ensureFolder(MRL_Inbox);
        ensureFolder(MRL_Outbox);
        queue->Load();
    } catch (const std::exception& e) {
        prompt.MessageBox("!StartupLoadVars: " + QString::fromLocal8Bit(e.what()),
                          ApplicationTitle, TBoxIcon::Error, TBoxButtons::Ok);
    }
}

void TAppContext::NewDevices() {
    devices.reset();
    devices = std::make_unique<TDevicesList>(engines);
    devices->Load();
}

TUsersList& TAppContext::Users() {
    if (!users) {
        users = std::make_unique<TUsersList>(settings, status);
        users->Load();
        engines.users = users.get();
    }
    return *users;
}

void TAppContext::Shutdown() {
    if (devices) {
        for (int i = 0; i < devices->Count(); ++i)
            devices->StopHostProc(i); // either role: destroys the device's engine
        devices->Save();
        devices.reset();
    }
    modems->Save();
    settings.Save(prompt, status);
    if (users) users->Save();
    params.entries.clear();
}

TConsoleServices TAppContext::ConsoleServices(IConsoleHost* host) {
    return TConsoleServices{settings,
                            status,
                            prompt,
                            *queue,
                            *log,
                            *modems,
                            engines,
                            [this]() { return devices.get(); },
                            [this]() -> TUsersList& { return Users(); },
                            params,
                            host};
}
