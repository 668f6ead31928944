"""Rock Ridge in the ISO 9660 tree: modes, owners, times, whole names and
symbolic links come back through xorriso, bsdtar, isoinfo and pycdlib, also
for entries a later session imports; the Joliet tree keeps what it shows
without Rock Ridge."""

import io
import os
import re
import stat
import subprocess
import unittest

import pycdlib

import checks
from itsupport import READER_ENV, WorkDir, run_cli, run_iso, write_file
from simdisc import SimulatedDisc
from sourcetrees import make_varied_tree

SECTOR = 2048
LONG_NAME = "a-name-longer-than-joliet-allows-" + "x" * 120 + ".txt"  # 157 characters
LONG_TARGET = "/".join(["../far-away-folder-%02d" % i for i in range(40)]) + "/end"  # about 900 bytes
DEEP = "deep/d1/d2/d3/d4/d5/d6/d7/d8/d9"
OWNER = (1234, 5678)

FILES = {  # path -> (mode, mtime)
    "private.txt": (0o600, 981173106),
    "tool.sh": (0o755, 1000000000),
    "readme.md": (0o644, 1234567890),
    LONG_NAME: (0o640, 1300000000),
    DEEP + "/bottom.txt": (0o444, 1400000000),
    "deep/side.bin": (0o664, 1500000000),
}
LINKS = {  # path -> target
    "link-to-file": "readme.md",
    "link-to-folder": "deep",
    "absolute-link": "/usr/share/doc",
    "deep/d1/up-and-over": "../side.bin",
    "deep/d1/d2/dot-steps": "./../../readme.md",
    "long-link": LONG_TARGET,
    "nowhere": "missing/file",
}


def make_tree(root):
    for rel, (mode, mtime) in FILES.items():
        path = write_file(os.path.join(root, rel), ("data of " + rel).encode())
        os.chmod(path, mode)
        os.utime(path, (mtime - 3600, mtime))
    for rel, target in LINKS.items():
        os.symlink(target, os.path.join(root, rel))
        os.utime(os.path.join(root, rel), (1600000000, 1600000000), follow_symlinks=False)
    if os.geteuid() == 0:
        os.chown(os.path.join(root, "private.txt"), *OWNER)
        os.lchown(os.path.join(root, "link-to-file"), *OWNER)


def source_entries(root):
    """What a Rock Ridge reader should see: path -> lstat of the source."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            entries[os.path.relpath(path, root)] = os.lstat(path)
    return entries


class SessionView(io.RawIOBase):
    """A disc image as pycdlib reads it, with the descriptors of the session
    that starts at `start` where the first session's are."""

    def __init__(self, path, start):
        self.f = open(path, "rb")
        self.start = start
        self.pos = 0

    def readable(self):
        return True

    def seekable(self):
        return True

    def seek(self, offset, whence=0):
        base = {0: 0, 1: self.pos, 2: os.fstat(self.f.fileno()).st_size}[whence]
        self.pos = base + offset
        return self.pos

    def tell(self):
        return self.pos

    def readinto(self, buffer):
        at = self.pos
        if 16 * SECTOR <= at < 32 * SECTOR:
            at += self.start * SECTOR
        self.f.seek(at)
        data = self.f.read(len(buffer))
        buffer[:len(data)] = data
        self.pos += len(data)
        return len(data)

    def close(self):
        self.f.close()
        super().close()


def pycdlib_entries(fp):
    """path -> (mode, uid, gid, mtime, atime, ctime, target) from the Rock Ridge tree."""
    iso = pycdlib.PyCdlib()
    iso.open_fp(fp)
    try:
        entries = {}
        for folder, dirs, files in iso.walk(rr_path="/"):
            for name in dirs + files:
                path = (folder.rstrip("/") + "/" + name)
                rec = iso.get_record(rr_path=path)
                rr = rec.rock_ridge
                px = rr.dr_entries.px_record
                tf = rr.dr_entries.tf_record
                # pycdlib names TF's second slot (MODIFY, bit 1, as RRIP and Linux
                # have it) "access_time" and the third "modification_time".
                times = [date_seconds(getattr(tf, field)) for field in
                         ("access_time", "modification_time", "attribute_change_time")]
                target = rr.symlink_path().decode("utf-8", "surrogateescape") if rr.is_symlink() else None
                entries[path.lstrip("/")] = (rr.get_file_mode(), px.posix_user_id, px.posix_group_id,
                                             *times, target)
        return entries
    finally:
        iso.close()


