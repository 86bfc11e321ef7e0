// Early-bound callers pass constants where a member never writes its by-reference parameter and
// leave out trailing optional parameters: the README's snippet, and each kind of overload the
// generator writes, on real objects.
#include <gtest/gtest.h>

#include "ovik/component.h"
#include "ovik/environment.h"
#include "ovik/system_info.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

// Parameters the member writes keep demanding a variable: a constant would swallow the output.
template <class S>
concept TakesConstantPosFiles = requires(S& s) {
  s.funPosInfoImport("a", "b", "c");
};
template <class C>
concept TakesConstantRecordsAffected = requires(C& c) {
  c.Execute("x", Variant(), 0);
};
static_assert(!TakesConstantPosFiles<_clsSystemInfo>);
static_assert(!TakesConstantRecordsAffected<_Connection>);

TEST(EarlyBound, TheReadmeSnippetTakesLiteralsAndConstStrings) {
  testing::TempDir dir;
  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path(dir.str());
  ini->put_FileName("Brindlemark.ini");
  EXPECT_EQ(ini->PutIni("database", "provider", "SQLite"), "1");
  EXPECT_EQ(ini->GetIni("database", "provider"), "SQLite");
  const std::string section = "database";
  std::string key = "provider";
  EXPECT_EQ(ini->GetIni(section, key), "SQLite");
  EXPECT_EQ(key, "provider");
  try {
    ini->GetIni("database", "missing");
    ADD_FAILURE() << "a missing key raises";
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(e.source(), "clsIniFile");
  }
}

TEST(EarlyBound, OptionalParametersTakeTheDescriptionsDefaults) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() / "app/bin");
  std::filesystem::create_directories(dir.path() / "data");
  std::string settings;
  for (const char* section : {"database", "master_database"})
    settings += std::string("[") + section + "]\nprovider=SQLite\nserver=" + dir.str() + "/data/" + section +
                ".db\ndatabase_user=\npassword=\ndatabase_name=main\ntransaction_log=false\n";
  for (const char* section : {"database", "master_database"})
    dir.write(std::string("data/") + section + ".db", "");  // an empty file is an empty database
  dir.write("app/ini/Brindlemark.ini", settings);
  testing::FakeModule module(dir.str() + "/app/bin");

  Ref<_clsSystemInfo> si = create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
  si->OpenDatabase();
  Ref<_clsDatabase> db = si->get_Database();
  ASSERT_TRUE(db);
  EXPECT_EQ(db->NumConv(""), "0");  // the default: not nullable
  EXPECT_EQ(db->NumConv("", SqlStringParmitNullEnum::FieldIsNullable), "NULL");
  EXPECT_EQ(db->NumConv("12.50"), "12.5");

  Ref<_Connection> cn = db->get_Connection();
  cn->Execute("create table T (CD integer, NM varchar(10))");
  Variant inserted;
  cn->Execute("insert into T values (1, 'a')", inserted);
  EXPECT_EQ(inserted.to_i32(), 1);

  // An in-memory recordset built with the shorter Append and Open, written with the default
  // prefix (" ": every field is written), then with one that leaves a field out.
  Ref<_Recordset> rows = new_recordset();
  rows->get_Fields()->Append("CD", ado::adInteger);
  rows->get_Fields()->Append("NM", ado::adVarChar, 10);
  rows->put_CursorLocation(ado::adUseClient);
  rows->put_CursorType(ado::adOpenStatic);
  rows->put_LockType(ado::adLockOptimistic);
  rows->Open();
  rows->AddNew();
  rows->get_Fields()->get_Item(Variant("CD"))->put_Value(Variant(std::int32_t{2}));
  rows->get_Fields()->get_Item(Variant("NM"))->put_Value(Variant("b"));
  rows->Update();
  EXPECT_TRUE(db->RecordToDatabase("T", rows));
  EXPECT_TRUE(db->RecordToDatabase("T", rows, "N"));

  // A recordset straight from a call is a constant too.
  Ref<_Recordset> copy = db->ChangeRecordset(db->OpenForwardOnlyRecordset("select CD, NM from T"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->get_RecordCount(), 3);

  Ref<_Recordset> counted =
      db->OpenReadOnlyRecordset("select count(*) from T where NM is null", ado::adUseClient);
  EXPECT_EQ(counted->get_Fields()->get_Item(Variant(0))->get_Value().to_i32(), 1);  // left out by the prefix
  si->CloseDatabase();
}

}  // namespace
}  // namespace ovik
