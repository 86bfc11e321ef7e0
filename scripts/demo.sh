#!/usr/bin/env bash
# Installs what is missing, builds, and runs `ovik demo` on the embedded SQLite default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exec build/app/bin/ovik demo
