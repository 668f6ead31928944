"""Existing discs on the simulated recorder: a new session that brings in the
files of the last one shows old and new files to xorriso, with the bytes of
each; fornax-cli lists and extracts every file of every session whole, with
its date; what cannot be extracted is said and leaves nothing behind."""

import os
import shutil
import stat
import unittest

import readers
from itsupport import WorkDir, random_bytes, write_file
from simdisc import SimulatedDisc
from sourcetrees import make_varied_tree

FIRST_DATE = 1_600_000_000  # whole seconds: a disc keeps no fractions


def tree_files(root):
    """{path relative to root: file path} of every file below root."""
    out = {}
    for folder, _dirs, files in os.walk(root):
        for name in files:
            full = os.path.join(folder, name)
            out[os.path.relpath(full, root).replace(os.sep, "/")] = full
    return out


def date_files(root, first):
    """Gives every file below root its own whole-second date."""
    for i, path in enumerate(sorted(tree_files(root).values())):
        os.utime(path, (first + i * 61, first + i * 61))


def assert_same_files(test, found, expected, label):
    """found and expected map the same paths to files of the same bytes."""
    test.assertEqual(sorted(found), sorted(expected), label)
    for path, source in expected.items():
        with open(found[path], "rb") as a, open(source, "rb") as b:
            test.assertEqual(a.read(), b.read(), f"{label}: {path}")


class XorrisoAtSession(readers.Xorriso):
    """xorriso, reading the session that starts at a given sector."""

    def __init__(self, start):
        self.start = start

    def _base(self, image, tree):
        return ["xorriso", "-abort_on", "FAILURE", "-load", "sbsector", str(self.start),
                "-read_fs", self._read_fs(tree), "-iso_rr_pattern", "off", "-indev", str(image)]


