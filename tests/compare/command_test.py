"""linebench-compare end to end: --against on stub programs of known figures,
the earlier run's kept programs run again beside this run's or its recorded
runs where they cannot, a busy machine named, the parsed figures beside the
programs' own rows, every class of bad input, a stop by signal, and a memory
column that sees a table malloc maps with mmap.

Usage: command_test.py BUILD, the folder that holds the programs.
"""

import contextlib
import csv
import hashlib
import io
import json
import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "compare"))
# Named compare* here, beside the test classes named after what they test.
from linebenchcompare import build as comparebuild  # noqa: E402
from linebenchcompare import busy as comparebusy  # noqa: E402
from linebenchcompare import ladder, runner, session  # noqa: E402
from linebenchcompare import stops as stopping  # noqa: E402
from linebenchcompare.keptprograms import DRIFT, earlierprograms, libraries, savedname  # noqa: E402
from linebenchcompare.buildfacts import buildinfo  # noqa: E402
from linebenchcompare.digests import digest  # noqa: E402
from linebenchcompare.errors import Interrupted  # noqa: E402

COMPARE = os.path.join(ROOT, "compare", "linebench-compare")
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
LINES = 200000  # the stubs' passes last 30 ms or more, above the timer's floor


def compare(*args, env=None):
    return subprocess.run([COMPARE, "--build-dir", BUILD] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=env, timeout=300)


def reportrow(store, lookup, getline="0.050"):
    return f"{LINES:8d}   10.0 byts {getline} uS   {LINES // 2:6d}    88.0 byts {store:6.3f} uS {lookup:6.3f} uS STUB"


def stub(folder, name, store, lookup, sleep=0.0, report=True, rowfile=None, then="", before="", getline="0.050",
         mark=None, clock=()):
    """A program that prints a report of fixed figures, or the row in
    rowfile, and the heap probe's two lines, as linebench's programs do, and
    the probe's lines of the clock's readings (seconds, microseconds) of
    clock; then runs the shell lines then.  before: shell run first, with $n the number
    of this run of the program (1, 2, ...); getline may be a shell
    expression.  With mark, it first adds a line to that file, so that a test
    can count its runs."""
    path = os.path.join(folder, name)
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + (f"echo >> '{mark}'\n" if mark else "") + (f"sleep {sleep}\n" if sleep else ""))
        if before:
            script.write('n=$(($(cat "$0.count" 2>/dev/null || echo 0) + 1)); echo $n > "$0.count"\n' + before + "\n")
        if report:
            script.write("printf '# %s %s \\n' \"$0\" \"$1\"\n"
                         "echo '#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT'\n"
                         + (f"cat '{rowfile}'\n" if rowfile else f'echo "{reportrow(store, lookup, getline)}"\n'))
        lines = ["0 0", "0 0"] + ([f"clock {len(clock)}"] + [f"t {seconds} {micros}" for seconds, micros in clock]
                                  if clock else [])
        script.write(f'[ -z "$HEAPPROBE_FILE" ] || printf "%s\\n" {" ".join(repr(line) for line in lines)} '
                     '> "$HEAPPROBE_FILE"\n' + then)
    os.chmod(path, 0o755)
    return path


def runsstarted(mark):
    """How many runs of a stub given mark have started."""
    try:
        with open(mark) as marks:
            return len(marks.readlines())
    except FileNotFoundError:
        return 0


def write(path, text):
    with open(path, "w") as out:
        out.write(text)
    return path


def readjson(folder):
    with open(os.path.join(folder, "results.json")) as source:
        return json.load(source)


