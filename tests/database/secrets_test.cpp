// Passwords stay out of what shows a connection string or repeats it: the connect line of the
// trace file for every way a connection string can carry one, and, end to end on real
// connections, the texts of a failed connect (its trace lines, ErrorMsg, the raised description,
// the error event and the Errors collection). A caller's statements and their errors stay as given.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "database/access/secrets.h"
#include "database/database.h"
#include "database/transaction_log.h"
#include "ovik/events.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::TempDir;

// `hidden`: every piece of the password that must not show (each part on its own where the
// password holds a separator or a quote); `shown`, where given: the whole line's text.
struct MaskCase {
  const char* connection_string;
  std::vector<std::string> hidden;
  const char* shown = nullptr;
};

TEST(ConnectLineSecrets, NoPasswordReachesTheConnectLineAndTheRestIsShownAsWritten) {
  const MaskCase cases[] = {
      {"Provider=SQLOLEDB;Password=S3cr3t;User ID=sa;Initial Catalog=db;Data Source=srv",
       {"S3cr3t"},
       "Provider=SQLOLEDB;Password=********;User ID=sa;Initial Catalog=db;Data Source=srv"},
      {"Provider=SQLite;Password=;User ID=", {}, "Provider=SQLite;Password=;User ID="},  // nothing to hide
      {"Password=\"S3;cr3t\";User ID=sa", {"S3", "cr3t"}, "Password=********;User ID=sa"},
      {"password = 'S3''cr;3t' ; Data Source=x", {"S3", "cr;3t", "3t"}, "password = ********; Data Source=x"},
      {"PWD=S3cr3t;DSN=pg", {"S3cr3t"}},
      {"Jet OLEDB:Database Password=S3cr3t;Data Source=a.mdb", {"S3cr3t"}},
      {"Password=first1;Password=S3cr3t", {"first1", "S3cr3t"}},  // the later one wins, both hidden
      // Inside a value that is itself a connection string, read as the ODBC driver reads it too.
      {"Provider=MSDASQL;Extended Properties=\"DSN=pg;UID=u;PWD=S3\"\"cr3t\";Data Source=x",
       {"S3", "cr3t"},
       "Provider=MSDASQL;Extended Properties=\"DSN=pg;UID=u;PWD=********\";Data Source=x"},
      {"Provider=MSDASQL;Extended Properties=\"DSN=pg;PWD={S3;cr3t}}x};Port=5432\"",
       {"S3", "cr3t"},
       "Provider=MSDASQL;Extended Properties=\"DSN=pg;PWD=********;Port=5432\""},
      {"Provider=MSDASQL;Extended Properties='DSN=pg;PWD=\"S3;cr3t\"'", {"S3", "cr3t"}},
      {"Extended Properties=\"Extended Properties='DSN=pg;Password=S3cr3t'\"", {"S3cr3t"}},
      {"Provider=MSDASQL;Data Source=pg;Extended Properties=\"x=1\"",
       {},
       "Provider=MSDASQL;Data Source=pg;Extended Properties=\"x=1\""},
      // The connecting parser knows no braces: the item after "{abc;" is a password.
      {"Provider=SQLite;Data Source={abc;Password=S3cr3t",
       {"S3cr3t"},
       "Provider=SQLite;Data Source={abc;Password=********"},
      {"Provider={x;Password=S3cr3t;User ID=sa", {"S3cr3t"}},
      {"DSN=pg;UID=u;PWD={S3;cr3t}};Port=5432", {"S3", "cr3t"}, "DSN=pg;UID=u;PWD=********;********"},
      // What the parser cannot read does not connect, and is not shown either.
      {"Provider=SQLite;Data Source=\"abc;Password=S3cr3t",
       {"S3cr3t"},
       "Provider=SQLite;Data Source=********"},
      {"Provider=SQLite;Password='S3cr3t;User ID=sa", {"S3cr3t"}},
      {"Provider=SQLite;Password=\"S3\"cr3t;User ID=sa", {"S3", "cr3t"}},
      {"Provider=SQLite;junk;Password=S3cr3t", {"S3cr3t"}, "Provider=SQLite;********"},
      // A placeholder carried the password into another item.
      {"Provider=SQLite;Password=S3cr3t;User ID=;Data Source=/x/S3cr3t.db",
       {"S3cr3t"},
       "Provider=SQLite;Password=********;User ID=;Data Source=/x/********.db"},
      {"Provider=SQLite;Password='S3\"cr3t';Data Source=\"/x/S3\"\"cr3t\"", {"S3\"cr3t", "S3\"\"cr3t"}},
      {"Provider=SQLOLEDB;Password=S3cr3t;User ID=S3cr3t", {"S3cr3t"}},
      // An item the ODBC driver receives loses its braces on the way: the password is inside them.
      {"Provider=MSDASQL;PWD={S3cr3t};Data Source=S3cr3t.example",
       {"S3cr3t"},
       "Provider=MSDASQL;PWD=********;Data Source=********.example"},
      {"Provider=MSDASQL;PWD={S3}}cr3t};Data Source=S3}cr3t", {"S3}cr3t"}},
  };
  for (const MaskCase& c : cases) {
    const std::string line = trace::connect_line(c.connection_string);
    for (const std::string& hidden : c.hidden)
      EXPECT_EQ(line.find(hidden), std::string::npos) << c.connection_string << "\n  shown as " << line;
    if (c.shown) {
      EXPECT_EQ(line, std::string("-- Connected To [") + c.shown + "]");
    }
  }
}

