#include "shell/CTranslator.h"

#include "platform/os/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using tonemirror::E_FAIL;
using tonemirror::E_OUTOFMEMORY;
using tonemirror::S_OK;
using tonemirror::shell::CTranslator;
using tonemirror::shell::keyLess;

enum class Encoding { Utf16WithMark, Utf16, Utf8WithMark, Utf8 };

std::string encode(const std::u16string& text, Encoding encoding) {
    if (encoding == Encoding::Utf8WithMark || encoding == Encoding::Utf8) {
        return (encoding == Encoding::Utf8WithMark ? "\xEF\xBB\xBF" : "") + tonemirror::os::utf16ToUtf8(text);
    }
    std::string bytes = encoding == Encoding::Utf16WithMark ? "\xFF\xFE" : "";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

class TranslatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tm-translator-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path writeFile(const std::string& name, const std::string& bytes) {
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::filesystem::path writeText(const std::string& name, const std::u16string& text,
                                    Encoding encoding = Encoding::Utf16WithMark) {
        return writeFile(name, encode(text, encoding));
    }
    // Loads a single language file whose section is "Test" and makes that language current.
    void loadSection(const std::u16string& body) {
        writeText("test.lng", u"[Test]\r\n" + body);
        ASSERT_EQ(translator_.loadAll(folder_), S_OK);
        ASSERT_EQ(translator_.selectLanguage(u"Test"), S_OK);
    }
    std::u16string lookup(const char16_t* key) {
        return std::u16string(translator_.translate(key, u"<default>"));
    }

    std::filesystem::path folder_;
    CTranslator translator_;
};

class EncodingTest : public TranslatorTest, public ::testing::WithParamInterface<Encoding> {};

TEST_P(EncodingTest, ReadsEntriesInEachEncoding) {
    writeText("de.lng", u"[Deutsch]\nSIZE=Gr\u00f6\u00dfe\nOK=\u20acin Ordnung\n", GetParam());
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    ASSERT_EQ(translator_.selectLanguage(u"Deutsch"), S_OK);
    EXPECT_EQ(lookup(u"SIZE"), u"Gr\u00f6\u00dfe");
    EXPECT_EQ(lookup(u"OK"), u"\u20acin Ordnung");
}

std::string nameOf(const ::testing::TestParamInfo<Encoding>& info) {
    constexpr const char* kNames[] = {"Utf16WithMark", "Utf16", "Utf8WithMark", "Utf8"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Encodings, EncodingTest,
                         ::testing::Values(Encoding::Utf16WithMark, Encoding::Utf16, Encoding::Utf8WithMark),
                         nameOf);

TEST_F(TranslatorTest, Utf8WithoutMarkIsReadAsUtf16AndSkipped) {
    writeText("de.lng", u"[Deutsch]\nSIZE=Gr\u00f6\u00dfe\n", Encoding::Utf8);
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    EXPECT_EQ(translator_.languages().names, std::vector<std::u16string_view>{u"English"});
    EXPECT_EQ(translator_.selectLanguage(u"Deutsch"), E_FAIL);
}

TEST(KeyOrder, ShorterFirstThenCodeUnits) {
    struct Case {
        std::u16string_view a, b;
        bool less;
    };
    const Case cases[] = {
        {u"ZZ", u"AAA", true},          // length decides before the letters
        {u"AAA", u"ZZ", false},         //
        {u"Zulu", u"alba", true},       // upper case units are lower than lower case ones
        {u"ABC", u"ABD", true},         //
        {u"ABC", u"ABC", false},        // strict
        {u"a\u00e9", u"a\uffff", true}, // units compare unsigned
        {u"", u"A", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyLess(c.a, c.b), c.less) << std::string(c.a.begin(), c.a.end());
    }
}

TEST_F(TranslatorTest, ListsLanguagesInKeyOrderWhateverTheFileNames) {
    writeText("a.lng", u"[Bbbbbbbb]\nK=8\n");
    writeText("b.lng", u"[Aaaaaaa]\nK=7\n");
    writeText("c.lng", u"[Zzzzzz]\nK=6\n[Deutsch]\nK=de\n[Zulu]\nK=zu\n[alba]\nK=al\n");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    const auto list = translator_.languages();
    const std::vector<std::u16string_view> expected{u"Zulu",    u"alba",    u"Zzzzzz",  u"Aaaaaaa",
                                                    u"Deutsch", u"English", u"Bbbbbbbb"};
    EXPECT_EQ(list.names, expected);
    EXPECT_EQ(list.names[list.current], u"English");
}

TEST_F(TranslatorTest, LooksUpKeysOfMixedLengths) {
    // Keys sorted alphabetically would be out of key order; every one must still be found.
    std::u16string body;
    std::vector<std::u16string> keys;
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::u16string key;
        const int length = 1 + static_cast<int>(random() % 12);
        for (int j = 0; j < length; ++j) {
            key.push_back(u"ABCXYZ019_"[random() % 10]);
        }
        keys.push_back(key);
        body += key + u" = v" + key + u"\r\n";
    }
    loadSection(body);
    for (const auto& key : keys) {
        EXPECT_EQ(lookup(key.c_str()), u"v" + key);
    }
    EXPECT_EQ(lookup(u"ABCXYZ019_ABC"), u"<default>"); // 13 units: longer than any key
}

struct ValueCase {
    const char* name;
    std::u16string body;
    const char16_t* key;
    std::u16string expected; // "<default>" when the entry must not exist
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueTest : public TranslatorTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueTest, ReadsValue) {
    const auto& c = GetParam();
    loadSection(c.body + u"\r\nSENTINEL=present\r\n");
    EXPECT_EQ(lookup(c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueTest,
    ::testing::Values(
        ValueCase{"Unquoted", u"KEY=  text with trailing  \t", u"KEY", u"text with trailing  \t"},
        ValueCase{"BlanksAroundEquals", u"  KEY \t=\ttext", u"KEY", u"text"},
        ValueCase{"Quoted", u"KEY = \"  padded  \" ignored after", u"KEY", u"  padded  "},
        ValueCase{"QuotedOverLines", u"KEY=\"one\r\ntwo\nthree\"\r\n", u"KEY", u"one\r\ntwo\nthree"},
        ValueCase{"EqualsThenLineBreak", u"KEY=\r\n\r\n   next line  \r\n", u"KEY", u"next line  "},
        ValueCase{"LowerCaseKey", u"key=text", u"key", u"<default>"},
        ValueCase{"MixedCaseKeyIgnoredWholeLine", u"KEYs=text", u"KEY", u"<default>"},
        ValueCase{"EmptyQuotedValue", u"KEY=\"\"", u"KEY", u"<default>"},
        ValueCase{"NoEquals", u"KEY text", u"KEY", u"<default>"},
        ValueCase{"Comment", u"  ; KEY=text", u"KEY", u"<default>"},
        ValueCase{"EmptyKey", u"=text", u"SENTINEL", u"present"},
        ValueCase{"EmptySectionNameKeepsSection", u"[  ]\r\nKEY=text", u"KEY", u"text"},
        ValueCase{"EmbeddedQuoteUnquoted", u"KEY=say \"hi\"", u"KEY", u"say \"hi\""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TranslatorTest, ReturnedTextsAreTerminatedInPlace) {
    loadSection(u"A=\"quoted\"rest\r\nBB=plain\r\n");
    for (const char16_t* key : {u"A", u"BB"}) {
        const auto text = translator_.translate(key, u"");
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.data()[text.size()], u'\0');
    }
    const auto names = translator_.languages().names;
    for (const auto name : names) {
        EXPECT_EQ(name.data()[name.size()], u'\0');
    }
}

TEST_F(TranslatorTest, UnterminatedQuoteStopsParsingButKeepsEarlierEntries) {
    loadSection(u"FIRST=kept\r\nSECOND=\"never closed\r\nTHIRD=lost\r\n");
    EXPECT_EQ(lookup(u"FIRST"), u"kept");
    EXPECT_EQ(lookup(u"SECOND"), u"<default>");
    EXPECT_EQ(lookup(u"THIRD"), u"<default>");
}

TEST_F(TranslatorTest, EntriesBeforeFirstSectionAreIgnored) {
    writeText("x.lng", u"EARLY=no\r\n[Test]\r\nLATE=yes");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    ASSERT_EQ(translator_.selectLanguage(u"Test"), S_OK);
    EXPECT_EQ(lookup(u"EARLY"), u"<default>");
    EXPECT_EQ(lookup(u"LATE"), u"yes"); // last line without a line break
}

TEST_F(TranslatorTest, SectionsOfOneLanguageMergeAcrossFilesAndCase) {
    writeText("1.lng", u"[Deutsch]\nA=a1\nB=b1\n[Svenska]\nA=sv\n");
    writeText("2.lng", u"[ deutsch ]\nB=b2\nC=c2\n[DEUTSCH]\nD=d2\n");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    EXPECT_EQ(translator_.languages().names,
              (std::vector<std::u16string_view>{u"Deutsch", u"English", u"Svenska"}));
    ASSERT_EQ(translator_.selectLanguage(u"DeUtScH"), S_OK);
    EXPECT_EQ(lookup(u"A"), u"a1");
    EXPECT_EQ(lookup(u"B"), u"b1"); // one value per key: the file loaded first
    EXPECT_EQ(lookup(u"C"), u"c2");
    EXPECT_EQ(lookup(u"D"), u"d2");
}

TEST_F(TranslatorTest, EnglishSectionAddsToBuiltInEnglish) {
    writeText("en.lng", u"[english]\nOK=Okay\n");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    EXPECT_EQ(translator_.languages().names, std::vector<std::u16string_view>{u"English"});
    EXPECT_EQ(lookup(u"OK"), u"Okay"); // English is current after loading
    EXPECT_EQ(lookup(u"CANCEL"), u"<default>");
}

TEST_F(TranslatorTest, LookupFallsBackToDefault) {
    writeText("de.lng", u"[Deutsch]\nOK=Gut\n");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    EXPECT_EQ(lookup(u"OK"), u"<default>"); // English current, no English entries

    ASSERT_EQ(translator_.selectLanguage(u"deutsch"), S_OK);
    EXPECT_EQ(lookup(u"OK"), u"Gut");
    EXPECT_EQ(lookup(u"MISSING"), u"<default>");
    EXPECT_EQ(lookup(u"ok"), u"<default>"); // keys are case-sensitive

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(translator_.translate(nullptr, u"fallback"), u"fallback");
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(report.starts_with("CTranslator::GetTranslation:")) << report;
    EXPECT_TRUE(report.ends_with(" failed [-2147024809]")) << report; // E_INVALIDARG

    // An unknown name, or a prefix of a known one, changes nothing.
    EXPECT_EQ(translator_.selectLanguage(u"Deutsc"), E_FAIL);
    EXPECT_EQ(translator_.selectLanguage(u"Klingon"), E_FAIL);
    EXPECT_EQ(lookup(u"OK"), u"Gut");
}

TEST_F(TranslatorTest, MissingFolderLeavesEnglishOnly) {
    ASSERT_EQ(translator_.loadAll(folder_ / "absent"), S_OK);
    const auto list = translator_.languages();
    EXPECT_EQ(list.names, std::vector<std::u16string_view>{u"English"});
    EXPECT_EQ(list.current, 0u);
}

TEST_F(TranslatorTest, OnlyLngFilesAreRead) {
    writeText("de.txt", u"[Deutsch]\nOK=Gut\n");
    std::filesystem::create_directory(folder_ / "folder.lng");
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    EXPECT_EQ(translator_.selectLanguage(u"Deutsch"), E_FAIL);
}

// Size limits and broken files: each fails on its own without disturbing the others.
struct BadFileCase {
    const char* name;
    std::string bytes;
    tonemirror::HResult result;
    bool reported;
};

void PrintTo(const BadFileCase& c, std::ostream* os) {
    *os << c.name;
}

class BadFileTest : public TranslatorTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, FailsCleanly) {
    const auto& c = GetParam();
    writeText("good.lng", u"[Deutsch]\nOK=Gut\n");
    const auto bad = writeFile("bad.lng", c.bytes);

    CTranslator single;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(single.loadFile(bad), c.result);
    const std::string report = ::testing::internal::GetCapturedStderr();
    if (c.reported) {
        EXPECT_TRUE(report.starts_with("CTranslator::Load:")) << report;
        EXPECT_TRUE(report.ends_with(" failed [" + std::to_string(c.result) + "]")) << report;
    } else {
        EXPECT_EQ(report, "");
    }

    ::testing::internal::CaptureStderr();
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(translator_.languages().names, (std::vector<std::u16string_view>{u"Deutsch", u"English"}));
    ASSERT_EQ(translator_.selectLanguage(u"Deutsch"), S_OK);
    EXPECT_EQ(lookup(u"OK"), u"Gut");
}

std::string largeFile(std::size_t size) {
    std::string bytes = encode(u"[Big]\r\nKEY=value\r\n;", Encoding::Utf16WithMark);
    bytes.resize(size, ' ');
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, BadFileTest,
    ::testing::Values(
        BadFileCase{"NineBytes", std::string("\xFF\xFE[\0A\0]\0K", 9), E_FAIL, true},
        BadFileCase{"TooLarge", largeFile(CTranslator::kMaxFileSize + 1), E_OUTOFMEMORY, true},
        BadFileCase{"ShortUtf8", "\xEF\xBB\xBF[X]\nA=b\n", E_FAIL, true},
        BadFileCase{"Binary", std::string("\x00\x01\x02\xFF\xD8\x00\xDC[\x00=\"\x00\x00\x00\x00\x00", 16),
                    E_FAIL, false},
        BadFileCase{"NoSectionClose", encode(u"[Deutsch\nOK=Gut\n", Encoding::Utf16), E_FAIL, false},
        BadFileCase{"ZeroEndsText", encode(std::u16string(u"[Q]\n\0OK=Gut\n", 12), Encoding::Utf16), E_FAIL,
                    false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TranslatorTest, AcceptsLargestAndSmallestFiles) {
    // An odd last byte still forms a unit.
    writeFile("small.lng", encode(u"[S]\nK=v", Encoding::Utf16) + "!");
    writeFile("large.lng", largeFile(CTranslator::kMaxFileSize));
    ASSERT_EQ(translator_.loadAll(folder_), S_OK);
    ASSERT_EQ(translator_.selectLanguage(u"S"), S_OK);
    EXPECT_EQ(lookup(u"K"), u"v!");
    ASSERT_EQ(translator_.selectLanguage(u"Big"), S_OK);
    EXPECT_EQ(lookup(u"KEY"), u"value");
}

TEST_F(TranslatorTest, LoadsFromMemoryLikeFromFile) {
    const std::string bytes = encode(u"[Deutsch]\nOK=Gut\n", Encoding::Utf8WithMark);
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    ASSERT_EQ(translator_.loadBuffer(data), S_OK);
    translator_.finishLoading();
    ASSERT_EQ(translator_.selectLanguage(u"Deutsch"), S_OK);
    EXPECT_EQ(lookup(u"OK"), u"Gut");
}

} // namespace
