"""Verify: a burn read back through the simulated recorder and compared with
what was sent, a disc already written compared with local folders, an image
file burn compared sector by sector. Damage is made with the recorder's
'fault corrupt', which changes stored bytes that then read without error."""

import os
import re
import subprocess
import time
import unittest

from itsupport import SECTOR, WorkDir, cli_path, random_bytes, write_file
from simdisc import SimulatedDisc


def make_sources(root):
    """A small tree: files of several sizes (one empty, one of exactly one
    sector, one over many sectors), in nested folders. Returns the folder
    and the files' contents by their path on the disc."""
    contents = {
        "/readme.txt": b"verify me\n",
        "/empty.dat": b"",
        "/one-sector.bin": random_bytes(SECTOR, 1),
        "/docs/report 2024.docx": random_bytes(70000, 2),
        "/docs/deep/data.bin": random_bytes(300 * SECTOR + 17, 3),
        "/photos/a.jpg": random_bytes(123457, 4),
    }
    for path, data in contents.items():
        write_file(os.path.join(root, path.lstrip("/")), data)
    return root, contents


def lba_of(image, data):
    """The sector where a file's bytes start on an exported disc, found by
    its (random, so unique) first bytes."""
    with open(image, "rb") as f:
        disc = f.read()
    at = disc.find(data[:SECTOR])
    assert at >= 0 and at % SECTOR == 0, "the file's bytes are not on the disc"
    return at // SECTOR


class BurnWithVerify(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)
        self.src, self.contents = make_sources(self.work("src"))

    def test_a_sound_burn_verifies_every_file_on_dvd_and_cd(self):
        for kind in ("dvd+r", "cd-r"):
            with self.subTest(medium=kind):
                disc = SimulatedDisc(self.work, kind)
                disc.cli("vdrive", "insert", kind)
                code, out = disc.cli("burn", "--verify", self.src)
                self.assertEqual(code, 0, out)
                self.assertIn("Verified %d files" % len(self.contents), out)
                self.assertIn("all match the disc", out)

    def test_a_second_session_verifies_only_its_own_files(self):
        disc = SimulatedDisc(self.work, "second")
        disc.cli("vdrive", "insert", "cd-r")
        code, out = disc.cli("burn", self.src)
        self.assertEqual(code, 0, out)
        extra = write_file(self.work("more", "extra.txt"), b"second session\n")
        code, out = disc.cli("burn", "--verify", "--import-session", "-1", os.path.dirname(extra))
        self.assertEqual(code, 0, out)
        self.assertIn("Verified 1 file ", out)

    def test_a_damaged_sector_is_named_with_its_file_by_verify(self):
        disc = SimulatedDisc(self.work, "damaged")
        disc.cli("vdrive", "insert", "dvd+r")
        code, out = disc.cli("burn", self.src)
        self.assertEqual(code, 0, out)
        data = self.contents["/docs/deep/data.bin"]
        lba = lba_of(disc.export(self.work("before.iso")), data) + 5
        code, out = disc.cli("vdrive", "fault", "corrupt", "--lba", str(lba))
        self.assertEqual(code, 0, out)

        code, out = disc.cli("verify", self.src)
        self.assertEqual(code, 3, out)
        self.assertIn("differs from what was written: /docs/deep/data.bin (sector %d)" % lba, out)
        self.assertIn("Verified %d files" % len(self.contents), out)
        self.assertIn("%d match" % (len(self.contents) - 1), out)
        # The other files are not named.
        self.assertNotIn("/photos/a.jpg", out)

    def test_sectors_the_drive_cannot_read_are_named_and_only_they(self):
        disc = SimulatedDisc(self.work, "unreadable")
        disc.cli("vdrive", "insert", "cd-r")
        code, out = disc.cli("burn", self.src)
        self.assertEqual(code, 0, out)
        lba = lba_of(disc.export(self.work("unreadable.iso")), self.contents["/photos/a.jpg"]) + 20
        code, out = disc.cli("vdrive", "fault", "read-error", "--lba", str(lba), "--count", "2")
        self.assertEqual(code, 0, out)
        code, out = disc.cli("verify", self.src)
        self.assertEqual(code, 3, out)
        self.assertIn("cannot be read from the disc: /photos/a.jpg (sectors %d-%d)" % (lba, lba + 1), out)
        self.assertNotIn("differs", out)
        self.assertIn("%d match" % (len(self.contents) - 1), out)

    def test_verify_names_files_on_one_side_only(self):
        disc = SimulatedDisc(self.work, "sides")
        disc.cli("vdrive", "insert", "dvd+r")
        code, out = disc.cli("burn", self.src)
        self.assertEqual(code, 0, out)
        write_file(os.path.join(self.src, "new-here.txt"), b"not burnt\n")
        os.remove(os.path.join(self.src, "photos", "a.jpg"))
        code, out = disc.cli("verify", self.src)
        self.assertEqual(code, 3, out)
        self.assertIn("not on the disc: /new-here.txt", out)
        self.assertIn("on the disc but not among the sources: /photos/a.jpg", out)

    def test_verify_of_an_earlier_session_and_of_a_missing_one(self):
        disc = SimulatedDisc(self.work, "sessions")
        disc.cli("vdrive", "insert", "cd-r")
        code, out = disc.cli("burn", self.src)
        self.assertEqual(code, 0, out)
        other = write_file(self.work("other", "only.txt"), b"second\n")
        code, out = disc.cli("burn", os.path.dirname(other))
        self.assertEqual(code, 0, out)
        code, out = disc.cli("verify", "--session", "1", self.src)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("verify", os.path.dirname(other))
        self.assertEqual(code, 0, out)
        code, out = disc.cli("verify", "--session", "7", self.src)
        self.assertEqual(code, 1, out)
        self.assertIn("no session 7", out)


