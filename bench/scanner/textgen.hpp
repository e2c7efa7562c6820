// Generated texts for the scanner benchmarks: lines of URL-like text whose
// lengths vary around a mean, so that no branch can learn where lines end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Lines of linelength bytes on average (uniform in [linelength / 2,
// 3 * linelength / 2]), each ended by a line feed, until the text holds at
// least bytes bytes.  With blanks, about one byte in six is a space or a tab.
// The same arguments give the same text.
inline std::string generatetext(std::size_t bytes, std::size_t linelength, bool blanks)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/.-_?=&";
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::string text;
    text.reserve(bytes + 3 * linelength);
    while (text.size() < bytes) {
        std::size_t length = linelength / 2 + next() % (linelength + 1);
        for (std::size_t i = 0; i < length; ++i) {
            std::uint64_t r = next();
            if (blanks && r % 6 == 0)
                text += (r >> 8) % 4 == 0 ? '\t' : ' ';
            else
                text += alphabet[(r >> 8) % (sizeof alphabet - 1)];
        }
        text += '\n';
    }
    return text;
}
