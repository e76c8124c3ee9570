#pragma once

#include "platform/acm/Acm.h"

#include <cstdint>
#include <vector>

namespace tonemirror::acm {

// How a source record is decoded.
enum class SourceKind { Pcm, Mpeg, Wma };

// A checked copy of a caller's source record.
struct SourceRecord {
    WaveFormatEx format{};
    std::vector<std::uint8_t> extra; // format-specific bytes after the 18-byte record, bounded by size
    SourceKind kind = SourceKind::Pcm;
};

// Reads and checks a source record: kNoError when a stream can decode it, kInvalidParam for a null
// or short record, kNotPossible for a format, channel count or rate the stream does not handle.
MmResult describeSource(const void* source, std::size_t size, SourceRecord& out);

} // namespace tonemirror::acm
