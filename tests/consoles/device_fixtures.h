#pragma once
// Devices and modems that the device and modem dialog tests start from.
#include "common/test_home.h"
#include "engine/devices.h"
#include "serial/modems.h"

#include <QString>

// The device list of the home with one new device in it.
inline TCommDevice& newDevice(TestHome& home) {
    home.ctx().NewDevices();
    home.ctx().devices->AddDevice();
    return *home.ctx().devices->GetDevice(0);
}

// Appends a modem with a name and the port it is attached to; its index.
inline int addModem(TModemsList& list, const QString& name, const QString& attachedTo) {
    list.AddModem();
    const int index = list.Count() - 1;
    list.PutSetting(index, mdkFriendlyName, name);
    list.PutSetting(index, mdkAttachedTo, attachedTo);
    return index;
}
