#!/usr/bin/env bash
# Checks the library as its users get it, in a build of its own (build-install/: no tests):
#  1. installs into a temporary prefix, builds every example against it through find_package and
#     through pkg-config and runs each on an application folder prepared from the installed
#     templates, runs the Python package's tests on the installed package, and compiles a client
#     that takes the source tree in with add_subdirectory;
#  2. builds the Debian packages (cpack), installs them with dpkg -i, builds an example against the
#     installed development package, runs the Python tests with Debian's python3 and `ovik doctor`
#     on /opt/brindlemark, and purges the packages again.
# Step 2 needs root, dpkg-dev and a machine where the packages and /opt/brindlemark are not
# installed; it is skipped with --no-packages. Nothing is left behind but build-install/.
#
#   scripts/install-check.sh [--no-packages]
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
packages=1
if [ "${1:-}" = "--no-packages" ]; then packages=0; fi

build=build-install
app=/opt/brindlemark
debs=(ovik2environment ovik2environment-dev python3-ovik ovik2environment-gtk)
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

scripts/setup.sh
phase "building the library in $build/"
cmake -S . -B "$build" -G Ninja -DOVIK_WERROR=ON -DOVIK_TESTS=OFF -DOVIK_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/opt/brindlemark -DOVIK_INSTALL_APPDIR=. >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

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
  lib/python3/dist-packages/ovik/__init__.py lib/python3/dist-packages/ovik/_install.py; do
  [ -e "$prefix/$file" ] || fail "the install lacks $file"
done
[ ! -e "$prefix/ini/Brindlemark.ini" ] || fail "the install ships a site's Brindlemark.ini"
[ "$("$prefix/bin/ovik" --version)" = "ovik $(sed -n 's/^project(Ovik2Environment VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
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
unset PKG_CONFIG_PATH

phase "the Python package's tests on the installed package"
python_dir=$prefix/lib/python3/dist-packages
found=$(cd /tmp && PYTHONPATH=$python_dir python3 -c 'import ovik; print(ovik._capi.find_library())')
[ "$found" = "$prefix/bin/libOvik2Environment.so.2" ] || fail "the installed package looks for $found"
(cd /tmp && env -u OVIK_PYTHON_LIBRARY PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest discover -s "$source/python/tests" -t "$source/python/tests")

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

phase "building the Debian packages"
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DOVIK_INSTALL_APPDIR="$app" >/dev/null
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
files=()
for deb in "${debs[@]}"; do
  file=$(ls "$build"/packages/"${deb}"_*.deb 2>/dev/null || true)
  if [ -z "$file" ] && [ "$deb" = ovik2environment-gtk ]; then continue; fi  # built without GTK
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

phase "installing them with dpkg -i"
for deb in "${debs[@]}"; do installed_debs+=("$deb"); done
dpkg_retry -i "${files[@]}" >/dev/null
[ -f "$app/ini/Brindlemark.ini" ] || fail "the runtime package made no Brindlemark.ini from its template"
"$app/bin/ovik" --version
# A site's settings survive the package's installation over itself, as in an upgrade.
echo "; site's own line" >>"$app/ini/Brindlemark.ini"
dpkg_retry -i "$build"/packages/ovik2environment_*.deb >/dev/null
grep -qx "; site's own line" "$app/ini/Brindlemark.ini" || fail "installing again replaced the site's Brindlemark.ini"

phase "an example against the installed development package"
cmake -S examples -B "$work/system" -G Ninja >/dev/null
cmake --build "$work/system" --target example_early_bound >/dev/null
examples/run-example.sh "$app" "$work/system/example_early_bound" >/dev/null
pkg-config --exists ovik2environment || fail "pkg-config does not find the installed development package"

phase "the Python tests with Debian's python3 on the installed package"
(cd /tmp && env -u OVIK_PYTHON_LIBRARY -u PYTHONPATH /usr/bin/python3 -m unittest discover \
  -s "$source/python/tests" -t "$source/python/tests")

phase "ovik doctor on $app"
made_app_data=1
mkdir "$app/data"
: >"$app/data/master.db"
# As an administrator would: the log table from its definition, an empty master database.
sqlite3 "$app/data/app.db" <"$app/sql/wkLog.sqlite.sql"
"$app/bin/ovik" doctor

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
phase "done"
