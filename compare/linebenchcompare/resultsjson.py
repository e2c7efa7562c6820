"""results.json: the record of a run, every run it made and what it
concluded, written whole or not at all.
"""

import json
import os


def jsonready(value):
    """Infinities and NaN have no JSON; they become null."""
    if isinstance(value, float) and value != value or value in (float("inf"), float("-inf")):
        return None
    if isinstance(value, dict):
        return {str(k): jsonready(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [jsonready(v) for v in value]
    return value


def writejson(path, record):
    """Writes the record whole or not at all: a run stopped while writing
    leaves the previous results.json.  A name's bytes that are not UTF-8 are
    written as \\udcNN escapes, valid JSON that reads back as the same name."""
    partial = path + ".partial"
    try:
        with open(partial, "w", errors="backslashreplace") as out:
            json.dump(jsonready(record), out, indent=1, ensure_ascii=False)
            out.write("\n")
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
