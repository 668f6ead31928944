# shellcheck shell=bash
# What the benchmark scripts share: messages, checks of the settings, the
# tools they need and the build of the targets they run. Sourced, never run.
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }
say() { printf '\n== %s\n' "$*"; }

check_runs() {
  [[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || die "BENCH_RUNS must be a positive whole number, not '$RUNS'"
}
check_mb() {
  [[ "$MB" =~ ^[1-9][0-9]*$ ]] || die "BENCH_MB must be a positive whole number, not '$MB'"
}
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || die "$tool is not installed (apt-get install $tool)"
  done
}

# Configures BUILD as Release when it holds no build yet and builds the given
# targets at low priority: the machines these run on are often shared.
build_targets() {
  local build=$1 jobs=$2; shift 2
  [[ -f "$build/CMakeCache.txt" ]] ||
    cmake -S "$REPO" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFORNAX_BUILD_TESTS=OFF >/dev/null
  if ! nice -n 10 ninja -C "$build" -j "$jobs" "$@" >"$build/bench-build.log" 2>&1; then
    tail -30 "$build/bench-build.log" >&2
    die "the build failed (log: $build/bench-build.log)"
  fi
  tail -1 "$build/bench-build.log"
}
