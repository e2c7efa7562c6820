// The CPU's flags as Linux lists them in /proc/cpuinfo, and the scanner
// kernel that they call for, so that tests of the start-up choice expect what
// the CPU says and not what the code under test decides.  Linux leaves out
// the AVX flags whose registers the system does not save.  The line is
// "flags" on x86-64 and "Features" on arm64.
#pragma once

#include <fstream>
#include <set>
#include <sstream>
#include <string>

// The flags of the first CPU listed; none where /proc/cpuinfo lists none.
inline std::set<std::string> cpuinfoflags()
{
#if defined(__x86_64__)
    const std::string flagskey = "flags";
#else
    const std::string flagskey = "Features";
#endif
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        std::istringstream words(line);
        std::string key, colon;
        if (words >> key >> colon && key == flagskey && colon == ":") {
            std::set<std::string> flags;
            for (std::string flag; words >> flag;)
                flags.insert(flag);
            return flags;
        }
    }
    return {};
}

inline bool cpuinfohas(const std::set<std::string> &flags, const char *flag)
{
    return flags.count(flag) != 0;
}

// The kernel that the programs run: the one a build fixes, else the widest
// that the flags allow.
inline std::string expectedpasskernel()
{
#ifdef LINEBENCH_SCANNERKERNEL
#define LINEBENCH_NAMEOF(name) #name
#define LINEBENCH_NAME(name) LINEBENCH_NAMEOF(name)
    return LINEBENCH_NAME(LINEBENCH_SCANNERKERNEL);
#elif defined(__x86_64__)
    const std::set<std::string> flags = cpuinfoflags();
    if (cpuinfohas(flags, "avx512bw") && cpuinfohas(flags, "avx512_vbmi2"))
        return "avx512";
    if (cpuinfohas(flags, "avx2") && cpuinfohas(flags, "bmi1") && cpuinfohas(flags, "popcnt"))
        return "avx2";
    return "sse2";
#elif defined(__aarch64__)
    return cpuinfohas(cpuinfoflags(), "asimd") ? "neon" : "plain";
#else
    return "plain";
#endif
}
