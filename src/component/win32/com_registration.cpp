// Registration of a module's classes, programmatic names and embedded type library in the system
// registry (HKEY_CLASSES_ROOT).
#include "component/win32/com_server.h"

#include <olectl.h>

#include "component/win32/com_runtime.h"
#include "ovik/component.h"

namespace ovik::com {

namespace {

bool set_value(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

bool remove_key(HKEY root, const std::wstring& key) {
  LONG rc = RegDeleteTreeW(root, key.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::wstring wide(const ovik::Guid& g) { return widen(g.to_string()); }

SYSKIND this_syskind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

HRESULT register_classes(const std::vector<const ovik::TypeInfo*>& classes, const ovik::TypeLibraryHeader* library) {
  std::wstring module = module_path();
  if (module.empty()) return SELFREG_E_CLASS;
  if (library != nullptr) {
    ITypeLib* lib = module_type_library();
    // Registers the library and its dual and outgoing interfaces with the universal marshaler.
    if (lib == nullptr || FAILED(RegisterTypeLib(lib, module.data(), nullptr))) return SELFREG_E_TYPELIB;
  }
  bool ok = true;
  for (const ovik::TypeInfo* info : classes) {
    // A class described but not creatable gets no way to be created from outside.
    if (info->instancing != ovik::Instancing::Creatable) continue;
    const std::wstring progid = widen(info->progid());
    const std::wstring cls = L"CLSID\\" + wide(info->clsid);
    ok = ok && set_value(HKEY_CLASSES_ROOT, cls, nullptr, progid) &&
         set_value(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", nullptr, module) &&
         set_value(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", L"ThreadingModel",
                   widen(ovik::type_library_header().threading_model)) &&
         set_value(HKEY_CLASSES_ROOT, cls + L"\\ProgID", nullptr, progid) &&
         set_value(HKEY_CLASSES_ROOT, progid, nullptr, widen(info->class_name)) &&
         set_value(HKEY_CLASSES_ROOT, progid + L"\\CLSID", nullptr, wide(info->clsid));
    if (library != nullptr)
      ok = ok && set_value(HKEY_CLASSES_ROOT, cls + L"\\TypeLib", nullptr, wide(library->guid)) &&
           set_value(HKEY_CLASSES_ROOT, cls + L"\\Version", nullptr, widen(library->version));
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregister_classes(const std::vector<const ovik::TypeInfo*>& classes, const ovik::TypeLibraryHeader* library) {
  bool ok = true;
  for (const ovik::TypeInfo* info : classes) {
    if (info->instancing != ovik::Instancing::Creatable) continue;
    ok = remove_key(HKEY_CLASSES_ROOT, L"CLSID\\" + wide(info->clsid)) && ok;
    ok = remove_key(HKEY_CLASSES_ROOT, widen(info->progid())) && ok;
  }
  HKEY registered = nullptr;
  if (library != nullptr &&
      RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + wide(library->guid)).c_str(), 0, KEY_READ, &registered) ==
          ERROR_SUCCESS) {
    RegCloseKey(registered);
    const GUID libid = to_guid(library->guid);
    const auto dot = library->version.find('.');
    const WORD major = static_cast<WORD>(std::stoi(library->version.substr(0, dot)));
    const WORD minor = static_cast<WORD>(dot == std::string::npos ? 0 : std::stoi(library->version.substr(dot + 1)));
    // A library no longer registered (the key checked above) is already what was asked for.
    HRESULT hr = UnRegisterTypeLib(libid, major, minor, library->locale, this_syskind());
    ok = ok && (SUCCEEDED(hr) || hr == TYPE_E_LIBNOTREGISTERED);
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace ovik::com

