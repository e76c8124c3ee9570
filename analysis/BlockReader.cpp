#include "analysis/BlockReader.h"

#include "audio/AudioSource.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

namespace {

constexpr int kMaxEmptyReads = 4096;

} // namespace

BlockReader sourceReader(audio::AudioSource& source) {
    return [&source](const float** samples, std::uint32_t* count) { return source.read(samples, count); };
}

HResult readBlock(const BlockReader& read, const float** samples, std::uint32_t* count) {
    for (int empty = 0; empty < kMaxEmptyReads; ++empty) {
        *samples = nullptr;
        *count = 0;
        const HResult r = read(samples, count);
        if (failed(r)) {
            return r;
        }
        if (*count > 0 && *samples == nullptr) {
            return E_FAIL;
        }
        if (*count > 0) {
            return S_OK;
        }
    }
    return E_FAIL;
}

bool allFinite(const float* x, std::size_t n) {
    return std::all_of(x, x + n, [](float v) { return std::isfinite(v); });
}

} // namespace tonemirror::analysis
