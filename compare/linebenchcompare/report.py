"""The report of a linebench program, read once for every Python tool, and the
limits of the driver and the hash store that the tools need.

A report is three lines: a comment line naming the program and the file, the
column header and one row of eight fields.  The comment holds the path as it
was given, so a path with a line feed in it spreads the comment over more
lines.
"""

import dataclasses
import re
import subprocess

# The longest line the scanner keeps (MAXLINELEN in driver/scanmodel.hpp); a
# further byte starts the next line.
MAXLINELEN = 9999

# The hash store's chain heads (HASHSIZE in hash/hash.hpp); the table never grows.
HASHSIZE = 1048576

HEADER = "#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT"
# The driver prints its figures as plain decimals; anything else in a figure's
# place (nan, inf, a sign, an exponent, a typo) is not a report.
FIGURE = r"(\d+(?:\.\d+)?)"
ROW = re.compile(rf"^\s*(\d+)\s+{FIGURE} byts\s+{FIGURE} uS\s+(\d+)\s+{FIGURE} byts\s+{FIGURE} uS\s+{FIGURE} uS (\S+)$")


@dataclasses.dataclass(frozen=True)
class ReportRow:
    """A report's row: lines, average line length, getline, stored lines,
    memory per line, store and lookup time per line, ADT, and the row as
    printed."""

    lines: int
    avglinelen: float
    getline: float
    distinct: int
    memory: float
    store: float
    lookup: float
    adt: str
    row: str


def parsereport(text):
    """The row of a complete report, or None if text is not one."""
    lines = text.removesuffix("\n").split("\n")
    if len(lines) < 3 or not text.startswith("# ") or lines[-2] != HEADER:
        return None
    match = ROW.match(lines[-1])
    if match is None:
        return None
    fields = match.groups()
    return ReportRow(int(fields[0]), float(fields[1]), float(fields[2]), int(fields[3]), float(fields[4]),
                     float(fields[5]), float(fields[6]), fields[7], lines[-1])


class ReportError(Exception):
    pass


def runreport(program, path, env=None, setup=None):
    """Runs program on path and returns its row; a run that fails or prints
    no report raises ReportError, one line that says which and how."""
    try:
        done = subprocess.run([program, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors="replace", env=env, preexec_fn=setup)
    except OSError as error:
        raise ReportError(f"{program} cannot be run: {error.strerror}") from None
    report = parsereport(done.stdout) if done.returncode == 0 else None
    if report is None:
        said = (done.stdout + done.stderr).strip().splitlines()
        if done.returncode < 0:
            what = f"was killed by signal {-done.returncode}"
        elif done.returncode != 0:
            what = f"failed with status {done.returncode}"
        else:
            what = "printed no report" if said else "printed nothing"
        raise ReportError(f"{program} {what} on {path}" + (f": {said[-1][:200]}" if said else ""))
    return report
