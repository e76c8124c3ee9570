#pragma once

#include "plugin-api/PluginApi.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tonemirror::audio {
class AudioSource;
} // namespace tonemirror::audio

// How the analysis stages take decoded audio: one block at a time, from an AudioSource or, in tests and
// benchmarks, from memory.
namespace tonemirror::analysis {

// Yields the next block of samples (count may be 0); a negative result ends the stream.
using BlockReader = std::function<HResult(const float** samples, std::uint32_t* count)>;

// The blocks of an open AudioSource (which must outlive the reader).
BlockReader sourceReader(audio::AudioSource& source);

// The next non-empty block. A decoder may legitimately hand out empty blocks, but not forever: after
// thousands in a row the stream counts as ended (E_FAIL), as does a block without samples.
HResult readBlock(const BlockReader& read, const float** samples, std::uint32_t* count);

bool allFinite(const float* x, std::size_t n);

} // namespace tonemirror::analysis
