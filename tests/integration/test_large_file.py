"""The varied tree plus a sparse 4.5 GB file, which must be recorded as
several consecutive extents in both trees, read back whole by every reader.

Readers stream the big file and the bytes are compared with the source as
they arrive; nothing of that size is written to disk."""

import os
import unittest

import checks
from itsupport import (EXTENT_LIMIT, WorkDir, allocated_bytes, make_sparse_big_file, run_iso)
from sourcetrees import make_varied_tree


class LargeFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        try:
            cls.folders, cls.expected = make_varied_tree(cls.work("src"))
            big_root = cls.work("src", "C")
            cls.big = make_sparse_big_file(os.path.join(big_root, "huge", "disk image.bin"))
            cls.folders.append(big_root)
            cls.expected.add_folder("", big_root)
        except BaseException:
            cls.work.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def build(self, name, *options):
        image = self.work(name)
        result = run_iso(image, *self.folders, *options, timeout=600)
        self.assertEqual(result.returncode, 0, result)
        # the holes of the source stay holes in the image
        self.assertLess(allocated_bytes(image), 256 << 20,
                        f"{image} takes {allocated_bytes(image)} bytes on disk")
        scratch = self.work("scratch-" + name)
        os.makedirs(scratch)
        return image, scratch

    def test_source_is_over_the_extent_limit(self):
        self.assertGreater(os.path.getsize(self.big), EXTENT_LIMIT)
        self.assertEqual(self.expected.big_files(), {"huge/disk image.bin"})

    def test_joliet(self):
        image, scratch = self.build("big-joliet.iso")
        checks.check_structure(self, image, joliet=True, bootable=False, expected=self.expected)
        checks.check_with_every_reader(self, image, self.expected, scratch, joliet=True)
        os.remove(image)

    def test_no_joliet(self):
        image, scratch = self.build("big-plain.iso", "--no-joliet")
        checks.check_structure(self, image, joliet=False, bootable=False, expected=self.expected)
        checks.check_with_every_reader(self, image, self.expected, scratch, joliet=False)
        os.remove(image)


if __name__ == "__main__":
    unittest.main()
