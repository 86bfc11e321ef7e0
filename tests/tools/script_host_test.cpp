// The `ovik script` host as a late-bound client: requests, answers, by-reference write-back,
// events and message boxes printed before the answer, request ids, bad lines answered with
// errors, and the exit status of the command.
#include <gtest/gtest.h>

#include <sstream>

#include "commands.h"
#include "platform/user_interface.h"
#include "script_host.h"
#include "support/fake_platform.h"
#include "support/sample_class.h"
#include "support/script_run.h"
#include "support/temp_dir.h"

namespace ovik::host {
namespace {

using testing::run_script;

TEST(ScriptHost, CreatesNamesCallsAndShowsByRefOutputs) {
  testing::TempDir dir;
  dir.write("app.ini", "[database]\nprovider=SQLite\n");
  auto a = run_script({
      R"({"new": "OvikEnvironment.clsIniFile", "as": "ini"})",
      R"({"put": "ini.Path", "value": ")" + dir.str() + R"("})",
      R"({"put": "ini.FileName", "value": "app.ini"})",
      R"({"call": "ini.GetIni", "args": ["database", "provider"]})",
      R"({"new": "OvikFrameTest.Sample", "as": "s"})",
      R"({"call": "s.Shout", "args": ["hey"]})",
      R"({"call": "s.Add", "args": [2]})",
      R"({"get": "s.Name"})",
      R"({"release": "s"})",
      R"({"get": "s.Name"})",
  });
  ASSERT_EQ(a.size(), 10u);
  EXPECT_EQ(a[0]["result"], Json({{"object", "clsIniFile"}}));
  EXPECT_EQ(a[3]["result"], "SQLite");
  EXPECT_EQ(a[5]["args"], Json::array({"hey!"}));  // the by-reference argument as it stands after the call
  EXPECT_EQ(a[6]["result"], 12);                    // the optional argument took its default
  EXPECT_EQ(a[7]["result"], "sample");
  EXPECT_EQ(a[8]["ok"], true);
  EXPECT_EQ(a[9]["ok"], false);
}

TEST(ScriptHost, BadLinesGetErrorAnswersAndTheHostGoesOn) {
  const std::string longest = R"({"call": "s.Add", "args": [40]})";
  auto a = run_script({
      "not json",
      R"(["an", "array"])",
      R"({"new": "OvikEnvironment.clsIniFile"})",
      R"({"new": "OvikEnvironment.clsNothing"})",
      R"({"new": "OvikFrameTest.Sample", "as": "s"})",
      R"({"call": "s.NoSuchMember"})",
      R"({"call": "s.Add", "args": []})",
      R"({"call": "s.Add", "args": ["abc"]})",
      R"({"call": "s.Add", "args": [{"ref": "nobody"}]})",
      R"({"call": "s.Add", "args": [{"weird": 1}]})",
      R"({"call": "s.Fail"})",
      R"({"get": "s.Name", "bogus": 1})",
      R"({"call": "s.Add", "args": [40]})",
      longest + std::string(kMaxLineBytes - longest.size(), ' '),
      longest + std::string(kMaxLineBytes - longest.size() + 1, ' '),
  });
  ASSERT_EQ(a.size(), 15u);
  auto number = [&](std::size_t i) { return a[i]["error"]["number"].get<int>(); };
  EXPECT_EQ(number(0), 5);
  EXPECT_EQ(number(1), 5);
  EXPECT_EQ(a[2]["ok"], true);
  EXPECT_EQ(number(3), 429);
  EXPECT_EQ(number(5), 438);
  EXPECT_EQ(number(6), 450);
  EXPECT_EQ(number(7), 13);
  EXPECT_EQ(number(8), 5);
  EXPECT_EQ(number(9), 13);
  EXPECT_EQ(number(10), 60000);
  EXPECT_EQ(a[10]["error"]["source"], "Sample");
  EXPECT_EQ(a[10]["error"]["description"], "it failed");
  EXPECT_EQ(number(11), 5);
  EXPECT_EQ(a[12]["result"], 50);
  EXPECT_EQ(a[13]["result"], 50);  // as long as a line may be
  EXPECT_EQ(number(14), 5);
  EXPECT_NE(a[14]["error"]["description"].get<std::string>().find("longer than 16 MiB"), std::string::npos);
}

// Each level of nesting costs a stack frame wherever a value is copied or printed: a line
// nested a hundred thousand deep used to kill the host. Deep lines are refused, the host goes on,
// and brackets inside strings are text, not nesting.
TEST(ScriptHost, DeeplyNestedLinesAreRefusedAndTheHostGoesOn) {
  const std::size_t deep = 100000;
  const std::string arrays = std::string(deep, '[') + std::string(deep, ']');
  std::string objects;
  for (std::size_t i = 0; i < deep; ++i) objects += R"({"a":)";
  objects += "1" + std::string(deep, '}');
  auto a = run_script({
      R"({"new": "OvikFrameTest.Sample", "as": "s"})",
      R"({"call": "s.Add", "args": [)" + arrays + "]}",
      R"({"put": "s.Name", "value": )" + objects + "}",
      R"({"get": "s.Name", "bogus": )" + arrays + "}",
      arrays,
      R"({"call": "s.Add", "args": [[[1]]]})",  // one level deeper than any request
      R"({"call": "s.Add", "args": [40]})",
  });
  ASSERT_EQ(a.size(), 7u);
  for (std::size_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(a[i]["error"]["number"], 5) << i;
    EXPECT_NE(a[i]["error"]["description"].get<std::string>().find("nested deeper"), std::string::npos) << i;
  }
  EXPECT_EQ(a[6]["result"], 50);

  // As deep as a request goes, and brackets and escaped quotes inside strings.
  a = run_script({
      R"({"new": "OvikFrameTest.Sample", "as": "s"})",
      R"({"call": "s.Add", "args": [{"currency": "2"}]})",
      R"({"call": "s.Shout", "args": ["[[[[{{{{\"[[[[\\"]})",
      R"({"call": "s.Add", "args": [[]]})",
  });
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[1]["result"], 12);
  EXPECT_EQ(a[2]["args"], Json::array({"[[[[{{{{\"[[[[\\!"}));
  EXPECT_EQ(a[3]["error"]["number"], 13);  // parsed, then refused as a value of no known form
}

TEST(ScriptHost, EventsAndMessageBoxesComeBeforeTheirAnswer) {
  std::ostringstream out;
  ScriptHost host(out);
  host.run_line(R"({"new": "OvikFrameTest.Sample", "as": "s"})");
  host.run_line(R"({"advise": "s"})");
  host.run_line(R"({"call": "s.Fire", "args": [7]})");
  platform::Facility<platform::UserInterface>::get().message_box("本文", "警告", 64);
  host.run_line(R"({"get": "s.Name"})");
  std::vector<Json> lines = testing::parse_lines(out.str());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], Json({{"event", "Tick"}, {"from", "s"}, {"args", Json::array({"tick", 7})}}));
  EXPECT_EQ(lines[3]["ok"], true);
  EXPECT_EQ(lines[4], Json({{"msgbox", {{"text", "本文"}, {"title", "警告"}, {"style", 64}}}}));
}

// A client that sends several requests before reading matches answers and side lines by id.
TEST(ScriptHost, IdsComeBackInTheAnswerAndTheLinesOfTheirRequest) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() / "app/bin");  // no settings: every lookup shows the notice
  testing::FakeModule module(dir.str() + "/app/bin");
  std::ostringstream out;
  {
    ScriptHost host(out);
    host.run_line(R"({"id": "s", "new": "OvikFrameTest.Sample", "as": "s"})");
    host.run_line(R"({"advise": "s", "id": 2})");
    host.run_line(R"({"id": 3.5, "call": "s.Fire", "args": [7]})");
    host.run_line(R"({"id": null, "new": "OvikEnvironment.clsSystemInfo", "as": "si"})");
    host.run_line(R"({"id": true, "call": "si.funAccountItem"})");
    host.run_line(R"({"call": "s.Add", "args": [1]})");              // no id, none in the answer
    host.run_line(R"({"id": "f", "call": "s.Fail"})");               // a failure keeps its id
    host.run_line(R"({"id": "bad", "call": "s.Add", "bogus": 1})");  // so does a refused request
    host.run_line(R"({"id": ["not", "scalar"], "get": "s.Name"})");  // an id must be a scalar
    host.run_line(R"({"id": "x", "get": )");                         // unreadable: no id to give back
    // Numbers come back as written, also beyond the digits a double holds.
    host.run_line(R"({"id": -9223372036854775809, "get": "s.Name"})");
    host.run_line(R"({"id": 1.50, "get": "s.Name", "bogus": 1})");
    platform::Facility<platform::UserInterface>::get().message_box("後", "警告", 64);  // between requests
  }
  std::vector<Json> lines = testing::parse_lines(out.str());
  ASSERT_EQ(lines.size(), 15u) << out.str();
  EXPECT_EQ(lines[0]["id"], "s");
  EXPECT_EQ(lines[0].begin().key(), "id");  // first, where a reader looks for it
  EXPECT_EQ(lines[1]["id"], 2);
  EXPECT_EQ(lines[2],
            Json({{"id", 3.5}, {"event", "Tick"}, {"from", "s"}, {"args", Json::array({"tick", 7})}}));
  EXPECT_EQ(lines[3]["id"], 3.5);
  EXPECT_EQ(lines[3]["ok"], true);
  ASSERT_TRUE(lines[4].contains("id"));
  EXPECT_EQ(lines[4]["id"], nullptr);
  EXPECT_EQ(lines[5]["id"], true);
  EXPECT_TRUE(lines[5].contains("msgbox"));
  EXPECT_EQ(lines[6]["id"], true);
  EXPECT_EQ(lines[6]["result"], 0);
  EXPECT_FALSE(lines[7].contains("id"));
  EXPECT_EQ(lines[7]["result"], 11);
  EXPECT_EQ(lines[8]["id"], "f");
  EXPECT_EQ(lines[8]["error"]["number"], 60000);
  EXPECT_EQ(lines[9]["id"], "bad");
  EXPECT_EQ(lines[9]["error"]["number"], 5);
  EXPECT_FALSE(lines[10].contains("id"));
  EXPECT_EQ(lines[10]["error"]["number"], 5);
  EXPECT_FALSE(lines[11].contains("id"));
  EXPECT_EQ(lines[11]["ok"], false);
  EXPECT_NE(out.str().find("\n{\"id\":-9223372036854775809,\"ok\":true,"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\n{\"id\":1.50,\"ok\":false,"), std::string::npos) << out.str();
  EXPECT_FALSE(lines[14].contains("id"));  // the last request's id does not outlive it
  EXPECT_TRUE(lines[14].contains("msgbox"));
}

// `ovik script` tells a shell script through its exit status whether every request succeeded,
// and --stop-on-error runs nothing after the first failure.
TEST(ScriptCommand, ExitStatusSaysWhetherARequestFailed) {
  testing::TempDir dir;
  const std::string good = dir.write("good.jsonl",
                                     "{\"new\": \"OvikFrameTest.Sample\", \"as\": \"s\"}\n\n"
                                     "{\"call\": \"s.Add\", \"args\": [1]}\n");
  const std::string bad = dir.write("bad.jsonl",
                                    "{\"new\": \"OvikFrameTest.Sample\", \"as\": \"s\"}\n"
                                    "{\"id\": 1, \"call\": \"s.Fail\"}\n"
                                    "{\"id\": 2, \"put\": \"s.Name\", \"value\": \"after\"}\n"
                                    "{\"id\": 3, \"get\": \"s.Name\"}\n");
  auto run = [](const std::vector<std::string>& args, std::string* err_text = nullptr) {
    std::ostringstream out, err;
    const int status = host::run_script(args, out, err);
    if (err_text != nullptr) *err_text = err.str();
    return std::make_pair(status, testing::parse_lines(out.str()));
  };

  auto [status, lines] = run({good});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines.size(), 2u);

  // Without the option every request runs and the failure shows in the status.
  std::tie(status, lines) = run({bad});
  EXPECT_EQ(status, 1);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3]["result"], "after");

