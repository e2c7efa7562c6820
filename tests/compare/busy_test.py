"""How busy other processes kept the machine, from the kernel's counters: the
shares that the runs' own time and this process's come off, worked out by
hand, and this process off the runs' CPU while they are timed, unless that
CPU is the only one it may use."""

import os
import subprocess
import sys
import tempfile
import unittest

from stubs import statfile, write  # (puts the package on the path)
from linebenchcompare import busy

TICK = os.sysconf("SC_CLK_TCK")


def reading(counters, own=0, runs=0, at=0.0):
    """The counters as Watch reads them, (busy, total, steal) ticks per CPU,
    with this process's and its runs' CPU time given in ticks."""
    return busy.Reading(counters, own / TICK, runs / TICK, at)


class shares(unittest.TestCase):
    def test_therunsandthisprocessstimecomeoffonce(self):
        """Over a run of 1000 ticks a CPU, CPU 0 busy 400 and CPU 1 1000,
        this process using 30 ticks and its runs 40 or 50; each case's
        shares by hand."""
        before = {0: (0, 0, 0), 1: (0, 0, 0)}
        for cpu, allowed, zero, runs, other, pinned in (
                # not pinned: both CPUs are others', less both times, over
                # their whole less both: (1400 - 30 - 40) / (2000 - 30 - 40)
                (None, {0, 1}, 400, 40, 68.9, None),
                # pinned to CPU 0, this process kept to CPU 1: CPU 1's 1000
                # less its 30, 97%; CPU 0's 400 less the runs' 50, 35%
                (0, {0, 1}, 400, 50, 97.0, 35.0),
                # CPU 0 busy 20 only: the runs' 50 are 20 there and 30 on
                # CPU 1, (1000 - 30 - 30) / 1000 = 94%, and CPU 0 0%
                (0, {0, 1}, 20, 50, 94.0, 0.0),
                # CPU 0 the only one allowed: this process waited there, so
                # its 30 come off CPU 0 with the runs' 50, (400 - 30 - 50) /
                # 1000 = 32%, and CPU 1, no one's of this run, is 100% others'
                (0, {0}, 400, 50, 100.0, 32.0)):
            with self.subTest(cpu=cpu, allowed=allowed, zero=zero):
                watch = busy.Watch(cpu, allowed=allowed)
                watch.count(0, reading(before), reading({0: (zero, 1000, 0), 1: (1000, 1000, 0)}, 30, runs, 2.0))
                figures = watch.summary()
                self.assertEqual((figures.shares.otherpct, figures.shares.pinnedpct), (other, pinned))
                self.assertEqual((figures.shares.stealpct, figures.seconds, figures.busy), (0.0, 2.0, True))
                self.assertEqual(figures.shared, allowed == {0})
                self.assertEqual(figures.pinned, cpu)

    def test_stealisashareofeverycpustime(self):
        """50 and 30 ticks of steal over two CPUs of 1000 ticks: 4%."""
        watch = busy.Watch(0, allowed={0, 1})
        watch.count(0, reading({0: (0, 0, 0), 1: (0, 0, 0)}), reading({0: (0, 1000, 50), 1: (0, 1000, 30)}))
        self.assertEqual(watch.summary().shares.stealpct, 4.0)


class affinity(unittest.TestCase):
    def test_thisprocesskeepsofftherunscpuwhereanotherisallowed(self):
        """Around a run it moves off the runs' CPU and back, and stays where
        the runs' CPU is the only one allowed; its own and its runs' CPU
        time are read from the kernel, and its own comes off once."""
        allowed = os.sched_getaffinity(0)
        cpu = max(allowed)
        with tempfile.TemporaryDirectory() as folder:
            stat = os.path.join(folder, "stat")
            for given in ({cpu}, allowed):
                with self.subTest(allowed=given):
                    write(stat, statfile({0: [0] * 8, 1: [0] * 8}))
                    watch = busy.Watch(cpu, stat, given)
                    mark = watch.mark()
                    self.assertEqual(os.sched_getaffinity(0), (given - {cpu}) or allowed)
                    subprocess.run(["/bin/sh", "-c", "i=0; while [ $i -lt 300000 ]; do i=$((i + 1)); done"],
                                   check=True)
                    while os.times().user - mark.own < 0.2:
                        pass
                    after = os.times()
                    write(stat, statfile({0: [2000, 0, 0, 0, 0, 0, 0, 0], 1: [2000, 0, 0, 0, 0, 0, 0, 0]}))
                    watch.add(0, mark)
                    self.assertEqual(os.sched_getaffinity(0), allowed)
                    sums = watch.rounds[1]
                    own = (after.user + after.system - mark.own) * TICK
                    self.assertGreaterEqual(own, 19)
                    self.assertAlmostEqual(sums.runs, (after.children_user + after.children_system - mark.children)
                                           * TICK, delta=1)
                    self.assertAlmostEqual(4000 - sums.otherbusy - sums.pinnedbusy, own, delta=2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
