"""linebench-compare's command line and the order of a run: check every option
before anything runs, then build, generate, measure, decide and write, and
on SIGINT or SIGTERM stop at once, keeping the rounds already finished.
"""

import argparse
import math
import os
import re
import shutil
import signal
import stat
import statistics
import sys
import tempfile
import textwrap
import time

from . import build, busy, output, owned, plot, programs, results, stats
from . import run as runs
from .output import progress
from .run import Interrupted, RunError
from .text import SHOWBYTES, shown

# Runs of every program on every file.  On this project's machine one run
# strays from its figure's median by a Student t of 2 degrees of freedom and
# a scale of 5.6% (tests/compare/stats_test.py); with 13 runs a side the rank
# test then tells 10% apart more than four times in five (docs/compare.md).
RUNS = 13
QUICK_RUNS = 3
# --large: its rungs past the default ladder take minutes a run, so fewer
# runs, still enough for the rank test to reach α; 6 minutes on a 32 MiB
# cache, over an hour on a 480 MiB one (docs/compare.md).
LARGE_RUNS = 5
# --large grows the shapes whose every line is distinct, where memory grows
# with the lines.  With 1% distinct, zipf and uniform pass four times a
# 32 MiB cache only past 10^8 lines, hours of runs; --shapes names them.
LARGE_SHAPES = ["unique", "ascending"]
# The timed runs keep to one CPU, by default the last one this process may
# use: pinned, their spreads narrowed (docs/compare.md).
# Address-space randomisation stays on: turning it off narrowed the spreads
# too seldom to tell from chance (docs/compare.md).
ASLR = "on"

