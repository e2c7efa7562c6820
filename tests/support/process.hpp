// Test support: run a built program on files that a test writes, and collect
// its standard output, standard error and exit status.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct runoptions {
    // Limit on the child's data segment (RLIMIT_DATA), bytes; 0 leaves it.
    rlim_t datalimit = 0;
    // Where the child's standard output goes instead of a pipe (e.g. "/dev/full").
    std::string stdoutpath;
    // Seconds after which the child is killed; the result then says timedout.
    unsigned timeoutseconds = 30;
    // Run with an empty argument vector, not even argv[0] (argc == 0).
    bool emptyargv = false;
    // NAME=VALUE entries added to the child's environment.
    std::vector<std::string> environment;
    // Run as this user (by name) instead of the caller's; needs root.  The
    // child exits with status 126 when it cannot switch.
    std::string runasuser;
    // While the child runs: once its standard output holds whenout, then(pid)
    // is called, once, to act on the child or its files.
    std::string whenout;
    std::function<void(pid_t)> then;
};

struct runresult {
    std::string out; // standard output
    std::string err; // standard error
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;  // the terminating signal, if any
    bool timedout = false;
};

// Runs program with args (args[0] is argv[0]); never throws.  In a build for
// another CPU the emulator runs it, with args[0] as its argv[0].
runresult runprogram(const std::string &program, const std::vector<std::string> &args,
                     const runoptions &options = {});

// A fresh directory under TMPDIR (or /tmp), removed with its files on destruction.
class scratchdir
{
  public:
    scratchdir();
    ~scratchdir();
    scratchdir(const scratchdir &) = delete;
    scratchdir &operator=(const scratchdir &) = delete;

    // Writes bytes to a file in the directory and returns its path.
    std::string write(const std::string &name, const std::string &bytes) const;
    std::string path(const std::string &name) const { return dir + "/" + name; }

  private:
    std::string dir;
};

// True in the sanitizer build: there the programs' heap does not grow the
// program break, and a data limit stops them before main.
#ifdef LINEBENCH_SANITIZE
inline constexpr bool sanitizedbuild = true;
#else
inline constexpr bool sanitizedbuild = false;
#endif

// True in a build for another CPU, whose programs runprogram starts through
// the emulator (qemu-user): there a program always has an argv[0], and the
// limits and signals of a run apply to the emulator.
#ifdef LINEBENCH_EMULATOR
inline constexpr bool emulatedbuild = true;
#else
inline constexpr bool emulatedbuild = false;
#endif
