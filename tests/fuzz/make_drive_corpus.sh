#!/usr/bin/env bash
# Makes the seeds of drive-corpus/ anew: the states the simulated recorder
# stores in its own tests (both slots of each test's metadata file, the state
# in force and the one before it), each followed by the same few commands in
# drive_fuzzer.cpp's encoding: what the kernel asks of a new disc, a read, a
# write, a close. Needs the simdrive tests built in $FORNAX_BUILD (default
# build/ at the top of the repository) and python3.
#
#   bash tests/fuzz/make_drive_corpus.sh [OUTPUT_FOLDER]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="$(mkdir -p "${1:-$here/drive-corpus}" && cd "${1:-$here/drive-corpus}" && pwd)"
tests="${FORNAX_BUILD:-$repo/build}/simdrive/tests/fornax_simdrive_tests"
[ -x "$tests" ] || { echo "make_drive_corpus.sh: no $tests (build first)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
FORNAX_SIMDRIVE_KEEP_STATES="$work" "$tests" --gtest_brief=1 > "$work/tests.log" 2>&1 || {
  cat "$work/tests.log" >&2
  exit 1
}

python3 - "$work" "$out" <<'EOF'
import hashlib, os, struct, sys

work, out = sys.argv[1], sys.argv[2]
magic = b"fornax-simdrive-state 1\n"

# A length with bit 15 set counts blocks, whose data is not in the input.
def command(direction, opcode, rest, length=0, data=b"", clock=0):
    size = 6 if opcode < 0x20 else 10 if opcode < 0x60 else 12
    cdb = bytes([opcode]) + bytes(rest).ljust(size - 1, b"\0")
    listed = direction == 2 and length < 0x8000
    return bytes([direction | clock << 2]) + cdb + struct.pack(">H", length) + (data.ljust(length, b"\0") if listed else b"")

tail = b"".join([
    command(0, 0x00, []),                                          # TEST UNIT READY
    command(1, 0x43, [0, 0, 0, 0, 0, 0, 0, 12, 0x40], 12),         # session info, the kernel's multisession probe
    command(1, 0x43, [2, 2, 0, 0, 0, 0, 0x0F, 0xFF], 4095),        # full TOC
    command(1, 0x43, [2, 0, 0, 0, 0, 0, 0x03, 0x24], 804),         # TOC in MSF
    command(1, 0x51, [0, 0, 0, 0, 0, 0, 0, 34], 34),               # disc information
    command(1, 0x52, [1, 0, 0, 0, 1, 0, 0, 40], 40),               # track 1
    command(1, 0x52, [1, 0, 0, 0, 0xFF, 0, 0, 40], 40),            # the invisible track
    command(1, 0x25, [], 8),                                       # READ CAPACITY
    command(1, 0x28, [0, 0, 0, 0, 0, 0, 0, 1], 2048),              # READ (10) of block 0
    command(1, 0x46, [2, 0, 0, 0, 0, 0, 0, 8], 8),                 # the current profile
    command(1, 0x23, [0, 0, 0, 0, 0, 0, 0, 0xFC], 252),            # READ FORMAT CAPACITIES
    command(2, 0x2A, [0, 0, 0, 0, 0, 0, 0, 16], 0x8010),           # WRITE (10) of 16 blocks at 0
    command(0, 0x35, [], clock=3),                                 # SYNCHRONIZE CACHE
    command(0, 0x5B, [0, 2, 0, 0, 0], clock=4),                    # close the session
])

seen = set()
for name in sorted(os.listdir(work)):
    if not name.endswith(".state"):
        continue
    blob = open(os.path.join(work, name), "rb").read()
    at = blob.find(magic)
    while at >= 4:
        (length,) = struct.unpack("<I", blob[at - 4:at])
        text = blob[at:at + length]
        digest = hashlib.sha1(text).hexdigest()[:12]
        # Small seeds only: libFuzzer grows its inputs to the largest seed.
        if text.startswith(magic) and text.endswith(b"\n") and len(text) < 4096 and digest not in seen:
            seen.add(digest)
            test = name[:-len(".state")].split(".")[-1]
            open(os.path.join(out, "state-%s-%s" % (test, digest)), "wb").write(text + b"--\n" + tail)
        at = blob.find(magic, at + 1)
print("%d seeds in %s" % (len(seen), out))
EOF