class ImportedSessions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        # The first session: two folders merged into the root.
        cls.first_folders, expected = make_varied_tree(cls.work("first"))
        for folder in cls.first_folders:
            date_files(folder, FIRST_DATE)
        cls.first = dict(expected.files)
        # The second: a file that replaces one of the first, one that replaces
        # a file in a folder, and new ones.
        second = cls.work("second")
        write_file(os.path.join(second, "README"), b"read the new one\n")
        write_file(os.path.join(second, "top", "mid", "note.txt"), b"an updated note\n")
        write_file(os.path.join(second, "added", "fresh.bin"), random_bytes(300_000, 5))
        write_file(os.path.join(second, "top", "mid", "deep", "another leaf.txt"), b"a second leaf\n")
        date_files(second, FIRST_DATE + 86_400)
        cls.second_folder = second
        cls.merged = dict(cls.first)
        cls.merged.update(tree_files(second))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def assert_extracted(self, folder, expected, label):
        found = tree_files(folder)
        assert_same_files(self, found, expected, label)
        for path, source in expected.items():
            self.assertEqual(int(os.stat(found[path]).st_mtime), int(os.stat(source).st_mtime),
                             f"{label}: the date of {path}")

    def burn_two_sessions(self, kind):
        disc = SimulatedDisc(self.work, kind)
        code, out = disc.cli("vdrive", "insert", kind)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("burn", "-V", "FIRST", *self.first_folders)
        self.assertEqual(code, 0, out)
        start = disc.used_sectors()
        code, out = disc.cli("burn", "-V", "SECOND", "--import-session", "-1", "--replace", self.second_folder)
        self.assertEqual(code, 0, out)
        self.assertIn(f"in a session from sector {start}", out)
        return disc, start

    def test_the_new_session_holds_old_and_new_files_for_xorriso_and_for_extract(self):
        for kind in ("cd-r", "dvd+r"):
            with self.subTest(medium=kind):
                disc, start = self.burn_two_sessions(kind)
                image = disc.export(self.work(kind + ".iso"))

                # What another program sees in each session, byte for byte.
                for label, at, expected in (("session 1", 0, self.first), ("session 2", start, self.merged)):
                    xorriso = XorrisoAtSession(at)
                    listing = xorriso.list(image, "joliet")
                    files = [e for e in listing.values() if not e.is_dir]
                    scratch = self.work(f"{kind}-xorriso-{at}")
                    assert_same_files(self, xorriso.extract(image, "joliet", files, scratch), expected, label)

                code, out = disc.cli("sessions")
                self.assertEqual(code, 0, out)
                self.assertIn(f"  002 {start:>11}", out)

                # Every file of both sessions, extracted by the program itself.
                for session, expected in ((1, self.first), (2, self.merged)):
                    dest = self.work(f"{kind}-extract-{session}")
                    os.makedirs(dest)
                    code, out = disc.cli("extract", "-s", str(session), "/", dest)
                    self.assertEqual(code, 0, out)
                    self.assertIn(f"Extracted {len(expected)} files", out)
                    self.assert_extracted(dest, expected, f"{kind} session {session}")

    def test_listing_extraction_of_one_file_and_refusals(self):
        disc, _start = self.burn_two_sessions("dvd-r")
        code, out = disc.cli("ls", "/top/mid")
        self.assertEqual(code, 0, out)
        self.assertIn("/top/mid/note.txt", out)
        self.assertIn("/top/mid/deep/another leaf.txt", out)
        self.assertIn(f"{len(b'an updated note' + bytes(1)):>6}  ", out)

        dest = self.work("one-file")
        os.makedirs(dest)
        code, out = disc.cli("extract", "-s", "1", "/top/mid/note.txt", dest)
        self.assertEqual(code, 0, out)
        self.assert_extracted(dest, {"note.txt": self.first["top/mid/note.txt"]}, "session 1 note")

        # Not on the disc, a session the disc has not: said, and nothing made.
        for args, reason in ((("/nowhere.txt", dest), "the session holds no '/nowhere.txt'"),
                             (("-s", "7", "/README", dest), "there is no session 7; the disc holds 2 sessions")):
            before = sorted(os.listdir(dest))
            code, out = disc.cli("extract", *args)
            self.assertEqual(code, 1, out)
            self.assertIn(reason, out)
            self.assertEqual(sorted(os.listdir(dest)), before)
        # A folder cannot be extracted into a file: the file stays as it was.
        code, out = disc.cli("extract", "/top", self.first["README"])
        self.assertEqual(code, 1, out)
        self.assertIn("could not be (named above)", out)
        with open(self.first["README"], "rb") as f:
            self.assertEqual(f.read(), b"read me first\n")

    def test_a_session_without_replace_keeps_the_imported_file(self):
        disc = SimulatedDisc(self.work, "keep")
        disc.cli("vdrive", "insert", "cd-rw")
        self.assertEqual(disc.cli("burn", *self.first_folders)[0], 0)
        code, out = disc.cli("burn", "--import-session", "-1", self.second_folder)
        # The files that lost to the imported ones are named, and the exit
        # status says that not everything asked for is on the disc.
        self.assertEqual(code, 2, out)
        for lost in ("README", "top/mid/note.txt"):
            self.assertIn(f"NAME ALREADY USED BY ANOTHER ENTRY, NOT ADDED: {self.second_folder}/{lost}\n", out)
        dest = self.work("keep-extract")
        os.makedirs(dest)
        code, out = disc.cli("extract", "/", dest)
        self.assertEqual(code, 0, out)
        kept = dict(tree_files(self.second_folder))
        kept.update(self.first)  # the imported files win
        self.assert_extracted(dest, kept, "without --replace")


