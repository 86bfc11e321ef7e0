// The Linux build's module entry points for the classes of this library (the Windows build's
// are the system's own, in win32/).
#include "component/class_registry.h"
#include "ovik/module_entry_points.h"
#include "ovik/object.h"

extern "C" std::int32_t DllGetClassObject(const ovik::Guid* clsid, const ovik::Guid* iid, void** out) {
  using namespace ovik;
  if (out == nullptr || clsid == nullptr || iid == nullptr) return hresult::kPointer;
  *out = nullptr;
  const TypeInfo* info = find_class(*clsid);
  if (info == nullptr || info->library != type_library_header().name || info->instancing != Instancing::Creatable)
    return hresult::kClassNotAvailable;
  Ref<IClassFactory> factory = component::make_class_factory(*info);
  IUnknown* seen = factory->QueryInterface(*iid);
  if (seen == nullptr) return hresult::kNoInterface;
  *out = seen;
  return hresult::kOk;
}

extern "C" std::int32_t DllCanUnloadNow() {
  return ovik::detail::live_object_count() == 0 && ovik::component::factory_lock_count() == 0 ? ovik::hresult::kOk
                                                                                    : ovik::hresult::kFalse;
}
