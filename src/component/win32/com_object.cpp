// The COM object around a frame object: IDispatch and the class's dual vtable (one call routine
// for both), ISupportErrorInfo, IProvideClassInfo2, connection points for the outgoing interface,
// and the class factory.
#include <olectl.h>

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "OvikEnvironment.h"
#include "component/win32/com_runtime.h"
#include "ovik/component.h"
#include "ovik/error.h"
#include "ovik/events.h"

namespace ovik::com {

std::atomic<long>& module_object_count() {
  static std::atomic<long> count = 0;
  return count;
}

std::atomic<long>& module_lock_count() {
  static std::atomic<long> count = 0;
  return count;
}

std::wstring module_path() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&module_object_count), &self);
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ITypeLib* module_type_library() {
  // Loaded once and never released: the module cannot call into oleaut32 while it unloads.
  static ITypeLib* const library = [] {
    ITypeLib* lib = nullptr;
    std::wstring path = module_path();
    if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) return static_cast<ITypeLib*>(nullptr);
    return lib;
  }();
  return library;
}

namespace {

// Writes a converted value where a by-reference argument or a typed result points. `replace`:
// the place holds a value of its own that must be freed first (a by-reference argument).
void store(const ovik::Variant& value, VARTYPE type, void* where, bool replace) {
  using ovik::VarType;
  switch (type) {
    case VT_VARIANT: {
      VARIANT fresh;
      to_variant(value, &fresh);
      if (replace) VariantClear(static_cast<VARIANT*>(where));
      *static_cast<VARIANT*>(where) = fresh;
      return;
    }
    case VT_BSTR: {
      BSTR fresh = make_bstr(ovik::change_type(value, VarType::String).to_string());
      if (replace) SysFreeString(*static_cast<BSTR*>(where));
      *static_cast<BSTR*>(where) = fresh;
      return;
    }
    case VT_DISPATCH: {
      ::IDispatch* fresh = wrap(value.is_empty() ? ovik::Ref<ovik::IDispatch>() : value.to_object());
      if (replace && *static_cast<::IDispatch**>(where)) (*static_cast<::IDispatch**>(where))->Release();
      *static_cast<::IDispatch**>(where) = fresh;
      return;
    }
    case VT_BOOL: *static_cast<VARIANT_BOOL*>(where) = value.to_bool() ? VARIANT_TRUE : VARIANT_FALSE; return;
    case VT_UI1: *static_cast<BYTE*>(where) = value.to_byte(); return;
    case VT_I2: *static_cast<SHORT*>(where) = value.to_i16(); return;
    case VT_I4: *static_cast<LONG*>(where) = value.to_i32(); return;
    case VT_I8: *static_cast<LONGLONG*>(where) = value.to_i64(); return;
    case VT_R4: {
      const ovik::Variant single = ovik::change_type(value, VarType::Single);
      *static_cast<FLOAT*>(where) = single.get_if<float>() ? *single.get_if<float>() : 0.0f;
      return;
    }
    case VT_R8: *static_cast<DOUBLE*>(where) = value.to_double(); return;
    case VT_CY: static_cast<CY*>(where)->int64 = value.to_currency().scaled; return;
    case VT_DATE: *static_cast<DATE*>(where) = value.to_date().days; return;
  }
  raise_runtime_error(err::kTypeMismatch);
}

// The frame object of one of our arguments, to tell whether a by-reference object came back changed.
ovik::IDispatch* frame_object_of(const ovik::Variant& v) {
  if (!v.is_object()) return nullptr;
  return v.get_if<ovik::Ref<ovik::IDispatch>>()->get();
}

// Live COM objects by frame object, so one frame object keeps one COM identity while it is wrapped.
// Each apartment's objects are its own, but several apartments may wrap at the same time.
struct LiveWrappers {
  std::mutex mutex;
  std::unordered_map<ovik::IDispatch*, ::IDispatch*> map;
};
LiveWrappers& live_wrappers() {
  static LiveWrappers live;
  return live;
}

ovik::InvokeKind kind_of(WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return ovik::InvokeKind::PropertyPut;
  if (flags & DISPATCH_METHOD) return ovik::InvokeKind::Method;
  return ovik::InvokeKind::PropertyGet;
}

VARIANT missing() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

class ConnectionPoint;

// What every COM object of the runtime shares; the class template below adds the interfaces.
class Core {
 public:
  Core(const ovik::TypeInfo& info, ovik::Ref<ovik::IDispatch> inner) : info_(info), inner_(std::move(inner)) {
    ++module_object_count();
  }
  ~Core() { --module_object_count(); }

