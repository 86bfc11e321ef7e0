// Automation values (VARIANT, BSTR) and the frame's Variant; identifiers; raised errors as HRESULTs.
#include <cstring>
#include <limits>

#include "component/win32/com_runtime.h"
#include "ovik/error.h"

namespace ovik::com {

GUID to_guid(const ovik::Guid& g) {
  const auto& b = g.bytes;
  GUID out;
  out.Data1 = (DWORD(b[0]) << 24) | (DWORD(b[1]) << 16) | (DWORD(b[2]) << 8) | DWORD(b[3]);
  out.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
  out.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
  std::memcpy(out.Data4, &b[8], 8);
  return out;
}

ovik::Guid from_guid(const GUID& g) {
  ovik::Guid out;
  auto& b = out.bytes;
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(g.Data1 >> (24 - 8 * i));
  b[4] = static_cast<std::uint8_t>(g.Data2 >> 8);
  b[5] = static_cast<std::uint8_t>(g.Data2);
  b[6] = static_cast<std::uint8_t>(g.Data3 >> 8);
  b[7] = static_cast<std::uint8_t>(g.Data3);
  std::memcpy(&b[8], g.Data4, 8);
  return out;
}

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text, std::size_t length) {
  if (text == nullptr || length == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

BSTR make_bstr(std::string_view utf8) {
  std::wstring w = widen(utf8);
  BSTR b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  if (b == nullptr) throw std::bad_alloc();
  return b;
}

HRESULT hresult_of(std::int32_t number) {
  if (number > 0 && number <= 0xFFFF) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
  if (number < 0) return static_cast<HRESULT>(number);
  return E_FAIL;
}

HRESULT report(const GUID& iid, std::int32_t number, const std::string& source, const std::string& description) {
  ComRef<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    std::wstring s = widen(source), d = widen(description);
    create->SetGUID(iid);
    create->SetSource(s.data());
    create->SetDescription(d.data());
    ComRef<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
      SetErrorInfo(0, info.get());
  }
  return hresult_of(number);
}

bool is_missing(const VARIANT& v) { return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND; }

namespace {

ovik::Variant object_of(::IUnknown* unknown) {
  if (unknown == nullptr) return ovik::Variant::nothing();
  ComRef<IFrameObject> frame;
  if (FAILED(unknown->QueryInterface(IID_IFrameObject, reinterpret_cast<void**>(frame.put()))))
    raise_runtime_error(err::kTypeMismatch, "only objects of this library can be passed here");
  return ovik::Variant(ovik::Ref<ovik::IDispatch>(frame->frame_object()));
}

ovik::Variant unsigned_value(ULONGLONG n) {
  if (n > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())) raise_runtime_error(err::kOverflow);
  return ovik::Variant(static_cast<std::int64_t>(n));
}

}  // namespace

