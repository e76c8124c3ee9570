#include "shell/ReferenceFolders.h"

#include <gtest/gtest.h>

namespace {

using tonemirror::shell::ReferenceFolders;

struct CoverCase {
    const char* name;
    const char16_t* path;
    bool covered;
};

class ReferenceCoverTest : public testing::TestWithParam<CoverCase> {};

// Whole names only: a folder whose name merely starts like a reference folder's is no reference.
TEST_P(ReferenceCoverTest, CoversTheFolderAndWhatLiesBelow) {
    const ReferenceFolders references({u"/music/best/", u"/archive"});
    EXPECT_EQ(references.covers(GetParam().path), GetParam().covered);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceCoverTest,
                         testing::Values(CoverCase{"Itself", u"/music/best", true},
                                         CoverCase{"FileBelow", u"/music/best/a/b.flac", true},
                                         CoverCase{"SiblingWithLongerName", u"/music/bestof/b.flac", false},
                                         CoverCase{"Parent", u"/music", false},
                                         CoverCase{"Second", u"/archive/x.mp3", true}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ReferenceFoldersTest, ChoosingAndDroppingKeepsOneEntryPerFolder) {
    ReferenceFolders references({u"/a", u"/a/", u"", u"/b"});
    EXPECT_EQ(references.folders(), (std::vector<std::u16string>{u"/a", u"/b"}));
    EXPECT_FALSE(references.set(u"/a/", true)); // already chosen under its plain name
    EXPECT_TRUE(references.isChosen(u"/a/"));
    EXPECT_FALSE(references.isChosen(u"/a/c")); // covered, but not chosen itself
    EXPECT_TRUE(references.set(u"/a", false));
    EXPECT_FALSE(references.set(u"/a", false));
    EXPECT_FALSE(references.covers(u"/a/c"));
    EXPECT_TRUE(references.set(u"/", true));
    EXPECT_TRUE(references.covers(u"/anything"));
    EXPECT_EQ(references.folders(), (std::vector<std::u16string>{u"/b", u"/"}));
}

} // namespace
