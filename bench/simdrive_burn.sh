#!/usr/bin/env bash
# Burn benchmark of the simulated recorder: how long `fornax-cli burn` of
# ~1.1 GB of files to a simulated DVD+R at maximum speed takes, against `cat`
# of the same files into one file on the same file system. Run by hand (not
# in CI); see bench/README.md.
#
# Environment:
#   BENCH_DIR     scratch folder: source files, the cat target and the drive's
#                 state folder, all on one file system (default /tmp/fornax-simdrive-bench)
#   BENCH_BUILD   build folder with cli/fornax-cli (default <repo>/build-bench, built Release)
#   BENCH_RUNS    timed runs of each command after one warm-up (default 5)
#   BENCH_MB      total size of the source files in MB (default 1100)
#   BENCH_PACE    FORNAX_PACE_DIVISOR for fornax-cli (default 1: the engine's
#                 own waits in real time; 100 shortens them as the tests do)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_DIR=${BENCH_DIR:-/tmp/fornax-simdrive-bench}
BUILD=${BENCH_BUILD:-$REPO/build-bench}
RUNS=${BENCH_RUNS:-5}
MB=${BENCH_MB:-1100}
PACE=${BENCH_PACE:-1}

source "$REPO/bench/bench_common.sh"

say "Build (Release) in $BUILD"
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$BUILD" -j2 fornax-cli fornax_simdrive | tail -1
FORNAX="$BUILD/cli/fornax-cli"

SRC="$BENCH_DIR/src"
STATE="$BENCH_DIR/state"
CATOUT="$BENCH_DIR/cat.out"
mkdir -p "$BENCH_DIR"
free_mb=$(df -Pm "$BENCH_DIR" | awk 'NR == 2 { print $4 }')
(( free_mb > 3 * MB + 200 )) || die "need $((3 * MB + 200)) MB free under $BENCH_DIR (the files, cat's copy, the disc)"

# The files: eight of a size plus a folder of 200 small ones, random bytes
# (so that no write is all zeros), made once.
if [[ ! -f "$SRC.done" || "$(cat "$SRC.done")" != "$MB" ]]; then
  say "Making $MB MB of files in $SRC"
  rm -rf "$SRC"
  mkdir -p "$SRC/small"
  big=$(( (MB - 20) / 8 ))
  for i in 1 2 3 4 5 6 7 8; do
    head -c "$((big * 1000 * 1000))" /dev/urandom > "$SRC/big$i.bin"
  done
  for i in $(seq 1 200); do head -c 100000 /dev/urandom > "$SRC/small/f$i.bin"; done
  echo "$MB" > "$SRC.done"
fi
total=$(du -sb "$SRC" | cut -f1)
echo "source: $(find "$SRC" -type f | wc -l) files, $total bytes; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

export FORNAX_SIMDRIVE_DIR="$STATE" FORNAX_PACE_DIVISOR="$PACE"
# Each burn gets a blank DVD+R at maximum speed (the drive's buffer never
# limits anything), outside the timing.
# Both commands start with no dirty pages waiting (sync), so that neither
# pays for the other's writeback.
prepare="rm -rf '$STATE' && '$FORNAX' vdrive insert dvd+r >/dev/null && '$FORNAX' vdrive speed 0 >/dev/null && sync"

say "Timing: cat into one file, then fornax-cli burn ($RUNS runs each after a warm-up)"
hyperfine --warmup 1 --runs "$RUNS" --export-json "$BENCH_DIR/result.json" \
  --prepare "rm -f '$CATOUT' && sync" -n cat "find '$SRC' -type f -print0 | sort -z | xargs -0 cat > '$CATOUT'" \
  --prepare "$prepare" -n burn "'$FORNAX' burn '$SRC' >/dev/null"
rm -f "$CATOUT"

awk '
  /"command":/ { name = $2; gsub(/[",]/, "", name) }
  /"mean":/    { v = $2; gsub(/,/, "", v); mean[name] = v }
  END {
    printf "\ncat  mean %.3f s\nburn mean %.3f s\nratio burn / cat: %.2f (goal: under 1.5)\n",
           mean["cat"], mean["burn"], mean["burn"] / mean["cat"]
  }' "$BENCH_DIR/result.json"
"$FORNAX" vdrive status 2>/dev/null | head -8 || true
