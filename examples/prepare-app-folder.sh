#!/bin/sh
# Prepares an application folder of its own for the examples, from an installed one (or from the
# build tree's build/app):
#   bin/   the installed library, master module and manifest linked, the programs copied (a program
#          finds the library through $ORIGIN, the folder of its real file; the library reads ../ini/
#          beside the path it was loaded from, so a link is enough for it)
#   ini/   Brindlemark.ini and menu.ini made from the installed templates
#   sql/   a link to the installed wkLog definitions
#   data/  the SQLite databases the template names: app.db with the table wkLog, master.db, store.db
#
#   examples/prepare-app-folder.sh /opt/brindlemark /tmp/my-app
#
# NEW_FOLDER must be missing or empty. The databases are made with sqlite3, or python3 without it.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 INSTALLED_APP_FOLDER NEW_FOLDER" >&2
  exit 2
fi
from=$(cd "$1" && pwd)
for file in bin/libOvik2Environment.so.2 ini/Brindlemark.ini.template ini/menu.ini.template sql/wkLog.sqlite.sql; do
  if [ ! -e "$from/$file" ]; then
    echo "$0: $from/$file is missing: $from is no installed application folder" >&2
    exit 1
  fi
done
mkdir -p "$2"
to=$(cd "$2" && pwd)
if [ -n "$(ls -A "$to")" ]; then
  echo "$0: $to is not empty" >&2
  exit 1
fi

mkdir "$to/bin" "$to/ini" "$to/data"
for file in "$from"/bin/*; do
  name=${file##*/}
  if [ -d "$file" ]; then
    continue  # log/ and transaction_log/ are the installed folder's own
  fi
  case $name in
    *.so | *.so.* | *.manifest) ln -s "$file" "$to/bin/$name" ;;
    *) cp -p "$file" "$to/bin/$name" ;;
  esac
done
cp "$from/ini/Brindlemark.ini.template" "$to/ini/Brindlemark.ini"
cp "$from/ini/menu.ini.template" "$to/ini/menu.ini"
ln -s "$from/sql" "$to/sql"

# An empty file is an empty SQLite database; the library never creates a missing one.
: >"$to/data/master.db"
: >"$to/data/store.db"
if command -v sqlite3 >/dev/null 2>&1; then
  sqlite3 "$to/data/app.db" <"$from/sql/wkLog.sqlite.sql"
else
  python3 -c 'import sqlite3, sys
with sqlite3.connect(sys.argv[1]) as db:
    db.executescript(open(sys.argv[2], encoding="utf-8").read())' "$to/data/app.db" "$from/sql/wkLog.sqlite.sql"
fi
echo "prepared $to from $from"
