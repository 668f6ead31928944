"""A tiny Linux VM with QEMU's emulated CD/DVD drives, for running
fornax_qemu_probe next to a real MMC implementation.

What it takes from the host: qemu-system-x86_64, a Debian kernel with its
modules (/boot/vmlinuz-V and /lib/modules/V), the static busybox, cpio, and
from the build fornax-cli and fornax_qemu_probe (FORNAX_CLI and
FORNAX_QEMU_PROBE). Everything it makes goes to FORNAX_QEMU_WORK:

  vmlinux-V         the kernel ELF unpacked from the bzImage (booted through
                    its PVH entry, which saves the decompression on every run)
  initramfs.cpio    busybox, the drive modules, /init and the probe
  cd.iso, dvd.iso   images built by fornax-cli from folders made here
  runs/NAME/        each VM run: the console log and the probe's report

Run `python3 qemu_vm.py prepare` to build the images and the initramfs (the
kernel is unpacked once and kept); the tests reuse them.
"""

import contextlib
import fcntl
import glob
import hashlib
import json
import lzma
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zlib

SECTOR = 2048
# QEMU reports the DVD profile for images larger than a CD of 80 minutes.
CD_MAX_BYTES = 80 * 60 * 75 * SECTOR

# The modules the VM loads, in this order, with their dependencies from
# modules.dep. The IDE hosts come first, so that a drive on virtio-scsi sits
# behind adapters without drives.
WANTED_MODULES = ["ata_piix", "ahci", "virtio_pci", "virtio_scsi", "cdrom", "sr_mod", "sg", "isofs"]

# The revision the drives are given, so that the list line's revision is
# known to come from the drive's INQUIRY answer.
DRIVE_REVISION = "FX42"

# One VM run, from QEMU's start to its exit, measured here at about 2.5 s.
RUN_TIMEOUT = float(os.environ.get("FORNAX_QEMU_RUN_TIMEOUT", "60"))

REPORT_BEGIN = "@@ fornax-probe begin"
REPORT_END = "@@ fornax-probe end"
MISSING_EXIT = 77  # what ctest takes as a skipped test


class Missing(Exception):
    """Something the VM needs is not installed."""


# ---------------------------------------------------------------- the host

def work_dir():
    path = os.environ.get("FORNAX_QEMU_WORK")
    if not path:
        path = os.path.join(tempfile.gettempdir(), "fornax-qemu")
    os.makedirs(path, exist_ok=True)
    return path


def build_program(variable):
    path = os.environ.get(variable)
    if not path:
        raise Missing(f"{variable} is not set; run the suite through ctest")
    if not os.access(path, os.X_OK):
        raise AssertionError(f"{variable}={path} is not an executable file (build it first)")
    return path


def qemu_binary():
    path = shutil.which("qemu-system-x86_64")
    if not path:
        raise Missing("qemu-system-x86_64 is not installed (Debian package qemu-system-x86)")
    return path


def _version_key(version):
    return [int(p) if p.isdigit() else p for p in re.split(r"[.-]", version)]


def guest_kernel():
    """The newest installed kernel that has its modules: (version, bzImage, modules folder)."""
    found = []
    for image in glob.glob("/boot/vmlinuz-*"):
        version = image[len("/boot/vmlinuz-"):]
        modules = os.path.join("/lib/modules", version)
        if os.path.exists(os.path.join(modules, "modules.dep")):
            found.append((version, image, modules))
    if not found:
        raise Missing("no kernel with modules in /boot and /lib/modules "
                      "(Debian package linux-image-amd64)")
    return max(found, key=lambda k: _version_key(k[0]))


