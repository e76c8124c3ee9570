#pragma once

// Runs the tonemirror-cli built beside the test, with its standard output and error captured.

#include "platform/os/Paths.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace tonemirror::fakes {

struct CliResult {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
    double seconds = 0.0;   // how long it ran
    long maxResidentKb = 0; // the largest memory it held
};

struct CliRun {
    std::vector<std::string> args;
    std::filesystem::path scratch; // a folder of the test's where the output is collected
    // Standard output: captured (empty), closed ("-"), or this file, e.g. /dev/full (not captured).
    std::string stdoutTo;
    std::string stdinFrom = "/dev/null";
    double timeoutSeconds = 600;     // then the program is killed and the status is -1
    std::filesystem::path program{}; // another copy of the program; empty: the one beside the test
};

// A running program; finish() waits for it.
struct CliProcess {
    pid_t pid = -1;
    CliRun run;
    std::chrono::steady_clock::time_point started;
};

inline std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    return s;
}

inline CliProcess startCli(const CliRun& run) {
    std::vector<std::string> argv = {
        (run.program.empty() ? os::programFolder() / "tonemirror-cli" : run.program).string()};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    std::vector<char*> raw;
    for (auto& a : argv) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    const std::filesystem::path outFile = run.scratch / "cli.out";
    const std::filesystem::path errFile = run.scratch / "cli.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, run.stdinFrom.c_str(), O_RDONLY, 0);
    if (run.stdoutTo.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else if (run.stdoutTo == "-") {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, run.stdoutTo.c_str(), O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    CliProcess p{-1, run, std::chrono::steady_clock::now()};
    if (::posix_spawn(&p.pid, raw[0], &actions, nullptr, raw.data(), environ) != 0) {
        p.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return p;
}

inline CliResult finishCli(const CliProcess& p) {
    const CliRun& run = p.run;
    const std::filesystem::path outFile = run.scratch / "cli.out";
    const std::filesystem::path errFile = run.scratch / "cli.err";
    CliResult r;
    if (p.pid > 0) {
        int status = 0;
        struct rusage usage {};
        const auto deadline = p.started + std::chrono::duration<double>(run.timeoutSeconds);
        while (::wait4(p.pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(p.pid, SIGKILL);
                ::wait4(p.pid, &status, 0, &usage);
                break;
            }
            ::usleep(2000);
        }
        r.maxResidentKb = usage.ru_maxrss;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - p.started).count();
    if (run.stdoutTo.empty()) {
        r.out = slurp(outFile);
    }
    r.err = slurp(errFile);
    return r;
}

inline CliResult runCli(const CliRun& run) {
    return finishCli(startCli(run));
}

inline CliResult runCli(const std::vector<std::string>& args, const std::filesystem::path& scratch) {
    CliRun run;
    run.args = args;
    run.scratch = scratch;
    return runCli(run);
}

} // namespace tonemirror::fakes
