"""linebench-compare's busy-machine warning end to end: counters that a stub
advances in a stand-in for /proc/stat on every run, a busy other CPU,
steal, and a load on the runs' own CPU named, a quiet machine not.

Usage: commandbusy_test.py [BUILD], the folder that holds the programs (build/release).
"""

import os
import subprocess
import sys
import unittest

from stubs import BUILD, COMPARE, Folder, compare, readjson, statfile, stub, write


class busy(Folder):
    """Other processes' share of the machine, from counters that the stub
    advances in a stand-in for /proc/stat on every run, each CPU's user,
    nice, system, idle, iowait, irq, softirq and steal ticks."""

    def loaded(self, other, pinned):
        stat = os.path.join(self.dir, "stat")
        count = os.path.join(self.dir, "count")
        write(count, "0\n")
        cpu = max(os.sched_getaffinity(0))
        write(stat, statfile({cpu: [0] * 8, cpu + 1: [0] * 8}))
        fields = " ".join(["%d"] * 8)
        lines = (f"n=$(($(cat {count}) + 1)); echo $n > {count}\n"
                 f"printf 'cpu{cpu} {fields}\\ncpu{cpu + 1} {fields}\\n' "
                 + " ".join(f"$((n * {10 * t}))" for t in pinned + other) + f" > {stat}\n")
        program = stub(self.dir, "loaded", 0.3, 0.2, then=lines)
        return compare("--programs", f"X={program}", "--runs", "4", "--cpu", str(cpu), "--out", self.dir, self.text,
                       env=dict(os.environ, COMPARE_PROC_STAT=stat))

    def test_abusyothercpuandstealarenamedwiththeirfigures(self):
        """Per run, the other CPU 80% busy (not counting iowait), 5% steal over both."""
        done = self.loaded(other=[5000, 0, 2000, 1000, 500, 600, 400, 500], pinned=[0, 0, 0, 9000, 500, 0, 0, 500])
        self.assertEqual(done.returncode, 0, done.stderr)
        figures = readjson(self.dir)["busy"]
        self.assertEqual((figures["other_busy_pct"], figures["pinned_busy_pct"], figures["steal_pct"],
                          figures["busy"]), (80.0, 0.0, 5.0, True))
        self.assertEqual([r["other_busy_pct"] for r in figures["rounds"]], [80.0] * 4)
        with open(os.path.join(self.dir, "results.md")) as md:
            top = md.read().split("\n\n")[1]
        for said in (done.stdout, top):
            self.assertIn(f"Busy machine: other processes used 80% of CPU {max(os.sched_getaffinity(0)) + 1}", said)
            self.assertIn("gave 5% of the time to other guests (steal)", said)

    def test_aloadontherunsowncpuisnamedandaquietmachineisnot(self):
        """The runs' CPU 40% busy a run and 10% in iowait, less the stub's few milliseconds."""
        cpu = max(os.sched_getaffinity(0))
        for pinned, figures, said in (
                ([0, 0, 0, 10000, 0, 0, 0, 0], (0.5, 0.0, False), None),
                ([3000, 0, 500, 5000, 1000, 300, 200, 0], (0.5, 40.0, True),
                 f"Busy machine: other processes used 40% of CPU {cpu}, the runs' own CPU, while the runs were timed")):
            with self.subTest(pinned=pinned):
                done = self.loaded(other=[50, 0, 0, 9950, 0, 0, 0, 0], pinned=pinned)
                self.assertEqual(done.returncode, 0, done.stderr)
                found = readjson(self.dir)["busy"]
                self.assertEqual((found["other_busy_pct"], found["pinned_busy_pct"], found["busy"]), figures)
                self.assertEqual("Busy machine" in done.stdout, said is not None)
                self.assertIn(said or "", done.stdout)

    def test_aruninwhichtherunscpuistheonlyonesaysso(self):
        """Kept to the runs' CPU, the comparison cannot keep off it while they
        are timed, and says so once in the progress, results.md and the
        terminal's notes."""
        cpu = max(os.sched_getaffinity(0))
        done = subprocess.run([COMPARE, "--build-dir", BUILD, "--programs", f"X={stub(self.dir, 'x', 0.3, 0.2)}",
                               "--runs", "1", "--out", self.dir, self.text], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, preexec_fn=lambda: os.sched_setaffinity(0, {cpu}))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(f"compare: CPU {cpu} is the only CPU this run may use: linebench-compare waits on it while "
                      "the runs are timed\n", done.stderr)
        note = (f"One CPU: CPU {cpu}, the runs' own, was the only one this run could use, so linebench-compare "
                "waited on it while they were timed, where with another CPU it keeps off theirs; their times may "
                "be a little slower for it.")
        with open(os.path.join(self.dir, "results.md")) as md:
            self.assertIn(f"\n> {note}\n", md.read())
        self.assertIn(f"\n{note}\n", done.stdout)
        if len(os.sched_getaffinity(0)) > 1:
            done = compare("--programs", f"X={stub(self.dir, 'x', 0.3, 0.2)}", "--runs", "1", "--out", self.dir,
                           self.text)
            self.assertNotIn("One CPU", done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
