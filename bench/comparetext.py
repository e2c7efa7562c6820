"""How bench/compare writes names it did not make.  Python reads a file or
folder name whose bytes are not UTF-8 with each such byte as a lone
surrogate, which UTF-8 cannot encode; the words that people read show the
byte as \\xNN, as `ls -b` does.
"""

import codecs

SHOWBYTES = "showbytes"


def showbytes(error):
    if not isinstance(error, UnicodeEncodeError):
        raise error
    shown = "".join(f"\\x{ord(c) - 0xDC00:02x}" if 0xDC80 <= ord(c) <= 0xDCFF else f"\\u{ord(c):04x}"
                    for c in error.object[error.start:error.end])
    return shown, error.end


codecs.register_error(SHOWBYTES, showbytes)


def shown(name):
    """name as people read it, so that tables measure it as it is shown."""
    return name.encode("utf-8", SHOWBYTES).decode("utf-8")
