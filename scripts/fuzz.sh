#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang and runs them.
#
#   scripts/fuzz.sh [--replay | --minimise] [target ...]
#
# Without an option each target fuzzes for FUZZ_SECONDS (default 60) from its corpus
# fuzz/corpus/<name>/ (name = target without "_fuzz") and its work folder fuzz/corpus-work/<name>/
# (kept between runs, not in git). At the end the inputs that reached a new edge are merged into
# fuzz/corpus/<name>/, so the corpus in the repository grows only by what adds coverage; crashes
# go to build-fuzz/artifacts/<name>/. A line per target tells seconds, executions, coverage and the
# outcome. --minimise rewrites each corpus as its hand-written seeds (named files) plus the
# fewest other inputs that keep the edges of corpus and work folder. Merges count edges, not hit
# counts (-use_counters=0), which keeps the corpus in the repository to a few hundred files.
# --replay runs each target once over its corpus, as CI does. Targets default to every fuzz/*_fuzz.cpp.
# FUZZ_MAX_LEN (default 262144): how long inputs may grow, enough for a fault that recurses once
# per level of nesting to run out of stack. FUZZ_TIMEOUT (default 25): seconds one input may take
# before it counts as a hang. fuzz/<name>.dict is given to the target when present.
# FUZZ_BUILD_DIR overrides build-fuzz.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-262144}
timeout=${FUZZ_TIMEOUT:-25}
mode=fuzz
targets=()

for arg in "$@"; do
  case $arg in
    --replay) mode=replay ;;
    --minimise | --minimize) mode=minimise ;;
    -h | --help)
      sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
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
    targets+=("$(basename "$source" .cpp)")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: no fuzz targets in $root/fuzz" >&2
  exit 1
fi

# The library and everything else is instrumented too (fuzzer-no-link), so that coverage inside it
# guides the fuzzer, and built with the sanitizers so that faults there are caught where they happen.
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DOVIK_FUZZ=ON -DOVIK_TESTS=OFF -DOVIK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Hand-written seeds have names; what libFuzzer adds is named by its SHA-1.
is_generated() { [[ $(basename "$1") =~ ^[0-9a-f]{40}$ ]]; }

status=0
summary=()
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  binary="$build/fuzz/$target"
  corpus="$root/fuzz/corpus/$name"
  work="$root/fuzz/corpus-work/$name"
  dict=()
  [ -f "$root/fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
  artifacts="$build/artifacts/$name"
  # Merges keep an input for a new edge, not for a new hit count: a few hundred files, not thousands.
  merge=("$binary" -merge=1 -use_counters=0 -artifact_prefix="$artifacts/" -max_len="$max_len"
    -timeout="$timeout" "${dict[@]}")
  mkdir -p "$corpus"
  case $mode in
    replay)
      mapfile -t seeds < <(find "$corpus" -maxdepth 1 -type f | sort)
      if [ ${#seeds[@]} -eq 0 ]; then
        echo "== $target: no seed files in $corpus, nothing to replay"
        continue
      fi
      log=$(mktemp)
      if "$binary" -timeout="$timeout" "${seeds[@]}" >"$log" 2>&1; then
        echo "== $target: replayed ${#seeds[@]} corpus files"
      else
        grep -v '^Running: \|^Executed .* in ' "$log" | tail -60
        echo "== $target: REPLAY FAILED"
        status=1
      fi
      rm -f "$log"
      ;;
    minimise)
      fresh=$(mktemp -d)
      find "$corpus" -maxdepth 1 -type f | while read -r f; do is_generated "$f" || cp "$f" "$fresh/"; done
      others=$(mktemp -d)
      find "$corpus" -maxdepth 1 -type f | while read -r f; do ! is_generated "$f" || cp "$f" "$others/"; done
      mkdir -p "$work" "$artifacts"
      "${merge[@]}" "$fresh" "$others" "$work" >/dev/null 2>&1 || status=1
      before=$(find "$corpus" -maxdepth 1 -type f | wc -l)
      find "$corpus" -maxdepth 1 -type f -delete
      cp "$fresh"/* "$corpus/"
      rm -rf "$fresh" "$others"
      echo "== $target: corpus minimised from $before to $(find "$corpus" -maxdepth 1 -type f | wc -l) files"
      ;;
    fuzz)
      log="$build/fuzz-$name.log"
      mkdir -p "$work" "$artifacts"
      echo "== $target: fuzzing for ${seconds}s (log: $log)"
      outcome=ok
      "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout="$timeout" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "${dict[@]}" "$work" "$corpus" >"$log" 2>&1 || {
        outcome="FOUND $(grep -m1 -o 'ERROR: [A-Za-z]*: [a-z-]*\|invariant broken: .*\|ERROR: libFuzzer: [a-z-]*' "$log" || echo 'a failure')"
        status=1
      }
      before=$(find "$corpus" -maxdepth 1 -type f | wc -l)
      "${merge[@]}" "$corpus" "$work" >/dev/null 2>&1 || true
      added=$(($(find "$corpus" -maxdepth 1 -type f | wc -l) - before))
      runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
      cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || echo 'cov: ? ft: ?')
      line="$target: ${seconds}s, ${runs} executions, ${cov}, corpus $((before + added)) (+${added}): ${outcome}"
      summary+=("$line")
      echo "== $line"
      ;;
  esac
done
if [ ${#summary[@]} -gt 0 ]; then
  echo "== summary"
  printf '%s\n' "${summary[@]}"
fi
exit $status
