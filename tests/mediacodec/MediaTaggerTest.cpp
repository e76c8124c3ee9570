#include "plugins/mediacodec/MediaTagger.h"

#include "mediacodec/FakeRuntime.h"
#include "plugin-api/PluginObject.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tonemirror;
using fakes::FakeRuntime;
using mediacodec::MediaTagger;

namespace {

const std::u16string kFile = u"/music/a.wma";

class MediaTaggerTest : public testing::Test {
protected:
    void SetUp() override {
        auto& a = rt.files[kFile].attributes;
        a.putString(wmf::kAttrTitle, u"Night Drive");
        a.putString(wmf::kAttrAuthor, u"Kestrel");
        a.putDword(wmf::kAttrTrack, 7); // some files keep the track as a number
        a.clearChanges();
    }

    std::u16string tag(MediaTagger& t, std::int32_t id, std::int32_t capacity = 64,
                       HResult* result = nullptr) {
        std::vector<char16_t> buffer(static_cast<std::size_t>(capacity), u'#');
        const HResult r = t.getTag(id, buffer.data(), capacity);
        if (result != nullptr) {
            *result = r;
        }
        return std::u16string(buffer.data());
    }

    FakeRuntime rt;
};

TEST_F(MediaTaggerTest, GetTagAnswersTextsAndRefusesTheRest) {
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    HResult r = S_OK;
    EXPECT_EQ(tag(t, TagId_Title, 64, &r), u"Night Drive");
    EXPECT_EQ(r, S_OK);
    EXPECT_EQ(tag(t, TagId_Artist, 64, &r), u"Kestrel");
    // Truncated to capacity - 1; capacity 1 leaves only the terminator.
    EXPECT_EQ(tag(t, TagId_Title, 6, &r), u"Night");
    EXPECT_EQ(r, S_OK);
    EXPECT_EQ(tag(t, TagId_Title, 1, &r), u"");
    EXPECT_EQ(r, S_OK);
    // A number where text is expected, an absent tag and an unknown id: empty and E_NOTIMPL.
    EXPECT_EQ(tag(t, TagId_Track, 64, &r), u"");
    EXPECT_EQ(r, E_NOTIMPL);
    EXPECT_EQ(tag(t, TagId_Genre, 64, &r), u"");
    EXPECT_EQ(r, E_NOTIMPL);
    EXPECT_EQ(tag(t, 0, 64, &r), u"");
    EXPECT_EQ(r, E_NOTIMPL);
    EXPECT_EQ(tag(t, 8, 64, &r), u"");
    EXPECT_EQ(r, E_NOTIMPL);
    char16_t one[1];
    EXPECT_EQ(t.getTag(TagId_Title, nullptr, 10), E_INVALIDARG);
    EXPECT_EQ(t.getTag(TagId_Title, one, 0), E_INVALIDARG);
    EXPECT_EQ(t.getTag(TagId_Title, one, -5), E_INVALIDARG);
}

TEST_F(MediaTaggerTest, NotOpenAndNoEditor) {
    MediaTagger t(rt);
    HResult r = S_OK;
    tag(t, TagId_Title, 16, &r);
    EXPECT_EQ(r, E_FAIL);
    EXPECT_EQ(t.setTag(TagId_Title, u"x", 1), E_FAIL);
    EXPECT_EQ(t.setTag(TagId_Title, nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(t.open(nullptr), E_INVALIDARG);
    EXPECT_TRUE(failed(t.open(u"/music/missing.wma")));
    EXPECT_EQ(t.close(), S_OK);
    EXPECT_EQ(t.priority(), 100);

    FakeRuntime broken;
    broken.createFails = true;
    broken.files[kFile];
    MediaTagger orphan(broken);
    EXPECT_EQ(orphan.open(kFile.c_str()), E_FAIL);
}

TEST_F(MediaTaggerTest, CloseFlushesOnlyWhenModified) {
    {
        MediaTagger t(rt);
        ASSERT_EQ(t.open(kFile.c_str()), S_OK);
        EXPECT_EQ(t.close(), S_OK);
        EXPECT_EQ(rt.log.flushes, 0);
        EXPECT_EQ(rt.log.editorCloses, 1);
    }
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    EXPECT_EQ(t.setTag(TagId_Genre, u"Ambient and more", 7), S_OK); // length, not the terminator, counts
    EXPECT_EQ(t.setTag(TagId_Track, u"8", 1), S_OK);
    EXPECT_EQ(t.close(), S_OK);
    EXPECT_EQ(rt.log.flushes, 1);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    EXPECT_EQ(tag(t, TagId_Genre), u"Ambient");
    EXPECT_EQ(tag(t, TagId_Track), u"8");
    EXPECT_EQ(tag(t, TagId_Title), u"Night Drive");
}

TEST_F(MediaTaggerTest, ReleaseWithoutCloseStillWrites) {
    void* object = nullptr;
    ASSERT_EQ((plugin::createObject<ITagger, MediaTagger>(&object, rt)), S_OK);
    auto* t = static_cast<ITagger*>(object);
    ASSERT_EQ(t->vtbl->Open(t, kFile.c_str()), S_OK);
    ASSERT_EQ(t->vtbl->SetTag(t, TagId_Album, u"Lights", 6), S_OK);
    t->vtbl->Release(t);
    EXPECT_EQ(rt.log.flushes, 1);
    EXPECT_EQ(rt.files[kFile].attributes.stringValue(wmf::kAttrAlbum), u"Lights");
}

TEST_F(MediaTaggerTest, FailedWriteIsReportedByClose) {
    rt.files[kFile].flushResult = E_FAIL;
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    ASSERT_EQ(t.setTag(TagId_Title, u"New", 3), S_OK);
    EXPECT_EQ(t.close(), E_FAIL);
    EXPECT_EQ(rt.files[kFile].attributes.stringValue(wmf::kAttrTitle), u"Night Drive");
    // The tagger is closed afterwards, and a later close has nothing to write.
    EXPECT_EQ(t.setTag(TagId_Title, u"x", 1), E_FAIL);
    EXPECT_EQ(t.close(), S_OK);
}

TEST_F(MediaTaggerTest, SetTagRefusals) {
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    EXPECT_EQ(t.setTag(9, u"x", 1), E_NOTIMPL);
    EXPECT_EQ(t.setTag(TagId_Title, u"x", -1), E_INVALIDARG);
    // A text whose byte size does not fit 16 bits is refused rather than cut at a wrapped size.
    const std::u16string huge(40000, u'z');
    EXPECT_EQ(t.setTag(TagId_Comment, huge.c_str(), static_cast<std::int32_t>(huge.size())), E_TEXT_TOO_LONG);
    EXPECT_EQ(t.close(), S_OK);
    EXPECT_EQ(rt.log.flushes, 0) << "refused changes must not mark the file modified";
}

TEST_F(MediaTaggerTest, LongTextsRoundTripUnchanged) {
    const std::u16string longText(20000, u'\u00e9');
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    ASSERT_EQ(t.setTag(TagId_Comment, longText.c_str(), static_cast<std::int32_t>(longText.size())), S_OK);
    ASSERT_EQ(t.close(), S_OK);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    EXPECT_EQ(tag(t, TagId_Comment, 30000), longText);
}

// A buffer that ends inside a surrogate pair gets the text up to the character before it.
TEST_F(MediaTaggerTest, GetTagNeverSplitsACharacter) {
    rt.files[kFile].attributes.putString(wmf::kAttrTitle, u"ab\U0001F600c");
    MediaTagger t(rt);
    ASSERT_EQ(t.open(kFile.c_str()), S_OK);
    EXPECT_EQ(tag(t, TagId_Title, 4), u"ab");
    EXPECT_EQ(tag(t, TagId_Title, 5), u"ab\U0001F600");
}

} // namespace
