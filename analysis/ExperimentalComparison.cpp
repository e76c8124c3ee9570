// The experimental comparison: level-change curves and band energies of the first 60 s of two files,
// matched by three 15 s probes of one file searched over the whole of the other.
#include "analysis/CComparer.h"
#include "analysis/SignalMath.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

namespace {

constexpr float kDeviationFloor = 0.0001f;
constexpr float kBandMean = 0.04f;                         // 1 / 25 bands
constexpr std::size_t kCurveRate = kBandHop / kCurveGroup; // curve values per second

bool stopRequested(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

} // namespace

const std::array<std::uint32_t, kBandCount + 1>& bandEdges() {
    // exp(b ln(32768) / 25) truncated, as single-precision evaluation gives it (511 rather than 512 for
    // band 15). Kept as a table: the exact rounding of that evaluation differs between libraries.
    static constexpr std::array<std::uint32_t, kBandCount + 1> kEdges = {
        0,   1,   2,   3,   5,    8,    12,   18,   27,   42,   64,    97,    147,
        222, 337, 511, 776, 1176, 1782, 2702, 4096, 6208, 9410, 14263, 21618, 32769};
    return kEdges;
}

HResult levelChangeCurve(const float* x, std::size_t n, std::size_t window, std::size_t group, float rms,
                         std::vector<float>& curve) {
    if (window == 0 || n < 2 * window || group == 0) {
        return E_FAIL;
    }
    curve.clear();
    curve.reserve(n / group);
    const float floor = rms * kDeviationFloor;
    const float a = static_cast<float>(window);
    const float perGroup = 1.0f / static_cast<float>(group);
    // Deviation of a window from its sums; never below the floor (also when rounding makes it negative).
    const auto deviation = [&](float s1, float s2) {
        const float v = std::sqrt((s2 - s1 * s1 / a) / a);
        return v > floor ? v : floor;
    };
    float sb1 = 0.0f;
    float sb2 = 0.0f;
    float sa1 = 0.0f;
    float sa2 = 0.0f;
    for (std::size_t i = 0; i < window; ++i) {
        sa1 += x[i];
        sa2 += x[i] * x[i];
    }
    float acc = 0.0f;
    for (std::size_t c = 0; c < n; ++c) {
        const float devB = deviation(sb1, sb2);
        const float devA = deviation(sa1, sa2);
        // Positive where the level rises at c, negative where it falls.
        float d = devB < devA ? 1.0f - devB / devA : devA / devB - 1.0f;
        if (!std::isfinite(d)) {
            d = 0.0f; // both deviations 0 (an all-zero file has a zero floor)
        }
        acc += d;
        if (c % group == group - 1) {
            curve.push_back(acc * perGroup);
            acc = 0.0f;
        }
        if (c >= window) {
            sb1 -= x[c - window];
            sb2 -= x[c - window] * x[c - window];
        }
        sb1 += x[c];
        sb2 += x[c] * x[c];
        sa1 -= x[c];
        sa2 -= x[c] * x[c];
        if (c + window < n) {
            sa1 += x[c + window];
            sa2 += x[c + window] * x[c + window];
        }
    }
    return S_OK;
}

void bandEnergies(const float* x, std::size_t n, std::vector<float>& bands, std::vector<float>& re,
                  std::vector<float>& im) {
    const std::size_t seconds = (n + kBandHop - 1) / kBandHop;
    bands.assign(kBandCount * seconds, 0.0f);
    re.resize(kBandFftSize);
    im.resize(kBandFftSize);
    const auto& edges = bandEdges();
    for (std::size_t s = 0; s < seconds; ++s) {
        const std::size_t pos = s * kBandHop;
        const std::size_t len = std::min(kBandHop, n - pos);
        std::copy(x + pos, x + pos + len, re.begin());
        std::fill(re.begin() + static_cast<std::ptrdiff_t>(len), re.end(), 0.0f);
        std::fill(im.begin(), im.end(), 0.0f);
        fft(re.data(), im.data(), kBandFftSize);
        for (std::size_t j = 0; j < kBandCount; ++j) {
            float sum = 0.0f;
            for (std::size_t k = edges[j]; k < edges[j + 1]; ++k) {
                sum += std::sqrt(re[k] * re[k] + im[k] * im[k]);
            }
            bands[j * seconds + s] = sum / static_cast<float>(edges[j + 1] - edges[j]);
        }
    }
}

std::ptrdiff_t probeStart(std::size_t size, std::size_t probe, int k) {
    const auto whole = static_cast<std::ptrdiff_t>(size);
    const auto half = whole / 2;
    const auto p = static_cast<std::ptrdiff_t>(probe);
    std::ptrdiff_t start = -1;
    switch (k) {
    case 0:
        start = half >= p ? (half - p) / 2 : -1;
        break;
    case 1:
        start = whole >= p ? (whole - p) / 2 : -1;
        break;
    case 2:
        start = half >= p ? half + (half - p) / 2 : -1;
        break;
    default:
        break;
    }
    return start >= 0 && start + p <= whole ? start : -1;
}

float matchProbes(const std::vector<float>& cx, const std::vector<float>& cy, const std::vector<float>& bx,
                  const std::vector<float>& by, std::size_t curveProbe, std::size_t bandProbe) {
    const std::size_t a = curveProbe;
    const std::size_t b = bandProbe;
    if (a == 0 || b == 0 || cx.size() < a || cy.size() < a || bx.size() < kBandCount * b ||
        by.size() < kBandCount * b || bx.size() != by.size()) {
        return 0.0f;
    }
    const std::size_t seconds = by.size() / kBandCount;
    if (seconds < 2 + b) {
        return 0.0f;
    }
    // The band rows without their first and last second, matching the trimmed curves.
    const std::size_t inner = seconds - 2;
    std::vector<float> r(cx.size() + a - 1);
    std::vector<float> q(inner + b - 1);
    std::vector<float> p(inner + b - 1);
    float result = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const std::ptrdiff_t t = probeStart(cy.size(), a, k);
        const std::ptrdiff_t h = probeStart(inner, b, k);
        if (t < 0 || h < 0) {
            continue;
        }
        normalizedCrossCorrelation(cx.data(), cx.size(), cy.data() + t, a, r.data());
        std::fill(q.begin(), q.end(), 0.0f);
        for (std::size_t j = 0; j < kBandCount; ++j) {
            const float* row = bx.data() + j * seconds + 1;
            const float* probe = by.data() + j * seconds + 1 + static_cast<std::size_t>(h);
            normalizedCrossCorrelation(row, inner, probe, b, p.data());
            for (std::size_t i = 0; i < q.size(); ++i) {
                q[i] += p[i];
            }
        }
        for (float& v : q) {
            v *= kBandMean;
        }
        // The curve has 25 values per second: position l of cx is second l / 25 of the band rows.
        float best = 0.0f;
        for (std::size_t l = 0; l < cx.size(); ++l) {
            const std::size_t second = l / kCurveRate + b - 1;
            if (second >= q.size()) {
                break;
            }
            best = std::max(best, r[l + a - 1] * q[second]);
        }
        result = std::max(result, best);
    }
    return result;
}

