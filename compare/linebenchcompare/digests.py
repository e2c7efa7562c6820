"""SHA-256s of files: of a file measured, which knows it in an earlier run,
and of a kept program and the libraries it loads.
"""

import hashlib
import os


def digest(path):
    """(size, SHA-256) of a file's content."""
    sha = hashlib.sha256()
    size = 0
    with open(path, "rb") as source:
        while block := source.read(1 << 20):
            sha.update(block)
            size += len(block)
    return size, sha.hexdigest()


SHAS = {}  # SHA-256 by the file's identity and time of change: the programs share most libraries


def filesha(path):
    """The SHA-256 of the file at path, or None where it cannot be read."""
    try:
        status = os.stat(path)
        identity = (path, status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns, status.st_ctime_ns)
        if identity not in SHAS:
            SHAS[identity] = digest(path)[1]
        return SHAS[identity]
    except OSError:
        return None
