// The Linux build's registration (the class registry file); a sibling module hands the frame its
// class factories through its DllGetClassObject. The Windows build uses the system registry.
#include <filesystem>
#include <system_error>

#include "component/class_registry.h"
#include "ovik/module_entry_points.h"
#include "platform/profile.h"
#include "platform/registry_location.h"

namespace ovik::component {

namespace {

namespace pl = ovik::platform;

bool write_value(const std::string& path, const std::string& section, const char* key, const std::string& value) {
  return pl::write_private_profile_string(section.c_str(), key, value.c_str(), path) != 0;
}

bool remove_section(const std::string& path, const std::string& section) {
  return pl::write_private_profile_string(section.c_str(), nullptr, nullptr, path) != 0;
}

}  // namespace

const char* frame_class_object_entry() { return "DllGetClassObject"; }

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
