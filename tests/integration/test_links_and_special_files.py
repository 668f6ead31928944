"""Symbolic links to folders are not followed inside a source folder, and
FIFOs and sockets are left out without being opened: each is named in a
message, the exit status is 2, and the image holds everything else."""

import os
import socket
import unittest

import checks
from itsupport import Expected, WorkDir, run_iso, write_file

FILES = {
    "top.txt": b"top\n",
    "keep/one.txt": b"one\n",
    "real/inner.txt": b"inner\n",
    "real/deeper/two.txt": b"two\n",
}

# A walk that opened the FIFO would wait for ever; the run is cut well before.
RUN_LIMIT = 120


def make_socket(path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.bind(path)


class LinksAndSpecialFiles(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.src = self.work("src")
        for rel, data in FILES.items():
            write_file(os.path.join(self.src, rel), data)
        write_file(self.work("outside", "far.txt"), b"far\n")
        os.symlink("real", os.path.join(self.src, "linked"))
        os.symlink(os.path.join("..", "outside"), os.path.join(self.src, "far"))
        os.symlink("..", os.path.join(self.src, "real", "up"))
        os.symlink("top.txt", os.path.join(self.src, "copy.txt"))
        self.fifo = os.path.join(self.src, "pipe")
        os.mkfifo(self.fifo)
        self.sock = os.path.join(self.src, "keep", "sock")
        make_socket(self.sock)

    def tearDown(self):
        self.work.cleanup()

    def build(self, *sources, status):
        image = self.work("out.iso")
        result = run_iso(image, *sources, timeout=RUN_LIMIT)
        self.assertEqual(result.returncode, status, result)
        self.assertTrue(os.path.isfile(image), result)
        return image, result

    def check_image(self, image, expected):
        scratch = self.work("scratch")
        os.makedirs(scratch)
        checks.check_structure(self, image, joliet=True, bootable=False)
        checks.check_with_every_reader(self, image, expected, scratch, joliet=True)

    def test_folder_with_linked_folders_and_special_files(self):
        image, result = self.build(self.src, status=2)
        for line in (f"LINK TO A FOLDER, NOT FOLLOWED: {self.src}/linked",
                     f"LINK TO A FOLDER, NOT FOLLOWED: {self.src}/far",
                     f"LINK TO A FOLDER, NOT FOLLOWED: {self.src}/real/up",
                     f"SPECIAL FILE (FIFO), NOT ADDED: {self.fifo}",
                     f"SPECIAL FILE (SOCKET), NOT ADDED: {self.sock}"):
            self.assertIn(line, result.output)
        expected = Expected()
        for rel in FILES:
            expected.add_file(rel, os.path.join(self.src, rel))
        # A link to a file is stored as the file it leads to.
        expected.add_file("copy.txt", os.path.join(self.src, "top.txt"))
        self.check_image(image, expected)

    def test_named_link_to_a_folder_is_followed(self):
        image, result = self.build(os.path.join(self.src, "linked"), status=2)
        self.assertIn(f"LINK TO A FOLDER, NOT FOLLOWED: {self.src}/linked/up", result.output)
        expected = Expected()
        expected.add_file("inner.txt", os.path.join(self.src, "real", "inner.txt"))
        expected.add_file("deeper/two.txt", os.path.join(self.src, "real", "deeper", "two.txt"))
        self.check_image(image, expected)

    def test_named_fifo_is_left_out(self):
        image, result = self.build(os.path.join(self.src, "top.txt"), self.fifo, status=2)
        self.assertIn(f"SPECIAL FILE (FIFO), NOT ADDED: {self.fifo}", result.output)
        expected = Expected()
        expected.add_file("top.txt", os.path.join(self.src, "top.txt"))
        self.check_image(image, expected)


if __name__ == "__main__":
    unittest.main()
