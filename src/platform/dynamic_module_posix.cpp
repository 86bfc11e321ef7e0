#include "platform/dynamic_module.h"

#include <dlfcn.h>

#include <map>

namespace ovik::platform {

void* module_symbol(const std::string& path, const char* symbol, std::string& error) {
  // Handles are kept for the life of the process (see the header); dlopen counts repeats itself.
  static std::map<std::string, void*> loaded;
  void*& handle = loaded[path];
  if (handle == nullptr) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* message = dlerror();
      error = message != nullptr ? message : "cannot load " + path;
      loaded.erase(path);
      return nullptr;
    }
  }
  dlerror();
  void* address = dlsym(handle, symbol);
  if (address == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : std::string("no entry point ") + symbol;
  }
  return address;
}

std::optional<std::string> module_file_of(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::nullopt;
  return std::string(info.dli_fname);
}

}  // namespace ovik::platform
