"""A run of linebench-compare from its build to its end: the record of what
it has done, the build, the files and the timed rounds, and the results it
writes; endings.py says how a stop or a failure ends it.
"""

import dataclasses
import functools
import os
import tempfile
import time

from . import (build, carried, counting, keptprograms, markdown, measuredfiles, owned, plot, resultscsv, resultsjson,
               rounds, terminal)
from .busy import Watch
from .buildfacts import buildinfo
from .countfigures import Counting
from .earlierrun import earlierruns
from .errors import RunError
from .gate import gate
from .home import CORPUS, PROBETARGET, SHAPE
from .ladder import SHAPENAMES, corpusplan
from .machinefacts import machineinfo
from .medians import summarise
from .openfigures import Kind, lookat, looksof
from .progress import progress
from .records import TESTED, Against, Report, TimedRun
from .runner import Runner, childsetup
from .shapefigures import runshape, withshapevalues
from .stops import checkstop
from .storechoice import chooseprograms
from .storelist import knownstores
from .verdicts import Befores, Rule, filewinners, measuredbefore, setagainst, versus
from .words import driftwarning


class Run:
    """What a run has done so far, kept in results.json even when stopped or
    failed, and what it needs to go on."""

    def __init__(self, settings, inputs, argv):
        self.settings, self.inputs = settings, inputs
        self.command = ["linebench-compare"] + argv
        self.started = time.strftime("%Y-%m-%dT%H:%M:%S%z")
        self.machine = machineinfo()
        self.build = None
        self.files, self.stores, self.runs, self.roundsfinished = [], [], [], 0
        self.complete, self.stoppedby, self.failure = False, None, None
        # What the run concludes from its runs, when it ends or is stopped.
        self.summaries, self.winners, self.against, self.large = [], {}, None, None
        self.shapenote, self.incomplete = None, None
        self.reports = {}  # the reports of the runs, per (file's path, store key)
        self.laps = {}  # the round of each of them
        # Per figure set against another, the look that last tested it; closed:
        # those a look decided, which run no more.
        self.looks = {}
        self.closed = set()
        self.earlierprograms = []  # the earlier run's programs that run beside this run's
        self.unchanged = set()  # stores whose program is the earlier run's, byte for byte
        self.carriable = set()  # of those, the ones whose figures this run carries from it (carried.py)
        self.earlierhalves = {}  # the chains' halves on the earlier run's runs, made once
        self.watch = Watch(settings.cpu)
        self.saved = False  # whether results.json is this run's
        self.corpora = None if settings.files else owned.Owned(os.path.join(settings.out, "corpora"))
        self.made = []  # the output folder and those above it that this run made
        self.measuring = False  # whether the first timed run has begun
        self.took = {}  # the seconds of each file and store's last timed run, by (path, store key)
        self.counting = None  # what the run counted under valgrind (counting.py)

    def rule(self, alpha=None):
        """The rule of the verdicts, at alpha or the run's own."""
        return Rule(self.settings.alpha if alpha is None else alpha, self.settings.threshold)

    def beforesof(self, files):
        """The earlier run's programs as this run ran them on files."""
        return Befores(measuredbefore(files, self.earlierprograms, self.reports, self.laps), self.unchanged)

    def done(self, lap, file, store, report, seconds=None):
        self.reports.setdefault((file.path, store.key), []).append(report)
        self.laps.setdefault((file.path, store.key), []).append(lap + 1)
        self.runs.append(TimedRun(lap + 1, file.name, store.key, report, seconds))
        checkstop()

    def finishedround(self, lap):
        self.roundsfinished = lap

    def report(self):
        """What the run has done and concluded so far."""
        return Report(self.settings, self.command, self.started, self.machine, self.build, self.files, self.stores,
                      self.runs, self.roundsfinished, self.summaries, self.winners, self.against,
                      self.watch.summary(), self.large, self.complete, self.stoppedby, self.failure,
                      time.strftime("%Y-%m-%d %H:%M"), self.shapenote, self.incomplete, self.counting)

    def save(self):
        resultsjson.write(self.report(), self.settings.out)
        self.saved = True

    def makeout(self):
        """Makes the output folder, where missing, once the run writes there."""
        self.made += owned.makefolder(self.settings.out)

    def record(self, stores):
        """Writes down the stores with their kept programs: from here
        results.json is this run's."""
        self.stores = stores
        self.save()


def checkfile(file):
    """A file that changes during the run gives runs of two contents under
    one digest: the run stops at the first run after the change."""
    try:
        now = measuredfiles.stamp(file.path)
    except FileNotFoundError:
        raise RunError(f"{file.path} was removed during the run") from None
    if now != file.stamp:
        raise RunError(f"{file.path} changed during the run: its size or modification time is not what it was "
                       "when its digest was taken, so its runs measured different contents")


def buildtargets(stores, settings):
    """What the build makes for this run: the build's programs it runs and
    the tools it uses, so that a store folder that does not build stops only
    a run that asks for its store."""
    tools = [PROBETARGET, SHAPE] + ([] if settings.files else [CORPUS])
    return [store.program for store in stores if store.program] + tools


