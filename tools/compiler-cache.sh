# Sourced by the build scripts (tools/build.sh, tools/sanitize.sh,
# tests/fuzz/run.sh). Where ccache is installed, compiles go through it, keyed
# by paths relative to the repository, so that a fresh clone (as CI makes one
# for every run) reuses what an earlier clone compiled: four builds of the
# same sources (the program, two sanitizer builds, the fuzzer) take most of a
# test run on two cores otherwise. Objects found in the cache keep the
# debugging paths of the clone that compiled them.
# Sets FORNAX_CACHE_ARGS, the cmake arguments to hand on.
FORNAX_CACHE_ARGS=()
if command -v ccache >/dev/null 2>&1; then
  CCACHE_BASEDIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  export CCACHE_BASEDIR CCACHE_NOHASHDIR=true
  FORNAX_CACHE_ARGS=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
