#include "engine/devices.h"

#include "core/inifile.h"
#include "core/status.h"

#include <algorithm>
#include <exception>

const char* const DevKeyNames[DevKeyCount] = {"dvkDevType",   "dvkDevName",  "dvkDevGUID",
                                              "dvkDevDelay",  "dvkDevParam", "dvkDevHostActive",
                                              "dvkDevRetries"};

namespace {
QString deviceSection(int number) {
    return QStringLiteral("DEVICE%1").arg(number);
}
} // namespace

TDevicesList::TDevicesList(TEngineServices& services) : mServices(services) {}

void TDevicesList::report(const char* operation, const QString& text) {
    mServices.status.ReportOperationError("TDevicesList", operation, text);
}

TDevicesList::~TDevicesList() {
    // Engines first: each one reads its record while it stops. A stopping engine handles
    // events, which may change the list, so look for the next engine afresh each time.
    for (;;) {
        auto it = std::find_if(mItems.begin(), mItems.end(),
                               [](const auto& device) { return device->Engine != nullptr; });
        if (it == mItems.end()) break;
        destroyEngine(**it);
    }
    mItems.clear();
    mRetired.clear();
}

void TDevicesList::setDefaults(TCommDevice& device) {
    for (int k = 0; k < DevKeyCount; ++k)
        device.Slots[size_t(k)] = TIniKey::StringSlot(DevKeyNames[k]);
    device[dvkDevDelay].StrValue = device[dvkDevDelay].StrDefault = "10000";
    device[dvkDevHostActive].StrValue = device[dvkDevHostActive].StrDefault = "NO";
    device[dvkDevRetries].StrValue = device[dvkDevRetries].StrDefault = "5";
}

bool TDevicesList::isStopping(const TCommDevice* device) const {
    return std::find(mStopping.begin(), mStopping.end(), device) != mStopping.end();
}

void TDevicesList::destroyEngine(TCommDevice& device) {
    std::unique_ptr<TDeviceEngine> engine = std::move(device.Engine);
    if (!engine) return;
    // The record no longer leads to the engine, so nothing can reach it while it is half
    // destroyed; it still counts until its destructor is through, so that the reports it makes
    // while stopping ("Client service stopped.") reach the console, which shows reports only
    // while engines run.
    mStopping.push_back(&device);
    engine.reset();
    --mEngineCount;
    mStopping.erase(std::find(mStopping.begin(), mStopping.end(), &device));
    // A record deleted while its engine stopped can go now.
    auto retired = std::find_if(mRetired.begin(), mRetired.end(),
                                [&device](const auto& d) { return d.get() == &device; });
    if (retired != mRetired.end() && !isStopping(&device)) mRetired.erase(retired);
}

int TDevicesList::Count() const {
    return int(mItems.size());
}

QString TDevicesList::GetSetting(int index, TDevKey key) {
    return guarded("GetSetting", QString(), [&]() {
        if (index < 0 || index >= Count() || key < 0 || key >= DevKeyCount) return QString();
        return (*mItems[size_t(index)])[key].StrValue;
    });
}

void TDevicesList::PutSetting(int index, TDevKey key, const QString& text) {
    guarded("PutSetting", 0, [&]() {
        if (index < 0 || index >= Count() || key < 0 || key >= DevKeyCount) return 0;
        (*mItems[size_t(index)])[key].SetStr(text);
        return 0;
    });
}

void TDevicesList::AddDevice() {
    guarded("AddDevice", 0, [this]() {
        auto device = std::make_unique<TCommDevice>();
        setDefaults(*device);
        mItems.push_back(std::move(device));
        return 0;
    });
}

TCommDevice* TDevicesList::GetDevice(int index) {
    return guarded("GetDevice", static_cast<TCommDevice*>(nullptr), [&]() -> TCommDevice* {
        if (index < 0 || index >= Count()) return nullptr;
        return mItems[size_t(index)].get();
    });
}

void TDevicesList::SetDevice(int index, const TCommDevice* device) {
    guarded("SetDevice", 0, [&]() {
        if (index < 0 || !device) return 0;
        // The source may be a record of this list; take its values before anything moves.
        const std::array<TIniKey, DevKeyCount> slots = device->Slots;
        while (Count() - 1 < index)
            AddDevice();
        TCommDevice* target = mItems[size_t(index)].get();
        if (target->Engine) destroyEngine(*target);
        for (int k = 0; k < DevKeyCount; ++k) {
            TIniKey& to = target->Slots[size_t(k)];
            to = slots[size_t(k)];
            to.Key = DevKeyNames[k];
            to.Kind = TIniKind::String;
            to.StrValue = Cut255(to.StrValue);
        }
        return 0;
    });
}

void TDevicesList::CopyFrom(const TDevicesList* source) {
    guarded("CopyFrom", 0, [&]() {
        if (!source || source == this) return 0;
        while (Count() > 0) {
            const int before = Count();
            DeleteDevice(Count() - 1);
            if (Count() == before) return 0;
        }
        for (int i = 0; i < source->Count(); ++i)
            SetDevice(i, source->mItems[size_t(i)].get());
        CurrentIndex = source->CurrentIndex;
        return 0;
    });
}

