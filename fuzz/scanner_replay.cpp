// Runs the scanner's fuzz target (scanner_fuzz.cpp) without libFuzzer, for
// compilers and CPUs that have none: every file of the folders given (the seed
// corpus), then inputs generated from them and from the bytes that the scanner
// tells apart.  The generator's seed is fixed, so a failure replays.
//
// Usage: scanner_replay [--generated N] [--artifact PATH] FOLDER...
//
// Each input ends right before an inaccessible page, so that a read past it
// faults.  When the target stops (an abort on a difference, or a fault), the
// input it was given is written to PATH (default: scanner-replay-crash), to be
// run again or added to the corpus.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/guardedtext.hpp"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace
{

// The input being run and where it goes when the target stops on it.
const char *artifactpath = "scanner-replay-crash";
const char *currentname = "";
const char *currentdata = nullptr;
std::size_t currentsize = 0;

void writeall(int fd, const char *bytes, std::size_t count)
{
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written <= 0)
            return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// Saves the input, says which it was, and lets the signal end the process.
void stopped(int signo)
{
    int fd = open(artifactpath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        writeall(fd, currentdata, currentsize);
        close(fd);
    }
    static const char head[] = "scanner_replay: stopped on ";
    static const char middle[] = "; the input is in ";
    writeall(STDERR_FILENO, head, sizeof head - 1);
    writeall(STDERR_FILENO, currentname, std::strlen(currentname));
    writeall(STDERR_FILENO, middle, sizeof middle - 1);
    writeall(STDERR_FILENO, artifactpath, std::strlen(artifactpath));
    writeall(STDERR_FILENO, "\n", 1);
    signal(signo, SIG_DFL);
    raise(signo);
}

void run(const std::string &name, const std::string &input)
{
    guardedtext text(input);
    if (!text.ok()) {
        std::fprintf(stderr, "scanner_replay: no memory for an input of %zu bytes\n", input.size());
        std::exit(1);
    }
    currentname = name.c_str();
    currentdata = text.begin();
    currentsize = input.size();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(text.begin()), input.size());
}

// The files of a folder, in name order, so that runs are alike everywhere.
std::vector<std::string> filesof(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(folder + "/" + entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct generator {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    std::uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
    // Mostly the bytes that the scanner tells apart, some text of every kind.
    char byte()
    {
        static const char told[] = "\n\n\n\0 \t\rab\x01\x0b\x1f!\x7f\x80\xff";
        return below(4) == 0 ? static_cast<char>(next() >> 32) : told[below(sizeof told - 1)];
    }
};

// One of libFuzzer's kinds of change: a byte replaced, inserted or erased, a
// stretch erased or copied elsewhere, the length prefix drawn anew, or a
// stretch of another seed spliced in.
std::string mutate(generator &draw, std::string input, const std::vector<std::string> &seeds)
{
    for (std::size_t changes = 1 + draw.below(4); changes > 0; --changes) {
        std::size_t at = draw.below(input.size() + 1);
        std::size_t span = input.size() - at;
        switch (draw.below(7)) {
        case 0:
            if (at < input.size())
                input[at] = draw.byte();
            break;
        case 1:
            input.insert(at, 1 + draw.below(8), draw.byte());
            break;
        case 2:
            input.erase(at, draw.below(span + 1));
            break;
        case 3:
            input.insert(draw.below(input.size() + 1), input.substr(at, draw.below(span + 1)));
            break;
        case 4:
            if (input.size() >= 2) {
                input[0] = static_cast<char>(draw.next());
                input[1] = static_cast<char>(draw.next() >> 8);
            }
            break;
        case 5: {
            const std::string &other = seeds[draw.below(seeds.size())];
            std::size_t from = draw.below(other.size() + 1);
            input.insert(at, other.substr(from, draw.below(other.size() - from + 1)));
            break;
        }
        default:
            for (std::size_t n = draw.below(64); n > 0; --n)
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(draw.below(input.size() + 1)),
                             draw.byte());
        }
    }
    return input.substr(0, 4096);
}

} // namespace

int main(int argc, char **argv)
{
    long generated = 20000;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--generated" && i + 1 < argc)
            generated = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--artifact" && i + 1 < argc)
            artifactpath = argv[++i];
        else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "Usage: %s [--generated N] [--artifact PATH] FOLDER...\n", argv[0]);
            return 1;
        } else
            folders.push_back(arg);
    }
    for (int signo : {SIGABRT, SIGSEGV, SIGBUS})
        signal(signo, stopped);
    LLVMFuzzerInitialize(&argc, &argv);

    std::vector<std::string> seeds;
    for (const std::string &folder : folders)
        for (const std::string &path : filesof(folder)) {
            std::ifstream file(path, std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            run(path, seeds.back());
        }
    if (seeds.empty()) {
        std::fprintf(stderr, "scanner_replay: no seeds in the folders given\n");
        return 1;
    }

    generator draw;
    for (long i = 0; i < generated; ++i) {
        std::string input;
        if (i % 4 == 3) { // drawn afresh: a length prefix, then up to 600 bytes
            input.resize(2 + draw.below(600));
            for (char &c : input)
                c = draw.byte();
        } else
            input = mutate(draw, seeds[static_cast<std::size_t>(i) % seeds.size()], seeds);
        run("generated input " + std::to_string(i), input);
    }
    std::printf("scanner_replay: %zu seeds, %ld generated inputs: the kernels agree with the model\n",
                seeds.size(), generated);
    return 0;
}
