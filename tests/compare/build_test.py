"""linebench-compare's build on its own: a failed step said by the line of
CMake's or the compiler's output that says why, and the build's facts,
where a library the build left out records no version."""

import os
import subprocess
import sys
import tempfile
import unittest

from stubs import write  # (puts the package on the path)
from linebenchcompare.build import cause
from linebenchcompare.buildfacts import buildinfo


class buildcause(unittest.TestCase):
    """A failed step is said by the line of CMake's or the compiler's own
    output that says why."""

    def test_thecompilersfirsterrorandcmakesmessage(self):
        with tempfile.TemporaryDirectory() as folder:
            source = write(os.path.join(folder, "broken.cpp"), "#include <cstdio>\nint f() { return nosuch; }\n"
                           "int g() { return nosuchtoo; }\n")
            done = subprocess.run(["c++", "-c", source, "-o", os.devnull], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
            self.assertRegex(cause("ninja: something\n" + done.stdout + "ninja: build stopped.\n"),
                             rf"^{source}:2:\d+: error: .*nosuch")
            script = write(os.path.join(folder, "store.cmake"), 'set(x 1)\nmessage(FATAL_ERROR "store folder /x '
                           'holds no binding.hpp")\n')
            done = subprocess.run(["cmake", "-P", script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True)
            self.assertEqual(cause(done.stdout),
                             f"CMake Error at {script}:2 (message): store folder /x holds no binding.hpp")


class facts(unittest.TestCase):
    def test_alibrarythebuildleftoutrecordsnoversion(self):
        with tempfile.TemporaryDirectory() as folder:
            for boost, absl, version in (("Boost_DIR-NOTFOUND", "absl_DIR-NOTFOUND", None),
                                         ("/x/lib/cmake/Boost-1.81.0", "", "1.81.0")):
                write(os.path.join(folder, "CMakeCache.txt"), f"Boost_DIR:PATH={boost}\nabsl_DIR:PATH={absl}\n")
                facts = buildinfo(folder)
                self.assertEqual((facts.boost, facts.abseil), (version, None))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
