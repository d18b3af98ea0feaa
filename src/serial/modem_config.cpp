#include "serial/modem.h"
#include "serial/modems.h"

void SetModemInitStrings(TVaModem& modem, const TModemSettings& entry, QString& extra, TRole role) {
    QStringList config = modem.Config();
    SetModemInitStrings(config, entry, extra, role);
    // Through the setter, so that the reply strings and the terminator are read again.
    modem.SetConfig(config);
}
