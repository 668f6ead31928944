#!/usr/bin/env python3
"""Writes corpus/handmade-records.iso: a small image, record by record, with
what the usual tools never write and the fuzzer finds only by chance: files
told in several extents (whole and broken), a CD-XA header between records,
the longest Joliet name, hidden files, dates that are no dates and names that
are not safe as they are.

    python3 tests/fuzz/handmade_seed.py [OUTPUT]
"""
import os
import struct
import sys

SECTOR = 2048
ISO_ROOT, JOLIET_ROOT, ISO_SUB, JOLIET_SUB = 20, 21, 22, 23
DATA = 24  # five sectors of file data: 24 to 28
SECTORS = 29
DATE = bytes([123, 3, 15, 12, 0, 0, 0])  # 2023-03-15 12:00:00


def both16(v):
    return struct.pack("<H", v) + struct.pack(">H", v)


def both32(v):
    return struct.pack("<I", v) + struct.pack(">I", v)


def record(identifier, extent, length, flags=0, date=DATE):
    r = bytearray(33) + identifier
    if len(r) % 2:
        r += b"\0"
    assert len(r) <= 255
    r[0] = len(r)
    r[2:10] = both32(extent)
    r[10:18] = both32(length)
    r[18:25] = date
    r[25] = flags
    r[28:32] = both16(1)
    r[32] = len(identifier)
    return bytes(r)


def joliet(name):
    return name.encode("utf-16-be")


def dots(extent, parent):
    return record(b"\0", extent, SECTOR, 2) + record(b"\1", parent, SECTOR, 2)


def descriptor(kind, root, sectors=SECTORS, name=b"HANDMADE"):
    d = bytearray(SECTOR)
    d[0] = kind
    d[1:6] = b"CD001"
    d[6] = 1
    if kind == 255:
        return bytes(d)
    d[8:40] = name.ljust(32)
    d[40:72] = name.ljust(32)
    if kind == 2:
        d[88:91] = b"%/E"
    d[80:88] = both32(sectors)
    d[120:124] = both16(1)
    d[124:128] = both16(1)
    d[128:132] = both16(SECTOR)
    d[156:190] = record(b"\0", root, SECTOR, 2)
    d[881] = 1
    return bytes(d)


def xa_header():
    # A CD-XA header at a record's place: four zero bytes, then "UXA".
    return b"\0\0\0\0\x8dUXA" + bytes(6)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus",
                                                              "handmade-records.iso")
    image = bytearray(SECTORS * SECTOR)

    def put(sector, data):
        assert len(data) <= SECTOR
        image[sector * SECTOR:sector * SECTOR + len(data)] = data

    put(16, descriptor(1, ISO_ROOT))
    put(17, descriptor(2, JOLIET_ROOT))
    put(18, descriptor(255, 0))

    iso = dots(ISO_ROOT, ISO_ROOT)
    iso += record(b"MULTI.BIN;1", DATA, SECTOR, 0x80)
    iso += record(b"MULTI.BIN;1", DATA + 1, SECTOR, 0x80)
    iso += record(b"MULTI.BIN;1", DATA + 2, 100)
    iso += record(b"GAP.BIN;1", DATA, SECTOR, 0x80)
    iso += record(b"GAP.BIN;1", DATA + 3, 10, 0x80)  # does not follow: the file is dropped
    iso += record(b"GAP.BIN;1", DATA + 4, 10)
    iso += record(b"ODD.BIN;1", DATA, 100, 0x80)  # only a last extent may be a part of a sector
    iso += xa_header()
    iso += record(b"AFTERXA.TXT;1", DATA + 3, 5)
    iso += record(b"HIDDEN.TXT;1", DATA + 3, 5, 0x01)
    iso += record(b"BADDATE.TXT;1", DATA + 3, 5, 0, bytes([200, 13, 32, 24, 60, 60, 0]))
    iso += record(b"EMPTY.TXT;1", 0, 0)
    iso += record(b"SUB", ISO_SUB, SECTOR, 2)
    put(ISO_ROOT, iso)
    put(ISO_SUB, dots(ISO_SUB, ISO_ROOT) + record(b"IN_SUB.TXT;1", DATA + 4, 7))

    jol = dots(JOLIET_ROOT, JOLIET_ROOT)
    jol += record(joliet("multi extent.bin;1"), DATA, SECTOR, 0x80)
    jol += record(joliet("multi extent.bin;1"), DATA + 1, SECTOR, 0x80)
    jol += record(joliet("multi extent.bin;1"), DATA + 2, 100)
    jol += record(joliet("a/b\\c\x01d.txt;1"), DATA + 3, 5)
    jol += record(joliet(".."), DATA + 3, 5)
    jol += record(joliet("x" * 108), DATA + 3, 5, 0x01)  # 108 characters, hidden
    jol += record(joliet("Ünïcode ñame.txt;1"), DATA + 3, 5)
    jol += record(joliet("Sub folder"), JOLIET_SUB, SECTOR, 2)
    put(JOLIET_ROOT, jol)
    put(JOLIET_SUB, dots(JOLIET_SUB, JOLIET_ROOT) + record(joliet("in sub.txt;1"), DATA + 4, 7))

    put(DATA, b"a" * SECTOR)
    put(DATA + 1, b"b" * SECTOR)
    put(DATA + 2, b"c" * 100)
    put(DATA + 3, b"hello")
    put(DATA + 4, b"in sub\n")
    with open(out, "wb") as f:
        f.write(image)


if __name__ == "__main__":
    main()
