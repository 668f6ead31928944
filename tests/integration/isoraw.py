"""A small, independent reader of the image structures the tests check byte
by byte: volume descriptors, directory records of both trees, path tables and
the El Torito boot catalog.

It only parses; what counts as right is decided in the tests.
"""

import dataclasses
import struct

SECTOR = 2048

# Directory record flag bits.
FLAG_HIDDEN = 0x01
FLAG_DIRECTORY = 0x02
FLAG_MULTI_EXTENT = 0x80


@dataclasses.dataclass
class VolumeDescriptor:
    sector: int
    type: int
    raw: bytes

    @property
    def ident(self):
        return self.raw[1:6]

    @property
    def is_joliet(self):
        # A supplementary descriptor whose escape sequence names UCS-2 level 1, 2 or 3.
        return self.type == 2 and self.raw[88:91] in (b"%/@", b"%/C", b"%/E")


@dataclasses.dataclass
class Record:
    """One directory record, as found in its parent's extent."""
    parent: str          # path of the folder that holds it ("" for the root)
    ident: bytes         # raw file identifier
    name: str            # identifier decoded (ASCII for ISO 9660, UTF-16BE for Joliet)
    lba: int
    size: int
    flags: int
    offset: int          # byte offset of the record in the image

    @property
    def is_dir(self):
        return bool(self.flags & FLAG_DIRECTORY)

    @property
    def path(self):
        return f"{self.parent}/{self.name}" if self.parent else self.name


@dataclasses.dataclass
class Tree:
    root_lba: int
    root_size: int
    # Records per folder path, in on-disc order, without the "." and ".." records.
    folders: dict
    # Folder path -> (lba, size) of its own extent.
    extents: dict


class Image:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            f.seek(0, 2)
            self.size = f.tell()
        self._f = open(path, "rb")

    def close(self):
        self._f.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def read(self, offset, length):
        self._f.seek(offset)
        return self._f.read(length)

    def sector(self, lba, count=1):
        return self.read(lba * SECTOR, count * SECTOR)

    # -- volume descriptors -------------------------------------------------

    def descriptors(self):
        """The volume descriptor set from sector 16 up to and including the terminator."""
        result = []
        lba = 16
        while lba < 16 + 64:
            raw = self.sector(lba)
            if len(raw) < SECTOR:
                raise ValueError(f"image ends inside the descriptor set at sector {lba}")
            vd = VolumeDescriptor(lba, raw[0], raw)
            result.append(vd)
            if raw[0] == 255:
                return result
            lba += 1
        raise ValueError("no volume descriptor set terminator within 64 sectors")

    def primary(self):
        for vd in self.descriptors():
            if vd.type == 1:
                return vd
        raise ValueError("no primary volume descriptor")

    def joliet(self):
        for vd in self.descriptors():
            if vd.is_joliet:
                return vd
        return None

    def boot_record(self):
        for vd in self.descriptors():
            if vd.type == 0:
                return vd
        return None

    # -- directory trees -------------------------------------------------------

    def tree(self, vd):
        """Walks the tree of a primary or Joliet descriptor."""
        joliet = vd.is_joliet
        root = vd.raw[156:190]
        root_lba = struct.unpack_from("<I", root, 2)[0]
        root_size = struct.unpack_from("<I", root, 10)[0]
        folders, extents = {}, {}
        pending = [("", root_lba, root_size)]
        seen = set()
        while pending:
            path, lba, size = pending.pop()
            if lba in seen:
                raise ValueError(f"folder extent {lba} reached twice (loop in the tree)")
            seen.add(lba)
            extents[path] = (lba, size)
            records = []
            for rec in self._records(path, lba, size, joliet):
                if rec.ident in (b"\x00", b"\x01"):
                    continue
                records.append(rec)
                if rec.is_dir:
                    pending.append((rec.path, rec.lba, rec.size))
            folders[path] = records
        return Tree(root_lba, root_size, folders, extents)

    def _records(self, parent, lba, size, joliet):
        data = self.read(lba * SECTOR, size)
        pos = 0
        while pos < len(data):
            length = data[pos]
            if length == 0:
                # Records never cross a sector boundary: the rest of the sector is padding.
                pos = (pos // SECTOR + 1) * SECTOR
                continue
            raw = data[pos:pos + length]
            name_len = raw[32]
            ident = bytes(raw[33:33 + name_len])
            if ident in (b"\x00", b"\x01"):
                name = ident.decode("latin-1")
            elif joliet:
                name = ident.decode("utf-16-be", errors="surrogatepass")
            else:
                name = ident.decode("latin-1")
            yield Record(
                parent=parent,
                ident=ident,
                name=name,
                lba=struct.unpack_from("<I", raw, 2)[0],
                size=struct.unpack_from("<I", raw, 10)[0],
                flags=raw[25],
                offset=lba * SECTOR + pos,
            )
            pos += length

    # -- path tables -----------------------------------------------------------

    def path_table(self, vd, big_endian=False):
        """Rows (number, name bytes, extent lba, parent number) of the L or M path table."""
        size = struct.unpack_from("<I", vd.raw, 132)[0]
        if big_endian:
            lba = struct.unpack_from(">I", vd.raw, 148)[0]
            fmt_lba, fmt_parent = ">I", ">H"
        else:
            lba = struct.unpack_from("<I", vd.raw, 140)[0]
            fmt_lba, fmt_parent = "<I", "<H"
        data = self.read(lba * SECTOR, size)
        rows, pos, number = [], 0, 1
        while pos < size:
            name_len = data[pos]
            extent = struct.unpack_from(fmt_lba, data, pos + 2)[0]
            parent = struct.unpack_from(fmt_parent, data, pos + 6)[0]
            name = bytes(data[pos + 8:pos + 8 + name_len])
            rows.append((number, name, extent, parent))
            number += 1
            pos += 8 + name_len + (name_len & 1)
        return rows

    # -- El Torito -------------------------------------------------------------

    def boot_catalog(self):
        """(catalog lba, catalog sector bytes) named by the boot record, or None."""
        br = self.boot_record()
        if br is None:
            return None
        lba = struct.unpack_from("<I", br.raw, 71)[0]
        return lba, self.sector(lba)


def volume_space_size(vd):
    return struct.unpack_from("<I", vd.raw, 80)[0]


def validation_checksum_ok(entry):
    """The 32-byte validation entry's 16-bit words add up to zero."""
    words = struct.unpack("<16H", entry[:32])
    return sum(words) & 0xFFFF == 0


def iso_order_key(ident):
    """Sort key of an ISO 9660 file identifier: name, then extension (each
    compared as if padded with spaces), then version, highest first."""
    text = ident.decode("latin-1")
    body, _, version = text.partition(";")
    name, _, ext = body.partition(".")
    return (name.encode("latin-1"), ext.encode("latin-1"), -int(version or 0))
