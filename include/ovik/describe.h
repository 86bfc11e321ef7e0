// Builds a class's description from its interface's member functions: the parameter types and
// by-reference flags come from the C++ signatures, names and defaults from the table. So a
// member is added with one method and one line, and the dispatch can never disagree with the
// vtable about types.
#pragma once

#include <stdexcept>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ovik/error.h"
#include "ovik/type_info.h"

namespace ovik {

// Names of enumerations in the type library: specialise with OVIK_ENUM_NAME.
template <class E>
struct EnumName;
#define OVIK_ENUM_NAME(E)                              \
  template <>                                          \
  struct ovik::EnumName<E> {                           \
    static constexpr std::string_view value = #E;      \
  }

// How a C++ parameter or result type travels in a Variant.
template <class T, class = void>
struct Marshal;

template <>
struct Marshal<Variant> {
  static constexpr VarType type = VarType::Variant;
  static std::string_view name() { return "Variant"; }
  static Variant from(const Variant& v) { return v; }
  static Variant to(Variant v) { return v; }
};

#define OVIK_SCALAR_MARSHAL(T, VT, NAME, CONVERT)          \
  template <>                                              \
  struct Marshal<T> {                                      \
    static constexpr VarType type = VarType::VT;           \
    static std::string_view name() { return NAME; }        \
    static T from(const Variant& v) { return v.CONVERT(); } \
    static Variant to(T v) { return Variant(v); }          \
  };
OVIK_SCALAR_MARSHAL(bool, Boolean, "Boolean", to_bool)
OVIK_SCALAR_MARSHAL(std::uint8_t, Byte, "Byte", to_byte)
OVIK_SCALAR_MARSHAL(std::int16_t, Integer, "Integer", to_i16)
OVIK_SCALAR_MARSHAL(std::int32_t, Long, "Long", to_i32)
OVIK_SCALAR_MARSHAL(std::int64_t, LongLong, "LongLong", to_i64)
OVIK_SCALAR_MARSHAL(double, Double, "Double", to_double)
OVIK_SCALAR_MARSHAL(Currency, Currency, "Currency", to_currency)
OVIK_SCALAR_MARSHAL(DateTime, Date, "Date", to_date)
OVIK_SCALAR_MARSHAL(std::string, String, "String", to_string)
#undef OVIK_SCALAR_MARSHAL

template <class E>
struct Marshal<E, std::enable_if_t<std::is_enum_v<E>>> {
  static constexpr VarType type = VarType::Long;
  static std::string_view name() { return EnumName<E>::value; }
  static E from(const Variant& v) { return static_cast<E>(v.to_i32()); }
  static Variant to(E v) { return Variant(static_cast<std::int32_t>(v)); }
};

// Object references: an interface with a static IID and a type name.
template <class I>
struct Marshal<Ref<I>> {
  static constexpr VarType type = VarType::Object;
  static std::string_view name() { return I::kTypeName; }
  static Ref<I> from(const Variant& v) {
    Ref<IDispatch> object = v.is_empty() ? Ref<IDispatch>() : v.to_object();
    if (!object) return {};
    Ref<I> typed = query<I>(object.get());
    if (!typed) raise_runtime_error(err::kTypeMismatch);
    return typed;
  }
  static Variant to(const Ref<I>& v) { return Variant(Ref<IDispatch>(v)); }
};

// One parameter of the table: its name and, for an optional parameter, its default.
struct P {
  P(const char* n) : name(n) {}
  P(std::string_view n) : name(n) {}
  P(std::string_view n, Variant d) : name(n), optional(true), default_value(std::move(d)) {}
  std::string_view name;
  bool optional = false;
  Variant default_value;
  bool in_only = false;
};
inline P opt(std::string_view name, Variant default_value = Variant()) { return P(name, std::move(default_value)); }
// A by-reference parameter that the member never writes (see ParamInfo::in_only).
inline P in_ref(P p) {
  p.in_only = true;
  return p;
}

namespace detail {

template <class A>
using Plain = std::remove_cvref_t<A>;

template <class A>
inline constexpr bool kByRef = std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;

template <class I, class R, class... A, std::size_t... N>
Variant call(IDispatch* self, R (I::*pmf)(A...), std::span<Variant> args, std::index_sequence<N...>) {
  I* object = static_cast<I*>(self);
  std::tuple<Plain<A>...> locals{Marshal<Plain<A>>::from(args[N])...};
  auto write_back = [&] {
    ((kByRef<A> ? void(args[N] = Marshal<Plain<A>>::to(std::get<N>(locals))) : void()), ...);
  };
  if constexpr (std::is_void_v<R>) {
    (object->*pmf)(std::get<N>(locals)...);
    write_back();
    return Variant();
  } else {
    Variant result = Marshal<Plain<R>>::to((object->*pmf)(std::get<N>(locals)...));
    write_back();
    return result;
  }
}

}  // namespace detail

// The skeleton of a class description: names, identifiers and instancing.
template <class I>
TypeInfo class_info(std::string_view class_name, Guid clsid, Instancing instancing, int order) {
  TypeInfo t;
  t.class_name = std::string(class_name);
  t.clsid = clsid;
  t.interface_name = "_" + t.class_name;
  t.iid = I::IID;
  t.instancing = instancing;
  t.order = order;
  return t;
}

// The outgoing interface of a class that raises events.
template <class Sink>
EventInterfaceInfo event_interface_info(std::string_view class_name) {
  return EventInterfaceInfo{"__" + std::string(class_name), Sink::IID, {}};
}

template <class I>
class Describe {
 public:
  explicit Describe(TypeInfo& info) : info_(info) {}

