// clsIniFile: single values of one INI file, read and written through the platform's profile
// functions at every call (nothing is cached, so another program's change is seen at once).
#include "environment/ini_file.h"

#include <cstring>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "platform/codepage.h"
#include "platform/path_separator.h"
#include "platform/profile.h"

namespace ovik {

namespace {
constexpr char kNotFound[] = "Not found";
constexpr std::size_t kBufferSize = 256;
}  // namespace

void clsIniFile::AppendPathSeparator(std::string& folder) {
  if (folder.empty() || folder.back() != platform::path_separator()) folder += platform::path_separator();
}

std::string clsIniFile::CutProfileValue(const char* buffer, std::size_t count) {
  // Cut by the byte count the platform reported; a multi-byte character split by it is dropped whole.
  std::string_view bytes(buffer, count);
  bytes = bytes.substr(0, platform::narrow_cut(bytes, bytes.size()));
  std::string text = platform::from_narrow(bytes);
  for (char& c : text)
    if (c == '\0') c = ' ';
  return text;
}

std::string clsIniFile::GetIni(std::string& Section, std::string& Entry) {
  AppendPathSeparator(path_);
  // Kept between calls so that its storage is reused: a lookup then allocates nothing for the path.
  lookup_path_.assign(path_).append(file_name_);
  char buffer[kBufferSize];
  buffer[0] = '\0';
  const std::string section = platform::to_narrow(Section);
  const std::string entry = platform::to_narrow(Entry);
  std::size_t n = platform::get_private_profile_string(section.c_str(), entry.c_str(), kNotFound, buffer,
                                                       kBufferSize, lookup_path_);
  std::string value = CutProfileValue(buffer, std::min(n, kBufferSize - 1));
  if (value == kNotFound) throw RaisedError(60000, "clsIniFile", "設定が見つかりません。");
  return value;
}

std::string clsIniFile::PutIni(std::string& Section, std::string& Entry, std::string& EntryString) {
  AppendPathSeparator(path_);
  const std::string full_path = path_ + file_name_;
  int result = platform::write_private_profile_string(platform::to_narrow(Section).c_str(),
                                                      platform::to_narrow(Entry).c_str(),
                                                      platform::to_narrow(EntryString).c_str(), full_path);
  return std::to_string(result);
}

const TypeInfo& clsIniFile::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsIniFile>("clsIniFile", Guid::of("6092A701-344C-483E-A693-1D26A7AD73CB"),
                                         Instancing::Creatable, 1);
    t.create = [] { return Ref<IDispatch>(make_object<clsIniFile>()); };
    Describe<_clsIniFile>(t)
        .get("FileName", &_clsIniFile::get_FileName)
        .put("FileName", &_clsIniFile::put_FileName, {"RHS"})
        .get("Path", &_clsIniFile::get_Path)
        .put("Path", &_clsIniFile::put_Path, {"RHS"})
        .method("GetIni", &_clsIniFile::GetIni, {in_ref("Section"), in_ref("Entry")})
        .method("PutIni", &_clsIniFile::PutIni, {in_ref("Section"), in_ref("Entry"), in_ref("EntryString")});
    return t;
  }();
  return info;
}

namespace {
const ClassRegistration kRegistration(&clsIniFile::type_info);
}  // namespace

}  // namespace ovik
