"""Checks shared by the integration tests: an image's trees as each reader
sees them compared with the source files, the El Torito catalog, and the
structures parsed independently by isoraw."""

import collections
import os
import re
import struct
import subprocess

import isoraw
import readers
from itsupport import EXTENT_LIMIT, READER_ENV, SECTOR, sha256_file

ISO_FILE_ID_FULL = re.compile(r"^[A-Z0-9_]{1,8}\.[A-Z0-9_]{0,3};1$")
ISO_FILE_ID_SHOWN = re.compile(r"^[A-Z0-9_]{1,8}(\.[A-Z0-9_]{1,3})?$")
ISO_DIR_ID = re.compile(r"^[A-Z0-9_]{1,8}$")
# Folders named after the source path (-p full, -p last) take the first 13
# characters of the name, a-z upper-cased and anything outside "!" to "z" as "_".
ISO_SOURCE_DIR_ID = re.compile(r"^[\x21-\x60]{1,13}$")
SHORT_NAME_THAT_FITS = re.compile(r"^[A-Z0-9_]{1,8}(\.[A-Z0-9_]{1,3})?$")


class ContentSink:
    """Compares streamed bytes with a region of a source file as they arrive,
    so several GB need no copy on disk and no second pass."""

    def __init__(self, source, offset=0, length=None):
        self.source = source
        self.offset = offset
        self.length = os.path.getsize(source) - offset if length is None else length
        self._f = open(source, "rb")
        self._f.seek(offset)
        self.received = 0
        self.first_difference = None

    def __call__(self, chunk):
        if self.first_difference is None:
            expected = self._f.read(len(chunk))
            if expected != chunk:
                for i, (a, b) in enumerate(zip(expected, chunk)):
                    if a != b:
                        break
                else:
                    i = min(len(expected), len(chunk))
                self.first_difference = self.offset + self.received + i
        self.received += len(chunk)

    def problem(self):
        self._f.close()
        if self.first_difference is not None:
            return f"bytes differ from the source at offset {self.first_difference}"
        if self.received != self.length:
            return f"{self.received} bytes read, {self.length} expected"
        return None


def dotless(name):
    return "." not in name


# -- the Joliet tree ------------------------------------------------------------

def check_joliet_tree(test, reader, image, expected, scratch):
    """Every path, size and byte of the Joliet tree equals the source, as
    `reader` shows it."""
    listing = reader.list(image, "joliet")

    shown = {}        # displayed path -> expected path
    for path in expected.files:
        shown["/".join(reader.joliet_name(p) for p in path.split("/"))] = path
    shown_dirs = {"/".join(reader.joliet_name(p) for p in d.split("/")) for d in expected.dirs}

    files = {p: e for p, e in listing.items() if not e.is_dir}
    # Names without a dot are recorded as "name." on purpose; some readers
    # strip that dot, some show it. Accept it only for such names.
    for p in list(files):
        if p.endswith(".") and p not in shown and p[:-1] in shown \
                and dotless(expected.files[shown[p[:-1]]].rsplit("/", 1)[-1]):
            files[p[:-1]] = files.pop(p)
    dirs = {p for p, e in listing.items() if e.is_dir}

    missing = sorted(set(shown) - set(files))
    extra = sorted(set(files) - set(shown))
    test.assertEqual((missing, extra), ([], []),
                     f"{reader}: Joliet files missing from the image / not in the source")
    test.assertEqual(sorted(dirs ^ shown_dirs), [],
                     f"{reader}: Joliet folders differ (only in one of image/source)")
    sizes = {p: (files[p].size, os.path.getsize(expected.files[shown[p]])) for p in shown}
    test.assertEqual({p: s for p, s in sizes.items() if s[0] != s[1]}, {},
                     f"{reader}: Joliet sizes differ (image, source)")

    check_hidden_flags(test, reader, {p: e for p, e in listing.items()}, "Joliet")
    check_contents(test, reader, image, "joliet",
                   {p: expected.files[shown[p]] for p in files}, files, scratch)
    return listing


def check_hidden_flags(test, reader, listing, label):
    """Dot files and dot folders carry the hidden flag, nothing else does
    (only for readers that show the flags)."""
    wrong = []
    for path, entry in listing.items():
        if entry.flags is None:
            continue
        name = path.rsplit("/", 1)[-1]
        if bool(entry.flags & isoraw.FLAG_HIDDEN) != name.startswith("."):
            wrong.append((path, entry.flags))
    test.assertEqual(wrong, [], f"{reader}: {label} hidden flag wrong on (path, flags)")


