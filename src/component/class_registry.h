// Internal side of the class registry: the in-process tables and the factory object.
#pragma once

#include <atomic>
#include <string>

#include "ovik/component.h"

namespace ovik::component {

// Creates through a module's DllGetClassObject, as the registry or the manifest names it.
Ref<IDispatch> create_from_module(const std::string& module_path, const Guid& clsid, std::string_view progid);
// The exported name under which a module hands the frame its class factories.
const char* frame_class_object_entry();

// The manifest beside the library and the registry file; empty results when they say nothing.
struct ModuleEntry {
  std::string module_path;
  Guid clsid;
};
std::optional<ModuleEntry> lookup_manifest(std::string_view progid);
std::optional<ModuleEntry> lookup_registry(std::string_view progid);

// Factory locks of the library (LockServer), for DllCanUnloadNow.
std::atomic<long>& factory_lock_count() noexcept;

// The full path of this library's module file (for registration), or "" when unknown.
std::string library_file_path();

}  // namespace ovik::component
