"""linebench-compare's build: configure the Release preset, build only the
targets a run needs, say why a step failed in the lines that CMake or the
compiler gave, and stop the whole build when the run is stopped.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import threading
import time

from .errors import RunError
from .home import ROOT
from .progress import ticker

BINDIR = os.path.join(ROOT, "build", "release") if ROOT else None
# The whole output of the last step, failed, stopped or done, kept for the
# lines a message leaves out.
LOG = "compare-build.log"
# How long a stopped build may take to stop its compilers before it is killed.
STOPWAIT = 10.0

# The lines that say why a step failed, most telling first: a compiler's
# error with its file and line, the linker's, CMake's, ninja's.
COMPILERERROR = re.compile(r"^(\S.*?):(\d+):(?:(\d+):)? (?:fatal )?error: ")
LINKERERROR = re.compile(r"(undefined reference to|cannot find -l|multiple definition of|ld: .*error)")
CMAKEERROR = re.compile(r"^CMake Error")


# A baseline that the configure step leaves out, which a run then lacks.
LEFTOUT = re.compile(r"^-- (linebench-\S+ left out: .*)$")
TICK = 0.5  # seconds between the updates of a step's line on a terminal


def configure(progress):
    """Configures the Release preset, which writes the build's list of
    stores; returns the build folder.  A baseline left out is said."""
    if shutil.which("cmake") is None:
        raise RunError("cmake is not installed (tools/deps installs it)")
    progress("compare: configuring the Release preset")
    output = runstep(["cmake", "--preset", "release"], "compare: configuring the Release preset")
    for line in output.splitlines():
        if LEFTOUT.match(line):
            progress(f"compare: {LEFTOUT.match(line)[1]}")
    return BINDIR


def build(targets, progress):
    """Builds the targets named, and what they need, in the Release preset."""
    progress(f"compare: building {', '.join(targets)}")
    runstep(["cmake", "--build", "--preset", "release", "-j", "2", "--target"] + targets, "compare: building")


def readlines(stream, lines):
    for line in stream:
        lines.append(line)


def runstep(command, doing):
    """Runs a step of the build in a process group of its own, so that a
    stop reaches every process of it; on a terminal, doing, the seconds so
    far and the step's latest line (ninja's [done/all] count in a build)
    stand on one line.  Returns its output; a failure raises RunError with
    the line that says why."""
    becomesubreaper()
    process = subprocess.Popen(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace", process_group=0)
    lines = []
    reader = threading.Thread(target=readlines, args=(process.stdout, lines), daemon=True)
    started = time.monotonic()
    try:
        reader.start()
        while reader.is_alive():
            reader.join(TICK)
            latest = next((line.strip() for line in reversed(lines) if line.strip()), "")
            ticker(f"{doing}, {time.monotonic() - started:.0f} s: {latest}")
        process.wait()
    except BaseException:
        stopstep(process)
        keeplog(command, "".join(lines))
        raise
    output = "".join(lines)
    log = keeplog(command, output)
    if process.returncode != 0:
        raise RunError(f"'{' '.join(command)}' failed with status {process.returncode}: {cause(output)}"
                       + (f" (all of its output: {log})" if log else ""))
    return output


PR_SET_CHILD_SUBREAPER = 36


def becomesubreaper():
    """Makes this process the one that the build's orphans are handed to, so
    that a compiler whose ninja has gone is still known here and waited for."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def stopstep(process):
    """Stops a step and waits until none of its processes is left.  The
    step's group gets SIGTERM: ninja then stops the compilers, which it
    keeps in groups of their own, and removes their half-written outputs.
    Past STOPWAIT, whatever is left is killed."""
    signalgroup(process.pid, signal.SIGTERM)
    deadline = time.monotonic() + STOPWAIT
    while True:
        process.poll()
        left = descendants()
        if not left:
            return
        if time.monotonic() > deadline:
            signalgroup(process.pid, signal.SIGKILL)
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        time.sleep(0.05)


def signalgroup(group, signum):
    try:
        os.killpg(group, signum)
    except ProcessLookupError:
        pass


def descendants():
    """The processes below this one, its children that have ended reaped
    first.  An ended process below a child is counted until it is reaped
    too, here once its parent has gone.  Only the build's processes are below
    this one while a step runs."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            break
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as source:
                text = source.read()
        except OSError:
            continue
        parents[int(entry)] = int(text[text.rindex(")") + 2:].split()[1])
    below, found = set(), {os.getpid()}
    while found:
        found = {pid for pid, parent in parents.items() if parent in found and pid not in below}
        below |= found
    return below


def cause(output):
    """The line of a failed step's output that says why, in one line: the
    compiler's first error (with its file and line), else the linker's,
    else CMake's error with its message, else the last line."""
    lines = output.splitlines()
    for pattern in (COMPILERERROR, LINKERERROR):
        for line in lines:
            if pattern.search(line):
                return line.strip()
    for number, line in enumerate(lines):
        if CMAKEERROR.match(line):
            message = []
            for follow in lines[number + 1:]:
                if follow and not follow.startswith(" "):
                    break
                if follow.strip():
                    message.append(follow.strip())
                elif message:
                    break
            return " ".join([line.strip().removesuffix(":") + ":"] + message) if message else line.strip()
    tail = [line.strip() for line in lines if line.strip()]
    return tail[-1] if tail else "no output"


def keeplog(command, output):
    """Writes the step's whole output into the build folder; its path, or
    None where it cannot be written."""
    path = os.path.join(BINDIR, LOG)
    try:
        os.makedirs(BINDIR, exist_ok=True)
        with open(path, "w", errors="replace") as log:
            log.write(f"$ {' '.join(command)}\n{output}")
    except OSError:
        return None
    return path
