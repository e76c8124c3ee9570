// ID3v2.3 and ID3v1 tags and the text-frame rule.
#include "plugins/compresscodec/Id3Tags.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tonemirror::compresscodec;
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    TagTexts tags;
    (void)readTags(source, tags);
    for (const auto* text : {&tags.title, &tags.artist, &tags.album}) {
        if (text->size() > TagTexts::kMaxChars) {
            std::abort();
        }
    }
    if (decodeId3Text(std::span<const std::uint8_t>(data, size)).size() > TagTexts::kMaxChars) {
        std::abort();
    }
    return 0;
}
