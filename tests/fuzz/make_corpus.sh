#!/usr/bin/env bash
# Makes the seed images of corpus/ anew (they hold dates, so the bytes differ
# from the kept ones). Needs fornax-cli built in $FORNAX_CLI_BUILD (default
# build/ at the top of the repository), genisoimage, xorriso and python3.
#
#   bash tests/fuzz/make_corpus.sh [OUTPUT_FOLDER]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="$(mkdir -p "${1:-$here/corpus}" && cd "${1:-$here/corpus}" && pwd)"
cli="${FORNAX_CLI_BUILD:-$repo/build}/cli/fornax-cli"
[ -x "$cli" ] || { echo "make_corpus.sh: no $cli (build fornax-cli first)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# A few tiny files in nested folders, one name outside ASCII.
mkdir -p a/docs/deeper/deepest a/pics
echo hello > a/readme.txt
printf 'a%.0s' {1..3000} > a/docs/long-file-name-for-joliet-trees.text
echo x > a/docs/deeper/deepest/n.c
echo z > a/docs/deeper/NOEXT
echo "Grüße" > "a/pics/Ünïcode name.txt"
: > a/pics/empty
# Empty files only.
mkdir -p e/Folder.With.Dots/sub e/second
: > e/Folder.With.Dots/sub/a.txt
: > "e/second/lower case name"
: > e/TOP.DAT
# Two sessions of two folders.
mkdir -p s1/old s2/new
echo one > s1/old/one.txt
echo keep > s1/keep.txt
echo two > s2/new/two.txt
echo keep2 > s2/keep.txt

# Leaves the first N sectors of an image.
cut_after() { head -c $(($2 * 2048)) "$1" > "$1.cut" && mv "$1.cut" "$1"; }

# Our layout puts file data from sector 150 on: these two are cut after their
# directories (the files of the first then lie beyond the end).
"$cli" iso --quick -V SEED fornax-joliet-cut.iso a > /dev/null
cut_after fornax-joliet-cut.iso 33
"$cli" iso --quick --no-joliet --paths full fornax-iso-full-paths-empty-files.iso "$work/e" > /dev/null
cut_after fornax-iso-full-paths-empty-files.iso 27

genisoimage -quiet -no-pad -o genisoimage-plain.iso a
xorriso -as mkisofs -quiet -J -R -no-pad -V XRR -o xorriso-rockridge-joliet.iso a 2> /dev/null

genisoimage -quiet -J -R -no-pad -o first.iso s1
next=$(($(stat -c %s first.iso) / 2048))
genisoimage -quiet -J -R -no-pad -C "0,$next" -M first.iso -o second.iso s2
cat first.iso second.iso > genisoimage-two-sessions-joliet-rockridge.iso

python3 "$here/handmade_seed.py" handmade-records.iso
python3 "$here/hostile_names_seed.py" .

cp fornax-joliet-cut.iso fornax-iso-full-paths-empty-files.iso genisoimage-plain.iso \
  xorriso-rockridge-joliet.iso genisoimage-two-sessions-joliet-rockridge.iso handmade-records.iso \
  hostile-names-*.iso "$out/"
ls -l "$out"
