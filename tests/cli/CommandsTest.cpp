// tonemirror-cli info, decode, fingerprint, compare, cache and ignore over files made at test time,
// through the real plug-ins: what each writes, its exit status and the words of its errors.

#include "engine/StorageLocations.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/LockedFile.h"
#include "support/RunCli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

using namespace mediafiles;
using tonemirror::fakes::CliResult;
using tonemirror::fakes::CliRun;
using tonemirror::fakes::runCli;
namespace os = tonemirror::os;
namespace engine = tonemirror::engine;

namespace {

const std::string kNotes = "not audio, and no cache file either: just some notes";

// A result-code name such as E_FAIL or S_OK: never part of a message.
bool namesACode(const std::string& text) {
    const auto upper = [&](std::size_t i) {
        return i < text.size() && std::isupper(static_cast<unsigned char>(text[i]));
    };
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const bool wordStart = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
        if (wordStart && (text[i] == 'E' || text[i] == 'S') && text[i + 1] == '_' && upper(i + 2) &&
            upper(i + 3)) {
            return true;
        }
    }
    return false;
}

std::string textOf(const fs::path& file) {
    const auto bytes = readBytes(file);
    return {bytes.begin(), bytes.end()};
}

class Commands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new TempFolder;
        const fs::path music = library();
        fs::create_directories(music);
        ASSERT_TRUE(makeTone(music / "a.wav", {}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music / "b.mp3", {"-b:a", "128k"}, {440, 44100, 2, 20}));
        ASSERT_TRUE(makeTone(music / "c.wav", {}, {1300, 22050, 1, 20}));
        // Longer than a cache header: a shorter file is taken for a cache whose writing broke off.
        std::ofstream(music / "notes.txt") << kNotes;
        // Written as a live stream: the container states no duration, and it holds no tags.
        ASSERT_TRUE(makeTone(*library_ / "live.mka", {"-live", "1"}, {440, 44100, 1, 3}));
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }

    // "@/x" names x in the library, "%/x" x in the test's own folder.
    CliResult cli(std::vector<std::string> args) {
        for (auto& a : args) {
            if (a.rfind("@", 0) == 0) {
                a = (library() / a.substr(std::min<std::size_t>(a.size(), 2))).string();
            } else if (a.rfind("%", 0) == 0) {
                a = (own_ / a.substr(std::min<std::size_t>(a.size(), 2))).string();
            }
        }
        return tonemirror::fakes::runCli(args, scratch_.path());
    }
    static fs::path library() { return *library_ / "music"; }

    static TempFolder* library_;
    TempFolder scratch_;
    TempFolder own_;
};

TempFolder* Commands::library_ = nullptr;

// --- refusals: status, plain words, and nothing changed ---

