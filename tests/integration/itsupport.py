"""Shared helpers of the fornax-cli integration tests: running the program,
building source trees in a temporary folder, and describing what an image
should hold."""

import contextlib
import hashlib
import os
import random
import shutil
import subprocess
import tempfile
import unittest

GIB = 1 << 30
SECTOR = 2048
# Files larger than this are recorded as several extents.
EXTENT_LIMIT = 4 * GIB - SECTOR

READER_ENV = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")
READER_ENV.pop("LANGUAGE", None)

NOBODY_UID = 65534
NOBODY_GID = 65534


def cli_path():
    path = os.environ.get("FORNAX_CLI")
    if not path:
        raise unittest.SkipTest("FORNAX_CLI is not set; run the suite through ctest "
                                "or export FORNAX_CLI=/path/to/fornax-cli")
    if not os.access(path, os.X_OK):
        raise AssertionError(f"FORNAX_CLI={path} is not an executable file")
    return path


class CliResult:
    def __init__(self, args, returncode, output):
        self.args = args
        self.returncode = returncode
        self.output = output  # stdout and stderr together, in order

    def __repr__(self):
        return f"fornax-cli {' '.join(self.args)} -> exit {self.returncode}\n{self.output}"


def run_cli(*args, cwd=None, as_nobody=False, timeout=300):
    """Runs `fornax-cli ARGS...`; as_nobody drops root's rights first (see
    drop_rights_prefix) so that file permissions apply."""
    command = [cli_path(), *args]
    if as_nobody:
        command = drop_rights_prefix() + command
    proc = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=timeout, env=READER_ENV)
    return CliResult(list(args), proc.returncode, proc.stdout.decode("utf-8", "replace"))


def run_iso(*args, **kwargs):
    """Runs `fornax-cli iso ARGS...`, without Rock Ridge unless ARGS choose: the
    suites check the image as it is written without it (links followed, 8.3
    names in the ISO 9660 tree); test_rock_ridge checks it with."""
    if "--rock-ridge" not in args and "--no-rock-ridge" not in args:
        args = ("--no-rock-ridge", *args)
    return run_cli("iso", *args, **kwargs)


def drop_rights_prefix():
    return ["setpriv", f"--reuid={NOBODY_UID}", f"--regid={NOBODY_GID}", "--clear-groups", "--"]


def permissions_apply(workdir):
    """Whether a test can make a file unreadable to fornax-cli.

    Root reads any file whatever its mode, so as root the program is run as
    'nobody' instead; that needs setpriv and a work folder nobody can reach.
    Returns (True, as_nobody) or (False, reason)."""
    if os.geteuid() != 0:
        return True, False
    if shutil.which("setpriv") is None:
        return False, "running as root and setpriv is missing, so a mode-000 file stays readable"
    probe = subprocess.run(drop_rights_prefix() + ["test", "-w", workdir, "-a", "-x", cli_path()],
                           stdin=subprocess.DEVNULL, capture_output=True)
    if probe.returncode != 0:
        return False, f"running as root and user nobody cannot use {workdir} or the program"
    return True, True


def open_to_all(path):
    """Lets 'nobody' walk and write a work folder made by root."""
    for root, dirs, files in os.walk(path):
        os.chmod(root, 0o777)
        for name in files:
            os.chmod(os.path.join(root, name), 0o666)


def remove_tree(path):
    """rmtree that also copes with read-only folders left by extractions and
    mode-000 entries made by the tests."""
    def fix(func, target, _exc):
        parent = os.path.dirname(target)
        with contextlib.suppress(OSError):
            os.chmod(parent, 0o700)
        with contextlib.suppress(OSError):
            os.chmod(target, 0o700)
        func(target)

    if os.path.lexists(path):
        for root, dirs, _files in os.walk(path):
            for d in dirs:
                with contextlib.suppress(OSError):
                    full = os.path.join(root, d)
                    if not os.path.islink(full):
                        os.chmod(full, 0o700)
        shutil.rmtree(path, onerror=fix)


class WorkDir:
    """A temporary folder (under TMPDIR) that is removed afterwards."""

    def __init__(self, prefix="fornax-it-"):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def __call__(self, *parts):
        return os.path.join(self.path, *parts)

    def cleanup(self):
        remove_tree(self.path)


def write_file(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def random_bytes(n, seed):
    return random.Random(seed).randbytes(n)


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            h.update(chunk)
    return h.hexdigest()


def sha256_bytes(data):
    return hashlib.sha256(data).hexdigest()


# -- large sparse files ----------------------------------------------------

BIG_FILE_SIZE = 4500 * (1 << 20)


def make_sparse_big_file(path, size=BIG_FILE_SIZE):
    """A sparse file over 4 GiB with real bytes at the start, across the
    point where the first extent ends, and at the very end. Returns the file
    path, or raises SkipTest when the file system cannot keep it sparse."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, length, seed in ((0, 64 * 1024, 1),
                                     (EXTENT_LIMIT - 32 * 1024, 64 * 1024, 2),
                                     (size - 4096, 4096, 3)):
            f.seek(offset)
            f.write(random_bytes(length, seed))
    st = os.stat(path)
    if st.st_blocks * 512 > 64 * (1 << 20):
        os.remove(path)
        raise unittest.SkipTest(f"the file system under {os.path.dirname(path)} does not keep "
                                "holes; a 4.5 GB test file would really take 4.5 GB")
    return path


def allocated_bytes(path):
    return os.stat(path).st_blocks * 512


# -- what an image should hold -----------------------------------------------

class Expected:
    """The tree an image should show: image path -> source file, plus folders.

    Paths are relative to the image root and use '/'. `source_folders` are the
    folders that come from the source path itself (modes full and last); their
    ISO 9660 identifiers may be longer than 8 characters."""

    def __init__(self):
        self.files = {}
        self.dirs = set()
        self.source_folders = set()

    def add_file(self, image_path, source):
        self.files[image_path] = source
        parts = image_path.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            self.dirs.add("/".join(parts[:i]))

    def add_folder(self, image_prefix, folder, recursive=True):
        """Everything under `folder`, placed at `image_prefix` ('' = root).
        Folders without files anywhere below are not expected (the program
        leaves out empty folders)."""
        for root, dirs, files in os.walk(folder):
            if not recursive:
                dirs[:] = []
            rel = os.path.relpath(root, folder)
            rel = "" if rel == "." else rel.replace(os.sep, "/")
            for name in files:
                parts = [p for p in (image_prefix, rel, name) if p]
                self.add_file("/".join(parts), os.path.join(root, name))

    def size(self, image_path):
        return os.path.getsize(self.files[image_path])

    def big_files(self):
        return {p for p in self.files if self.size(p) > EXTENT_LIMIT}


def image_file_count(folder):
    return sum(len(files) for _, _, files in os.walk(folder))
