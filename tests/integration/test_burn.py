"""Burning to the simulated recorder: every medium kind takes a compilation
that every reader finds whole on the exported disc; an image file lands on
the disc sector for sector; sessions are added where the disc says."""

import os
import subprocess
import tempfile
import unittest

import checks
import isoraw
from itsupport import READER_ENV, SECTOR, WorkDir, cli_path, random_bytes, write_file
from simdisc import SimulatedDisc
from sourcetrees import make_varied_tree

MEDIA = ("cd-r", "cd-rw", "dvd-r", "dvd-rw-ro", "dvd-rw-seq", "dvd+r", "dvd+rw", "dvd-ram", "dvd+r-dl")


class BurnEveryMedium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = WorkDir()
        cls.folders, cls.expected = make_varied_tree(cls.work("src"))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_every_medium_holds_the_compilation_for_every_reader(self):
        for kind in MEDIA:
            with self.subTest(medium=kind):
                disc = SimulatedDisc(self.work, kind)
                code, out = disc.cli("vdrive", "insert", kind)
                self.assertEqual(code, 0, out)
                code, out = disc.cli("burn", "-V", "FORNAX", *self.folders)
                self.assertEqual(code, 0, out)
                self.assertIn("in a session from sector 0", out)
                image = disc.export(self.work(kind + ".iso"))
                scratch = self.work("scratch-" + kind)
                os.makedirs(scratch)
                checks.check_with_every_reader(self, image, self.expected, scratch, joliet=True)


class BurnImageFile(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)

    def test_an_image_file_lands_sector_for_sector(self):
        # An ISO of 513 sectors and 100 bytes: its last sector is padded.
        data = random_bytes(513 * SECTOR + 100, 513)
        image = write_file(self.work("input.iso"), data)
        for kind in MEDIA:
            with self.subTest(medium=kind):
                disc = SimulatedDisc(self.work, "iso-" + kind)
                disc.cli("vdrive", "insert", kind)
                code, out = disc.cli("burn-iso", image)
                self.assertEqual(code, 0, out)
                with open(disc.export(self.work(kind + "-disc.iso")), "rb") as f:
                    disc_bytes = f.read(len(data))
                self.assertEqual(disc_bytes, data)


class Multisession(unittest.TestCase):
    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)

    def session_files(self, image, start):
        out = subprocess.run(["xorriso", "-load", "sbsector", str(start), "-indev", image,
                              "-find", "/", "-type", "f"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=READER_ENV).stdout.decode()
        return sorted(line.strip().strip("'") for line in out.splitlines() if line.strip())

    def test_two_sessions_each_at_the_address_the_disc_gives(self):
        for kind in ("cd-r", "dvd+r"):
            with self.subTest(medium=kind):
                disc = SimulatedDisc(self.work, "ms-" + kind)
                disc.cli("vdrive", "insert", kind)
                one = write_file(self.work(kind, "one", "first.txt"), b"first session\n")
                two = write_file(self.work(kind, "two", "second.txt"), b"second session\n")
                code, out = disc.cli("burn", os.path.dirname(one))
                self.assertEqual(code, 0, out)
                used = disc.used_sectors()
                code, out = disc.cli("burn", os.path.dirname(two))
                self.assertEqual(code, 0, out)
                self.assertIn(f"in a session from sector {used}", out)
                image = disc.export(self.work(kind + "-ms.iso"))
                with isoraw.Image(image) as img:
                    pvd = img.read((used + 16) * SECTOR, SECTOR)
                self.assertEqual(pvd[1:6], b"CD001", "the second session's descriptors at its start + 16")
                self.assertEqual(self.session_files(image, used), ["/second.txt"])
                self.assertEqual(self.session_files(image, 0), ["/first.txt"])

    def test_a_finalized_disc_takes_no_further_session(self):
        disc = SimulatedDisc(self.work, "final")
        disc.cli("vdrive", "insert", "cd-r")
        one = write_file(self.work("one", "a.txt"), b"a")
        code, out = disc.cli("burn", "--finalize", os.path.dirname(one))
        self.assertEqual(code, 0, out)
        code, out = disc.cli("burn", os.path.dirname(one))
        self.assertEqual(code, 1, out)
        self.assertIn("closed", out)


class Interrupt(unittest.TestCase):
    def test_ctrl_c_aborts_and_leaves_the_drive_ready(self):
        import signal
        import time
        work = WorkDir()
        self.addCleanup(work.cleanup)
        disc = SimulatedDisc(work, "interrupt")
        disc.cli("vdrive", "insert", "dvd+r")
        disc.cli("vdrive", "speed", "2000")  # 20 MB take ten seconds
        big = write_file(work("src", "big.bin"), random_bytes(20_000_000, 20))
        proc = subprocess.Popen([cli_path(), "burn", os.path.dirname(big)], env=disc.env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        time.sleep(3)
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=120)
        out = out.decode()
        self.assertEqual(proc.returncode, 1, out)
        self.assertIn("aborting", out)
        self.assertIn("OPERATION ABORTED BY USER", out)
        code, out = disc.cli("ready")
        self.assertEqual(code, 0, out)


class Erase(unittest.TestCase):
    def test_erase_and_refusal(self):
        work = WorkDir()
        self.addCleanup(work.cleanup)
        disc = SimulatedDisc(work, "erase")
        disc.cli("vdrive", "insert", "cd-rw")
        one = write_file(work("one", "a.txt"), b"a")
        self.assertEqual(disc.cli("burn", os.path.dirname(one))[0], 0)
        code, out = disc.cli("erase")
        self.assertEqual(code, 0, out)
        self.assertIn("Status:   empty", disc.cli("medium")[1])
        disc.cli("vdrive", "insert", "dvd+r")
        code, out = disc.cli("erase")
        self.assertEqual(code, 1, out)
        self.assertIn("not erased", out)


class EraseInterrupted(unittest.TestCase):
    """Ctrl-C during an erase: before the drive is told to erase, nothing
    happens to the disc; once it erases, the program waits for it."""

    def setUp(self):
        self.work = WorkDir()
        self.addCleanup(self.work.cleanup)
        self.disc = SimulatedDisc(self.work, "erase-interrupted")
        self.disc.cli("vdrive", "insert", "cd-rw")
        one = write_file(self.work("one", "a.txt"), b"a")
        self.assertEqual(self.disc.cli("burn", os.path.dirname(one))[0], 0)

    def test_before_the_erase_command_the_disc_is_unchanged(self):
        # An erase starts by loading the disc (START STOP UNIT).
        self.disc.cli("vdrive", "fault", "signal", "1b", "--signal", "int")
        code, out = self.disc.cli("erase")
        self.assertEqual(code, 1, out)
        self.assertIn("stopped before the drive began to erase; the disc is unchanged", out)
        self.assertIn("sessions: 1", self.disc.cli("medium")[1])

    def test_once_the_drive_erases_the_program_waits_for_it(self):
        self.disc.cli("vdrive", "durations", "--blank", "1500", "--format", "100", "--close", "50")
        self.disc.cli("vdrive", "fault", "signal", "a1", "--signal", "int")  # Ctrl-C as BLANK is sent
        code, out = self.disc.cli("erase")
        self.assertEqual(code, 0, out)
        self.assertIn("the drive finishes the erase by itself; waiting for it to end", out)
        self.assertIn("Erased (quick).", out)
        self.assertIn("Status:   empty", self.disc.cli("medium")[1])


if __name__ == "__main__":
    unittest.main()
