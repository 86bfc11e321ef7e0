// Counted references and the two interfaces every object of the library offers: IUnknown for
// life and interface queries, IDispatch for calls by name (late binding).
//
// Ownership: an object lives while anyone holds a Ref to it. A raw interface pointer is a
// borrowed reference; never delete one. Objects belong to the thread that created them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "ovik/export.h"
#include "ovik/guid.h"

namespace ovik {

class Variant;
struct TypeInfo;

class OVIK_API IUnknown {
 public:
  static constexpr Guid IID = Guid::of("FEFDFA03-5AFF-4013-ABA7-3F5E068320D3");
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  // The object seen through the interface `iid`, with one reference added for the caller;
  // nullptr when the object does not offer that interface.
  virtual IUnknown* QueryInterface(const Guid& iid) = 0;

 protected:
  virtual ~IUnknown() = default;
};

template <class T>
class Ref;

// Adds a reference: QueryInterface for T on any object (nullptr in, empty Ref out).
template <class T>
Ref<T> query(IUnknown* object);

// An owning, counted reference to an object through interface T.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  // Takes a new reference to `p`.
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ref(const Ref<U>& other) noexcept : Ref(static_cast<T*>(other.get())) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ref(Ref<U>&& other) noexcept : p_(other.detach()) {}
  ~Ref() { reset(); }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Takes over a reference that the caller already owns (from QueryInterface or a factory).
  static Ref adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

  template <class U>
  Ref<U> as() const {
    return query<U>(p_);
  }

 private:
  T* p_ = nullptr;
};

template <class T>
Ref<T> query(IUnknown* object) {
  if (object == nullptr) return {};
  return Ref<T>::adopt(static_cast<T*>(object->QueryInterface(T::IID)));
}

// How a member is called through IDispatch.
enum class InvokeKind : std::uint8_t { Method = 1, PropertyGet = 2, PropertyPut = 4 };

inline constexpr std::int32_t kDispidUnknown = -1;
inline constexpr std::int32_t kDispidValue = 0;  // the default member

class OVIK_API IDispatch : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("938FF372-E3BC-49F2-8D82-59D83579B5D9");
  static constexpr std::string_view kTypeName = "Object";
  // The dispatch id of a member, names matched without regard to case; kDispidUnknown if none.
  virtual std::int32_t GetIDOfName(std::string_view name) = 0;
  // Calls a member. `args` stand in declaration order (first parameter first); a by-reference
  // parameter's new value is written back into its slot. Failures are thrown as RaisedError.
  virtual Variant Invoke(std::int32_t dispid, InvokeKind kind, std::span<Variant> args) = 0;
  // The description of the object's default interface (members, parameters, class).
  virtual const TypeInfo& GetTypeInfo() = 0;
};

}  // namespace ovik
