#!/usr/bin/env bash
# Takes the README's pictures of the application (docs/*.png) under Xvfb,
# against the simulated recorder. Needs a build (tools/build.sh).
#
# The browser in the pictures shows a prepared home folder, /home/ana: the
# tour runs in a mount namespace of its own where an empty memory file system
# lies over /home, so nothing of this machine's folders or user names shows
# and nothing of its /home is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
export FORNAX_SCREENSHOT_DIR="$(cd "$out" && pwd)"
export QT_QPA_PLATFORM=xcb FORNAX_PACE_DIVISOR=100 FORNAX_SAMPLE_HOME=/home/ana
export LANG=es_ES.UTF-8 LC_ALL=
tour="$PWD/build/tests/gui/fornax_gui_tests"

as_root_namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || as_root_namespace=(unshare --map-root-user --mount --propagation private)

xvfb-run -a -s "-screen 0 1366x768x24" "${as_root_namespace[@]}" bash -c '
  set -euo pipefail
  mount -t tmpfs -o size=64m,mode=755 sample-home /home
  mkdir -p "$FORNAX_SAMPLE_HOME"
  exec "$0" ScreenshotTour
' "$tour"
ls -l "$FORNAX_SCREENSHOT_DIR"/*.png
