#pragma once

#include <string>

#include "ovik/environment.h"
#include "ovik/object.h"

namespace ovik {

// One INI file named by a folder (Path) and a file name relative to it (FileName). The folder
// gets its trailing "/" at the first read or write, and keeps it. Paths are used as given (UTF-8
// bytes); values are converted from and to the narrow code page of the file.
class clsIniFile final : public Object<clsIniFile, _clsIniFile> {
 public:
  static const TypeInfo& type_info();

  std::string get_FileName() override { return file_name_; }
  void put_FileName(std::string value) override { file_name_ = std::move(value); }
  std::string get_Path() override { return path_; }
  void put_Path(std::string value) override { path_ = std::move(value); }
  std::string GetIni(std::string& Section, std::string& Entry) override;
  std::string PutIni(std::string& Section, std::string& Entry, std::string& EntryString) override;

 private:
  static void AppendPathSeparator(std::string& folder);
  static std::string CutProfileValue(const char* buffer, std::size_t count);

  std::string file_name_;
  std::string path_;
  std::string lookup_path_;
};

}  // namespace ovik
