#!/usr/bin/env bash
# Image-building benchmark: fornax-cli quick save against genisoimage and
# xorriso on the same source trees, plus the in-memory layout benchmark.
# See bench/README.md for what it measures, how long it takes and the disk
# space it needs.
#
# Environment:
#   BENCH_DIR    scratch folder for the trees and images (default /tmp/fornax-bench)
#   BENCH_SCALE  shrinks file counts and sizes, e.g. 0.1 to try the script (default 1)
#   BENCH_RUNS   timed runs per tool and tree, after one warm-up run (default 5)
#   BENCH_ONLY   any of "a b c layout" to run only those parts (default all)
#   BENCH_BUILD  build folder (default <repo>/build-bench)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SCALE=${BENCH_SCALE:-1}
RUNS=${BENCH_RUNS:-5}
ONLY=${BENCH_ONLY:-a b c layout}
BENCH_DIR=${BENCH_DIR:-/tmp/fornax-bench}
BUILD=${BENCH_BUILD:-$REPO/build-bench}

say() { printf '\n== %s\n' "$*"; }
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }
wants() { [[ " $ONLY " == *" $1 "* ]]; }
# Integer product of a count and the scale, at least 1.
scaled() { awk -v n="$1" -v s="$SCALE" 'BEGIN { v = int(n * s + 0.5); print (v < 1 ? 1 : v) }'; }

awk -v s="$SCALE" 'BEGIN { exit !(s > 0 && s <= 1) }' || die "BENCH_SCALE must be in (0, 1], not '$SCALE'"
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || die "BENCH_RUNS must be a positive whole number, not '$RUNS'"
for tool in cmake ninja hyperfine genisoimage xorriso isoinfo awk df; do
  command -v "$tool" >/dev/null || die "$tool is not installed (apt-get install $tool)"
done
# Names are UTF-8: let every tool read them so.
if locale -a 2>/dev/null | grep -qi '^c\.utf-\?8$'; then export LC_ALL=C.UTF-8; fi

# The trees: (a) small files, (b) large files, (c) tiny files.
A_FILES=$(scaled 20000);  A_FOLDERS=$(scaled 500);  A_MIN=1024; A_MAX=65536
B_FILES=4;                B_FOLDERS=0;              B_SIZE=$(scaled 536870912)
C_FILES=$(scaled 200000); C_FOLDERS=$(scaled 2000); C_MIN=0;    C_MAX=2048
TREES="$BENCH_DIR/trees-scale-$SCALE"
RESULTS="$BENCH_DIR/results"
OUT="$BENCH_DIR/out.iso"
FORNAX="$BUILD/cli/fornax-cli"

say "Fornax image benchmark: scale $SCALE, $RUNS timed runs per tool after one warm-up, scratch $BENCH_DIR"
echo "host: $(nproc) cores, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "source: $(git -C "$REPO" log -1 --format='%h %cd' --date=short 2>/dev/null || echo 'no git')," \
     "$(git -C "$REPO" status --porcelain -- engine cli 2>/dev/null | wc -l) uncommitted change(s) in engine/ and cli/"
echo "tools: $(hyperfine --version), $(genisoimage --version 2>&1 | head -1)," \
     "$(xorriso -version 2>/dev/null | head -1)"

say "Build (Release) in $BUILD"
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$BUILD" -j2 fornax-cli fornax_layout_bench fornax_bench_tree | tail -1

# Disk space: the trees not made yet, plus one image or copy at a time (the
# largest is that of (b)), plus a tenth for file-system overhead.
mkdir -p "$BENCH_DIR" "$RESULTS"
need_kib=$(awk -v s="$SCALE" \
  -v a=$([[ -f "$TREES/a.done" ]] && echo 0 || echo 1) \
  -v b=$([[ -f "$TREES/b.done" ]] && echo 0 || echo 1) \
  -v c=$([[ -f "$TREES/c.done" ]] && echo 0 || echo 1) 'BEGIN {
    treeA = 20000 * s * (33 + 4) + 500 * s * 4        # mean 32.5 KiB, 4 KiB blocks
    treeB = 4 * 524288 * s
    treeC = 200000 * s * 4 + 2000 * s * 8             # 0-2 KiB files take one block
    image = 4 * 524288 * s + 4096
    printf "%d", 1.1 * (a * treeA + b * treeB + c * treeC + image) }')
