#include "shell/SettingsStore.h"
#include "shell/SettingNames.h"

#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tonemirror::fakes::readText;
using tonemirror::fakes::TempFolder;
using tonemirror::fakes::writeText;
using tonemirror::shell::formatQuotedList;
using tonemirror::shell::parseQuotedList;
using tonemirror::shell::SettingsDocument;
using tonemirror::shell::SettingsStore;
using Status = SettingsStore::LoadStatus;
namespace names = tonemirror::shell::settings;

class SettingsStoreTest : public ::testing::Test {
protected:
    fs::path file() const { return folder_ / "Kestrelwick" / "Tonemirror.json"; }
    void writeFile(const std::string& bytes) {
        fs::create_directories(file().parent_path());
        writeText(file(), bytes);
    }
    TempFolder folder_;
};

class TextRoundTrip : public SettingsStoreTest, public ::testing::WithParamInterface<std::u16string> {};

// Texts come back unit for unit from a fresh store, also those no JSON string can carry.
TEST_P(TextRoundTrip, ThroughTheFile) {
    SettingsStore writer(file());
    ASSERT_EQ(writer.load(), Status::Missing);
    ASSERT_TRUE(writer.writeText(names::kLanguage, GetParam()));
    ASSERT_TRUE(writer.writeNumber(names::kLastUpdate, 4294967295u));
    ASSERT_TRUE(writer.writeNumber(names::kAccurate, 0));

    SettingsStore reader(file());
    ASSERT_EQ(reader.load(), Status::Loaded);
    EXPECT_EQ(reader.readText(names::kLanguage), GetParam());
    EXPECT_EQ(reader.readNumber(names::kLastUpdate), 4294967295u);
    EXPECT_EQ(reader.readNumber(names::kAccurate), 0u);
    // Numbers and texts stay apart.
    EXPECT_EQ(reader.readNumber(names::kLanguage), std::nullopt);
    EXPECT_EQ(reader.readText(names::kAccurate), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextRoundTrip,
                         ::testing::Values(u"", u"Deutsch", u"\"a\";\"b\";", u"caf\u00e9 \U0001F3B5 \u4e2d",
                                           std::u16string(u"nul\0inside", 10), u"/music/\xDC80\xDCFF.mp3",
                                           u"\xD800", u"x\xDBFF", u"\xDC00\xD800"));

// Values the program did not write read as missing; the file still counts as loaded.
TEST_F(SettingsStoreTest, ValuesOfAnotherShapeReadAsMissing) {
    writeFile(R"({"CompareMethod": "3", "Accurate": -1, "SensitivityContent": 75.0,
                  "SensitivityTags": 4294967296, "CheckUpdate": true, "ShowToolbar": null,
                  "Language": 5, "Folders": ["a"], "HelperTitles": {"utf16": "004"},
                  "HelperArtists": {"utf16": "00G1"}, "HelperAlbums": {"utf16": "0041", "x": 1},
                  "HelperYears": {"utf16": "00410042"}, "LastUpdate": 12})");
    SettingsStore store(file());
    ASSERT_EQ(store.load(), Status::Loaded);
    for (const auto name : {names::kCompareMethod, names::kAccurate, names::kSensitivityContent,
                            names::kSensitivityTags, names::kCheckUpdate, names::kShowToolbar}) {
        EXPECT_EQ(store.readNumber(name), std::nullopt) << name;
    }
    for (const auto name : {names::kLanguage, names::kFolders, names::kHelperTitles, names::kHelperArtists,
                            names::kHelperAlbums}) {
        EXPECT_EQ(store.readText(name), std::nullopt) << name;
    }
    EXPECT_EQ(store.readText(names::kHelperYears), u"AB");
    EXPECT_EQ(store.readNumber(names::kLastUpdate), 12u);
    EXPECT_EQ(names::compareMethodFrom(store.readNumber(names::kCompareMethod)), 3u);
}

TEST(CompareMethod, OutOfRangeReadsAsBoth) {
    EXPECT_EQ(names::compareMethodFrom(std::nullopt), 3u);
    EXPECT_EQ(names::compareMethodFrom(0u), 3u);
    EXPECT_EQ(names::compareMethodFrom(7u), 3u);
    EXPECT_EQ(names::compareMethodFrom(1u), 1u);
    EXPECT_EQ(names::compareMethodFrom(2u), 2u);
}

