#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the program: the desktop
# application when there is a display, otherwise the command line program's
# help and how to use it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/app/fornax "$@"
fi
echo "No display here (DISPLAY and WAYLAND_DISPLAY are not set), so the desktop application"
echo "cannot open. The command line program does the same work:"
echo
./build/cli/fornax-cli --help
echo
echo "For example:  ./build/cli/fornax-cli iso backup.iso ~/Documents"
echo "fornax-cli is at $(pwd)/build/cli/fornax-cli; the application at $(pwd)/build/app/fornax"
