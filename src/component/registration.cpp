// Lookups in the class registry file (written by the Linux DllRegisterServer) and in the
// registration-free manifest beside the library. Both are profile (INI) files read with the
// platform's profile functions:
//   registry:  [ProgID\<progid>] CLSID=...   [CLSID\{...}] ProgID=, InprocServer32=, ThreadingModel=
//   manifest:  [<progid>] module=<file name beside the library>  clsid={...}
#include <filesystem>
#include <system_error>

#include "component/class_registry.h"
#include "platform/dynamic_module.h"
#include "platform/module_info.h"
#include "platform/path_separator.h"
#include "platform/profile.h"
#include "platform/registry_location.h"

namespace ovik::component {

namespace {

namespace pl = ovik::platform;

std::string read_value(const std::string& path, const std::string& section, const char* key) {
  char buffer[1024] = {};
  std::size_t n = pl::get_private_profile_string(section.c_str(), key, "", buffer, sizeof buffer, path);
  return std::string(buffer, n);
}

// A module named by a manifest must lie beside the library: a bare file name only.
bool is_plain_file_name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '\0' || pl::breaks_file_name(c)) return false;
  return true;
}

}  // namespace

std::string library_file_path() {
  auto path = pl::module_file_of(reinterpret_cast<const void*>(&library_file_path));
  if (!path) return {};
  // Through UTF-8 both ways: a plain string() goes through the ANSI code page on Windows.
  std::error_code ec;
  auto absolute = std::filesystem::absolute(std::filesystem::path(std::u8string(path->begin(), path->end())), ec);
  if (ec) return *path;
  const std::u8string text = absolute.u8string();
  return std::string(text.begin(), text.end());
}

Ref<IDispatch> create_from_module(const std::string& module_path, const Guid& clsid, std::string_view progid) {
  using GetClassObject = std::int32_t (*)(const Guid*, const Guid*, void**);
  std::string error;
  auto entry = reinterpret_cast<GetClassObject>(pl::module_symbol(module_path, frame_class_object_entry(), error));
  if (entry == nullptr) raise_runtime_error(err::kCannotCreateObject, std::string(progid) + ": " + error);
  void* raw = nullptr;
  if (entry(&clsid, &IClassFactory::IID, &raw) != hresult::kOk || raw == nullptr)
    raise_runtime_error(err::kCannotCreateObject, std::string(progid));
  auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(static_cast<IUnknown*>(raw)));
  return Ref<IDispatch>::adopt(static_cast<IDispatch*>(factory->CreateInstance(IDispatch::IID)));
}

std::optional<ModuleEntry> lookup_manifest(std::string_view progid) {
  const pl::ModuleInfo library = pl::module_info_from_path(library_file_path());
  const std::string manifest = library.folder + "/" + library.base_name + ".manifest";
  const std::string section(progid);
  std::string module = read_value(manifest, section, "module");
  auto clsid = Guid::parse(read_value(manifest, section, "clsid"));
  if (!is_plain_file_name(module) || !clsid) return std::nullopt;
  return ModuleEntry{library.folder + "/" + module, *clsid};
}

std::optional<ModuleEntry> lookup_registry(std::string_view progid) {
  const std::string registry = pl::Facility<pl::RegistryLocation>::get().registry_file();
  if (registry.empty()) return std::nullopt;
  auto clsid = Guid::parse(read_value(registry, "ProgID\\" + std::string(progid), "CLSID"));
  if (!clsid) return std::nullopt;
  std::string module = read_value(registry, "CLSID\\" + clsid->to_string(), "InprocServer32");
  if (module.empty() || module.front() != '/') return std::nullopt;
  return ModuleEntry{module, *clsid};
}

}  // namespace ovik::component
