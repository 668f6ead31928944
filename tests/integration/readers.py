"""One adapter per independent image reader.

Each adapter lists a tree of an image as {path: Entry} and hands a file's
bytes to a sink, chunk by chunk, so that files of several GB are compared
while they stream instead of being copied to disk. `tree` is "joliet" or
"iso" (the ISO 9660 tree with its 8.3 identifiers).

Paths are relative to the image root, joined with '/', without the ";1"
version; `Entry.raw_name` keeps the last component exactly as the reader
showed it. What each reader cannot do is written down on its class and
handled by the tests, not hidden here.
"""

import dataclasses
import hashlib
import io
import os
import re
import shlex
import shutil
import subprocess

from itsupport import READER_ENV

CHUNK = 1 << 20
STREAM_TIMEOUT = 900


class ReaderError(AssertionError):
    pass


@dataclasses.dataclass
class Entry:
    path: str
    raw_name: str
    is_dir: bool
    size: int = 0
    parts: int = 1           # rows the reader showed for the file (extents, for some readers)
    flags: int = None        # directory record flags, where the reader shows them
    part_sizes: list = None  # sizes of the rows, where the reader shows one row per extent


def _run(command, timeout=120, ok_codes=(0,)):
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                          env=READER_ENV, timeout=timeout)
    if proc.returncode not in ok_codes:
        raise ReaderError(f"{shlex.join(map(str, command))} exited {proc.returncode}:\n"
                          f"{proc.stderr.decode('utf-8', 'replace')[-3000:]}")
    return proc


def _stream_command(command, sink, timeout=STREAM_TIMEOUT):
    """Feeds a command's standard output to sink; returns its stderr text."""
    with subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=READER_ENV) as proc:
        # stderr is small for these tools; read it after stdout is drained.
        try:
            while True:
                chunk = proc.stdout.read(CHUNK)
                if not chunk:
                    break
                sink(chunk)
            err = proc.stderr.read()
            proc.wait(timeout=timeout)
        except BaseException:
            proc.kill()
            raise
    if proc.returncode != 0:
        raise ReaderError(f"{shlex.join(map(str, command))} exited {proc.returncode}:\n"
                          f"{err.decode('utf-8', 'replace')[-3000:]}")
    return err.decode("utf-8", "replace")


def _strip_version(name):
    base, sep, version = name.rpartition(";")
    if sep and version.isdigit():
        return base
    return name