TEST(SecretsRedaction, HidesEveryOccurrenceInTheFormsAStringWritesIt) {
  struct Case {
    std::vector<std::string> secrets;
    const char* text;
    const char* shown;
  };
  const Case cases[] = {
      {{"S3cr3t"}, "a S3cr3t b S3cr3tS3cr3t", "a ******** b ****************"},
      {{"S3cr3t"}, "xS3cr3ty", "x********y"},  // inside a word too: a placeholder may have put it in a host name
      {{"S3cr3t", "S3cr3t-long"}, "S3cr3t-long", "********"},  // the longest wins
      {{"it's\"x"}, "'it''s\"x' and \"it's\"\"x\"", "'********' and \"********\""},
      {{"a}b;c"}, "PWD={a}}b;c}", "PWD={********}"},
      // A short password hides where it stands alone, never inside a word or a number.
      {{"p"},
       "(event)ADODB.ConnectComplete user 'p' at /x/p",
       "(event)ADODB.ConnectComplete user '********' at /x/********"},
      {{"12"}, "host 12, port 123, x12 at t12", "host ********, port 123, x12 at t12"},
      {{"pw"}, "pw", "********"},
      {{"発"}, "発注 発", "発注 ********"},
      // The driver manager reads C strings: a password holding a NUL reaches the server cut there.
      {{std::string("S3cr\0et", 7)}, "Data Source=S3cr;PWD={S3cr", "Data Source=********;PWD={********"},
      // Nothing to hide: an empty password, and stars that the mask shows anyway.
      {{"", "**"}, "a ** b", "a ** b"},
      // A longer short password that is not alone there gives way to a shorter one that is.
      {{"a-b", "a"}, "a-bc a-b", "********-bc ********"},
      {{"ab", "abc"}, "ab-abcd abc", "********-abcd ********"},
  };
  for (const Case& c : cases) {
    access::Secrets secrets;
    for (const std::string& secret : c.secrets) secrets.add(secret);
    EXPECT_EQ(secrets.redact(c.text), c.shown) << c.text;
  }
  access::Secrets none;
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.redact("S3cr3t"), "S3cr3t");
}

