"""A VM in which the simulated recorder is a real Linux drive: the kernel's
SCSI target (target_core_user + tcm_loop) presents fornax-vrecorder's back
store as /dev/sr0, and real burning programs write to it.

Besides what qemu_vm.py takes from the host, it packs the clients (wodim,
cdrskin, growisofs with genisoimage, xorriso) and fornax-cli with every
library they load, fornax-vrecorder and the simulated recorder's library.
Each test class gives a shell script; the VM runs it with the recorder in the
background and reports between markers on its second serial port:

  @@ step NAME            a command starts (its output follows)
  @@ exit NAME CODE       it ended
  sum TAG PATH MD5        a file's checksum (from `sums`)

Paths the script can use: /data/one and /data/two (source folders), /tmp
(memory), /mnt, and $FORNAX_SIMDRIVE_DIR (the recorder's disc). A class may
also give a setup script, run as root before the recorder starts, and the
recorder's command line (RECORDER, a shell script that execs it).
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import time

import qemu_vm
from qemu_vm import Missing

# The modules, in an order insmod takes (their dependencies come first).
RECORDER_MODULES = ["configfs", "crct10dif_generic", "target_core_user", "tcm_loop", "cdrom", "sr_mod", "sg", "isofs"]
CLIENTS = ["wodim", "cdrskin", "growisofs", "genisoimage", "xorriso"]
RUN_TIMEOUT = float(os.environ.get("FORNAX_RECORDER_RUN_TIMEOUT", "600"))

BEGIN, END = "@@ recorder-vm begin", "@@ recorder-vm end"
RECORDER = "exec fornax-vrecorder --state /tmp/sim\n"

INIT = """#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin HOME=/tmp FORNAX_SIMDRIVE_DIR=/tmp/sim FORNAX_PACE_DIVISOR=20
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ln -s /proc/self/fd /dev/fd
mount -t tmpfs tmpfs /tmp
for m in $(cat /modules.order); do
  insmod "/lib/modules/$m" 2>/dev/null || echo "insmod $m failed"
