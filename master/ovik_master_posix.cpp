// The module's Linux entry points: only its own classes.
#include "ovik_master.h"
#include "ovik/component.h"
#include "ovik/module_entry_points.h"

extern "C" std::int32_t DllGetClassObject(const ovik::Guid* clsid, const ovik::Guid* iid, void** out) {
  using namespace ovik;
  if (out == nullptr || clsid == nullptr || iid == nullptr) return hresult::kPointer;
  *out = nullptr;
  if (*clsid != ovik_master_type_info().clsid) return hresult::kClassNotAvailable;
  Ref<IClassFactory> factory = component::make_class_factory(ovik_master_type_info());
  IUnknown* seen = factory->QueryInterface(*iid);
  if (seen == nullptr) return hresult::kNoInterface;
  *out = seen;
  return hresult::kOk;
}

extern "C" std::int32_t DllCanUnloadNow() { return ovik::hresult::kFalse; }
