"""linebench-compare's build end to end, on a copy of compare/ whose cmake is a
stand-in: only the programs of the run are built, a broken store stops only
its own run, the build's steps on a terminal, what needs no build checked
before it, and a stop during the build.

Usage: commandbuild_test.py [BUILD], the folder that holds the programs (build/release).
"""

import contextlib
import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

from stubs import BUILD, ROOT, laststderr, waitfor, write


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
        # the build's log holds the output of its last step, failed or not
        log = os.path.join(os.path.dirname(self.out), "build", "release", "compare-build.log")
        with open(log) as kept:
            self.assertIn("'storecontainr' does not name a type", kept.read())
        self.assertEqual(self.start("--programs", "linebench-hash", "--runs", "1", self.text).returncode, 0)
        with open(log) as kept:
            self.assertEqual(kept.read(), "$ cmake --build --preset release -j 2 --target linebench-hash heapprobe "
                             "linebench-shape\n[1/2] Building CXX object a.o\n")

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
        # an earlier run of HASH on another words.txt of the counts of the ladder's unique-1e4
        earlier = write(os.path.join(other, "results.csv"), "file,sha256,store,lines,distinct,store_us,lookup_us,"
                        f"store_us_runs,lookup_us_runs\nwords.txt,{'0' * 64},HASH,10000,10000,0.1,0.1,0.1,0.1\n")
        x = write(os.path.join(other, "x"), "#!/bin/sh\n")
        os.chmod(x, 0o755)
        ladder = "no corpus of this run's ladder has the lines and distinct lines of one of its files"
        for args, status, words, asked in (
                (["--against", earlier, self.text], 1, "no file of this run has the content of one of its files; "
                 "words.txt differs from its file of that name", []),
                (["--against", earlier, "--programs", f"X={x}"], 1, ladder + " with the same store", []),
                (["--against", earlier, "--programs", "linebench-redblack"], 1, ladder + " with the same store",
                 ["--preset release"]),
                (["--against", earlier, "--shapes", "zipf"], 1, ladder, []),
                (["--against", earlier, "--large", "--llc", "32M", "--programs", f"X={x}"], 1,
                 "it ran none of this run's stores (X), but HASH", []),
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
