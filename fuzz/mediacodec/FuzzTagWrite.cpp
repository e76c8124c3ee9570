// The tag write path over damaged files of every format. The first byte picks the file's extension
// (low three bits) and what is written (the rest); the remaining bytes are the file. Whenever the write
// reports failure the file must be byte for byte what it was; whenever it reports success the new
// title must read back and the audio decode as before. Either way no temporary copy may be left.
// Each input is bounded in time: audio checks get two seconds, decoding two seconds per file.

#include "platform/os/Paths.h"
#include "platform/wmf/FfmpegRuntime.h"
#include "platform/wmf/TagEditor.h"
#include "plugins/mediacodec/MediaDecoder.h"
#include "plugins/mediacodec/MediaTagger.h"

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace tonemirror;
namespace fs = std::filesystem;

namespace {

constexpr const char* kExtensions[] = {".mp3", ".flac", ".ogg", ".opus", ".m4a", ".wma", ".wav", ".aiff"};
constexpr std::size_t kMaxInput = 256 * 1024;

fs::path scratchRoot() {
    return fs::temp_directory_path() / ("fuzz_tag_write_" + std::to_string(::getpid()));
}

fs::path scratch(const char* name) {
    const fs::path folder = scratchRoot() / name;
    fs::create_directories(folder);
    return folder;
}

std::vector<char> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void require(bool condition, const char* broken) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_tag_write: %s\n", broken);
        std::abort();
    }
}

struct Decoded {
    bool opened = false;
    bool complete = false; // read to its end within the time allowed
    std::uint64_t bytes = 0;
};

Decoded decode(wmf::IRuntime& runtime, const fs::path& file) {
    mediacodec::MediaDecoder decoder(runtime);
    Decoded d;
    d.opened = succeeded(decoder.open(os::fromNativePath(file).c_str()));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const void* block = nullptr;
    std::uint32_t bytes = 0;
    while (d.opened && std::chrono::steady_clock::now() < until) {
        const HResult r = decoder.read(&block, &bytes);
        if (failed(r)) {
            d.complete = r == E_END_OF_STREAM;
            break;
        }
        d.bytes += bytes;
    }
    return d;
}

std::u16string titleFor(std::uint8_t selector) {
    switch ((selector >> 3) & 3) {
    case 0:
        return u"fuzz";
    case 1:
        return std::u16string(300, u'x'); // more than the padding most files have
    case 2:
        return u""; // removes the title
    default:
        return std::u16string(2000, u'\u00e9');
    }
}

// Stages the writes the selector asks for; the title, or nothing when it was refused.
bool stage(mediacodec::MediaTagger& tagger, std::uint8_t selector, const std::u16string& title) {
    const bool titled =
        succeeded(tagger.setTag(TagId_Title, title.c_str(), static_cast<std::int32_t>(title.size())));
    if ((selector & 0x20) != 0) {
        (void)tagger.setTag(TagId_Track, u"3/12", 4);
    }
    if ((selector & 0x40) != 0) {
        (void)tagger.setTag(TagId_Year, u"2021", 4);
    }
    if ((selector & 0x80) != 0) {
        const std::u16string artist(40, u'\u00e4');
        (void)tagger.setTag(TagId_Artist, artist.c_str(), static_cast<std::int32_t>(artist.size()));
    }
    return titled;
}

std::u16string readTitle(wmf::IRuntime& runtime, const fs::path& file) {
    mediacodec::MediaTagger tagger(runtime);
    std::vector<char16_t> buffer(4096);
    if (failed(tagger.open(os::fromNativePath(file).c_str())) ||
        failed(tagger.getTag(TagId_Title, buffer.data(), static_cast<std::int32_t>(buffer.size())))) {
        return u"";
    }
    return buffer.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        wmf::FfmpegRuntime::initialiseLibraries();
        wmf::TagEditor::setReadingAllowance(std::chrono::seconds(2));
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratchRoot(), ec);
        });
        return true;
    }();
    if (!ready || size < 1 || size > kMaxInput) {
        return 0;
    }
    const std::uint8_t selector = data[0];
    const char* extension = kExtensions[selector % std::size(kExtensions)];
    const fs::path file = scratch("work") / (std::string("song") + extension);
    const fs::path reference = scratch("reference") / (std::string("song") + extension);
    writeFile(file, data + 1, size - 1);
    const std::vector<char> original = readFile(file);
    wmf::FfmpegRuntime runtime;

    mediacodec::MediaTagger tagger(runtime);
    HResult written = E_FAIL;
    bool titled = false;
    const std::u16string title = titleFor(selector);
    if (succeeded(tagger.open(os::fromNativePath(file).c_str()))) {
        titled = stage(tagger, selector, title);
        written = tagger.close();
    }
    require(fs::exists(file), "the file is gone");
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        require(entry.path() == file, "a temporary copy was left behind");
    }
    const std::vector<char> after = readFile(file);
    if (failed(written)) {
        require(after == original, "a failed write changed the file");
    } else if (after != original) {
        // Written: the title reads back and the audio decodes as the original's did.
        require(!titled || readTitle(runtime, file) == title, "the written title does not read back");
        writeFile(reference, data + 1, size - 1);
        const Decoded before = decode(runtime, reference);
        const Decoded now = decode(runtime, file);
        require(before.opened == now.opened, "the written file does not open for decoding as before");
        require(!(before.complete && now.complete) || before.bytes == now.bytes,
                "the written file decodes to another length");
    }
    std::error_code ec;
    fs::remove(file, ec);
    fs::remove(reference, ec);
    return 0;
}
