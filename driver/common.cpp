#include "driver/common.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

std::int64_t gDupCnt = 0;
const char *gProgName = "linebench";
volatile std::sig_atomic_t gRowOpen = 0;

void runfailure(const char *format, ...)
{
    std::va_list values;
    va_start(values, format);
    if (gRowOpen)
        std::putchar('\n');
    std::vprintf(format, values);
    std::fflush(stdout);
    va_end(values);
    va_start(values, format);
    std::vfprintf(stderr, format, values);
    va_end(values);
    std::exit(1);
}

void outofmemory(std::size_t bytes)
{
    runfailure("%s: Out of memory: cannot allocate %zu bytes\n", gProgName, bytes);
}

bool reportwritten()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    int error = errno;
    std::fprintf(stderr, "%s: Cannot write the report: %s (errno = %d)\n", gProgName, std::strerror(error),
                 error);
    return false;
}