  const ovik::TypeInfo& info() const { return info_; }
  ovik::IDispatch* inner() const { return inner_.get(); }
  bool described() const {
    return info_.library == ovik::type_library_header().name && info_.instancing != ovik::Instancing::Internal &&
           module_type_library() != nullptr;
  }

  // Converts the arguments (declaration order), calls, writes by-reference arguments back.
  ovik::Variant run(DISPID id, ovik::InvokeKind kind, VARIANT* args, UINT count) {
    const ovik::MemberInfo* member = info_.find(id, kind);
    if (member == nullptr) raise_runtime_error(err::kMemberNotSupported);
    std::vector<ovik::Variant> values;
    values.reserve(count);
    for (UINT i = 0; i < count; ++i) {
      if (!is_missing(args[i])) {
        values.push_back(from_variant(args[i]));
        continue;
      }
      // An omitted optional argument takes the description's default, wherever it stands.
      if (i >= member->params.size() || !member->params[i].optional) raise_runtime_error(err::kWrongArgumentCount);
      values.push_back(member->params[i].default_value);
    }
    std::vector<ovik::IDispatch*> passed(count);
    for (UINT i = 0; i < count; ++i) passed[i] = frame_object_of(values[i]);
    ovik::Variant result = inner_->Invoke(id, kind, values);
    for (UINT i = 0; i < count && i < member->params.size(); ++i) {
      const ovik::ParamInfo& p = member->params[i];
      if (!p.by_ref || p.in_only || !(V_VT(&args[i]) & VT_BYREF) || args[i].byref == nullptr) continue;
      // The same object handed back keeps the caller's reference (and its identity).
      if (passed[i] != nullptr && passed[i] == frame_object_of(values[i])) continue;
      store(values[i], V_VT(&args[i]) & VT_TYPEMASK, args[i].byref, true);
    }
    return result;
  }

  // The dual vtable's entry: arguments packed by the generated shim.
  HRESULT call_member(DISPID id, WORD flags, VARIANT* args, UINT count, void* result, VARTYPE type) {
    // A failed call hands back no half-made result: pointers empty, as the marshaler expects.
    if (result != nullptr && type == VT_VARIANT) VariantInit(static_cast<VARIANT*>(result));
    if (result != nullptr && (type == VT_BSTR || type == VT_DISPATCH)) *static_cast<void**>(result) = nullptr;
    try {
      ovik::Variant r = run(id, kind_of(flags), args, count);
      if (result != nullptr) store(r, type, result, false);
      return S_OK;
    } catch (const ovik::RaisedError& e) {
      return report(to_guid(info_.iid), e.number(), e.source(), e.description());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
      report(to_guid(info_.iid), 0, info_.library, e.what());
      return E_FAIL;
    }
  }

  HRESULT get_type_info(UINT index, ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    if (!described()) return TYPE_E_ELEMENTNOTFOUND;
    return module_type_library()->GetTypeInfoOfGuid(to_guid(info_.iid), out);
  }

  HRESULT get_class_info(ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!described()) return TYPE_E_ELEMENTNOTFOUND;
    return module_type_library()->GetTypeInfoOfGuid(to_guid(info_.clsid), out);
  }

