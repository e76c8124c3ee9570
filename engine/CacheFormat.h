#pragma once

#include "analysis/TrackRecord.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

class TrackTable;
class IgnoreSet;

// Byte layout of "cache.dat" (little-endian, texts UTF-16LE without terminator):
//   32-byte header: "Tonemirror 0.82" and 17 zero bytes;
//   records back to back, each an 8-byte head (u32 type, u32 body length) and a body ending in the
//   marker FF 45 4E 44. Type 1 holds a track, type 2 an ignored pair, type 3 a track's details;
//   other types are skipped, so older programs read the file and skip what they do not know.
//
// Type 3, track details: i16 path length n (> 0), the path, then tagged fields back to back (u16
// field id, u32 length, that many bytes), then the marker; the body length bounds the fields.
// A details record written right after the track record of its path belongs to it, and the two
// replace an earlier track of that path (the file changed and was analysed again). Elsewhere it
// completes a track that has no stamp yet (one an older version wrote, trusted once), or, carrying
// the track's own stamp, adds the acoustic print the track lacks (or the long print for a short one). Fields
// of an unknown id are skipped; a field's layout never changes (a new layout takes a new id).
//
// Adding a per-track field:
//   1. a new id in DetailsField (never reuse one);
//   2. in CacheFormat.cpp: a member of Details; its bytes in detailsFieldsSize() and
//      writeDetailsFields(); its check and reading in readDetailsField() (a known id of the wrong
//      length is damage and ends the load); copying it onto the track in applyDetails();
//   3. a track gets a details record whenever detailsFieldsSize() finds something to write.
namespace cache {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kRecordHeadSize = 8;
inline constexpr std::uint32_t kTrackRecord = 1;
inline constexpr std::uint32_t kIgnoredPair = 2;
inline constexpr std::uint32_t kTrackDetails = 3;

enum class DetailsField : std::uint16_t {
    FileStamp = 1,     // u64 size, i64 modification seconds, u32 nanoseconds
    AcousticPrint = 2, // a print's stored form (analysis/AcousticMatch.h); another algorithm's is ignored
    // The same form, of the longer opening verification compares (TrackRecord::acousticPrintLong). A
    // track has at most one of the two; older versions skip this one and re-make their print.
    LongAcousticPrint = 3,
    // u32: where the spectrum ends at the file's own rate, 0 when it does not end early; absent
    // when it was not measured.
    HighCutoff = 4,
};
inline constexpr std::size_t kHighCutoffSize = 4;
inline constexpr std::size_t kFieldHeadSize = 6;
inline constexpr std::size_t kFileStampSize = 20;
// Head, five length fields, the three arrays and the end marker of a track record.
inline constexpr std::size_t kTrackRecordFixedSize = 8654;
// Lengths are stored as signed 16-bit counts of UTF-16 units.
inline constexpr std::size_t kMaxTextUnits = 32767;
inline constexpr std::array<std::uint8_t, 4> kEndMarker = {0xFF, 0x45, 0x4E, 0x44};

const std::array<std::byte, kHeaderSize>& header();

// The start every version's header shares.
inline constexpr std::string_view kSignature = "Tonemirror ";

// A details record longer than this is damage: no track has that much to say.
inline constexpr std::size_t kMaxRecordSize = 64u << 20;

// True for a file the program may take as its cache, judged from its first kHeaderSize bytes (or all
// of a shorter file): empty, the beginning of a header whose writing broke off, or a whole header of
// this version or another (the signature, a version of digits and dots, zero bytes to the end).
// Anything else, such as a note or a report that merely starts with the signature, is some other
// program's file and is never written to.
bool mayBeCacheFile(std::span<const std::byte> head);

// Serialises one track record into `out` (resized to the record's length; its capacity is reused).
// E_INVALIDARG when the path is empty or the path or a text is longer than kMaxTextUnits: such a
// record would stop every later load at itself. E_OUTOFMEMORY when the buffer cannot be sized.
HResult serializeTrack(std::u16string_view path, const analysis::TrackRecord& record,
                       std::vector<std::byte>& out);

// True when the track has fields for a details record.
bool hasDetails(const analysis::TrackRecord& record);

// Serialises a details record of the track alone (completing a record written before).
// Same limits as serializeTrack; E_INVALIDARG also when the track has no details.
HResult serializeDetails(std::u16string_view path, const analysis::TrackRecord& record,
                         std::vector<std::byte>& out);

// The track record followed by its details record (when it has details), for one write.
HResult serializeTrackWithDetails(std::u16string_view path, const analysis::TrackRecord& record,
                                  std::vector<std::byte>& out);

// Serialises a legacy ignored-pair record. Same limits as serializeTrack.
HResult serializeIgnoredPair(std::u16string_view first, std::u16string_view second,
                             std::vector<std::byte>& out);

struct ParseResult {
    bool headerValid = false; // false: too short, or another version's header
    std::size_t goodEnd = 0;  // end of the last complete, valid record (kHeaderSize when none)
    std::size_t trackRecords = 0;
    std::size_t pairRecords = 0;
    std::size_t detailsRecords = 0;
    std::size_t skippedRecords = 0; // records of other types
};

// Parses a whole cache file held in memory. Tracks go into `table` with trackId -1 (the first record
// of a path wins, unless a later one comes with its details, see above), legacy pairs into `ignored`. Stops
// at the first record that breaks a rule, so everything up to goodEnd is exactly the good prefix of the file.
// When the header is not valid, nothing is added and goodEnd is 0.
ParseResult parse(std::span<const std::byte> data, TrackTable& table, IgnoreSet& ignored);

// The same parse read from an open file of `fileSize` bytes in bounded windows, so memory follows
// the records kept, not the file's size. nullopt when a read fails.
std::optional<ParseResult> parseFile(int fd, std::uint64_t fileSize, TrackTable& table, IgnoreSet& ignored);

} // namespace cache
} // namespace tonemirror::engine
