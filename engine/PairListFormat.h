#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tonemirror::engine {

// The pairs a finished scan found, kept beside the cache so that the next scan with the same rule
// need not compare unchanged tracks with each other again. Byte layout (little-endian):
//   header: 8-byte signature, u32 layout version, u32 comparison version, the rule (u32 method,
//     f32 content threshold, f32 tag threshold, f32 acoustic threshold, u32 flags), u64 track count
//     t, u64 pair count p;
//   t tracks: u64 identity, u32 rank (its place in that scan's order: each of 0..t-1 once),
//     ascending by identity, then by rank;
//   p pairs: u32 newer rank, u32 older rank (older < newer), ascending;
//   u64 check of every byte before it.
// The file is a hint, never trusted: anything out of place makes it ignored as a whole, and every
// pair taken from it is scored again before it is reported.
namespace pair_list {

// Raised whenever the scoring changes in a way that could change which pairs are reported: lists of
// an older comparison are then ignored.
inline constexpr std::uint32_t kComparisonVersion = 1;

// What decides which pairs a scan finds; a list is used only under the very rule it was made with.
struct PairRule {
    std::int32_t method = 0;
    float contentThreshold = 0.0f;
    float tagsThreshold = 0.0f;
    float acousticThreshold = 0.0f;
    bool verify = false;
    bool accurate = false;
    bool printsIndexed = false;

    bool operator==(const PairRule&) const = default;
};

inline constexpr std::uint32_t kNoRank = 0xFFFFFFFFu;

// A list as read: identities sorted with their ranks beside them, the older partners of every rank
// (olders[starts[r]] .. olders[starts[r + 1]]) and the same for the newer partners.
struct PairList {
    PairRule rule;
    std::vector<std::uint64_t> identities;
    std::vector<std::uint32_t> ranks;
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> olders;
    std::vector<std::uint32_t> laterStarts;
    std::vector<std::uint32_t> newers;

    std::size_t trackCount() const { return starts.empty() ? 0 : starts.size() - 1; }
    // The rank of a track by its identity; kNoRank when no track, or more than one, has it.
    std::uint32_t rankOf(std::uint64_t identity) const;
    std::span<const std::uint32_t> partnersOf(std::uint32_t rank) const {
        return {olders.data() + starts[rank], olders.data() + starts[rank + 1]};
    }
    std::span<const std::uint32_t> laterPartnersOf(std::uint32_t rank) const {
        return {newers.data() + laterStarts[rank], newers.data() + laterStarts[rank + 1]};
    }
};

// The file's bytes for the tracks of a scan (identity by rank) and its pairs, each newer rank << 32
// | older rank. Pairs naming a rank out of range, or an older rank not below the newer, are dropped.
std::vector<std::byte> format(const PairRule& rule, std::span<const std::uint64_t> identities,
                              std::vector<std::uint64_t> pairs);

// Writes the check at the end of a list whose bytes were edited, so that tests and fuzzing reach the
// checks behind it. Nothing happens to bytes too short to hold a check.
void seal(std::span<std::byte> bytes);

// nullopt for anything but a whole, consistent list of this layout and comparison.
std::optional<PairList> parse(std::span<const std::byte> bytes);

} // namespace pair_list
} // namespace tonemirror::engine
