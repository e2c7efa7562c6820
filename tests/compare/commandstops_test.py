"""linebench-compare end to end when a run stops or fails: a signal mid-run
and during the first run, which keep the finished rounds, a program that
fails, a file that changes, a broken linebench-shape, and a failure before
the first run, which leaves the earlier results.

Usage: commandstops_test.py [BUILD], the folder that holds the programs (build/release).
"""

import csv
import os
import signal
import subprocess
import sys
import time
import unittest

from stubs import BUILD, COMPARE, Folder, compare, fakebuild, laststderr, readjson, runsstarted, stub, \
    waitfor, write


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
        """Grown, or rewritten in place at the same size with another
        modification time."""
        for name, change in (("grown", 'echo more >> "$1"'),
                             ("rewritten", 'printf "ot\\neb\\nro\\ntno\\n" > "$1"; touch -m -d @946684800 "$1"')):
            with self.subTest(name=name):
                text = write(os.path.join(self.dir, f"{name}.txt"), "to\nbe\nor\nnot\n")
                x = stub(self.dir, name, 0.3, 0.2, before=f'[ $n -ne 2 ] || {{ {change}; }}')
                out = os.path.join(self.dir, f"out-{name}")
                done = compare("--programs", f"X={x}", "--runs", "5", "--out", out, text)
                self.oneline(done, 1, f"{text} changed during the run")
                record = readjson(out)
                self.assertEqual((record["complete"], len(record["runs"])), (False, 1))
        with open(text) as rewritten:
            self.assertEqual(rewritten.read(), "ot\neb\nro\ntno\n")

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

    def test_arunthatfailsbeforeitsfirstrunleavestheoutputfolderasitwas(self):
        """linebench-corpus failing, ldd missing as the programs are kept, and a
        command line refused: an earlier run's folder keeps its files alone, a
        folder that was not there is not made."""
        build = fakebuild(os.path.join(self.dir, "build"), "linebench-corpus",
                          "#!/bin/sh\necho 'no corpus' >&2\nexit 1\n")
        out = os.path.join(self.dir, "out")
        os.mkdir(out)
        earlier = write(os.path.join(out, "results.json"), '{"complete": true}\n')
        nothing = os.path.join(self.dir, "nothing")
        os.mkdir(nothing)
        x = stub(self.dir, "x", 0.3, 0.2)
        for args, env, status, words in (
                (["--build-dir", build, "--quick"], None, 1, "linebench-corpus failed on unique-1e3.txt: no corpus"),
                (["--build-dir", BUILD, self.text], dict(os.environ, PATH=nothing), 1, "ldd cannot list"),
                (["--build-dir", BUILD, "--programs", "linebench-nosuch", self.text], None, 2, "unknown program")):
            for folder in (out, os.path.join(self.dir, "new", "out")):
                with self.subTest(words=words, folder=folder):
                    done = subprocess.run([COMPARE, "--programs", f"X={x}"] + args + ["--out", folder],
                                          stderr=subprocess.PIPE, text=True, env=env)
                    self.oneline(done, status, words)
                    with open(earlier) as kept:
                        self.assertEqual(kept.read(), '{"complete": true}\n')
                    self.assertEqual(os.listdir(out), ["results.json"])
                    self.assertFalse(os.path.exists(os.path.join(self.dir, "new")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
