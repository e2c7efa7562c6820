"""linebench-compare's runs: the programs, the corpora, each timed run under the
heap probe on one pinned CPU, linebench-shape, and what the machine and the
build are.
"""

import ctypes
import hashlib
import os
import platform
import subprocess
import time

from .report import ReportError, runreport
from .stats import TIMES

CORPUS = "linebench-corpus"
PROBE = "heapprobe.so"
PROBETARGET = "heapprobe"
SHAPE = "linebench-shape"


# The build's list of the store programs it made (cmake/linebenchstores.cmake
# writes it): a header, then a program, its path, its ADT label (empty where
# the build could not read it) and its family on each line, tab-separated.  A
# path may be relative to the list, as in the installed one.
STORELIST = "linebench-stores.tsv"
STORELISTHEADER = ["program", "path", "label", "family"]
FAMILIES = ["tree", "chained hash", "open addressing", "trie", "other"]

# The stores that a default run leaves out, to stay under five minutes with
# its many rounds; --programs all runs them too.  BOOSTFLAT is ABSLFLAT's
# design in Boost, and its figures track ABSLFLAT's (docs/compare.md).
NOTBYDEFAULT = ["linebench-boostflat"]


# The command's folder: compare/ in a checkout, or where it is installed
# (libexec/linebench), which holds, as a build folder does, the list of the
# installed stores, the heap probe and the programs, or links to them.
HOME = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTALLED = os.path.isfile(os.path.join(HOME, STORELIST))
# The checkout, whose Release preset a run builds; None where installed.
ROOT = None if INSTALLED else os.path.dirname(HOME)


def readstores(bindir):
    """Every store program of the build in bindir, in the build's order: for
    each its program name, path, label and family."""
    path = os.path.join(bindir, STORELIST)
    try:
        with open(path, encoding="utf-8", errors="replace") as listing:
            rows = [line.rstrip("\n").split("\t") for line in listing]
    except OSError as error:
        raise RunError(f"{path}: {error.strerror}; is {bindir} a build folder of this version of linebench? "
                       f"(cmake --build {bindir})") from None
    if not rows or rows[0] != STORELISTHEADER:
        raise RunError(f"{path}: not a list of stores (its first line is not the header "
                       f"{chr(9).join(STORELISTHEADER)!r})")
    stores = []
    for number, row in enumerate(rows[1:], 2):
        if len(row) != len(STORELISTHEADER) or not row[0] or not row[1] or row[3] not in FAMILIES:
            raise RunError(f"{path}, line {number}: not a program, path, label and family")
        store = dict(zip(STORELISTHEADER, row))
        store["path"] = os.path.join(bindir, store["path"])
        stores.append(store)
    return stores


def defaultprograms(known):
    return [store["program"] for store in known if store["program"] not in NOTBYDEFAULT]


# A shape: its name, what it is, and the linebench-corpus options that make it
# beside its lines and distinct lines.
SHAPES = [
    ("unique", "every line distinct, random order", []),
    ("zipf", "repeats by a Zipf law (s = 1), random order: like the words of a text", ["--repeats", "zipf"]),
    ("uniform", "repeats uniform, random order", ["--repeats", "uniform"]),
    ("ascending", "every line distinct, ascending order", ["--order", "ascending"]),
]

