#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/system_info.h"

namespace ovik {

class DatabaseErrorListener;

// The environment object. It owns its two settings files for its whole life, up to three
// databases from OpenDatabase to CloseDatabase (their error events are logged through
// PrintErrlog), and the master-data object. Nothing is read or opened at creation.
class clsSystemInfo final : public Object<clsSystemInfo, _clsSystemInfo> {
 public:
  static const TypeInfo& type_info();

  clsSystemInfo();
  ~clsSystemInfo() override;

  std::string get_strGetIpAddress() override { return m_strIpAddress; }
  void put_strGetIpAddress(std::string value) override { m_strIpAddress = std::move(value); }
  std::int32_t get_LoginStoreCd() override { return m_LoginStoreCd; }
  void put_LoginStoreCd(std::int32_t value) override { m_LoginStoreCd = value; }
  Ref<_clsIniFile> get_IniFiles(IniFileIndexEnum emIni) override;
  Ref<_clsDatabase> get_Database() override { return m_cDatabase.database; }
  Ref<_clsDatabase> get_DatabaseOfTM() override { return m_cDatabaseMaster.database; }
  Ref<_clsDatabase> get_DatabaseOfStore() override { return m_cDatabaseStore.database; }
  Ref<_clsMetaClientInfo> get_HostInfo() override;
  void OpenDatabase() override;
  std::int32_t funAccountItem() override;
  std::int32_t funAccountItemOfPetty() override;
  std::string funFinancialServer() override;
  std::string funFinancialDatabase() override;
  std::int32_t funJournalPatternCode() override;
  std::int16_t funHeadOfficeCode(std::uint8_t bytGetCompanyCD) override;
  bool funPosInfoImport(std::string& strPosFile, std::string& strEmpFile, std::string& strBatFile) override;
  void CloseDatabase() override;
  std::string GetIniDir() override;
  Variant PrintApplog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) override;
  Variant PrintErrlog(std::string strDesc, std::uint8_t bytConnectFlg, std::string strApp) override;
  Ref<_OvikMaster> get_Master() override;

  // Called by the listeners of the three databases; each is logged the same way.
  void on_database_error(const std::string& strDbName, const std::string& strErrorString);

 private:
  // A database member with the listener of its events; events count from the moment it is stored.
  struct DatabaseSlot {
    Ref<_clsDatabase> database;
    Ref<DatabaseErrorListener> listener;
    std::uint32_t cookie = 0;
  };

  Ref<_clsIniFile> CreateIniFile(const std::string& file_name);
  Ref<_clsDatabase> OpenOneDatabase(const std::string& section, std::uint8_t connect_flag);
  std::string BuildConnectString(Ref<_clsIniFile>& ini, const std::string& section, std::uint8_t connect_flag);
  void store(DatabaseSlot& slot, Ref<_clsDatabase> database);
  void show_startup_notice();
  std::string app_setting(const std::string& section, const std::string& key);

  std::vector<std::pair<std::string, Ref<_clsIniFile>>> m_colIniFiles;
  Ref<_OvikMaster> m_Master;
  std::int32_t m_LoginStoreCd = 0;
  std::string m_strIpAddress;
  DatabaseSlot m_cDatabase;
  DatabaseSlot m_cDatabaseMaster;
  DatabaseSlot m_cDatabaseStore;
};

}  // namespace ovik