free_kib=$(df -Pk "$BENCH_DIR" | awk 'NR == 2 { print $4 }')
printf 'disk: %.1f GiB needed, %.1f GiB free on %s\n' \
  "$(awk -v k="$need_kib" 'BEGIN { print k / 1048576 }')" \
  "$(awk -v k="$free_kib" 'BEGIN { print k / 1048576 }')" "$(df -P "$BENCH_DIR" | awk 'NR == 2 { print $6 }')"
(( free_kib > need_kib )) || die "not enough free space under $BENCH_DIR; set BENCH_DIR elsewhere"

# Makes a tree once; a tree whose marker is there is reused.
make_tree() {
  local name=$1; shift
  local dir="$TREES/$name"
  if [[ -f "$TREES/$name.done" ]]; then
    echo "$name: reused ($(cat "$TREES/$name.done"))"
    return
  fi
  rm -rf "$dir"
  mkdir -p "$TREES"
  local started=$SECONDS
  "$BUILD/bench/fornax_bench_tree" "$dir" "$@" >"$TREES/$name.done.tmp"
  mv "$TREES/$name.done.tmp" "$TREES/$name.done"
  echo "$name: made in $((SECONDS - started)) s ($(cat "$TREES/$name.done"))"
}

say "Source trees in $TREES"
wants a && make_tree a --files "$A_FILES" --folders "$A_FOLDERS" --min $A_MIN --max $A_MAX --seed 11
wants b && make_tree b --files "$B_FILES" --folders "$B_FOLDERS" --min "$B_SIZE" --max "$B_SIZE" --seed 22
wants c && make_tree c --files "$C_FILES" --folders "$C_FOLDERS" --min $C_MIN --max $C_MAX --seed 33
sync

fornax_cmd() { echo "'$FORNAX' iso '$OUT' '$1'"; }
genisoimage_cmd() { echo "genisoimage -quiet -J -joliet-long -o '$OUT' '$1'"; }
xorriso_cmd() { echo "xorriso -as mkisofs -quiet -J -joliet-long -o '$OUT' '$1'"; }

# One untimed build per tool, to check that every image holds every file and
# folder of the tree (read back through its Joliet tree). It also loads the
# tree into the page cache.
check_images() {
  local tree=$1 expected tool got
  expected=$(find "$tree" -mindepth 1 | wc -l)
  for tool in fornax genisoimage xorriso; do
    rm -f "$OUT"
    if ! bash -c "$(${tool}_cmd "$tree")" >"$RESULTS/check-$tool.log" 2>&1; then
      echo "  $tool failed on $tree; see $RESULTS/check-$tool.log"
      tail -5 "$RESULTS/check-$tool.log" | sed 's/^/    /'
      return 1
    fi
    got=$(isoinfo -f -J -i "$OUT" | wc -l)
    printf '  %-12s %12s bytes, %d of %d entries in its Joliet tree%s\n' "$tool" \
      "$(stat -c %s "$OUT")" "$got" "$expected" "$([[ $got == "$expected" ]] || echo '  MISMATCH')"
  done
  rm -f "$OUT"
}

# hyperfine: warm runs. Before every run (the warm-up included) the image of
# the previous run is deleted and the file system synced, so that each run
# starts with the sources in the page cache and no dirty pages of its own kind
# queued for writeback.
time_tree() {
  local name=$1 tree=$2; shift 2
  say "Tree ($name): $(cat "$TREES/$name.done")"
  check_images "$tree" || die "an image of tree ($name) could not be built"
  hyperfine --style basic --warmup 1 --runs "$RUNS" \
    --prepare "rm -f '$OUT'; sync" --cleanup "rm -f '$OUT'" \
    --export-csv "$RESULTS/$name.csv" --export-json "$RESULTS/$name.json" \
    -n fornax "$(fornax_cmd "$tree")" \
    -n genisoimage "$(genisoimage_cmd "$tree")" \
    -n xorriso "$(xorriso_cmd "$tree")" \
    "$@"
  rm -f "$OUT"
}

# fornax and cat on (b) in alternation, each run prepared as above. On a VM
# the time to fill 2 GiB of fresh page cache swings from run to run with how
# the host backs the pages; alternating gives both commands the same swings,
# which back-to-back blocks of runs do not. Writes "fornax cat" seconds per
# pair to $RESULTS/b-pairs.txt.
time_pairs() {
  local pairs=$((RUNS * 2)) i tool started
  local cat_cmd="cat '$TREES'/b/part-*.bin > '$OUT'"
  say "Tree (b): fornax and cat alternated, $pairs pairs"
  : >"$RESULTS/b-pairs.txt"
  for ((i = 1; i <= pairs; ++i)); do
    local line=""
    for tool in fornax cat; do
      rm -f "$OUT"; sync
      local cmd; [[ $tool == fornax ]] && cmd=$(fornax_cmd "$TREES/b") || cmd=$cat_cmd
      started=$(date +%s%N)
      bash -c "$cmd" >/dev/null 2>&1 || die "$tool failed on tree (b)"
      line+=" $(awk -v a="$started" -v b="$(date +%s%N)" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')"
    done
    echo "${line# }" >>"$RESULTS/b-pairs.txt"
    printf '  pair %2d: fornax %s s, cat %s s\n' "$i" ${line}
  done
  rm -f "$OUT"
}

