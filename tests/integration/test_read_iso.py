"""fornax-cli read-iso on the simulated recorder: the whole disc comes back as
the image `vdrive export` writes, byte for byte; one later session becomes an
image that xorriso reads with every file of that session whole; read errors
are tried again, and those that stay are zeros in the image, listed with the
file they hit (exit 2); an existing image is not replaced without --force;
no disc, a blank disc and Ctrl-C write nothing."""

import os
import shutil
import unittest

import isoraw
import readers
from itsupport import SECTOR, WorkDir, random_bytes, write_file
from simdisc import SimulatedDisc

BIG = "Big Photo Archive.bin"  # 300 KB: 147 sectors, several reads of 32


def tree_files(root):
    """{path relative to root: file path} of every file below root."""
    out = {}
    for folder, _dirs, files in os.walk(root):
        for name in files:
            full = os.path.join(folder, name)
            out[os.path.relpath(full, root).replace(os.sep, "/")] = full
    return out


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def file_extent(image, path):
    """(first sector, sectors) of a file of the Joliet tree of an image whose
    descriptors lie at sector 16."""
    with isoraw.Image(image) as img:
        tree = img.tree(img.joliet())
        parent, _, name = path.rpartition("/")
        for rec in tree.folders[parent]:
            if rec.name.split(";")[0] == name:
                return rec.lba, (rec.size + SECTOR - 1) // SECTOR
    raise AssertionError(f"{path} not in the Joliet tree of {image}")


