"""Where linebench-compare lives, a checkout or an installation, and the names
of the tools it runs beside the store programs.
"""

import os

from .storelist import STORELIST

CORPUS = "linebench-corpus"
PROBE = "heapprobe.so"
PROBETARGET = "heapprobe"
SHAPE = "linebench-shape"

# The command's folder: compare/ in a checkout, or where it is installed
# (libexec/linebench), which holds, as a build folder does, the list of the
# installed stores, the heap probe and the programs, or links to them.
HOME = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTALLED = os.path.isfile(os.path.join(HOME, STORELIST))
# The checkout, whose Release preset a run builds; None where installed.
ROOT = None if INSTALLED else os.path.dirname(HOME)
