#!/usr/bin/env bash
# Builds the fuzzer of the disc readers, replays every kept regression input,
# then fuzzes for SECONDS (default 60, at most 120) from a scratch copy of the
# kept corpus. Exits non-zero when an input crashes, hangs, leaks or trips a
# sanitizer; the input is then kept in $FUZZ_BUILD/artifacts/.
#
#   bash tests/fuzz/run.sh [SECONDS]
#
# Needs cmake, ninja, libfmt-dev, clang and libclang-rt-14-dev. The build
# folder is $FUZZ_BUILD (default: build-fuzz at the top of the repository).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "run.sh: SECONDS must be a positive whole number, not '$seconds'" >&2
  exit 2
fi
if [ "$seconds" -gt 120 ]; then
  echo "run.sh: $seconds seconds asked, fuzzing for 120"
  seconds=120
fi
build="${FUZZ_BUILD:-$repo/build-fuzz}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"

cxx="${FUZZ_CXX:-clang++}"
if ! command -v "$cxx" > /dev/null; then
  echo "run.sh: $cxx not found (Debian packages clang and libclang-rt-14-dev)" >&2
  exit 2
fi

source "$repo/tools/compiler-cache.sh"
# Configured once; ninja rebuilds what changed (and globs the engine's files anew).
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" "${FORNAX_CACHE_ARGS[@]}" > "$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 2
  }
fi
ninja -C "$build" session_fuzzer
fuzzer="$build/session_fuzzer"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The fuzzer's scratch folders for extracted files go here, and go with it.
scratch="$(mktemp -d "$build/run.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
mkdir -p "$build/artifacts"
limits=(-rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build/artifacts/")

# Every input that once failed must pass.
mapfile -t regressions < <(find "$here/regressions" -type f ! -name '*.md' ! -name '.*' | sort)
if [ ${#regressions[@]} -gt 0 ]; then
  echo "== replaying ${#regressions[@]} regression inputs"
  if ! "$fuzzer" "${limits[@]}" "${regressions[@]}" > "$scratch/replay.log" 2>&1; then
    cat "$scratch/replay.log" >&2
    echo "run.sh: a regression input fails again (log above)" >&2
    exit 1
  fi
  echo "regressions: ${#regressions[@]} passed, 0 failed"
else
  echo "== no regression inputs kept"
fi

# The kept corpus stays as it is: the run grows a copy. One fuzzing process
# (no -jobs: that would fork workers that log into the current folder).
mkdir -p "$scratch/corpus"
cp "$here"/corpus/* "$scratch/corpus/"
echo "== fuzzing for $seconds s from $(ls "$scratch/corpus" | wc -l) seeds"
status=0
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -dict="$here/session.dict" \
  -print_final_stats=1 "$scratch/corpus" > "$scratch/fuzz.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  cat "$scratch/fuzz.log" >&2
  echo "run.sh: the fuzzer failed (exit $status); the input is in $build/artifacts/" >&2
  exit 1
fi
grep -E '^(#[0-9]+.*DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$scratch/fuzz.log" || true
echo "fuzzing: 1 passed, 0 failed"
