#!/usr/bin/env bash
# Installs everything Fornax needs to build and test, from Debian packages.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # compiles shared between clones of the repository (CI clones afresh)
  ccache
  libfmt-dev libcli11-dev libgtest-dev libbenchmark-dev
  # the content hashes of a burn's verify (XXH3-128)
  libxxhash-dev
  # the programs' memory allocator: a scan makes millions of small names and
  # records on two threads, which glibc's allocator serves markedly slower
  libmimalloc-dev
  # the desktop application (Qt 6 Widgets), its translations (lrelease, lupdate and
  # Qt's own catalogues); Xvfb for its screenshots
  qt6-base-dev qt6-l10n-tools qt6-translations-l10n xvfb xauth x11-utils
  # independent readers the tests compare our images with
  xorriso genisoimage libarchive-tools p7zip-full python3 python3-pycdlib libcdio-utils
  # file attributes (archive marks) and benchmarks
  attr hyperfine
  # the fuzzer of the disc readers (libFuzzer with its sanitizers)
  clang libclang-rt-14-dev
  # a small virtual machine whose emulated CD/DVD drives test the SG_IO transport,
  # and in which real burning programs write to the virtual recorder
  qemu-system-x86 linux-image-amd64 busybox-static cpio wodim cdrskin growisofs
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -q || echo "apt-get update failed; trying with the package lists at hand"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
