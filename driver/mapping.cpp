#include "driver/mapping.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/common.hpp"

// The file failure: the same message on both streams, from one reading of errno
// (writing to standard output may itself change errno).
[[noreturn]] static void filefailure(const char *path)
{
    int error = errno;
    runfailure("%s: Cannot open file \"%s\": %s (errno = %d)\n", gProgName, path, std::strerror(error),
               error);
}

// What the read-fault handler needs, all set before the first pass: it may
// only call async-signal-safe functions, so it formats nothing and writes the
// message in pieces.  Nothing is allocated, so the heap figures stay as they
// were.
static const char *mapStart;  // the mapping
static const char *mapEnd;    // one past its last byte
static const char *faultPath; // the path, as mapped
static std::size_t progNameLen;
static std::size_t faultPathLen;

static void writeall(int fd, const char *bytes, std::size_t count)
{
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

static void writereadfailure(int fd)
{
    static const char middle[] = ": Cannot read file \"";
    static const char tail[] = "\": File shrank or could not be read while mapped\n";
    writeall(fd, gProgName, progNameLen);
    writeall(fd, middle, sizeof middle - 1);
    writeall(fd, faultPath, faultPathLen);
    writeall(fd, tail, sizeof tail - 1);
}

// A fault inside the mapping: its file was cut short, or a page could not be
// read.  Any other SIGBUS, a fault elsewhere or one sent by a process, gets
// the default action back and is raised again: it stays pending while this
// handler runs and ends the process as soon as the handler returns.
static void readfault(int signo, siginfo_t *info, void *)
{
    auto address = static_cast<const char *>(info->si_addr);
    if (info->si_code <= 0 || address < mapStart || address >= mapEnd) {
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signo, &fallback, nullptr);
        raise(signo);
        return;
    }
    if (gRowOpen)
        writeall(STDOUT_FILENO, "\n", 1);
    writereadfailure(STDOUT_FILENO);
    writereadfailure(STDERR_FILENO);
    _exit(1);
}

static void armreadguard(const char *path, const char *text, std::size_t size)
{
    mapStart = text;
    mapEnd = text + size;
    faultPath = path;
    faultPathLen = std::strlen(path);
    progNameLen = std::strlen(gProgName);

    struct sigaction action = {};
    action.sa_sigaction = readfault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

inputtext mapinput(const char *path)
{
    struct stat status;
    if (stat(path, &status) != 0)
        filefailure(path);
    auto size = static_cast<std::uint64_t>(status.st_size);

    // Non-blocking, so that a FIFO without a writer cannot hang the open; the
    // mapping then fails on it like on any file that cannot be mapped.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        filefailure(path);
    void *mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED)
        filefailure(path);
    const char *text = static_cast<const char *>(mapping);
    armreadguard(path, text, size);
    return {text, text + size, size};
}
