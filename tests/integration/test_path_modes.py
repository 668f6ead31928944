"""Where sources land in the image: -p flat / full / last, and -n (a folder's
own files without its subfolders)."""

import os
import unittest

import checks
from itsupport import Expected, WorkDir, run_iso, write_file

TREE = {
    "projects/Alpha Project Files/a.txt": b"alpha a\n",
    "projects/Alpha Project Files/sub/b.txt": b"alpha b\n",
    "projects/Alpha Project Files/sub/deeper/c.txt": b"alpha c\n",
    "projects/beta/d.txt": b"beta d\n",
    "projects/beta/e/f.txt": b"beta f\n",
    "loose.txt": b"a file given by itself\n",
}
ALPHA = "projects/Alpha Project Files"
BETA = "projects/beta"


class PathModes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # no '-' in the work folder's name: -p full turns every folder of the
        # path into an identifier (punctuation there is test_names' subject)
        cls.work = WorkDir(prefix="fornaxit_")
        cls.base = cls.work("base")
        for rel, data in TREE.items():
            write_file(os.path.join(cls.base, rel), data)
        os.makedirs(os.path.join(cls.base, ALPHA, "nothing here"))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def src(self, rel):
        return os.path.join(self.base, rel)

    def expect(self, mapping, source_folders=()):
        """mapping: image path -> path below base."""
        expected = Expected()
        for image_path, rel in mapping.items():
            expected.add_file(image_path, self.src(rel))
        expected.source_folders = set(source_folders)
        return expected

    def build_and_check(self, name, args, expected, cwd=None):
        image = self.work(name)
        result = run_iso(image, *args, cwd=cwd)
        self.assertEqual(result.returncode, 0, result)
        scratch = self.work("scratch-" + name)
        os.makedirs(scratch)
        checks.check_structure(self, image, joliet=True, bootable=False)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_flat_puts_folder_contents_in_the_root(self):
        expected = self.expect({
            "a.txt": ALPHA + "/a.txt",
            "sub/b.txt": ALPHA + "/sub/b.txt",
            "sub/deeper/c.txt": ALPHA + "/sub/deeper/c.txt",
            "d.txt": BETA + "/d.txt",
            "e/f.txt": BETA + "/e/f.txt",
            "loose.txt": "loose.txt",
        })
        self.build_and_check("flat.iso", ["-p", "flat", self.src(ALPHA), self.src(BETA),
                                          self.src("loose.txt")], expected)

    def test_flat_is_the_default(self):
        expected = self.expect({"a.txt": ALPHA + "/a.txt", "sub/b.txt": ALPHA + "/sub/b.txt",
                                "sub/deeper/c.txt": ALPHA + "/sub/deeper/c.txt"})
        self.build_and_check("default.iso", [self.src(ALPHA)], expected)

    def test_last_keeps_the_last_folder(self):
        expected = self.expect({
            "Alpha Project Files/a.txt": ALPHA + "/a.txt",
            "Alpha Project Files/sub/b.txt": ALPHA + "/sub/b.txt",
            "Alpha Project Files/sub/deeper/c.txt": ALPHA + "/sub/deeper/c.txt",
            "beta/d.txt": BETA + "/d.txt",
            "beta/e/f.txt": BETA + "/e/f.txt",
            # a single file goes into the folder it is in
            "base/loose.txt": "loose.txt",
        }, source_folders={"Alpha Project Files", "beta", "base"})
        self.build_and_check("last.iso", ["-p", "last", self.src(ALPHA), self.src(BETA),
                                          self.src("loose.txt")], expected)

    def test_full_keeps_the_whole_source_path(self):
        # relative arguments, from the base folder, to see them made absolute
        prefix = os.path.abspath(self.base).strip("/")
        mapping = {
            f"{prefix}/{ALPHA}/a.txt": ALPHA + "/a.txt",
            f"{prefix}/{ALPHA}/sub/b.txt": ALPHA + "/sub/b.txt",
            f"{prefix}/{ALPHA}/sub/deeper/c.txt": ALPHA + "/sub/deeper/c.txt",
            f"{prefix}/{BETA}/d.txt": BETA + "/d.txt",
            f"{prefix}/{BETA}/e/f.txt": BETA + "/e/f.txt",
            f"{prefix}/loose.txt": "loose.txt",
        }
        parts = f"{prefix}/{ALPHA}".split("/")
        folders = {"/".join(parts[:i]) for i in range(1, len(parts) + 1)} | {f"{prefix}/{BETA}"}
        expected = self.expect(mapping, source_folders=folders)
        self.build_and_check("full.iso", ["-p", "full", ALPHA, "./projects/beta/../beta", "loose.txt"],
                             expected, cwd=self.base)

    def test_no_recurse_takes_only_the_folders_own_files(self):
        expected = self.expect({"a.txt": ALPHA + "/a.txt"})
        self.build_and_check("shallow.iso", ["-n", self.src(ALPHA)], expected)

    def test_no_recurse_beside_recursive_paths(self):
        expected = self.expect({
            "Alpha Project Files/a.txt": ALPHA + "/a.txt",
            "beta/d.txt": BETA + "/d.txt",
            "beta/e/f.txt": BETA + "/e/f.txt",
        }, source_folders={"Alpha Project Files", "beta"})
        self.build_and_check("mixed.iso", ["-p", "last", "-n", self.src(ALPHA), self.src(BETA)], expected)

    def test_no_recurse_refuses_a_file(self):
        image = self.work("refused.iso")
        result = run_iso(image, "-n", self.src("loose.txt"))
        self.assertEqual(result.returncode, 1, result)
        self.assertIn("loose.txt", result.output)
        self.assertFalse(os.path.exists(image))

    def test_unknown_mode_is_refused(self):
        image = self.work("bad-mode.iso")
        result = run_iso(image, "-p", "deep", self.src(ALPHA))
        self.assertNotIn(result.returncode, (0, 2), result)
        self.assertIn("deep", result.output)
        self.assertFalse(os.path.exists(image))


if __name__ == "__main__":
    unittest.main()