done
mount -t configfs none /sys/kernel/config
stty -F /dev/ttyS1 raw -echo 2>/dev/null
{
  echo "%(begin)s"
  mkdir -p /tmp/sim
  sh /prelude.sh /setup.sh
  sh /recorder.sh > /tmp/vrecorder.log 2>&1 &
  recorder=$!
  n=0
  while [ ! -e /dev/sr0 ] && [ $n -lt 300 ]; do sleep 0.05; n=$((n + 1)); done
  echo "@@ drive $(ls /dev/sr* 2>/dev/null)"
  sh /prelude.sh /script.sh
  kill -TERM $recorder
  wait $recorder
  echo "@@ recorder-exit $?"
  sed 's/^/vrecorder: /' /tmp/vrecorder.log
  echo "@@ sr-left $(ls /dev/sr* 2>/dev/null)"
  echo "%(end)s"
} > /dev/ttyS1 2>&1
poweroff -f
""" % {"begin": BEGIN, "end": END}

# Shell functions every script may use.
PRELUDE = """
step() {
  name=$1; shift
  echo "@@ step $name"
  "$@"
  echo "@@ exit $name $?"
}
# The checksum of every file below a folder, tagged.
sums() {
  (cd "$1" && find . -type f | sort | while read -r f; do
    echo "sum $2 ${f#./} $(md5sum < "$f" | cut -d' ' -f1)"
  done)
}
# As a user does after a burn: the tray out and in, so that the kernel reads
# the disc's table of contents again.
reload() {
  fornax-cli vdrive open >/dev/null && fornax-cli vdrive close >/dev/null
  dd if=/dev/sr0 of=/dev/null bs=2048 count=1 2>/dev/null
  true
}
# What the kernel's ISO 9660 driver shows of the disc (the newest session).
mounted() {
  reload
  mkdir -p /mnt
  if mount -t iso9660 -o ro /dev/sr0 /mnt; then
    sums /mnt "$1"
    umount /mnt
  else
    echo "@@ mount-failed $1"
  fi
}
# The disc as an image, and the checksum of `count` sectors from `start`.
sectors() {
  fornax-cli vdrive export /tmp/disc.img >/dev/null
  echo "sectors $1 $(dd if=/tmp/disc.img bs=2048 skip=$2 count=$3 2>/dev/null | md5sum | cut -d' ' -f1)"
  rm -f /tmp/disc.img
}
image_sum() {
  echo "sectors $1 $(md5sum < "$2" | cut -d' ' -f1)"
}
# A command line run by another user of the VM (the setup adds users to
# /etc/passwd).
as_user() {
  user=$1
  shift
  su "$user" -s /bin/sh -c "$*"
}
. "$1"
"""


def _write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_sources(root):
    """Two small folders of files that differ from sector to sector."""
    shutil.rmtree(root, ignore_errors=True)
    one, two = os.path.join(root, "one"), os.path.join(root, "two")
    _write(os.path.join(one, "readme.txt"), b"the first session\n")
    _write(os.path.join(one, "data", "pattern.bin"), qemu_vm._pattern("one", 700 * 1024 + 5))
    _write(os.path.join(one, "Long name of a file in the first session.txt"), b"long\n")
    _write(os.path.join(two, "later.txt"), b"the second session\n")
    _write(os.path.join(two, "more", "pattern.bin"), qemu_vm._pattern("two", 300 * 1024 + 7))
    return one, two


def checksums(folder):
    out = {}
    for base, _dirs, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, folder)] = hashlib.md5(f.read()).hexdigest()
    return out


def _program(name):
    path = shutil.which(name)
    if not path:
        package = {"genisoimage": "genisoimage", "xorriso": "xorriso"}.get(name, name)
        raise Missing(f"{name} is not installed (Debian package {package})")
    return os.path.realpath(path)


def _libraries(binary):
    """Every shared library a program loads, and the dynamic loader."""
    out = subprocess.run(["ldd", binary], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         check=False).stdout.decode()
    found = set()
    for line in out.splitlines():
        match = re.search(r"(/\S+)", line.split("=>")[-1])
        if match and os.path.exists(match.group(1)):
            found.add(match.group(1))
    return found


def programs():
    """The programs the VM carries: name -> host path."""
    build = {"fornax-cli": qemu_vm.build_program("FORNAX_CLI"),
             "fornax-vrecorder": qemu_vm.build_program("FORNAX_VRECORDER")}
    return {**{name: _program(name) for name in CLIENTS}, **build}


def simulator_library():
    path = os.path.join(os.path.dirname(qemu_vm.build_program("FORNAX_CLI")), "libfornax-simdrive.so")
    if not os.path.exists(path):
        raise AssertionError(f"{path} is missing (build the simulated recorder)")
    return path


def _copy_stripped(source, target):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    # Debug sections would make the initramfs ten times larger.
    if subprocess.run(["strip", "--strip-debug", "-o", target, source], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        shutil.copy(source, target)
    os.chmod(target, 0o755)


def initramfs(name, script, sources, setup="", recorder=RECORDER):
    """The recorder VM's initramfs for one test class's script, rebuilt when
    an input changed."""
    version, _, modules_dir = qemu_vm.guest_kernel()
    modules = qemu_vm.module_order(modules_dir, RECORDER_MODULES)
    binaries = programs()
    simulator = simulator_library()
    libraries = set()
    for path in list(binaries.values()) + [simulator]:
        libraries |= _libraries(path)
    inputs = [qemu_vm._file_digest(p) for p in sorted(binaries.values())] + [
        qemu_vm._file_digest(simulator), version, modules, INIT, PRELUDE, script, setup, recorder,
        sorted(checksums(sources).items())]
    key = hashlib.sha256(json.dumps(inputs).encode()).hexdigest()
    path = os.path.join(qemu_vm.work_dir(), f"recorder-{name}.cpio")
    stamp = path + ".key"
    with qemu_vm.locked("recorder-initramfs"):
        if os.path.exists(path) and os.path.exists(stamp) and open(stamp).read() == key:
            return path
        root = os.path.join(qemu_vm.work_dir(), f"recorder-root-{name}")
        shutil.rmtree(root, ignore_errors=True)
        for folder in ("bin", "usr/bin", "proc", "sys", "dev", "tmp", "mnt", "lib/modules", "lib64",
                       "lib/x86_64-linux-gnu"):
            os.makedirs(os.path.join(root, folder))
        shutil.copy(qemu_vm.busybox_binary(), os.path.join(root, "bin", "busybox"))
        for name, source in binaries.items():
            _copy_stripped(source, os.path.join(root, "usr/bin", name))
        # fornax-cli finds the simulated recorder beside itself.
        _copy_stripped(simulator, os.path.join(root, "usr/bin", "libfornax-simdrive.so"))
        _copy_stripped(simulator, os.path.join(root, "lib/x86_64-linux-gnu", "libfornax-simdrive.so"))
        for library in sorted(libraries):
            target = os.path.join(root, library.lstrip("/"))
            if os.path.basename(library).startswith("ld-linux"):
                target = os.path.join(root, "lib64", os.path.basename(library))
            _copy_stripped(library, target)
            alias = os.path.join(root, "lib/x86_64-linux-gnu", os.path.basename(library))
            if not os.path.exists(alias):
                shutil.copy(target, alias)
        names = []
        for module in modules:
            name = os.path.basename(module)
            shutil.copy(os.path.join(modules_dir, module), os.path.join(root, "lib/modules", name))
            names.append(name)
        with open(os.path.join(root, "modules.order"), "w") as f:
            f.write("\n".join(names) + "\n")
        shutil.copytree(sources, os.path.join(root, "data"))
        for name, text in (("init", INIT), ("prelude.sh", PRELUDE), ("script.sh", script), ("setup.sh", setup),
                           ("recorder.sh", recorder)):
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        os.chmod(os.path.join(root, "init"), 0o755)
        listing = subprocess.run(["find", "."], cwd=root, stdout=subprocess.PIPE, check=True).stdout
        with open(path + ".tmp", "wb") as out:
            subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=root,
                           input=listing, stdout=out, check=True)
        os.replace(path + ".tmp", path)
        with open(stamp, "w") as f:
            f.write(key)
        shutil.rmtree(root, ignore_errors=True)
        return path


class Run:
    """What one VM run printed: its steps with their exit codes and output,
    and the checksum lines."""

    def __init__(self, text, seconds):
        self.text = text
        self.seconds = seconds
        self.exits, self.outputs, self.sums, self.sectors = {}, {}, {}, {}
        current = None
        for line in text.splitlines():
            if line.startswith("@@ step "):
                current = line[len("@@ step "):]
                self.outputs[current] = []
            elif line.startswith("@@ exit "):
                name, code = line[len("@@ exit "):].rsplit(" ", 1)
                self.exits[name] = int(code)
                current = None
            elif line.startswith("sum "):
                _, tag, rest = line.split(" ", 2)
                path, digest = rest.rsplit(" ", 1)
                self.sums.setdefault(tag, {})[path] = digest
            elif line.startswith("sectors "):
                _, tag, digest = line.split(" ")
                self.sectors[tag] = digest
            elif current is not None:
                self.outputs[current].append(line)

    def output(self, step):
        return "\n".join(self.outputs.get(step, []))


def run(name, script, sources, setup="", recorder=RECORDER):
    """Boots the recorder VM with a script and returns what it printed."""
    cpio = initramfs(name, script, sources, setup, recorder)
    run_dir = os.path.join(qemu_vm.work_dir(), "runs", name)
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    console, report = os.path.join(run_dir, "console.log"), os.path.join(run_dir, "report.txt")
    command = [qemu_vm.qemu_binary(), "-M", "q35,accel=tcg", "-m", "768", "-smp", "1", "-nodefaults",
               "-no-user-config", "-display", "none", "-no-reboot", "-kernel", qemu_vm.kernel_elf(),
               "-initrd", cpio, "-append", "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init",
               "-serial", f"file:{console}", "-serial", f"file:{report}"]
    with open(os.path.join(run_dir, "command.txt"), "w") as f:
        f.write(" ".join(command) + "\n")
    start = time.monotonic()
    try:
        proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"the recorder VM ({name}) did not power off within {RUN_TIMEOUT:.0f} s; "
                             f"console:\n{qemu_vm._read(console)}\nreport:\n{qemu_vm._read(report)}")
    text = qemu_vm._read(report).replace("\r", "")
    if proc.returncode != 0 or BEGIN not in text or END not in text:
        raise AssertionError(f"the recorder VM ({name}) gave no complete report (QEMU exit {proc.returncode})\n"
                             f"console:\n{qemu_vm._read(console)}\nreport:\n{text}")
    return Run(text[text.index(BEGIN):text.index(END) + len(END)], time.monotonic() - start)
