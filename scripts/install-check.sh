#!/usr/bin/env bash
# Checks the library as its users get it, in a build of its own (build-install/: no tests):
#  1. installs into a temporary prefix, builds every example against it through find_package and
#     through pkg-config and runs each on an application folder prepared from the installed
#     templates, runs the Python package's tests on the installed package, and compiles a client
#     that takes the source tree in with add_subdirectory;
#  2. builds the Debian packages (cpack) and checks them with lintian (no error) and their
#     Installed-Size, installs them with dpkg -i, checks the group, the settings' and log folders'
#     owners and modes and the upgrade notice of missing keys, builds an example and a GTK client
#     against the installed development packages and runs dpkg-shlibdeps on the example, runs the
#     Python tests with Debian's python3 and `ovik doctor` through /usr/bin/ovik on /opt/brindlemark,
#     and purges the packages again.
# The build uses the flags of dpkg-buildflags with all hardening on, as the packages are built.
# Step 2 needs root, dpkg-dev, lintian and a machine where the packages, /opt/brindlemark and the
# group ovik are not there; it is skipped with --no-packages. Nothing is left behind but
# build-install/.
#
#   scripts/install-check.sh [--no-packages]
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
packages=1
if [ "${1:-}" = "--no-packages" ]; then packages=0; fi

build=build-install
app=/opt/brindlemark
group=ovik
debs=(ovik2environment ovik2environment-dev python3-ovik ovik2environment-examples ovik2environment-gtk
  ovik2environment-gtk-dev)
work=$(mktemp -d /tmp/ovik-install-check.XXXXXX)
installed_debs=()
made_app_data=0