  template <class R, class... A>
  Describe& method(std::string_view name, R (I::*pmf)(A...), std::initializer_list<P> params = {}) {
    return add(name, InvokeKind::Method, pmf, params);
  }
  template <class R, class... A>
  Describe& get(std::string_view name, R (I::*pmf)(A...), std::initializer_list<P> params = {}) {
    return add(name, InvokeKind::PropertyGet, pmf, params);
  }
  // The new value is the last parameter; name it after the property's own argument names.
  template <class... A>
  Describe& put(std::string_view name, void (I::*pmf)(A...), std::initializer_list<P> params = {}) {
    return add(name, InvokeKind::PropertyPut, pmf, params);
  }

  // Makes the member added last the object's default member (dispatch id 0), which the runtime
  // reads wherever the object stands for a plain value.
  Describe& as_default() {
    const std::string last = info_.members.back().name;
    for (auto& m : info_.members)
      if (m.name == last) m.dispid = kDispidValue;
    return *this;
  }

  // Events of the outgoing interface; each event's C++ signature gives the parameter types.
  template <class S, class... A>
  Describe& event(std::string_view name, void (S::*)(A...), std::initializer_list<P> params, std::int32_t dispid = 1) {
    if (!info_.events) throw std::logic_error("event declared before its outgoing interface");
    EventInfo e{std::string(name), dispid, make_params<A...>(name, params)};
    info_.events->events.push_back(std::move(e));
    return *this;
  }

 private:
  template <class... A>
  static std::vector<ParamInfo> make_params(std::string_view member, std::initializer_list<P> params) {
    if (params.size() != sizeof...(A))
      throw std::logic_error("parameter names do not match the signature of " + std::string(member));
    std::vector<ParamInfo> out;
    auto it = params.begin();
    ((out.push_back(ParamInfo{std::string(it->name), Marshal<detail::Plain<A>>::type,
                              std::string(Marshal<detail::Plain<A>>::name()), detail::kByRef<A>, it->optional,
                              it->default_value, it->in_only}),
      ++it),
     ...);
    for (const ParamInfo& p : out)
      if (p.in_only && !p.by_ref)
        throw std::logic_error(std::string(member) + ": " + p.name + " is marked in_ref but passed by value");
    return out;
  }

  template <class R, class... A>
  Describe& add(std::string_view name, InvokeKind kind, R (I::*pmf)(A...), std::initializer_list<P> params) {
    MemberInfo m;
    m.name = std::string(name);
    m.kind = kind;
    std::int32_t existing = info_.dispid_of(name);
    m.dispid = existing != kDispidUnknown ? existing : next_dispid();
    m.params = make_params<A...>(name, params);
    if constexpr (!std::is_void_v<R>) {
      m.result = Marshal<detail::Plain<R>>::type;
      m.result_type_name = std::string(Marshal<detail::Plain<R>>::name());
    }
    m.invoke = [pmf](IDispatch* self, std::span<Variant> args) {
      return detail::call(self, pmf, args, std::index_sequence_for<A...>{});
    };
    info_.members.push_back(std::move(m));
    return *this;
  }

  std::int32_t next_dispid() const {
    std::int32_t highest = 0;
    for (const auto& m : info_.members) highest = std::max(highest, m.dispid);
    return highest + 1;
  }

  TypeInfo& info_;
};

}  // namespace ovik
