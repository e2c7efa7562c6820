// slowclock: preloaded into a store program, makes every time it measures
// longer by a known factor, for bench/verdicts/aacheck's positive control: a
// gap of that size, exactly, on every figure, with the runs' own noise.
//
// Each gettimeofday reading is moved away from the process's first reading
// by the factor SLOWCLOCK_FACTOR (such as 1.05), so every elapsed time is
// that factor longer.  Without SLOWCLOCK_FACTOR it only passes the call on.
#include <dlfcn.h>
#include <sys/time.h>

#include <cstdint>
#include <cstdlib>

using clockfunction = int (*)(timeval *, void *);
static clockfunction realgettimeofday;
static double factor = 1.0;
static std::int64_t firstmicros = -1;

__attribute__((constructor)) static void slowclockstart()
{
    realgettimeofday = reinterpret_cast<clockfunction>(dlsym(RTLD_NEXT, "gettimeofday"));
    if (const char *given = std::getenv("SLOWCLOCK_FACTOR"))
        factor = std::atof(given);
}

int gettimeofday(timeval *__restrict tv, void *__restrict tz) noexcept
{
    int result = realgettimeofday(tv, tz);
    std::int64_t micros = static_cast<std::int64_t>(tv->tv_sec) * 1000000 + tv->tv_usec;
    if (firstmicros < 0)
        firstmicros = micros;
    micros = firstmicros + static_cast<std::int64_t>(static_cast<double>(micros - firstmicros) * factor);
    tv->tv_sec = static_cast<time_t>(micros / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(micros % 1000000);
    return result;
}
