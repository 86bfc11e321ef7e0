#!/bin/sh
# Runs the example store program's self-test in a copy of the build's application folder, so that
# its databases, log and trace files are its own.
#   run_example.sh BUILD_DIR normal|broken
# "broken" leaves settings out, and the program must show the library's start-up notice.
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

printf '%s\r\n' \
  "[database]" "provider=SQLite" "server=$data/app.db" "database_user=" "password=" "database_name=main" \
  "transaction_log=true" \
  "[master_database]" "provider=SQLite" "server=$data/master.db" "database_user=" "password=" \
  "database_name=main" "transaction_log=false" \
  "[store_database]" "provider=SQLite" "database_user=" "password=" "database_name=main" "transaction_log=false" \
  "[accountitem]" "accitem_store=1101" "accitem_petty=1102" \
  "[headoffice]" "headoffice_1=100" \
  >"$work/app/ini/Brindlemark.ini"
"$work/app/bin/store-order" --self-test --screenshot-dir "$build/screenshots"
# The order lines went through the trace, each with the window's name as the active form.
grep -q "active form : frmOrderEntry  \*/  insert into order_lines" "$work"/app/bin/transaction_log/*.log
echo "the trace names the order-entry window"
