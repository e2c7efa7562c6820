"""How much of the machine other processes used while linebench-compare timed
its runs, from the kernel's CPU time counters in /proc/stat.

Around every timed run it reads each CPU's busy time (user, nice, system,
irq and softirq; guest time is counted within user), its total and its
steal time, and the CPU time of this process and of its runs, which the
kernel counts for the waited-for children.  With the runs pinned, this
process keeps off their CPU meanwhile, so its time is the other CPUs'.  A
run begins as a copy of this process beside it, and moves to its CPU before
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

import os
import time

# The counters, or a file that stands in for them in the tests.
STAT = os.environ.get("COMPARE_PROC_STAT", "/proc/stat")
TICK = os.sysconf("SC_CLK_TCK")
# A busy share above this warns.  On this project's two cores, the other
# CPU read 0.7% to 4.8% busy while nothing else ran, and a steady load there
# (one process reading a file from the page cache) kept it 96% busy, which
# moved 16 of 24 verdicts set against a quiet run's recorded runs
# (docs/compare.md).
BUSY = 10.0
# Steal above this warns: the runs' own CPU was taken from them.
STEAL = 2.0


def readstat(path=None):
    """Per CPU number: (busy, total, steal or None) in ticks; None where the
    counters cannot be read."""
    counters = {}
    try:
        with open(path or STAT) as source:
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


def owntime():
    """CPU seconds of this process and of its waited-for children."""
    times = os.times()
    return times.user + times.system, times.children_user + times.children_system


class Watch:
    """The counters summed over the timed runs, per round."""

    def __init__(self, cpu):
        self.cpu = cpu
        self.allowed = os.sched_getaffinity(0)
        # Where this process waits while a run is timed: off the runs' CPU.
        # Kept on it, it made the hash store's lookups a tenth slower.
        self.away = self.allowed - {cpu}
        # round -> [others' busy, others' total, steal, every CPU's total,
        # seconds, the runs' CPU's busy, its total, the runs' time]
        self.rounds = {}
        self.counted = set()  # the CPUs whose busy time is others'
        self.steal = False

    def mark(self):
        if self.cpu is not None and self.away:
            os.sched_setaffinity(0, self.away)
        return readstat(), owntime(), time.monotonic()

    def add(self, lap, mark):
        """Counts the time since mark, taken just before the run of round lap."""
        before, (ownbefore, childbefore), started = mark
        after = readstat()
        ownafter, childafter = owntime()
        os.sched_setaffinity(0, self.allowed)
        if before is None or after is None or set(before) != set(after):
            return  # no counters, or a CPU came or went: the run goes uncounted
        delta = {cpu: [a - b if a is not None and b is not None else None for a, b in zip(after[cpu], before[cpu])]
                 for cpu in after}
        pinned = self.cpu in delta
        others = [cpu for cpu in delta if cpu != self.cpu] if pinned else list(delta)
        self.counted.update(others)
        own = (ownafter - ownbefore) * TICK
        there = own if pinned and not self.away else 0  # this process's time on the runs' CPU
        steals = [delta[cpu][2] for cpu in delta]
        steal = None if None in steals else sum(steals)
        sums = self.rounds.setdefault(lap + 1, [0.0] * 8)
        for index, value in enumerate((sum(delta[cpu][0] for cpu in others) - (own - there),
                                       sum(delta[cpu][1] for cpu in others) - (0 if pinned else own),
                                       steal or 0, sum(d[1] for d in delta.values()), time.monotonic() - started,
                                       delta[self.cpu][0] - there if pinned else 0, delta[self.cpu][1] if pinned else 0,
                                       (childafter - childbefore) * TICK)):
            sums[index] += value
        self.steal = steal is not None

    def summary(self):
        """The figures that results.json keeps, or None before any run was
        counted."""
        if not self.rounds:
            return None

        def share(busy, total):
            return round(100 * min(max(busy, 0) / total, 1), 1) if total > 0 else None

        def shares(sums):
            busy, total, steal, everything, _, pinnedbusy, pinnedtotal, runs = sums
            there = min(runs, max(pinnedbusy, 0))  # the runs' time on their CPU; none when not pinned
            elsewhere = runs - there
            return {"other_busy_pct": share(busy - elsewhere, total - (0 if pinnedtotal else elsewhere)),
                    "pinned_busy_pct": share(pinnedbusy - there, pinnedtotal),
                    "steal_pct": round(100 * steal / everything, 1) if self.steal and everything > 0 else None}

        whole = [sum(sums[index] for sums in self.rounds.values()) for index in range(8)]
        figures = shares(whole)
        return dict(figures, cpus=sorted(self.counted), pinned=self.cpu if self.cpu not in self.counted else None,
                    seconds=round(whole[4], 1), busy_threshold_pct=BUSY, steal_threshold_pct=STEAL,
                    busy=max(figures["other_busy_pct"] or 0, figures["pinned_busy_pct"] or 0) > BUSY
                    or (figures["steal_pct"] or 0) > STEAL,
                    rounds=[dict(shares(sums), round=lap) for lap, sums in sorted(self.rounds.items())])
