"""The package on the build's library, laid into an application folder of the test's own (the
library reads ../ini/ beside the folder it was loaded from): settings files, the environment
object on SQLite, a recordset walk, an in-memory recordset written into a table, by-reference
outputs, events and the release of objects."""
import contextlib
import datetime
import decimal
import gc
import io
import os
import shutil
import tempfile
import unittest
from pathlib import Path

import ovik

APP = None  # the temporary application folder


def database_section(name, file):
    return (f"[{name}]\nprovider=SQLite\nserver={file}\ndatabase_user=\npassword=\n"
            f"database_name=main\ntransaction_log=false\n")


def setUpModule():
    global APP
    APP = Path(tempfile.mkdtemp(prefix="ovik-python."))
    built = Path(os.environ.get(ovik._capi.ENVIRONMENT_VARIABLE) or ovik.find_library())
    (APP / "bin").mkdir()
    (APP / "data").mkdir()
    for database in ("app.db", "master.db"):
        (APP / "data" / database).touch()  # an empty file is an empty database
    # The library and its sibling module, linked under the names the loader and the manifest use.
    os.symlink(built.resolve(), APP / "bin" / ovik._capi.LIBRARY_FILE)
    for sibling in ("libOvik2Master.so.2", "Ovik2Environment.manifest"):
        if (built.parent / sibling).exists():
            os.symlink((built.parent / sibling).resolve(), APP / "bin" / sibling)
    settings = (database_section("database", APP / "data/app.db") +
                database_section("master_database", APP / "data/master.db") +
                "[accountitem]\naccitem_store=1101\naccitem_petty=1102\n"
                "[getposinfoimport]\npos_file=/spool/pos.csv\nemployee_file=/spool/emp.csv\n"
                "bat_file_path=/opt/app/bin/import.sh\n")
    (APP / "ini").mkdir()
    (APP / "ini/Brindlemark.ini").write_text(settings, encoding="utf-8")
    (APP / "ini/menu.ini").write_text("[menu]\n", encoding="utf-8")
    ovik.load(str(APP / "bin" / ovik._capi.LIBRARY_FILE))


def tearDownModule():
    gc.collect()
    shutil.rmtree(APP, ignore_errors=True)


class IniFileTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="ovik-ini.")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def test_settings_are_written_and_read_with_names_in_any_case(self):
        with ovik.create("OvikEnvironment.clsIniFile") as ini:
            ini.Path = self.folder
            ini.FILENAME = "app.ini"
            self.assertEqual(ini.filename, "app.ini")
            self.assertEqual(ini.PutIni("database", "provider", "SQLite"), "1")
            self.assertEqual(ini.getini("DATABASE", "Provider"), "SQLite")
            self.assertEqual(ini.GetIni("database", "provider"), "SQLite")
        self.assertIn("provider=SQLite", Path(self.folder, "app.ini").read_text())

    def test_a_missing_setting_raises_the_error_triple(self):
        with ovik.create("OvikEnvironment.clsIniFile") as ini:
            ini.Path, ini.FileName = self.folder, "none.ini"
            with self.assertRaises(ovik.OvikError) as caught:
                ini.GetIni("database", "provider")
            self.assertEqual(caught.exception.number, 60000)
            self.assertEqual(caught.exception.source, "clsIniFile")
            self.assertEqual(caught.exception.description, "設定が見つかりません。")

    def test_misuse_is_reported_with_the_runtime_numbers(self):
        with ovik.create("OvikEnvironment.clsIniFile") as ini:
            with self.assertRaises(ovik.MemberNotFound) as caught:
                ini.NoSuchMember
            self.assertEqual(caught.exception.number, 438)
            self.assertFalse(hasattr(ini, "NoSuchMember"))  # it is an AttributeError too
            with self.assertRaises(ovik.OvikError) as caught:
                ini.GetIni("only one")
            self.assertEqual(caught.exception.number, 450)
            with self.assertRaises(TypeError):
                ini.GetIni(b"bytes", "key")
        with self.assertRaises(ovik.OvikError) as caught:
            ovik.create("OvikEnvironment.clsNoSuchClass")
        self.assertEqual(caught.exception.number, 429)


