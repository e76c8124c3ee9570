// tonemirror-cli with hostile but real inputs: odd names, special files, full or closed outputs,
// outputs that are inputs, concurrent ignore-list writers. Files and trees are made at test time.

#include "mediacodec/MediaFiles.h"
#include "support/RunCli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

using namespace mediafiles;
using tonemirror::fakes::CliResult;
using tonemirror::fakes::CliRun;

namespace {

const std::string kLatin1 = "caf\xE9";                 // not UTF-8
const std::string kLossy = "caf\xEF\xBF\xBD";          // what a lossy mapping would have made of it
const std::string kSteering = "esc\x1B]0;owned\x07 x"; // would retitle a terminal

class CliSafety : public ::testing::Test {
protected:
    CliResult cli(std::vector<std::string> args) { return tonemirror::fakes::runCli(args, scratch_.path()); }
    CliResult cli(CliRun run) {
        run.scratch = scratch_.path();
        return tonemirror::fakes::runCli(run);
    }
    fs::path tone(const std::string& name, int frequency, double seconds = 30) {
        const fs::path file = dir_ / name;
        fs::create_directories(file.parent_path());
        EXPECT_TRUE(makeTone(file, {}, {frequency, 22050, 1, seconds}));
        return file;
    }

    TempFolder scratch_;
    TempFolder dir_;
};

TEST_F(CliSafety, OddNamesAreScannedShownEscapedAndNeverConfusedWithOthers) {
    tone("m/" + kLatin1 + ".wav", 440);
    fs::copy_file(dir_ / ("m/" + kLatin1 + ".wav"), dir_ / ("m/" + kSteering + ".wav"));
    tone("m/" + kLossy + ".wav", 1300);
    const std::string music = (dir_ / "m").string();

    const CliResult text = cli({"scan", "--no-cache", "--quiet", music});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("caf\\xE9.wav"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("esc\\x1B]0;owned\\x07 x.wav"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find_first_of("\x1B\x07\xE9"), std::string::npos) << "raw bytes reached the terminal";

    const CliResult json = cli({"scan", "--no-cache", "--quiet", "--format", "json", music});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["pairs"].size(), 1u) << json.out;
    const auto& pair = j["pairs"][0];
    const bool latinFirst = pair.contains("path1Escaped");
    EXPECT_EQ(pair[latinFirst ? "path1" : "path2"], music + "/caf\\xE9.wav");
    EXPECT_EQ(pair[latinFirst ? "path2" : "path1"], music + "/" + kSteering + ".wav");
    EXPECT_EQ(j["counters"]["filesDone"], 3);

    const CliResult print = cli({"fingerprint", (dir_ / ("m/" + kLatin1 + ".wav")).string()});
    ASSERT_EQ(print.status, 0) << print.err;
    const auto f = nlohmann::json::parse(print.out);
    EXPECT_TRUE(f[0]["ok"].get<bool>());
    EXPECT_TRUE(f[0]["pathEscaped"].get<bool>());
}

TEST_F(CliSafety, TagsOfALatin1NamedFileGoIntoThatFile) {
    const fs::path latin1 = dir_ / (kLatin1 + ".mp3");
    const fs::path lossy = dir_ / (kLossy + ".mp3");
    ASSERT_TRUE(makeTone(latin1, {}, {440, 44100, 1, 0.5}));
    ASSERT_TRUE(makeTone(lossy, {}, {440, 44100, 1, 0.5}));
    const auto untouched = readBytes(lossy);
    ASSERT_EQ(cli({"tags", "set", latin1.string(), "--title", "Mine"}).status, 0);
    const CliResult get = cli({"tags", "get", latin1.string()});
    ASSERT_EQ(get.status, 0);
    EXPECT_EQ(nlohmann::json::parse(get.out)["tags"]["title"], "Mine");
    EXPECT_EQ(readBytes(lossy), untouched);
}

// --- nothing the program did not write is overwritten, and no output replaces an input ---

struct ClobberCase {
    const char* name;
    // The arguments, given the folder holding "song.wav" (the file that must survive).
    std::vector<std::string> (*args)(const fs::path& dir);
    const char* says; // part of the message
};

void PrintTo(const ClobberCase& c, std::ostream* os) {
    *os << c.name;
}

class Clobbering : public CliSafety, public ::testing::WithParamInterface<ClobberCase> {};

TEST_P(Clobbering, IsRefusedAndTheFileKeepsEveryByte) {
    const fs::path song = tone("song.wav", 440, 30);
    fs::create_symlink(song, dir_ / "link.wav");
    const auto before = readBytes(song);
    const CliResult r = cli(GetParam().args(dir_.path()));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(song), before);
}

