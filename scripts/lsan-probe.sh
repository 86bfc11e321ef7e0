#!/usr/bin/env bash
# Proves that LeakSanitizer runs in every test program of a sanitizer build as CTest starts it.
# With OVIK_LSAN_PROBE=1 each test program leaks one block on purpose (tests/support/lsan_probe.c),
# so one test of each program, run through CTest with its own environment and wrapper, must fail
# with ovik_lsan_probe_leak in LeakSanitizer's report. The programs that tests only start (the
# command-line host, the load and fleet runs, the examples, the generator) get the probe preloaded
# and run directly. Where no report comes, the checker is off (a tracer such as strace or gdb, a sandbox,
# detect_leaks=0 in a test's environment), and that program's clean runs prove nothing.
#   scripts/lsan-probe.sh [BUILD]   (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
[ -f "$build/CMakeCache.txt" ] && grep -q '^OVIK_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" || {
  echo "$build is not a sanitizer build (-DOVIK_SANITIZE=ON)" >&2
  exit 2
}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export OVIK_LSAN_PROBE=1
out=$(mktemp -d /tmp/ovik-lsan-probe.XXXXXX)
trap 'rm -rf "$out"' EXIT
failed=0

report() { # NAME FILE: the probe's leak must be in the output
  if grep -q "ovik_lsan_probe_leak" "$2"; then
    echo "ok      LeakSanitizer reports the probe in $1"
  else
    echo "FAILED  no LeakSanitizer report of the probe in $1:"
    tail -n 20 "$2" | sed 's/^/        /'
    failed=1
  fi
}

# One test per test program, as CTest describes the suite: a program started through a wrapper
# script (the desktop tests) counts as that program. Tests that run a script of their own are the
# programs' business below.
ctest --test-dir "$build" --show-only=json-v1 >"$out/suite.json"
python3 - "$out/suite.json" >"$out/picks" <<'EOF'
import json, re, sys
picked = {}
for test in json.load(open(sys.argv[1]))["tests"]:
    command = test.get("command") or []
    if not command:
        continue
    program = command[0]
    if program.endswith("run_on_desktop.sh") and len(command) > 1:
        program = command[1]
    name = program.rsplit("/", 1)[-1]
    if name.endswith(".sh") or name in ("ovik", "ovik_early_bound"):
        continue  # a script of the test's own (the examples' too), or a program started directly below
    picked.setdefault(program, test["name"])
for program, name in sorted(picked.items()):
    print(program.rsplit("/", 1)[-1] + "\t^" + re.escape(name) + "$")
EOF
while IFS=$'\t' read -r program regex; do
  ctest --test-dir "$build" -R "$regex" --output-on-failure >"$out/$program.log" 2>&1 || true
  report "$program (through CTest)" "$out/$program.log"
done <"$out/picks"

# Programs the tests start: the probe preloaded behind the sanitizer runtime, which comes first.
asan=$(grep -o '^CMAKE_CXX_COMPILER:[A-Z]*=.*' "$build/CMakeCache.txt" | cut -d= -f2-)
asan=$("$asan" -print-file-name=libasan.so)
probe="$build/tests/libovik_lsan_probe.so"
run() { # NAME COMMAND...
  local name=$1
  shift
  (LD_PRELOAD="$asan:$probe" LD_LIBRARY_PATH="$build/app/bin" "$@") >"$out/$name.log" 2>&1 || true
  report "$name (preloaded)" "$out/$name.log"
}
run ovik "$build/app/bin/ovik" typelib
run ovik_load "$build/tools/load/ovik_load" --processes 0
run ovik_fleet "$build/tools/load/ovik_fleet"
for example in example_c example_early_bound example_late_bound example_database_errors; do
  run "$example" "$build/examples/$example"
done
run ovik_early_bound "$build/tools/early_bound/ovik_early_bound" --check include/ovik

exit $failed