class SystemInfoTest(unittest.TestCase):
    def test_lookups_and_settings_of_the_application_folder(self):
        with ovik.create("OvikEnvironment.clsSystemInfo") as si:
            self.assertEqual(si.GetIniDir(), str(APP / "bin") + "/../ini/")
            self.assertEqual(si.funAccountItem(), 1101)
            self.assertEqual(si.IniFiles(0).GetIni("accountitem", "accitem_petty"), "1102")
            self.assertEqual(si.IniFiles(0), si.IniFiles(0))  # one shared object
            si.LoginStoreCd = "42"
            self.assertEqual(si.LoginStoreCd, 42)
            self.assertIn("funPosInfoImport", dir(si))

    def test_by_reference_outputs_come_back_in_their_boxes(self):
        with ovik.create("OvikEnvironment.clsSystemInfo") as si:
            pos, emp, bat = ovik.ByRef("p"), ovik.ByRef("e"), ovik.ByRef()
            self.assertIs(si.funPosInfoImport(pos, emp, bat), True)
            self.assertEqual((pos.value, emp.value, bat.value),
                             ("/spool/pos.csv", "/spool/emp.csv", "/opt/app/bin/import.sh"))
            # Plain values are copies: the outputs are dropped, the call still works.
            self.assertIs(si.funPosInfoImport("p", "e", "b"), True)


class DatabaseTest(unittest.TestCase):
    def setUp(self):
        self.si = ovik.create("OvikEnvironment.clsSystemInfo")
        self.addCleanup(ovik.release, self.si)
        self.si.OpenDatabase()
        self.addCleanup(self.si.CloseDatabase)
        self.db = self.si.Database
        self.table = f"T{self.id().rsplit('_', 1)[-1]}"
        self.db.Connection.Execute(f"drop table if exists {self.table}")
        self.db.Connection.Execute(
            f"create table {self.table} (CD integer primary key, NM varchar(20), AMT numeric(10,2), D datetime)")

    def test_a_recordset_walk_with_default_members_and_typed_values(self):
        written = ovik.ByRef()
        self.db.Connection.Execute(
            f"insert into {self.table} values (1, 'いちご', 1234.5, '2024-01-05 09:03:07'), (2, NULL, 0, NULL)",
            written)
        self.assertEqual(written.value, 2)
        rs = self.db.OpenReadOnlyRecordset(f"select CD, NM, AMT, D from {self.table} order by CD", 3)
        rows = []
        while not rs.EOF:
            self.assertEqual(rs("NM").Value, rs.Fields("NM").Value)
            self.assertEqual(rs.Fields.Item(0).Value, rs.fields(0).value)
            rows.append((rs("CD").Value, rs("NM").Value, rs("AMT").Value, rs("D").Value))
            rs.MoveNext()
        self.assertEqual(rows, [
            (1, "いちご", decimal.Decimal("1234.5"), datetime.datetime(2024, 1, 5, 9, 3, 7)),
            (2, None, decimal.Decimal(0), None),
        ])
        self.assertEqual(rs.RecordCount, 2)
        self.assertEqual(rs.Fields.Count, 4)
        # The recordset is a temporary, released at once: its field keeps it.
        self.assertEqual(self.db.Connection.Execute(f"select NM from {self.table} where CD = 1").Fields(0).Value,
                         "いちご")

    def test_an_in_memory_recordset_is_written_into_a_table(self):
        rs = ovik.new_recordset()
        for field in (("CD", 3), ("NM", 202, 20, 0x20), ("AMT", 6), ("D", 7)):
            rs.Fields.Append(*field)
        rs.Open(None, None, 2, 2)  # no source: dynamic cursor, pessimistic lock
        rows = [(1, "O'Neil", decimal.Decimal("1234.5"), datetime.datetime(2024, 1, 5, 9, 3, 7)),
                (2, None, decimal.Decimal(0), None)]
        for row in rows:
            rs.AddNew()
            for name, value in zip(("CD", "NM", "AMT", "D"), row):
                rs(name).Value = value
            rs.Update()
        self.assertIs(self.db.RecordToDatabase(self.table, rs), True)
        back = self.db.OpenReadOnlyRecordset(f"select CD, NM, AMT, D from {self.table} order by CD", 3)
        read = []
        while not back.EOF:
            read.append(tuple(back(name).Value for name in ("CD", "NM", "AMT", "D")))
            back.MoveNext()
        self.assertEqual(read, rows)

    def test_python_values_become_sql_literals(self):
        self.assertEqual(self.db.GetValueString(decimal.Decimal("-0.00005"), 6), "0")
        self.assertEqual(self.db.GetValueString(decimal.Decimal("1234.56785"), 6), "1234.5678")
        self.assertEqual(self.db.NumConv("12.50"), "12.5")
        self.assertEqual(self.db.VarConv("O'Neil"), "'O''Neil'")
        self.assertEqual(self.db.DayConv(datetime.datetime(1899, 12, 29, 6, 0)), "'1899/12/29 06:00:00'")
        self.assertEqual(self.db.DayConv(datetime.date(2024, 2, 29)), "'2024/02/29 00:00:00'")
        with self.assertRaises(ovik.OvikError) as caught:
            self.db.GetValueString(decimal.Decimal("1e30"), 6)
        self.assertEqual(caught.exception.number, 6)
        # A Date holds the years 100 to 9999 to the second: datetime.max once became 10000/01/01.
        self.assertEqual(self.db.DayConv(datetime.datetime(100, 1, 1)), "'0100/01/01 00:00:00'")
        self.assertEqual(self.db.DayConv(datetime.datetime(9999, 12, 31, 23, 59, 59)), "'9999/12/31 23:59:59'")
        for outside in (datetime.datetime.max, datetime.datetime(99, 12, 31), datetime.date(99, 12, 31)):
            with self.assertRaises(ovik.OvikError) as caught:
                self.db.DayConv(outside)
            self.assertEqual((caught.exception.number, caught.exception.source), (6, "ovik"))

    def test_database_errors_reach_a_python_handler_before_the_failure(self):
        seen = []
        cookie = ovik.advise(self.db, lambda name, *args: seen.append((name,) + args))
        with self.assertRaises(ovik.OvikError) as caught:
            self.db.Connection.Execute("select * from NoSuchTable")
        self.assertIn("NoSuchTable", caught.exception.description)
        self.assertEqual(len(seen), 1)
        name, db_name, text = seen[0]
        self.assertEqual(name, "RaiseDatabaseError")
        self.assertTrue(text.startswith("(event)ADODB.ExecuteComplete\r\n"), text)
        self.assertIn("NoSuchTable", text)
        ovik.unadvise(self.db, cookie)
        with self.assertRaises(ovik.OvikError):
            self.db.Connection.Execute("select * from NoSuchTable")
        self.assertEqual(len(seen), 1)


