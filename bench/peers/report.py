#!/usr/bin/env python3
"""Runs the side-by-side benchmarks and prints one report (bench/run calls it).

  report.py --build DIR [--out DIR] [--quick] [--only ini,rows,insert,log] [--table-only]

Timing: every case of one program runs in one process, its repetitions randomly interleaved with
the other cases'; each figure is the median of the repetitions' CPU time (the calling thread's),
with its spread: half the interquartile range as a share of the median. Memory: each rows case runs
once more alone in its own process, and its peak RSS (wait4) less that of a process doing nothing
is what it held. The report goes to OUT/report.md and to standard output.
"""
import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))


def run_timing(binary, out_json, reps, min_time, env):
    cmd = [binary, f"--benchmark_repetitions={reps}", "--benchmark_enable_random_interleaving=true",
           f"--benchmark_out={out_json}", "--benchmark_out_format=json", "--benchmark_filter=-Baseline"]
    if min_time is not None:
        cmd.append(f"--benchmark_min_time={min_time}")
    print("+", " ".join(cmd), file=sys.stderr, flush=True)
    subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL)
    return parse(out_json)


def quartiles(values):
    values = sorted(values)
    if len(values) < 4:
        return values[0], values[-1]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def parse(out_json):
    """Per case: median CPU and wall seconds, the CPU spread, the repetitions."""
    with open(out_json) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            raise SystemExit(f"{b['run_name']}: {b.get('error_message')}")
        if b.get("run_type") != "iteration":
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        r = runs.setdefault(b["run_name"].split("/")[0], {"cpu": [], "wall": []})
        r["cpu"].append(b["cpu_time"] * scale)
        r["wall"].append(b["real_time"] * scale)
    out = {}
    for name, r in runs.items():
        cpu = statistics.median(r["cpu"])
        q1, q3 = quartiles(r["cpu"])
        out[name] = {"cpu_s": cpu, "wall_s": statistics.median(r["wall"]), "reps": len(r["cpu"]),
                     "spread": (q3 - q1) / 2 / cpu if cpu > 0 else 0.0}
    return out


def peak_rss_mb(binary, name, env):
    cmd = [binary, f"--benchmark_filter=^{name}(/|$)", "--benchmark_repetitions=1"]
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        raise SystemExit(f"{name}: exit status {status}")
    return usage.ru_maxrss / 1024.0


def fmt_time(s):
    if s is None:
        return ""
    if s >= 1:
        return f"{s:.2f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.0f} ms"
    if s >= 1e-6:
        return f"{s * 1e6:.2f} µs"
    return f"{s * 1e9:.0f} ns"


def cell(m, key="cpu_s"):
    return f"{fmt_time(m[key])} ±{100 * m['spread']:.0f}%" if key == "cpu_s" else fmt_time(m[key])


# Figure -> program, library case, floor case, target (kind, bound), Qt case, POCO case.
# A target "floor" bounds library / floor; "poco" bounds library / the POCO case.
FIGURES = [
    ("Forward-only walk, 1,000,000 rows, every column", "rows", "BM_Forward_Ovik_ExecuteRecordset",
     "BM_Forward_Raw_Sqlite3Step", ("floor", 1.30), "BM_Forward_Qt_QSqlQueryForwardOnly",
     "BM_Forward_Poco_StatementRowByRow"),
    ("Static recordset, 1,000,000 rows, loaded and walked", "rows", "BM_Static_Ovik_StaticReadOnly",
     "BM_Static_Raw_CopyAllThenWalk", ("floor", 1.20), "BM_Static_Qt_QSqlQueryFetchAll",
     "BM_Static_Poco_RecordSet"),
    ("RecordToDatabase, 100,000 rows, autocommit, WAL", "insert", "BM_Insert_Ovik_RecordToDatabase",
     "BM_Insert_Raw_Sqlite3Exec", ("floor", 1.10), "BM_Insert_Qt_QSqlQueryExec", "BM_Insert_Poco_SessionNow"),
    ("One log line, file mode (one log object)", "log", "BM_Log_Ovik_PutLogFileMode",
     "BM_Log_Floor_OpenAppendClose", ("poco", 1.00), None, "BM_Log_Poco_FileChannelPreformatted"),
    ("PrintApplog's entry, file mode (a log object per entry)", "log", "BM_Log_Ovik_NewLogPerEntry",
     "BM_Log_Floor_OpenAppendClose", ("poco", 2.00), None, "BM_Log_Poco_LoggerPatternFileChannel"),
    ("GetIni, the file read at every call", "ini", "BM_Ini_Ovik_GetIni", "BM_Ini_HandScan_ReadPerLookup",
     ("floor", 1.15), "BM_Ini_Qt_QSettingsPerLookup", "BM_Ini_Poco_LoadPerLookup"),
]

