// Differential fuzz target: each block kernel that this CPU runs against the
// byte-at-a-time model (scanlineplain); a kernel it cannot run is named as
// skipped at start.  The kernel's steps, with the cursor that its pass
// carries, and the model scan the same text from the same position at every
// step: the returned positions and the lines must agree; and the kernel's
// pass must hand over the same lines.
//
// Each input is scanned twice: as it is, and as a longer text that repeats the
// input up to a length given by its first two bytes, so that runs reach the
// 9,999-byte cut.  The longer text ends right before an inaccessible page, and
// the line buffers are followed by canary bytes, so that a read past the text
// faults and a write past linebuf shows, with AddressSanitizer (libFuzzer's
// build) or without it (scanner_replay.cpp, which places each input before
// an inaccessible page too).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "tests/support/guardedtext.hpp"
#include "tests/support/samelines.hpp"

namespace
{

void samelines(const char *begin, const char *end)
{
    std::vector<char> fast = guardedlinebuf();
    std::vector<char> plain = guardedlinebuf();
    for (const kernelentry &kernel : blockkernels()) {
        if (!kernelsupported(kernel.kernel))
            continue;
        std::string difference = scannerdifference(kernel, begin, end, fast.data(), plain.data());
        if (!difference.empty()) {
            std::fprintf(stderr, "scanners differ on a %s\n", difference.c_str());
            std::abort();
        }
        if (std::size_t at = canarywritten(fast)) {
            std::fprintf(stderr, "the %s kernel wrote linebuf[%zu]\n", kernelname(kernel.kernel), at);
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (const kernelentry &kernel : blockkernels())
        if (!kernelsupported(kernel.kernel))
            std::fprintf(stderr, "scanner_fuzz: the %s kernel is %s\n", kernelname(kernel.kernel),
                         kernelskipped);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    samelines(bytes, bytes + size);

    if (size < 3)
        return 0;
    std::size_t length = (data[0] | static_cast<std::size_t>(data[1]) << 8) % (2 * MAXLINE + 32);
    if (length <= size)
        return 0;
    std::string repeats(bytes + 2, std::min(size - 2, length));
    while (repeats.size() < length)
        repeats.append(repeats, 0, std::min(repeats.size(), length - repeats.size()));
    guardedtext text(repeats);
    if (!text.ok()) {
        std::fprintf(stderr, "scanner_fuzz: no memory for a text of %zu bytes\n", length);
        std::abort();
    }
    samelines(text.begin(), text.end());
    return 0;
}
