#!/usr/bin/env bash
# The load run: copies the built application folder to a scratch folder, puts ovik_load in its
# bin/ (so the copy's library is the one loaded, and its folders the ones written) and runs it.
#   scripts/load.sh [--build DIR] [--processes N] [--seconds S]   (defaults: build, 8, 60)
# CTest runs it for a few seconds; run it by hand for the long run. Nothing is left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
processes=8
seconds=60
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$2 ;;
  --processes) processes=$2 ;;
  --seconds) seconds=$2 ;;
  *)
    echo "usage: $0 [--build DIR] [--processes N] [--seconds S]" >&2
    exit 2
    ;;
  esac
  shift 2
done
[ -x "$build/tools/load/ovik_load" ] || {
  echo "$build/tools/load/ovik_load is not built (cmake --build $build --target ovik_load)" >&2
  exit 2
}

work=$(mktemp -d /tmp/ovik-load.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -a "$build/app" "$work/app"
rm -rf "$work/app/data" "$work/app/bin/log" "$work/app/bin/transaction_log"
cp "$build/tools/load/ovik_load" "$work/app/bin/"
"$work/app/bin/ovik_load" --processes "$processes" --seconds "$seconds"
