// tonemirror-cli resolve and undo over files made at test time, through the real plug-ins. The
// clean-up journal goes to the test's own data folder.

#include "mediacodec/MediaFiles.h"
#include "support/FileContents.h"
#include "support/RunCli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>

using namespace mediafiles;
using tonemirror::fakes::CliResult;
using tonemirror::fakes::readText;
using tonemirror::fakes::runCli;

namespace {

// One song four times: a WAV, an MP3 below a subfolder, a FLAC, and an MP3 in a reference folder.
class ResolveCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_DATA_HOME", (scratch_ / "data").c_str(), 1);
        fs::create_directories(music() / "sub");
        fs::create_directories(reference());
        ASSERT_TRUE(makeTone(music() / "a.wav", {}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music() / "sub" / "b.mp3", {"-b:a", "128k"}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music() / "d.flac", {}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(reference() / "c.mp3", {"-b:a", "64k"}, {440, 44100, 2, 20}));
        for (const auto& p : fs::recursive_directory_iterator(library_.path())) {
            if (p.is_regular_file()) {
                // An old time, so a restored one is told from a new one.
                fs::last_write_time(p.path(), fs::last_write_time(p.path()) - std::chrono::hours(24 * 400));
                before_[p.path()] = {readText(p.path()), fs::last_write_time(p.path())};
            }
        }
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    CliResult cli(std::vector<std::string> args) { return runCli(args, scratch_.path()); }
    fs::path music() const { return library_ / "music"; }
    fs::path reference() const { return library_ / "reference"; }

    // Every file of the library as it was made: same bytes, same modification time.
    void expectLibraryAsMade() {
        for (const auto& [path, state] : before_) {
            ASSERT_TRUE(fs::exists(path)) << path;
            EXPECT_EQ(readText(path), state.first) << path;
            EXPECT_EQ(fs::last_write_time(path), state.second) << path;
        }
    }

    TempFolder library_;
    TempFolder scratch_;
    std::map<fs::path, std::pair<std::string, fs::file_time_type>> before_;
};

TEST_F(ResolveCommand, PlanKeepsTheBestCopyAndChangesNothing) {
    const CliResult r = cli({"resolve", "--format", "json", music().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["groups"].size(), 1u);
    const auto& g = j["groups"][0];
    // Both lossless; the WAV has the higher bit rate.
    EXPECT_EQ(g["keep"], (music() / "a.wav").string());
    EXPECT_EQ(g["reason"], "higher bit rate");
    EXPECT_EQ(g["mark"],
              nlohmann::json::array({(music() / "d.flac").string(), (music() / "sub" / "b.mp3").string()}));
    expectLibraryAsMade();

    const CliResult text = cli({"resolve", music().string()});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("2 file(s) in 1 group(s) would be marked"), std::string::npos) << text.out;
}

// A FLAC decoded from a 128 kbit/s MP3 ends near 16 kHz, above what the fingerprint's 22050 Hz
// samples show: measured at the file's own rate, it is no longer kept as lossless.
TEST_F(ResolveCommand, AFlacMadeFromAnMp3IsProbablyTranscoded) {
    const fs::path noise = library_ / "noise";
    fs::create_directories(noise);
    const std::vector<std::string> source = {
        "ffmpeg", "-nostdin", "-v",
        "error",  "-y",       "-f",
        "lavfi",  "-i",       "anoisesrc=color=pink:amplitude=0.3:seed=7:r=44100:d=20"};
    auto make = [&](std::vector<std::string> args, const fs::path& out) {
        args.push_back(out.string());
        return run(args);
    };
    auto withOutput = [&](std::vector<std::string> out) {
        std::vector<std::string> args = source;
        args.insert(args.end(), out.begin(), out.end());
        return args;
    };
    ASSERT_TRUE(make(withOutput({"-ac", "2", "-b:a", "128k"}), noise / "bought.mp3"));
    ASSERT_TRUE(make(withOutput({"-ac", "2"}), noise / "honest.flac"));
    ASSERT_TRUE(make({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", (noise / "bought.mp3").string()},
                     noise / "made.flac"));
    const CliResult r = cli({"resolve", "--keep", "lossless,bitrate", noise.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("keep " + (noise / "honest.flac").string() + "\n  (lossless; flac, lossless,"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find((noise / "made.flac").string() + "\n    (flac, lossless (probably transcoded)"),
              std::string::npos)
        << r.out;
}

TEST_F(ResolveCommand, ReferenceCopyIsKeptAndNeverMarked) {
    const CliResult r =
        cli({"resolve", "--format", "json", "--reference", reference().string(), music().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto g = nlohmann::json::parse(r.out)["groups"][0];
    EXPECT_EQ(g["keep"], (reference() / "c.mp3").string());
    EXPECT_EQ(g["reason"], "in a reference folder");
    EXPECT_EQ(g["mark"].size(), 3u);
    // Rules that put bit rate first keep the WAV; the reference file still stays unmarked.
    const CliResult byRate = cli({"resolve", "--format", "json", "--keep", "bitrate,lossless", "--reference",
                                  reference().string(), music().string()});
    const auto h = nlohmann::json::parse(byRate.out)["groups"][0];
    EXPECT_EQ(h["keep"], (music() / "a.wav").string());
    for (const auto& m : h["mark"]) {
        EXPECT_EQ(m.get<std::string>().find(reference().string()), std::string::npos);
    }
}

TEST_F(ResolveCommand, MovedFilesKeepTheirPathsAndUndoPutsThemBack) {
    const fs::path aside = scratch_ / "aside";
    const CliResult r = cli({"resolve", "--action", "move=" + aside.string(), "--apply", music().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(aside / "sub" / "b.mp3"));
    EXPECT_TRUE(fs::exists(aside / "d.flac"));
    EXPECT_FALSE(fs::exists(music() / "sub" / "b.mp3"));
    EXPECT_TRUE(fs::exists(music() / "a.wav"));

    const CliResult undo = cli({"undo"});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_NE(undo.out.find("2 file(s) put back"), std::string::npos) << undo.out;
    expectLibraryAsMade();
    EXPECT_EQ(cli({"undo"}).status, 1); // nothing left to undo
}

TEST_F(ResolveCommand, TrashedAndLinkedFilesComeBackByteForByte) {
    const CliResult trashed = cli({"resolve", "--apply", music().string()});
    ASSERT_EQ(trashed.status, 0) << trashed.err;
    EXPECT_FALSE(fs::exists(music() / "d.flac"));
    EXPECT_TRUE(fs::exists(scratch_ / "data" / "Trash" / "info" / "d.flac.trashinfo"));
    ASSERT_EQ(cli({"undo"}).status, 0);
    expectLibraryAsMade();

    const CliResult linked = cli({"resolve", "--action", "link", "--apply", music().string()});
    ASSERT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::equivalent(music() / "d.flac", music() / "a.wav"));
    EXPECT_TRUE(fs::equivalent(music() / "sub" / "b.mp3", music() / "a.wav"));
    const CliResult undo = cli({"undo"});
    ASSERT_EQ(undo.status, 0) << undo.err;
    expectLibraryAsMade();
    EXPECT_FALSE(fs::equivalent(music() / "d.flac", music() / "a.wav"));
}

TEST_F(ResolveCommand, UndoRefusesATakenPlaceAndPutsBackTheRest) {
    const fs::path aside = scratch_ / "aside";
    ASSERT_EQ(cli({"resolve", "--action", "move=" + aside.string(), "--apply", music().string()}).status, 0);
    tonemirror::fakes::writeText(music() / "d.flac", "a new file in its place");
    const CliResult undo = cli({"undo"});
    EXPECT_EQ(undo.status, 1);
    EXPECT_NE(undo.err.find("d.flac': its original place is taken"), std::string::npos) << undo.err;
    EXPECT_EQ(readText(music() / "d.flac"), "a new file in its place");
    EXPECT_TRUE(fs::exists(aside / "d.flac"));
    EXPECT_EQ(readText(music() / "sub" / "b.mp3"), before_[music() / "sub" / "b.mp3"].first);
}

TEST_F(ResolveCommand, UsageErrorsAndFailuresHaveTheirExitStatus) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"resolve"},
                                                 {"resolve", "--keep", "loudest", music().string()},
                                                 {"resolve", "--keep", "bitrate,bitrate", music().string()},
                                                 {"resolve", "--action", "shred", music().string()},
                                                 {"resolve", "--format", "csv", music().string()},
                                                 {"resolve", "--apply", "--bogus", music().string()},
                                                 {"undo", "now"}}) {
        EXPECT_EQ(cli(args).status, 2) << args[1];
    }
    EXPECT_EQ(cli({"resolve", (music() / "a.wav").string()}).status, 1); // not a folder
    const CliResult help = cli({"resolve", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--reference=DIR"), std::string::npos);
    expectLibraryAsMade();
}

} // namespace
