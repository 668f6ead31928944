"""The simulated recorder, driven through fornax-cli."""

import os
import subprocess

from itsupport import READER_ENV, cli_path


class SimulatedDisc:
    """A simulated recorder with its own state folder."""

    def __init__(self, work, name):
        self.state = work("state-" + name)
        os.makedirs(self.state)
        # The simulated recorder works in milliseconds; the program's waits
        # for a drive are shortened to match.
        self.env = dict(READER_ENV, FORNAX_SIMDRIVE_DIR=self.state, FORNAX_PACE_DIVISOR="100")

    def cli(self, *args):
        proc = subprocess.run([cli_path(), *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def export(self, path):
        code, out = self.cli("vdrive", "export", path)
        assert code == 0, out
        return path

    def used_sectors(self):
        """The sectors the disc's sessions take, as 'fornax-cli medium' tells."""
        code, out = self.cli("medium")
        assert code == 0, out
        return int(out.split("Used:")[1].split("sectors")[0].replace(",", ""))
