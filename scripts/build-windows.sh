#!/bin/sh
# Cross-builds the Windows DLLs with mingw-w64: scripts/build-windows.sh i686|x86_64 [build-dir]
# Configures (Release) with the toolchain file, builds with two jobs, and prints where the DLLs are.
# OVIK_WERROR=ON makes warnings errors, as the tests under Wine build it.
set -eu
arch=${1:-}
case "$arch" in
  i686) default_dir=build-win32 ;;
  x86_64) default_dir=build-win64 ;;
  *) echo "usage: $0 i686|x86_64 [build-dir]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/$default_dir}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOVIK_WERROR="${OVIK_WERROR:-OFF}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$arch-w64-mingw32.cmake"
cmake --build "$build" -j2
for dll in Ovik2Environment.dll Ovik2Master.dll; do
  found=$(find "$build" -name "$dll" -not -path '*/CMakeFiles/*' | head -n 1)
  echo "$dll: ${found:-not built}"
done
