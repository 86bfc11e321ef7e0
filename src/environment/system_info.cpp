// clsSystemInfo: lifecycle, the three databases and the master-data object.
#include "environment/system_info.h"

#include "database/database.h"
#include "ovik/component.h"
#include "ovik/describe.h"
#include "platform/module_info.h"
#include "platform/path_separator.h"
#include "platform/user_interface.h"
#include "platform/ascii.h"

namespace ovik {

namespace pl = ovik::platform;

namespace {
constexpr const char* kStartupNotice = "アプリケーション初期化に失敗しています。一旦終了し、再立ち上げして下さい。";
constexpr const char* kWarningTitle = "警告";
constexpr std::int32_t kInformationOk = 64;

}  // namespace

// Receives one database's RaiseDatabaseError for the environment object, without keeping it
// alive: the environment object detaches it before it lets the database go or ends itself.
class DatabaseErrorListener final : public Listener<DatabaseErrorListener, __clsDatabase> {
 public:
  explicit DatabaseErrorListener(clsSystemInfo* owner) : owner_(owner) {}
  void RaiseDatabaseError(const std::string& strDbName, const std::string& strErrorString) override {
    if (owner_ != nullptr) owner_->on_database_error(strDbName, strErrorString);
  }
  void detach() { owner_ = nullptr; }

