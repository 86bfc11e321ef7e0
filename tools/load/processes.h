// What the load run and the fleet run share: child processes that each do their work and hand a
// text report to the parent through a pipe, and the parent's list of checks.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ovik::load {

class Checks {
 public:
  void expect(bool ok, const std::string& what, const std::string& detail = "") {
    std::cout << (ok ? "ok      " : "FAILED  ") << what << (ok || detail.empty() ? "" : ": " + detail) << "\n";
    if (!ok) failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every tag counted: each expected one must be there exactly once, and nothing else may be.
inline std::string compare_counts(const std::map<std::string, int>& seen, const std::set<std::string>& expected) {
  long missing = 0, doubled = 0, strange = 0;
  std::string example;
  for (const std::string& e : expected) {
    auto it = seen.find(e);
    if (it == seen.end()) {
      if (missing++ == 0 && example.empty()) example = "missing \"" + e + "\"";
    } else if (it->second > 1) {
      if (doubled++ == 0 && example.empty()) example = "twice \"" + e + "\"";
    }
  }
  for (const auto& [text, n] : seen)
    if (!expected.contains(text) && strange++ == 0 && example.empty())
      example = "unexpected \"" + text + "\"";
  if (missing + doubled + strange == 0) return "";
  return std::to_string(missing) + " missing, " + std::to_string(doubled) + " doubled, " +
         std::to_string(strange) + " unexpected (" + example + ")";
}

// Forks `count` children; child i runs work(i) and sends what it returns to the parent.
// Nullopt when a pipe or a fork failed. With `checked_at_end` a child ends through exit(), so a
// leak checker, when there is one, checks it at its end; without, through _exit().
using Children = std::vector<std::pair<pid_t, int>>;  // pid, read end of its report pipe
inline std::optional<Children> start_children(int count, const std::function<std::string(int)>& work,
                                              bool checked_at_end = true) {
  std::cout.flush();  // or each child would print it again at its end
  Children children;
  for (int i = 0; i < count; ++i) {
    int report[2];
    if (::pipe(report) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
      ::close(report[0]);
      const std::string text = work(i);
      std::size_t sent = 0;
      while (sent < text.size()) {
        const ssize_t n = ::write(report[1], text.data() + sent, text.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(report[1]);
      if (!checked_at_end) ::_exit(sent == text.size() ? 0 : 3);
      std::exit(sent == text.size() ? 0 : 3);
    }
    ::close(report[1]);
    children.emplace_back(pid, report[0]);
  }
  return children;
}

// Each child's report, in order, once it has ended; a child that did not end normally or sent
// nothing is a failed check ("<noun> <i> ended normally") and has no report.
inline std::vector<std::string> collect_reports(const Children& children, const std::string& noun, Checks& checks) {
  std::vector<std::string> reports;
  for (std::size_t i = 0; i < children.size(); ++i) {
    const auto& [pid, fd] = children[i];
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const bool ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    checks.expect(ended && !text.empty(), noun + " " + std::to_string(i) + " ended normally",
                  "status " + std::to_string(status));
    if (!text.empty()) reports.push_back(std::move(text));
  }
  return reports;
}

}  // namespace ovik::load
