// The language files shipped in Locale/ go through the real translator: each loads without an error
// report, names its language in that language and answers every key the code uses, keeping the
// English text's placeholders and line breaks and a usable access key in every menu.
#include "shell/CTranslator.h"

#include "platform/os/Text.h"
#include "support/FileContents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using tonemirror::S_OK;
using tonemirror::os::utf16ToUtf8;
using tonemirror::os::utf8ToUtf16;
using tonemirror::shell::CTranslator;

const std::filesystem::path kSourceDir = TM_SOURCE_DIR;

bool isKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The C++ string literal starting at text[p] (its opening quote), escapes resolved; p ends after it.
std::string readLiteral(const std::string& text, std::size_t& p) {
    std::string value;
    for (++p; p < text.size() && text[p] != '"'; ++p) {
        if (text[p] == '\\' && p + 1 < text.size()) {
            ++p;
            value += text[p] == 'n' ? '\n' : text[p];
        } else {
            value += text[p];
        }
    }
    ++p;
    return value;
}

// Every key literal in one source text, as in context.text(u"KEY", u"Default"), with the literal right
// after it, when there is one, as its English default.
void collectKeys(const std::string& text, std::map<std::string, std::set<std::string>>& keys) {
    for (std::size_t at = text.find("u\""); at != std::string::npos; at = text.find("u\"", at + 1)) {
        if (at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_')) {
            continue;
        }
        std::size_t p = at + 2;
        while (p < text.size() && isKeyChar(text[p])) {
            ++p;
        }
        if (p >= text.size() || text[p] != '"' || p - at - 2 < 2 || !std::isupper(text[at + 2])) {
            continue;
        }
        auto& defaults = keys[text.substr(at + 2, p - at - 2)];
        p = text.find_first_not_of(" \t\r\n", p + 1);
        if (p == std::string::npos || text[p] != ',') {
            continue;
        }
        p = text.find_first_not_of(" \t\r\n", p + 1);
        for (const char* prefix : {"u8\"", "u\"", "L\"", "\""}) {
            if (p != std::string::npos && text.compare(p, std::strlen(prefix), prefix) == 0) {
                p += std::strlen(prefix) - 1;
                defaults.insert(readLiteral(text, p));
                break;
            }
        }
    }
}

// Keys used in the user-interface code (app/, shell/), each with its English defaults.
std::map<std::string, std::set<std::string>> usedKeys() {
    std::map<std::string, std::set<std::string>> keys;
    for (const char* folder : {"app", "shell"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(kSourceDir / folder)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".cpp" || extension == ".h") {
                collectKeys(tonemirror::fakes::readText(entry.path()), keys);
            }
        }
    }
    return keys;
}

std::multiset<std::string> placeholders(const std::string& text) {
    std::multiset<std::string> found;
    for (std::size_t p = text.find('%'); p != std::string::npos && p + 1 < text.size();
         p = text.find('%', p + 1)) {
        if (text[p + 1] >= '1' && text[p + 1] <= '9') {
            found.insert(text.substr(p, 2));
        }
    }
    return found;
}

// The menus the program builds, each a list of item keys whose access keys must differ.
const std::vector<std::vector<const char16_t*>> kMenus{
    {u"MENU_FILES", u"MENU_EDIT", u"MENU_SCANNING", u"MENU_TOOLS", u"MENU_HELP"},
    {u"MENU_UNDO"},
    {u"MENU_SAVE_PLAYLIST", u"MENU_EXPORT_RESULTS", u"MENU_EXIT"},
    {u"MENU_START", u"MENU_PAUSE", u"MENU_STOP"},
    {u"MENU_OPTIONS", u"MENU_MARK_ALL_BUT_BEST", u"MENU_KEEPER_RULES", u"MENU_FOLDERS", u"MENU_VIEW",
     u"MENU_LANGUAGES"},
    {u"MENU_VIEW_PAIRS", u"MENU_VIEW_GROUPS", u"MENU_REFRESH", u"MENU_TOOLBAR", u"MENU_STATUS_BAR"},
    {u"MENU_CHECK_UPDATES", u"MENU_ABOUT"},
    {u"MENU_MARK_ALL_BUT_BEST", u"MENU_MOVE_MARKED", u"MENU_LINK_MARKED"}, // the groups' context menu
};

