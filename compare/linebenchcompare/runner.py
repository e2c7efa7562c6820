"""The timed runs: each program run once on a file under the heap probe,
pinned to its CPU, in the order of a round, and the time each took.
"""

import ctypes
import os
import time

from .errors import RunError
from .heapprobe import fulltimes, probeenvironment, readprobe
from .home import PROBE
from .records import Figure, ProgramReport
from .report import ReportError, runreport


ADDR_NO_RANDOMIZE = 0x0040000  # personality(2), as setarch -R sets it


def childsetup(cpu, norandom):
    """What the child does between fork and exec: keep to one CPU, and lay out
    its memory without randomisation.  Both last across the exec."""
    libc = ctypes.CDLL(None, use_errno=True) if norandom else None

    def setup():
        if cpu is not None:
            os.sched_setaffinity(0, {cpu})
        if libc is not None:
            libc.personality(libc.personality(0xFFFFFFFF) | ADDR_NO_RANDOMIZE)
    return setup


def runqueue(plan, lap):
    """(file, store) in the order of round lap's runs: on every file of plan,
    a list of (file, its stores), every one of its stores, the order rotated
    each round so that none always goes first."""
    return [(file, stores[(turn + lap) % len(stores)]) for file, stores in plan for turn in range(len(stores))]


class Runner:
    """Runs programs on files under the heap probe, pinned as setup says,
    handing each report and the wall seconds its run took to done(round,
    file, store, report, seconds), and the time around the run to watch,
    which counts what else the machine did; keeps the seconds of each file
    and store's latest run, for estimates."""

    def __init__(self, bindir, scratch, setup, done, watch=None):
        self.probe = os.path.join(bindir, PROBE)
        self.probefile = os.path.join(scratch, "heapprobe.txt")
        self.setup, self.done, self.watch = setup, done, watch
        self.took = {}

    def run(self, lap, file, store):
        begun = time.monotonic()
        mark = self.watch.mark() if self.watch else None
        report = self.runonce(store, file.path)
        if self.watch:
            self.watch.add(lap, mark)
        took = time.monotonic() - begun
        self.took[(file.path, store.key)] = took
        self.done(lap, file, store, report, took)

    def runonce(self, store, path):
        """One run's report.  Its memory figure counts the heap growth that
        the probe saw where the program counts the break's growth: both add
        the store's static footprint, so swapping one growth for the other
        leaves the footprint in.  The program's own figure is kept beside
        it.  Its times are the clock's, unrounded, where the probe saw the
        driver's readings; else the report's."""
        if os.path.exists(self.probefile):
            os.remove(self.probefile)
        try:
            row = runreport(store.path, path, probeenvironment(self.probe, self.probefile), self.setup)
        except ReportError as error:
            missing = " (a library it needs is missing: tools/deps installs the baselines' libraries)" \
                if "error while loading shared libraries" in str(error) else ""
            raise RunError(str(error) + missing) from None
        if store.checkadt and row.adt != store.label:
            raise RunError(f"{store.path} reports the store {row.adt}, not {store.label}")
        probed = readprobe(self.probefile, store.path)
        printed = {Figure.GETLINE: row.getline, Figure.STORE: row.store, Figure.LOOKUP: row.lookup}
        full = fulltimes(row.lines, printed, probed.clock)
        memory = row.memory + (probed.heapgrowth - probed.breakgrowth) / row.distinct
        return ProgramReport(row.lines, row.avglinelen, row.distinct, row.adt, row.row,
                             {**(full or printed), Figure.MEMORY: memory}, row.memory, full is not None)

    def estimate(self, queue):
        """Seconds that the runs of queue should take, or None before each
        has run once."""
        seconds = [self.took.get((file.path, store.key)) for file, store in queue]
        return None if None in seconds else sum(seconds)