@unittest.skipUnless(shutil.which("xorriso"), "xorriso is not installed")
class DiscsOfOtherPrograms(unittest.TestCase):
    """A disc whose sessions another program wrote: the program's new session
    brings its files in, and extraction gives them back."""

    def test_a_session_written_by_xorriso_is_imported_and_extracted(self):
        work = WorkDir()
        self.addCleanup(work.cleanup)
        disc = SimulatedDisc(work, "peer")
        disc.cli("vdrive", "insert", "dvd+r")
        # xorriso writes the first session into an image; that image is burnt.
        src = work("peer-src")
        write_file(os.path.join(src, "Photos", "Summer Holiday 2025.jpg"), random_bytes(150_000, 9))
        write_file(os.path.join(src, "notes.txt"), b"kept by another program\n")
        date_files(src, FIRST_DATE)
        peer_iso = work("peer.iso")
        readers._run(["xorriso", "-outdev", peer_iso, "-joliet", "on", "-map", src, "/", "-commit"])
        code, out = disc.cli("burn-iso", peer_iso)
        self.assertEqual(code, 0, out)
        code, out = disc.cli("burn", "--import-session", "-1", write_file(work("ours", "ours.txt"), b"ours\n"))
        self.assertEqual(code, 0, out)
        dest = work("peer-extract")
        os.makedirs(dest)
        code, out = disc.cli("extract", "/", dest)
        self.assertEqual(code, 0, out)
        expected = tree_files(src)
        expected["ours.txt"] = work("ours", "ours.txt")
        assert_same_files(self, tree_files(dest), expected, "imported from another program")


def snapshot(root, skip):
    """Every entry below root but the subtree at skip: type, mode, size,
    bytes and link target, as lstat and the contents tell."""
    out = {}
    for folder, dirs, files in os.walk(root):
        rel_folder = os.path.relpath(folder, root)
        dirs[:] = [d for d in dirs if os.path.normpath(os.path.join(rel_folder, d)) != skip]
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            what = (st.st_mode, st.st_size)
            if os.path.islink(path):
                what += (os.readlink(path),)
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    what += (f.read(),)
            out[os.path.relpath(path, root)] = what
    return out


FUZZ_CORPUS = os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus")


class HostileNames(unittest.TestCase):
    """Discs whose folders are named "..." (once a final dot was dropped as
    "no extension", each climbed a level) down to victim/target.txt: however
    another program or a crafted disc tells such names, the extraction stays
    in its folder and the user's own victim/target.txt, a few levels up, is
    untouched."""

    def images(self, work):
        src = work("hostile-src")
        write_file(os.path.join(src, "...", "...", "...", "...", "victim", "target.txt"), b"owned\n")
        made = {}
        for label, command in (
                ("genisoimage", ["genisoimage", "-quiet", "-J", "-R", "-o"]),
                ("xorriso", ["xorriso", "-as", "mkisofs", "-quiet", "-J", "-R", "-o"]),
                ("genisoimage-iso9660", ["genisoimage", "-quiet", "-l", "-L", "-o"])):
            made[label] = work(label + ".iso")
            readers._run(command + [made[label], src])
        for name in ("hostile-names-joliet.iso", "hostile-names-iso.iso", "hostile-names-rockridge.iso"):
            made[name] = os.path.join(FUZZ_CORPUS, name)
        return made

    def test_no_name_of_a_disc_leads_the_extraction_out_of_its_folder(self):
        work = WorkDir()
        self.addCleanup(work.cleanup)
        for label, image in self.images(work).items():
            with self.subTest(image=label):
                disc = SimulatedDisc(work, label)
                disc.cli("vdrive", "insert", "cd-r")
                code, out = disc.cli("burn-iso", image)
                self.assertEqual(code, 0, out)
                box = work(label + "-box")
                write_file(os.path.join(box, "victim", "target.txt"), b"the user's own\n")
                os.makedirs(os.path.join(box, "l1", "l2", "l3"))
                skip = os.path.join("l1", "l2", "l3", "OUT")
                before = snapshot(box, skip)
                code, out = disc.cli("extract", "/", os.path.join(box, skip))
                self.assertEqual(snapshot(box, skip), before, out)
                extracted = snapshot(os.path.join(box, skip), "")
                targets = [path for path in extracted if path.endswith(os.path.join("victim", "target.txt"))
                           or path.endswith(os.path.join("VICTIM", "TARGET.TXT"))]
                self.assertEqual(len(targets), 1, out)
                self.assertIn(extracted[targets[0]][2], (b"owned\n", b"owned"))
                for path, (mode, *_rest) in extracted.items():
                    self.assertTrue(stat.S_ISREG(mode) or stat.S_ISDIR(mode), path)
                    self.assertEqual(mode & 0o7000, 0, path)
                if not label.startswith("hostile-names"):
                    self.assertEqual(code, 0, out)


if __name__ == "__main__":
    unittest.main()
