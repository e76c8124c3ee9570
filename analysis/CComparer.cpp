#include "analysis/CComparer.h"

#include "analysis/SignalMath.h"
#include "analysis/TrackTexts.h"
#include "audio/AudioSource.h"
#include "platform/os/ErrorReport.h"
#include "platform/os/ThreadPriority.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kDetectorWindow = 11025; // 0.5 s
constexpr std::size_t kDetectorHold = 22050;   // stop 1 s after the best rise
constexpr float kRiseFactor = 0.333f;
constexpr float kStartFactor = 0.1f;
constexpr std::size_t kProfileSegments = kLevelProfileSize;
constexpr std::size_t kComparedBins = 1025;

// A decoder may legitimately hand out empty blocks, but not forever: this many in a row end the stream.
constexpr int kMaxEmptyReads = 4096;

bool allFinite(const float* x, std::size_t n) {
    return std::all_of(x, x + n, [](float v) { return std::isfinite(v); });
}

// Reads the next block, giving up after too many empty blocks in a row.
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

BlockReader sourceReader(audio::AudioSource& source) {
    return [&source](const float** samples, std::uint32_t* count) { return source.read(samples, count); };
}

} // namespace

const char* failureText(AnalysisFailure failure) {
    switch (failure) {
    case AnalysisFailure::none:
        return "";
    case AnalysisFailure::noDecoder:
        return "no decoder";
    case AnalysisFailure::tooShort:
        return "too short";
    case AnalysisFailure::silent:
        return "silent";
    case AnalysisFailure::badSamples:
        return "non-finite samples";
    case AnalysisFailure::stopped:
        return "stopped";
    }
    return "";
}

CComparer::CComparer(const audio::PluginList& plugins)
    : source_(std::make_unique<audio::AudioSource>(plugins)) {}

CComparer::CComparer(std::unique_ptr<audio::AudioSource> source) : source_(std::move(source)) {}

CComparer::~CComparer() = default;

HResult CComparer::initialize() {
    if (source_ == nullptr) {
        os::reportError("CComparer::Initialize", __LINE__, E_FAIL);
        return E_FAIL;
    }
    if (!os::setLowestThreadPriority()) {
        os::reportError("CComparer::Initialize", __LINE__, E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

HResult CComparer::analyseFile(const std::u16string& path) {
    if (source_ == nullptr || failed(source_->open(path))) {
        lastFailure_ = AnalysisFailure::noDecoder;
        return E_FAIL;
    }
    StreamInfo info{};
    TrackTexts texts = makeTrackTexts(path, succeeded(source_->getInfo(&info)) ? &info : nullptr);
    record_.nameText = std::move(texts.nameText);
    record_.titleText = std::move(texts.titleText);
    record_.artistText = std::move(texts.artistText);
    record_.albumText = std::move(texts.albumText);
    const HResult excerpt = readExcerpt();
    source_->close();
    if (failed(excerpt)) {
        return excerpt;
    }
    if (failed(computeSpectra()) || failed(computeLevelProfile())) {
        lastFailure_ = AnalysisFailure::tooShort;
        return E_FAIL;
    }
    computeAcousticPrint();
    return S_OK;
}

HResult CComparer::readExcerpt() {
    if (source_ == nullptr) {
        lastFailure_ = AnalysisFailure::noDecoder;
        return E_FAIL;
    }
    return readExcerpt(sourceReader(*source_));
}

HResult CComparer::readExcerpt(const BlockReader& read) {
    samples_.clear();
    lastFailure_ = AnalysisFailure::none;
    const float* block = nullptr;
    std::uint32_t count = 0;

    // Read the first 30 s (the last block whole), summing the absolute level.
    float level = 0.0f;
    while (samples_.size() < kExcerptLength) {
        // Unlike the refill below, an empty block does not end this reading.
        if (readBlock(read, &block, &count) != S_OK) {
            break;
        }
        if (!allFinite(block, count)) {
            lastFailure_ = AnalysisFailure::badSamples;
            return E_FAIL;
        }
        const std::size_t first = samples_.size();
        samples_.insert(samples_.end(), block, block + count);
        const std::size_t summed = std::min(samples_.size(), kExcerptLength);
        for (std::size_t i = first; i < summed; ++i) {
            level += std::fabs(samples_[i]);
        }
    }
    const std::size_t n = std::min(samples_.size(), kExcerptLength);
    if (n < kMinimumLength || level == 0.0f) {
        lastFailure_ = n < kMinimumLength ? AnalysisFailure::tooShort : AnalysisFailure::silent;
        return E_FAIL;
    }

    const float mean = level / static_cast<float>(n);
    const float hi = mean * kRiseFactor;
    const float lo = mean * kStartFactor;
    const float w = 1.0f / static_cast<float>(kDetectorWindow);
    const float* x = samples_.data();

    // Rise detector: cur is the mean level of the half second before s, prev that of the half second
    // before it; the start is where the level rises most above a third of the mean level.
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
        if (d > hi && d > best) {
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

    std::size_t cut = 0;
    if (onset != 0) {
        cut = onset - kDetectorWindow;
    } else {
        cut = n;
        for (std::size_t p = 0; p < n; ++p) {
            if (x[p] > lo) {
                cut = p;
                break;
            }
        }
    }
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(cut));

    // Fix the length at 30 s, decoding more when the cut left less.
    if (samples_.size() >= kExcerptLength) {
        samples_.resize(kExcerptLength);
    } else {
        while (samples_.size() < kExcerptLength) {
            if (failed(read(&block, &count)) || count == 0 || block == nullptr) {
                break;
            }
            const std::size_t take = std::min<std::size_t>(count, kExcerptLength - samples_.size());
            if (!allFinite(block, take)) {
                lastFailure_ = AnalysisFailure::badSamples;
                return E_FAIL;
            }
            samples_.insert(samples_.end(), block, block + take);
        }
    }
    if (samples_.size() < kMinimumLength) {
        lastFailure_ = AnalysisFailure::tooShort;
        return E_FAIL;
    }
    return S_OK;
}

HResult CComparer::computeSpectra() {
    const std::size_t n = samples_.size();
    if (n < kSpectrumBlock) {
        return E_FAIL;
    }
    auto& mean = record_.meanSpectrum;
    mean.fill(0.0f);
    sectionSpectra_.assign(kSpectrumSections * kSpectrumBlock, 0.0f);
    std::array<std::uint32_t, kSpectrumSections> blocks{};
    std::uint32_t total = 0;

    for (std::size_t pos = 0; pos < n; pos += kSpectrumBlock) {
        const std::size_t len = std::min(kSpectrumBlock, n - pos);
        std::copy(samples_.begin() + static_cast<std::ptrdiff_t>(pos),
                  samples_.begin() + static_cast<std::ptrdiff_t>(pos + len), workRe_.begin());
        std::fill(workRe_.begin() + static_cast<std::ptrdiff_t>(len), workRe_.end(), 0.0f);
        workIm_.fill(0.0f);
        fft(workRe_.data(), workIm_.data(), kSpectrumBlock);
        const std::size_t sec = (pos * kSpectrumSections) / n;
        ++blocks[sec];
        float* section = sectionSpectra_.data() + sec * kSpectrumBlock;
        for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
            const float m = std::sqrt(workRe_[k] * workRe_[k] + workIm_[k] * workIm_[k]);
            mean[k] += m;
            section[k] += m;
        }
        ++total;
    }

    // Tilt by (k + 1) / 2048 so that the quieter high bins weigh in.
    const float perBlock = 1.0f / static_cast<float>(total);
    for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
        mean[k] = static_cast<float>(k + 1) * perBlock / static_cast<float>(kSpectrumBlock) * mean[k];
    }
    for (std::size_t s = 0; s < kSpectrumSections; ++s) {
        // A buffer of a few blocks leaves sections empty; they stay zero rather than 0 * inf.
        if (blocks[s] == 0) {
            continue;
        }
        const float perSectionBlock = 1.0f / static_cast<float>(blocks[s]);
        float* section = sectionSpectra_.data() + s * kSpectrumBlock;
        for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
            section[k] =
                static_cast<float>(k + 1) * perSectionBlock / static_cast<float>(kSpectrumBlock) * section[k];
        }
    }
    for (std::size_t l = 0; l + 1 < kSpectrumSections; ++l) {
        record_.sectionCorrelations[l] =
            correlation(sectionSpectra_.data() + l * kSpectrumBlock,
                        sectionSpectra_.data() + (l + 1) * kSpectrumBlock, kComparedBins);
    }
    return S_OK;
}

