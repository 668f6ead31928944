"""Real burning programs against the simulated recorder presented as a Linux
drive (/dev/sr0 through the kernel's SCSI target and fornax-vrecorder), in a
VM: wodim, cdrskin, growisofs and xorriso as clients, the kernel's CD-ROM and
ISO 9660 drivers as readers, and fornax-cli through SG_IO. Every disc's
sectors and files are compared with their sources.

Run through ctest (label qemu), or by hand with FORNAX_CLI, FORNAX_VRECORDER
and FORNAX_QEMU_WORK set: python3 test_virtual_recorder.py Wodim"""

import os
import re
import sys
import unittest

import qemu_vm
import recorder_vm
from qemu_vm import Missing

# Every medium the simulated recorder takes.
MEDIA = ("cd-r", "cd-rw", "dvd-r", "dvd-rw-seq", "dvd-rw-ro", "dvd+r", "dvd+rw", "dvd-ram", "dvd+r-dl")


class RecorderTest:
    """One VM run of a script, and what to ask of its report."""

    SCRIPT = ""

    @classmethod
    def setUpClass(cls):
        try:
            qemu_vm.check_host()
            root = os.path.join(qemu_vm.work_dir(), "recorder-sources-" + cls.__name__)
            cls.one, cls.two = recorder_vm.make_sources(root)
            cls.one_sums, cls.two_sums = recorder_vm.checksums(cls.one), recorder_vm.checksums(cls.two)
            cls.run_result = recorder_vm.run(cls.__name__, cls.SCRIPT, root)
        except Missing as missing:
            if qemu_vm.under_ci():
                raise AssertionError(f"{missing}; CI installs it with tools/install-deps.sh")
            raise unittest.SkipTest(str(missing))

    @property
    def report(self):
        return self.run_result

    def succeeded(self, step):
        self.assertIn(step, self.report.exits, f"the step {step} never ran:\n{self.report.text}")
        self.assertEqual(self.report.exits[step], 0, f"{step} failed:\n{self.report.output(step)}")

    def shows(self, tag, expected):
        """The files a tag's checksum lines list are exactly `expected`."""
        self.assertEqual(self.report.sums.get(tag), expected, f"{tag}:\n{self.report.text}")

    def both(self):
        return {**self.one_sums, **self.two_sums}

    def same_sectors(self, disc_tag, image_tag):
        self.assertIn(disc_tag, self.report.sectors, self.report.text)
        self.assertEqual(self.report.sectors[disc_tag], self.report.sectors[image_tag], self.report.text)

    def test_the_kernel_binds_the_recorder_and_lets_it_go(self):
        self.assertIn("@@ drive /dev/sr0", self.report.text)
        self.assertIn("the simulated recorder is /dev/sr0", self.report.text)
        self.assertIn("@@ recorder-exit 0", self.report.text)
        self.assertIn("@@ sr-left \n", self.report.text + "\n", "the device goes with the recorder")


class Wodim(RecorderTest, unittest.TestCase):
    """Track at once, two sessions on a CD-R; -msinfo agrees with the disc."""

    SCRIPT = """
fornax-cli vdrive insert cd-r
genisoimage -quiet -J -R -o /tmp/one.iso /data/one
image_sum one-image /tmp/one.iso
step burn1 wodim -v dev=/dev/sr0 -tao -multi -data /tmp/one.iso
step msinfo1 wodim dev=/dev/sr0 -msinfo
msinfo=$(wodim dev=/dev/sr0 -msinfo 2>/dev/null)
reload
genisoimage -quiet -J -R -C "$msinfo" -M /dev/sr0 -o /tmp/two.iso /data/two
image_sum two-image /tmp/two.iso
step burn2 wodim -v dev=/dev/sr0 -tao -multi -data /tmp/two.iso
step msinfo2 wodim dev=/dev/sr0 -msinfo
step sessions fornax-cli sessions --device /dev/sr0
sectors one-disc 0 $(( $(stat -c %s /tmp/one.iso) / 2048 ))
sectors two-disc ${msinfo#*,} $(( $(stat -c %s /tmp/two.iso) / 2048 ))
mounted newest
step extract1 fornax-cli extract --device /dev/sr0 -s 1 / /tmp/first
sums /tmp/first first
"""

    def test_two_sessions_where_msinfo_says_with_their_bytes(self):
        for step in ("burn1", "msinfo1", "burn2", "msinfo2", "sessions", "extract1"):
            self.succeeded(step)
        first = self.report.output("msinfo1").strip().splitlines()[-1]
        second = self.report.output("msinfo2").strip().splitlines()[-1]
        starts = [int(m.group(1)) for m in re.finditer(r"^\s+\d+\s+(\d+)\s", self.report.output("sessions"), re.M)]
        self.assertEqual(len(starts), 2, self.report.output("sessions"))
        self.assertEqual(first, f"0,{starts[1]}", "the next session starts where -msinfo said")
        self.assertEqual(second.split(",")[0], str(starts[1]), "-msinfo names the last session")
        self.same_sectors("one-disc", "one-image")
        self.same_sectors("two-disc", "two-image")

    def test_the_kernel_shows_the_newest_session_and_fornax_the_first(self):
        self.shows("newest", self.both())
        self.shows("first", self.one_sums)


