#!/usr/bin/env bash
# The sanitizer job: builds the engine, the simulated recorder, fornax-cli and
# the unit tests (not the window) once with ThreadSanitizer and once with
# AddressSanitizer + UBSan, then runs
#   - ThreadSanitizer: the unit suite (the cache, write and erase threads,
#     their done events, the simulated recorder) and fornax-cli burns, image
#     burns, a second session, an abort and erases against the simulated
#     recorder (tests/integration/test_burn.py);
#   - AddressSanitizer + UBSan: the unit suite and the same fornax-cli runs.
# Any report fails the job. Reports land in $SANITIZE_ROOT/<kind>/reports.
#
#   bash tools/sanitize.sh [thread|address]   (default: both)
#
# Environment: SANITIZE_ROOT (default build-sanitize), FORNAX_JOBS (default nproc).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
root=${SANITIZE_ROOT:-$repo/build-sanitize}
jobs=${FORNAX_JOBS:-$(nproc)}
kinds=${1:-thread address}
source tools/compiler-cache.sh

build() {  # kind sanitizers
  local dir="$root/$1"
  cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DFORNAX_SANITIZE="$2" "${FORNAX_CACHE_ARGS[@]}" >/dev/null
  ninja -C "$dir" -j "$jobs"
}

# Fails when a report was written, and shows the first lines of each.
check_reports() {  # dir
  local found=0
  for f in "$1"/*; do
    [ -e "$f" ] || continue
    found=1
    echo "== sanitizer report: $f"
    head -40 "$f"
  done
  return $found
}

cli_runs() {  # dir
  (cd tests/integration && FORNAX_CLI="$1/cli/fornax-cli" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m unittest test_burn)
}

run_thread() {
  local dir="$root/thread" reports="$root/thread/reports"
  rm -rf "$reports" && mkdir -p "$reports"
  local status=0
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/tsan"
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs" || status=1
  cli_runs "$dir" || status=1
  unset TSAN_OPTIONS
  check_reports "$reports" || status=1
  return $status
}

run_address() {
  local dir="$root/address" reports="$root/address/reports"
  rm -rf "$reports" && mkdir -p "$reports"
  local status=0
  export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1 log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1 log_path=$reports/ubsan"
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs" || status=1
  cli_runs "$dir" || status=1
  unset ASAN_OPTIONS UBSAN_OPTIONS
  check_reports "$reports" || status=1
  return $status
}

# Both kinds run even when the first finds something.
failed=()
for kind in $kinds; do
  case $kind in
    thread) (build thread thread && run_thread) || failed+=(thread) ;;
    address) (build address address,undefined && run_address) || failed+=(address) ;;
    *) echo "sanitize.sh: unknown kind '$kind' (thread or address)" >&2; exit 2 ;;
  esac
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "sanitize.sh: failed: ${failed[*]}"
  exit 1
fi
echo "sanitize.sh: no sanitizer reports"