struct Refusal {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message; // a part of what stderr says
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class Refused : public Commands, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, SaysWhyInPlainWordsAndChangesNothing) {
    const Refusal& c = GetParam();
    const CliResult r = cli(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(namesACode(r.err)) << r.err;
    if (c.status == 2) {
        EXPECT_NE(r.err.find("--help' for more information"), std::string::npos) << r.err;
    }
    EXPECT_EQ(textOf(library() / "notes.txt"), kNotes);
    EXPECT_FALSE(fs::exists(own_ / "out.f32") && fs::file_size(own_ / "out.f32") > 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        Refusal{"InfoOfAMissingFile", {"info", "@/missing.wav"}, 1, "missing.wav' does not exist"},
        Refusal{"InfoOfText", {"info", "@/notes.txt"}, 1, "no plug-in can decode"},
        Refusal{"InfoOfAFolder", {"info", "@"}, 1, "is a folder, not an audio file"},
        Refusal{"InfoWithoutFile", {"info"}, 2, "usage: tonemirror-cli info FILE"},
        Refusal{"DecodeOfText", {"decode", "@/notes.txt", "-o", "%/out.f32"}, 1, "it is not an audio file"},
        Refusal{"DecodeOfAMissingFile", {"decode", "@/missing.wav", "-o", "%/out.f32"}, 1, "does not exist"},
        Refusal{"DecodeIntoAMissingFolder", {"decode", "@/a.wav", "-o", "%/none/out.f32"}, 1, "cannot write"},
        Refusal{"DecodeWithoutOutputName", {"decode", "@/a.wav", "-o"}, 2, "-o needs a file name"},
        Refusal{"DecodeOfTwoFiles", {"decode", "@/a.wav", "@/c.wav"}, 2, "unexpected argument"},
        Refusal{"FingerprintWithoutFile", {"fingerprint"}, 2, "usage: tonemirror-cli fingerprint FILE..."},
        Refusal{"CompareOfOneFile", {"compare", "@/a.wav"}, 2, "usage: tonemirror-cli compare"},
        Refusal{"CacheWithoutAction", {"cache"}, 2, "usage: tonemirror-cli cache"},
        Refusal{"CacheOptionWithoutValue", {"cache", "stats", "--cache"}, 2, "usage: tonemirror-cli cache"},
        Refusal{"CacheClearOfAForeignFile",
                {"cache", "clear", "--cache", "@/notes.txt"},
                1,
                "is not a Tonemirror cache file; it was left untouched"},
        Refusal{"IgnoreAddOfOnePath",
                {"ignore", "add", "@/a.wav", "--ignore-list", "%/i.list"},
                2,
                "usage: tonemirror-cli ignore"},
        Refusal{"IgnoreAddOfAQuotedPath",
                {"ignore", "add", "@/a\"b.wav", "@/c.wav", "--ignore-list", "%/i.list"},
                1,
                "double quote"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- what the commands give ---

TEST_F(Commands, DecodeWritesTheToneAsMonoFloatAtTheAnalysisRate) {
    const CliResult r = cli({"decode", "@/a.wav", "-o", "%/out.f32"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = readBytes(own_ / "out.f32");
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    EXPECT_EQ(bytes.size() % sizeof(float), 0u);
    EXPECT_NEAR(static_cast<double>(samples.size()), 20 * 22050.0, 22050.0 * 0.01);
    EXPECT_NE(r.err.find("samples: " + std::to_string(samples.size()) + "\n"), std::string::npos) << r.err;
    EXPECT_NEAR(toneFrequency(samples), 440.0, 3.0);

    const CliResult piped = cli({"decode", "@/a.wav"});
    ASSERT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.out == std::string(bytes.begin(), bytes.end()))
        << "standard output gets the same samples";
}

TEST_F(Commands, InfoShowsTheStreamOrAPlainReasonBesideTheCode) {
    const CliResult r = cli({"info", "@/a.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_FALSE(j["plugin"].get<std::string>().empty());
    EXPECT_EQ(j["format"]["sampleRate"], 44100);
    EXPECT_EQ(j["format"]["channels"], 2);
    EXPECT_NEAR(j["info"]["durationMs"].get<double>(), 20000.0, 100.0);
    EXPECT_FALSE(j.contains("infoResult"));

    const CliResult live =
        tonemirror::fakes::runCli({"info", (*library_ / "live.mka").string()}, scratch_.path());
    ASSERT_EQ(live.status, 0) << live.err;
    const auto k = nlohmann::json::parse(live.out);
    EXPECT_TRUE(k["info"].is_null()) << live.out;
    EXPECT_TRUE(k["infoResult"].is_string()) << "the code stays for callers that match on it";
    const std::string message = k.value("infoMessage", "");
    EXPECT_NE(message.find("no duration, bit rate or tags"), std::string::npos) << live.out;
    EXPECT_FALSE(namesACode(message));
}

TEST_F(Commands, FingerprintGivesEveryFileItsFieldsOrItsReason) {
    const CliResult r = cli({"fingerprint", "@/a.wav", "@/notes.txt", "@/c.wav"});
    EXPECT_EQ(r.status, 1) << "one file failed";
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 3u);
    EXPECT_TRUE(j[0]["ok"].get<bool>());
    EXPECT_FALSE(j[0]["levelProfile"].empty());
    EXPECT_FALSE(j[0]["meanSpectrum"].empty());
    EXPECT_FALSE(j[1]["ok"].get<bool>());
    EXPECT_EQ(j[1]["reason"], "no decoder");
    EXPECT_FALSE(j[1].contains("levelProfile"));
    EXPECT_TRUE(j[2]["ok"].get<bool>());
    EXPECT_NE(j[0]["meanSpectrum"], j[2]["meanSpectrum"]) << "two tones, two spectra";

    const CliResult alone = cli({"fingerprint", "@/a.wav"});
    ASSERT_EQ(alone.status, 0);
    EXPECT_EQ(nlohmann::json::parse(alone.out)[0], j[0]) << "the same file gives the same fingerprint";
}

TEST_F(Commands, CompareScoresACopyAboveAnotherToneAndNamesAFileItCannotRead) {
    const CliResult copy = cli({"compare", "@/a.wav", "@/b.mp3", "--experimental"});
    ASSERT_EQ(copy.status, 0) << copy.err;
    const auto same = nlohmann::json::parse(copy.out);
    const CliResult other = cli({"compare", "@/a.wav", "@/c.wav"});
    ASSERT_EQ(other.status, 0) << other.err;
    const auto differ = nlohmann::json::parse(other.out);
    EXPECT_GT(same["contentScore"].get<double>(), 0.5);
    EXPECT_GT(same["contentScore"].get<double>(), differ["contentScore"].get<double>() + 0.1);
    EXPECT_FALSE(differ.contains("experimentalScore")) << "only asked for with --experimental";
    if (same["experimentalScore"].is_null()) {
        EXPECT_FALSE(same["experimentalFailure"].get<std::string>().empty()) << copy.out;
    } else {
        EXPECT_GE(same["experimentalScore"].get<double>(), 0.0);
    }

    const CliResult unreadable = cli({"compare", "@/a.wav", "@/notes.txt"});
    EXPECT_EQ(unreadable.status, 1);
    const auto failure = nlohmann::json::parse(unreadable.out)["failure"];
    EXPECT_EQ(failure["file"], (library() / "notes.txt").string());
    EXPECT_EQ(failure["reason"], "no decoder");
}

TEST_F(Commands, CacheAndIgnoreListFollowWhatAScanLeaves) {
    const std::vector<std::string> stores = {"--cache", "%/cache.dat", "--ignore-list", "%/i.list"};
    const auto scan = [&] {
        std::vector<std::string> args = {"scan", "--quiet", "--format", "json", "@"};
        args.insert(args.begin() + 1, stores.begin(), stores.end());
        const CliResult r = cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out)["pairs"].size();
    };
    const CliResult none = cli({"cache", "stats", "--cache", "%/cache.dat"});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("state: not created yet"), std::string::npos) << none.out;
    ASSERT_EQ(scan(), 1u);
    const CliResult stats = cli({"cache", "stats", "--cache", "%/cache.dat"});
    EXPECT_NE(stats.out.find("tracks: 3\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("state: ok\n"), std::string::npos) << stats.out;

    const CliResult added = cli({"ignore", "add", "@/a.wav", "@/b.mp3", "--ignore-list", "%/i.list"});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out.rfind("ignored in ", 0), 0u) << added.out;
    const CliResult again = cli({"ignore", "add", "@/a.wav", "@/b.mp3", "--ignore-list", "%/i.list"});
    EXPECT_EQ(again.out.rfind("already ignored in ", 0), 0u) << again.out;
    const CliResult listed = cli({"ignore", "list", "--ignore-list", "%/i.list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1) << listed.out;
    EXPECT_NE(listed.out.find((library() / "a.wav").string()), std::string::npos) << listed.out;
    EXPECT_EQ(scan(), 0u) << "an ignored pair is not reported";

    const CliResult cleared = cli({"cache", "clear", "--cache", "%/cache.dat"});
    EXPECT_EQ(cleared.status, 0) << cleared.err;
    EXPECT_NE(cleared.out.find(": 3 tracks"), std::string::npos) << cleared.out;
    EXPECT_NE(cli({"cache", "stats", "--cache", "%/cache.dat"}).out.find("tracks: 0\n"), std::string::npos);
    const CliResult foreign = cli({"cache", "stats", "--cache", "@/notes.txt"});
    EXPECT_EQ(foreign.status, 0);
    EXPECT_NE(foreign.out.find("state: not a cache file"), std::string::npos) << foreign.out;
}

// A copy of the program in a folder of its own (a build tree's, or an installed one's), with its
// own user data folder.
class ProgramCopy : public Commands, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        fs::create_directories(program());
        for (const char* file : {"tonemirror-cli", "mediacodec.so", "compresscodec.so"}) {
            fs::copy_file(os::programFolder() / file, program() / file);
        }
        if (GetParam()) {
            std::ofstream(program() / engine::StorageLocations::kBuildTreeMarker) << "build tree\n";
        }
        const char* old = std::getenv("XDG_DATA_HOME");
        oldData_ = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    }
    void TearDown() override {
        if (oldData_) {
            setenv("XDG_DATA_HOME", oldData_->c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
    }
    fs::path program() const { return dir_ / "program"; }
    fs::path userCache() const { return dir_ / "data" / "Tonemirror" / "cache.dat"; }
    CliResult run(const std::vector<std::string>& args) {
        CliRun r;
        r.args = args;
        r.scratch = dir_.path();
        r.program = program() / "tonemirror-cli";
        return runCli(r);
    }

    TempFolder dir_;
    std::optional<std::string> oldData_;
};

// With another copy holding the program folder's cache, a scan and 'cache stats' both take the user
// folder's and say so; an installed copy never writes into its own folder, whoever runs it.
TEST_P(ProgramCopy, ScanAndCacheStatsUseAndNameTheSameCache) {
    const bool buildTree = GetParam();
    os::LockedFile otherCopy;
    if (buildTree) {
        std::ofstream(program() / "cache.dat") << "Tonemirror 0.82" << std::string(17, '\0');
        ASSERT_EQ(otherCopy.open(program() / "cache.dat", false), os::LockedFile::Result::Ok);
    }
    const std::string using_ = "using the cache '" + userCache().string() + "'";
    const CliResult scan = run({"scan", "--quiet", "--format", "json", library().string()});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.err.find("scan: " + using_), std::string::npos) << scan.err;
    const CliResult stats = run({"cache", "stats"});
    EXPECT_EQ(stats.status, 0) << stats.err;
    EXPECT_NE(stats.err.find("cache stats: " + using_), std::string::npos) << stats.err;
    EXPECT_NE(stats.out.find("location: " + userCache().string() + "\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("state: ok"), std::string::npos) << stats.out;
    if (buildTree) {
        const std::string held = "'" + (program() / "cache.dat").string() + "' is in use by a running copy";
        EXPECT_NE(scan.err.find(held), std::string::npos) << scan.err;
        EXPECT_NE(stats.err.find(held), std::string::npos) << stats.err;
    } else {
        EXPECT_FALSE(fs::exists(program() / "cache.dat"));
        EXPECT_FALSE(fs::exists(program() / "ignores.list"));
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, ProgramCopy, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "BuildTree" : "Installed"; });

} // namespace