class ReadIso(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        first = cls.work("first")
        write_file(os.path.join(first, BIG), random_bytes(300_000, 11))
        write_file(os.path.join(first, "notes", "todo.txt"), b"buy milk\n")
        write_file(os.path.join(first, "README"), b"the first session\n")
        second = cls.work("second")
        write_file(os.path.join(second, "README"), b"the second session replaces it\n")
        write_file(os.path.join(second, "added", "fresh.bin"), random_bytes(120_000, 12))
        cls.first, cls.second = first, second
        cls.merged = dict(tree_files(first))
        cls.merged.update(tree_files(second))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def burn_two_sessions(self, kind, name):
        """A disc of the kind with two sessions; the second takes over the
        files of the first (one replaced). Returns it and where session 2 starts."""
        disc = SimulatedDisc(self.work, name)
        code, out = disc.cli("vdrive", "insert", kind)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("burn", "-V", "FIRST", self.first)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("burn", "-V", "SECOND", "--import-session", "-1", "--replace", self.second)
        self.assertEqual(code, 0, out)
        self.assertIn("in a session from sector ", out)
        return disc, int(out.split("in a session from sector ")[1].split()[0])

    def assert_no_leftovers(self, out_path, image_expected):
        self.assertEqual(os.path.exists(out_path), image_expected, out_path)
        self.assertFalse(os.path.exists(out_path + ".part"), "an unfinished image was left behind")

    def test_the_whole_disc_is_the_disc_byte_for_byte(self):
        for kind in ("cd-r", "dvd+r", "dvd+rw"):
            with self.subTest(medium=kind):
                disc, _start = self.burn_two_sessions(kind, kind + "-whole")
                out = self.work(kind + "-whole.iso")
                code, text = disc.cli("read-iso", out)
                self.assertEqual(code, 0, text)
                self.assert_no_leftovers(out, True)
                exported = read_bytes(disc.export(self.work(kind + "-export.iso")))
                mine = read_bytes(out)
                if kind == "dvd+rw":
                    # One track; the file system at its start says how far it goes.
                    self.assertEqual(len(mine), disc.used_sectors() * SECTOR)
                    self.assertIn("(1 session, sectors 0 to", text)
                    self.assertEqual(mine, exported[:len(mine)])
                else:
                    self.assertIn("(2 sessions, sectors 0 to", text)
                    self.assertEqual(len(mine), len(exported))
                    self.assertTrue(mine == exported, "the image differs from the disc")

    @unittest.skipUnless(shutil.which("xorriso"), "xorriso is not installed")
    def test_a_later_session_alone_is_an_image_that_xorriso_reads(self):
        for kind in ("cd-r", "dvd+r"):
            with self.subTest(medium=kind):
                disc, start = self.burn_two_sessions(kind, kind + "-alone")
                out = self.work(kind + "-s2.iso")
                code, text = disc.cli("read-iso", out, "--session", "2")
                self.assertEqual(code, 0, text)
                self.assertIn(f"session 2 (sectors {start} to", text)
                self.assertIn("of earlier sessions that its files lie on", text)

                # xorriso opens it as it is, at sector 16, and every file of
                # session 2 (those it took over from session 1 too) is whole.
                found = readers._run(["xorriso", "-indev", out, "-find", "/", "-type", "f"]).stdout.decode()
                listed = sorted(line.strip().strip("'").lstrip("/") for line in found.splitlines() if line.strip())
                self.assertEqual(listed, sorted(self.merged), found)
                xorriso = readers.Xorriso()
                listing = xorriso.list(out, "joliet")
                files = [e for e in listing.values() if not e.is_dir]
                scratch = self.work(kind + "-s2-files")
                extracted = xorriso.extract(out, "joliet", files, scratch)
                self.assertEqual(sorted(extracted), sorted(self.merged))
                for path, source in self.merged.items():
                    self.assertEqual(read_bytes(extracted[path]), read_bytes(source), path)

                # From its start on, every sector is the disc's own.
                mine = read_bytes(out)
                exported = read_bytes(disc.export(self.work(kind + "-s2-export.iso")))
                self.assertEqual(len(mine), len(exported))
                self.assertTrue(mine[start * SECTOR:] == exported[start * SECTOR:])
                self.assertEqual(mine[16 * SECTOR:17 * SECTOR], exported[(start + 16) * SECTOR:(start + 17) * SECTOR])

                # The first session alone is the disc's start as it lies.
                first = self.work(kind + "-s1.iso")
                code, text = disc.cli("read-iso", first, "-s", "1")
                self.assertEqual(code, 0, text)
                mine = read_bytes(first)
                self.assertTrue(mine == exported[:len(mine)])
                self.assertEqual(readers.Xorriso().list(first, "joliet")["README"].size,
                                 os.path.getsize(os.path.join(self.first, "README")))

    def test_a_read_error_that_passes_is_tried_again(self):
        disc, _start = self.burn_two_sessions("dvd+r", "transient")
        exported = disc.export(self.work("transient-export.iso"))
        lba, sectors = file_extent(exported, BIG)
        self.assertGreater(sectors, 100)
        code, text = disc.cli("vdrive", "fault", "read-error", "--lba", str(lba + 40), "--count", "2", "--times", "2")
        self.assertEqual(code, 0, text)
        out = self.work("transient.iso")
        code, text = disc.cli("read-iso", out)
        self.assertEqual(code, 0, text)
        self.assertIn("1 read failed and read well when tried again", text)
        self.assertTrue(read_bytes(out) == read_bytes(exported))
        code, text = disc.cli("vdrive", "status")
        self.assertNotIn("fault: read error", text)

        # Longer than a read's tries: the sectors one by one, still all read.
        disc.cli("vdrive", "fault", "read-error", "--lba", str(lba + 40), "--times", "4")
        code, text = disc.cli("read-iso", "--force", out)
        self.assertEqual(code, 0, text)
        self.assertIn("fail after 3 tries", text)
        self.assertIn("reading them one by one", text)
        self.assertTrue(read_bytes(out) == read_bytes(exported))

    def test_unreadable_sectors_are_zeros_and_named_with_their_file(self):
        disc, start = self.burn_two_sessions("dvd+r", "permanent")
        exported = read_bytes(disc.export(self.work("permanent-export.iso")))
        lba, _sectors = file_extent(self.work("permanent-export.iso"), BIG)
        bad = range(lba + 40, lba + 43)
        code, text = disc.cli("vdrive", "fault", "read-error", "--lba", str(bad[0]), "--count", "3")
        self.assertEqual(code, 0, text)

        for args, label in (((), "whole"), (("--session", "2"), "session 2")):
            with self.subTest(label):
                out = self.work(f"permanent-{len(args)}.iso")
                code, text = disc.cli("read-iso", out, *args)
                self.assertEqual(code, 2, text)
                self.assert_no_leftovers(out, True)
                self.assertIn(f"3 sectors could not be read; they are zeros in the image: {bad[0]}-{bad[-1]}", text)
                named = f"/{BIG} (sessions 1, 2): 3 of its" if not args else f"/{BIG}: 3 of its"
                self.assertIn(named, text)
                mine = read_bytes(out)
                self.assertEqual(len(mine), len(exported))
                for n in bad:
                    self.assertEqual(mine[n * SECTOR:(n + 1) * SECTOR], bytes(SECTOR), f"sector {n}")
                lo, hi = bad[0] * SECTOR, (bad[-1] + 1) * SECTOR
                if not args:
                    self.assertTrue(mine[:lo] == exported[:lo] and mine[hi:] == exported[hi:])
                else:
                    self.assertTrue(mine[start * SECTOR:] == exported[start * SECTOR:])

        # A folder that cannot be read is named too, and the file below it
        # by the other tree.
        disc.cli("vdrive", "fault", "clear")
        with isoraw.Image(self.work("permanent-2.iso")) as img:
            notes = img.tree(img.joliet()).extents["notes"][0]
        disc.cli("vdrive", "fault", "read-error", "--lba", str(notes))
        out = self.work("directory.iso")
        code, text = disc.cli("read-iso", out, "-s", "2")
        self.assertEqual(code, 2, text)
        self.assertIn(f"the directory /notes (Joliet tree): 1 of its 1 sector ({notes})", text)

    def test_an_existing_image_is_replaced_only_with_force(self):
        disc, _start = self.burn_two_sessions("cd-r", "force")
        out = write_file(self.work("kept.iso"), b"precious")
        code, text = disc.cli("read-iso", out)
        self.assertEqual(code, 1, text)
        self.assertIn(f"'{out}' exists; give --force to replace it", text)
        self.assertEqual(read_bytes(out), b"precious")
        self.assertFalse(os.path.exists(out + ".part"))
        code, text = disc.cli("read-iso", "--force", out)
        self.assertEqual(code, 0, text)
        self.assertTrue(read_bytes(out) == read_bytes(disc.export(self.work("force-export.iso"))))

        folder = self.work("a-folder")
        os.makedirs(folder)
        code, text = disc.cli("read-iso", folder)
        self.assertEqual(code, 1, text)
        self.assertIn("is a folder", text)

    def test_ctrl_c_or_a_kill_never_leaves_a_finished_looking_image(self):
        disc, _start = self.burn_two_sessions("dvd+r", "interrupt")
        out = self.work("interrupted.iso")
        # Ctrl-C at the third READ (10): stopped, and the unfinished file removed.
        disc.cli("vdrive", "fault", "signal", "28", "--nth", "3", "--signal", "int")
        code, text = disc.cli("read-iso", out)
        self.assertEqual(code, 1, text)
        self.assertIn("no image written: interrupted", text)
        self.assert_no_leftovers(out, False)
        # Killed: the unfinished file keeps its .part name, and stands in the way
        # of the next read until --force.
        disc.cli("vdrive", "fault", "signal", "28", "--nth", "3", "--signal", "kill")
        code, text = disc.cli("read-iso", out)
        self.assertNotEqual(code, 0, text)
        self.assertFalse(os.path.exists(out))
        self.assertTrue(os.path.exists(out + ".part"))
        code, text = disc.cli("read-iso", out)
        self.assertEqual(code, 1, text)
        self.assertIn(f"'{out}.part' exists", text)
        code, text = disc.cli("read-iso", "--force", out)
        self.assertEqual(code, 0, text)
        self.assert_no_leftovers(out, True)

    def test_no_disc_a_blank_disc_or_no_such_session_writes_nothing(self):
        disc = SimulatedDisc(self.work, "empty")
        out = self.work("nothing.iso")
        disc.cli("vdrive", "remove")
        code, text = disc.cli("read-iso", out)
        self.assertEqual(code, 1, text)
        self.assertIn("fornax-cli: no disc in the drive", text)
        self.assert_no_leftovers(out, False)
        blank = "the disc is blank: there is nothing to read"
        no_file_system = "the disc holds no ISO 9660 file system at its start: there is nothing to read"
        for kind, message in (("dvd+r", blank), ("cd-rw", blank), ("dvd+rw", no_file_system)):
            with self.subTest(medium=kind):
                disc.cli("vdrive", "insert", kind)
                code, text = disc.cli("read-iso", out)
                self.assertEqual(code, 1, text)
                self.assertIn(message, text)
                self.assert_no_leftovers(out, False)
        burnt, _start = self.burn_two_sessions("dvd-r", "two")
        for session in ("3", "0"):
            code, text = burnt.cli("read-iso", out, "--session", session)
            self.assertEqual(code, 1, text)
            self.assertIn(f"there is no session {session}; the disc holds 2 sessions", text)
            self.assert_no_leftovers(out, False)


if __name__ == "__main__":
    unittest.main()
