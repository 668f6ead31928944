"""The SG_IO transport, the device component and fornax-cli against QEMU's
emulated CD/DVD drives.

Each test class boots one VM (see qemu_vm.py) with its drives, lets
fornax_qemu_probe go through the engine's calls, runs fornax-cli commands
(sessions, ls, extract, medium, caps; on an empty drive every command that
needs a disc), and checks the report against the image on the host (sector
checksums, the volume size, the files and their bytes) and against what the
drive model answers. The answers of the models are those of QEMU 7.2
(Debian 12): scsi-cd refuses a write with DATA PROTECT, ide-cd (which speaks
ATAPI through libata) with INVALID COMMAND OPERATION CODE, and so on.

Run through ctest (ctest -L qemu), or by hand with FORNAX_CLI,
FORNAX_QEMU_PROBE, FORNAX_QEMU_CLI and FORNAX_QEMU_WORK set:
    python3 test_qemu_drives.py [TestClass ...]
"""

import hashlib
import os
import re
import sys
import unittest
import zlib

import qemu_vm
from qemu_vm import SECTOR

INVALID_OPCODE = (5, 0x20, 0)
INVALID_FIELD_IN_CDB = (5, 0x24, 0)
INVALID_FIELD_IN_LIST = (5, 0x26, 0)
OUT_OF_RANGE = (5, 0x21, 0)
WRITE_PROTECTED = (7, 0x27, 0)
NO_MEDIUM = (2, 0x3A, 0)
GOOD = None

# The last error a failed command leaves: the sense key's name, then the
# additional sense code's description in brackets.
ERROR_TEXTS = {
    INVALID_OPCODE: "ILLEGAL REQUEST (INVALID COMMAND OPERATION CODE)",
    INVALID_FIELD_IN_CDB: "ILLEGAL REQUEST (INVALID FIELD IN CDB)",
    INVALID_FIELD_IN_LIST: "ILLEGAL REQUEST (INVALID FIELD IN PARAMETER LIST)",
    OUT_OF_RANGE: "ILLEGAL REQUEST (LOGICAL BLOCK ADDRESS OUT OF RANGE)",
    WRITE_PROTECTED: "DATA PROTECT (WRITE PROTECTED)",
    NO_MEDIUM: "NOT READY (MEDIUM NOT PRESENT)",
}

# The commands the probe sends under the trace-all switch: the name the
# trace shows, the opcode and the data direction flags (event bit 40h, with
# 08h for data in, 10h for data out).
PROBE_COMMANDS = {
    "write10": ("WRITE (10)", 0x2A, 0x50),
    "synchronize": ("SYNCHRONIZE CACHE", 0x35, 0x40),
    "setcdspeed": ("SET CD SPEED", 0xBB, 0x40),
    "trackinfo": ("READ TRACK INFORMATION", 0x52, 0x48),
    "buffercapacity": ("READ BUFFER CAPACITY", 0x5C, 0x48),
    "formatcapacities": ("READ FORMAT CAPACITIES", 0x23, 0x48),
    "modesense05": ("MODE SENSE (10)", 0x5A, 0x48),
    "modeselect05": ("MODE SELECT (10)", 0x55, 0x50),
    "tur": ("TEST UNIT READY", 0x00, 0x40),
    "read10": ("READ (10)", 0x28, 0x48),
}

# What each drive model answers to those commands with a disc loaded.
SCSI_CD_ANSWERS = {
    "write10": WRITE_PROTECTED, "synchronize": GOOD, "setcdspeed": INVALID_OPCODE,
    "trackinfo": INVALID_OPCODE, "buffercapacity": INVALID_OPCODE,
    "formatcapacities": INVALID_OPCODE, "modesense05": INVALID_FIELD_IN_CDB,
    "modeselect05": INVALID_FIELD_IN_LIST, "tur": GOOD, "read10": GOOD,
}
IDE_CD_ANSWERS = {
    "write10": INVALID_OPCODE, "synchronize": INVALID_OPCODE, "setcdspeed": GOOD,
    "trackinfo": INVALID_OPCODE, "buffercapacity": INVALID_OPCODE,
    "formatcapacities": INVALID_OPCODE, "modesense05": INVALID_FIELD_IN_CDB,
    "modeselect05": INVALID_OPCODE, "tur": GOOD, "read10": GOOD,
}
# Without a disc scsi-cd reports the missing medium before it looks at the
# opcode; ide-cd looks at the opcode first.
SCSI_CD_EMPTY_ANSWERS = dict({name: NO_MEDIUM for name in PROBE_COMMANDS},
                             modesense05=INVALID_FIELD_IN_CDB)
