"""linebench-compare's command line: every option checked before anything runs,
then the run (session.py), which a stop or a failure ends in one line.
"""

import argparse
import math
import os
import re
import signal
import sys
import textwrap

from . import owned, programs, results, rounds, session, stats, stores
from . import run as runs
from .filechecks import filetrouble, outtrouble
from .output import progress
from .run import Interrupted, RunError
from .text import SHOWBYTES, shown

# Runs of every program on every file: rounds until every figure is decided,
# within TIMELIMIT.  On this project's machine that found a 5% gap and held
# equal programs level more often than the 13 runs a side that were the
# default before (docs/compare.md).
RUNS = stats.AUTO
QUICK_RUNS = 3
# --large: its rungs past the default ladder take minutes a run, so a fixed
# few rounds, the fewest with which the paired test reaches α = 0.05
# (docs/compare.md).
LARGE_RUNS = 6
# --large grows the shapes whose every line is distinct, where memory grows
# with the lines.  Zipf and uniform, one line in ten distinct at their top
# rung, pass four times a 32 MiB cache only past 10^7 lines, rounds of
# minutes; --shapes names them.
LARGE_SHAPES = ["unique", "ascending"]
# The timed runs keep to one CPU, by default the last one this process may
# use: pinned, their spreads narrowed (docs/compare.md).
# Address-space randomisation stays on: turning it off narrowed the spreads
# too seldom to tell from chance (docs/compare.md).
ASLR = "on"
# --runs auto: the most time its rounds may take, so that a default run of the
# ladder, corpora and all, takes at most five minutes.
TIMELIMIT = 240.0

DESCRIPTION = """Compare the stores on a ladder of generated corpora, or on your own files.

In a checkout it first builds the Release preset (only the programs and tools
it runs); installed, it runs the installed programs and builds nothing.  It
generates corpora of four shapes, four rungs each of 10^3 to 3·10^5 distinct
lines, with linebench-corpus (or takes the files given), runs the store
programs (see --programs) on every file in interleaved rounds until every
verdict is decided or the time limit is up, each run pinned to one CPU, and
writes OUT/results.md, OUT/results.csv, OUT/results.json and OUT/results.png
(the plot needs gnuplot), with a copy of each program it ran in OUT/programs, then
prints the fastest store and lookup and every store's memory per line for
each file.  A verdict sets two programs' runs against each other round by
round (the Wilcoxon signed-rank test) and is level, faster, slower or open as
the ratio's confidence interval lies within, beyond or across a practical
threshold; --runs auto runs until each is decided.

The store programs: linebench-redblack and linebench-hash, the stores of
one's own that the build was given (LINEBENCH_EXTRA_STORES), and the
baselines, each built where the build finds its library (in a checkout,
tools/deps installs them): linebench-stdset (std::set), linebench-stdhash
(std::unordered_set), linebench-abslflat and linebench-abslbtree (Abseil's
flat hash set and B-tree), linebench-boostflat (Boost's flat hash set; run
only when named, or with all), linebench-judysl (Judy's JudySL),
linebench-hattrie (the HAT-trie), linebench-densehash and
linebench-sparsehash (Google's dense and sparse hash sets)."""


class Formatter(argparse.RawDescriptionHelpFormatter):
    """Help whose lines break between words only, so that a program's name
    stays whole."""

    def _split_lines(self, text, width):
        return textwrap.wrap(" ".join(text.split()), width, break_on_hyphens=False)


class Parser(argparse.ArgumentParser):
    def format_help(self):
        """The help; only now does it count the runs the rank test needs, as
        that loads SciPy, which a command line's checks do without."""
        self.runsaction.help = RUNSHELP + runsneeded() + ")"
        return super().format_help()

    def error(self, message):
        """A bad command line: one line, status 2."""
        print(f"compare: {shown(message)}", file=sys.stderr)
        sys.exit(2)


