#include "analysis/HalfSpectrum.h"

#include "analysis/CpuFeatures.h"
#include "analysis/HalfFloat.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tonemirror::analysis {

namespace {

constexpr std::uint16_t kHalfInfinity = 0x7c00;
constexpr std::uint16_t kHalfNan = 0x7e00;
constexpr std::uint16_t kLargestHalf = 0x7bff; // 65504
// Scaled magnitudes from here on round past the largest finite half (65504).
constexpr float kHalfOverflow = 65520.0f;
// The largest magnitude lands in (2^14, 2^15].
constexpr int kTopBinade = 15;
// Within these every half times 2^exponent is a float exactly: no float subnormal below (the halves'
// finest step is 2^(exponent - 24) >= 2^-149), no overflow above (65504 * 2^112 < FLT_MAX). Finite
// bins above 65504 * 2^112 (0.05 % under the largest float) are kept as that: a finite magnitude stays
// finite, and the largest one kept still picks the same exponent.
constexpr int kLowestExponent = -125;
constexpr int kHighestExponent = 112;

// The exponent e with 2^(e + kTopBinade) the smallest power of two not below the largest magnitude as
// it is kept (rounded to 11 significant bits). Rounding the kept magnitudes again then finds the same
// largest one and the same exponent, and every kept value lies on that exponent's steps already.
int exponentFor(float largest) {
    if (!(largest > 0.0f)) {
        return 0;
    }
    int e = 0;
    const float fraction = std::frexp(largest, &e); // largest = fraction * 2^e, fraction in [0.5, 1)
    const float kept = std::nearbyint(fraction * 2048.0f) / 2048.0f; // ties to even, as toHalf
    const int ceiling = kept == 0.5f ? e - 1 : e;
    return std::clamp(ceiling - kTopBinade, kLowestExponent, kHighestExponent);
}

// 2^e as a float, exactly (for the exponents above).
float powerOfTwo(int e) {
    return bitsFloat(static_cast<std::uint32_t>(e + 127) << 23);
}

// value / 2^exponent is formed as a product with an exact power of two: exact itself, but for results
// under a float's normal range, which are far under a half's smallest step and round to zero anyway.
std::uint16_t scaledHalf(float value, float unit) {
    if (std::isnan(value)) {
        return kHalfNan;
    }
    const float scaled = value * unit;
    const std::uint16_t sign = std::signbit(value) ? 0x8000u : 0u;
    if (std::isinf(value)) {
        return static_cast<std::uint16_t>(sign | kHalfInfinity);
    }
    if (!(std::fabs(scaled) < kHalfOverflow)) {
        return static_cast<std::uint16_t>(sign | kLargestHalf);
    }
    return toHalf(scaled);
}

void scaledHalves(const float* values, float unit, std::uint16_t* out, std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
        out[k] = scaledHalf(values[k], unit);
    }
}

#if defined(__x86_64__)
// Eight bins at a time with F16C, which rounds every float in range exactly as toHalf does; a group
// with a bin out of range or not finite goes the plain way.
[[gnu::target("avx2,f16c")]] void scaledHalvesF16c(const float* values, float unit, std::uint16_t* out,
                                                   std::size_t n) {
    const __m256 factor = _mm256_set1_ps(unit);
    const __m256 limit = _mm256_set1_ps(kHalfOverflow);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256 scaled = _mm256_mul_ps(_mm256_loadu_ps(values + k), factor);
        const __m256 inRange = _mm256_cmp_ps(_mm256_and_ps(scaled, magnitude), limit, _CMP_LT_OQ);
        if (_mm256_movemask_ps(inRange) == 0xff) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                             _mm256_cvtps_ph(scaled, _MM_FROUND_TO_NEAREST_INT));
        } else {
            scaledHalves(values, unit, out, k, k + 8);
        }
    }
    // By hand: the compiler left the upper halves of the registers dirty here, and the plain code that
    // ran next (the callers' own loops) several times slower for it.
    _mm256_zeroupper();
    scaledHalves(values, unit, out, k, n);
}
#endif

} // namespace

float anyHalfValue(std::uint16_t h) {
    if ((h & kHalfInfinity) != kHalfInfinity) {
        return fromHalf(h);
    }
    const float special = (h & 0x3ffu) != 0 ? std::nanf("") : HUGE_VALF;
    return (h & 0x8000u) != 0 ? -special : special;
}

void HalfSpectrum::assign(const float* values) {
    float largest = 0.0f;
    for (std::size_t k = 0; k < size(); ++k) {
        if (std::isfinite(values[k])) {
            largest = std::max(largest, std::fabs(values[k]));
        }
    }
    const int exponent = exponentFor(largest);
    exponent_ = static_cast<std::int16_t>(exponent);
    const float unit = powerOfTwo(-exponent);
#if defined(__x86_64__)
    if (cpuHasAvx2FmaF16c()) {
        scaledHalvesF16c(values, unit, halves_.data(), size());
        return;
    }
#endif
    scaledHalves(values, unit, halves_.data(), 0, size());
}

float HalfSpectrum::operator[](std::size_t k) const {
    return anyHalfValue(halves_[k]) * powerOfTwo(exponent_);
}

std::array<float, kComparedSpectrumBins> HalfSpectrum::values() const {
    std::array<float, kComparedSpectrumBins> out = unscaledValues();
    const float unit = powerOfTwo(exponent_);
    for (float& v : out) {
        v *= unit;
    }
    return out;
}

// Converted as finite halves first, a loop the compiler vectorises; redone one by one in the rare
// spectrum with an infinity or a NaN.
std::array<float, kComparedSpectrumBins> HalfSpectrum::unscaledValues() const {
    std::array<float, kComparedSpectrumBins> out;
    unsigned specials = 0;
    for (std::size_t k = 0; k < size(); ++k) {
        out[k] = fromHalf(halves_[k]);
        specials |= (halves_[k] & kHalfInfinity) == kHalfInfinity ? 1u : 0u;
    }
    if (specials != 0) {
        for (std::size_t k = 0; k < size(); ++k) {
            out[k] = anyHalfValue(halves_[k]);
        }
    }
    return out;
}

} // namespace tonemirror::analysis
