"""Dates, source names the disc cannot hold, and the volume label, read back
by readers other than fornax-cli.

Images are built in Europe/Madrid, where July and December differ by an hour
of summer time, and read in UTC: a record whose offset is not the one of its
own date shows a moment an hour away from the source file's."""

import calendar
import datetime
import os
import re
import shutil
import subprocess
import time
import unittest
import zoneinfo

from itsupport import READER_ENV, CliResult, WorkDir, cli_path, write_file

MADRID = "Europe/Madrid"
JULY = 1721044800      # 2024-07-15 12:00:00 UTC
DECEMBER = 1734264000  # 2024-12-15 12:00:00 UTC
RENAMED = "CANNOT BE WRITTEN AS IT IS"


def run_iso_in_zone(zone, *args):
    env = dict(READER_ENV, TZ=zone)
    proc = subprocess.run([cli_path(), "iso", *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300, env=env)
    return CliResult(["iso", *args], proc.returncode, proc.stdout.decode("utf-8", "replace"))


def read_in_utc(command):
    env = dict(READER_ENV, TZ="UTC")
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=120)
    if proc.returncode != 0:
        raise AssertionError(f"{command} exited {proc.returncode}: "
                             f"{proc.stderr.decode('utf-8', 'replace')}")
    return proc.stdout.decode("utf-8", "surrogateescape")


def require(tool):
    if shutil.which(tool) is None:
        raise unittest.SkipTest(f"{tool} is not installed")


def open_pycdlib(image):
    try:
        import pycdlib
    except ImportError:
        raise unittest.SkipTest("pycdlib is not installed")
    iso = pycdlib.PyCdlib()
    iso.open(image)
    return iso


def seven_zip_listing(image):
    """{path: block of fields} as 7z shows the Joliet tree."""
    require("7z")
    listing = {}
    for block in re.split(r"\n\s*\n", read_in_utc(["7z", "l", "-slt", "-ba", image])):
        fields = dict(line.split(" = ", 1) for line in block.splitlines() if " = " in line)
        if "Path" in fields:
            listing[fields["Path"]] = fields
    return listing


def seven_zip_contents(image, path):
    require("7z")
    env = dict(READER_ENV, TZ="UTC")
    return subprocess.run(["7z", "x", "-so", image, "--", path], stdin=subprocess.DEVNULL,
                          capture_output=True, env=env, timeout=120, check=True).stdout


def record_moment(date):
    """Seconds since the epoch of a directory record's date: its fields as UTC,
    less the offset."""
    fields = (1900 + date.years_since_1900, date.month, date.day_of_month, date.hour, date.minute,
              date.second)
    return calendar.timegm(fields) - date.gmtoffset * 15 * 60


def quarter_hours_in_madrid(moment):
    offset = datetime.datetime.fromtimestamp(moment, zoneinfo.ZoneInfo(MADRID)).utcoffset()
    return int(offset.total_seconds()) // (15 * 60)


class Dates(unittest.TestCase):
    """Every record keeps the moment of its source; descriptors the moment of
    the build."""

    # path -> moment, files and folders; the folders' dates differ from their files'.
    MOMENTS = {"summer.txt": JULY, "winter.txt": DECEMBER, "july": JULY, "july/in.txt": DECEMBER,
               "dec": DECEMBER, "dec/in.txt": JULY}

    @classmethod
    def setUpClass(cls):
        try:
            zoneinfo.ZoneInfo(MADRID)
        except zoneinfo.ZoneInfoNotFoundError:
            raise unittest.SkipTest(f"the system has no data for {MADRID}")
        cls.work = WorkDir(prefix="fornaxit_")
        source = cls.work("src")
        files = [p for p in cls.MOMENTS if p.endswith(".txt")]
        for path in files:
            write_file(os.path.join(source, path), path.encode())
        # Folders last: writing their files moved their dates.
        for path in sorted(cls.MOMENTS, key=lambda p: p.endswith(".txt"), reverse=True):
            os.utime(os.path.join(source, path), (cls.MOMENTS[path], cls.MOMENTS[path]))
        cls.image = cls.work("dates.iso")
        cls.started = int(time.time())
        cls.result = run_iso_in_zone(MADRID, cls.image, source)
        cls.finished = int(time.time()) + 1

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result)

    def test_joliet_tree_as_7z_shows_it_in_utc(self):
        listing = seven_zip_listing(self.image)
        for path, moment in self.MOMENTS.items():
            with self.subTest(path=path):
                self.assertIn(path, listing)
                shown = datetime.datetime.strptime(listing[path]["Modified"][:19], "%Y-%m-%d %H:%M:%S")
                self.assertEqual(calendar.timegm(shown.timetuple()), moment)

    def test_both_trees_record_the_offset_of_each_date(self):
        iso = open_pycdlib(self.image)
        try:
            for path, moment in self.MOMENTS.items():
                version = ";1" if path.endswith(".txt") else ""
                for kind, key in (("iso_path", "/" + path.upper() + version),
                                  ("joliet_path", "/" + path + version)):
                    with self.subTest(path=path, tree=kind):
                        date = iso.get_record(**{kind: key}).date
                        self.assertEqual(date.gmtoffset, quarter_hours_in_madrid(moment))
                        self.assertEqual(record_moment(date), moment)
        finally:
            iso.close()

    def test_descriptors_are_dated_with_the_build(self):
        require("xorriso")
        report = read_in_utc(["xorriso", "-indev", self.image, "-pvd_info"])
        for name, zone in (("Creation Time", "Cr. Time Zone"), ("Modif. Time", "Mo. Time Zone")):
            with self.subTest(date=name):
                digits = re.search(rf"^{re.escape(name)}\s*:\s*(\d{{14}})", report, re.M)
                self.assertIsNotNone(digits, report)
                # xorriso leaves out the zone of a date recorded as UTC.
                shown = re.search(rf"^{re.escape(zone)}\s*:\s*([+-])(\d\d):(\d\d)", report, re.M)
                sign, hours, minutes = shown.groups() if shown else ("+", "00", "00")
                offset = (int(hours) * 60 + int(minutes)) * 60 * (-1 if sign == "-" else 1)
                local = datetime.datetime.strptime(digits.group(1), "%Y%m%d%H%M%S")
                moment = calendar.timegm(local.timetuple()) - offset
                self.assertGreaterEqual(moment, self.started)
                self.assertLessEqual(moment, self.finished)


