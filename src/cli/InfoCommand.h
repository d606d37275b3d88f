#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kavel {

// --info: writes the description of each file to out, a blank line between files, and for a
// file that cannot be opened one line "kavel-convert: NAME: REASON" to errors. Returns 0 when
// every file was described, 1 otherwise. The engine's libraries must be loaded. Main thread.
int RunInfo(const std::vector<std::string>& files, std::ostream& out, std::ostream& errors);

}  // namespace kavel
