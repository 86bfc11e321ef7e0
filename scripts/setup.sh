#!/usr/bin/env bash
# Installs the Debian packages that building, the demo and the tests need, when any is missing.
# The desktop module and its tests need GTK 3, a virtual X server with a small window manager
# (for the focus), XTest (clicks as a person's arrive) and a Japanese font for the screenshots.
# The Debian packages are made with dpkg-dev (dpkg-shlibdeps) and file, which CPack asks.
set -euo pipefail

PACKAGES=(
  cmake g++ ninja-build pkg-config python3
  python3-venv python3-pip python3-setuptools python3-wheel
  libsqlite3-dev sqlite3
  unixodbc unixodbc-dev odbc-postgresql tdsodbc libsqliteodbc postgresql
  mariadb-server odbc-mariadb
  libglib2.0-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  locales pgbouncer
  dpkg-dev file lintian
  libgtk-3-dev libxtst-dev xvfb xauth openbox fonts-ipafont-gothic
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}" >/dev/null
fi
