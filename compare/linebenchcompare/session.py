"""A run of linebench-compare from its build to its end: the record of what
it has done, the build, the files and the timed rounds, and the results it
writes; endings.py says how a stop or a failure ends it.
"""

import os
import tempfile
import time

from . import build, busy, keptprograms, markdown, measuredfiles, owned, plot, resultscsv, resultsjson, rounds, \
    storechoice, terminal, words
from .buildfacts import buildinfo
from .errors import RunError
from .home import CORPUS, PROBETARGET, SHAPE
from .ladder import SHAPES
from .machinefacts import machineinfo
from .medians import FLOOR_US, TESTED, summarise
from .openfigures import lookat, looksof
from .progress import progress
from .runner import Runner, childsetup
from .shapefigures import addshape, runshape
from .stops import checkstop
from .storelist import knownstores
from .text import shown
from .verdicts import filewinners, measuredbefore, setagainst
from .earlierrun import earlierruns


class Run:
    """What a run has done so far, kept in results.json even when stopped or
    failed."""

    def __init__(self, args, argv):
        self.args = args
        cache = None if args.cache is None else {"bytes": args.cache[0], "level": args.cache[1],
                                                 "from": "sysfs" if args.llc is None else "--llc"}
        self.record = {"complete": False, "stopped_by": None, "failure": None,
                       "command": ["linebench-compare"] + argv,
                       "started": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "machine": machineinfo(),
                       "build": None, "settings": {
                           "runs": args.runs, "time_limit": args.time_limit, "alpha": args.alpha,
                           "threshold": args.threshold / 100,
                           "floor_us": FLOOR_US, "cpu": args.cpu, "aslr": args.aslr == "on",
                           "quick": args.quick, "large": args.large, "shapes": args.shapes,
                           "seed": None if args.files else args.seed, "llc": cache},
                       "files": [], "stores": [], "runs": [], "rounds_finished": 0, "summaries": [],
                       "winners": [], "against": None, "busy": None}
        self.reports = {}
        self.laps = {}  # the round of each of reports' runs
        # Per figure set against another, the alpha and the rounds of the look
        # that last tested it, by ("fastest", file, key, store) or ("against",
        # file, key, store); closed: those a look decided, which run no more.
        self.looks = {}
        self.closed = set()
        self.unchanged = set()  # stores whose program is the earlier run's, byte for byte
        self.watch = busy.Watch(args.cpu)
        self.saved = False  # whether results.json is this run's
        self.corpora = None if args.files else owned.Owned(os.path.join(args.out, "corpora"))
        self.measuring = False  # whether the first timed run has begun
        self.stamps = {}  # per file: its size and modification time when its digest was taken
        self.befores = []  # the earlier run's programs that run beside this run's

    def done(self, lap, path, store, report):
        self.reports.setdefault((path, store["key"]), []).append(report)
        self.laps.setdefault((path, store["key"]), []).append(lap + 1)
        self.record["runs"].append({"round": lap + 1, "file": shown(os.path.basename(path)), "store": store["key"],
                                    "report": report})
        checkstop()

    def checkfile(self, path):
        """A file that changes during the run gives runs of two contents
        under one digest: the run stops at the first run after the change."""
        try:
            now = measuredfiles.stamp(path)
        except FileNotFoundError:
            raise RunError(f"{path} was removed during the run") from None
        if now != self.stamps[path]:
            raise RunError(f"{path} changed during the run: its size or modification time is not what it was "
                           "when its digest was taken, so its runs measured different contents")

    def save(self):
        self.record["busy"] = self.watch.summary()
        resultsjson.writejson(os.path.join(self.args.out, "results.json"), self.record)
        self.saved = True


def buildtargets(stores, args):
    """What the build makes for this run: the build's programs it runs and
    the tools it uses, so that a store folder that does not build stops only
    a run that asks for its store."""
    tools = [PROBETARGET, SHAPE] + ([] if args.files else [CORPUS])
    return [store["program"] for store in stores if store["program"]] + tools


def prepare(run):
    """The build folder and the stores, built where bindir is not given."""
    args = run.args
    if args.bindir is not None:
        return args.bindir, args.stores
    bindir = build.configure(progress)
    stores = storechoice.chooseprograms(args.programs, knownstores(bindir), run.error, built=False)
    build.build(buildtargets(stores, args), progress)
    return bindir, storechoice.chooseprograms(args.programs, knownstores(bindir), run.error)


def writeresults(run, files, shapes, shapenote, incomplete=None):
    """Decides the verdicts and writes results.md and results.csv of the
    files' runs, those of every store or, for a run that did not finish,
    those that have runs; returns the summaries, the winners, the comparison
    with the earlier run and the settings."""
    args = run.args
    stores = run.record["stores"]
    summaries = summarise(files, stores, run.reports, run.laps)
    if shapes is not None:
        addshape(summaries, shapes)
    alpha, threshold = args.alpha, args.threshold / 100
    winners = filewinners(summaries, alpha, threshold, looksof(run, "fastest", run.looks))
    against = None
    if args.earlier is not None:
        measured = measuredbefore(files, run.befores, run.reports, run.laps)
        rows, differing = setagainst(summaries, args.earlier, alpha, threshold, measured, run.unchanged,
                                     looksof(run, "against", run.looks))
        against = dict(run.record["against"], rows=rows, differing=differing, runs=min(
            (len(row[key]["before_runs"]) for row in rows for key in TESTED),
            default=earlierruns(args.earlier)))
        if not all(row["interleaved"] for row in rows):
            against["drift"] = keptprograms.DRIFT
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
    markdown.writemarkdown(os.path.join(args.out, "results.md"), summaries, sources, settings, shapenote, winners,
                           against, machineline)
    resultscsv.writecsv(os.path.join(args.out, "results.csv"), summaries, shapes is not None)
    return summaries, winners, against, settings


