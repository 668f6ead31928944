"""Entries that cannot go into the image are left out with a message naming
them and exit status 2; the image written is still whole for every reader."""

import os
import unittest

import checks
from itsupport import Expected, WorkDir, open_to_all, permissions_apply, run_iso, write_file

BASE_FILES = {
    "keep/one.txt": b"one\n",
    "keep/deeper/two.txt": b"two\n",
    "top.txt": b"top\n",
}


class LeftOut(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.src = self.work("src")
        for rel, data in BASE_FILES.items():
            write_file(os.path.join(self.src, rel), data)

    def tearDown(self):
        self.work.cleanup()

    def expected_base(self):
        expected = Expected()
        for rel in BASE_FILES:
            expected.add_file(rel, os.path.join(self.src, rel))
        return expected

    def build_left_out(self, expected, *names, as_nobody=False):
        image = self.work("out.iso")
        result = run_iso(image, self.src, as_nobody=as_nobody)
        self.assertEqual(result.returncode, 2, result)
        for name in names:
            self.assertIn(name, result.output, f"the message names what was left out\n{result}")
        self.assertTrue(os.path.isfile(image), result)
        scratch = self.work("scratch")
        os.makedirs(scratch)
        checks.check_structure(self, image, joliet=True, bootable=False)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)
        return result

    def as_nobody_or_skip(self):
        """Root reads mode-000 files anyway; the program then runs as nobody."""
        open_to_all(self.work.path)
        ok, how = permissions_apply(self.work.path)
        if not ok:
            self.skipTest(how)
        return how

    def test_unreadable_file(self):
        secret = write_file(os.path.join(self.src, "keep", "secret.txt"), b"no peeking\n")
        as_nobody = self.as_nobody_or_skip()
        os.chmod(secret, 0)
        self.build_left_out(self.expected_base(), "secret.txt", as_nobody=as_nobody)

    def test_unreadable_empty_file_goes_in_unread(self):
        """An empty file has nothing to read, so its mode keeps it out of nothing."""
        secret = write_file(os.path.join(self.src, "keep", "secret.txt"), b"no peeking\n")
        empty = write_file(os.path.join(self.src, "keep", "empty.txt"))
        as_nobody = self.as_nobody_or_skip()
        os.chmod(secret, 0)
        os.chmod(empty, 0)
        expected = self.expected_base()
        expected.add_file("keep/empty.txt", empty)
        result = self.build_left_out(expected, "secret.txt", as_nobody=as_nobody)
        self.assertNotIn("empty.txt", result.output)

    def test_unreadable_folder(self):
        locked = os.path.join(self.src, "locked")
        write_file(os.path.join(locked, "inside.txt"), b"inside\n")
        as_nobody = self.as_nobody_or_skip()
        os.chmod(locked, 0)
        self.build_left_out(self.expected_base(), "locked", as_nobody=as_nobody)

    def test_folder_name_of_120_characters(self):
        name = "Folder " + "x" * 113
        self.assertEqual(len(name), 120)
        write_file(os.path.join(self.src, name, "inside.txt"), b"inside\n")
        write_file(os.path.join(self.src, name, "sub", "deeper.txt"), b"deeper\n")
        self.build_left_out(self.expected_base(), name)

    def test_file_name_of_109_characters(self):
        kept = "k" * 104 + ".txt"
        dropped = "d" * 105 + ".txt"
        self.assertEqual((len(kept), len(dropped)), (108, 109))
        write_file(os.path.join(self.src, kept), b"108\n")
        write_file(os.path.join(self.src, dropped), b"109\n")
        expected = self.expected_base()
        expected.add_file(kept, os.path.join(self.src, kept))
        self.build_left_out(expected, dropped)

    # -- two files that want the same name --------------------------------------------

    def check_all_kept_or_reported(self, image, result, expected, dropped_candidates):
        """Either every file is in the image, or exit 2 names the missing one."""
        scratch = self.work("scratch")
        os.makedirs(scratch)
        listing = checks.readers.by_name("xorriso").list(image, "joliet") \
            if checks.readers.by_name("xorriso").available() else None
        if listing is not None:
            missing = [p for p in expected.files if p not in listing]
            if missing:
                self.assertEqual(result.returncode, 2,
                                 f"{missing} not in the image, yet exit {result.returncode}\n{result}")
                self.assertTrue(any(c in result.output for c in dropped_candidates),
                                f"no message names the file left out\n{result}")
                return
        self.assertEqual(result.returncode, 0, result)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_names_differing_only_in_case(self):
        write_file(os.path.join(self.src, "README"), b"upper\n")
        write_file(os.path.join(self.src, "readme"), b"lower\n")
        write_file(os.path.join(self.src, "Photo.JPG"), b"first\n")
        write_file(os.path.join(self.src, "photo.jpg"), b"second\n")
        expected = Expected()
        expected.add_folder("", self.src)
        image = self.work("out.iso")
        result = run_iso(image, self.src)
        self.check_all_kept_or_reported(image, result, expected,
                                        ["README", "readme", "Photo.JPG", "photo.jpg"])

    def test_same_name_from_two_merged_folders(self):
        other = self.work("other")
        write_file(os.path.join(other, "top.txt"), b"a different top\n")
        expected = self.expected_base()
        image = self.work("out.iso")
        result = run_iso(image, self.src, other)
        # Both cannot be kept under one name: the one left out must be reported.
        self.assertEqual(result.returncode, 2, f"two files named top.txt for one root\n{result}")
        self.assertIn("top.txt", result.output)
        scratch = self.work("scratch")
        os.makedirs(scratch)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)


if __name__ == "__main__":
    unittest.main()
