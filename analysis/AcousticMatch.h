#pragma once

#include "plugin-api/PluginApi.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonemirror::analysis {

// An acoustic fingerprint: one 32-bit word of chroma-change bits per frame of about 124 ms of the
// excerpt. Empty means "none made" (a track from an older cache, or too little sound).
using AcousticPrint = std::vector<std::uint32_t>;

// A 30 s excerpt gives about 240 words; anything beyond this cap is not a fingerprint of ours.
inline constexpr std::size_t kMaxAcousticWords = 1024;
// Frames per second of the fingerprint (11025 / 1365.33 samples).
inline constexpr float kAcousticFramesPerSecond = 8.0748f;
// Alignments tried: the second print shifted up to this many frames (about 10 s) either way.
inline constexpr std::ptrdiff_t kMaxAcousticShift = 81;
// An alignment counts only when the prints overlap in at least this many frames (about 10 s) ...
inline constexpr std::size_t kMinAcousticOverlap = 81;
// ... or in all of the shorter print when that is shorter still (never below 2 s).
inline constexpr std::size_t kMinAcousticWords = 16;

// How alike two recordings sound by their acoustic fingerprints, 0..1, symmetric. The prints are
// slid against each other by up to about 10 s either way; at each shift that overlaps enough, the
// share of differing bits over the overlap is the bit-error rate, and the lowest one is the best
// alignment. Unrelated music differs in about half of its bits, as random bits do, while copies of one
// recording (other codec, bit rate, sample rate, channel count or level, a few seconds of silence
// before it, a shorter end) keep most bits equal. The score is 1 - 2 * (lowest bit-error rate),
// clamped to 0..1: 1 for the same bits, 0 for agreement no better than chance. Two prints that cannot
// overlap enough, or an empty one, score 0. Pure, bounded by kMaxAcousticWords per print.
float compareAcoustic(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second);

// For deciding many pairs against one threshold (a scan verifying its candidates): compareAcoustic
// when a sample of every fourth frame, at some alignment, differs in at most the threshold's share
// of bits plus 0.1; otherwise 0, found at a quarter of the cost. A pair that reaches the threshold
// is missed only if its differing bits crowd into the sampled frames at every alignment.
float compareAcousticAtLeast(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second,
                             float threshold);

// The lowest bit-error rate over the tried alignments (1 when none overlaps enough); the score above
// is made from it.
float bestBitErrorRate(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second);

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