def parser():
    result = Parser(
        prog="linebench-compare", description=DESCRIPTION, formatter_class=Formatter,
        epilog="Without FILEs, the corpora are generated under OUT/corpora, which must be absent or empty; the run "
        "removes the files it generated when it ends, also when it stops or fails (keep them with --keep-corpora), "
        "and OUT/corpora if it made it.  It keeps its results and the copies of its programs, which replace those "
        "of the run before it in OUT, and removes nothing else.")
    result.add_argument("files", nargs="*", metavar="FILE", help="your own files instead of the generated ladder")
    result.add_argument("--out", default=os.path.join(runs.ROOT or "", "out", "compare"),
                        help="output folder (default: out/compare, in the checkout where run from one)")
    result.runsaction = result.add_argument("--runs", metavar="N|auto", help=RUNSHELP + ")")
    result.add_argument("--time-limit", metavar="TIME",
                        help="with --runs auto, the most time its rounds may take, e.g. 90s, 10m or 1h "
                        f"(default {rounds.clock(TIMELIMIT)})")
    result.add_argument("--quick", action="store_true",
                        help="small corpora only, 10^3 and 10^4 lines of each shape: a smoke test, too short and "
                        "too few runs for verdicts")
    result.add_argument("--programs", metavar="LIST",
                        help="comma-separated: programs of the build folder (e.g. linebench-hash) and "
                        "NAME=PATH for a program elsewhere, shown as NAME, and all: every store the build made "
                        f"(default: every store the build made but {', '.join(runs.NOTBYDEFAULT)})")
    result.add_argument("--against", metavar="DIR",
                        help="set this run's figures beside those of DIR, an earlier run (or its results file, a "
                        ".csv or .json of any name), for the files of the same content: DIR's kept programs run "
                        "beside this run's as KEY (before), or where they cannot run here, its recorded runs")
    result.add_argument("--large", action="store_true",
                        help="extend each shape's ladder until the largest store's memory passes four times the "
                        f"last-level cache (default shapes {','.join(LARGE_SHAPES)}, runs {LARGE_RUNS})")
    result.add_argument("--llc", metavar="SIZE",
                        help="the last-level cache's size, e.g. 32M, for --large and the plot's mark (default: "
                        "from sysfs)")
    result.add_argument("--shapes", metavar="LIST",
                        help=f"comma-separated shapes of the generated ladder (default: "
                        f"{','.join(name for name, _, _ in runs.SHAPES)}; with --large "
                        f"{','.join(LARGE_SHAPES)})")
    result.add_argument("--build-dir", help="use the programs already built there; skip the build")
    result.add_argument("--seed", type=int, help="seed of the generated corpora (default 1)")
    result.add_argument("--keep-corpora", action="store_true", help="keep the generated corpora")
    result.add_argument("--alpha", type=float, default=stats.ALPHA,
                        help=f"significance level of the rank test (default {stats.ALPHA:g})")
    result.add_argument("--threshold", type=float, default=stats.THRESHOLD * 100, metavar="PERCENT",
                        help="ratios of medians within this many percent of 1 (before the reports' rounding) "
                        f"are level, however significant (default {stats.THRESHOLD * 100:g})")
    result.add_argument("--cpu", default=None, metavar="N|none",
                        help="the CPU every timed run is pinned to, or none (default: the last one allowed)")
    result.add_argument("--aslr", choices=["on", "off"], default=ASLR,
                        help=f"address-space randomisation of the timed runs, as setarch -R turns it off "
                        f"(default {ASLR})")
    return result


RUNSHELP = (f"runs of every program on every file, or auto: rounds until every tested figure is decided or the time "
            f"limit is up (default {RUNS}, with --quick {QUICK_RUNS}, with --large {LARGE_RUNS}")


def runsneeded():
    """The help's word on the fewest runs; SciPy counts them, and --help
    does without it."""
    try:
        return f"; the rank test needs {stats.fewestruns(stats.ALPHA)} to reach α = " \
            f"{stats.ALPHA:g}"
    except ImportError:
        return ""


SIZEUNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30}


def parsesize(text):
    """Bytes of a size such as 32M, 512K, 1.5G or 33554432 (K, M and G are
    binary, with or without a trailing iB or B); None if it is not one."""
    match = re.fullmatch(r"\s*(\d+(?:\.\d+)?)\s*([KMG]?)(?:i?B)?\s*", text, re.IGNORECASE)
    if match is None:
        return None
    size = float(match[1]) * SIZEUNITS[match[2].upper()]
    return int(size) if 1 <= size < 2**50 else None


