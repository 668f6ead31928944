#!/usr/bin/env bash
# The benchmark report in one command: builds fornax-cli (Release), makes the
# source trees, checks every tool's image once, times image builds of fornax
# (default and --quick), genisoimage, xorriso and the cat limit interleaved on
# five trees, times burns to the simulated recorder, runs the layout benchmark,
# then writes docs/benchmarks.md and its plots from the raw numbers. Run by
# hand, never by CI; see bench/README.md for what it measures, how long it
# takes and the disk space it needs.
#
#   bench/report.sh                  measure, then write the report
#   bench/report.sh --render-only    write the report from the last results
#
# Environment:
#   BENCH_DIR        scratch folder for trees, images, the drive and results (default /tmp/fornax-bench)
#   BENCH_SCALE      shrinks file counts and sizes, e.g. 0.02 to try the script (default 1)
#   BENCH_RUNS       interleaved repetitions (default 5)
#   BENCH_ONLY       any of "a b c d e burn layout" (default all)
#   BENCH_BUILD      build folder (default <repo>/build-bench)
#   BENCH_JOBS       build jobs (default 1)
#   BENCH_SLOW       a tool whose first build of a tree takes longer (seconds) is not repeated on it (default 60)
#   BENCH_TIMEOUT    that first build is stopped after this many seconds (default 300)
#   BENCH_SKIP_BUILD 1: use the binaries already in BENCH_BUILD as they are
#   BENCH_DOCS       where the report goes (default <repo>/docs)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian's python with its matplotlib, whatever python comes first on PATH.
PY=/usr/bin/python3
BENCH_DIR=${BENCH_DIR:-/tmp/fornax-bench}
SCALE=${BENCH_SCALE:-1}
RUNS=${BENCH_RUNS:-5}
ONLY=${BENCH_ONLY:-a b c d e burn layout}
BUILD=${BENCH_BUILD:-$REPO/build-bench}
JOBS=${BENCH_JOBS:-1}
SLOW=${BENCH_SLOW:-60}
TIMEOUT=${BENCH_TIMEOUT:-300}
DOCS=${BENCH_DOCS:-$REPO/docs}
RESULTS="$BENCH_DIR/results"

# shellcheck source=bench/bench_common.sh
source "$REPO/bench/bench_common.sh"

RENDER_ONLY=0
for arg in "$@"; do
  case $arg in
    --render-only) RENDER_ONLY=1 ;;
    -h | --help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$arg' (try --help)" ;;
  esac
done

render() {
  "$PY" "$REPO/bench/plot_report.py" --results "$RESULTS" --docs "$DOCS"
}
"$PY" -c 'import matplotlib' 2>/dev/null || die "$PY has no matplotlib (apt-get install python3-matplotlib)"
if ((RENDER_ONLY)); then
  render
  exit 0
fi

awk -v s="$SCALE" 'BEGIN { exit !(s > 0 && s <= 1) }' || die "BENCH_SCALE must be in (0, 1], not '$SCALE'"
check_runs
[[ "$SLOW" =~ ^[0-9]+([.][0-9]+)?$ ]] || die "BENCH_SLOW must be a number of seconds, not '$SLOW'"
[[ "$TIMEOUT" =~ ^[1-9][0-9]*$ ]] || die "BENCH_TIMEOUT must be a whole number of seconds, not '$TIMEOUT'"
need_tools cmake ninja genisoimage xorriso isoinfo iconv comm awk df find xargs findmnt
# The engine's waits for the drive in real time, whatever the caller's shell says.
export FORNAX_PACE_DIVISOR=1
# Names are UTF-8: let every tool read them so.
if locale -a 2>/dev/null | grep -qi '^c\.utf-\?8$'; then export LC_ALL=C.UTF-8; fi
wants() { [[ " $ONLY " == *" $1 "* ]]; }
# Integer product of a count and the scale, at least 1.
scaled() { awk -v n="$1" -v s="$SCALE" 'BEGIN { v = int(n * s + 0.5); print (v < 1 ? 1 : v) }'; }
q() { printf '%q' "$1"; }
# For people to read: single quotes when the value needs any.
shown() { if [[ $1 =~ ^[A-Za-z0-9_./+-]*$ ]]; then printf '%s' "$1"; else printf "'%s'" "${1//\'/\'\\\'\'}"; fi; }

STARTED=$SECONDS
say "Fornax benchmark report: scale $SCALE, $RUNS interleaved runs, scratch $BENCH_DIR"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

if [[ ${BENCH_SKIP_BUILD:-0} == 1 ]]; then
  say "Build skipped: binaries of $BUILD as they are"
