#include <filesystem>
#include <string>
#include <system_error>

#include "platform/module_info.h"

namespace ovik::platform {

ModuleInfo module_info_from_path(std::string_view path) {
  if (path.empty()) return {};
  std::filesystem::path file(path);
  std::error_code error;
  if (file.is_relative()) {
    std::filesystem::path absolute = std::filesystem::absolute(file, error);
    if (!error) file = absolute;
  }
  file = file.lexically_normal();
  ModuleInfo info;
  info.base_name = module_base_name(file.filename().native());
  std::string folder = file.parent_path().native();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  info.folder = folder;
  return info;
}

}  // namespace ovik::platform