IDE_CD_EMPTY_ANSWERS = dict(IDE_CD_ANSWERS, tur=NO_MEDIUM, read10=NO_MEDIUM)

# What fornax-cli says of a drive without a disc: the drive's own reason.
NO_DISC = "no disc in the drive: " + ERROR_TEXTS[NO_MEDIUM]

# The reads QEMU's drives claim in their capabilities page (byte 2 = 3Bh):
# ide-cd refuses the page's default values, so this shows its current ones.
CAPABILITY_READS = ("reads CD-R", "reads CD-RW", "reads DVD-ROM", "reads DVD-R", "reads DVD-RAM")

# An empty drive answers at once: the whole run (QEMU's start, the boot, the
# probe, eight commands) takes about 5 s on scsi-cd and 12 s on ide-cd here,
# and stays within this bound on a busy machine too. Waiting for readiness
# instead takes 10 s or more for each of the seven commands.
EMPTY_RUN_SECONDS = 30

TRACE_LINE = re.compile(
    r"^<<< (?P<time>\d\d:\d\d:\d\d\d) (?P<name>.{22}) \((?P<op>[0-9A-F]{2})\) "
    r"\{(?P<flags>[0-9A-F]{2})\|(?P<cdblen>[0-9A-F]{2})\} - "
    r"(?P<adapter>\d+):(?P<target>[0-9A-F]+):(?P<lun>\d+) <(?P<status>[0-9A-F]{2})> "
    r"\[(?P<buflen>[0-9A-F]{5})\] (?P<cdb>(?:[0-9A-F]{2} ){15}) \|(?P<dump>(?:[0-9A-F]{2} )*)"
    r"= (?P<hastat>[0-9A-F]{2}) (?P<targstat>[0-9A-F]{2}) (?P<sense0>[0-9A-F]{2}) "
    r"(?P<key>[0-9A-F]{2}) ASC:(?P<asc>[0-9A-F]{2}),ASQ:(?P<ascq>[0-9A-F]{2}) (?P<error>.*)$")


def setUpModule():
    try:
        qemu_vm.check_host()
        # Normally done by the qemu.prepare test; by hand it happens here once.
        qemu_vm.prepare(rebuild_images=False)
    except qemu_vm.Missing as missing:
        if qemu_vm.under_ci():
            raise AssertionError(f"{missing}; CI installs it with tools/install-deps.sh")
        raise unittest.SkipTest(str(missing))


class Image:
    """The image file on the host: what the drive must deliver."""

    def __init__(self, path):
        self.path = path
        self.sectors = os.path.getsize(path) // SECTOR

    def read(self, lba, count):
        with open(self.path, "rb") as f:
            f.seek(lba * SECTOR)
            return f.read(count * SECTOR)

    def crc(self, lba, count):
        return f"{zlib.crc32(self.read(lba, count)):08x}"

    def volume_space_size(self):
        """The volume space size of the primary volume descriptor."""
        pvd = self.read(16, 1)
        assert pvd[:6] == b"\x01CD001", "sector 16 of the image is no primary volume descriptor"
        return int.from_bytes(pvd[80:84], "little")


def source_files(folder):
    """(path, size) of every file of an image's source folder, as the
    guest's listing shows them."""
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            found.append(("./" + os.path.relpath(path, folder), os.path.getsize(path)))
    return sorted(found)


def source_folders(folder):
    """Every folder below an image's source folder, as "./a/b"."""
    return sorted("./" + os.path.relpath(os.path.join(root, name), folder)
                  for root, names, _ in os.walk(folder) for name in names)


