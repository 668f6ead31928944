"""Every medium, from every starting state, under every kind of write: the
exit status and message are honest, every session that should be readable is
read whole by xorriso and by fornax-cli, and nothing written earlier changes.

Starting states: a blank disc; a session made by genisoimage, by xorriso, by
fornax-cli; a Fornax session followed by a burn stopped with Ctrl-C before any
data, in the middle of the data and while closing, by a failed write, or by
the program being killed in the middle of the data. The simulated recorder
sends the signals itself when a given command arrives, so every run stops at
the same point.

Actions: burn, burn importing the last session, burn-iso, a test write, and a
burn that finalizes the disc."""

import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from itsupport import READER_ENV, cli_path, random_bytes, remove_tree, write_file

MEDIA = ("cd-r", "cd-rw", "dvd-r", "dvd-rw-seq", "dvd-rw-ro", "dvd+r", "dvd+r-dl", "dvd+rw", "dvd-ram")
STATES = ("blank", "genisoimage", "xorriso", "fornax", "ctrl-c-prepare", "ctrl-c-data", "ctrl-c-close",
          "write-error", "killed")
ACTIONS = ("burn", "burn-import", "burn-iso", "test-write", "finalize")
TEST_WRITE_MEDIA = {"CD-R", "CD-RW", "DVD-R", "DVD-RW (sequential)"}
OVERWRITABLE = {"DVD+RW", "DVD-RAM", "DVD-RW (restricted overwrite)"}

# Opcodes at which the simulated recorder interrupts a burn.
READ_BUFFER_CAPACITY, WRITE_10, SYNCHRONIZE_CACHE = "5c", "2a", "35"


def scratch_root():
    # The simulated recorder makes every command durable; on a memory file
    # system that costs nothing.
    shm = "/dev/shm"
    return shm if os.path.isdir(shm) and os.access(shm, os.W_OK) else None


