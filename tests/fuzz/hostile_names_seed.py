#!/usr/bin/env python3
"""Writes corpus/hostile-names-*.iso: discs whose names would lead an
extraction out of its folder if a name were ever turned into "..": a chain of
folders named "..." (a final dot dropped as "no extension" would make each
one climb a level) down to victim/target.txt, told by a Joliet name, by an
ISO 9660 identifier and by a Rock Ridge NM entry (whole, split by CONTINUE,
and in a continuation area), beside names that differ on the disc and not
once extracted ("SAME." and "SAME").

    python3 tests/fuzz/hostile_names_seed.py [FOLDER]
"""
import os
import sys

import handmade_seed
from handmade_seed import SECTOR, both32, dots, joliet, record

ROCK_RIDGE_SWITCH = 0x20  # byte 0 of the image: the fuzzer reads Rock Ridge


def descriptor(kind, root, sectors):
    return handmade_seed.descriptor(kind, root, sectors, b"HOSTILE")


def sp():
    return b"SP\x07\x01\xbe\xef\x00"


def nm(name, flags=0):
    return b"NM" + bytes([5 + len(name), 1, flags]) + name


def ce(block, offset, length):
    return b"CE\x1c\x01" + both32(block) + both32(offset) + both32(length)


def rr_record(identifier, extent, length, flags, use):
    r = bytearray(record(identifier, extent, length, flags))
    r += use
    if len(r) % 2:
        r += b"\0"
    r[0] = len(r)
    return bytes(r)


class Disc:
    def __init__(self, sectors):
        self.sectors = sectors
        self.image = bytearray(sectors * SECTOR)

    def put(self, sector, data):
        assert len(data) <= SECTOR
        self.image[sector * SECTOR:sector * SECTOR + len(data)] = data

    def chain(self, first, name, levels, tail, make_record):
        """Folders `name` from sector `first` on, `levels` deep, the last
        holding victim/target.txt; returns the sector after them."""
        at = first
        for level in range(levels):
            parent = at - 1 if level else tail["root"]
            self.put(at, dots(at, parent) + make_record(level, name, at + 1, SECTOR, 2))
            at += 1
        victim = at
        self.put(victim, dots(victim, victim - 1) + make_record(levels, tail["file"], tail["data"], 5, 0))
        return victim + 1

    def write(self, path, switches=0):
        self.image[0] = switches
        with open(path, "wb") as f:
            f.write(self.image)


def joliet_disc(path):
    d = Disc(40)
    d.put(16, descriptor(1, 20, 40))
    d.put(17, descriptor(2, 21, 40))
    d.put(18, descriptor(255, 0, 40))
    d.put(20, dots(20, 20) + record(b"PLAIN.TXT;1", 39, 5))
    d.put(21, dots(21, 21) + record(joliet("..."), 22, SECTOR, 2) + record(joliet("SAME."), 39, 5) +
          record(joliet("SAME"), 39, 5) + record(joliet(". ."), 39, 5) + record(joliet("....;1"), 39, 5))

    def rec(level, name, extent, length, flags):
        if flags:
            return record(joliet(name if level < 3 else "victim"), extent, length, flags)
        return record(joliet("target.txt;1"), extent, length, flags)

    d.chain(22, "...", 4, {"root": 21, "file": "target.txt", "data": 39}, rec)
    d.put(39, b"owned")
    d.write(path)


def iso_disc(path):
    d = Disc(40)
    d.put(16, descriptor(1, 20, 40))
    d.put(17, descriptor(255, 0, 40))
    d.put(20, dots(20, 20) + record(b"...", 21, SECTOR, 2) + record(b"..;1", 39, 5) + record(b"SAME.;1", 39, 5) +
          record(b"SAME;1", 39, 5))

    def rec(level, name, extent, length, flags):
        if flags:
            return record(b"..." if level < 2 else b"VICTIM", extent, length, flags)
        return record(b"TARGET.TXT;1", extent, length, flags)

    d.chain(21, "...", 3, {"root": 20, "file": "TARGET.TXT;1", "data": 39}, rec)
    d.put(39, b"owned")
    d.write(path)


def rock_ridge_disc(path):
    d = Disc(40)
    d.put(16, descriptor(1, 20, 40))
    d.put(17, descriptor(255, 0, 40))
    root = rr_record(b"\0", 20, SECTOR, 2, sp()) + record(b"\1", 20, SECTOR, 2)
    d.put(20, root + rr_record(b"A", 21, SECTOR, 2, nm(b"...")))
    # "..." told in two NM entries, the first marked CONTINUE.
    d.put(21, dots(21, 20) + rr_record(b"B", 22, SECTOR, 2, nm(b".", 1) + nm(b"..")))
    # "..." in a continuation area at sector 38.
    d.put(22, dots(22, 21) + rr_record(b"C", 23, SECTOR, 2, ce(38, 100, 8)))
    d.put(23, dots(23, 22) + rr_record(b"D", 24, SECTOR, 2, nm(b"...") + nm(b"", 0)))
    d.put(24, dots(24, 23) + rr_record(b"VICTIM", 25, SECTOR, 2, nm(b"victim")))
    d.put(25, dots(25, 24) + rr_record(b"TARGET.TXT;1", 39, 5, 0, nm(b"target.txt")) +
          rr_record(b"SAME_1", 39, 5, 0, nm(b"same.")) + rr_record(b"SAME_2", 39, 5, 0, nm(b"same")))
    cont = bytearray(SECTOR)
    cont[100:108] = nm(b"...")
    d.put(38, bytes(cont))
    d.put(39, b"owned")
    d.write(path, ROCK_RIDGE_SWITCH)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    joliet_disc(os.path.join(folder, "hostile-names-joliet.iso"))
    iso_disc(os.path.join(folder, "hostile-names-iso.iso"))
    rock_ridge_disc(os.path.join(folder, "hostile-names-rockridge.iso"))


if __name__ == "__main__":
    main()
