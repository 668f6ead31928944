"""A compilation holds at most 600,000 entries (files and folders together).
Past that the image is still written, the limit is said once with the first
entry left out, the repeats are summed up in one line, and the exit status
says that entries were left out."""

import os
import re
import unittest

from itsupport import WorkDir, run_cli, run_iso

LIMIT = 600000
FOLDER_FILES = 20000
# Each row brings its folder and its 20,000 files: 31 rows overshoot the limit
# by 20,031 entries, the last row finding no room even for its folder.
ROWS = 31


class Capacity(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # One real folder named through many links: as many entries as a
        # tree of 620,000 files, at the cost of making 20,000.
        cls.work = WorkDir()
        folder = cls.work("files")
        os.makedirs(folder)
        for n in range(FOLDER_FILES):
            os.mknod(os.path.join(folder, f"f{n}"))
        cls.rows = []
        for n in range(ROWS):
            link = cls.work(f"row{n:02d}")
            os.symlink(folder, link)
            cls.rows.append(link)
        cls.image = cls.work("out.iso")
        cls.result = run_iso(cls.image, "--quick", "--paths", "last", *cls.rows)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_entries_past_the_limit_are_left_out_and_the_exit_status_says_so(self):
        result = self.result
        self.assertEqual(result.returncode, 2, result)
        self.assertTrue(os.path.isfile(self.image), result)
        summary = re.search(r": (\d+) files, (\d+) folders", result.output)
        self.assertIsNotNone(summary, result)
        self.assertEqual(int(summary.group(1)) + int(summary.group(2)), LIMIT, result)
        self.assertIn("the compilation filled up", result.output)

    def test_the_limit_is_told_once_with_the_first_entry_left_out(self):
        lines = self.result.output.splitlines()
        told = [line for line in lines if "MAXIMUM FILES CAN BE 600000" in line]
        self.assertLessEqual(len(lines), 10, self.result.output[:4000])
        self.assertEqual(len(told), 2, "\n".join(told))
        first = re.search(r"first left out: (\S+)", told[0])
        self.assertIsNotNone(first, told[0])
        # Row 30 (row29) has room for its folder and 19,970 of its files.
        self.assertTrue(first.group(1).startswith(self.rows[29] + "/"), told[0])
        self.assertTrue(os.path.lexists(first.group(1)), told[0])
        self.assertIn("600,000", told[0])
        repeated = re.search(r"MAXIMUM FILES CAN BE 600000 \(repeated ([\d,]+) times; first: (.+)\)$", told[1])
        self.assertIsNotNone(repeated, told[1])
        # The 30 files row29 had no room for, and the folder of row30.
        self.assertEqual(repeated.group(1), "31", told[1])
        self.assertTrue(repeated.group(2).startswith(first.group(1) + ", "), told[1])

    def test_help_states_the_limit(self):
        for command in ("iso", "burn"):
            result = run_cli(command, "--help")
            self.assertEqual(result.returncode, 0, result)
            self.assertIn("600,000", re.sub(r"\s+", " ", result.output), result)


if __name__ == "__main__":
    unittest.main()
