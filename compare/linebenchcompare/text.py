"""How linebench-compare writes names it did not make.  Python reads a file or
folder name whose bytes are not UTF-8 with each such byte as a lone
surrogate, which UTF-8 cannot encode; the words that people read show the
byte as \\xNN, as `ls -b` does, and a control character in a name as its
escape, so that a line of the terminal or a row of a table stays one line.
"""

import codecs
import re

SHOWBYTES = "showbytes"


def showbytes(error):
    """The codec error handler: each lone surrogate that stands for a byte as
    \\xNN, any other as \\uNNNN."""
    if not isinstance(error, UnicodeEncodeError):
        raise error
    shown = "".join(f"\\x{ord(c) - 0xDC00:02x}" if 0xDC80 <= ord(c) <= 0xDCFF else f"\\u{ord(c):04x}"
                    for c in error.object[error.start:error.end])
    return shown, error.end


codecs.register_error(SHOWBYTES, showbytes)


CONTROL = re.compile(r"[\x00-\x1f\x7f]")
ESCAPES = {"\n": "\\n", "\r": "\\r", "\t": "\\t"}


def shown(name):
    """name as people read it, so that tables measure it as it is shown."""
    text = name.encode("utf-8", SHOWBYTES).decode("utf-8")
    return CONTROL.sub(lambda c: ESCAPES.get(c[0], f"\\x{ord(c[0]):02x}"), text)
