"""bench/compare's command line and the order of a run: check every option
before anything runs, then build, generate, measure, decide and write, and
on SIGINT or SIGTERM stop at once, keeping the rounds already finished.
"""

import argparse
import math
import os
import shutil
import signal
import stat
import statistics
import sys
import tempfile
import time

import comparebusy
import compareoutput
import compareplot
import compareprograms
import compareresults
import comparerun
import comparestats
from compareoutput import progress
from comparerun import Interrupted, RunError
from comparetext import SHOWBYTES, shown

# Runs of every program on every file.  On this project's machine one run
# strays from its figure's median by a Student t of 2 degrees of freedom and
# a scale of 5.6% (tests/comparestats_test.py); with 13 runs a side the rank
# test then tells 10% apart more than four times in five (README).
RUNS = 13
QUICK_RUNS = 3
# --large: its rungs past the default ladder take minutes a run, so fewer
# runs, still enough for the rank test to reach α; about an hour here (README).
LARGE_RUNS = 5
# --large grows the shapes whose every line is distinct, where memory grows
# with the lines.  With 1% distinct, zipf and uniform pass four times a
# 32 MiB cache only past 10^8 lines, hours of runs; --shapes names them.
LARGE_SHAPES = ["unique", "ascending"]
# The timed runs keep to one CPU, by default the last one this process may
# use: pinned, their spreads narrowed (README).
# Address-space randomisation stays on: turning it off narrowed the spreads
# too seldom to tell from chance (README).
ASLR = "on"

