"""linebench-compare's records: the settings, what a run derives from them,
the stores and files it measures, each run's report, the summaries and
verdicts it concludes, and the report that every output is written from.
They are the words every module shares, a record made by one read by many
(a summary by the verdicts, the writers and the plot), so they live together
and import nothing of the package.
"""

import dataclasses
import enum
from typing import Optional


class Figure(enum.Enum):
    """A figure of a run: its word, and its columns in results.csv and
    results.json (its median, its spread as a percentage of the median, the
    spread itself, and its runs)."""

    GETLINE = ("getline", "getline_us", "getline_us_iqr_pct", "getline_us_iqr", "getline_us_runs")
    STORE = ("store", "store_us", "store_us_iqr_pct", "store_us_iqr", "store_us_runs")
    LOOKUP = ("lookup", "lookup_us", "lookup_us_iqr_pct", "lookup_us_iqr", "lookup_us_runs")
    MEMORY = ("memory", "bytes_per_line", "bytes_per_line_iqr_pct", "bytes_per_line_iqr", "bytes_per_line_runs")

    def __init__(self, word, column, spreadcolumn, iqrcolumn, runscolumn):
        self.word = word
        self.column = column
        self.spreadcolumn = spreadcolumn
        self.iqrcolumn = iqrcolumn
        self.runscolumn = runscolumn


TIMES = (Figure.GETLINE, Figure.STORE, Figure.LOOKUP)  # microseconds per line
TESTED = (Figure.STORE, Figure.LOOKUP)  # the figures that carry verdicts


class Verdict(enum.Enum):
    """A test's verdict on one program's figure against another's."""

    FASTER = "faster"
    SLOWER = "slower"
    LEVEL = "level"
    OPEN = "open"


class Untested(enum.Enum):
    """Why a figure carries no verdict."""

    TOOFEW = "too few runs"
    TOOSHORT = "too short"
    UNCHANGED = "unchanged (same program)"  # the program that ran now is the one that ran then


class CountScope(enum.Enum):
    """The programs a run counts under valgrind, on every file they ran on."""

    ALL = "every program"
    CHANGED = "the programs set against the earlier run"  # a changed store and its earlier program
    NONE = "none"


@dataclasses.dataclass(frozen=True)
class Cache:
    """The last-level cache: its bytes and level (None where given by hand),
    and where its size came from, sysfs or --llc."""

    size: int
    level: Optional[int]
    source: str


@dataclasses.dataclass(frozen=True)
class Settings:
    """Every option of the command line, parsed and checked once."""

    files: list  # the FILEs given; none: the generated ladder
    out: str
    auto: bool  # rounds until every figure is decided or the time limit is up
    runs: Optional[int]  # the rounds of --runs N; None with auto
    timelimit: Optional[float]  # seconds, with auto
    alpha: float
    threshold: float  # a fraction: intervals within it of 1 are level
    cpu: Optional[int]  # the CPU of the timed runs; None: not pinned
    aslr: bool  # address-space randomisation of the timed runs
    quick: bool
    large: bool
    shapes: Optional[list]  # the shapes of the ladder named; None: all
    seed: int
    keepcorpora: bool
    cache: Optional[Cache]
    programs: Optional[list]  # the items of --programs; None: the build's default stores
    counts: CountScope = CountScope.NONE  # --counts, --no-counts, or by default
    failon: Optional[str] = None  # --fail-on: what fails the run against the earlier one
    countthreshold: float = 0.01  # a fraction: instructions a line that grew by more fail --fail-on


@dataclasses.dataclass(frozen=True)
class Library:
    """A shared object that a program loads: its name, path (None where not
    found) and SHA-256."""

    name: str
    path: Optional[str]
    sha256: Optional[str]


@dataclasses.dataclass(frozen=True)
class Store:
    """A store program that a run runs: the key its rows go by, its path, its
    family, whether its ADT label must be its key, and the build's program
    name (None for NAME=PATH).  An earlier run's kept program runs as
    "KEY (before)", earlierof being KEY.  Once kept: its copy in the output
    folder (relative to it), the SHA-256 and the libraries it loads."""

    key: str
    path: str
    family: str
    checkadt: bool
    program: Optional[str] = None
    earlierof: Optional[str] = None
    saved: Optional[str] = None
    sha256: Optional[str] = None
    libraries: Optional[list] = None

    @property
    def label(self):
        """The ADT that its report must give, where checkadt."""
        return self.earlierof or self.key


