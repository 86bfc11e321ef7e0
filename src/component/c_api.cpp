// The C face of the frame (ovik/ovik_c.h): every entry point turns its C values into Variants,
// calls through IDispatch and turns every exception into the thread's last error, so nothing
// thrown ever reaches a C caller.
#include "ovik/ovik_c.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "ovik/error.h"
#include "ovik/events.h"
#include "ovik/type_info.h"
#include "ovik/unknown.h"
#include "ovik/variant.h"
#include "platform/locale_rules.h"

struct ovik_object {};  // never defined as anything: the handle is the object's IDispatch

namespace ovik::capi {
namespace {

// The runtime's number for a failure it cannot name otherwise.
constexpr std::int32_t kInternalError = 51;
constexpr std::int32_t kOutOfMemory = 7;
constexpr const char* kSource = "OvikEnvironment";

struct LastError {
  std::int32_t number = 0;
  std::string source;
  std::string description;
};
thread_local LastError last_error;

IDispatch* dispatch_of(ovik_object* object) { return reinterpret_cast<IDispatch*>(object); }
ovik_object* handle_of(IDispatch* object) { return reinterpret_cast<ovik_object*>(object); }

void set_error(std::int32_t number, std::string source, std::string description) noexcept {
  try {
    last_error.number = number;
    last_error.source = std::move(source);
    last_error.description = std::move(description);
  } catch (...) {  // keeps at least the number when the texts cannot be stored
    last_error.source.clear();
    last_error.description.clear();
  }
}

// Runs `body` with the thread's last error reset, mapping whatever it throws into that error.
template <class Body>
ovik_status guarded(Body&& body) noexcept {
  last_error.number = 0;
  last_error.source.clear();
  last_error.description.clear();
  try {
    body();
    return OVIK_OK;
  } catch (const RaisedError& e) {
    set_error(e.number(), e.source(), e.description());
  } catch (const std::bad_alloc&) {
    set_error(kOutOfMemory, kSource, "Out of memory");
  } catch (const std::exception& e) {
    set_error(kInternalError, kSource, std::string("Internal error: ") + e.what());
  } catch (...) {
    set_error(kInternalError, kSource, "Internal error");
  }
  return OVIK_FAILED;
}

Variant to_variant(const ovik_value& v) {
  switch (v.type) {
    case OVIK_EMPTY: return Variant();
    case OVIK_NULL: return Variant(Null{});
    case OVIK_BOOL: return Variant(v.u.boolean != 0);
    case OVIK_BYTE: return Variant(v.u.byte);
    case OVIK_I16: return Variant(v.u.i16);
    case OVIK_I32: return Variant(v.u.i32);
    case OVIK_I64: return Variant(v.u.i64);
    case OVIK_SINGLE: return Variant(v.u.single);
    case OVIK_DOUBLE: return Variant(v.u.dbl);
    case OVIK_CURRENCY: return Variant(Currency{v.u.currency});
    case OVIK_DATE: return Variant(DateTime{v.u.date});
    case OVIK_STRING:
      if (v.u.string.data == nullptr) return Variant(std::string());
      return Variant(std::string(v.u.string.data, v.u.string.size));
    case OVIK_OBJECT: return Variant(Ref<IDispatch>(dispatch_of(v.u.object)));
    default: raise_runtime_error(err::kInvalidArgument, "unknown value type " + std::to_string(v.type));
  }
}

// The C form of a value. Owned: strings are copied with malloc and objects get a reference of
// their own; borrowed (for event handlers): both point into `v`, which outlives the handler.
ovik_value from_variant(const Variant& v, bool owned) {
  ovik_value out = ovik_empty();
  out.type = static_cast<std::int32_t>(v.type());
  if (auto* b = v.get_if<bool>())
    out.u.boolean = *b ? 1 : 0;
  else if (auto* u8 = v.get_if<std::uint8_t>())
    out.u.byte = *u8;
  else if (auto* i16 = v.get_if<std::int16_t>())
    out.u.i16 = *i16;
  else if (auto* i32 = v.get_if<std::int32_t>())
    out.u.i32 = *i32;
  else if (auto* i64 = v.get_if<std::int64_t>())
    out.u.i64 = *i64;
  else if (auto* f = v.get_if<float>())
    out.u.single = *f;
  else if (auto* d = v.get_if<double>())
    out.u.dbl = *d;
  else if (auto* c = v.get_if<Currency>())
    out.u.currency = c->scaled;
  else if (auto* t = v.get_if<DateTime>())
    out.u.date = t->days;
  else if (auto* s = v.get_if<std::string>()) {
    out.u.string.size = s->size();
    if (owned) {
      char* copy = static_cast<char*>(std::malloc(s->size() + 1));
      if (copy == nullptr) throw std::bad_alloc();
      std::memcpy(copy, s->data(), s->size());
      copy[s->size()] = '\0';
      out.u.string.data = copy;
      out.flags = OVIK_VALUE_OWNED;
    } else {
      out.u.string.data = s->c_str();
    }
  } else if (auto* o = v.get_if<Ref<IDispatch>>()) {
    out.u.object = handle_of(o->get());
    if (owned && o->get() != nullptr) {
      o->get()->AddRef();
      out.flags = OVIK_VALUE_OWNED;
    }
  }
  return out;
}

IDispatch& must(ovik_object* object) {
  if (object == nullptr) raise_runtime_error(err::kObjectNotSet);
  return *dispatch_of(object);
}

bool names_default(const char* member) { return member == nullptr || *member == '\0'; }

std::int32_t dispid_of(IDispatch& object, const char* member) {
  if (names_default(member)) return kDispidValue;
  std::int32_t id = object.GetIDOfName(member);
  if (id == kDispidUnknown)
    raise_runtime_error(err::kMemberNotSupported, object.GetTypeInfo().class_name + "." + member);
  return id;
}

Variant invoke(IDispatch& object, std::int32_t dispid, InvokeKind kind, std::vector<Variant>& args,
               const MemberInfo*& called) {
  const MemberInfo* member = object.GetTypeInfo().find(dispid, kind);
  if (member == nullptr && dispid == kDispidValue)
    raise_runtime_error(err::kMemberNotSupported, object.GetTypeInfo().class_name + " has no default member");
  // The runtime's default-member chain: a default property without parameters stands for the
  // object it returns, whose own default member takes the arguments.
  if (dispid == kDispidValue && member != nullptr && member->params.empty() && !args.empty() &&
      member->kind != InvokeKind::PropertyPut) {
    Ref<IDispatch> inner = object.Invoke(dispid, InvokeKind::PropertyGet, {}).to_object();
    if (!inner) raise_runtime_error(err::kObjectNotSet);
    return invoke(*inner, kDispidValue, kind, args, called);
  }
  called = member;
  return object.Invoke(dispid, kind, args);
}

ovik_status do_invoke(ovik_object* object, const char* member, InvokeKind kind, ovik_value* args,
                      std::size_t nargs, const ovik_value* put_value, ovik_value* result) {
  return guarded([&] {
    IDispatch& target = must(object);
    if (nargs > 0 && args == nullptr) raise_runtime_error(err::kInvalidArgument, "no argument array");
    std::vector<Variant> values;
    values.reserve(nargs + 1);
    for (std::size_t i = 0; i < nargs; ++i) values.push_back(to_variant(args[i]));
    if (put_value != nullptr) values.push_back(to_variant(*put_value));
    const MemberInfo* called = nullptr;
    Ref<IDispatch> keep(&target);  // a member may release the caller's last other reference
    Variant answer = invoke(target, dispid_of(target, member), kind, values, called);

    // Outputs only after the call succeeded, and all of them converted before any is stored, so
    // that a failure leaves the caller's values as they were.
    std::vector<std::pair<std::size_t, ovik_value>> outputs;
    struct Undo {
      std::vector<std::pair<std::size_t, ovik_value>>& list;
      bool armed = true;
      ~Undo() {
        if (armed)
          for (auto& [i, v] : list) ovik_value_clear(&v);
      }
    } undo{outputs};
    if (called != nullptr) {
      for (std::size_t i = 0; i < nargs && i < called->params.size(); ++i) {
        const ParamInfo& p = called->params[i];
        if (p.by_ref && !p.in_only) outputs.emplace_back(i, from_variant(values[i], true));
      }
    }
    ovik_value converted = result != nullptr ? from_variant(answer, true) : ovik_empty();
    undo.armed = false;
    for (auto& [i, v] : outputs) args[i] = v;
    if (result != nullptr) *result = converted;
  });
}

// ---- fixed text forms ----

bool parse_fixed_currency(std::string_view text, std::int64_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Unsigned 64 bits hold every magnitude up to the limit; one that would overflow is past it.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t magnitude = 0;
  int digits = 0, decimals = -1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9' || decimals >= 4) return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (magnitude > (kMax - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
    ++digits;
    if (decimals >= 0) ++decimals;
  }
  if (digits == 0) return false;
  for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) {
    if (magnitude > kMax / 10) return false;
    magnitude *= 10;
  }
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  out = negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(magnitude))
                 : static_cast<std::int64_t>(magnitude);
  return true;
}

