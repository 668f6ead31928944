"""A tiny Linux VM with QEMU's emulated CD/DVD drives, for running
fornax_qemu_probe and fornax-cli next to a real MMC implementation.

What it takes from the host: qemu-system-x86_64, a Debian kernel with its
modules (/boot/vmlinuz-V and /lib/modules/V), the static busybox, cpio, and
from the build fornax-cli (FORNAX_CLI, which builds the images), and the
statically linked fornax_qemu_probe and fornax-cli that run in the VM
(FORNAX_QEMU_PROBE, FORNAX_QEMU_CLI). Everything it makes goes to
FORNAX_QEMU_WORK:

  vmlinux-V         the kernel ELF unpacked from the bzImage (booted through
                    its PVH entry, which saves the decompression on every run)
  initramfs.cpio    busybox, the drive modules, /init, the probe and fornax-cli
  cd.iso, dvd.iso   images built by fornax-cli from folders made here
  runs/NAME/        each VM run: the command line, the console log, the
                    report, and the fornax-cli commands it ran (cli-script)

Run `python3 qemu_vm.py prepare` to build the images and the initramfs (the
kernel is unpacked once and kept); the tests reuse them.
"""

import contextlib
import fcntl
import glob
import hashlib
import inspect
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
# Each fornax-cli command a run's script names: its output (stdout and
# stderr) between these lines, the end line with its exit status and the
# guest's uptime at its start and end.
CLI_BEGIN = "@@ fornax-cli begin "
CLI_END = "@@ fornax-cli end "
# The script of fornax-cli commands, added to the initramfs of one run.
CLI_SCRIPT_PATH = "cli-script"
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
# the probe and then the run's fornax-cli commands (/%(script)s, when the run
# has one) with their report on the second serial port, and powers off.
export PATH=/bin HOME=/tmp
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

# The files below a folder: KEY, path, size and MD5 sum (of files up to 4 MiB).
files() {
  key=$1
  (cd "$2" && find . -type f | sort | while read -r f; do
    size=$(stat -c %%s "$f")
    sum=-
    [ "$size" -le 4194304 ] && sum=$(md5sum < "$f" | cut -d' ' -f1)
    printf '%%s\\t%%s\\t%%s\\t%%s\\n' "$key" "$f" "$size" "$sum"
  done)
}
# One fornax-cli command of the script: NAME, then its arguments.
cli() {
  name=$1
  shift
  start=$(cut -d' ' -f1 /proc/uptime)
  echo "%(cli_begin)s$name"
  /bin/fornax-cli "$@" 2>&1
  code=$?
  echo "%(cli_end)s$name $code $start $(cut -d' ' -f1 /proc/uptime)"
}
{
  echo "%(begin)s"
  if [ -e /dev/sr0 ]; then
    /probe
    echo "@@ fornax-probe exit $?"
    if mount -t iso9660 -o ro /dev/sr0 /mnt 2>/dev/null; then
      files file /mnt
      umount /mnt
    fi
    [ -e /%(script)s ] && . /%(script)s
  else
    echo "@@ fornax-probe no-drive"
    ls /sys/class/block
  fi
  echo "%(end)s"
} > /dev/ttyS1 2>&1
poweroff -f
reboot -f
""" % {"begin": REPORT_BEGIN, "end": REPORT_END, "cli_begin": CLI_BEGIN, "cli_end": CLI_END,
       "script": CLI_SCRIPT_PATH}


def _file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _copy_program(source, destination):
    """A program for the VM without its debugging sections, which only make
    the initramfs larger (and the boot slower)."""
    strip = shutil.which("strip")
    if strip and subprocess.run([strip, "--strip-debug", "-o", destination, source],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
        return
    shutil.copy(source, destination)


def initramfs():
    """The initramfs with the current probe and fornax-cli; rebuilt only when
    an input changed."""
    probe = build_program("FORNAX_QEMU_PROBE")
    cli = build_program("FORNAX_QEMU_CLI")
    version, _, modules_dir = guest_kernel()
    modules = module_order(modules_dir, WANTED_MODULES)
    busybox = busybox_binary()
    key = hashlib.sha256(json.dumps([_file_digest(probe), _file_digest(cli), version, modules,
                                     _file_digest(busybox), INIT_SCRIPT]).encode()).hexdigest()
    path = os.path.join(work_dir(), "initramfs.cpio")
    stamp = path + ".key"
    with locked("initramfs"):
        if os.path.exists(path) and os.path.exists(stamp) and open(stamp).read() == key:
            return path
        root = os.path.join(work_dir(), "initramfs-root")
        shutil.rmtree(root, ignore_errors=True)
        for folder in ("bin", "proc", "sys", "dev", "mnt", "tmp", "lib/modules"):
            os.makedirs(os.path.join(root, folder))
        shutil.copy(busybox, os.path.join(root, "bin", "busybox"))
        for applet in ("sh", "mount", "umount", "insmod", "sleep", "stty", "cat", "ls", "find", "sort",
                       "stat", "md5sum", "cut", "mkdir", "dd", "rm", "poweroff", "reboot"):
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
        _copy_program(probe, os.path.join(root, "probe"))
        _copy_program(cli, os.path.join(root, "bin", "fornax-cli"))
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
    # Small files in a folder of their own, which the VM extracts (the big
    # file would not fit its memory).
    _write(os.path.join(folder, "docs", "notes.txt"), b"Notes kept beside the big file.\n")
    _write(os.path.join(folder, "docs", "tables", "figures.bin"), _pattern("figures", 70000))
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


def _source_digest(function):
    """The source text of a folder maker, for the key of the images it makes."""
    return hashlib.sha256(inspect.getsource(function).encode()).hexdigest()


def images(rebuild=False):
    """The CD-size and the DVD-size image, built by fornax-cli once per session."""
    paths = {"cd": os.path.join(work_dir(), "cd.iso"), "dvd": os.path.join(work_dir(), "dvd.iso")}
    stamp = os.path.join(work_dir(), "images.key")
    # The folders' contents are part of the key: a change to them here
    # builds the images again.
    key = hashlib.sha256(json.dumps([_file_digest(build_program("FORNAX_CLI")),
                                     _source_digest(make_cd_folder), _source_digest(make_dvd_folder)])
                         .encode()).hexdigest()
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


class CliRun:
    """One fornax-cli command the VM ran: its output (stdout and stderr), its
    exit status and the guest's seconds from its start to its end."""

    def __init__(self, name, output, exit_code, seconds):
        self.name = name
        self.output = output
        self.exit_code = exit_code
        self.seconds = seconds

    def __str__(self):
        return f"fornax-cli {self.name}: exit {self.exit_code}, {self.seconds:.2f} s:\n{self.output}"


