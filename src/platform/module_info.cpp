#include "platform/module_info.h"

#include <optional>

#include "platform/dynamic_module.h"

namespace ovik::platform {

namespace {

bool is_version_suffix(std::string_view rest) {
  // Empty, or "." followed by digits, repeated: ".2", ".2.0.0".
  while (!rest.empty()) {
    if (rest.front() != '.' || rest.size() < 2) return false;
    rest.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0) return false;
    rest.remove_prefix(digits);
  }
  return true;
}

// Any function of the library will do: the loader maps its address back to the file.
void anchor() {}

}  // namespace

std::string module_base_name(std::string_view file_name) {
  for (std::size_t at = file_name.find(".so"); at != std::string_view::npos;
       at = file_name.find(".so", at + 1)) {
    if (at == 0 || !is_version_suffix(file_name.substr(at + 3))) continue;
    std::string_view stem = file_name.substr(0, at);
    if (stem.starts_with("lib") && stem.size() > 3) stem.remove_prefix(3);
    return std::string(stem);
  }
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string(file_name);
  return std::string(file_name.substr(0, dot));
}

ModuleInfo ModulePath::module() {
  const std::optional<std::string> file = module_file_of(reinterpret_cast<const void*>(&anchor));
  return file ? module_info_from_path(*file) : ModuleInfo{};
}

template <>
ModulePath& Facility<ModulePath>::real() {
  static ModulePath instance;
  return instance;
}

}  // namespace ovik::platform
