#!/bin/sh
# Builds the C and C++ examples through pkg-config, as a project without CMake would:
#   PKG_CONFIG_PATH=/opt/brindlemark/lib/pkgconfig examples/build-with-pkg-config.sh OUT_FOLDER
# then runs nothing: run each with examples/run-example.sh. ovik2environment brings -std=c++20;
# ovik2environment-c imposes no standard. Both link with a run path to the application folder.
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 OUT_FOLDER" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
out=$1
pkg=${PKG_CONFIG:-pkg-config}
mkdir -p "$out"
build() {
  echo "$*"
  "$@"
}
# Word splitting of pkg-config's answers is wanted here.
# shellcheck disable=SC2046
for example in early_bound late_bound database_errors; do
  build "${CXX:-c++}" -Wall -Wextra -O2 $("$pkg" --cflags ovik2environment) -o "$out/example_$example" \
    "$here/cpp/$example.cpp" $("$pkg" --libs ovik2environment)
done
# shellcheck disable=SC2046
build "${CC:-cc}" -std=c99 -Wall -Wextra -O2 $("$pkg" --cflags ovik2environment-c) -o "$out/example_c" \
  "$here/c/ovik_example.c" $("$pkg" --libs ovik2environment-c)
