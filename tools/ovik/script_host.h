// The automation host behind `ovik script`: one JSON request per line, one JSON answer per line,
// in order. Message boxes and events that happen during a request are printed as lines of their
// own before its answer. A bad line gets an error answer and the host goes on with the next,
// unless told to stop at the first failure. A request's "id" comes back in its answer and in the
// lines printed during it, so a client can match them without counting lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json_value.h"
#include "ovik/unknown.h"

namespace ovik::host {

// The longest request line read; a longer one is answered as a bad request (error 5) and the rest
// of it skipped unread, so no line takes more memory than this.
inline constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;

// A request as read from its line, before anything is done.
struct Request {
  enum class Verb { New, Get, Put, Call, Release, Advise } verb = Verb::Call;
  std::string target;              // progid for New; "name.Member.Member" for Get/Put/Call; a name otherwise
  std::vector<Json> args;          // argument values, still JSON (names are resolved when run)
  std::optional<Json> value;       // the new value of a Put
  std::optional<std::string> as;   // name for the result
  std::optional<Json> id;          // the client's tag for the request: a string, number, Boolean or null
};

// Raises RaisedError 5 for malformed JSON, for arrays and objects nested deeper than any request
// needs (checked before parsing), or for a line that is no JSON object.
Json parse_line(const std::string& line);
// Raises RaisedError 5 for a request of no known form, an "id" that is an array or object included.
Request request_from(const Json& line);
Request parse_request(const std::string& line);

class ScriptHost {
 public:
  // Installs the host's message box handler for its lifetime (nothing blocks).
  explicit ScriptHost(std::ostream& out);
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Runs one line and prints its answer (blank lines are skipped). Returns false when it failed.
  bool run_line(const std::string& line);
  struct Outcome {
    int failed = 0;              // requests answered with an error
    std::size_t stopped_at = 0;  // the line number of the failure that stopped the run; 0 when none did
  };
  // Runs the lines of the stream, all of them or up to the first failed request.
  Outcome run(std::istream& in, bool stop_on_error = false);

 private:
  Json execute(const Request& request);
  Ref<IDispatch> lookup(const std::string& name) const;
  // Prints a line, led by the id of the request being run when it has one.
  void print(const Json& line);
  void print_failure(std::int32_t number, const std::string& source, const std::string& description);

  std::ostream& out_;
  std::map<std::string, Ref<IDispatch>> names_;
  std::vector<std::pair<Ref<IDispatch>, std::uint32_t>> advised_;
  std::optional<std::string> current_id_;  // as the request wrote it, so any number comes back exactly
};

}  // namespace ovik::host
