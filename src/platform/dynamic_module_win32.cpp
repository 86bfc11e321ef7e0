#include <windows.h>

#include <map>
#include <string>

#include "platform/dynamic_module.h"
#include "platform/win32/wide.h"

namespace ovik::platform {

namespace {

std::string last_error_text(const std::string& fallback) {
  const DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? win32::to_utf8(std::wstring_view(text, n)) : fallback;
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

}  // namespace

void* module_symbol(const std::string& path, const char* symbol, std::string& error) {
  // Handles are kept for the life of the process (see the header); LoadLibrary counts repeats itself.
  static std::map<std::string, HMODULE> loaded;
  HMODULE& handle = loaded[path];
  if (handle == nullptr) {
    handle = ::LoadLibraryW(win32::wide_path(path).c_str());
    if (handle == nullptr) {
      error = last_error_text("cannot load " + path);
      loaded.erase(path);
      return nullptr;
    }
  }
  void* address = reinterpret_cast<void*>(::GetProcAddress(handle, symbol));
  if (address == nullptr) error = last_error_text(std::string("no entry point ") + symbol);
  return address;
}

std::optional<std::string> module_file_of(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module))
    return std::nullopt;
  // The wide name: the library's paths are UTF-8, and a folder outside the ANSI code page stays whole.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::nullopt;
    if (n < name.size()) {
      name.resize(n);
      return win32::to_utf8(name);
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace ovik::platform
