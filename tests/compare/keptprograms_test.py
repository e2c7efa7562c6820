"""What linebench-compare keeps of a program: the libraries that ldd names,
with the digests of their bytes, a script's interpreter, and a copy's name.

Usage: keptprograms_test.py [BUILD], the folder that holds the programs."""

import dataclasses
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

from stubs import BUILD, stub  # (puts the package on the path)
from linebenchcompare.keptprograms import libraries, sameprogram, savedname
from linebenchcompare.records import Store


def recordof(sha256, found):
    """A program as results.json records it."""
    return {"sha256": sha256, "libraries": [dataclasses.asdict(library) for library in found]}


class keptprograms(unittest.TestCase):
    def test_thelibrariesarethoseldddnamesandtheirdigestsarethefilesbytes(self):
        program = os.path.join(BUILD, "linebench-hash")
        found = libraries(program)
        listed = subprocess.run(["ldd", program], stdout=subprocess.PIPE, text=True, check=True).stdout
        names = [line.split()[0] for line in listed.splitlines() if line.split() and "vdso" not in line]
        self.assertIn("libc.so.6", names)
        self.assertEqual([library.name for library in found], names)
        for library in found:
            with open(library.path, "rb") as source:
                self.assertEqual(library.sha256, hashlib.sha256(source.read()).hexdigest())

    def test_ascriptisrunbyitsinterpreter(self):
        with tempfile.TemporaryDirectory() as folder:
            found = libraries(stub(folder, "x", 0.3, 0.2))
        self.assertEqual(found[0].name, "#!")
        self.assertEqual(found[0].path, "/bin/sh")
        self.assertIn("libc.so.6", [library.name for library in found[1:]])

    def test_thesameprogramhasthesamebytesandlibraries(self):
        """This run's program is the kept one only where the bytes and every
        library are the same: a libc of other bytes than the one recorded
        makes another program."""
        with tempfile.TemporaryDirectory() as folder:
            program = stub(folder, "x", 0.3, 0.2)
            with open(program, "rb") as source:
                now = Store("X", program, "other", False, sha256=hashlib.sha256(source.read()).hexdigest())
            found = libraries(program)
            self.assertTrue(sameprogram(now, recordof(now.sha256, found)))
            other = [dataclasses.replace(library, sha256="0" * 64) if library.name == "libc.so.6" else library
                     for library in found]
            self.assertNotEqual(other, found)
            self.assertFalse(sameprogram(now, recordof(now.sha256, other)))
            self.assertFalse(sameprogram(now, recordof("0" * 64, found)))

    def test_acopysnameisneverhiddennoraparentfolder(self):
        for key, name in (("HASH", "HASH"), ("..", "__"), ("a/b c", "a_b_c"), (".x", "_x"), ("", "_")):
            self.assertEqual(savedname(key), name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