class EventTest(unittest.TestCase):
    def test_handlers_by_callable_and_by_method_until_unadvised(self):
        class Handler:
            def __init__(self):
                self.timers = 0

            def OnTimer(self):
                self.timers += 1

        with ovik.create("OvikEnvironment.clsWaitNDispatch") as waiter:
            handler, calls = Handler(), []
            first = ovik.advise(waiter, handler)
            second = ovik.advise(waiter, lambda *event: calls.append(event))
            waiter.Wait(1)
            self.assertEqual((handler.timers, calls), (1, [("OnTimer",)]))
            ovik.unadvise(waiter, first)
            waiter.Wait(1)
            self.assertEqual((handler.timers, len(calls)), (1, 2))
            self.assertEqual(len(ovik._handlers), 1)
            del second
        # The object's end lets the remaining handler go.
        self.assertEqual(ovik._handlers, {})

    def test_an_object_without_events_refuses_and_keeps_nothing(self):
        with ovik.create("OvikEnvironment.clsIniFile") as ini:
            with self.assertRaises(ovik.OvikError) as caught:
                ovik.advise(ini, print)
            self.assertEqual(caught.exception.number, 5)
        self.assertEqual(ovik._handlers, {})


class ReadmeTest(unittest.TestCase):
    def test_the_readme_python_snippet_works(self):
        readme = (Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
        section = readme[readme.index("### Python"):]
        snippet = section[section.index("```python\n") + 10:section.index("\n```", section.index("```python"))]
        printed, names = io.StringIO(), {}
        with contextlib.redirect_stdout(printed):
            exec(compile(snippet, "README.md", "exec"), names)
        # The handler's globals hold the database object it listens to: a cycle through the
        # library that Python cannot see, broken here as a script's end would break it.
        names.clear()
        lines = printed.getvalue().splitlines()
        self.assertEqual(lines[0], str(APP / "bin") + "/../ini/ SQLite")
        self.assertEqual(lines[1], "/spool/pos.csv /spool/emp.csv /opt/app/bin/import.sh")
        self.assertEqual(lines[2], "1 O'Neil")
        self.assertTrue(lines[3].startswith("RaiseDatabaseError ("), lines[3])
        self.assertIn("no_such_table", lines[4])


class ReleaseTest(unittest.TestCase):
    def setUp(self):
        gc.collect()
        self.assertTrue(ovik.can_unload(), "an earlier test left an object alive")

    def test_objects_end_with_the_context_manager_release_and_collection(self):
        with ovik.create("OvikEnvironment.clsMessageString") as messages:
            self.assertFalse(ovik.can_unload())
        self.assertTrue(ovik.can_unload())
        with self.assertRaises(ovik.OvikError) as caught:
            messages.MsgDataNo
        self.assertEqual(caught.exception.number, 91)

        si = ovik.create("OvikEnvironment.clsSystemInfo")
        ini = si.IniFiles(1)
        ovik.release(si)
        self.assertFalse(ovik.can_unload())  # the settings file object is still held
        self.assertEqual(ini.FileName, "../ini/menu.ini")
        del ini
        self.assertTrue(ovik.can_unload())

        ovik.create("OvikEnvironment.clsWaitNDispatch").Wait(1)  # a temporary, gone at once
        self.assertTrue(ovik.can_unload())


if __name__ == "__main__":
    unittest.main()