else
  say "Build (Release) in $BUILD"
  build_targets "$BUILD" "$JOBS" fornax-cli fornax_simdrive fornax_bench_tree fornax_layout_bench
fi
FORNAX="$BUILD/cli/fornax-cli"
SIMDRIVE="$BUILD/cli/libfornax-simdrive.so"
for binary in "$FORNAX" "$BUILD/bench/fornax_bench_tree"; do
  [[ -x "$binary" ]] || die "$binary is missing"
done

# The trees. (e) is the 600,000-entry case: empty files, so that it measures
# what every entry costs rather than moving data; with the root it holds
# 20,000 folders, the most one compilation takes.
declare -A FILES FOLDERS MIN MAX SEED
FILES[a]=$(scaled 20000);  FOLDERS[a]=$(scaled 500);   MIN[a]=1024; MAX[a]=65536; SEED[a]=11
FILES[b]=4;                FOLDERS[b]=0;               MIN[b]=$(scaled 536870912); MAX[b]=${MIN[b]}; SEED[b]=22
FILES[c]=$(scaled 200000); FOLDERS[c]=$(scaled 2000);  MIN[c]=0;    MAX[c]=2048;  SEED[c]=33
FILES[d]=$(scaled 100000); FOLDERS[d]=1;               MIN[d]=0;    MAX[d]=2048;  SEED[d]=44
FILES[e]=$(scaled 580001); FOLDERS[e]=$(scaled 19999); MIN[e]=0;    MAX[e]=0;     SEED[e]=55
TREE_KEYS=""
for key in a b c d e; do wants "$key" && TREE_KEYS+=" $key"; done
TREES="$BENCH_DIR/trees-scale-$SCALE"
OUT="$BENCH_DIR/out.iso"
STATE="$BENCH_DIR/simdrive"

# Disk: the trees not made yet, one image or cat output at a time (the
# largest is that of (b)), the drive's disc of the 2 GiB burn, and a tenth
# for file-system overhead. A folder or a small file takes one 4 KiB block,
# an empty file none.
mkdir -p "$BENCH_DIR"
need_kib=0
for key in a b c d e; do
  [[ -f "$TREES/$key.done" ]] && continue
  need_kib=$(awk -v n="${FILES[$key]}" -v f="${FOLDERS[$key]}" -v lo="${MIN[$key]}" -v hi="${MAX[$key]}" -v t="$need_kib" \
    'BEGIN { per = int(((lo + hi) / 2 + 4095) / 4096) * 4; if (per < 4 && hi > 0) per = 4; printf "%.0f", t + n * per + f * 4 }')
done
need_kib=$(awk -v t="$need_kib" -v b="${MIN[b]}" 'BEGIN { printf "%.0f", 1.1 * (t + 2 * 4 * b / 1024 + 65536) }')
free_kib=$(df -Pk "$BENCH_DIR" | awk 'NR == 2 { print $4 }')
printf 'disk: %.1f GiB needed, %.1f GiB free\n' "$(awk -v k="$need_kib" 'BEGIN { print k / 1048576 }')" \
  "$(awk -v k="$free_kib" 'BEGIN { print k / 1048576 }')"
((free_kib > need_kib)) || die "not enough free space under $BENCH_DIR; set BENCH_DIR elsewhere"

rm -rf "$RESULTS"
mkdir -p "$RESULTS"
RUNS_CSV="$RESULTS/runs.csv"
printf 'group,tool,rep,position,wall_s,user_s,sys_s,maxrss_kib,exit\n' >"$RUNS_CSV"
LOG="$RESULTS/commands.log"
META="$RESULTS/meta.tsv"
CHECKS="$RESULTS/checks.tsv"
meta() { printf '%s\t%s\n' "$1" "$2" >>"$META"; }
printf 'tree\ttool\tresult\tdetail\n' >"$CHECKS"
check() { printf '%s\t%s\t%s\t%s\n' "$@" >>"$CHECKS"; }

# The exact command, without paths of this machine: the scratch folder only
# when it is under /tmp, the build folder only relative to the repository.
command_line=""
for var in BENCH_SCALE BENCH_RUNS BENCH_ONLY BENCH_JOBS BENCH_SKIP_BUILD BENCH_SLOW BENCH_TIMEOUT; do
  [[ -n ${!var:-} ]] && command_line+="$var=$(shown "${!var}") "
done
[[ $BENCH_DIR != /tmp/fornax-bench ]] &&
  command_line+="BENCH_DIR=$([[ $BENCH_DIR == /tmp/* ]] && shown "$BENCH_DIR" || echo '<scratch>') "
