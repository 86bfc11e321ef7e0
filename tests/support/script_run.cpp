#include "support/script_run.h"

#include <sstream>

namespace ovik::testing {

std::vector<host::Json> parse_lines(const std::string& output) {
  std::vector<host::Json> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(host::Json::parse(line));
  return lines;
}

std::vector<host::Json> run_script(const std::vector<std::string>& lines) {
  std::ostringstream out;
  {
    host::ScriptHost host(out);
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    std::istringstream in(text);
    host.run(in);
  }
  return parse_lines(out.str());
}

}  // namespace ovik::testing
