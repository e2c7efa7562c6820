"""bench/compare end to end: --against on stub programs of known figures,
the parsed figures beside the programs' own rows, every class of bad input,
a stop by signal, and a memory column that sees a table malloc maps with mmap.

Usage: compare_test.py BUILD, the folder that holds the programs.
"""

import contextlib
import csv
import hashlib
import io
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench"))
import comparecli  # noqa: E402
import comparerun  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMPARE = os.path.join(ROOT, "bench", "compare")
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
LINES = 200000  # the stubs' passes last 30 ms or more, above the timer's floor


def compare(*args, env=None):
    return subprocess.run([COMPARE, "--build-dir", BUILD] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=env, timeout=300)


def stub(folder, name, store, lookup, sleep=0.0, report=True, mark=None):
    """A program that prints a report of fixed figures and the heap probe's
    two lines, as linebench's programs do; with mark, it first adds a line to
    that file, so that a test can count its runs."""
    path = os.path.join(folder, name)
    row = f"{LINES:8d}   10.0 byts 0.050 uS   {LINES // 2:6d}    88.0 byts {store:6.3f} uS {lookup:6.3f} uS STUB"
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + (f"echo >> '{mark}'\n" if mark else "") + (f"sleep {sleep}\n" if sleep else ""))
        if report:
            script.write(f"printf '# %s %s \\n' \"$0\" \"$1\"\n"
                         "echo '#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT'\n"
                         f"echo '{row}'\n")
        script.write('[ -z "$HEAPPROBE_FILE" ] || printf "0 0\\n0 0\\n" > "$HEAPPROBE_FILE"\n')
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
        done = compare("--programs", f"X={slow}", "--runs", "5", "--out", os.path.join(self.dir, "before"),
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        return os.path.join(self.dir, "before")

    def test_afasterprogramreadsfasterwiththeratioofnowoverbefore(self):
        before = self.firstrun()
        fast = stub(self.dir, "fast", 0.150, 0.150)
        # the CSV itself names the earlier run as well as its folder
        done = compare("--programs", f"X={fast}", "--runs", "5", "--out", os.path.join(self.dir, "now"),
                       "--against", os.path.join(before, "results.csv"), self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        row, = readjson(os.path.join(self.dir, "now"))["against"]["rows"]
        self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
        self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.75)
        self.assertEqual((row["store_us"]["verdict"], row["lookup_us"]["verdict"]), ("faster", "faster"))
        self.assertIn("0.300 -> 0.150 x0.50 [0.50, 0.50] faster", done.stdout)
        self.assertIn("0.200 -> 0.150 x0.75 [0.75, 0.75] faster", done.stdout)
        with open(os.path.join(self.dir, "now", "results.md")) as md:
            self.assertIn("| 0.300 | 0.150 | x0.50 [0.50, 0.50] faster |", md.read())

    def test_afileisknownbyitsbytesnotitsname(self):
        before = self.firstrun()
        write(self.text, "ot\neb\nro\ntno\n")
        done = compare("--programs", f"X={stub(self.dir, 'fast', 0.150, 0.150)}", "--runs", "5", "--out",
                       os.path.join(self.dir, "now"), "--against", before, self.text)
        self.oneline(done, 1, "took")
        self.assertIn("their contents differ from its files of the same name: words.txt", done.stdout)
        self.assertIn("Nothing in common with the earlier run", done.stdout)
        self.assertEqual(readjson(os.path.join(self.dir, "now"))["against"]["rows"], [])

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
            self.oneline(compare("--programs", f"X={fast}", "--runs", "5", "--out", os.path.join(self.dir, "now"),
                                 "--against", before, self.text), 1, words)


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


class badinput(Folder):
    def test_acommandlinethatcannotworkissaidinonelinewithstatustwo(self):
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        empty = write(os.path.join(self.dir, "empty.txt"), "")
        plain = write(os.path.join(self.dir, "notexecutable"), "")
        afile = self.text
        cases = [
            # files to measure
            ([os.path.join(self.dir, "missing.txt")], "missing.txt: no such file"),
            ([self.dir], "is a folder, not a regular file"),
            ([fifo], "is a FIFO, not a regular file"),
            (["/dev/null"], "is a character device, not a regular file"),
            ([empty], "is empty"),
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
            # options that cannot apply to FILEs
            (["--quick", afile], "--quick applies to the generated corpora only"),
            (["--seed", "2", afile], "--seed applies to the generated corpora only"),
            (["--keep-corpora", afile], "--keep-corpora applies to the generated corpora only"),
            (["--large", afile], "--large applies to the generated corpora only"),
            (["--shapes", "unique", afile], "--shapes applies to the generated corpora only"),
            (["--shapes", "unique,sorted"], "--shapes: unknown shape 'sorted'; the shapes are unique, zipf"),
            (["--large", "--quick"], "--large and --quick ask for opposite ladders"),
            (["--seed", "-1"], "--seed must lie between 0 and 2^64 - 1"),
            (["--runs", "0", afile], "--runs must be at least 1"),
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
                self.assertEqual(comparerun.digest(path), (len(body) + 1, whole))
                listed = subprocess.run(["sha256sum", path], stdout=subprocess.PIPE, text=True, check=True)
                self.assertEqual(listed.stdout.split()[0], whole)

    def test_alibrarythebuildleftoutrecordsnoversion(self):
        with tempfile.TemporaryDirectory() as folder:
            for boost, absl, version in (("Boost_DIR-NOTFOUND", "absl_DIR-NOTFOUND", None),
                                         ("/x/lib/cmake/Boost-1.81.0", "", "1.81.0")):
                write(os.path.join(folder, "CMakeCache.txt"), f"Boost_DIR:PATH={boost}\nabsl_DIR:PATH={absl}\n")
                facts = comparerun.buildinfo(folder)
                self.assertEqual((facts["boost"], facts["abseil"]), (version, None))


class largeladder(unittest.TestCase):
    def test_arunggrowsatmosttenfoldandthelastpassesthetarget(self):
        self.assertEqual(comparerun.nextrung(10**6, 10**6, 10**9), 10**7)
        # a quarter past what the bytes per line so far say the target needs
        self.assertEqual(comparerun.nextrung(10**6, 100 * 10**6, 4 * 100 * 10**6), 5 * 10**6)
        self.assertGreaterEqual(comparerun.nextrung(3 * 10**5, 99, 100), 4.5 * 10**5)
        self.assertIsNone(comparerun.nextrung(10**9, 1, 10**9))


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
        self.addCleanup(setattr, comparecli, "caught", None)
        self.addCleanup(setattr, sys, "unraisablehook", sys.unraisablehook)
        sys.unraisablehook = comparecli.quietstops

        class landsinafinaliser:
            def __del__(self):
                comparecli.stopon(signal.SIGINT, None)

        with contextlib.redirect_stderr(io.StringIO()) as stderr:
            landsinafinaliser()
        self.assertEqual(stderr.getvalue(), "")
        run = comparecli.Run.__new__(comparecli.Run)
        run.reports, run.record = {}, {"runs": [], "files": [{}], "stores": [{}]}
        with self.assertRaises(comparerun.Interrupted) as stop:
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