@dataclasses.dataclass(frozen=True)
class EarlierEntry:
    """An earlier run's figures of a file and store: the file's name, its
    lines, whether the times are the clock's own, each figure's median and
    spread with the runs of the tested ones, and where its results file
    keeps them, what its row shows (every figure, the bytes a line, the ADT,
    the runs and the program's own memory figure).  Its runs are of no round
    of this run; rounds, where its results keep them, are the earlier run's
    round of each."""

    file: str
    lines: int
    distinct: int
    fulltimes: bool
    figures: dict  # Figure -> FigureSummary; runs only of the tested figures
    rounds: Optional[list] = None
    avglinelen: Optional[float] = None  # None: the results file shows no more than the tested figures
    adt: Optional[str] = None
    runs: Optional[int] = None
    reportmemory: Optional[float] = None

    def median(self, figure):
        return self.figures[figure].median


@dataclasses.dataclass(frozen=True)
class EarlierRun:
    """The earlier run of --against: its results file, its folder, the
    results.json that records its kept programs, and its entries by (SHA-256
    of the file, store)."""

    path: str
    folder: str
    recordpath: str
    entries: dict


@dataclasses.dataclass(frozen=True)
class Inputs:
    """What a run derives from its settings before it measures: the build
    folder (None until a checkout's build is configured), the stores it runs
    (known once the build's list is) and the earlier run of --against."""

    bindir: Optional[str]
    stores: list
    earlier: Optional[EarlierRun]


@dataclasses.dataclass(frozen=True)
class Stamp:
    """What tells that a file changed: its size, modification time and
    identity."""

    size: int
    mtime: int
    inode: int
    device: int


@dataclasses.dataclass(frozen=True)
class MeasuredFile:
    """A file that a run measures: its name as shown, path, shape, size and
    SHA-256, where it came from (as results.md lists it), its size and
    modification time when its digest was taken, and once linebench-shape
    has run on it, every key and value that it printed."""

    name: str
    path: str
    shape: str
    size: int
    sha256: str
    source: str
    stamp: Stamp
    shapefigures: Optional[dict] = None


@dataclasses.dataclass(frozen=True)
class ProgramReport:
    """One run's report: its row's counts and figures per line, the memory as
    the heap probe saw it, and the times the clock's own, unrounded, where
    the probe saw the driver read it (fulltimes)."""

    lines: int
    avglinelen: float
    distinct: int
    adt: str
    row: str
    figures: dict  # Figure -> float
    reportmemory: float  # the program's own bytes per line, the break's growth
    fulltimes: bool


@dataclasses.dataclass(frozen=True)
class TimedRun:
    """A run as results.json keeps it: its round (from 1), file and store,
    and the wall seconds it took, from its start to its report read."""

    roundnumber: int
    file: str
    store: str
    report: ProgramReport
    seconds: Optional[float] = None


@dataclasses.dataclass(frozen=True)
class FigureRuns:
    """A figure's runs and their median."""

    runs: list
    median: float


@dataclasses.dataclass(frozen=True)
class FigureSummary(FigureRuns):
    """A figure's runs, median and spread: the interquartile range, and as a
    percentage of the median."""

    spread: float
    spreadpct: float


@dataclasses.dataclass(frozen=True)
class Summary:
    """The runs of one store on one file, summarised: the counts, each
    figure's runs, median and spread, the round of each run, and the
    linebench-shape figures of its rows, where the run has them.  A carried
    summary is the earlier run's of --against: the same program on the same
    bytes, which did not run again; its rounds are that run's."""

    file: MeasuredFile
    store: str
    program: str
    adt: str
    runs: int
    lines: int
    distinct: int
    avglinelen: float
    reportmemory: float
    fulltimes: bool
    rounds: Optional[list]
    figures: dict  # Figure -> FigureSummary
    shapevalues: Optional[tuple] = None
    carried: bool = False

    def median(self, figure):
        return self.figures[figure].median

    def passus(self, figure):
        """The median time of a whole pass, in microseconds."""
        return self.median(figure) * self.lines


@dataclasses.dataclass(frozen=True)
class Test:
    """A test of one program's runs against another's: the ratio that it
    estimates, its interval and p, the verdict or why there is none, the
    smallest difference the runs can tell, whether the runs paired, and the
    alpha and runs a side it was made at; chain, where it is the product of
    two tests through a third program."""

    ratio: float
    low: Optional[float] = None
    high: Optional[float] = None
    p: Optional[float] = None
    verdict: Optional[Verdict] = None
    why: Optional[Untested] = None
    tells: Optional[float] = None
    paired: Optional[bool] = None
    alpha: Optional[float] = None
    runs: Optional[int] = None
    chain: Optional["Chain"] = None


