"""The timed runs: each program run once on a file under the heap probe,
pinned to its CPU, in the order of a round, and the time each took.
"""

import ctypes
import os
import time

from .errors import RunError
from .heapprobe import fulltimes, probeenvironment, readprobe
from .home import PROBE
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


def runonce(store, path, probe, probefile, setup):
    """One run's report.  Its memory figure, bytes_per_line, counts the heap
    growth that the probe saw where the program counts the break's growth:
    both add the store's static footprint, so swapping one growth for the
    other leaves the footprint in.  The program's own figure is kept as
    report_bytes_per_line.  Its times are the clock's, unrounded, where the
    probe saw the driver's readings (full_times true); else the report's."""
    if os.path.exists(probefile):
        os.remove(probefile)
    try:
        report = runreport(store["path"], path, probeenvironment(probe, probefile), setup)
    except ReportError as error:
        missing = " (a library it needs is missing: tools/deps installs the baselines' libraries)" \
            if "error while loading shared libraries" in str(error) else ""
        raise RunError(str(error) + missing) from None
    # An earlier run's program goes by "KEY (before)" and reports KEY.
    label = store.get("adt", store["key"])
    if store["checkadt"] and report["adt"] != label:
        raise RunError(f"{store['path']} reports the store {report['adt']}, not {label}")
    breakgrowth, heapgrowth, clock = readprobe(probefile, store["path"])
    report["report_bytes_per_line"] = report["bytes_per_line"]
    report["bytes_per_line"] += (heapgrowth - breakgrowth) / report["distinct"]
    full = fulltimes(report, clock)
    report["full_times"] = full is not None
    report.update(full or {})
    return report


def runqueue(plan, lap):
    """(file, store) in the order of round lap's runs: on every file of plan,
    a list of (file, its stores), every one of its stores, the order rotated
    each round so that none always goes first."""
    return [(path, stores[(turn + lap) % len(stores)]) for path, stores in plan for turn in range(len(stores))]


class Runner:
    """Runs programs on files under the heap probe, pinned as setup says,
    handing each report to done(round, path, store, report), and the time
    around the run to watch, which counts what else the machine did; keeps
    the seconds of each file and store's latest run, for estimates."""

    def __init__(self, bindir, scratch, setup, done, watch=None):
        self.probe = os.path.join(bindir, PROBE)
        self.probefile = os.path.join(scratch, "heapprobe.txt")
        self.setup, self.done, self.watch = setup, done, watch
        self.took = {}

    def run(self, lap, path, store):
        begun = time.monotonic()
        mark = self.watch.mark() if self.watch else None
        report = runonce(store, path, self.probe, self.probefile, self.setup)
        if self.watch:
            self.watch.add(lap, mark)
        self.done(lap, path, store, report)
        self.took[(path, store["key"])] = time.monotonic() - begun

    def estimate(self, queue):
        """Seconds that the runs of queue should take, or None before each
        has run once."""
        seconds = [self.took.get((path, store["key"])) for path, store in queue]
        return None if None in seconds else sum(seconds)
