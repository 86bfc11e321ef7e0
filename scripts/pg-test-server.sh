#!/bin/bash
# Throwaway PostgreSQL cluster for the database tests, reached through unixODBC.
#
#   scripts/pg-test-server.sh start DIR   create DIR, start a cluster on 127.0.0.1, write DIR/env.sh
#   scripts/pg-test-server.sh stop DIR    stop that cluster and remove DIR
#   scripts/pg-test-server.sh halt DIR    stop the server (fast shutdown: sessions are ended), keep DIR
#   scripts/pg-test-server.sh resume DIR  start a halted server again on its port (another if taken)
#
# Source DIR/env.sh before running the tests: it points unixODBC at DIR/odbcinst.ini and
# DIR/odbc.ini (nothing under /etc is touched) and names the DSN, login and port for the tests.
# initdb refuses to run as root, so as root the cluster belongs to the user "postgres".
# The login may create roles: each test logs in as a role of its own (tests/support/pg_server.h).
# The cluster runs with fsync=off (tests need no durability); OVIK_PG_FSYNC=on at start gives one
# that flushes its commits, as a production server does (kept for resume).
set -eu

usage() {
  echo "usage: $0 start|stop|halt|resume DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2

find_pg_bin() {
  if [ -n "${OVIK_PG_BIN:-}" ] && [ -x "$OVIK_PG_BIN/initdb" ]; then
    echo "$OVIK_PG_BIN"
    return
  fi
  for candidate in /usr/lib/postgresql/15/bin /usr/lib/postgresql/*/bin; do
    if [ -x "$candidate/initdb" ]; then
      echo "$candidate"
      return
    fi
  done
  if command -v initdb >/dev/null 2>&1; then
    dirname "$(command -v initdb)"
    return
  fi
  echo "no PostgreSQL server binaries found (initdb)" >&2
  exit 1
}

# Runs a command as the owner of the cluster.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# shellcheck source=scripts/test-server-common.sh
source "$(dirname "$0")/test-server-common.sh"

write_odbc_files() {
  : >"$dir/odbcinst.ini"
  for entry in "PostgreSQL Unicode:psqlodbcw.so" "PostgreSQL ANSI:psqlodbca.so" \
    "SQLite3:libsqlite3odbc.so" "FreeTDS:libtdsodbc.so" "MariaDB Unicode:libmaodbc.so"; do
    name=${entry%%:*}
    path=$(odbc_driver_path "${entry#*:}")
    if [ -n "$path" ]; then
      printf '[%s]\nDriver=%s\n\n' "$name" "$path" >>"$dir/odbcinst.ini"
    fi
  done
  # BoolsAsChar=0 makes boolean columns booleans instead of text; UseDeclareFetch keeps the
  # driver from loading a whole result into memory before the first row is handed out.
  cat >"$dir/odbc.ini" <<EOF
[ovik_pg]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=citestdb
BoolsAsChar=0
UseDeclareFetch=1
Fetch=1000
EOF
}

start_server() {
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -p $port -c listen_addresses=127.0.0.1 -c fsync=$fsync" start >/dev/null 2>&1
}

# Starts the server on the first port from $port on that is free and can be bound, wrapping round
# the range 54329-54428; leaves $port set to it.
start_on_a_free_port() {
  local tried=0
  while true; do
    while ! port_is_free "$port" && [ "$tried" -lt 100 ]; do
      port=$((port >= 54428 ? 54329 : port + 1))
      tried=$((tried + 1))
    done
    if [ "$tried" -ge 100 ]; then
      echo "no free port between 54329 and 54428" >&2
      exit 1
    fi
    rm -f "$dir/server.log"
    if start_server; then
      return 0
    fi
    if ! grep -q "could not bind" "$dir/server.log" 2>/dev/null; then
      cat "$dir/server.log" >&2
      exit 1
    fi
    port=$((port >= 54428 ? 54329 : port + 1))
    tried=$((tried + 1))
  done
}

start() {
  pgbin=$(find_pg_bin)
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
    echo "$dir exists and is not empty" >&2
    exit 1
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  case "${OVIK_PG_FSYNC:-off}" in
  on | off) fsync=${OVIK_PG_FSYNC:-off} ;;
  *)
    echo "OVIK_PG_FSYNC must be on or off" >&2
    exit 2
    ;;
  esac
  echo "$fsync" >"$dir/fsync"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres:postgres "$dir"
    # The owner must be able to reach DIR through its parents (mktemp folders are private).
    chmod 0755 "$dir"
  fi

  as_owner "$pgbin/initdb" -D "$dir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
    --no-sync -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    exit 1
  }
  # A port that looked free may be taken by a cluster starting beside this one (other test runs,
  # tests that start clusters of their own): then the next port is tried. The search begins at a
  # random port of the range, so that a cluster halted for a while (its port free) keeps it.
  port=$((54329 + RANDOM % 100))
  start_on_a_free_port
  as_owner "$pgbin/psql" -h "$dir" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
    -c "CREATE ROLE citest LOGIN CREATEROLE PASSWORD 'citest'" -c "CREATE DATABASE citestdb OWNER citest"

  write_odbc_files
  cat >"$dir/env.sh" <<EOF
export ODBCSYSINI='$dir'
export ODBCINI='$dir/odbc.ini'
export OVIK_TEST_PG_DSN=ovik_pg
export OVIK_TEST_PG_USER=citest
export OVIK_TEST_PG_PASSWORD=citest
export OVIK_TEST_PG_PORT=$port
export OVIK_TEST_PG_DIR='$dir'
export OVIK_TEST_PG_BIN='$pgbin'
EOF
  echo "PostgreSQL on 127.0.0.1:$port; run: . $dir/env.sh"
}

stop() {
  if [ ! -d "$dir" ]; then
    return 0
  fi
  pgbin=$(find_pg_bin)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null || true
  fi
  rm -rf "$dir"
}

# For tests of a server that goes away and comes back: only ever on a cluster of the test's own.
halt() {
  pgbin=$(find_pg_bin)
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
}

resume() {
  pgbin=$(find_pg_bin)
  port=$(sed -n "s/^export OVIK_TEST_PG_PORT=//p" "$dir/env.sh")
  fsync=$(cat "$dir/fsync" 2>/dev/null || echo off)
  rm -f "$dir/server.log"
  if start_server; then return 0; fi
  if ! grep -q "could not bind" "$dir/server.log" 2>/dev/null; then
    cat "$dir/server.log" >&2
    exit 1
  fi
  # Another cluster took the port while this one was halted: move to a free one and say so in
  # env.sh and odbc.ini, where clients read it.
  local old=$port
  start_on_a_free_port
  sed -i "s/^export OVIK_TEST_PG_PORT=$old\$/export OVIK_TEST_PG_PORT=$port/" "$dir/env.sh"
  sed -i "s/^Port=$old\$/Port=$port/" "$dir/odbc.ini"
}

case "$action" in
start) start ;;
stop) stop ;;
halt) halt ;;
resume) resume ;;
*) usage ;;
esac