DESCRIPTION = """Compare the stores on a ladder of generated corpora, or on your own files.

Builds the Release preset, generates corpora of several shapes from 10^4 to
a million lines with linebench-corpus (or takes the files given), runs
linebench-redblack, linebench-hash and the baselines (std::set,
std::unordered_set, Abseil's flat hash set and B-tree, Boost's flat hash set)
on every file several times, interleaved, each run pinned to one CPU, and
writes OUT/results.md, OUT/results.csv, OUT/results.json and OUT/results.png
(the plot needs gnuplot), then prints the fastest store and lookup and every
store's memory per line for each file.  A verdict is the Mann-Whitney U test
on the runs with a practical threshold."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """A bad command line: one line, status 2."""
        print(f"compare: {shown(message)}", file=sys.stderr)
        sys.exit(2)


def parser():
    result = Parser(
        prog="bench/compare", description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Without FILEs, the corpora are generated under OUT/corpora and removed at the end "
        "(keep them with --keep-corpora).")
    result.add_argument("files", nargs="*", metavar="FILE", help="your own files instead of the generated ladder")
    result.add_argument("--out", default=os.path.join(comparerun.ROOT, "out", "compare"),
                        help="output folder (default: out/compare)")
    result.add_argument("--runs", type=int,
                        help=f"runs of every program on every file (default {RUNS}, with --quick {QUICK_RUNS}; "
                        f"the rank test needs {comparestats.fewestruns(comparestats.ALPHA)} to reach α = "
                        f"{comparestats.ALPHA:g})")
    result.add_argument("--quick", action="store_true",
                        help="small corpora only, for a smoke test (well under 30 s; too short for verdicts)")
    result.add_argument("--programs", metavar="LIST",
                        help="comma-separated: programs of the build folder (e.g. linebench-hash) and "
                        "NAME=PATH for a program elsewhere, shown as NAME, or all: every store the build made "
                        "(default: every store the build made)")
    result.add_argument("--against", metavar="DIR",
                        help="set this run's figures beside those of DIR, an earlier run (or its results.csv or "
                        "results.json), for the files of the same content: DIR's kept programs run beside this "
                        "run's as KEY (before), or where they cannot run here, its recorded runs")
    result.add_argument("--large", action="store_true",
                        help="extend each shape's ladder until the largest store's memory passes four times the "
                        f"last-level cache (default shapes {','.join(LARGE_SHAPES)}, runs {LARGE_RUNS})")
    result.add_argument("--shapes", metavar="LIST",
                        help=f"comma-separated shapes of the generated ladder (default: "
                        f"{','.join(name for name, _, _ in comparerun.SHAPES)}; with --large "
                        f"{','.join(LARGE_SHAPES)})")
    result.add_argument("--build-dir", help="use the programs already built there; skip the build")
    result.add_argument("--seed", type=int, help="seed of the generated corpora (default 1)")
    result.add_argument("--keep-corpora", action="store_true", help="keep the generated corpora")
    result.add_argument("--alpha", type=float, default=comparestats.ALPHA,
                        help=f"significance level of the rank test (default {comparestats.ALPHA:g})")
    result.add_argument("--threshold", type=float, default=comparestats.THRESHOLD * 100, metavar="PERCENT",
                        help="ratios of medians within this many percent of 1 (before the reports' rounding) "
                        f"are level, however significant (default {comparestats.THRESHOLD * 100:g})")
    result.add_argument("--cpu", default=None, metavar="N|none",
                        help="the CPU every timed run is pinned to, or none (default: the last one allowed)")
    result.add_argument("--aslr", choices=["on", "off"], default=ASLR,
                        help=f"address-space randomisation of the timed runs, as setarch -R turns it off "
                        f"(default {ASLR})")
    return result


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


def chooseprograms(text, bindir, error):
    """The stores to run, in order: for each its key (the name its rows go
    by), its path, its family, and whether its ADT label must be that key.
    Programs are known by name from the build's list of stores."""
    known = {store["program"]: store for store in comparerun.readstores(bindir)}
    if text is None:
        items = comparerun.defaultprograms(known.values())
    elif text.strip() == "all":
        items = list(known)
    else:
        items = text.split(",")
    stores = []
    for item in items:
        item = item.strip()
        name, equals, path = item.partition("=")
        if not item:
            error("--programs: an empty item in the list")
        if equals:
            if not name:
                error(f"--programs: {item}: the NAME before '=' is empty")
            if any(c in name for c in "\n\r\t") or not path:
                error(f"--programs: {item}: " + ("no PATH after '='" if not path else "a control character in NAME"))
            store = {"key": shown(name), "path": os.path.abspath(path), "family": "other", "checkadt": False}
        else:
            if name not in known:
                error(f"--programs: unknown program {name!r}; the build made {', '.join(known)}; or 'all', or "
                      "NAME=PATH for another")
            label = known[name]["label"]
            store = {"key": label or name.removeprefix("linebench-").upper(), "path": known[name]["path"],
                     "family": known[name]["family"], "checkadt": bool(label)}
        if not os.path.exists(store["path"]):
            error(f"--programs: {item}: no such program {store['path']}" + ("" if equals else " (not built there?)"))
        if os.path.isdir(store["path"]):
            error(f"--programs: {item}: {store['path']} is a folder")
        if not os.access(store["path"], os.X_OK):
            error(f"--programs: {item}: {store['path']} is not executable")
        if any(s["key"] == store["key"] for s in stores):
            error(f"--programs: {store['key']} is named twice")
        stores.append(store)
    return stores


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
        if len({os.path.basename(f) for f in args.files}) != len(args.files):
            error("the FILEs must have different names: the results know them by name")
    if args.seed is None:
        args.seed = 1
    if not 0 <= args.seed < 2**64:
        error("--seed must lie between 0 and 2^64 - 1, the corpus generator's seeds")
    if args.large and args.quick:
        error("--large and --quick ask for opposite ladders; give one")
    known = [name for name, _, _ in comparerun.SHAPES]
    if args.shapes is not None:
        args.shapes = [shape.strip() for shape in args.shapes.split(",")]
        unknown = [shape for shape in args.shapes if shape not in known]
        if unknown or not args.shapes:
            error(f"--shapes: unknown shape {unknown[0] if unknown else ''!r}; the shapes are {', '.join(known)}")
    if args.large and args.shapes is None:
        args.shapes = LARGE_SHAPES
    if args.large and comparerun.lastlevelcache() is None:
        error("--large: sysfs (/sys/devices/system/cpu/cpu0/cache) does not tell the last-level cache's size")
    if args.build_dir is not None:
        folder = args.build_dir
        if not folder or not os.path.isdir(folder):
            error(f"--build-dir {folder!r}: no such folder")
        needed = [comparerun.PROBE] + ([] if args.files else [comparerun.CORPUS])
        missing = [tool for tool in needed if not os.path.isfile(os.path.join(folder, tool))]
        if missing:
            error(f"--build-dir {folder}: no {' nor '.join(missing)} there; is it a built linebench build folder? "
                  f"(cmake --build {folder})")
        args.bindir = os.path.abspath(folder)
    args.out = os.path.abspath(args.out)
    checkagainst(args, error)
    trouble = outtrouble(args.out)
    if trouble:
        error(f"--out {args.out} {trouble}")
    trouble = compareprograms.outtrouble(args.out)
    if trouble:
        error(f"--out: {trouble}")
    return args, error


