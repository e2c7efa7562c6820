#include "process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Moves what is readable on fd into sink; false once the pipe is closed.
bool drain(int fd, std::string &sink)
{
    char chunk[65536];
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
        sink.append(chunk, static_cast<size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;
}

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

runresult runprogram(const std::string &program, const std::vector<std::string> &args,
                     const runoptions &options)
{
    runresult result;
    const passwd *user = nullptr;
    if (!options.runasuser.empty() && (user = getpwnam(options.runasuser.c_str())) == nullptr) {
        result.err = "runprogram: no user " + options.runasuser + "\n";
        return result;
    }
    int outpipe[2], errpipe[2];
    if (pipe2(outpipe, O_CLOEXEC) != 0 || pipe2(errpipe, O_CLOEXEC) != 0)
        return result;

    pid_t pid = fork();
    if (pid == 0) {
        if (options.stdoutpath.empty())
            dup2(outpipe[1], STDOUT_FILENO);
        else {
            int fd = open(options.stdoutpath.c_str(), O_WRONLY);
            dup2(fd, STDOUT_FILENO);
        }
        dup2(errpipe[1], STDERR_FILENO);
        if (options.datalimit != 0) {
            rlimit limit{options.datalimit, options.datalimit};
            setrlimit(RLIMIT_DATA, &limit);
        }
        for (const std::string &entry : options.environment)
            putenv(const_cast<char *>(entry.c_str()));
        if (user != nullptr &&
            (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0))
            _exit(126);
        const char *path = program.c_str();
        std::vector<char *> argv;
#ifdef LINEBENCH_EMULATOR
        // The emulator's own words, its -0 for the program's argv[0], then
        // the program and its arguments.  An emulated program always has an
        // argv[0]: an empty one stands for none.
        static const char *const emulator[] = {LINEBENCH_EMULATOR};
        path = emulator[0];
        for (const char *word : emulator)
            argv.push_back(const_cast<char *>(word));
        std::string argv0 = args.empty() || options.emptyargv ? "" : args[0];
        argv.push_back(const_cast<char *>("-0"));
        argv.push_back(argv0.data());
        argv.push_back(const_cast<char *>(program.c_str()));
        for (std::size_t i = 1; i < args.size() && !options.emptyargv; ++i)
            argv.push_back(const_cast<char *>(args[i].c_str()));
#else
        if (!options.emptyargv)
            for (const std::string &arg : args)
                argv.push_back(const_cast<char *>(arg.c_str()));
#endif
        argv.push_back(nullptr);
        execv(path, argv.data());
        _exit(127);
    }
    close(outpipe[1]);
    close(errpipe[1]);

    bool outopen = true, erropen = true, acted = false;
    double deadline = now() + options.timeoutseconds;
    while (outopen || erropen) {
        pollfd fds[2] = {{outopen ? outpipe[0] : -1, POLLIN, 0}, {erropen ? errpipe[0] : -1, POLLIN, 0}};
        int left = static_cast<int>((deadline - now()) * 1000);
        if (left <= 0) {
            result.timedout = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, left) < 0)
            continue;
        if (outopen && (fds[0].revents & (POLLIN | POLLHUP))) {
            outopen = drain(outpipe[0], result.out);
            if (options.then && !acted && result.out.find(options.whenout) != std::string::npos) {
                acted = true;
                options.then(pid);
            }
        }
        if (erropen && (fds[1].revents & (POLLIN | POLLHUP)))
            erropen = drain(errpipe[0], result.err);
    }
    close(outpipe[0]);
    close(errpipe[0]);

    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
#ifdef LINEBENCH_EMULATOR
    // The emulator's own line on a deadly signal is no output of the program.
    static const std::string emulatornote = "qemu: uncaught target signal ";
    std::size_t note = result.err.rfind(emulatornote);
    if (result.signal != 0 && note != std::string::npos && (note == 0 || result.err[note - 1] == '\n'))
        result.err.erase(note);
#endif
    return result;
}

scratchdir::scratchdir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr ? base : "/tmp") + "/linebench-test-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr)
        dir = buffer.data();
}

scratchdir::~scratchdir()
{
    if (dir.empty())
        return;
    std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

std::string scratchdir::write(const std::string &name, const std::string &bytes) const
{
    std::string file = path(name);
    FILE *stream = std::fopen(file.c_str(), "wb");
    if (stream != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        std::fclose(stream);
    }
    return file;
}