class Reader:
    name = "?"
    tool = None
    shows_version = False      # shows ISO 9660 identifiers with ";1" and a bare "."
    reads_iso_tree_beside_joliet = True

    def available(self):
        return shutil.which(self.tool) is not None

    def list(self, image, tree):
        raise NotImplementedError

    def stream(self, image, entry, tree, sink):
        raise NotImplementedError

    def read(self, image, entry, tree):
        out = io.BytesIO()
        self.stream(image, entry, tree, out.write)
        return out.getvalue()

    def sha256(self, image, entry, tree):
        h = hashlib.sha256()
        self.stream(image, entry, tree, h.update)
        return h.hexdigest()

    def extract(self, image, tree, entries, dest):
        """Copies the given file entries out of the image below dest; returns
        {entry path: file on disk}. Adapters with a bulk extraction override it."""
        result = {}
        for entry in entries:
            target = os.path.join(dest, entry.path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                self.stream(image, entry, tree, f.write)
            result[entry.path] = target
        return result

    def joliet_name(self, name):
        """How this reader shows a Joliet name that the image holds correctly."""
        return name

    def __repr__(self):
        return self.name


def _add_parents(listing, path):
    parts = path.split("/")
    for i in range(1, len(parts)):
        p = "/".join(parts[:i])
        listing.setdefault(p, Entry(p, parts[i - 1], True))


# ---------------------------------------------------------------------------

class Xorriso(Reader):
    """xorriso: `-read_fs norock` reads Joliet, `-read_fs ecma119` the ISO
    9660 tree as a reader without Rock Ridge sees it. It shows ISO 9660 names without the version and without
    the bare '.', and it handles multi-extent files as one file.

    Never extract to /dev/stdout: xorriso replaces the target with a regular
    file. -concat with target '-' streams a file to standard output instead."""
    name = "xorriso"
    tool = "xorriso"

    LINE = re.compile(r"^(\S{10})\s+(\d+)\s+(\S+)\s+(\S+)\s+(\d+)\s+\S+\s+\d+\s+\S+\s+(.*)$")

    @staticmethod
    def _read_fs(tree):
        return "norock" if tree == "joliet" else "ecma119"

    def _base(self, image, tree):
        return ["xorriso", "-abort_on", "FAILURE", "-read_fs", self._read_fs(tree),
                "-iso_rr_pattern", "off", "-indev", str(image)]

    def list(self, image, tree):
        out = _run(self._base(image, tree) + ["-find", "/", "-exec", "lsdl"]).stdout
        listing = {}
        for line in out.decode("utf-8", "surrogateescape").splitlines():
            m = self.LINE.match(line)
            if not m:
                continue
            perms, size, quoted = m.group(1), int(m.group(5)), m.group(6)
            parts = shlex.split(quoted)
            if len(parts) != 1:
                raise ReaderError(f"xorriso: cannot parse the path in {line!r}")
            path = parts[0].strip("/")
            if not path:
                continue
            is_dir = perms.startswith("d")
            listing[path] = Entry(path, path.rsplit("/", 1)[-1], is_dir, 0 if is_dir else size)
        return listing

    def stream(self, image, entry, tree, sink):
        command = ["xorriso", "-osirrox", "on"] + self._base(image, tree)[1:] + \
                  ["-concat", "append", "-", "/" + entry.path]
        _stream_command(command, sink)

    def extract(self, image, tree, entries, dest):
        entries = list(entries)
        if not entries:
            return {}
        command = ["xorriso", "-osirrox", "on"] + self._base(image, tree)[1:] + \
                  ["-extract_l", "/", dest.rstrip("/") + "/"] + ["/" + e.path for e in entries] + ["--"]
        _run(command, timeout=600)
        return {e.path: os.path.join(dest, e.path) for e in entries}


# ---------------------------------------------------------------------------

class IsoInfo(Reader):
    """isoinfo (genisoimage's): `-l` lists, `-x` extracts to standard output.

    Known limits, checked around in the tests:
    * Joliet names come out in a one-byte character set (this build's -j knows
      no UTF-8), so every UTF-16 unit above U+00FF is shown as '_'.
    * A multi-extent file is listed as one row per extent, and -x returns only
      the last extent's bytes."""
    name = "isoinfo"
    tool = "isoinfo"
    shows_version = True

    ROW = re.compile(r"^([d-])\S{9}\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\w{3}\s+\d+\s+\d+\s+"
                     r"\[\s*(\d+)\s+([0-9A-Fa-f]+)\]?\s+(.*?) ?$")

    def _args(self, tree):
        return ["-J", "-j", "iso8859-1"] if tree == "joliet" else []

    def list(self, image, tree):
        out = _run(["isoinfo", "-i", str(image), "-l"] + self._args(tree)).stdout.decode("latin-1")
        listing = {}
        folder = None
        last = None
        for line in out.splitlines():
            if line.startswith("Directory listing of "):
                folder = line[len("Directory listing of "):].strip("/")
                last = None
                continue
            m = self.ROW.match(line)
            if not m or folder is None:
                continue
            kind, size, _lba, flags, raw = m.groups()
            if raw in (".", ".."):
                continue
            name = _strip_version(raw)
            path = f"{folder}/{name}" if folder else name
            flag_value = int(flags, 16) & 0xFF if len(flags) == 2 else None
            if last is not None and last.path == path and kind == "-":
                # the next extent of a multi-extent file
                last.size += int(size)
                last.parts += 1
                last.part_sizes.append(int(size))
                continue
            entry = Entry(path, raw, kind == "d", 0 if kind == "d" else int(size),
                          flags=flag_value, part_sizes=[int(size)])
            listing[path] = entry
            last = entry
        return listing

    def stream(self, image, entry, tree, sink):
        name = entry.raw_name if tree == "iso" else entry.path.rsplit("/", 1)[-1] + ";1"
        parent = entry.path.rsplit("/", 1)[0] if "/" in entry.path else ""
        path = "/" + (parent + "/" if parent else "") + name
        command = [b"isoinfo", b"-i", os.fsencode(str(image))] + [a.encode() for a in self._args(tree)] + \
                  [b"-x", path.encode("latin-1")]
        _stream_command(command, sink)

    def joliet_name(self, name):
        # one '_' per UTF-16 unit: two for a character outside the BMP
        return "".join(c if ord(c) <= 0xFF else "_" * (len(c.encode("utf-16-be")) // 2)
                       for c in name)


# ---------------------------------------------------------------------------

class SevenZip(Reader):
    """7z: reads the Joliet tree when there is one and offers no switch to
    read the ISO 9660 tree beside it, so its ISO 9660 checks run only on
    images built with --no-joliet. It shows ISO 9660 names without the
    version and the bare '.'. Multi-extent files come out whole."""
    name = "7z"
    tool = "7z"
    reads_iso_tree_beside_joliet = False

    BOOT_FOLDER = "[BOOT]"

    def list(self, image, tree):
        """The file tree; the boot images 7z shows under "[BOOT]/" are left
        out here (see boot_entries)."""
        return {p: e for p, e in self._list_all(image).items()
                if p != self.BOOT_FOLDER and not p.startswith(self.BOOT_FOLDER + "/")}

    def boot_entries(self, image):
        """7z shows El Torito boot images as "[BOOT]/Boot-<media>.img"."""
        return {p: e for p, e in self._list_all(image).items()
                if p.startswith(self.BOOT_FOLDER + "/")}

    def _list_all(self, image):
        out = _run(["7z", "l", "-slt", "-ba", str(image)]).stdout.decode("utf-8", "surrogateescape")
        listing = {}
        for block in re.split(r"\n\s*\n", out):
            fields = {}
            for line in block.splitlines():
                key, sep, value = line.partition(" = ")
                if sep:
                    fields[key.strip()] = value
            if "Path" not in fields:
                continue
            path = fields["Path"].strip("/")
            is_dir = fields.get("Folder") == "+"
            size = int(fields.get("Size") or 0)
            listing[path] = Entry(path, path.rsplit("/", 1)[-1], is_dir, 0 if is_dir else size)
        for path in list(listing):
            _add_parents(listing, path)
        return listing

    def stream(self, image, entry, tree, sink):
        _stream_command(["7z", "x", "-so", "-spd", str(image), "--", entry.path], sink)

    def extract(self, image, tree, entries, dest):
        entries = list(entries)
        wanted = {e.path for e in entries}
        everything = self._list_all(image)
        skip = [p for p, e in everything.items() if not e.is_dir and p not in wanted]
        _run(["7z", "x", "-y", "-spd", f"-o{dest}", str(image)] + [f"-x!{p}" for p in skip] + ["--"],
             timeout=600)
        return {p: os.path.join(dest, p) for p in wanted}


# ---------------------------------------------------------------------------

class BsdTar(Reader):
    """bsdtar (libarchive): reads Joliet by default (`!rockridge`: even when
    Rock Ridge is there); `--options iso9660:!joliet,!rockridge` makes it read
    the ISO 9660 tree without Rock Ridge, shown without the
    version and the bare '.'. Multi-extent files come out whole.

    Known limit: a Joliet name longer than 103 characters is cut to its first
    103 characters (libarchive's own cap)."""
    name = "bsdtar"
    tool = "bsdtar"
    JOLIET_NAME_CAP = 103

    LINE = re.compile(r"^(\S{10})\s+(\d+)\s+(\S+)\s+(\S+)\s+(\d+)\s+\w{3}\s+\d+\s+\S+\s(.*)$")

    def _options(self, tree):
        # Rock Ridge, when an image has it, would come before Joliet.
        return ["--options", "iso9660:!rockridge"] if tree == "joliet" else ["--options", "iso9660:!joliet,!rockridge"]

    def list(self, image, tree):
        out = _run(["bsdtar"] + self._options(tree) + ["-tvf", str(image)]).stdout
        listing = {}
        for line in out.decode("utf-8", "surrogateescape").splitlines():
            m = self.LINE.match(line)
            if not m:
                continue
            perms, size, path = m.group(1), int(m.group(5)), m.group(6)
            path = path.strip("/")
            if path in ("", "."):
                continue
            is_dir = perms.startswith("d")
            listing[path] = Entry(path, path.rsplit("/", 1)[-1], is_dir, 0 if is_dir else size)
        return listing

    def stream(self, image, entry, tree, sink):
        _stream_command(["bsdtar"] + self._options(tree) + ["-xOf", str(image), entry.path], sink)

    def extract(self, image, tree, entries, dest):
        entries = list(entries)
        everything = self.list(image, tree)
        wanted = {e.path for e in entries}
        skip = [p for p, e in everything.items() if not e.is_dir and p not in wanted]
        command = ["bsdtar"] + self._options(tree) + ["-xf", str(image), "-C", dest]
        for p in skip:
            command += ["--exclude", p]
        _run(command, timeout=600)
        return {p: os.path.join(dest, p) for p in wanted}

    def joliet_name(self, name):
        return name[:self.JOLIET_NAME_CAP]


# ---------------------------------------------------------------------------

class PyCdlib(Reader):
    """pycdlib: walks either tree (joliet_path / iso_path) and shows raw
    identifiers with their ";1". A multi-extent file's record holds only the
    first extent's length; the further extents hang off
    `data_continuation`, which the adapter follows. Extraction returns the
    whole file.

    Records of both trees that share an extent share one pycdlib inode, and
    get_data_length() answers with the inode's length: sizes are therefore
    taken from each record's own length field (`data_length`)."""
    name = "pycdlib"
    shows_version = True

    def available(self):
        try:
            import pycdlib  # noqa: F401
        except ImportError:
            return False
        return True

    @staticmethod
    def _open(image):
        import pycdlib
        iso = pycdlib.PyCdlib()
        iso.open(str(image))
        return iso

    @staticmethod
    def _key(tree):
        return "joliet_path" if tree == "joliet" else "iso_path"

    def list(self, image, tree):
        iso = self._open(image)
        try:
            key = self._key(tree)
            listing = {}
            for root, dirs, files in iso.walk(**{key: "/"}):
                folder = root.strip("/")
                for d in dirs:
                    path = f"{folder}/{d}" if folder else d
                    rec = iso.get_record(**{key: "/" + path})
                    listing[path] = Entry(path, d, True, 0, flags=rec.file_flags)
                for f in files:
                    full = f"{folder}/{f}" if folder else f
                    rec = iso.get_record(**{key: "/" + full})
                    size, parts, part_sizes, flags = 0, 0, [], rec.file_flags
                    while rec is not None:
                        size += rec.data_length
                        part_sizes.append(rec.data_length)
                        parts += 1
                        rec = rec.data_continuation
                    path = _strip_version(full)
                    listing[path] = Entry(path, f, False, size, parts=parts, flags=flags,
                                          part_sizes=part_sizes)
            return listing
        finally:
            iso.close()

    class _Sink:
        def __init__(self, sink):
            self.sink = sink

        def write(self, data):
            self.sink(bytes(data))
            return len(data)

    def _iso_path(self, entry, tree):
        parent = entry.path.rsplit("/", 1)[0] if "/" in entry.path else ""
        return "/" + (parent + "/" if parent else "") + entry.raw_name

    def stream(self, image, entry, tree, sink):
        iso = self._open(image)
        try:
            iso.get_file_from_iso_fp(self._Sink(sink), **{self._key(tree): self._iso_path(entry, tree)})
        finally:
            iso.close()

    def extract(self, image, tree, entries, dest):
        iso = self._open(image)
        result = {}
        try:
            for entry in entries:
                target = os.path.join(dest, entry.path)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    iso.get_file_from_iso_fp(f, **{self._key(tree): self._iso_path(entry, tree)})
                result[entry.path] = target
        finally:
            iso.close()
        return result

    def flags_of(self, image, tree, path_with_version):
        iso = self._open(image)
        try:
            return iso.get_record(**{self._key(tree): "/" + path_with_version}).file_flags
        finally:
            iso.close()


ALL = [Xorriso(), IsoInfo(), SevenZip(), BsdTar(), PyCdlib()]


def by_name(name):
    for r in ALL:
        if r.name == name:
            return r
    raise KeyError(name)
