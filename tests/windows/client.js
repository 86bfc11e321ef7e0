// The same late-bound checks as client.vbs from JScript, which compares Japanese texts exactly
// and carries them through the database: "cscript //nologo client.js TAG". One line per check,
// then "N passed, N failed" (the runner reads that line; cscript exits 0 on a script error).
var passed = 0, failed = 0;
function check(what, test) {
  var ok = false, why = "";
  try { ok = test(); } catch (e) { why = " (error " + (e.number & 0xFFFF) + ": " + e.description + ")"; }
  if (ok) passed++; else failed++;
  WScript.Echo((ok ? "ok - " : "FAIL - ") + what + why);
}
// The raised error's number (the low word of its HRESULT) and description, or null.
function raised(call) {
  try { call(); } catch (e) { return { number: e.number & 0xFFFF, description: e.description }; }
  return null;
}

var tag = WScript.Arguments(0);
var sys, ini, cs, msg, db;
check("CreateObject of four classes by name", function () {
  sys = new ActiveXObject("OvikEnvironment.clsSystemInfo");
  ini = new ActiveXObject("OvikEnvironment.clsIniFile");
  cs = new ActiveXObject("OvikEnvironment.clsConnectString");
  msg = new ActiveXObject("OvikEnvironment.clsMessageString");
  return true;
});
check("PutIni then IniFiles(MenuSetting).GetIni", function () {
  ini.Path = sys.GetIniDir();
  ini.FileName = "menu.ini";
  ini.PutIni("wine", "js", "js " + tag);
  return sys.IniFiles(1).GetIni("wine", "js") == "js " + tag;
});
check("settings: funFinancialServer and funHeadOfficeCode(1)", function () {
  return sys.funFinancialServer() == "finance01" && sys.funHeadOfficeCode(1) == 100;
});
check("HostInfo of a console session: the computer's name and address", function () {
  var host = sys.HostInfo;
  return host.ServerName != "" && host.ClientName == host.ServerName && /^\d+(\.\d+){3}/.test(host.HostIpAddress);
});
check("clsConnectString.GetValue", function () {
  cs.SetProvider("MSDASQL"); cs.SetServer("ovik_pg"); cs.SetUser("citest"); cs.SetPassword("pw");
  cs.SetInitialDatabase("citestdb");
  return cs.GetValue() == "Provider=MSDASQL;Password=pw;User ID=citest;Initial Catalog=citestdb;" +
    "Data Source=ovik_pg;Persist Security Info=True";
});
check("clsMessageString texts in Japanese", function () {
  return msg.MsgAtQuit == "\u7d42\u4e86\u3057\u307e\u3059\u3002" && msg.IsTooLarge == "\u306f\u5927\u304d\u3059\u304e\u307e\u3059\u3002";
});
check("GetIni of a missing key raises 60000 with its description", function () {
  var e = raised(function () { sys.IniFiles(0).GetIni("database", "no_such_key"); });
  return e != null && e.number == 60000 && e.description == "\u8a2d\u5b9a\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002";
});

// A Japanese name through a recordset of the library's own, RecordToDatabase and ODBC, and back.
var name = "\u767a\u6ce8\u30c6\u30b9\u30c8 O'Neil", table = "wt_js_" + tag;
check("OpenDatabase, RecordToDatabase and the row read back", function () {
  sys.OpenDatabase();
  db = sys.Database;
  db.Connection.Execute("drop table if exists " + table);
  db.Connection.Execute("create table " + table + " (id integer primary key, name varchar(40))");
  var copy = db.ChangeRecordset(db.OpenAddOnlyRecordset("select id, name from " + table + " where 1 = 0"));
  copy.AddNew();
  copy.Fields.Item("id").Value = 7;
  copy.Fields.Item("name").Value = name;
  copy.Update();
  var written = db.RecordToDatabase(table, copy);
  var back = db.OpenReadOnlyRecordset("select id, name from " + table, 3);
  return written && back.RecordCount == 1 && back.Fields.Item("id").Value == 7 && back.Fields.Item("name").Value == name;
});
check("a duplicate key reaches the caller as a raised error", function () {
  var e = raised(function () { db.Connection.Execute("insert into " + table + " (id) values (7)"); });
  return db != null && e != null && e.description.indexOf("duplicate key") >= 0;
});
check("PrintErrlog wrote a wkLog row with its Japanese comment", function () {
  var comment = "wine js " + tag + " " + new Date().getTime() + " " + name;
  sys.PrintErrlog(comment, 1);
  var back = db.OpenForwardOnlyRecordset("select Title from wkLog where Comment = " + db.VarConv(comment));
  return !back.EOF && back.Fields.Item("Title").Value == "exception log";
});
check("CloseDatabase", function () {
  db = null;
  sys.CloseDatabase();
  return sys.Database == null;
});

WScript.Echo(passed + " passed, " + failed + " failed");