cleanup() {
  local status=$?
  if ((${#installed_debs[@]})); then
    echo "== removing the packages after a failure"
    dpkg --purge "${installed_debs[@]}" >/dev/null || true
  fi
  if ((made_app_data)); then rm -rf "$app/data"; rmdir "$app" 2>/dev/null || true; fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

phase_start=$SECONDS
phase() {
  echo "== $* (after $((SECONDS - phase_start)) s)"
}
fail() {
  echo "install-check: $*" >&2
  exit 1
}

# Whether dpkg knows the package as anything but not installed.
deb_present() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "${status##* }" != not-installed ]
}

# dpkg refuses at once while another package tool runs; wait for it instead.
dpkg_retry() {
  local try
  for try in $(seq 1 60); do
    if dpkg "$@" 2>"$work/dpkg.err"; then return 0; fi
    grep -q "lock" "$work/dpkg.err" || { cat "$work/dpkg.err" >&2; return 1; }
    sleep 5
  done
  cat "$work/dpkg.err" >&2
  return 1
}

# A GTK 3 client of the desktop module, built through find_package(... COMPONENTS Gtk) and
# through pkg-config against the installed packages the environment names, and run (without a
# display both calls decline; the run shows that the loader finds the module).
gtk_client() {
  local dir=$1
  mkdir -p "$dir"
  cat >"$dir/main.cpp" <<'EOF2'
#include <gtk/gtk.h>
#include "ovik/gtk.h"
int main(int argc, char** argv) {
  if (gtk_init_check(&argc, &argv)) ovik::gtk::enable();
  return 0;
}
EOF2
  cat >"$dir/CMakeLists.txt" <<'EOF2'
cmake_minimum_required(VERSION 3.20)
project(gtk_client CXX)
find_package(Ovik2Environment 2 REQUIRED COMPONENTS Gtk)
add_executable(gtk_client main.cpp)
target_link_libraries(gtk_client PRIVATE Ovik2Environment::Gtk)
EOF2
  cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
  cmake --build "$dir/build" >/dev/null
  env -u DISPLAY -u WAYLAND_DISPLAY "$dir/build/gtk_client" || fail "the GTK client built through find_package failed"
  # shellcheck disable=SC2046 # pkg-config's words are the compiler's arguments
  c++ -Wall -Wextra -Werror "$dir/main.cpp" -o "$dir/gtk_client_pc" $(pkg-config --cflags --libs ovik2environment-gtk)
  env -u DISPLAY -u WAYLAND_DISPLAY "$dir/gtk_client_pc" || fail "the GTK client built through pkg-config failed"
  echo "GTK client (find_package COMPONENTS Gtk, pkg-config ovik2environment-gtk): passed"
}

scripts/setup.sh
phase "building the library in $build/"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Debian's flags with every hardening feature (bind now and fortify among them), given on the
# command line so that they replace whatever an earlier run left in the cache.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DOVIK_WERROR=ON -DOVIK_TESTS=OFF -DOVIK_BENCH=OFF "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_INSTALL_PREFIX=/opt/brindlemark -DOVIK_INSTALL_APPDIR=. >/dev/null
unset DEB_BUILD_MAINT_OPTIONS
cmake --build "$build" -j"$(nproc)" >/dev/null
gtk_built=0
if grep -q '^GTK3_FOUND:INTERNAL=1' "$build/CMakeCache.txt"; then gtk_built=1; fi

version=$(sed -n 's/^project(Ovik2Environment VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# A virtual environment of a python3 installs the package from the application folder's wheel,
# offline; it finds the installed library by the path written into it and knows its version.
python_in_venv() { # PYTHON APP_FOLDER
  rm -rf "$work/venv"
  "$1" -m venv "$work/venv"
  "$work/venv/bin/pip" install --quiet --disable-pip-version-check --no-cache-dir --no-index \
    --find-links "$2/python" ovik
  (cd /tmp && env -u OVIK_PYTHON_LIBRARY -u PYTHONPATH "$work/venv/bin/python" -c '
import importlib.metadata, sys, ovik
app, version = sys.argv[1:]
assert importlib.metadata.version("ovik") == version, importlib.metadata.version("ovik")
with ovik.create("OvikEnvironment.clsSystemInfo") as si:
    assert si.GetIniDir() == app + "/bin/../ini/", si.GetIniDir()
assert ovik.library_path() == app + "/bin/libOvik2Environment.so.2", ovik.library_path()
' "$2" "$version") || fail "the package installed into a virtual environment of $1 does not work"
  echo "virtual environment of $1: passed"
}

# ---- 1. a temporary prefix
prefix=$work/prefix
phase "installing into the temporary prefix $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/libOvik2Environment.so.2 bin/libOvik2Environment.so bin/libOvik2Master.so.2 \
  bin/Ovik2Environment.manifest bin/ovik ini/Brindlemark.ini.template ini/menu.ini.template \
  sql/wkLog.sqlite.sql include/ovik/version.h include/ovik/ovik_c.h \
  lib/cmake/Ovik2Environment/Ovik2EnvironmentConfig.cmake \
  lib/cmake/Ovik2Environment/Ovik2EnvironmentConfigVersion.cmake \
  lib/pkgconfig/ovik2environment.pc lib/pkgconfig/ovik2environment-c.pc \
  lib/python3/dist-packages/ovik/__init__.py lib/python3/dist-packages/ovik/_install.py \
  share/man/man1/ovik.1.gz share/bash-completion/completions/ovik \
  "python/ovik-$version-py3-none-any.whl" "lib/python3/dist-packages/ovik-$version.dist-info/METADATA"; do
  [ -e "$prefix/$file" ] || fail "the install lacks $file"
done
[ ! -e "$prefix/ini/Brindlemark.ini" ] || fail "the install ships a site's Brindlemark.ini"
[ "$("$prefix/bin/ovik" --version)" = "ovik $version" ] ||
  fail "ovik --version does not print the project's version"

phase "examples through find_package (the compiler's default language standard)"
cmake -S examples -B "$work/find-package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/find-package" >/dev/null
ctest --test-dir "$work/find-package" --output-on-failure -j"$(nproc)"

phase "examples through pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
pc_app=$(pkg-config --variable=appdir ovik2environment)
[ "$pc_app" = "$prefix" ] || fail "pkg-config names the application folder $pc_app"
examples/build-with-pkg-config.sh "$work/pkg-config" >/dev/null
for example in early_bound late_bound database_errors c; do
  examples/run-example.sh "$pc_app" "$work/pkg-config/example_$example" >"$work/run.log" 2>&1 ||
    { cat "$work/run.log"; fail "example_$example built through pkg-config failed"; }
  echo "example_$example (pkg-config): passed"
done
if ((gtk_built)); then
  phase "a GTK client against the temporary prefix"
  CMAKE_PREFIX_PATH=$prefix gtk_client "$work/gtk-prefix"
fi
unset PKG_CONFIG_PATH

phase "the Python package's tests on the installed package"
python_dir=$prefix/lib/python3/dist-packages
found=$(cd /tmp && PYTHONPATH=$python_dir python3 -c 'import ovik; print(ovik._capi.find_library())')
[ "$found" = "$prefix/bin/libOvik2Environment.so.2" ] || fail "the installed package looks for $found"
(cd /tmp && env -u OVIK_PYTHON_LIBRARY PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest discover -s "$source/python/tests" -t "$source/python/tests")
phase "the Python package in virtual environments"
for python in python3 /usr/bin/python3; do python_in_venv "$python" "$prefix"; done
[ "$(cd /tmp && PYTHONPATH=$python_dir python3 -c 'import importlib.metadata; print(importlib.metadata.version("ovik"))')" = "$version" ] ||
  fail "the installed package's dist-info does not give the project's version"

phase "a client that takes the source tree in with add_subdirectory"
mkdir -p "$work/subdirectory"
cp examples/cpp/early_bound.cpp "$work/subdirectory/"
cat >"$work/subdirectory/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(client CXX)
add_subdirectory("$source" ovik)
add_executable(client early_bound.cpp)
target_link_libraries(client PRIVATE Ovik2Environment::Ovik2Environment)
EOF
cmake -S "$work/subdirectory" -B "$work/subdirectory/build" -G Ninja >/dev/null
grep -q '^OVIK_TESTS:BOOL=OFF' "$work/subdirectory/build/CMakeCache.txt" || fail "a subproject builds the tests"
grep -q '^CMAKE_INSTALL_PREFIX:PATH=/usr/local' "$work/subdirectory/build/CMakeCache.txt" ||
  fail "a subproject changes its parent's install prefix"
# The client's own source is enough to show what the target brings; the library is built above.
cmake --build "$work/subdirectory/build" --target CMakeFiles/client.dir/early_bound.cpp.o >/dev/null

if ((!packages)); then
  phase "done (without the Debian packages)"
  exit 0
fi

# ---- 2. the Debian packages
[ "$(id -u)" -eq 0 ] || fail "the Debian packages are installed as root (or pass --no-packages)"
for deb in "${debs[@]}"; do
  if deb_present "$deb"; then fail "$deb is installed on this machine already; this check installs and purges its own"; fi
done
[ ! -e "$app" ] || fail "$app exists on this machine already; this check installs and purges its own"
if getent group "$group" >/dev/null; then fail "the group $group exists on this machine already; this check makes and removes its own"; fi

phase "building the Debian packages"
# The maintainer is the project's default (a cache of an older default named root@localhost).
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DOVIK_INSTALL_APPDIR="$app" -UOVIK_PACKAGE_MAINTAINER >/dev/null
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
files=()
for deb in "${debs[@]}"; do
  file=$(ls "$build"/packages/"${deb}"_*.deb 2>/dev/null || true)
  if [ -z "$file" ] && ((!gtk_built)) && [[ $deb == ovik2environment-gtk* ]]; then continue; fi
  [ -n "$file" ] || fail "no package $deb"
  files+=("$file")
  echo "$(basename "$file"): $(dpkg-deb -f "$file" Depends)"
done
# Listings go through files: grep -q stops reading early, and pipefail would count the writer's
# broken pipe as a failure.
dpkg-deb -f "$build"/packages/ovik2environment_*.deb Depends >"$work/depends"
dpkg-deb -c "$build"/packages/ovik2environment_*.deb >"$work/contents"
grep -q libsqlite3 "$work/depends" ||
  fail "the runtime package declares no shared-library dependencies"
grep -q "\./opt/brindlemark/ini/Brindlemark.ini.template" "$work/contents" ||
  fail "the runtime package lacks the settings template"
if grep -q "/ini/Brindlemark.ini$" "$work/contents"; then
  fail "the runtime package ships a site's Brindlemark.ini"
fi
dpkg-deb -I "$build"/packages/ovik2environment_*.deb shlibs >"$work/shlibs" || fail "the runtime package has no shlibs file"
grep -q "^libOvik2Environment 2 ovik2environment (>= " "$work/shlibs" || fail "the shlibs file lacks libOvik2Environment"
if ((gtk_built)); then
  dpkg-deb -c "$build"/packages/ovik2environment-gtk_*.deb >"$work/contents"
  if grep -q "store-order" "$work/contents"; then fail "the GTK package holds the example store program"; fi
fi

# Installed-Size as dpkg counts it: each file its size in KiB rounded up, each folder and link 1.
for file in "${files[@]}"; do
  declared=$(dpkg-deb -f "$file" Installed-Size)
  counted=$(dpkg-deb --fsys-tarfile "$file" | tar -tv --numeric-owner | awk '$6 == "./" { next }
    /^-/ { total += int(($3 + 1023) / 1024); next } { total += 1 } END { print total + 0 }')
  echo "$(basename "$file"): Installed-Size $declared KiB, contents $counted KiB"
  [ "$declared" = "$counted" ] || fail "$(basename "$file") declares Installed-Size $declared, its contents take $counted"
done

phase "lintian on the packages"
lintian_status=0
lintian --tag-display-limit 0 "${files[@]}" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v "^running with root privileges" "$work/lintian" || true
echo "lintian: $(grep -c '^E:' "$work/lintian") errors, $(grep -c '^W:' "$work/lintian") warnings"
((lintian_status == 0)) || fail "lintian failed (status $lintian_status)"

phase "installing them with dpkg -i"
for deb in "${debs[@]}"; do installed_debs+=("$deb"); done
dpkg_retry -i "${files[@]}" >/dev/null
[ -f "$app/ini/Brindlemark.ini" ] || fail "the runtime package made no Brindlemark.ini from its template"
getent group "$group" >/dev/null || fail "the runtime package made no group $group"
# The settings hold passwords: the group reads them, others not. The group shares the log folders.
expect_mode() {
  [ "$(stat -c '%a %U:%G' "$2")" = "$1" ] || fail "$2 is $(stat -c '%a %U:%G' "$2"), not $1"
}
stat -c '%A %a %U:%G %n' "$app/ini/Brindlemark.ini" "$app/ini/menu.ini" "$app/bin/log" "$app/bin/transaction_log"
expect_mode "640 root:$group" "$app/ini/Brindlemark.ini"
expect_mode "2775 root:$group" "$app/bin/log"
expect_mode "2775 root:$group" "$app/bin/transaction_log"
# A store's user (nobody here, with the group added) reads the settings and writes in both log
# folders, and the files take the folders' group; without the group the settings stay closed.
setpriv --reuid=nobody --regid=nogroup --groups="$group" -- sh -c "umask 002 &&
  head -1 '$app/ini/Brindlemark.ini' >/dev/null && : >'$app/bin/log/member' && : >'$app/bin/transaction_log/member'" ||
  fail "a member of $group cannot read the settings or write in the log folders"
stat -c '%A %a %U:%G %n' "$app/bin/log/member" "$app/bin/transaction_log/member"
expect_mode "664 nobody:$group" "$app/bin/log/member"
expect_mode "664 nobody:$group" "$app/bin/transaction_log/member"
rm -f "$app/bin/log/member" "$app/bin/transaction_log/member"
if setpriv --reuid=nobody --regid=nogroup --clear-groups -- head -1 "$app/ini/Brindlemark.ini" >/dev/null 2>&1; then
  fail "a user outside $group reads the settings"
fi
[ "$(command -v ovik)" = /usr/bin/ovik ] || fail "ovik is not /usr/bin/ovik on the PATH"
ovik --version
[ -f /usr/share/man/man1/ovik.1.gz ] || fail "no manual page ovik(1)"
bash -n /usr/share/bash-completion/completions/ovik || fail "the bash completion does not parse"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  completed=$(bash -c '. /usr/share/bash-completion/bash_completion
    . /usr/share/bash-completion/completions/ovik
    COMP_WORDS=(ovik d) COMP_CWORD=1 COMP_LINE="ovik d" COMP_POINT=6
    _ovik && echo "${COMPREPLY[*]}"')
  [ "$completed" = "demo doctor" ] || fail "bash completes \"ovik d\" to \"$completed\""
fi
# A site's settings survive the package's installation over itself, as in an upgrade; a key the
# template has and the site's file lacks is named, and the file is left as it is.
echo "; site's own line" >>"$app/ini/Brindlemark.ini"
sed -i '/^jouptn_tenant=/d' "$app/ini/Brindlemark.ini"
dpkg_retry -i "$build"/packages/ovik2environment_*.deb >/dev/null
grep -qx "; site's own line" "$app/ini/Brindlemark.ini" || fail "installing again replaced the site's Brindlemark.ini"
if grep -q "^jouptn_tenant=" "$app/ini/Brindlemark.ini"; then fail "installing again wrote a key into the site's Brindlemark.ini"; fi
grep -q "\[journalpattern\] jouptn_tenant" "$work/dpkg.err" || fail "installing again did not name the missing key"
grep "lacks keys" "$work/dpkg.err"
expect_mode "640 root:$group" "$app/ini/Brindlemark.ini"
sed -i 's/^\[journalpattern\]$/&\njouptn_tenant=0/' "$app/ini/Brindlemark.ini"

phase "an example against the installed development package"
cmake -S examples -B "$work/system" -G Ninja >/dev/null
cmake --build "$work/system" --target example_early_bound >/dev/null
examples/run-example.sh "$app" "$work/system/example_early_bound" >/dev/null
pkg-config --exists ovik2environment || fail "pkg-config does not find the installed development package"
# The library's package gives a program linked with it its dependency, as a client's package build asks.
mkdir -p "$work/shlibdeps/debian/client/usr/bin" "$work/shlibdeps/debian/client/DEBIAN"
printf 'Source: client\n\nPackage: client\nArchitecture: any\n' >"$work/shlibdeps/debian/control"
cp "$work/system/example_early_bound" "$work/shlibdeps/debian/client/usr/bin/"
(cd "$work/shlibdeps" && dpkg-shlibdeps -O debian/client/usr/bin/example_early_bound) >"$work/shlibdeps.out" ||
  fail "dpkg-shlibdeps failed on a program built against the development package"
cat "$work/shlibdeps.out"
grep -q "ovik2environment (>= " "$work/shlibdeps.out" || fail "dpkg-shlibdeps gave no dependency on ovik2environment"
if ((gtk_built)); then
  phase "a GTK client against the installed development packages"
  gtk_client "$work/gtk-system"
fi

phase "the Python tests with Debian's python3 on the installed package"
(cd /tmp && env -u OVIK_PYTHON_LIBRARY -u PYTHONPATH /usr/bin/python3 -m unittest discover \
  -s "$source/python/tests" -t "$source/python/tests")
[ "$(cd /tmp && env -u PYTHONPATH /usr/bin/python3 -c 'import importlib.metadata; print(importlib.metadata.version("ovik"))')" = "$version" ] ||
  fail "python3-ovik's dist-info does not give the project's version"
python_in_venv /usr/bin/python3 "$app"

phase "ovik doctor on $app"
made_app_data=1
mkdir "$app/data"
: >"$app/data/master.db"
# As an administrator would: the log table from its definition, an empty master database.
sqlite3 "$app/data/app.db" <"$app/sql/wkLog.sqlite.sql"
# Through the link on the PATH: the program still finds its library, and the library its settings.
ovik doctor | tee "$work/doctor"
grep -q "settings folder.*$app/ini" "$work/doctor" || fail "ovik on the PATH did not use $app/ini"

phase "purging the packages"
dpkg_retry --purge "${debs[@]}" >/dev/null
installed_debs=()
rm -rf "$app/data"
rmdir "$app" 2>/dev/null || true
made_app_data=0
[ ! -e "$app" ] || fail "purging left $(find "$app" | head -5)"
for deb in "${debs[@]}"; do
  if deb_present "$deb"; then fail "$deb is still installed"; fi
done
[ ! -e /usr/bin/ovik ] && [ ! -L /usr/bin/ovik ] || fail "purging left /usr/bin/ovik"
if getent group "$group" >/dev/null; then fail "purging left the group $group"; fi
phase "done"
