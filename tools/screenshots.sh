#!/usr/bin/env bash
# Takes the README's pictures of the application (docs/*.png) under Xvfb,
# against the simulated recorder. Needs a build (tools/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
export FORNAX_SCREENSHOT_DIR="$(cd "$out" && pwd)"
export QT_QPA_PLATFORM=xcb FORNAX_PACE_DIVISOR=100
xvfb-run -a -s "-screen 0 1280x800x24" ./build/tests/gui/fornax_gui_tests ScreenshotTour
ls -l "$FORNAX_SCREENSHOT_DIR"/*.png