def _dynamically_linked(path):
    """Whether an ELF file names a program interpreter (a PT_INTERP header)."""
    with open(path, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        phoff = int.from_bytes(header[32:40], "little")
        phentsize = int.from_bytes(header[54:56], "little")
        phnum = int.from_bytes(header[56:58], "little")
        f.seek(phoff)
        table = f.read(phentsize * phnum)
    return any(int.from_bytes(table[i * phentsize:i * phentsize + 4], "little") == 3
               for i in range(phnum))


def busybox_binary():
    for path in ("/bin/busybox", "/usr/bin/busybox"):
        if os.path.exists(path):
            if _dynamically_linked(path):
                raise Missing(f"{path} is linked dynamically (Debian package busybox-static)")
            return path
    raise Missing("busybox is not installed (Debian package busybox-static)")


def check_host():
    """Raises Missing when the host cannot run the VM."""
    qemu_binary()
    guest_kernel()
    busybox_binary()
    if not shutil.which("cpio"):
        raise Missing("cpio is not installed (Debian package cpio)")


@contextlib.contextmanager
def locked(name):
    """Serialises the builds of several test processes (ctest -j)."""
    with open(os.path.join(work_dir(), name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def _replace(temporary, final):
    os.replace(temporary, final)
    return final


# ---------------------------------------------------------------- the kernel

def unpack_kernel(bzimage):
    """The vmlinux ELF inside a bzImage: the first compressed stream that
    unpacks to an ELF file."""
    data = open(bzimage, "rb").read()
    attempts = [(b"\xfd7zXZ\x00", lambda: lzma.LZMADecompressor(lzma.FORMAT_XZ)),
                (b"\x1f\x8b\x08", lambda: zlib.decompressobj(16 + zlib.MAX_WBITS))]
    for magic, decompressor in attempts:
        start = data.find(magic)
        while start >= 0:
            try:
                elf = decompressor().decompress(data[start:])
            except (lzma.LZMAError, zlib.error):
                elf = b""
            if elf[:4] == b"\x7fELF":
                return elf
            start = data.find(magic, start + 1)
    raise Missing(f"cannot unpack {bzimage} (neither an xz nor a gzip payload holds an ELF kernel)")


def kernel_elf():
    """The unpacked kernel, kept in the work folder across runs."""
    version, bzimage, _ = guest_kernel()
    path = os.path.join(work_dir(), f"vmlinux-{version}")
    with locked("kernel"):
        if not os.path.exists(path) or os.path.getmtime(path) < os.path.getmtime(bzimage):
            with open(path + ".tmp", "wb") as out:
                out.write(unpack_kernel(bzimage))
            _replace(path + ".tmp", path)
    return path


# ---------------------------------------------------------------- the initramfs

def module_order(modules_dir, wanted):
    """Module files in an order insmod accepts: every dependency first."""
    deps = {}
    with open(os.path.join(modules_dir, "modules.dep")) as dep_file:
        for line in dep_file:
            name, _, rest = line.partition(":")
            deps[name] = rest.split()
    by_module = {}
    for path in deps:
        base = os.path.basename(path)
        by_module[base.split(".ko")[0].replace("-", "_")] = path
    order = []

    def visit(path):
        if path in order:
            return
        for dep in deps.get(path, []):
            visit(dep)
        order.append(path)

    for module in wanted:
        if module not in by_module:
            raise Missing(f"the guest kernel has no module {module}")
        visit(by_module[module])
    return order


INIT_SCRIPT = """#!/bin/sh
# The VM's only process: loads the drive modules, waits for the drive, runs
# the probe with its report on the second serial port, and powers off.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules.order); do
  insmod "/lib/modules/$m" 2>/dev/null || echo "insmod $m failed"
done
# As many drives as the command line says (fornax.drives=N), up to 10 s.
want=1
for word in $(cat /proc/cmdline); do
  case "$word" in fornax.drives=*) want=${word#fornax.drives=} ;; esac
done
n=0
while [ $n -lt 200 ]; do
  found=0
  for node in /dev/sr*; do [ -e "$node" ] && found=$((found + 1)); done
  [ $found -ge "$want" ] && break
  sleep 0.05
  n=$((n + 1))
done
stty -F /dev/ttyS1 raw -echo 2>/dev/null
{
  echo "%(begin)s"
  if [ -e /dev/sr0 ]; then
    /probe
    echo "@@ fornax-probe exit $?"
    if mount -t iso9660 -o ro /dev/sr0 /mnt 2>/dev/null; then
      cd /mnt && find . -type f | sort | while read -r f; do
        size=$(stat -c %%s "$f")
        sum=-
        [ "$size" -le 4194304 ] && sum=$(md5sum < "$f" | cut -d' ' -f1)
        printf 'file\\t%%s\\t%%s\\t%%s\\n' "$f" "$size" "$sum"
      done
      cd / && umount /mnt
    fi
  else
    echo "@@ fornax-probe no-drive"
    ls /sys/class/block
  fi
  echo "%(end)s"
} > /dev/ttyS1 2>&1
poweroff -f
reboot -f
""" % {"begin": REPORT_BEGIN, "end": REPORT_END}


def _file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def initramfs():
    """The initramfs with the current probe; rebuilt only when an input changed."""
    probe = build_program("FORNAX_QEMU_PROBE")
    version, _, modules_dir = guest_kernel()
    modules = module_order(modules_dir, WANTED_MODULES)
    busybox = busybox_binary()
    key = hashlib.sha256(json.dumps([_file_digest(probe), version, modules, _file_digest(busybox),
                                     INIT_SCRIPT]).encode()).hexdigest()
    path = os.path.join(work_dir(), "initramfs.cpio")
    stamp = path + ".key"
    with locked("initramfs"):
        if os.path.exists(path) and os.path.exists(stamp) and open(stamp).read() == key:
            return path
        root = os.path.join(work_dir(), "initramfs-root")
        shutil.rmtree(root, ignore_errors=True)
        for folder in ("bin", "proc", "sys", "dev", "mnt", "lib/modules"):
            os.makedirs(os.path.join(root, folder))
        shutil.copy(busybox, os.path.join(root, "bin", "busybox"))
        for applet in ("sh", "mount", "umount", "insmod", "sleep", "stty", "cat", "ls", "find", "sort",
                       "stat", "md5sum", "cut", "poweroff", "reboot"):
            os.symlink("busybox", os.path.join(root, "bin", applet))
        names = []
        for module in modules:
            name = os.path.basename(module)
            shutil.copy(os.path.join(modules_dir, module), os.path.join(root, "lib/modules", name))
            names.append(name)
        with open(os.path.join(root, "modules.order"), "w") as order:
            order.write("\n".join(names) + "\n")
        with open(os.path.join(root, "init"), "w") as init:
            init.write(INIT_SCRIPT)
        os.chmod(os.path.join(root, "init"), 0o755)
        shutil.copy(probe, os.path.join(root, "probe"))
        listing = subprocess.run(["find", "."], cwd=root, stdout=subprocess.PIPE, check=True).stdout
        with open(path + ".tmp", "wb") as out:
            subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=root,
                           input=listing, stdout=out, check=True)
        _replace(path + ".tmp", path)
        with open(stamp, "w") as f:
            f.write(key)
        shutil.rmtree(root, ignore_errors=True)
        return path


# ---------------------------------------------------------------- the images

def _write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def _pattern(seed, size):
    """Bytes that differ from sector to sector, so a misplaced sector shows."""
    out = bytearray()
    block = hashlib.sha256(seed.encode()).digest()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


def make_cd_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    _write(os.path.join(folder, "readme.txt"), b"Fornax test disc for the emulated drives.\n")
    _write(os.path.join(folder, "data", "pattern.bin"), _pattern("pattern", 2 * 1024 * 1024 + 17))
    _write(os.path.join(folder, "data", "nested", "deep", "small.dat"), _pattern("small", 5000))
    _write(os.path.join(folder, "Long Name For The Joliet Tree.txt"), b"long name\n")


DVD_SPARSE_BYTES = 800 * 1024 * 1024


def make_dvd_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    _write(os.path.join(folder, "readme.txt"), b"Fornax test disc larger than a CD.\n")
    big = os.path.join(folder, "big.img")
    _write(big, b"")
    with open(big, "r+b") as f:
        # Data at both ends and in the middle, holes in between.
        f.write(_pattern("big-start", 64 * 1024))
        f.seek(DVD_SPARSE_BYTES // 2)
        f.write(_pattern("big-middle", 64 * 1024))
        f.seek(DVD_SPARSE_BYTES - 64 * 1024)
        f.write(_pattern("big-end", 64 * 1024))
        f.truncate(DVD_SPARSE_BYTES)


def build_image(name, make_folder):
    cli = build_program("FORNAX_CLI")
    folder = os.path.join(work_dir(), name + "-files")
    image = os.path.join(work_dir(), name + ".iso")
    make_folder(folder)
    if os.path.exists(image):
        os.remove(image)
    proc = subprocess.run([cli, "iso", image, folder], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    if proc.returncode != 0 or not os.path.exists(image):
        raise AssertionError(f"fornax-cli iso {image} {folder} failed ({proc.returncode}):\n"
                             + proc.stdout.decode("utf-8", "replace"))
    return image


def images(rebuild=False):
    """The CD-size and the DVD-size image, built by fornax-cli once per session."""
    paths = {"cd": os.path.join(work_dir(), "cd.iso"), "dvd": os.path.join(work_dir(), "dvd.iso")}
    stamp = os.path.join(work_dir(), "images.key")
    key = _file_digest(build_program("FORNAX_CLI"))
    with locked("images"):
        fresh = (not rebuild and all(os.path.exists(p) for p in paths.values())
                 and os.path.exists(stamp) and open(stamp).read() == key)
        if not fresh:
            build_image("cd", make_cd_folder)
            build_image("dvd", make_dvd_folder)
            with open(stamp, "w") as f:
                f.write(key)
    return paths


def prepare(rebuild_images=True):
    check_host()
    kernel_elf()
    initramfs()
    images(rebuild=rebuild_images)


# ---------------------------------------------------------------- a VM run

# The drives. Each is a -device option for drive `cd{N}`; the VM's machine
# and controllers come with the test.
VIRTIO_SCSI = ["-device", "virtio-scsi-pci,id=scsi0"]


def scsi_cd(lun=0):
    """scsi-cd on virtio-scsi, target 3 so that the address is not all zeros."""
    return f"scsi-cd,bus=scsi0.0,scsi-id=3,lun={lun},ver={DRIVE_REVISION}"


# ATAPI on the PIIX IDE of the pc machine: secondary channel, master.
IDE_CD = f"ide-cd,bus=ide.1,unit=0,ver={DRIVE_REVISION}"
# ATAPI on the AHCI controller of the q35 machine, third port.
AHCI_CD = f"ide-cd,bus=ide.2,ver={DRIVE_REVISION}"


class Report:
    """What the probe printed: lines of tab-separated fields, the ones before
    the first drive and one section for each drive it went through."""

    def __init__(self, text, exit_code, console, seconds):
        self.text = text
        self.exit_code = exit_code
        self.console = console
        self.seconds = seconds
        self.lines = []
        for line in text.splitlines():
            if not line or line.startswith("@@ "):
                continue
            fields = [f.replace("\\t", "\t").replace("\\n", "\n").replace("\\r", "\r")
                      for f in line.split("\t")]
            self.lines.append(fields)
        self.head = Section(self, [])
        self.drives = []
        for fields in self.lines:
            if fields[0] == "drive":
                self.drives.append(Section(self, [fields]))
            elif fields[0] in ("done", "file"):
                self.head.lines.append(fields)
            else:
                (self.drives[-1] if self.drives else self.head).lines.append(fields)

    def __str__(self):
        return self.text


class Section:
    def __init__(self, report, lines):
        self.report = report
        self.lines = lines

    def all(self, key):
        return [fields[1:] for fields in self.lines if fields[0] == key]

    def one(self, key, *first):
        """The fields of the only line `key first...`, without `key`."""
        found = [f for f in self.all(key) if f[:len(first)] == list(first)]
        if len(found) != 1:
            raise AssertionError(f"expected one '{' '.join((key,) + first)}' line in the probe's "
                                 f"report, found {len(found)}:\n{self.report.text}")
        return found[0]


def run_vm(name, machine, drives, controllers=()):
    """Boots the VM (`machine` "pc" or "q35") with `drives`, a list of
    (-device option, image path or None for an empty drive), and returns the
    probe's report."""
    run_dir = os.path.join(work_dir(), "runs", name)
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    console = os.path.join(run_dir, "console.log")
    report = os.path.join(run_dir, "report.txt")
    attached = list(controllers)
    for index, (device, image) in enumerate(drives):
        drive = f"if=none,id=cd{index},media=cdrom,readonly=on"
        if image:
            drive += f",format=raw,file={image}"
        attached += ["-drive", drive, "-device", f"{device},drive=cd{index}"]
    command = [qemu_binary(), "-M", f"{machine},accel=tcg", "-m", "256", "-smp", "1",
               "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
               "-kernel", kernel_elf(), "-initrd", initramfs(),
               "-append", f"console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init fornax.drives={len(drives)}",
               "-serial", f"file:{console}", "-serial", f"file:{report}", *attached]
    with open(os.path.join(run_dir, "command.txt"), "w") as f:
        f.write(" ".join(command) + "\n")
    start = time.monotonic()
    try:
        proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"the VM ({name}) did not power off within {RUN_TIMEOUT:.0f} s; "
                             f"console:\n{_read(console)}\nreport:\n{_read(report)}")
    seconds = time.monotonic() - start
    text = _read(report).replace("\r", "")
    if proc.returncode != 0 or REPORT_BEGIN not in text or REPORT_END not in text:
        raise AssertionError(f"the VM ({name}) gave no complete report (QEMU exit "
                             f"{proc.returncode}): {proc.stdout.decode('utf-8', 'replace')}\n"
                             f"console:\n{_read(console)}\nreport:\n{text}")
    body = text[text.index(REPORT_BEGIN):text.index(REPORT_END)]
    match = re.search(r"^@@ fornax-probe exit (\d+)$", body, re.M)
    exit_code = int(match.group(1)) if match else None
    return Report(body, exit_code, _read(console), seconds)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def under_ci():
    return os.environ.get("CI", "").lower() in ("1", "true", "yes")


def missing_exit(missing):
    """The exit status for a host without what the VM needs: skipped, but
    failed under CI, which installs everything."""
    if under_ci():
        print(f"FAILED: {missing}; CI installs it with tools/install-deps.sh")
        return 1
    print(f"SKIPPED: {missing}")
    return MISSING_EXIT


def main(argv):
    if argv[1:] != ["prepare"]:
        print("usage: qemu_vm.py prepare", file=sys.stderr)
        return 2
    start = time.monotonic()
    try:
        prepare()
    except Missing as missing:
        return missing_exit(missing)
    print(f"prepared in {time.monotonic() - start:.1f} s: {work_dir()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
