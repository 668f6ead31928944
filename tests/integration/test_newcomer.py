"""fornax-cli iso as someone new to it would use it: an ordinary folder,
no options beyond OUTPUT and PATH; and the mistakes such a user makes."""

import os
import shutil
import unittest

import checks
from itsupport import (Expected, WorkDir, open_to_all, permissions_apply, run_cli, run_iso,
                       write_file)
from sourcetrees import make_project_tree

DOC_FOLDER = "/usr/share/doc/xorriso"


class OrdinaryUse(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()

    def tearDown(self):
        self.work.cleanup()

    def check_folder(self, folder, name):
        expected = Expected()
        expected.add_folder("", folder)
        self.assertTrue(expected.files, f"{folder} holds no files")
        image = self.work(name)
        result = run_iso(image, folder)
        self.assertEqual(result.returncode, 0, result)
        files = len(expected.files)
        self.assertRegex(result.output, rf"\b{files} files\b", "the summary counts the files")
        scratch = self.work("scratch-" + name)
        os.makedirs(scratch)
        checks.check_structure(self, image, joliet=True, bootable=False)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_copy_of_a_documentation_folder(self):
        if not os.path.isdir(DOC_FOLDER):
            self.skipTest(f"{DOC_FOLDER} is not there")
        copy = self.work("xorriso-doc")
        shutil.copytree(DOC_FOLDER, copy, symlinks=False)
        self.check_folder(copy, "doc.iso")

    def test_small_project(self):
        self.check_folder(make_project_tree(self.work("projects")), "project.iso")

    def test_image_written_inside_the_folder_it_backs_up(self):
        """Running the same command twice must not put the first image into
        the second one."""
        project = make_project_tree(self.work("projects"))
        expected = Expected()
        expected.add_folder("", project)
        image = os.path.join(project, "backup.iso")
        for attempt in (1, 2):
            result = run_iso(image, project)
            self.assertEqual(result.returncode, 0, result)
        scratch = self.work("scratch")
        os.makedirs(scratch)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_help_explains_the_command(self):
        result = run_cli("iso", "--help")
        self.assertEqual(result.returncode, 0, result)
        for word in ("OUTPUT", "PATH", "--paths", "--no-recurse", "--boot", "--no-joliet",
                     "--archive-only", "Exit status"):
            self.assertIn(word, result.output)


class BadInput(unittest.TestCase):
    """Each mistake gives a message that names the problem, a non-zero exit
    that is not 2 (2 means an image was written), and no image file."""

    def setUp(self):
        self.work = WorkDir()
        self.src = self.work("src")
        write_file(os.path.join(self.src, "a.txt"), b"a\n")

    def tearDown(self):
        self.work.cleanup()

    def assertRefused(self, result, image, *words):
        self.assertNotIn(result.returncode, (0, 2), result)
        for word in words:
            self.assertIn(word, result.output, result)
        self.assertFalse(os.path.exists(image), f"{image} was left behind")
        self.assertNotIn("Traceback", result.output)

    def test_missing_path(self):
        image = self.work("out.iso")
        missing = self.work("no such folder")
        self.assertRefused(run_iso(image, self.src, missing), image, "no such folder")

    def test_output_is_a_folder(self):
        folder = self.work("images")
        os.makedirs(folder)
        result = run_iso(folder, self.src)
        self.assertNotIn(result.returncode, (0, 2), result)
        self.assertIn("folder", result.output)
        self.assertEqual(os.listdir(folder), [], "nothing was written into the folder")

    def test_output_folder_missing(self):
        image = self.work("not there", "out.iso")
        self.assertRefused(run_iso(image, self.src), image, "not there")

    def test_missing_boot_image(self):
        image = self.work("out.iso")
        self.assertRefused(run_iso(image, self.src, "-b", self.work("nope.img")), image, "nope.img")

    def test_unreadable_boot_image(self):
        boot = write_file(self.work("boot.img"), b"\x00" * 2048)
        image = self.work("out.iso")
        open_to_all(self.work.path)
        ok, how = permissions_apply(self.work.path)
        if not ok:
            self.skipTest(how)
        os.chmod(boot, 0)
        self.assertRefused(run_iso(image, self.src, "-b", boot, as_nobody=how), image, "boot.img")

    def test_boot_image_is_a_folder(self):
        folder = self.work("bootfolder")
        os.makedirs(folder)
        image = self.work("out.iso")
        self.assertRefused(run_iso(image, self.src, "-b", folder), image)

    def test_no_path(self):
        image = self.work("out.iso")
        self.assertRefused(run_iso(image), image)

    def test_no_arguments(self):
        result = run_cli("iso")
        self.assertNotIn(result.returncode, (0, 2), result)
        self.assertIn("OUTPUT", result.output)

    def test_only_empty_folders(self):
        empty = self.work("empty", "below")
        os.makedirs(empty)
        image = self.work("out.iso")
        self.assertRefused(run_iso(image, self.work("empty")), image, "nothing to write")


if __name__ == "__main__":
    unittest.main()
