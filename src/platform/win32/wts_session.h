// One item of the calling process's own terminal session (WTSQuerySessionInformationW of
// WTS_CURRENT_SESSION on the local server), copied out of the memory the call hands back.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

#include <cstring>
#include <optional>
#include <vector>

namespace ovik::platform::win32 {

// The raw bytes of `item`; none when the query fails (no terminal services, no such session).
inline std::optional<std::vector<unsigned char>> own_session_item(WTS_INFO_CLASS item) {
  LPWSTR buffer = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, item, &buffer, &bytes) ||
      buffer == nullptr) {
    return std::nullopt;
  }
  std::vector<unsigned char> copy(bytes);
  if (bytes != 0) std::memcpy(copy.data(), buffer, bytes);
  WTSFreeMemory(buffer);
  return copy;
}

}  // namespace ovik::platform::win32
