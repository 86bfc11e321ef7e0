#!/bin/sh
# Runs the example store program's self-test in a copy of the build's application folder, so that
# its databases, log and trace files are its own.
#   run_example.sh BUILD_DIR normal|broken|postgresql|mariadb
# "broken" leaves settings out, and the program must show the library's start-up notice;
# "postgresql" and "mariadb" put the application database on the test server of scripts/
# pg-test-server.sh or mariadb-test-server.sh (its env.sh sourced), in a schema or database of the
# run's own, and exit 77 (skipped) without one unless OVIK_REQUIRE_PG or OVIK_REQUIRE_MARIADB is 1.
set -eu
build=$1
mode=$2
work=$(mktemp -d /tmp/ovik-store.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/bin" "$work/app/ini" "$work/app/data" "$build/screenshots"
cp -P "$build"/app/bin/lib*.so* "$build"/app/bin/*.manifest "$build"/app/bin/store-order "$work/app/bin/"
cp -r "$build/app/sql" "$work/app/sql"
cp "$build/app/ini/menu.ini" "$work/app/ini/"
# Empty files are empty SQLite databases: nothing depends on whether a missing one is created.
: >"$work/app/data/app.db"
: >"$work/app/data/master.db"
: >"$work/app/data/store.db"
data="$work/app/data"

if [ "$mode" = broken ]; then
  # No account items, and an application database without a provider.
  printf '%s\r\n' "[database]" "server=$data/app.db" "transaction_log=true" \
    >"$work/app/ini/Brindlemark.ini"
  "$work/app/bin/store-order" --self-test --expect-startup-notice --screenshot-dir "$build/screenshots"
  exit 0
fi

# The application database, and how to count the order lines written there.
database="provider=SQLite|server=$data/app.db|database_user=|password=|database_name=main"
count_lines=""
shots="$build/screenshots"
name="store_order_$$"
case $mode in
  postgresql)
    if [ -z "${OVIK_TEST_PG_DSN:-}" ]; then
      echo "no PostgreSQL test server: run scripts/pg-test-server.sh"
      [ "${OVIK_REQUIRE_PG:-}" = 1 ] && exit 1
      exit 77
    fi
    export PGPASSWORD="$OVIK_TEST_PG_PASSWORD"
    sql() { psql -X -q -t -A -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$OVIK_TEST_PG_PORT" -U "$OVIK_TEST_PG_USER" -d citestdb -c "$1"; }
    # A role whose search path is a schema of its own: its tables meet no other test's.
    sql "create role $name login password '$name'; grant $name to $OVIK_TEST_PG_USER;
         create schema $name authorization $name; alter role $name set search_path to $name"
    trap 'sql "drop owned by $name cascade; drop role $name" >/dev/null || true; rm -rf "$work"' EXIT
    database="provider=MSDASQL|server=$OVIK_TEST_PG_DSN|database_user=$name|password=$name|database_name=citestdb"
    count_lines="select count(*) from $name.order_lines"
    shots="$build/screenshots/postgresql"
    ;;
  mariadb)
    if [ -z "${OVIK_TEST_MARIADB_DSN:-}" ]; then
      echo "no MariaDB test server: run scripts/mariadb-test-server.sh"
      [ "${OVIK_REQUIRE_MARIADB:-}" = 1 ] && exit 1
      exit 77
    fi
    sql() {
      MYSQL_PWD="$OVIK_TEST_MARIADB_PASSWORD" mariadb -N -B -h 127.0.0.1 -P "$OVIK_TEST_MARIADB_PORT" \
        -u "$OVIK_TEST_MARIADB_USER" -e "$1"
    }
    sql "create database $name"
    trap 'sql "drop database $name" >/dev/null || true; rm -rf "$work"' EXIT
    database="provider=MSDASQL|server=$OVIK_TEST_MARIADB_DSN|database_user=$OVIK_TEST_MARIADB_USER"
    database="$database|password=$OVIK_TEST_MARIADB_PASSWORD|database_name=$name"
    count_lines="select count(*) from $name.order_lines"
    shots="$build/screenshots/mariadb"
    ;;
esac
mkdir -p "$shots"

old_ifs=$IFS
IFS='|'
# shellcheck disable=SC2086 # the keys of the database section, one word each
set -- $database
IFS=$old_ifs
printf '%s\r\n' \
  "[database]" "$@" "transaction_log=true" \
  "[master_database]" "provider=SQLite" "server=$data/master.db" "database_user=" "password=" \
  "database_name=main" "transaction_log=false" \
  "[store_database]" "provider=SQLite" "database_user=" "password=" "database_name=main" "transaction_log=false" \
  "[accountitem]" "accitem_store=1101" "accitem_petty=1102" \
  "[headoffice]" "headoffice_1=100" \
  >"$work/app/ini/Brindlemark.ini"
"$work/app/bin/store-order" --self-test --screenshot-dir "$shots"
if [ -n "$count_lines" ]; then
  lines=$(sql "$count_lines")
  [ "$lines" = 2 ] || { echo "the server holds $lines order lines, not 2" >&2; exit 1; }
  echo "the server holds the 2 order lines"
fi
# The order lines went through the trace, each with the window's name as the active form.
grep -q "active form : frmOrderEntry  \*/  insert into order_lines" "$work"/app/bin/transaction_log/*.log
echo "the trace names the order-entry window"