# What the design costs: title, program, the design's case, the case without that cost, time kind.
DESIGN = [
    ("The settings file read at every lookup", "ini", "BM_Ini_Ovik_GetIni", "BM_Ini_HandScan_Cached",
     "the same lookup in text read once (hand scan)", "cpu_s"),
    ("One log connection per entry (SQLite log database)", "log", "BM_Log_Ovik_PrintApplogSQLite",
     "BM_Log_Ovik_PutLogConnectedSQLite", "one log object keeping its connection", "wall_s"),
    ("PrintApplog end to end, log database out of reach", "log", "BM_Log_Ovik_PrintApplogUnreachable",
     "BM_Log_Ovik_NewLogPerEntry", "the entry alone (no settings reads, no connection attempt)", "cpu_s"),
    ("One statement per row, SQLite, 100,000 rows", "insert", "BM_Insert_Ovik_RecordToDatabase",
     "BM_Insert_Ovik_RecordToDatabaseOneTransaction", "the same RecordToDatabase in one transaction", "wall_s"),
    ("One statement per row against the floor's best", "insert", "BM_Insert_Ovik_RecordToDatabaseOneTransaction",
     "BM_Insert_Raw_PreparedOneTransaction", "one prepared, bound insert in one transaction", "wall_s"),
    ("RecordToDatabase, 5,000 rows to PostgreSQL (ODBC)", "insert", "BM_Insert_Ovik_Pg5000Autocommit",
     "BM_Insert_Ovik_Pg5000OneTransaction", "the same in one transaction", "wall_s"),
]


def machine():
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = os.getloadavg()
    return (f"{cpu}, {os.cpu_count()} cores, Linux {platform.release()}, load average "
            f"{load[0]:.1f} at the end; {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}")


