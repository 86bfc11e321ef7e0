#include "platform/registry_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace ovik::platform {

namespace {
class RealRegistryLocation final : public RegistryLocation {
 public:
  std::string registry_file() override {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
      return std::string(xdg) + "/ovik/registry.ini";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
      return std::string(home) + "/.config/ovik/registry.ini";
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        pw.pw_dir != nullptr)
      return std::string(pw.pw_dir) + "/.config/ovik/registry.ini";
    return {};  // nowhere safe to keep it: registration fails rather than guess a shared folder
  }
};
}  // namespace

template <>
RegistryLocation& Facility<RegistryLocation>::real() {
  static RealRegistryLocation instance;
  return instance;
}

}  // namespace ovik::platform