# The rungs of each shape, (lines, distinct lines): four a shape, spanning 30
# times in distinct lines, so that the plot shows how each store's cost grows.
# Every rung is long enough for the fastest store's passes to last the
# timer's floor, so that each file carries verdicts: the fastest lookups, in
# the cache or in sorted order, take 0.03 µs a line, so the rungs start at
# 10^4 lines, and the repeated shapes hold 3·10^5 lines on every rung.  The
# largest unique file costs most, every line a cache miss or more;
# docs/compare.md says how long the default run takes.
LADDER = {
    "unique": [(n, n) for n in (10**4, 3 * 10**4, 10**5, 3 * 10**5)],
    "zipf": [(3 * 10**5, n) for n in (10**3, 3 * 10**3, 10**4, 3 * 10**4)],
    "uniform": [(3 * 10**5, n) for n in (10**3, 3 * 10**3, 10**4, 3 * 10**4)],
    "ascending": [(n, n) for n in (10**4, 3 * 10**4, 10**5, 3 * 10**5)],
}
# --quick: 10^3 and 10^4 lines, every line distinct or one in a hundred.
QUICK_LADDER = {shape: [(n, n if shape in ("unique", "ascending") else n // 100) for n in (10**3, 10**4)]
                for shape, _, _ in SHAPES}


class RunError(Exception):
    """A failure of a run, a build or a tool: one line for the user."""


class Interrupted(Exception):
    """SIGINT or SIGTERM arrived."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def tidylines(lines):
    """10000 -> 1e4, 30000 -> 3e4: short names for corpus files."""
    exponent = len(str(lines)) - 1
    mantissa = lines / 10**exponent
    return f"{mantissa:g}e{exponent}" if int(mantissa * 10) == mantissa * 10 else str(lines)


def corpusplan(folder, quick, seed, shapes=None):
    """(path, shape, command line) of every generated corpus of the shapes
    named (all by default)."""
    return [corpus(folder, shape, lines, distinct, seed) for shape, _, _ in SHAPES if shapes is None or shape in shapes
            for lines, distinct in (QUICK_LADDER if quick else LADDER)[shape]]


def corpus(folder, shape, lines, distinct, seed):
    """(path, shape, command line) of one generated corpus, named after its
    shape and its distinct lines."""
    options = next(options for name, _, options in SHAPES if name == shape)
    command = [CORPUS, "--lines", str(lines), "--distinct", str(distinct)] + options + ["--seed", str(seed)]
    return os.path.join(folder, f"{shape}-{tidylines(distinct)}.txt"), shape, " ".join(command)


def lastlevelcache():
    """The size in bytes of the largest data cache of CPU 0, from sysfs, with
    its level; None where sysfs does not tell."""
    found = None
    folder = "/sys/devices/system/cpu/cpu0/cache"
    try:
        entries = sorted(os.listdir(folder))
    except OSError:
        return None
    for entry in entries:
        try:
            level = int(readfirst(os.path.join(folder, entry, "level"), ""))
            kind = readfirst(os.path.join(folder, entry, "type"), "")
            text = readfirst(os.path.join(folder, entry, "size"), "")
            size = int(text[:-1]) * {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}[text[-1]]
        except (TypeError, ValueError, KeyError, IndexError):
            continue
        if kind in ("Unified", "Data") and (found is None or level > found[1]):
            found = (size, level)
    return found


def cachename(level):
    """The cache in words: the L3 cache, or the last-level cache where its
    level is not known (a size given by hand)."""
    return f"the L{level} cache" if level else "the last-level cache"


# --large: the ladder's rungs past the default ones grow at most tenfold, and
# the last is sized to pass the memory target by a quarter, as the stores'
# bytes per line drift a little with their size.
LARGESTEP = 10
LARGEMARGIN = 1.25
# The driver counts lines in 32 bits; a rung never asks for more.
MOSTLINES = 2**31 - 1


def nextrung(lines, memory, target):
    """The lines of the next rung after one of lines whose largest store held
    memory bytes, towards target bytes: memory grows with the lines.  None
    when the target would need more lines than the driver counts."""
    growth = min(LARGESTEP, target * LARGEMARGIN / max(memory, 1))
    wanted = lines * max(growth, 1.5)
    exponent = 10 ** (len(str(int(wanted))) - 1)
    nice = next(m * exponent for m in (1, 1.5, 2, 3, 5, 7, 10) if m * exponent >= wanted)
    return int(nice) if nice <= MOSTLINES else None


def digest(path):
    """(size, SHA-256) of a file's content."""
    sha = hashlib.sha256()
    size = 0
    with open(path, "rb") as source:
        while block := source.read(1 << 20):
            sha.update(block)
            size += len(block)
    return size, sha.hexdigest()


ADDR_NO_RANDOMIZE = 0x0040000  # personality(2), as setarch -R sets it


def childsetup(cpu, norandom):
    """What the child does between fork and exec: keep to one CPU, and lay out
    its memory without randomisation.  Both last across the exec."""
    libc = ctypes.CDLL(None, use_errno=True) if norandom else None

    def setup():
        if cpu is not None:
            os.sched_setaffinity(0, {cpu})
        if libc is not None:
            libc.personality(libc.personality(0xFFFFFFFF) | ADDR_NO_RANDOMIZE)
    return setup


def probeenvironment(probe, probefile):
    """The environment of a run under the heap probe."""
    env = dict(os.environ)
    env["LD_PRELOAD"] = " ".join(filter(None, [probe, env.get("LD_PRELOAD")]))
    env["HEAPPROBE_FILE"] = probefile
    # A sanitizer build wants its runtime loaded first; the probe needs no
    # sanitizer and may come before it.
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return env


def readprobe(probefile, program):
    """What the probe saw: (break growth, heap growth) over the store pass,
    from its two lines of the break and the bytes in use at each of the
    driver's sbrk calls; and the clock's readings, or None where the program
    did not read it exactly as the driver does, once before and once after
    each pass."""
    try:
        with open(probefile) as lines:
            fields = [line.split() for line in lines]
        calls = [[int(field) for field in line] for line in fields if line and line[0] not in ("clock", "t")]
        count = [int(line[1]) for line in fields if line[:1] == ["clock"] and len(line) == 2]
        readings = [(int(line[1]), int(line[2])) for line in fields if line[:1] == ["t"] and len(line) == 3]
    except (OSError, ValueError) as error:
        raise RunError(f"the heap probe in {program} left no figures: {error}") from None
    if len(calls) != 2 or any(len(call) != 2 for call in calls):
        raise RunError(f"the heap probe in {program} saw {len(calls)} calls of sbrk, not the driver's two")
    (breakbefore, heapbefore), (breakafter, heapafter) = calls
    clock = readings if count == [len(TIMES) * 2] and len(readings) == len(TIMES) * 2 else None
    return breakafter - breakbefore, heapafter - heapbefore, clock


# How the report prints each time: getline " %5.3f uS", the others " %6.3f uS";
# both keep three decimals.
PRINTED = "{:.3f}"


def fulltimes(report, clock):
    """Each pass's microseconds per line from the clock's readings, computed
    as the driver computes them but not rounded; None where they are not the
    figures the report rounded (a program that reads the clock otherwise)."""
    if clock is None:
        return None
    figures = {}
    for number, key in enumerate(TIMES):
        (startseconds, startmicros), (endseconds, endmicros) = clock[2 * number:2 * number + 2]
        elapsed = float(endseconds - startseconds) * 1000000.0 + float(endmicros - startmicros)
        figures[key] = elapsed / report["lines"]
        if PRINTED.format(figures[key]) != PRINTED.format(report[key]):
            return None
    return figures


def runonce(store, path, probe, probefile, setup):
    """One run's report.  Its memory figure, bytes_per_line, counts the heap
    growth that the probe saw where the program counts the break's growth:
    both add the store's static footprint, so swapping one growth for the
    other leaves the footprint in.  The program's own figure is kept as
    report_bytes_per_line.  Its times are the clock's, unrounded, where the
    probe saw the driver's readings (full_times true); else the report's."""
    if os.path.exists(probefile):
        os.remove(probefile)
    try:
        report = runreport(store["path"], path, probeenvironment(probe, probefile), setup)
    except ReportError as error:
        missing = " (a library it needs is missing: tools/deps installs the baselines' libraries)" \
            if "error while loading shared libraries" in str(error) else ""
        raise RunError(str(error) + missing) from None
    # An earlier run's program goes by "KEY (before)" and reports KEY.
    label = store.get("adt", store["key"])
    if store["checkadt"] and report["adt"] != label:
        raise RunError(f"{store['path']} reports the store {report['adt']}, not {label}")
    breakgrowth, heapgrowth, clock = readprobe(probefile, store["path"])
    report["report_bytes_per_line"] = report["bytes_per_line"]
    report["bytes_per_line"] += (heapgrowth - breakgrowth) / report["distinct"]
    full = fulltimes(report, clock)
    report["full_times"] = full is not None
    report.update(full or {})
    return report


def runqueue(plan, lap):
    """(file, store) in the order of round lap's runs: on every file of plan,
    a list of (file, its stores), every one of its stores, the order rotated
    each round so that none always goes first."""
    return [(path, stores[(turn + lap) % len(stores)]) for path, stores in plan for turn in range(len(stores))]


class Runner:
    """Runs programs on files under the heap probe, pinned as setup says,
    handing each report to done(round, path, store, report), and the time
    around the run to watch, which counts what else the machine did; keeps
    the seconds of each file and store's latest run, for estimates."""

    def __init__(self, bindir, scratch, setup, done, watch=None):
        self.probe = os.path.join(bindir, PROBE)
        self.probefile = os.path.join(scratch, "heapprobe.txt")
        self.setup, self.done, self.watch = setup, done, watch
        self.took = {}

    def run(self, lap, path, store):
        begun = time.monotonic()
        mark = self.watch.mark() if self.watch else None
        report = runonce(store, path, self.probe, self.probefile, self.setup)
        if self.watch:
            self.watch.add(lap, mark)
        self.done(lap, path, store, report)
        self.took[(path, store["key"])] = time.monotonic() - begun

    def estimate(self, queue):
        """Seconds that the runs of queue should take, or None before each
        has run once."""
        seconds = [self.took.get((path, store["key"])) for path, store in queue]
        return None if None in seconds else sum(seconds)


def runshape(bindir, files, progress):
    """Every key and value that linebench-shape prints, per file path, or None
    when the build has no linebench-shape.  It times nothing, so it runs
    once per file."""
    program = os.path.join(bindir, SHAPE)
    if not os.access(program, os.X_OK):
        return None
    figures = {}
    for number, path in enumerate(files, 1):
        progress(f"compare: {SHAPE} {number}/{len(files)} {os.path.basename(path)}", transient=True)
        done = subprocess.run([program, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors="replace")
        if done.returncode != 0:
            said = (done.stderr or done.stdout).strip().splitlines()[:1] or ["nothing"]
            raise RunError(f"{SHAPE} gave status {done.returncode} on {path}: {said[0]}")
        figures[path] = dict(line.split(None, 1) for line in done.stdout.splitlines() if len(line.split()) == 2)
    return figures


def readfirst(path, prefix):
    try:
        with open(path) as source:
            for line in source:
                if line.startswith(prefix):
                    return line[len(prefix):].strip()
    except OSError:
        pass
    return None


def machineinfo():
    """The machine: CPU model, cores, kernel and the frequency governor where
    the kernel shows one."""
    model = readfirst("/proc/cpuinfo", "model name")
    governor = readfirst("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "")
    return {"cpu": model.lstrip(": ") if model else platform.processor() or platform.machine(),
            "cores": os.cpu_count(), "kernel": platform.release(), "governor": governor or None}


def cachevalues(bindir):
    values = {}
    try:
        with open(os.path.join(bindir, "CMakeCache.txt"), errors="replace") as cache:
            for line in cache:
                name, _, value = line.rstrip("\n").partition("=")
                # X-NOTFOUND: a package the build looked for and left out
                if ":" in name and not line.startswith(("//", "#")) and not value.endswith("NOTFOUND"):
                    values[name.split(":", 1)[0]] = value
    except OSError:
        pass
    return values


def firstline(command):
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              errors="replace", timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    lines = done.stdout.strip().splitlines()
    return lines[0] if done.returncode == 0 and lines else None


def buildinfo(bindir):
    """The build: compiler and version, build type and flags, the Abseil and
    Boost versions it found, and the commit; None where unknown."""
    cache = cachevalues(bindir)
    compiler = cache.get("CMAKE_CXX_COMPILER")
    buildtype = cache.get("CMAKE_BUILD_TYPE")
    flags = " ".join(filter(None, [cache.get("CMAKE_CXX_FLAGS"),
                                   cache.get(f"CMAKE_CXX_FLAGS_{buildtype.upper()}") if buildtype else None]))
    abseil = None
    if cache.get("absl_DIR"):
        version = readfirst(os.path.join(cache["absl_DIR"], "abslConfigVersion.cmake"), 'set(PACKAGE_VERSION "')
        abseil = version.rstrip('")') if version else None
    boost = None
    if cache.get("Boost_DIR"):
        boost = os.path.basename(cache["Boost_DIR"]).removeprefix("Boost-") or None
    return {"folder": bindir, "compiler": compiler, "compiler_version": firstline([compiler, "--version"])
            if compiler else None, "build_type": buildtype, "flags": flags or None, "abseil": abseil,
            "boost": boost, "commit": firstline(["git", "-C", ROOT, "rev-parse", "HEAD"]) if ROOT else None}