DESCRIPTION = """Compare the stores on a ladder of generated corpora, or on your own files.

In a checkout it first builds the Release preset (only the programs and tools
it runs); installed, it runs the installed programs and builds nothing.  It
generates corpora of four shapes from 10^5 to 10^6 lines with linebench-corpus
(or takes the files given), runs the store programs (see --programs) on
every file several times, interleaved, each run pinned to one CPU, and writes
OUT/results.md, OUT/results.csv, OUT/results.json and OUT/results.png (the plot
needs gnuplot), with a copy of each program it ran in OUT/programs, then
prints the fastest store and lookup and every store's memory per line for
each file.  A verdict is the Mann-Whitney U test on the runs with a practical
threshold.

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
    result.runsaction = result.add_argument("--runs", type=int, help=RUNSHELP + ")")
    result.add_argument("--quick", action="store_true",
                        help="small corpora only, 10^3 and 10^4 lines of each shape: a smoke test, too short and "
                        "too few runs for verdicts")
    result.add_argument("--programs", metavar="LIST",
                        help="comma-separated: programs of the build folder (e.g. linebench-hash) and "
                        "NAME=PATH for a program elsewhere, shown as NAME, and all: every store the build made "
                        f"(default: every store the build made but {', '.join(runs.NOTBYDEFAULT)})")
    result.add_argument("--against", metavar="DIR",
                        help="set this run's figures beside those of DIR, an earlier run (or its results.csv or "
                        "results.json), for the files of the same content: DIR's kept programs run beside this "
                        "run's as KEY (before), or where they cannot run here, its recorded runs")
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


RUNSHELP = f"runs of every program on every file (default {RUNS}, with --quick {QUICK_RUNS}, with --large {LARGE_RUNS}"


def runsneeded():
    """The help's word on the fewest runs; SciPy counts them, and --help
    does without it."""
    try:
        return f"; the rank test needs {stats.fewestruns(stats.ALPHA)} to reach α = " \
            f"{stats.ALPHA:g}"
    except ImportError:
        return ""


def filetrouble(path):
    """Why path cannot be a FILE to measure, or None."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return "no such file"
    except OSError as error:
        return error.strerror.lower()
    kinds = [(stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a character device"),
             (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket")]
    for test, kind in kinds:
        if test(status.st_mode):
            return f"is {kind}, not a regular file"
    if not os.access(path, os.R_OK):
        return "cannot be read (permission denied)"
    if status.st_size == 0:
        return "is empty: the programs cannot map an empty file"
    return None


def outtrouble(out):
    """Why the output folder cannot be written, or None."""
    if os.path.exists(out) and not os.path.isdir(out):
        return "is not a folder"
    try:
        os.makedirs(out, exist_ok=True)
        handle, probe = tempfile.mkstemp(dir=out, prefix=".compare-")
        os.close(handle)
        os.remove(probe)
    except OSError as error:
        return f"cannot be written: {error.strerror}"
    return None


def knownstores(bindir):
    """The build's store programs by name, from its list of stores."""
    return {store["program"]: store for store in runs.readstores(bindir)}


def expandall(items, known):
    """The items with all standing for every store of the build that the
    list does not name itself."""
    given = [item for item in items if item != "all"]
    expanded = []
    for item in items:
        if item == "all":
            expanded += [name for name in known if name not in given and name not in expanded]
        else:
            expanded.append(item)
    return expanded


def chooseprograms(text, known, error, built=True):
    """The stores to run, in order: for each its key (the name its rows go
    by), its path, its family, whether its ADT label must be that key, and
    the build's program name (None for NAME=PATH).  Programs are known by
    name from the build's list of stores; with known None, before there is
    one, only what needs no list is checked.  built: the build's programs
    must be there already."""
    if text is None:
        items = runs.defaultprograms(known.values()) if known is not None else []
    else:
        items = [item.strip() for item in text.split(",")]
    if known is not None:
        items = expandall(items, known)
    stores = []
    for item in items:
        name, equals, path = item.partition("=")
        if not item:
            error("--programs: an empty item in the list")
        if known is None and not equals:
            if item != "all" and items.count(item) > 1:
                error(f"--programs: {item} is named twice")
            continue
        if equals:
            if not name:
                error(f"--programs: {item}: the NAME before '=' is empty")
            if any(c in name for c in "\n\r\t") or not path:
                error(f"--programs: {item}: " + ("no PATH after '='" if not path else "a control character in NAME"))
            store = {"key": shown(name), "path": os.path.abspath(path), "family": "other", "checkadt": False,
                     "program": None}
        else:
            if name not in known:
                error(f"--programs: unknown program {name!r}; the build made {', '.join(known)}; or all for every "
                      "one of them, or NAME=PATH for another" + leftout(name))
            label = known[name]["label"]
            store = {"key": label or name.removeprefix("linebench-").upper(), "path": known[name]["path"],
                     "family": known[name]["family"], "checkadt": bool(label), "program": name}
        if equals or built:
            if not os.path.exists(store["path"]):
                error(f"--programs: {item}: no such program {store['path']}"
                      + ("" if equals else " (not built there?)"))
            if os.path.isdir(store["path"]):
                error(f"--programs: {item}: {store['path']} is a folder")
            if not os.access(store["path"], os.X_OK):
                error(f"--programs: {item}: {store['path']} is not executable")
        if any(s["key"] == store["key"] for s in stores):
            error(f"--programs: {store['key']} is named twice")
        stores.append(store)
    return stores


def leftout(name):
    """What to say of a baseline that the build left out: its library was
    not found."""
    if runs.ROOT is None:
        return ""
    folder = os.path.join(runs.ROOT, "baselines", name.removeprefix("linebench-"))
    if name.startswith("linebench-") and os.path.isdir(folder):
        return " (a baseline is left out when the build does not find its library: tools/deps installs them)"
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


def parsearguments(argv):
    command = parser()
    args = command.parse_args(argv)
    error = command.error
    if args.runs is None:
        args.runs = QUICK_RUNS if args.quick else LARGE_RUNS if args.large else RUNS
    if args.runs < 1:
        error("--runs must be at least 1")
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
    args.stores = chooseprograms(args.programs, knownstores(args.bindir) if args.bindir is not None else None,
                                 error)
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
    """--against: the earlier run's folder and its results.csv, which must
    not be this run's own output folder, where this run would replace them;
    the CSV is read here, before the build."""
    if args.against is None:
        args.againstdir = args.earlier = None
        return
    args.againstdir = os.path.abspath(results.resultsfolder(args.against))
    args.against = os.path.abspath(results.resultspath(args.against))
    if not os.path.isfile(args.against):
        error(f"--against: no results.csv at {args.against}")
    if os.path.realpath(args.againstdir) == os.path.realpath(args.out):
        error(f"--against {args.againstdir} is this run's --out: the run would replace what it is set against; "
              "give it another --out")
    args.earlier = results.readearlier(args.against)


class Run:
    """What a run has done so far, kept in results.json even when stopped or
    failed."""

    def __init__(self, args, argv):
        self.args = args
        cache = None if args.cache is None else {"bytes": args.cache[0], "level": args.cache[1],
                                                 "from": "sysfs" if args.llc is None else "--llc"}
        self.record = {"complete": False, "stopped_by": None, "failure": None,
                       "command": ["linebench-compare"] + argv,
                       "started": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "machine": runs.machineinfo(),
                       "build": None, "settings": {
                           "runs": args.runs, "alpha": args.alpha, "threshold": args.threshold / 100,
                           "floor_us": stats.FLOOR_US, "cpu": args.cpu, "aslr": args.aslr == "on",
                           "quick": args.quick, "large": args.large, "shapes": args.shapes,
                           "seed": None if args.files else args.seed, "llc": cache},
                       "files": [], "stores": [], "runs": [], "rounds_finished": 0, "summaries": [],
                       "winners": [], "against": None, "busy": None}
        self.reports = {}
        self.perround = 0  # runs in a round, over the files planned so far
        self.watch = busy.Watch(args.cpu)
        self.saved = False  # whether results.json is this run's
        self.corpora = None if args.files else owned.Owned(os.path.join(args.out, "corpora"))
        self.measuring = False  # whether the first timed run has begun
        self.stamps = {}  # per file: its size and modification time when its digest was taken
        self.befores = []  # the earlier run's programs that run beside this run's

    def done(self, lap, path, store, report):
        self.reports.setdefault((path, store["key"]), []).append(report)
        self.record["runs"].append({"round": lap + 1, "file": shown(os.path.basename(path)), "store": store["key"],
                                    "report": report})
        self.record["rounds_finished"] = len(self.record["runs"]) // self.perround
        checkstop()

    def checkfile(self, path):
        """A file that changes during the run gives runs of two contents
        under one digest: the run stops at the first run after the change."""
        try:
            now = stamp(path)
        except FileNotFoundError:
            raise RunError(f"{path} was removed during the run") from None
        if now != self.stamps[path]:
            raise RunError(f"{path} changed during the run: its size or modification time is not what it was "
                           "when its digest was taken, so its runs measured different contents")

    def save(self):
        self.record["busy"] = self.watch.summary()
        results.writejson(os.path.join(self.args.out, "results.json"), self.record)
        self.saved = True


def stamp(path):
    status = os.stat(path)
    return status.st_size, status.st_mtime_ns, status.st_ino, status.st_dev


# The signal that stopped the run.  Python drops the exception that stopon
# raises where the signal lands in a finaliser or a fork hook, as when a run's
# child is started, so the run also looks here after every run and before it
# calls itself complete.
caught = None
passunraisable = sys.unraisablehook


def stopon(signum, frame):
    global caught
    caught = signum
    ignorestops()
    raise Interrupted(signum)


def ignorestops():
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)


def quietstops(unraisable):
    """Python prints a dropped exception with its traceback; a dropped stop is
    no fault, as checkstop raises it again, so it goes unprinted."""
    if not isinstance(unraisable.exc_value, Interrupted):
        passunraisable(unraisable)


def checkstop():
    if caught is not None:
        raise Interrupted(caught)


def describefiles(run, bindir):
    """(path, facts) of every file, facts being what results carry about it."""
    args = run.args
    if args.files:
        return withfacts(run, [(os.path.abspath(f), plot.YOURFILES, None) for f in args.files])
    return generated(run, bindir, runs.corpusplan(run.corpora.path, args.quick, args.seed, args.shapes))


def generated(run, bindir, plan):
    """Writes the corpora of plan, each the run's own from before it is
    begun; returns their (path, facts)."""
    descriptions = {name: text for name, text, _ in runs.SHAPES}
    for path, _, _ in plan:
        run.corpora.file(os.path.basename(path))
    runs.generatecorpora(bindir, plan, progress)
    return withfacts(run, [(path, shape, f"{descriptions[shape]}; `{command}`") for path, shape, command in plan])


def withfacts(run, planned):
    files = []
    for path, shape, source in planned:
        run.stamps[path] = stamp(path)
        size, sha = runs.digest(path)
        files.append((path, {"file": shown(os.path.basename(path)), "path": path, "shape": shape, "size": size,
                             "sha256": sha, "source": source or output.mdescape(shown(path))}))
    return files


def largestmemory(reports, path):
    """(lines, bytes that the hungriest store held) on the file at path: its
    median bytes per distinct line times the distinct lines."""
    stored = [r for (p, _), r in reports.items() if p == path]
    return stored[0][0]["lines"], max(statistics.median(r["bytes_per_line"] for r in store) * store[0]["distinct"]
                                      for store in stored)


def growladders(run, bindir, files, measurefiles):
    """--large: each shape's ladder grows by a rung at a time, each measured
    before the next is sized, until the largest store's memory on the last
    rung passes four times the last-level cache."""
    cache, level = run.args.cache
    name = runs.cachename(level)
    target = 4 * cache
    run.record["large"] = {"cache_level": level, "cache_bytes": cache, "target_bytes": target}
    corpora = run.corpora.path
    for shape in dict.fromkeys(facts["shape"] for _, facts in files):
        while True:
            path, facts = max(((p, f) for p, f in files if f["shape"] == shape), key=lambda pf: pf[1]["size"])
            lines, memory = largestmemory(run.reports, path)
            if memory >= target:
                progress(f"compare: --large: {shape} done: {memory / 2**20:.0f} MiB on {lines} lines, past "
                         f"4 x {name} of {cache / 2**20:g} MiB")
                break
            more = runs.nextrung(lines, memory, target)
            if more is None:
                progress(f"compare: --large: {shape} stops at {lines} lines: the next rung would need more lines "
                         "than the programs count")
                break
            size = facts["size"] * more / lines
            free = shutil.disk_usage(corpora).free
            if free < 1.5 * size:
                raise RunError(f"--large: the next {shape} rung, {more} lines, needs about {size / 1e9:.1f} GB "
                               f"and {corpora} has {free / 1e9:.1f} GB free")
            rung = generated(run, bindir, [runs.corpus(corpora, shape, more, run.args.seed)])
            files += rung
            run.record["files"] += [dict(facts) for _, facts in rung]
            measurefiles([path for path, _ in rung])


def buildtargets(stores, args):
    """What the build makes for this run: the build's programs it runs and
    the tools it uses, so that a store folder that does not build stops only
    a run that asks for its store."""
    tools = [runs.PROBETARGET, runs.SHAPE] + ([] if args.files else [runs.CORPUS])
    return [store["program"] for store in stores if store["program"]] + tools


def prepare(run):
    """The build folder and the stores, built where bindir is not given."""
    args = run.args
    if args.bindir is not None:
        return args.bindir, args.stores
    bindir = build.configure(progress)
    stores = chooseprograms(args.programs, knownstores(bindir), run.error, built=False)
    build.build(buildtargets(stores, args), progress)
    return bindir, chooseprograms(args.programs, knownstores(bindir), run.error)


def writeresults(run, files, shapes, shapenote, incomplete=None):
    """Decides the verdicts and writes results.md and results.csv of the
    files' runs, those of every store or, for a run that did not finish,
    those that have runs; returns the summaries, the winners, the comparison
    with the earlier run and the settings."""
    args = run.args
    stores = run.record["stores"]
    summaries = stats.summarise(files, stores, run.reports)
    if shapes is not None:
        results.addshape(summaries, shapes)
    alpha, threshold = args.alpha, args.threshold / 100
    winners = stats.filewinners(summaries, alpha, threshold)
    against = None
    if args.earlier is not None:
        measured = results.measuredbefore(files, run.befores, run.reports)
        rows, differing = results.setagainst(summaries, args.earlier, alpha, threshold, measured)
        against = dict(run.record["against"], rows=rows, differing=differing, runs=min(
            (len(row[key]["before_runs"]) for row in rows for key in stats.TESTED),
            default=results.earlierruns(args.earlier)))
        if not all(row["interleaved"] for row in rows):
            against["drift"] = programs.DRIFT
    machine = run.record["machine"]
    buildfacts = run.record["build"] or {}
    machineline = (f"{machine['cpu']}, {machine['cores']} cores, Linux {machine['kernel']}, commit "
                   f"{(buildfacts.get('commit') or 'unknown')[:12]}; timed runs on CPU "
                   f"{'any' if args.cpu is None else args.cpu}, address-space randomisation {args.aslr}")
    settings = dict(run.record["settings"], started=time.strftime("%Y-%m-%d %H:%M"), threshold=threshold,
                    busy=run.watch.summary(), incomplete=incomplete)
    run.record.update(summaries=summaries, against=against, winners=[
        dict(decided, file=file, figure=key) for (file, key), decided in winners.items()])
    sources = [(facts["file"], facts["source"]) for _, facts in files]
    output.writemarkdown(os.path.join(args.out, "results.md"), summaries, sources, settings, shapenote, winners,
                         against, machineline)
    results.writecsv(os.path.join(args.out, "results.csv"), summaries, shapes is not None)
    return summaries, winners, against, settings


def execute(run):
    args = run.args
    started = time.monotonic()
    bindir, stores = prepare(run)
    run.record["build"] = runs.buildinfo(bindir)
    run.record["stores"] = stores
    run.befores = planagainst(run, stores, args.earlier)
    if run.corpora:
        run.corpora.make()
    files = describefiles(run, bindir)
    run.record["files"] = [dict(facts) for _, facts in files]
    paths = [path for path, _ in files]
    setup = runs.childsetup(args.cpu, args.aslr == "off")
    # From here results.json is this run's: the programs it keeps replace an
    # earlier run's in OUT/programs.
    programs.keep(args.out, stores)
    run.save()
    with tempfile.TemporaryDirectory(prefix="compare-") as scratch:
        def finished(lap, path, store, report):
            run.checkfile(path)
            run.done(lap, path, store, report)

        def measurefiles(paths):
            plan = runplan(paths, files, stores, run.befores, args.earlier)
            run.perround += sum(len(programs) for _, programs in plan)
            run.measuring = True
            runs.measure(bindir, plan, args.runs, scratch, setup, progress, finished, run.watch)
        measurefiles(paths)
        if args.large:
            growladders(run, bindir, files, measurefiles)
            order = [name for name, _, _ in runs.SHAPES]
            files.sort(key=lambda file: (order.index(file[1]["shape"]), file[1]["size"]))
            run.record["files"].sort(key=lambda facts: (order.index(facts["shape"]), facts["size"]))
            paths = [path for path, _ in files]
    shapes = runs.runshape(bindir, paths, progress)
    shapenote = None
    if shapes is None:
        shapenote = f"No compares or nodes per lookup: {runs.SHAPE} is not in {bindir}"
    else:
        for facts in run.record["files"]:
            facts["shape_figures"] = shapes[facts["path"]]
    summaries, winners, against, settings = writeresults(run, files, shapes, shapenote)
    note = plot.writeplot(args.out, summaries, stores, args.cache)
    checkstop()
    run.record["complete"] = True
    run.save()
    left = run.corpora.release() if run.corpora and not args.keep_corpora else []
    output.printsummary(summaries, stores, settings, winners, against)
    progress(f"compare: wrote {os.path.join(args.out, 'results.md')}, results.csv, results.json"
             + (" and results.gp" if note else ", results.gp and results.png"))
    for message in [note, shapenote] + [f"could not remove {path}" for path in left]:
        if message:
            progress(f"compare: {message}")
    elapsed = time.monotonic() - started
    progress(f"compare: took {int(elapsed // 60)} min {elapsed % 60:.0f} s")
    return 1 if against is not None and not against["rows"] else 0


def planagainst(run, stores, earlier):
    """With --against: the earlier run's kept programs that run beside this
    run's, each of a store both runs have; the others' verdicts take its
    recorded runs, which the terminal says at once."""
    if earlier is None:
        return []
    args = run.args
    keys = [store["key"] for store in stores if any(key == store["key"] for _, key in earlier)]
    befores, why, trouble = programs.earlierprograms(args.againstdir, run.record["machine"], keys)
    clash = [b["key"] for b in befores if any(b["key"] == store["key"] for store in stores)]
    if clash:
        raise RunError(f"--against: {clash[0]} names a store of this run and the earlier run's program of "
                       f"{clash[0].removesuffix(' (before)')} alike; rename it in --programs")
    recorded = {key: why for key in keys} if why else trouble
    run.record["against"] = {"path": args.against, "folder": args.againstdir, "programs": befores,
                             "recorded": recorded, "recorded_why": why}
    warning = output.driftwarning(run.record["against"])
    if warning:
        progress(f"compare: --against: {warning}")
    return befores


def runplan(paths, files, stores, befores, earlier):
    """(file, its programs) for each path: this run's stores, and the earlier
    run's programs of the stores that it ran on a file of the same bytes."""
    sha = {path: facts["sha256"] for path, facts in files}
    return [(path, stores + [b for b in befores if (sha[path], b["adt"]) in (earlier or {})]) for path in paths]


def keep(run, why):
    """Writes what a run that stopped or failed did: results.json with every
    run that finished, and results.md, results.csv and results.gp of the
    figures that have runs.  Returns where they are, in words."""
    folder = run.args.out
    json = os.path.join(folder, "results.json")
    try:
        run.save()
    except OSError as error:
        return f"results.json could not be written: {error.strerror}"
    try:
        files = [(facts["path"], facts) for facts in run.record["files"]]
        summaries, _, _, _ = writeresults(run, files, None,
                                          "No compares or nodes per lookup: the run did not finish", why)
        plot.writeplot(folder, summaries, run.record["stores"], run.args.cache, draw=False)
        run.save()
    except (OSError, stats.Disagreement):
        return f"what it did is in {json}"
    return f"what it did is in {json}, with the figures of the runs that finished in results.md and results.csv"


def saved(run):
    """Saves the record of a run that has kept its programs but finished no
    run; says where it is."""
    try:
        run.save()
    except OSError as error:
        return f"results.json could not be written: {error.strerror}"
    return f"what it did is in {os.path.join(run.args.out, 'results.json')}"


def stopped(run, signum):
    """What a stop says, and the rounds it keeps."""
    name = signal.Signals(signum).name
    record = run.record
    record["stopped_by"] = name
    finished = len(record["runs"])
    if run.measuring:
        total = run.perround * run.args.runs
        where = f"after {finished} of {total} runs, {record['rounds_finished']} of {run.args.runs} rounds finished"
    else:
        where = "before the first run"
    left = run.corpora.release() if run.corpora and not run.args.keep_corpora else []
    if finished:
        kept = keep(run, f"stopped by {name}")
    elif run.saved:
        kept = saved(run)
    else:
        kept = f"nothing to keep, {run.args.out} left as it was"
    progress(f"compare: stopped by {name} {where}; {kept}")
    for path in left:
        progress(f"compare: could not remove {path}")
    return 128 + signum


def failed(run, reason):
    """What a failure says; a run with runs that finished keeps them."""
    ignorestops()
    left = []
    if run is not None and run.record["runs"]:
        run.record.update(complete=False, failure=reason)
        reason += "; " + keep(run, reason)
    elif run is not None and run.saved:
        run.record.update(complete=False, failure=reason)
        reason += "; " + saved(run)
    if run is not None and run.corpora and not run.args.keep_corpora:
        left = run.corpora.release()
    progress(f"compare: {reason}")
    for path in left:
        progress(f"compare: could not remove {path}")
    return 1


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    sys.unraisablehook = quietstops
    for stream in (sys.stdout, sys.stderr):
        if stream is not None:  # None: started with that descriptor closed
            stream.reconfigure(errors=SHOWBYTES)
    signal.signal(signal.SIGINT, stopon)
    signal.signal(signal.SIGTERM, stopon)
    run = None
    try:
        args, error = parsearguments(argv)
        run = Run(args, argv)
        run.error = error
        return execute(run)
    except Interrupted as stop:
        if run is None:
            progress(f"compare: stopped by {signal.Signals(stop.signum).name}")
            return 128 + stop.signum
        return stopped(run, stop.signum)
    except (RunError, results.DamagedResults, stats.Disagreement) as failure:
        return failed(run, str(failure))
    except OSError as failure:
        return failed(run, f"{failure.filename}: {failure.strerror}" if failure.filename else
                      f"{failure.strerror or failure}")
