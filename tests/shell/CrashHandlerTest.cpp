#include "shell/CrashHandler.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tonemirror::shell::formatCrashReportName;
using tonemirror::shell::kCrashReportNameSize;

std::string reportName(std::int64_t seconds) {
    char name[kCrashReportNameSize];
    formatCrashReportName(seconds, name);
    return name;
}

TEST(CrashReportName, FollowsUtcTime) {
    EXPECT_EQ(reportName(1262303999), "crash_091231235959.dmp"); // 2009-12-31 23:59:59
    EXPECT_EQ(reportName(1709208000), "crash_240229120000.dmp"); // leap day
    EXPECT_EQ(reportName(946684800), "crash_000101000000.dmp");  // 2000-01-01
    EXPECT_EQ(reportName(0), "crash_700101000000.dmp");

    // Agrees with the C library over a wide spread of times.
    std::mt19937_64 random(11);
    for (int i = 0; i < 2000; ++i) {
        const auto seconds = static_cast<std::time_t>(random() % 8000000000ULL);
        std::tm utc{};
        ASSERT_NE(gmtime_r(&seconds, &utc), nullptr);
        char expected[64];
        std::snprintf(expected, sizeof(expected), "crash_%02d%02d%02d%02d%02d%02d.dmp",
                      (utc.tm_year + 1900) % 100, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                      utc.tm_sec);
        ASSERT_EQ(reportName(seconds), expected) << seconds;
    }
}

// The clock the handler names its report by. std::time may read a coarser clock that is still on the
// previous second when the handler's has moved on.
std::time_t realtimeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

struct HelperRun {
    int signal = 0; // the signal that ended the helper, 0 when it exited
    std::string output;
    std::time_t started = 0;
    std::time_t ended = 0;
};

// Runs the helper with the sanitizer runtime's own fatal-signal handling switched off, so only the
// handler under test is involved.
HelperRun runHelper(const fs::path& program, const fs::path& userData, const std::string& mode) {
    std::vector<std::string> environment;
    std::string asan = "ASAN_OPTIONS=";
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.starts_with("ASAN_OPTIONS=")) {
            asan = entry + ":";
        } else {
            environment.push_back(entry);
        }
    }
    environment.push_back(asan +
                          "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
                          "detect_leaks=0:abort_on_error=0");
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string helper = CRASH_HELPER;
    std::string programArg = program.string();
    std::string userArg = userData.string();
    std::string modeArg = mode;
    char* argv[] = {helper.data(), programArg.data(), userArg.data(), modeArg.data(), nullptr};

    int out[2];
    HelperRun run;
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    run.started = realtimeSeconds();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[256];
    for (ssize_t got; (got = read(out[0], buffer, sizeof(buffer))) > 0;) {
        run.output.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.ended = realtimeSeconds();
    if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    } else {
        ADD_FAILURE() << mode << ": helper exited with " << WEXITSTATUS(status);
    }
    return run;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        files.push_back(it->path());
    }
    return files;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("tm-crash-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "program");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(root_ / "program", fs::perms::owner_all, ignored);
        fs::remove_all(root_);
    }

    // A program folder nobody can write to. Permissions do not stop root, whose test uses a folder of
    // a file system that never accepts new files.
    fs::path unwritableProgramFolder() {
        if (geteuid() == 0) {
            return "/proc";
        }
        fs::permissions(root_ / "program", fs::perms::owner_read | fs::perms::owner_exec);
        return root_ / "program";
    }

    // The single report in the folder, checked against the time the helper ran.
    std::string onlyReport(const fs::path& folder, const HelperRun& run) {
        const auto files = filesIn(folder);
        if (files.size() != 1) {
            ADD_FAILURE() << files.size() << " files in " << folder;
            return {};
        }
        bool named = false;
        for (std::time_t t = run.started; t <= run.ended; ++t) {
            named = named || files[0].filename() == reportName(t);
        }
        EXPECT_TRUE(named) << files[0];
        return readFile(files[0]);
    }

    fs::path root_;
};

struct CrashCase {
    const char* mode;
    int signal;
    const char* name;
};

