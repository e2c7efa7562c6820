"""A run of linebench-compare from its build to its end: the record of what
it has done, the build, the files and the timed rounds, the results it
writes, and, on SIGINT or SIGTERM or a failure, what it keeps of the rounds
already finished.
"""

import os
import signal
import sys
import tempfile
import time

from . import build, busy, files as corpora, output, owned, plot, programs, results, rounds, stats
from . import stores as choose
from . import run as runs
from .output import progress
from .run import Interrupted, RunError
from .text import shown


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
                           "runs": args.runs, "time_limit": args.time_limit, "alpha": args.alpha,
                           "threshold": args.threshold / 100,
                           "floor_us": stats.FLOOR_US, "cpu": args.cpu, "aslr": args.aslr == "on",
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
            now = corpora.stamp(path)
        except FileNotFoundError:
            raise RunError(f"{path} was removed during the run") from None
        if now != self.stamps[path]:
            raise RunError(f"{path} changed during the run: its size or modification time is not what it was "
                           "when its digest was taken, so its runs measured different contents")

    def save(self):
        self.record["busy"] = self.watch.summary()
        results.writejson(os.path.join(self.args.out, "results.json"), self.record)
        self.saved = True


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
    stores = choose.chooseprograms(args.programs, choose.knownstores(bindir), run.error, built=False)
    build.build(buildtargets(stores, args), progress)
    return bindir, choose.chooseprograms(args.programs, choose.knownstores(bindir), run.error)


def writeresults(run, files, shapes, shapenote, incomplete=None):
    """Decides the verdicts and writes results.md and results.csv of the
    files' runs, those of every store or, for a run that did not finish,
    those that have runs; returns the summaries, the winners, the comparison
    with the earlier run and the settings."""
    args = run.args
    stores = run.record["stores"]
    summaries = stats.summarise(files, stores, run.reports, run.laps)
    if shapes is not None:
        results.addshape(summaries, shapes)
    alpha, threshold = args.alpha, args.threshold / 100
    winners = stats.filewinners(summaries, alpha, threshold, looksof(run, "fastest", run.looks))
    against = None
    if args.earlier is not None:
        measured = results.measuredbefore(files, run.befores, run.reports, run.laps)
        rows, differing = results.setagainst(summaries, args.earlier, alpha, threshold, measured, run.unchanged,
                                             looksof(run, "against", run.looks))
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
    files = corpora.describefiles(run, bindir)
    run.record["files"] = [dict(facts) for _, facts in files]
    paths = [path for path, _ in files]
    checkcommon(args, files, stores)
    setup = runs.childsetup(args.cpu, args.aslr == "off")
    # From here results.json is this run's: the programs it keeps replace an
    # earlier run's in OUT/programs.
    programs.keep(args.out, stores)
    run.save()
    with tempfile.TemporaryDirectory(prefix="compare-") as scratch:
        def finished(lap, path, store, report):
            run.checkfile(path)
            run.done(lap, path, store, report)

        runner = runs.Runner(bindir, scratch, setup, finished, run.watch)

        def measurefiles(paths):
            plan = runplan(paths, files, stores, run.befores, args.earlier)
            measured = [(path, facts) for path, facts in files if path in paths]
            run.measuring = True
            rounds.measure(runner, plan, args.runs, args.alpha, args.time_limit,
                           lambda lap, alpha: lookat(run, measured, lap, alpha),
                           lambda lap: run.record.update(rounds_finished=lap))
        measurefiles(paths)
        if args.large:
            corpora.growladders(run, bindir, files, measurefiles)
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
    note = plot.writeplot(args.out, summaries, stores, args.cache, winners=winners)
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


