#pragma once
// The communication devices: each is one configured way of reaching the other side (a direct
// cable or a modem on a port). The list persists them in the settings file ("DEVICE" + n,
// count MRL_CommDevices) and owns the session engine running on each started device.
#include "core/record_list.h"
#include "core/settings.h"
#include "core/status.h"
#include "jobs/queue.h"
#include "jobs/users.h"
#include "serial/modems.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

enum TDevKey {
    dvkDevType,       // "Direct" or "Modem"
    dvkDevName,       // display name
    dvkDevGUID,       // identifier; a record without one is not kept
    dvkDevDelay,      // response delay in ms, default "10000"
    dvkDevParam,      // port,baud[,data bits,parity,stop bits]
    dvkDevHostActive, // "YES"/"NO", default "NO"
    dvkDevRetries,    // attempts per job, default "5"
    DevKeyCount
};

// "dvkDevType", ... in key order.
extern const char* const DevKeyNames[DevKeyCount];

class TDevicesList;
struct TCommDevice;

// A session engine as the device list sees it. The server engine (THostProcess) and the client
// engine (TRemProcess) derive from it. Destroying an engine stops it (disconnects and closes its
// port); the engine keeps a reference to its device record for its whole life.
class TDeviceEngine {
public:
    virtual ~TDeviceEngine() = default;
    // Called when the device is started again while its engine exists: the server engine goes to
    // its CallWait step, the client engine to its Idle step (both forced).
    virtual void Restart() = 0;
};

// Creates the engine for a device. `owner` is the list that starts the engine, `device` the
// record it runs on (which outlives the engine).
using TDeviceEngineFactory =
    std::function<std::unique_ptr<TDeviceEngine>(TDevicesList& owner, TCommDevice& device)>;

class IHostConsole;
class IRemConsole;
class IPrompt;

// What the device list and its engines reach of the program. The application context fills it
// and hands it to the device list when it makes it; the list hands it to every engine.
struct TEngineServices {
    TSettings& settings;
    TStatusSink& status;
    TQueueList& queue;
    TModemsList& modems;
    TUsersList* users = nullptr; // the accounts (server role)
    // The console that receives the engines' reports of its role; nullptr drops them.
    IHostConsole* hostConsole = nullptr;
    IRemConsole* remConsole = nullptr;
    // The desktop's boxes, for faults the operator must mend (a port that cannot be opened);
    // nullptr when headless, where the status line alone says it.
    IPrompt* alerts = nullptr;
    // Used by StartHostProc (server engines) and StartRemProc (client engines); starting without
    // one reports an error and starts nothing.
    TDeviceEngineFactory hostFactory;
    TDeviceEngineFactory remFactory;
};

// One device: the engine running on it (owned while set) and seven String slots.
struct TCommDevice : TSlotRecord<TDevKey, DevKeyCount> {
    std::unique_ptr<TDeviceEngine> Engine;
};

class TDevicesList : public TRecordList<TCommDevice> {
public:
    explicit TDevicesList(TEngineServices& services);
    // Destroys every engine, then the records.
    ~TDevicesList();
    TDevicesList(const TDevicesList&) = delete;
    TDevicesList& operator=(const TDevicesList&) = delete;

    // GetSetting and PutSetting (TRecordList) give and take a slot's text (cut to 255 bytes).
    // Appends a record with the defaults and no engine.
    void AddDevice();
    // The record at index, or nullptr outside the list. The list keeps ownership.
    TCommDevice* GetDevice(int index);
    // Appends default records until index exists; destroys the engine at index if any; copies
    // the seven slots (never the engine). Negative index or no record: nothing.
    void SetDevice(int index, const TCommDevice* device);
    // Replaces all records by copies of the source's (without engines) and takes its index.
    void CopyFrom(const TDevicesList* source);
    // Destroys the record's engine if any, then removes the record.
    void DeleteDevice(int index);
    // Reads MRL_CommDevices sections "DEVICE" + n of the settings file; records without an
    // identifier are dropped and MRL_CommDevices becomes the number kept.
    void Load();
    // Drops records without an identifier, then writes MRL_CommDevices and every record into the
    // settings file. False when the file could not be written.
    bool Save();
    // The number of engines currently created through the list; an engine that is stopping
    // counts until its destructor has finished.
    int EngineCount() const { return mEngineCount; }

    // Server role: restarts the device's engine, or creates one through the host factory.
    void StartHostProc(int index);
    // Destroys the device's engine if it has one.
    void StopHostProc(int index);
    // Client role: as StartHostProc with the client factory.
    void StartRemProc(int index);
    void StopRemProc(int index);

    // The record being worked on; -1 for none. Reset when that record is deleted.
    int CurrentIndex = -1;

    TEngineServices& Services() const { return mServices; }

private:
    void startProc(int index, const char* operation, const TDeviceEngineFactory& factory);
    void stopProc(int index, const char* operation);
    // Takes the engine off the record and destroys it; the record is cleared before the engine's
    // destructor runs, since that destructor keeps handling events while it stops.
    void destroyEngine(TCommDevice& device);
    void setDefaults(TCommDevice& device) const;

    bool isStopping(const TCommDevice* device) const;

    TEngineServices& mServices;
    int mEngineCount = 0;
    // Records whose engine is being destroyed right now, and records removed from the list
    // meanwhile; those are freed only when their engine has finished stopping.
    std::vector<const TCommDevice*> mStopping;
    std::vector<std::unique_ptr<TCommDevice>> mRetired;
};
