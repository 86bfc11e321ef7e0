#!/usr/bin/env bash
# Installs what is missing, builds, and runs `ovik demo` on the embedded SQLite default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
# Only what the demo runs: the library, the sibling module and the host.
cmake --build build -j"$(nproc)" --target ovik Ovik2Master
exec build/app/bin/ovik demo