void TDevicesList::DeleteDevice(int index) {
    guarded("DeleteDevice", 0, [&]() {
        if (index < 0 || index >= Count()) return 0;
        TCommDevice* device = mItems[size_t(index)].get();
        // Stopping the engine keeps handling events, which may change the list meanwhile; find
        // the record again by identity afterwards.
        if (device->Engine) destroyEngine(*device);
        auto it = std::find_if(mItems.begin(), mItems.end(),
                               [device](const auto& d) { return d.get() == device; });
        if (it == mItems.end()) return 0;
        const int at = int(it - mItems.begin());
        // The engine of this record may still be stopping further up the stack (its destructor
        // handles events); it reads the record until it is gone, so keep the record until then.
        if (isStopping(device)) mRetired.push_back(std::move(*it));
        mItems.erase(it);
        if (at == CurrentIndex) CurrentIndex = -1;
        return 0;
    });
}

void TDevicesList::Load() {
    guarded("Load", 0, [this]() {
        TIniFile ini(mServices.settings.SettingsFilePath());
        while (Count() > 0) {
            const int before = Count();
            DeleteDevice(Count() - 1);
            if (Count() == before) break;
        }
        if (!ini.LastError().isEmpty()) {
            report("Load", ini.LastError());
            mServices.settings.PutInt(MRL_CommDevices, Count());
            return 0;
        }
        const int stored = mServices.settings.GetInt(MRL_CommDevices);
        for (int n = 1; n <= stored; ++n) {
            auto device = std::make_unique<TCommDevice>();
            for (int k = 0; k < DevKeyCount; ++k) {
                TIniKey& slot = device->Slots[size_t(k)];
                slot = TIniKey::StringSlot(DevKeyNames[k]);
                slot.SetStr(ini.ReadString(deviceSection(n), DevKeyNames[k], QString()));
            }
            if (!(*device)[dvkDevGUID].StrValue.isEmpty()) mItems.push_back(std::move(device));
        }
        mServices.settings.PutInt(MRL_CommDevices, Count());
        return 0;
    });
}

bool TDevicesList::Save() {
    return guarded("Save", false, [this]() {
        TIniFile ini(mServices.settings.SettingsFilePath());
        if (!ini.LastError().isEmpty()) {
            report("Save", ini.LastError());
            return false;
        }
        for (int i = Count() - 1; i >= 0; --i)
            if ((*mItems[size_t(i)])[dvkDevGUID].StrValue.isEmpty()) DeleteDevice(i);
        ini.WriteInteger(SectionNames[0], "MRL_CommDevices", Count());
        for (int n = 1; n <= Count(); ++n) {
            const TCommDevice& device = *mItems[size_t(n - 1)];
            for (int k = 0; k < DevKeyCount; ++k)
                ini.WriteString(deviceSection(n), DevKeyNames[k], device.Slots[size_t(k)].StrValue);
        }
        mServices.settings.PutInt(MRL_CommDevices, Count());
        if (!ini.UpdateFile()) {
            report("Save", ini.LastError());
            return false;
        }
        return true;
    });
}

void TDevicesList::startProc(int index, const char* operation,
                             const TDeviceEngineFactory& factory) {
    guarded(operation, 0, [&]() {
        if (index < 0 || index >= Count()) {
            report(operation, QStringLiteral("List index out of bounds (%1)").arg(index));
            return 0;
        }
        TCommDevice* device = mItems[size_t(index)].get();
        if (device->Engine) {
            device->Engine->Restart();
            return 0;
        }
        if (isStopping(device)) {
            // Two engines must never share a port.
            report(operation, QStringLiteral("the device is still stopping"));
            return 0;
        }
        if (!factory) {
            report(operation, QStringLiteral("no session engine available"));
            return 0;
        }
        ++mEngineCount;
        std::unique_ptr<TDeviceEngine> engine;
        try {
            engine = factory(*this, *device);
        } catch (...) {
            --mEngineCount;
            throw;
        }
        if (!engine) {
            --mEngineCount;
            report(operation, QStringLiteral("the session engine could not be created"));
            return 0;
        }
        device->Engine = std::move(engine);
        return 0;
    });
}

void TDevicesList::stopProc(int index, const char* operation) {
    guarded(operation, 0, [&]() {
        if (index < 0 || index >= Count()) {
            report(operation, QStringLiteral("List index out of bounds (%1)").arg(index));
            return 0;
        }
        TCommDevice* device = mItems[size_t(index)].get();
        if (device->Engine) destroyEngine(*device);
        return 0;
    });
}

void TDevicesList::StartHostProc(int index) {
    startProc(index, "StartHostProc", mServices.hostFactory);
}
void TDevicesList::StopHostProc(int index) {
    stopProc(index, "StopHostProc");
}
void TDevicesList::StartRemProc(int index) {
    startProc(index, "StartRemProc", mServices.remFactory);
}
void TDevicesList::StopRemProc(int index) {
    stopProc(index, "StopRemProc");
}
