"""The files that a run of linebench-compare measures: the user's, or the
generated ladder, each with the facts that the results carry about it, and
under --large the ladder grown a rung at a time past four times the cache.
"""

import os
import shutil
import statistics
import subprocess
import time

from .digests import digest
from .errors import RunError
from .home import CORPUS
from .ladder import SHAPES, YOURFILES, corpus, corpusplan, nextrung
from .machinefacts import cachename
from .markdown import mdescape
from .progress import progress, ticker
from .text import shown


def describefiles(run, bindir):
    """(path, facts) of every file, facts being what results carry about it."""
    args = run.args
    if args.files:
        return withfacts(run, [(os.path.abspath(f), YOURFILES, None) for f in args.files])
    return generated(run, bindir, corpusplan(run.corpora.path, args.quick, args.seed, args.shapes))


def generated(run, bindir, plan):
    """Writes the corpora of plan, each the run's own from before it is
    begun; returns their (path, facts)."""
    descriptions = {name: text for name, text, _ in SHAPES}
    for path, _, _ in plan:
        run.corpora.file(os.path.basename(path))
    generatecorpora(bindir, plan)
    return withfacts(run, [(path, shape, f"{descriptions[shape]}; `{command}`") for path, shape, command in plan])


def generatecorpora(bindir, corpora):
    """Writes each corpus with linebench-corpus; on a terminal, with the
    seconds each has taken and, from the lines a second of those before it,
    about how long the rest will take."""
    lines = [int(command.split()[command.split().index("--lines") + 1]) for _, _, command in corpora]
    made, spent = 0, 0.0
    for number, (path, _, command) in enumerate(corpora, 1):
        doing = f"compare: corpus {number}/{len(corpora)} {os.path.basename(path)}"
        progress(doing, transient=True)
        argv = [os.path.join(bindir, CORPUS)] + command.split()[1:] + ["-o", path]
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


def withfacts(run, planned):
    files = []
    for path, shape, source in planned:
        run.stamps[path] = stamp(path)
        size, sha = digest(path)
        files.append((path, {"file": shown(os.path.basename(path)), "path": path, "shape": shape, "size": size,
                             "sha256": sha, "source": source or mdescape(shown(path))}))
    return files


def largestmemory(reports, path):
    """(lines, distinct lines, bytes that the hungriest store held) on the
    file at path: its median bytes per distinct line times the distinct lines."""
    stored = [r for (p, _), r in reports.items() if p == path]
    first = stored[0][0]
    return first["lines"], first["distinct"], max(
        statistics.median(r["bytes_per_line"] for r in store) * store[0]["distinct"] for store in stored)


def growladders(run, bindir, files, measurefiles):
    """--large: each shape's ladder grows by a rung at a time, each measured
    before the next is sized, until the largest store's memory on the last
    rung passes four times the last-level cache."""
    cache, level = run.args.cache
    name = cachename(level)
    target = 4 * cache
    run.record["large"] = {"cache_level": level, "cache_bytes": cache, "target_bytes": target}
    corpora = run.corpora.path
    for shape in dict.fromkeys(facts["shape"] for _, facts in files):
        while True:
            path, facts = max(((p, f) for p, f in files if f["shape"] == shape),
                              key=lambda pf: largestmemory(run.reports, pf[0])[1])
            lines, distinct, memory = largestmemory(run.reports, path)
            if memory >= target:
                progress(f"compare: --large: {shape} done: {memory / 2**20:.0f} MiB on {lines} lines, past "
                         f"4 x {name} of {cache / 2**20:g} MiB")
                break
            more = nextrung(lines, memory, target)
            if more is None:
                progress(f"compare: --large: {shape} stops at {lines} lines: the next rung would need more lines "
                         "than the programs count")
                break
            size = facts["size"] * more / lines
            free = shutil.disk_usage(corpora).free
            if free < 1.5 * size:
                raise RunError(f"--large: the next {shape} rung, {more} lines, needs about {size / 1e9:.1f} GB "
                               f"and {corpora} has {free / 1e9:.1f} GB free")
            # the next rung keeps the share of distinct lines
            rung = generated(run, bindir, [corpus(corpora, shape, more, distinct * more // lines, run.args.seed)])
            files += rung
            run.record["files"] += [dict(facts) for _, facts in rung]
            measurefiles([path for path, _ in rung])


def stamp(path):
    status = os.stat(path)
    return status.st_size, status.st_mtime_ns, status.st_ino, status.st_dev
