#!/usr/bin/env bash
# Verify benchmark: `fornax-cli verify SRC` of a session on the simulated
# recorder (every file read back through the drive and compared with its
# source by hash) against reading the same session once, `fornax-cli extract /`
# of all its files, in the same run. Run by hand (not in CI); see
# bench/README.md.
#
# Environment:
#   BENCH_DIR     scratch folder: source files, the drive's state folder, the
#                 extracted copy (default /tmp/fornax-verify-bench)
#   BENCH_BUILD   build folder with cli/fornax-cli (default <repo>/build-bench;
#                 configured Release when it holds no build yet)
#   BENCH_JOBS    build jobs (default 2)
#   BENCH_RUNS    timed runs of each command after one warm-up (default 5)
#   BENCH_MB      total size of the source files in MB (default 400)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_DIR=${BENCH_DIR:-/tmp/fornax-verify-bench}
BUILD=${BENCH_BUILD:-$REPO/build-bench}
JOBS=${BENCH_JOBS:-2}
RUNS=${BENCH_RUNS:-5}
MB=${BENCH_MB:-400}

# shellcheck source=bench/bench_common.sh
source "$REPO/bench/bench_common.sh"
check_runs
check_mb
need_tools cmake ninja hyperfine awk df

say "Build in $BUILD"
build_targets "$BUILD" "$JOBS" fornax-cli fornax_simdrive
FORNAX="$BUILD/cli/fornax-cli"

SRC="$BENCH_DIR/src"
STATE="$BENCH_DIR/state"
OUT="$BENCH_DIR/extracted"
mkdir -p "$BENCH_DIR"
free_mb=$(df -Pm "$BENCH_DIR" | awk 'NR == 2 { print $4 }')
(( free_mb > 3 * MB + 200 )) || die "need $((3 * MB + 200)) MB free under $BENCH_DIR (the files, the disc, the copy)"

# Four large files and 300 of 100 kB in folders, random bytes, made once.
if [[ ! -f "$SRC.done" || "$(cat "$SRC.done")" != "$MB" ]]; then
  say "Making $MB MB of files in $SRC"
  rm -rf "$SRC"
  mkdir -p "$SRC/small/a" "$SRC/small/b"
  big=$(( (MB - 30) / 4 ))
  for i in 1 2 3 4; do head -c "$((big * 1000 * 1000))" /dev/urandom > "$SRC/big$i.bin"; done
  for i in $(seq 1 300); do head -c 100000 /dev/urandom > "$SRC/small/$([[ $i -le 150 ]] && echo a || echo b)/f$i.bin"; done
  echo "$MB" > "$SRC.done"
fi
total=$(du -sb "$SRC" | cut -f1)
echo "source: $(find "$SRC" -type f | wc -l) files, $total bytes; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

export FORNAX_SIMDRIVE_DIR="$STATE" FORNAX_PACE_DIVISOR=100
say "Burning the session once (not timed)"
rm -rf "$STATE"
"$FORNAX" vdrive insert dvd+r >/dev/null
"$FORNAX" vdrive speed 0 >/dev/null
"$FORNAX" burn "$SRC" | tail -1
"$FORNAX" verify "$SRC" | tail -1 || die "the session does not verify"

say "Timing: read the session once (extract /), then verify it ($RUNS runs each after a warm-up)"
hyperfine --warmup 1 --runs "$RUNS" --export-json "$BENCH_DIR/result.json" \
  --prepare "rm -rf '$OUT' && sync" -n read "'$FORNAX' extract / '$OUT' >/dev/null" \
  --prepare "rm -rf '$OUT' && sync" -n verify "'$FORNAX' verify '$SRC' >/dev/null"
rm -rf "$OUT"

awk '
  /"command":/ { name = $2; gsub(/[",]/, "", name) }
  /"median":/  { v = $2; gsub(/,/, "", v); median[name] = v }
  END {
    ratio = median["verify"] / median["read"]
    printf "\nread   median %.3f s\nverify median %.3f s\nratio verify / read: %.2f (target: at most 1.2) %s\n",
           median["read"], median["verify"], ratio, ratio <= 1.2 ? "PASS" : "FAIL"
    exit ratio <= 1.2 ? 0 : 1
  }' "$BENCH_DIR/result.json"
