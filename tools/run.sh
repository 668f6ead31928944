#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the program: until the desktop
# application exists this shows fornax-cli and how to build an image with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
./build/cli/fornax-cli --help
echo
./build/cli/fornax-cli iso --help
echo
echo "fornax-cli is at $(pwd)/build/cli/fornax-cli"
