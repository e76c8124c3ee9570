// Files that are not audio, or are damaged, must be refused or end cleanly: no crash, no hang.
// Also: separate objects of the plug-in used on several threads at once.

#include "audio/AudioSource.h"
#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

using namespace tonemirror;
using namespace mediafiles;

namespace {

// The mediacodec plug-in's own entry point, so that no other plug-in answers in its place.
GetInterfaceFn mediacodecEntry() {
    for (const auto& e : plugins().entries()) {
        if (e.name() == "mediacodec") {
            return e.getInterface;
        }
    }
    return nullptr;
}

template <class T>
T* create(const TmGuid& iid) {
    void* object = nullptr;
    const GetInterfaceFn entry = mediacodecEntry();
    if (entry == nullptr || failed(entry(iid, &object))) {
        return nullptr;
    }
    return static_cast<T*>(object);
}

std::vector<unsigned char> randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<unsigned char> b(n);
    for (auto& c : b) {
        c = static_cast<unsigned char>(gen());
    }
    return b;
}

std::vector<unsigned char> head(std::vector<unsigned char> bytes, std::size_t n) {
    bytes.resize(std::min(n, bytes.size()));
    return bytes;
}

std::vector<unsigned char> scribbled(std::vector<unsigned char> bytes, unsigned seed) {
    const auto noise = randomBytes(bytes.size() / 3, seed);
    std::copy(noise.begin(), noise.end(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 3));
    return bytes;
}

class BadInput : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempFolder;
        const TempFolder& f = *folder_;
        ASSERT_TRUE(makeTone(f / "good.mp3", {"-c:a", "libmp3lame"}));
        ASSERT_TRUE(makeTone(f / "good.m4a", {"-c:a", "aac"}));
        ASSERT_TRUE(makeTone(f / "good.flac", {"-c:a", "flac"}));
        ASSERT_TRUE(makeTone(f / "good.wma", {"-c:a", "wmav2"}));
        ASSERT_TRUE(run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                         "color=c=red:s=32x32", "-frames:v", "1", (f / "image.png").string()}));
        ASSERT_TRUE(
            run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x64:rate=5",
                 "-t", "1", "-c:v", "ffv1", (f / "video.mkv").string()}));
        const auto mp3 = readBytes(f / "good.mp3");
        const auto m4a = readBytes(f / "good.m4a");
        const auto flac = readBytes(f / "good.flac");
        const auto wma = readBytes(f / "good.wma");

        // Refused outright.
        writeBytes(f / "empty.mp3", {});
        const std::string text = "These are the liner notes, not music.\n";
        std::vector<unsigned char> textBytes;
        for (int i = 0; i < 200; ++i) {
            textBytes.insert(textBytes.end(), text.begin(), text.end());
        }
        writeBytes(f / "notes.txt", textBytes);
        writeBytes(f / "notes.mp3", textBytes);
        writeBytes(f / "noise.bin", randomBytes(1 << 16, 1));
        writeBytes(f / "noise.flac", randomBytes(1 << 16, 2));
        writeBytes(f / "image.mp3", readBytes(f / "image.png"));
        fs::create_directory(f / "folder.mp3");
        ASSERT_EQ(::mkfifo((f / "pipe.mp3").c_str(), 0600), 0);
        const std::string playlist =
            "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\ngood.mp3\n#EXT-X-ENDLIST\n";
        writeBytes(f / "playlist.m3u8", {playlist.begin(), playlist.end()});
        writeBytes(f / "cut.flac", head(flac, 30));
        writeBytes(f / "cut.m4a", head(m4a, m4a.size() / 2)); // the index sits at the end
        writeBytes(f / "cut.wma", head(wma, 200));

        // Damaged but with something decodable: may open, must end.
        writeBytes(f / "half.mp3", head(mp3, mp3.size() / 2));
        writeBytes(f / "scribbled.mp3", scribbled(mp3, 3));
        writeBytes(f / "scribbled.flac", scribbled(flac, 4));
        writeBytes(f / "scribbled.m4a", scribbled(m4a, 5));
        writeBytes(f / "scribbled.wma", scribbled(wma, 6));
        auto wav = head(mp3, 0);
        const unsigned char header[] = {'R', 'I', 'F',  'F',  0xFF, 0xFF, 0xFF, 0x7F, 'W',  'A',  'V',
                                        'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                                        2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 2,    0,    4,
                                        0,   16,  0,    'd',  'a',  't',  'a',  0xFF, 0xFF, 0xFF, 0x7F};
        wav.assign(std::begin(header), std::end(header));
        writeBytes(f / "hugeclaim.wav", wav);

        // A few hundred bytes whose INFO entry claims a gigabyte.
        const unsigned char greedy[] = {'R', 'I',  'F',  'F',  0xB0, 0,   0,   0,   'W', 'A', 'V', 'E',  'f',
                                        'm', 't',  ' ',  16,   0,    0,   0,   1,   0,   1,   0,   0x40, 0x1F,
                                        0,   0,    0x80, 0x3E, 0,    0,   2,   0,   16,  0,   'L', 'I',  'S',
                                        'T', 0x24, 0,    0,    0xA6, 'I', 'N', 'F', 'O', 'I', 'N', 'A',  'M',
                                        0,   0,    0,    0x40, 'd',  'e', 'b', 'u', 'g', 0};
        wav.assign(std::begin(greedy), std::end(greedy));
        wav.resize(wav.size() + 120, 0x11);
        writeBytes(f / "greedy.wav", wav);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    static fs::path file(const std::string& name) { return *folder_ / name; }

    static TempFolder* folder_;
};

