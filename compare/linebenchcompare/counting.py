"""Counting a run's programs under valgrind (passcounts.py), after its timed
rounds, as a counted run takes a core for seconds: which programs on which
files, the counts kept from before, in OUT/counts.json and the earlier run's
(read, never written), the counted runs with a line of progress each, and
what the run counted (countfigures.Counting).
"""

import dataclasses
import os
import time

from . import passcounts
from .buildfacts import firstline
from .countfigures import Counting, Skipped, StoreCounts
from .errors import RunError
from .home import PROBE
from .passcounts import Geometry
from .progress import progress
from .records import CountScope
from .rounds import clock
from .stops import checkstop


@dataclasses.dataclass(frozen=True)
class Counter:
    """What counting needs, made ready before the timed rounds: the caches
    simulated, valgrind's version, the heap probe, the counts kept in OUT and
    those of the earlier run, by CountKey."""

    geometry: Geometry
    valgrind: str
    probe: str
    mine: dict
    earlier: dict


def programpath(out, store):
    """The program counted for a store: this run's kept copy, which cannot
    change under the run, or the earlier run's."""
    return os.path.join(out, store.saved) if store.saved else store.path


def isscript(path):
    """Whether path is run by an interpreter, which valgrind would count in
    its place."""
    with open(path, "rb") as program:
        return program.read(2) == b"#!"


def ready(settings, inputs, bindir, stores):
    """Before the timed rounds: a Counter, or the Counting of a run that
    counts nothing, and why, where valgrind is missing or cannot simulate
    the caches (said in one line); None where nothing is to be counted.  A
    damaged counts file stops the run here, before any timed run, rather
    than costing a run's time and then its counts."""
    if settings.counts == CountScope.CHANGED:
        stores = stores if any(store.earlierof for store in stores) else []
    if settings.counts == CountScope.NONE or all(isscript(store.path) for store in stores):
        return None
    try:
        valgrind = passcounts.valgrind()
        llc = settings.cache.size if settings.cache and settings.cache.source == "--llc" else None
        geometry = passcounts.cachegeometry(llc)
    except RunError as error:
        progress(f"compare: no counts: {error}")
        return Counting(settings.counts, None, None, [], 0.0, [], str(error))
    version = firstline([valgrind, "--version"]) or "valgrind"
    earlier = passcounts.loadcounts(inputs.earlier.folder) if inputs.earlier else {}
    return Counter(geometry, version, os.path.join(bindir, PROBE), passcounts.loadcounts(settings.out), earlier)


def planned(scope, plan):
    """(file, store) to count from the run's plan, a list of (file, its
    programs): every program, or the earlier run's programs that ran beside
    this run's and this run's of the same store."""
    if scope == CountScope.ALL:
        return [(file, store) for file, stores in plan for store in stores]
    chosen = []
    for file, stores in plan:
        against = {store.earlierof for store in stores if store.earlierof}
        chosen += [(file, store) for store in stores if store.earlierof or store.key in against]
    return chosen


@dataclasses.dataclass
class Tally:
    """The counting so far: the counts of each (file, store), those not
    counted, the CPU seconds counted, and the kept counts to write to OUT."""

    runs: list
    skipped: list
    seconds: float
    save: dict


def count(counter, settings, plan, took, report):
    """Counts each (file, store) of plan that no kept counts hold; report
    hears the Counting after every step, so that a stop keeps it; took: the
    seconds of each (path, store key)'s last timed run, for the time left.
    Returns the Counting."""
    kept = {**counter.earlier, **counter.mine}
    tally = Tally([], [], 0.0, dict(counter.mine))
    keys = {}
    for file, store in plan:
        path = programpath(settings.out, store)
        if isscript(path):
            tally.skipped.append(Skipped(file.name, store.key, f"{path} is a script, and valgrind would count its "
                                         "interpreter"))
        else:
            keys[(file.path, store.key)] = passcounts.countkey(path, file.path, counter.geometry, counter.probe).text()
    tocount = [(file, store) for file, store in plan if (file.path, store.key) in keys
               and keys[(file.path, store.key)] not in kept]
    begun, timed = time.monotonic(), 0.0
    for file, store in plan:
        key = keys.get((file.path, store.key))
        if key is None:
            continue
        counted = key not in kept
        if counted:
            checkstop()
            number = tocount.index((file, store)) + 1
            progress(f"compare: counting {store.key} on {file.name} under valgrind ({number} of {len(tocount)}"
                     f"{timeleft(begun, timed, took, tocount[number - 1:])})", transient=True)
            timed += took.get((file.path, store.key), 0.0)
            try:
                kept[key] = passcounts.runcounts(programpath(settings.out, store), file.path, counter.geometry,
                                                 counter.probe)
            except RunError as error:
                tally.skipped.append(Skipped(file.name, store.key, str(error)))
                progress(f"compare: {store.key} on {file.name} not counted: {error}")
                continue
            tally.seconds += kept[key].seconds
        tally.runs.append(StoreCounts(file.name, store.key, kept[key], counted))
        if key not in tally.save:  # counted now, or the earlier run's: OUT keeps all it used
            tally.save[key] = kept[key]
            passcounts.savecounts(settings.out, tally.save)
        report(counting(counter, settings, tally))
    if tocount:
        made = sum(run.counted for run in tally.runs)
        progress(f"compare: counted {made} run{'s' if made != 1 else ''} under valgrind in {tally.seconds:.0f} s of "
                 f"CPU; {len(tally.runs) - made} kept from before")
    return counting(counter, settings, tally)


def counting(counter, settings, tally):
    return Counting(settings.counts, counter.geometry, counter.valgrind, list(tally.runs), tally.seconds,
                    list(tally.skipped), None)


def timeleft(begun, timed, took, rest):
    """The progress line's word on the time left: counting's time so far over
    the timed runs' of what it counted, times theirs of the rest."""
    elapsed = time.monotonic() - begun
    if not timed or not elapsed:
        return ""
    return f", about {clock(elapsed / timed * sum(took.get((file.path, store.key), 0.0) for file, store in rest))} left"