class CrashModeTest : public CrashHandlerTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(CrashModeTest, WritesReportAndEndsWithTheSignal) {
    const auto& c = GetParam();
    const HelperRun run = runHelper(root_ / "program", root_ / "data" / "Tonemirror", c.mode);
    EXPECT_EQ(run.signal, c.signal);
    const std::string report = onlyReport(root_ / "program", run);
    EXPECT_FALSE(fs::exists(root_ / "data"));

    EXPECT_NE(report.find("signal: " + std::to_string(c.signal) + " (" + c.name + ")\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("\nthread: "), std::string::npos);
    const auto trace = report.find("\nbacktrace:\n");
    const auto map = report.find("\nmemory map:\n");
    ASSERT_NE(trace, std::string::npos);
    ASSERT_NE(map, std::string::npos);
    ASSERT_LT(trace, map);
    EXPECT_NE(report.find("[0x", trace), std::string::npos) << "no frames";
    EXPECT_NE(report.find("crash_helper", map), std::string::npos) << "memory map lacks the program";
    EXPECT_NE(report.find("[stack]", map), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CrashModeTest,
    ::testing::Values(CrashCase{"segv", SIGSEGV, "SIGSEGV"}, CrashCase{"abort", SIGABRT, "SIGABRT"},
                      CrashCase{"ill", SIGILL, "SIGILL"}, CrashCase{"fpe", SIGFPE, "SIGFPE"},
                      CrashCase{"bus", SIGBUS, "SIGBUS"}, CrashCase{"overflow", SIGSEGV, "SIGSEGV"}),
    [](const auto& p) { return std::string(p.param.mode); });

TEST_F(CrashHandlerTest, ReportsFaultingAddressAndThread) {
    const HelperRun run = runHelper(root_ / "program", root_ / "data", "thread");
    EXPECT_EQ(run.signal, SIGSEGV);
    const std::string report = onlyReport(root_ / "program", run);
    std::string address = run.output.substr(0, run.output.find('\n'));
    ASSERT_FALSE(address.empty());
    EXPECT_NE(report.find("\naddress: " + address + "\n"), std::string::npos) << address << "\n" << report;

    // The failing thread is not the main one.
    const auto process = report.find("\nprocess: ");
    const auto thread = report.find("\nthread: ");
    ASSERT_NE(process, std::string::npos);
    ASSERT_NE(thread, std::string::npos);
    const long pid = std::stol(report.substr(process + 10));
    const long tid = std::stol(report.substr(thread + 9));
    EXPECT_GT(tid, 0);
    EXPECT_NE(pid, tid);
}

TEST_F(CrashHandlerTest, FallsBackToUserDataFolder) {
    const fs::path userData = root_ / "home" / ".local" / "share" / "Tonemirror"; // none of it exists yet
    const HelperRun run = runHelper(unwritableProgramFolder(), userData, "segv");
    EXPECT_EQ(run.signal, SIGSEGV);
    EXPECT_TRUE(filesIn(root_ / "program").empty());
    const std::string report = onlyReport(userData, run);
    EXPECT_TRUE(report.starts_with("Tonemirror ")) << report.substr(0, 80);
}

TEST_F(CrashHandlerTest, ALinkPlantedUnderTheReportsNameIsNotWrittenThrough) {
    const fs::path victim = root_ / "victim.txt";
    std::ofstream(victim) << "keep me";
    // Every name the report could take while the helper runs points at the victim.
    const std::time_t now = realtimeSeconds();
    for (std::time_t t = now - 1; t <= now + 120; ++t) {
        fs::create_symlink(victim, root_ / "program" / reportName(t));
    }
    const fs::path userData = root_ / "data";
    const HelperRun run = runHelper(root_ / "program", userData, "segv");
    EXPECT_EQ(run.signal, SIGSEGV);
    EXPECT_EQ(readFile(victim), "keep me");
    const std::string report = onlyReport(userData, run);
    EXPECT_TRUE(report.starts_with("Tonemirror ")) << report.substr(0, 80);
    EXPECT_FALSE(fs::is_symlink(filesIn(userData).at(0)));
}

TEST_F(CrashHandlerTest, NowhereToWriteStillEndsTheProcess) {
    std::ofstream(root_ / "file") << "not a folder";
    const HelperRun run = runHelper(unwritableProgramFolder(), root_ / "file" / "Tonemirror", "abort");
    EXPECT_EQ(run.signal, SIGABRT);
    EXPECT_TRUE(filesIn(root_ / "program").empty());
}

} // namespace