def md5_of(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


# A line of `fornax-cli ls`: kind, size (or "-"), date and time, path.
LS_LINE = re.compile(r"^(?P<kind>[fd]) +(?P<size>\d+|-)  \d{4}-\d\d-\d\d \d\d:\d\d:\d\d  (?P<path>/.*)$")
# A row of a session table: number, start, size in sectors.
SESSION_ROW = re.compile(r"^  (?P<number>\d{3})  +(?P<start>\d+)  +(?P<size>\d+|\?) sectors")


def sector_count(output, label):
    """The number of sectors on a line of `fornax-cli medium` ("Used: 1,234 sectors")."""
    match = re.search(rf"^{label}:\s+([\d,]+) sectors", output, re.M)
    return int(match.group(1).replace(",", "")) if match else None


class VmTest(unittest.TestCase):
    """Boots the class's VM once; the tests read its report."""

    MACHINE = "pc"
    CONTROLLERS = ()
    DRIVES = ()  # (-device option, image name in the work folder or None)
    CLI_SCRIPT = None  # the fornax-cli commands the VM runs after the probe

    @classmethod
    def setUpClass(cls):
        work = qemu_vm.work_dir()
        drives = [(device, os.path.join(work, image) if image else None) for device, image in cls.DRIVES]
        cls.report = qemu_vm.run_vm(cls.__name__, cls.MACHINE, drives, cls.CONTROLLERS, cls.CLI_SCRIPT)
        print(f"\n{cls.__name__}: VM run {cls.report.seconds:.1f} s", file=sys.stderr)

    def cli(self, name):
        """The fornax-cli command the script ran as `name`."""
        self.assertIn(name, self.report.cli, f"the VM ran no fornax-cli '{name}':\n{self.report}")
        run = self.report.cli[name]
        self.assertIsNotNone(run.exit_code, f"fornax-cli '{name}' did not end:\n{run}")
        return run

    def drive(self, index=0):
        self.assertGreater(len(self.report.drives), index,
                           f"the probe went through no drive {index}:\n{self.report}")
        return self.report.drives[index]

    def sysfs_address(self, node):
        """host, target, lun of /dev/srN as the guest kernel names them."""
        name = node.rsplit("/", 1)[-1]
        host, _channel, target, lun = self.report.head.one("sysfs", name)[1].split(":")
        return int(host), int(target), int(lun)

    # -- checks shared by the classes

    def check_probe_finished(self):
        self.assertEqual(self.report.exit_code, 0, f"the probe did not finish:\n{self.report}")
        self.assertEqual(self.report.head.all("done"), [[]], str(self.report))

    def check_list_line(self, line, product):
        match = re.fullmatch(r"(\d+):(\d+):(\d+),(/dev/sr\d+) (.{8})(.{16})(.{4})", line)
        self.assertIsNotNone(match, f"unexpected list line {line!r}")
        adapter, target, lun, node, vendor, product_field, revision = match.groups()
        self.assertEqual(vendor, "QEMU    ")
        self.assertEqual(product_field, product.ljust(16))
        self.assertEqual(revision, qemu_vm.DRIVE_REVISION)
        self.assertEqual((int(adapter), int(target), int(lun)), self.sysfs_address(node),
                         f"the list line's address differs from the kernel's for {node}")
        return node

    def check_selected(self, section, product):
        line = section.one("drive")[1]
        ok, device_id, description, device_type = section.one("select")
        self.assertEqual(ok, "1", f"SelectDevice({line!r}) failed")
        self.assertEqual(device_id, line)
        self.assertEqual(device_type, "5")
        self.assertEqual(description, f"{'QEMU':<8} {product:<16} {qemu_vm.DRIVE_REVISION}")
        node = line.split(",")[1].split(" ")[0]
        self.assertEqual(section.one("drivepath"), [node])
        self.assertEqual(tuple(int(v) for v in section.one("address")), self.sysfs_address(node))

    def check_answers(self, section, answers):
        """Each refused or accepted command: result, last error, kept sense,
        and its one trace line."""
        adapter, target, lun = (int(v) for v in section.one("address"))
        for name, expected in answers.items():
            with self.subTest(command=name):
                _, ok, error, sense_hex = section.one("command", name)
                sense = bytes.fromhex(sense_hex)
                traces = [fields[1] for fields in section.all("trace") if fields[0] == name]
                self.assertEqual(len(traces), 1, f"{name}: trace lines {traces}")
                trace = TRACE_LINE.match(traces[0])
                self.assertIsNotNone(trace, f"{name}: the trace line has another shape:\n{traces[0]}")
                title, opcode, flags = PROBE_COMMANDS[name]
                self.assertEqual(trace["name"], title.ljust(22))
                self.assertEqual(int(trace["op"], 16), opcode)
                self.assertEqual(int(trace["flags"], 16), flags)
                self.assertEqual((int(trace["adapter"]), int(trace["target"], 16), int(trace["lun"])),
                                 (adapter, target, lun))
                self.assertEqual(trace["error"], error, "the trace ends with the last error")
                if expected is GOOD:
                    self.assertEqual((ok, error), ("1", ""))
                    self.assertEqual(sense, bytes(18))
                    self.assertEqual(trace["status"], "01")
                    self.assertEqual((trace["targstat"], trace["asc"], trace["ascq"]), ("00", "00", "00"))
                    continue
                key, asc, ascq = expected
                self.assertEqual((ok, error), ("0", ERROR_TEXTS[expected]))
                self.assertIn(sense[0] & 0x7F, (0x70, 0x71), f"sense {sense_hex}")
                self.assertEqual((sense[2] & 0x0F, sense[12], sense[13]), expected, f"sense {sense_hex}")
                self.assertEqual(trace["status"], "04")
                self.assertEqual(trace["hastat"], "00")
                self.assertEqual(trace["targstat"], "02", "CHECK CONDITION")
                self.assertEqual(int(trace["sense0"], 16), sense[0])
                self.assertEqual((int(trace["key"], 16), int(trace["asc"], 16), int(trace["ascq"], 16)),
                                 (key, asc, ascq))


def disc_script(extract):
    """fornax-cli on a disc: its sessions, its files, `extract` (a path of
    the disc) with the sums of what came out, the medium and the drive."""
    return f"""cli sessions sessions
cli ls ls /
mkdir -p /tmp/extracted
cli extract extract {extract} /tmp/extracted
files extracted /tmp/extracted
cli medium medium
cli caps caps
"""


# fornax-cli on an empty drive: every command that needs a disc, with what
# it needs besides (a folder to burn, an image file).
EMPTY_SCRIPT = """cli medium medium
cli sessions sessions
cli ls ls /
mkdir -p /tmp/extracted /tmp/source
cli extract extract / /tmp/extracted
echo "a file to burn" > /tmp/source/a.txt
cli burn burn /tmp/source
dd if=/dev/zero of=/tmp/blank.iso bs=2048 count=16 2>/dev/null
cli burn-iso burn-iso /tmp/blank.iso
cli erase erase
cli ready ready
"""
NO_DISC_COMMANDS = ("medium", "sessions", "ls", "extract", "burn", "burn-iso", "erase")


class DiscTests(VmTest):
    """A drive holding an image built by fornax-cli."""

    IMAGE = "cd.iso"
    PRODUCT = "QEMU CD-ROM"
    MEDIUM = (1, "CD-ROM", 0x0008)
    ANSWERS = SCSI_CD_ANSWERS
    EXTRACT = "/"  # what fornax-cli extracts in the VM
    CLI_SCRIPT = disc_script(EXTRACT)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.image = Image(os.path.join(qemu_vm.work_dir(), cls.IMAGE))
        cls.folder = os.path.join(qemu_vm.work_dir(), cls.IMAGE.replace(".iso", "-files"))

    def test_probe_finished(self):
        self.check_probe_finished()

    def test_scan_lists_the_drive(self):
        init = self.report.head.one("init")
        self.assertEqual((init[0], init[2]), ("1", "1"), f"the SG_IO emulation is the transport: {init}")
        lines = [fields[0] for fields in self.report.head.all("list")]
        self.assertEqual(len(lines), 1, lines)
        self.assertEqual(self.check_list_line(lines[0], self.PRODUCT), "/dev/sr0")

    def test_select_device(self):
        self.check_selected(self.drive(), self.PRODUCT)

    def test_selecting_an_address_without_a_drive_fails(self):
        ok, device_id, description, adapter = self.report.head.one("selectmissing")
        self.assertEqual((ok, device_id, description), ("0", "", ""))
        self.assertEqual(adapter, "254", "the selection is cleared")

    def test_medium_type(self):
        code, name, profile = self.MEDIUM
        self.assertEqual(self.drive().one("medium"), [str(code), name])
        # QEMU's rule for the profile it reports: DVD above a CD's size.
        self.assertEqual(self.image.sectors * SECTOR > qemu_vm.CD_MAX_BYTES, name == "DVD-ROM")

    def test_disc_status_and_sessions(self):
        self.assertEqual(self.drive().one("discstatus"), ["2"], "a complete disc")
        self.assertEqual(self.drive().one("sessions"), ["1"])

    def test_test_unit_ready(self):
        self.assertEqual(self.drive().one("tur"), ["1", ""])

    def test_read_capacity_is_the_image_size(self):
        ok, last, block_length, error = self.drive().one("capacity")
        self.assertEqual((ok, error), ("1", ""))
        self.assertEqual((int(last), int(block_length)), (self.image.sectors - 1, SECTOR))

    def test_file_system_sectors(self):
        self.assertEqual(int(self.drive().one("fssectors")[0]), self.image.volume_space_size())
        self.assertEqual(self.image.volume_space_size(), self.image.sectors)

    def test_disc_info(self):
        code, name, profile = self.MEDIUM
        fields = self.drive().one("discinfo")
        keys = ["ok", "Ready", "Capacity", "Used", "BlockSize", "FirstSession", "LastSession",
                "DiscStatus", "Profile", "MediumName", "Erasable"]
        info = dict(zip(keys, fields))
        atip_ok, atip_hex, atip_error = self.drive().one("atip")
        self.assertEqual(info, {
            "ok": "1", "Ready": "1", "Capacity": str(self.image.sectors), "Used": str(self.image.sectors),
            "BlockSize": "2048", "FirstSession": "1", "LastSession": "1", "DiscStatus": "2",
            "Profile": str(profile), "MediumName": name, "Erasable": "0"},
            "a complete pressed disc: its capacity is what it holds (READ TOC format 4, the "
            f"ATIP, gave {'good status: ' + atip_hex if atip_ok == '1' else atip_error})")

    def test_read_sectors_16_to_32(self):
        drive = self.drive()
        ok, crc, error = (lambda f: (f[3], f[4], f[5]))(drive.one("read", "descriptors"))
        self.assertEqual((ok, error), ("1", ""))
        for lba, sector_crc in drive.all("sector"):
            with self.subTest(lba=int(lba)):
                self.assertEqual(sector_crc, self.image.crc(int(lba), 1))
        self.assertEqual([int(f[0]) for f in drive.all("sector")], list(range(16, 33)))
        self.assertEqual(crc, self.image.crc(16, 17))
        singles = [f for f in drive.all("read") if f[0] == "single"]
        self.assertEqual([int(f[1]) for f in singles], list(range(16, 33)))
        for _, lba, _, ok, sector_crc, error in singles:
            with self.subTest(single=int(lba)):
                self.assertEqual((ok, error), ("1", ""))
                self.assertEqual(sector_crc, self.image.crc(int(lba), 1))

    def test_read_last_and_middle_sectors(self):
        for name in ("last", "middle", "limit"):
            with self.subTest(read=name):
                _, lba, blocks, ok, crc, error = self.drive().one("read", name)
                self.assertEqual((ok, error), ("1", ""))
                self.assertEqual(crc, self.image.crc(int(lba), int(blocks)))
        self.assertEqual(int(self.drive().one("read", "last")[1]), self.image.sectors - 1)

    def test_read_beyond_the_end_is_refused(self):
        _, lba, _, ok, _, error = self.drive().one("read", "beyond")
        self.assertEqual(int(lba), self.image.sectors)
        self.assertEqual((ok, error), ("0", ERROR_TEXTS[OUT_OF_RANGE]))

    def test_large_read_succeeds_or_says_why(self):
        """1 MiB in one READ (10). The transport announces the largest
        transfer the drive's queue takes; a read within it succeeds, a larger
        one is refused as too big before it reaches the kernel, and any other
        failure still carries an error text."""
        drive = self.drive()
        status, announced, max_hw_kb, _ = drive.one("limits")
        self.assertEqual(status, "1")
        self.assertEqual(int(announced), min(int(max_hw_kb) * 1024, 0xFF0000),
                         "the announced maximum is the queue's")
        _, lba, blocks, ok, crc, error = drive.one("read", "large")
        if int(blocks) * SECTOR > int(announced):
            self.assertEqual((ok, error), ("0", "BUFFER TOO BIG"))
            return
        kernel_errno, kernel_text = drive.one("kernelread", "large")[1:3]
        if ok == "1":
            self.assertEqual(crc, self.image.crc(int(lba), int(blocks)))
        else:
            self.assertNotEqual(error, "",
                                f"READ (10) of {int(blocks) * SECTOR} bytes failed without an error "
                                f"text (the kernel refused it: errno {kernel_errno}, {kernel_text}; the queue "
                                f"takes {max_hw_kb} KiB, the transport announces {announced} bytes)")

    def test_refused_commands_and_their_trace(self):
        self.check_answers(self.drive(), self.ANSWERS)

    def test_trace_shows_the_data_read(self):
        line = [f[1] for f in self.drive().all("trace") if f[0] == "read10"][0]
        dump = bytes.fromhex(TRACE_LINE.match(line)["dump"])
        self.assertEqual(dump, self.image.read(16, 1)[:257])

    def test_cli_sessions_lists_one_session_from_sector_0(self):
        run = self.cli("sessions")
        self.assertEqual(run.exit_code, 0, str(run))
        rows = [m.groupdict() for m in map(SESSION_ROW.match, run.output.splitlines()) if m]
        self.assertEqual(rows, [{"number": "001", "start": "0", "size": str(self.image.sectors)}], str(run))

    def test_cli_ls_lists_the_files_of_the_image(self):
        run = self.cli("ls")
        self.assertEqual(run.exit_code, 0, str(run))
        lines = run.output.splitlines()
        listed = [LS_LINE.match(line) for line in lines]
        self.assertEqual([line for line, m in zip(lines, listed) if not m], [], f"other lines:\n{run}")
        files = sorted(("." + m["path"], int(m["size"])) for m in listed if m["kind"] == "f")
        folders = sorted("." + m["path"].rstrip("/") for m in listed if m["kind"] == "d")
        self.assertEqual(files, source_files(self.folder))
        self.assertEqual(folders, source_folders(self.folder))

    def test_cli_extract_gives_the_bytes_of_the_source_files(self):
        run = self.cli("extract")
        self.assertEqual(run.exit_code, 0, str(run))
        prefix = "./" if self.EXTRACT == "/" else "." + self.EXTRACT.rstrip("/") + "/"
        expected = [(path, size) for path, size in source_files(self.folder) if path.startswith(prefix)]
        self.assertTrue(expected, f"nothing to extract under {self.EXTRACT}")
        self.assertIn(f"Extracted {len(expected)} files", run.output)
        extracted = {f[0]: (int(f[1]), f[2]) for f in self.report.head.all("extracted")}
        self.assertEqual(sorted((path, size) for path, (size, _) in extracted.items()), expected)
        for path, _ in expected:
            self.assertEqual(extracted[path][1], md5_of(os.path.join(self.folder, path)), path)

    def test_cli_medium_capacity_covers_what_is_used(self):
        run = self.cli("medium")
        self.assertEqual(run.exit_code, 0, str(run))
        capacity, used, free = (sector_count(run.output, label) for label in ("Capacity", "Used", "Free"))
        self.assertEqual(used, self.image.sectors, str(run))
        self.assertGreaterEqual(capacity, used, str(run))
        self.assertEqual(capacity, self.image.sectors, f"a pressed disc holds what it holds:\n{run}")
        self.assertEqual(free, 0, str(run))
        self.assertIn(f"Medium:   {self.MEDIUM[1]}\n", run.output)
        self.assertRegex(run.output, r"sessions: 1\n")
        rows = [m.groupdict() for m in map(SESSION_ROW.match, run.output.splitlines()) if m]
        self.assertEqual(rows, [{"number": "001", "start": "0", "size": str(self.image.sectors)}], str(run))

    def test_cli_caps_shows_the_reads_and_no_writes(self):
        run = self.cli("caps")
        self.assertEqual(run.exit_code, 0, str(run))
        shown = dict(re.findall(r"^  (\S.*?)\s+(yes|no)$", run.output, re.M))
        for name in CAPABILITY_READS:
            self.assertEqual(shown.get(name), "yes", f"{name}:\n{run}")
        writes = {name: value for name, value in shown.items() if name.startswith("writes")}
        self.assertTrue(writes, str(run))
        self.assertEqual(set(writes.values()), {"no"}, f"a drive that only reads:\n{run}")

    def test_kernel_mounts_the_image(self):
        """The guest's own ISO 9660 driver reads the disc through the same
        drive: the Joliet names, the sizes and (for small files) the data."""
        listed = {f[0]: (int(f[1]), f[2]) for f in self.report.head.all("file")}
        folder = os.path.join(qemu_vm.work_dir(), self.IMAGE.replace(".iso", "-files"))
        expected = source_files(folder)
        self.assertEqual(sorted((path, size) for path, (size, _) in listed.items()), expected)
        for path, size in expected:
            if size <= 4 * 1024 * 1024:  # the guest sums only the small files
                with open(os.path.join(folder, path), "rb") as f:
                    self.assertEqual(listed[path][1], hashlib.md5(f.read()).hexdigest(), path)


class ScsiCdWithCdImage(DiscTests):
    CONTROLLERS = qemu_vm.VIRTIO_SCSI
    DRIVES = [(qemu_vm.scsi_cd(), "cd.iso")]

    def test_scan_and_selection_log_nothing(self):
        """Without DoDebug and the trace-all switch, finding and selecting a
        drive puts nothing in the log."""
        logged = self.report.head.all("scanlog") + self.drive().all("selectlog")
        self.assertEqual(logged[:3], [], f"{len(logged)} lines logged, the first three shown")


class IdeCdWithCdImage(DiscTests):
    DRIVES = [(qemu_vm.IDE_CD, "cd.iso")]
    PRODUCT = "QEMU DVD-ROM"
    ANSWERS = IDE_CD_ANSWERS


class AhciCdWithCdImage(IdeCdWithCdImage):
    MACHINE = "q35"
    DRIVES = [(qemu_vm.AHCI_CD, "cd.iso")]


class ScsiCdWithDvdImage(DiscTests):
    CONTROLLERS = qemu_vm.VIRTIO_SCSI
    DRIVES = [(qemu_vm.scsi_cd(), "dvd.iso")]
    IMAGE = "dvd.iso"
    MEDIUM = (4, "DVD-ROM", 0x0010)
    EXTRACT = "/docs"  # the big file would not fit the VM's memory
    CLI_SCRIPT = disc_script(EXTRACT)


class IdeCdWithDvdImage(DiscTests):
    DRIVES = [(qemu_vm.IDE_CD, "dvd.iso")]
    PRODUCT = "QEMU DVD-ROM"
    ANSWERS = IDE_CD_ANSWERS
    IMAGE = "dvd.iso"
    MEDIUM = (4, "DVD-ROM", 0x0010)
    EXTRACT = "/docs"
    CLI_SCRIPT = disc_script(EXTRACT)


class EmptyDriveTests(VmTest):
    PRODUCT = "QEMU CD-ROM"
    ANSWERS = SCSI_CD_EMPTY_ANSWERS
    CLI_SCRIPT = EMPTY_SCRIPT

    def test_cli_says_no_disc_with_the_drives_reason(self):
        for name in NO_DISC_COMMANDS:
            with self.subTest(command=name):
                run = self.cli(name)
                self.assertEqual(run.exit_code, 1, str(run))
                said = [line for line in run.output.splitlines() if line and not line.startswith("Drive:")]
                self.assertEqual(said, ["fornax-cli: " + NO_DISC], str(run))
        run = self.cli("ready")
        self.assertEqual((run.exit_code, run.output), (1, "not ready: " + ERROR_TEXTS[NO_MEDIUM]))

    def test_the_run_does_not_wait_for_a_disc(self):
        """Every command above answered at once: the whole run, boot
        included, stays well within what one wait for readiness takes."""
        seconds = ", ".join(f"{run.name} {run.seconds:.1f} s" for run in self.report.cli.values())
        self.assertLess(self.report.seconds, EMPTY_RUN_SECONDS, f"the commands took: {seconds}")

    def test_probe_finished(self):
        self.check_probe_finished()

    def test_scan_lists_and_selects_the_drive(self):
        lines = [fields[0] for fields in self.report.head.all("list")]
        self.assertEqual(len(lines), 1, lines)
        self.check_list_line(lines[0], self.PRODUCT)
        self.check_selected(self.drive(), self.PRODUCT)

    def test_test_unit_ready_says_no_medium(self):
        self.assertEqual(self.drive().one("tur"), ["0", ERROR_TEXTS[NO_MEDIUM]])

    def test_medium_type_is_unknown(self):
        self.assertEqual(self.drive().one("medium"), ["0", "UNKNOWN"])

    def test_no_sessions_and_no_capacity(self):
        self.assertEqual(self.drive().one("sessions"), ["0"])
        ok, _, _, error = self.drive().one("capacity")
        self.assertEqual((ok, error), ("0", ERROR_TEXTS[NO_MEDIUM]))
        self.assertEqual(self.drive().one("fssectors"), ["0"])
        self.assertEqual(self.drive().one("discinfo")[:2], ["0", "0"], "not ready")

    def test_read_says_no_medium(self):
        _, _, _, ok, _, error = self.drive().one("read", "descriptors")
        self.assertEqual((ok, error), ("0", ERROR_TEXTS[NO_MEDIUM]))

    def test_refused_commands_and_their_trace(self):
        self.check_answers(self.drive(), self.ANSWERS)


class ScsiCdEmpty(EmptyDriveTests):
    CONTROLLERS = qemu_vm.VIRTIO_SCSI
    DRIVES = [(qemu_vm.scsi_cd(), None)]


class IdeCdEmpty(EmptyDriveTests):
    DRIVES = [(qemu_vm.IDE_CD, None)]
    PRODUCT = "QEMU DVD-ROM"
    ANSWERS = IDE_CD_EMPTY_ANSWERS


class ScsiCdsOnTwoLuns(VmTest):
    """Two drives behind one target, at LUN 0 and LUN 1 (as a bridge with
    several units shows them). The kernel addresses each unit by its own
    device node."""

    CONTROLLERS = qemu_vm.VIRTIO_SCSI
    DRIVES = [(qemu_vm.scsi_cd(lun=0), "cd.iso"), (qemu_vm.scsi_cd(lun=1), "cd.iso")]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.image = Image(os.path.join(qemu_vm.work_dir(), "cd.iso"))

    def test_probe_finished(self):
        self.check_probe_finished()

    def test_scan_lists_both_units(self):
        lines = [fields[0] for fields in self.report.head.all("list")]
        self.assertEqual(len(lines), 2, lines)
        luns = []
        for line in lines:
            self.check_list_line(line, "QEMU CD-ROM")
            luns.append(int(line.split(",")[0].split(":")[2]))
        self.assertEqual(sorted(luns), [0, 1])
        for index in range(2):
            with self.subTest(drive=index):
                self.check_selected(self.drive(index), "QEMU CD-ROM")

    def test_every_unit_reads_the_disc(self):
        for index in range(2):
            drive = self.drive(index)
            with self.subTest(drive=drive.one("drive")[1]):
                self.assertEqual(drive.one("medium"), ["1", "CD-ROM"])
                _, _, _, ok, crc, error = drive.one("read", "descriptors")
                kernel = drive.one("kernelread", "large")
                trace = TRACE_LINE.match([f[1] for f in drive.all("trace") if f[0] == "read10"][0])
                self.assertEqual((ok, error), ("1", ""),
                                 f"the engine's READ (10) has CDB byte 1 = {trace['cdb'][:2]}h; the "
                                 f"probe's own READ (10) through SG_IO on the same node gave errno "
                                 f"{kernel[1]}, status {kernel[3]}, "
                                 f"{'the image' if kernel[6] == self.image.crc(0, 512) else 'other'} bytes")
                self.assertEqual(crc, self.image.crc(16, 17))
                self.assertEqual(int(drive.one("fssectors")[0]), self.image.sectors)


# The classes that boot a VM; the others only hold shared tests.
VM_CLASSES = [ScsiCdWithCdImage, IdeCdWithCdImage, AhciCdWithCdImage, ScsiCdWithDvdImage,
              IdeCdWithDvdImage, ScsiCdEmpty, IdeCdEmpty, ScsiCdsOnTwoLuns]


def load_tests(loader, standard_tests, pattern):
    suite = unittest.TestSuite()
    for cls in VM_CLASSES:
        suite.addTests(loader.loadTestsFromTestCase(cls))
    return suite


def main(argv):
    try:
        qemu_vm.check_host()
    except qemu_vm.Missing as missing:
        return qemu_vm.missing_exit(missing)
    loader = unittest.defaultTestLoader
    module = sys.modules[__name__]
    if argv[1:]:
        suite = loader.loadTestsFromNames(argv[1:], module)
    else:
        suite = load_tests(loader, None, None)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
