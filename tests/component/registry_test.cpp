// Registration in the class registry file and creation through it (the module is loaded with
// dlopen and asked through DllGetClassObject), as a client in another module would create.
#include <gtest/gtest.h>

#include "component/class_registry.h"
#include "ovik/component.h"
#include "ovik/module_entry_points.h"
#include "ovik/environment.h"
#include "platform/profile.h"
#include "platform/registry_location.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

class TempRegistry final : public platform::RegistryLocation {
 public:
  explicit TempRegistry(std::string file) : file_(std::move(file)) {}
  std::string registry_file() override { return file_; }

 private:
  std::string file_;
};

TEST(Registry, RegisterCreateThroughTheModuleAndUnregister) {
  testing::TempDir dir;
  TempRegistry location(dir.str() + "/config/ovik/registry.ini");
  platform::ScopedFake<platform::RegistryLocation> fake(location);

  ASSERT_EQ(DllRegisterServer(), hresult::kOk);
  auto entry = component::lookup_registry("OvikEnvironment.clsIniFile");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->module_path, component::library_file_path());
  EXPECT_EQ(entry->clsid, find_class("OvikEnvironment.clsIniFile")->clsid);

  // This program holds the library's code itself and cannot be loaded as a module: a client
  // creates through the shared library file.
  const std::string module = std::string(OVIK_BINARY_DIR) + "/app/bin/libOvik2Environment.so.2";
  Ref<IDispatch> object = component::create_from_module(module, entry->clsid, "OvikEnvironment.clsIniFile");
  ASSERT_TRUE(object);
  EXPECT_TRUE(query<_clsIniFile>(object.get()));

  // Every creatable class of the type library is registered; a class that is only described is not.
  for (const TypeInfo* info : type_library_classes()) {
    SCOPED_TRACE(info->class_name);
    EXPECT_EQ(component::lookup_registry(info->progid()).has_value(), info->instancing == Instancing::Creatable);
  }

  ASSERT_EQ(DllUnregisterServer(), hresult::kOk);
  EXPECT_FALSE(component::lookup_registry("OvikEnvironment.clsIniFile").has_value());
}

TEST(Registry, ModuleEntryPointsAnswerLikeTheirPlatformNamesakes) {
  const Guid ini_clsid = find_class("OvikEnvironment.clsIniFile")->clsid;
  void* raw = nullptr;
  ASSERT_EQ(DllGetClassObject(&ini_clsid, &IClassFactory::IID, &raw), hresult::kOk);
  auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(static_cast<IUnknown*>(raw)));
  EXPECT_EQ(DllCanUnloadNow(), hresult::kFalse);  // the factory itself is alive
  factory->LockServer(true);
  auto object = Ref<_clsIniFile>::adopt(static_cast<_clsIniFile*>(factory->CreateInstance(_clsIniFile::IID)));
  EXPECT_TRUE(object);
  object.reset();
  factory.reset();
  EXPECT_EQ(DllCanUnloadNow(), hresult::kFalse);  // still locked
  // Unlock through a fresh factory: the lock count belongs to the module, not to one factory.
  ASSERT_EQ(DllGetClassObject(&ini_clsid, &IClassFactory::IID, &raw), hresult::kOk);
  factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(static_cast<IUnknown*>(raw)));
  factory->LockServer(false);
  factory.reset();

  const Guid unknown = Guid::of("00000000-0000-0000-0000-000000000001");
  EXPECT_EQ(DllGetClassObject(&unknown, &IClassFactory::IID, &raw), hresult::kClassNotAvailable);
  EXPECT_EQ(DllGetClassObject(&ini_clsid, &IClassFactory::IID, nullptr), hresult::kPointer);
}

TEST(Registry, NamesFoundNowhereRaise429) {
  for (const char* progid : {"OvikEnvironment.clsNoSuchClass", "OvikEnvironment.clsDatabase"}) {
    try {
      create_object(progid);
      FAIL() << progid;
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.number(), err::kCannotCreateObject);
      EXPECT_EQ(e.source(), "OvikEnvironment");
      EXPECT_EQ(e.description(), std::string("ActiveX component can't create object: \"") + progid +
                                     "\" (`ovik typelib` lists the classes that can be created)");
    }
  }
}

TEST(Registry, HostFactoriesWinAndCanBeRemoved) {
  register_factory("OvikEnvironment.clsIniFile", [] { return create_object("OvikEnvironment.clsMessageString"); });
  EXPECT_EQ(create_object("ovikenvironment.clsinifile")->GetTypeInfo().class_name, "clsMessageString");
  register_factory("OvikEnvironment.clsIniFile", nullptr);
  EXPECT_EQ(create_object("OvikEnvironment.clsIniFile")->GetTypeInfo().class_name, "clsIniFile");
}

}  // namespace
}  // namespace ovik
