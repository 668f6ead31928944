#!/usr/bin/env bash
# Builds the two fuzzers, of the disc readers (session_fuzzer) and of the
# simulated recorder's state and commands (drive_fuzzer), replays every kept
# regression input of each, then fuzzes each for half of SECONDS (default 60,
# at most 120) from a scratch copy of its kept corpus. Exits non-zero when an
# input crashes, hangs, leaks or trips a sanitizer; the input is then kept in
# $FUZZ_BUILD/artifacts/.
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
ninja -C "$build" session_fuzzer drive_fuzzer

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The fuzzers' scratch folders for extracted files go here, and go with them.
scratch="$(mktemp -d "$build/run.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
mkdir -p "$build/artifacts"
limits=(-rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build/artifacts/")
each=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))

# fuzz NAME REGRESSION_FOLDER CORPUS_FOLDER DICTIONARY
fuzz() {
  local name="$1" regressions_dir="$2" corpus_dir="$3" dict="$4"
  local fuzzer="$build/$name"
  # Every input that once failed must pass. The session fuzzer's are the
  # files of regressions/ itself, the drive fuzzer's those of regressions/drive/.
  local -a regressions
  mapfile -t regressions < <(find "$regressions_dir" -maxdepth 1 -type f ! -name '*.md' ! -name '.*' | sort)
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $name: replaying ${#regressions[@]} regression inputs"
    if ! "$fuzzer" "${limits[@]}" "${regressions[@]}" > "$scratch/$name-replay.log" 2>&1; then
      cat "$scratch/$name-replay.log" >&2
      echo "run.sh: a regression input of $name fails again (log above)" >&2
      exit 1
    fi
    echo "regressions: ${#regressions[@]} passed, 0 failed"
  else
    echo "== $name: no regression inputs kept"
  fi

  # The kept corpus stays as it is: the run grows a copy. One fuzzing process
  # (no -jobs: that would fork workers that log into the current folder).
  mkdir -p "$scratch/$name-corpus"
  cp "$corpus_dir"/* "$scratch/$name-corpus/"
  echo "== $name: fuzzing for $each s from $(ls "$scratch/$name-corpus" | wc -l) seeds"
  local status=0
  "$fuzzer" "${limits[@]}" -max_total_time="$each" -dict="$dict" \
    -print_final_stats=1 "$scratch/$name-corpus" > "$scratch/$name-fuzz.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$scratch/$name-fuzz.log" >&2
    echo "run.sh: $name failed (exit $status); the input is in $build/artifacts/" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+.*DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' \
    "$scratch/$name-fuzz.log" || true
}

fuzz session_fuzzer "$here/regressions" "$here/corpus" "$here/session.dict"
fuzz drive_fuzzer "$here/regressions/drive" "$here/drive-corpus" "$here/drive.dict"
echo "fuzzing: 2 passed, 0 failed"
