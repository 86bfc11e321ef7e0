// The library from C++ through its vtable interfaces: the environment object, setting lookups,
// the three databases, a recordset written with RecordToDatabase in one transaction and walked
// back, and an application log entry.
//
// It works on the application folder that the library lies in (settings in ../ini/ beside it, the
// SQLite databases of the settings in data/): run it through examples/run-example.sh, which
// prepares such a folder from an installed one.
#include <cstdio>
#include <string>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "ovik/host.h"
#include "ovik/system_info.h"
#include "ovik/version.h"

int main() {
  // Without a handler, a notice goes to standard error and the system log; here it is a line of
  // output, and the example fails, since the prepared folder should need none.
  int notices = 0;
  ovik::host_hooks::set_message_box_handler([&notices](const ovik::host_hooks::MessageBox& box) {
    std::printf("[message box \"%s\"] %s\n", box.title.c_str(), box.text.c_str());
    ++notices;
    return 1;
  });
  try {
    std::printf("Ovik2Environment %s\n", OVIK_VERSION_STRING);
    auto si = ovik::create<ovik::_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
    std::printf("settings folder: %s\n", si->GetIniDir().c_str());

    // Lookups never raise: a missing or bad setting shows the notice and returns a default.
    std::printf("account item %d, petty cash %d, journal pattern %d, head office of company 1: %d\n",
                si->funAccountItem(), si->funAccountItemOfPetty(), si->funJournalPatternCode(),
                si->funHeadOfficeCode(1));
    std::string pos, employees, program;
    if (si->funPosInfoImport(pos, employees, program))
      std::printf("POS import: %s, %s, %s\n", pos.c_str(), employees.c_str(), program.c_str());
    // A setting read directly raises 60000 when it is missing.
    auto settings = si->get_IniFiles(ovik::IniFileIndexEnum::AppSetting);
    std::printf("application database provider: %s\n", settings->GetIni("database", "provider").c_str());

    // The store database is opened only when the program names its server; with SQLite that is a file.
    // A database that does not open shows the start-up notice; when it is the application or the
    // master database, OpenDatabase raises 91 as well, and a store program ends there as the
    // notice asks. A store database that did not open is only missing.
    si->put_strGetIpAddress("data/store.db");
    try {
      si->OpenDatabase();
    } catch (const ovik::RaisedError& e) {
      std::printf("the databases could not be opened (error %d: %s); `ovik doctor` says why\n", e.number(),
                  e.description().c_str());
      ovik::host_hooks::set_message_box_handler(nullptr);
      return 1;
    }
    if (!si->get_DatabaseOfStore()) {
      std::printf("the store database did not open\n");
      ovik::host_hooks::set_message_box_handler(nullptr);
      return 1;
    }
    auto db = si->get_Database();
    std::printf("databases open: application, master, store\n");

    ovik::Variant affected;
    db->get_Connection()->Execute("drop table if exists example_items");
    db->get_Connection()->Execute(
        "create table example_items (CD integer primary key, NM varchar(40), PRICE numeric(9,2))");

    // An in-memory recordset, written row by row; one transaction makes the rows one write.
    auto items = ovik::new_recordset();
    items->get_Fields()->Append("CD", ovik::ado::adInteger, 0, 0);
    items->get_Fields()->Append("NM", ovik::ado::adVarWChar, 40, ovik::ado::adFldIsNullable);
    items->get_Fields()->Append("PRICE", ovik::ado::adCurrency, 0, ovik::ado::adFldIsNullable);
    items->put_CursorLocation(ovik::ado::adUseClient);
    items->Open(ovik::Variant(), ovik::Variant(), ovik::ado::adOpenDynamic, ovik::ado::adLockPessimistic, -1);
    const char* names[] = {"O'Neil tea", "発注テスト", "Rice 5kg"};
    const char* prices[] = {"120.5", "98", "2380"};
    for (int i = 0; i < 3; ++i) {
      items->AddNew();
      items->get_Fields()->get_Item("CD")->put_Value(std::int32_t{i + 1});
      items->get_Fields()->get_Item("NM")->put_Value(names[i]);
      items->get_Fields()->get_Item("PRICE")->put_Value(ovik::Variant(prices[i]).to_currency());
      items->Update();
    }
    db->get_Connection()->BeginTrans();
    const bool written = db->RecordToDatabase("example_items", items);
    db->get_Connection()->CommitTrans();
    std::printf("RecordToDatabase: %s\n", written ? "True" : "False");

    // A forward-only walk over what was written; NumConv and VarConv make literals for this database.
    auto rs =
        db->OpenForwardOnlyRecordset("select CD, NM, PRICE from example_items where PRICE >= " +
                                     db->NumConv("100", ovik::SqlStringParmitNullEnum::FieldIsNotNullable) +
                                     " or NM = " + db->VarConv("O'Neil tea") + " order by CD");
    int rows = 0;
    for (; !rs->get_EOF(); rs->MoveNext(), ++rows) {
      auto fields = rs->get_Fields();
      std::printf("  %s | %s | %s\n", fields->get_Item("CD")->get_Value().to_string().c_str(),
                  fields->get_Item("NM")->get_Value().to_string().c_str(),
                  fields->get_Item("PRICE")->get_Value().to_string().c_str());
    }
    rs->Close();

    // One application log entry, to wkLog of the application database (or the day's file).
    si->PrintApplog("early-bound example: " + std::to_string(rows) + " items", 1, "EXAMPLE");
    auto log =
        db->OpenForwardOnlyRecordset("select count(*) as N from wkLog where ApplicationName = 'EXAMPLE'");
    std::printf("wkLog rows of EXAMPLE: %s\n",
                log->get_Fields()->get_Item(0)->get_Value().to_string().c_str());
    log->Close();

    si->CloseDatabase();
    ovik::host_hooks::set_message_box_handler(nullptr);
    return rows == 2 && written && notices == 0 ? 0 : 1;
  } catch (const ovik::RaisedError& e) {
    std::printf("error %d (%s): %s\n", e.number(), e.source().c_str(), e.description().c_str());
    ovik::host_hooks::set_message_box_handler(nullptr);
    return 1;
  }
}