def lookat(run, files, lap, alpha):
    """A look at the figures of files after lap rounds, each tested at alpha
    unless an earlier look closed it: records the look of every figure it
    tests and closes those it decides.  Returns the programs that the open
    figures still need on each file, by path, and how many figures are open
    of how many.  With --against, the figures set against the earlier run
    are the ones that rounds go on for."""
    args = run.args
    summaries = stats.summarise(files, run.record["stores"], run.reports, run.laps)
    threshold = args.threshold / 100
    paths = {facts["file"]: path for path, facts in files}
    tested = {}  # (kind, file, key, store) -> (verdict, the programs it needs)
    if args.earlier is None:
        looks = looksof(run, "fastest", run.closed)
        for (file, key), decided in stats.filewinners(summaries, alpha, threshold, looks).items():
            for store, verdict in decided["versus"].items():
                tested[("fastest", file, key, store)] = (verdict, {store, decided["fastest"]})
    else:
        measured = results.measuredbefore(files, run.befores, run.reports, run.laps)
        rows, _ = results.setagainst(summaries, args.earlier, alpha, threshold, measured, run.unchanged,
                                     looksof(run, "against", run.closed))
        for row in rows:
            for key in stats.TESTED:
                before = {programs.BEFORE.format(row["store"])} if row["interleaved"] else set()
                tested[("against", row["file"], key, row["store"])] = (row[key], {row["store"]} | before)
    needed, opened, figures = {}, 0, 0
    for figure, (verdict, wanted) in tested.items():
        if verdict["verdict"] is None:
            continue  # too short or unchanged: no look decides it
        figures += 1
        # faster than the fastest: the fastest is not, and the figure waits
        # for rounds that tell which is
        undecided = verdict["verdict"] == stats.OPEN or figure[0] == "fastest" and verdict["verdict"] == stats.FASTER
        if figure in run.closed and not undecided:
            continue
        run.looks[figure] = (alpha, lap)
        if undecided:
            run.closed.discard(figure)
            opened += 1
            needed.setdefault(paths[figure[1]], set()).update(wanted)
        else:
            run.closed.add(figure)
    return needed, opened, figures


def looksof(run, kind, figures):
    """The looks of those of figures of one kind, by (file, key) and store
    for the fastest, by (file, store, key) against the earlier run: the
    alpha and the last round of each one's look."""
    looks = {}
    for figure in figures:
        if figure[0] == kind:
            _, file, key, store = figure
            if kind == "fastest":
                looks.setdefault((file, key), {})[store] = run.looks[figure]
            else:
                looks[(file, store, key)] = run.looks[figure]
    return looks


def planagainst(run, stores, earlier):
    """With --against: the earlier run's kept programs that run beside this
    run's, each of a store both runs have; the others' verdicts take its
    recorded runs, which the terminal says at once."""
    if earlier is None:
        return []
    args = run.args
    keys = [store["key"] for store in stores if any(key == store["key"] for _, key in earlier)]
    befores, why, trouble = programs.earlierprograms(args.againstdir, run.record["machine"], keys,
                                                     args.againstrecord)
    clash = [b["key"] for b in befores if any(b["key"] == store["key"] for store in stores)]
    if clash:
        raise RunError(f"--against: {clash[0]} names a store of this run and the earlier run's program of "
                       f"{clash[0].removesuffix(' (before)')} alike; rename it in --programs")
    recorded = {key: why for key in keys} if why else trouble
    now = {store["key"]: store for store in stores}
    run.unchanged = {before["adt"] for before in befores if programs.sameprogram(now[before["adt"]], before)}
    befores = [before for before in befores if before["adt"] not in run.unchanged]
    if run.unchanged:
        progress(f"compare: --against: unchanged since that run, so not run again: {', '.join(sorted(run.unchanged))}")
    run.record["against"] = {"path": args.against, "folder": args.againstdir, "programs": befores,
                             "recorded": recorded, "recorded_why": why, "unchanged": sorted(run.unchanged)}
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
        summaries, winners, _, _ = writeresults(run, files, None,
                                                "No compares or nodes per lookup: the run did not finish", why)
        plot.writeplot(folder, summaries, run.record["stores"], run.args.cache, draw=False, winners=winners)
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
        where = f"after {finished} run{'s' if finished != 1 else ''}, {record['rounds_finished']} rounds finished"
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
