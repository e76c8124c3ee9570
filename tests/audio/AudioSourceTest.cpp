#include "audio/AudioSource.h"
#include "audio/TagAccess.h"
#include "support/TestDecoder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tonemirror;
using fakes::makeTestDecoder;
using fakes::TestStream;

namespace {

std::shared_ptr<TestStream> stream(std::int32_t priority, StreamFormat format = {1, 1, 22050}) {
    auto s = std::make_shared<TestStream>();
    s->priority = priority;
    s->format = format;
    s->pcm = {100, 200, 300, 400};
    return s;
}

std::vector<float> readAll(audio::AudioSource& source, HResult* last = nullptr) {
    std::vector<float> all;
    for (;;) {
        const float* p = nullptr;
        std::uint32_t n = 0;
        const HResult r = source.read(&p, &n);
        if (failed(r)) {
            if (last != nullptr) {
                *last = r;
            }
            return all;
        }
        all.insert(all.end(), p, p + n);
    }
}

TEST(AudioSource, TriesDecodersByPriorityAndPassesOverUnusableFormats) {
    auto low = stream(10);
    auto zeroRate = stream(50, {1, 1, 0});
    auto sixChannels = stream(60, {1, 6, 44100});
    auto compressed = stream(70, {2, 2, 44100});
    auto refuses = stream(90);
    refuses->openResult = E_FAIL;
    audio::AudioSource source({makeTestDecoder(low, "low"), makeTestDecoder(zeroRate),
                               makeTestDecoder(sixChannels), makeTestDecoder(refuses),
                               makeTestDecoder(compressed)});
    ASSERT_EQ(source.open(u"/x.wav"), S_OK);
    EXPECT_EQ(source.currentPluginName(), "low");
    // Every higher decoder was tried first, and the ones that opened but were unusable were closed again.
    for (const auto& s : {zeroRate, sixChannels, compressed, refuses}) {
        EXPECT_EQ(s->opens, 1);
    }
    for (const auto& s : {zeroRate, sixChannels, compressed}) {
        EXPECT_EQ(s->closes, 1);
    }
    HResult last = S_OK;
    const auto samples = readAll(source, &last);
    EXPECT_EQ(last, E_END_OF_STREAM);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_FLOAT_EQ(samples[3], 400.0f / 32768.0f);
    EXPECT_EQ(source.close(), S_OK);
    EXPECT_EQ(source.close(), E_FAIL) << "nothing open any more";
}

TEST(AudioSource, ReadFailuresPassThroughUnchanged) {
    auto s = stream(1);
    s->endResult = static_cast<HResult>(0xC00D0BCFu);
    audio::AudioSource source({makeTestDecoder(s)});
    const float* p = nullptr;
    std::uint32_t n = 0;
    EXPECT_EQ(source.read(&p, &n), E_FAIL) << "not open";
    ASSERT_EQ(source.open(u"/x"), S_OK);
    HResult last = S_OK;
    readAll(source, &last);
    EXPECT_EQ(last, static_cast<HResult>(0xC00D0BCFu));
    EXPECT_EQ(source.read(nullptr, &n), E_INVALIDARG);
}

TEST(AudioSource, ReopenClosesFirstAndResetsTheConverter) {
    auto s = stream(1, {1, 2, 44100});
    s->pcm = {1000, 1000, 5, 5, 2000, 2000}; // three frames: 0 and 2 survive decimation
    audio::AudioSource source({makeTestDecoder(s)});
    ASSERT_EQ(source.open(u"/a"), S_OK);
    const auto first = readAll(source);
    ASSERT_EQ(source.open(u"/a"), S_OK);
    EXPECT_EQ(s->closes, 1);
    EXPECT_EQ(readAll(source), first) << "the frame position starts again at 0";
    ASSERT_EQ(first.size(), 2u);
}

TEST(AudioSource, GetInfoForwardsOnlyWhileOpen) {
    auto s = stream(1);
    const char16_t title[] = u"Title";
    std::memcpy(s->info.title, title, sizeof title);
    audio::AudioSource source({makeTestDecoder(s)});
    StreamInfo info{};
    EXPECT_EQ(source.getInfo(&info), E_FAIL);
    ASSERT_EQ(source.open(u"/a"), S_OK);
    ASSERT_EQ(source.getInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.title), u"Title");
}

