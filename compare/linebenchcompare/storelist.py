"""The build's list of the store programs it made, and the stores that a run
takes when --programs does not name them.
"""

import dataclasses
import os

from .errors import RunError

# The build's list of the store programs it made (cmake/linebenchstores.cmake
# writes it): a header, then a program, its path, its ADT label (empty where
# the build could not read it) and its family on each line, tab-separated.  A
# path may be relative to the list, as in the installed one.
STORELIST = "linebench-stores.tsv"
STORELISTHEADER = ["program", "path", "label", "family"]
FAMILIES = ["tree", "chained hash", "open addressing", "trie", "other"]


# The stores that a default run leaves out, to stay under five minutes with
# its many rounds; --programs all runs them too.  BOOSTFLAT is ABSLFLAT's
# design in Boost, and its figures track ABSLFLAT's (docs/compare-method.md).
NOTBYDEFAULT = ["linebench-boostflat"]


@dataclasses.dataclass(frozen=True)
class ListedStore:
    """A store program of the build's list: its name, path, ADT label (empty
    where the build could not read it) and family."""

    program: str
    path: str
    label: str
    family: str


def readstores(bindir):
    """Every store program of the build in bindir, in the build's order."""
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
        program, path, label, family = row
        stores.append(ListedStore(program, os.path.join(bindir, path), label, family))
    return stores


def knownstores(bindir):
    """The build's store programs by name, from its list of stores."""
    return {store.program: store for store in readstores(bindir)}


def defaultprograms(known):
    return [store.program for store in known if store.program not in NOTBYDEFAULT]
