"""Sessions whose records point where the disc holds nothing, or carry Rock
Ridge modes that readers refuse, imported by a new session on the simulated
recorder: what does not lie on the disc is named and left out (exit 2), the
new session reads whole in xorriso and pycdlib, devices keep their numbers and
setuid bits go unless --keep-setuid keeps them."""

import io
import os
import re
import shutil
import stat
import struct
import unittest

import pycdlib

import isoraw
import test_rock_ridge as rr
from itsupport import WorkDir, random_bytes, run_iso, write_file
from simdisc import SimulatedDisc

SECTOR = 2048
LONGEST_EXTENT = 0xFFFFF800  # whole sectors below 4 GiB
FAR_SECTOR = 400_000  # past the 359,849 sectors of a CD-R


def both32(value):
    return struct.pack("<I", value) + struct.pack(">I", value)


def records_of(image_path, joliet, folder=""):
    """The records of a folder of one tree, in the order they lie on the disc."""
    with isoraw.Image(image_path) as image:
        return image.tree(image.joliet() if joliet else image.primary()).folders[folder]


def by_name(records):
    return {rec.name.split(";")[0]: rec for rec in records}


def patch_record(data, rec, extent=None, size=None, flags=None, ident=None):
    """Rewrites fields of one directory record in the image bytes."""
    at = rec.offset
    if extent is not None:
        data[at + 2:at + 10] = both32(extent)
    if size is not None:
        data[at + 10:at + 18] = both32(size)
    if flags is not None:
        data[at + 25] = flags
    if ident is not None:
        assert len(ident) == len(rec.ident), "a new identifier keeps the length of the old one"
        data[at + 33:at + 33 + len(ident)] = ident


def system_use_entries(data, rec):
    """[(signature, offset of the entry in data, length)] of a record's system use."""
    length, id_len = data[rec.offset], data[rec.offset + 32]
    at = rec.offset + 33 + id_len + (0 if id_len % 2 else 1)
    end = rec.offset + length
    entries = []
    while at + 4 <= end and data[at + 2] >= 4:
        entries.append((bytes(data[at:at + 2]), at, data[at + 2]))
        at += data[at + 2]
    return entries


def xorriso_lsdl(image, start):
    """{path: (mode string, size or "major,minor")} of the Rock Ridge tree of the session at `start`."""
    out = rr.run(["xorriso", "-load", "sbsector", str(start), "-indev", image, "-read_fs", "nojoliet",
                  "-find", "/", "-exec", "lsdl", "--"])
    entries = {}
    for line in out.splitlines():
        m = re.match(r"^(\S{10})\s+\d+\s+\d+\s+\d+\s+(\d+|\d+,\s*\d+)\s+\S+\s+\S+\s+\S+\s+'/(.+)'$", line)
        if m:
            entries[m.group(3)] = (m.group(1), re.sub(r"\s", "", m.group(2)))
    return entries


def linux_device_numbers(high, low):
    """A PN entry's words as the Linux kernel reads them."""
    if high == 0 and low & ~0xFF:
        return low >> 8, low & 0xFF
    return high, low


