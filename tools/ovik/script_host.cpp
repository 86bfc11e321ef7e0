#include "script_host.h"

#include <algorithm>
#include <istream>
#include <limits>
#include <ostream>

#include "ovik/component.h"
#include "ovik/error.h"
#include "ovik/events.h"
#include "ovik/type_info.h"
#include "platform/user_interface.h"

namespace ovik::host {

namespace {

[[noreturn]] void bad_request(const std::string& why) { raise_runtime_error(err::kInvalidArgument, why); }

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (true) {
    std::size_t dot = path.find('.', from);
    parts.push_back(path.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  for (const auto& p : parts)
    if (p.empty()) bad_request("malformed member path \"" + path + "\"");
  return parts;
}

Variant invoke_by_name(IDispatch* object, const std::string& member, InvokeKind kind, std::span<Variant> args) {
  std::int32_t id = object->GetIDOfName(member);
  if (id == kDispidUnknown)
    raise_runtime_error(err::kMemberNotSupported, object->GetTypeInfo().class_name + "." + member);
  return object->Invoke(id, kind, args);
}

// A request, its "args" array, a tagged value such as {"currency": "1.5"}: no request needs more.
constexpr int kMaxNesting = 3;

// The deepest nesting of arrays and objects in the text, counted without parsing it. Copying,
// comparing and printing a parsed value recurse once per level, so a line nested a hundred
// thousand deep must be refused before it becomes a value. Inside a string nothing counts.
// Brackets after a syntax error may count too; such a line is refused either way.
int nesting_depth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// The text of a top-level "id" that is a number with a fraction or exponent, or beyond 64 bits, as
// the line wrote it: -9223372036854775809 comes back as written, not rounded through a double.
class FloatIdToken final : public nlohmann::json_sax<Json> {
 public:
  std::string text;

  bool null() override { return next(); }
  bool boolean(bool) override { return next(); }
  bool number_integer(number_integer_t) override { return next(); }
  bool number_unsigned(number_unsigned_t) override { return next(); }
  bool number_float(number_float_t, const string_t& written) override {
    if (at_id_) text = written;
    return next();
  }
  bool string(string_t&) override { return next(); }
  bool binary(binary_t&) override { return next(); }
  bool start_object(std::size_t) override { return ++depth_, next(); }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override { return ++depth_, next(); }
  bool end_array() override { return --depth_, true; }
  bool key(string_t& name) override {
    at_id_ = depth_ == 1 && name == "id";
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool next() {
    at_id_ = false;
    return true;
  }
  int depth_ = 0;
  bool at_id_ = false;
};

std::string id_text(const std::string& line, const Json& id) {
  if (id.is_number_float()) {
    FloatIdToken token;
    if (Json::sax_parse(line, &token) && !token.text.empty()) return token.text;
  }
  return id.dump(-1, ' ', false, Json::error_handler_t::replace);
}

enum class LineRead { kLine, kTooLong, kEnd };

// std::getline with a bound: the part of a longer line beyond it is skipped, never stored.
LineRead read_line(std::istream& in, std::string& line) {
  line.clear();
  char chunk[1 << 16];
  bool any = false;
  while (true) {
    in.get(chunk, sizeof chunk, '\n');  // stops before the line break; none read sets failbit
    const auto got = static_cast<std::size_t>(in.gcount());
    any |= got > 0;
    if (line.size() + got > kMaxLineBytes) {
      in.clear();
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      std::string().swap(line);
      return LineRead::kTooLong;
    }
    line.append(chunk, got);
    if (in.bad()) return LineRead::kEnd;
    if (in.eof()) return any ? LineRead::kLine : LineRead::kEnd;
    in.clear();
    if (in.peek() == '\n') {
      in.ignore();
      return LineRead::kLine;
    }
  }
}

}  // namespace

Json parse_line(const std::string& line) {
  if (nesting_depth(line) > kMaxNesting)
    bad_request("nested deeper than " + std::to_string(kMaxNesting) + " levels of arrays and objects");
  Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded()) bad_request("malformed JSON");
  if (!j.is_object()) bad_request("a request is a JSON object");
  return j;
}

Request parse_request(const std::string& line) { return request_from(parse_line(line)); }

Request request_from(const Json& j) {
  Request r;
  int verbs = 0;
  auto take_verb = [&](const char* key, Request::Verb verb) {
    if (auto it = j.find(key); it != j.end()) {
      if (!it->is_string() || it->get<std::string>().empty())
        bad_request(std::string("\"") + key + "\" takes a non-empty string");
      r.verb = verb;
      r.target = it->get<std::string>();
      ++verbs;
    }
  };
  take_verb("new", Request::Verb::New);
  take_verb("get", Request::Verb::Get);
  take_verb("put", Request::Verb::Put);
  take_verb("call", Request::Verb::Call);
  take_verb("release", Request::Verb::Release);
  take_verb("advise", Request::Verb::Advise);
  if (verbs != 1) bad_request("a request has exactly one of new, get, put, call, release, advise");
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string& key = it.key();
    if (key == "new" || key == "get" || key == "put" || key == "call" || key == "release" || key == "advise") continue;
    if (key == "args") {
      if (!it->is_array()) bad_request("\"args\" takes an array");
      r.args.assign(it->begin(), it->end());
    } else if (key == "value") {
      r.value = *it;
    } else if (key == "id") {
      if (it->is_structured()) bad_request("\"id\" takes a string, number, true, false or null");
      r.id = *it;
    } else if (key == "as") {
      if (!it->is_string() || it->get<std::string>().empty()) bad_request("\"as\" takes a non-empty string");
      r.as = it->get<std::string>();
    } else {
      bad_request("unknown key \"" + key + "\"");
    }
  }
  if (r.verb == Request::Verb::Put && !r.value) bad_request("\"put\" needs a \"value\"");
  if (r.verb != Request::Verb::Put && r.value) bad_request("\"value\" belongs to \"put\"");
  return r;
}

ScriptHost::ScriptHost(std::ostream& out) : out_(out) {
  platform::set_message_box_handler([this](const platform::MessageBoxRequest& box) {
    print(Json{{"msgbox", {{"text", box.text}, {"title", box.title}, {"style", box.style}}}});
    return platform::kMessageBoxOk;
  });
}

ScriptHost::~ScriptHost() {
  for (auto& [source, cookie] : advised_)
    if (auto container = query<IConnectionPointContainer>(source.get())) container->Unadvise(cookie);
  advised_.clear();
  names_.clear();
  platform::set_message_box_handler(nullptr);
}

void ScriptHost::print(const Json& line) {
  const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (current_id_)
    out_ << "{\"id\":" << *current_id_ << (line.empty() ? "}" : "," + text.substr(1)) << '\n';
  else
    out_ << text << '\n';
  out_.flush();
}

void ScriptHost::print_failure(std::int32_t number, const std::string& source, const std::string& description) {
  print(Json{{"ok", false}, {"error", {{"number", number}, {"source", source}, {"description", description}}}});
}

Ref<IDispatch> ScriptHost::lookup(const std::string& name) const {
  auto it = names_.find(name);
  return it == names_.end() ? Ref<IDispatch>() : it->second;
}

Json ScriptHost::execute(const Request& request) {
  auto by_name = [this](const std::string& n) { return lookup(n); };
  std::vector<Variant> args;
  for (const Json& a : request.args) args.push_back(variant_from_json(a, by_name));

  Variant result;
  switch (request.verb) {
    case Request::Verb::New: result = Variant(create_object(request.target)); break;
    case Request::Verb::Release:
      if (names_.erase(request.target) == 0) bad_request("no object named " + request.target);
      break;
    case Request::Verb::Advise: {
      Ref<IDispatch> source = lookup(request.target);
      if (!source) bad_request("no object named " + request.target);
      const TypeInfo& info = source->GetTypeInfo();
      auto container = query<IConnectionPointContainer>(source.get());
      if (!container || !info.events) bad_request(request.target + " raises no events");
      std::string from = request.target;
      auto listener = CallbackListener::make([this, from, events = *info.events](std::int32_t dispid,
                                                                                  std::span<Variant> values) {
        std::string name = "#" + std::to_string(dispid);
        for (const EventInfo& e : events.events)
          if (e.dispid == dispid) name = e.name;
        Json list = Json::array();
        for (const Variant& v : values) list.push_back(json_from_variant(v));
        print(Json{{"event", name}, {"from", from}, {"args", list}});
      });
      advised_.emplace_back(source, container->Advise(info.events->iid, listener.get()));
      break;
    }
    case Request::Verb::Get:
    case Request::Verb::Put:
    case Request::Verb::Call: {
      std::vector<std::string> path = split_path(request.target);
      Ref<IDispatch> object = lookup(path[0]);
      if (!object) bad_request("no object named " + path[0]);
      if (path.size() < 2) bad_request("\"" + request.target + "\" names no member");
      for (std::size_t i = 1; i + 1 < path.size(); ++i) {
        object = invoke_by_name(object.get(), path[i], InvokeKind::PropertyGet, {}).to_object();
        if (!object) raise_runtime_error(err::kObjectNotSet);
      }
      const std::string& member = path.back();
      if (request.verb == Request::Verb::Put) {
        args.push_back(variant_from_json(*request.value, by_name));
        invoke_by_name(object.get(), member, InvokeKind::PropertyPut, args);
        args.pop_back();
      } else {
        InvokeKind kind = request.verb == Request::Verb::Get ? InvokeKind::PropertyGet : InvokeKind::Method;
        result = invoke_by_name(object.get(), member, kind, args);
      }
      break;
    }
  }
  if (request.as) {
    if (!result.is_object() || !result.to_object()) bad_request("the result is no object to name");
    names_[*request.as] = result.to_object();
  }
  Json answer{{"ok", true}, {"result", json_from_variant(result)}};
  Json list = Json::array();
  for (const Variant& v : args) list.push_back(json_from_variant(v));
  answer["args"] = list;
  return answer;
}

bool ScriptHost::run_line(const std::string& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
  // Whatever happens, the id of this request tags nothing after its answer.
  struct IdScope {
    std::optional<std::string>& id;
    ~IdScope() { id.reset(); }
  } scope{current_id_};
  try {
    const Json request_line = parse_line(line);
    // A readable id tags the answer even when the rest of the request is refused.
    if (auto it = request_line.find("id"); it != request_line.end() && !it->is_structured())
      current_id_ = id_text(line, *it);
    print(execute(request_from(request_line)));
    return true;
  } catch (const RaisedError& e) {
    print_failure(e.number(), e.source(), e.description());
  } catch (const std::exception& e) {
    print_failure(err::kInvalidArgument, "ovik", e.what());
  }
  return false;
}

ScriptHost::Outcome ScriptHost::run(std::istream& in, bool stop_on_error) {
  Outcome outcome;
  std::size_t number = 0;
  std::string line;
  for (LineRead read; (read = read_line(in, line)) != LineRead::kEnd;) {
    ++number;
    if (read == LineRead::kTooLong) {
      try {
        bad_request("a line longer than " + std::to_string(kMaxLineBytes >> 20) +
                    " MiB; the rest of it was skipped");
      } catch (const RaisedError& e) {
        print_failure(e.number(), e.source(), e.description());
      }
    } else if (run_line(line)) {
      continue;
    }
    ++outcome.failed;
    if (stop_on_error) {
      outcome.stopped_at = number;
      break;
    }
  }
  return outcome;
}

}  // namespace ovik::host
