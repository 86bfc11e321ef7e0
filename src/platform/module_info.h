// Where the library's own module file lies, and its base name. The application folder layout
// (the "ini", "log" and "transaction_log" folders beside the module's folder) and the default
// application name hang off these two values.
//
// ModulePath is a facility (see facility.h) so that tests can point the library at a temporary
// application folder. The real implementation asks the dynamic loader which file holds the
// library's code; when the loader cannot tell, both values are empty.
#pragma once

#include <string>
#include <string_view>

#include "ovik/export.h"
#include "platform/facility.h"

namespace ovik::platform {

struct ModuleInfo {
  std::string folder;     // absolute, without a trailing "/" (except "/" itself)
  std::string base_name;  // "Ovik2Environment" for libOvik2Environment.so.2.0.0
};

class OVIK_API ModulePath {
 public:
  virtual ~ModulePath() = default;
  virtual ModuleInfo module();
};

// The file name without the "lib" prefix and ".so" with any version suffix ("libX.so.2.0.0",
// "libX.so" -> "X"); any other file name loses its last extension only ("prog.bin" -> "prog").
std::string module_base_name(std::string_view file_name);

// Folder and base name of a module path. A relative path is taken as relative to the current
// folder; "." and ".." components are resolved lexically, symbolic links are not.
ModuleInfo module_info_from_path(std::string_view path);

}  // namespace ovik::platform
