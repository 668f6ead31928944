#!/usr/bin/python3
"""Writes docs/benchmarks.md and its plots from the raw numbers bench/report.sh
keeps in $BENCH_DIR/results (runs.csv, meta.tsv, checks.tsv, layout.txt), and
prints the summary with every goal's PASS or FAIL. Measures nothing, so it can
be run again on old results:

    /usr/bin/python3 bench/plot_report.py [--results DIR] [--docs DIR]

Exits 0 whether or not the goals are met (the report says which are not);
1 only when the results cannot be read.
"""

import argparse
import csv
import os
import statistics
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend comes first)

TOOLS = ["default", "quick", "genisoimage", "xorriso", "cat"]
TOOL_NAMES = {
    "default": "fornax default",
    "quick": "fornax --quick",
    "genisoimage": "genisoimage",
    "xorriso": "xorriso",
    "cat": "cat limit",
}
COLORS = {"default": "#1f5fa8", "quick": "#6fa8dc", "genisoimage": "#e69138", "xorriso": "#93c47d", "cat": "#666666"}
TREES = ["a", "b", "c", "d", "e"]
TIMED_OUT = 124  # interleave.py's exit for a command it stopped
GOAL_TREES = ["a", "b", "c", "d"]
MEDIA = [("dvd+r", "DVD+R"), ("cd-r", "CD-R"), ("dvd-r", "DVD-R")]
# Goals of the issue, at scale 1.
CAT_RATIO_GOAL = 1.3
BIG_SECONDS_GOAL = 5.0
BIG_MIB_GOAL = 300
BIG_BYTES_PER_ENTRY_GOAL = 512
WAIT_GOAL = 1.0
BURN_RATIO_GOAL = 1.5


class Runs:
    """The timed runs of one tool in one group."""

    def __init__(self, rows):
        # Repetition 0 is the checking build before the repetitions; it counts
        # only for a tool that was too slow to be repeated.
        repeated = [r for r in rows if int(r["rep"]) >= 1]
        self.once = not repeated
        rows = repeated or rows
        self.wall = [float(r["wall_s"]) for r in rows]
        self.cpu = [float(r["user_s"]) + float(r["sys_s"]) for r in rows]
        self.wait = [w - c for w, c in zip(self.wall, self.cpu)]
        self.rss_kib = [int(r["maxrss_kib"]) for r in rows]
        self.failed = sum(int(r["exit"]) not in (0, TIMED_OUT) for r in rows)
        self.stopped = any(int(r["exit"]) == TIMED_OUT for r in rows)

    @property
    def median(self):
        return statistics.median(self.wall)

    def text(self):
        """Median seconds as the tables show them: a stopped run as a floor."""
        return f"> {self.median:.0f}" if self.stopped else seconds(self.median)


def read_meta(path):
    meta = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("\t")
            meta[key] = value
    return meta


def read_runs(path):
    groups = {}
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f):
            groups.setdefault(row["group"], {}).setdefault(row["tool"], []).append(row)
    return {g: {t: Runs(rows) for t, rows in tools.items()} for g, tools in groups.items()}


def read_checks(path):
    if not os.path.exists(path):
        return []
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def size_text(n):
    n = int(n)
    for unit, factor in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= factor:
            value = n / factor
            return f"{value:.0f} {unit}" if value == int(value) else f"{value:.1f} {unit}"
    return f"{n} bytes" if n else "0"


def count(n):
    return f"{int(n):,}"


def tree_label(meta, key):
    files = int(meta[f"tree.{key}.files"])
    folders = int(meta[f"tree.{key}.folders"])
    low, high = int(meta[f"tree.{key}.min"]), int(meta[f"tree.{key}.max"])
    if key == "e":
        entries = int(meta[f"tree.{key}.entries"])
        return f"{count(entries)} entries: {count(files)} empty files in {count(folders)} folders"
    if low == high and folders == 0:
        return f"{files} × {size_text(low)} of random bytes"
    sizes = f"{size_text(low)}–{size_text(high)}".replace(" KiB–", "–") if low else f"0–{size_text(high)}"
    place = "in one folder" if meta.get(f"tree.{key}.one_folder") == "yes" else f"in {count(folders)} folders"
    return f"{count(files)} files of {sizes} {place}"


