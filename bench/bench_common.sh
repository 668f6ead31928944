# What the benchmark scripts share: messages, the checks of BENCH_RUNS and
# BENCH_MB, and the tools they need. Sourced after RUNS and MB are set.
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }
say() { printf '\n== %s\n' "$*"; }
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || die "BENCH_RUNS must be a positive whole number, not '$RUNS'"
[[ "$MB" =~ ^[1-9][0-9]*$ ]] || die "BENCH_MB must be a positive whole number, not '$MB'"
for tool in cmake ninja hyperfine awk df; do
  command -v "$tool" >/dev/null || die "$tool is not installed (apt-get install $tool)"
done
