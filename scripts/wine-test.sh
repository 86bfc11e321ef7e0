#!/usr/bin/env bash
# The Windows build under Wine: the DLLs and the compiled client cross-built with
# scripts/build-windows.sh, registered in a fresh prefix per architecture, and driven by the
# clients of tests/windows (VBScript and JScript through cscript, the compiled client, and the
# start-up notice answered through a virtual X server) against a PostgreSQL of the run's own.
#
#   scripts/wine-test.sh                        i686 under 32-bit Wine, then x86_64 under 64-bit Wine
#   OVIK_WINE_ARCHES=x86_64 scripts/wine-test.sh
#
# As root it installs what is missing (Debian 12); as another user everything must be there.
# Every run has its own folder (prefixes, application folders, logs), X display and database
# port, so runs and the Linux tests never meet. The folder is removed after a green run unless
# OVIK_WINE_KEEP=1; the message-box screenshots stay in build-wine/screenshots/.
# A kernel that runs no 32-bit programs (IA-32 emulation off) cannot run 32-bit Wine: i686 is then
# built and checked for its imports only, and reported as skipped (OVIK_WINE_REQUIRE_I686=1 fails).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-wine
started=$SECONDS

say() { echo "wine-test: $*"; }
die() {
  echo "wine-test: $*" >&2
  exit 1
}

install_missing() {
  local packages=(wine wine64 wine32:i386 wine64-tools libwine-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
    xvfb xauth xdotool x11-apps imagemagick fonts-ipafont-gothic cmake postgresql sqlite3 unixodbc
    odbc-postgresql odbc-postgresql:i386 libsqliteodbc libsqliteodbc:i386)
  local missing=() p
  for p in "${packages[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  [ "$(id -u)" -eq 0 ] || die "missing packages (install them as root): ${missing[*]}"
  say "installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}" >/dev/null
}

# Windows path of a host path, as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

free_display() {
  local n
  for n in $(seq $((90 + RANDOM % 100)) 299); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      echo "$n"
      return
    fi
  done
  die "no free X display"
}

# The client's own build when the build tree has none (a configuration without tests).
client_exe() {
  local build=$1 arch=$2 exe header
  exe=$(find "$build/" -name ovik_wine_client.exe -not -path '*/CMakeFiles/*' | head -n 1)
  if [ -z "$exe" ]; then
    header=$(find "$build/" -name OvikEnvironment.h -not -path '*/CMakeFiles/*' | head -n 1)
    [ -n "$header" ] || die "$build has no OvikEnvironment.h (widl's header of the type library)"
    exe=$build/ovik_wine_client.exe
    "$arch-w64-mingw32-g++-posix" -std=c++20 -Wall -Wextra -O1 -static -I "$(dirname "$header")" -o "$exe" \
      tests/windows/client.cpp -x c "$(dirname "$header")/OvikEnvironment_i.c" -lole32 -loleaut32 -luuid >&2
  fi
  echo "$exe"
}

# The DLLs must depend on system DLLs only: the C++ runtime is linked in.
check_imports() {
  local file=$1 dll bad=""
  for dll in $("$2-w64-mingw32-objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
    case "${dll,,}" in
      libstdc++* | libgcc* | libwinpthread*) bad+=" $dll" ;;
    esac
  done
  [ -z "$bad" ] || die "$(basename "$file") ($2) needs$bad"
}

write_settings() {
  local ini=$1
  mkdir -p "$ini"
  local db
  {
    for db in database master_database; do
      printf '[%s]\nprovider=MSDASQL\nserver=%s\ndatabase_user=%s\npassword=%s\ndatabase_name=citestdb\n' \
        "$db" "$OVIK_TEST_PG_DSN" "$app_user" "$app_password"
      printf 'transaction_log=%s\n' "$([ $db = database ] && echo true || echo false)"
    done
    # The store's server is what the client sets in strGetIpAddress: an SQLite file.
    printf '[store_database]\nprovider=SQLite\ndatabase_user=\npassword=\ndatabase_name=main\ntransaction_log=false\n'
    printf '[accountitem]\naccitem_store=1101\naccitem_petty=1102\n'
    printf '[Financial]\nserver=finance01\ndatabase=FINDB\n[journalpattern]\njouptn_tenant=3\n'
    printf '[headoffice]\nheadoffice_1=100\n'
    printf '[getposinfoimport]\npos_file=C:\\pos\\pos.csv\nemployee_file=C:\\pos\\employee.csv\n'
    printf 'bat_file_path=C:\\pos\\import.bat\n'
  } | sed 's/$/\r/' >"$ini/Brindlemark.ini"
  printf '[menu]\r\n' >"$ini/menu.ini"
}

