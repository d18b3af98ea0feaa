#pragma once
// The program folder: every file and folder of the program is placed relative to it.
#include <QString>

// The program folder for an executable, with a trailing '/': MARROWLINE_HOME when set, else the
// executable's folder when it is writable, else $XDG_DATA_HOME/marrowline/. It is created (as a
// private folder) when missing.
QString ResolveAppDir(const QString& executablePath);
// Creates a folder and its missing parents as private ones (0700, whatever the umask): the
// program's folders hold passwords and received files. Folders that exist keep their modes.
// True when the folder exists afterwards.
bool MakePrivateFolder(const QString& folder);
