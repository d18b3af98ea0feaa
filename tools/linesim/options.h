#pragma once
// Command-line options that shape a line, shared by every mode that builds lines.
//
// Each takes a value that may start with a direction, "ab:" (bytes from end A to end B) or "ba:";
// without one it applies to both directions.
#include "line.h"

#include <string>

namespace linesim {

// Applies option `name` (without the leading "--") with `value` to the two directions. Returns
// false when `name` is not a line option; throws std::invalid_argument on a bad value.
bool ApplyLineOption(const std::string& name, const std::string& value, LineConfig& ab,
                     LineConfig& ba);

// The help text of the line options.
const char* LineOptionsHelp();

// Parses a whole unsigned number; throws std::invalid_argument naming `what`.
std::uint64_t ParseUnsigned(const std::string& text, const std::string& what);

} // namespace linesim
