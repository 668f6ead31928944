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
    SETUP = ""
    RECORDER = recorder_vm.RECORDER

    @classmethod
    def setUpClass(cls):
        try:
            qemu_vm.check_host()
            root = os.path.join(qemu_vm.work_dir(), "recorder-sources-" + cls.__name__)
            cls.one, cls.two = recorder_vm.make_sources(root)
            cls.one_sums, cls.two_sums = recorder_vm.checksums(cls.one), recorder_vm.checksums(cls.two)
            cls.run_result = recorder_vm.run(cls.__name__, cls.SCRIPT, root, cls.SETUP, cls.RECORDER)
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


class UsersStateFolder(RecorderTest, unittest.TestCase):
    """The recorder run with sudo for a user (fx) on that user's folder: it
    serves as that user, without any privilege, and what the user puts in
    the folder (links to root's files under every name the recorder uses)
    reaches no file of root's; folders of another user, or that others may
    write, are refused. At the end the user stops the serving process while
    the kernel waits for its answer, and kills it: root answers "no medium"
    and takes the device away."""

    SECRETS = ("corrupt.secret", "data.secret", "state.secret")
    SETUP = r"""
mkdir -p /etc /home/fx /home/other /root/tmp
printf 'root:x:0:0:root:/root:/bin/sh\nfx:x:1000:1000:fx:/home/fx:/bin/sh\nother:x:1001:1001::/home/other:/bin/sh\n' > /etc/passwd
printf 'root:x:0:\nfx:x:1000:\nother:x:1001:\n' > /etc/group
chown 1000:1000 /home/fx
chown 1001:1001 /home/other
chmod 700 /root /root/tmp
for name in @SECRETS@; do yes "ROOT-ONLY-$name" | head -c 65536 > /root/$name; done
chmod 600 /root/*.secret
as_user other mkdir -m 700 /home/other/sim
as_user fx 'mkdir -m 700 /home/fx/sim /home/fx/hostile /home/fx/group /home/fx/open && chmod 770 /home/fx/group && chmod 777 /home/fx/open && ln -s /home/fx/sim /home/fx/link'
# A disc with a session, burnt by the user with the simulated recorder in fornax-cli's own process.
as_user fx 'export FORNAX_SIMDRIVE_DIR=/home/fx/made; fornax-cli vdrive insert dvd+rw && fornax-cli burn --transport /usr/bin/libfornax-simdrive.so /data/one' >/dev/null 2>&1
# Links to root's files under every name the recorder uses, and under state.tmp.PID, for the pids
# likely in this VM, to files not there yet in a folder of root's.
printf '%s\n' 'cd /home/fx/hostile' 'ln -s /root/lock.made lock' 'ln -s /root/state.secret state' \
  'ln -s /root/data.secret disc.data' 'ln -s /root/corrupt.secret state.corrupt' \
  "seq 2 4000 | sed 's|^|/root/tmp/state.tmp.|' | xargs sh -c 'ln -s \"\$@\" .' sh" > /tmp/hostile.sh
as_user fx sh /tmp/hostile.sh
sums /root secrets-before
""".replace("@SECRETS@", " ".join(SECRETS))
    RECORDER = "export SUDO_UID=1000 SUDO_GID=1000\nexec fornax-vrecorder --state /home/fx/sim\n"
    SCRIPT = r"""
# The tray out and in, by the user whose drive it is.
reload() {
  as_user fx 'export FORNAX_SIMDRIVE_DIR=/home/fx/sim; fornax-cli vdrive open >/dev/null && fornax-cli vdrive close >/dev/null'
  dd if=/dev/sr0 of=/dev/null bs=2048 count=1 2>/dev/null
  true
}
serving() {
  for p in $(pidof fornax-vrecorder); do
    grep -E '^(Uid|Gid|Groups|CapEff|CapPrm|CapBnd|NoNewPrivs):' /proc/$p/status | tr -s ' \t' '  ' | tr '\n' ';'
    echo
  done
}
refuse() {
  name=$1
  shift
  step "$name" env SUDO_UID=1000 SUDO_GID=1000 fornax-vrecorder "$@"
}
# A read and a write through /dev/sr0 by root, then root's files.
commands() {
  step read-$1 sh -c 'dd if=/dev/sr0 bs=2048 count=16 2>/dev/null | grep -c ROOT-ONLY'
  step write-$1 fornax-cli burn --device /dev/sr0 /data/two
  sums /root secrets-$1
}
child=""
for p in $(pidof fornax-vrecorder); do grep -q '^Uid:[[:space:]]*1000[[:space:]]' /proc/$p/status && child=$p; done
step serving serving

refuse refused-hostile --state /home/fx/hostile
refuse refused-other --state /home/other/sim
refuse refused-open --state /home/fx/open
refuse refused-group --state /home/fx/group
step refused-link fornax-vrecorder --user fx --state /home/fx/link
step refused-untouched find /home/other/sim /home/fx/open /home/fx/group -mindepth 1
sums /root secrets-refused

as_user fx 'FORNAX_SIMDRIVE_DIR=/home/fx/sim fornax-cli vdrive insert cd-r'
step burn-user fornax-cli burn --device /dev/sr0 /data/one
mounted user
step owners stat -c '%u:%g %a %F %n' /home/fx/sim/lock /home/fx/sim/state /home/fx/sim/disc.data

# The user's folder replaced by the one of links under the running recorder, then mended step by step.
as_user fx 'rm -rf /home/fx/sim && mv /home/fx/hostile /home/fx/sim'
commands links
as_user fx 'rm /home/fx/sim/lock'
commands no-lock
as_user fx 'rm /home/fx/sim/state && cp /home/fx/made/state /home/fx/sim/state'
commands recorded-state
as_user fx 'rm /home/fx/sim/disc.data /home/fx/sim/state && echo unreadable > /home/fx/sim/state'
for p in $(pidof fornax-vrecorder); do as_user fx "ln -sf /root/tmp/state.tmp.$p /home/fx/sim/state.tmp.$p"; done
step fresh fornax-cli medium --device /dev/sr0
step set-aside stat -c '%F %s' /home/fx/sim/state.corrupt
step temporary-gone test ! -L /home/fx/sim/state.tmp.$child
sums /root secrets-fresh
as_user fx 'FORNAX_SIMDRIVE_DIR=/home/fx/sim fornax-cli vdrive insert dvd+r'
step burn-after fornax-cli burn --device /dev/sr0 /data/one
mounted after
sums /root secrets-end

# The serving process stopped by its user while the kernel waits for its answer, then killed.
as_user fx "kill -STOP $child"
dd if=/dev/sr0 of=/dev/null bs=2048 count=1 2>/tmp/stand-in.txt &
reader=$!
n=0
while [ $n -lt 600 ] && ! grep -q '^State:[[:space:]]*D' /proc/$reader/status 2>/dev/null; do sleep 0.05; n=$((n + 1)); done
as_user fx "kill -KILL $child"
wait $reader
code=$?
echo "@@ step stand-in"
cat /tmp/stand-in.txt
echo "@@ exit stand-in $code"
"""

    def test_the_kernel_binds_the_recorder_and_lets_it_go(self):
        self.assertIn("the simulated recorder is /dev/sr0", self.report.text)
        self.assertIn("No medium found", self.report.output("stand-in"),
                      "root answered the command the killed process had in hand")
        self.assertIn("the serving process ended (killed by signal 9)", self.report.text)
        self.assertIn("@@ recorder-exit 1", self.report.text)
        self.assertIn("@@ sr-left \n", self.report.text + "\n", "the device goes with the recorder")

    def test_the_serving_process_is_the_user_without_any_privilege(self):
        lines = [line for line in self.report.output("serving").splitlines() if line.strip()]
        self.assertEqual(len(lines), 2, lines)
        user = [line for line in lines if "Uid: 1000 1000 1000 1000;" in line]
        self.assertEqual(len(user), 1, lines)
        for field in ("Gid: 1000 1000 1000 1000;", "CapEff: 0000000000000000;", "CapPrm: 0000000000000000;",
                      "CapBnd: 0000000000000000;", "NoNewPrivs: 1;"):
            self.assertIn(field, user[0])
        self.assertRegex(user[0], r"Groups: ?;", "no supplementary group")

    def test_folders_of_another_others_may_write_or_with_links_are_refused(self):
        refusals = {
            "refused-hostile": "/home/fx/hostile/lock is a symbolic link: refused",
            "refused-other": "belongs to other, not to fx whom the recorder serves: refused",
            "refused-open": "may be written by others (mode 0777): refused",
            "refused-group": "may be written by its group (mode 0770): refused",
            "refused-link": "/home/fx/link is a symbolic link: refused",
        }
        for step, reason in refusals.items():
            with self.subTest(step=step):
                self.assertEqual(self.report.exits.get(step), 1, self.report.output(step))
                self.assertIn(reason, self.report.output(step))
        self.succeeded("refused-untouched")
        self.assertEqual(self.report.output("refused-untouched").strip(), "", "nothing made in a refused folder")

    def test_links_in_the_folder_reach_no_file_of_roots(self):
        before = self.report.sums.get("secrets-before")
        self.assertEqual(sorted(before or {}), list(self.SECRETS), self.report.text)
        for tag in ("refused", "links", "no-lock", "recorded-state", "fresh", "end"):
            with self.subTest(tag=tag):
                self.shows(f"secrets-{tag}", before)
        for tag in ("links", "no-lock", "recorded-state"):
            with self.subTest(tag=tag):
                self.assertEqual(self.report.output(f"read-{tag}").strip(), "0", "root's bytes read as the disc")
                self.assertNotEqual(self.report.exits.get(f"write-{tag}"), 0, self.report.output(f"write-{tag}"))
        self.succeeded("fresh")
        self.assertEqual(self.report.output("set-aside").strip(), "regular file 11", "the unreadable state is kept")
        self.succeeded("temporary-gone")

    def test_the_users_disc_is_written_in_files_of_the_users(self):
        self.succeeded("burn-user")
        self.shows("user", self.one_sums)
        owners = self.report.output("owners").splitlines()
        self.assertEqual(len(owners), 3, owners)
        for line in owners:
            self.assertRegex(line, r"^1000:1000 600 regular (empty )?file /home/fx/sim/", owners)
        self.succeeded("burn-after")
        self.shows("after", self.one_sums)


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
