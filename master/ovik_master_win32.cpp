// The module's Windows entry points: an in-process server of its one class (late-bound only: the
// class is not in the library's type library), and the frame's own entry for the library.
#include "component/win32/com_runtime.h"
#include "component/win32/com_server.h"
#include "ovik/component.h"
#include "ovik_master.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  const ovik::TypeInfo& info = ovik::ovik_master_type_info();
  return ovik::com::get_class_object(ovik::com::from_guid(clsid) == info.clsid ? &info : nullptr, iid, out);
}

STDAPI DllCanUnloadNow() {
  return ovik::com::module_object_count() == 0 && ovik::com::module_lock_count() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return ovik::com::register_classes({&ovik::ovik_master_type_info()}, nullptr); }

STDAPI DllUnregisterServer() { return ovik::com::unregister_classes({&ovik::ovik_master_type_info()}, nullptr); }

// What the library's create_object calls (see component/win32/module_create.cpp).
extern "C" __declspec(dllexport) std::int32_t OvikFrameClassObject(const ovik::Guid* clsid, const ovik::Guid* iid,
                                                                   void** out) {
  namespace hresult = ovik::hresult;
  if (out == nullptr || clsid == nullptr || iid == nullptr) return hresult::kPointer;
  *out = nullptr;
  if (*clsid != ovik::ovik_master_type_info().clsid) return hresult::kClassNotAvailable;
  ovik::Ref<ovik::IClassFactory> factory = ovik::component::make_class_factory(ovik::ovik_master_type_info());
  ovik::IUnknown* seen = factory->QueryInterface(*iid);
  if (seen == nullptr) return hresult::kNoInterface;
  *out = seen;
  return hresult::kOk;
}