class Folder(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.dir = self.scratch.name
        self.text = write(os.path.join(self.dir, "words.txt"), "to\nbe\nor\nnot\n")

    def tearDown(self):
        self.scratch.cleanup()

    def oneline(self, done, status, words):
        """A failure said in one line that names the problem, no traceback."""
        self.assertEqual(done.returncode, status, done.stderr)
        self.assertNotIn("Traceback", done.stderr)
        lines = done.stderr.strip().splitlines()
        self.assertIn(words, lines[-1])
        if status == 2:
            self.assertEqual(len(lines), 1, done.stderr)


class against(Folder):
    def firstrun(self):
        slow = stub(self.dir, "slow", 0.300, 0.200)
        done = compare("--programs", f"X={slow}", "--runs", "6", "--out", os.path.join(self.dir, "before"),
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        return os.path.join(self.dir, "before")

    def test_afasterprogramreadsfasterwiththeratioofnowoverbefore(self):
        before = self.firstrun()
        fast = stub(self.dir, "fast", 0.150, 0.150)
        # a results file of any name names the earlier run as well as its folder
        for suffix in ("csv", "json"):
            shutil.copyfile(os.path.join(before, f"results.{suffix}"), os.path.join(before, f"earlier.{suffix}"))
            now = os.path.join(self.dir, f"now-{suffix}")
            done = compare("--programs", f"X={fast}", "--runs", "6", "--out", now,
                           "--against", os.path.join(before, f"earlier.{suffix}"), self.text)
            self.assertEqual(done.returncode, 0, done.stderr)
            row, = readjson(now)["against"]["rows"]
            self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
            self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.75)
            self.assertEqual((row["store_us"]["verdict"], row["lookup_us"]["verdict"]), ("faster", "faster"))
            self.assertIn("0.300 -> 0.150 x0.50 [0.50, 0.50] faster", done.stdout)
            self.assertIn("0.200 -> 0.150 x0.75 [0.75, 0.75] faster", done.stdout)
            with open(os.path.join(now, "results.md")) as md:
                self.assertIn("| 0.300 | 0.150 | x0.50 [0.50, 0.50] faster |", md.read())

    def test_afileisknownbyitsbytesnotitsname(self):
        before = self.firstrun()
        write(self.text, "ot\neb\nro\ntno\n")
        done = compare("--programs", f"X={stub(self.dir, 'fast', 0.150, 0.150)}", "--runs", "6", "--out",
                       os.path.join(self.dir, "now"), "--against", before, self.text)
        # before any run, and leaving no results
        self.oneline(done, 1, "Nothing in common with the earlier run")
        self.assertIn("words.txt differs from its file of that name", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "now", "results.json")))

    def test_adamagedresultscsvnamesitsrowandcolumn(self):
        before = self.firstrun()
        path = os.path.join(before, "results.csv")
        with open(path) as source:
            good = source.read()
        header, row = good.splitlines()[:2]
        columns = header.split(",")
        fields = next(csv.reader([row]))
        fast = stub(self.dir, "fast", 0.150, 0.150)
        for text, words in (
                (good[:len(header) + 1 + len(row) // 2], "row 2 is cut short"),
                (good[:-1], "row 2 is cut short"),
                (good.replace(fields[columns.index("store_us")], "0.3x", 1), "row 2, column store_us: '0.3x'"),
                (good.replace(fields[columns.index("lines")], "", 1), "row 2, column lines: ''"),
                ("file,store\nwords.txt,X\n", "has no column sha256")):
            write(path, text)
            self.oneline(compare("--programs", f"X={fast}", "--runs", "6", "--out", os.path.join(self.dir, "now"),
                                 "--against", before, self.text), 1, words)


class interleaved(unittest.TestCase):
    """--against runs the earlier run's kept programs in this run's rounds.
    The earlier program reads its row from a file, so that, unchanged, it
    reports other figures now than it recorded then: 0.300 and 0.200 µs
    then, 0.500 and 0.250 now; this run's program reports 0.150 and 0.150."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        folder = cls.scratch.name
        cls.text = write(os.path.join(folder, "words.txt"), "to\nbe\nor\nnot\n")
        cls.other = write(os.path.join(folder, "other.txt"), "not\nin\nthe\nfirst\n")
        cls.log = os.path.join(folder, "ran.log")
        row = write(os.path.join(folder, "row"), reportrow(0.300, 0.200) + "\n")
        logged = f'echo "$0 $(basename "$1")" >> {cls.log}\n'
        cls.fast = stub(folder, "fast", 0.150, 0.150, then=logged)
        cls.first = os.path.join(folder, "first")
        cls.slow = stub(folder, "slow", 0, 0, rowfile=row, then=logged)
        done = compare("--programs", f"X={cls.slow}", "--runs", "6", "--out", cls.first, cls.text)
        assert done.returncode == 0, done.stderr
        write(row, reportrow(0.500, 0.250) + "\n")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.scratch.name)
        self.before = os.path.join(self.dir, "before")
        shutil.copytree(self.first, self.before, symlinks=True)
        self.kept = os.path.join(self.before, "programs", "X")
        self.now = os.path.join(self.dir, "now")
        if os.path.exists(self.log):
            os.remove(self.log)

    def secondrun(self, against=None):
        return compare("--programs", f"X={self.fast}", "--runs", "6", "--out", self.now, "--against",
                       against or self.before, self.text, self.other)

    def ran(self):
        with open(self.log) as log:
            return [tuple(line.split()) for line in log]

    def damage(self, *field, value):
        record = readjson(self.before)
        where = record
        for step in field[:-1]:
            where = where[step]
        where[field[-1]] = value
        write(os.path.join(self.before, "results.json"), json.dumps(record))

    def test_theearlierprogramrunsbesidethisonesinthesamerounds(self):
        done = self.secondrun(os.path.join(self.before, "results.json"))
        self.assertEqual(done.returncode, 0, done.stderr)
        ran = self.ran()
        # the earlier program only on the file both runs know, each round
        # beside this run's, the order turned round each round
        self.assertEqual(sorted(ran), sorted([(self.kept, "words.txt")] * 6 + [(self.fast, "words.txt")] * 6
                                             + [(self.fast, "other.txt")] * 6))
        words = [program for program, file in ran if file == "words.txt"]
        self.assertEqual(words, [self.fast, self.kept, self.kept, self.fast] * 3)
        record = readjson(self.now)
        self.assertEqual([run["store"] for run in record["runs"][:3]], ["X", "X (before)", "X"])
        row, = record["against"]["rows"]
        self.assertTrue(row["interleaved"])
        self.assertEqual(record["against"]["recorded"], {})
        # before is the kept program's figure in this run, not the one recorded
        self.assertEqual([row["store_us"][k] for k in ("recorded", "before", "now")], [0.300, 0.500, 0.150])
        self.assertAlmostEqual(row["store_us"]["ratio"], 0.3)
        self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.6)
        self.assertEqual(row["lookup_us"]["before_runs"], [0.250] * 6)
        self.assertIn("0.500 -> 0.150 x0.30 [0.30, 0.30] faster (recorded 0.300)", done.stdout)
        self.assertNotIn("Drift not controlled", done.stdout + done.stderr)
        with open(os.path.join(self.now, "results.md")) as md:
            self.assertIn("| words.txt | X | 0.300 | 0.500 | 0.150 | x0.30 [0.30, 0.30] faster | 0.200 | 0.250 | "
                          "0.150 | x0.60 [0.60, 0.60] faster |", md.read())

    def test_theearlierprogramunchangedrunsonceandsaysso(self):
        done = compare("--programs", f"X={self.slow}", "--runs", "6", "--out", self.now, "--against", self.before,
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.ran(), [(self.slow, "words.txt")] * 6)
        self.assertIn("unchanged since that run, so not run again: X", done.stdout + done.stderr)
        row, = readjson(self.now)["against"]["rows"]
        self.assertTrue(row["unchanged"])
        line, = [line for line in done.stdout.splitlines() if line.startswith("words.txt") and " -> " in line]
        self.assertTrue(line.endswith("0.300 -> 0.500 unchanged (same program)  "
                                      "0.200 -> 0.250 unchanged (same program)"), line)

    def test_achangedlibraryoranothercpugivestherecordedrunsandsaysso(self):
        libc = next(n for n, lib in enumerate(readjson(self.before)["stores"][0]["libraries"])
                    if lib["name"] == "libc.so.6")
        for field, value, words in ((("stores", 0, "libraries", libc, "sha256"), "0" * 64, "it loads libc.so.6 from"),
                                    (("machine", "cpu"), "Intel 8086", "that run was on another CPU (Intel 8086")):
            with self.subTest(words=words):
                shutil.copy(os.path.join(self.first, "results.json"), self.before)
                self.damage(*field, value=value)
                done = self.secondrun()
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertNotIn(self.kept, [program for program, _ in self.ran()])
                row, = readjson(self.now)["against"]["rows"]
                self.assertFalse(row["interleaved"])
                self.assertEqual(row["store_us"]["before_runs"], [0.300] * 6)
                self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
                with open(os.path.join(self.now, "results.md")) as md:
                    section = md.read().split("## Against an earlier run\n\n")[1]
                for said in (done.stderr, done.stdout, section.splitlines()[0]):
                    self.assertIn("Drift not controlled", said)
                    self.assertIn(words, said)
                    self.assertIn(f"differed by up to {DRIFT:.0%}", said)
                self.assertIn("x0.50 [0.50, 0.50] faster (recorded runs)", section)

    def test_whattellsthatakeptprogramcannotrunhere(self):
        machine = readjson(self.before)["machine"]

        def why():
            stores, whole, each = earlierprograms(self.before, machine, ["X"])
            self.assertEqual(stores, [])
            return whole or each["X"]

        self.assertEqual(earlierprograms(self.before, machine, ["X"])[0][0]["path"], self.kept)
        self.assertEqual(earlierprograms(self.before, dict(machine, kernel="2.6.11"), ["X"])[1],
                         f"that run was on another kernel (Linux {machine['kernel']}; here 2.6.11)")
        os.chmod(self.kept, 0o755)
        write(self.kept, "#!/bin/sh\nexit 1\n")
        self.assertEqual(why(), "programs/X has changed since that run")
        os.remove(self.kept)
        self.assertEqual(why(), "programs/X is gone")
        os.rmdir(os.path.dirname(self.kept))
        self.assertEqual(why(), f"{os.path.dirname(self.kept)} is gone")
        os.mkdir(os.path.dirname(self.kept))
        self.damage("stores", 0, "libraries", value=[])
        self.damage("stores", 0, "sha256", value=None)
        self.assertIn("no copy of its program was kept", why())
        record = readjson(self.before)
        del record["stores"][0]["saved"]
        write(os.path.join(self.before, "results.json"), json.dumps(record))
        self.assertIn("records no kept programs (an older linebench-compare made that run)", why())
        os.remove(os.path.join(self.before, "results.json"))
        self.assertEqual(why(), f"{self.before} has no results.json")

    def test_alaterruninthesamefolderremovesonlythecopiesitsrecordnames(self):
        mine = write(os.path.join(self.before, "programs", "mine"), "a file of the user's")
        done = compare("--programs", f"X={self.fast}", "--runs", "1", "--out", self.before, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.kept, "rb") as copy, open(self.fast, "rb") as fast:
            self.assertEqual(copy.read(), fast.read())
        self.assertTrue(os.path.exists(mine))
        os.chmod(self.kept, 0o644)
        write(self.kept, "changed since")
        done = compare("--programs", f"X={self.fast}", "--runs", "1", "--out", self.before, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.kept))), ["X", "X.2", "mine"])
        self.assertEqual(readjson(self.before)["stores"][0]["saved"], "programs/X.2")
        with open(self.kept) as kept:
            self.assertEqual(kept.read(), "changed since")

    def test_theoutputfolderitselfisrefusedasearlierrun(self):
        done = compare("--programs", f"X={self.fast}", "--out", self.before, "--against", self.before, self.text)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("is this run's --out", done.stderr)


class keptprograms(unittest.TestCase):
    def test_thelibrariesarethoseldddnamesandtheirdigestsarethefilesbytes(self):
        program = os.path.join(BUILD, "linebench-hash")
        found = libraries(program)
        listed = subprocess.run(["ldd", program], stdout=subprocess.PIPE, text=True, check=True).stdout
        names = [line.split()[0] for line in listed.splitlines() if line.split() and "vdso" not in line]
        self.assertIn("libc.so.6", names)
        self.assertEqual([library["name"] for library in found], names)
        for library in found:
            with open(library["path"], "rb") as source:
                self.assertEqual(library["sha256"], hashlib.sha256(source.read()).hexdigest())

    def test_ascriptisrunbyitsinterpreter(self):
        with tempfile.TemporaryDirectory() as folder:
            found = libraries(stub(folder, "x", 0.3, 0.2))
        self.assertEqual(found[0]["name"], "#!")
        self.assertEqual(found[0]["path"], "/bin/sh")
        self.assertIn("libc.so.6", [library["name"] for library in found[1:]])

    def test_acopysnameisneverhiddennoraparentfolder(self):
        for key, name in (("HASH", "HASH"), ("..", "__"), ("a/b c", "a_b_c"), (".x", "_x"), ("", "_")):
            self.assertEqual(savedname(key), name)


class queue(unittest.TestCase):
    def test_everyfilerunsitsownprogramsturnedroundeachround(self):
        a, b, c = ({"key": key} for key in "abc")
        order = [(lap, path, store["key"]) for lap in range(2) for path, store in
                 runner.runqueue([("f", [a, b, c]), ("g", [a, b])], lap)]
        self.assertEqual(order, [(0, "f", "a"), (0, "f", "b"), (0, "f", "c"), (0, "g", "a"), (0, "g", "b"),
                                 (1, "f", "b"), (1, "f", "c"), (1, "f", "a"), (1, "g", "b"), (1, "g", "a")])


def statfile(ticks):
    """/proc/stat's CPU lines: ticks per CPU number, each user, nice,
    system, idle, iowait, irq, softirq, steal."""
    return "cpu  0 0 0 0 0 0 0 0 0 0\n" + "".join(
        f"cpu{cpu} {' '.join(map(str, fields))} 0 0\n" for cpu, fields in sorted(ticks.items())) + "intr 1 2 3\n"


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

    def test_therunsowntimeisleftout(self):
        """This process's and its children's CPU time, which os.times sees,
        comes off the busy time once: unpinned, off every CPU's, and off the
        total too; pinned, this process's, kept off the runs' CPU meanwhile,
        off the other CPU's, and the children's off the runs' CPU's as far as
        its busy time holds it, the rest off the other CPU's."""
        for pinned, ticks in ((None, 400), (0, 400), (0, 5)):
            with self.subTest(pinned=pinned, ticks=ticks), tempfile.TemporaryDirectory() as folder:
                stat = os.path.join(folder, "stat")
                write(stat, statfile({0: [0] * 8, 1: [0] * 8}))
                self.addCleanup(setattr, comparebusy, "STAT", comparebusy.STAT)
                comparebusy.STAT = stat
                allowed = os.sched_getaffinity(0)
                watch = comparebusy.Watch(pinned)
                mark = watch.mark()
                self.assertEqual(os.sched_getaffinity(0), allowed - {pinned})
                subprocess.run(["/bin/sh", "-c", "i=0; while [ $i -lt 500000 ]; do i=$((i + 1)); done"], check=True)
                while os.times().user - mark[1][0] < 0.2:
                    pass
                after = os.times()
                write(stat, statfile({0: [ticks, 0, 0, 1000 - ticks, 0, 0, 0, 0], 1: [1000, 0, 0, 0, 0, 0, 0, 0]}))
                watch.add(0, mark)
                self.assertEqual(os.sched_getaffinity(0), allowed)
                own = (after.user + after.system - mark[1][0]) * comparebusy.TICK
                runs = (after.children_user + after.children_system - mark[1][1]) * comparebusy.TICK
                self.assertGreaterEqual(min(own, runs), 10)
                figures = watch.summary()
                there = 0 if pinned is None else min(runs, ticks)
                left = own + runs - there  # our time on the other CPU, or on both unpinned
                pinnedshare, othershare = ((0, 100 * (1000 + ticks - left) / (2000 - left)) if pinned is None
                                           else ((ticks - there) / 10, (1000 - left) / 10))
                self.assertAlmostEqual(figures["pinned_busy_pct"] or 0, pinnedshare, delta=0.2)
                self.assertAlmostEqual(figures["other_busy_pct"], othershare, delta=0.2)


class parsing(Folder):
    def test_theparsedfiguresarethoseoftheprogramsownrow(self):
        done = compare("--programs", "linebench-redblack,linebench-hash", "--runs", "1", "--out", self.dir,
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        runs = readjson(self.dir)["runs"]
        self.assertEqual(len(runs), 2)
        for run in runs:
            report = run["report"]
            fields = report["row"].split()
            self.assertEqual(report["lines"], int(fields[0]))
            self.assertEqual(report["avg_linelen"], float(fields[1]))
            self.assertEqual(report["getline_us"], float(fields[3]))
            self.assertEqual(report["distinct"], int(fields[5]))
            self.assertEqual(report["report_bytes_per_line"], float(fields[6]))
            self.assertEqual(report["store_us"], float(fields[8]))
            self.assertEqual(report["lookup_us"], float(fields[10]))
            self.assertEqual(report["adt"], fields[12])

    def test_thetimesaretheclocksunroundedwherethereportroundsthem(self):
        linebench = readjson(self.dir)["runs"] if compare(
            "--programs", "linebench-hash", "--runs", "1", "--out", self.dir, self.text).returncode == 0 else []
        self.assertEqual([run["report"]["full_times"] for run in linebench], [True])
        # passes of 10,003, 60,017 and 40,031 µs over 200,000 lines print as
        # 0.050, 0.300 and 0.200 µs
        passes = [(100, 0), (100, 10003), (100, 10003), (100, 70020), (101, 5000), (101, 45031)]
        fine = stub(self.dir, "fine", 0.300, 0.200, clock=passes)
        # readings that do not round to the row: a program that reads the clock otherwise
        other = stub(self.dir, "other", 0.300, 0.200, clock=passes[:3] + [(100, 90020)] + passes[4:])
        done = compare("--programs", f"F={fine},O={other}", "--runs", "6", "--out", self.dir, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        figures = {s["store"]: s for s in readjson(self.dir)["summaries"]}
        self.assertEqual((figures["F"]["full_times"], figures["O"]["full_times"]), (True, False))
        self.assertEqual([figures["F"][key] for key in ("getline_us", "store_us", "lookup_us")],
                         [10003 / LINES, 60017 / LINES, 40031 / LINES])
        self.assertEqual([figures["O"][key] for key in ("getline_us", "store_us", "lookup_us")], [0.05, 0.3, 0.2])
        with open(os.path.join(self.dir, "results.csv"), newline="") as table:
            runs = {row["store"]: row["store_us_runs"] for row in csv.DictReader(table)}
        self.assertEqual(runs["F"], " ".join([repr(60017 / LINES)] * 6))


class badinput(Folder):
    def test_acommandlinethatcannotworkissaidinonelinewithstatustwo(self):
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        empty = write(os.path.join(self.dir, "empty.txt"), "")
        plain = write(os.path.join(self.dir, "notexecutable"), "")
        afile = self.text
        os.mkdir(os.path.join(self.dir, "other"))
        samename = write(os.path.join(self.dir, "other", "words.txt"), "to\n")
        cases = [
            # files to measure
            ([os.path.join(self.dir, "missing.txt")], "missing.txt: no such file"),
            ([self.dir], "is a folder, not a regular file"),
            ([fifo], "is a FIFO, not a regular file"),
            (["/dev/null"], "is a character device, not a regular file"),
            ([empty], "is empty"),
            ([afile, samename], f"the FILEs {afile} and {samename} have the same name, words.txt"),
            # programs
            (["--programs", f"={afile}", afile], "the NAME before '=' is empty"),
            (["--programs", "linebench-nosuch", afile], "the build made linebench-redblack, linebench-hash"),
            (["--programs", f"X={plain}", afile], "is not executable"),
            (["--programs", f"X={self.dir}/nosuch", afile], "no such program"),
            (["--programs", "linebench-hash,linebench-hash", afile], "HASH is named twice"),
            # folders
            (["--build-dir", os.path.join(self.dir, "nosuch"), afile], "no such folder"),
            (["--out", os.path.join(afile, "out"), afile], "cannot be written"),
            (["--out", "/proc/compare", afile], "cannot be written"),
            (["--against", self.dir, afile], "no results.csv at"),
            (["--against", "gone.json", afile], "--against gone.json: no such file"),
            (["--llc", "-5M", afile], "--llc -5M: a size cannot be negative"),
            (["/proc/cpuinfo"], "/proc/cpuinfo: reports a size of 0 but has content"),
            # options that cannot apply to FILEs
            (["--quick", afile], "--quick applies to the generated corpora only"),
            (["--seed", "2", afile], "--seed applies to the generated corpora only"),
            (["--keep-corpora", afile], "--keep-corpora applies to the generated corpora only"),
            (["--large", afile], "--large applies to the generated corpora only"),
            (["--shapes", "unique", afile], "--shapes applies to the generated corpora only"),
            (["--shapes", "unique,sorted"], "--shapes: unknown shape 'sorted'; the shapes are unique, zipf"),
            (["--large", "--quick"], "--large and --quick ask for opposite ladders"),
            (["--seed", "-1"], "--seed must lie between 0 and 2^64 - 1"),
            (["--runs", "0", afile], "--runs 0: neither a number of runs, at least 1, nor auto"),
            (["--threshold", "nan", afile], "--threshold must be 0 or more, and finite"),
            (["--threshold", "inf", afile], "--threshold must be 0 or more, and finite"),
            (["--alpha", "nan", afile], "--alpha must lie between 0 and 1"),
            (["--cpu", "999", afile], "--cpu 999: not a CPU"),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                self.oneline(compare(*args), 2, words)

    def test_anemptybuilddirnamestheprobenotthecorpusforyourfiles(self):
        empty = os.path.join(self.dir, "build")
        os.mkdir(empty)
        done = subprocess.run([COMPARE, "--build-dir", empty, self.text], stderr=subprocess.PIPE, text=True)
        self.oneline(done, 2, "no heapprobe.so there")

    def test_adamagedlistofstoresisnamedbyitsline(self):
        build = os.path.join(self.dir, "build")
        os.mkdir(build)
        os.symlink(os.path.abspath(os.path.join(BUILD, "heapprobe.so")), os.path.join(build, "heapprobe.so"))
        for listing, words in (("", "not a list of stores"),
                               ("program\tpath\tlabel\tfamily\nlinebench-x\t/x\tX\tgraph\n", "line 2: not a program")):
            write(os.path.join(build, "linebench-stores.tsv"), listing)
            done = subprocess.run([COMPARE, "--build-dir", build, "--out", self.dir, self.text],
                                  stderr=subprocess.PIPE, text=True)
            self.oneline(done, 1, words)

    def test_arunwithitsoutputclosedstillcompletes(self):
        for closed in (1, 2):
            with self.subTest(closed=closed):
                argv = [COMPARE, "--build-dir", BUILD, "--programs", f"X={stub(self.dir, 'x', 0.3, 0.2)}", "--runs",
                        "1", "--out", self.dir, self.text]
                done = subprocess.run(argv, preexec_fn=lambda: os.close(closed), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
                self.assertEqual((done.returncode, readjson(self.dir)["complete"]), (0, True))

    def test_aprogramthatfailsorprintsnoreportisafailure(self):
        for program, words in ((stub(self.dir, "silent", 0, 0, report=False), "printed nothing on"),
                               (write(os.path.join(self.dir, "fails"), "#!/bin/sh\necho oops\nexit 3\n"),
                                "failed with status 3 on"),
                               (stub(self.dir, "nan", float("nan"), 0), "printed no report on"),
                               (stub(self.dir, "minus", 0.3, -0.2), "printed no report on")):
            os.chmod(program, 0o755)
            self.oneline(compare("--programs", f"X={program}", "--runs", "1", "--out", self.dir, self.text), 1,
                         words)

    def test_quotesbarslinefeedsandbytesnotutf8innamesandpathsarewrittensafely(self):
        odd = write(os.path.join(self.dir, "a|b's.txt"), "to\nbe\n")
        notutf8 = write(os.path.join(self.dir, os.fsdecode(b"x\xff.txt")), "to\nbe\n")
        twolines = write(os.path.join(self.dir, "y\n.txt"), "to\nbe\n")
        out = os.path.join(self.dir, os.fsdecode(b"it's out\xfe"))
        done = compare("--programs", f"it's={stub(self.dir, 'x', 0.3, 0.2)}", "--runs", "1", "--out", out, odd,
                       notutf8, twolines)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("\nx\\xff.txt ", done.stdout)
        self.assertIn("\ny\\n.txt ", done.stdout)
        with open(os.path.join(out, "results.md")) as md:
            self.assertRegex(md.read(), r"\| a\\\|b's.txt \| 200000 \| 100000 \| it's \|"
                                        r"(.|\n)*\| x\\\\xff.txt \| 200000 ")
        self.assertEqual(readjson(out)["files"][1]["path"], notutf8)
        if "results.png" in done.stderr:
            self.assertTrue(os.path.exists(os.path.join(out, "results.png")))


class filefacts(unittest.TestCase):
    def test_thedigestcoverseverybyteofafileofafewmib(self):
        """Two files of 3 MiB and a bit that differ only in their last byte:
        each digest is SHA-256 over all of its bytes at once, and sha256sum's."""
        with tempfile.TemporaryDirectory() as folder:
            body = bytes(range(256)) * (3 * 4096 + 5)
            for last in (b"a", b"b"):
                path = os.path.join(folder, "file")
                with open(path, "wb") as out:
                    out.write(body + last)
                whole = hashlib.sha256(body + last).hexdigest()
                self.assertEqual(digest(path), (len(body) + 1, whole))
                listed = subprocess.run(["sha256sum", path], stdout=subprocess.PIPE, text=True, check=True)
                self.assertEqual(listed.stdout.split()[0], whole)

    def test_alibrarythebuildleftoutrecordsnoversion(self):
        with tempfile.TemporaryDirectory() as folder:
            for boost, absl, version in (("Boost_DIR-NOTFOUND", "absl_DIR-NOTFOUND", None),
                                         ("/x/lib/cmake/Boost-1.81.0", "", "1.81.0")):
                write(os.path.join(folder, "CMakeCache.txt"), f"Boost_DIR:PATH={boost}\nabsl_DIR:PATH={absl}\n")
                facts = buildinfo(folder)
                self.assertEqual((facts["boost"], facts["abseil"]), (version, None))


class largeladder(unittest.TestCase):
    def test_arunggrowsatmosttenfoldandthelastpassesthetarget(self):
        self.assertEqual(ladder.nextrung(10**6, 10**6, 10**9), 10**7)
        # a quarter past what the bytes per line so far say the target needs
        self.assertEqual(ladder.nextrung(10**6, 100 * 10**6, 4 * 100 * 10**6), 5 * 10**6)
        self.assertGreaterEqual(ladder.nextrung(3 * 10**5, 99, 100), 4.5 * 10**5)
        self.assertIsNone(ladder.nextrung(10**9, 1, 10**9))


class interruption(Folder):
    def test_asignalstopsatonceandkeepsthefinishedrounds(self):
        """The signal comes once the stub has started its third run, so at
        least one round is finished however slow the machine; the deadlines
        only end a run that hangs."""
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum.name):
                temp = os.path.join(self.dir, f"tmp-{signum.name}")
                out = os.path.join(self.dir, f"out-{signum.name}")
                mark = os.path.join(self.dir, f"started-{signum.name}")
                slow = stub(self.dir, f"slow-{signum.name}", 0.3, 0.2, sleep=0.3, mark=mark)
                os.mkdir(temp)
                env = dict(os.environ, TMPDIR=temp)
                process = subprocess.Popen([COMPARE, "--build-dir", BUILD, "--programs", f"X={slow}", "--runs",
                                            "50", "--out", out, self.text], stderr=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True, env=env)
                deadline = time.monotonic() + 240
                while runsstarted(mark) < 3:
                    if process.poll() is not None or time.monotonic() > deadline:
                        process.kill()
                        self.fail(f"no third run: {process.communicate()[1]}")
                    time.sleep(0.05)
                process.send_signal(signum)
                _, stderr = process.communicate(timeout=240)
                self.assertEqual(process.returncode, 128 + signum, stderr)
                self.assertNotIn("Traceback", stderr)
                self.assertIn(f"stopped by {signum.name} after", stderr.strip().splitlines()[-1])
                self.assertEqual(os.listdir(temp), [])
                record = readjson(out)
                self.assertEqual((record["complete"], record["stopped_by"]), (False, signum.name))
                self.assertGreaterEqual(record["rounds_finished"], 1)
                self.assertGreaterEqual(len(record["runs"]), record["rounds_finished"])

    def test_astopthatpythondropsstillendstherunafterthenextrun(self):
        """A signal that lands in a finaliser or a fork hook: Python drops the
        exception the handler raises there, and the run must stop anyway."""
        handlers = {signum: signal.getsignal(signum) for signum in (signal.SIGINT, signal.SIGTERM)}
        self.addCleanup(lambda: [signal.signal(s, h) for s, h in handlers.items()])
        self.addCleanup(setattr, stopping, "caught", None)
        self.addCleanup(setattr, sys, "unraisablehook", sys.unraisablehook)
        sys.unraisablehook = stopping.quietstops

        class landsinafinaliser:
            def __del__(self):
                stopping.stopon(signal.SIGINT, None)

        with contextlib.redirect_stderr(io.StringIO()) as stderr:
            landsinafinaliser()
        self.assertEqual(stderr.getvalue(), "")
        run = session.Run.__new__(session.Run)
        run.reports, run.laps, run.record = {}, {}, {"runs": [], "files": [{}], "stores": [{}]}
        with self.assertRaises(Interrupted) as stop:
            run.done(0, "words.txt", {"key": "X"}, {})
        self.assertEqual(stop.exception.signum, signal.SIGINT)
        self.assertEqual(len(run.record["runs"]), 1)


class memory(Folder):
    def test_atablefrommmapisinthecolumn(self):
        """100,000 distinct lines: ABSLFLAT's slot array (32 bytes a line, the
        size of a std::string) and STDHASH's bucket array (8 bytes a line at
        least) are single blocks far past malloc's mmap threshold, which the
        programs' own figure, the break's growth, does not see."""
        with open(os.path.join(BUILD, "linebench-stores.tsv")) as listing:
            if "\nlinebench-abslflat\t" not in listing.read():
                self.skipTest("this build left out linebench-abslflat, for want of Abseil")
        text = os.path.join(self.dir, "unique.txt")
        subprocess.run([os.path.join(BUILD, "linebench-corpus"), "--lines", "100000", "--distinct", "1.0",
                        "-o", text], check=True)
        done = compare("--programs", "linebench-abslflat,linebench-stdhash", "--runs", "1", "--out", self.dir, text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "results.csv"), newline="") as results:
            rows = {row["store"]: row for row in csv.DictReader(results)}
        for store, table in (("ABSLFLAT", 32), ("STDHASH", 8)):
            row = rows[store]
            self.assertEqual(row["distinct"], "100000")
            self.assertGreaterEqual(float(row["bytes_per_line"]), float(row["report_bytes_per_line"]) + table,
                                    store)


def laststderr(done):
    return done.stderr.strip().splitlines()[-1]


def waitfor(path, process):
    """Waits until path exists, or fails when the process ends first."""
    while not os.path.exists(path):
        if process.poll() is not None:
            raise AssertionError(f"ended with status {process.returncode} before {path} was made: "
                                 f"{process.stderr.read()}")
        time.sleep(0.05)


def fakebuild(folder, tool=None, script=None):
    """A build folder of the heap probe and an empty list of stores, and
    tool as a program that runs script."""
    os.mkdir(folder)
    os.symlink(os.path.abspath(os.path.join(BUILD, "heapprobe.so")), os.path.join(folder, "heapprobe.so"))
    write(os.path.join(folder, "linebench-stores.tsv"), "program\tpath\tlabel\tfamily\n")
    if tool:
        os.chmod(write(os.path.join(folder, tool), script), 0o755)
    return folder


class ownfiles(Folder):
    def test_acorporafolderthatholdsfilesorisalinkisrefusedbeforeanything(self):
        out = os.path.join(self.dir, "out")
        os.makedirs(os.path.join(out, "corpora"))
        mine = write(os.path.join(out, "corpora", "mine.txt"), "keep me\n")
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.mkdir(elsewhere)
        theirs = write(os.path.join(elsewhere, "theirs.txt"), "keep me too\n")
        linked = os.path.join(self.dir, "linked")
        os.mkdir(linked)
        os.symlink(elsewhere, os.path.join(linked, "corpora"))
        for folder, words in ((out, "corpora holds files that this run did not make (mine.txt)"),
                              (linked, "corpora is a symbolic link")):
            with self.subTest(folder=folder):
                self.oneline(compare("--quick", "--out", folder), 2, words)
        for path, text in ((mine, "keep me\n"), (theirs, "keep me too\n")):
            with open(path) as kept:
                self.assertEqual(kept.read(), text)

    def test_aladderrunremovesonlythecorporaitwrote(self):
        """A file that appears among the corpora during the run is not the
        run's: it stays, and so does the folder that holds it."""
        out = os.path.join(self.dir, "out")
        x = stub(self.dir, "x", 0.3, 0.2, before='[ $n -ne 1 ] || echo theirs > "$(dirname "$1")/theirs.txt"')
        done = compare("--quick", "--runs", "1", "--programs", f"X={x}", "--out", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(os.path.join(out, "corpora")), ["theirs.txt"])
        self.assertEqual(len(readjson(out)["files"]), 8)  # two rungs of four shapes, all removed


class failedruns(Folder):
    def test_aprogramthatfailskeepstheroundsbeforeandwhy(self):
        """On its third run, and on its very first, which leaves no figures."""
        for failing in (1, 3):
            with self.subTest(failing=failing):
                x = stub(self.dir, f"x{failing}", 0.3, 0.2, before=f'[ $n -ne {failing} ] || {{ echo oops; exit 3; }}')
                done = compare("--programs", f"X={x}", "--runs", "5", "--out", self.dir, self.text)
                self.oneline(done, 1, "failed with status 3 on")
                record = readjson(self.dir)
                self.assertEqual((record["complete"], record["stopped_by"], len(record["runs"]),
                                  record["rounds_finished"]), (False, None, failing - 1, failing - 1))
                kept = os.path.join(self.dir, "results.json")
                self.assertIn(f"compare: {record['failure']}; what it did is in {kept}", laststderr(done))
                self.assertIn("failed with status 3", record["failure"])
        with open(os.path.join(self.dir, "results.csv"), newline="") as results:
            row, = csv.DictReader(results)
        self.assertEqual((row["runs"], row["store_us_runs"]), ("2", "0.3 0.3"))
        with open(os.path.join(self.dir, "results.md")) as md:
            self.assertIn("> Incomplete: ", md.read())

    def test_afilethatchangesduringtherunstopsitandkeepstherunsbefore(self):
        x = stub(self.dir, "x", 0.3, 0.2, before='[ $n -ne 2 ] || echo more >> "$1"')
        done = compare("--programs", f"X={x}", "--runs", "5", "--out", self.dir, self.text)
        self.oneline(done, 1, f"{self.text} changed during the run")
        record = readjson(self.dir)
        self.assertEqual((record["complete"], len(record["runs"])), (False, 1))

    def test_abrokenshapeprogramkeepseveryrun(self):
        build = fakebuild(os.path.join(self.dir, "build"), "linebench-shape",
                          "#!/bin/sh\necho 'no shape' >&2\nexit 2\n")
        out = os.path.join(self.dir, "out")
        done = subprocess.run([COMPARE, "--build-dir", build, "--programs", f"X={stub(self.dir, 'x', 0.3, 0.2)}",
                               "--runs", "3", "--out", out, self.text], stderr=subprocess.PIPE, text=True)
        self.oneline(done, 1, "linebench-shape gave status 2")
        record = readjson(out)
        self.assertEqual((record["complete"], len(record["runs"])), (False, 3))
        self.assertTrue(os.path.exists(os.path.join(out, "results.md")))

    def test_arunthatfailsbeforeitsfirstrunleavestheearlierresults(self):
        build = fakebuild(os.path.join(self.dir, "build"), "linebench-corpus",
                          "#!/bin/sh\necho 'no corpus' >&2\nexit 1\n")
        out = os.path.join(self.dir, "out")
        os.mkdir(out)
        earlier = write(os.path.join(out, "results.json"), '{"complete": true}\n')
        done = subprocess.run([COMPARE, "--build-dir", build, "--quick", "--programs",
                               f"X={stub(self.dir, 'x', 0.3, 0.2)}", "--out", out], stderr=subprocess.PIPE, text=True)
        self.oneline(done, 1, "linebench-corpus failed on unique-1e3.txt: no corpus")
        with open(earlier) as kept:
            self.assertEqual(kept.read(), '{"complete": true}\n')
        self.assertEqual(os.listdir(out), ["results.json"])


class stops(Folder):
    def test_astopduringthefirstrunisafterit(self):
        x = stub(self.dir, "x", 0.3, 0.2, before='touch "$0.started"; sleep 60')
        out = os.path.join(self.dir, "out")
        process = subprocess.Popen([COMPARE, "--build-dir", BUILD, "--programs", f"X={x}", "--runs", "3", "--out",
                                    out, self.text], stderr=subprocess.PIPE, text=True)
        waitfor(x + ".started", process)
        process.send_signal(signal.SIGINT)
        _, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 130, stderr)
        self.assertIn("stopped by SIGINT after 0 runs, 0 rounds finished; what it did is in",
                      stderr.strip().splitlines()[-1])
        record = readjson(out)
        self.assertEqual((record["stopped_by"], record["runs"]), ("SIGINT", []))


class build(unittest.TestCase):
    """The build step, on a copy of compare/ whose cmake is a stand-in that
    writes down what it is asked to build and fails or hangs as told; the
    programs it lists are this build's."""

    CMAKE = """#!/bin/sh
echo "$*" >> "$CMAKELOG"
if [ "$1" != --build ]; then
    echo "-- linebench-boostflat left out: no Boost 1.81 or later (tools/deps installs it)" && exit 0
fi
echo "[1/2] Building CXX object a.o" && sleep 0.8
case " $* " in *" linebench-broken "*)
    echo "FAILED: CMakeFiles/linebench-broken.dir/driver/linebench.cpp.o"
    echo "In file included from /src/driver/linebench.cpp:20:"
    echo "/src/broken/binding.hpp:12:5: error: 'storecontainr' does not name a type"
    echo "ninja: build stopped: subcommand failed."
    exit 1;;
esac
if [ -n "$HANGPID" ]; then
    sh -c 'trap "touch \\"$HANGPID.stopped\\"; exit 143" TERM; sleep 300 &
        echo $PPID > "$HANGPID.part" && mv "$HANGPID.part" "$HANGPID"; wait' &
    wait
fi
"""

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        root = self.scratch.name
        shutil.copytree(os.path.join(ROOT, "compare"), os.path.join(root, "compare"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        bindir = os.path.join(root, "build", "release")
        os.makedirs(bindir)
        os.symlink(os.path.abspath(os.path.join(BUILD, "heapprobe.so")), os.path.join(bindir, "heapprobe.so"))
        with open(os.path.join(BUILD, "linebench-stores.tsv")) as listing:
            rows = listing.read().splitlines()[:3]  # the header, REDBLACK and HASH
        write(os.path.join(bindir, "linebench-stores.tsv"), "\n".join(
            rows + [f"linebench-broken\t{bindir}/linebench-broken\tBROKEN\tother"]) + "\n")
        os.mkdir(os.path.join(root, "bin"))
        os.chmod(write(os.path.join(root, "bin", "cmake"), self.CMAKE), 0o755)
        self.log = os.path.join(root, "cmake.log")
        self.env = dict(os.environ, PATH=os.path.join(root, "bin") + ":" + os.environ["PATH"], CMAKELOG=self.log)
        self.compare = os.path.join(root, "compare", "linebench-compare")
        self.text = write(os.path.join(root, "words.txt"), "to\nbe\nor\nnot\n")
        self.out = os.path.join(root, "out")

    def tearDown(self):
        self.scratch.cleanup()

    def start(self, *args):
        return subprocess.run([self.compare, "--out", self.out] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, env=self.env, timeout=300)

    def asked(self):
        """What cmake was asked to do, a line per call."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as log:
            return log.read().splitlines()

    def test_onlytheprogramsoftherunarebuiltandabrokenstorestopsonlyitsown(self):
        done = self.start("--programs", "linebench-hash", "--runs", "1", self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        # in a log, a line a stage, and a baseline that the configure step left out
        self.assertEqual(done.stderr.splitlines()[:3], [
            "compare: configuring the Release preset", "compare: linebench-boostflat left out: no Boost 1.81 or later "
            "(tools/deps installs it)", "compare: building linebench-hash, heapprobe, linebench-shape"])
        self.assertEqual(self.asked(), ["--preset release",
                                        "--build --preset release -j 2 --target linebench-hash heapprobe "
                                        "linebench-shape"])
        done = self.start("--programs", "linebench-broken", "--runs", "1", self.text)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertNotIn("Traceback", done.stderr)
        self.assertIn("/src/broken/binding.hpp:12:5: error: 'storecontainr' does not name a type",
                      laststderr(done))

    def test_aterminalseesthebuildsstepsasninjacountsthem(self):
        main, terminal = pty.openpty()
        process = subprocess.Popen([self.compare, "--out", self.out, "--programs", "linebench-hash", "--runs", "1",
                                    self.text], stdin=terminal, stdout=terminal, stderr=terminal, env=self.env)
        os.close(terminal)
        seen = b""
        with contextlib.suppress(OSError):  # EIO once the terminal's last writer has gone
            while chunk := os.read(main, 4096):
                seen += chunk
        os.close(main)
        self.assertEqual(process.wait(timeout=300), 0, seen)
        self.assertRegex(seen.decode(errors="replace"), r"compare: building, \d s: \[1/2\] Building CXX object a\.o")

    def test_whatneedsnobuildischeckedbeforeit(self):
        other = os.path.join(os.path.dirname(self.out), "other")
        os.mkdir(other)
        samename = write(os.path.join(other, "words.txt"), "to\n")
        damaged = write(os.path.join(os.path.dirname(self.out), "results.csv"), "file,store\nwords.txt,X\n")
        for args, status, words, asked in (
                (["--programs", "linebench-nosuch", self.text], 2, "unknown program 'linebench-nosuch'",
                 ["--preset release"]),
                (["--programs", "linebench-hash,linebench-hash", self.text], 2, "linebench-hash is named twice", []),
                (["--against", damaged, self.text], 1, "has no column sha256", []),
                ([self.text, samename], 2, "have the same name", [])):
            with self.subTest(args=args):
                if os.path.exists(self.log):
                    os.remove(self.log)
                done = self.start(*args)
                self.assertEqual((done.returncode, self.asked()), (status, asked), done.stderr)
                self.assertIn(words, laststderr(done))

    def test_astopduringthebuildleavesnothingofitrunning(self):
        for signum in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signum.name):
                hang = os.path.join(os.path.dirname(self.out), f"hang-{signum.name}")
                process = subprocess.Popen([self.compare, "--out", self.out, "--programs", "linebench-hash",
                                            self.text], stderr=subprocess.PIPE, text=True,
                                           env=dict(self.env, HANGPID=hang))
                waitfor(hang, process)
                with open(hang) as source:
                    group = int(source.read())
                process.send_signal(signum)
                _, stderr = process.communicate(timeout=120)
                self.assertEqual(process.returncode, 128 + signum, stderr)
                self.assertIn(f"stopped by {signum.name} before the first run", stderr.strip().splitlines()[-1])
                # cmake's child, in its group, was told to stop, not killed
                self.assertTrue(os.path.exists(hang + ".stopped"), "killed, not stopped")
                with self.assertRaises(ProcessLookupError):
                    os.killpg(group, 0)


class buildcause(unittest.TestCase):
    """A failed step is said by the line of CMake's or the compiler's own
    output that says why."""

    def test_thecompilersfirsterrorandcmakesmessage(self):
        with tempfile.TemporaryDirectory() as folder:
            source = write(os.path.join(folder, "broken.cpp"), "#include <cstdio>\nint f() { return nosuch; }\n"
                           "int g() { return nosuchtoo; }\n")
            done = subprocess.run(["c++", "-c", source, "-o", os.devnull], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
            self.assertRegex(comparebuild.cause("ninja: something\n" + done.stdout + "ninja: build stopped.\n"),
                             rf"^{source}:2:\d+: error: .*nosuch")
            script = write(os.path.join(folder, "store.cmake"), 'set(x 1)\nmessage(FATAL_ERROR "store folder /x '
                           'holds no binding.hpp")\n')
            done = subprocess.run(["cmake", "-P", script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True)
            self.assertEqual(comparebuild.cause(done.stdout),
                             f"CMake Error at {script}:2 (message): store folder /x holds no binding.hpp")


class smallthings(Folder):
    def test_allmixeswithnamesandpaths(self):
        with open(os.path.join(BUILD, "linebench-stores.tsv")) as listing:
            labels = [line.split("\t")[2] for line in listing.read().splitlines()[1:]]
        x = os.path.abspath(os.path.join(BUILD, "linebench-hash"))
        for programs, keys in (("all,X=" + x, labels + ["X"]),
                               ("linebench-hash,all", ["HASH"] + [label for label in labels if label != "HASH"])):
            with self.subTest(programs=programs):
                done = compare("--programs", programs, "--runs", "1", "--out", self.dir, self.text)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual([store["key"] for store in readjson(self.dir)["stores"]], keys)

    def test_atimebelowthefloorshowsnospread(self):
        """getline's pass, 200,000 lines at 0.0001 to 0.0009 µs, lasts under
        0.2 ms; the store pass lasts longer, and its spread shows."""
        x = stub(self.dir, "x", 0.3, 0.2, before='case $n in 1) g=0.0001;; 2) g=0.0009;; *) g=0.0002;; esac',
                 getline="$g")
        with open(x) as source:
            script = source.read()
        write(x, script.replace(" 0.300 uS", " 0.$((n + 3))00 uS"))
        done = compare("--programs", f"X={x}", "--runs", "3", "--out", self.dir, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "results.md")) as md:
            row = next(line for line in md.read().splitlines() if line.startswith("| words.txt"))
        # runs 0.4, 0.5, 0.6: quartiles 0.45 and 0.55, a spread of 20% of 0.5
        self.assertIn("| X | 0.000 | 0.500 ±20% | 0.200 ±0% |", row)

    def test_helpnamesthedefaultandeverybaselineastheguidesdo(self):
        done = subprocess.run([COMPARE, "--help"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        helptext = " ".join(done.stdout.split())
        with open(os.path.join(ROOT, "docs", "compare.md")) as source:
            guide = source.read()
        with open(os.path.join(ROOT, "docs", "stores.md")) as source:
            stores = source.read()
        row = next(line for line in guide.splitlines() if line.startswith("| `--programs LIST` |"))
        left = row.split("|")[2].split(" but ")[1]
        self.assertIn(f"(default: every store the build made but {left.replace('`', '').strip()})", helptext)
        for folder in os.listdir(os.path.join(ROOT, "baselines")):
            if os.path.isdir(os.path.join(ROOT, "baselines", folder)):
                self.assertIn(f"linebench-{folder} ", helptext)
                self.assertIn(f"`linebench-{folder}`", stores)

    def test_llcgivesthecachewherethelargeladderandtheplotneedit(self):
        x = stub(self.dir, "x", 0.3, 0.2)
        done = compare("--large", "--llc", "1K", "--shapes", "ascending", "--runs", "1", "--programs", f"X={x}",
                       "--out", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        record = readjson(self.dir)
        self.assertEqual(record["settings"]["llc"], {"bytes": 1024, "level": None, "from": "--llc"})
        self.assertEqual(record["large"]["target_bytes"], 4096)
        with open(os.path.join(self.dir, "results.gp")) as script:
            # the stub's 88 bytes a line fill 1 KiB at 11.6 lines
            self.assertIn("last-level cache full at 12'", script.read())
        self.oneline(compare("--llc", "lots", self.text), 2, "--llc lots: not a size")

    def test_amissingscipyisonelineandhelpdoeswithoutit(self):
        fake = os.path.join(self.dir, "fake", "scipy")
        os.makedirs(fake)
        write(os.path.join(fake, "__init__.py"), "raise ImportError(\"No module named 'scipy'\", name='scipy')\n")
        env = dict(os.environ, PYTHONPATH=os.path.dirname(fake))
        done = subprocess.run([COMPARE, "--help"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              env=env)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertIn("usage: linebench-compare", done.stdout)
        done = compare("--programs", f"X={stub(self.dir, 'x', 0.3, 0.2)}", "--out", self.dir, self.text, env=env)
        self.oneline(done, 1, "SciPy is missing")
        self.assertIn("tools/deps", done.stderr)
        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)

    def test_aprogramwhoselibraryismissingsayssoandwhattodo(self):
        x = write(os.path.join(self.dir, "x"), "#!/bin/sh\necho \"$0: error while loading shared libraries: "
                  "libJudy.so.1: cannot open shared object file: No such file or directory\" >&2\nexit 127\n")
        os.chmod(x, 0o755)
        done = compare("--programs", f"X={x}", "--runs", "1", "--out", self.dir, self.text)
        self.oneline(done, 1, "libJudy.so.1")
        self.assertIn("tools/deps", laststderr(done))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
