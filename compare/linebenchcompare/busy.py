"""How much of the machine other processes used while linebench-compare timed
its runs, from the kernel's CPU time counters in /proc/stat.

Around every timed run it reads each CPU's busy time (user, nice, system,
irq and softirq; guest time is counted within user), its total and its
steal time.  Two figures come of them.  The busy share of the CPUs other
than the one the runs are pinned to, less this process's own time; when they
are not pinned, of every CPU, less this process's and its runs' own time,
over the time left to others.  And the share of the runs' own CPU that
others took: its busy time less the runs' CPU time, which the kernel counts
for the waited-for children, and less this process's, which may have run
there too, over its whole time.  Steal, the time a hypervisor gave the CPUs
to other guests, is a share of every CPU's time, where the kernel counts it.
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
        # round -> [others' busy, others' total, steal, every CPU's total,
        # seconds, others' busy on the runs' CPU, its total]
        self.rounds = {}
        self.counted = set()  # the CPUs whose busy time is others'
        self.steal = False

    def mark(self):
        return readstat(), owntime(), time.monotonic()

    def add(self, lap, mark):
        """Counts the time since mark, taken just before the run of round lap."""
        before, (ownbefore, childbefore), started = mark
        after = readstat()
        ownafter, childafter = owntime()
        if before is None or after is None or set(before) != set(after):
            return  # no counters, or a CPU came or went: the run goes uncounted
        delta = {cpu: [a - b if a is not None and b is not None else None for a, b in zip(after[cpu], before[cpu])]
                 for cpu in after}
        others = [cpu for cpu in delta if cpu != self.cpu] if self.cpu in delta else list(delta)
        self.counted.update(others)
        own = (ownafter - ownbefore) * TICK
        runs = (childafter - childbefore) * TICK
        pinnedbusy, pinnedtotal = delta[self.cpu][:2] if self.cpu in delta else (0, 0)
        if self.cpu not in delta:
            own += runs
        busy = sum(delta[cpu][0] for cpu in others) - own
        total = sum(delta[cpu][1] for cpu in others) - (own if self.cpu not in delta else 0)
        steals = [delta[cpu][2] for cpu in delta]
        steal = None if None in steals else sum(steals)
        sums = self.rounds.setdefault(lap + 1, [0.0] * 7)
        for index, value in enumerate((busy, total, steal or 0, sum(d[1] for d in delta.values()),
                                       time.monotonic() - started, pinnedbusy - runs - own, pinnedtotal)):
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
            busy, total, steal, everything, _, pinnedbusy, pinnedtotal = sums
            return {"other_busy_pct": share(busy, total), "pinned_busy_pct": share(pinnedbusy, pinnedtotal),
                    "steal_pct": round(100 * steal / everything, 1) if self.steal and everything > 0 else None}

        whole = [sum(sums[index] for sums in self.rounds.values()) for index in range(7)]
        figures = shares(whole)
        return dict(figures, cpus=sorted(self.counted), pinned=self.cpu if self.cpu not in self.counted else None,
                    seconds=round(whole[4], 1), busy_threshold_pct=BUSY, steal_threshold_pct=STEAL,
                    busy=max(figures["other_busy_pct"] or 0, figures["pinned_busy_pct"] or 0) > BUSY
                    or (figures["steal_pct"] or 0) > STEAL,
                    rounds=[dict(shares(sums), round=lap) for lap, sums in sorted(self.rounds.items())])
