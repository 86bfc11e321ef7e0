#!/usr/bin/env bash
# Installs what is missing, builds, starts a throwaway PostgreSQL and MariaDB for the ODBC tests,
# runs the whole test suite with CTest, and stops the servers again.
#   scripts/test.sh             build/ with warnings as errors
#   scripts/test.sh --sanitize  build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer, and
#                               a check that LeakSanitizer ran in every test program
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build
flags=(-DOVIK_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DOVIK_SANITIZE=ON -DOVIK_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# Each server's env.sh is sourced before the next one starts: the MariaDB script carries the DSNs
# in force into its own ODBC files, so both stay reachable.
pgdir=""
mariadir=""
stop_servers() {
  if [ -n "$mariadir" ]; then scripts/mariadb-test-server.sh stop "$mariadir" || true; fi
  if [ -n "$pgdir" ]; then scripts/pg-test-server.sh stop "$pgdir" || true; fi
}
trap stop_servers EXIT
if [ -x scripts/pg-test-server.sh ]; then
  pgdir=$(mktemp -d /tmp/ovik-pg.XXXXXX)
  if scripts/pg-test-server.sh start "$pgdir"; then
    # shellcheck disable=SC1091
    source "$pgdir/env.sh"
  else
    echo "warning: no PostgreSQL test server could be started; its tests will be skipped" >&2
    rm -rf "$pgdir"
    pgdir=""
  fi
fi
if [ -x scripts/mariadb-test-server.sh ]; then
  mariadir=$(mktemp -d /tmp/ovik-maria.XXXXXX)
  if scripts/mariadb-test-server.sh start "$mariadir"; then
    # shellcheck disable=SC1091
    source "$mariadir/env.sh"
  else
    echo "warning: no MariaDB test server could be started; its tests will be skipped" >&2
    rm -rf "$mariadir"
    mariadir=""
  fi
fi

ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
if [ "$build" = build-asan ]; then
  # Clean runs prove nothing unless the leak checker really ran in every program.
  scripts/lsan-probe.sh "$build"
fi
