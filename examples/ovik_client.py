#!/usr/bin/env python3
"""A late-bound client of the library from Python, through `ovik script` (one JSON line each way).

    from ovik_client import Ovik
    with Ovik("build/app/bin/ovik") as o:
        ini = o.new("OvikEnvironment.clsIniFile")
        o.put(ini, "Path", "/opt/brindlemark/bin")
        o.put(ini, "FileName", "../ini/Brindlemark.ini")
        print(o.call(ini, "GetIni", "database", "provider"))

Failures come back as OvikError(number, source, description); message boxes and events that
happened during a request are kept in `o.notices`.
"""
import itertools
import json
import subprocess
import sys


class OvikError(Exception):
    def __init__(self, number, source, description):
        super().__init__(f"{number} ({source}): {description}")
        self.number, self.source, self.description = number, source, description


class Ovik:
    def __init__(self, program="ovik"):
        self._proc = subprocess.Popen([program, "script"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      text=True, encoding="utf-8", bufsize=1)
        self._names = itertools.count(1)
        self.notices = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._proc.poll() is None:
            self._proc.stdin.close()
            self._proc.wait(timeout=30)

    def request(self, **fields):
        self._proc.stdin.write(json.dumps(fields, ensure_ascii=False) + "\n")
        self._proc.stdin.flush()
        while True:
            line = self._proc.stdout.readline()
            if not line:
                raise OvikError(5, "ovik_client", "the host ended")
            answer = json.loads(line)
            if "ok" not in answer:  # a message box or an event, printed before the answer
                self.notices.append(answer)
                continue
            if not answer["ok"]:
                e = answer["error"]
                raise OvikError(e["number"], e["source"], e["description"])
            return answer

    def new(self, progid):
        name = f"o{next(self._names)}"
        self.request(new=progid, **{"as": name})
        return name

    def get(self, obj, member, *args, name_result=False):
        fields = {"get": f"{obj}.{member}", "args": list(args)}
        if name_result:
            fields["as"] = f"o{next(self._names)}"
            self.request(**fields)
            return fields["as"]
        return self.request(**fields)["result"]

    def put(self, obj, member, value):
        self.request(put=f"{obj}.{member}", value=value)

    def call(self, obj, member, *args):
        return self.request(call=f"{obj}.{member}", args=list(args))["result"]


if __name__ == "__main__":
    with Ovik(sys.argv[1] if len(sys.argv) > 1 else "ovik") as o:
        messages = o.new("OvikEnvironment.clsMessageString")
        print(o.get(messages, "MsgAtRegistStart"))
        si = o.new("OvikEnvironment.clsSystemInfo")
        print("funAccountItem =", o.call(si, "funAccountItem"))
