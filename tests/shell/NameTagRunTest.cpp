#include "shell/NameTagRun.h"

#include "audio/TagAccess.h"
#include "platform/os/Paths.h"
#include "plugin-api/PluginObject.h"

#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

namespace fs = std::filesystem;
using namespace tonemirror;
using shell::NameTagDirection;
using shell::NameTagFailure;

// A tagger that knows only the title and keeps it in memory across files.
class TitleTagger {
public:
    TitleTagger(bool opens, std::u16string title) : opens_(opens), title_(std::move(title)) {}
    HResult open(const char16_t*) {
        open_ = opens_;
        return opens_ ? S_OK : E_FAIL;
    }
    HResult close() {
        open_ = false;
        return S_OK;
    }
    std::int32_t priority() { return 1; }
    HResult getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity) {
        if (!open_ || tag != TagId_Title || capacity <= 0) {
            return E_FAIL;
        }
        const auto n = std::min<std::size_t>(title_.size(), static_cast<std::size_t>(capacity - 1));
        std::memcpy(buffer, title_.data(), n * sizeof(char16_t));
        buffer[n] = 0;
        return S_OK;
    }
    HResult setTag(std::int32_t tag, const char16_t* text, std::int32_t length) {
        if (!open_ || tag != TagId_Title) {
            return E_NOTIMPL;
        }
        title_.assign(text, static_cast<std::size_t>(length));
        return S_OK;
    }

private:
    bool opens_;
    bool open_ = false;
    std::u16string title_;
};

audio::TagAccess tagsWithTitle(bool opens, std::u16string title) {
    void* object = nullptr;
    plugin::createObject<ITagger, TitleTagger>(&object, opens, std::move(title));
    std::vector<audio::TagAccess::Tagger> taggers;
    taggers.push_back({static_cast<ITagger*>(object), "memory"});
    return audio::TagAccess(std::move(taggers));
}

struct RunCase {
    const char* name;
    NameTagDirection direction;
    const char16_t* pattern;
    bool taggerOpens;
    NameTagFailure expected;
    const char* nameAfter; // the file's name afterwards
    friend void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }
};

class NameTagRunTest : public ::testing::TestWithParam<RunCase> {
protected:
    fakes::TempFolder folder_;
};

TEST_P(NameTagRunTest, ConvertsOrSaysWhyNot) {
    const RunCase& c = GetParam();
    const fs::path file = fs::path(folder_.path()) / "01 - Old Song.mp3";
    const fs::path taken = fs::path(folder_.path()) / "Taken New Song.mp3";
    fakes::writeText(file, "music");
    fakes::writeText(taken, "another song");
    audio::TagAccess tags = tagsWithTitle(c.taggerOpens, u"New Song");
    const std::u16string path = os::fromNativePath(file.native());
    const shell::NameTagOutcome outcome = shell::convertNameAndTags(tags, c.direction, path, c.pattern);
    EXPECT_EQ(outcome.failure, c.expected);
    EXPECT_EQ(outcome.converted(), c.expected == NameTagFailure::None);
    EXPECT_TRUE(fs::exists(fs::path(folder_.path()) / c.nameAfter));
    EXPECT_EQ(fakes::readText(taken), "another song"); // never replaced
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NameTagRunTest,
    ::testing::Values(RunCase{"Renamed", NameTagDirection::TagsToFilename, u"<title>", true,
                              NameTagFailure::None, "New Song.mp3"},
                      RunCase{"TargetTaken", NameTagDirection::TagsToFilename, u"Taken <title>", true,
                              NameTagFailure::TargetExists, "01 - Old Song.mp3"},
                      RunCase{"NoTokenInPattern", NameTagDirection::TagsToFilename, u"plain", true,
                              NameTagFailure::NoTagInPattern, "01 - Old Song.mp3"},
                      // The file has no artist and no album: it keeps its name instead of " - .mp3".
                      RunCase{"NoTagValue", NameTagDirection::TagsToFilename, u"<artist> - <album>", true,
                              NameTagFailure::NoTagValue, "01 - Old Song.mp3"},
                      RunCase{"EmptyPattern", NameTagDirection::TagsToFilename, u"", true,
                              NameTagFailure::EmptyPattern, "01 - Old Song.mp3"},
                      RunCase{"NoTagger", NameTagDirection::FilenameToTags, u"<track> - <title>", false,
                              NameTagFailure::CannotOpen, "01 - Old Song.mp3"},
                      RunCase{"TitleWritten", NameTagDirection::FilenameToTags, u"<track> - <title>", true,
                              NameTagFailure::None, "01 - Old Song.mp3"},
                      RunCase{"NothingTheTaggerTakes", NameTagDirection::FilenameToTags, u"<artist>", true,
                              NameTagFailure::NameGaveNoTag, "01 - Old Song.mp3"}),
    [](const auto& test) { return std::string(test.param.name); });

// The renamed file's new name travels with a refused rename, for the message.
TEST(NameTagRunOutcome, NamesTheTargetThatIsTaken) {
    fakes::TempFolder folder;
    const fs::path file = fs::path(folder.path()) / "a.mp3";
    fakes::writeText(file, "music");
    fakes::writeText(fs::path(folder.path()) / "New Song.mp3", "kept");
    audio::TagAccess tags = tagsWithTitle(true, u"New Song");
    const auto outcome = shell::convertNameAndTags(tags, NameTagDirection::TagsToFilename,
                                                   os::fromNativePath(file.native()), u"<title>");
    EXPECT_EQ(outcome.failure, NameTagFailure::TargetExists);
    EXPECT_EQ(outcome.target, os::fromNativePath((fs::path(folder.path()) / "New Song.mp3").native()));
}

} // namespace
