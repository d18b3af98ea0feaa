#pragma once
// Choosing the name of a file to receive.
#include <QString>

// The path itself when no file exists there; otherwise the first free name formed from the same
// folder, the name without its extension, a hyphen, the number N and the extension, for N = 1,
// 2, 3 ...: an existing "report.txt" gives "report-1.txt", or "report-2.txt" when that exists
// too. The extension is the part of the name (not of the folder) from its last dot.
QString UniqueFileName(const QString& path);
