// The setting lookups of clsSystemInfo: fixed keys of "Brindlemark.ini", converted, with the
// start-up notice and a default in place of every failure.
#include "environment/system_info.h"
#include "ovik/component.h"
#include "platform/locale_rules.h"
#include "platform/module_info.h"
#include "platform/path_separator.h"

namespace ovik {

namespace pl = ovik::platform;

namespace {

std::int32_t to_int32(const std::string& text) {
  std::int32_t value = 0;
  switch (pl::parse_int32(text, value)) {
    case pl::ConvStatus::Ok: return value;
    case pl::ConvStatus::Overflow: raise_runtime_error(err::kOverflow);
    case pl::ConvStatus::TypeMismatch: break;
  }
  raise_runtime_error(err::kTypeMismatch);
}

std::int16_t to_int16(const std::string& text) {
  std::int16_t value = 0;
  switch (pl::parse_int16(text, value)) {
    case pl::ConvStatus::Ok: return value;
    case pl::ConvStatus::Overflow: raise_runtime_error(err::kOverflow);
    case pl::ConvStatus::TypeMismatch: break;
  }
  raise_runtime_error(err::kTypeMismatch);
}

}  // namespace

std::string clsSystemInfo::app_setting(const std::string& section, const std::string& key) {
  Ref<_clsIniFile> ini = get_IniFiles(IniFileIndexEnum::AppSetting);
  std::string s = section, k = key;
  return ini->GetIni(s, k);
}

std::int32_t clsSystemInfo::funAccountItem() {
  std::int32_t result = 0;
  try {
    result = to_int32(app_setting("accountitem", "accitem_store"));
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

std::int32_t clsSystemInfo::funAccountItemOfPetty() {
  std::int32_t result = 0;
  try {
    result = to_int32(app_setting("accountitem", "accitem_petty"));
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

std::string clsSystemInfo::funFinancialServer() {
  std::string result = "0";
  try {
    result = app_setting("Financial", "server");
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

std::string clsSystemInfo::funFinancialDatabase() {
  std::string result = "0";
  try {
    result = app_setting("Financial", "database");
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

std::int32_t clsSystemInfo::funJournalPatternCode() {
  std::int32_t result = 0;
  try {
    result = to_int32(app_setting("journalpattern", "jouptn_tenant"));
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

std::int16_t clsSystemInfo::funHeadOfficeCode(std::uint8_t bytGetCompanyCD) {
  std::int16_t result = 0;
  try {
    result = to_int16(app_setting("headoffice", "headoffice_" + std::to_string(bytGetCompanyCD)));
  } catch (...) {
    show_startup_notice();
  }
  return result;
}

bool clsSystemInfo::funPosInfoImport(std::string& strPosFile, std::string& strEmpFile, std::string& strBatFile) {
  try {
    strPosFile = app_setting("getposinfoimport", "pos_file");
    strEmpFile = app_setting("getposinfoimport", "employee_file");
    strBatFile = app_setting("getposinfoimport", "bat_file_path");
    return true;
  } catch (...) {
    show_startup_notice();
    return false;
  }
}

std::string clsSystemInfo::GetIniDir() {
  std::string folder = pl::Facility<pl::ModulePath>::get().module().folder;
  if (folder.empty() || folder.back() != pl::path_separator()) folder += pl::path_separator();
  return folder + pl::native_path("../ini/");
}

Ref<_clsMetaClientInfo> clsSystemInfo::get_HostInfo() {
  for (int attempt = 1;; ++attempt) {
    try {
      return create<_clsMetaClientInfo>("OvikEnvironment.clsMetaClientInfo");
    } catch (...) {
      if (attempt == 12) break;
    }
  }
  throw RaisedError(60000, "clsSystemInfo", "クライアント情報取得に失敗しました。");
}

}  // namespace ovik
