#include "shell/ActionTexts.h"

#include "shell/CTranslator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tonemirror::shell::CTranslator;
using tonemirror::shell::translateActionText;

struct TextCase {
    const char* name;
    const char* why; // as the journal recorded it
    const char16_t* shown;
};

class ActionTextsTest : public testing::TestWithParam<TextCase> {
protected:
    void SetUp() override {
        const std::string lng =
            "\xEF\xBB\xBF[Deutsch]\n"
            "ACTION_WHY_CHANGED = sie wurde seit dem Scan geändert\n"
            "ACTION_WHY_NO_LINK = die Verknüpfung kann nicht angelegt werden\n"
            "ACTION_WHY_ORIGINAL_NOT_TRASHED = das Original kann nicht in den Papierkorb: %1\n"
            "ACTION_WHY_JOURNAL_FOLDER = der Ordner '%1' ist nicht beschreibbar\n"
            "ACTION_WHY_NOT_BACK = sie kann nicht aus dem Papierkorb geholt werden\n"
            "TRASH_WHY_NOT_FOUND = die Datei existiert nicht mehr\n";
        const std::vector<std::uint8_t> bytes(lng.begin(), lng.end());
        ASSERT_EQ(translator_.loadBuffer(bytes), 0);
        translator_.finishLoading();
        ASSERT_EQ(translator_.selectLanguage(u"Deutsch"), 0);
    }
    CTranslator translator_;
};

// The reasons the actions write, in the user's language, with the system's words, names and the
// trash's own reason kept in their places.
TEST_P(ActionTextsTest, ReasonShownInTheUsersLanguage) {
    EXPECT_EQ(translateActionText(translator_, GetParam().why), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActionTextsTest,
    testing::Values(
        TextCase{"Plain", "it has changed since it was scanned", u"sie wurde seit dem Scan geändert"},
        TextCase{"SystemWordsKept", "the link cannot be made (Permission denied)",
                 u"die Verknüpfung kann nicht angelegt werden (Permission denied)"},
        TextCase{"NestedTrashReason", "the original cannot be moved to the trash: the file no longer exists",
                 u"das Original kann nicht in den Papierkorb: die Datei existiert nicht mehr"},
        TextCase{"NameKeptByteForByte",
                 "the journal folder '/m/caf\xE9' cannot be written, so no file was touched",
                 u"der Ordner '/m/caf\xDCE9' ist nicht beschreibbar"},
        TextCase{"TranslationWithoutPlaceHolder", "it cannot be taken from the trash: its disk is read-only",
                 u"sie kann nicht aus dem Papierkorb geholt werden: its disk is read-only"},
        TextCase{"NotTranslatedFallsBackToEnglish", "its original place is taken by another file",
                 u"its original place is taken by another file"},
        TextCase{"SimilarButLonger", "it has changed since it was scanned twice",
                 u"it has changed since it was scanned twice"},
        TextCase{"Unknown", "something else", u"something else"}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
