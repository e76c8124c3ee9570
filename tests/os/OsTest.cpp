#include "platform/os/LockedFile.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace tonemirror;
namespace fs = std::filesystem;

namespace {

TEST(Text, Utf8RoundTripsThroughUtf16IncludingSurrogatePairs) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z"; // a é € 🎵 z
    const std::u16string wide = os::utf8ToUtf16(text);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F3B5z");
    EXPECT_EQ(os::utf16ToUtf8(wide), text);
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string utf8;
        std::u16string expected;
    };
    const Case cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\xC3", u"a\uFFFD"},           // truncated sequence at the end
        {"\xC3(", u"\uFFFD("},           // continuation missing
        {"\xC0\xAF", u"\uFFFD"},         // overlong slash
        {"\xED\xA0\x80", u"\uFFFD"},     // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"}, // beyond U+10FFFF
        {"\x80\x80x", u"\uFFFD\uFFFDx"}, // stray continuation bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::utf8ToUtf16(c.utf8), c.expected) << c.utf8;
    }
    EXPECT_EQ(os::utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx") << "lone high surrogate";
    EXPECT_EQ(os::utf16ToUtf8(u"\xDC00"), "\xEF\xBF\xBD") << "lone low surrogate";
}

TEST(Text, LowerCasingFollowsTheLocaleAndLeavesSurrogatesAlone) {
    const char* previous = std::setlocale(LC_ALL, "C.UTF-8");
    ASSERT_NE(previous, nullptr);
    std::u16string s = u"ABC \u00C9T\u00C9 \u0414\u041E\u041C \U0001F3B5 xyz";
    os::lowerCaseInPlace(s);
    EXPECT_EQ(s, u"abc \u00E9t\u00E9 \u0434\u043E\u043C \U0001F3B5 xyz");
    std::setlocale(LC_ALL, "C");
}

TEST(Text, TrimBlanksRemovesOnlyBlanksAndTabs) {
    EXPECT_EQ(os::trimBlanks(u" \t a b \t"), u"a b");
    EXPECT_EQ(os::trimBlanks(u"\n x \r"), u"\n x \r");
    EXPECT_EQ(os::trimBlanks(u" \t "), u"");
    EXPECT_EQ(os::trimBlanks(u""), u"");
}

TEST(Text, CodePageTextMapsEachByte) {
    EXPECT_EQ(os::codePageToUtf16("Caf\xE9"), u"Caf\u00E9");
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tm-os-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(TempDir, LockedFileRefusesASecondHolderUntilReleased) {
    const fs::path file = dir_ / "cache.dat";
    os::LockedFile first;
    EXPECT_EQ(first.open(file, false), os::LockedFile::Result::CannotOpen) << "missing and not created";
    ASSERT_EQ(first.open(file, true), os::LockedFile::Result::Ok);
    os::LockedFile second;
    EXPECT_EQ(second.open(file, true), os::LockedFile::Result::Locked);
    EXPECT_FALSE(second.isOpen());
    first.close();
    EXPECT_EQ(second.open(file, false), os::LockedFile::Result::Ok);
}

TEST_F(TempDir, FolderWritability) {
    EXPECT_TRUE(os::isFolderWritable(dir_));
    EXPECT_FALSE(os::isFolderWritable(dir_ / "missing"));
    EXPECT_FALSE(os::isFolderWritable({}));
    if (::geteuid() != 0) { // root writes anywhere
        fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_FALSE(os::isFolderWritable(dir_));
    }
}

TEST(Paths, UserDataFolderPrefersXdgDataHome) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldXdg != nullptr ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(os::userDataFolder(), fs::path("/tmp/xdg-data/Tonemirror"));
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(os::userDataFolder(), fs::path("/home/someone/.local/share/Tonemirror"));
    if (oldXdg != nullptr) {
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

TEST(Paths, ProgramFolderHoldsThisExecutable) {
    const fs::path folder = os::programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::exists(folder / "test_os"));
}

struct NameCase {
    const char* name;
    std::string bytes;
    std::u16string text;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class NativeNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(NativeNames, MapToUtf16AndBackByteForByte) {
    const NameCase& c = GetParam();
    EXPECT_EQ(os::fromNativeName(c.bytes), c.text);
    EXPECT_EQ(os::toNativeName(c.text), c.bytes);
    EXPECT_EQ(os::fromNativePath(os::toNativePath(c.text)), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NativeNames,
    ::testing::Values(NameCase{"Utf8", "/m/\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5.mp3",
                               u"/m/\u00E9t\u00E9 \U0001F3B5.mp3"},
                      NameCase{"Latin1Byte", "/m/caf\xE9.mp3", u"/m/caf\xDCE9.mp3"},
                      NameCase{"TruncatedSequence", "a\xC3", u"a\xDCC3"},
                      NameCase{"StrayContinuations", "\x80\xBFx", u"\xDC80\xDCBFx"},
                      NameCase{"Overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
                      NameCase{"EncodedSurrogateOfAnEscape", "\xED\xB3\xA9", u"\xDCED\xDCB3\xDCA9"},
                      NameCase{"BeyondUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
                      NameCase{"PairEndingInTheEscapeRange", "\xF0\x90\x82\x80\xE9", u"\U00010080\xDCE9"},
                      NameCase{"ControlCharacters", "a\nb\x1B[2J", u"a\nb\x1B[2J"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NativeNames, EveryByteStringRoundTrips) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(rng() % 12, '\0');
        for (char& b : bytes) {
            // Mostly high bytes and the lead bytes of sequences, where decoding decides.
            const unsigned r = rng() % 8;
            b = static_cast<char>(r < 2   ? 0x20 + rng() % 0x60
                                  : r < 5 ? 0x80 + rng() % 0x40
                                          : 0xC0 + rng() % 0x40);
        }
        ASSERT_EQ(os::toNativeName(os::fromNativeName(bytes)), bytes) << round;
    }
    EXPECT_EQ(os::toNativeName(u"\xD800x\xDC10"), "\xEF\xBF\xBDx\xEF\xBF\xBD") << "no name holds these";
}

TEST_F(TempDir, ALatin1NamedFileIsFoundAndOpenedUnderItsOwnName) {
    const std::string name = "caf\xE9.mp3";
    std::ofstream(dir_ / name) << "x";
    std::ofstream(dir_ / "caf\xEF\xBF\xBD.mp3") << "the file a lossy mapping would reach";
    std::u16string found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().filename().native().find('\xE9') != std::string::npos) {
            found = os::fromNativePath(entry.path());
        }
    }
    ASSERT_FALSE(found.empty());
    std::ifstream in(os::toNativePath(found));
    std::string content;
    in >> content;
    EXPECT_EQ(content, "x");
}

} // namespace
