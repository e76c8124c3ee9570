// tonemirror-cli tags get/set against the plug-ins built beside it.

#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

using namespace mediafiles;

namespace {

struct CliResult {
    int status = -1;
    std::string out;
};

CliResult cli(const std::vector<std::string>& args, const TempFolder& folder) {
    std::vector<std::string> argv = {(tonemirror::os::programFolder() / "tonemirror-cli").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    const fs::path outFile = folder / "cli.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    CliResult r;
    pid_t pid = 0;
    if (::posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto bytes = readBytes(outFile);
    r.out.assign(bytes.begin(), bytes.end());
    fs::remove(outFile);
    return r;
}

class CliTags : public testing::TestWithParam<const char*> {};

TEST_P(CliTags, SetThenGetRoundTrips) {
    TempFolder folder;
    const fs::path file = folder / (std::string("song.") + GetParam());
    ASSERT_TRUE(makeTone(file, {}, {440, 44100, 1, 0.5}));
    const CliResult set = cli({"tags", "set", file.string(), "--title", "Über", "--artist", "A", "--album",
                               "B", "--year", "2020", "--track", "3", "--comment", "C", "--genre", "Jazz"},
                              folder);
    ASSERT_EQ(set.status, 0);
    const CliResult get = cli({"tags", "get", file.string()}, folder);
    ASSERT_EQ(get.status, 0);
    const auto j = nlohmann::json::parse(get.out);
    EXPECT_EQ(j["plugin"], "mediacodec");
    const nlohmann::json expected = {{"title", "Über"}, {"artist", "A"},  {"album", "B"},   {"year", "2020"},
                                     {"track", "3"},    {"comment", "C"}, {"genre", "Jazz"}};
    EXPECT_EQ(j["tags"], expected);
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, CliTags, testing::Values("mp3", "flac", "m4a", "wma"));

TEST(CliTagsErrors, UsageAndFailuresHaveTheirExitStatus) {
    TempFolder folder;
    const fs::path file = folder / "song.ogg";
    ASSERT_TRUE(makeTone(file, {"-c:a", "libvorbis"}, {440, 44100, 1, 0.5}));
    EXPECT_EQ(cli({"tags"}, folder).status, 2);
    EXPECT_EQ(cli({"tags", "get"}, folder).status, 2);
    EXPECT_EQ(cli({"tags", "set", file.string()}, folder).status, 2);
    EXPECT_EQ(cli({"tags", "set", file.string(), "--mood", "x"}, folder).status, 2);
    EXPECT_EQ(cli({"tags", "set", file.string(), "--title"}, folder).status, 2);
    EXPECT_EQ(cli({"tags", "get", (folder / "missing.ogg").string()}, folder).status, 1);
    writeBytes(folder / "notes.ogg", {'n', 'o', 't', 'e'});
    EXPECT_EQ(cli({"tags", "set", (folder / "notes.ogg").string(), "--title", "x"}, folder).status, 1);
    const CliResult get = cli({"tags", "get", file.string()}, folder);
    ASSERT_EQ(get.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(get.out)["tags"]["genre"].is_null());
}

} // namespace
