// tonemirror-cli scan over WAV and MP3 files made at test time, through the real plug-ins.

#include "mediacodec/MediaFiles.h"
#include "support/RunCli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace mediafiles;
using tonemirror::fakes::CliResult;
using tonemirror::fakes::runCli;

namespace {

class ScanCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new TempFolder;
        const fs::path music = *library_ / "music";
        fs::create_directories(music / "sub");
        ASSERT_TRUE(makeTone(music / "a.wav", {}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music / "sub" / "b.mp3", {"-b:a", "128k"}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music / "c.wav", {}, {1300, 22050, 1, 20}));
        std::ofstream(music / "notes.txt") << "not audio";
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }

    CliResult scan(std::vector<std::string> args) {
        std::vector<std::string> all = {"scan", "--quiet", "--ignore-list",
                                        (scratch_ / "ignores.list").string()};
        all.insert(all.end(), args.begin(), args.end());
        return runCli(all, scratch_.path());
    }
    std::string music() const { return (*library_ / "music").string(); }

    static TempFolder* library_;
    TempFolder scratch_;
};

TempFolder* ScanCommand::library_ = nullptr;

TEST_F(ScanCommand, JsonHoldsEveryFieldOfThePairsAndTheCounters) {
    const CliResult r = scan({"--no-cache", "--format", "json", music()});
    ASSERT_EQ(r.status, 0);
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["pairs"].size(), 1u) << r.out;
    const auto& pair = j["pairs"][0];
    const std::string paths = pair["path1"].get<std::string>() + "|" + pair["path2"].get<std::string>();
    EXPECT_NE(paths.find("a.wav"), std::string::npos);
    EXPECT_NE(paths.find("b.mp3"), std::string::npos);
    EXPECT_GT(pair["contentPercent"].get<double>(), 50.0);
    EXPECT_TRUE(pair.contains("tagsPercent"));
    EXPECT_EQ(pair["experimentalPercent"].get<double>(), -100.0);
    EXPECT_EQ(pair["acousticPercent"].get<double>(), -100.0) << "a steady tone gives no print";
    EXPECT_EQ(j["counters"]["filesQueued"], 3) << "the text file is queued, fails and is taken out";
    EXPECT_EQ(j["counters"]["filesDone"], 3);
    EXPECT_EQ(j["counters"]["pairsFound"], 1);
    EXPECT_FALSE(j["interrupted"].get<bool>());
    ASSERT_EQ(j["counters"]["itemsSkipped"], 1) << "the text file is listed, not lost";
    EXPECT_EQ(j["skipped"][0]["reason"], "not audio, or no decoder reads it");
    EXPECT_NE(j["skipped"][0]["path"].get<std::string>().find("notes.txt"), std::string::npos);
}

// Tones of 20 s are too short for the experimental comparison: the report says so instead of "...".
TEST_F(ScanCommand, ExperimentalScoreThatCannotBeMadeShowsItsReason) {
    const CliResult text = scan({"--no-cache", "--accurate", music()});
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("too short"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("..."), std::string::npos) << text.out;
    const CliResult json = scan({"--no-cache", "--accurate", "--format", "json", music()});
    ASSERT_EQ(json.status, 0);
    const auto j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["pairs"].size(), 1u);
    EXPECT_EQ(j["pairs"][0]["experimentalFailure"], "too short");
}

