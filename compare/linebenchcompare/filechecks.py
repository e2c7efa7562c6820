"""Why a path cannot serve a run of linebench-compare: a FILE to measure, or the
output folder.
"""

import os
import stat
import tempfile

from .owned import missingfolders, unmake


def filetrouble(path):
    """Why path cannot be a FILE to measure, or None."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return "no such file"
    except OSError as error:
        return error.strerror.lower()
    kinds = [(stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a character device"),
             (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket")]
    for test, kind in kinds:
        if test(status.st_mode):
            return f"is {kind}, not a regular file"
    if not os.access(path, os.R_OK):
        return "cannot be read (permission denied)"
    if status.st_size == 0:
        if hascontent(path):
            return ("reports a size of 0 but has content, as the kernel's files under /proc and /sys do: the "
                    "programs map a file by its size; copy it into a file of your own first")
        return "is empty: the programs cannot map an empty file"
    return None


def hascontent(path):
    """Whether a byte can be read from path, which stat calls empty."""
    try:
        handle = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError:
        return False
    try:
        return bool(os.read(handle, 1))
    except OSError:
        return False
    finally:
        os.close(handle)


def outtrouble(out):
    """Why the output folder cannot be written, or None.  It is tried by
    making it where it is missing and a file in it, and the trial undone, so
    that a run refused later leaves no folder behind."""
    if os.path.exists(out) and not os.path.isdir(out):
        return "is not a folder"
    made = missingfolders(out)
    try:
        os.makedirs(out, exist_ok=True)
        handle, probe = tempfile.mkstemp(dir=out, prefix=".compare-")
        os.close(handle)
        os.remove(probe)
    except OSError as error:
        return f"cannot be written: {error.strerror}"
    finally:
        unmake(made)
    return None
