// The subcommands of the ovik host. Each returns the process exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ovik::host {

// The whole command line after the program's name: picks the command. Asked for, the usage goes to
// `out` with status 0; a missing or unknown command gets it on `err` with status 2.
int run_ovik(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int run_typelib(std::ostream& out);
// The Windows binding's generated sources (windows_binding.cpp).
int run_typelib_idl(std::ostream& out);
int run_typelib_com_shims(std::ostream& out);
int run_typelib_manifest(std::ostream& out);
// A message for one line of output: each CR LF becomes " / ".
std::string one_line(std::string text);
int run_register(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ovik::host

namespace ovik::host {
int run_call(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int run_script(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int run_demo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int run_doctor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Every class of the type library with its members, as Markdown (docs/reference.md).
int run_reference(std::ostream& out);
}  // namespace ovik::host