std::string fixed_currency_text(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string out = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  if (std::uint64_t fraction = magnitude % 10000; fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, ".%04llu", static_cast<unsigned long long>(fraction));
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    out += f;
  }
  return out;
}

bool parse_fixed_date(const char* text, double& out) {
  platform::CivilDateTime c;
  int consumed = 0;
  char sep = 0;
  const std::size_t length = std::strlen(text);
  int read = std::sscanf(text, "%4d-%2d-%2d%c%2d:%2d:%2d%n", &c.year, &c.month, &c.day, &sep, &c.hour,
                         &c.minute, &c.second, &consumed);
  if (!(read == 7 && (sep == ' ' || sep == 'T') && static_cast<std::size_t>(consumed) == length)) {
    c.hour = c.minute = c.second = 0;
    consumed = 0;
    read = std::sscanf(text, "%4d-%2d-%2d%n", &c.year, &c.month, &c.day, &consumed);
    if (read != 3 || static_cast<std::size_t>(consumed) != length) return false;
  }
  return platform::ole_from_civil(c, out);
}

std::size_t copy_out(const std::string& text, char* buffer, std::size_t size) {
  if (buffer != nullptr && size > 0) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size();
}

}  // namespace
}  // namespace ovik::capi

using namespace ovik;
using namespace ovik::capi;

