#pragma once

#include "plugins/compresscodec/ByteSource.h"
#include "plugins/compresscodec/CompressDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace fuzzcommon {

// Opens the bytes as a file of the given name and reads a bounded number of blocks.
inline void decodeAll(const std::uint8_t* data, std::size_t size, std::u16string_view name) {
    using namespace tonemirror;
    compresscodec::CompressDecoder decoder;
    auto source =
        std::make_unique<compresscodec::MemoryByteSource>(std::span<const std::uint8_t>(data, size));
    if (failed(decoder.openSource(std::move(source), name))) {
        return;
    }
    StreamFormat format{};
    StreamInfo info{};
    (void)decoder.format(&format);
    (void)decoder.info(&info);
    for (int i = 0; i < 64; ++i) {
        const void* block = nullptr;
        std::uint32_t bytes = 0;
        if (failed(decoder.read(&block, &bytes))) {
            break;
        }
        if (bytes > 0) {
            // The block must be readable in full.
            volatile std::uint8_t sink = static_cast<const std::uint8_t*>(block)[bytes - 1];
            (void)sink;
        }
    }
}

} // namespace fuzzcommon