HResult CComparer::compareExperimental(const std::u16string& path1, const std::u16string& path2, float* score,
                                       const std::atomic<bool>* stop) {
    *score = 0.0f;
    std::vector<float> samples1;
    std::vector<float> samples2;
    float rms1 = 0.0f;
    float rms2 = 0.0f;
    if (failed(readLongExcerpt(path1, kLongExcerptLength, samples1, &rms1))) {
        return E_FAIL;
    }
    if (stopRequested(stop)) {
        lastFailure_ = AnalysisFailure::stopped;
        return E_FAIL;
    }
    if (failed(readLongExcerpt(path2, kLongExcerptLength, samples2, &rms2))) {
        return E_FAIL;
    }
    return compareSamples(samples1, rms1, samples2, rms2, score, stop);
}

HResult CComparer::compareSamples(const std::vector<float>& samples1, float rms1,
                                  const std::vector<float>& samples2, float rms2, float* score,
                                  const std::atomic<bool>* stop) {
    *score = 0.0f;
    // Files shorter than 60 s get no experimental score.
    if (samples1.size() < kLongExcerptLength || samples2.size() < kLongExcerptLength) {
        lastFailure_ = AnalysisFailure::tooShort;
        return E_FAIL;
    }
    const auto stopped = [&] {
        if (stopRequested(stop)) {
            lastFailure_ = AnalysisFailure::stopped;
            return true;
        }
        return false;
    };
    if (stopped()) {
        return E_FAIL;
    }
    std::vector<float> curve1;
    std::vector<float> curve2;
    if (failed(levelChangeCurve(samples1.data(), samples1.size(), kLevelWindow, kCurveGroup, rms1, curve1)) ||
        failed(levelChangeCurve(samples2.data(), samples2.size(), kLevelWindow, kCurveGroup, rms2, curve2))) {
        lastFailure_ = AnalysisFailure::tooShort;
        return E_FAIL;
    }
    if (stopped()) {
        return E_FAIL;
    }
    std::vector<float> bands1;
    std::vector<float> bands2;
    bandEnergies(samples1.data(), samples1.size(), bands1, bandRe_, bandIm_);
    if (stopped()) {
        return E_FAIL;
    }
    bandEnergies(samples2.data(), samples2.size(), bands2, bandRe_, bandIm_);
    if (curve1.size() < 2 * kCurveTrim || curve2.size() < 2 * kCurveTrim) {
        lastFailure_ = AnalysisFailure::tooShort;
        return E_FAIL;
    }
    if (stopped()) {
        return E_FAIL;
    }
    for (auto* curve : {&curve1, &curve2}) {
        curve->erase(curve->end() - static_cast<std::ptrdiff_t>(kCurveTrim), curve->end());
        curve->erase(curve->begin(), curve->begin() + static_cast<std::ptrdiff_t>(kCurveTrim));
    }
    const float forward = matchProbes(curve1, curve2, bands1, bands2, kCurveProbe, kBandProbe);
    const float backward = matchProbes(curve2, curve1, bands2, bands1, kCurveProbe, kBandProbe);
    // Rounding in the normalised correlations can lift a perfect match a hair above 1.
    *score = std::min(1.0f, std::max(forward, backward));
    lastFailure_ = AnalysisFailure::none;
    return S_OK;
}

} // namespace tonemirror::analysis
