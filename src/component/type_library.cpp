#include <sstream>

#include "ovik/component.h"

namespace ovik {

namespace {

const char* instancing_text(Instancing i) {
  switch (i) {
    case Instancing::Creatable: return "creatable";
    case Instancing::NotCreatable: return "not creatable (handed out by other objects)";
    case Instancing::Internal: return "internal";
  }
  return "";
}

const char* kind_text(InvokeKind k) {
  switch (k) {
    case InvokeKind::Method: return "method ";
    case InvokeKind::PropertyGet: return "get    ";
    case InvokeKind::PropertyPut: return "put    ";
  }
  return "";
}

void write_params(std::ostringstream& out, const std::vector<ParamInfo>& params) {
  out << "(";
  for (std::size_t i = 0; i < params.size(); ++i) {
    const ParamInfo& p = params[i];
    if (i) out << ", ";
    if (p.optional) out << "[Optional] ";
    out << (p.by_ref ? "ByRef " : "ByVal ") << p.name << " As " << p.type_name;
    if (p.optional && !p.default_value.is_empty()) {
      out << " = ";
      if (p.default_value.is_string())
        out << '"' << p.default_value.to_string() << '"';
      else
        out << p.default_value.to_string();
    }
  }
  out << ")";
}

}  // namespace

std::string type_library_listing() {
  const TypeLibraryHeader& lib = type_library_header();
  std::ostringstream out;
  out << "library " << lib.name << " " << lib.guid.to_string() << "\n"
      << "  version " << lib.version << ", locale " << lib.locale << ", module file version " << lib.file_version
      << ", threading model " << lib.threading_model << "\n";
  for (const TypeInfo* info : type_library_classes()) {
    out << "\nclass " << info->class_name << " " << info->clsid.to_string() << "\n"
        << "  instancing: " << instancing_text(info->instancing) << "\n";
    if (info->instancing == Instancing::Creatable) out << "  programmatic name: " << info->progid() << "\n";
    out << "  default interface " << info->interface_name << " " << info->iid.to_string() << " (dual)\n";
    int slot = 0;
    for (const MemberInfo& m : info->members) {
      ++slot;
      out << "    " << (slot < 10 ? " " : "") << slot << ". [id " << m.dispid << "] " << kind_text(m.kind) << m.name;
      write_params(out, m.params);
      if (m.result != VarType::Empty) out << " As " << m.result_type_name;
      out << "\n";
    }
    if (info->events) {
      out << "  event interface " << info->events->name << " " << info->events->iid.to_string() << "\n";
      for (const EventInfo& e : info->events->events) {
        out << "        [id " << e.dispid << "] event   " << e.name;
        write_params(out, e.params);
        out << "\n";
      }
    }
  }
  for (const EnumInfo* e : type_library_enums()) {
    out << "\nenum " << e->name << " " << e->guid.to_string() << "\n";
    for (const auto& [name, value] : e->members) out << "    " << name << " = " << value << "\n";
  }
  return out.str();
}

}  // namespace ovik
