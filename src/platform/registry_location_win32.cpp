#include <windows.h>

#include <string>

#include "platform/registry_location.h"
#include "platform/win32/wide.h"

namespace ovik::platform {

namespace {

std::wstring environment_value(const wchar_t* name) {
  const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(name, value.data(), n);
  value.resize(got < n ? got : 0);
  return value;
}

// The user's roaming application data folder + "\ovik\registry.ini": the per-user place the
// library's own class registry keeps beside the system registry that registration writes.
class RealRegistryLocation final : public RegistryLocation {
 public:
  std::string registry_file() override {
    const std::wstring folder = environment_value(L"APPDATA");
    const bool absolute =
        folder.size() >= 3 && (folder[1] == L':' || (folder[0] == L'\\' && folder[1] == L'\\'));
    if (!absolute) return {};  // nowhere safe to keep it: registration fails rather than guess
    return win32::to_utf8(folder) + "\\ovik\\registry.ini";
  }
};

}  // namespace

template <>
RegistryLocation& Facility<RegistryLocation>::real() {
  static RealRegistryLocation instance;
  return instance;
}

}  // namespace ovik::platform
