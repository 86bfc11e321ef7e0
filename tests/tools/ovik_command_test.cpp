// The `ovik` program as a shell runs it: where its usage goes, and the files generated from the
// class descriptions (docs/reference.md, the Windows binding's) against what the program writes now. (Started through /usr/bin/ovik, it is checked by scripts/install-check.sh.)
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kApp = fs::path(OVIK_BINARY_DIR) / "app";

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Outcome {
  int status;
  std::string out, err;
};

// `program` with the arguments as one shell word each (no quotes inside them).
Outcome run(const fs::path& program, const std::string& args, const fs::path& scratch) {
  const std::string out = (scratch / "out").string(), err = (scratch / "err").string();
  const std::string command =
      "cd / && '" + program.string() + "' " + args + " >'" + out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(out), read_text(err)};
}

TEST(OvikCommand, UsageGoesToStdoutWhenAskedForAndToStderrOnAMistake) {
  ovik::testing::TempDir dir;
  const struct {
    std::string args;
    int status;
    bool usage_out, usage_err;
  } rows[] = {
      {"--help", 0, true, false}, {"-h", 0, true, false},    {"help", 0, true, false},
      {"", 2, false, true},       {"bogus", 2, false, true}, {"--hlep", 2, false, true},
  };
  for (const auto& row : rows) {
    const Outcome r = run(kApp / "bin/ovik", row.args, dir.path());
    EXPECT_EQ(r.status, row.status) << row.args;
    EXPECT_EQ(r.out.starts_with("usage: ovik COMMAND"), row.usage_out) << row.args << ": " << r.out;
    EXPECT_EQ(r.err.find("usage: ovik COMMAND") != std::string::npos, row.usage_err)
        << row.args << ": " << r.err;
    if (row.usage_out) {
      EXPECT_NE(r.out.find("\n  reference "), std::string::npos) << r.out;
    }
  }
}

// Files generated from the class descriptions and committed: each must be what the program writes now.
TEST(OvikCommand, GeneratedFilesAreCurrent) {
  ovik::testing::TempDir dir;
  const struct {
    std::string args, file;
  } rows[] = {
      {"reference", "docs/reference.md"},
      {"typelib --idl", "src/component/win32/generated/OvikEnvironment.idl"},
      {"typelib --com-shims", "src/component/win32/generated/dual_shims.inc"},
      {"typelib --manifest", "src/component/win32/generated/Ovik2Environment.sxs.manifest"},
  };
  for (const auto& row : rows) {
    const Outcome r = run(kApp / "bin/ovik", row.args, dir.path());
    ASSERT_EQ(r.status, 0) << row.args << ": " << r.err;
    EXPECT_TRUE(r.out == read_text(fs::path(OVIK_SOURCE_DIR) / row.file))
        << row.file << " is not what `ovik " << row.args << "` writes now; refresh it from the source folder with\n"
        << "  cmake --build build --target ovik && build/app/bin/ovik " << row.args << " > " << row.file;
  }
}

}  // namespace
