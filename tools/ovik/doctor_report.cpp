#include "doctor_report.h"

#include <algorithm>
#include <ostream>

#include "json_value.h"
#include "platform/ascii.h"

namespace ovik::host {

namespace {

const char* status_word(CheckStatus status) {
  switch (status) {
    case CheckStatus::kOk:
      return "ok";
    case CheckStatus::kFail:
      return "FAIL";
    case CheckStatus::kWarn:
      return "warn";
    case CheckStatus::kSkip:
      return "skip";
  }
  return "?";
}

std::string json_status(CheckStatus status) { return platform::ascii_lower(status_word(status)); }

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

std::string summary(int failures, int warnings) {
  std::string text = failures == 0 ? "all checks passed" : std::to_string(failures) + " check(s) failed";
  if (warnings != 0) text += ", " + std::to_string(warnings) + " warning(s)";
  return text;
}

}  // namespace

std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    std::string line = text.substr(at, end - at);
    line.erase(0, line.find_first_not_of(" \t"));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    if (end == text.size()) break;
    at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

void DoctorReport::add(CheckStatus status, std::string name, std::string detail, std::string hint) {
  checks_.push_back({status, std::move(name), std::move(detail), std::move(hint)});
}

int DoctorReport::failures() const {
  return static_cast<int>(std::count_if(checks_.begin(), checks_.end(),
                                        [](const Check& c) { return c.status == CheckStatus::kFail; }));
}

int DoctorReport::warnings() const {
  return static_cast<int>(std::count_if(checks_.begin(), checks_.end(),
                                        [](const Check& c) { return c.status == CheckStatus::kWarn; }));
}

void DoctorReport::write_text(std::ostream& out, const std::string& folder) const {
  out << "checking the application folder " << folder << "\n";
  for (const Check& check : checks_) {
    std::string word = status_word(check.status);
    word.resize(6, ' ');
    out << word << check.name;
    const std::vector<std::string> detail = text_lines(check.detail);
    for (std::size_t i = 0; i < detail.size(); ++i) out << (i == 0 ? ": " : "        ") << detail[i] << "\n";
    if (detail.empty()) out << "\n";
    for (const std::string& line : text_lines(check.hint)) out << "      " << line << "\n";
  }
  out << summary(failures(), warnings()) << "\n";
}

void DoctorReport::write_json(std::ostream& out, const std::string& folder) const {
  Json checks = Json::array();
  for (const Check& check : checks_) {
    const std::string hint = joined(text_lines(check.hint));
    checks.push_back({{"name", check.name},
                      {"status", json_status(check.status)},
                      {"detail", joined(text_lines(check.detail))},
                      {"hint", hint.empty() ? Json(nullptr) : Json(hint)}});
  }
  const Json document{
      {"folder", folder}, {"checks", checks}, {"failed", failures()}, {"warnings", warnings()}};
  // A provider's message in another code page must not make the document unreadable.
  out << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace ovik::host