  // The member's id for names[0]; parameter names of that member for the others.
  HRESULT get_ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) {
    if (names == nullptr || ids == nullptr || count == 0 || names[0] == nullptr) return E_INVALIDARG;
    HRESULT hr = S_OK;
    ids[0] = inner_->GetIDOfName(narrow(names[0], wcslen(names[0])));
    if (ids[0] == ovik::kDispidUnknown) hr = DISP_E_UNKNOWNNAME;
    for (UINT n = 1; n < count; ++n) {
      ids[n] = DISPID_UNKNOWN;
      if (names[n] == nullptr) return E_INVALIDARG;
      const std::string name = narrow(names[n], wcslen(names[n]));
      for (const ovik::MemberInfo& m : info_.members) {
        if (m.dispid != ids[0] || ids[n] != DISPID_UNKNOWN) continue;
        for (std::size_t i = 0; i < m.params.size(); ++i)
          if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, m.params[i].name.c_str(), -1, name.c_str(), -1) ==
              CSTR_EQUAL)
            ids[n] = static_cast<DISPID>(i);
      }
      if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT invoke(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                 UINT* arg_error) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (params == nullptr) params = &none;
    if (params->cNamedArgs > params->cArgs || (params->cArgs != 0 && params->rgvarg == nullptr) ||
        (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
      return E_INVALIDARG;
    const ovik::InvokeKind kind = kind_of(flags);
    const UINT positional = params->cArgs - params->cNamedArgs;
    // Arguments arrive last first; named ones stand before the positional ones.
    std::vector<VARIANT> ordered;
    for (UINT i = 0; i < positional; ++i) ordered.push_back(params->rgvarg[params->cArgs - 1 - i]);
    const VARIANT* put_value = nullptr;
    for (UINT j = 0; j < params->cNamedArgs; ++j) {
      const DISPID at = params->rgdispidNamedArgs[j];
      if (at == DISPID_PROPERTYPUT && kind == ovik::InvokeKind::PropertyPut) {
        put_value = &params->rgvarg[j];
        continue;
      }
      if (at < 0 || (static_cast<UINT>(at) < ordered.size() && !is_missing(ordered[at]))) {
        if (arg_error) *arg_error = j;
        return DISP_E_PARAMNOTFOUND;
      }
      if (ordered.size() <= static_cast<UINT>(at)) ordered.resize(static_cast<std::size_t>(at) + 1, missing());
      ordered[at] = params->rgvarg[j];
    }
    if (kind == ovik::InvokeKind::PropertyPut) {
      if (put_value == nullptr) return DISP_E_PARAMNOTFOUND;
      ordered.push_back(*put_value);
    }
    try {
      ovik::Variant r = run(id, kind, ordered.data(), static_cast<UINT>(ordered.size()));
      if (result != nullptr) to_variant(r, result);
      return S_OK;
    } catch (const ovik::RaisedError& e) {
      HRESULT hr = report(to_guid(info_.iid), e.number(), e.source(), e.description());
      if (exception != nullptr) {
        *exception = EXCEPINFO{};
        exception->bstrSource = make_bstr(e.source());
        exception->bstrDescription = make_bstr(e.description());
        exception->scode = hr;
      }
      return DISP_E_EXCEPTION;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
      if (exception != nullptr) {
        *exception = EXCEPINFO{};
        exception->bstrSource = make_bstr(info_.library);
        exception->bstrDescription = make_bstr(e.what());
        exception->scode = E_FAIL;
      }
      return DISP_E_EXCEPTION;
    }
  }

  ULONG refs = 0;

 private:
  const ovik::TypeInfo& info_;
  ovik::Ref<ovik::IDispatch> inner_;
};

// A module object offering one interface besides IUnknown, counted for DllCanUnloadNow.
template <class I, const IID& kIid>
class SingleInterface : public I {
 public:
  SingleInterface(const SingleInterface&) = delete;
  SingleInterface& operator=(const SingleInterface&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != kIid) return E_NOINTERFACE;
    *out = static_cast<I*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  SingleInterface() { ++module_object_count(); }
  virtual ~SingleInterface() { --module_object_count(); }

