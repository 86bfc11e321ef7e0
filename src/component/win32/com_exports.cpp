// Ovik2Environment.dll's entry points as an in-process server: the classes of its type library.
#include "component/win32/com_runtime.h"
#include "component/win32/com_server.h"
#include "ovik/object.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  const ovik::TypeInfo* info = ovik::find_class(ovik::com::from_guid(clsid));
  if (info != nullptr && info->library != ovik::type_library_header().name) info = nullptr;
  return ovik::com::get_class_object(info, iid, out);
}

STDAPI DllCanUnloadNow() {
  return ovik::com::module_object_count() == 0 && ovik::com::module_lock_count() == 0 &&
                 ovik::detail::live_object_count() == 0
             ? S_OK
             : S_FALSE;
}

STDAPI DllRegisterServer() {
  return ovik::com::register_classes(ovik::type_library_classes(), &ovik::type_library_header());
}

STDAPI DllUnregisterServer() {
  return ovik::com::unregister_classes(ovik::type_library_classes(), &ovik::type_library_header());
}
