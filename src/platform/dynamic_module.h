// Loading a module (shared library) and finding an exported entry point in it, and the file of
// the module that holds a given function. Loaded modules stay loaded for the life of the process:
// objects they made may outlive any one caller, and unloading code under a live object crashes.
#pragma once

#include <optional>
#include <string>

namespace ovik::platform {

// The address of `symbol` in the module at `path` (loaded on first use); nullptr on failure with
// the loader's message in `error`.
void* module_symbol(const std::string& path, const char* symbol, std::string& error);

// The full path of the module file that contains `address` (for example a function of the library).
std::optional<std::string> module_file_of(const void* address);

}  // namespace ovik::platform
