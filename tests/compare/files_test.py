"""The files that linebench-compare measures: the digest of a file of
megabytes, and the rungs that --large adds."""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

from stubs import ROOT  # noqa: F401  (puts the package on the path)
from linebenchcompare.digests import digest
from linebenchcompare.ladder import nextrung


class digests(unittest.TestCase):
    def test_thedigestcoverseverybyteofafileofafewmib(self):
        """Two files of 3 MiB and a bit that differ only in their last byte:
        each digest is SHA-256 over all of its bytes at once, and sha256sum's."""
        with tempfile.TemporaryDirectory() as folder:
            body = bytes(range(256)) * (3 * 4096 + 5)
            for last in (b"a", b"b"):
                path = os.path.join(folder, "file")
                with open(path, "wb") as out:
                    out.write(body + last)
                whole = hashlib.sha256(body + last).hexdigest()
                self.assertEqual(digest(path), (len(body) + 1, whole))
                listed = subprocess.run(["sha256sum", path], stdout=subprocess.PIPE, text=True, check=True)
                self.assertEqual(listed.stdout.split()[0], whole)


class largeladder(unittest.TestCase):
    def test_arunggrowsatmosttenfoldandthelastpassesthetarget(self):
        self.assertEqual(nextrung(10**6, 10**6, 10**9), 10**7)
        # a quarter past what the bytes per line so far say the target needs
        self.assertEqual(nextrung(10**6, 100 * 10**6, 4 * 100 * 10**6), 5 * 10**6)
        self.assertGreaterEqual(nextrung(3 * 10**5, 99, 100), 4.5 * 10**5)
        self.assertIsNone(nextrung(10**9, 1, 10**9))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
