// Test support, preloaded into a program under test: gettimeofday as a clock
// that the test sets.  STEPCLOCK holds microseconds separated by commas: the
// first reading, then the step to each next reading; past the last step the
// clock keeps taking it.  So the test knows how long each pass took, and with
// it every time the report prints.

#include <sys/time.h>

#include <cstdint>
#include <cstdlib>

namespace
{

constexpr int maxsteps = 16;
constexpr std::int64_t second = 1000000;

std::int64_t reading;         // the next reading, µs
std::int64_t steps[maxsteps]; // the steps after it
int stepcount = 0;
int nextstep = 0;

// Reads STEPCLOCK once, at the first call.
void setclock()
{
    const char *text = std::getenv("STEPCLOCK");
    char *end = nullptr;
    reading = text != nullptr ? std::strtoll(text, &end, 10) : 0;
    while (end != nullptr && *end == ',' && stepcount < maxsteps)
        steps[stepcount++] = std::strtoll(end + 1, &end, 10);
}

} // namespace

extern "C" int gettimeofday(timeval *tv, void *) noexcept
{
    static bool set = false;
    if (!set) {
        setclock();
        set = true;
    }
    tv->tv_sec = static_cast<time_t>(reading / second);
    tv->tv_usec = static_cast<suseconds_t>(reading % second);
    if (stepcount > 0)
        reading += steps[nextstep < stepcount - 1 ? nextstep++ : stepcount - 1];
    return 0;
}
