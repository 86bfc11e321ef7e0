#!/usr/bin/env bash
# The store-fleet run: N store processes (tools/load/fleet.cpp) against one head-office server on
# this machine's loopback, each server started here for the run and stopped at its end:
#   pg           PostgreSQL directly (max_connections raised to 1000, as a head office would)
#   pgbouncer    PostgreSQL through PgBouncer in transaction pooling
#   exhausted    PgBouncer refusing clients beyond a few (max_client_conn): log entries must
#                fall back to the day's files, none lost
#   mariadb      MariaDB directly (when scripts/mariadb-test-server.sh is there)
#
#   scripts/fleet.sh [--build DIR] [--stores "50 100 200"] [--seconds S] [--entries K]
#                    [--servers "pg pgbouncer mariadb"] [--short] [--table FILE]
#
# --short is CTest's run: 20 stores for 20 s on every server (the exhausted pool 10 s); it checks
# the counts, never the times. --table appends the figures as rows of a Markdown table.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build
stores="50 100 200"
seconds=60
entries=5
servers="pg pgbouncer exhausted mariadb"
table=""
short=0
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$2; shift 2 ;;
  --stores) stores=$2; shift 2 ;;
  --seconds) seconds=$2; shift 2 ;;
  --entries) entries=$2; shift 2 ;;
  --servers) servers=$2; shift 2 ;;
  --table) table=$2; shift 2 ;;
  --short) short=1; stores=20; seconds=20; shift ;;
  *)
    echo "usage: $0 [--build DIR] [--stores \"N ...\"] [--seconds S] [--entries K] [--servers \"...\"] [--short] [--table FILE]" >&2
    exit 2
    ;;
  esac
done
build=$(cd "$build" && pwd)
[ -x "$build/tools/load/ovik_fleet" ] || {
  echo "$build/tools/load/ovik_fleet is not built (cmake --build $build --target ovik_fleet)" >&2
  exit 2
}

work=$(mktemp -d /tmp/ovik-fleet.XXXXXX)
chmod 0755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$work/pg/env.sh" ] && "$root/scripts/pg-test-server.sh" stop "$work/pg" >/dev/null 2>&1 || true
  [ -f "$work/maria/env.sh" ] && "$root/scripts/mariadb-test-server.sh" stop "$work/maria" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

need_pg() {
  [ -f "$work/pg/env.sh" ] && return 0
  "$root/scripts/pg-test-server.sh" start "$work/pg" >/dev/null
  # shellcheck disable=SC1091
  source "$work/pg/env.sh"
  # A head office serves hundreds of stores: 100 connections (the default) would refuse most.
  as_postgres "$OVIK_TEST_PG_BIN/psql" -h "$work/pg" -p "$OVIK_TEST_PG_PORT" -U postgres -d postgres -q \
    -c "ALTER SYSTEM SET max_connections = 1000"
  "$root/scripts/pg-test-server.sh" halt "$work/pg" >/dev/null
  "$root/scripts/pg-test-server.sh" resume "$work/pg" >/dev/null
  # shellcheck disable=SC1091
  source "$work/pg/env.sh"
}

# A PgBouncer in transaction pooling in front of the test PostgreSQL, with its own DSN.
start_pgbouncer() { # name max_client_conn pool_size
  local name=$1 max_clients=$2 pool=$3 port
  command -v pgbouncer >/dev/null || [ -x /usr/sbin/pgbouncer ] || {
    echo "pgbouncer is not installed (apt-get install pgbouncer)" >&2
    return 1
  }
  port=$(free_port)
  mkdir -p "$work/$name"
  printf '"%s" "%s"\n' "$OVIK_TEST_PG_USER" "$OVIK_TEST_PG_PASSWORD" >"$work/$name/users.txt"
  cat >"$work/$name/pgbouncer.ini" <<EOF
[databases]
citestdb = host=127.0.0.1 port=$OVIK_TEST_PG_PORT dbname=citestdb
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $port
unix_socket_dir =
auth_type = scram-sha-256
auth_file = $work/$name/users.txt
pool_mode = transaction
max_client_conn = $max_clients
default_pool_size = $pool
max_db_connections = $pool
query_wait_timeout = 30
ignore_startup_parameters = extra_float_digits
logfile = $work/$name/pgbouncer.log
pidfile = $work/$name/pgbouncer.pid
EOF
  [ "$(id -u)" -eq 0 ] && chown -R postgres:postgres "$work/$name"
  as_postgres "$(command -v pgbouncer || echo /usr/sbin/pgbouncer)" -d "$work/$name/pgbouncer.ini"
  for _ in $(seq 50); do [ -f "$work/$name/pgbouncer.pid" ] && break; sleep 0.1; done
  pids+=("$(cat "$work/$name/pgbouncer.pid")")
  cat >>"$ODBCINI" <<EOF

[ovik_$name]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=citestdb
BoolsAsChar=0
UseDeclareFetch=1
Fetch=1000
EOF
}

cp -a "$build/app" "$work/app"
rm -rf "$work/app/data" "$work/app/bin/log" "$work/app/bin/transaction_log"
cp "$build/tools/load/ovik_fleet" "$work/app/bin/"

run() { # label dsn user password monitor-dsn stores seconds [extra ...]
  local out="$work/run.out" status=0
  "$work/app/bin/ovik_fleet" --label "$1" --dsn "$2" --user "$3" --password "$4" --monitor-dsn "$5" \
    --stores "$6" --seconds "$7" --entries "$entries" "${@:8}" >"$out" 2>&1 || status=$?
  cat "$out"
  if [ -n "$table" ]; then sed -n 's/^fleet-row //p' "$out" >>"$table"; fi
  return $status
}

failed=0
for server in $servers; do
  case "$server" in
  pg)
    need_pg
    for n in $stores; do run "PostgreSQL directly" ovik_pg citest citest ovik_pg "$n" "$seconds" || failed=1; done
    ;;
  pgbouncer)
    need_pg
    start_pgbouncer pgbouncer 4000 20
    for n in $stores; do
      run "PostgreSQL through PgBouncer (transaction pooling, pool 20)" ovik_pgbouncer citest citest ovik_pg "$n" \
        "$seconds" || failed=1
    done
    ;;
  exhausted)
    need_pg
    start_pgbouncer exhausted 8 2
    n=${stores%% *}
    s=$((short ? 10 : seconds))
    run "PgBouncer refusing clients beyond 8" ovik_exhausted citest citest ovik_pg "$n" "$s" --expect-fallback ||
      failed=1
    ;;
  mariadb)
    if [ ! -x "$root/scripts/mariadb-test-server.sh" ]; then
      echo "skipping MariaDB: scripts/mariadb-test-server.sh is not there"
      continue
    fi
    if [ ! -f "$work/maria/env.sh" ]; then
      "$root/scripts/mariadb-test-server.sh" start "$work/maria" >/dev/null
      # shellcheck disable=SC1091
      source "$work/maria/env.sh"
      mariadb --no-defaults -S "$work/maria/m.sock" -uroot -e "set global max_connections = 1000"
    fi
    for n in $stores; do
      run "MariaDB directly" "$OVIK_TEST_MARIADB_DSN" "$OVIK_TEST_MARIADB_USER" "$OVIK_TEST_MARIADB_PASSWORD" \
        "$OVIK_TEST_MARIADB_DSN" "$n" "$seconds" --database "$OVIK_TEST_MARIADB_DATABASE" || failed=1
    done
    ;;
  *)
    echo "unknown server $server" >&2
    exit 2
    ;;
  esac
done
exit $failed
