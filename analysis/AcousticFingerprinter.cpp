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

// Branch-free so that the loop below vectorises; NaN (from non-finite input) ends at -1.
std::int16_t toPcm(float v) {
    return static_cast<std::int16_t>(static_cast<int>(std::min(1.0f, std::max(-1.0f, v)) * 32767.0f));
}

// Output samples first .. first + count of the halved rate: taps (-1, 0, 9, 16, 9, 0, -1) / 32
// around input 2k, which pass the chroma range (below 3.6 kHz) and keep what would fold back into
// it about 20 dB down.
void halveRate(const float* x, std::size_t n, std::size_t first, std::size_t count, std::int16_t* out) {
    const auto edge = [&](std::size_t k) {
        const auto at = [&](std::ptrdiff_t i) {
            return i < 0 || i >= static_cast<std::ptrdiff_t>(n) ? 0.0f : x[i];
        };
        const auto c = static_cast<std::ptrdiff_t>(2 * k);
        return toPcm((16.0f * at(c) + 9.0f * (at(c - 1) + at(c + 1)) - (at(c - 3) + at(c + 3))) / 32.0f);
    };
    const std::size_t end = first + count;
    // Inputs 2k - 3 .. 2k + 3 all exist for k in 2 .. (n - 4) / 2.
    const std::size_t inner = n >= 4 ? std::min(end, (n - 4) / 2 + 1) : 0;
    std::size_t k = first;
    for (; k < end && k < 2; ++k) {
        *out++ = edge(k);
    }
    for (; k < inner; ++k) {
        const float* c = x + 2 * k;
        *out++ = toPcm((16.0f * c[0] + 9.0f * (c[-1] + c[1]) - (c[-3] + c[3])) * (1.0f / 32.0f));
    }
    for (; k < end; ++k) {
        *out++ = edge(k);
    }
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
        halveRate(samples, n, pos, len, block_.data());
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
