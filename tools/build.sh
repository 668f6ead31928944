#!/usr/bin/env bash
# Configures and builds Fornax in build/ (Release with debug information).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${FORNAX_JOBS:-$(nproc)}
source tools/compiler-cache.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${FORNAX_CACHE_ARGS[@]}" >/dev/null
ninja -C build -j "$jobs"
