#pragma once
// A file being received is written under a hidden temporary name in its target folder, made
// durable, and only then renamed over its final name in one step: a cut line, a crash or a full
// disk never leaves a partial file that passes for a whole one, and an older file of the same
// name stays until the new one is whole.
//
// Temporary names look like ".report.txt.mrl-4711-3.part": a dot, the start of the final name,
// ".mrl-", the receiving process's id, a number, ".part". Only names of exactly that form are
// ever removed as leftovers, and only when the process that wrote them is gone.
#include <QString>

namespace received_file {

// A temporary path in the folder of `finalPath`, unique within this process.
QString TemporaryPath(const QString& finalPath);
// True when a file name (no folder) has the form of a temporary name.
bool IsTemporaryName(const QString& fileName);
// Makes the temporary file durable and renames it over `finalPath` in one step. When the final
// name cannot be replaced (a folder of that name, a file that may not be removed), false and
// *error says why; the temporary file is then left for the caller to place or discard.
bool Commit(const QString& temporaryPath, const QString& finalPath, QString* error);
// Removes a temporary file (no error when it is gone already).
bool Discard(const QString& temporaryPath);
// True when a received name (a relative path with '\' or '/' between folders) can be stored
// as it is: not empty, no control characters, at most 255 bytes in all (the length a job keeps),
// and not a temporary name itself.
bool IsStorableName(const QString& name);
// Removes the temporary files in `folder` (not in its subfolders) whose process is gone: the
// leftovers of a receiver that was killed. Returns how many were removed.
int RemoveLeftovers(const QString& folder);

// Space kept free beyond a file's announced length: the last block's padding, the file
// system's own blocks for the file, and what other files are being written meanwhile.
inline constexpr qint64 SpareBytes = 64 * 1024;
// The bytes an unprivileged writer may still use in the file system of `folder`, or -1 when
// that cannot be told.
qint64 FreeSpace(const QString& folder);
// False when a file of `length` bytes (plus SpareBytes) cannot fit in `folder` (a length that
// is no number fits); *free gets the free bytes.
bool RoomFor(const QString& folder, const QString& length, qint64* free);

} // namespace received_file
