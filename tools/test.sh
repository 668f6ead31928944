#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test (unit and integration),
# then the sanitizer job (ThreadSanitizer, AddressSanitizer + UBSan), then
# fuzzes the readers of existing discs and the simulated recorder from the
# kept corpora.
# Every stage runs even when an earlier one failed (a red unit test must not
# hide what the sanitizers or the fuzzers would find); the script exits
# non-zero at the end when any stage failed, and names them.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
stage() {  # name command...
  local name=$1
  shift
  echo "== $name"
  if ! "$@"; then
    echo "== $name: FAILED"
    failed+=("$name")
  fi
}

bash tools/install-deps.sh || exit 1
# Without a build nothing else can run.
bash tools/build.sh || exit 1
stage "tests" ctest --test-dir build --output-on-failure --timeout 1200 -j "${FORNAX_TEST_JOBS:-2}"
stage "sanitizers" bash tools/sanitize.sh
stage "fuzzing" bash tests/fuzz/run.sh 60

if [ ${#failed[@]} -gt 0 ]; then
  echo "test.sh: failed: ${failed[*]}"
  exit 1
fi
echo "test.sh: every stage passed"
