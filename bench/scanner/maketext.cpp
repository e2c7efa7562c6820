// maketext: writes a generated text file for the count-pass benchmark.
//
// Usage: maketext <file> <megabytes> <mean line length> [blanks]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/scanner/textgen.hpp"

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5 || (argc == 5 && std::strcmp(argv[4], "blanks") != 0)) {
        std::fprintf(stderr, "Usage: %s <file> <megabytes> <mean line length> [blanks]\n", argv[0]);
        return 1;
    }
    std::size_t bytes = std::strtoull(argv[2], nullptr, 10) * 1000000;
    std::size_t linelength = std::strtoull(argv[3], nullptr, 10);
    if (linelength == 0) {
        std::fprintf(stderr, "%s: the mean line length must be at least 1\n", argv[0]);
        return 1;
    }
    std::string text = generatetext(bytes, linelength, argc == 5);
    std::FILE *file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