TempFolder* BadInput::folder_ = nullptr;

TEST_F(BadInput, NonAudioAndUnreadableFilesAreRefused) {
    IDecoder* d = create<IDecoder>(kIidDecoder);
    ITagger* t = create<ITagger>(kIidTagger);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(t, nullptr);
    for (const char* name : {"empty.mp3", "notes.txt", "notes.mp3", "noise.bin", "noise.flac", "image.png",
                             "image.mp3", "folder.mp3", "pipe.mp3", "playlist.m3u8", "cut.flac", "cut.m4a",
                             "cut.wma", "video.mkv", "missing.mp3"}) {
        SCOPED_TRACE(name);
        const std::u16string path = os::fromNativePath(file(name));
        EXPECT_TRUE(failed(d->vtbl->Open(d, path.c_str())));
        StreamFormat format{};
        EXPECT_EQ(d->vtbl->GetFormat(d, &format), E_FAIL);
        const void* data = nullptr;
        std::uint32_t bytes = 0;
        EXPECT_EQ(d->vtbl->Read(d, &data, &bytes), E_FAIL);
        EXPECT_EQ(d->vtbl->Close(d), S_OK);
        // The tag library may still find a tag in a damaged audio file; these hold no audio at all.
        const bool surelyTagless = std::string(name).find("cut.") != 0 && std::string(name) != "noise.flac";
        const HResult tagged = t->vtbl->Open(t, path.c_str());
        if (surelyTagless) {
            EXPECT_TRUE(failed(tagged));
        }
        EXPECT_EQ(t->vtbl->Close(t), S_OK);
    }
    d->vtbl->Release(d);
    t->vtbl->Release(t);
}

TEST_F(BadInput, DamagedFilesEndWithoutCrashing) {
    IDecoder* d = create<IDecoder>(kIidDecoder);
    ASSERT_NE(d, nullptr);
    for (const char* name :
         {"half.mp3", "scribbled.mp3", "scribbled.flac", "scribbled.m4a", "scribbled.wma", "hugeclaim.wav"}) {
        SCOPED_TRACE(name);
        const std::u16string path = os::fromNativePath(file(name));
        if (failed(d->vtbl->Open(d, path.c_str()))) {
            continue;
        }
        StreamInfo info{};
        (void)d->vtbl->GetInfo(d, &info);
        const void* data = nullptr;
        std::uint32_t bytes = 0;
        HResult r = S_OK;
        std::size_t reads = 0;
        std::uint64_t total = 0;
        while (succeeded(r = d->vtbl->Read(d, &data, &bytes)) && reads < 100000) {
            ++reads;
            total += bytes;
        }
        EXPECT_TRUE(failed(r)) << "the stream never ended";
        EXPECT_EQ(total % 2, 0u) << "a block cut a sample in half";
        EXPECT_EQ(d->vtbl->Close(d), S_OK);
    }
    d->vtbl->Release(d);
}

