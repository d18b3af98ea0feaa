#pragma once
// Paths that are stored in job files or travel on the line use '\' as separator so that a Windows
// peer understands them; local paths use '/'. Both separators are accepted on input.
#include <QString>

// Joins a stored or received relative path to a local folder. Returns an empty string (and
// *ok = false) when the relative path would leave the folder: a ".." component, an absolute path,
// a drive prefix, or an empty name.
QString LocalPath(const QString& folder, const QString& relative, bool* ok = nullptr);
// The relative path in its stored form ('\' as separator).
QString StoredPath(const QString& relative);
// A local path in local form ('/' as separator).
QString LocalSeparators(const QString& path);
// True when any component of the path is "..".
bool HasParentReference(const QString& path);
// The name part of a stored or local path: the text after its last '\', '/' or ':'.
QString NamePart(const QString& path);
// The folder part of a stored or local path, including its last separator; empty when none.
QString FolderPart(const QString& path);
// A path as a job, an account or a folder field stores it: as given, since Linux file names are
// case-sensitive. Every place that takes such a path from the operator or a command line calls
// this.
inline QString PathCase(const QString& path) { return path; }
// Appends '/' to a local folder when it does not end with a separator.
QString WithTrailingSlash(const QString& folder);
// Appends '\' to a stored relative folder when it is not empty and does not end with one.
QString WithTrailingBackslash(const QString& folder);
