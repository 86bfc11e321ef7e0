#!/usr/bin/env python3
"""The library from Python: the environment object, a setting, a raised error, by-reference
outputs and an event. From the source tree after a build:

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

timers = []
with ovik.create("OvikEnvironment.clsWaitNDispatch") as waiter:
    ovik.advise(waiter, lambda event, *args: timers.append(event))
    waiter.Wait(10)
print("events:", timers)
raise SystemExit(0 if timers == ["OnTimer"] else 1)
