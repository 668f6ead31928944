"""The drive commands of fornax-cli on a machine without an optical drive:
the simulated recorder stands in, with a disc kept in its state folder."""

import os
import shutil
import subprocess
import tempfile
import unittest

from itsupport import READER_ENV, cli_path


class DriveCommands(unittest.TestCase):
    def setUp(self):
        self.state = tempfile.TemporaryDirectory(prefix="fornax-simdrive-")
        self.addCleanup(self.state.cleanup)
        self.env = dict(READER_ENV, FORNAX_SIMDRIVE_DIR=self.state.name)

    def run_cli(self, *args):
        proc = subprocess.run([cli_path(), *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def test_a_fresh_machine_lists_the_simulated_recorder_and_its_blank_disc(self):
        if any(name.startswith("sr") for name in os.listdir("/sys/class/block")):
            self.skipTest("this machine has an optical drive, which comes first")
        code, out = self.run_cli("devices")
        self.assertEqual(code, 0, out)
        self.assertIn("libfornax-simdrive.so", out)
        self.assertRegex(out, r"0:0:0,\?: FORNAX  VIRTUAL RECORDER")
        code, out = self.run_cli("medium")
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"Medium:\s+DVD\+R\n")
        self.assertRegex(out, r"Capacity:\s+2,295,104 sectors")
        self.assertRegex(out, r"Used:\s+0 sectors .*sessions: 0")
        self.assertRegex(out, r"Status:\s+empty")

    def test_inserted_media_are_what_the_drive_then_reports(self):
        for kind, name, capacity in (("cd-rw", "CD-RW", "359,849"), ("dvd-ram", "DVD-RAM", "2,236,704"),
                                     ("dvd+r-dl", "DVD+R DL", "4,173,824")):
            code, out = self.run_cli("vdrive", "insert", kind)
            self.assertEqual(code, 0, out)
            code, out = self.run_cli("medium")
            self.assertEqual(code, 0, out)
            self.assertIn(f"Medium:   {name}\n", out)
            self.assertIn(f"Capacity: {capacity} sectors", out)

    def test_tray_readiness_and_trace(self):
        code, out = self.run_cli("eject")
        self.assertEqual(code, 0, out)
        code, out = self.run_cli("ready")
        self.assertEqual(code, 1)
        self.assertIn("not ready: NOT READY (MEDIUM NOT PRESENT", out)
        code, out = self.run_cli("load")
        self.assertEqual(code, 0, out)
        code, out = self.run_cli("ready", "--trace")
        self.assertIn("<<< ", out, "every command traced")
        self.assertIn("TEST UNIT READY", out)

    def test_capabilities_and_a_device_that_is_not_there(self):
        code, out = self.run_cli("caps")
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"writes DVD\+R\s+yes")
        self.assertRegex(out, r"Maximum write speed: [1-9]\d* KB/s")
        code, out = self.run_cli("caps", "--device", "5:0:0")
        self.assertEqual(code, 1)
        self.assertIn("no drive matches '5:0:0'", out)

    def test_export_of_a_blank_disc_and_faults(self):
        image = os.path.join(self.state.name, "disc.iso")
        code, out = self.run_cli("vdrive", "export", image)
        self.assertEqual(code, 0, out)
        self.assertTrue(os.path.exists(image))
        code, out = self.run_cli("vdrive", "insert", "floppy")
        self.assertEqual(code, 1)
        self.assertIn("fornax-cli:", out)
        code, out = self.run_cli("vdrive", "fault", "not-ready", "60000")
        self.assertEqual(code, 0, out)
        code, out = self.run_cli("ready")
        self.assertEqual(code, 1)
        self.assertIn("NOT READY (LOGICAL UNIT IS IN PROCESS OF BECOMING READY)", out)
        self.run_cli("vdrive", "fault", "clear")
        code, out = self.run_cli("ready")
        self.assertEqual(code, 0, out)

    def test_a_program_without_its_simulated_recorder_says_so(self):
        # A copy of the program in a folder of its own finds no library beside
        # it (nor installed, nor on the search path, in a test run).
        alone = os.path.join(self.state.name, "alone")
        os.mkdir(alone)
        program = os.path.join(alone, "fornax-cli")
        shutil.copy(cli_path(), program)
        for args in (["vdrive", "status"], ["vdrive", "--library", os.path.join(alone, "missing.so"), "status"]):
            proc = subprocess.run([program, *args], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            out = proc.stdout.decode("utf-8", "replace")
            self.assertEqual(proc.returncode, 1, out)
            self.assertIn("fornax-cli: cannot load the simulated recorder: ", out)
            self.assertIn("missing.so" if "--library" in args else "libfornax-simdrive.so", out)


if __name__ == "__main__":
    unittest.main()
