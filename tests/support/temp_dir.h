// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace ovik::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes `bytes` to a file below the folder (folders created) and returns its path.
  std::string write(const std::string& relative, const std::string& bytes) const;
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

}  // namespace ovik::testing