def date_seconds(date):
    import calendar
    return calendar.timegm((date.years_since_1900 + 1900, date.month, date.day_of_month, date.hour,
                            date.minute, date.second)) - date.gmtoffset * 15 * 60


def run(command):
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=READER_ENV, timeout=120)
    if proc.returncode != 0:
        raise AssertionError(f"{command} -> {proc.returncode}\n{proc.stderr.decode(errors='replace')}")
    return proc.stdout.decode("utf-8", "surrogateescape")


def xorriso_entries(image, load=()):
    """path -> (mode string, uid, gid, target) as xorriso's -lsdl shows the Rock Ridge tree."""
    out = run(["xorriso", *load, "-indev", image, "-read_fs", "nojoliet", "-find", "/", "-exec", "lsdl", "--"])
    entries = {}
    line_re = re.compile(r"^(\S{10})\s+\d+\s+(\d+)\s+(\d+)\s+\d+\s+\S+\s+\S+\s+\S+\s+'(.*?)'(?: -> '(.*)')?$")
    for line in out.splitlines():
        m = line_re.match(line)
        if m and m.group(4) != "/":
            entries[m.group(4).lstrip("/")] = (m.group(1), int(m.group(2)), int(m.group(3)), m.group(5))
    return entries


def bsdtar_entries(image):
    """path -> (type, mode, uid, gid, mtime, target) from bsdtar's mtree of the image."""
    out = run(["bsdtar", "--options", "iso9660:!joliet", "-cf", "-", "--format=mtree", "--options", "mtree:uid,gid,mode,time,type,link,!size",
               "@" + image])
    entries = {}
    for line in out.splitlines():
        if not line or line.startswith("#"):
            continue
        name, *fields = line.split(" ")
        keys = dict(f.split("=", 1) for f in fields if "=" in f)
        path = mtree_unescape(name)
        path = path[2:] if path.startswith("./") else path
        if path == ".":
            continue
        entries[path] = (keys.get("type"), int(keys["mode"], 8), int(keys["uid"]), int(keys["gid"]),
                         int(float(keys["time"])), mtree_unescape(keys["link"]) if "link" in keys else None)
    return entries


def mtree_unescape(text):
    return re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), text)


def isoinfo_entries(image):
    """path -> (mode string, target) from isoinfo -R -l."""
    out = run(["isoinfo", "-R", "-l", "-i", image])
    entries = {}
    folder = None
    for line in out.splitlines():
        if line.startswith("Directory listing of "):
            folder = line[len("Directory listing of "):].strip("/")
            continue
        m = re.match(r"^(\S{10})\s.*?\]  (.*?) ?$", line)
        if not m or folder is None:
            continue
        name, target = m.group(2), None
        if " -> " in name:
            name, target = name.split(" -> ", 1)
        if name in ("", ".", ".."):
            continue
        entries[(folder + "/" + name).lstrip("/")] = (m.group(1), target)
    return entries