HResult CComparer::computeLevelProfile() {
    auto& profile = record_.levelProfile;
    profile.fill(0.0f);
    const std::size_t segmentLength = kExcerptLength / kProfileSegments;
    std::size_t seg = 0;
    std::size_t count = 0;
    float s1 = 0.0f;
    float s2 = 0.0f;
    // Rounding can leave a nearly constant segment with a variance just below zero: clamp it.
    const auto close = [&] {
        const float c = static_cast<float>(count);
        const float m = s1 / c;
        profile[seg] = std::sqrt(std::max(0.0f, s2 / c - m * m));
    };
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        // Segment 0 holds samples 0..6615, segment j the samples 6615j + 1 .. 6615(j + 1).
        if (i > (seg + 1) * segmentLength) {
            close();
            ++seg;
            count = 0;
            if (seg == kProfileSegments) {
                break;
            }
            s1 = 0.0f;
            s2 = 0.0f;
        }
        const float x = samples_[i];
        s2 += x * x;
        s1 += x;
        ++count;
    }
    if (seg < kProfileSegments && count > 0) {
        close();
    }
    return S_OK;
}

HResult CComparer::computeAcousticPrint() {
    return fingerprinter_.compute(samples_.data(), samples_.size(), record_.acousticPrint);
}

HResult CComparer::readLongExcerpt(const std::u16string& path, std::size_t limit, std::vector<float>& out,
                                   float* rms) {
    *rms = 0.0f;
    out.clear();
    if (source_ == nullptr || failed(source_->open(path))) {
        lastFailure_ = AnalysisFailure::noDecoder;
        return E_FAIL;
    }
    const HResult r = readLongExcerpt(sourceReader(*source_), limit, out, rms);
    source_->close();
    return r;
}

HResult CComparer::readLongExcerpt(const BlockReader& read, std::size_t limit, std::vector<float>& out,
                                   float* rms) {
    *rms = 0.0f;
    out.clear();
    out.reserve(limit);
    lastFailure_ = AnalysisFailure::none;
    float sum = 0.0f;
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (out.size() < limit && readBlock(read, &block, &count) == S_OK) {
        const std::size_t take = std::min<std::size_t>(count, limit - out.size());
        if (!allFinite(block, take)) {
            out.clear();
            lastFailure_ = AnalysisFailure::badSamples;
            return E_FAIL;
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
