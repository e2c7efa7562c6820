"""What the build is: its compiler and version, build type and flags, the
Abseil and Boost it found, and the commit, from its CMake cache and git.
"""

import os
import subprocess

from .home import ROOT
from .machinefacts import readfirst
from .records import BuildFacts


def cachevalues(bindir):
    values = {}
    try:
        with open(os.path.join(bindir, "CMakeCache.txt"), errors="replace") as cache:
            for line in cache:
                name, _, value = line.rstrip("\n").partition("=")
                # X-NOTFOUND: a package the build looked for and left out
                if ":" in name and not line.startswith(("//", "#")) and not value.endswith("NOTFOUND"):
                    values[name.split(":", 1)[0]] = value
    except OSError:
        pass
    return values


def firstline(command):
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              errors="replace", timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    lines = done.stdout.strip().splitlines()
    return lines[0] if done.returncode == 0 and lines else None


def buildinfo(bindir):
    """The build: compiler and version, build type and flags, the Abseil and
    Boost versions it found, and the commit; None where unknown."""
    cache = cachevalues(bindir)
    compiler = cache.get("CMAKE_CXX_COMPILER")
    buildtype = cache.get("CMAKE_BUILD_TYPE")
    flags = " ".join(filter(None, [cache.get("CMAKE_CXX_FLAGS"),
                                   cache.get(f"CMAKE_CXX_FLAGS_{buildtype.upper()}") if buildtype else None]))
    abseil = None
    if cache.get("absl_DIR"):
        version = readfirst(os.path.join(cache["absl_DIR"], "abslConfigVersion.cmake"), 'set(PACKAGE_VERSION "')
        abseil = version.rstrip('")') if version else None
    boost = None
    if cache.get("Boost_DIR"):
        boost = os.path.basename(cache["Boost_DIR"]).removeprefix("Boost-") or None
    commit = firstline(["git", "-C", ROOT, "rev-parse", "HEAD"]) if ROOT else None
    return BuildFacts(bindir, compiler, firstline([compiler, "--version"]) if compiler else None, buildtype,
                      flags or None, abseil, boost, commit)
