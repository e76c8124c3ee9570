#include "analysis/ExcerptReader.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kDetectorWindow = 11025; // 0.5 s
constexpr std::size_t kDetectorHold = 22050;   // stop 1 s after the best rise
constexpr float kRiseFactor = 0.333f;
constexpr float kStartFactor = 0.1f;

// Rise detector: cur is the mean level of the half second before s, prev that of the half second
// before it; the onset is where the level rises most above `rise`. 0 when it never does.
std::size_t riseOnset(const float* x, std::size_t n, float rise) {
    const float w = 1.0f / static_cast<float>(kDetectorWindow);
    float cur = 0.0f;
    for (std::size_t j = 0; j < kDetectorWindow; ++j) {
        cur += std::fabs(x[j]);
    }
    cur *= w;
    float prev = 0.0f;
    float best = 0.0f;
    std::size_t onset = 0;
    for (std::size_t s = kDetectorWindow; s < n; ++s) {
        const float d = cur - prev;
        if (d > rise && d > best) {
            onset = s;
            best = d;
        }
        if (onset != 0 && s - onset > kDetectorHold) {
            break;
        }
        if (s >= 2 * kDetectorWindow) {
            prev -= std::fabs(x[s - 2 * kDetectorWindow]) * w;
        }
        const float leaving = std::fabs(x[s - kDetectorWindow]) * w;
        cur -= leaving;
        prev += leaving;
        cur += std::fabs(x[s]) * w;
    }
    return onset;
}

// Samples before the music starts: up to the half second before the steepest rise of the level by a
// third of its mean, or without such a rise up to the first sample above a tenth of the mean (all n
// when there is none).
std::size_t leadInLength(const float* x, std::size_t n, float meanLevel) {
    const std::size_t onset = riseOnset(x, n, meanLevel * kRiseFactor);
    if (onset != 0) {
        return onset - kDetectorWindow;
    }
    const float start = meanLevel * kStartFactor;
    for (std::size_t p = 0; p < n; ++p) {
        if (x[p] > start) {
            return p;
        }
    }
    return n;
}

} // namespace

HResult ExcerptReader::read(const BlockReader& read) {
    samples_.clear();
    overflow_.clear();
    failure_ = AnalysisFailure::none;
    float level = 0.0f;
    if (failed(readFirst(read, level))) {
        return E_FAIL;
    }
    const std::size_t n = std::min(samples_.size(), kExcerptLength);
    if (n < kMinimumLength) {
        return fail(AnalysisFailure::tooShort);
    }
    if (level == 0.0f) {
        return fail(AnalysisFailure::silent);
    }
    const std::size_t cut = leadInLength(samples_.data(), n, level / static_cast<float>(n));
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(cut));
    // Fix the length at 30 s, decoding more when the cut left less.
    if (samples_.size() >= kExcerptLength) {
        overflow_.assign(samples_.begin() + static_cast<std::ptrdiff_t>(kExcerptLength), samples_.end());
        samples_.resize(kExcerptLength);
    } else if (failed(refill(read))) {
        return E_FAIL;
    }
    if (samples_.size() < kMinimumLength) {
        return fail(AnalysisFailure::tooShort);
    }
    return S_OK;
}

// Reads the first 30 s (the last block whole), summing the absolute level of those 30 s.
HResult ExcerptReader::readFirst(const BlockReader& read, float& level) {
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (samples_.size() < kExcerptLength) {
        // Unlike the refill, an empty block does not end this reading.
        if (readBlock(read, &block, &count) != S_OK) {
            break;
        }
        if (!allFinite(block, count)) {
            return fail(AnalysisFailure::badSamples);
        }
        const std::size_t first = samples_.size();
        samples_.insert(samples_.end(), block, block + count);
        const std::size_t summed = std::min(samples_.size(), kExcerptLength);
        for (std::size_t i = first; i < summed; ++i) {
            level += std::fabs(samples_[i]);
        }
    }
    return S_OK;
}

// Tops the excerpt up to 30 s; the stream's end, a failure or an empty block ends it early.
HResult ExcerptReader::refill(const BlockReader& read) {
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (samples_.size() < kExcerptLength) {
        if (failed(read(&block, &count)) || count == 0 || block == nullptr) {
            break;
        }
        const std::size_t take = std::min<std::size_t>(count, kExcerptLength - samples_.size());
        if (!allFinite(block, take)) {
            return fail(AnalysisFailure::badSamples);
        }
        samples_.insert(samples_.end(), block, block + take);
        overflow_.assign(block + take, block + count);
    }
    return S_OK;
}

void ExcerptReader::extend(const BlockReader& read, std::size_t limit) {
    if (!allFinite(overflow_.data(), overflow_.size())) {
        return;
    }
    samples_.insert(samples_.end(), overflow_.begin(), overflow_.end());
    overflow_.clear();
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (samples_.size() < limit && readBlock(read, &block, &count) == S_OK) {
        const std::size_t take = std::min<std::size_t>(count, limit - samples_.size());
        if (!allFinite(block, take)) {
            break;
        }
        samples_.insert(samples_.end(), block, block + take);
    }
    if (samples_.size() > limit) {
        samples_.resize(limit);
    }
}

HResult ExcerptReader::readOpening(const BlockReader& read, std::size_t limit, std::vector<float>& out,
                                   float* rms) {
    *rms = 0.0f;
    out.clear();
    out.reserve(limit);
    failure_ = AnalysisFailure::none;
    float sum = 0.0f;
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (out.size() < limit && readBlock(read, &block, &count) == S_OK) {
        const std::size_t take = std::min<std::size_t>(count, limit - out.size());
        if (!allFinite(block, take)) {
            out.clear();
            return fail(AnalysisFailure::badSamples);
        }
        for (std::size_t i = 0; i < take; ++i) {
            sum += block[i];
        }
        out.insert(out.end(), block, block + take);
    }
    if (out.empty()) {
        return S_OK;
    }
    const float n = static_cast<float>(out.size());
    const float mean = sum / n;
    float squares = 0.0f;
    for (float& v : out) {
        v -= mean;
        squares += v * v;
    }
    *rms = std::sqrt(squares / n);
    return S_OK;
}

} // namespace tonemirror::analysis