// Peak memory, in kilobytes, that opening and reading a file adds; measured in a child process so
// that earlier peaks of this one do not hide it.
long peakGrowthKb(const fs::path& path) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        audio::AudioSource source(plugins());
        if (succeeded(source.open(os::fromNativePath(path)))) {
            const float* samples = nullptr;
            std::uint32_t count = 0;
            for (int i = 0; i < 64 && succeeded(source.read(&samples, &count)) && count > 0; ++i) {
            }
        }
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const long growth = after.ru_maxrss - before.ru_maxrss;
        (void)!::write(fds[1], &growth, sizeof growth);
        ::_exit(0);
    }
    ::close(fds[1]);
    long growth = -1;
    if (::read(fds[0], &growth, sizeof growth) != sizeof growth) {
        growth = -1;
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return growth;
}

TEST_F(BadInput, SizeFieldsDoNotBuyMemory) {
    const long growth = peakGrowthKb(file("greedy.wav"));
    ASSERT_GE(growth, 0) << "the child did not report";
    EXPECT_LT(growth, 200 * 1024) << "opening a 180-byte file grew the peak by " << growth / 1024 << " MB";
}

TEST_F(BadInput, EntryPointArguments) {
    const GetInterfaceFn entry = mediacodecEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(kIidDecoder, nullptr), E_INVALIDARG);
    void* object = reinterpret_cast<void*>(0x1);
    const TmGuid other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(entry(other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, reinterpret_cast<void*>(0x1));
}

// Each thread has its own AudioSource and TagAccess, as each scan worker does; all decode the same
// files while each also rewrites the tags of a file of its own.
TEST_F(BadInput, SeparateObjectsOnSeveralThreads) {
    const std::vector<std::string> names = {"good.mp3", "good.m4a", "good.flac", "good.wma", "noise.bin"};
    std::vector<std::vector<float>> reference;
    {
        audio::AudioSource source(plugins());
        for (const auto& n : names) {
            reference.push_back(decodeAll(source, file(n)).samples);
        }
    }
    constexpr int kThreads = 4;
    std::vector<fs::path> own;
    for (int i = 0; i < kThreads; ++i) {
        own.push_back(file("own" + std::to_string(i) + ".flac"));
        fs::copy_file(file("good.flac"), own.back(), fs::copy_options::overwrite_existing);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            audio::AudioSource source(plugins());
            audio::TagAccess tags(plugins());
            for (int round = 0; round < 2; ++round) {
                for (std::size_t k = 0; k < names.size(); ++k) {
                    if (decodeAll(source, file(names[(k + static_cast<std::size_t>(i)) % names.size()]))
                            .samples != reference[(k + static_cast<std::size_t>(i)) % names.size()]) {
                        ++mismatches[static_cast<std::size_t>(i)];
                    }
                }
                const std::u16string title = u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + i));
                if (failed(tags.open(os::fromNativePath(own[static_cast<std::size_t>(i)]))) ||
                    failed(
                        tags.setTag(TagId_Title, title.c_str(), static_cast<std::int32_t>(title.size()))) ||
                    failed(tags.close())) {
                    ++mismatches[static_cast<std::size_t>(i)];
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(mismatches[static_cast<std::size_t>(i)], 0) << "thread " << i;
        audio::TagAccess tags(plugins());
        ASSERT_EQ(tags.open(os::fromNativePath(own[static_cast<std::size_t>(i)])), S_OK);
        char16_t buffer[64];
        ASSERT_EQ(tags.getTag(TagId_Title, buffer, 64), S_OK);
        EXPECT_EQ(std::u16string(buffer), u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    }
}

} // namespace