def image_bytes(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


def learn_next_writable(work, image):
    """Where the session after `image` starts on a CD-R, as the recorder says."""
    scratch = SimulatedDisc(work, "scratch-" + os.path.basename(image))
    scratch.cli("vdrive", "insert", "cd-r")
    code, out = scratch.cli("burn-iso", image)
    assert code == 0, out
    code, status = scratch.cli("vdrive", "status")
    found = re.search(r"next writable (\d+)", status)
    assert found, status
    return int(found.group(1))


def pycdlib_files(image, start):
    """{path: bytes} of every file of the session at `start`, through its Rock Ridge tree."""
    fp = rr.SessionView(image, start)
    iso = pycdlib.PyCdlib()
    iso.open_fp(fp)
    try:
        files = {}
        for folder, _dirs, names in iso.walk(rr_path="/"):
            for name in names:
                path = folder.rstrip("/") + "/" + name
                out = io.BytesIO()
                iso.get_file_from_iso_fp(out, rr_path=path)
                files[path.lstrip("/")] = out.getvalue()
        return files
    finally:
        iso.close()
        fp.close()


def xorriso_files(work, image, start, label):
    """{path: bytes} of every file of the session at `start`, extracted by xorriso."""
    out = work(label)
    rr.run(["xorriso", "-abort_on", "FAILURE", "-load", "sbsector", str(start), "-indev", image,
            "-osirrox", "on", "-extract", "/", out])
    files = {}
    for folder, _dirs, names in os.walk(out):
        for name in names:
            full = os.path.join(folder, name)
            with open(full, "rb") as f:
                files[os.path.relpath(full, out)] = f.read()
    return files


@unittest.skipUnless(shutil.which("xorriso"), "xorriso is not installed")
class HostileSessions(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()

    def tearDown(self):
        self.work.cleanup()

    def burn_crafted(self, name, data):
        disc = SimulatedDisc(self.work, name)
        disc.cli("vdrive", "insert", "cd-r")
        image = self.work(name + "-crafted.iso")
        with open(image, "wb") as f:
            f.write(data)
        code, out = disc.cli("burn-iso", image)
        self.assertEqual(code, 0, out)
        return disc

    def test_entries_outside_the_disc_are_named_and_left_out(self):
        src = self.work("bounds")
        kept = {
            "keep.txt": b"stays as it was\n",
            "keep.bin": random_bytes(150_000, 3),
            "folder/inner.txt": b"below a folder\n",
        }
        for path, data in kept.items():
            write_file(os.path.join(src, path), data)
        for victim in ("next.bin", "far.bin", "big/part1.bin", "big/part2.bin", "big/part3.bin"):
            write_file(os.path.join(src, victim), random_bytes(5000, len(victim)))
        image = self.work("bounds.iso")
        result = run_iso(image, src)
        self.assertEqual(result.returncode, 0, result)
        next_start = learn_next_writable(self.work, image)

        # Both trees alike: one file at the next session's start, one past the
        # end of a CD-R, and the three files of a folder told as one of 12 GiB
        # (the name of the first record on the disc).
        data = image_bytes(image)
        for joliet in (True, False):
            recs = by_name(records_of(image, joliet))
            patch_record(data, recs["next.bin" if joliet else "NEXT.BIN"], extent=next_start)
            patch_record(data, recs["far.bin" if joliet else "FAR.BIN"], extent=FAR_SECTOR)
            parts = records_of(image, joliet, "big" if joliet else "BIG")
            self.assertEqual(len(parts), 3)
            for i, rec in enumerate(parts):
                patch_record(data, rec, extent=parts[0].lba + i * (LONGEST_EXTENT // SECTOR), size=LONGEST_EXTENT,
                             flags=0x80 if i < 2 else 0, ident=parts[0].ident)
        huge = "big/" + records_of(image, True, "big")[0].name.split(";")[0]
        disc = self.burn_crafted("bounds", bytes(data))

        added = write_file(self.work("added", "added.txt"), b"the new session's own\n")
        code, out = disc.cli("burn", "--import-session", "-1", os.path.dirname(added))
        self.assertEqual(code, 2, out)
        self.assertIn("3 entries were left out", out)
        for victim in ("next.bin", "far.bin", huge):
            self.assertRegex(out, rf'"/{re.escape(victim)}" \(\d+ BYTES FROM SECTOR \d+\) .*NOT IMPORTED')
        self.assertIn(f'"/next.bin" (5000 BYTES FROM SECTOR {next_start}) REACHES PAST SECTOR {next_start}', out)
        self.assertIn(f'"/{huge}" ({3 * LONGEST_EXTENT} BYTES FROM SECTOR', out)
        start = int(re.search(r"in a session from sector (\d+)", out).group(1))
        self.assertEqual(start, next_start)

        exported = disc.export(self.work("bounds-disc.iso"))
        expected = dict(kept)
        expected["added.txt"] = b"the new session's own\n"
        self.assertEqual(xorriso_files(self.work, exported, start, "bounds-xorriso"), expected)
        self.assertEqual(pycdlib_files(exported, start), expected)

    def rock_ridge_session(self, name):
        """A session with a mode of no file type, a device and a setuid file."""
        src = self.work(name)
        write_file(os.path.join(src, "plain.txt"), b"plain\n")
        write_file(os.path.join(src, "weird.txt"), b"a mode of no type\n")
        os.chmod(write_file(os.path.join(src, "tool"), b"#!/bin/sh\n"), 0o4755)
        write_file(os.path.join(src, "tty-device"))
        image = self.work(name + ".iso")
        result = run_iso(image, "--rock-ridge", src)
        self.assertEqual(result.returncode, 0, result)
        data = image_bytes(image)
        with isoraw.Image(image) as raw:
            records = raw.tree(raw.primary()).folders[""]
        for rec in records:
            entries = system_use_entries(data, rec)
            names = [bytes(data[at + 5:at + length]) for sig, at, length in entries if sig == b"NM"]
            px = next(at for sig, at, _ in entries if sig == b"PX")
            if names == [b"weird.txt"]:
                data[px + 4:px + 12] = both32(0o177777)
            elif names == [b"tty-device"]:
                data[px + 4:px + 12] = both32(stat.S_IFCHR | 0o620)
                # The TF entry gives its 26 bytes to a PN entry (4, 65) and padding.
                tf, tf_length = next((at, length) for sig, at, length in entries if sig == b"TF")
                self.assertEqual(tf_length, 26)
                data[tf:tf + 26] = b"PN\x14\x01" + both32(4) + both32(65) + b"PD\x06\x01\x00\x00"
        return self.burn_crafted(name, bytes(data))

    def test_modes_devices_and_setuid_come_through_as_readers_accept_them(self):
        for keep in (False, True):
            with self.subTest(keep_setuid=keep):
                disc = self.rock_ridge_session(f"modes-{keep}")
                added = write_file(self.work(f"more-{keep}", "added.txt"), b"added\n")
                code, out = disc.cli("burn", "--import-session", "-1", *(["--keep-setuid"] if keep else []),
                                     os.path.dirname(added))
                self.assertEqual(code, 0, out)
                self.assertIn('"/weird.txt" HAS THE ROCK RIDGE MODE 177777', out)
                cleared = re.search(r"SETUID/SETGID BITS CLEARED ON (\d+) IMPORTED FILES?: (.*)", out)
                if keep:
                    self.assertIsNone(cleared, out)
                else:
                    self.assertEqual(cleared.group(1), "2", out)
                    self.assertEqual(sorted(cleared.group(2).split(", ")), ['"/tool"', '"/weird.txt"'])
                start = int(re.search(r"in a session from sector (\d+)", out).group(1))
                exported = disc.export(self.work(f"modes-{keep}-disc.iso"))

                seen = xorriso_lsdl(exported, start)
                self.assertEqual(sorted(seen), ["added.txt", "plain.txt", "tool", "tty-device", "weird.txt"])
                self.assertEqual(seen["weird.txt"][0], "-rwxrwxrwt" if not keep else "-rwsrwsrwt")
                self.assertEqual(seen["tool"][0], "-rwsr-xr-x" if keep else "-rwxr-xr-x")
                self.assertEqual(seen["tty-device"], ("crw--w----", "4,65"))

                fp = rr.SessionView(exported, start)
                iso = pycdlib.PyCdlib()
                try:
                    iso.open_fp(fp)
                    device = iso.get_record(rr_path="/tty-device").rock_ridge
                    self.assertEqual(device.get_file_mode(), stat.S_IFCHR | 0o620)
                    pn = device.dr_entries.pn_record
                    self.assertEqual(linux_device_numbers(pn.dev_t_high, pn.dev_t_low), (4, 65))
                    tool = iso.get_record(rr_path="/tool").rock_ridge.get_file_mode()
                    self.assertEqual(tool, stat.S_IFREG | (0o4755 if keep else 0o755))
                finally:
                    iso.close()
                    fp.close()


if __name__ == "__main__":
    unittest.main()
