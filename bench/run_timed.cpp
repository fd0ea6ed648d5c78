// SPDX-License-Identifier: GPL-3.0-or-later
// Runs one command and writes its wall time (monotonic clock) and its CPU time (user + system)
// in nanoseconds, and its peak resident memory in KiB, to a file; the command keeps the caller's
// standard streams. Shell clocks (date, $EPOCHREALTIME) follow the wall clock, which may step
// during a benchmark; CPU time stays meaningful when other processes share the cores.
//
//   run_timed NS_FILE COMMAND [ARG...]      NS_FILE gets "WALL_NS CPU_NS MAXRSS_KIB"
// Exits with the command's status (128 + signal when it was killed).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_timed NS_FILE COMMAND [ARG...]\n");
        return 2;
    }
    const long long start = NowNs();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("run_timed: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "run_timed: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("run_timed: wait4");
            return 2;
        }
    }
    const long long elapsed = NowNs() - start;

    FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "run_timed: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    const auto ns = [](const timeval& t) {
        return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_usec * 1000LL;
    };
    std::fprintf(out, "%lld %lld %ld\n", elapsed, ns(usage.ru_utime) + ns(usage.ru_stime),
                 usage.ru_maxrss);
    std::fclose(out);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