std::vector<std::string> scanWith(const fs::path& d, std::vector<std::string> options) {
    std::vector<std::string> args = {"scan", "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(d.string());
    return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Clobbering,
    ::testing::Values(
        ClobberCase{"ScanCacheIsAnAudioFile",
                    [](const fs::path& d) {
                        return scanWith(d, {"--cache", (d / "song.wav").string(), "--ignore-list",
                                            (d / "i.list").string()});
                    },
                    "not a Tonemirror cache file"},
        ClobberCase{"ScanCacheLinksToAnAudioFile",
                    [](const fs::path& d) {
                        return scanWith(d, {"--cache", (d / "link.wav").string(), "--ignore-list",
                                            (d / "i.list").string()});
                    },
                    "not a Tonemirror cache file"},
        ClobberCase{
            "CacheClear",
            [](const fs::path& d) {
                return std::vector<std::string>{"cache", "clear", "--cache", (d / "link.wav").string()};
            },
            "not a Tonemirror cache file"},
        ClobberCase{"DecodeIntoItsInput",
                    [](const fs::path& d) {
                        return std::vector<std::string>{"decode", (d / "song.wav").string(), "-o",
                                                        (d / "link.wav").string()};
                    },
                    "is the input file"},
        ClobberCase{"ScanReportOverAScannedFile",
                    [](const fs::path& d) {
                        return scanWith(d, {"--no-cache", "--ignore-list", (d / "i.list").string(),
                                            "--output", (d / "song.wav").string()});
                    },
                    "one of the scanned files"},
        ClobberCase{"ScanReportOverTheIgnoreList",
                    [](const fs::path& d) {
                        return scanWith(d, {"--no-cache", "--ignore-list", (d / "song.wav").string(),
                                            "--output", (d / "link.wav").string()});
                    },
                    "the cache file or the ignore list"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- a failed output is a failure ---

struct OutputCase {
    const char* name;
    std::vector<std::string> (*args)(const fs::path& dir); // dir holds a.wav, b.wav and "ignores.list"
};

void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class LostOutput : public CliSafety, public ::testing::WithParamInterface<OutputCase> {
protected:
    void SetUp() override {
        static const std::vector<unsigned char> list = [] {
            std::vector<unsigned char> b = {0xFF, 0xFE};
            for (const char c : std::string("\"/a.wav\",\"/b.wav\"\r\n")) {
                b.push_back(static_cast<unsigned char>(c));
                b.push_back(0);
            }
            return b;
        }();
        tone("a.wav", 440);
        tone("b.wav", 440);
        writeBytes(dir_ / "ignores.list", list);
    }
};

TEST_P(LostOutput, AFullOrClosedStandardOutputEndsWithStatusOne) {
    const auto args = GetParam().args(dir_.path());
    ASSERT_EQ(cli(args).status, 0) << "the command itself works";
    const CliResult full = cli(CliRun{args, {}, "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("could not write to standard output"), std::string::npos) << full.err;
    EXPECT_EQ(cli(CliRun{args, {}, "-"}).status, 1) << "closed";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LostOutput,
    ::testing::Values(
        OutputCase{"Scan",
                   [](const fs::path& d) {
                       return std::vector<std::string>{
                           "scan",    "--quiet", "--no-cache", "--ignore-list", (d / "none.list").string(),
                           d.string()};
                   }},
        OutputCase{"Info",
                   [](const fs::path& d) {
                       return std::vector<std::string>{"info", (d / "a.wav").string()};
                   }},
        OutputCase{"TagsGet",
                   [](const fs::path& d) {
                       return std::vector<std::string>{"tags", "get", (d / "a.wav").string()};
                   }},
        OutputCase{"Fingerprint",
                   [](const fs::path& d) {
                       return std::vector<std::string>{"fingerprint", (d / "a.wav").string()};
                   }},
        OutputCase{
            "Compare",
            [](const fs::path& d) {
                return std::vector<std::string>{"compare", (d / "a.wav").string(), (d / "b.wav").string()};
            }},
        OutputCase{"IgnoreList",
                   [](const fs::path& d) {
                       return std::vector<std::string>{"ignore", "list", "--ignore-list",
                                                       (d / "ignores.list").string()};
                   }},
        OutputCase{
            "CacheStats",
            [](const fs::path& d) {
                return std::vector<std::string>{"cache", "stats", "--cache", (d / "cache.dat").string()};
            }},
        OutputCase{"Decode",
                   [](const fs::path& d) {
                       return std::vector<std::string>{"decode", (d / "a.wav").string()};
                   }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CliSafety, DecodingNoSamplesIsAFailure) {
    using namespace std::string_literals; // the header holds NUL bytes
    const std::string noData =
        "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xAC\0\0\x02\0\x10\0data\0\0\0\0"s;
    writeBytes(dir_ / "empty.wav", std::vector<unsigned char>(noData.begin(), noData.end()));
    const CliResult r = cli({"decode", (dir_ / "empty.wav").string(), "-o", (dir_ / "out.f32").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no audio could be decoded"), std::string::npos) << r.err;
}

// --- nothing waits forever ---

struct FifoCase {
    const char* name;
    std::vector<std::string> (*args)(const fs::path& dir); // dir holds the FIFO "pipe" and a.wav
};

void PrintTo(const FifoCase& c, std::ostream* os) {
    *os << c.name;
}

class FifoInput : public CliSafety, public ::testing::WithParamInterface<FifoCase> {};

TEST_P(FifoInput, IsRefusedWithoutWaitingForAWriter) {
    tone("a.wav", 440, 1);
    ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
    CliRun run{GetParam().args(dir_.path()), {}, {}};
    run.timeoutSeconds = 60;
    const CliResult r = cli(run);
    EXPECT_EQ(r.status, 1) << "-1 means it hung and was killed; " << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FifoInput,
    ::testing::Values(
        FifoCase{
            "IgnoreList",
            [](const fs::path& d) {
                return std::vector<std::string>{"ignore", "list", "--ignore-list", (d / "pipe").string()};
            }},
        FifoCase{"ScanIgnoreList",
                 [](const fs::path& d) {
                     return std::vector<std::string>{
                         "scan", "--quiet", "--no-cache", "--ignore-list", (d / "pipe").string(), d.string()};
                 }},
        FifoCase{"Cache",
                 [](const fs::path& d) {
                     return std::vector<std::string>{"scan",          "--quiet",
                                                     "--cache",       (d / "pipe").string(),
                                                     "--ignore-list", (d / "i.list").string(),
                                                     d.string()};
                 }},
        FifoCase{"CacheStats",
                 [](const fs::path& d) {
                     return std::vector<std::string>{"cache", "stats", "--cache", (d / "pipe").string()};
                 }},
        FifoCase{"Info",
                 [](const fs::path& d) {
                     return std::vector<std::string>{"info", (d / "pipe").string()};
                 }},
        FifoCase{"Decode",
                 [](const fs::path& d) {
                     return std::vector<std::string>{"decode", (d / "pipe").string()};
                 }},
        FifoCase{"TagsGet",
                 [](const fs::path& d) {
                     return std::vector<std::string>{"tags", "get", (d / "pipe").string()};
                 }},
        FifoCase{"KernelFile",
                 [](const fs::path&) {
                     return std::vector<std::string>{"info", "/proc/self/status"};
                 }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CliSafety, KernelFileSystemsAreListedAsSkippedAndTheScanEnds) {
    CliRun run{{"scan", "--quiet", "--no-cache", "--format", "json", "--ignore-list",
                (dir_ / "i.list").string(), "/proc", "/sys"},
               {},
               {}};
    run.timeoutSeconds = 120;
    const CliResult r = cli(run);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["counters"]["itemsSkipped"], 2);
    EXPECT_EQ(j["skipped"][0]["reason"], "kernel file system, holds no music");
    run.args.erase(run.args.begin() + 3, run.args.begin() + 5); // the text report
    const CliResult text = cli(run);
    EXPECT_NE(text.out.find("\n2 item(s) skipped: 2 kernel file system, holds no music\n"), std::string::npos)
        << text.out;
}

TEST_F(CliSafety, ASecondCtrlCEndsTheScanAtOnceAndWritesWhatWasFound) {
    const fs::path first = tone("m/0.wav", 440, 20);
    for (int i = 1; i < 40; ++i) {
        fs::copy_file(first, dir_ / "m" / (std::to_string(i) + ".wav"));
    }
    const fs::path cache = dir_ / "cache.dat";
    CliRun run{{"scan", "--quiet", "--threads", "1", "--format", "json", "--cache", cache.string(),
                "--ignore-list", (dir_ / "i.list").string(), (dir_ / "m").string()},
               scratch_.path(),
               {}};
    const auto process = tonemirror::fakes::startCli(run);
    // Three tracks in the cache: the scan runs, Ctrl-C is its own to handle, and the one worker has
    // finished comparing the second track (a record reaches the cache before its comparison).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while ((!fs::exists(cache) || fs::file_size(cache) < 3 * 8654) &&
           std::chrono::steady_clock::now() < deadline) {
        ::usleep(5000);
    }
    ::kill(process.pid, SIGINT);
    ::usleep(20000);
    ::kill(process.pid, SIGINT);
    const CliResult r = tonemirror::fakes::finishCli(process);
    ASSERT_EQ(r.status, 1) << "-1: killed without writing; " << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_TRUE(j["interrupted"].get<bool>());
    EXPECT_GE(j["pairs"].size(), 1u);
    EXPECT_LT(j["counters"]["filesDone"].get<int>(), 40);
}

// --- header structures cost what they are worth, not what they claim ---

// A WAV whose format chunk claims 2 GB: sparse on disk, 40 s of tone after the claimed chunk.
void writeSparseWave(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    const auto le32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    const std::uint32_t formatSize = 2000000000u;
    out.write("RIFF", 4);
    le32(0xFFFFFFF0u);
    out.write("WAVEfmt ", 8);
    le32(formatSize);
    const unsigned char format[16] = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
    out.write(reinterpret_cast<const char*>(format), sizeof format);
    out.seekp(20 + static_cast<std::streamoff>(formatSize));
    out.write("data", 4);
    const std::uint32_t samples = 22050 * 40;
    le32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(8000.0 * std::sin(i * 0.1));
        out.put(static_cast<char>(v & 0xFF));
        out.put(static_cast<char>((v >> 8) & 0xFF));
    }
}

TEST_F(CliSafety, AFormatChunkClaimingGigabytesCostsNoGigabytes) {
    fs::create_directories(dir_ / "m");
    writeSparseWave(dir_ / "m/a.wav");
    writeSparseWave(dir_ / "m/b.wav");
    const long limitKb = 700 * 1024; // sanitizer overhead and one bounded read; the claim is 2 GB
    const CliResult info = cli({"info", (dir_ / "m/a.wav").string()});
    EXPECT_LT(info.maxResidentKb, limitKb);
    const CliResult scan = cli({"scan", "--quiet", "--no-cache", "--threads", "2", "--ignore-list",
                                (dir_ / "i.list").string(), (dir_ / "m").string()});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_LT(scan.maxResidentKb, limitKb);
}

// --- the ignore list ---

TEST_F(CliSafety, FortyConcurrentAddsKeepFortyPairs) {
    const std::string list = (dir_ / "ignores.list").string();
    constexpr int kWriters = 40;
    std::vector<tonemirror::fakes::CliProcess> running;
    for (int i = 0; i < kWriters; ++i) {
        const fs::path own = scratch_ / std::to_string(i);
        fs::create_directories(own);
        running.push_back(tonemirror::fakes::startCli(CliRun{
            {"ignore", "add", "/m/a" + std::to_string(i), "/m/b" + std::to_string(i), "--ignore-list", list},
            own,
            {}}));
    }
    int ignored = 0;
    for (const auto& p : running) {
        const CliResult r = tonemirror::fakes::finishCli(p);
        EXPECT_EQ(r.status, 0) << r.err;
        ignored += r.out.rfind("ignored", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(ignored, kWriters);
    const CliResult shown = cli({"ignore", "list", "--ignore-list", list});
    ASSERT_EQ(shown.status, 0);
    EXPECT_EQ(std::count(shown.out.begin(), shown.out.end(), '\n'), kWriters) << shown.out;
}

TEST_F(CliSafety, AHandWrittenUtf8ListIsReadAndNeverLost) {
    const fs::path list = dir_ / "ignores.list";
    const std::string text = "\"/m/\xC3\xA9t\xC3\xA9.mp3\",\"/m/two.mp3\"\n# checked by ear\n";
    writeBytes(list, std::vector<unsigned char>(text.begin(), text.end()));
    const CliResult shown = cli({"ignore", "list", "--ignore-list", list.string()});
    ASSERT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "\"/m/\xC3\xA9t\xC3\xA9.mp3\",\"/m/two.mp3\"\n");
    EXPECT_NE(shown.err.find("not a pair"), std::string::npos) << shown.err;

    const CliResult added = cli({"ignore", "add", "/m/x.mp3", "/m/y.mp3", "--ignore-list", list.string()});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_NE(added.err.find("kept as"), std::string::npos) << added.err;
    bool keptWhole = false;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
        const auto b = readBytes(entry.path());
        keptWhole = keptWhole || (entry.path() != list && std::string(b.begin(), b.end()) == text);
    }
    EXPECT_TRUE(keptWhole) << "the old list is kept byte for byte";
    const CliResult after = cli({"ignore", "list", "--ignore-list", list.string()});
    EXPECT_EQ(std::count(after.out.begin(), after.out.end(), '\n'), 2) << after.out;
}

TEST_F(CliSafety, AWaveClaimingOneHertzIsRefusedInsteadOfMultiplied) {
    using namespace std::string_literals;
    std::string wav =
        "RIFF\x24\x08\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x01\0\0\0\x02\0\0\0\x02\0\x10\0data\0\x08\0\0"s;
    wav.append(2048, '\x11');
    writeBytes(dir_ / "slow.wav", std::vector<unsigned char>(wav.begin(), wav.end()));
    const fs::path out = dir_ / "out.f32";
    const CliResult r = cli({"decode", (dir_ / "slow.wav").string(), "-o", out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(out) && fs::file_size(out) > 0) << "1024 frames would have become 90 MB";
}

TEST_F(CliSafety, APlaylistHoldsThePathsOwnBytesAndLeavesOutWhatBreaksALine) {
    const fs::path first = tone("m/" + kLatin1 + ".wav", 440);
    fs::copy_file(first, dir_ / "m/\xC3\xBCn\xC3\xAF.wav");
    fs::copy_file(first, dir_ / "m/line\nbreak.wav");
    const fs::path playlist = dir_ / "dups.m3u";
    ::setenv("LC_ALL", "C", 1); // a locale whose character set holds no accented letter
    const CliResult r =
        cli({"scan", "--quiet", "--no-cache", "--format", "m3u", "--output", playlist.string(),
             "--ignore-list", (dir_ / "i.list").string(), (dir_ / "m").string()});
    ::unsetenv("LC_ALL");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("2 pair(s) left out of the playlist"), std::string::npos) << r.err;
    const auto bytes = readBytes(playlist);
    const std::string text(bytes.begin(), bytes.end());
    const std::string music = (dir_ / "m").string();
    const std::string a = music + "/" + kLatin1 + ".wav\r\n";
    const std::string b = music + "/\xC3\xBCn\xC3\xAF.wav\r\n";
    EXPECT_TRUE(text == "#EXTM3U\r\n" + a + b || text == "#EXTM3U\r\n" + b + a) << text;
}

} // namespace
