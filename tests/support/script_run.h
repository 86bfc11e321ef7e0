// Runs lines through the `ovik script` host and reads back every line it printed.
#pragma once

#include <string>
#include <vector>

#include "script_host.h"

namespace ovik::testing {

// Each printed line parsed as JSON, in order.
std::vector<host::Json> parse_lines(const std::string& output);
// A fresh host for the lines; answers, message boxes and events as it printed them.
std::vector<host::Json> run_script(const std::vector<std::string>& lines);

}  // namespace ovik::testing
