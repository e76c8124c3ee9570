// ASF object walk down to the audio stream's format record.
#include "plugins/compresscodec/AsfParser.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tonemirror::compresscodec;
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    SourceFormat format;
    if (parseAsf(source, format)) {
        if (format.record.size() != 28 || source.position() != 0 || format.bytesLeft != size) {
            std::abort();
        }
    }
    return 0;
}
