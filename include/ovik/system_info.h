// The early-bound interface of clsSystemInfo, the environment object every client program
// creates first: its settings files, its three databases, the master-data object, the setting
// lookups, the workstation information and the log printing. Members stand in slot order.
#pragma once

#include <cstdint>
#include <string>

#include "ovik/client_info.h"
#include "ovik/database.h"
#include "ovik/environment.h"
#include "ovik/master.h"
#include "ovik/variant.h"

namespace ovik {

enum class IniFileIndexEnum : std::int32_t {
  AppSetting = 0,   // "Brindlemark.ini"
  MenuSetting = 1,  // "menu.ini"
};
template <>
struct EnumName<IniFileIndexEnum> {
  static constexpr std::string_view value = "IniFileIndexEnum";
};

class _clsSystemInfo : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("14540D60-3D83-42A6-ADD6-DC23889168E9");
  static constexpr std::string_view kTypeName = "clsSystemInfo";
  virtual std::string get_strGetIpAddress() = 0;
  virtual void put_strGetIpAddress(std::string value) = 0;
  virtual std::int32_t get_LoginStoreCd() = 0;
  virtual void put_LoginStoreCd(std::int32_t value) = 0;
  // The same shared object at every call; an index other than 0 or 1 raises 5.
  virtual Ref<_clsIniFile> get_IniFiles(IniFileIndexEnum emIni) = 0;
  virtual Ref<_clsDatabase> get_Database() = 0;
  virtual Ref<_clsDatabase> get_DatabaseOfTM() = 0;
  virtual Ref<_clsDatabase> get_DatabaseOfStore() = 0;
  // A new object at every read, after up to 12 attempts; raises 60000 when all fail.
  virtual Ref<_clsMetaClientInfo> get_HostInfo() = 0;
  virtual void OpenDatabase() = 0;
  // The lookups never raise: a failure shows the start-up notice and returns the default.
  virtual std::int32_t funAccountItem() = 0;
  virtual std::int32_t funAccountItemOfPetty() = 0;
  virtual std::string funFinancialServer() = 0;
  virtual std::string funFinancialDatabase() = 0;
  virtual std::int32_t funJournalPatternCode() = 0;
  virtual std::int16_t funHeadOfficeCode(std::uint8_t bytGetCompanyCD) = 0;
  virtual bool funPosInfoImport(std::string& strPosFile, std::string& strEmpFile, std::string& strBatFile) = 0;
  virtual void CloseDatabase() = 0;
  virtual std::string GetIniDir() = 0;
  virtual Variant PrintApplog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) = 0;
  virtual Variant PrintErrlog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) = 0;
  // Opens the databases first when the application database is not open.
  virtual Ref<_OvikMaster> get_Master() = 0;
};

}  // namespace ovik
