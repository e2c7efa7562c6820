"""linebench-shape's figures of each file, which explain the stores' speed:
it times nothing, so it runs once per file.
"""

import os
import subprocess

from .errors import RunError
from .home import SHAPE


# The shape figure that explains each store's speed: (CSV column, heading, key
# of linebench-shape, the store whose rows carry it).
SHAPEFIGURES = [
    ("compares_per_lookup", "compares/lookup", "tree.compares_per_lookup", "REDBLACK"),
    ("nodes_per_lookup", "nodes/lookup", "hash.nodes_per_lookup", "HASH"),
]


def addshape(results, shapes):
    for result in results:
        for column, _, key, store in SHAPEFIGURES:
            result[column] = shapes[result["path"]].get(key, "") if result["store"] == store else ""


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
