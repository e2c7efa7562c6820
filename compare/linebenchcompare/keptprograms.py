"""What a run keeps of the programs it ran, and whether an earlier run's can
run again here.

Every run copies each store program to OUT/programs and records in
results.json, per store, the copy, its SHA-256 and the shared objects that
the dynamic loader resolves for it, each with its SHA-256; results.json also
holds the machine's CPU model and kernel.  --against DIR runs DIR's copies
beside this run's programs when all of that still holds here: the same CPU
model and kernel, the copy unchanged, and every object resolved to the same
file with the same bytes.  Otherwise its figures can only be the ones DIR
recorded, taken at another time.
"""

import contextlib
import dataclasses
import json
import os
import re
import shutil
import subprocess
import tempfile
from typing import Optional

from .digests import filesha
from .errors import RunError
from .owned import makefolder, unmake
from .records import Library, Store
from .stops import held

PROGRAMS = "programs"
# How this run names an earlier run's program beside its own of the same key.
BEFORE = "{} (before)"
# Two runs of linebench-compare minutes apart, on this project's machine, gave
# ratios of medians up to 25% from 1 (the 95th percentile; docs/compare-method.md,
# "Before the programs were kept"): the size of a change that runs set against recorded runs
# cannot tell from the machine's drift.
DRIFT = 0.25


def savedname(key):
    """A file name for the copy of the program whose rows go by key: its
    letters, digits, '_', '+' and '-', the rest as '_'; no dots, so never a
    hidden file nor '..'."""
    return re.sub(r"[^A-Za-z0-9_+-]", "_", key)[:100] or "_"