def prepare(run):
    """The build folder and the stores, built where the command line did not
    name a build folder and the tool is not installed; with --against, not
    built where the stores have nothing in common with the earlier run's."""
    if run.inputs.bindir is not None:
        return run.inputs.bindir, run.inputs.stores
    bindir = build.configure(progress)
    stores = chooseprograms(run.settings.programs, knownstores(bindir), built=False)
    checkcommon(run, [store.key for store in stores])
    build.build(buildtargets(stores, run.settings), progress)
    return bindir, chooseprograms(run.settings.programs, knownstores(bindir))


def conclude(run, shapenote, incomplete=None):
    """Decides the verdicts and writes results.md and results.csv of the
    runs so far: of every store or, for a run that did not finish (why:
    incomplete), those that have runs.  Returns the report."""
    earlier = run.inputs.earlier
    summaries, sides = carried.table(run, run.files, summarise(run.files, run.stores, run.reports, run.laps))
    run.summaries = summaries if shapenote else withshapevalues(summaries)
    run.winners = filewinners(run.summaries, run.rule(), looksof(run, Kind.FASTEST, run.looks),
                              functools.partial(carried.sidetest, sides) if sides else versus)
    if earlier is not None and run.against is not None:
        rows, differing = setagainst(run.summaries, earlier, run.rule(), run.beforesof(run.files),
                                     looksof(run, Kind.AGAINST, run.looks))
        runs = min((len(row.figures[figure].beforeruns) for row in rows for figure in TESTED),
                   default=earlierruns(earlier))
        drift = None if all(row.interleaved or row.unchanged for row in rows) else keptprograms.DRIFT
        run.against = dataclasses.replace(run.against, rows=rows, differing=differing, runs=runs, drift=drift)
    run.shapenote, run.incomplete = shapenote, incomplete
    report = run.report()
    markdown.write(report, run.settings.out)
    resultscsv.write(report, run.settings.out)
    return report


def execute(run):
    settings = run.settings
    started = time.monotonic()
    if settings.files:
        run.files = measuredfiles.describefiles(settings, None, None)
    checkcommon(run, knownkeys(run))
    bindir, run.stores = prepare(run)
    run.build = buildinfo(bindir)
    run.earlierprograms = planagainst(run)
    if run.corpora:
        run.makeout()
        run.corpora.make()
        run.files = measuredfiles.describefiles(settings, run.corpora, bindir)
    checkcommon(run, [store.key for store in run.stores])
    counter = counting.ready(settings, run.inputs, bindir, run.stores + run.earlierprograms)
    if isinstance(counter, Counting):
        run.counting, counter = counter, None
    # The programs it keeps replace an earlier run's in OUT/programs.
    run.makeout()
    keptprograms.keep(settings.out, run.stores, run.record)
    if run.watch.shared:
        progress(f"compare: CPU {settings.cpu} is the only CPU this run may use: linebench-compare waits on it "
                 "while the runs are timed")
    with tempfile.TemporaryDirectory(prefix="compare-") as scratch:
        measure(run, bindir, scratch)
    if counter is not None:
        run.counting = counting.count(counter, settings, counting.planned(settings.counts, runplan(run, run.files)),
                                      run.took, lambda counted: setattr(run, "counting", counted))
    shaped = runshape(bindir, run.files)
    shapenote = None
    if shaped is None:
        shapenote = f"No compares or nodes per lookup: {SHAPE} is not in {bindir}"
    else:
        run.files = shaped
    report = conclude(run, shapenote)
    note = plot.write(report, settings.out)
    checkstop()
    run.complete = True
    run.save()
    left = run.corpora.release() if run.corpora and not settings.keepcorpora else []
    terminal.write(report, settings.out)
    progress(f"compare: wrote {os.path.join(settings.out, 'results.md')}, results.csv, results.json"
             + (" and results.gp" if note else ", results.gp and results.png"))
    for message in [note, shapenote] + [f"could not remove {path}" for path in left]:
        if message:
            progress(f"compare: {message}")
    elapsed = time.monotonic() - started
    progress(f"compare: took {int(elapsed // 60)} min {elapsed % 60:.0f} s")
    gated = gate(report)
    if gated is None:
        return 0
    status, line = gated
    progress(line)
    return status


def measure(run, bindir, scratch):
    """The timed rounds on every file, and under --large on the rungs that
    grow each shape's ladder."""
    settings = run.settings

    def finished(lap, file, store, report, seconds):
        checkfile(file)
        run.done(lap, file, store, report, seconds)

    runner = Runner(bindir, scratch, childsetup(settings.cpu, not settings.aslr), finished, run.watch)
    run.took = runner.took

    def measurefiles(files):
        plan = runplan(run, files)
        schedule = rounds.Schedule(plan, settings.auto, settings.runs, settings.alpha, settings.timelimit,
                                   runlater(run, plan))
        run.measuring = True
        rounds.measure(runner, schedule, lambda lap, alpha: lookat(run, files, lap, alpha), run.finishedround)

    measurefiles(run.files)
    if settings.large:
        measuredfiles.growladders(run, bindir, measurefiles)
        run.files.sort(key=lambda file: (SHAPENAMES.index(file.shape), file.size))