def execute(run):
    args = run.args
    started = time.monotonic()
    bindir, stores = prepare(run)
    run.record["build"] = buildinfo(bindir)
    run.record["stores"] = stores
    run.befores = planagainst(run, stores, args.earlier)
    if run.corpora:
        run.corpora.make()
    files = measuredfiles.describefiles(run, bindir)
    run.record["files"] = [dict(facts) for _, facts in files]
    paths = [path for path, _ in files]
    checkcommon(args, files, stores)
    setup = childsetup(args.cpu, args.aslr == "off")
    # From here results.json is this run's: the programs it keeps replace an
    # earlier run's in OUT/programs.
    keptprograms.keep(args.out, stores)
    run.save()
    with tempfile.TemporaryDirectory(prefix="compare-") as scratch:
        def finished(lap, path, store, report):
            run.checkfile(path)
            run.done(lap, path, store, report)

        runner = Runner(bindir, scratch, setup, finished, run.watch)

        def measurefiles(paths):
            plan = runplan(paths, files, stores, run.befores, args.earlier)
            measured = [(path, facts) for path, facts in files if path in paths]
            run.measuring = True
            rounds.measure(runner, plan, args.runs, args.alpha, args.time_limit,
                           lambda lap, alpha: lookat(run, measured, lap, alpha),
                           lambda lap: run.record.update(rounds_finished=lap))
        measurefiles(paths)
        if args.large:
            measuredfiles.growladders(run, bindir, files, measurefiles)
            order = [name for name, _, _ in SHAPES]
            files.sort(key=lambda file: (order.index(file[1]["shape"]), file[1]["size"]))
            run.record["files"].sort(key=lambda facts: (order.index(facts["shape"]), facts["size"]))
            paths = [path for path, _ in files]
    shapes = runshape(bindir, paths, progress)
    shapenote = None
    if shapes is None:
        shapenote = f"No compares or nodes per lookup: {SHAPE} is not in {bindir}"
    else:
        for facts in run.record["files"]:
            facts["shape_figures"] = shapes[facts["path"]]
    summaries, winners, against, settings = writeresults(run, files, shapes, shapenote)
    note = plot.writeplot(args.out, summaries, stores, args.cache, winners=winners)
    checkstop()
    run.record["complete"] = True
    run.save()
    left = run.corpora.release() if run.corpora and not args.keep_corpora else []
    terminal.printsummary(summaries, stores, settings, winners, against)
    progress(f"compare: wrote {os.path.join(args.out, 'results.md')}, results.csv, results.json"
             + (" and results.gp" if note else ", results.gp and results.png"))
    for message in [note, shapenote] + [f"could not remove {path}" for path in left]:
        if message:
            progress(f"compare: {message}")
    elapsed = time.monotonic() - started
    progress(f"compare: took {int(elapsed // 60)} min {elapsed % 60:.0f} s")
    return 0


def checkcommon(args, files, stores):
    """With --against, before any run: a run that has no file and store in
    common with the earlier run stops, naming the files of its names whose
    contents differ."""
    if args.earlier is None or any((facts["sha256"], store["key"]) in args.earlier
                                   for _, facts in files for store in stores):
        return
    names = {entry["file"] for entry in args.earlier.values()}
    differing = [facts["file"] for _, facts in files if facts["file"] in names]
    said = ""
    if differing:
        said = (f"; {differing[0]} differs from its file of that name" if len(differing) == 1 else
                f"; {', '.join(differing)} differ from its files of those names")
    raise RunError(f"Nothing in common with the earlier run {args.against}: no file of this run has the content "
                   f"of one of its files with the same store{said}")


def planagainst(run, stores, earlier):
    """With --against: the earlier run's kept programs that run beside this
    run's, each of a store both runs have; the others' verdicts take its
    recorded runs, which the terminal says at once."""
    if earlier is None:
        return []
    args = run.args
    keys = [store["key"] for store in stores if any(key == store["key"] for _, key in earlier)]
    befores, why, trouble = keptprograms.earlierprograms(args.againstdir, run.record["machine"], keys,
                                                         args.againstrecord)
    clash = [b["key"] for b in befores if any(b["key"] == store["key"] for store in stores)]
    if clash:
        raise RunError(f"--against: {clash[0]} names a store of this run and the earlier run's program of "
                       f"{clash[0].removesuffix(' (before)')} alike; rename it in --programs")
    recorded = {key: why for key in keys} if why else trouble
    now = {store["key"]: store for store in stores}
    run.unchanged = {before["adt"] for before in befores if keptprograms.sameprogram(now[before["adt"]], before)}
    befores = [before for before in befores if before["adt"] not in run.unchanged]
    if run.unchanged:
        progress(f"compare: --against: unchanged since that run, so not run again: {', '.join(sorted(run.unchanged))}")
    run.record["against"] = {"path": args.against, "folder": args.againstdir, "programs": befores,
                             "recorded": recorded, "recorded_why": why, "unchanged": sorted(run.unchanged)}
    warning = words.driftwarning(run.record["against"])
    if warning:
        progress(f"compare: --against: {warning}")
    return befores


def runplan(paths, files, stores, befores, earlier):
    """(file, its programs) for each path: this run's stores, and the earlier
    run's programs of the stores that it ran on a file of the same bytes."""
    sha = {path: facts["sha256"] for path, facts in files}
    return [(path, stores + [b for b in befores if (sha[path], b["adt"]) in (earlier or {})]) for path in paths]