def split_cli_runs(text):
    """The report without the fornax-cli commands' output, and those
    commands by name (a command that never ended has exit status None)."""
    rest, runs, current = [], {}, None
    for line in text.splitlines():
        if current is None and line.startswith(CLI_BEGIN):
            current = (line[len(CLI_BEGIN):], [])
        elif current is not None and line.startswith(CLI_END + current[0] + " "):
            code, start, end = line[len(CLI_END + current[0]) + 1:].split()
            runs[current[0]] = CliRun(current[0], "\n".join(current[1]), int(code), float(end) - float(start))
            current = None
        elif current is not None:
            current[1].append(line)
        else:
            rest.append(line)
    if current is not None:
        runs[current[0]] = CliRun(current[0], "\n".join(current[1]), None, 0.0)
    return "\n".join(rest), runs


class Report:
    """What the probe printed: lines of tab-separated fields, the ones before
    the first drive and one section for each drive it went through; and what
    the fornax-cli commands of the run printed (`cli`, by name)."""

    def __init__(self, text, exit_code, console, seconds):
        self.text = text
        self.exit_code = exit_code
        self.console = console
        self.seconds = seconds
        probe_text, self.cli = split_cli_runs(text)
        self.lines = []
        for line in probe_text.splitlines():
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
            elif fields[0] in ("done", "file", "extracted"):
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


def cpio_archive(files):
    """A cpio archive ("newc", as the kernel unpacks it) of regular files,
    given as {name: bytes}."""
    out = bytearray()

    def pad():
        out.extend(b"\0" * (-len(out) % 4))

    entries = [(name, data, 0o100644) for name, data in files.items()] + [("TRAILER!!!", b"", 0)]
    for number, (name, data, mode) in enumerate(entries, 1):
        encoded = name.encode() + b"\0"
        fields = (number, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(encoded), 0)
        out += b"070701" + "".join(f"{v:08X}" for v in fields).encode() + encoded
        pad()
        out += data
        pad()
    return bytes(out)


def run_initramfs(run_dir, cli_script):
    """The initramfs of one run: the shared one, and after it (the kernel
    unpacks archives one after another) the run's fornax-cli script."""
    shared = initramfs()
    if cli_script is None:
        return shared
    with open(os.path.join(run_dir, CLI_SCRIPT_PATH), "w") as f:
        f.write(cli_script)
    path = os.path.join(run_dir, "initramfs.cpio")
    with open(path, "wb") as out, open(shared, "rb") as base:
        shutil.copyfileobj(base, out)
        out.write(b"\0" * (-out.tell() % 4))
        out.write(cpio_archive({CLI_SCRIPT_PATH: cli_script.encode()}))
    return path


def run_vm(name, machine, drives, controllers=(), cli_script=None):
    """Boots the VM (`machine` "pc" or "q35") with `drives`, a list of
    (-device option, image path or None for an empty drive), and returns the
    report of the probe and of `cli_script` (shell lines run after the probe,
    where `cli NAME ARGS...` runs fornax-cli ARGS... and reports it as NAME,
    and `files KEY FOLDER` lists a folder's files with their MD5 sums)."""
    run_dir = os.path.join(work_dir(), "runs", name)
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    console = os.path.join(run_dir, "console.log")
    report = os.path.join(run_dir, "report.txt")
    initrd = run_initramfs(run_dir, cli_script)
    attached = list(controllers)
    for index, (device, image) in enumerate(drives):
        drive = f"if=none,id=cd{index},media=cdrom,readonly=on"
        if image:
            drive += f",format=raw,file={image}"
        attached += ["-drive", drive, "-device", f"{device},drive=cd{index}"]
    command = [qemu_binary(), "-M", f"{machine},accel=tcg", "-m", "256", "-smp", "1",
               "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
               "-kernel", kernel_elf(), "-initrd", initrd,
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