[[ $BUILD != "$REPO/build-bench" ]] &&
  command_line+="BENCH_BUILD=$([[ $BUILD == "$REPO"/* ]] && shown "${BUILD#"$REPO"/}" || echo '<build>') "
command_line+="bench/report.sh"

: >"$META"
meta command "$command_line"
meta date "$(date -u '+%Y-%m-%d %H:%M UTC')"
meta commit "$(git -C "$REPO" log -1 --format='%h (%cd)' --date=short 2>/dev/null || echo unknown)"
meta uncommitted "$(git -C "$REPO" status --porcelain -- engine cli simdrive 2>/dev/null | wc -l)"
meta cpu "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
meta cores "$(nproc)"
meta ram_gib "$(awk '/MemTotal/ { printf "%.1f", $2 / 1048576 }' /proc/meminfo)"
meta kernel "$(uname -sr)"
meta filesystem "$(findmnt -n -o FSTYPE -T "$BENCH_DIR")"
meta scratch_under_tmp "$([[ $BENCH_DIR == /tmp/* ]] && echo yes || echo no)"
meta load_start "$(cut -d' ' -f1-3 /proc/loadavg)"
# A virtual machine may hand the memory it frees back to its host (free page
# reporting), and the next program to take it waits while the host maps it
# again: 2 GiB of page cache then cost 3.5 s instead of 0.7 s, for whichever
# tool happens to come next. Held off while the benchmark runs, where root
# may; order 11 is above the largest block the kernel keeps, so nothing is
# reported.
REPORTING=/sys/module/page_reporting/parameters/page_reporting_order
if [[ -w $REPORTING ]]; then
  REPORTING_WAS=$(cat "$REPORTING")
  trap 'echo "$REPORTING_WAS" >"$REPORTING"' EXIT
  echo 11 >"$REPORTING"
  # What was reported before stays with the host until it is used again: all
  # free memory is used once now (about 4 s per GiB here), so that no timed
  # run meets it.
  say "Free memory used once (it may have been handed to the host)"
  "$PY" - <<'EOF'
import mmap
free = next(int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemFree:")) * 1024
size = max(0, free - (512 << 20)) // mmap.PAGESIZE * mmap.PAGESIZE
if size:
    mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | mmap.MAP_POPULATE).close()
print(f"{size >> 20} MiB")
EOF
  meta page_reporting "held off during the run (it was order $REPORTING_WAS), free memory used once before it"
elif [[ -e $REPORTING ]]; then
  meta page_reporting "on (not writable here): timings of memory-hungry runs vary"
else
  meta page_reporting "none"
fi
meta scale "$SCALE"
meta runs "$RUNS"
meta slow "$SLOW"
meta timeout "$TIMEOUT"
meta only "$ONLY"
meta genisoimage "$(genisoimage --version 2>&1 | head -1)"
meta xorriso "$(xorriso -version 2>/dev/null | head -1)"

# Makes a tree once; a tree whose marker is there, made with the same
# settings, is reused.
make_tree() {
  local key=$1 dir="$TREES/$1" started=$SECONDS
  local settings="--files ${FILES[$key]} --folders ${FOLDERS[$key]} --min ${MIN[$key]} --max ${MAX[$key]} --seed ${SEED[$key]}"
  if [[ -f "$TREES/$key.done" && "$(cat "$TREES/$key.settings" 2>/dev/null)" == "$settings" ]]; then
    echo "($key) reused: $(cat "$TREES/$key.done")"
    return
  fi
  rm -f "$TREES/$key.done"
  rm -rf "$dir"
  mkdir -p "$TREES"
  "$BUILD/bench/fornax_bench_tree" "$dir" --files "${FILES[$key]}" --folders "${FOLDERS[$key]}" \
    --min "${MIN[$key]}" --max "${MAX[$key]}" --seed "${SEED[$key]}" >"$TREES/$key.done.tmp"
  sed -i "s|^$TREES/||" "$TREES/$key.done.tmp"
  echo "$settings" >"$TREES/$key.settings"
  mv "$TREES/$key.done.tmp" "$TREES/$key.done"
  echo "($key) made in $((SECONDS - started)) s: $(cat "$TREES/$key.done")"
}

if [[ -n $TREE_KEYS ]] || wants burn; then
  say "Source trees in $TREES"
  for key in $TREE_KEYS; do make_tree "$key"; done
  wants burn && ! wants b && make_tree b
  sync
fi

# The image commands, as bash command lines for interleave.py (exec, so that
# the peak memory measured is the tool's own).
tool_cmd() {
  local tool=$1 tree=$2
  case $tool in
    default) echo "exec $(q "$FORNAX") iso $(q "$OUT") $(q "$tree")" ;;
    quick) echo "exec $(q "$FORNAX") iso $(q "$OUT") $(q "$tree") --quick" ;;
    genisoimage) echo "exec genisoimage -quiet -J -joliet-long -o $(q "$OUT") $(q "$tree")" ;;
    xorriso) echo "exec xorriso -as mkisofs -quiet -J -joliet-long -o $(q "$OUT") $(q "$tree")" ;;
    cat) echo "find $(q "$tree") -type f -print0 | xargs -0 cat > $(q "$OUT")" ;;
  esac
}
IMAGE_TOOLS="default quick genisoimage xorriso cat"

