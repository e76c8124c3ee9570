// tonemirror-cli --help, --version and usage errors: exit statuses, which stream, the shape users know
// from GNU tools; and the option facts the help rests on (values that look like options, "--opt=value").

#include "cli/HelpText.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"
#include "tonemirror/Version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char** environ;

using namespace mediafiles;
using tonemirror::cli::Args;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

CliRun runCli(const std::vector<std::string>& args, const fs::path& scratch) {
    std::vector<std::string> argv = {(tonemirror::os::programFolder() / "tonemirror-cli").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    CliRun r;
    pid_t pid = 0;
    if (posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto text = [&](const char* name) {
        const auto bytes = readBytes(scratch / name);
        return std::string(bytes.begin(), bytes.end());
    };
    r.out = text("out");
    r.err = text("err");
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

struct Case {
    std::vector<std::string> args;
    int status;
    std::string outStart; // expected start of stdout ("" = stdout empty)
    std::string errEnd;   // expected end of stderr ("" = stderr empty, "*" = not checked)
};

const std::string kTry = "Try 'tonemirror-cli --help' for more information.\n";
const std::string kTryScan = "Try 'tonemirror-cli scan --help' for more information.\n";

class CliHelp : public ::testing::TestWithParam<Case> {
protected:
    TempFolder scratch_;
};

TEST_P(CliHelp, StatusAndStreams) {
    const Case& c = GetParam();
    const CliRun r = runCli(c.args, scratch_.path());
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.outStart.empty()) {
        EXPECT_EQ(r.out, "");
    } else {
        EXPECT_EQ(r.out.rfind(c.outStart, 0), 0u) << r.out;
    }
    if (c.errEnd.empty()) {
        EXPECT_EQ(r.err, "");
    } else if (c.errEnd != "*") {
        ASSERT_GE(r.err.size(), c.errEnd.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - c.errEnd.size()), c.errEnd) << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliHelp,
    ::testing::Values(
        Case{{"--help"}, 0, "Usage: tonemirror-cli COMMAND [OPTION]...", ""},
        Case{{"-h"}, 0, "Usage: tonemirror-cli COMMAND", ""},
        Case{{"help"}, 0, "Usage: tonemirror-cli COMMAND", ""},
        Case{{"--version"}, 0, "tonemirror-cli (Tonemirror) " TONEMIRROR_VERSION_STRING "\n", ""},
        Case{{}, 2, "", "missing command\n" + kTry},
        Case{{"bogus"}, 2, "", "unknown command 'bogus'\n" + kTry},
        Case{{"--bogus"}, 2, "", "unknown option '--bogus'\n" + kTry},
        Case{{"help", "tags"}, 0, "Usage: tonemirror-cli tags get FILE\n  or:  tonemirror-cli tags set", ""},
        // --help anywhere among the options, but not as an option's value nor after "--".
        Case{{"scan", "/no/such/folder", "--help"}, 0, "Usage: tonemirror-cli scan [OPTION]...", ""},
        Case{{"scan", "--output", "--help", "/no/such/folder"}, 1, "", "*"},
        Case{{"scan", "--method=sound", "/tmp"}, 2, "", kTryScan},
        Case{{"scan", "--threads=0", "/tmp"}, 2, "", kTryScan}));

TEST(CliHelpText, EveryListedCommandHasItsOwnHelpInTheSameShape) {
    TempFolder scratch;
    const CliRun program = runCli({"--help"}, scratch.path());
    ASSERT_EQ(program.status, 0);
    std::vector<std::string> names;
    bool inCommands = false;
    for (const std::string& line : lines(program.out)) {
        EXPECT_LE(line.size(), 79u) << line;
        if (line == "Commands:") {
            inCommands = true;
        } else if (inCommands && line.empty()) {
            inCommands = false;
        } else if (inCommands) {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    ASSERT_EQ(names.size(), 10u) << program.out;
    for (const std::string& name : names) {
        const CliRun r = runCli({name, "--help"}, scratch.path());
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.err, "") << name;
        const auto text = lines(r.out);
        ASSERT_GE(text.size(), 4u) << name;
        EXPECT_EQ(text[0].rfind("Usage: tonemirror-cli " + name, 0), 0u) << text[0];
        EXPECT_EQ(text.back(), "  -h, --help                 display this help and exit") << name;
        for (const std::string& line : text) {
            EXPECT_LE(line.size(), 79u) << name << ": " << line;
        }
    }
}

TEST(CliHelpText, AnOptionValueGivenWithAnEqualsSignReachesTheCommand) {
    TempFolder scratch;
    const fs::path cache = scratch / "elsewhere.dat";
    const CliRun r = runCli({"cache", "stats", "--cache=" + cache.string()}, scratch.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).at(0), "location: " + cache.string());
}

struct SplitCase {
    const char* command;
    Args given;
    Args expected;
    bool help;
};

class OptionValues : public ::testing::TestWithParam<SplitCase> {};

TEST_P(OptionValues, SplitAndHelp) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(tonemirror::cli::splitOptionValues(c.command, c.given), c.expected);
    EXPECT_EQ(tonemirror::cli::wantsHelp(c.command, c.given), c.help);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionValues,
    ::testing::Values(SplitCase{"scan", {"--output=a=b.json", "dir"}, {"--output", "a=b.json", "dir"}, false},
                      SplitCase{"scan", {"--cache="}, {"--cache", ""}, false},
                      SplitCase{"scan", {"--quiet=yes"}, {"--quiet=yes"}, false}, // takes no value
                      SplitCase{"scan", {"-o", "--help"}, {"-o", "--help"}, false},
                      SplitCase{
                          "scan", {"--output", "--cache=x", "-h"}, {"--output", "--cache=x", "-h"}, true},
                      SplitCase{"scan", {"--", "--output=x", "-h"}, {"--", "--output=x", "-h"}, false},
                      SplitCase{"tags", {"set", "f", "--title", "-h"}, {"set", "f", "--title", "-h"}, false},
                      SplitCase{"tags", {"set", "f", "--title=-h"}, {"set", "f", "--title", "-h"}, false},
                      SplitCase{"decode", {"in.mp3", "--help"}, {"in.mp3", "--help"}, true},
                      SplitCase{"nosuch", {"--output=x"}, {"--output=x"}, false}));

} // namespace
