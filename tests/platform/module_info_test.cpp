#include "platform/module_info.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace ovik::platform {
namespace {

TEST(ModuleBaseName, SharedObjectsAndOtherFiles) {
  struct Case {
    const char* file;
    const char* base;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"libOvik2Environment.so.2.0.0", "Ovik2Environment"},
           {"libOvik2Environment.so.2", "Ovik2Environment"},
           {"libOvik2Environment.so", "Ovik2Environment"},
           {"Ovik2Environment.so", "Ovik2Environment"},
           {"libx.soap.so.1", "x.soap"},  // ".so" inside the name is no suffix
           {"libx.so.old", "libx.so"},    // not a version: only the last extension goes
           {"lib.so", "lib"},             // nothing left after "lib": keep it
           {"ovik", "ovik"},
           {"platform_tests.bin", "platform_tests"},
           {".hidden", ".hidden"},
       }) {
    EXPECT_EQ(module_base_name(c.file), c.base) << c.file;
  }
}

TEST(ModuleInfoFromPath, FolderWithoutTrailingSlash) {
  struct Case {
    const char* path;
    const char* folder;
    const char* base;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"/opt/brindlemark/bin/libOvik2Environment.so.2.0.0", "/opt/brindlemark/bin", "Ovik2Environment"},
           {"/libOvik2Environment.so", "/", "Ovik2Environment"},
           {"/opt/app/bin/../lib//libOvik2Environment.so", "/opt/app/lib", "Ovik2Environment"},
       }) {
    ModuleInfo info = module_info_from_path(c.path);
    EXPECT_EQ(info.folder, c.folder) << c.path;
    EXPECT_EQ(info.base_name, c.base) << c.path;
  }
  ModuleInfo relative = module_info_from_path("bin/libOvik2Environment.so");
  EXPECT_EQ(relative.folder, (std::filesystem::current_path() / "bin").lexically_normal().native());
  EXPECT_EQ(module_info_from_path("").folder, "");
}

// The file that holds the library's code: the shared library in its clients, this program itself
// here, since it holds the library's internal archive.
TEST(ModulePathReal, FindsTheFileHoldingTheCode) {
  ModuleInfo info = ModulePath().module();
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(info.base_name, module_base_name(self.filename().native()));
  ASSERT_FALSE(info.folder.empty());
  EXPECT_EQ(info.folder.front(), '/');
  EXPECT_TRUE(std::filesystem::equivalent(info.folder, self.parent_path()));
}

}  // namespace
}  // namespace ovik::platform
