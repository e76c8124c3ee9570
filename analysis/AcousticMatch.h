#pragma once

#include "plugin-api/PluginApi.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonemirror::analysis {

// An acoustic fingerprint: one 32-bit word of chroma-change bits per frame of about 124 ms. Empty
// means "none made" (too little sound, or a record from before prints were kept).
using AcousticPrint = std::vector<std::uint32_t>;

// Frames per second of the fingerprint (11025 / 1365.33 samples).
inline constexpr float kAcousticFramesPerSecond = 8.0748f;
// The longest print kept: about 127 s. A print covers the track's opening from where the music starts:
// the 30 s content excerpt, or for verification the longer kAcousticSpanLength (ExcerptReader.h).
inline constexpr std::size_t kMaxAcousticWords = 1024;
// Alignments tried: the second print shifted up to this many frames (about 15 s) either way, so that
// a copy with its first seconds cut, or with silence added before it, still lines up.
inline constexpr std::ptrdiff_t kMaxAcousticShift = 121;
// Prints are compared in blocks of this many frames (about 2 s); a block matches when its words differ
// in at most kBlockErrorLimit of their bits. Unrelated music differs in about half of them, copies of
// one recording (other codec, bit rate, sample rate, channels, level, compression) in far fewer.
inline constexpr std::size_t kAcousticBlock = 16;
inline constexpr float kBlockErrorLimit = 0.35f;
// A shorter print is too short to say anything (about 2 s).
inline constexpr std::size_t kMinAcousticWords = 16;

// How alike two recordings sound by their acoustic fingerprints, 0..1, symmetric: the share of the
// shorter print's frames that lie in matching blocks at the best alignment. A frame of the shorter
// print that the other does not reach at that alignment counts as not matching, so two songs that
// share a 15 s opening and then go apart score about 15 / (seconds compared), while a copy with a few
// seconds cut from its start scores about the share of the shorter track that both still hold. 1 for
// the same frames; an empty or too short print scores 0. Pure, bounded by kMaxAcousticWords per print.
float compareAcoustic(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second);

// For deciding many pairs against one threshold (a scan verifying its candidates): compareAcoustic
// when a sample of every fourth frame, at some alignment, could reach the threshold with some slack
// (see AcousticMatch.cpp); otherwise 0, found at about a quarter of the cost.
float compareAcousticAtLeast(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second,
                             float threshold);

// Verification also asks two prints to have frame words in common: at least kNearWordPairs pairs of a
// word of one and a word of the other that differ in at most one bit. Copies of one recording keep
// many frames exactly or nearly: in the eval corpus every pair of copies has 7 such pairs or more,
// nearly all dozens (a remaster with compressed dynamics against a copy cut by 9 s has the fewest).
// Two pieces of one soundtrack on a shared theme, which the block score rates as high as copies, have
// up to 4, all but one of their pairs 3 or fewer; unrelated music has next to none. The same words
// are what the scan's print index is keyed by.
inline constexpr std::size_t kNearWordPairs = 4;

// The distinct words of a print in two orders, for finding the words of another print that differ
// from them in at most one bit: two such words agree in their high or in their low 16 bits.
struct PrintWords {
    std::span<const std::uint32_t> words;   // ascending
    std::span<const std::uint32_t> swapped; // the same words with their halves swapped, ascending
    bool empty() const { return words.empty(); }
};

// The distinct words of a print (its first kMaxAcousticWords) in both orders of PrintWords.
void distinctPrintWords(std::span<const std::uint32_t> print, std::vector<std::uint32_t>& words,
                        std::vector<std::uint32_t>& swapped);
// Pairs of a word of `first` and a word of `second` that differ in at most one bit, counted up to
// `enough`.
std::size_t nearWordPairs(const PrintWords& first, const PrintWords& second, std::size_t enough);
// Whether two prints' words make kNearWordPairs such pairs.
bool shareWords(const PrintWords& first, const PrintWords& second);
// The same for two prints.
bool printsShareWords(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second);

// Stored form of a print: a format byte (1), an algorithm byte (the fingerprinter's), the word count
// as u16 and the words, all little-endian. An empty print stores as nothing.
inline constexpr std::uint8_t kAcousticFormat = 1;
inline constexpr std::size_t kAcousticHeadSize = 4;

// Bytes of the stored form of a print of `words` words (0 for an empty print).
std::size_t encodedAcousticSize(std::size_t words);

void encodeAcousticPrint(std::span<const std::uint32_t> print, std::uint8_t algorithm,
                         std::vector<std::byte>& out);

// A success result of decodeAcousticPrint: the bytes are a print of another algorithm.
inline constexpr HResult kOtherAlgorithm = 1;

// Reads a stored print (untrusted): S_OK with the words when the bytes are exactly one well-formed
// print of the expected algorithm with at most kMaxAcousticWords words; kOtherAlgorithm with `out`
// empty for a well-formed print of another algorithm (not comparable, but no damage); E_INVALIDARG
// otherwise, with `out` emptied. Zero bytes decode as the empty print.
HResult decodeAcousticPrint(std::span<const std::byte> data, std::uint8_t algorithm, AcousticPrint& out);

} // namespace tonemirror::analysis