def knownkeys(run):
    """The keys of the run's stores where they are known before the build's
    list of stores is: with a build folder, or --programs of NAME=PATH alone;
    else None."""
    programs = run.settings.programs
    if run.inputs.bindir is not None or programs and all("=" in item for item in programs):
        return [store.key for store in run.inputs.stores]
    return None


def checkcommon(run, keys):
    """With --against, as soon as it can be known, before the build where it
    can: a run that has no file and store in common with the earlier run
    stops, naming the files of its names whose contents differ.  FILEs are
    known by their SHA-256s from the start; the ladder before it is written
    by the lines and distinct lines that linebench-corpus writes exactly, a
    file of other counts having other contents, but for the rungs that
    --large adds; the stores by their keys, once known (None: not yet)."""
    earlier = run.inputs.earlier
    if earlier is None:
        return
    if run.files:
        shas = {file.sha256 for file in run.files}
        files = "no file of this run has the content of one of its files"
        possible = {(sha, key) for sha, key in earlier.entries if sha in shas}
    elif not run.settings.large:
        counts = {(planned.lines, planned.distinct) for planned in
                  corpusplan(run.corpora.path, run.settings.quick, run.settings.seed, run.settings.shapes)}
        files = "no corpus of this run's ladder has the lines and distinct lines of one of its files"
        possible = {place for place, entry in earlier.entries.items() if (entry.lines, entry.distinct) in counts}
    elif earlier.entries:
        files, possible = None, set(earlier.entries)
    else:
        files, possible = "its results hold no figures", set()
    if any(keys is None or key in keys for _, key in possible):
        return
    if files is None:
        ran = sorted({key for _, key in earlier.entries})
        said = f"it ran none of this run's stores ({', '.join(keys)}), but {', '.join(ran)}"
    else:
        said = files + (" with the same store" if possible else "")
    names = {entry.file for entry in earlier.entries.values()}
    differing = [file.name for file in run.files if file.name in names]
    if differing:
        said += (f"; {differing[0]} differs from its file of that name" if len(differing) == 1 else
                 f"; {', '.join(differing)} differ from its files of those names")
    raise RunError(f"Nothing in common with the earlier run {earlier.path}: {said}")


def planagainst(run):
    """With --against: the earlier run's kept programs that run beside this
    run's, each of a store both runs have whose program changed; the others'
    verdicts take its recorded runs, which the terminal says at once.  A
    store whose program is unchanged runs no more beside itself, and where
    that run was on this machine its figures are carried (carried.py)."""
    earlier = run.inputs.earlier
    if earlier is None:
        return []
    keys = [store.key for store in run.stores if any(key == store.key for _, key in earlier.entries)]
    same = keptprograms.unchangedsince(earlier.recordpath, [store for store in run.stores if store.key in keys],
                                       run.machine)
    changed = [key for key in keys if key not in same.keys]
    kept = keptprograms.earlierprograms(earlier.folder, run.machine, changed, earlier.recordpath)
    befores, why = kept.stores, kept.why
    clash = [before.key for before in befores if any(before.key == store.key for store in run.stores)]
    if clash:
        raise RunError(f"--against: {clash[0]} names a store of this run and the earlier run's program of "
                       f"{clash[0].removesuffix(' (before)')} alike; rename it in --programs")
    recorded = {key: why for key in changed} if why else kept.trouble
    run.unchanged = set(same.keys)
    run.carriable = run.unchanged if same.here else set()
    if run.unchanged:
        progress(f"compare: --against: unchanged since that run, so not "
                 f"{'run again' if same.here else 'set against it'}: {', '.join(sorted(run.unchanged))}")
    run.against = Against(earlier.path, earlier.folder, befores, recorded, why, sorted(run.unchanged))
    warning = driftwarning(run.against)
    if warning:
        progress(f"compare: --against: {warning}")
    return befores


def runplan(run, files):
    """(file, its programs) for each of files: this run's stores, and the
    earlier run's programs of the stores that it ran on a file of the same
    bytes."""
    entries = run.inputs.earlier.entries if run.inputs.earlier else {}
    return [(file, run.stores + [before for before in run.earlierprograms
                                 if (file.sha256, before.earlierof) in entries]) for file in files]


def runlater(run, plan):
    """By file's path, the carried stores of the plan, which run only once a
    look needs them.  With --runs N, whose one look comes at the end, those
    of a file where a store runs without an earlier program beside it run
    from the first round, as its tests against them need."""
    entries = run.inputs.earlier.entries if run.inputs.earlier else {}
    later = {}
    for file, stores in plan:
        keys = carried.carriedkeys(file, run.carriable, entries)
        beside = {store.earlierof for store in stores if store.earlierof}
        alone = any(store.key not in keys | beside for store in stores if not store.earlierof)
        later[file.path] = keys if run.settings.auto or not alone else set()
    return later
