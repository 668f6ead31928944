"""ISO 9660 identifiers of awkward names, checked with every reader and with
the records parsed here: file identifiers are STEM.EXT;1 of d-characters
(A-Z 0-9 _), folder identifiers d-characters only."""

import os
import unittest

import checks
import isoraw
from itsupport import Expected, WorkDir, run_iso, write_file


class Names(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir(prefix="fornaxit_")

    def tearDown(self):
        self.work.cleanup()

    def make(self, files, root="src"):
        base = self.work(root)
        for rel, data in files.items():
            write_file(os.path.join(base, rel), data)
        return base

    def build(self, *args):
        image = self.work("out.iso")
        result = run_iso(image, *args)
        self.assertEqual(result.returncode, 0, result)
        return image

    def raw_identifiers(self, image):
        """(folder identifiers, file identifiers) of the ISO 9660 tree."""
        with isoraw.Image(image) as img:
            tree = img.tree(img.primary())
        dirs, files = [], []
        for records in tree.folders.values():
            for r in records:
                (dirs if r.is_dir else files).append(r.ident.decode("latin-1"))
        return dirs, files

    def verify(self, image, expected):
        scratch = self.work("scratch")
        os.makedirs(scratch, exist_ok=True)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_many_long_names_with_one_prefix(self):
        base = self.make({f"Holiday photo {i}.jpeg": f"{i}\n".encode() for i in range(1, 131)})
        expected = Expected()
        expected.add_folder("", base)
        image = self.build(base)
        dirs, files = self.raw_identifiers(image)
        self.assertEqual(len(files), 130)
        self.assertEqual(len(set(files)), 130, "identifiers are unique")
        self.assertEqual([f for f in files if not checks.ISO_FILE_ID_FULL.match(f)], [])
        self.verify(image, expected)

    def test_names_without_extension(self):
        """Every file identifier keeps the '.' separator, also when the name
        has no extension and gets a short alias ("COPYRI_1.;1", never
        "COPYRI_1;1"); dot files are such names too."""
        base = self.make({".bashrc": b"alias ll='ls -l'\n", ".profile": b"umask 022\n",
                          ".config/app.ini": b"[app]\n", "visible.txt": b"seen\n",
                          "copyright": b"(c)\n", "CHANGELOG": b"v1\n", "Dockerfile": b"FROM x\n",
                          "TODO": b"more\n"})
        expected = Expected()
        expected.add_folder("", base)
        image = self.build(base)
        _dirs, files = self.raw_identifiers(image)
        self.assertEqual([f for f in files if not checks.ISO_FILE_ID_FULL.match(f)], [],
                         "file identifiers without the '.' separator or otherwise invalid")
        self.verify(image, expected)

    def test_folder_names_with_dots(self):
        """Folder identifiers have no extension: a '.' in a folder name must
        not reach the ISO 9660 tree."""
        base = self.make({"release.v2/notes.txt": b"notes\n", "v1.2.3/x.txt": b"x\n",
                          "node.js/y.txt": b"y\n"})
        expected = Expected()
        expected.add_folder("", base)
        image = self.build(base)
        dirs, _files = self.raw_identifiers(image)
        self.assertEqual([d for d in dirs if not checks.ISO_DIR_ID.match(d)], [],
                         "folder identifiers with characters other than A-Z 0-9 _")
        self.verify(image, expected)

    def test_source_folders_with_punctuation(self):
        """Folders named after the source path (-p last / full) may be up to
        13 characters long, but still only of d-characters."""
        files = {"my-folder/a.txt": b"a\n", "año (2024)+x/b.txt": b"b\n", "sub-dir.v2/c.txt": b"c\n"}
        base = self.make(files)
        expected = Expected()
        for rel in files:
            expected.add_file(rel, os.path.join(base, rel))
        expected.source_folders = {"my-folder", "año (2024)+x", "sub-dir.v2"}
        image = self.build("-p", "last", *[os.path.join(base, d) for d in sorted(expected.source_folders)])
        dirs, _files = self.raw_identifiers(image)
        self.assertEqual([d for d in dirs if not checks.ISO_SOURCE_DIR_ID.match(d)], [],
                         "source folder identifiers with characters other than A-Z 0-9 _")
        self.verify(image, expected)

    def test_names_that_already_fit(self):
        """Names that are valid 8.3 once upper-cased are kept as they are."""
        base = self.make({"notes.txt": b"n\n", "README": b"r\n", "A_B_C.D": b"abc\n",
                          "data/x1.csv": b"1\n", "UP.TXT": b"u\n"})
        image = self.build(base)
        dirs, files = self.raw_identifiers(image)
        self.assertEqual(sorted(files), sorted(["NOTES.TXT;1", "README.;1", "A_B_C.D;1", "X1.CSV;1", "UP.TXT;1"]))
        self.assertEqual(dirs, ["DATA"])


if __name__ == "__main__":
    unittest.main()
