// The class registry file (DllRegisterServer / DllUnregisterServer) and the registration-free
// manifest beside the library. Both are profile (INI) files read with the platform's profile
// functions:
//   registry:  [ProgID\<progid>] CLSID=...   [CLSID\{...}] ProgID=, InprocServer32=, ThreadingModel=
//   manifest:  [<progid>] module=<file name beside the library>  clsid={...}
#include <filesystem>
#include <system_error>

#include "component/class_registry.h"
#include "platform/dynamic_module.h"
#include "platform/module_info.h"
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

bool write_value(const std::string& path, const std::string& section, const char* key, const std::string& value) {
  return pl::write_private_profile_string(section.c_str(), key, value.c_str(), path) != 0;
}

bool remove_section(const std::string& path, const std::string& section) {
  return pl::write_private_profile_string(section.c_str(), nullptr, nullptr, path) != 0;
}

// A module named by a manifest must lie beside the library: a bare file name only.
bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

std::string library_file_path() {
  auto path = pl::module_file_of(reinterpret_cast<const void*>(&library_file_path));
  if (!path) return {};
  std::error_code ec;
  auto absolute = std::filesystem::absolute(*path, ec);
  return ec ? *path : absolute.string();
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

Ref<IDispatch> create_from_module(const std::string& module_path, const Guid& clsid, std::string_view progid) {
  using GetClassObject = std::int32_t (*)(const Guid*, const Guid*, void**);
  std::string error;
  auto entry = reinterpret_cast<GetClassObject>(pl::module_symbol(module_path, "DllGetClassObject", error));
  if (entry == nullptr) raise_runtime_error(err::kCannotCreateObject, std::string(progid) + ": " + error);
  void* raw = nullptr;
  if (entry(&clsid, &IClassFactory::IID, &raw) != hresult::kOk || raw == nullptr)
    raise_runtime_error(err::kCannotCreateObject, std::string(progid));
  auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(static_cast<IUnknown*>(raw)));
  return Ref<IDispatch>::adopt(static_cast<IDispatch*>(factory->CreateInstance(IDispatch::IID)));
}

}  // namespace ovik::component

extern "C" std::int32_t DllRegisterServer() {
  using namespace ovik;
  using namespace ovik::component;
  const std::string registry = platform::Facility<platform::RegistryLocation>::get().registry_file();
  const std::string module = component::library_file_path();
  if (registry.empty() || module.empty()) return hresult::kRegistryWriteFailed;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(registry).parent_path(), ec);

  const TypeLibraryHeader& lib = type_library_header();
  const std::string lib_section = "TypeLib\\" + lib.guid.to_string();
  bool ok = write_value(registry, lib_section, "Name", lib.name) &&
            write_value(registry, lib_section, "Version", lib.version) &&
            write_value(registry, lib_section, "Path", module);
  for (const TypeInfo* info : type_library_classes()) {
    const std::string iface = "Interface\\" + info->iid.to_string();
    ok = ok && write_value(registry, iface, "Name", info->interface_name) &&
         write_value(registry, iface, "TypeLib", lib.guid.to_string());
    if (info->events) {
      const std::string events = "Interface\\" + info->events->iid.to_string();
      ok = ok && write_value(registry, events, "Name", info->events->name) &&
           write_value(registry, events, "TypeLib", lib.guid.to_string());
    }
    // A class described but not creatable gets no way to be created from outside.
    if (info->instancing != Instancing::Creatable) continue;
    const std::string cls = "CLSID\\" + info->clsid.to_string();
    ok = ok && write_value(registry, "ProgID\\" + info->progid(), "CLSID", info->clsid.to_string()) &&
         write_value(registry, cls, "ProgID", info->progid()) &&
         write_value(registry, cls, "InprocServer32", module) &&
         write_value(registry, cls, "ThreadingModel", lib.threading_model) &&
         write_value(registry, cls, "TypeLib", lib.guid.to_string());
  }
  return ok ? hresult::kOk : hresult::kRegistryWriteFailed;
}

extern "C" std::int32_t DllUnregisterServer() {
  using namespace ovik;
  using namespace ovik::component;
  const std::string registry = platform::Facility<platform::RegistryLocation>::get().registry_file();
  if (registry.empty()) return hresult::kRegistryWriteFailed;
  std::error_code ec;
  if (!std::filesystem::exists(registry, ec)) return hresult::kOk;
  const TypeLibraryHeader& lib = type_library_header();
  bool ok = component::remove_section(registry, "TypeLib\\" + lib.guid.to_string());
  for (const TypeInfo* info : type_library_classes()) {
    ok = component::remove_section(registry, "Interface\\" + info->iid.to_string()) && ok;
    if (info->events) ok = component::remove_section(registry, "Interface\\" + info->events->iid.to_string()) && ok;
    ok = component::remove_section(registry, "ProgID\\" + info->progid()) && ok;
    ok = component::remove_section(registry, "CLSID\\" + info->clsid.to_string()) && ok;
  }
  return ok ? hresult::kOk : hresult::kRegistryWriteFailed;
}