 private:
  clsSystemInfo* owner_;
};

clsSystemInfo::clsSystemInfo() {
  m_colIniFiles.emplace_back("0", CreateIniFile("Brindlemark.ini"));
  m_colIniFiles.emplace_back("1", CreateIniFile("menu.ini"));
  m_LoginStoreCd = 0;
}

clsSystemInfo::~clsSystemInfo() {
  m_Master.reset();
  try {
    if (m_cDatabase.database) CloseDatabase();
  } catch (...) {
    // End steps report nothing; the databases still close in their own end steps.
  }
  for (DatabaseSlot* slot : {&m_cDatabase, &m_cDatabaseMaster, &m_cDatabaseStore}) store(*slot, nullptr);
  m_colIniFiles.clear();
}

Ref<_clsIniFile> clsSystemInfo::CreateIniFile(const std::string& file_name) {
  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path(pl::Facility<pl::ModulePath>::get().module().folder);
  ini->put_FileName(pl::native_path("../ini/") + file_name);
  return ini;
}

Ref<_clsIniFile> clsSystemInfo::get_IniFiles(IniFileIndexEnum emIni) {
  const std::string key = std::to_string(static_cast<std::int32_t>(emIni));
  for (auto& [k, ini] : m_colIniFiles)
    if (k == key) return ini;
  raise_runtime_error(err::kInvalidArgument);
}

void clsSystemInfo::store(DatabaseSlot& slot, Ref<_clsDatabase> database) {
  if (slot.listener) {
    slot.listener->detach();
    if (auto container = query<IConnectionPointContainer>(slot.database.get())) {
      try {
        container->Unadvise(slot.cookie);
      } catch (...) {
      }
    }
    slot.listener.reset();
  }
  slot.database = std::move(database);
  if (!slot.database) return;
  if (auto container = query<IConnectionPointContainer>(slot.database.get())) {
    slot.listener = make_object<DatabaseErrorListener>(this);
    slot.cookie = container->Advise(__clsDatabase::IID, slot.listener.get());
  }
}

void clsSystemInfo::show_startup_notice() {
  pl::Facility<pl::UserInterface>::get().message_box(kStartupNotice, kWarningTitle, kInformationOk);
}

std::string clsSystemInfo::BuildConnectString(Ref<_clsIniFile>& ini, const std::string& section,
                                              std::uint8_t connect_flag) {
  Ref<_clsConnectString> cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  auto read = [&](const char* key) {
    std::string s = section, k = key;
    return ini->GetIni(s, k);
  };
  cs->SetProvider(read("provider"));
  if (connect_flag == 1)
    cs->SetServer(read("server"));
  else
    cs->SetServer(m_strIpAddress);
  cs->SetUser(read("database_user"));
  cs->SetPassword(read("password"));
  cs->SetInitialDatabase(read("database_name"));
  return cs->GetValue();
}

Ref<_clsDatabase> clsSystemInfo::OpenOneDatabase(const std::string& section, std::uint8_t connect_flag) {
  try {
    Ref<_clsDatabase> database = make_object<clsDatabase>();
    Ref<_clsIniFile> ini = get_IniFiles(IniFileIndexEnum::AppSetting);
    const std::string connection_string = BuildConnectString(ini, section, connect_flag);
    std::string s = section, k = "transaction_log ";
    database->put_TraceTransaction(pl::ascii_lower(ini->GetIni(s, k)) == "true");
    database->Connect(connection_string, HowToConnectEnum::ConnectByConnectionString);
    return database;
  } catch (...) {
    show_startup_notice();
    return nullptr;
  }
}

void clsSystemInfo::OpenDatabase() {
  store(m_cDatabase, OpenOneDatabase("database", 1));
  store(m_cDatabaseMaster, OpenOneDatabase("master_database", 1));
  if (!m_strIpAddress.empty()) store(m_cDatabaseStore, OpenOneDatabase("store_database", 2));
  m_Master = create<_OvikMaster>("Ovik2Master.OvikMaster");
  // Arguments are taken in order: an absent master database fails first.
  if (!m_cDatabaseMaster.database) raise_runtime_error(err::kObjectNotSet);
  Ref<_Connection> master = m_cDatabaseMaster.database->get_Connection();
  if (!m_cDatabase.database) raise_runtime_error(err::kObjectNotSet);
  Ref<_Connection> application = m_cDatabase.database->get_Connection();
  m_Master->AttachConnections(master, application);
}

Ref<_OvikMaster> clsSystemInfo::get_Master() {
  if (!m_cDatabase.database) OpenDatabase();
  return m_Master;
}

void clsSystemInfo::CloseDatabase() {
  for (DatabaseSlot* slot : {&m_cDatabase, &m_cDatabaseMaster, &m_cDatabaseStore}) {
    if (!slot->database) continue;
    if (slot->database->get_TransFlg()) slot->database->get_Connection()->CommitTrans();
    if (slot->database->get_Usable()) slot->database->Disconnect();
    store(*slot, nullptr);
  }
}

void clsSystemInfo::on_database_error(const std::string& strDbName, const std::string& strErrorString) {
  // Logged to the application log database (connect flag 1: the "server" of section
  // "database"), with the event's own text on the lines after the description so that an
  // operator sees which database failed and why. A failure to log is not the caller's failure.
  try {
    PrintErrlog("database error [" + strDbName + "]\r\n" + strErrorString, 1, "");
  } catch (...) {
  }
}

const TypeInfo& clsSystemInfo::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsSystemInfo>("clsSystemInfo", Guid::of("4483D791-63E7-4781-B76F-9EB90273546F"),
                                            Instancing::Creatable, 7);
    t.create = [] { return Ref<IDispatch>(make_object<clsSystemInfo>()); };
    Describe<_clsSystemInfo>(t)
        .get("strGetIpAddress", &_clsSystemInfo::get_strGetIpAddress)
        .put("strGetIpAddress", &_clsSystemInfo::put_strGetIpAddress, {"RHS"})
        .get("LoginStoreCd", &_clsSystemInfo::get_LoginStoreCd)
        .put("LoginStoreCd", &_clsSystemInfo::put_LoginStoreCd, {"RHS"})
        .get("IniFiles", &_clsSystemInfo::get_IniFiles, {"emIni"})
        .get("Database", &_clsSystemInfo::get_Database)
        .get("DatabaseOfTM", &_clsSystemInfo::get_DatabaseOfTM)
        .get("DatabaseOfStore", &_clsSystemInfo::get_DatabaseOfStore)
        .get("HostInfo", &_clsSystemInfo::get_HostInfo)
        .method("OpenDatabase", &_clsSystemInfo::OpenDatabase)
        .method("funAccountItem", &_clsSystemInfo::funAccountItem)
        .method("funAccountItemOfPetty", &_clsSystemInfo::funAccountItemOfPetty)
        .method("funFinancialServer", &_clsSystemInfo::funFinancialServer)
        .method("funFinancialDatabase", &_clsSystemInfo::funFinancialDatabase)
        .method("funJournalPatternCode", &_clsSystemInfo::funJournalPatternCode)
        .method("funHeadOfficeCode", &_clsSystemInfo::funHeadOfficeCode, {"bytGetCompanyCD"})
        .method("funPosInfoImport", &_clsSystemInfo::funPosInfoImport, {"strPosFile", "strEmpFile", "strBatFile"})
        .method("CloseDatabase", &_clsSystemInfo::CloseDatabase)
        .method("GetIniDir", &_clsSystemInfo::GetIniDir)
        .method("PrintApplog", &_clsSystemInfo::PrintApplog, {"strDesc", "bytConnectFlg", opt("strApp", "")})
        .method("PrintErrlog", &_clsSystemInfo::PrintErrlog, {"strDesc", "bytConnectFlg", opt("strApp", "")})
        .get("Master", &_clsSystemInfo::get_Master);
    return t;
  }();
  return info;
}

namespace {
const ClassRegistration kRegistration(&clsSystemInfo::type_info);

const EnumInfo& ini_file_index_enum() {
  static const EnumInfo info{"IniFileIndexEnum", Guid::of("78248E28-EB84-4CA4-A26D-8B7397EC7EF5"), 5,
                             {{"AppSetting", 0}, {"MenuSetting", 1}}};
  return info;
}
const EnumRegistration kEnumRegistration(&ini_file_index_enum);
}  // namespace

}  // namespace ovik
