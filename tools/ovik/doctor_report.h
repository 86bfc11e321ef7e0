// The findings of `ovik doctor`, written for a person (one line per check, everything that belongs
// to a check indented under it) or as one JSON document for monitoring.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ovik::host {

enum class CheckStatus { kOk, kFail, kWarn, kSkip };

struct Check {
  CheckStatus status = CheckStatus::kOk;
  std::string name;    // stable: "[database] provider", "connection of [database]", "log table wkLog"
  std::string detail;  // what was found; a provider's message may span lines
  std::string hint;    // what to do about it, possibly several lines; empty when nothing
};

class DoctorReport {
 public:
  void add(CheckStatus status, std::string name, std::string detail = {}, std::string hint = {});
  const std::vector<Check>& checks() const { return checks_; }
  int failures() const;
  int warnings() const;
  // Non-zero when a check failed; warnings and skipped checks leave it 0.
  int exit_status() const { return failures() == 0 ? 0 : 1; }

  // A heading, each check as "STATUS name: detail" with the detail's further lines and the hint
  // indented under it (so no continuation can be taken for a check of its own), and a summary.
  void write_text(std::ostream& out, const std::string& folder) const;
  // {"folder", "checks": [{"name", "status", "detail", "hint"}], "failed", "warnings"}; status is
  // "ok", "fail", "warn" or "skip"; line breaks inside detail and hint are "\n"; hint is null when
  // there is none.
  void write_json(std::ostream& out, const std::string& folder) const;

 private:
  std::vector<Check> checks_;
};

// The lines of a text (CR LF, CR and LF each end one) without their leading blanks and tabs;
// blank lines are dropped.
std::vector<std::string> text_lines(const std::string& text);

}  // namespace ovik::host
