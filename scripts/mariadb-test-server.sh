#!/bin/bash
# Throwaway MariaDB server for the database tests, reached through unixODBC.
#
#   scripts/mariadb-test-server.sh start DIR   create DIR, start a server on 127.0.0.1, write DIR/env.sh
#   scripts/mariadb-test-server.sh stop DIR    stop that server and remove DIR
#   scripts/mariadb-test-server.sh halt DIR    stop the server (its sessions are ended), keep DIR
#   scripts/mariadb-test-server.sh resume DIR  start a halted server again on its port (another if taken)
#
# Source DIR/env.sh before running the tests: it points unixODBC at DIR/odbcinst.ini and
# DIR/odbc.ini (nothing under /etc is touched) and names the DSN, login and port for the tests.
# Started while another test server's env.sh is in force (ODBCSYSINI set, as scripts/test.sh does
# with PostgreSQL's), DIR's files take over that folder's drivers and DSNs too, so sourcing
# DIR/env.sh after the other keeps both servers reachable.
# The login may create databases and logins: each test gets one of each (tests/support/mariadb_server.h).
# Commits are not flushed to disk (tests need no durability).
set -eu

usage() {
  echo "usage: $0 start|stop|halt|resume DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2

# Puts the folder of mariadbd first on PATH, its clients (mariadb, mariadb-admin) beside it or on PATH.
find_server() {
  for candidate in "${OVIK_MARIADB_BIN:-}" /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
    if [ -n "$candidate" ] && [ -x "$candidate/mariadbd" ]; then
      bin=$candidate
      PATH="$bin:$PATH:/usr/sbin:/usr/bin"
      return
    fi
  done
  echo "no MariaDB server binaries found (mariadbd)" >&2
  exit 1
}

# shellcheck source=scripts/test-server-common.sh
source "$(dirname "$0")/test-server-common.sh"

# The sections of an ini file ($1) whose names are not among those of $2 ("[name]" lines).
sections_not_in() {
  awk -v have="$(printf '%s' "$2" | tr '\n' '\001')" '
    BEGIN { n = split(have, names, "\001"); for (i = 1; i <= n; i++) if (names[i] != "") seen[names[i]] = 1 }
    /^\[[^]]*\]/ { match($0, /^\[[^]]*\]/); keep = !(substr($0, RSTART, RLENGTH) in seen) }
    keep { print }' "$1"
}

write_odbc_files() {
  : >"$dir/odbcinst.ini"
  for entry in "MariaDB Unicode:libmaodbc.so" "PostgreSQL Unicode:psqlodbcw.so" "PostgreSQL ANSI:psqlodbca.so" \
    "SQLite3:libsqlite3odbc.so" "FreeTDS:libtdsodbc.so"; do
    name=${entry%%:*}
    path=$(odbc_driver_path "${entry#*:}")
    if [ -n "$path" ]; then
      printf '[%s]\nDriver=%s\n\n' "$name" "$path" >>"$dir/odbcinst.ini"
    fi
  done
  cat >"$dir/odbc.ini" <<EOF
[ovik_maria]
Driver=MariaDB Unicode
Server=127.0.0.1
Port=$port

EOF
  # Another test server's folder in force: its drivers and DSNs stay reachable from this one.
  local other=${ODBCSYSINI:-}
  if [ -n "$other" ] && [ "$other" != "$dir" ]; then
    local file names
    for file in odbcinst.ini odbc.ini; do
      [ -f "$other/$file" ] || continue
      names=$(grep -o '^\[[^]]*\]' "$dir/$file" || true)
      sections_not_in "$other/$file" "$names" >>"$dir/$file"
    done
  fi
  return 0
}

admin() {
  mariadb-admin --no-defaults -S "$dir/m.sock" -uroot "$@"
}

# Starts the server on $port and waits until it answers; fails when it ended (a port taken shows
# as "Address already in use" in err.log) or did not answer within 60 s.
start_server() {
  rm -f "$dir/err.log"
  setsid "$bin/mariadbd" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
    --port="$port" --bind-address=127.0.0.1 --socket="$dir/m.sock" --pid-file="$dir/m.pid" \
    --log-error="$dir/err.log" --skip-log-bin --skip-name-resolve \
    --character-set-server=utf8mb4 --max-connections=500 \
    --innodb-flush-log-at-trx-commit=0 --skip-innodb-doublewrite --innodb-buffer-pool-size=64M \
    --innodb-log-file-size=16M </dev/null >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 1 600); do
    if admin --connect-timeout=2 ping >/dev/null 2>&1; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null || true
      return 1
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "the MariaDB server did not answer within 60 s" >>"$dir/err.log"
  return 1
}

