"""Source trees the tests build images from."""

import os

from itsupport import Expected, random_bytes, write_file

# Exactly 108 characters, the longest file name the Joliet tree takes.
NAME_108 = "Minutes of the yearly planning meeting held in the north offices, with every action items listed (final).txt"
assert len(NAME_108) == 108, len(NAME_108)


def make_varied_tree(base):
    """Two source folders, A and B, meant to be merged into one root (-p flat).

    Returns (folders to pass on the command line, Expected for -p flat)."""
    a = os.path.join(base, "A")
    b = os.path.join(base, "B")
    files = {
        # nested folders, four levels
        "A/top/mid/deep/deepest/leaf.txt": b"leaf\n",
        "A/top/mid/note.txt": b"a note in the middle\n",
        # empty files, also alone in a folder
        "A/empty.txt": b"",
        "A/blank/zero.dat": b"",
        # one byte, and sizes around a sector
        "A/one.bin": b"\x7f",
        "A/sizes/s2047.bin": random_bytes(2047, 2047),
        "A/sizes/s2048.bin": random_bytes(2048, 2048),
        "A/sizes/s2049.bin": random_bytes(2049, 2049),
        "A/sizes/s4096.bin": random_bytes(4096, 4096),
        # spaces, non-ASCII, CJK and emoji
        "A/with spaces/a file with spaces.txt": b"spaces all around\n",
        "A/My Report 2024.docx": random_bytes(3000, 2024),
        "A/ñandú.txt": "ñandú\n".encode(),
        "A/日本語のファイル.txt": "日本語\n".encode(),
        "A/emoji 😀 party.txt": "😀\n".encode(),
        "A/" + NAME_108: b"one hundred and eight\n",
        # no extension
        "A/README": b"read me first\n",
        "A/Makefile": b"all:\n\ttrue\n",
        "A/top/LICENSE": b"free to use\n",
        # dot files and a dot folder
        "A/.hidden": b"hidden\n",
        "A/.config/settings.ini": b"[main]\nkey=value\n",
        # 8.3 aliases that collide once A and B share the root
        "A/Long Name One.txt": b"from A\n",
        "B/Long Name Other.txt": b"from B\n",
        "B/Long Name Third.txt": b"also from B\n",
        # a folder of the same name in both, merged
        "B/top/from-b.txt": b"merged into top\n",
    }
    for rel, data in files.items():
        write_file(os.path.join(base, rel), data)
    os.makedirs(os.path.join(a, "empty folder", "empty below"), exist_ok=True)

    expected = Expected()
    expected.add_folder("", a)
    expected.add_folder("", b)
    return [a, b], expected


def make_project_tree(base):
    """A small made-up project, the kind of folder a newcomer would back up."""
    root = os.path.join(base, "garden-planner")
    files = {
        "README.md": b"# Garden planner\n\nPlans what to sow and when.\n",
        "LICENSE": b"MIT\n",
        ".gitignore": b"build/\n*.o\n",
        "Makefile": b"all: planner\n",
        "src/main.c": b"int main(void) { return 0; }\n",
        "src/planner.c": b"/* planner */\n" * 200,
        "src/planner.h": b"#pragma once\n",
        "docs/user guide.md": b"How to use it.\n" * 300,
        "docs/images/layout.png": random_bytes(15000, 7),
        "data/seeds.csv": b"name,month\ncarrot,3\n",
    }
    for rel, data in files.items():
        write_file(os.path.join(root, rel), data)
    os.makedirs(os.path.join(root, "build"), exist_ok=True)  # empty: left out
    return root
