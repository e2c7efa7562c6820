#include "corpus/output.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

void sinkflush(sink &out)
{
    if (out.used != 0 && std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", progname, out.name, std::strerror(errno));
        std::exit(1);
    }
    out.used = 0;
}