class RockRidge(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.src = self.work("src")
        os.makedirs(self.src)
        make_tree(self.src)
        self.expected = source_entries(self.src)

    def tearDown(self):
        self.work.cleanup()

    def build(self, *options, name="rr.iso", status=0):
        image = self.work(name)
        result = run_iso(image, *options, self.src)
        self.assertEqual(result.returncode, status, result)
        return image, result

    def test_every_reader_sees_modes_owners_times_names_and_links(self):
        image, _ = self.build("--rock-ridge")
        with open(image, "rb") as fp:
            seen = pycdlib_entries(fp)
        self.assertEqual(sorted(seen), sorted(self.expected), "pycdlib: the names")
        for path, st in self.expected.items():
            mode, uid, gid, mtime, atime, ctime, target = seen[path]
            with self.subTest(reader="pycdlib", path=path):
                self.assertEqual(mode, st.st_mode)
                self.assertEqual((uid, gid), (st.st_uid, st.st_gid))
                self.assertEqual((mtime, atime, ctime), (int(st.st_mtime), int(st.st_atime), int(st.st_ctime)))
                self.assertEqual(target, os.readlink(os.path.join(self.src, path)) if stat.S_ISLNK(st.st_mode) else None)

        seen = xorriso_entries(image)
        self.assertEqual(sorted(seen), sorted(self.expected), "xorriso: the names")
        for path, st in self.expected.items():
            with self.subTest(reader="xorriso", path=path):
                link = os.readlink(os.path.join(self.src, path)) if stat.S_ISLNK(st.st_mode) else None
                self.assertEqual(seen[path], (stat.filemode(st.st_mode), st.st_uid, st.st_gid, link))

        seen = bsdtar_entries(image)
        self.assertEqual(sorted(seen), sorted(self.expected), "bsdtar: the names")
        for path, st in self.expected.items():
            with self.subTest(reader="bsdtar", path=path):
                kind = {stat.S_IFLNK: "link", stat.S_IFDIR: "dir", stat.S_IFREG: "file"}[stat.S_IFMT(st.st_mode)]
                link = os.readlink(os.path.join(self.src, path)) if kind == "link" else None
                self.assertEqual(seen[path], (kind, stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid,
                                              int(st.st_mtime), link))

        seen = isoinfo_entries(image)
        self.assertEqual(sorted(seen), sorted(self.expected), "isoinfo: the names")
        for path, st in self.expected.items():
            with self.subTest(reader="isoinfo", path=path):
                link = os.readlink(os.path.join(self.src, path)) if stat.S_ISLNK(st.st_mode) else None
                self.assertEqual(seen[path], (stat.filemode(st.st_mode), link))

    def test_the_command_line_writes_rock_ridge_unless_told_not_to(self):
        image = self.work("default.iso")
        result = run_cli("iso", image, self.src)
        self.assertEqual(result.returncode, 0, result)
        self.assertNotIn("NOT FOLLOWED", result.output)
        seen = xorriso_entries(image)
        self.assertEqual(seen["link-to-folder"][3], "deep")
        self.assertEqual(seen["private.txt"][0], "-rw-------")

    def test_file_contents_and_the_joliet_tree_stay_as_without_rock_ridge(self):
        plain, result = self.build("--no-rock-ridge", name="plain.iso", status=2)
        self.assertIn(f"LINK TO A FOLDER, NOT FOLLOWED: {self.src}/link-to-folder", result.output)
        rock, _ = self.build("--rock-ridge")
        links = {os.path.basename(p) for p in LINKS}

        def joliet(image):
            iso = pycdlib.PyCdlib()
            iso.open(image)
            try:
                files = {}
                for folder, dirs, names in iso.walk(joliet_path="/"):
                    for name in dirs + names:
                        path = folder.rstrip("/") + "/" + name
                        data = None
                        if name in names:
                            out = io.BytesIO()
                            iso.get_file_from_iso_fp(out, joliet_path=path)
                            data = out.getvalue()
                        files[re.sub(r";1$", "", path)] = data
                return files
            finally:
                iso.close()

        plain_files, rock_files = joliet(plain), joliet(rock)
        # Links are zero-length entries there; every other file and folder is as before.
        for path, data in rock_files.items():
            if path.rsplit("/", 1)[1].rstrip(".") in links:
                self.assertEqual(data, b"", path)
        kept = {p: d for p, d in rock_files.items() if p.rsplit("/", 1)[1].rstrip(".") not in links}
        cut = [p for p in kept if "longer-than-joliet" in p]
        self.assertEqual(len(cut), 1)
        self.assertEqual(len(cut[0].rsplit("/", 1)[1]), 108, "cut to what Joliet holds, the extension kept")
        self.assertTrue(cut[0].endswith(".txt"))
        self.assertEqual(kept[cut[0]], ("data of " + LONG_NAME).encode())
        del kept[cut[0]]
        plain_kept = {p: d for p, d in plain_files.items() if p.rsplit("/", 1)[1].rstrip(".") not in links}
        self.assertEqual(kept, plain_kept)

    def test_readers_that_ignore_rock_ridge_see_the_tree_as_without_it(self):
        folders, expected = make_varied_tree(self.work("varied"))
        image = self.work("varied.iso")
        result = run_iso(image, "--rock-ridge", *folders)
        self.assertEqual(result.returncode, 0, result)
        scratch = self.work("scratch")
        os.makedirs(scratch)
        checks.check_structure(self, image, joliet=True, bootable=False, expected=expected)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_a_tree_whose_records_take_megabytes_reads_back_whole(self):
        # Directory records and continuation areas of several mebibytes, made
        # in parts, and a folder with hundreds of subfolders whose link count
        # every one of their ".." records carries.
        root = self.work("large")
        for f in range(160):
            folder = os.path.join(root, "folder %03d" % f)
            for n in range(30):
                write_file(os.path.join(folder, "%02d-" % n + "long name " * 19 + ".txt"), b"x" * (n % 3))
            os.symlink(LONG_TARGET[: 200 + f * 4].rstrip("/"), os.path.join(folder, "far link"))
        many = os.path.join(root, "many")
        for n in range(400):
            os.makedirs(os.path.join(many, "sub %03d" % n))
            write_file(os.path.join(many, "sub %03d" % n, "f"), b"f")
        expected = source_entries(root)
        image = self.work("large.iso")
        result = run_iso(image, "--rock-ridge", root)
        self.assertEqual(result.returncode, 0, result)

        seen = xorriso_entries(image)
        self.assertEqual(sorted(seen), sorted(expected), "xorriso: the names")
        for path, st in expected.items():
            link = os.readlink(os.path.join(root, path)) if stat.S_ISLNK(st.st_mode) else None
            self.assertEqual(seen[path][3], link, path)
        seen = isoinfo_entries(image)
        self.assertEqual(sorted(seen), sorted(expected), "isoinfo: the names")
        # isoinfo lists "." and ".." first in every folder, with the link
        # counts their records carry.
        counts, folder = {}, None
        for line in run(["isoinfo", "-R", "-l", "-i", image]).splitlines():
            if line.startswith("Directory listing of "):
                folder, row = line[len("Directory listing of "):], 0
            elif line.startswith("d") and folder in ("/many/", "/many/sub 123/") and row < 2:
                counts[(folder, ".." if row else ".")] = int(line.split()[1])
                row += 1
        self.assertEqual(counts, {("/many/", "."): 402, ("/many/", ".."): 163,
                                  ("/many/sub 123/", "."): 2, ("/many/sub 123/", ".."): 402})

    def test_a_session_importing_another_keeps_its_rock_ridge(self):
        disc = SimulatedDisc(self.work, "rr")
        disc.cli("vdrive", "insert", "cd-r")
        code, out = disc.cli("burn", "--rock-ridge", self.src)
        self.assertEqual(code, 0, out)
        start = disc.used_sectors()
        added = write_file(self.work("more", "added.txt"), b"second session\n")
        os.chmod(added, 0o700)
        code, out = disc.cli("burn", "--rock-ridge", "--import-session", "-1", os.path.dirname(added))
        self.assertEqual(code, 0, out)
        self.assertIn(f"in a session from sector {start}", out)
        image = disc.export(self.work("disc.iso"))

        expected = dict(self.expected)
        expected["added.txt"] = os.lstat(added)
        fp = SessionView(image, start)
        try:
            seen = pycdlib_entries(fp)
        finally:
            fp.close()
        self.assertEqual(sorted(seen), sorted(expected))
        for path, st in expected.items():
            mode, uid, gid, mtime, atime, ctime, target = seen[path]
            with self.subTest(path=path):
                self.assertEqual(mode, st.st_mode)
                self.assertEqual((uid, gid), (st.st_uid, st.st_gid))
                self.assertEqual((mtime, atime, ctime), (int(st.st_mtime), int(st.st_atime), int(st.st_ctime)))
                self.assertEqual(target, os.readlink(os.path.join(self.src, path)) if stat.S_ISLNK(st.st_mode) else None)
        seen = xorriso_entries(image, load=("-load", "sbsector", str(start)))
        self.assertEqual(sorted(seen), sorted(expected), "xorriso: the names of the second session")
        for path, st in expected.items():
            with self.subTest(reader="xorriso", path=path):
                link = os.readlink(os.path.join(self.src, path)) if stat.S_ISLNK(st.st_mode) else None
                self.assertEqual(seen[path], (stat.filemode(st.st_mode), st.st_uid, st.st_gid, link))


if __name__ == "__main__":
    unittest.main()
