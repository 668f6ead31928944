"""The checks themselves: an image spoilt on purpose must fail them, with
every reader. Without this a check that quietly compares nothing would pass
every image."""

import os
import struct
import unittest

import checks
import isoraw
import readers
from itsupport import Expected, WorkDir, random_bytes, run_iso, write_file


def fails(check, *args):
    """Whether check(testcase, *args) fails; it runs on a bare TestCase."""
    class Probe(unittest.TestCase):
        def runTest(self):
            pass

    try:
        check(Probe(), *args)
    except AssertionError:
        return True
    return False


class Checkers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        cls.src = cls.work("src")
        # Only names the checks pass as they are, so that a failure below can
        # come from the spoilt bytes alone (see test_pristine_images_pass).
        files = {
            "docs/letter.txt": b"Dear reader,\n" * 300,
            "docs/sizes/s2049.bin": random_bytes(2049, 9),
            "ñandú.txt": "ñandú\n".encode(),
            "README": b"readme\n",
        }
        for rel, data in files.items():
            write_file(os.path.join(cls.src, rel), data)
        cls.expected = Expected()
        cls.expected.add_folder("", cls.src)
        cls.boot = write_file(cls.work("boot.img"), random_bytes(5000, 5))
        cls.pristine = cls.work("pristine.iso")
        result = run_iso(cls.pristine, cls.src, "-b", cls.boot)
        assert result.returncode == 0, result
        # and one with a dot file, for the hidden flag of the Joliet tree
        cls.dotted_src = cls.work("dotted")
        write_file(os.path.join(cls.dotted_src, ".hidden"), b"hidden\n")
        write_file(os.path.join(cls.dotted_src, "shown.txt"), b"shown\n")
        cls.dotted_expected = Expected()
        cls.dotted_expected.add_folder("", cls.dotted_src)
        cls.dotted = cls.work("dotted.iso")
        result = run_iso(cls.dotted, cls.dotted_src)
        assert result.returncode == 0, result

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def spoilt(self, name, patch, original=None):
        """A copy of the image with patch(file, image) applied."""
        path = self.work(name)
        with open(original or self.pristine, "rb") as src, open(path, "wb") as dst:
            dst.write(src.read())
        with isoraw.Image(path) as img, open(path, "r+b") as f:
            patch(f, img)
        return path

    def joliet_record(self, img, folder, prefix):
        return next(r for r in img.tree(img.joliet()).folders[folder] if r.name.startswith(prefix))

    def scratch(self, name):
        path = self.work("scratch", name)
        os.makedirs(path, exist_ok=True)
        return path

    def each_reader(self):
        for reader in readers.ALL:
            if reader.available():
                yield reader

    def test_pristine_images_pass(self):
        for reader in self.each_reader():
            with self.subTest(reader=reader.name):
                self.assertFalse(fails(checks.check_joliet_tree, reader, self.pristine, self.expected,
                                       self.scratch(f"pristine-j-{reader.name}")))
                self.assertFalse(fails(checks.check_joliet_tree, reader, self.dotted,
                                       self.dotted_expected, self.scratch(f"dotted-j-{reader.name}")))
                if reader.reads_iso_tree_beside_joliet:
                    self.assertFalse(fails(checks.check_iso_tree, reader, self.pristine, self.expected,
                                           self.scratch(f"pristine-i-{reader.name}")))
        self.assertFalse(fails(checks.check_boot_catalog, self.pristine, self.boot))
        self.assertFalse(fails(lambda t, *a: checks.check_structure(t, *a, joliet=True, bootable=True),
                               self.pristine))

    def test_a_changed_byte_fails_every_reader_in_both_trees(self):
        def patch(f, img):
            rec = self.joliet_record(img, "docs/sizes", "s2049")
            f.seek(rec.lba * isoraw.SECTOR + 2048)  # the file's last byte
            last = f.read(1)
            f.seek(-1, 1)
            f.write(bytes([last[0] ^ 0xFF]))
        image = self.spoilt("byte.iso", patch)
        for reader in self.each_reader():
            with self.subTest(reader=reader.name):
                self.assertTrue(fails(checks.check_joliet_tree, reader, image, self.expected,
                                      self.scratch(f"byte-j-{reader.name}")))
                if reader.reads_iso_tree_beside_joliet:
                    self.assertTrue(fails(checks.check_iso_tree, reader, image, self.expected,
                                          self.scratch(f"byte-i-{reader.name}")))

    def test_a_changed_joliet_name_fails_every_reader(self):
        def patch(f, img):
            rec = self.joliet_record(img, "", "ñandú")
            f.seek(rec.offset + 33 + 3)  # low byte of the second UTF-16 unit
            f.write(b"X")
        image = self.spoilt("name.iso", patch)
        for reader in self.each_reader():
            with self.subTest(reader=reader.name):
                self.assertTrue(fails(checks.check_joliet_tree, reader, image, self.expected,
                                      self.scratch(f"name-{reader.name}")))

    def test_a_wrong_size_fails_every_reader(self):
        def patch(f, img):
            rec = self.joliet_record(img, "docs", "letter")
            f.seek(rec.offset + 10)
            f.write(struct.pack("<I", rec.size - 1) + struct.pack(">I", rec.size - 1))
        image = self.spoilt("size.iso", patch)
        for reader in self.each_reader():
            with self.subTest(reader=reader.name):
                self.assertTrue(fails(checks.check_joliet_tree, reader, image, self.expected,
                                      self.scratch(f"size-{reader.name}")))

    def test_a_bad_iso_identifier_fails_every_reader_of_that_tree(self):
        def patch(f, img):
            rec = next(r for r in img.tree(img.primary()).folders["DOCS"] if r.name.startswith("LETTER"))
            f.seek(rec.offset + 33 + 1)
            f.write(b"e")  # "LeTTER.TXT;1": not a d-character
        image = self.spoilt("iso-name.iso", patch)
        for reader in self.each_reader():
            if reader.reads_iso_tree_beside_joliet:
                with self.subTest(reader=reader.name):
                    self.assertTrue(fails(checks.check_iso_tree, reader, image, self.expected,
                                          self.scratch(f"iso-name-{reader.name}")))

    def test_a_lost_hidden_flag_fails_readers_that_show_flags(self):
        def patch(f, img):
            rec = self.joliet_record(img, "", ".hidden")
            f.seek(rec.offset + 25)
            f.write(bytes([rec.flags & ~isoraw.FLAG_HIDDEN]))
        image = self.spoilt("hidden.iso", patch, self.dotted)
        for reader in (readers.by_name("isoinfo"), readers.by_name("pycdlib")):
            if reader.available():
                with self.subTest(reader=reader.name):
                    self.assertTrue(fails(checks.check_joliet_tree, reader, image, self.dotted_expected,
                                          self.scratch(f"hidden-{reader.name}")))

    def test_a_spoilt_boot_catalog_fails(self):
        def bad_checksum(f, img):
            lba, _ = img.boot_catalog()
            f.seek(lba * isoraw.SECTOR + 28)
            f.write(b"\x00\x00")

        def bad_pointer(f, img):
            lba, cat = img.boot_catalog()
            f.seek(lba * isoraw.SECTOR + 40)
            f.write(struct.pack("<I", struct.unpack_from("<I", cat, 40)[0] + 1))

        def bad_media(f, img):
            lba, _ = img.boot_catalog()
            f.seek(lba * isoraw.SECTOR + 33)
            f.write(b"\x02")

        for name, patch in (("checksum", bad_checksum), ("pointer", bad_pointer), ("media", bad_media)):
            with self.subTest(spoilt=name):
                image = self.spoilt(f"boot-{name}.iso", patch)
                self.assertTrue(fails(checks.check_boot_catalog, image, self.boot))

    def test_a_spoilt_path_table_fails(self):
        def patch(f, img):
            pvd = img.primary()
            lba = struct.unpack_from("<I", pvd.raw, 140)[0]
            f.seek(lba * isoraw.SECTOR + 2)  # the root row's extent
            f.write(struct.pack("<I", 1))
        image = self.spoilt("path-table.iso", patch)
        self.assertTrue(fails(lambda t, *a: checks.check_structure(t, *a, joliet=True, bootable=True),
                              image))


if __name__ == "__main__":
    unittest.main()
