"""Images of a varied tree, with Joliet on and off, with and without a boot
image, read back by every reader."""

import os
import unittest

import checks
import isoraw
import readers
from itsupport import WorkDir, random_bytes, run_iso, write_file
from sourcetrees import make_varied_tree


class VariedTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        cls.folders, cls.expected = make_varied_tree(cls.work("src"))
        cls.floppy = write_file(cls.work("boot", "floppy144.img"), random_bytes(1474560, 144))
        cls.small_boot = write_file(cls.work("boot", "small.img"), random_bytes(5000, 5000))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def build(self, name, *options):
        image = self.work(name)
        result = run_iso(image, *self.folders, *options)
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(os.path.isfile(image), result)
        scratch = self.work("scratch-" + name)
        os.makedirs(scratch)
        return image, scratch

    def verify(self, image, scratch, *, joliet, boot=None):
        checks.check_structure(self, image, joliet=joliet, bootable=boot is not None,
                               expected=self.expected)
        if boot is not None:
            catalog, lba, media = checks.check_boot_catalog(self, image, boot)
            checks.check_boot_seen_by_readers(self, image, boot, catalog, lba, media)
            self.assertBootImageApart(image, lba, boot)
        if not joliet:
            self.assertNoJolietSeen(image)
        checks.check_with_every_reader(self, image, self.expected, scratch, joliet=joliet)

    def assertBootImageApart(self, image, lba, boot):
        """No file or folder extent overlaps the boot image's sectors."""
        count = -(-os.path.getsize(boot) // isoraw.SECTOR)
        with isoraw.Image(image) as img:
            vds = img.descriptors()
            trees = [img.tree(vd) for vd in vds if vd.type == 1 or vd.is_joliet]
        for tree in trees:
            for folder, (flba, fsize) in tree.extents.items():
                self.assertFalse(flba < lba + count and lba < flba + max(1, -(-fsize // 2048)),
                                 f"folder /{folder} overlaps the boot image")
            for records in tree.folders.values():
                for rec in records:
                    if rec.size and not rec.is_dir:
                        end = rec.lba + -(-rec.size // 2048)
                        self.assertFalse(rec.lba < lba + count and lba < end,
                                         f"file {rec.path} overlaps the boot image")

    def assertNoJolietSeen(self, image):
        rc, out = checks.isoinfo_descriptor_report(image)
        self.assertIn("NO Joliet present", out)
        if readers.by_name("pycdlib").available():
            import pycdlib
            iso = pycdlib.PyCdlib()
            iso.open(image)
            try:
                self.assertFalse(iso.has_joliet())
            finally:
                iso.close()

    # -- the variants ---------------------------------------------------------

    def test_joliet(self):
        image, scratch = self.build("joliet.iso")
        self.verify(image, scratch, joliet=True)

    def test_joliet_floppy_boot(self):
        image, scratch = self.build("joliet-floppy.iso", "-b", self.floppy, "-V", "RESCUE_2024")
        self.verify(image, scratch, joliet=True, boot=self.floppy)
        rc, out = checks.isoinfo_descriptor_report(image)
        self.assertRegex(out, r"Volume id:\s*RESCUE_2024\s*\n")

    def test_joliet_small_boot(self):
        image, scratch = self.build("joliet-small.iso", "--boot", self.small_boot)
        self.verify(image, scratch, joliet=True, boot=self.small_boot)

    def test_no_joliet(self):
        image, scratch = self.build("plain.iso", "--no-joliet")
        self.verify(image, scratch, joliet=False)

    def test_no_joliet_floppy_boot(self):
        image, scratch = self.build("plain-floppy.iso", "--no-joliet", "-b", self.floppy)
        self.verify(image, scratch, joliet=False, boot=self.floppy)

    def test_no_joliet_small_boot(self):
        image, scratch = self.build("plain-small.iso", "--no-joliet", "-b", self.small_boot)
        self.verify(image, scratch, joliet=False, boot=self.small_boot)


if __name__ == "__main__":
    unittest.main()
