// The stored pair list is read back exactly, and anything out of place makes it ignored as a whole:
// a damaged list must never hand out a pair or a rank it did not hold, nor size memory by its counts.
#include "engine/PairListFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace tonemirror::engine::pair_list {
namespace {

constexpr std::size_t kTracksAt = 52; // after the header
constexpr std::size_t kTrackSize = 12;

PairRule rule() {
    PairRule r;
    r.method = 3;
    r.contentThreshold = 0.75f;
    r.tagsThreshold = 0.7f;
    r.acousticThreshold = 0.55f;
    r.verify = true;
    r.printsIndexed = true;
    return r;
}

std::uint64_t pair(std::uint32_t newer, std::uint32_t older) {
    return (std::uint64_t{newer} << 32) | older;
}

// Five tracks (identities not in rank order), four pairs.
std::vector<std::byte> sample() {
    const std::vector<std::uint64_t> identities{50, 10, 40, 20, 30};
    return format(rule(), identities, {pair(4, 0), pair(1, 0), pair(4, 2), pair(3, 1)});
}

void put(std::vector<std::byte>& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
    }
}

TEST(PairListFormat, ReadsBackWhatWasWritten) {
    const auto list = parse(sample());
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->rule, rule());
    ASSERT_EQ(list->trackCount(), 5u);
    EXPECT_EQ(list->rankOf(50), 0u);
    EXPECT_EQ(list->rankOf(30), 4u);
    EXPECT_EQ(list->rankOf(35), kNoRank);
    const auto older = list->partnersOf(4);
    EXPECT_EQ(std::vector<std::uint32_t>(older.begin(), older.end()), (std::vector<std::uint32_t>{0, 2}));
    const auto newer = list->laterPartnersOf(0);
    EXPECT_EQ(std::vector<std::uint32_t>(newer.begin(), newer.end()), (std::vector<std::uint32_t>{1, 4}));
    EXPECT_TRUE(list->partnersOf(2).empty());
}

TEST(PairListFormat, PairsNamingNoTrackOrTheWrongOrderAreNotWritten) {
    const auto list = parse(format(rule(), std::vector<std::uint64_t>{1, 2, 3},
                                   {pair(2, 1), pair(5, 1), pair(1, 1), pair(1, 2)}));
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->olders.size(), 1u);
}

TEST(PairListFormat, AnIdentityHeldTwiceNamesNeitherTrack) {
    const auto list = parse(format(rule(), std::vector<std::uint64_t>{7, 9, 7}, {pair(2, 0), pair(1, 0)}));
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->rankOf(7), kNoRank);
    EXPECT_EQ(list->rankOf(9), 1u);
}

struct Damage {
    const char* name;
    std::function<void(std::vector<std::byte>&)> apply;
    bool sealAfter = true; // write a fresh check, so that the checks behind it are reached
};

class PairListDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(PairListDamage, IsIgnoredAsAWhole) {
    std::vector<std::byte> bytes = sample();
    ASSERT_TRUE(parse(bytes).has_value());
    GetParam().apply(bytes);
    if (GetParam().sealAfter) {
        seal(bytes);
    }
    EXPECT_FALSE(parse(bytes).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PairListDamage,
    ::testing::Values(Damage{"Empty", [](auto& b) { b.clear(); }, false},
                      Damage{"CutShort", [](auto& b) { b.resize(b.size() - 1); }, false},
                      Damage{"CutAtAPair", [](auto& b) { b.erase(b.end() - 16, b.end() - 8); }},
                      Damage{"ByteChanged", [](auto& b) { b[kTracksAt + 3] ^= std::byte{1}; }, false},
                      Damage{"OtherSignature", [](auto& b) { b[0] = std::byte{'X'}; }},
                      Damage{"OtherComparison", [](auto& b) { put(b, 12, kComparisonVersion + 1, 4); }},
                      Damage{"UnknownFlag", [](auto& b) { put(b, 32, 8, 4); }},
                      // Counts that would size memory far beyond the file: refused before anything is sized.
                      Damage{"TrackCountHuge", [](auto& b) { put(b, 36, 0xFFFFFFF0u, 8); }},
                      Damage{"PairCountHuge", [](auto& b) { put(b, 44, std::uint64_t{1} << 61, 8); }},
                      Damage{"CountsTraded", [](auto& b) { put(b, 36, 4, 8); }},
                      Damage{"RankOutOfRange", [](auto& b) { put(b, kTracksAt + 8, 5, 4); }},
                      Damage{"RankTwice", [](auto& b) { put(b, kTracksAt + kTrackSize + 8, 0, 4); }},
                      Damage{"IdentitiesOutOfOrder", [](auto& b) { put(b, kTracksAt, 99, 8); }},
                      Damage{"OlderNotBelowNewer",
                             [](auto& b) { put(b, kTracksAt + 5 * kTrackSize + 4, 1, 4); }},
                      Damage{"PairNamesNoTrack", [](auto& b) { put(b, b.size() - 16, 9, 4); }},
                      Damage{"PairsOutOfOrder",
                             [](auto& b) {
                                 std::vector<std::byte> first(b.begin() + kTracksAt + 5 * kTrackSize,
                                                              b.begin() + kTracksAt + 5 * kTrackSize + 8);
                                 std::memmove(b.data() + kTracksAt + 5 * kTrackSize, b.data() + b.size() - 16,
                                              8);
                                 std::memcpy(b.data() + b.size() - 16, first.data(), 8);
                             }}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::engine::pair_list
