#include "analysis/AcousticFingerprinter.h"

#include <chromaprint.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>

namespace tonemirror::analysis {

namespace {

// The library works at 11025 per second; halving the rate here with a short half-band filter costs
// far less than the library's general resampler, which took most of the time of a print.
constexpr int kSampleRate = 11025;
constexpr int kAlgorithm = CHROMAPRINT_ALGORITHM_TEST2;

// The library's context set-up and release are not reentrant in every build of it.
std::mutex& contextLock() {
    static std::mutex lock;
    return lock;
}

float finite(float v) {
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}

// Output sample k of the halved rate: taps (-1, 0, 9, 16, 9, 0, -1) / 32 around input 2k, which pass
// the chroma range (below 3.6 kHz) and keep what would fold back into it about 20 dB down.
std::int16_t halfRateSample(const float* x, std::size_t n, std::size_t k) {
    const std::size_t c = 2 * k;
    const auto at = [&](std::ptrdiff_t offset) {
        const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(c) + offset;
        return i < 0 || i >= static_cast<std::ptrdiff_t>(n) ? 0.0f : finite(x[i]);
    };
    const float v = (16.0f * at(0) + 9.0f * (at(-1) + at(1)) - (at(-3) + at(3))) / 32.0f;
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
}

// A print whose words hardly change from frame to frame (a steady tone, a drone) says nothing about
// timing, and any two such prints look alike: no print is better than a misleading one.
constexpr double kMinMeanChange = 1.0;

double meanChange(const AcousticPrint& print) {
    std::size_t bits = 0;
    for (std::size_t i = 1; i < print.size(); ++i) {
        bits += static_cast<std::size_t>(std::popcount(print[i] ^ print[i - 1]));
    }
    return static_cast<double>(bits) / static_cast<double>(print.size() - 1);
}

} // namespace

struct AcousticFingerprinter::Context {
    ChromaprintContext* ctx = nullptr;
};

std::uint8_t AcousticFingerprinter::algorithm() {
    return static_cast<std::uint8_t>(kAlgorithm);
}

AcousticFingerprinter::AcousticFingerprinter() : context_(std::make_unique<Context>()) {
    std::lock_guard lock(contextLock());
    context_->ctx = chromaprint_new(kAlgorithm);
}

AcousticFingerprinter::~AcousticFingerprinter() {
    std::lock_guard lock(contextLock());
    if (context_->ctx != nullptr) {
        chromaprint_free(context_->ctx);
    }
}

HResult AcousticFingerprinter::compute(const float* samples, std::size_t n, AcousticPrint& out) {
    out.clear();
    ChromaprintContext* ctx = context_->ctx;
    if (ctx == nullptr || chromaprint_start(ctx, kSampleRate, 1) != 1) {
        return E_FAIL;
    }
    const std::size_t halved = n / 2;
    for (std::size_t pos = 0; pos < halved; pos += block_.size()) {
        const std::size_t len = std::min(block_.size(), halved - pos);
        for (std::size_t k = 0; k < len; ++k) {
            block_[k] = halfRateSample(samples, n, pos + k);
        }
        if (chromaprint_feed(ctx, block_.data(), static_cast<int>(len)) != 1) {
            return E_FAIL;
        }
    }
    std::uint32_t* words = nullptr;
    int size = 0;
    if (chromaprint_finish(ctx) != 1 || chromaprint_get_raw_fingerprint(ctx, &words, &size) != 1) {
        return E_FAIL;
    }
    const auto count = static_cast<std::size_t>(std::max(size, 0));
    if (words != nullptr && count >= kMinAcousticWords) {
        out.assign(words, words + std::min(count, kMaxAcousticWords));
    }
    chromaprint_dealloc(words);
    if (!out.empty() && meanChange(out) < kMinMeanChange) {
        out.clear();
    }
    return out.empty() ? E_FAIL : S_OK;
}

} // namespace tonemirror::analysis
