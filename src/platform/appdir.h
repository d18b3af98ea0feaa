#pragma once
// The program folder: every file and folder of the program is placed relative to it.
#include <QString>

// Sets AppDir from the executable path: MARROWLINE_HOME when set (created when missing), else the
// executable's folder when it is writable, else $XDG_DATA_HOME/marrowline/. Returns the result.
QString InitAppDir(const QString& executablePath);
// Sets AppDir to a given folder (tests); the folder is created when missing.
void SetAppDir(const QString& folder);
// The program folder, with a trailing '/'.
const QString& AppDir();
// Names the executable whose base name names the settings file (tests use a stand-in path).
void SetExecutablePath(const QString& path);
// Full path of the running executable, and its base name ("marrowline").
QString ExecutablePath();
QString ExecutableBaseName();
// AppDir + executable base name + ".ini".
QString SettingsFilePath();
// Creates a folder and its missing parents as private ones (0700, whatever the umask): the
// program's folders hold passwords and received files. Folders that exist keep their modes.
// True when the folder exists afterwards.
bool MakePrivateFolder(const QString& folder);
