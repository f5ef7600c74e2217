#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace trelvex {

// Value of the switch -NAME=value among `params` (parameter 0 is skipped):
// the key matches in any letter case, the first match wins, the value is
// taken as written. Empty when the switch is absent.
std::string SwitchValue(std::string_view name, const std::vector<std::string>& params);
// The same over the process's own command line (scanned on every call).
std::string SwitchValue(std::string_view name);

// Splits a command line: blanks separate parameters, a stretch in double
// quotes may hold blanks, the quotes are dropped, a backslash is an ordinary
// character.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace trelvex