// A write keeps what it does not change: names unknown to us, and values another copy of the
// program wrote after this one loaded.
TEST_F(SettingsStoreTest, WriteKeepsOtherValues) {
    writeFile(R"({"Future": [1, {"x": "y"}], "Language": "Deutsch"})");
    SettingsStore first(file());
    ASSERT_EQ(first.load(), Status::Loaded);
    SettingsStore second(file());
    ASSERT_EQ(second.load(), Status::Loaded);
    ASSERT_TRUE(second.writeNumber(names::kShowToolbar, 0));
    ASSERT_TRUE(first.writeNumber(names::kShowStatusBar, 0));

    SettingsStore reader(file());
    ASSERT_EQ(reader.load(), Status::Loaded);
    EXPECT_EQ(reader.readNumber(names::kShowToolbar), 0u);
    EXPECT_EQ(reader.readNumber(names::kShowStatusBar), 0u);
    EXPECT_EQ(reader.readText(names::kLanguage), u"Deutsch");
    EXPECT_NE(readText(file()).find("\"Future\""), std::string::npos);
}

class DamagedFile : public SettingsStoreTest, public ::testing::WithParamInterface<std::string> {};

// A file that is not ours is renamed aside, never overwritten, and the program runs on defaults.
TEST_P(DamagedFile, IsKeptAsideAndDefaultsApply) {
    writeFile(GetParam());
    SettingsStore store(file());
    ASSERT_EQ(store.load(), Status::KeptAside);
    EXPECT_TRUE(store.writable());
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(store.keptAsidePath().parent_path(), file().parent_path());
    EXPECT_EQ(readText(store.keptAsidePath()), GetParam());
    EXPECT_EQ(store.readNumber(names::kCompareMethod), std::nullopt);

    ASSERT_TRUE(store.writeNumber(names::kCompareMethod, 2));
    EXPECT_EQ(SettingsStore(file()).load(), Status::Loaded);

    // The same damage again, within the same second: a second name, the first file untouched.
    const fs::path first = store.keptAsidePath();
    writeFile(GetParam());
    ASSERT_EQ(store.load(), Status::KeptAside);
    EXPECT_NE(store.keptAsidePath(), first);
    EXPECT_EQ(readText(first), GetParam());
    EXPECT_EQ(readText(store.keptAsidePath()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Contents, DamagedFile,
                         ::testing::Values("", "{\"CompareMethod\": 2", "[1, 2]", "\"text\"",
                                           "{\"Language\": \"\xC3\x28\"}", "{\"a\": \"\\uDC80\"}",
                                           "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}",
                                           "{}" + std::string(SettingsDocument::kMaxFileSize, ' ')));

// A damaged file turning up between load and write is kept aside then too.
TEST_F(SettingsStoreTest, FileDamagedAfterLoadIsKeptAsideByTheWrite) {
    SettingsStore store(file());
    ASSERT_EQ(store.load(), Status::Missing);
    writeFile("not json");
    ASSERT_TRUE(store.writeNumber(names::kAccurate, 1));
    EXPECT_EQ(readText(store.keptAsidePath()), "not json");
    EXPECT_EQ(SettingsStore(file()).load(), Status::Loaded);
}

// A settings file kept as a link (by a dotfile manager) stays a link; writes land in its target,
// which is replaced whole, and a damaged target is kept aside beside itself.
struct LinkCase {
    const char* name;
    bool relative;
    bool twoHops;
    const char* targetContent; // nullptr: the target does not exist yet
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class LinkedFile : public SettingsStoreTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkedFile, IsWrittenThroughToItsTarget) {
    const LinkCase& c = GetParam();
    const fs::path dotfiles = folder_ / "dotfiles";
    fs::create_directories(dotfiles);
    fs::create_directories(file().parent_path());
    const fs::path target = dotfiles / "Tonemirror.json";
    if (c.targetContent != nullptr) {
        writeText(target, c.targetContent);
    }
    fs::path linkTo = c.relative ? fs::path("../dotfiles/Tonemirror.json") : target;
    if (c.twoHops) {
        fs::create_symlink(linkTo, file().parent_path() / "middle.json");
        linkTo = "middle.json";
    }
    fs::create_symlink(linkTo, file());

    SettingsStore store(file());
    store.load();
    ASSERT_TRUE(store.writeNumber(names::kAccurate, 1));
    ASSERT_TRUE(store.writeText(names::kLanguage, u"Deutsch"));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_NE(readText(target).find("\"Language\": \"Deutsch\""), std::string::npos) << readText(target);
    SettingsStore reader(file());
    ASSERT_EQ(reader.load(), Status::Loaded);
    EXPECT_EQ(reader.readNumber(names::kAccurate), 1u);
    if (!store.keptAsidePath().empty()) {
        EXPECT_TRUE(fs::equivalent(store.keptAsidePath().parent_path(), dotfiles));
        EXPECT_EQ(readText(store.keptAsidePath()), c.targetContent);
    }
    // Nothing but the link (and the middle link) beside the settings file.
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(file().parent_path())) {
        EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
        ++entries;
    }
    EXPECT_EQ(entries, c.twoHops ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkedFile,
                         ::testing::Values(LinkCase{"Absolute", false, false, "{\"ShowToolbar\": 0}"},
                                           LinkCase{"Relative", true, false, "{}"},
                                           LinkCase{"ThroughTwoLinks", true, true, "{}"},
                                           LinkCase{"TargetNotYetThere", false, false, nullptr},
                                           LinkCase{"DamagedTarget", true, false, "not json"}),
                         [](const auto& p) { return std::string(p.param.name); });

// Nothing can be stored: the folder cannot be made, or the file is something we cannot read.
TEST_F(SettingsStoreTest, UnusableLocationLeavesDefaultsAndLosesWrites) {
    writeText(folder_ / "Kestrelwick", "a file where the folder belongs");
    SettingsStore store(file());
    EXPECT_EQ(store.load(), Status::Unreadable);
    EXPECT_FALSE(store.writable());
    EXPECT_FALSE(store.writeNumber(names::kAccurate, 1));

    fs::remove(folder_ / "Kestrelwick");
    fs::create_directories(file()); // a folder in the file's place is left alone
    EXPECT_EQ(store.load(), Status::Unreadable);
    EXPECT_FALSE(store.writeText(names::kLanguage, u"x"));
    EXPECT_TRUE(fs::is_directory(file()));
    EXPECT_EQ(SettingsStore(fs::path()).load(), Status::Unreadable); // no home folder at all
}

// Two programs writing at once: the file stays whole and holds the last value of each.
TEST_F(SettingsStoreTest, ConcurrentWritersNeverTearTheFile) {
    constexpr std::uint32_t kWrites = 60;
    const auto writer = [this](std::string_view name) {
        SettingsStore store(file());
        store.load();
        for (std::uint32_t i = 1; i <= kWrites; ++i) {
            if (!store.writeNumber(name, i) ||
                !store.writeText("Text", u"long enough text " + std::u16string(200, u'x'))) {
                _exit(1);
            }
        }
        _exit(0);
    };
    std::vector<pid_t> children;
    for (const auto name : {names::kWindowLeft, names::kWindowTop}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            writer(name);
        }
        children.push_back(pid);
    }
    for (int round = 0; round < 200; ++round) {
        SettingsStore reader(file());
        const Status status = reader.load();
        ASSERT_TRUE(status == Status::Missing || status == Status::Loaded);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SettingsStore reader(file());
    ASSERT_EQ(reader.load(), Status::Loaded);
    EXPECT_EQ(reader.readNumber(names::kWindowLeft), kWrites);
    EXPECT_EQ(reader.readNumber(names::kWindowTop), kWrites);
}

// A write waits for the folder's lock, which the other copy holds while it reads and replaces the file.
TEST_F(SettingsStoreTest, WriteWaitsForTheOtherCopysLock) {
    fs::create_directories(file().parent_path());
    const int folder = open(file().parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(flock(folder, LOCK_EX), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(folder); // the lock belongs to the parent's open file, which the child shares
        SettingsStore store(file());
        _exit(store.writeNumber(names::kAccurate, 1) ? 0 : 1);
    }
    usleep(300'000);
    EXPECT_FALSE(fs::exists(file()));
    close(folder);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(file()));
}

TEST(StandardFile, FollowsXdgConfigHome) {
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("HOME", "/home/someone", 1);
    const fs::path fallback = "/home/someone/.config/Kestrelwick/Tonemirror.json";
    setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    EXPECT_EQ(SettingsStore::standardFile(), "/xdg/config/Kestrelwick/Tonemirror.json");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(SettingsStore::standardFile(), fallback);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(SettingsStore::standardFile(), fallback);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::standardFile(), fallback);
    setenv("HOME", home.c_str(), 1);
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    }
}

struct QuotedCase {
    std::u16string text;
    std::vector<std::u16string> items;
};

class QuotedListParse : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(QuotedListParse, TakesTextBetweenQuotePairs) {
    EXPECT_EQ(parseQuotedList(GetParam().text), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Texts, QuotedListParse,
                         ::testing::Values(QuotedCase{u"", {}}, QuotedCase{u"no quotes", {}},
                                           QuotedCase{u"\"a\";\"b\";", {u"a", u"b"}},
                                           QuotedCase{u"\"\";\"b\";", {u"", u"b"}},
                                           QuotedCase{u"junk\"a\" and more junk \"b c\"", {u"a", u"b c"}},
                                           QuotedCase{u"\"a\";\"b", {u"a"}}, QuotedCase{u"\"", {}},
                                           QuotedCase{u"\"x;y\"\"z\"", {u"x;y", u"z"}}));

TEST(QuotedList, FormatStripsQuotesAndParsesBack) {
    EXPECT_EQ(formatQuotedList({}), u"");
    EXPECT_EQ(formatQuotedList({u"a", u"b"}), u"\"a\";\"b\";");
    const std::vector<std::u16string> items{u"say \"hi\"", u"", u"/m\xDC80/x;y", u"\""};
    EXPECT_EQ(parseQuotedList(formatQuotedList(items)),
              (std::vector<std::u16string>{u"say hi", u"", u"/m\xDC80/x;y", u""}));
}

} // namespace
