#include "commands.h"

#include <ostream>

#include "ovik/component.h"
#include "ovik/module_entry_points.h"
#include "ovik/version.h"

namespace ovik::host {

namespace {
constexpr const char* kUsage =
    "usage: ovik COMMAND [ARG...]\n"
    "  demo                               the whole client flow on this folder's settings\n"
    "  doctor [--json] [FOLDER]           check an application folder before the store opens\n"
    "  call PROGID MEMBER [ARG...]        create an object and call one of its members\n"
    "  script [--stop-on-error] [FILE|-]  run requests, one JSON object a line\n"
    "  typelib [--idl|--com-shims|--manifest]  list the type library (or write the Windows binding's sources)\n"
    "  reference                          every class and member, as Markdown\n"
    "  register [--unregister]            register the classes (or remove them)\n"
    "  --version, -V                      the version\n"
    "  help, --help, -h                   this text\n";
}  // namespace

int run_ovik(const std::vector<std::string>& all, std::ostream& out, std::ostream& err) {
  if (all.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string& command = all[0];
  const std::vector<std::string> args(all.begin() + 1, all.end());
  if (command == "help" || command == "--help" || command == "-h") {
    out << kUsage;
    return 0;
  }
  if (command == "--version" || command == "-V") {
    out << "ovik " << OVIK_VERSION_STRING << "\n";
    return 0;
  }
  if (command == "typelib" && !args.empty()) {
    if (args[0] == "--idl") return run_typelib_idl(out);
    if (args[0] == "--com-shims") return run_typelib_com_shims(out);
    if (args[0] == "--manifest") return run_typelib_manifest(out);
    err << "ovik typelib: unknown option \"" << args[0] << "\"\n" << kUsage;
    return 2;
  }
  if (command == "typelib") return run_typelib(out);
  if (command == "reference") return run_reference(out);
  if (command == "call") return run_call(args, out, err);
  if (command == "script") return run_script(args, out, err);
  if (command == "doctor") return run_doctor(args, out, err);
  if (command == "demo") return run_demo(args, out, err);
  if (command == "register") return run_register(args, out, err);
  err << "ovik: unknown command \"" << command << "\"\n" << kUsage;
  return 2;
}

std::string one_line(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
  return text;
}

int run_typelib(std::ostream& out) {
  out << type_library_listing();
  return 0;
}

int run_register(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool undo = !args.empty() && (args[0] == "--unregister" || args[0] == "-u");
  std::int32_t hr = undo ? DllUnregisterServer() : DllRegisterServer();
  if (hr != hresult::kOk) {
    err << (undo ? "unregistration" : "registration") << " failed (0x" << std::hex << static_cast<std::uint32_t>(hr)
        << ")\n";
    return 1;
  }
  out << (undo ? "unregistered " : "registered ") << type_library_header().name << "\n";
  return 0;
}

}  // namespace ovik::host

#include <fstream>
#include <iostream>

#include "ovik/error.h"
#include "ovik/type_info.h"
#include "script_host.h"

namespace ovik::host {

namespace {
std::string text_of(const Variant& v) {
  if (v.is_object()) {
    Ref<IDispatch> o = v.to_object();
    return o ? "<" + o->GetTypeInfo().class_name + ">" : "Nothing";
  }
  if (v.is_null()) return "Null";
  return v.to_string();
}
}  // namespace

int run_call(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) {
    err << "usage: ovik call PROGID MEMBER [ARG...]\n";
    return 2;
  }
  try {
    Ref<IDispatch> object = create_object(args[0]);
    std::int32_t id = object->GetIDOfName(args[1]);
    if (id == kDispidUnknown) raise_runtime_error(err::kMemberNotSupported, args[1]);
    // Arguments arrive as text; the member's own parameter types convert them.
    std::vector<Variant> values(args.begin() + 2, args.end());
    const TypeInfo& info = object->GetTypeInfo();
    bool has_method = false;
    for (const MemberInfo& m : info.members) has_method |= m.dispid == id && m.kind == InvokeKind::Method;
    Variant result = object->Invoke(id, has_method ? InvokeKind::Method : InvokeKind::PropertyGet, values);
    out << text_of(result) << "\n";
    return 0;
  } catch (const RaisedError& e) {
    err << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
}

int run_script(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool stop_on_error = false;
  std::string source = "-";
  bool have_source = false;
  for (const std::string& arg : args) {
    if (arg == "--stop-on-error") {
      stop_on_error = true;
    } else if (!have_source && (arg == "-" || !arg.starts_with("-"))) {
      source = arg;
      have_source = true;
    } else {
      err << "usage: ovik script [--stop-on-error] [FILE | -]\n";
      return 2;
    }
  }
  std::ifstream file;
  if (source != "-") {
    file.open(source);
    if (!file) {
      err << "cannot read " << source << "\n";
      return 2;
    }
  }
  std::istream& in = source == "-" ? std::cin : file;
  ScriptHost host(out);
  // Each failure is in its answer; the status tells a shell script that one happened.
  const ScriptHost::Outcome outcome = host.run(in, stop_on_error);
  if (outcome.stopped_at != 0)
    err << "ovik script: stopped at the failed request on line " << outcome.stopped_at << "\n";
  return outcome.failed == 0 ? 0 : 1;
}

}  // namespace ovik::host