def seconds(value):
    return f"{value:.3f}" if value < 10 else f"{value:.2f}"


def verdict(ok):
    return "PASS" if ok else "**FAIL**"


class Report:
    def __init__(self, results):
        self.results = results
        self.meta = read_meta(os.path.join(results, "meta.tsv"))
        runs_csv = os.path.join(results, "runs.csv")
        self.groups = read_runs(runs_csv) if os.path.exists(runs_csv) else {}
        self.checks = read_checks(os.path.join(results, "checks.tsv"))
        self.trees = [k for k in TREES if k in self.groups and f"tree.{k}.files" in self.meta]
        self.goals = []  # (what, measured text, ok)

    def runs(self, group, tool):
        return self.groups.get(group, {}).get(tool)

    def ratio(self, group, tool, against):
        a, b = self.runs(group, tool), self.runs(group, against)
        return a.median / b.median if a and b and b.median > 0 else None

    def evaluate_goals(self):
        for key in self.trees:
            if key not in GOAL_TREES:
                continue
            r = self.ratio(key, "default", "cat")
            if r is not None:
                self.goals.append((f"({key}) default ≤ {CAT_RATIO_GOAL} × cat", f"{r:.2f} ×", r <= CAT_RATIO_GOAL))
            r = self.ratio(key, "default", "quick")
            if r is not None:
                self.goals.append((f"({key}) default never slower than --quick", f"{r:.2f} ×", r <= 1.0))
        big = self.runs("e", "default")
        if big:
            entries = int(self.meta["tree.e.entries"])
            peak = max(big.rss_kib)
            self.goals.append((f"({count(entries)} entries) default < {BIG_SECONDS_GOAL:g} s",
                               f"{big.median:.2f} s", big.median < BIG_SECONDS_GOAL))
            self.goals.append((f"({count(entries)} entries) peak memory < {BIG_MIB_GOAL} MiB",
                               f"{peak / 1024:.0f} MiB", peak / 1024 < BIG_MIB_GOAL))
            per_entry = peak * 1024 / entries
            self.goals.append((f"({count(entries)} entries) ≤ {BIG_BYTES_PER_ENTRY_GOAL / 1024:g} KiB per entry",
                               f"{per_entry / 1024:.2f} KiB", per_entry <= BIG_BYTES_PER_ENTRY_GOAL))
        for medium, name in MEDIA:
            burn = self.runs("burn-one", medium)
            if burn:
                wait = statistics.median(burn.wait)
                self.goals.append((f"one-file burn to {name}: waiting < {WAIT_GOAL:g} s", f"{wait:.2f} s",
                                   wait < WAIT_GOAL))
        r = self.ratio("burn-b", "burn", "cat")
        if r is not None:
            self.goals.append((f"burn of tree (b), {size_text(self.meta.get('burn_bytes', 0))}, ≤ {BURN_RATIO_GOAL} × cat",
                               f"{r:.2f} ×", r <= BURN_RATIO_GOAL))
        for group, tools in self.groups.items():
            for tool, runs in tools.items():
                if runs.stopped and tool in ("default", "quick"):
                    self.goals.append((f"{TOOL_NAMES[tool]} on ({group}) finishes", "stopped", False))
                if runs.failed:
                    self.goals.append((f"every run of {TOOL_NAMES.get(tool, tool)} in {group} succeeds",
                                       f"{runs.failed} failed", False))
        for c in self.checks:
            if c["result"] not in ("ok", "TIMEOUT"):
                self.goals.append((f"check of {TOOL_NAMES.get(c['tool'], c['tool'])} on ({c['tree']})",
                                   c["detail"], False))

    # --- text -------------------------------------------------------------

    def summary_lines(self):
        lines = []
        for key in self.trees:
            lines.append(f"({key}) {tree_label(self.meta, key)}")
            for tool in TOOLS:
                r = self.runs(key, tool)
                if not r:
                    continue
                ratio = self.ratio(key, tool, "cat")
                lines.append(f"  {TOOL_NAMES[tool]:15} {'STOPPED' if r.stopped else 'ONE RUN' if r.once else 'median':7} {r.median:8.3f} s  (min {min(r.wall):.3f}, "
                             f"max {max(r.wall):.3f}, CPU {statistics.median(r.cpu):.3f} s, "
                             f"peak {max(r.rss_kib) / 1024:.0f} MiB)"
                             + (f"  {ratio:.2f} × cat" if ratio is not None and tool != "cat" else ""))
        for medium, name in MEDIA:
            r = self.runs("burn-one", medium)
            if r:
                lines.append(f"one-file burn to {name}: wall {r.median:.2f} s, CPU {statistics.median(r.cpu):.2f} s, "
                             f"waiting {statistics.median(r.wait):.2f} s")
        burn, cat = self.runs("burn-b", "burn"), self.runs("burn-b", "cat")
        if burn and cat:
            lines.append(f"burn of tree (b) to DVD+R: burn {burn.median:.2f} s, cat {cat.median:.2f} s, "
                         f"{burn.median / cat.median:.2f} × cat")
        lines.append("")
        for what, measured, ok in self.goals:
            lines.append(f"{'PASS' if ok else 'FAIL'}  {what}: {measured}")
        missed = [g for g in self.goals if not g[2]]
        lines.append("")
        lines.append(f"{len(self.goals) - len(missed)} of {len(self.goals)} goals met"
                     + ("." if not missed else f"; NOT MET: {len(missed)} (FAIL above)."))
        if float(self.meta.get("scale", 1)) < 1:
            lines.append(f"Scale {self.meta['scale']}: the goals are meant for scale 1.")
        return lines

    def header(self):
        m = self.meta
        changes = int(m.get("uncommitted", 0) or 0)
        scratch = f"scratch folder on {m.get('filesystem', '?')}" + (" (under /tmp)" if m.get("scratch_under_tmp") == "yes" else "")
        load = f"{m.get('load_start', '?')} at the start, {m.get('load_end', '?')} at the end (1, 5, 15 minutes)"
        xorriso = m.get("xorriso", "").split(" : ")[0]
        rows = [
            ("command", f"`{m.get('command', 'bench/report.sh')}`"),
            ("date", m.get("date", "?")),
            ("commit", m.get("commit", "?") + (f", with {changes} uncommitted change(s) in engine/, cli/, simdrive/" if changes else "")),
            ("machine", f"{m.get('cores', '?')} cores ({m.get('cpu', '?')}), {m.get('ram_gib', '?')} GiB RAM, "
                        f"{m.get('kernel', '?')}, {scratch}"),
            ("load average", load),
            ("runs", f"{m.get('runs', '?')} interleaved runs at scale {m.get('scale', '?')}"
                     + (f"; the whole command took {m['minutes']} minutes" if "minutes" in m else "")),
            ("peers", f"{m.get('genisoimage', '?')}, {xorriso}"),
        ]
        if m.get("page_reporting", "none") != "none":
            rows.append(("free page reporting", m["page_reporting"]))
        out = ["| | |", "|---|---|"]
        out += [f"| {k} | {v} |" for k, v in rows]
        return out

    def markdown(self):
        m = self.meta
        runs = m.get("runs", "?")
        md = ["# Benchmarks", "",
              "Image builds and burns of Fornax next to genisoimage, xorriso and the cat limit, all in one run on "
              "one machine. Generated by `bench/report.sh` (see [bench/README.md](../bench/README.md)); do not edit "
              "by hand.", ""]
        md += self.header()
        md += ["",
               f"Every figure is the median of {runs} runs. The runs are interleaved: each repetition runs every "
               "tool once, in an order that rotates between repetitions, so that a slow streak of the machine is "
               "shared. Before each run the previous output is deleted and the file system synced (outside the "
               "timing); the sources are in the page cache (an untimed pass first builds every image once and reads "
               "it back with `isoinfo -f -J` to check that it holds every file and folder). The **cat limit** is "
               "`find TREE -type f -print0 | xargs -0 cat > OUT`: reading every file once and writing the bytes to one "
               "file on the same file system, the least any image builder has to do.", ""]
        if float(m.get("scale", 1)) < 1:
            md += [f"**Scale {m['scale']}**: trees shrunk for a quick try; the goals are meant for scale 1.", ""]

        md += ["## Goals", "", "| goal | measured | |", "|---|---|---|"]
        md += [f"| {what} | {measured} | {verdict(ok)} |" for what, measured, ok in self.goals]
        missed = sum(not g[2] for g in self.goals)
        md += ["", f"{len(self.goals) - missed} of {len(self.goals)} goals met.", ""]

        if self.trees:
            md += ["## Image builds", "",
                   "Median seconds, and in brackets the ratio to the cat limit of the same tree (below 1: faster "
                   "than reading and writing every byte once).", "",
                   "| tree | " + " | ".join(TOOL_NAMES[t] for t in TOOLS) + " |",
                   "|---|" + "---:|" * len(TOOLS)]
            for key in self.trees:
                cells = []
                for tool in TOOLS:
                    r = self.runs(key, tool)
                    ratio = self.ratio(key, tool, "cat")
                    if not r:
                        cells.append("–")
                    elif tool == "cat":
                        cells.append(r.text() + (" †" if r.once else ""))
                    else:
                        cells.append(f"{r.text()} ({'> ' if r.stopped else ''}{ratio:.2f}×)" + (" †" if r.once else ""))
                md.append(f"| ({key}) {tree_label(m, key)} | " + " | ".join(cells) + " |")
            if any(r.once for k in self.trees for r in self.groups[k].values()):
                md += ["", f"† One run only: its first build of the tree took longer than {m.get('slow', '?')} s "
                       "(`BENCH_SLOW`), so it was not repeated; a time with > was stopped there "
                       f"(`BENCH_TIMEOUT`, {m.get('timeout', '?')} s)."]
            md += ["", "![Time per tree and tool](benchmarks-trees.png)", ""]
            if any(k in self.trees for k in ("a", "c", "d", "e")):
                md += ["![Time per number of files](benchmarks-files.png)", ""]

            md += ["### Ratios", "", "| tree | default / cat | --quick / cat | default / --quick | genisoimage / cat | xorriso / cat |",
                   "|---|---:|---:|---:|---:|---:|"]
            pairs = [("default", "cat"), ("quick", "cat"), ("default", "quick"), ("genisoimage", "cat"), ("xorriso", "cat")]
            for key in self.trees:
                cells = []
                for a, b in pairs:
                    r = self.ratio(key, a, b)
                    cells.append("–" if r is None else f"{r:.2f}")
                md.append(f"| ({key}) | " + " | ".join(cells) + " |")
            md.append("")

        if "e" in self.trees:
            entries = int(m["tree.e.entries"])
            md += [f"### {count(entries)} entries", "",
                   "Median seconds, the highest peak resident memory of the runs, and that memory per entry (files "
                   "and folders).", "",
                   "| tool | seconds | peak memory | per entry |", "|---|---:|---:|---:|"]
            for tool in TOOLS:
                r = self.runs("e", tool)
                if r:
                    peak = max(r.rss_kib)
                    md.append(f"| {TOOL_NAMES[tool]} | {seconds(r.median)} | {peak / 1024:.0f} MiB | "
                              f"{peak * 1024 / entries:.0f} bytes |")
            md += ["", "For cat the figures are of its largest process (`find`, `xargs` or `cat`).", ""]

        if "burn-one" in self.groups or "burn-b" in self.groups:
            md += ["## Burns to the simulated recorder", "",
                   "`fornax-cli burn` with the simulated recorder (`--transport libfornax-simdrive.so`), a fresh drive "
                   "with a blank disc before every run (`vdrive insert`, then `vdrive speed 0`: the drive writes as "
                   "fast as it can) and `FORNAX_PACE_DIVISOR=1`, so the engine's own waits take their real time. "
                   "Waiting is wall time minus CPU time (user + system): time the burn spent neither computing nor "
                   "moving data.", "",
                   "| burn | wall (min–max) | CPU | waiting |", "|---|---:|---:|---:|"]
            size = size_text(m.get("one_file_bytes", 0))
            for medium, name in MEDIA:
                r = self.runs("burn-one", medium)
                if r:
                    md.append(f"| one file ({size}) to a blank {name} | {r.median:.2f} s ({min(r.wall):.2f}–"
                              f"{max(r.wall):.2f}) | {statistics.median(r.cpu):.2f} s | "
                              f"{statistics.median(r.wait):.2f} s |")
            burn, cat = self.runs("burn-b", "burn"), self.runs("burn-b", "cat")
            if burn and cat:
                md.append(f"| tree (b), {size_text(m.get('burn_bytes', 0))}, to a blank DVD+R | {burn.median:.2f} s "
                          f"({min(burn.wall):.2f}–{max(burn.wall):.2f}) | {statistics.median(burn.cpu):.2f} s | "
                          f"{statistics.median(burn.wait):.2f} s |")
                md += ["", f"The same files with the cat limit, interleaved with those burns: {cat.median:.2f} s "
                       f"({min(cat.wall):.2f}–{max(cat.wall):.2f}); the burn takes **{burn.median / cat.median:.2f} ×** "
                       "as long."]
            md.append("")

        if self.trees:
            md += ["## Every image build", "", "Median wall seconds (min–max) and median CPU seconds (user + system).", "",
                   "| tree | tool | wall | min–max | CPU |", "|---|---|---:|---:|---:|"]
            for key in self.trees:
                for tool in TOOLS:
                    r = self.runs(key, tool)
                    if r:
                        md.append(f"| ({key}) | {TOOL_NAMES[tool]}{' †' if r.once else ''} | {r.text()} | {min(r.wall):.3f}–"
                                  f"{max(r.wall):.3f} | {statistics.median(r.cpu):.3f} |")
            md.append("")
            md += ["The commands, with OUT the image and TREE the source folder:", "",
                   "| tool | command |", "|---|---|",
                   "| fornax default | `fornax-cli iso OUT TREE` (read-ahead cache on a thread of its own; Rock Ridge on) |",
                   "| fornax --quick | `fornax-cli iso OUT TREE --quick` (one pass on one thread) |",
                   "| genisoimage | `genisoimage -quiet -J -joliet-long -o OUT TREE` |",
                   "| xorriso | `xorriso -as mkisofs -quiet -J -joliet-long -o OUT TREE` |",
                   "| cat limit | `find TREE -type f -print0 \\| xargs -0 cat > OUT` |", ""]

        layout = os.path.join(self.results, "layout.txt")
        if os.path.exists(layout):
            with open(layout, encoding="utf-8") as f:
                text = f.read().rstrip()
            md += ["## Layout in memory", "",
                   "`fornax_layout_bench`: synthetic listings fed to the layout, no files on disk "
                   f"({m.get('layout', 'no verdict')}).", "", "```", text, "```", ""]
        return "\n".join(md)

    # --- plots ------------------------------------------------------------

    def plot_trees(self, path):
        keys = self.trees
        fig, ax = plt.subplots(figsize=(9, 4.8))
        width = 0.8 / len(TOOLS)
        for i, tool in enumerate(TOOLS):
            xs, ys, lo, hi = [], [], [], []
            for j, key in enumerate(keys):
                r = self.runs(key, tool)
                if not r:
                    continue
                xs.append(j + (i - (len(TOOLS) - 1) / 2) * width)
                ys.append(r.median)
                lo.append(r.median - min(r.wall))
                hi.append(max(r.wall) - r.median)
            ax.bar(xs, ys, width, label=TOOL_NAMES[tool], color=COLORS[tool], yerr=[lo, hi], capsize=2,
                   error_kw={"linewidth": 0.8})
        ax.set_xticks(range(len(keys)))
        ax.set_xticklabels([f"({k})\n{self.short_label(k)}" for k in keys], fontsize=8)
        medians = [r.median for k in keys for r in self.groups[k].values()]
        if medians and max(medians) / max(min(medians), 1e-3) > 20:
            ax.set_yscale("log")
        ax.set_ylabel("seconds (median; bars: min–max)")
        ax.set_title(f"Image build time per tree (scale {self.meta.get('scale', '?')}, "
                     f"{self.meta.get('runs', '?')} interleaved runs)")
        ax.grid(axis="y", which="both", alpha=0.3)
        ax.legend(fontsize=8)
        fig.tight_layout()
        fig.savefig(path, dpi=110)
        plt.close(fig)

    def short_label(self, key):
        m = self.meta
        files = count(m[f"tree.{key}.files"])
        if key == "b":
            return f"{m['tree.b.files']} × {size_text(m['tree.b.min'])}"
        if key == "e":
            return f"{count(m['tree.e.entries'])} entries"
        if key == "d":
            return f"{files} files, one folder"
        return f"{files} files"

    def plot_files(self, path):
        keys = [k for k in ("a", "c", "d", "e") if k in self.trees]
        if not keys:
            return False
        keys.sort(key=lambda k: int(self.meta[f"tree.{k}.files"]))
        fig, ax = plt.subplots(figsize=(8, 4.8))
        for tool in TOOLS:
            points = [(int(self.meta[f"tree.{k}.files"]), self.runs(k, tool).median, k)
                      for k in keys if self.runs(k, tool)]
            if not points:
                continue
            ax.plot([p[0] for p in points], [p[1] for p in points], marker="o", label=TOOL_NAMES[tool],
                    color=COLORS[tool])
        for k in keys:
            ys = [r.median for r in self.groups[k].values()]
            ax.annotate(f"({k})", (int(self.meta[f"tree.{k}.files"]), max(ys)), textcoords="offset points",
                        xytext=(0, 6), ha="center", fontsize=8)
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("files in the tree")
        ax.set_ylabel("seconds (median)")
        ax.set_title("Image build time per number of files: (a) 1–64 KiB, (c), (d) 0–2 KiB, (e) empty",
                     fontsize=10)
        ax.grid(which="both", alpha=0.3)
        ax.legend(fontsize=8)
        fig.tight_layout()
        fig.savefig(path, dpi=110)
        plt.close(fig)
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--results", default="/tmp/fornax-bench/results")
    parser.add_argument("--docs", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs"))
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.results, "meta.tsv")):
        print(f"plot_report: no results in {args.results}; run bench/report.sh first", file=sys.stderr)
        return 1

    report = Report(args.results)
    report.evaluate_goals()
    docs = os.path.normpath(args.docs)
    os.makedirs(docs, exist_ok=True)
    written = []
    if report.trees:
        report.plot_trees(os.path.join(docs, "benchmarks-trees.png"))
        written.append("benchmarks-trees.png")
        if report.plot_files(os.path.join(docs, "benchmarks-files.png")):
            written.append("benchmarks-files.png")
    with open(os.path.join(docs, "benchmarks.md"), "w", encoding="utf-8") as f:
        f.write(report.markdown())
    written.insert(0, "benchmarks.md")

    lines = report.summary_lines()
    with open(os.path.join(args.results, "summary.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    print(f"\nWritten: {', '.join(os.path.join(docs, w) for w in written)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
