#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tonemirror::analysis {

// Share of all substrings of either text, of every length up to the length of the shorter text, that
// also occur somewhere in the other text. 0 when either text is empty; equal texts score 1.
// Symmetric and pure. Texts are compared as sequences of 16-bit units, without any normalisation.
//
// Runs in O(|x|·|y|) time. Working memory lives on the stack while the shorter text has at most
// kTextLikenessStackChars units; only longer pairs (never seen in real tags or file names) allocate.
float textLikeness(std::u16string_view x, std::u16string_view y) noexcept;

inline constexpr std::size_t kTextLikenessStackChars = 1024;

// A fixed-size fingerprint of one text, made once and used to bound textLikeness of that text against
// any other without running the full comparison: the set of characters and the set of adjacent
// character pairs, both hashed into buckets. A bucket that is set may be a false positive (another
// character shares it), one that is clear is a certain miss, which is all the bound relies on.
struct TextSketch {
    static constexpr unsigned kCharBuckets = 128;
    static constexpr unsigned kPairBuckets = 512;
    std::array<std::uint64_t, kCharBuckets / 64> chars{};
    std::array<std::uint64_t, kPairBuckets / 64> pairs{};
};

TextSketch makeTextSketch(std::u16string_view text) noexcept;

// Never below textLikeness(x, y) (the same 32-bit float rounding is applied to a count of found
// substrings that is never below the true one); 0 when either text is empty. xSketch and ySketch must
// be the sketches of x and y. Costs O(|x| + |y|).
float textLikenessUpperBound(std::u16string_view x, const TextSketch& xSketch, std::u16string_view y,
                             const TextSketch& ySketch) noexcept;

} // namespace tonemirror::analysis