def checkagainst(args, error):
    """--against: the earlier run's folder and its results.csv, which must
    not be this run's own output folder, where this run would replace them."""
    if args.against is None:
        args.againstdir = None
        return
    args.againstdir = os.path.abspath(compareresults.resultsfolder(args.against))
    args.against = os.path.abspath(compareresults.resultspath(args.against))
    if not os.path.isfile(args.against):
        error(f"--against: no results.csv at {args.against}")
    if os.path.realpath(args.againstdir) == os.path.realpath(args.out):
        error(f"--against {args.againstdir} is this run's --out: the run would replace what it is set against; "
              "give it another --out")


class Run:
    """What a run has done so far, kept in results.json even when stopped."""

    def __init__(self, args, argv):
        self.args = args
        self.record = {"complete": False, "stopped_by": None, "command": ["bench/compare"] + argv,
                       "started": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "machine": comparerun.machineinfo(),
                       "build": None, "settings": {
                           "runs": args.runs, "alpha": args.alpha, "threshold": args.threshold / 100,
                           "floor_us": comparestats.FLOOR_US, "cpu": args.cpu, "aslr": args.aslr == "on",
                           "quick": args.quick, "large": args.large, "shapes": args.shapes,
                           "seed": None if args.files else args.seed},
                       "files": [], "stores": [], "runs": [], "rounds_finished": 0, "summaries": [],
                       "winners": [], "against": None, "busy": None}
        self.reports = {}
        self.perround = 0  # runs in a round, over the files planned so far
        self.watch = comparebusy.Watch(args.cpu)

    def done(self, lap, path, store, report):
        self.reports.setdefault((path, store["key"]), []).append(report)
        self.record["runs"].append({"round": lap + 1, "file": shown(os.path.basename(path)), "store": store["key"],
                                    "report": report})
        self.record["rounds_finished"] = len(self.record["runs"]) // self.perround
        checkstop()

    def save(self):
        self.record["busy"] = self.watch.summary()
        compareresults.writejson(os.path.join(self.args.out, "results.json"), self.record)


# The signal that stopped the run.  Python drops the exception that stopon
# raises where the signal lands in a finaliser or a fork hook, as when a run's
# child is started, so the run also looks here after every run and before it
# calls itself complete.
caught = None
passunraisable = sys.unraisablehook


def stopon(signum, frame):
    global caught
    caught = signum
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    raise Interrupted(signum)


def quietstops(unraisable):
    """Python prints a dropped exception with its traceback; a dropped stop is
    no fault, as checkstop raises it again, so it goes unprinted."""
    if not isinstance(unraisable.exc_value, Interrupted):
        passunraisable(unraisable)


def checkstop():
    if caught is not None:
        raise Interrupted(caught)


def describefiles(args, bindir, corpora):
    """(path, facts) of every file, facts being what results carry about it."""
    if args.files:
        return withfacts([(os.path.abspath(f), compareplot.YOURFILES, None) for f in args.files])
    return generated(bindir, comparerun.corpusplan(corpora, args.quick, args.seed, args.shapes))


def generated(bindir, plan):
    """Writes the corpora of plan; returns their (path, facts)."""
    descriptions = {name: text for name, text, _ in comparerun.SHAPES}
    comparerun.generatecorpora(bindir, plan, progress)
    return withfacts([(path, shape, f"{descriptions[shape]}; `{command}`") for path, shape, command in plan])


def withfacts(planned):
    files = []
    for path, shape, source in planned:
        size, sha = comparerun.digest(path)
        files.append((path, {"file": shown(os.path.basename(path)), "path": path, "shape": shape, "size": size,
                             "sha256": sha, "source": source or compareoutput.mdescape(shown(path))}))
    return files