extern "C" {

void ovik_value_clear(ovik_value* value) {
  if (value == nullptr) return;
  if (value->flags & OVIK_VALUE_OWNED) {
    if (value->type == OVIK_STRING) std::free(const_cast<char*>(value->u.string.data));
    if (value->type == OVIK_OBJECT) ovik_release(value->u.object);
  }
  *value = ovik_empty();
}

ovik_status ovik_create(const char* progid, ovik_object** out) {
  return guarded([&] {
    if (out == nullptr || progid == nullptr) raise_runtime_error(err::kInvalidArgument);
    *out = handle_of(create_object(progid).detach());
  });
}

ovik_status ovik_new_recordset(ovik_object** out) {
  return guarded([&] {
    if (out == nullptr) raise_runtime_error(err::kInvalidArgument);
    Ref<IDispatch> recordset(new_recordset());
    *out = handle_of(recordset.detach());
  });
}

ovik_object* ovik_addref(ovik_object* object) {
  if (object != nullptr) dispatch_of(object)->AddRef();
  return object;
}

void ovik_release(ovik_object* object) {
  if (object == nullptr) return;
  try {
    dispatch_of(object)->Release();
  } catch (...) {  // end steps report no failure to anyone
  }
}

ovik_status ovik_invoke(ovik_object* object, const char* member, ovik_invoke_kind kind, ovik_value* args,
                        size_t nargs, ovik_value* result) {
  if (kind != OVIK_METHOD && kind != OVIK_GET && kind != OVIK_PUT)
    return guarded([] { raise_runtime_error(err::kInvalidArgument, "unknown invoke kind"); });
  return do_invoke(object, member, static_cast<InvokeKind>(kind), args, nargs, nullptr, result);
}

ovik_status ovik_call(ovik_object* object, const char* method, ovik_value* args, size_t nargs,
                      ovik_value* result) {
  return do_invoke(object, method, InvokeKind::Method, args, nargs, nullptr, result);
}

ovik_status ovik_get(ovik_object* object, const char* property, ovik_value* args, size_t nargs,
                     ovik_value* result) {
  return do_invoke(object, property, InvokeKind::PropertyGet, args, nargs, nullptr, result);
}

ovik_status ovik_put(ovik_object* object, const char* property, ovik_value* args, size_t nargs,
                     const ovik_value* value) {
  if (value == nullptr) return guarded([] { raise_runtime_error(err::kInvalidArgument, "no value to put"); });
  return do_invoke(object, property, InvokeKind::PropertyPut, args, nargs, value, nullptr);
}

const char* ovik_class_name(ovik_object* object) {
  if (object == nullptr) return nullptr;
  return dispatch_of(object)->GetTypeInfo().class_name.c_str();
}

const char* ovik_member_name(ovik_object* object, size_t index) {
  if (object == nullptr) return nullptr;
  const auto& members = dispatch_of(object)->GetTypeInfo().members;
  return index < members.size() ? members[index].name.c_str() : nullptr;
}

ovik_status ovik_member(ovik_object* object, const char* member, ovik_member_info* info) {
  return guarded([&] {
    IDispatch& target = must(object);
    if (info == nullptr) raise_runtime_error(err::kInvalidArgument);
    const std::int32_t dispid = dispid_of(target, member);
    ovik_member_info found{0, 0, 0};
    bool params_known = false;
    for (const MemberInfo& m : target.GetTypeInfo().members) {
      if (m.dispid != dispid) continue;
      found.kinds |= static_cast<std::uint32_t>(m.kind);
      if (m.kind == InvokeKind::PropertyPut && params_known) continue;
      std::size_t count = m.params.size() - (m.kind == InvokeKind::PropertyPut ? 1 : 0);
      std::size_t required = 0;
      for (std::size_t i = 0; i < count; ++i)
        if (!m.params[i].optional) ++required;
      found.params = static_cast<std::uint32_t>(count);
      found.required = static_cast<std::uint32_t>(required);
      params_known = m.kind != InvokeKind::PropertyPut;
    }
    if (found.kinds == 0)
      raise_runtime_error(err::kMemberNotSupported,
                          target.GetTypeInfo().class_name + " has no default member");
    *info = found;
  });
}

ovik_status ovik_advise(ovik_object* object, ovik_event_handler handler, void* user, ovik_user_free user_free,
                        uint32_t* cookie) {
  // Until the listener exists, a failure must still hand `user` back.
  std::shared_ptr<void> owner(user, [user_free](void* p) {
    if (user_free != nullptr) user_free(p);
  });
  return guarded([&] {
    IDispatch& source = must(object);
    if (handler == nullptr || cookie == nullptr) raise_runtime_error(err::kInvalidArgument);
    const TypeInfo& info = source.GetTypeInfo();
    Ref<IConnectionPointContainer> container = query<IConnectionPointContainer>(&source);
    if (!container || !info.events)
      raise_runtime_error(err::kInvalidArgument, info.class_name + " raises no events");
    const EventInterfaceInfo* events = &*info.events;  // class descriptions live as long as the library
    auto listener = CallbackListener::make(
        [handler, events, owner = std::move(owner)](std::int32_t dispid, std::span<Variant> values) {
          const char* name = "";
          for (const EventInfo& e : events->events)
            if (e.dispid == dispid) name = e.name.c_str();
          std::vector<ovik_value> borrowed;
          borrowed.reserve(values.size());
          for (const Variant& v : values) borrowed.push_back(from_variant(v, false));
          handler(owner.get(), name, borrowed.data(), borrowed.size());
        });
    *cookie = container->Advise(info.events->iid, listener.get());
  });
}

ovik_status ovik_unadvise(ovik_object* object, uint32_t cookie) {
  return guarded([&] {
    Ref<IConnectionPointContainer> container = query<IConnectionPointContainer>(&must(object));
    if (!container) raise_runtime_error(err::kInvalidArgument, "the object raises no events");
    container->Unadvise(cookie);
  });
}

int32_t ovik_error_number(void) { return last_error.number; }
const char* ovik_error_source(void) { return last_error.source.c_str(); }
const char* ovik_error_description(void) { return last_error.description.c_str(); }

ovik_status ovik_currency_from_text(const char* text, int64_t* scaled) {
  return guarded([&] {
    if (text == nullptr || scaled == nullptr) raise_runtime_error(err::kInvalidArgument);
    std::int64_t value = 0;
    if (!parse_fixed_currency(text, value))
      raise_runtime_error(err::kTypeMismatch, std::string("currency ") + text);
    *scaled = value;
  });
}

size_t ovik_currency_to_text(int64_t scaled, char* buffer, size_t size) {
  try {
    return copy_out(fixed_currency_text(scaled), buffer, size);
  } catch (...) {
    return copy_out(std::string(), buffer, size);
  }
}

ovik_status ovik_date_from_text(const char* text, double* days) {
  return guarded([&] {
    if (text == nullptr || days == nullptr) raise_runtime_error(err::kInvalidArgument);
    double value = 0;
    if (!parse_fixed_date(text, value)) raise_runtime_error(err::kTypeMismatch, std::string("date ") + text);
    *days = value;
  });
}

size_t ovik_date_to_text(double days, char* buffer, size_t size) {
  std::string text;
  const ovik_status status = guarded([&] {
    // The Variant's own check: NaN, infinities and far counts would read as day zero.
    const platform::CivilDateTime c = platform::civil_from_ole(Variant(DateTime{days}).to_date().days);
    char digits[64];
    const int n = std::snprintf(digits, sizeof digits, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month,
                                c.day, c.hour, c.minute, c.second);
    text.assign(digits, n > 0 ? static_cast<std::size_t>(n) : 0);
  });
  if (status != OVIK_OK) text.clear();
  return copy_out(text, buffer, size);
}

}  // extern "C"