@dataclasses.dataclass(frozen=True)
class Chain:
    """A test chained through the earlier program of a store that ran beside
    it: its key (through), the half on this run's rounds and the half on the
    earlier run's runs, each a test of its own."""

    through: str
    now: Test
    then: Test


@dataclasses.dataclass(frozen=True)
class Fastest:
    """The fastest store of a file on a figure and each other store's test
    against it: marked, the stores to mark, clear when the fastest beats
    every other; why, the reason nothing is tested."""

    fastest: str
    marked: list
    clear: bool
    versus: dict  # store key -> Test
    why: Optional[Untested]


@dataclasses.dataclass(frozen=True)
class AgainstFigure:
    """A figure set against the earlier run: the test, the median it sets
    this run's against (before) and its runs, this run's median, and the
    median that the earlier run recorded."""

    test: Test
    before: float
    now: float
    beforeruns: list
    recorded: float


@dataclasses.dataclass(frozen=True)
class AgainstRow:
    """A file and store of both runs: whether the earlier program ran in this
    run's rounds, whether it is this run's own, whether this run carried its
    figures rather than run it, and each tested figure."""

    file: str
    store: str
    interleaved: bool
    unchanged: bool
    figures: dict  # Figure -> AgainstFigure
    carried: bool = False


@dataclasses.dataclass(frozen=True)
class Against:
    """The comparison with the earlier run: where it is, its kept programs
    that run beside this run's, why the others cannot (per store, or recordedwhy
    for all), the stores unchanged since; once concluded, the rows, the files
    of its names whose contents differ, its runs a side, and the drift that
    verdicts on its recorded runs cannot tell from a change."""

    path: str
    folder: str
    programs: list
    recorded: dict  # store key -> why its kept program cannot run here
    recordedwhy: Optional[str]
    unchanged: list
    rows: Optional[list] = None
    differing: list = dataclasses.field(default_factory=list)
    runs: Optional[int] = None
    drift: Optional[float] = None


@dataclasses.dataclass(frozen=True)
class BusyShares:
    """The busy shares that others took while the runs were timed: of the
    other CPUs, of the runs' own CPU, and the steal; None where not known."""

    otherpct: Optional[float]
    pinnedpct: Optional[float]
    stealpct: Optional[float]


@dataclasses.dataclass(frozen=True)
class BusyFigures:
    """How busy others kept the machine over all the timed runs and each
    round: the shares, the CPUs counted as others', the runs' CPU where it
    was counted apart, the seconds timed, the thresholds that warn, whether
    they were passed, and whether linebench-compare waited on the runs' CPU,
    the only one it could use."""

    shares: BusyShares
    cpus: list
    pinned: Optional[int]
    seconds: float
    busythreshold: float
    stealthreshold: float
    busy: bool
    rounds: list  # (round, BusyShares)
    shared: bool


@dataclasses.dataclass(frozen=True)
class Machine:
    cpu: str
    cores: int
    kernel: str
    governor: Optional[str]


@dataclasses.dataclass(frozen=True)
class BuildFacts:
    folder: str
    compiler: Optional[str]
    compilerversion: Optional[str]
    buildtype: Optional[str]
    flags: Optional[str]
    abseil: Optional[str]
    boost: Optional[str]
    commit: Optional[str]


@dataclasses.dataclass(frozen=True)
class LargeTarget:
    """--large: the cache that the ladder grows past, and the memory it aims at."""

    cachelevel: Optional[int]
    cachebytes: int
    targetbytes: int


@dataclasses.dataclass(frozen=True)
class Report:
    """What a run has done and concluded, from which every output is
    written: the terminal's answer, results.md, results.csv, results.json and
    the plot.  written: when, as results.md says; shapenote: why there are
    no linebench-shape figures (None: there are); incomplete: why the run did
    not finish."""

    settings: Settings
    command: list
    started: str
    machine: Machine
    build: Optional[BuildFacts]
    files: list
    stores: list
    runs: list
    roundsfinished: int
    summaries: list
    winners: dict  # (file, Figure) -> Fastest
    against: Optional[Against]
    busy: Optional[BusyFigures]
    large: Optional[LargeTarget]
    complete: bool
    stoppedby: Optional[str]
    failure: Optional[str]
    written: str
    shapenote: Optional[str]
    incomplete: Optional[str]
    counts: Optional[object] = None  # countfigures.Counting: the counts per pass, where any were asked for