TEST_F(ScanCommand, CsvAndPlaylistFormats) {
    const CliResult csv = scan({"--no-cache", "--format", "csv", music()});
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(
        csv.out.rfind("path1,path2,contentPercent,tagsPercent,experimentalPercent,acousticPercent\r\n", 0),
        0u);
    EXPECT_NE(csv.out.find("\"" + music()), std::string::npos) << "paths are quoted fields";

    const fs::path playlist = scratch_ / "dups.m3u";
    ASSERT_EQ(scan({"--no-cache", "--format", "m3u", "--output", playlist.string(), music()}).status, 0);
    const auto bytes = readBytes(playlist);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("#EXTM3U\r\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

TEST_F(ScanCommand, CacheFileMakesTheSecondScanReuseTheAnalyses) {
    const fs::path cache = scratch_ / "cache.dat";
    ASSERT_EQ(scan({"--cache", cache.string(), "--format", "json", music()}).status, 0);
    ASSERT_TRUE(fs::exists(cache));
    const auto firstSize = fs::file_size(cache);
    const CliResult again = scan({"--cache", cache.string(), "--format", "json", music()});
    ASSERT_EQ(again.status, 0);
    EXPECT_EQ(fs::file_size(cache), firstSize) << "nothing analysed twice";
    EXPECT_EQ(nlohmann::json::parse(again.out)["counters"]["tracksKnown"], 3);
}

TEST_F(ScanCommand, IgnoredPairIsNotReported) {
    std::ofstream list(scratch_ / "ignores.list", std::ios::binary);
    const std::u16string line =
        u"\uFEFF\"" + tonemirror::os::fromNativePath(*library_ / "music" / "a.wav") + u"\",\"" +
        tonemirror::os::fromNativePath(*library_ / "music" / "sub" / "b.mp3") + u"\"\r\n";
    list.write(reinterpret_cast<const char*>(line.data()), static_cast<std::streamsize>(line.size() * 2));
    list.close();
    const CliResult r = scan({"--no-cache", "--format", "json", music()});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(r.out)["pairs"].empty());
}

// Stepped melodies: a WAV, a late mono MP3 copy of it and another melody.
bool makeMelody(const fs::path& file, const std::string& expression, const std::vector<std::string>& output) {
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v",
                                     "error",  "-y",       "-f",
                                     "lavfi",  "-i",       "aevalsrc=" + expression + ":s=44100:d=25"};
    args.insert(args.end(), output.begin(), output.end());
    args.push_back(file.string());
    return run(args);
}

TEST_F(ScanCommand, VerifyKeepsOnlyPairsWhosePrintsReachTheThreshold) {
    const fs::path folder = scratch_ / "melodies";
    fs::create_directories(folder);
    const std::string rising = "0.3*sin(2*PI*t*262*pow(2\\,floor(mod(t*3\\,8))/6))";
    const std::string other = "0.3*sin(2*PI*t*330*pow(2\\,floor(mod(t*5\\,5))/4))";
    ASSERT_TRUE(makeMelody(folder / "one.wav", rising, {}));
    // Late, mono, at a low rate, and its last 5 s are another tune: it matches the original in part.
    ASSERT_TRUE(makeMelody(folder / "copy.mp3", "if(lt(t\\,20)\\," + rising + "\\," + other + ")",
                           {"-ss", "2", "-ac", "1", "-b:a", "64k"}));
    ASSERT_TRUE(makeMelody(folder / "other.wav", other, {}));

    const CliResult verified = scan({"--no-cache", "--format", "json", "--verify", folder.string()});
    ASSERT_EQ(verified.status, 0);
    const auto j = nlohmann::json::parse(verified.out);
    ASSERT_EQ(j["pairs"].size(), 1u) << verified.out;
    const std::string paths =
        j["pairs"][0]["path1"].get<std::string>() + j["pairs"][0]["path2"].get<std::string>();
    EXPECT_EQ(paths.find("other"), std::string::npos);
    const double acoustic = j["pairs"][0]["acousticPercent"].get<double>();
    EXPECT_GE(acoustic, 50.0);
    ASSERT_LT(acoustic, 95.0) << "the copy's last seconds are another tune";
    const auto above = std::to_string(static_cast<int>(acoustic) + 1);
    const CliResult strict = scan(
        {"--no-cache", "--format", "json", "--verify", "--acoustic-threshold=" + above, folder.string()});
    ASSERT_EQ(strict.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(strict.out)["pairs"].empty()) << strict.out;
}

TEST_F(ScanCommand, UsageErrorsAndFailuresHaveTheirExitStatus) {
    EXPECT_EQ(scan({}).status, 2) << "no folder";
    EXPECT_EQ(scan({"--method", "sound", music()}).status, 2);
    EXPECT_EQ(scan({"--content-threshold", "101", music()}).status, 2);
    EXPECT_EQ(scan({"--tags-threshold", "7x", music()}).status, 2);
    EXPECT_EQ(scan({"--verify", "--acoustic-threshold", "-1", music()}).status, 2);
    EXPECT_EQ(scan({"--format", "xml", music()}).status, 2);
    EXPECT_EQ(scan({"--cache", "x", "--no-cache", music()}).status, 2);
    EXPECT_EQ(scan({"--no-cache", (scratch_ / "missing").string()}).status, 1);
    EXPECT_EQ(
        scan({"--no-cache", "--output", (scratch_ / "no" / "such" / "dir.txt").string(), music()}).status, 1);
}

} // namespace
