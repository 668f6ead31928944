#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test (unit and integration),
# then the sanitizer job (ThreadSanitizer, AddressSanitizer + UBSan), then
# fuzzes the readers of existing discs and the simulated recorder for a minute
# from the kept corpora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
ctest --test-dir build --output-on-failure --timeout 1200 -j "${FORNAX_TEST_JOBS:-2}"
bash tools/sanitize.sh
bash tests/fuzz/run.sh 60