def check_contents(test, reader, image, tree, sources, entries, scratch):
    """Bytes of every file: small ones extracted the reader's usual way, big
    ones streamed and compared on the fly. `entries` and `sources` are keyed
    alike (the path as compared); the entries keep the path the reader showed."""
    small = {p: e for p, e in entries.items() if e.size <= EXTENT_LIMIT}
    big = {p: e for p, e in entries.items() if e.size > EXTENT_LIMIT}
    dest = os.path.join(scratch, f"{reader.name}-{tree}")
    os.makedirs(dest, exist_ok=True)
    extracted = reader.extract(image, tree, small.values(), dest)
    differ = []
    for key, entry in small.items():
        target = extracted[entry.path]
        if not os.path.isfile(target):
            differ.append((key, "not extracted"))
            continue
        with open(target, "rb") as a, open(sources[key], "rb") as b:
            if a.read() != b.read():
                differ.append((key, "bytes differ"))
    test.assertEqual(differ, [], f"{reader}: {tree} files whose extracted bytes are wrong")
    for key, entry in big.items():
        check_big_content(test, reader, image, tree, entry, sources[key])


def check_big_content(test, reader, image, tree, entry, source):
    if isinstance(reader, readers.IsoInfo):
        # isoinfo -x returns only the last extent of a multi-extent file:
        # check those bytes against the end of the source, and that it
        # listed the file as several rows adding up to the whole size.
        test.assertGreaterEqual(entry.parts, 2, f"isoinfo: {entry.path} shows as one extent")
        tail = entry.part_sizes[-1]
        sink = ContentSink(source, offset=os.path.getsize(source) - tail, length=tail)
    else:
        sink = ContentSink(source)
    reader.stream(image, entry, tree, sink)
    test.assertIsNone(sink.problem(), f"{reader}: {tree} content of {entry.path}")


# -- the ISO 9660 tree ------------------------------------------------------------

def _node():
    return {"files": {}, "dirs": {}}


def _build(paths_and_tokens, dir_paths):
    root = _node()

    def folder(path):
        node = root
        if path:
            for part in path.split("/"):
                node = node["dirs"].setdefault(part, _node())
        return node

    for d in dir_paths:
        folder(d)
    for path, token in paths_and_tokens.items():
        parent, _, name = path.rpartition("/")
        folder(parent)["files"][name] = token
    return root


def _signature(node, memo):
    key = id(node)
    if key not in memo:
        memo[key] = (tuple(sorted(node["files"].values())),
                     tuple(sorted(_signature(c, memo) for c in node["dirs"].values())))
    return memo[key]


def _pair(iso, src, memo, iso_path, src_path, pairs):
    """Pairs each ISO folder with the source folder it stands for (same files
    and same folders below, names aside)."""
    pairs.append((iso_path, src_path, iso, src))
    free = dict(src["dirs"])
    for name, child in sorted(iso["dirs"].items()):
        sig = _signature(child, memo)
        for sname, schild in free.items():
            if _signature(schild, memo) == sig:
                del free[sname]
                _pair(child, schild, memo, f"{iso_path}/{name}".strip("/"),
                      f"{src_path}/{sname}".strip("/"), pairs)
                break


def _describe(node, path=""):
    lines = [f"/{path}: {len(node['files'])} files, {len(node['dirs'])} folders"]
    for name, child in sorted(node["dirs"].items()):
        lines += _describe(child, f"{path}/{name}".strip("/"))
    return lines


