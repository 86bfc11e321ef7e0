#include "component/class_registry.h"

#include <algorithm>
#include <map>

#include "ovik/object.h"
#include "platform/ascii.h"

namespace ovik {

namespace detail {
std::atomic<long>& live_object_count() noexcept {
  static std::atomic<long> count = 0;
  return count;
}
}  // namespace detail

namespace component {
std::atomic<long>& factory_lock_count() noexcept {
  static std::atomic<long> count = 0;
  return count;
}
}  // namespace component

namespace {

struct Tables {
  std::vector<const TypeInfo& (*)()> classes;
  std::vector<const EnumInfo& (*)()> enums;
  std::map<std::string, std::function<Ref<IDispatch>()>, std::less<>> overrides;
};

Tables& tables() {
  static Tables t;
  return t;
}

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const TypeInfo& info) : info_(info) { ++detail::live_object_count(); }
  ~ClassFactory() { --detail::live_object_count(); }

  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  IUnknown* QueryInterface(const Guid& iid) override {
    if (iid != IUnknown::IID && iid != IClassFactory::IID) return nullptr;
    AddRef();
    return this;
  }
  IUnknown* CreateInstance(const Guid& iid) override {
    if (!info_.create) raise_runtime_error(err::kCannotCreateObject);
    Ref<IDispatch> object = info_.create();
    IUnknown* seen = object->QueryInterface(iid);
    if (seen == nullptr) raise_runtime_error(err::kInvalidArgument);
    return seen;
  }
  void LockServer(bool lock) override { component::factory_lock_count() += lock ? 1 : -1; }

 private:
  const TypeInfo& info_;
  std::uint32_t refs_ = 0;
};

}  // namespace

ClassRegistration::ClassRegistration(const TypeInfo& (*describe)()) { tables().classes.push_back(describe); }
EnumRegistration::EnumRegistration(const EnumInfo& (*describe)()) { tables().enums.push_back(describe); }

std::vector<const TypeInfo*> registered_classes() {
  std::vector<const TypeInfo*> out;
  for (auto describe : tables().classes) out.push_back(&describe());
  return out;
}

const TypeInfo* find_class(std::string_view progid) {
  for (auto describe : tables().classes) {
    const TypeInfo& info = describe();
    if (platform::ascii_iequals(info.progid(), progid)) return &info;
  }
  return nullptr;
}

const TypeInfo* find_class(const Guid& clsid) {
  for (auto describe : tables().classes) {
    const TypeInfo& info = describe();
    if (info.clsid == clsid) return &info;
  }
  return nullptr;
}

std::vector<const TypeInfo*> type_library_classes() {
  std::vector<const TypeInfo*> out;
  for (const TypeInfo* info : registered_classes())
    if (info->library == type_library_header().name && info->instancing != Instancing::Internal)
      out.push_back(info);
  std::stable_sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->order < b->order; });
  return out;
}

std::vector<const EnumInfo*> type_library_enums() {
  std::vector<const EnumInfo*> out;
  for (auto describe : tables().enums) out.push_back(&describe());
  std::stable_sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->order < b->order; });
  return out;
}

const TypeLibraryHeader& type_library_header() {
  static const TypeLibraryHeader header;
  return header;
}

void register_factory(std::string progid, std::function<Ref<IDispatch>()> factory) {
  std::string key = platform::ascii_lower(progid);
  if (factory)
    tables().overrides[key] = std::move(factory);
  else
    tables().overrides.erase(key);
}

namespace {
// A misspelt name is the usual cause: the text names it and where the right ones are listed.
[[noreturn]] void cannot_create(std::string_view progid) {
  raise_runtime_error(
      err::kCannotCreateObject,
      "\"" + std::string(progid) + "\" (`ovik typelib` lists the classes that can be created)");
}
}  // namespace

Ref<IDispatch> create_object(std::string_view progid) {
  if (auto it = tables().overrides.find(platform::ascii_lower(progid)); it != tables().overrides.end()) {
    Ref<IDispatch> object = it->second();
    if (!object) raise_runtime_error(err::kCannotCreateObject, std::string(progid));
    return object;
  }
  if (const TypeInfo* info = find_class(progid)) {
    // Classes that clients may not create are refused as if they were unknown.
    if (info->instancing != Instancing::Creatable || !info->create) cannot_create(progid);
    return info->create();
  }
  if (auto entry = component::lookup_manifest(progid))
    return component::create_from_module(entry->module_path, entry->clsid, progid);
  if (auto entry = component::lookup_registry(progid))
    return component::create_from_module(entry->module_path, entry->clsid, progid);
  cannot_create(progid);
}

namespace component {

Ref<IClassFactory> make_class_factory(const TypeInfo& info) {
  return Ref<IClassFactory>(new ClassFactory(info));
}

}  // namespace component

}  // namespace ovik
