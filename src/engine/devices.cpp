#include "engine/devices.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "core/status.h"

#include <algorithm>
#include <exception>

const char* const DevKeyNames[DevKeyCount] = {"dvkDevType",   "dvkDevName",  "dvkDevGUID",
                                              "dvkDevDelay",  "dvkDevParam", "dvkDevHostActive",
                                              "dvkDevRetries"};

namespace {
const TRecordLayout DeviceLayout{DevKeyNames};
const char* const DeviceSection = "DEVICE"; // + the number counted from 1
} // namespace

TDevicesList::TDevicesList(TEngineServices& services)
    : TRecordList("TDevicesList", DeviceLayout, services.status), mServices(services) {}

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

void TDevicesList::setDefaults(TCommDevice& device) const {
    clearSlots(device);
    device[dvkDevDelay].StrValue = device[dvkDevDelay].StrDefault = "10000";
    device[dvkDevHostActive].StrValue = device[dvkDevHostActive].StrDefault = NoYes[0];
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

void TDevicesList::AddDevice() {
    guarded("AddDevice", 0, [this]() {
        auto device = std::make_unique<TCommDevice>();
        setDefaults(*device);
        mItems.push_back(std::move(device));
        return 0;
    });
}

TCommDevice* TDevicesList::GetDevice(int index) {
    return guarded("GetDevice", static_cast<TCommDevice*>(nullptr), [&] { return at(index); });
}

void TDevicesList::SetDevice(int index, const TCommDevice* device) {
    guarded("SetDevice", 0, [&]() {
        if (index < 0 || !device) return 0;
        // The source may be a record of this list; take its values before anything moves.
        const auto slots = device->Slots;
        TCommDevice* target = growTo(index, [this] { AddDevice(); });
        if (!target) return 0;
        if (target->Engine) destroyEngine(*target);
        copySlots(*target, slots);
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
            SetDevice(i, source->at(i));
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
        loadNumbered(ini, DeviceSection, mServices.settings, MRL_CommDevices, dvkDevGUID);
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
        saveNumbered(ini, DeviceSection, mServices.settings, MRL_CommDevices);
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