def check_iso_tree(test, reader, image, expected, scratch):
    """The ISO 9660 tree holds the same files as the source (same sizes and
    bytes, same count per folder) under valid 8.3 identifiers."""
    listing = reader.list(image, "iso")
    files = {p: e for p, e in listing.items() if not e.is_dir}
    dirs = {p for p, e in listing.items() if e.is_dir}

    # identifiers of files
    bad = []
    for entry in files.values():
        if reader.shows_version:
            if not ISO_FILE_ID_FULL.match(entry.raw_name):
                bad.append(entry.raw_name)
        elif not ISO_FILE_ID_SHOWN.match(entry.path.rsplit("/", 1)[-1]):
            bad.append(entry.raw_name)
    bad_file_ids = bad  # reported last, so that the checks below still run

    # contents: tokens (size, sha256); big files are streamed against the source of the same size
    small = {p: e for p, e in files.items() if e.size <= EXTENT_LIMIT}
    dest = os.path.join(scratch, f"{reader.name}-iso")
    os.makedirs(dest, exist_ok=True)
    extracted = reader.extract(image, "iso", small.values(), dest)
    iso_tokens = {}
    for p, e in files.items():
        if e.size > EXTENT_LIMIT:
            iso_tokens[p] = (e.size, "streamed")
        elif os.path.isfile(extracted[p]):
            iso_tokens[p] = (e.size, sha256_file(extracted[p]))
        else:
            iso_tokens[p] = (e.size, "not extracted")
    src_tokens = {}
    for p, source in expected.files.items():
        size = os.path.getsize(source)
        src_tokens[p] = (size, "streamed") if size > EXTENT_LIMIT else (size, sha256_file(source))

    iso_root = _build(iso_tokens, dirs)
    src_root = _build(src_tokens, expected.dirs)
    memo = {}
    if _signature(iso_root, memo) != _signature(src_root, memo):
        only_iso = collections.Counter(iso_tokens.values()) - collections.Counter(src_tokens.values())
        only_src = collections.Counter(src_tokens.values()) - collections.Counter(iso_tokens.values())
        iso_by_token = {t: p for p, t in iso_tokens.items()}
        src_by_token = {t: p for p, t in src_tokens.items()}
        test.fail(f"{reader}: the ISO 9660 tree does not hold the source's files in the same folders\n"
                  f"  in the image only: {[iso_by_token[t] for t in only_iso]}\n"
                  f"  in the source only: {[src_by_token[t] for t in only_src]}\n"
                  f"  image:  {'; '.join(_describe(iso_root))}\n"
                  f"  source: {'; '.join(_describe(src_root))}")

    pairs = []
    _pair(iso_root, src_root, memo, "", "", pairs)

    # identifiers of folders: 8 characters, or 13 for folders named after the source path
    bad = []
    for iso_path, src_path, _iso, _src in pairs:
        if not iso_path:
            continue
        name = iso_path.rsplit("/", 1)[-1]
        rule = ISO_SOURCE_DIR_ID if src_path in expected.source_folders else ISO_DIR_ID
        if not rule.match(name):
            bad.append((name, src_path))
    test.assertEqual(bad, [], f"{reader}: folder identifiers that are not valid (identifier, source folder)")

    # short names that already fit are kept (README -> README.;1, one.bin -> ONE.BIN;1)
    wrong = []
    for iso_path, src_path, iso_node, src_node in pairs:
        uppers = collections.Counter(n.upper() for n in list(src_node["files"]) + list(src_node["dirs"]))
        for name, token in src_node["files"].items():
            upper = name.upper()
            if not SHORT_NAME_THAT_FITS.match(upper) or uppers[upper] > 1:
                continue
            # readers that show ";1" also show the bare '.' of "README.;1"
            shown = iso_node["files"].get(upper, iso_node["files"].get(upper + "."))
            if shown != token:
                wrong.append((f"{src_path}/{name}".strip("/"), sorted(iso_node["files"])))
        for name in src_node["dirs"]:
            upper = name.upper()
            if ISO_DIR_ID.match(upper) and uppers[upper] == 1 and upper not in iso_node["dirs"]:
                wrong.append((f"{src_path}/{name}".strip("/"), sorted(iso_node["dirs"])))
    test.assertEqual(wrong, [], f"{reader}: names that fit 8.3 were not kept (source, identifiers there)")

    # hidden flag, where the reader shows flags: one per dot file in each folder
    if any(e.flags is not None for e in listing.values()):
        wrong = []
        for iso_path, src_path, iso_node, src_node in pairs:
            names = [f"{iso_path}/{n}".strip("/") for n in list(iso_node["files"]) + list(iso_node["dirs"])]
            if any(listing[n].flags is None for n in names):
                continue  # isoinfo shows no flags on the rows of a multi-extent file
            want = sum(n.startswith(".") for n in list(src_node["files"]) + list(src_node["dirs"]))
            have = sum(bool(listing[n].flags & isoraw.FLAG_HIDDEN) for n in names)
            if want != have:
                wrong.append((src_path or "/", want, have))
        test.assertEqual(wrong, [], f"{reader}: ISO 9660 hidden flags (folder, dot entries, flagged)")

    # the big files' bytes
    big_sources = {os.path.getsize(s): s for s in expected.files.values()
                   if os.path.getsize(s) > EXTENT_LIMIT}
    for p, e in files.items():
        if e.size > EXTENT_LIMIT:
            test.assertIn(e.size, big_sources, f"{reader}: {p} has a size no source file has")
            check_big_content(test, reader, image, "iso", e, big_sources[e.size])

    test.assertEqual(bad_file_ids, [], f"{reader}: file identifiers that are not 8.3 d-characters "
                                       "with a '.' and ';1'")
    return listing, pairs


