#!/bin/sh
# `cmake --install` with a prefix given only when installing and a staging DESTDIR (as CPack
# installs): every file lies where an application folder and a client expect it, the files
# written at install time name the prefix and never the staging folder, and a client asking for
# version 2 accepts this version and no other major one.
#   install_layout_test.sh BUILD_DIR APPDIR PYTHONDIR LIBDIR INCLUDEDIR   (the configured values)
set -eu
build=$1 appdir=$2 pythondir=$3 libdir=$4 includedir=$5
prefix=/srv/ovik-install-test
stage=$(mktemp -d /tmp/ovik-install-test.XXXXXX)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
under_prefix() {
  case $1 in
    /*) echo "$1" ;;
    .) echo "$prefix" ;;
    *) echo "$prefix/$1" ;;
  esac
}
app=$(under_prefix "$appdir")
python=$(under_prefix "$pythondir")
cmake_dir=$(under_prefix "$libdir")/cmake/Ovik2Environment

DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/libOvik2Environment.so.2 bin/libOvik2Environment.so bin/libOvik2Master.so.2 \
  bin/Ovik2Environment.manifest bin/ovik ini/Brindlemark.ini.template ini/menu.ini.template \
  sql/wkLog.sqlite.sql sql/wkLog.postgresql.sql sql/wkLog.sqlserver.sql sql/wkLog.mariadb.sql; do
  [ -e "$stage$app/$file" ] || fail "the application folder lacks $file"
done
for file in ini/Brindlemark.ini ini/menu.ini; do
  [ ! -e "$stage$app/$file" ] || fail "the install would replace a site's $file"
done
for file in "$(under_prefix "$includedir")/ovik/version.h" "$(under_prefix "$includedir")/ovik/ovik_c.h" \
  "$cmake_dir/Ovik2EnvironmentConfig.cmake" "$cmake_dir/Ovik2EnvironmentTargets.cmake" \
  "$python/ovik/__init__.py"; do
  [ -e "$stage$file" ] || fail "the install lacks $file"
done
[ ! -e "$stage$python/ovik/__pycache__" ] || fail "compiled Python modules were installed"
readelf -d "$stage$app/bin/ovik" | grep -q 'R.*PATH.*\[\$ORIGIN\]' || fail "ovik does not find the library beside it"

pc=$stage$(under_prefix "$libdir")/pkgconfig/ovik2environment.pc
grep -qx "prefix=$prefix" "$pc" || fail "ovik2environment.pc: $(grep '^prefix=' "$pc")"
grep -qx "libdir=$app/bin" "$pc" || fail "ovik2environment.pc: $(grep '^libdir=' "$pc")"
grep -q '^Cflags:.* -std=c++20' "$pc" || fail "ovik2environment.pc asks for no C++20"
grep -q 'std=' "${pc%.pc}-c.pc" && fail "ovik2environment-c.pc imposes a language standard"
grep -qx "LIBRARY = \"$app/bin/libOvik2Environment.so.2\"" "$stage$python/ovik/_install.py" ||
  fail "the Python package looks for: $(grep LIBRARY "$stage$python/ovik/_install.py")"
if grep -rlI "$stage" "$stage" >/dev/null; then fail "the staging folder is named in $(grep -rlI "$stage" "$stage")"; fi

cat >"$stage/version.cmake" <<CMAKE
foreach(asked 2 2.0 1 3)
  set(PACKAGE_FIND_VERSION \${asked})
  string(REPLACE "." ";" parts \${asked})
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  unset(PACKAGE_VERSION_COMPATIBLE)
  include("$stage$cmake_dir/Ovik2EnvironmentConfigVersion.cmake")
  message("\${asked}:\${PACKAGE_VERSION_COMPATIBLE}")
endforeach()
CMAKE
answers=$(cmake -DCMAKE_SIZEOF_VOID_P=8 -P "$stage/version.cmake" 2>&1 | tr '\n' ' ')
[ "$answers" = "2:TRUE 2.0:TRUE 1:FALSE 3:FALSE " ] || fail "version compatibility: $answers"

[ "$failures" -eq 0 ] && echo "install layout as expected under $prefix (application folder $app)"
exit "$failures"
