#include "platform/os/TrashInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace tonemirror;

namespace {

struct EncodingCase {
    const char* name;
    std::string bytes;
    std::string encoded;
};

class PathEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(PathEncoding, EncodesOnlyWhatMustBeAndDecodesBack) {
    EXPECT_EQ(os::percentEncodePath(GetParam().bytes), GetParam().encoded);
    EXPECT_EQ(os::percentDecodePath(GetParam().encoded), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Trash, PathEncoding,
    testing::Values(EncodingCase{"Plain", "/music/a-b_c.d!~*'()", "/music/a-b_c.d!~*'()"},
                    EncodingCase{"PercentStaysItself", "/m/%41.mp3", "/m/%2541.mp3"},
                    EncodingCase{"Blanks", "/m/a b\tc", "/m/a%20b%09c"},
                    EncodingCase{"LineBreaksCannotEndTheRecord", "/m/a\nPath=/etc", "/m/a%0APath%3D/etc"},
                    EncodingCase{"Utf8", "/m/\xC3\xA9t\xC3\xA9", "/m/%C3%A9t%C3%A9"},
                    EncodingCase{"NotUtf8", "/m/\xFF\x80", "/m/%FF%80"}),
    [](const auto& param) { return param.param.name; });

TEST(TrashInfo, DecodingRefusesBrokenEscapesAndNul) {
    for (const char* text : {"/a%", "/a%4", "/a%G1", "/a%00b", "%%41"}) {
        EXPECT_FALSE(os::percentDecodePath(text)) << text;
    }
    EXPECT_EQ(os::percentDecodePath("/a%4a%4A"), "/aJJ");
}

TEST(TrashInfo, RecordRoundTripsAnyName) {
    const os::TrashInfo info{"/m/%41 \xFF\n\r=[Trash Info]", "2026-12-08T14:05:09"};
    const std::string text = os::formatTrashInfo(info);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    const auto back = os::parseTrashInfo(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->path, info.path);
    EXPECT_EQ(back->deletionDate, info.deletionDate);
}

struct RecordCase {
    const char* name;
    std::string text;
    const char* path; // nullptr: refused
};

class RecordReading : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordReading, TakesOnlyAnUnambiguousRecord) {
    const auto info = os::parseTrashInfo(GetParam().text);
    if (GetParam().path == nullptr) {
        EXPECT_FALSE(info);
    } else {
        ASSERT_TRUE(info);
        EXPECT_EQ(info->path, GetParam().path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trash, RecordReading,
    testing::Values(
        RecordCase{"Usual", "[Trash Info]\nPath=/a%20b\nDeletionDate=2026-01-01T00:00:00\n", "/a b"},
        RecordCase{"CrLfAndComments", "# note\r\n[Trash Info]\r\nPath=rel/x\r\n", "rel/x"},
        RecordCase{"DateWithControlCharactersIsDropped", "[Trash Info]\nPath=/a\nDeletionDate=2026\r\r\n",
                   "/a"},
        RecordCase{"OtherGroupsIgnored", "[Other]\nPath=/no\n[Trash Info]\nPath=/yes\n", "/yes"},
        RecordCase{"NoGroup", "Path=/a\n", nullptr},
        RecordCase{"NoPath", "[Trash Info]\nDeletionDate=x\n", nullptr},
        RecordCase{"EmptyPath", "[Trash Info]\nPath=\n", nullptr},
        RecordCase{"TwoPaths", "[Trash Info]\nPath=/a\nPath=/b\n", nullptr},
        RecordCase{"TwoGroups", "[Trash Info]\nPath=/a\n[Trash Info]\nDeletionDate=x\n", nullptr},
        RecordCase{"BadEscape", "[Trash Info]\nPath=/a%zz\n", nullptr},
        RecordCase{"TooLong", "[Trash Info]\nPath=/a\n#" + std::string(os::kMaxTrashInfoBytes, 'x'),
                   nullptr}),
    [](const auto& param) { return param.param.name; });

} // namespace