 private:
  ULONG refs_ = 0;
};

// The outgoing interface of one object: each COM sink becomes a frame listener on the inner
// object's own connection point, which calls the sink's IDispatch::Invoke with the event's id.
class ConnectionPoint final : public SingleInterface<::IConnectionPoint, IID_IConnectionPoint> {
 public:
  ConnectionPoint(::IConnectionPointContainer* container, const ovik::TypeInfo& info,
                  ovik::Ref<ovik::IConnectionPointContainer> events)
      : container_(container), info_(info), events_(std::move(events)) {}

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* out) override {
    if (out == nullptr) return E_POINTER;
    *out = to_guid(info_.events->iid);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(::IConnectionPointContainer** out) override {
    if (out == nullptr) return E_POINTER;
    *out = container_.get();
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(::IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    ComRef<::IDispatch> target;
    if (FAILED(sink->QueryInterface(to_guid(info_.events->iid), reinterpret_cast<void**>(target.put()))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(target.put()))))
      return CONNECT_E_CANNOTCONNECT;
    try {
      ovik::Ref<ovik::IDispatch> listener =
          ovik::CallbackListener::make([target](std::int32_t dispid, std::span<ovik::Variant> args) {
            std::vector<VariantHolder> values(args.size());
            for (std::size_t i = 0; i < args.size(); ++i) to_variant(args[args.size() - 1 - i], &values[i].v);
            std::vector<VARIANT> raw;
            for (auto& h : values) raw.push_back(h.v);
            DISPPARAMS params = {raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
            // A sink's failure is its own: the raising member goes on, as with frame listeners.
            target->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
          });
      *cookie = events_->Advise(info_.events->iid, listener.get());
      return S_OK;
    } catch (const ovik::RaisedError&) {
      return CONNECT_E_CANNOTCONNECT;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    try {
      events_->Unadvise(cookie);
      return S_OK;
    } catch (const std::exception&) {
      return CONNECT_E_NOCONNECTION;
    }
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComRef<::IConnectionPointContainer> container_;
  const ovik::TypeInfo& info_;
  ovik::Ref<ovik::IConnectionPointContainer> events_;
};

// An object outside the type library (the data-access objects, other modules' classes): late-bound only.
class PlainDispatch : public ::IDispatch {
 protected:
  virtual HRESULT call_member(DISPID id, WORD kind, VARIANT* args, UINT count, void* result, VARTYPE type) = 0;
};

// The shims' helpers: one argument as a VARIANT, by value (borrowed, never freed) or by reference.
template <class T>
void by_value(VARIANT& v, VARTYPE type, T value) {
  VariantInit(&v);
  V_VT(&v) = type;
  if constexpr (std::is_same_v<T, VARIANT>) {
    v = value;
  } else if constexpr (std::is_pointer_v<T>) {
    v.byref = reinterpret_cast<void*>(value);
  } else {
    static_assert(sizeof(T) <= sizeof(v.llVal));
    std::memcpy(&v.llVal, &value, sizeof(T));
  }
}
template <class T>
void by_ref(VARIANT& v, VARTYPE type, T* where) {
  VariantInit(&v);
  V_VT(&v) = static_cast<VARTYPE>(type | VT_BYREF);
  v.byref = where;
}

template <class Dual>
class DualObject final : public Dual,
                         public ::ISupportErrorInfo,
                         public ::IProvideClassInfo2,
                         public ::IConnectionPointContainer,
                         public IFrameObject {
 public:
  DualObject(const ovik::TypeInfo& info, ovik::Ref<ovik::IDispatch> inner) : core_(info, std::move(inner)) {}
  ~DualObject() {
    LiveWrappers& live = live_wrappers();
    std::lock_guard lock(live.mutex);
    live.map.erase(core_.inner());
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const bool dual = !std::is_same_v<Dual, PlainDispatch>;
    if (iid == IID_IUnknown || iid == IID_IDispatch || (dual && iid == to_guid(core_.info().iid)))
      *out = static_cast<Dual*>(this);
    else if (iid == IID_ISupportErrorInfo)
      *out = static_cast<::ISupportErrorInfo*>(this);
    else if (core_.described() && (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2))
      *out = static_cast<::IProvideClassInfo2*>(this);
    else if (core_.info().events && iid == IID_IConnectionPointContainer)
      *out = static_cast<::IConnectionPointContainer*>(this);
    else if (iid == IID_IFrameObject)
      *out = static_cast<IFrameObject*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++core_.refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --core_.refs;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = core_.described() ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    return core_.get_type_info(index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return core_.get_ids_of_names(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* arg_error) override {
    return core_.invoke(id, iid, flags, params, result, exception, arg_error);
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IDispatch || iid == to_guid(core_.info().iid) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override { return core_.get_class_info(out); }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override {
    if (out == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID || !core_.info().events) return E_INVALIDARG;
    *out = to_guid(core_.info().events->iid);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, ::IConnectionPoint** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!core_.info().events || iid != to_guid(core_.info().events->iid)) return CONNECT_E_NOCONNECTION;
    auto events = ovik::query<ovik::IConnectionPointContainer>(core_.inner());
    if (!events) return CONNECT_E_NOCONNECTION;
    *out = new (std::nothrow) ConnectionPoint(this, core_.info(), std::move(events));
    if (*out == nullptr) return E_OUTOFMEMORY;
    (*out)->AddRef();
    return S_OK;
  }

  ovik::IDispatch* STDMETHODCALLTYPE frame_object() override { return core_.inner(); }

 protected:
  HRESULT call_member(DISPID id, WORD kind, VARIANT* args, UINT count, void* result, VARTYPE type) override {
    return core_.call_member(id, kind, args, count, result, type);
  }

 private:
  Core core_;
};

#include "component/win32/generated/dual_shims.inc"

class ClassFactory final : public SingleInterface<::IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(const ovik::TypeInfo& info) : info_(info) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(::IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      ComRef<::IDispatch> object = ComRef<::IDispatch>::adopt(wrap(info_.create()));
      return object->QueryInterface(iid, out);
    } catch (const ovik::RaisedError& e) {
      return report(to_guid(info_.iid), e.number(), e.source(), e.description());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception&) {
      return E_FAIL;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    module_lock_count() += lock ? 1 : -1;
    return S_OK;
  }

 private:
  const ovik::TypeInfo& info_;
};

}  // namespace

::IDispatch* wrap(ovik::Ref<ovik::IDispatch> inner) {
  if (!inner) return nullptr;
  LiveWrappers& live = live_wrappers();
  {
    std::lock_guard lock(live.mutex);
    if (auto it = live.map.find(inner.get()); it != live.map.end()) {
      it->second->AddRef();
      return it->second;
    }
  }
  ovik::IDispatch* key = inner.get();
  const ovik::TypeInfo& info = inner->GetTypeInfo();
  ::IDispatch* object = module_type_library() != nullptr ? make_dual(info, inner) : nullptr;
  if (object == nullptr) object = new DualObject<PlainDispatch>(info, std::move(inner));
  object->AddRef();
  std::lock_guard lock(live.mutex);
  live.map[key] = object;
  return object;
}

HRESULT get_class_object(const ovik::TypeInfo* info, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (info == nullptr || info->instancing != ovik::Instancing::Creatable || !info->create)
    return CLASS_E_CLASSNOTAVAILABLE;
  ComRef<::IClassFactory> factory(new (std::nothrow) ClassFactory(*info));
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, out);
}

}  // namespace ovik::com
