// The reference-counting frame: the one place that allocates and frees objects. A class derives
// from Object<Self, DefaultInterface, Extra...>; its description (Self::type_info()) drives the
// dispatch interface. Objects belong to the thread that created them, so an object's own count is
// not atomic; the module's counts are, since threads that each have their own objects change them
// at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "ovik/export.h"
#include "ovik/type_info.h"
#include "ovik/unknown.h"

namespace ovik {

namespace detail {
// Live objects and factory locks of the library, for DllCanUnloadNow.
OVIK_API std::atomic<long>& live_object_count() noexcept;
}  // namespace detail

template <class Self, class Interface, class... Extra>
class Object : public Interface, public Extra... {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t left = --refs_;
    if (left == 0) delete static_cast<Self*>(this);
    return left;
  }
  IUnknown* QueryInterface(const Guid& iid) override {
    IUnknown* found = nullptr;
    if (iid == IUnknown::IID || iid == IDispatch::IID || iid == Interface::IID)
      found = static_cast<Interface*>(this);
    else
      ((found == nullptr && iid == Extra::IID ? void(found = static_cast<Extra*>(this)) : void()), ...);
    if (found == nullptr) found = query_more(iid);
    if (found != nullptr) AddRef();
    return found;
  }

  std::int32_t GetIDOfName(std::string_view name) override { return Self::type_info().dispid_of(name); }
  Variant Invoke(std::int32_t dispid, InvokeKind kind, std::span<Variant> args) override {
    return Self::type_info().invoke(static_cast<Interface*>(this), dispid, kind, args);
  }
  const TypeInfo& GetTypeInfo() override { return Self::type_info(); }

  // A new reference to this object through its default interface.
  Ref<Interface> self() { return Ref<Interface>(static_cast<Interface*>(this)); }

 protected:
  Object() { ++detail::live_object_count(); }
  virtual ~Object() { --detail::live_object_count(); }
  // Further interfaces a class answers without deriving from them (none by default).
  virtual IUnknown* query_more(const Guid&) { return nullptr; }

 private:
  std::uint32_t refs_ = 0;
};

// Creates an object with its creation steps; if they raise, the caller gets the error and no object.
template <class Self, class... A>
Ref<Self> make_object(A&&... args) {
  return Ref<Self>(new Self(std::forward<A>(args)...));
}

}  // namespace ovik
