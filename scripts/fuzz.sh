#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang and runs them.
#
#   scripts/fuzz.sh [--replay] [target ...]
#
# Without --replay each target fuzzes for FUZZ_SECONDS (default 60) starting from its seed corpus
# fuzz/corpus/<name>/ (name = target without "_fuzz"); new inputs go to fuzz/corpus-work/<name>/ and
# crashes to build-fuzz/artifacts/<name>/. With --replay each target only runs once over its seed
# files, as CI does. Targets default to every fuzz/*_fuzz.cpp. FUZZ_BUILD_DIR overrides build-fuzz.
# Inputs may grow to FUZZ_MAX_LEN bytes (default 262144): a line must be that long before a fault
# that recurses once per level of nesting runs out of stack.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-262144}
replay=0
targets=()

for arg in "$@"; do
  case $arg in
    --replay) replay=1 ;;
    -h | --help)
      sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "fuzz.sh: unknown option $arg" >&2
      exit 2
      ;;
    *) targets+=("${arg%.cpp}") ;;
  esac
done

if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do
    [ -e "$source" ] || continue
    name=$(basename "$source" .cpp)
    targets+=("$name")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: no fuzz targets in $root/fuzz" >&2
  exit 1
fi

# The library and everything else is instrumented too (fuzzer-no-link), so that coverage inside it
# guides the fuzzer, and built with the sanitizers so that faults there are caught where they happen.
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DOVIK_FUZZ=ON -DOVIK_TESTS=OFF -DOVIK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  binary="$build/fuzz/$target"
  corpus="$root/fuzz/corpus/$name"
  mkdir -p "$corpus"
  if [ "$replay" -eq 1 ]; then
    mapfile -t seeds < <(find "$corpus" -maxdepth 1 -type f | sort)
    if [ ${#seeds[@]} -eq 0 ]; then
      echo "== $target: no seed files in $corpus, nothing to replay"
      continue
    fi
    echo "== $target: replaying ${#seeds[@]} seed files"
    "$binary" "${seeds[@]}" || status=1
  else
    work="$root/fuzz/corpus-work/$name"
    artifacts="$build/artifacts/$name"
    mkdir -p "$work" "$artifacts"
    echo "== $target: fuzzing for ${seconds}s"
    "$binary" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$work" "$corpus" || status=1
  fi
done
exit $status