struct ShippedFile {
    const char* file;
    const char16_t* language;
};

void PrintTo(const ShippedFile& shipped, std::ostream* out) {
    *out << shipped.file;
}

class ShippedTranslationsTest : public ::testing::TestWithParam<ShippedFile> {
protected:
    void SetUp() override {
        std::setlocale(LC_ALL, "C.UTF-8"); // access keys are compared without regard to case
        ::testing::internal::CaptureStderr();
        const auto result = translator_.loadFile(kSourceDir / "Locale" / GetParam().file);
        translator_.finishLoading();
        const std::string reports = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(result, S_OK);
        ASSERT_EQ(reports, "");
        // One language, named exactly so, beside the built-in English.
        const auto names = translator_.languages().names;
        ASSERT_EQ(names.size(), 2u);
        ASSERT_EQ(std::count(names.begin(), names.end(), GetParam().language), 1);
        ASSERT_EQ(translator_.selectLanguage(GetParam().language), S_OK);
    }

    std::u16string_view text(const char16_t* key) const { return translator_.translate(key, u""); }

    CTranslator translator_;
};

TEST_P(ShippedTranslationsTest, EveryUsedKeyKeepsPlaceholdersAndLineBreaks) {
    const auto keys = usedKeys();
    ASSERT_GT(keys.size(), 50u);
    for (const auto& [key, defaults] : keys) {
        const std::u16string key16 = utf8ToUtf16(key);
        const std::string value = utf16ToUtf8(text(key16.c_str()));
        ASSERT_FALSE(value.empty()) << key << " is missing";
        EXPECT_EQ(value.find_first_not_of(" \t\r\n"), 0u) << key << " starts with a blank";
        EXPECT_EQ(value.find_last_not_of(" \t\r\n"), value.size() - 1) << key << " ends with a blank";
        EXPECT_EQ(value.find("\\n"), std::string::npos) << key << ": a line break is written as a real one";
        for (const std::string& english : defaults) {
            EXPECT_EQ(placeholders(value), placeholders(english)) << key << ": " << value;
            EXPECT_EQ(std::count(value.begin(), value.end(), '\n'),
                      std::count(english.begin(), english.end(), '\n'))
                << key << ": " << value;
        }
    }
}

TEST_P(ShippedTranslationsTest, AccessKeysDifferWithinEachMenu) {
    for (const auto& menu : kMenus) {
        std::set<char16_t> taken;
        for (const char16_t* key : menu) {
            const std::u16string_view value = text(key);
            const auto amp = value.find(u'&');
            if (amp == std::u16string_view::npos) {
                continue;
            }
            EXPECT_EQ(value.find(u'&', amp + 1), std::u16string_view::npos) << utf16ToUtf8(value);
            ASSERT_LT(amp + 1, value.size()) << utf16ToUtf8(value);
            std::u16string letter(1, value[amp + 1]);
            tonemirror::os::lowerCaseInPlace(letter);
            EXPECT_TRUE(taken.insert(letter[0]).second)
                << "access key of " << utf16ToUtf8(value) << " used twice";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Locale, ShippedTranslationsTest,
                         ::testing::Values(ShippedFile{"de.lng", u"Deutsch"},
                                           ShippedFile{"es.lng", u"Español"},
                                           ShippedFile{"fr.lng", u"Français"},
                                           ShippedFile{"ru.lng", u"Русский"}),
                         [](const auto& param) { return std::string(param.param.file, 2); });

// All files together, as the program loads them at start-up: one language each, no report.
TEST(ShippedTranslations, LoadTogetherBesideEnglish) {
    CTranslator translator;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(translator.loadAll(kSourceDir / "Locale"), S_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    const auto names = translator.languages().names;
    EXPECT_EQ(std::set<std::u16string_view>(names.begin(), names.end()),
              (std::set<std::u16string_view>{u"English", u"Deutsch", u"Español", u"Français", u"Русский"}));
}

} // namespace
