#pragma once

#include "analysis/TrackRecord.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

class TrackTable;
class IgnoreSet;

// Byte layout of "cache.dat" (little-endian, texts UTF-16LE without terminator):
//   32-byte header: "Tonemirror 0.82" and 17 zero bytes;
//   records back to back, each an 8-byte head (u32 type, u32 body length) and a body ending in the
//   marker FF 45 4E 44. Type 1 holds a track, type 2 an ignored pair; other types are skipped.
namespace cache {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kRecordHeadSize = 8;
inline constexpr std::uint32_t kTrackRecord = 1;
inline constexpr std::uint32_t kIgnoredPair = 2;
// Head, five length fields, the three arrays and the end marker of a track record.
inline constexpr std::size_t kTrackRecordFixedSize = 8654;
// Lengths are stored as signed 16-bit counts of UTF-16 units.
inline constexpr std::size_t kMaxTextUnits = 32767;
inline constexpr std::array<std::uint8_t, 4> kEndMarker = {0xFF, 0x45, 0x4E, 0x44};

const std::array<std::byte, kHeaderSize>& header();

// Serialises one track record into `out` (resized to the record's length; its capacity is reused).
// E_INVALIDARG when the path is empty or the path or a text is longer than kMaxTextUnits: such a
// record would stop every later load at itself. E_OUTOFMEMORY when the buffer cannot be sized.
HResult serializeTrack(std::u16string_view path, const analysis::TrackRecord& record,
                       std::vector<std::byte>& out);

// Serialises a legacy ignored-pair record. Same limits as serializeTrack.
HResult serializeIgnoredPair(std::u16string_view first, std::u16string_view second,
                             std::vector<std::byte>& out);

struct ParseResult {
    bool headerValid = false; // false: too short, or another version's header
    std::size_t goodEnd = 0;  // end of the last complete, valid record (kHeaderSize when none)
    std::size_t trackRecords = 0;
    std::size_t pairRecords = 0;
    std::size_t skippedRecords = 0; // records of other types
};

// Parses a whole cache file held in memory. Tracks go into `table` with trackId -1 (the first record
// of a path wins), legacy pairs into `ignored`. Stops at the first record that breaks a rule, so
// everything up to goodEnd is exactly the good prefix of the file. When the header is not valid,
// nothing is added and goodEnd is 0.
ParseResult parse(std::span<const std::byte> data, TrackTable& table, IgnoreSet& ignored);

} // namespace cache
} // namespace tonemirror::engine