# -- structures parsed here -------------------------------------------------------

def check_structure(test, image_path, *, joliet, bootable, expected=None):
    """Descriptor set, path tables, record order, extents inside the image
    and not overlapping, multi-extent records — parsed by isoraw."""
    with isoraw.Image(image_path) as img:
        vds = img.descriptors()
        types = [vd.type for vd in vds]
        test.assertEqual(vds[0].sector, 16)
        test.assertEqual(types[0], 1, "the primary volume descriptor is at sector 16")
        want = [1] + ([0] if bootable else []) + ([2] if joliet else []) + [255]
        test.assertEqual(types, want, "volume descriptor types from sector 16 on")
        for vd in vds:
            test.assertEqual((vd.ident, vd.raw[6]), (b"CD001", 1), f"descriptor at {vd.sector}")
        if joliet:
            test.assertTrue(vds[-2].is_joliet, "the supplementary descriptor names UCS-2 (Joliet)")
        pvd = vds[0]
        # An image shorter than a CD's shortest track (300 sectors) is padded
        # with zeros to it; otherwise the file ends where the volume does.
        expected_size = max(isoraw.volume_space_size(pvd), 300) * SECTOR
        test.assertIn(img.size, (isoraw.volume_space_size(pvd) * SECTOR, expected_size),
                      "the image file ends with the volume (or with its padding to 300 sectors)")
        if img.size > isoraw.volume_space_size(pvd) * SECTOR:
            with open(image_path, "rb") as f:
                f.seek(isoraw.volume_space_size(pvd) * SECTOR)
                test.assertEqual(f.read().count(0), img.size - isoraw.volume_space_size(pvd) * SECTOR,
                                 "the padding after the volume is zeros")

        trees = {"iso": img.tree(pvd)}
        if joliet:
            trees["joliet"] = img.tree(img.joliet())
            test.assertEqual(isoraw.volume_space_size(img.joliet()), isoraw.volume_space_size(pvd))

        used = []  # (first sector, sector count, what)
        for label, tree in trees.items():
            vd = pvd if label == "iso" else img.joliet()
            check_path_tables(test, img, vd, tree, label)
            for folder, (lba, size) in tree.extents.items():
                used.append((lba, -(-size // SECTOR), f"{label} folder /{folder}"))
            for folder, records in tree.folders.items():
                for rec in records:
                    if not rec.is_dir and rec.size:
                        used.append((rec.lba, -(-rec.size // SECTOR), f"file {rec.path}"))
            size = struct.unpack_from("<I", vd.raw, 132)[0]
            for offset in (140, 144):
                lba = struct.unpack_from("<I", vd.raw, offset)[0]
                if lba:
                    used.append((lba, -(-size // SECTOR), f"{label} L path table"))
            for offset in (148, 152):
                lba = struct.unpack_from(">I", vd.raw, offset)[0]
                if lba:
                    used.append((lba, -(-size // SECTOR), f"{label} M path table"))

        if bootable:
            catalog = img.boot_catalog()
            test.assertIsNotNone(catalog)
            used.append((catalog[0], 1, "boot catalog"))

        # a file's extents as recorded in both trees are the same data; apart
        # from that, nothing shares a sector and everything lies in the image
        unique = {}
        for start, count, what in used:
            unique.setdefault((start, count, what.startswith("file")), what)
        spans = sorted((s, c, w) for (s, c, _f), w in unique.items())
        total = img.size // SECTOR
        outside = [w for s, c, w in spans if s + c > total]
        test.assertEqual(outside, [], "extents beyond the end of the image")
        overlaps = [(a[2], b[2]) for a, b in zip(spans, spans[1:]) if a[0] + a[1] > b[0]]
        test.assertEqual(overlaps, [], "extents that overlap")
        test.assertTrue(all(s >= 16 + len(vds) for s, _c, _w in spans),
                        "nothing is placed inside the system area or the descriptors")

        if expected is not None:
            check_multi_extent_records(test, trees, expected)
        return trees


def check_path_tables(test, img, vd, tree, label):
    """Both path tables list every folder with its extent and its parent."""
    for big_endian in (False, True):
        rows = img.path_table(vd, big_endian)
        kind = "M" if big_endian else "L"
        test.assertEqual(len(rows), len(tree.extents), f"{label} {kind} path table: one row per folder")
        by_number = {n: (name, lba, parent) for n, name, lba, parent in rows}
        by_lba = {lba: n for n, _name, lba, _p in rows}
        wrong = []
        for folder, (lba, _size) in tree.extents.items():
            n = by_lba.get(lba)
            if n is None:
                wrong.append((folder, "no row"))
                continue
            parent_folder = folder.rpartition("/")[0] if folder else ""
            parent_lba = tree.extents[parent_folder][0]
            if by_number[by_number[n][2]][1] != parent_lba:
                wrong.append((folder, "wrong parent"))
        test.assertEqual(wrong, [], f"{label} {kind} path table rows")
        levels = []
        for n, _name, _lba, parent in rows:
            levels.append(0 if n == 1 else levels[parent - 1] + 1)
            test.assertLessEqual(parent, n, f"{label} {kind} path table: parent listed first")
        test.assertEqual(levels, sorted(levels), f"{label} {kind} path table ordered by level")


def check_multi_extent_records(test, trees, expected):
    """A file over 4 GiB - 2048 is several records with the same identifier,
    all but the last flagged multi-extent, whose extents follow each other,
    in both trees, pointing at the same data."""
    big_sizes = {os.path.getsize(s) for s in expected.files.values() if os.path.getsize(s) > EXTENT_LIMIT}
    seen = {}
    for label, tree in trees.items():
        for folder, records in tree.folders.items():
            groups = collections.OrderedDict()
            for rec in records:
                if not rec.is_dir:
                    groups.setdefault(rec.ident, []).append(rec)
            for ident, recs in groups.items():
                total = sum(r.size for r in recs)
                flags = [bool(r.flags & isoraw.FLAG_MULTI_EXTENT) for r in recs]
                where = f"{label} /{folder}/{recs[0].name}"
                if total in big_sizes:
                    test.assertGreaterEqual(len(recs), 2, f"{where}: one record for {total} bytes")
                    test.assertEqual(flags, [True] * (len(recs) - 1) + [False], f"{where}: multi-extent flags")
                    for a, b in zip(recs, recs[1:]):
                        test.assertEqual(a.size % SECTOR, 0, f"{where}: inner extent not whole sectors")
                        test.assertEqual(a.lba + a.size // SECTOR, b.lba, f"{where}: extents not consecutive")
                    idx = [r.offset for r in recs]
                    test.assertEqual(idx, sorted(idx))
                    seen.setdefault(label, []).append([(r.lba, r.size) for r in recs])
                else:
                    test.assertEqual(flags, [False] * len(recs), f"{where}: unexpected multi-extent flag")
                    test.assertEqual(len(recs), 1, f"{where}: identifier recorded {len(recs)} times")
    for label in trees:
        test.assertEqual(len(seen.get(label, [])), sum(1 for p in expected.files
                                                       if expected.size(p) > EXTENT_LIMIT),
                         f"{label}: multi-extent files found")
    if len(trees) == 2:
        test.assertEqual(sorted(seen.get("iso", [])), sorted(seen.get("joliet", [])),
                         "both trees point at the same extents of the big files")


# -- El Torito --------------------------------------------------------------------

MEDIA_FOR_SECTORS = {600: 1, 720: 2, 1440: 3}


def check_boot_catalog(test, image_path, boot_file):
    """The boot record at sector 17 names the catalog; its validation entry
    is sound and its default entry points at the boot file's bytes."""
    with open(boot_file, "rb") as f:
        boot = f.read()
    sectors = -(-len(boot) // SECTOR)
    with isoraw.Image(image_path) as img:
        br = img.sector(17)
        test.assertEqual(br[0], 0, "sector 17 holds the boot record")
        test.assertEqual(br[1:7], b"CD001\x01")
        test.assertTrue(br[7:39].startswith(b"EL TORITO "), br[7:39])
        catalog_lba = struct.unpack_from("<I", br, 71)[0]
        test.assertGreater(catalog_lba, 17)
        test.assertLess(catalog_lba, img.size // SECTOR)
        cat = img.sector(catalog_lba)

        v = cat[:32]
        test.assertEqual(v[0], 1, "validation entry header id")
        test.assertEqual(v[1], 0, "platform: x86")
        test.assertEqual(v[4:28].rstrip(b"\x00"), b"Vesta", "validation entry ID")
        test.assertEqual(v[30:32], b"\x55\xAA", "validation entry key bytes")
        test.assertTrue(isoraw.validation_checksum_ok(v), "validation entry checksum")

        d = cat[32:64]
        test.assertEqual(d[0], 0x88, "default entry is bootable")
        media = MEDIA_FOR_SECTORS.get(sectors, 4) if len(boot) % SECTOR == 0 else 4
        test.assertEqual(d[1], media, f"media type for a {len(boot)}-byte boot image")
        test.assertEqual(struct.unpack_from("<H", d, 6)[0], 1, "load sector count")
        lba = struct.unpack_from("<I", d, 8)[0]
        test.assertEqual(struct.unpack_from("<I", cat, 40)[0], lba)
        test.assertLessEqual(lba + sectors, img.size // SECTOR, "boot image lies inside the image")
        data = img.sector(lba, sectors)
        test.assertEqual(len(data), sectors * SECTOR)
        padded = boot + b"\x00" * (sectors * SECTOR - len(boot))
        if data != padded:
            first = next(i for i, (a, b) in enumerate(zip(data, padded)) if a != b)
            test.fail(f"the sectors at LBA {lba} differ from the boot file at byte {first}")
        test.assertEqual(cat[64:96], b"\x00" * 32, "nothing follows the default entry")
        return catalog_lba, lba, media


def xorriso_boot_report(image_path):
    proc = subprocess.run(["xorriso", "-indev", str(image_path), "-report_el_torito", "plain"],
                          stdin=subprocess.DEVNULL, capture_output=True, env=READER_ENV, timeout=120)
    return proc.returncode, proc.stdout.decode("utf-8", "replace")


def isoinfo_descriptor_report(image_path):
    proc = subprocess.run(["isoinfo", "-d", "-i", str(image_path)], stdin=subprocess.DEVNULL,
                          capture_output=True, env=READER_ENV, timeout=120)
    return proc.returncode, proc.stdout.decode("latin-1")


def check_boot_seen_by_readers(test, image_path, boot_file, catalog_lba, boot_lba, media):
    rc, out = xorriso_boot_report(image_path)
    test.assertEqual(rc, 0, out)
    test.assertRegex(out, rf"El Torito catalog\s*:\s*{catalog_lba}\s")
    m = re.search(r"El Torito boot img :\s+1\s+BIOS\s+y\s+(\S+)\s+\S+\s+\S+\s+(\d+)\s+(\d+)", out)
    test.assertIsNotNone(m, f"xorriso shows no boot image:\n{out}")
    emulation = {1: "fd1.2", 2: "fd1.4", 3: "fd2.8", 4: "hd"}[media]
    test.assertEqual((m.group(1), int(m.group(2)), int(m.group(3))), (emulation, 1, boot_lba),
                     "xorriso: emulation, load size, LBA")
    seven = readers.by_name("7z")
    if seven.available():
        # 7z shows the boot image as a file named after its media; a floppy
        # image whole, a hard disk image as the load count's 512-byte sectors.
        with open(boot_file, "rb") as f:
            boot = f.read()
        shown = seven.boot_entries(image_path)
        name = {1: "Boot-1.2M.img", 2: "Boot-1.44M.img", 3: "Boot-2.88M.img", 4: "Boot-HardDisk.img"}[media]
        test.assertEqual(sorted(shown), [f"[BOOT]/{name}"], "7z: boot images shown")
        data = seven.read(image_path, shown[f"[BOOT]/{name}"], "joliet")
        test.assertEqual(data, boot if media != 4 else boot[:512], "7z: boot image bytes")
    rc, out = isoinfo_descriptor_report(image_path)
    test.assertEqual(rc, 0, out)
    test.assertIn(f"boot catalog is in sector {catalog_lba}", out)
    test.assertRegex(out, r"ID 'Vesta'")
    test.assertRegex(out, rf"Boot media {media} ")
    test.assertRegex(out, rf"Nsect 1\b")
    test.assertRegex(out, rf"Bootoff [0-9a-fA-F]+ {boot_lba}\b")


# -- the whole lot ---------------------------------------------------------------------

def check_with_every_reader(test, image, expected, scratch, *, joliet):
    """Runs the tree checks with each available reader, one subTest each."""
    for reader in readers.ALL:
        with test.subTest(reader=reader.name):
            if not reader.available():
                test.skipTest(f"{reader.name} is not installed")
            if joliet:
                check_joliet_tree(test, reader, image, expected, scratch)
                if reader.reads_iso_tree_beside_joliet:
                    check_iso_tree(test, reader, image, expected, scratch)
            else:
                check_iso_tree(test, reader, image, expected, scratch)