class RenamedNames(unittest.TestCase):
    """A backslash or a control character in a source name becomes "_" on the
    disc, and fornax-cli says so; only a clash leaves a file out."""

    def setUp(self):
        self.work = WorkDir(prefix="fornaxit_")
        self.source = self.work("src")

    def tearDown(self):
        self.work.cleanup()

    def make(self, files):
        for rel, data in files.items():
            write_file(os.path.join(self.source, rel), data)

    def build(self, *args):
        image = self.work("names.iso")
        return image, run_iso_in_zone("UTC", image, *args)

    def renamed(self, relative, taken):
        return f'NAME OF "{os.path.join(self.source, relative)}" {RENAMED}, TAKEN AS "{taken}"'

    def test_renamed_entries_are_told_and_written(self):
        self.make({"a\\b.txt": b"backslash\n", "tab\tname.txt": b"tab\n", "x\\y/in.txt": b"in\n",
                   "plain.txt": b"plain\n"})
        image, result = self.build(self.source)
        self.assertEqual(result.returncode, 0, result)  # renamed, nothing left out
        self.assertIn(self.renamed("a\\b.txt", "a_b.txt"), result.output)
        self.assertIn(self.renamed("tab\\x09name.txt", "tab_name.txt"), result.output)
        self.assertIn(self.renamed("x\\y", "x_y"), result.output)
        self.assertEqual(result.output.count(RENAMED), 3, result)
        self.assertNotIn("NOT ADDED", result.output)
        for path, source in (("a_b.txt", "a\\b.txt"), ("tab_name.txt", "tab\tname.txt"),
                             ("x_y/in.txt", "x\\y/in.txt"), ("plain.txt", "plain.txt")):
            with self.subTest(path=path):
                with open(os.path.join(self.source, source), "rb") as f:
                    self.assertEqual(seven_zip_contents(image, path), f.read())

    def test_a_clash_of_renamed_names_leaves_one_out_and_says_why(self):
        self.make({"a\\b.txt": b"renamed\n", "a_b.txt": b"plain\n", "other.txt": b"other\n"})
        image, result = self.build(self.source)
        self.assertEqual(result.returncode, 2, result)
        self.assertIn(self.renamed("a\\b.txt", "a_b.txt"), result.output)
        left_out = [name for name in ("a\\b.txt", "a_b.txt")
                    if f"NOT ADDED: {os.path.join(self.source, name)}\n" in result.output]
        self.assertEqual(len(left_out), 1, result)
        kept = "a_b.txt" if left_out == ["a\\b.txt"] else "a\\b.txt"
        with open(os.path.join(self.source, kept), "rb") as f:
            self.assertEqual(seven_zip_contents(image, "a_b.txt"), f.read())
        self.assertEqual(seven_zip_contents(image, "other.txt"), b"other\n")

    def test_a_kept_source_folder_is_told_once(self):
        self.make({"we\\ird/one.txt": b"1\n", "we\\ird/two.txt": b"2\n"})
        folder = os.path.join(self.source, "we\\ird")
        image, result = self.build("-p", "last", folder, os.path.join(folder, "one.txt"))
        self.assertNotEqual(result.returncode, 1, result)
        self.assertIn(self.renamed("we\\ird", "we_ird"), result.output)
        self.assertEqual(result.output.count(RENAMED), 1, result)
        self.assertEqual(seven_zip_contents(image, "we_ird/two.txt"), b"2\n")


class VolumeLabel(unittest.TestCase):
    """The primary descriptor holds the label in upper-case a-characters, the
    Joliet descriptor holds it whole."""

    LABEL = "Fotos A\u00f1o (2024)"  # the 16 characters a Joliet label holds

    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir(prefix="fornaxit_")
        source = cls.work("src")
        write_file(os.path.join(source, "a.txt"), b"a\n")
        cls.image = cls.work("label.iso")
        cls.result = run_iso_in_zone("UTC", "-V", cls.LABEL, cls.image, source)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result)

    def test_isoinfo_shows_the_primary_label(self):
        require("isoinfo")
        report = read_in_utc(["isoinfo", "-d", "-i", self.image])
        self.assertRegex(report, r"Volume id: FOTOS A_O \(2024\)\s*\n")

    def test_the_descriptors_hold_their_own_spelling(self):
        iso = open_pycdlib(self.image)
        try:
            primary = iso.pvd.volume_identifier
            joliet = iso.joliet_vd.volume_identifier
        finally:
            iso.close()
        self.assertEqual(len(primary), 32)
        self.assertRegex(primary.decode("latin-1"), r"^[A-Z0-9_ !\"%&'()*+,\-./:;<=>?]{32}$")
        self.assertEqual(primary.rstrip(b" "), b"FOTOS A_O (2024)")
        self.assertEqual(joliet.decode("utf-16-be").rstrip(" "), self.LABEL)


if __name__ == "__main__":
    unittest.main()
