#include "analysis/AcousticFingerprinter.h"

#include <chromaprint.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace tonemirror::analysis {

namespace {

constexpr int kSampleRate = 22050;
constexpr int kAlgorithm = CHROMAPRINT_ALGORITHM_TEST2;

// The library's context set-up and release are not reentrant in every build of it.
std::mutex& contextLock() {
    static std::mutex lock;
    return lock;
}

std::int16_t toPcm(float v) {
    if (!std::isfinite(v)) {
        return 0;
    }
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
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
    for (std::size_t pos = 0; pos < n; pos += block_.size()) {
        const std::size_t len = std::min(block_.size(), n - pos);
        std::transform(samples + pos, samples + pos + len, block_.begin(), toPcm);
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
    return out.empty() ? E_FAIL : S_OK;
}

} // namespace tonemirror::analysis