// A string may carry thousands of passwords (a fuzzed one did); each is hidden, the longest of those
// that start at one place first, also after the collection is copied into another.
TEST(SecretsRedaction, ThousandsOfPasswordsOfEveryLengthAreAllHidden) {
  access::Secrets collected;
  std::string text, shown;
  for (int i = 0; i < 3000; ++i) {
    const std::string secret = "pw" + std::string(static_cast<std::size_t>(i % 40), 'x') + std::to_string(i);
    collected.add(secret);
    text += secret + "+" + std::to_string(i) + " ";
    shown += std::string(access::kMask) + "+" + std::to_string(i) + " ";
  }
  collected.add("pwx");  // a prefix of many of them, and short: never inside them
  access::Secrets secrets;
  secrets.add(collected);
  secrets.add(collected);
  EXPECT_EQ(secrets.redact(text), shown);
  EXPECT_EQ(secrets.redact("a pwx b"), "a ******** b");
}

TEST(SecretsRedaction, PasswordsAreCollectedAtEveryLevelAndFromTheDataLinkFile) {
  TempDir dir;
  const std::string udl =
      dir.write("a.udl", "[oledb]\r\nProvider=SQLite;Password=FromFile1;Data Source=x\r\n");
  const access::Secrets secrets = access::secrets_of(
      "Provider=MSDASQL;Password=Top1;File Name=" + udl +
      ";Extended Properties=\"DSN=pg;Extended Properties='Password=Deep1';PWD={Od;bc}}}\"");
  EXPECT_EQ(secrets.redact("Top1 FromFile1 Od;bc} Deep1"), "******** ******** ******** ********");
  // A data-link file that cannot be read adds nothing and fails nothing.
  EXPECT_EQ(access::secrets_of("File Name=" + dir.str() + "/missing.udl;Password=Top1").redact("Top1"),
            "********");
}

// Records RaiseDatabaseError texts.
class ErrorEvents final : public Listener<ErrorEvents, __clsDatabase> {
 public:
  ~ErrorEvents() override = default;
  void RaiseDatabaseError(const std::string& strDbName, const std::string& strErrorString) override {
    texts.push_back(strDbName + "|" + strErrorString);
  }
  std::vector<std::string> texts;
};

class TracedConnectionTest : public ::testing::Test {
 protected:
  TracedConnectionTest() { std::filesystem::create_directories(dir_.path() / "app/bin"); }

  Ref<clsDatabase> traced() {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    db->put_TraceTransaction(true);
    db->put_ConnectionTimeout(5);
    db->Advise(__clsDatabase::IID, events_.get());
    return db;
  }
  std::string trace_file() const {
    const auto path = dir_.path() / "app/bin/transaction_log/2024_01_05(Ovik2Environment).log";
    return std::filesystem::exists(path)
               ? dir_.read("app/bin/transaction_log/2024_01_05(Ovik2Environment).log")
               : "";
  }
  // Every text the test saw: the trace file, the events and whatever else it collected.
  void expect_hidden(const std::string& secret, const std::vector<std::string>& more = {}) const {
    std::vector<std::string> texts = events_->texts;
    texts.push_back(trace_file());
    texts.insert(texts.end(), more.begin(), more.end());
    for (const std::string& text : texts) EXPECT_EQ(text.find(secret), std::string::npos) << text;
  }
  static std::vector<std::string> error_descriptions(const Ref<_Connection>& connection) {
    std::vector<std::string> out;
    Ref<Errors> errors = connection->get_Errors();
    for (std::int32_t i = 0; i < errors->get_Count(); ++i)
      out.push_back(errors->get_Item(Variant(i))->get_Description());
    return out;
  }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2024, 1, 5, 9, 3, 7};
  FakeFocus focus_{1};
  Ref<ErrorEvents> events_{new ErrorEvents};
};

