#include "ovik/type_info.h"

#include <algorithm>
#include <vector>

#include "ovik/error.h"
#include "platform/ascii.h"

namespace ovik {

std::int32_t TypeInfo::dispid_of(std::string_view name) const {
  for (const auto& m : members)
    if (platform::ascii_iequals(m.name, name)) return m.dispid;
  return kDispidUnknown;
}

const MemberInfo* TypeInfo::find(std::int32_t dispid, InvokeKind kind) const {
  const MemberInfo* fallback = nullptr;
  for (const auto& m : members) {
    if (m.dispid != dispid) continue;
    if (m.kind == kind) return &m;
    // Late-bound callers often cannot tell a method from a read-only property.
    bool reading = kind != InvokeKind::PropertyPut && m.kind != InvokeKind::PropertyPut;
    if (reading && fallback == nullptr) fallback = &m;
  }
  return fallback;
}

Variant TypeInfo::invoke(IDispatch* self, std::int32_t dispid, InvokeKind kind, std::span<Variant> args) const {
  const MemberInfo* m = find(dispid, kind);
  if (m == nullptr) raise_runtime_error(err::kMemberNotSupported);
  const std::size_t declared = m->params.size();
  if (args.size() > declared) raise_runtime_error(err::kWrongArgumentCount);
  if (args.size() == declared) return m->invoke(self, args);

  std::vector<Variant> full(args.begin(), args.end());
  for (std::size_t i = args.size(); i < declared; ++i) {
    const ParamInfo& p = m->params[i];
    if (!p.optional) raise_runtime_error(err::kWrongArgumentCount);
    full.push_back(p.default_value);
  }
  Variant result = m->invoke(self, full);
  for (std::size_t i = 0; i < args.size(); ++i)
    if (m->params[i].by_ref) args[i] = std::move(full[i]);
  return result;
}

}  // namespace ovik