ovik::Variant from_variant(const VARIANT& v) {
  const VARTYPE vt = V_VT(&v);
  if (vt & VT_ARRAY) raise_runtime_error(err::kTypeMismatch, "arrays are not accepted");
  const bool ref = (vt & VT_BYREF) != 0;
  if (ref && v.byref == nullptr) raise_runtime_error(err::kInvalidArgument);
  // Reads the value in place or through the reference: both forms of each type are one case.
#define OVIK_VALUE(field, ref_field) (ref ? *v.ref_field : v.field)
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: return ovik::Variant();
    case VT_NULL: return ovik::Variant(ovik::Null{});
    case VT_I1: return ovik::Variant(static_cast<std::int16_t>(OVIK_VALUE(cVal, pcVal)));
    case VT_UI1: return ovik::Variant(static_cast<std::uint8_t>(OVIK_VALUE(bVal, pbVal)));
    case VT_I2: return ovik::Variant(static_cast<std::int16_t>(OVIK_VALUE(iVal, piVal)));
    case VT_UI2: return ovik::Variant(static_cast<std::int32_t>(OVIK_VALUE(uiVal, puiVal)));
    case VT_I4: return ovik::Variant(static_cast<std::int32_t>(OVIK_VALUE(lVal, plVal)));
    case VT_INT: return ovik::Variant(static_cast<std::int32_t>(OVIK_VALUE(intVal, pintVal)));
    case VT_UI4: return ovik::Variant(static_cast<std::int64_t>(OVIK_VALUE(ulVal, pulVal)));
    case VT_UINT: return ovik::Variant(static_cast<std::int64_t>(OVIK_VALUE(uintVal, puintVal)));
    case VT_I8: return ovik::Variant(static_cast<std::int64_t>(OVIK_VALUE(llVal, pllVal)));
    case VT_UI8: return unsigned_value(OVIK_VALUE(ullVal, pullVal));
    case VT_R4: return ovik::Variant(static_cast<float>(OVIK_VALUE(fltVal, pfltVal)));
    case VT_R8: return ovik::Variant(static_cast<double>(OVIK_VALUE(dblVal, pdblVal)));
    case VT_CY: return ovik::Variant(ovik::Currency{OVIK_VALUE(cyVal, pcyVal).int64});
    case VT_DATE: return ovik::Variant(ovik::DateTime{OVIK_VALUE(date, pdate)});
    case VT_BOOL: return ovik::Variant(OVIK_VALUE(boolVal, pboolVal) != VARIANT_FALSE);
    case VT_ERROR: return ovik::Variant(static_cast<std::int32_t>(OVIK_VALUE(scode, pscode)));
    case VT_BSTR: {
      BSTR b = OVIK_VALUE(bstrVal, pbstrVal);
      return ovik::Variant(narrow(b, b ? SysStringLen(b) : 0));
    }
    case VT_DISPATCH: return object_of(OVIK_VALUE(pdispVal, ppdispVal));
    case VT_UNKNOWN: return object_of(OVIK_VALUE(punkVal, ppunkVal));
    case VT_DECIMAL: {
      double d = 0;
      DECIMAL value = ref ? *v.pdecVal : v.decVal;
      if (FAILED(VarR8FromDec(&value, &d))) raise_runtime_error(err::kOverflow);
      return ovik::Variant(d);
    }
    case VT_VARIANT:
      if (ref && v.pvarVal != nullptr) return from_variant(*v.pvarVal);
      break;
  }
#undef OVIK_VALUE
  raise_runtime_error(err::kTypeMismatch);
}

void to_variant(const ovik::Variant& value, VARIANT* out) {
  VariantInit(out);
  using ovik::VarType;
  switch (value.type()) {
    case VarType::Empty: return;
    case VarType::Null: V_VT(out) = VT_NULL; return;
    case VarType::Boolean: V_VT(out) = VT_BOOL; V_BOOL(out) = *value.get_if<bool>() ? VARIANT_TRUE : VARIANT_FALSE; return;
    case VarType::Byte: V_VT(out) = VT_UI1; V_UI1(out) = *value.get_if<std::uint8_t>(); return;
    case VarType::Integer: V_VT(out) = VT_I2; V_I2(out) = *value.get_if<std::int16_t>(); return;
    case VarType::Long: V_VT(out) = VT_I4; V_I4(out) = *value.get_if<std::int32_t>(); return;
    case VarType::LongLong: V_VT(out) = VT_I8; V_I8(out) = *value.get_if<std::int64_t>(); return;
    case VarType::Single: V_VT(out) = VT_R4; V_R4(out) = *value.get_if<float>(); return;
    case VarType::Double: V_VT(out) = VT_R8; V_R8(out) = *value.get_if<double>(); return;
    case VarType::Currency: V_VT(out) = VT_CY; V_CY(out).int64 = value.get_if<ovik::Currency>()->scaled; return;
    case VarType::Date: V_VT(out) = VT_DATE; V_DATE(out) = value.get_if<ovik::DateTime>()->days; return;
    case VarType::String: V_BSTR(out) = make_bstr(*value.get_if<std::string>()); V_VT(out) = VT_BSTR; return;
    case VarType::Object: V_DISPATCH(out) = wrap(value.to_object()); V_VT(out) = VT_DISPATCH; return;
    default: raise_runtime_error(err::kTypeMismatch);
  }
}

}  // namespace ovik::com