def joinnegative(argv):
    """argv with a value such as -5M after --llc or --time-limit joined to it,
    as argparse takes a word that starts with - for an option, and would
    refuse it as a missing value rather than as a size or a time."""
    joined = list(argv)
    at = 0
    while at < len(joined) - 1:
        if joined[at] in ("--llc", "--time-limit") and re.match(r"-[\d.]", joined[at + 1]):
            joined[at:at + 2] = [f"{joined[at]}={joined[at + 1]}"]
        at += 1
    return joined


DURATIONUNITS = {"": 1, "s": 1, "m": 60, "min": 60, "h": 3600}


def parseduration(text):
    """Seconds of a time such as 300, 90s, 10m, 1.5h or 1h30m; None if it is
    not one, or not above 0."""
    parts = re.findall(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", text.strip())
    if not parts or re.sub(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", "", text).strip():
        return None
    seconds = sum(float(number) * DURATIONUNITS[unit] for number, unit in parts)
    return seconds if 0 < seconds < math.inf else None


def parsearguments(argv):
    command = parser()
    args = command.parse_args(joinnegative(argv))
    error = command.error
    if args.runs is None:
        args.runs = QUICK_RUNS if args.quick else LARGE_RUNS if args.large else RUNS
    elif args.runs != stats.AUTO:
        if not args.runs.isdigit() or int(args.runs) < 1:
            error(f"--runs {args.runs}: neither a number of runs, at least 1, nor auto")
        args.runs = int(args.runs)
    if args.time_limit is not None:
        if args.runs != stats.AUTO:
            error("--time-limit applies to --runs auto only")
        args.time_limit = parseduration(args.time_limit)
        if args.time_limit is None:
            error("--time-limit: not a time such as 90s, 10m or 1h")
    elif args.runs == stats.AUTO:
        args.time_limit = TIMELIMIT
    if not 0 < args.alpha < 1:
        error("--alpha must lie between 0 and 1")
    if not 0 <= args.threshold < math.inf:
        error("--threshold must be 0 or more, and finite")
    allowed = sorted(os.sched_getaffinity(0))
    if args.cpu is None:
        args.cpu = allowed[-1]
    elif args.cpu == "none":
        args.cpu = None
    elif not args.cpu.isdigit() or int(args.cpu) not in allowed:
        error(f"--cpu {args.cpu}: not a CPU this process may use ({', '.join(map(str, allowed))}) nor 'none'")
    else:
        args.cpu = int(args.cpu)
    if args.files:
        for option, given in (("--quick", args.quick), ("--seed", args.seed is not None),
                              ("--keep-corpora", args.keep_corpora), ("--large", args.large),
                              ("--shapes", args.shapes is not None)):
            if given:
                error(f"{option} applies to the generated corpora only, and FILEs are given")
        for path in args.files:
            trouble = filetrouble(path)
            if trouble:
                error(f"{path}: {trouble}")
        byname = {}
        for path in args.files:
            byname.setdefault(os.path.basename(os.path.normpath(path)), []).append(path)
        for name, paths in byname.items():
            if len(paths) > 1:
                error(f"the FILEs {' and '.join(paths)} have the same name, {name}: the results know a file by its "
                      "name; give one a name of its own (a link will do)")
    if args.seed is None:
        args.seed = 1
    if not 0 <= args.seed < 2**64:
        error("--seed must lie between 0 and 2^64 - 1, the corpus generator's seeds")
    if args.large and args.quick:
        error("--large and --quick ask for opposite ladders; give one")
    known = [name for name, _, _ in runs.SHAPES]
    if args.shapes is not None:
        args.shapes = [shape.strip() for shape in args.shapes.split(",")]
        unknown = [shape for shape in args.shapes if shape not in known]
        if unknown or not args.shapes:
            error(f"--shapes: unknown shape {unknown[0] if unknown else ''!r}; the shapes are {', '.join(known)}")
    if args.large and args.shapes is None:
        args.shapes = LARGE_SHAPES
    if args.llc is not None:
        size = parsesize(args.llc)
        if size is None and args.llc.strip().startswith("-"):
            error(f"--llc {args.llc}: a size cannot be negative; give the cache's size, such as 32M")
        if size is None:
            error(f"--llc {args.llc}: not a size, such as 32M, 512K or 33554432")
        args.cache = (size, None)
    else:
        args.cache = runs.lastlevelcache()
    if args.large and args.cache is None:
        error("--large: sysfs (/sys/devices/system/cpu/cpu0/cache) does not tell the last-level cache's size; "
              "give it with --llc SIZE, e.g. --llc 32M")
    # The programs that run: those built in --build-dir, or those installed
    # beside the command; else, in a checkout, those that its build makes.
    args.bindir = None
    if args.build_dir is not None:
        folder = args.build_dir
        if not folder or not os.path.isdir(folder):
            error(f"--build-dir {folder!r}: no such folder")
        missing = toolsmissing(folder, args.files)
        if missing:
            error(f"--build-dir {folder}: no {' nor '.join(missing)} there; is it a built linebench build folder? "
                  f"(cmake --build {folder})")
        args.bindir = os.path.abspath(folder)
    elif runs.INSTALLED:
        missing = toolsmissing(runs.HOME, args.files)
        if missing:
            raise RunError(f"{runs.HOME}: no {' nor '.join(missing)} there; the installation is incomplete")
        args.bindir = runs.HOME
    args.out = os.path.abspath(args.out)
    checkagainst(args, error)
    trouble = outtrouble(args.out)
    if trouble:
        error(f"--out {args.out} {trouble}")
    trouble = programs.outtrouble(args.out)
    if trouble:
        error(f"--out: {trouble}")
    if not args.files:
        trouble = owned.trouble(os.path.join(args.out, "corpora"))
        if trouble:
            error(f"--out: {trouble}")
    # The build's programs are known by name once its list of stores is at
    # hand: here with --build-dir or installed, else after the configure step.
    known = stores.knownstores(args.bindir) if args.bindir is not None else None
    args.stores = stores.chooseprograms(args.programs, known, error)
    trouble = stats.scipytrouble()
    if trouble:
        raise RunError(trouble)
    return args, error


def toolsmissing(folder, files):
    """What a run needs beside the store programs and folder lacks: the heap
    probe, and the corpus generator unless FILEs are given."""
    needed = [runs.PROBE] + ([] if files else [runs.CORPUS])
    return [tool for tool in needed if not os.path.isfile(os.path.join(folder, tool))]


def checkagainst(args, error):
    """--against: the earlier run's folder and its results file, which must
    not be this run's own output folder, where this run would replace them;
    the file is read here, before the build."""
    if args.against is None:
        args.againstdir = args.againstrecord = args.earlier = None
        return
    given = args.against
    if os.path.isfile(given) and not results.isresultsfile(given):
        error(f"--against {given}: a file, but no results file (.csv or .json) nor a run's folder")
    args.againstdir = os.path.abspath(results.resultsfolder(given))
    args.againstrecord = os.path.abspath(results.recordpath(given))
    args.against = os.path.abspath(results.resultspath(given))
    if not os.path.isfile(args.against):
        error(f"--against {given}: no such file" if results.isresultsfile(given) else
              f"--against: no results.csv at {args.against}")
    if os.path.realpath(args.againstdir) == os.path.realpath(args.out):
        error(f"--against {args.againstdir} is this run's --out: the run would replace what it is set against; "
              "give it another --out")
    args.earlier = results.readearlier(args.against)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    sys.unraisablehook = session.quietstops
    for stream in (sys.stdout, sys.stderr):
        if stream is not None:  # None: started with that descriptor closed
            stream.reconfigure(errors=SHOWBYTES)
    signal.signal(signal.SIGINT, session.stopon)
    signal.signal(signal.SIGTERM, session.stopon)
    run = None
    try:
        args, error = parsearguments(argv)
        run = session.Run(args, argv)
        run.error = error
        return session.execute(run)
    except Interrupted as stop:
        if run is None:
            progress(f"compare: stopped by {signal.Signals(stop.signum).name}")
            return 128 + stop.signum
        return session.stopped(run, stop.signum)
    except (RunError, results.DamagedResults, stats.Disagreement) as failure:
        return session.failed(run, str(failure))
    except OSError as failure:
        return session.failed(run, f"{failure.filename}: {failure.strerror}" if failure.filename else
                              f"{failure.strerror or failure}")
