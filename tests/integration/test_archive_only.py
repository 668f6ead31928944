"""-a (archive only): only files without a current archive mark go in; a
good build marks what it took. The mark is the user extended attribute
user.fornax.archived."""

import errno
import os
import unittest

import checks
from itsupport import Expected, WorkDir, run_iso, write_file

MARK = "user.fornax.archived"


def user_xattrs_work(folder):
    probe = os.path.join(folder, ".xattr-probe")
    write_file(probe, b"")
    try:
        os.setxattr(probe, "user.fornax.probe", b"1")
        return True
    except OSError as error:
        if error.errno in (errno.ENOTSUP, errno.EOPNOTSUPP, errno.EPERM):
            return False
        raise
    finally:
        os.remove(probe)


def marked(path):
    try:
        os.getxattr(path, MARK)
        return True
    except OSError as error:
        if error.errno == errno.ENODATA:
            return False
        raise


class ArchiveOnly(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        if not user_xattrs_work(self.work.path):
            self.work.cleanup()
            self.skipTest(f"the file system under {self.work.path} has no user extended attributes")
        self.src = self.work("src")
        self.files = {
            "report.txt": b"first report\n",
            "data/table.csv": b"a,b\n1,2\n",
            "data/deep/more.bin": b"\x00\x01\x02",
            "photo.jpeg": b"\xff\xd8" + b"\x00" * 3000,
        }
        for rel, data in self.files.items():
            write_file(os.path.join(self.src, rel), data)

    def tearDown(self):
        self.work.cleanup()

    def path(self, rel):
        return os.path.join(self.src, rel)

    def build(self, name):
        image = self.work(name)
        return image, run_iso(image, "-a", self.src)

    def assertImageHolds(self, image, rels):
        expected = Expected()
        for rel in rels:
            expected.add_file(rel, self.path(rel))
        scratch = self.work("scratch-" + os.path.basename(image))
        os.makedirs(scratch)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def assertNothingToWrite(self, image, result):
        self.assertEqual(result.returncode, 1, result)
        self.assertIn("nothing to write", result.output)
        self.assertFalse(os.path.exists(image), "no image is left behind")

    def touch_changed(self, rel, data):
        """Rewrites a file and moves its time on, as an edit a second later would."""
        path = self.path(rel)
        st = os.stat(path)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 2_000_000_000))

    def test_first_run_takes_everything_and_marks_it(self):
        for rel in self.files:
            self.assertFalse(marked(self.path(rel)))
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 0, result)
        self.assertImageHolds(image, self.files)
        self.assertEqual([r for r in self.files if not marked(self.path(r))], [],
                         "files left unmarked after a good build")

    def test_second_run_finds_nothing_new(self):
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 0, result)
        image, result = self.build("second.iso")
        self.assertNothingToWrite(image, result)

    def test_changed_and_new_files_go_in_next_time(self):
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 0, result)

        self.touch_changed("data/table.csv", b"a,b\n1,2\n3,4\n")
        write_file(self.path("new note.txt"), b"written after the backup\n")
        image, result = self.build("second.iso")
        self.assertEqual(result.returncode, 0, result)
        self.assertImageHolds(image, ["data/table.csv", "new note.txt"])

        image, result = self.build("third.iso")
        self.assertNothingToWrite(image, result)

    def test_same_size_edit_counts_as_a_change(self):
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 0, result)
        self.touch_changed("report.txt", b"FIRST REPORT\n")  # same length
        image, result = self.build("second.iso")
        self.assertEqual(result.returncode, 0, result)
        self.assertImageHolds(image, ["report.txt"])

    def test_without_a_the_marks_are_ignored_and_not_set(self):
        image = self.work("plain.iso")
        result = run_iso(image, self.src)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual([r for r in self.files if marked(self.path(r))], [],
                         "a build without -a marked files")
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 0, result)
        image = self.work("plain-again.iso")
        result = run_iso(image, self.src)
        self.assertEqual(result.returncode, 0, result)
        self.assertImageHolds(image, self.files)

    def test_failed_build_marks_nothing(self):
        """When the image cannot be written, no file may be marked archived:
        the next run has to take them again."""
        blocker = self.work("not-a-folder")
        write_file(blocker, b"")
        image = os.path.join(blocker, "out.iso")  # its folder is a file
        result = run_iso(image, "-a", self.src)
        self.assertEqual(result.returncode, 1, result)
        self.assertEqual([r for r in self.files if marked(self.path(r))], [])
        image, result = self.build("retry.iso")
        self.assertEqual(result.returncode, 0, result)
        self.assertImageHolds(image, self.files)

    def test_left_out_files_are_not_marked(self):
        long_folder = "F" * 120  # too long for a folder record: left out
        write_file(self.path(os.path.join(long_folder, "inside.txt")), b"kept out\n")
        image, result = self.build("first.iso")
        self.assertEqual(result.returncode, 2, result)
        self.assertIn(long_folder, result.output)
        self.assertFalse(marked(self.path(os.path.join(long_folder, "inside.txt"))))
        self.assertEqual([r for r in self.files if not marked(self.path(r))], [])
        self.assertImageHolds(image, self.files)


if __name__ == "__main__":
    unittest.main()
