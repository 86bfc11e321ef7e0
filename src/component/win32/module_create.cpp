// Creating a class of a sibling module (named by the manifest beside the library) inside this
// process. The module's DllGetClassObject is the system's entry point for clients; the frame
// asks its own one, with the frame's types and the C calling convention.
#include "component/class_registry.h"
#include "platform/dynamic_module.h"

namespace ovik::component {

Ref<IDispatch> create_from_module(const std::string& module_path, const Guid& clsid, std::string_view progid) {
  using GetClassObject = std::int32_t (*)(const Guid*, const Guid*, void**);
  std::string error;
  auto entry = reinterpret_cast<GetClassObject>(platform::module_symbol(module_path, "OvikFrameClassObject", error));
  if (entry == nullptr) raise_runtime_error(err::kCannotCreateObject, std::string(progid) + ": " + error);
  void* raw = nullptr;
  if (entry(&clsid, &IClassFactory::IID, &raw) != hresult::kOk || raw == nullptr)
    raise_runtime_error(err::kCannotCreateObject, std::string(progid));
  auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(static_cast<IUnknown*>(raw)));
  return Ref<IDispatch>::adopt(static_cast<IDispatch*>(factory->CreateInstance(IDispatch::IID)));
}

}  // namespace ovik::component
