// `ovik demo`: the whole client flow on the embedded SQLite default (or on the server that the
// settings name for the application database), on the application folder the library lies in
// (bin/ beside ini/, sql/ and data/), saying what it does and which files it writes.
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <vector>

#include "commands.h"
#include "database/access/objects/connection.h"
#include "database/database.h"
#include "demo_ui.h"
#include "logging/log_statements.h"
#include "ovik/component.h"
#include "ovik/system_info.h"
#include "ovik/ui.h"
#include "platform/clock.h"
#include "platform/module_info.h"
#include "platform/system_info.h"
#include "platform/user_interface.h"

namespace ovik::host {

namespace {

const char* kind_name(ConnectedDatabaseTypeEnum kind) {
  switch (kind) {
    case ConnectedDatabaseTypeEnum::IsOracle: return "IsOracle";
    case ConnectedDatabaseTypeEnum::IsAccess: return "IsAccess";
    case ConnectedDatabaseTypeEnum::IsSqlServer: return "IsSqlServer";
    case ConnectedDatabaseTypeEnum::IsUnknown: return "IsUnknown";
  }
  return "?";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void describe_database(std::ostream& out, const char* label, const Ref<_clsDatabase>& db) {
  out << "  " << label << ": ";
  if (!db) {
    out << "none\n";
    return;
  }
  out << (db->get_Usable() ? "open" : "not open") << ", Provider " << kind_name(db->get_Provider())
      << ", DefaultDatabase \"" << db->get_Connection()->get_DefaultDatabase() << "\", tracing "
      << (db->get_TraceTransaction() ? "on" : "off") << "\n";
}

void print_rows(std::ostream& out, const char* how, Ref<_Recordset> rs) {
  out << "  " << how << ":";
  int rows = 0;
  while (!rs->get_EOF()) {
    Ref<Fields> f = rs->get_Fields();
    out << (rows++ ? "," : "") << " [" << f->get_Item(Variant("CD"))->get_Value().to_string() << " "
        << f->get_Item(Variant("NM"))->get_Value().to_string() << "]";
    rs->MoveNext();
  }
  out << " (" << rows << " row" << (rows == 1 ? "" : "s") << ")\n";
}

// A clsDatabase that only names a kind of database: its connect fails (no such server here), but
// the connection object keeps the provider name, and DayConv reads no more than that.
Ref<_clsDatabase> database_of_kind(const std::string& connection_string) {
  Ref<_clsDatabase> db = make_object<clsDatabase>();
  try {
    db->Connect(connection_string, HowToConnectEnum::ConnectByConnectionString);
  } catch (const RaisedError&) {
  }
  return db;
}

}  // namespace

int run_demo(const std::vector<std::string>&, std::ostream& out, std::ostream& err) {
  // Message boxes become lines of the demo's output instead of a wait for a button.
  platform::set_message_box_handler([&out](const platform::MessageBoxRequest& box) {
    out << "  [message box \"" << box.title << "\"] " << box.text << "\n";
    return platform::kMessageBoxOk;
  });
  try {
    const platform::ModuleInfo module = platform::Facility<platform::ModulePath>::get().module();
    const std::string app = std::filesystem::path(module.folder).parent_path().string();
    out << "== " << module.base_name << " " << type_library_header().file_version << ", application folder " << app
        << "\n";
    // The settings name their databases relative to the application folder; the library opens
    // only files that exist, so the demo makes its own once, saying so.
    std::filesystem::create_directories(app + "/data");
    for (const char* name : {"app", "master", "store"}) {
      const std::string relative = std::string("data/") + name + ".db";
      if (std::filesystem::exists(app + "/" + relative)) continue;
      Ref<_Connection> maker = new_connection();
      maker->Open("Provider=SQLite;Data Source=" + relative + ";Create If Missing=True", "", "", -1);
      maker->Close();
      out << "  created the empty database " << relative << " (Create If Missing=True)\n";
    }

    out << "\n== 1. The environment object (OvikEnvironment.clsSystemInfo)\n";
    Ref<_clsSystemInfo> si = create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
    out << "  settings folder (GetIniDir): " << si->GetIniDir() << "\n";
    si->put_strGetIpAddress("data/store.db");  // relative: from the application folder
    out << "  store server (strGetIpAddress): " << si->get_strGetIpAddress() << "\n";

    out << "\n== 2. Opening the three databases (OpenDatabase)\n";
    si->OpenDatabase();
    describe_database(out, "Database       ", si->get_Database());
    describe_database(out, "DatabaseOfTM   ", si->get_DatabaseOfTM());
    describe_database(out, "DatabaseOfStore", si->get_DatabaseOfStore());
    Ref<_OvikMaster> master = si->get_Master();
    out << "  Master: " << master->GetTypeInfo().progid() << ", connections attached: "
        << (master->get_Attached() ? "yes" : "no") << "\n";

    out << "\n== 3. Setting lookups\n";
    out << "  funAccountItem = " << si->funAccountItem() << ", funAccountItemOfPetty = " << si->funAccountItemOfPetty()
        << "\n  funFinancialServer = " << si->funFinancialServer()
        << ", funFinancialDatabase = " << si->funFinancialDatabase()
        << "\n  funJournalPatternCode = " << si->funJournalPatternCode()
        << ", funHeadOfficeCode(1) = " << si->funHeadOfficeCode(1) << ", funHeadOfficeCode(3) = "
        << si->funHeadOfficeCode(3) << "\n";
    std::string pos, emp, bat;
    bool imported = si->funPosInfoImport(pos, emp, bat);
    out << "  funPosInfoImport = " << (imported ? "True" : "False") << ": " << pos << ", " << emp << ", " << bat << "\n";
    out << "  funHeadOfficeCode(9), a key that is missing:\n";
    const std::int16_t missing = si->funHeadOfficeCode(9);
    out << "  -> " << missing << "\n";

    out << "\n== 4. Writing a recordset into a table (RecordToDatabase)\n";
    Ref<_clsDatabase> db = si->get_Database();
    Variant affected;
    // The settings may point the application database at a server: the log table's definition and
    // the demo table's date type follow the product reached, as the log's own statements do.
    const auto* reached = dynamic_cast<const access::Connection*>(db->get_Connection().get());
    const std::string dbms = reached != nullptr ? reached->dbms_name() : std::string();
    const LogDialect dialect = log_dialect(dbms, si->get_IniFiles(IniFileIndexEnum::AppSetting)->GetIni("database", "provider"));
    // The table definition without its comment lines: the trace shows each statement on one line.
    // SQL Server's has no "if not exists": it runs only when the table is missing.
    bool log_table_present = dialect != LogDialect::kSqlServer;
    if (!log_table_present) {
      try {
        db->get_Connection()->Execute("select count(*) from wkLog where 1 = 0", affected, -1);
        log_table_present = true;
      } catch (const RaisedError&) {
      }
    }
    std::istringstream ddl_lines(read_file(app + "/sql/" + log_table_definition_file(dialect)));
    // MariaDB's driver runs one statement a call: there the file goes statement by statement, each
    // ending a line with ";".
    std::vector<std::string> ddl(1);
    for (std::string line; std::getline(ddl_lines, line);) {
      if (line.rfind("--", 0) == 0) continue;
      ddl.back() += line + "\n";
      if (dialect == LogDialect::kMariaDb && line.ends_with(";")) ddl.emplace_back();
    }
    if (dialect != LogDialect::kSqlServer || !log_table_present)
      for (const std::string& statement : ddl)
        if (statement.find_first_not_of(" \t\r\n") != std::string::npos)
          db->get_Connection()->Execute(statement, affected, -1);
    db->get_Connection()->Execute("drop table if exists demo_items", affected, -1);
    db->get_Connection()->Execute(std::string("create table demo_items (CD integer primary key, NM varchar(40), DT ") +
                                      (dialect == LogDialect::kPostgres ? "timestamp(0)" : "datetime") + ")",
                                  affected, -1);
    Ref<_Recordset> items = new_recordset();
    items->get_Fields()->Append("CD", ado::adInteger, 0, 0);
    items->get_Fields()->Append("NM", ado::adVarWChar, 40, ado::adFldIsNullable);
    items->get_Fields()->Append("DT", ado::adDate, 0, ado::adFldIsNullable);
    items->put_CursorLocation(ado::adUseClient);
    items->Open(Variant(), Variant(), ado::adOpenDynamic, ado::adLockPessimistic, -1);
    const char* names[] = {"O'Neil", "発注テスト", "Smith"};
    for (int i = 0; i < 3; ++i) {
      items->AddNew();
      items->get_Fields()->get_Item(Variant("CD"))->put_Value(Variant(std::int32_t{i + 1}));
      items->get_Fields()->get_Item(Variant("NM"))->put_Value(Variant(names[i]));
      items->get_Fields()->get_Item(Variant("DT"))->put_Value(i == 2 ? Variant(Null{}) : Variant("2024/1/5 9:03"));
      items->Update();
    }
    std::string prefix = " ";
    out << "  in-memory recordset of 3 rows -> RecordToDatabase(\"demo_items\") = "
        << (db->RecordToDatabase("demo_items", items, prefix) ? "True" : "False") << "\n";
    out << "  (each row became one statement like: insert into demo_items ( CD, NM, DT)values( 1, 'O''Neil', "
           "'2024/01/05 09:03:00'))\n";

    out << "\n== 5. Reading it back through the four openings\n";
    print_rows(out, "OpenReadOnlyRecordset (client cursor, at most 2)",
               db->OpenReadOnlyRecordset("select * from demo_items order by CD", ado::adUseClient, 2));
    print_rows(out, "OpenForwardOnlyRecordset", db->OpenForwardOnlyRecordset("select * from demo_items order by CD"));
    print_rows(out, "OpenAddOnlyRecordset (never more than one row)",
               db->OpenAddOnlyRecordset("select * from demo_items order by CD"));
    Ref<_Recordset> rw = db->OpenReadWriteRecordset("select * from demo_items where CD = 3", ado::adUseServer);
    rw->get_Fields()->get_Item(Variant("NM"))->put_Value(Variant("Smith & Sons"));
    rw->Update();
    rw->Close();
    print_rows(out, "OpenReadWriteRecordset after changing row 3",
               db->OpenForwardOnlyRecordset("select * from demo_items where CD = 3"));
    Ref<_Recordset> source = db->OpenReadOnlyRecordset("select * from demo_items order by CD", ado::adUseClient, 0);
    source->MoveNext();
    Ref<_Recordset> copy = db->ChangeRecordset(source);
    print_rows(out, "ChangeRecordset from row 2 (an in-memory copy)", copy);

    out << "\n== 6. SQL literals for each kind of database (NumConv, DayConv, VarConv)\n";
    struct Kind {
      const char* name;
      Ref<_clsDatabase> db;
    };
    Kind kinds[] = {{"Oracle    ", database_of_kind("Provider=OraOLEDB.Oracle;Data Source=demo")},
                    {"Access    ", database_of_kind("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=demo.mdb")},
                    {"SQL Server", database_of_kind("Provider=SQLOLEDB;Data Source=127.0.0.1,1;Initial Catalog=x")},
                    {dialect == LogDialect::kSqlite     ? "SQLite    "
                     : dialect == LogDialect::kPostgres ? "PostgreSQL"
                     : dialect == LogDialect::kMariaDb  ? "MariaDB   "
                                                        : "this one  ",
                     db}};
    for (Kind& k : kinds) {
      std::string empty, amount = "1,234.50", lead = "007", date = "2024/1/5 9:03", text = "O'Neil";
      out << "  " << k.name << " (" << kind_name(k.db->get_Provider()) << "): NumConv(\"\") = "
          << k.db->NumConv(empty, SqlStringParmitNullEnum::FieldIsNotNullable)
          << ", NumConv(\"\", nullable) = " << k.db->NumConv(empty, SqlStringParmitNullEnum::FieldIsNullable)
          << ", NumConv(\"1,234.50\") = " << k.db->NumConv(amount, SqlStringParmitNullEnum::FieldIsNotNullable)
          << ", NumConv(\"007\") = " << k.db->NumConv(lead, SqlStringParmitNullEnum::FieldIsNotNullable)
          << "\n               VarConv(\"O'Neil\") = " << k.db->VarConv(text) << ", VarConv(\"\") = " << k.db->VarConv("")
          << ", DayConv(\"2024/1/5 9:03\") = " << k.db->DayConv(date) << "\n";
    }
    try {
      std::string abc = "abc";
      db->NumConv(abc, SqlStringParmitNullEnum::FieldIsNotNullable);
    } catch (const RaisedError& e) {
      out << "  NumConv(\"abc\") raises " << e.number() << " (" << e.description() << ")\n";
    }

    out << "\n== 7. Application and error log entries\n";
    si->PrintApplog("demo: the store's day started", 1, "DEMO");
    si->PrintErrlog("demo: an error worth reporting", 1, "");
    // This run's two rows: several runs may log within one second.
    const std::string this_run =
        " Title, ApplicationName, Comment from wkLog where Comment like 'demo:%' and ProcessID = " +
        std::to_string(platform::Facility<platform::SystemInfo>::get().process_id()) +
        " order by Title desc";
    const std::string latest_two = dialect == LogDialect::kSqlServer ? "select top 2" + this_run
                                                                      : "select" + this_run + " limit 2";
    Ref<_Recordset> log_rows = db->OpenForwardOnlyRecordset(latest_two);
    while (!log_rows->get_EOF()) {
      out << "  wkLog row: " << log_rows->get_Fields()->get_Item(Variant("Title"))->get_Value().to_string() << " | "
          << log_rows->get_Fields()->get_Item(Variant("ApplicationName"))->get_Value().to_string() << " | "
          << log_rows->get_Fields()->get_Item(Variant("Comment"))->get_Value().to_string() << "\n";
      log_rows->MoveNext();
    }
    // With the log database out of reach, entries go to the day's file in the log folder.
    const std::string store_address = si->get_strGetIpAddress();
    si->put_strGetIpAddress("data/switched-off.db");  // a file that does not exist
    si->PrintApplog("demo: written while the log database is switched off", 2, "DEMO");
    si->put_strGetIpAddress(store_address);
    out << "  with the log database switched off, the entry went to a file in " << module.folder << "/log/:\n";
    const platform::CivilNow now = platform::Facility<platform::Clock>::get().local_now();
    char day[8];
    std::snprintf(day, sizeof day, "%02d%02d%02d", now.year % 100, now.month, now.day);
    std::istringstream lines(read_file(module.folder + "/log/DEMO" + day + "-" +
                                       platform::Facility<platform::SystemInfo>::get().user_name() + ".LOG"));
    for (std::string line; std::getline(lines, line);) out << "    " << line << "\n";

    out << "\n== 8. A failing statement: the database's error event is logged\n";
    try {
      db->get_Connection()->Execute("select * from no_such_table", affected, -1);
    } catch (const RaisedError& e) {
      out << "  Execute raised " << e.number() << ": " << one_line(e.description()) << "\n";
      out << "  Errors(0).SQLState = " << db->get_Connection()->get_Errors()->get_Item(Variant(0))->get_SQLState()
          << "; the event RaiseDatabaseError was logged as an \"exception log\" row of wkLog\n";
    }

    out << "\n== 9. Terminal client information and a wait\n";
    demo_client_info_and_wait(out);

    out << "\n== 10. Message texts (clsMessageString, read late-bound by name)\n";
    Ref<IDispatch> messages = create_object("OvikEnvironment.clsMessageString");
    for (const char* name : {"MsgAtRegistStart", "MsgDeleteQuestion", "MsgCommitEosNo"})
      out << "  " << name << ": "
          << one_line(messages->Invoke(messages->GetIDOfName(name), InvokeKind::PropertyGet, {}).to_string()) << "\n";

    out << "\n== 11. Closing (CloseDatabase) and the files this run wrote\n";
    si->CloseDatabase();
    si.reset();
    char trace_day[16];
    std::snprintf(trace_day, sizeof trace_day, "%04d_%02d_%02d", now.year, now.month, now.day);
    const std::string trace_file =
        module.folder + "/transaction_log/" + trace_day + "(" + module.base_name + ").log";
    std::istringstream traced(read_file(trace_file));
    int shown = 0;
    out << "  the trace file " << trace_file << " begins:\n";
    for (std::string line; shown < 6 && std::getline(traced, line); ++shown) out << "    " << line << "\n";
    out << "  databases:       " << app << "/data/ (app.db, master.db, store.db)\n"
        << "  log files:       " << module.folder << "/log/\n"
        << "  trace files:     " << module.folder << "/transaction_log/ (the application database traces)\n"
        << "  settings:        " << app << "/ini/Brindlemark.ini\n";
    platform::set_message_box_handler(nullptr);
    return 0;
  } catch (const RaisedError& e) {
    platform::set_message_box_handler(nullptr);
    err << "demo failed: error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
}

}  // namespace ovik::host