  std::string err;
  std::tie(status, lines) = run({"--stop-on-error", bad}, &err);
  EXPECT_EQ(status, 1);
  ASSERT_EQ(lines.size(), 2u);  // nothing after the failed request ran
  EXPECT_EQ(lines[1]["id"], 1);
  EXPECT_EQ(lines[1]["ok"], false);
  EXPECT_NE(err.find("line 2"), std::string::npos) << err;
  std::tie(status, lines) = run({bad, "--stop-on-error"});
  EXPECT_EQ(lines.size(), 2u);

  EXPECT_EQ(run({"--stop-on-eror", good}).first, 2);
  EXPECT_EQ(run({good, bad}).first, 2);
  EXPECT_EQ(run({dir.str() + "/missing.jsonl"}).first, 2);
}

TEST(ScriptHost, ValuesKeepTheirTypesBothWays) {
  auto roundtrip = [](const Json& j) { return json_from_variant(variant_from_json(j, nullptr)); };
  for (const Json& j : {Json("text"), Json(12), Json(true), Json(nullptr), Json(1.5), Json({{"empty", true}}),
                        Json({{"currency", "1234.5"}}), Json({{"currency", "-0.0001"}}),
                        Json({{"date", "2024-01-05 09:03:00"}}), Json({{"date", "1899-12-30 00:00:00"}}),
                        Json({{"object", nullptr}}), Json(5000000000LL)}) {
    EXPECT_EQ(roundtrip(j), j) << j.dump();
  }
  EXPECT_EQ(variant_from_json(Json(12), nullptr).type(), VarType::Long);
  EXPECT_EQ(variant_from_json(Json(5000000000LL), nullptr).type(), VarType::LongLong);
  EXPECT_THROW(variant_from_json(Json({{"currency", "1.23456"}}), nullptr), RaisedError);
  EXPECT_THROW(variant_from_json(Json({{"date", "2023-02-29"}}), nullptr), RaisedError);
}

}  // namespace
}  // namespace ovik::host