def tree_files(folder, prefix=""):
    files = {}
    for root, _dirs, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            files[prefix + os.path.relpath(path, folder)] = path
    return files


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class Disc:
    """A simulated recorder's state folder and what it should hold.

    `sessions` are the sessions a reader must find whole, as (first sector,
    {disc path: source file}); `newest` is the tree the last of them shows."""

    def __init__(self, folder):
        self.folder = folder
        self.env = dict(READER_ENV, FORNAX_SIMDRIVE_DIR=folder, FORNAX_PACE_DIVISOR="100")
        self.sessions = []
        self.newest = {}
        self.open_session = False

    def copy(self, folder):
        shutil.copytree(self.folder, folder)
        twin = Disc(folder)
        twin.sessions = list(self.sessions)
        twin.newest = dict(self.newest)
        twin.open_session = self.open_session
        return twin

    def cli(self, *args):
        proc = subprocess.run([cli_path(), *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def must(self, *args):
        code, out = self.cli(*args)
        if code != 0:
            raise AssertionError(f"fornax-cli {' '.join(args)} -> {code}\n{out}")
        return out

    def medium(self):
        """The medium's name as the simulated recorder tells it."""
        line = self.must("vdrive", "status").splitlines()[1]
        return line.split("medium ", 1)[1].strip()

    def overwritable(self):
        return self.medium() in OVERWRITABLE

    def next_session_start(self):
        status = self.must("vdrive", "status")
        found = re.search(r"next writable (\d+)", status)
        if found:
            return int(found.group(1))
        used = int(self.must("medium").split("Used:")[1].split("sectors")[0].replace(",", ""))
        return (used + 31) // 32 * 32

    def fingerprint(self, scratch):
        image = os.path.join(scratch, "fingerprint.iso")
        self.must("vdrive", "export", image)
        digest = sha256(image)
        os.remove(image)
        status = [line for line in self.must("medium").splitlines() if line.startswith(("Status", "Used"))]
        return digest, status

    def wrote(self, out, files, keep_newest=False):
        """A Fornax session was written: records it from the burn's output."""
        start = int(re.search(r"in a session from sector (\d+)", out).group(1))
        tree = dict(self.newest) if keep_newest else {}
        tree.update(files)
        if self.overwritable():
            # The start of the disc now shows the new tree; an earlier session
            # keeps its own descriptors only where it did not start at 0.
            self.sessions = [s for s in self.sessions if s[0] != 0]
        self.sessions.append((start, tree))
        self.newest = tree
        self.open_session = False

    def readable(self):
        if self.overwritable():
            return [s for s in self.sessions if s[0] != 0] + ([(0, self.newest)] if self.newest else [])
        return list(self.sessions)


class Sources:
    def __init__(self, root):
        self.root = root
        first = os.path.join(root, "first")
        write_file(os.path.join(first, "a.txt"), b"alpha\n")  # small: genisoimage puts it before sector 32
        write_file(os.path.join(first, "notes.txt"), b"a note that must survive every later write\n" * 40)
        write_file(os.path.join(first, "photo.bin"), random_bytes(150_000, 1))
        write_file(os.path.join(first, "docs", "report.bin"), random_bytes(40_000, 2))
        second = os.path.join(root, "second")
        write_file(os.path.join(second, "new.txt"), b"written later\n")
        write_file(os.path.join(second, "more", "data.bin"), random_bytes(70_000, 3))
        big = os.path.join(root, "big")
        write_file(os.path.join(big, "big.bin"), random_bytes(3_000_000, 4))
        self.first, self.second, self.big = first, second, big
        self.first_files, self.second_files = tree_files(first), tree_files(second)
        self.big_files = tree_files(big)
        self.genisoimage = os.path.join(root, "genisoimage.iso")
        self.xorriso = os.path.join(root, "xorriso.iso")
        self.second_image = os.path.join(root, "second.iso")
        # genisoimage's session is plain ISO 9660: its small files lie in the
        # sectors right after its descriptors, where a new session's
        # descriptors go on an overwritable disc. Its names are the upper-case
        # ones that tree holds.
        self.genisoimage_files = {path.upper(): source for path, source in self.first_files.items()}
        for command in (["genisoimage", "-quiet", "-o", self.genisoimage, first],
                        ["xorriso", "-as", "mkisofs", "-quiet", "-J", "-R", "-o", self.xorriso, first],
                        ["genisoimage", "-quiet", "-J", "-R", "-o", self.second_image, second]):
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class FaultMatrix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="fornax-matrix-", dir=scratch_root())
        cls.sources = Sources(os.path.join(cls.root, "sources"))

    @classmethod
    def tearDownClass(cls):
        remove_tree(cls.root)

    # Starting states -------------------------------------------------------

    def prepare(self, kind, state, folder):
        """Brings a fresh disc to a starting state, checking each step."""
        disc = Disc(folder)
        os.makedirs(folder)
        disc.must("vdrive", "insert", kind)
        src = self.sources
        if state == "blank":
            return disc
        if state in ("genisoimage", "xorriso"):
            image, files = ((src.genisoimage, src.genisoimage_files) if state == "genisoimage" else
                            (src.xorriso, src.first_files))
            disc.must("burn-iso", image)
            disc.sessions, disc.newest = [(0, dict(files))], dict(files)
            return disc
        disc.wrote(disc.must("burn", src.first), src.first_files)
        if state == "fornax":
            return disc
        sequential = not disc.overwritable()
        interrupt = {"ctrl-c-prepare": (READ_BUFFER_CAPACITY, 1, "int"), "ctrl-c-data": (WRITE_10, 5, "int"),
                     "ctrl-c-close": (SYNCHRONIZE_CACHE, 1, "int"), "killed": (WRITE_10, 5, "kill")}
        if state == "write-error":
            disc.must("vdrive", "fault", "write-error", str(disc.next_session_start() + 100))
        else:
            opcode, nth, signal = interrupt[state]
            disc.must("vdrive", "fault", "signal", opcode, "--nth", str(nth), "--signal", signal)
        code, out = disc.cli("burn", src.big)
        disc.must("vdrive", "fault", "clear")
        where = f"{kind}, {state}: burn -> {code}\n{out}"
        if state == "killed":
            self.assertEqual(code, -9, where)
            disc.open_session = sequential
        elif state == "write-error":
            self.assertEqual(code, 1, where)
            self.assertIn("the write failed: WRITER ERROR [MEDIUM ERROR", out, where)
            disc.open_session = sequential
        elif state == "ctrl-c-close" and sequential:
            # Every sector was on the disc: the session is closed all the same.
            self.assertEqual(code, 0, where)
            self.assertIn("THE ABORT CAME AFTER ALL DATA WAS WRITTEN", out, where)
            disc.wrote(out, src.big_files)
        else:
            self.assertEqual(code, 1, where)
            self.assertIn("OPERATION ABORTED BY USER", out, where)
            disc.open_session = sequential and state == "ctrl-c-data"
        return disc

    # Actions ---------------------------------------------------------------

    def act(self, disc, action, scratch):
        """Runs the action; returns the problems found (empty: all honest)."""
        src = self.sources
        medium = disc.medium()
        before = disc.fingerprint(scratch)
        problems = []

        def expect(condition, what):
            if not condition:
                problems.append(what)

        def refused(code, out, text):
            expect(code == 1, f"exit {code}, expected 1 (refused)")
            expect(text in out, f"no {text!r} in the output")
            expect(disc.fingerprint(scratch) == before, "a refused write changed the disc")

        if action == "test-write":
            code, out = disc.cli("burn", "--test-write", src.second)
            if medium not in TEST_WRITE_MEDIA:
                refused(code, out, "THE MEDIUM HAS NO TEST WRITE")
            elif disc.open_session:
                refused(code, out, "A TEST WRITE CHANGES NOTHING ON THE DISC, SO CLOSE IT FIRST")
            else:
                expect(code == 0, f"test write: exit {code}")
                expect("(test write: nothing recorded)" in out, "no test-write note")
                expect(disc.fingerprint(scratch) == before, "a test write changed the disc")
            return problems, out
        if action == "burn-iso":
            code, out = disc.cli("burn-iso", src.second_image)
            if disc.sessions:
                refused(code, out, "erase the disc first" if medium in OVERWRITABLE else "THIS DISC IS NOT BLANK")
                return problems, out
            expect(code == 0, f"burn-iso on a blank disc: exit {code}")
            disc.sessions, disc.newest = [(0, dict(src.second_files))], dict(src.second_files)
            return problems + self.check_sessions(disc, scratch), out
        if action == "finalize" and medium in OVERWRITABLE:
            code, out = disc.cli("burn", "--finalize", src.second)
            refused(code, out, "cannot be finalized")
            return problems, out
        if action == "burn-import" and not disc.sessions:
            code, out = disc.cli("burn", "--import-session", "-1", src.second)
            refused(code, out, "the disc holds no session")
            return problems, out

        args = {"burn": [], "burn-import": ["--import-session", "-1"], "finalize": ["--finalize"]}[action]
        was_open = disc.open_session
        code, out = disc.cli("burn", *args, src.second)
        expect(code == 0, f"{action}: exit {code}")
        if code != 0:
            return problems, out
        expect(("CLOSING IT FIRST" in out) == was_open, "the open session was not closed first, or said so wrongly")
        disc.wrote(out, src.second_files, keep_newest=action == "burn-import")
        if action == "finalize":
            expect("complete (closed)" in disc.must("medium"), "finalize left the disc open")
            code, again = disc.cli("burn", src.second)
            expect(code == 1 and "closed" in again, f"a finalized disc took another session: {code} {again}")
        return problems + self.check_sessions(disc, scratch), out

    # Reading back ----------------------------------------------------------

    def check_sessions(self, disc, scratch):
        problems = []
        image = os.path.join(scratch, "disc.iso")
        disc.must("vdrive", "export", image)
        numbers = self.session_numbers(disc)
        for start, tree in disc.readable():
            out = os.path.join(scratch, f"xorriso-{start}")
            # "stdio:" lets xorriso take a file below /dev (the memory file system).
            proc = subprocess.run(["xorriso", "-abort_on", "FATAL", "-report_about", "FAILURE", "-load", "sbsector",
                                   str(start), "-indev", "stdio:" + image, "-osirrox", "on", "-extract", "/", out],
                                  env=READER_ENV, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if proc.returncode != 0:
                problems.append(f"xorriso, session at {start}: exit {proc.returncode}: {proc.stderr.decode()[-400:]}")
            problems += self.compare(out, tree, f"xorriso, session at {start}")
            if start in numbers:
                out = os.path.join(scratch, f"fornax-{start}")
                code, text = disc.cli("extract", "-s", str(numbers[start]), "/", out)
                problems += [f"fornax-cli extract -s {numbers[start]}: {text}"] if code != 0 else []
                problems += self.compare(out, tree, f"fornax-cli, session {numbers[start]} at {start}")
        out = os.path.join(scratch, "fornax-newest")
        code, text = disc.cli("extract", "/", out)
        problems += [f"fornax-cli extract of the newest session: {text}"] if code != 0 else []
        problems += self.compare(out, disc.newest, "fornax-cli, newest session")
        return problems

    def session_numbers(self, disc):
        if disc.overwritable():
            return {}
        numbers = {}
        for line in disc.must("sessions").splitlines():
            match = re.match(r"\s+(\d+)\s+(\d+)\s", line)
            if match:
                numbers[int(match.group(2))] = int(match.group(1))
        return numbers

    @staticmethod
    def compare(folder, tree, who):
        found = tree_files(folder) if os.path.isdir(folder) else {}
        problems = []
        if sorted(found) != sorted(tree):
            problems.append(f"{who}: files {sorted(found)}, expected {sorted(tree)}")
        for path in set(found) & set(tree):
            if file_bytes(found[path]) != file_bytes(tree[path]):
                problems.append(f"{who}: {path} differs from its source")
        return problems

    # The matrix ------------------------------------------------------------

    def run_medium(self, kind):
        base = os.path.join(self.root, kind)
        states = {state: self.prepare(kind, state, os.path.join(base, "start-" + state)) for state in STATES}

        def case(state, action):
            folder = os.path.join(base, f"{state}-{action}")
            disc = states[state].copy(os.path.join(folder, "drive"))
            scratch = os.path.join(folder, "scratch")
            os.makedirs(scratch)
            try:
                problems, out = self.act(disc, action, scratch)
            finally:
                remove_tree(scratch)
            return [f"{kind}, {state}, {action}: {p}\n    output: {out.strip()[-600:]}" for p in problems]

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            results = pool.map(lambda pair: case(*pair), [(s, a) for s in STATES for a in ACTIONS])
            problems = [p for result in results for p in result]
        remove_tree(base)
        self.assertEqual(problems, [], "\n".join(problems))


def _medium_test(kind):
    return lambda self: self.run_medium(kind)


for _kind in MEDIA:
    setattr(FaultMatrix, "test_" + re.sub(r"\W", "_", _kind.replace("+", "plus")), _medium_test(_kind))


if __name__ == "__main__":
    unittest.main()