def largestmemory(reports, path):
    """(lines, bytes that the hungriest store held) on the file at path: its
    median bytes per distinct line times the distinct lines."""
    runs = [r for (p, _), r in reports.items() if p == path]
    return runs[0][0]["lines"], max(statistics.median(r["bytes_per_line"] for r in store) * store[0]["distinct"]
                                    for store in runs)


def growladders(run, bindir, files, corpora, measurefiles):
    """--large: each shape's ladder grows by a rung at a time, each measured
    before the next is sized, until the largest store's memory on the last
    rung passes four times the last-level cache."""
    cache, level = comparerun.lastlevelcache()
    target = 4 * cache
    run.record["large"] = {"cache_level": level, "cache_bytes": cache, "target_bytes": target}
    for shape in dict.fromkeys(facts["shape"] for _, facts in files):
        while True:
            path, facts = max(((p, f) for p, f in files if f["shape"] == shape), key=lambda pf: pf[1]["size"])
            lines, memory = largestmemory(run.reports, path)
            if memory >= target:
                progress(f"compare: --large: {shape} done: {memory / 2**20:.0f} MiB on {lines} lines, past "
                         f"4 x the level-{level} cache of {cache / 2**20:g} MiB")
                break
            more = comparerun.nextrung(lines, memory, target)
            if more is None:
                progress(f"compare: --large: {shape} stops at {lines} lines: the next rung would need more lines "
                         "than the programs count")
                break
            size = facts["size"] * more / lines
            free = shutil.disk_usage(corpora).free
            if free < 1.5 * size:
                raise RunError(f"--large: the next {shape} rung, {more} lines, needs about {size / 1e9:.1f} GB "
                               f"and {corpora} has {free / 1e9:.1f} GB free")
            rung = generated(bindir, [comparerun.corpus(corpora, shape, more, run.args.seed)])
            files += rung
            run.record["files"] += [dict(facts) for _, facts in rung]
            measurefiles([path for path, _ in rung])


def execute(run):
    args = run.args
    started = time.monotonic()
    bindir = args.bindir if args.build_dir is not None else comparerun.build(progress)
    run.record["build"] = comparerun.buildinfo(bindir)
    stores = chooseprograms(args.programs, bindir, run.error)
    run.record["stores"] = stores
    compareprograms.keep(args.out, stores)
    run.save()
    earlier = compareresults.readearlier(args.against) if args.against else None
    befores = planagainst(run, stores, earlier)
    corpora = os.path.join(args.out, "corpora")
    run.corpora = None if args.files else corpora
    if run.corpora:
        os.makedirs(corpora, exist_ok=True)
    files = describefiles(args, bindir, corpora)
    run.record["files"] = [dict(facts) for _, facts in files]
    paths = [path for path, _ in files]
    setup = comparerun.childsetup(args.cpu, args.aslr == "off")
    with tempfile.TemporaryDirectory(prefix="compare-") as scratch:
        def measurefiles(paths):
            plan = runplan(paths, files, stores, befores, earlier)
            run.perround += sum(len(programs) for _, programs in plan)
            comparerun.measure(bindir, plan, args.runs, scratch, setup, progress, run.done, run.watch)
        measurefiles(paths)
        if args.large:
            growladders(run, bindir, files, corpora, measurefiles)
            order = [name for name, _, _ in comparerun.SHAPES]
            files.sort(key=lambda file: (order.index(file[1]["shape"]), file[1]["size"]))
            run.record["files"].sort(key=lambda facts: (order.index(facts["shape"]), facts["size"]))
            paths = [path for path, _ in files]
    results = comparestats.summarise(files, stores, run.reports)
    shapes = comparerun.runshape(bindir, paths, progress)
    shapenote = None
    if shapes is None:
        shapenote = f"No compares or nodes per lookup: {comparerun.SHAPE} is not in {bindir}"
    else:
        compareresults.addshape(results, shapes)
        for facts in run.record["files"]:
            facts["shape_figures"] = shapes[facts["path"]]
    alpha, threshold = args.alpha, args.threshold / 100
    winners = comparestats.filewinners(results, alpha, threshold)
    against = None
    if earlier is not None:
        measured = compareresults.measuredbefore(files, befores, run.reports)
        rows, differing = compareresults.setagainst(results, earlier, alpha, threshold, measured)
        against = dict(run.record["against"], rows=rows, differing=differing, runs=min(
            (len(row[key]["before_runs"]) for row in rows for key in comparestats.TESTED),
            default=compareresults.earlierruns(earlier)))
        if not all(row["interleaved"] for row in rows):
            against["drift"] = compareprograms.DRIFT
    machine = run.record["machine"]
    build = run.record["build"]
    machineline = (f"{machine['cpu']}, {machine['cores']} cores, Linux {machine['kernel']}, commit "
                   f"{(build['commit'] or 'unknown')[:12]}; timed runs on CPU "
                   f"{'any' if args.cpu is None else args.cpu}, address-space randomisation {args.aslr}")
    settings = dict(run.record["settings"], started=time.strftime("%Y-%m-%d %H:%M"), threshold=threshold,
                    busy=run.watch.summary())
    run.record.update(summaries=results, against=against, winners=[
        dict(decided, file=file, figure=key) for (file, key), decided in winners.items()])
    sources = [(facts["file"], facts["source"]) for _, facts in files]
    compareoutput.writemarkdown(os.path.join(args.out, "results.md"), results, sources, settings, shapenote,
                                winners, against, machineline)
    compareresults.writecsv(os.path.join(args.out, "results.csv"), results, shapes is not None)
    checkstop()
    run.record["complete"] = True
    run.save()
    note = compareplot.writeplot(args.out, results, stores, comparerun.lastlevelcache())
    if run.corpora and not args.keep_corpora:
        shutil.rmtree(corpora)
    compareoutput.printsummary(results, stores, settings, winners, against)
    progress(f"compare: wrote {os.path.join(args.out, 'results.md')}, results.csv, results.json"
             + (" and results.gp" if note else ", results.gp and results.png"))
    for message in (note, shapenote):
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
    befores, why, trouble = compareprograms.earlierprograms(args.againstdir, run.record["machine"], keys)
    clash = [b["key"] for b in befores if any(b["key"] == store["key"] for store in stores)]
    if clash:
        raise RunError(f"--against: {clash[0]} names a store of this run and the earlier run's program of "
                       f"{clash[0].removesuffix(' (before)')} alike; rename it in --programs")
    recorded = {key: why for key in keys} if why else trouble
    run.record["against"] = {"path": args.against, "folder": args.againstdir, "programs": befores,
                             "recorded": recorded, "recorded_why": why}
    warning = compareoutput.driftwarning(run.record["against"])
    if warning:
        progress(f"compare: --against: {warning}")
    return befores


