#pragma once

#include <array>
#include <cstddef>
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

// A fixed-size summary of one text, made once and used to bound textLikeness of that text against any
// other without looking at the texts again: the length, the set of characters and the set of adjacent
// character pairs, both hashed into buckets, and how many positions repeat a bucket already set. A set
// bucket may be a false positive (another character shares it); a clear one is a certain miss, which
// is all the bound relies on.
struct TextSketch {
    static constexpr unsigned kCharBuckets = 128;
    static constexpr unsigned kPairBuckets = 512;
    std::array<std::uint64_t, kCharBuckets / 64> chars{};
    std::array<std::uint64_t, kPairBuckets / 64> pairs{};
    std::uint64_t length = 0;
    std::uint64_t repeatedChars = 0; // length - distinct character buckets
    std::uint64_t repeatedPairs = 0; // (length - 1) - distinct pair buckets
};

TextSketch makeTextSketch(std::u16string_view text) noexcept;

// Never below textLikeness of the two texts the sketches were made from (the same 32-bit float rounding
// is applied to a count of found substrings that is never below the true one); 0 when either text is
// empty. Costs a few dozen word operations, whatever the lengths.
float textLikenessUpperBound(const TextSketch& x, const TextSketch& y) noexcept;

// What a candidate search knows of one text for runs of `run` consecutive units: its length and how
// many of its runs repeat a run (or, with hashed runs, a hash) already seen earlier in it.
struct RunShape {
    std::size_t length = 0;
    std::size_t repeats = 0;
    std::size_t run = 3;
};

// Never below textLikeness of two texts of these shapes (the same run length) that have `shared`
// distinct runs (or run hashes) in common, and rising with `shared`: a pair that reaches a likeness
// shares at least the first count for which this reaches it. See the proof in the source.
float likenessWithSharedRuns(RunShape x, RunShape y, std::size_t shared) noexcept;

} // namespace tonemirror::analysis