port_was_taken() {
  grep -q "Address already in use\|Can't start server: Bind" "$dir/err.log" 2>/dev/null
}

# Starts the server on the first port from $port on that is free and can be bound, wrapping round
# the range 53306-53405; leaves $port set to it.
start_on_a_free_port() {
  local tried=0
  while true; do
    while ! port_is_free "$port" && [ "$tried" -lt 100 ]; do
      port=$((port >= 53405 ? 53306 : port + 1))
      tried=$((tried + 1))
    done
    if [ "$tried" -ge 100 ]; then
      echo "no free port between 53306 and 53405" >&2
      exit 1
    fi
    if start_server; then
      return 0
    fi
    if ! port_was_taken; then
      cat "$dir/err.log" >&2
      exit 1
    fi
    port=$((port >= 53405 ? 53306 : port + 1))
    tried=$((tried + 1))
  done
}

start() {
  find_server
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
    echo "$dir exists and is not empty" >&2
    exit 1
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  mariadb-install-db --no-defaults --datadir="$dir/data" --user="$(id -un)" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 || {
    cat "$dir/install.log" >&2
    exit 1
  }
  # A port that looked free may be taken by a server starting beside this one: then the next
  # port is tried. The search begins at a random port of the range, as pg-test-server.sh's does.
  port=$((53306 + RANDOM % 100))
  start_on_a_free_port
  mariadb --no-defaults -S "$dir/m.sock" -uroot -e \
    "CREATE USER 'citest'@'%' IDENTIFIED BY 'citest';
     GRANT ALL ON *.* TO 'citest'@'%' WITH GRANT OPTION;
     CREATE DATABASE citestdb;"

  write_odbc_files
  cat >"$dir/env.sh" <<EOF
export ODBCSYSINI='$dir'
export ODBCINI='$dir/odbc.ini'
export OVIK_TEST_MARIADB_DSN=ovik_maria
export OVIK_TEST_MARIADB_USER=citest
export OVIK_TEST_MARIADB_PASSWORD=citest
export OVIK_TEST_MARIADB_DATABASE=citestdb
export OVIK_TEST_MARIADB_PORT=$port
export OVIK_TEST_MARIADB_DIR='$dir'
EOF
  echo "MariaDB on 127.0.0.1:$port; run: . $dir/env.sh"
}

stop_server() {
  if [ -S "$dir/m.sock" ] || [ -f "$dir/m.pid" ]; then
    admin shutdown >/dev/null 2>&1 || true
  fi
  # A server that does not answer on its socket any more is ended through its pid file.
  if [ -f "$dir/m.pid" ]; then
    local pid
    pid=$(cat "$dir/m.pid" 2>/dev/null || true)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
  fi
}

stop() {
  if [ ! -d "$dir" ]; then
    return 0
  fi
  find_server
  stop_server
  rm -rf "$dir"
}

# For tests of a server that goes away and comes back: only ever on a server of the test's own.
halt() {
  find_server
  admin shutdown >/dev/null
}

resume() {
  find_server
  port=$(sed -n "s/^export OVIK_TEST_MARIADB_PORT=//p" "$dir/env.sh")
  if start_server; then return 0; fi
  if ! port_was_taken; then
    cat "$dir/err.log" >&2
    exit 1
  fi
  # Another server took the port while this one was halted: move to a free one and say so in
  # env.sh and odbc.ini, where clients read it.
  local old=$port
  start_on_a_free_port
  sed -i "s/^export OVIK_TEST_MARIADB_PORT=$old\$/export OVIK_TEST_MARIADB_PORT=$port/" "$dir/env.sh"
  sed -i "0,/^Port=$old\$/s//Port=$port/" "$dir/odbc.ini"
}

case "$action" in
start) start ;;
stop) stop ;;
halt) halt ;;
resume) resume ;;
*) usage ;;
esac