def runplan(paths, files, stores, befores, earlier):
    """(file, its programs) for each path: this run's stores, and the earlier
    run's programs of the stores that it ran on a file of the same bytes."""
    sha = {path: facts["sha256"] for path, facts in files}
    return [(path, stores + [b for b in befores if (sha[path], b["adt"]) in (earlier or {})]) for path in paths]


def stopped(run, signum):
    """What a stop says, and the rounds it keeps."""
    name = signal.Signals(signum).name
    record = run.record
    record["stopped_by"] = name
    total = run.perround * run.args.runs
    if total and record["runs"]:
        where = (f"after {len(record['runs'])} of {total} runs, {record['rounds_finished']} of {run.args.runs} "
                 "rounds finished")
    else:
        where = "before the first run"
    if run.corpora and not run.args.keep_corpora:
        shutil.rmtree(run.corpora, ignore_errors=True)
    kept = ""
    try:
        run.save()
        kept = f"; what it did is in {os.path.join(run.args.out, 'results.json')}"
    except OSError as error:
        kept = f"; results.json could not be written: {error.strerror}"
    progress(f"compare: stopped by {name} {where}{kept}")
    return 128 + signum


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
        run.corpora = None
        return execute(run)
    except Interrupted as stop:
        if run is None:
            progress(f"compare: stopped by {signal.Signals(stop.signum).name}")
            return 128 + stop.signum
        return stopped(run, stop.signum)
    except (RunError, compareresults.DamagedResults, comparestats.Disagreement) as failure:
        progress(f"compare: {failure}")
    except OSError as failure:
        progress(f"compare: {failure.filename or ''}: {failure.strerror}" if failure.filename else
                 f"compare: {failure.strerror or failure}")
    if run is not None and run.corpora and not run.args.keep_corpora:
        shutil.rmtree(run.corpora, ignore_errors=True)
    return 1
