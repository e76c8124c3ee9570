#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace tonemirror::fakes {

// How far the resident memory of a child process running `work` rose above what it held at the
// start, in mebibytes (a fork, so the test process' own peak does not hide it); nullopt when the
// child could not run or `work` returned false. Keep `work` free of threads.
inline std::optional<long> peakGrowthMiB(const std::function<bool()>& work) {
    int out[2];
    if (pipe(out) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        const bool ok = work();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const long grown = ok ? (after.ru_maxrss - before.ru_maxrss) / 1024 : -1;
        const bool sent = write(out[1], &grown, sizeof grown) == sizeof grown;
        _exit(sent ? 0 : 1);
    }
    close(out[1]);
    long grown = -1;
    const bool got = child > 0 && read(out[0], &grown, sizeof grown) == sizeof grown;
    close(out[0]);
    int status = 0;
    if (child > 0) {
        waitpid(child, &status, 0);
    }
    if (!got || grown < 0) {
        return std::nullopt;
    }
    return grown;
}

} // namespace tonemirror::fakes
