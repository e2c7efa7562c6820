"""The progress that linebench-compare shows on standard error: a line a
stage, and on a terminal transient lines that overwrite each other.
"""

import shutil
import sys

from .text import shown


def progress(message, transient=False):
    """A line of progress; on a terminal, transient ones overwrite each other."""
    message = shown(message)
    if sys.stderr is None:  # started with standard error closed
        return
    if sys.stderr.isatty():
        sys.stderr.write("\r\033[K" + message + ("" if transient else "\n"))
        sys.stderr.flush()
    else:
        print(message, file=sys.stderr, flush=True)


def ticker(message):
    """A transient line of progress within a stage, on a terminal only, cut
    to its width; elsewhere the stage's own line says enough."""
    if sys.stderr is not None and sys.stderr.isatty():
        progress(message[:shutil.get_terminal_size().columns - 1], transient=True)
