#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/type_info.h"

namespace ovik {

CallbackListener::CallbackListener(Callback callback) : callback_(std::move(callback)) {
  ++detail::live_object_count();
}

CallbackListener::~CallbackListener() { --detail::live_object_count(); }

Ref<IDispatch> CallbackListener::make(Callback callback) {
  return Ref<IDispatch>(new CallbackListener(std::move(callback)));
}

std::uint32_t CallbackListener::Release() {
  std::uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

IUnknown* CallbackListener::QueryInterface(const Guid& iid) {
  if (iid != IUnknown::IID && iid != IDispatch::IID) return nullptr;
  AddRef();
  return this;
}

Variant CallbackListener::Invoke(std::int32_t dispid, InvokeKind, std::span<Variant> args) {
  if (callback_) callback_(dispid, args);
  return {};
}

const TypeInfo& CallbackListener::GetTypeInfo() {
  static const TypeInfo info = [] {
    TypeInfo t;
    t.library = "";
    t.class_name = "CallbackListener";
    t.interface_name = "IDispatch";
    t.instancing = Instancing::Internal;
    return t;
  }();
  return info;
}

}  // namespace ovik
