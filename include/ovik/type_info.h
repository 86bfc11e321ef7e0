// The one description of a class: its default interface's members in slot order with their
// parameters, its events, identifiers and instancing. The dispatch interface, the type library
// listing and the registration are all derived from it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ovik/export.h"
#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik {

enum class Instancing : std::uint8_t {
  Creatable,     // clients create it by programmatic name
  NotCreatable,  // described in the type library, handed out by other objects only
  Internal,      // not in the type library at all
};

struct ParamInfo {
  std::string name;
  VarType type = VarType::Variant;
  std::string type_name;  // "String", "Long", an enumeration or a class name
  bool by_ref = false;
  bool optional = false;
  Variant default_value;  // for optional parameters
  // By reference, but the member never writes it: early-bound callers may pass a constant, and the
  // C interface hands nothing back for it.
  bool in_only = false;
};

using Invoker = std::function<Variant(IDispatch* self, std::span<Variant> args)>;

struct MemberInfo {
  std::string name;
  InvokeKind kind = InvokeKind::Method;
  std::int32_t dispid = 0;
  std::vector<ParamInfo> params;
  VarType result = VarType::Empty;  // Empty: no result (a Sub)
  std::string result_type_name;
  Invoker invoke;
};

struct EventInfo {
  std::string name;
  std::int32_t dispid = 1;
  std::vector<ParamInfo> params;
};

struct EventInterfaceInfo {
  std::string name;  // "__" + class name
  Guid iid;
  std::vector<EventInfo> events;
};

struct OVIK_API TypeInfo {
  std::string library = "OvikEnvironment";
  std::string class_name;
  Guid clsid;
  std::string interface_name;  // "_" + class name
  Guid iid;
  Instancing instancing = Instancing::Creatable;
  int order = 0;  // position in the type library
  std::vector<MemberInfo> members;  // slot order; a property's get and put are two slots
  std::optional<EventInterfaceInfo> events;
  std::function<Ref<IDispatch>()> create;  // empty when clients cannot create it

  std::string progid() const { return library + "." + class_name; }

  // Names match without regard to ASCII case; kDispidUnknown when there is none.
  std::int32_t dispid_of(std::string_view name) const;
  // Finds the member for a call; a method may also be read as a property and the reverse.
  const MemberInfo* find(std::int32_t dispid, InvokeKind kind) const;
  // Checks the argument count, fills in omitted optional arguments, calls, writes back
  // by-reference arguments. Raises 438 for an unknown member, 450 for a wrong argument count.
  Variant invoke(IDispatch* self, std::int32_t dispid, InvokeKind kind, std::span<Variant> args) const;
};

struct EnumInfo {
  std::string name;
  Guid guid;
  int order = 0;
  std::vector<std::pair<std::string, std::int32_t>> members;
};

}  // namespace ovik
