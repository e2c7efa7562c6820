"""What the machine is: its CPU, cores, kernel and frequency governor, and
its last-level cache, from /proc and sysfs.
"""

import os
import platform

from .records import Cache, Machine


def lastlevelcache():
    """The largest data cache of CPU 0, from sysfs; None where sysfs does not
    tell."""
    found = None
    folder = "/sys/devices/system/cpu/cpu0/cache"
    try:
        entries = sorted(os.listdir(folder))
    except OSError:
        return None
    for entry in entries:
        try:
            level = int(readfirst(os.path.join(folder, entry, "level"), ""))
            kind = readfirst(os.path.join(folder, entry, "type"), "")
            text = readfirst(os.path.join(folder, entry, "size"), "")
            size = int(text[:-1]) * {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}[text[-1]]
        except (TypeError, ValueError, KeyError, IndexError):
            continue
        if kind in ("Unified", "Data") and (found is None or level > found.level):
            found = Cache(size, level, "sysfs")
    return found


def cachename(level):
    """The cache in words: the L3 cache, or the last-level cache where its
    level is not known (a size given by hand)."""
    return f"the L{level} cache" if level else "the last-level cache"


def readfirst(path, prefix):
    try:
        with open(path) as source:
            for line in source:
                if line.startswith(prefix):
                    return line[len(prefix):].strip()
    except OSError:
        pass
    return None


def machineinfo():
    """The machine: CPU model, cores, kernel and the frequency governor where
    the kernel shows one."""
    model = readfirst("/proc/cpuinfo", "model name")
    governor = readfirst("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "")
    return Machine(model.lstrip(": ") if model else platform.processor() or platform.machine(), os.cpu_count(),
                   platform.release(), governor or None)