class Cdrskin(RecorderTest, unittest.TestCase):
    """cdrskin's default write mode on a blank CD-R (session at once, from a
    cue sheet) and a DVD+R; -toc lists both."""

    SCRIPT = """
genisoimage -quiet -J -R -o /tmp/one.iso /data/one
image_sum one-image /tmp/one.iso
blocks=$(( $(stat -c %s /tmp/one.iso) / 2048 ))
fornax-cli vdrive insert cd-r
step burn-cd cdrskin -v dev=/dev/sr0 /tmp/one.iso
step toc-cd cdrskin dev=/dev/sr0 -toc
sectors cd-disc 0 $blocks
mounted cd
fornax-cli vdrive insert dvd+r
step burn-dvd cdrskin -v dev=/dev/sr0 -multi /tmp/one.iso
step toc-dvd cdrskin dev=/dev/sr0 -toc
sectors dvd-disc 0 $blocks
mounted dvd
"""

    def test_session_at_once_on_cd_and_a_dvd_plus_r(self):
        for step in ("burn-cd", "toc-cd", "burn-dvd", "toc-dvd"):
            self.succeeded(step)
        self.assertRegex(self.report.output("burn-cd"), r"SAO", "its default mode on a blank CD")
        for toc in ("toc-cd", "toc-dvd"):
            self.assertRegex(self.report.output(toc), r"track:\s+1\s+lba:\s+0", self.report.output(toc))
        self.same_sectors("cd-disc", "one-image")
        self.same_sectors("dvd-disc", "one-image")
        self.shows("cd", self.one_sums)
        self.shows("dvd", self.one_sums)


class Growisofs(RecorderTest, unittest.TestCase):
    """growisofs -Z then -M on every DVD it writes."""

    MEDIA = ("dvd+r", "dvd-r", "dvd+rw", "dvd-rw-seq")
    SCRIPT = "".join(f"""
fornax-cli vdrive insert {m}
step z-{m} growisofs -Z /dev/sr0 -R -J /data/one
reload
step m-{m} growisofs -M /dev/sr0 -R -J /data/two
mounted {m}
""" for m in MEDIA)

    def test_two_sessions_on_every_medium(self):
        for medium in self.MEDIA:
            with self.subTest(medium=medium):
                self.succeeded(f"z-{medium}")
                self.succeeded(f"m-{medium}")
                self.shows(medium, self.both())


class Xorriso(RecorderTest, unittest.TestCase):
    """xorriso as a burning program: a session, then one more that keeps the
    first one's files."""

    MEDIA = ("cd-r", "dvd+r", "dvd+rw", "dvd-r")
    SCRIPT = "".join(f"""
fornax-cli vdrive insert {m}
step first-{m} xorriso -outdev /dev/sr0 -map /data/one / -commit
reload
step second-{m} xorriso -dev /dev/sr0 -map /data/two / -commit
mounted {m}
""" for m in MEDIA)

    def test_two_sessions_on_cd_and_dvd(self):
        for medium in self.MEDIA:
            with self.subTest(medium=medium):
                self.succeeded(f"first-{medium}")
                self.succeeded(f"second-{medium}")
                self.shows(medium, self.both())


class FornaxCli(RecorderTest, unittest.TestCase):
    """fornax-cli through SG_IO on /dev/sr0, as on any drive: a session, a
    second one that imports it, the listing and the extraction."""

    SCRIPT = "".join(f"""
fornax-cli vdrive insert {m}
step burn-{m} fornax-cli burn --device /dev/sr0 /data/one
reload
step import-{m} fornax-cli burn --device /dev/sr0 --import-session -1 /data/two
step ls-{m} fornax-cli ls --device /dev/sr0
rm -rf /tmp/x
step extract-{m} fornax-cli extract --device /dev/sr0 / /tmp/x
sums /tmp/x extract-{m}
mounted {m}
""" for m in MEDIA)

    def test_every_medium_takes_two_sessions_and_gives_them_back(self):
        for medium in MEDIA:
            with self.subTest(medium=medium):
                for step in ("burn", "import", "ls", "extract"):
                    self.succeeded(f"{step}-{medium}")
                self.assertIn("/dev/sr0", self.report.text)
                self.shows(f"extract-{medium}", self.both())
                self.shows(medium, self.both())


def main(argv):
    names = argv[1:]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromName(name, sys.modules[__name__]) for name in names) \
        if names else loader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if result.skipped and not result.failures and not result.errors and result.testsRun == len(result.skipped):
        return qemu_vm.MISSING_EXIT
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
