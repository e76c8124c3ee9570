// MPEG header search and frame-header decoding, then the whole decoder (MPEG path of the codec).
#include "fuzz/compresscodec/FuzzCommon.h"
#include "plugins/compresscodec/MpegParser.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tonemirror::compresscodec;
    if (size >= 4) {
        if (const auto h = decodeMpegHeader(be32(data))) {
            if (h->sampleRate == 0 || h->frameLength > 8000 || mpegLayer3Record(*h).size() != 30) {
                std::abort();
            }
        }
    }
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    SourceFormat format;
    if (parseMpeg(source, format)) {
        if (format.record.size() != 30 || source.position() + format.bytesLeft != size) {
            std::abort();
        }
    }
    fuzzcommon::decodeAll(data, size, u"fuzz.MP3");
    return 0;
}