class ChangedDuringTheBurn(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)

    def test_a_source_changed_while_the_burn_runs_is_named(self):
        src = self.work("src")
        original = random_bytes(64 * SECTOR, 7)
        changing = write_file(os.path.join(src, "a-changing.bin"), original)
        write_file(os.path.join(src, "z-bulk.bin"), random_bytes(6 << 20, 8))
        disc = SimulatedDisc(self.work, "slow")
        disc.cli("vdrive", "insert", "dvd+r")
        # About four seconds of writing: the first file is long in the cache
        # and on its way to the disc when it changes.
        disc.cli("vdrive", "speed", "1500")
        burn = subprocess.Popen([cli_path(), "burn", "--verify", "--cache", "2", src], env=disc.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        time.sleep(1.5)
        self.assertIsNone(burn.poll(), "the burn ended before the file could change")
        write_file(changing, random_bytes(64 * SECTOR, 9))
        out = burn.communicate(timeout=300)[0].decode("utf-8", "replace")
        self.assertEqual(burn.returncode, 3, out)
        self.assertIn("changed during the burn: /a-changing.bin", out)
        self.assertIn("the disc holds the bytes that were sent", out)
        self.assertNotIn("z-bulk.bin", out)
        # It is so: the disc has the file as it was.
        disc.cli("vdrive", "speed", "0")
        image = disc.export(self.work("slow.iso"))
        self.assertGreaterEqual(lba_of(image, original), 0)


class BurnImageWithVerify(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)

    def test_a_sound_image_burn_verifies(self):
        image = write_file(self.work("in.iso"), random_bytes(700 * SECTOR + 100, 11))
        for kind in ("cd-r", "dvd+rw"):
            with self.subTest(medium=kind):
                disc = SimulatedDisc(self.work, "iso-" + kind)
                disc.cli("vdrive", "insert", kind)
                code, out = disc.cli("burn-iso", "--verify", image)
                self.assertEqual(code, 0, out)
                self.assertIn("Verified 701 sectors against the image: all match.", out)

    def test_sectors_damaged_during_the_burn_are_named_as_a_range(self):
        image = write_file(self.work("big.iso"), random_bytes(4000 * SECTOR, 12))
        disc = SimulatedDisc(self.work, "iso-damaged")
        disc.cli("vdrive", "insert", "dvd+r")
        disc.cli("vdrive", "speed", "1500")
        burn = subprocess.Popen([cli_path(), "burn-iso", "--verify", "--cache", "2", image], env=disc.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # Sectors 100 to 102 are damaged once they are on the disc, while
        # the rest is still being written.
        deadline = time.monotonic() + 60
        while True:
            code, out = disc.cli("vdrive", "fault", "corrupt", "--lba", "100", "--count", "3")
            if code == 0 or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(code, 0, out)
        self.assertIsNone(burn.poll(), "the burn ended before the damage")
        out = burn.communicate(timeout=300)[0].decode("utf-8", "replace")
        self.assertEqual(burn.returncode, 3, out)
        self.assertIn("differs from what was written: %s (sectors 100-102)" % image, out)
        self.assertIn("Verified 4000 sectors against the image: sectors 100-102 differ", out)


class CorruptFault(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)

    def test_corrupt_changes_the_bytes_and_refuses_unrecorded_sectors(self):
        image = write_file(self.work("in.iso"), random_bytes(400 * SECTOR, 13))
        disc = SimulatedDisc(self.work, "corrupt")
        disc.cli("vdrive", "insert", "dvd+r")
        code, out = disc.cli("burn-iso", image)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("vdrive", "fault", "corrupt", "--lba", "10", "--count", "2")
        self.assertEqual(code, 0, out)
        with open(image, "rb") as f:
            sent = f.read()
        with open(disc.export(self.work("out.iso")), "rb") as f:
            got = f.read(len(sent))
        differing = [n for n in range(400) if got[n * SECTOR:(n + 1) * SECTOR] != sent[n * SECTOR:(n + 1) * SECTOR]]
        self.assertEqual(differing, [10, 11])
        # Every byte of the damaged sectors changed, so none can pass by chance.
        self.assertTrue(all(a != b for a, b in zip(got[10 * SECTOR:12 * SECTOR], sent[10 * SECTOR:12 * SECTOR])))
        code, out = disc.cli("vdrive", "fault", "corrupt", "--lba", "100000")
        self.assertEqual(code, 1, out)
        self.assertTrue(re.search(r"not all recorded", out), out)


if __name__ == "__main__":
    unittest.main()
