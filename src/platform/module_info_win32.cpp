#include <filesystem>
#include <string>
#include <system_error>

#include "platform/module_info.h"

namespace ovik::platform {

namespace {

std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

// The path is UTF-8 with either separator; the folder comes back with "\" ("C:\app\bin", or the
// root "C:\" itself).
ModuleInfo module_info_from_path(std::string_view path) {
  if (path.empty()) return {};
  std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code error;
  if (file.is_relative()) {
    std::filesystem::path absolute = std::filesystem::absolute(file, error);
    if (!error) file = absolute;
  }
  file = file.lexically_normal();
  ModuleInfo info;
  info.base_name = module_base_name(utf8_of(file.filename()));
  info.folder = utf8_of(file.parent_path());
  return info;
}

}  // namespace ovik::platform
