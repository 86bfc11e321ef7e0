// PrintApplog and PrintErrlog: one entry through a fresh clsLog connected to the log database
// built from section "database". Nothing is caught: a missing key reaches the caller.
#include "environment/system_info.h"
#include "logging/log.h"

namespace ovik {

Variant clsSystemInfo::PrintApplog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) {
  Ref<_clsIniFile> ini = get_IniFiles(IniFileIndexEnum::AppSetting);
  Ref<clsLog> log = make_object<clsLog>();
  if (!strApp.empty()) log->put_AppName(strApp);
  log->put_ServerConnectionString(BuildConnectString(ini, "database", bytConnectFlg));
  log->DelLog(30);
  std::string title = "application log";
  log->PutLog(title, strDesc);
  return Variant();
}

Variant clsSystemInfo::PrintErrlog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) {
  Ref<_clsIniFile> ini = get_IniFiles(IniFileIndexEnum::AppSetting);
  Ref<clsLog> log = make_object<clsLog>();
  if (!strApp.empty()) log->put_AppName(strApp);
  log->put_ServerConnectionString(BuildConnectString(ini, "database", bytConnectFlg));
  std::string title = "exception log";
  log->PutLog(title, strDesc);
  return Variant();
}

}  // namespace ovik