TEST_F(TracedConnectionTest, AFailedConnectShowsNoPasswordAnywhere) {
  const std::string secret = "S3cr3t-pw";
  const std::string missing = dir_.str() + "/missing-" + secret;
  const std::string strings[] = {
      // The password fills the data source too, as a placeholder inside the server value does.
      "Provider=SQLite;Password=" + secret + ";User ID=;Initial Catalog=;Data Source=" + missing + "/" +
          secret + ".db;Persist Security Info=True",
      "Provider=MSDASQL;Extended Properties=\"DSN=ovik-no-such-dsn-" + secret + ";UID=u;PWD=" + secret + "\"",
      "Provider=SQLite;Data Source={" + missing + ";Password=" + secret,
      "Provider=SQLite;Data Source=\"" + missing + ";Password=" + secret,
      "Provider=NoSuch.Provider.{" + secret + ";Password=" + secret,
  };
  for (const std::string& cs : strings) {
    SCOPED_TRACE(cs);
    Ref<clsDatabase> db = traced();
    std::string raised;
    try {
      db->Connect(cs, HowToConnectEnum::ConnectByConnectionString);
      ADD_FAILURE() << "connected";
    } catch (const RaisedError& e) {
      raised = e.description();
    }
    EXPECT_TRUE(raised.starts_with("【ConnectDataBase】 ")) << raised;
    EXPECT_NE(trace_file().find("  →error!! "), std::string::npos);
    expect_hidden(secret, {raised, db->get_ErrorMsg()});
    expect_hidden(secret, error_descriptions(db->get_Connection()));
  }
}

// The connect line hides the password; the caller's statements and their errors are traced,
// raised, fired and kept in Errors as given, also where they hold the password's text.
TEST_F(TracedConnectionTest, StatementsAndTheirErrorsAreTracedAndReportedAsGiven) {
  struct Case {
    const char* password;
    const char* statement;
    const char* error;  // nullptr: the statement succeeds
  };
  const Case cases[] = {
      {"S3cr3t", "create table tS3cr3t(x)", nullptr},
      {"S3cr3t", "select * from no_table_S3cr3t", "no such table: no_table_S3cr3t"},
      {"1234", "select 'order 1234 of 2026/12/08', 12345", nullptr},
      {"1234", "select * from t1234", "no such table: t1234"},
  };
  // An empty file is an empty SQLite database.
  const std::string file = dir_.write("data.db", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    events_->texts.clear();
    Ref<clsDatabase> db = traced();
    ASSERT_TRUE(db->Connect("Provider=SQLite;Password=" + std::string(c.password) + ";Data Source=" + file,
                            HowToConnectEnum::ConnectByConnectionString));
    Ref<_Connection> connection = db->get_Connection();
    Variant affected;
    std::string raised;
    try {
      connection->Execute(c.statement, affected, -1);
    } catch (const RaisedError& e) {
      raised = e.description();
    }
    const std::string file_text = trace_file();
    EXPECT_NE(file_text.find("-- Connected To [Provider=SQLite;Password=********;Data Source="), std::string::npos)
        << file_text;
    EXPECT_NE(file_text.find(std::string("*/  ") + c.statement + "\r\n"), std::string::npos) << file_text;
    if (c.error) {
      EXPECT_NE(file_text.find(std::string("  →error!! ") + c.error), std::string::npos) << file_text;
      EXPECT_EQ(raised, c.error);
      ASSERT_EQ(events_->texts.size(), 1u);
      EXPECT_EQ(events_->texts[0], "data|(event)ADODB.ExecuteComplete\r\n" + std::string(c.error) + "\r\n");
      EXPECT_EQ(error_descriptions(connection), std::vector<std::string>{c.error});
    } else {
      EXPECT_EQ(raised, "");
      EXPECT_TRUE(events_->texts.empty());
    }
    EXPECT_TRUE(db->Disconnect());
  }
}

TEST_F(TracedConnectionTest, ThePasswordOfADataLinkFileStaysHidden) {
  const std::string secret = "S3cr3t";
  const std::string udl =
      dir_.write("store.udl",
                 "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                 "Provider=SQLite;Password=" +
                     secret + ";Data Source=" + dir_.str() + "/missing/" + secret + ".db\r\n");
  Ref<clsDatabase> db = traced();
  std::string raised;
  try {
    db->Connect(udl, HowToConnectEnum::ConnectByUdlFile);
  } catch (const RaisedError& e) {
    raised = e.description();
  }
  EXPECT_FALSE(raised.empty());
  expect_hidden(secret, {raised, db->get_ErrorMsg()});
}

}  // namespace
}  // namespace ovik