# The paths of an image's Joliet tree, one a line, sorted, as find prints
# them below the root. isoinfo converts Joliet names only to 8-bit character
# sets; the trees' names need no more than Latin-1. Versions (;1) go.
joliet_paths() {
  isoinfo -f -J -j iso8859-1 -i "$1" | iconv -f latin1 -t utf-8 | sed 's/;1$//' | LC_ALL=C sort
}

# The pass before the repetitions: every tool builds the image once and the
# image is read back through its Joliet tree, which must list every file and
# folder of the tree by its path (cat's output must hold every byte). The
# tree is read once before it, so that every timed run starts warm.
# These builds are timed as repetition 0, which the report leaves out, except
# for a tool that took longer than BENCH_SLOW seconds: that one is not run
# again on this tree (a peer that is quadratic in the files of a folder would
# otherwise take most of the benchmark), and the report shows its one run.
check_tree() {
  local key=$1 tree="$TREES/$1" expected bytes tool got size wall status
  local paths="$BENCH_DIR/paths.txt"
  (cd "$tree" && find . -mindepth 1 | sed 's|^\.||' | LC_ALL=C sort) >"$paths"
  expected=$(wc -l <"$paths")
  bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s }')
  meta "tree.$key.entries" "$expected"
  meta "tree.$key.files" "$(find "$tree" -type f | wc -l)"
  meta "tree.$key.folders" "$(find "$tree" -mindepth 1 -type d | wc -l)"
  meta "tree.$key.bytes" "$bytes"
  meta "tree.$key.min" "${MIN[$key]}"
  meta "tree.$key.max" "${MAX[$key]}"
  meta "tree.$key.one_folder" "$([[ ${FOLDERS[$key]} == 1 ]] && echo yes || echo no)"
  SLOW_TOOLS=""
  # The tree into the page cache before anything is timed, untimed: a tool
  # that met it cold would be judged by the disk, and one that took more than
  # BENCH_SLOW that way would not be run again.
  find "$tree" -type f -print0 | xargs -0 cat | wc -c >/dev/null
  for tool in cat ${IMAGE_TOOLS/ cat/}; do
    "$PY" "$REPO/bench/interleave.py" --runs 1 --first-rep 0 --quiet --timeout "$TIMEOUT" \
      --csv "$RUNS_CSV" --log "$LOG" --group "$key" \
      --tool "$tool" "rm -f $(q "$OUT") && sync" "$(tool_cmd "$tool" "$tree")" || die "a run could not be prepared; see $LOG"
    IFS=, read -r wall status < <(tail -1 "$RUNS_CSV" | cut -d, -f5,9)
    if awk -v w="$wall" -v s="$SLOW" 'BEGIN { exit !(w > s) }'; then
      SLOW_TOOLS+=" $tool"
      printf '  %-12s took %.1f s, more than BENCH_SLOW=%s s: timed this once, not repeated\n' "$tool" "$wall" "$SLOW"
    fi
    if [[ $status == 124 ]]; then
      printf '  %-12s stopped after %s s (BENCH_TIMEOUT): not checked, not repeated\n' "$tool" "$TIMEOUT"
      check "$key" "$tool" TIMEOUT "stopped after $TIMEOUT s"
      continue
    fi
    if [[ $status != 0 ]]; then
      echo "  $tool failed on ($key) (exit $status); see $LOG"
      check "$key" "$tool" FAIL "exited with an error"
      continue
    fi
    size=$(stat -c %s "$OUT")
    if [[ $tool == cat ]]; then
      if [[ $size == "$bytes" ]]; then check "$key" cat ok "$size bytes"; else check "$key" cat MISMATCH "$size of $bytes bytes"; fi
      printf '  %-12s %14s bytes of %s\n' cat "$size" "$bytes"
      continue
    fi
    # Entries of the tree found in the image: lines common to both lists.
    got=$(joliet_paths "$OUT" | LC_ALL=C comm -12 - "$paths" | wc -l)
    if [[ $got == "$expected" ]]; then
      check "$key" "$tool" ok "$got entries"
    else
      check "$key" "$tool" MISMATCH "$got of $expected entries"
    fi
    printf '  %-12s %14s bytes, %d of %d entries in its Joliet tree%s\n' "$tool" "$size" "$got" "$expected" \
      "$([[ $got == "$expected" ]] || echo '  MISMATCH')"
  done
  rm -f "$OUT" "$paths"
}

