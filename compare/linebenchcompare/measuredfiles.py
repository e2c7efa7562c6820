"""The files that a run of linebench-compare measures: the user's, or the
generated ladder, each with the facts that the results carry about it, and
under --large the ladder grown a rung at a time past four times the cache.
"""

import dataclasses
import os
import shutil
import statistics
import subprocess
import time

from .digests import digest
from .errors import RunError
from .home import CORPUS
from .ladder import MOSTLINES, YOURFILES, corpus, corpusplan, nextrung
from .machinefacts import cachename
from .markdown import mdescape
from .progress import progress, ticker
from .records import Figure, LargeTarget, MeasuredFile, Stamp
from .text import shown


def describefiles(settings, corpora, bindir):
    """Every file that the run measures: the user's, or the generated ladder,
    written into corpora, the run's own folder of them."""
    if settings.files:
        return [measured(os.path.abspath(path), YOURFILES, None) for path in settings.files]
    return generated(corpora, bindir, corpusplan(corpora.path, settings.quick, settings.seed, settings.shapes))


def generated(corpora, bindir, plan):
    """Writes the corpora of plan, each the run's own from before it is
    begun; returns them as measured files."""
    for planned in plan:
        corpora.file(os.path.basename(planned.path))
    generatecorpora(bindir, plan)
    return [measured(planned.path, planned.shape.name, f"{planned.shape.description}; `{' '.join(planned.command)}`")
            for planned in plan]


def generatecorpora(bindir, corpora):
    """Writes each corpus with linebench-corpus; on a terminal, with the
    seconds each has taken and, from the lines a second of those before it,
    about how long the rest will take."""
    lines = [planned.lines for planned in corpora]
    made, spent = 0, 0.0
    for number, planned in enumerate(corpora, 1):
        path = planned.path
        doing = f"compare: corpus {number}/{len(corpora)} {os.path.basename(path)}"
        progress(doing, transient=True)
        argv = [os.path.join(bindir, CORPUS)] + planned.command[1:] + ["-o", path]
        started = time.monotonic()

        def tick():
            seconds = time.monotonic() - started
            left = f", about {max(sum(lines[number - 1:]) * spent / made - seconds, 0):.0f} s left" if made else ""
            ticker(f"{doing}, {seconds:.0f} s{left}")
        with subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                              errors="replace") as process:
            try:
                said = waitticking(process, tick)
            except BaseException:
                process.kill()
                raise
        if process.returncode != 0:
            said = said.strip().splitlines()[:1] or ["nothing"]
            raise RunError(f"{CORPUS} failed on {os.path.basename(path)}: {said[0]}")
        made, spent = made + lines[number - 1], spent + time.monotonic() - started


def waitticking(process, tick, every=0.5):
    """The standard error of process once it ends, calling tick every so
    many seconds until then."""
    while True:
        try:
            return process.communicate(timeout=every)[1]
        except subprocess.TimeoutExpired:
            tick()


def measured(path, shape, source):
    """A file to measure, with its digest and the time it was taken; source:
    where it came from, by default its path."""
    taken = stamp(path)
    size, sha = digest(path)
    return MeasuredFile(shown(os.path.basename(path)), path, shape, size, sha, source or mdescape(shown(path)), taken)


@dataclasses.dataclass(frozen=True)
class Held:
    """What a rung of the ladder held: its lines and distinct lines, and the
    bytes of its hungriest store."""

    lines: int
    distinct: int
    memory: float


def largestmemory(reports, path):
    """What the file at path held: the hungriest store's median bytes per
    distinct line times the distinct lines."""
    stored = [runs for (where, _), runs in reports.items() if where == path]
    first = stored[0][0]
    return Held(first.lines, first.distinct, max(
        statistics.median(r.figures[Figure.MEMORY] for r in runs) * runs[0].distinct for runs in stored))


def growladders(run, bindir, measurefiles):
    """--large: each shape's ladder grows by a rung at a time, each measured
    before the next is sized, until the largest store's memory on the last
    rung passes four times the last-level cache."""
    cache = run.settings.cache
    name = cachename(cache.level)
    target = 4 * cache.size
    run.large = LargeTarget(cache.level, cache.size, target)
    corpora = run.corpora.path
    for shape in dict.fromkeys(file.shape for file in run.files):
        while True:
            file = max((file for file in run.files if file.shape == shape),
                       key=lambda file: largestmemory(run.reports, file.path).distinct)
            held = largestmemory(run.reports, file.path)
            lines, distinct, memory = held.lines, held.distinct, held.memory
            if memory >= target:
                progress(f"compare: --large: {shape} done: {memory / 2**20:.0f} MiB on {lines} lines, past "
                         f"4 x {name} of {cache.size / 2**20:g} MiB")
                break
            more = nextrung(lines, memory, target)
            if more is None:
                progress(f"compare: --large: {shape} stops at {lines} lines: the next rung would need more lines "
                         f"than {CORPUS} writes, {MOSTLINES:,}")
                break
            size = file.size * more / lines
            free = shutil.disk_usage(corpora).free
            if free < 1.5 * size:
                raise RunError(f"--large: the next {shape} rung, {more} lines, needs about {size / 1e9:.1f} GB "
                               f"and {corpora} has {free / 1e9:.1f} GB free")
            # the next rung keeps the share of distinct lines
            rung = generated(run.corpora, bindir, [corpus(corpora, shape, more, distinct * more // lines,
                                                          run.settings.seed)])
            run.files += rung
            measurefiles(rung)


def stamp(path):
    """What tells a file changed: its size, modification time and identity."""
    status = os.stat(path)
    return Stamp(status.st_size, status.st_mtime_ns, status.st_ino, status.st_dev)
