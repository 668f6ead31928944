#!/usr/bin/python3
"""Times commands interleaved: each repetition runs every command once, in an
order that rotates from one repetition to the next, before the next repetition
starts. On a virtual machine the cost of fresh page cache and of writeback
drifts in streaks; blocks of runs of one command (as hyperfine makes them)
hand one command the slow streak, interleaving spreads it over all of them.

    interleave.py --runs N --csv FILE --log FILE --group NAME
                  --tool NAME PREPARE COMMAND [--tool ...]

PREPARE runs untimed before every run of its command (for example: delete
the previous output and sync). Both are bash command lines. For every timed
run one row is appended to FILE:

    group,tool,rep,position,wall_s,user_s,sys_s,maxrss_kib,exit

wall_s is the time from start to exit; user_s and sys_s the CPU time of the
command and every process it waited for; maxrss_kib the peak resident memory
of its largest process. The peak comes from GNU time when it is installed:
a process started straight from here inherits this interpreter's peak
(about 11 MiB), one started by GNU time only that of the small time program. The commands' output goes to the log. Exits 1 when a
prepare step fails; a command that fails is recorded (exit column) and
reported, not fatal: the report says which numbers are not to be trusted.
With --timeout a command still running after that many seconds is killed
(with everything it started) and recorded with exit 124.
"""

import argparse
import csv
import os
import signal
import sys
import time

FIELDS = ["group", "tool", "rep", "position", "wall_s", "user_s", "sys_s", "maxrss_kib", "exit"]


GNU_TIME = "/usr/bin/time"


def spawn(argv, log):
    """Starts argv with its output appended to the log."""
    actions = [
        (os.POSIX_SPAWN_OPEN, 1, log, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644),
        (os.POSIX_SPAWN_DUP2, 1, 2),
        (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
    ]
    return os.posix_spawn(argv[0], argv, os.environ, file_actions=actions, setsid=True)


def gnu_time():
    try:
        with os.popen(f"{GNU_TIME} --version 2>&1") as f:
            return "GNU" in f.read()
    except OSError:
        return False


TIMED_OUT = 124


def run_timed(command, log, peak_file, limit):
    """Runs the command in a process group of its own, which is killed after
    limit seconds (0: no limit); a command stopped so exits with TIMED_OUT."""
    argv = ["/bin/bash", "-c", command]
    if peak_file:
        argv = [GNU_TIME, "-q", "-f", "%M", "-o", peak_file] + argv
        if os.path.exists(peak_file):
            os.remove(peak_file)
    started = time.perf_counter()
    pid = spawn(argv, log)
    stopped = False
    while True:
        waited, status, usage = os.wait4(pid, os.WNOHANG if limit else 0)
        if waited:
            break
        if time.perf_counter() - started > limit:
            os.killpg(pid, signal.SIGKILL)
            stopped = True
            waited, status, usage = os.wait4(pid, 0)
            break
        time.sleep(0.002)
    wall = time.perf_counter() - started
    peak = usage.ru_maxrss
    if peak_file and os.path.exists(peak_file):
        with open(peak_file) as f:
            words = f.read().split()
            if words and words[-1].isdigit():
                peak = int(words[-1])
    code = TIMED_OUT if stopped else os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime, usage.ru_stime, peak, code


def run_untimed(command, log):
    _, status, _ = os.wait4(spawn(["/bin/bash", "-c", command], log), 0)
    return os.waitstatus_to_exitcode(status)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, required=True)
    parser.add_argument("--csv", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--group", required=True)
    parser.add_argument("--tool", nargs=3, action="append", required=True, metavar=("NAME", "PREPARE", "COMMAND"))
    parser.add_argument("--first-rep", type=int, default=1, help="number of the first repetition (default 1)")
    parser.add_argument("--quiet", action="store_true", help="print nothing but errors")
    parser.add_argument("--timeout", type=float, default=0,
                        help=f"stop a command after this many seconds and record exit {TIMED_OUT} (default: never)")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    tools = args.tool
    peak_file = args.csv + ".peak" if gnu_time() else None
    new_file = not os.path.exists(args.csv) or os.path.getsize(args.csv) == 0
    failed = 0
    with open(args.csv, "a", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        if new_file:
            writer.writerow(FIELDS)
        for rep in range(args.first_rep, args.first_rep + args.runs):
            shift = (rep - args.first_rep) % len(tools)
            order = tools[shift:] + tools[:shift]
            cells = []
            for position, (name, prepare, command) in enumerate(order, 1):
                if run_untimed(prepare, args.log) != 0:
                    print(f"interleave: preparing {name} failed; see {args.log}", file=sys.stderr)
                    return 1
                wall, user, system, rss, code = run_timed(command, args.log, peak_file, args.timeout)
                writer.writerow([args.group, name, rep, position, f"{wall:.4f}", f"{user:.4f}",
                                 f"{system:.4f}", rss, code])
                out.flush()
                cells.append(f"{name} {wall:.3f} s" + ("" if code == 0 else " (STOPPED)" if code == TIMED_OUT else f" (EXIT {code})"))
                failed += code != 0
            if not args.quiet:
                print(f"  run {rep}/{args.runs}: " + ", ".join(cells), flush=True)
    if peak_file and os.path.exists(peak_file):
        os.remove(peak_file)
    if failed and not args.quiet:
        print(f"  {failed} run(s) exited with an error; see {args.log}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
