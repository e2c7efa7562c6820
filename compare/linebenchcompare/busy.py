"""How much of the machine other processes used while linebench-compare timed
its runs, from the kernel's CPU time counters in /proc/stat.

Around every timed run it reads each CPU's busy time (user, nice, system,
irq and softirq; guest time is counted within user), its total and its
steal time, and the CPU time of this process and of its runs, which the
kernel counts for the waited-for children.  With the runs pinned, this
process keeps off their CPU meanwhile, so its time is the other CPUs';
where their CPU is the only one it may use, it waits there, and its time is
that CPU's.  A run begins as a copy of this process beside it, and moves to its CPU before
it starts the program; the kernel does not say how much of its time was
spent before, so its time is taken as spent on its CPU as far as that CPU's
busy time holds it, and the rest on the others: every tick of this run's own
is taken off once.  The figures are the busy share left to others of the
runs' CPU and of the other CPUs, each over those CPUs' whole time.  When the
runs are not pinned, it is the busy share of every CPU, less this process's
and its runs' own time, over the time left to others.  Steal, the time a
hypervisor gave the CPUs to other guests, is a share of every CPU's time,
where the kernel counts it.
"""

import dataclasses
import os
import time
from typing import Optional

from .records import BusyFigures, BusyShares

# The counters, or a file that stands in for them in the tests.
STAT = os.environ.get("COMPARE_PROC_STAT", "/proc/stat")
TICK = os.sysconf("SC_CLK_TCK")
# A busy share above this warns.  On this project's two cores, the other
# CPU read 0.7% to 4.8% busy while nothing else ran, and a steady load there
# (one process reading a file from the page cache) kept it 96% busy, which
# moved 16 of 24 verdicts set against a quiet run's recorded runs
# (docs/compare-method.md).
BUSY = 10.0
# Steal above this warns: the runs' own CPU was taken from them.
STEAL = 2.0


def readstat(path):
    """Per CPU number: (busy, total, steal or None) in ticks; None where the
    counters cannot be read."""
    counters = {}
    try:
        with open(path) as source:
            for line in source:
                name, *fields = line.split()
                if not name.startswith("cpu") or name == "cpu" or len(fields) < 4:
                    continue
                ticks = [int(field) for field in fields[:8]]
                user, nice, system, idle = ticks[:4]
                iowait, irq, softirq, steal = (ticks[4:] + [0, 0, 0, None])[:4]
                counters[int(name[3:])] = (user + nice + system + irq + softirq,
                                           sum(ticks[:7]) + (steal or 0), steal)
    except (OSError, ValueError):
        return None
    return counters or None


@dataclasses.dataclass(frozen=True)
class Reading:
    """The counters at one moment: each CPU's, the CPU seconds of this
    process and of its waited-for children, and the monotonic clock."""

    counters: Optional[dict]
    own: float
    children: float
    at: float


def read(stat):
    times = os.times()
    return Reading(readstat(stat), times.user + times.system, times.children_user + times.children_system,
                   time.monotonic())


@dataclasses.dataclass
class Sums:
    """The ticks of the timed runs, summed over a round or over all: the busy
    and whole time of the CPUs counted as others' (every CPU where the runs
    are not pinned), the steal, every CPU's whole time, the seconds timed,
    the busy and whole time of the runs' CPU, and the runs' own time.  This
    process's time is off the busy time of the CPU it waited on."""

    otherbusy: float = 0.0
    othertotal: float = 0.0
    steal: float = 0.0
    total: float = 0.0
    seconds: float = 0.0
    pinnedbusy: float = 0.0
    pinnedtotal: float = 0.0
    runs: float = 0.0

    def add(self, other):
        for field in dataclasses.fields(self):
            setattr(self, field.name, getattr(self, field.name) + getattr(other, field.name))


def share(busy, total):
    return round(100 * min(max(busy, 0) / total, 1), 1) if total > 0 else None


class Watch:
    """The counters summed over the timed runs, per round."""

    def __init__(self, cpu, stat=STAT, allowed=None):
        self.cpu = cpu
        self.stat = stat
        self.allowed = os.sched_getaffinity(0) if allowed is None else allowed
        # Where this process waits while a run is timed: off the runs' CPU.
        # Kept on it, it made the hash store's lookups a tenth slower.
        self.away = self.allowed - {cpu}
        self.rounds = {}  # round (from 1) -> Sums
        self.counted = set()  # the CPUs whose busy time is others'
        self.steal = False

    @property
    def shared(self):
        """Whether this process waits on the runs' CPU, the only one it may use."""
        return self.cpu is not None and not self.away

    def mark(self):
        if self.cpu is not None and self.away:
            os.sched_setaffinity(0, self.away)
        return read(self.stat)

    def add(self, lap, mark):
        """Counts the time since mark, taken just before the run of round lap."""
        after = read(self.stat)
        if self.cpu is not None and self.away:
            os.sched_setaffinity(0, self.allowed)
        self.count(lap, mark, after)

    def count(self, lap, before, after):
        """Counts the time between two readings, around the run of round lap."""
        if before.counters is None or after.counters is None or set(before.counters) != set(after.counters):
            return  # no counters, or a CPU came or went: the run goes uncounted
        delta = {cpu: [a - b if a is not None and b is not None else None
                       for a, b in zip(after.counters[cpu], before.counters[cpu])] for cpu in after.counters}
        pinned = self.cpu in delta
        others = [cpu for cpu in delta if cpu != self.cpu] if pinned else list(delta)
        self.counted.update(others)
        own = (after.own - before.own) * TICK
        there = own if pinned and not self.away else 0  # this process's time on the runs' CPU
        steals = [delta[cpu][2] for cpu in delta]
        steal = None if None in steals else sum(steals)
        self.rounds.setdefault(lap + 1, Sums()).add(Sums(
            otherbusy=sum(delta[cpu][0] for cpu in others) - (own - there),
            othertotal=sum(delta[cpu][1] for cpu in others) - (0 if pinned else own),
            steal=steal or 0, total=sum(d[1] for d in delta.values()), seconds=after.at - before.at,
            pinnedbusy=delta[self.cpu][0] - there if pinned else 0, pinnedtotal=delta[self.cpu][1] if pinned else 0,
            runs=(after.children - before.children) * TICK))
        self.steal = steal is not None

    def shares(self, sums):
        there = min(sums.runs, max(sums.pinnedbusy, 0))  # the runs' time on their CPU; none when not pinned
        elsewhere = sums.runs - there
        return BusyShares(share(sums.otherbusy - elsewhere, sums.othertotal - (0 if sums.pinnedtotal else elsewhere)),
                          share(sums.pinnedbusy - there, sums.pinnedtotal),
                          round(100 * sums.steal / sums.total, 1) if self.steal and sums.total > 0 else None)

    def summary(self):
        """The figures that results.json keeps, or None before any run was
        counted."""
        if not self.rounds:
            return None
        whole = Sums()
        for sums in self.rounds.values():
            whole.add(sums)
        figures = self.shares(whole)
        return BusyFigures(figures, sorted(self.counted), self.cpu if self.cpu not in self.counted else None,
                           round(whole.seconds, 1), BUSY, STEAL,
                           max(figures.otherpct or 0, figures.pinnedpct or 0) > BUSY or (figures.stealpct or 0) > STEAL,
                           [(lap, self.shares(sums)) for lap, sums in sorted(self.rounds.items())], self.shared)
