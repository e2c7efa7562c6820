"""The generated ladder: its shapes and their rungs, the corpus that
linebench-corpus writes for each, and under --large the rungs past them.
"""

import dataclasses
import os

from .home import CORPUS


@dataclasses.dataclass(frozen=True)
class Shape:
    """A shape of the ladder: its name, what it is, and the linebench-corpus
    options that make it beside its lines and distinct lines."""

    name: str
    description: str
    options: list


@dataclasses.dataclass(frozen=True)
class Corpus:
    """A generated corpus: its path, shape, lines, distinct lines and seed,
    and the command line that writes it."""

    path: str
    shape: Shape
    lines: int
    distinct: int
    seed: int

    @property
    def command(self):
        return ([CORPUS, "--lines", str(self.lines), "--distinct", str(self.distinct)] + self.shape.options
                + ["--seed", str(self.seed)])


SHAPES = [
    Shape("unique", "every line distinct, random order", []),
    Shape("zipf", "repeats by a Zipf law (s = 1), random order: like the words of a text", ["--repeats", "zipf"]),
    Shape("uniform", "repeats uniform, random order", ["--repeats", "uniform"]),
    Shape("ascending", "every line distinct, ascending order", ["--order", "ascending"]),
]
SHAPENAMES = [shape.name for shape in SHAPES]
# The shape of the user's files, which make no ladder.
YOURFILES = "your files"

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
                for shape in SHAPENAMES}


def tidylines(lines):
    """10000 -> 1e4, 30000 -> 3e4: short names for corpus files."""
    exponent = len(str(lines)) - 1
    mantissa = lines / 10**exponent
    return f"{mantissa:g}e{exponent}" if int(mantissa * 10) == mantissa * 10 else str(lines)


def corpusplan(folder, quick, seed, shapes=None):
    """Every generated corpus of the shapes named (all by default)."""
    rungs = QUICK_LADDER if quick else LADDER
    return [corpus(folder, shape.name, lines, distinct, seed) for shape in SHAPES
            if shapes is None or shape.name in shapes for lines, distinct in rungs[shape.name]]


def corpus(folder, shape, lines, distinct, seed):
    """The generated corpus of a shape, named after its shape and its
    distinct lines."""
    return Corpus(os.path.join(folder, f"{shape}-{tidylines(distinct)}.txt"), SHAPES[SHAPENAMES.index(shape)], lines,
                  distinct, seed)


# --large: the ladder's rungs past the default ones grow at most tenfold, and
# the last is sized to pass the memory target by a quarter, as the stores'
# bytes per line drift a little with their size.
LARGESTEP = 10
LARGEMARGIN = 1.25
# The most lines linebench-corpus writes (its keys of the lines are 32 bits);
# a rung never asks for more.
MOSTLINES = 2**31 - 1


def nextrung(lines, memory, target):
    """The lines of the next rung after one of lines whose largest store held
    memory bytes, towards target bytes: memory grows with the lines.  None
    when the target would need more lines than linebench-corpus writes."""
    growth = min(LARGESTEP, target * LARGEMARGIN / max(memory, 1))
    wanted = lines * max(growth, 1.5)
    exponent = 10 ** (len(str(int(wanted))) - 1)
    nice = next(m * exponent for m in (1, 1.5, 2, 3, 5, 7, 10) if m * exponent >= wanted)
    return int(nice) if nice <= MOSTLINES else None
