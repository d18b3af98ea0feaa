#pragma once
// Start with the desktop session: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<name>.desktop) whose Exec is the executable's full path.
#include <QString>

// Path of the entry for the given name.
QString AutostartEntryPath(const QString& name);
// Writes the entry (enable) or removes it (a missing entry is no error). False and *error on
// failure.
bool SetAutostartEntry(bool enable, const QString& name, const QString& executable,
                       QString* error);