// A tagger keeping its tags in memory, to check TagAccess' routing.
class MemoryTagger {
public:
    explicit MemoryTagger(std::int32_t priority, bool accepts) : priority_(priority), accepts_(accepts) {}
    HResult open(const char16_t*) {
        open_ = accepts_;
        return accepts_ ? S_OK : E_FAIL;
    }
    HResult close() {
        open_ = false;
        return S_OK;
    }
    std::int32_t priority() { return priority_; }
    HResult getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity) {
        if (!open_) {
            return E_FAIL;
        }
        if (buffer == nullptr || capacity <= 0) {
            return E_INVALIDARG;
        }
        if (tag != TagId_Title) {
            buffer[0] = 0;
            return E_NOTIMPL;
        }
        const std::size_t n = std::min<std::size_t>(title_.size(), static_cast<std::size_t>(capacity - 1));
        std::memcpy(buffer, title_.data(), n * sizeof(char16_t));
        buffer[n] = 0;
        return S_OK;
    }
    HResult setTag(std::int32_t tag, const char16_t* text, std::int32_t length) {
        if (!open_) {
            return E_FAIL;
        }
        if (tag != TagId_Title) {
            return E_NOTIMPL;
        }
        title_.assign(text, static_cast<std::size_t>(length));
        return S_OK;
    }

private:
    std::int32_t priority_;
    bool accepts_;
    bool open_ = false;
    std::u16string title_;
};

audio::TagAccess::Tagger makeTagger(std::int32_t priority, bool accepts, std::string name) {
    void* object = nullptr;
    plugin::createObject<ITagger, MemoryTagger>(&object, priority, accepts);
    return {static_cast<ITagger*>(object), std::move(name)};
}

TEST(TagAccess, UsesTheFirstTaggerThatOpensInPriorityOrder) {
    audio::TagAccess tags(
        {makeTagger(5, true, "low"), makeTagger(9, false, "refuses"), makeTagger(7, true, "mid")});
    char16_t buffer[8];
    EXPECT_EQ(tags.getTag(TagId_Title, buffer, 8), E_FAIL) << "nothing open";
    EXPECT_EQ(tags.close(), E_FAIL);
    ASSERT_EQ(tags.open(u"/a.mp3"), S_OK);
    EXPECT_EQ(tags.currentPluginName(), "mid");
    ASSERT_EQ(tags.setTag(TagId_Title, u"Hello world", 11), S_OK);
    ASSERT_EQ(tags.getTag(TagId_Title, buffer, 6), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"Hello") << "truncated to capacity - 1";
    ASSERT_EQ(tags.getTag(TagId_Title, buffer, 1), S_OK);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(tags.getTag(TagId_Genre, buffer, 8), E_NOTIMPL);
    EXPECT_EQ(tags.close(), S_OK);
    EXPECT_FALSE(tags.isOpen());
}

TEST(TagAccess, NoTaggerAcceptsTheFile) {
    audio::TagAccess tags({makeTagger(1, false, "a")});
    EXPECT_EQ(tags.open(u"/a"), E_FAIL);
    EXPECT_FALSE(tags.isOpen());
}

} // namespace

// readTag returns the whole text whatever its length up to the limit, and never a cut one beyond it.
class TagAccessWholeText : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TagAccessWholeText, ReadsTheWholeValueOrNothing) {
    audio::TagAccess tags({makeTagger(1, true, "memory")});
    ASSERT_EQ(tags.open(u"/a.mp3"), S_OK);
    std::u16string text(GetParam(), u'x');
    for (std::size_t i = 0; i < text.size(); i += 7) {
        text[i] = u'\n';
    }
    ASSERT_EQ(tags.setTag(TagId_Title, text.data(), static_cast<std::int32_t>(text.size())), S_OK);
    const std::optional<std::u16string> read = tags.readTag(TagId_Title);
    if (text.size() + 3 > static_cast<std::size_t>(audio::TagAccess::kMaxTagText)) {
        EXPECT_FALSE(read.has_value()) << "a value longer than the limit must not pass as whole";
    } else {
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->size(), text.size());
        EXPECT_EQ(*read, text);
    }
    EXPECT_EQ(tags.readTag(TagId_Genre), std::optional<std::u16string>(u"")) << "absent reads empty";
}

INSTANTIATE_TEST_SUITE_P(Lengths, TagAccessWholeText,
                         ::testing::Values(std::size_t{0}, std::size_t{1022}, std::size_t{1023},
                                           std::size_t{2699}, std::size_t{40000},
                                           std::size_t{audio::TagAccess::kMaxTagText}),
                         [](const auto& p) { return "Chars" + std::to_string(p.param); });