def report(results):
    lines = ["| Figure | Library | Floor | Library / floor | Target | Met | Qt 6 | POCO |",
             "|---|---|---|---|---|---|---|---|"]
    rss = results.get("rows_rss_mb", {})
    base = rss.get("peers::BM_Baseline")
    misses = []
    for title, prog, lib, floor, (kind, bound), qt, poco in FIGURES:
        r = results.get(prog)
        if not r or lib not in r or floor not in r:
            continue
        ratio = r[lib]["cpu_s"] / r[floor]["cpu_s"]
        if kind == "floor":
            target, measured = f"≤ {bound:.2f}x floor", ratio
        elif poco in r:
            target, measured = f"≤ {bound:.2f}x POCO", r[lib]["cpu_s"] / r[poco]["cpu_s"]
        else:
            target, measured = f"≤ {bound:.2f}x POCO", None
        met = "" if measured is None else ("yes" if measured <= bound else "no")
        if kind == "poco" and measured is not None:
            met += f" ({measured:.2f}x)"
        if met.startswith("no"):
            misses.append(title)
        peer = lambda case: f"{cell(r[case])} ({r[case]['cpu_s'] / r[floor]['cpu_s']:.2f}x)" if case and case in r else ""
        lines.append(f"| {title} | {cell(r[lib])} | {cell(r[floor])} | {ratio:.2f}x | {target} | {met} | "
                     f"{peer(qt)} | {peer(poco)} |")
        if prog == "rows" and lib.startswith("BM_Static") and base and lib in rss and floor in rss:
            held = lambda case: rss[case] - base
            mem_met = "yes" if held(lib) <= held(floor) else "no"
            if mem_met == "no":
                misses.append(title + " (memory)")
            peer_mem = lambda case: f"{held(case):.0f} MB" if case in rss else ""
            lines.append(f"| ... memory held (peak RSS over an idle process) | {held(lib):.0f} MB | "
                         f"{held(floor):.0f} MB | {held(lib) / held(floor):.2f}x | ≤ floor | {mem_met} | "
                         f"{peer_mem(qt)} | {peer_mem(poco)} |")
    design = ["| Design cost | With it | Without it | Ratio | Without it means |", "|---|---|---|---|---|"]
    for title, prog, with_case, without_case, meaning, key in DESIGN:
        r = results.get(prog, {})
        if with_case not in r or without_case not in r:
            continue
        kind = "CPU" if key == "cpu_s" else "wall"
        design.append(f"| {title} ({kind}) | {cell(r[with_case], key)} | {cell(r[without_case], key)} | "
                      f"{r[with_case][key] / r[without_case][key]:.1f}x | {meaning} |")
    reps = {p: max((m["reps"] for m in results.get(p, {}).values() if isinstance(m, dict)), default=0)
            for p in ("ini", "rows", "insert", "log")}
    notes = [f"CPU time of the calling thread, medians of {reps['ini']} (INI), {reps['rows']} (rows), "
             f"{reps['insert']} (insert) and {reps['log']} (log) repetitions run in one process per program, "
             "randomly interleaved; ± is half the interquartile range. Peers in parentheses: their "
             "figure over the floor.",
             f"Machine: {machine()}."]
    if misses:
        notes.append("Missed: " + "; ".join(misses) + ".")
    return "\n".join(lines) + "\n\n" + "\n".join(design) + "\n\n" + "\n".join(notes) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="the folder holding the *_peers programs")
    ap.add_argument("--out", default=None)
    ap.add_argument("--quick", action="store_true", help="few repetitions, for a smoke test")
    ap.add_argument("--only", default="", help="programs to run (ini,rows,insert,log); others kept from OUT")
    ap.add_argument("--table-only", action="store_true", help="the report from the JSON files of OUT")
    args = ap.parse_args()
    out = os.path.abspath(args.out or os.path.join(args.build, "results"))
    os.makedirs(out, exist_ok=True)
    work = os.path.join(out, "scratch")  # data and scratch files on this disk
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ)
    env["PEERS_ROWS_DB"] = os.path.join(work, "rows.db")
    prog = {p: os.path.join(os.path.abspath(args.build), f"{p}_peers") for p in ("ini", "rows", "insert", "log")}
    only = set(filter(None, args.only.split(","))) or set(prog)
    q = args.quick
    plan = {"ini": (3 if q else 15, 0.05 if q else 0.3), "rows": (1 if q else 9, None),
            "insert": (1 if q else 7, None), "log": (3 if q else 15, 0.05 if q else 0.3)}
    results_path = os.path.join(out, "results.json")
    results = json.load(open(results_path)) if os.path.exists(results_path) else {}
    os.chdir(work)
    if not args.table_only:
        if "rows" in only:
            subprocess.run([prog["rows"], "--make-data", env["PEERS_ROWS_DB"]], check=True)
        for p in ("ini", "rows", "insert", "log"):
            if p in only:
                reps, min_time = plan[p]
                results[p] = run_timing(prog[p], os.path.join(out, f"{p}.json"), reps, min_time, env)
        if "rows" in only:
            rss = {"peers::BM_Baseline": peak_rss_mb(prog["rows"], "peers::BM_Baseline", env)}
            for name in results["rows"]:
                rss[name] = peak_rss_mb(prog["rows"], name, env)
            results["rows_rss_mb"] = rss
            for suffix in ("", "-wal", "-shm"):
                if os.path.exists(env["PEERS_ROWS_DB"] + suffix):
                    os.remove(env["PEERS_ROWS_DB"] + suffix)
        with open(results_path, "w") as f:
            json.dump(results, f, indent=1)
    text = report(results)
    with open(os.path.join(out, "report.md"), "w") as f:
        f.write(text)
    print(text)


if __name__ == "__main__":
    sys.exit(main())
