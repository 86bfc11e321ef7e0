#!/bin/sh
# Runs one example program on an application folder of its own, prepared from an installed one by
# prepare-app-folder.sh and removed afterwards. The folder's bin/ comes first in PATH (for `ovik`)
# and in LD_LIBRARY_PATH, which the loader searches before the run path the program was linked
# with; OVIK_PYTHON_LIBRARY points the Python package at the same library.
#
#   examples/run-example.sh /opt/brindlemark build-examples/example_early_bound
set -eu
if [ $# -lt 2 ]; then
  echo "usage: $0 INSTALLED_APP_FOLDER PROGRAM [ARG...]" >&2
  exit 2
fi
# A preloaded runtime (the sanitizers' for the Python example) is meant for the program alone, not
# for the shell tools that prepare its folder.
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
here=$(cd "$(dirname "$0")" && pwd)
installed=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/ovik-example.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$here/prepare-app-folder.sh" "$installed" "$work/app" >/dev/null
bin="$work/app/bin"
status=0
if [ -n "$preload" ]; then export LD_PRELOAD="$preload"; fi
PATH="$bin:$PATH" LD_LIBRARY_PATH="$bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  OVIK_PYTHON_LIBRARY="$bin/libOvik2Environment.so.2" "$@" || status=$?
exit $status
