"""Counts per pass that noise cannot touch: a store program run once on a file
under valgrind's callgrind, with the caches simulated, and each pass's
instructions, data reads and writes, L1d misses and last-level misses.

The heap probe, preloaded as in every run, asks callgrind to dump its
counters at each of the driver's six clock readings, right after a pass's
first and right before its second, so the run falls into seven parts:
start-up, count pass, between, store pass, between, lookup pass, exit.  The
programs themselves are the ones the comparison times.

A pass's instructions, data reads and writes repeat exactly from run to run
once what lies outside the program is held fixed: the sizes of the
environment and of the paths set where the stack starts, and with it a
pass's counts (1,000 bytes more of environment moved HASH's store pass by
596 instructions).  So the program, the file and the probe run through links
of fixed names in a folder of the run's own, with an environment of fixed
variables, and without address-space randomisation (which moved nothing
under valgrind, as it lays out the program itself).  A pass's simulated
misses may still move by one or two: the work between the passes prints
the times just taken, whose digits vary, and leaves the cache a little
otherwise.  Counts are kept in the output folder's counts.json by all they
follow from (CountKey), so that an unchanged program on an unchanged file is
counted once.
"""

import dataclasses
import enum
import json
import os
import re
import resource
import shutil
import subprocess
import tempfile

from .buildfacts import firstline
from .digests import digest, filesha
from .errors import RunError
from .keptprograms import libraries
from .report import parsereport
from .runner import childsetup

SYSFS = "/sys/devices/system/cpu/cpu0/cache"
COUNTSFILE = "counts.json"
# A program that valgrind runs in a moment, for its reading of the caches.
BRIEFPROGRAM = "/bin/true"


class Source(enum.Enum):
    """Where a cache's figures came from."""
    SYSFS = "sysfs"
    BYHAND = "--llc"
    VALGRIND = "valgrind's reading of CPUID"


@dataclasses.dataclass(frozen=True)
class Cache:
    """A cache as valgrind simulates it: bytes, ways and line bytes.  ways may
    differ from the machine's (waysread) where valgrind needs it to: its
    sets must be a power of two."""
    size: int
    ways: int
    line: int
    source: Source
    waysread: int

    def option(self):
        return f"{self.size},{self.ways},{self.line}"


@dataclasses.dataclass(frozen=True)
class Geometry:
    """The caches simulated: L1 instruction, L1 data and last level.  The
    instruction cache's misses are not reported, but they pass through the
    last level, so it is fixed too."""
    i1: Cache
    d1: Cache
    ll: Cache

    def options(self):
        return [f"--I1={self.i1.option()}", f"--D1={self.d1.option()}", f"--LL={self.ll.option()}"]


def parsecachesize(text):
    """Bytes of a size as sysfs writes it (48K, 32768K, 32M); None if not one."""
    match = re.fullmatch(r"(\d+)([KMG]?)", text or "")
    return int(match[1]) << {"": 0, "K": 10, "M": 20, "G": 30}[match[2]] if match else None


def sysfscaches(folder):
    """{(level, type): (size, ways, line)} of the caches sysfs lists, where
    each figure is readable and the ways are not 0 (fully associative, or
    unknown)."""
    try:
        entries = sorted(os.listdir(folder))
    except OSError:
        return {}
    found = {}
    for entry in entries:
        figures = {}
        for name in ("level", "type", "size", "ways_of_associativity", "coherency_line_size"):
            try:
                with open(os.path.join(folder, entry, name)) as source:
                    figures[name] = source.read().strip()
            except OSError:
                break
        size = parsecachesize(figures.get("size"))
        if len(figures) < 5 or size is None or not all(figures[name].isdigit() for name in
                                                       ("level", "ways_of_associativity", "coherency_line_size")):
            continue
        if int(figures["ways_of_associativity"]) > 0:
            found[(int(figures["level"]), figures["type"])] = (size, int(figures["ways_of_associativity"]),
                                                               int(figures["coherency_line_size"]))
    return found


