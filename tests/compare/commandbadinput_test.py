"""linebench-compare end to end on what cannot work: every class of bad
command line, a build folder or list of stores that is not one, a program
that fails, prints no report or lacks a library, SciPy missing, closed
output, and names that would break a line or a table.

Usage: commandbadinput_test.py [BUILD], the folder that holds the programs (build/release).
"""

import os
import subprocess
import sys
import unittest

from stubs import BUILD, COMPARE, Folder, compare, laststderr, readjson, stub, write


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
            (["--against", os.path.join(self.dir, "nowhere"), afile], "nowhere: no such folder"),
            (["--time-limit", "0", afile], "--time-limit 0: no time leaves no rounds; give a limit above 0"),
            (["--time-limit", "-5m", afile], "--time-limit -5m: a time limit cannot be negative"),
            (["--time-limit", "5 weeks", afile], "--time-limit 5 weeks: not a time, such as 90s"),
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


class environment(Folder):
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
