// The profile file functions on Windows: the system's own. Paths are UTF-8 in the library and go to
// the ANSI functions in the ANSI code page, as the section, key and value bytes do.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace ovik::platform {

namespace {

// "\" throughout: the profile functions take a name without "\" for a file of the Windows folder.
std::string ansi_path(const std::string& path) {
  std::string ansi = to_narrow(path);
  std::replace(ansi.begin(), ansi.end(), '/', '\\');
  return ansi;
}

}  // namespace

std::size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       char* buffer, std::size_t size, const std::string& path) {
  if (buffer == nullptr || size == 0) return 0;
  // No file at all reads as an empty one here; the system would read win.ini.
  if (path.empty())
    return get_profile_string_from_memory({}, section, key, default_value, buffer, size, narrow_scheme());
  const DWORD capacity = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  return ::GetPrivateProfileStringA(section, key, default_value, buffer, capacity, ansi_path(path).c_str());
}

int write_private_profile_string(const char* section, const char* key, const char* value,
                                 const std::string& path) {
  // Names and values that would not read back as written (a line break, "]" in a section name, "="
  // in a key name) are refused as on Linux: the system would write them and break the file.
  if (path.empty() || !write_profile_string_in_memory({}, section, key, value, narrow_scheme())) return 0;
  return ::WritePrivateProfileStringA(section, key, value, ansi_path(path).c_str()) ? 1 : 0;
}

}  // namespace ovik::platform
