"""linebench-shape's figures of each file, which explain the stores' speed:
it times nothing, so it runs once per file.
"""

import dataclasses
import os
import subprocess

from .errors import RunError
from .home import SHAPE
from .progress import progress


@dataclasses.dataclass(frozen=True)
class ShapeFigure:
    """A figure that explains a store's speed: its column in results.csv, its
    heading in results.md, the key that linebench-shape prints it by, and
    the store whose rows carry it."""

    column: str
    heading: str
    key: str
    store: str


SHAPEFIGURES = [
    ShapeFigure("compares_per_lookup", "compares/lookup", "tree.compares_per_lookup", "REDBLACK"),
    ShapeFigure("nodes_per_lookup", "nodes/lookup", "hash.nodes_per_lookup", "HASH"),
]


def withshapevalues(summaries):
    """The summaries with the figure of SHAPEFIGURES that each one's store
    carries, from its file's linebench-shape figures; "" where none."""
    return [dataclasses.replace(summary, shapevalues=tuple(
        summary.file.shapefigures.get(figure.key, "") if summary.store == figure.store else ""
        for figure in SHAPEFIGURES)) for summary in summaries]


def runshape(bindir, files):
    """The files, each with every key and value that linebench-shape prints
    on it, or None when the build has no linebench-shape."""
    program = os.path.join(bindir, SHAPE)
    if not os.access(program, os.X_OK):
        return None
    shaped = []
    for number, file in enumerate(files, 1):
        progress(f"compare: {SHAPE} {number}/{len(files)} {os.path.basename(file.path)}", transient=True)
        done = subprocess.run([program, file.path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors="replace")
        if done.returncode != 0:
            said = (done.stderr or done.stdout).strip().splitlines()[:1] or ["nothing"]
            raise RunError(f"{SHAPE} gave status {done.returncode} on {file.path}: {said[0]}")
        figures = dict(line.split(None, 1) for line in done.stdout.splitlines() if len(line.split()) == 2)
        shaped.append(dataclasses.replace(file, shapefigures=figures))
    return shaped
