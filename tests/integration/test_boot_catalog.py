"""The El Torito boot catalog: parsed here byte by byte, and seen the same
way by xorriso, isoinfo and 7z."""

import os
import unittest

import checks
import isoraw
from itsupport import WorkDir, random_bytes, run_iso, write_file

FLOPPIES = {
    "1.2 MB": (1228800, 1),
    "1.44 MB": (1474560, 2),
    "2.88 MB": (2949120, 3),
}


class BootCatalog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        cls.src = cls.work("src")
        write_file(os.path.join(cls.src, "readme.txt"), b"boot disc\n")
        write_file(os.path.join(cls.src, "tools", "fdisk.com"), random_bytes(7000, 11))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def build_bootable(self, name, boot_size, *options, seed=1):
        boot = write_file(self.work("boot", name + ".img"), random_bytes(boot_size, seed))
        image = self.work(name + ".iso")
        result = run_iso(image, self.src, "-b", boot, *options)
        self.assertEqual(result.returncode, 0, result)
        return image, boot

    def check(self, image, boot, media, *, joliet):
        catalog, lba, seen_media = checks.check_boot_catalog(self, image, boot)
        self.assertEqual(seen_media, media)
        checks.check_boot_seen_by_readers(self, image, boot, catalog, lba, media)
        checks.check_structure(self, image, joliet=joliet, bootable=True)
        # the boot image is not inside any file or folder of the trees
        count = -(-os.path.getsize(boot) // isoraw.SECTOR)
        with isoraw.Image(image) as img:
            for vd in img.descriptors():
                if vd.type != 1 and not vd.is_joliet:
                    continue
                tree = img.tree(vd)
                spans = [(l, -(-s // isoraw.SECTOR)) for l, s in tree.extents.values()]
                spans += [(r.lba, -(-r.size // isoraw.SECTOR)) for recs in tree.folders.values()
                          for r in recs if not r.is_dir and r.size]
                for start, n in spans:
                    self.assertFalse(start < lba + count and lba < start + n,
                                     f"an extent at {start} overlaps the boot image at {lba}")

    def test_floppy_images_get_their_media_type(self):
        for label, (size, media) in FLOPPIES.items():
            for joliet in (True, False):
                with self.subTest(floppy=label, joliet=joliet):
                    opts = [] if joliet else ["--no-joliet"]
                    name = f"floppy-{size}-{'j' if joliet else 'p'}"
                    image, boot = self.build_bootable(name, size, *opts, seed=size)
                    self.check(image, boot, media, joliet=joliet)

    def test_other_sizes_are_hard_disk_images(self):
        for size in (5000, 2048, 512, 1474560 + 2048, 3 * 1024 * 1024):
            for joliet in (True, False):
                with self.subTest(size=size, joliet=joliet):
                    opts = [] if joliet else ["--no-joliet"]
                    image, boot = self.build_bootable(f"hd-{size}-{joliet}", size, *opts, seed=size)
                    self.check(image, boot, 4, joliet=joliet)

    def test_boot_record_follows_the_primary_descriptor(self):
        image, _boot = self.build_bootable("order", 5000)
        with isoraw.Image(image) as img:
            types = [(vd.sector, vd.type) for vd in img.descriptors()]
        self.assertEqual(types, [(16, 1), (17, 0), (18, 2), (19, 255)])

    def test_no_boot_record_without_boot_image(self):
        image = self.work("plain.iso")
        result = run_iso(image, self.src)
        self.assertEqual(result.returncode, 0, result)
        with isoraw.Image(image) as img:
            self.assertIsNone(img.boot_record())
        rc, out = checks.xorriso_boot_report(image)
        self.assertNotIn("El Torito boot img", out)

    def test_empty_boot_image(self):
        """A zero-byte boot image is refused, or at least does not make the
        boot entry load the bytes of some other file."""
        boot = write_file(self.work("boot", "empty.img"), b"")
        image = self.work("empty-boot.iso")
        result = run_iso(image, self.src, "-b", boot)
        if result.returncode != 0:
            self.assertFalse(os.path.exists(image), "a refused build leaves no image")
            self.assertIn("empty.img", result.output)
            return
        with isoraw.Image(image) as img:
            lba, cat = img.boot_catalog()
            boot_lba = int.from_bytes(cat[40:44], "little")
            files = {}
            for vd in img.descriptors():
                if vd.type == 1 or vd.is_joliet:
                    for recs in img.tree(vd).folders.values():
                        for r in recs:
                            if not r.is_dir and r.size:
                                files[r.path] = (r.lba, r.lba + -(-r.size // isoraw.SECTOR))
        inside = [p for p, (a, b) in files.items() if a <= boot_lba < b]
        self.assertEqual(inside, [], f"exit 0 with an empty boot image, and the boot entry "
                                     f"(LBA {boot_lba}) loads the data of these files")


if __name__ == "__main__":
    unittest.main()