wants a && time_tree a "$TREES/a"
if wants b; then
  time_tree b "$TREES/b" -n cat "cat '$TREES'/b/part-*.bin > '$OUT'"
  time_pairs
fi
wants c && time_tree c "$TREES/c"

LAYOUT_STATUS=skipped
if wants layout; then
  say "Layout benchmark (in memory, synthetic listings)"
  if "$BUILD/bench/fornax_layout_bench" --scale "$SCALE" | tee "$RESULTS/layout.txt"; then
    LAYOUT_STATUS="every target met"
  else
    LAYOUT_STATUS="a target missed or entries refused (exit $?)"
  fi
fi

# Summary from hyperfine's CSV: command,mean,stddev,median,user,system,min,max.
summary() {
  local name=$1 csv="$RESULTS/$1.csv"
  [[ -f "$csv" ]] || return 0
  awk -F, -v name="$name" '
    NR == 1 { next }
    { median[$1] = $4; mean[$1] = $2; sd[$1] = $3; lo[$1] = $7; hi[$1] = $8; order[++n] = $1 }
    END {
      printf "tree (%s)\n", name
      for (i = 1; i <= n; ++i) {
        t = order[i]
        printf "  %-12s median %8.3f s   (mean %.3f +- %.3f, min %.3f, max %.3f)\n", t, median[t], mean[t], sd[t], lo[t], hi[t]
      }
      printf "  fornax/genisoimage %6.2f\n", median["fornax"] / median["genisoimage"]
      printf "  fornax/xorriso     %6.2f\n", median["fornax"] / median["xorriso"]
      if ("cat" in median)
        printf "  fornax/cat         %6.2f   target <= 1.2   %s   (medians above)\n", median["fornax"] / median["cat"],
               (median["fornax"] / median["cat"] <= 1.2 ? "PASS" : "FAIL")
    }' "$csv"
  [[ $name == b && -s "$RESULTS/b-pairs.txt" ]] || return 0
  # Alternated pairs: medians of each command's times, and the best of each.
  sort -n -k1,1 "$RESULTS/b-pairs.txt" | awk '{ f[NR] = $1 } END { print (f[int((NR + 1) / 2)] + f[int(NR / 2) + 1]) / 2, f[1] }' >"$RESULTS/b-fornax.tmp"
  sort -n -k2,2 "$RESULTS/b-pairs.txt" | awk '{ c[NR] = $2 } END { print (c[int((NR + 1) / 2)] + c[int(NR / 2) + 1]) / 2, c[1] }' >"$RESULTS/b-cat.tmp"
  paste -d' ' "$RESULTS/b-fornax.tmp" "$RESULTS/b-cat.tmp" | awk -v n="$(wc -l <"$RESULTS/b-pairs.txt")" '{
    printf "  alternated, %d pairs: fornax median %.3f s (best %.3f), cat median %.3f s (best %.3f)\n", n, $1, $2, $3, $4
    printf "  fornax/cat         %6.2f   target <= 1.2   %s   (medians, alternated)\n", $1 / $3, ($1 / $3 <= 1.2 ? "PASS" : "FAIL")
    printf "  fornax/cat         %6.2f   target <= 1.2   %s   (best runs, alternated)\n", $2 / $4, ($2 / $4 <= 1.2 ? "PASS" : "FAIL")
  }'
  rm -f "$RESULTS/b-fornax.tmp" "$RESULTS/b-cat.tmp"
}

say "Summary (scale $SCALE, medians of $RUNS warm runs)"
{
  for name in a b c; do wants "$name" && summary "$name"; done
  if wants layout; then
    echo "layout: $LAYOUT_STATUS"
    grep -v '^fornax_layout_bench' "$RESULTS/layout.txt" | sed 's/^/  /'
  fi
} | tee "$RESULTS/summary.txt"
echo
echo "Results: $RESULTS (summary.txt, <tree>.csv/.json, layout.txt). Trees kept for the next run; rm -rf $BENCH_DIR frees the space."
