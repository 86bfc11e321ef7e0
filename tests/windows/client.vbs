' A late-bound script client of the component server, run by scripts/wine-test.sh through
' "cscript //nologo client.vbs TAG STORE": objects by programmatic name, settings, a connection
' string, the databases through ODBC (the store database is the SQLite file STORE, relative to the application folder), a recordset of the library's own written with RecordToDatabase, a log
' entry read back, and raised errors. One line per check, then "N passed, N failed": cscript exits
' 0 even on a script error, so the runner reads that line. Under On Error Resume Next a failing
' expression skips its whole statement, so each check's value is assigned first and then checked.
' Japanese texts are compared by length (no ChrW under Wine); client.js compares them exactly.
Option Explicit
On Error Resume Next
Dim passed, failed, ok
passed = 0
failed = 0

Sub Check(what)
  If ok And Err.Number = 0 Then
    passed = passed + 1
    WScript.Echo "ok - " & what
  Else
    failed = failed + 1
    WScript.Echo "FAIL - " & what & " (error " & Err.Number & " " & Err.Source & ")"
  End If
  Err.Clear
  ok = False
End Sub

Dim tag, sys, ini, cs, msg
tag = WScript.Arguments(0)
Set sys = CreateObject("OvikEnvironment.clsSystemInfo")
Set ini = CreateObject("OvikEnvironment.clsIniFile")
Set cs = CreateObject("OvikEnvironment.clsConnectString")
Set msg = CreateObject("OvikEnvironment.clsMessageString")
ok = IsObject(sys) And IsObject(ini) And IsObject(cs) And IsObject(msg)
Check "CreateObject of four classes by name"

' Settings: a file object of our own writes menu.ini, the environment's shared one reads it.
Dim section, key, value
section = "wine"
key = "vbs"
value = "vbs " & tag
ini.Path = sys.GetIniDir
ini.FileName = "menu.ini"
ini.PutIni section, key, value
ok = sys.IniFiles(1).GetIni(section, key) = value
Check "PutIni then IniFiles(MenuSetting).GetIni: " & value
ok = sys.IniFiles(0).GetIni("database", "server") = "ovik_pg" And sys.funAccountItem = 1101
Check "settings: database server and funAccountItem"

cs.SetProvider "MSDASQL"
cs.SetServer "ovik_pg"
cs.SetUser "citest"
cs.SetPassword "pw"
cs.SetInitialDatabase "citestdb"
ok = cs.GetValue = "Provider=MSDASQL;Password=pw;User ID=citest;Initial Catalog=citestdb;Data Source=ovik_pg;Persist Security Info=True"
Check "clsConnectString.GetValue"
ok = Len(msg.MsgAtQuit) = 6 And Len(msg.MsgIsCanNotParmitNull) > 0
Check "clsMessageString texts"

' Raised errors: number, source and the description's length.
Dim missing, number, source, description, blank
missing = sys.IniFiles(0).GetIni("database", "no_such_key")
number = Err.Number
source = Err.Source
description = Err.Description
Err.Clear
ok = number = 60000 And source = "clsIniFile" And Len(description) = 11
Check "GetIni of a missing key raised " & number & " from " & source
Set blank = CreateObject("OvikEnvironment.clsConnectString")
missing = blank.GetValue
number = Err.Number
source = Err.Source
Err.Clear
ok = number = -1 And source = "clsConnectString"
Check "GetValue of an unfilled template raised " & number & " from " & source

' The databases: PostgreSQL through its DSN, the store an SQLite file; a recordset of the
' library's own written with RecordToDatabase and read back.
Dim db, cn, table, rs, copy, back
sys.strGetIpAddress = WScript.Arguments(1)
sys.OpenDatabase
Set db = sys.Database
ok = db.Usable
Check "OpenDatabase: Database usable"
Set back = sys.DatabaseOfStore.OpenForwardOnlyRecordset("select name from items where id = 1")
ok = back.Fields.Item("name").Value = "sqlite"
Check "DatabaseOfStore reads the SQLite file through its ODBC driver"
table = "wt_vbs_" & tag
Set cn = db.Connection
cn.Execute "drop table if exists " & table
cn.Execute "create table " & table & " (id integer primary key, name varchar(40), amount numeric(10,2), made timestamp)"
Set rs = db.OpenAddOnlyRecordset("select id, name, amount, made from " & table & " where 1 = 0")
Set copy = db.ChangeRecordset(rs)
copy.AddNew
copy.Fields.Item("id").Value = 1
copy.Fields.Item("name").Value = "O'Brien"
copy.Fields.Item("amount").Value = 12.5
copy.Fields.Item("made").Value = DateSerial(2026, 12, 8)
copy.Update
copy.AddNew
copy.Fields.Item("id").Value = 2
copy.Update
ok = db.RecordToDatabase(table, copy)
Check "RecordToDatabase of a ChangeRecordset copy with two rows"
Set back = db.OpenForwardOnlyRecordset("select name, amount, made from " & table & " order by id")
ok = back.Fields.Item("name").Value = "O'Brien" And back.Fields.Item("amount").Value = 12.5 And _
  back.Fields.Item("made").Value = DateSerial(2026, 12, 8)
Check "first row read back with its quote, number and date"
back.MoveNext
ok = IsNull(back.Fields.Item("name").Value) And IsNull(back.Fields.Item("made").Value)
Check "second row's unset fields are NULL"

' A log entry into wkLog, read back.
Dim comment
comment = "wine vbs " & tag & " " & Timer
sys.PrintApplog comment, 1, "winetest"
Set back = db.OpenForwardOnlyRecordset("select ApplicationName, Title from wkLog where Comment = " & db.VarConv(comment))
ok = Not back.EOF
If ok Then ok = back.Fields.Item("ApplicationName").Value = "winetest" And back.Fields.Item("Title").Value = "application log"
Check "PrintApplog wrote a wkLog row"
' The log server named by strGetIpAddress (connect flag 2) is no data source: the entry goes to
' the day's file in the log folder, which the runner reads.
sys.PrintApplog "wine vbs fallback " & tag, 2, "winetest"
ok = True
Check "PrintApplog to an unreachable log server returns"
Set back = Nothing
Set rs = Nothing
Set copy = Nothing
Set cn = Nothing
Set db = Nothing
sys.CloseDatabase
ok = sys.Database Is Nothing
Check "CloseDatabase"

WScript.Echo passed & " passed, " & failed & " failed"
