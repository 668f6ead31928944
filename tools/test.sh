#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test (unit and integration).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
ctest --test-dir build --output-on-failure --timeout 1200 -j "${FORNAX_TEST_JOBS:-2}"