def libraries(path, depth=0):
    """The shared objects that the dynamic loader resolves for the program at
    path, in its order: name, path (None when not found) and SHA-256.  The
    kernel's vDSO has no file and is left out; a static program loads none.
    A script is run by the interpreter on its #! line, which comes first,
    then the objects it loads."""
    with open(path, "rb") as program:
        first = program.readline(4096)
    if first.startswith(b"#!"):
        words = first[2:].split()
        if not words:
            return []
        interpreter = os.fsdecode(words[0])
        entry = Library("#!", interpreter, filesha(interpreter))
        return [entry] + (libraries(interpreter, depth + 1) if entry.sha256 and depth < 4 else [])
    # The heap probe, or the user's own preloads, are no part of the program.
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    environment["LC_ALL"] = "C"
    try:
        done = subprocess.run(["ldd", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              errors="surrogateescape", env=environment, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise RunError(f"ldd cannot list the libraries of {path}: {error}") from None
    found = []
    for line in done.stdout.splitlines():
        name, arrow, where = line.strip().partition(" => ")
        if not arrow:
            name = where = name.split(" (")[0]
            if not name.startswith("/"):
                continue  # the vDSO, or ldd's word for a static program
        where = None if where.startswith("not found") else where.split(" (")[0]
        found.append(Library(name, where, filesha(where) if where else None))
    return found


def recordedsaved(out):
    """The copies that the run recorded in out/results.json made, as (path,
    SHA-256): only these may a later run in out remove."""
    try:
        with open(os.path.join(out, "results.json")) as source:
            stores = json.load(source).get("stores") or []
    except (OSError, ValueError, AttributeError):
        return []
    kept = []
    for store in stores:
        if isinstance(store, dict) and isinstance(store.get("saved"), str) and store.get("sha256"):
            name = os.path.basename(store["saved"])
            if store["saved"] == os.path.join(PROGRAMS, name) and name not in ("", ".", ".."):
                kept.append((os.path.join(out, PROGRAMS, name), store["sha256"]))
    return kept


def outtrouble(out):
    """Why out/programs cannot hold this run's copies, or None."""
    folder = os.path.join(out, PROGRAMS)
    if os.path.islink(folder):
        return f"{folder} is a symbolic link; the copies of the programs go in a folder of out's own"
    if os.path.exists(folder) and not os.path.isdir(folder):
        return f"{folder} is not a folder; the copies of the programs go there"
    return None


def keep(out, stores, record):
    """Copies every store program to out/programs and hands record the stores
    with their copies (relative to out), SHA-256s and libraries.  The copies
    are made and read under hidden names first, so that a failure or a stop
    meanwhile leaves out/programs as it was.  Then, a stop held off until
    record is done, the copies of the run that out/results.json records go,
    each only while it holds the bytes that run wrote, and each new copy
    takes its key's name, or a free one beside any other file there."""
    folder = os.path.join(out, PROGRAMS)
    made = makefolder(folder)
    staged = []
    try:
        for store in stores:
            handle, path = tempfile.mkstemp(dir=folder, prefix=".compare-")
            os.close(handle)
            staged.append(path)
            shutil.copyfile(store.path, path)
            os.chmod(path, 0o555)
        kept = [dataclasses.replace(store, sha256=filesha(path), libraries=libraries(path))
                for store, path in zip(stores, staged)]
    except BaseException:
        for path in staged:
            with contextlib.suppress(OSError):
                os.remove(path)
        unmake(made)
        raise
    with held():
        for path, sha in recordedsaved(out):
            if os.path.isfile(path) and not os.path.islink(path) and filesha(path) == sha:
                os.remove(path)
        record([dataclasses.replace(store, saved=os.path.join(PROGRAMS, settle(path, savedname(store.key))))
                for store, path in zip(kept, staged)])


def settle(path, base):
    """Gives the copy at path the name base in its folder, or base.2, base.3
    and so on where that is taken; returns the name."""
    folder = os.path.dirname(path)
    name, number = base, 1
    while os.path.lexists(os.path.join(folder, name)):
        number += 1
        name = f"{base}.{number}"
    os.rename(path, os.path.join(folder, name))
    return name


def earlierrecord(path):
    """The results.json at path as a dict, or why it cannot be had."""
    try:
        with open(path) as source:
            record = json.load(source)
    except FileNotFoundError:
        return None, f"{os.path.dirname(path)} has no {os.path.basename(path)}"
    except (OSError, ValueError) as error:
        return None, f"{path} cannot be read ({getattr(error, 'strerror', None) or 'not JSON'})"
    if not isinstance(record, dict):
        return None, f"{path} is not a record of a run"
    return record, None


def machinetrouble(record, machine):
    """Why programs that ran on the machine that record names cannot be set
    beside this machine's, or None."""
    then = record.get("machine") if isinstance(record.get("machine"), dict) else {}
    if then.get("cpu") != machine.cpu:
        return f"that run was on another CPU ({then.get('cpu')}; here {machine.cpu})"
    if then.get("kernel") != machine.kernel:
        return f"that run was on another kernel (Linux {then.get('kernel')}; here {machine.kernel})"
    return None


def programtrouble(folder, store):
    """Why the copy that store records in folder cannot run here as it ran
    then, or None."""
    saved = store.get("saved")
    if not isinstance(saved, str) or not store.get("sha256") or not isinstance(store.get("libraries"), list):
        return "no copy of its program was kept (an older linebench-compare made that run)"
    path = os.path.join(folder, saved)
    if not os.path.isfile(path):
        return f"{saved} is gone"
    if filesha(path) != store["sha256"]:
        return f"{saved} has changed since that run"
    try:
        now = libraries(path)
    except OSError as error:
        return f"{saved} cannot be read: {error.strerror}"
    except RunError as error:
        return str(error)
    recorded = {entry.get("name"): entry for entry in store["libraries"] if isinstance(entry, dict)}
    for entry in now:
        before = recorded.pop(entry.name, None)
        if entry.path is None:
            return f"it loads {entry.name}, which is not found here"
        if before is None:
            return f"it now loads {entry.name} ({entry.path}), which it did not load then"
        if (before.get("path"), before.get("sha256")) != (entry.path, entry.sha256):
            return f"it loads {entry.name} from {entry.path}, not the one it loaded then"
    if recorded:
        name = next(iter(recorded))
        return f"it no longer loads {name}"
    return None


@dataclasses.dataclass(frozen=True)
class EarlierPrograms:
    """An earlier run's kept programs that can run here, as stores named
    "KEY (before)" that run as KEY; why none can, or None; and per store key
    why its program cannot."""

    stores: list
    why: Optional[str]
    trouble: dict


def earlierprograms(folder, machine, keys, recordpath=None):
    """DIR's kept programs of the store keys given, as its results.json (or
    the record at recordpath) records them."""
    record, why = earlierrecord(recordpath or os.path.join(folder, "results.json"))
    if record is not None:
        why = machinetrouble(record, machine)
    if why is None and not os.path.isdir(os.path.join(folder, PROGRAMS)):
        why = f"{os.path.join(folder, PROGRAMS)} is gone"
    recorded = {}
    if why is None:
        recorded = {store.get("key"): store for store in record.get("stores") or [] if isinstance(store, dict)}
        if not any("saved" in store for store in recorded.values()):
            why = "its results.json records no kept programs (an older linebench-compare made that run)"
    if why is not None:
        return EarlierPrograms([], why, {})
    stores, trouble = [], {}
    for key in keys:
        store = recorded.get(key)
        problem = programtrouble(folder, store) if store else "that run records no program of it"
        if problem is not None:
            trouble[key] = problem
            continue
        stores.append(Store(BEFORE.format(key), os.path.join(folder, store["saved"]), store.get("family", "other"),
                            bool(store.get("checkadt")), earlierof=key, sha256=store["sha256"],
                            libraries=[Library(entry.get("name"), entry.get("path"), entry.get("sha256"))
                                       for entry in store["libraries"] if isinstance(entry, dict)]))
    return EarlierPrograms(stores, None, trouble)


@dataclasses.dataclass(frozen=True)
class Unchanged:
    """The stores whose program is the one that the earlier run recorded,
    and whether that run was on this machine, so that its figures of them
    stand for this run's."""

    keys: list
    here: bool


def unchangedsince(recordpath, stores, machine):
    """Which of stores have the program that the earlier run's results.json
    at recordpath records for their key: the same SHA-256, loading the same
    libraries from the same places with the same bytes.  The record alone
    says so, whether or not the copy it names is still there."""
    record, _ = earlierrecord(recordpath)
    if record is None:
        return Unchanged([], False)
    recorded = {store.get("key"): store for store in record.get("stores") or [] if isinstance(store, dict)}
    keys = [store.key for store in stores if sameprogram(store, recorded.get(store.key))]
    return Unchanged(keys, machinetrouble(record, machine) is None)


def sameprogram(store, recorded):
    """Whether this run's program of a store is the one that recorded, the
    earlier run's record of its key, names."""
    if not recorded or not recorded.get("sha256") or not isinstance(recorded.get("libraries"), list):
        return False
    if filesha(store.path) != recorded["sha256"]:
        return False
    then = [Library(entry.get("name"), entry.get("path"), entry.get("sha256"))
            for entry in recorded["libraries"] if isinstance(entry, dict)]
    try:
        return libraries(store.path) == then
    except (OSError, RunError):
        return False