# Runs one client; prints and checks its closing line "N passed, N failed".
run_client() {
  local arch=$1 name=$2 log=$run/$1-$2.log line
  shift 2
  timeout 300 "$@" >"$log" 2>&1 || true
  line=$(tail -n 1 "$log" | tr -d '\r')
  echo "[$arch] $name: ${line:-no closing line}"
  if ! [[ $line =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] || [ "${BASH_REMATCH[1]}" -eq 0 ]; then
    { grep -v '^ok - ' "$log" || true; } | sed "s/^/[$arch] $name: /" | tail -n 40
    result=1
  fi
}

# The start-up notice of a lookup whose key is missing, shown on the virtual display: found by
# the client's window class, its title checked, photographed and answered with Return; the client
# checks that the call waited for the answer.
run_message_box() {
  local arch=$1 exe=$2 log=$run/$1-messagebox-client.log pid window="" title="" i
  local shot=$out/screenshots/messagebox-$1.png
  "${wine[@]}" "$(winpath "$exe")" messagebox >"$log" 2>&1 &
  pid=$!
  for i in $(seq 1 120); do
    window=$(xdotool search --onlyvisible --class ovik_wine_client 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  if [ -n "$window" ]; then
    title=$(xdotool getwindowname "$window" 2>/dev/null || true)
    sleep 1  # let it paint
    mkdir -p "$out/screenshots"
    import -window root "$shot"
    xdotool key --window "$window" Return 2>/dev/null
  else
    kill "$pid" 2>/dev/null || true
  fi
  wait "$pid" || true
  if [ "$title" = 警告 ]; then
    echo "[$arch] message box: titled 警告, photographed in $shot, answered with Return"
  else
    echo "[$arch] message box: FAIL - ${window:+window $window titled \"$title\"}${window:-no window appeared}"
    result=1
  fi
  run_client "$arch" messagebox cat "$log"
}

# What the library wrote beside itself: never the password; the trace in code page 932; the
# entry that client.vbs logged while its log server was unreachable, in the log folder.
check_files() {
  local arch=$1 app=$2 trace leaked fallback
  leaked=$(grep -rlF -- "$app_password" "$app/bin" || true)
  trace=$(find "$app/bin/transaction_log" -name '*.log' 2>/dev/null | head -n 1)
  fallback=$(grep -rlF -- "wine vbs fallback $arch" "$app/bin/log" 2>/dev/null || true)
  if [ -z "$fallback" ]; then
    echo "[$arch] files: FAIL - no file in bin/log holds the entry logged without a log server"
    result=1
  elif [ -n "$leaked" ]; then
    echo "[$arch] files: FAIL - the password is written in $leaked"
    result=1
  elif [ -z "$trace" ] || ! head -n 1 "$trace" | iconv -f CP932 -t UTF-8 | grep -P '[^\x00-\x7F]' >/dev/null; then
    echo "[$arch] files: FAIL - no trace file, or its first line is not Japanese in code page 932"
    result=1
  else
    echo "[$arch] files: no password in bin/, trace $(basename "$trace") in code page 932, log $(basename "$fallback")"
  fi
}

run_arch() {
  local arch=$1 build exe dll app display xvfb prefix odbc libdir
  case $arch in
    i686) WINEARCH=win32 WINELOADER=/usr/lib/wine/wine libdir=/usr/lib/i386-linux-gnu/odbc ;;
    x86_64) WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 libdir=/usr/lib/x86_64-linux-gnu/odbc ;;
    *) die "unknown architecture $arch" ;;
  esac
  export WINEARCH WINELOADER
  # Wine under the Japanese locale of the systems served: ANSI code page 932 for the settings,
  # log and trace files.
  wine=(env LC_ALL=ja_JP.UTF-8 "$WINELOADER")
  build=$out/build-$arch
  OVIK_WERROR=ON scripts/build-windows.sh "$arch" "$build" >"$run/$arch-build.log" 2>&1 || {
    tail -n 30 "$run/$arch-build.log"
    die "[$arch] build failed"
  }
  app=$run/app-$arch
  mkdir -p "$app/bin"
  for dll in Ovik2Environment.dll Ovik2Master.dll; do
    exe=$(find "$build/" -name "$dll" -not -path '*/CMakeFiles/*' | head -n 1)
    [ -n "$exe" ] || die "[$arch] $dll was not built"
    check_imports "$exe" "$arch"
    cp "$exe" "$app/bin/"
  done
  # The manifests beside the library: the frame finds the sibling module's class through one.
  cp "$(dirname "$exe")"/*.manifest "$app/bin/" 2>/dev/null || true
  exe=$(client_exe "$build" "$arch")
  cp "$exe" "$app/bin/"
  exe=$app/bin/$(basename "$exe")
  write_settings "$app/ini"
  mkdir -p "$app/data"
  sqlite3 "$app/data/store.db" "create table items (id integer primary key, name text); insert into items values (1, 'sqlite')"

  if ! "$WINELOADER" --version >/dev/null 2>&1; then
    echo "[$arch] SKIPPED under Wine: this kernel cannot run $WINELOADER (no 32-bit programs); built, imports checked"
    [ "${OVIK_WINE_REQUIRE_I686:-0}" = 1 ] && result=1
    return 0
  fi

  # unixODBC of the loader's own architecture, with the run's data source and the driver names
  # the library asks for.
  odbc=$run/odbc-$arch
  mkdir -p "$odbc"
  printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n\n[SQLite3 ODBC Driver]\nDriver=%s/libsqlite3odbc.so\n' \
    "$libdir" "$libdir" >"$odbc/odbcinst.ini"
  cp "$pg/odbc.ini" "$odbc/odbc.ini"
  export ODBCSYSINI=$odbc ODBCINI=$odbc/odbc.ini

  display=$(free_display)
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$run/$arch-xvfb.log" 2>&1 &
  xvfb=$!
  cleanups+=("kill $xvfb")
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  export DISPLAY=:$display
  prefix=$run/prefix-$arch
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  cleanups+=("env WINEPREFIX=$prefix /usr/lib/wine/wineserver -k")
  local t=$SECONDS
  timeout 300 "${wine[@]}" wineboot --init >"$run/$arch-wineboot.log" 2>&1
  # Let the first server save the new prefix and go, then keep one server for the whole run: a
  # program started while a server shuts down could read a registry saved only in part (once
  # cscript found no cscript.exe on its path).
  timeout 120 /usr/lib/wine/wineserver -w
  /usr/lib/wine/wineserver -p
  say "[$arch] prefix ready in $((SECONDS - t)) s on display :$display"
  for dll in Ovik2Master.dll Ovik2Environment.dll; do
    timeout 120 "${wine[@]}" regsvr32 /s "$(winpath "$app/bin/$dll")" >>"$run/$arch-regsvr32.log" 2>&1 ||
      die "[$arch] regsvr32 $dll failed: $(cat "$run/$arch-regsvr32.log")"
  done
  for font in 'MS UI Gothic' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    "${wine[@]}" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
  done

  # Without a display an unexpected message box returns at once instead of holding the client.
  run_client "$arch" vbs env -u DISPLAY "${wine[@]}" cscript //nologo "$(winpath "$root/tests/windows/client.vbs")" \
    "$arch" 'data\store.db'
  run_client "$arch" js env -u DISPLAY "${wine[@]}" cscript //nologo "$(winpath "$root/tests/windows/client.js")" "$arch"
  run_client "$arch" cpp env -u DISPLAY "${wine[@]}" "$(winpath "$exe")"
  run_message_box "$arch" "$exe"
  # Registration-free: both DLLs unregistered, the compiled client again with a manifest of its
  # own that names the assembly whose manifest lies beside the DLLs.
  for dll in Ovik2Environment.dll Ovik2Master.dll; do
    timeout 120 "${wine[@]}" regsvr32 /u /s "$(winpath "$app/bin/$dll")" >>"$run/$arch-regsvr32.log" 2>&1 ||
      die "[$arch] regsvr32 /u $dll failed: $(cat "$run/$arch-regsvr32.log")"
  done
  if env -u DISPLAY "${wine[@]}" "$(winpath "$exe")" >"$run/$arch-unregistered.log" 2>&1 ||
    ! grep -q 'CoCreateInstance.*80040154' "$run/$arch-unregistered.log"; then
    echo "[$arch] unregistered: FAIL - the class was still found after regsvr32 /u"
    result=1
  else
    echo "[$arch] unregistered: class not registered (0x80040154) after regsvr32 /u"
  fi
  printf '%s\r\n' '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>' \
    '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' \
    '  <assemblyIdentity type="win32" name="ovik_wine_client" version="1.0.0.0"/>' \
    '  <dependency><dependentAssembly>' \
    '    <assemblyIdentity type="win32" name="Ovik2Environment.sxs" version="2.0.0.0"/>' \
    '  </dependentAssembly></dependency>' '</assembly>' >"$exe.manifest"
  run_client "$arch" "cpp without registration" env -u DISPLAY "${wine[@]}" "$(winpath "$exe")"
  # The platform layer's own check programs, where the build made them: judged by their exit
  # status, each given a scratch folder of its own.
  local check_exe name
  while IFS= read -r check_exe; do
    name=$(basename "$check_exe" .exe)
    mkdir -p "$run/$arch-$name"
    if timeout 300 "${wine[@]}" "$(winpath "$check_exe")" "$(winpath "$run/$arch-$name")" >"$run/$arch-$name.log" 2>&1; then
      echo "[$arch] $name: $(grep -c '^ok' "$run/$arch-$name.log") ok, exit 0"
    else
      echo "[$arch] $name FAILED:"
      { grep -v '^ok' "$run/$arch-$name.log" || true; } | sed "s/^/[$arch] /" | tail -n 20
      result=1
    fi
  done < <(find "$build/" -name 'platform_*.exe' -not -path '*/CMakeFiles/*' | sort)
  check_files "$arch" "$app"
  /usr/lib/wine/wineserver -k || true
}

install_missing
mkdir -p "$out"
run=$(mktemp -d "$out/run.XXXXXX")
cleanups=()
finish() {
  local i
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do ${cleanups[i]} >/dev/null 2>&1 || true; done
}
trap finish EXIT

pg=$(mktemp -d /tmp/ovik-wine-pg.XXXXXX)
cleanups+=("scripts/pg-test-server.sh stop $pg")
scripts/pg-test-server.sh start "$pg" >/dev/null
# shellcheck source=/dev/null
source "$pg/env.sh"
# The clients log in as a role of the run's own, whose password must show up in no file they write.
app_user=wt_app
app_password=wt-$RANDOM-$RANDOM
PGPASSWORD=$OVIK_TEST_PG_PASSWORD psql -h 127.0.0.1 -p "$OVIK_TEST_PG_PORT" -U "$OVIK_TEST_PG_USER" -d citestdb \
  -q -v ON_ERROR_STOP=1 -c "CREATE ROLE $app_user LOGIN PASSWORD '$app_password'" \
  -c "GRANT CREATE ON SCHEMA public TO $app_user" >/dev/null
PGPASSWORD=$app_password psql -h 127.0.0.1 -p "$OVIK_TEST_PG_PORT" -U "$app_user" -d citestdb \
  -q -v ON_ERROR_STOP=1 -f sql/wkLog.postgresql.sql >/dev/null

result=0
for arch in ${OVIK_WINE_ARCHES:-i686 x86_64}; do
  run_arch "$arch"
done
say "took $((SECONDS - started)) s"
if [ $result -ne 0 ]; then
  say "FAILED; logs in $run"
  exit 1
fi
[ "${OVIK_WINE_KEEP:-0}" = 1 ] || cleanups=("rm -rf $run" "${cleanups[@]}")
say "passed"