def valgrindcaches():
    """{"I1", "D1", "LL": (size, ways, line)} as valgrind reads them from
    CPUID, from the description of a brief run's counts."""
    with tempfile.TemporaryDirectory(prefix="linebench-counts-") as scratch:
        out = os.path.join(scratch, "callgrind.out")
        subprocess.run([valgrind(), "--tool=callgrind", "--cache-sim=yes", f"--callgrind-out-file={out}",
                        "--log-file=/dev/null", BRIEFPROGRAM], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            with open(out) as source:
                text = source.read()
        except OSError:
            raise RunError(f"valgrind ran no {BRIEFPROGRAM}: it cannot read this machine's caches") from None
    return {name: (int(size), int(ways), int(line)) for name, size, line, ways in
            re.findall(r"^desc: (I1|D1|LL) cache: +(\d+) B, (\d+) B, (\d+)-way associative$", text, re.MULTILINE)}


def fitways(size, line, wanted, what):
    """The ways nearest wanted (the fewer on a tie) that cut size into a
    power-of-two number of sets of line bytes each, as valgrind needs;
    refused where none lies within a factor of two of wanted."""
    if line <= 0 or size % line:
        raise RunError(f"{what}: {size} bytes are not a whole number of {line}-byte lines")
    lines = size // line
    candidates, ways = [], lines // (lines & -lines)
    while lines % ways == 0:
        candidates.append(ways)
        ways *= 2
    best = min(candidates, key=lambda ways: (abs(ways - wanted), ways))
    if not wanted / 2 <= best <= wanted * 2:
        raise RunError(f"{what}: valgrind cannot simulate {size} bytes in about {wanted} ways of {line}-byte lines "
                       "(its sets must be a power of two); give a size such as "
                       f"{wanted * line << (lines // wanted).bit_length() - 1}")
    return best


# The ways of a last-level cache given by hand where sysfs does not tell
# them: those of most server and desktop L3 caches today.  valgrind's reading
# is no guide where it read the size wrong.
LLCWAYS = 16


def cachegeometry(llc=None, folder=SYSFS):
    """The caches to simulate: each from sysfs, else as valgrind reads CPUID
    (which can be wrong: on a virtual machine it read a 32 MiB L3 as 512
    MiB, direct-mapped); llc, bytes given by hand, replaces the last level's
    size, in sysfs's ways or else LLCWAYS."""
    listed = sysfscaches(folder)
    levels = [level for level, kind in listed if level >= 2 and kind in ("Unified", "Data")]
    found = {"I1": (listed.get((1, "Instruction")), Source.SYSFS), "D1": (listed.get((1, "Data")), Source.SYSFS),
             "LL": (listed.get((max(levels), "Unified")) or listed.get((max(levels), "Data"))
                    if levels else None, Source.SYSFS)}
    if any(figures is None for figures, _ in found.values()):
        read = valgrindcaches()
        found = {name: (figures, source) if figures else (read.get(name), Source.VALGRIND)
                 for name, (figures, source) in found.items()}
    caches = {}
    for name, (figures, source) in found.items():
        if figures is None:
            raise RunError(f"neither sysfs ({folder}) nor valgrind tells this machine's {name} cache")
        size, ways, line = figures
        if name == "LL" and llc is not None:
            size, ways, source = llc, ways if source == Source.SYSFS else LLCWAYS, Source.BYHAND
        caches[name] = Cache(size, fitways(size, line, ways, f"the {name} cache"), line, source, ways)
    return Geometry(caches["I1"], caches["D1"], caches["LL"])


@dataclasses.dataclass(frozen=True)
class Events:
    """What callgrind counted over a part of a run, or such a count per line:
    instructions, data reads, data writes, and the simulated misses of the L1
    data cache and of the last level (reads and writes of data, each)."""
    ir: float
    dr: float
    dw: float
    d1miss: float
    llmiss: float

    def __add__(self, other):
        return Events(*(a + b for a, b in zip(dataclasses.astuple(self), dataclasses.astuple(other))))

    def __sub__(self, other):
        return Events(*(a - b for a, b in zip(dataclasses.astuple(self), dataclasses.astuple(other))))

    def __truediv__(self, divisor):
        return Events(*(a / divisor for a in dataclasses.astuple(self)))


# Each of Events' figures as the sum of callgrind's events.
EVENTSUMS = [("Ir",), ("Dr",), ("Dw",), ("D1mr", "D1mw"), ("DLmr", "DLmw")]


class Pass(enum.Enum):
    """A timed pass, by the part of the run that holds it."""
    COUNT = 1
    STORE = 3
    LOOKUP = 5


PARTS = 7


@dataclasses.dataclass(frozen=True)
class PassCounts:
    """A program's counts on a file: its report's lines, distinct lines and
    ADT, the seven parts of the run, and the CPU seconds the run took."""
    lines: int
    distinct: int
    adt: str
    parts: tuple
    seconds: float

    def total(self, which):
        return self.parts[which.value]

    def perline(self, which):
        """A pass per line of the file, as the report divides its times."""
        return self.total(which) / self.lines

    def own(self, which):
        """The store's own per line: the store or lookup pass less the count
        pass, the scanning alone."""
        return self.perline(which) - self.perline(Pass.COUNT)


def valgrind():
    """The path of valgrind; a RunError where it is not installed."""
    found = shutil.which("valgrind")
    if found is None:
        raise RunError("counting needs valgrind, which is not installed (tools/deps installs it)")
    return found


def readparts(path, program):
    """The seven parts' Events from callgrind's dumps in one file, each dump
    its part number, its trigger, its events and their totals."""
    parts, triggers, names = [], [], []
    with open(path, errors="replace") as dump:
        for line in dump:
            word, _, rest = line.rstrip("\n").partition(": ")
            if word == "part":
                parts.append(None)
            elif word == "desc" and rest.startswith("Trigger: "):
                triggers.append(rest.removeprefix("Trigger: "))
            elif word == "events":
                names = rest.split()
            elif word == "totals" and parts:
                # callgrind leaves out the trailing zeros
                figures = dict(zip(names, [int(figure) for figure in rest.split()]))
                parts[-1] = Events(*(sum(figures.get(name, 0) for name in sum_) for sum_ in EVENTSUMS))
    expected = ["Client Request"] * (PARTS - 1) + ["Program termination"]
    if len(parts) != PARTS or None in parts or triggers != expected:
        raise RunError(f"{program}'s run under callgrind fell into {len(parts)} parts, not seven (start-up, the "
                       "three passes, the two gaps between and the exit)")
    return tuple(parts)


def clockreadings(path, program):
    """The readings of the clock that the heap probe counted."""
    try:
        with open(path) as probe:
            counts = [line.split()[1] for line in probe if line.startswith("clock ")]
    except OSError:
        counts = []
    if len(counts) != 1 or not counts[0].isdigit():
        raise RunError(f"the heap probe in {program} left no count of its clock readings under valgrind")
    return int(counts[0])


# The environment of a counted run, whatever the caller's: the probe and its
# file, named from the run's folder, and the C locale.  Nothing else, so
# neither valgrind's options in the environment nor a ~/.valgrindrc applies.
FIXEDENVIRONMENT = {"LD_PRELOAD": "./heapprobe.so", "HEAPPROBE_FILE": "heapprobe.txt", "LC_ALL": "C"}


def runcounts(program, path, geometry, probe):
    """The counts of one run of program on path under callgrind, with the
    caches of geometry simulated and the heap probe preloaded."""
    command = [valgrind(), "--tool=callgrind", "--cache-sim=yes", *geometry.options(), "--combine-dumps=yes",
               "--dump-line=no", "--compress-strings=no", "--vgdb=no", "--callgrind-out-file=callgrind.out",
               "--log-file=valgrind.log", "./program", "file"]
    environment = dict(FIXEDENVIRONMENT)
    if "VALGRIND_LIB" in os.environ:  # a valgrind of one's own finds its tools there
        environment["VALGRIND_LIB"] = os.environ["VALGRIND_LIB"]
    with tempfile.TemporaryDirectory(prefix="linebench-counts-") as scratch:
        for target, name in ((program, "program"), (path, "file"), (probe, "heapprobe.so")):
            os.symlink(os.path.abspath(target), os.path.join(scratch, name))
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        done = subprocess.run(command, cwd=scratch, env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, errors="replace", preexec_fn=childsetup(None, True))
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        report = parsereport(done.stdout) if done.returncode == 0 else None
        if report is None:
            said = (done.stdout + done.stderr).strip().splitlines() or valgrindsaid(scratch)
            what = f"failed with status {done.returncode}" if done.returncode else "printed no report"
            raise RunError(f"{program} {what} under valgrind on {path}" + (f": {said[-1][:200]}" if said else ""))
        readings = clockreadings(os.path.join(scratch, "heapprobe.txt"), program)
        if readings != 2 * len(Pass):
            raise RunError(f"{program} read the clock {readings} times, not the driver's six (before and after each "
                           "pass): its passes cannot be told apart")
        parts = readparts(os.path.join(scratch, "callgrind.out"), program)
    seconds = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return PassCounts(report.lines, report.distinct, report.adt, parts, seconds)


def valgrindsaid(scratch):
    try:
        with open(os.path.join(scratch, "valgrind.log"), errors="replace") as log:
            return [line for line in log.read().splitlines() if "valgrind:" in line or "error" in line.lower()]
    except OSError:
        return []


@dataclasses.dataclass(frozen=True)
class CountKey:
    """All that a program's counts on a file follow from: the SHA-256 of the
    program, of the file and of the heap probe, the libraries the program
    loads (name, path, SHA-256), the caches simulated and valgrind's version."""
    program: str
    file: str
    probe: str
    libraries: tuple
    caches: tuple
    valgrind: str

    def text(self):
        return json.dumps(dataclasses.asdict(self), sort_keys=True)


def countkey(program, path, geometry, probe):
    loaded = tuple((entry.name, entry.path, entry.sha256) for entry in libraries(program))
    version = firstline([valgrind(), "--version"]) or "unknown"
    return CountKey(filesha(program), digest(path)[1], filesha(probe), loaded,
                    tuple(geometry.options()), version)


def keptcounts(entry):
    """The PassCounts of one entry of counts.json; ValueError where it is not
    one."""
    parts = entry["parts"]
    if len(parts) != PARTS or not all(isinstance(figure, int) for part in parts for figure in part):
        raise ValueError("not seven parts of counts")
    counts = PassCounts(entry["lines"], entry["distinct"], entry["adt"], tuple(Events(*part) for part in parts),
                        entry["seconds"])
    if not isinstance(counts.lines, int) or counts.lines < 1 or not isinstance(counts.distinct, int):
        raise ValueError("no lines")
    return counts


def loadcounts(folder):
    """{CountKey.text(): PassCounts} kept in folder's counts.json, empty where
    there is none; a file that is not such a store is refused in one line."""
    path = os.path.join(folder, COUNTSFILE)
    try:
        with open(path) as source:
            entries = json.load(source)["counts"]
        return {json.dumps(entry["key"], sort_keys=True): keptcounts(entry) for entry in entries}
    except FileNotFoundError:
        return {}
    except OSError as error:
        raise RunError(f"{path} cannot be read: {error.strerror}") from None
    except (ValueError, KeyError, TypeError):
        raise RunError(f"{path} is damaged, not counts that linebench-compare kept; remove it, and the programs are "
                       "counted afresh") from None


def savecounts(folder, kept):
    path = os.path.join(folder, COUNTSFILE)
    entries = [{"key": json.loads(key), "lines": counts.lines, "distinct": counts.distinct, "adt": counts.adt,
                "parts": [dataclasses.astuple(part) for part in counts.parts], "seconds": counts.seconds}
               for key, counts in kept.items()]
    with open(path + ".new", "w") as out:
        json.dump({"counts": entries}, out, indent=1)
    os.replace(path + ".new", path)


def counted(program, path, geometry, probe, kept):
    """program's counts on path: those kept under its key, else counted now
    and kept."""
    key = countkey(program, path, geometry, probe).text()
    if key not in kept:
        kept[key] = runcounts(program, path, geometry, probe)
    return kept[key]
