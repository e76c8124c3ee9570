// tonemirror-cli tags get/set against the plug-ins built beside it.

#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"
#include "support/RunCli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace mediafiles;
using tonemirror::fakes::CliResult;

namespace {

CliResult cli(const std::vector<std::string>& args, const TempFolder& folder) {
    return tonemirror::fakes::runCli(args, folder.path());
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

INSTANTIATE_TEST_SUITE_P(Mediacodec, CliTags, testing::Values("mp3", "flac", "m4a", "wma"),
                         [](const auto& p) { return std::string(p.param); });

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

// A refusal says what happened and why in words; no result code reaches the user.
TEST(CliTagsErrors, RefusalsNameTheirCauseInWords) {
    TempFolder folder;
    const fs::path file = folder / "song.mp3";
    ASSERT_TRUE(makeTone(folder / "song.wav", {}, {440, 44100, 1, 0.5}));
    fs::rename(folder / "song.wav", file);
    const CliResult values = cli({"tags", "set", file.string(), "--track", "abc", "--year", "hello"}, folder);
    EXPECT_EQ(values.status, 1);
    EXPECT_NE(values.err.find("cannot store the track: a track must be a number"), std::string::npos)
        << values.err;
    EXPECT_NE(values.err.find("cannot store the year: a year must be written as 2021"), std::string::npos);
    const CliResult mismatch = cli({"tags", "set", file.string(), "--title", "x"}, folder);
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_NE(mismatch.err.find("content is another format than its name says; the file is unchanged"),
              std::string::npos)
        << mismatch.err;
    for (const auto& err : {values.err, mismatch.err}) {
        EXPECT_EQ(err.find("0x"), std::string::npos) << err;
        EXPECT_EQ(err.find("E_"), std::string::npos) << err;
    }
}

} // namespace