interleave() {
  "$PY" "$REPO/bench/interleave.py" --runs "$RUNS" --csv "$RUNS_CSV" --log "$LOG" "$@" ||
    die "a run could not be prepared; see $LOG"
}

time_tree() {
  local key=$1 tree="$TREES/$1" tool args=()
  say "Tree ($key): $(cat "$TREES/$key.done")"
  check_tree "$key"
  for tool in $IMAGE_TOOLS; do
    [[ " $SLOW_TOOLS " == *" $tool "* ]] && continue
    args+=(--tool "$tool" "rm -f $(q "$OUT") && sync" "$(tool_cmd "$tool" "$tree")")
  done
  ((${#args[@]})) && interleave --group "$key" "${args[@]}"
  rm -f "$OUT"
}

for key in $TREE_KEYS; do time_tree "$key"; done

# Burns to the simulated recorder, with the engine's waits in real time.
if wants burn; then
  export FORNAX_SIMDRIVE_DIR="$STATE"
  burn="exec $(q "$FORNAX") burn --transport $(q "$SIMDRIVE")"
  # A fresh drive with a blank disc of a kind at maximum speed, and no dirty
  # pages of the previous run waiting.
  blank() { echo "rm -rf $(q "$STATE") $(q "$OUT") && $(q "$FORNAX") vdrive insert $1 >/dev/null && $(q "$FORNAX") vdrive speed 0 >/dev/null && sync"; }

  say "One-file burns: a small file to a blank DVD+R, CD-R and DVD-R at maximum speed"
  ONE="$BENCH_DIR/one-file/notes.txt"
  mkdir -p "$(dirname "$ONE")"
  seq -f 'line %g of a small file' 1 150 >"$ONE"
  meta one_file_bytes "$(stat -c %s "$ONE")"
  args=()
  for medium in dvd+r cd-r dvd-r; do
    args+=(--tool "$medium" "$(blank "$medium")" "$burn $(q "$ONE")")
  done
  interleave --group burn-one "${args[@]}"

  say "2 GiB burn: tree (b) to a blank DVD+R at maximum speed, against cat of the same files"
  meta burn_bytes "$(find "$TREES/b" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s }')"
  # One untimed burn that must verify: what is timed writes a whole session.
  bash -c "$(blank dvd+r)"
  if "$FORNAX" burn --transport "$SIMDRIVE" "$TREES/b" >>"$LOG" 2>&1 &&
     "$FORNAX" verify --transport "$SIMDRIVE" "$TREES/b" >>"$LOG" 2>&1; then
    check burn burn ok "the session verifies"
    echo "  the untimed burn verifies"
  else
    check burn burn FAIL "the burn or its verify failed"
    echo "  the untimed burn or its verify FAILED; see $LOG"
  fi
  interleave --group burn-b \
    --tool burn "$(blank dvd+r)" "$burn $(q "$TREES/b")" \
    --tool cat "rm -rf $(q "$STATE") $(q "$OUT") && sync" "$(tool_cmd cat "$TREES/b")"
  rm -rf "$STATE" "$OUT"
fi

if wants layout; then
  say "Layout benchmark (in memory, synthetic listings)"
  if [[ -x "$BUILD/bench/fornax_layout_bench" ]]; then
    if "$BUILD/bench/fornax_layout_bench" --scale "$SCALE" | tee "$RESULTS/layout.txt"; then
      meta layout "every target met"
    else
      meta layout "a target missed or entries refused"
    fi
  else
    echo "  $BUILD/bench/fornax_layout_bench is missing; skipped"
  fi
fi

meta load_end "$(cut -d' ' -f1-3 /proc/loadavg)"
meta minutes "$(awk -v s=$((SECONDS - STARTED)) 'BEGIN { printf "%.1f", s / 60 }')"

say "Report"
render
echo "Raw numbers: $RESULTS (runs.csv, meta.tsv, checks.tsv, commands.log). Trees kept for the next run; rm -rf $BENCH_DIR frees the space."
