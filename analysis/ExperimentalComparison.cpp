#include "analysis/ExperimentalComparison.h"

#include "analysis/ExcerptReader.h"
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

// Running sums of the samples of a window and of their squares.
struct WindowSums {
    float s1 = 0.0f;
    float s2 = 0.0f;

    void add(float v) {
        s1 += v;
        s2 += v * v;
    }
    void remove(float v) {
        s1 -= v;
        s2 -= v * v;
    }
    // Deviation of a window of `a` samples; never below the floor (also when rounding makes it
    // negative).
    float deviation(float a, float floor) const {
        const float v = std::sqrt((s2 - s1 * s1 / a) / a);
        return v > floor ? v : floor;
    }
};

// Positive where the level rises (the deviation after is the larger), negative where it falls.
float levelChange(float before, float after) {
    const float d = before < after ? 1.0f - before / after : after / before - 1.0f;
    return std::isfinite(d) ? d : 0.0f; // both deviations 0 (an all-zero file has a zero floor)
}

// Mean over the bands of the correlation of the b seconds from h on of y's rows (by) with x's rows
// (bx), all rows without their first and last second. p is a work array of q's size.
void bandCorrelation(const std::vector<float>& bx, const std::vector<float>& by, std::size_t h, std::size_t b,
                     std::vector<float>& q, std::vector<float>& p) {
    const std::size_t seconds = by.size() / kBandCount;
    const std::size_t inner = seconds - 2;
    std::fill(q.begin(), q.end(), 0.0f);
    for (std::size_t j = 0; j < kBandCount; ++j) {
        const float* row = bx.data() + j * seconds + 1;
        const float* probe = by.data() + j * seconds + 1 + h;
        normalizedCrossCorrelation(row, inner, probe, b, p.data());
        for (std::size_t i = 0; i < q.size(); ++i) {
            q[i] += p[i];
        }
    }
    for (float& v : q) {
        v *= kBandMean;
    }
}

// Best product of the curve correlation r (curve probe of a values over a curve of n) and the band
// correlation q at the same place (band probe of b seconds). The curve has 25 values per second:
// position l of the curve is second l / 25 of the band rows.
float bestAlignment(const std::vector<float>& r, std::size_t n, std::size_t a, const std::vector<float>& q,
                    std::size_t b) {
    float best = 0.0f;
    for (std::size_t l = 0; l < n; ++l) {
        const std::size_t second = l / kCurveRate + b - 1;
        if (second >= q.size()) {
            break;
        }
        best = std::max(best, r[l + a - 1] * q[second]);
    }
    return best;
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
    const float a = static_cast<float>(window);
    const float floor = rms * kDeviationFloor;
    const float perGroup = 1.0f / static_cast<float>(group);
    WindowSums before;
    WindowSums after;
    for (std::size_t i = 0; i < window; ++i) {
        after.add(x[i]);
    }
    float acc = 0.0f;
    for (std::size_t c = 0; c < n; ++c) {
        acc += levelChange(before.deviation(a, floor), after.deviation(a, floor));
        if (c % group == group - 1) {
            curve.push_back(acc * perGroup);
            acc = 0.0f;
        }
        // Both windows move on by one sample.
        if (c >= window) {
            before.remove(x[c - window]);
        }
        before.add(x[c]);
        after.remove(x[c]);
        if (c + window < n) {
            after.add(x[c + window]);
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
        bandCorrelation(bx, by, static_cast<std::size_t>(h), b, q, p);
        result = std::max(result, bestAlignment(r, cx.size(), a, q, b));
    }
    return result;
}

HResult ExperimentalComparison::compare(const std::vector<float>& samples1, float rms1,
                                        const std::vector<float>& samples2, float rms2, float* score,
                                        const std::atomic<bool>* stop) {
    *score = 0.0f;
    // Files shorter than 60 s get no experimental score.
    if (samples1.size() < kLongExcerptLength || samples2.size() < kLongExcerptLength) {
        return fail(AnalysisFailure::tooShort);
    }
    Features first;
    Features second;
    if (failed(describe(samples1, rms1, first, stop)) || failed(describe(samples2, rms2, second, stop))) {
        return E_FAIL;
    }
    const float forward =
        matchProbes(first.curve, second.curve, first.bands, second.bands, kCurveProbe, kBandProbe);
    const float backward =
        matchProbes(second.curve, first.curve, second.bands, first.bands, kCurveProbe, kBandProbe);
    // Rounding in the normalised correlations can lift a perfect match a hair above 1.
    *score = std::min(1.0f, std::max(forward, backward));
    failure_ = AnalysisFailure::none;
    return S_OK;
}

// The level-change curve without its first and last second (where the windows reach past the
// excerpt), and the band energies.
HResult ExperimentalComparison::describe(const std::vector<float>& samples, float rms, Features& out,
                                         const std::atomic<bool>* stop) {
    if (stopRequested(stop)) {
        return fail(AnalysisFailure::stopped);
    }
    if (failed(levelChangeCurve(samples.data(), samples.size(), kLevelWindow, kCurveGroup, rms, out.curve)) ||
        out.curve.size() < 2 * kCurveTrim) {
        return fail(AnalysisFailure::tooShort);
    }
    out.curve.erase(out.curve.end() - static_cast<std::ptrdiff_t>(kCurveTrim), out.curve.end());
    out.curve.erase(out.curve.begin(), out.curve.begin() + static_cast<std::ptrdiff_t>(kCurveTrim));
    if (stopRequested(stop)) {
        return fail(AnalysisFailure::stopped);
    }
    bandEnergies(samples.data(), samples.size(), out.bands, bandRe_, bandIm_);
    return S_OK;
}

} // namespace tonemirror::analysis
