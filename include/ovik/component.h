// Creating objects by programmatic name, the type library, and the module's exported entry points.
//
// create_object looks a name up, in this order: factories that the host program registered
// (register_factory), the classes of this library and of modules already loaded, the manifest
// beside the library (registration-free: modules lying beside it), and the class registry file
// written by DllRegisterServer (the module is loaded with dlopen and asked through
// DllGetClassObject). A name found nowhere raises error 429.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ovik/error.h"
#include "ovik/export.h"
#include "ovik/type_info.h"
#include "ovik/unknown.h"

namespace ovik {

class OVIK_API IClassFactory : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("B6AE2631-5936-4D24-A590-4AEE7AAEA866");
  // A new object seen through `iid` with one reference for the caller. Raises the creation
  // steps' error, or 5 when the object does not offer `iid`.
  virtual IUnknown* CreateInstance(const Guid& iid) = 0;
  virtual void LockServer(bool lock) = 0;
};

OVIK_API Ref<IDispatch> create_object(std::string_view progid);

namespace component {
// A class factory for one description: what a module's DllGetClassObject hands out.
OVIK_API Ref<IClassFactory> make_class_factory(const TypeInfo& info);
}  // namespace component

template <class I>
Ref<I> create(std::string_view progid) {
  Ref<IDispatch> object = create_object(progid);
  Ref<I> typed = query<I>(object.get());
  if (!typed) raise_runtime_error(err::kTypeMismatch);
  return typed;
}

// A host program (or a test) puts a class of its own under a programmatic name; it wins over
// every other place. An empty factory removes the entry again.
OVIK_API void register_factory(std::string progid, std::function<Ref<IDispatch>()> factory);

// Class registration of the frame: each class's .cpp holds one of these, naming its description.
// Registration is per process: a module loaded later adds its classes when it is loaded.
struct OVIK_API ClassRegistration {
  explicit ClassRegistration(const TypeInfo& (*describe)());
};
struct OVIK_API EnumRegistration {
  explicit EnumRegistration(const EnumInfo& (*describe)());
};

// Every registered class description (all modules), in registration order.
OVIK_API std::vector<const TypeInfo*> registered_classes();
OVIK_API const TypeInfo* find_class(std::string_view progid);
OVIK_API const TypeInfo* find_class(const Guid& clsid);

struct TypeLibraryHeader {
  std::string name = "OvikEnvironment";
  Guid guid = Guid::of("AE8BD7E7-98C3-4E4A-8510-53CCCE155EFE");
  std::string version = "1.0";
  std::uint32_t locale = 1033;
  std::string file_version = "2.00";
  std::string threading_model = "Apartment";
};
OVIK_API const TypeLibraryHeader& type_library_header();
// Classes of the type library (not the internal ones) and enumerations, in type-library order.
OVIK_API std::vector<const TypeInfo*> type_library_classes();
OVIK_API std::vector<const EnumInfo*> type_library_enums();
// The whole type library as text: classes with instancing and identifiers, interfaces with
// members in slot order, dispatch ids and parameters, events, enumerations with values.
OVIK_API std::string type_library_listing();

}  // namespace ovik

namespace ovik::hresult {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kFalse = 1;
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002);
inline constexpr std::int32_t kPointer = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t kClassNotAvailable = static_cast<std::int32_t>(0x80040111);
inline constexpr std::int32_t kRegistryWriteFailed = static_cast<std::int32_t>(0x80040151);
}  // namespace ovik::hresult

// The Linux build's module entry points stay declared here for the programs that call them; a
// Windows build declares the system's own (objbase.h) instead.
#ifndef _WIN32
#include "ovik/module_entry_points.h"
#endif
