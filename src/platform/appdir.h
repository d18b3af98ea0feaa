#pragma once
// The program folder: every file and folder of the program is placed relative to it.
#include <QString>

// The program folder for an executable, with a trailing '/': MARROWLINE_HOME when set; else the
// executable's folder where that is meant to hold the program's files (a build tree, or a folder
// that already holds the settings file, as a copy of the program kept with its files does) and
// can be written; else $XDG_DATA_HOME/marrowline/ (~/.local/share/marrowline/). An installed
// program (in /usr/bin, /usr/local/bin) so never writes next to its executable, even as root.
// The folder is created (as a private one) when missing.
QString ResolveAppDir(const QString& executablePath);
// The path of the running program's own executable, without an application object.
QString OwnExecutablePath();
// Creates a folder and its missing parents as private ones (0700, whatever the umask): the
// program's folders hold passwords and received files. Folders that exist keep their modes.
// True when the folder exists afterwards.
bool MakePrivateFolder(const QString& folder);
