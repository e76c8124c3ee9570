// RIFF/WAVE parse, then the whole decoder over the same bytes.
#include "fuzz/compresscodec/FuzzCommon.h"
#include "plugins/compresscodec/WaveParser.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tonemirror::compresscodec;
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    SourceFormat format;
    if (parseWave(source, format)) {
        if (!format.valid() || source.position() + format.bytesLeft > size) {
            std::abort();
        }
    }
    fuzzcommon::decodeAll(data, size, u"fuzz.wav");
    return 0;
}
