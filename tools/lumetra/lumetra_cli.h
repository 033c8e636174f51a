// The lumetra command line: inspect, convert and append image files through
// the format registry. Kept apart from main() so that tests can drive it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumetra::cli {

// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace lumetra::cli
