// Differential fuzz target: each block kernel that this CPU runs against the
// byte-at-a-time model (scanlineplain); a kernel it cannot run is named as
// skipped at start.  The kernel's steps, with the cursor that its pass
// carries, and the model scan the same text from the same position at every
// step: the returned positions and the lines must agree; and the kernel's
// pass must hand over the same lines.
//
// Each input is scanned twice: as it is, and as a longer text that repeats the
// input up to a length given by its first two bytes, so that runs reach the
// 9,999-byte cut.  Both texts sit in buffers of exactly their size, and the
// line buffers are exactly MAXLINE bytes, so that AddressSanitizer catches a
// read past the text or a write past linebuf.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "driver/scanner.hpp"
#include "tests/support/samelines.hpp"

namespace
{

void samelines(const char *begin, const char *end)
{
    std::unique_ptr<char[]> fast(new char[MAXLINE]);
    std::unique_ptr<char[]> plain(new char[MAXLINE]);
    for (const kernelentry &kernel : blockkernels) {
        if (!kernelsupported(kernel.kernel))
            continue;
        std::string difference = scannerdifference(kernel, begin, end, fast.get(), plain.get());
        if (!difference.empty()) {
            std::fprintf(stderr, "scanners differ on a %s\n", difference.c_str());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (const kernelentry &kernel : blockkernels)
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
    std::unique_ptr<char[]> text(new char[length]);
    std::size_t filled = std::min(size - 2, length);
    std::memcpy(text.get(), bytes + 2, filled);
    for (; filled < length; filled *= 2)
        std::memcpy(text.get() + filled, text.get(), std::min(filled, length - filled));
    samelines(text.get(), text.get() + length);
    return 0;
}
