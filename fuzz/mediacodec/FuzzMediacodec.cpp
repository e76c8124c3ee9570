// Arbitrary file contents through the decoder and tagger over the real runtime. The first byte picks
// the file's extension (the tag library chooses its parser by it); the rest is the file.

#include "platform/os/Paths.h"
#include "platform/wmf/FfmpegRuntime.h"
#include "plugins/mediacodec/MediaDecoder.h"
#include "plugins/mediacodec/MediaTagger.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tonemirror;

namespace {

constexpr const char* kExtensions[] = {".mp3", ".flac", ".ogg", ".opus", ".m4a", ".wma", ".wav", ".aiff"};

std::filesystem::path scratch(const char* extension) {
    return std::filesystem::temp_directory_path() /
           ("fuzz_mediacodec_" + std::to_string(::getpid()) + extension);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t selector = data[0];
    const char* extension = kExtensions[selector % std::size(kExtensions)];
    const std::filesystem::path file = scratch(extension);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    const std::u16string path = os::fromNativePath(file);
    wmf::FfmpegRuntime runtime;

    mediacodec::MediaDecoder decoder(runtime);
    if (succeeded(decoder.open(path.c_str()))) {
        StreamInfo info{};
        (void)decoder.info(&info);
        const void* block = nullptr;
        std::uint32_t bytes = 0;
        volatile std::uint8_t sink = 0;
        for (int i = 0; i < 64 && succeeded(decoder.read(&block, &bytes)); ++i) {
            if (bytes > 0) {
                sink = sink + static_cast<const std::uint8_t*>(block)[bytes - 1];
            }
        }
        decoder.close();
    }

    mediacodec::MediaTagger tagger(runtime);
    if (succeeded(tagger.open(path.c_str()))) {
        char16_t buffer[64];
        for (std::int32_t id = 0; id <= 8; ++id) {
            (void)tagger.getTag(id, buffer, 64);
        }
        // Writing is slower; only some inputs take that path.
        if ((selector & 0x30) == 0) {
            (void)tagger.setTag(TagId_Title, u"fuzz", 4);
        }
        (void)tagger.close();
    }
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return 0;
}
