#!/usr/bin/env python3
"""The library from Python: the environment object, a setting, a raised error, by-reference
outputs, an in-memory recordset written into a table, and an event. From the source tree after a
build:

    PYTHONPATH=python python3 examples/python/ovik_example.py

It reads the demo settings of build/app/ini/ (the library's ../ini/).
"""
import ovik

with ovik.create("OvikEnvironment.clsSystemInfo") as si:
    print("settings folder:", si.GetIniDir())
    settings = si.IniFiles(0)
    print("provider:", settings.GetIni("database", "provider"))
    try:
        settings.GetIni("database", "no_such_key")
    except ovik.OvikError as e:
        print(f"error {e.number} from {e.source}: {e.description}")

    # By-reference outputs: pass boxes, read their values afterwards.
    pos, emp, bat = ovik.ByRef(), ovik.ByRef(), ovik.ByRef()
    found = si.funPosInfoImport(pos, emp, bat)
    print(f"POS import ({'found' if found else 'not found'}): {pos.value}, {emp.value}, {bat.value}")

# An in-memory recordset: fields appended, opened without a source, rows added, and written into
# a table of the application database, one insert per row.
with ovik.create("OvikEnvironment.clsSystemInfo") as si:
    si.OpenDatabase()
    db = si.Database
    db.Connection.Execute("drop table if exists example_py_items")
    db.Connection.Execute("create table example_py_items (CD integer, NM varchar(40))")
    items = ovik.new_recordset()
    items.Fields.Append("CD", 3)              # integer
    items.Fields.Append("NM", 202, 40, 0x20)  # text of up to 40, nullable
    items.Open(None, None, 2, 2)              # dynamic cursor, pessimistic lock
    for cd, name in ((1, "O'Neil tea"), (2, "発注テスト")):
        items.AddNew()
        items("CD").Value, items("NM").Value = cd, name
        items.Update()
    print("RecordToDatabase:", db.RecordToDatabase("example_py_items", items))
    written = db.Connection.Execute("select count(*) from example_py_items").Fields(0).Value
    print("rows written:", written)
    del items, db
    si.CloseDatabase()

timers = []
with ovik.create("OvikEnvironment.clsWaitNDispatch") as waiter:
    ovik.advise(waiter, lambda event, *args: timers.append(event))
    waiter.Wait(10)
print("events:", timers)
raise SystemExit(0 if timers == ["OnTimer"] and written == 2 else 1)
