// The component frame seen as real component objects: a COM object wraps a frame object and its
// description, and every call, late-bound (IDispatch::Invoke) or early-bound (the dual vtable),
// goes through one routine that converts Automation values to the frame's and back. Objects
// belong to the apartment (thread) that created them, as the frame's do.
//
// Both modules compile this runtime: Ovik2Environment.dll with its type library, Ovik2Master.dll
// without one. A frame object passes between them through the private IFrameObject interface.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "ovik/type_info.h"
#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik::com {

// A counted COM reference (the frame's Ref is for the frame's own interfaces).
template <class T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  static ComRef adopt(T* p) {
    ComRef r;
    r.p_ = p;
    return r;
  }
  ComRef(const ComRef& o) : ComRef(o.p_) {}
  ComRef(ComRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComRef& operator=(ComRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComRef() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    *this = ComRef();
    return &p_;
  }
  T* detach() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Owns one VARIANT (VariantClear on the way out).
struct VariantHolder {
  VARIANT v;
  VariantHolder() { VariantInit(&v); }
  VariantHolder(const VariantHolder&) = delete;
  VariantHolder& operator=(const VariantHolder&) = delete;
  ~VariantHolder() { VariantClear(&v); }
};

GUID to_guid(const ovik::Guid& g);
ovik::Guid from_guid(const GUID& g);
std::wstring widen(std::string_view utf8);
std::string narrow(const wchar_t* text, std::size_t length);
BSTR make_bstr(std::string_view utf8);

// The HRESULT a raised error travels as: the runtime's own numbers (1..65535) in the control
// facility, negative numbers (already HRESULTs, as the class's own error enumerations are) as they are.
HRESULT hresult_of(std::int32_t number);
// Sets the thread's error object (IErrorInfo) for a raised error; returns its HRESULT.
HRESULT report(const GUID& iid, std::int32_t number, const std::string& source, const std::string& description);

// Automation values and the frame's. An object argument must be one of this runtime's objects
// (unwrapped to the frame object); any other object raises 13.
ovik::Variant from_variant(const VARIANT& v);
void to_variant(const ovik::Variant& value, VARIANT* out);  // `out` is uninitialised
bool is_missing(const VARIANT& v);

// The COM object for a frame object (a new reference); the same COM object while one lives.
::IDispatch* wrap(ovik::Ref<ovik::IDispatch> inner);

// Objects and factory locks alive in this module (DllCanUnloadNow).
std::atomic<long>& module_object_count();
std::atomic<long>& module_lock_count();

// A class factory for one described class (refuses one that clients may not create).
HRESULT get_class_object(const ovik::TypeInfo* info, REFIID iid, void** out);

// The type library embedded in this module (nullptr when it has none). Kept for the process's life.
ITypeLib* module_type_library();
std::wstring module_path();

// {C4B7E1F0-2D35-4E7A-9A61-7F03B2D98A15}: the frame object behind one of this runtime's objects.
inline constexpr GUID IID_IFrameObject = {0xc4b7e1f0, 0x2d35, 0x4e7a, {0x9a, 0x61, 0x7f, 0x03, 0xb2, 0xd9, 0x8a, 0x15}};
struct IFrameObject : public ::IUnknown {
  virtual ovik::IDispatch* STDMETHODCALLTYPE frame_object() = 0;  // borrowed
};

}  // namespace ovik::com
