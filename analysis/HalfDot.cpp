#include "analysis/HalfDot.h"

#include "analysis/CpuFeatures.h"
#include "analysis/HalfFloat.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tonemirror::analysis {

namespace {

// The partial sums added pairwise, the same in both kernels.
float total(const float* acc) {
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

float tail(const std::uint16_t* x, const std::uint16_t* y, float xMean, float yMean, std::size_t from,
           std::size_t count, float sum) {
    for (std::size_t i = from; i < count; ++i) {
        sum += (fromHalf(x[i]) - xMean) * (fromHalf(y[i]) - yMean);
    }
    return sum;
}

#if defined(__x86_64__)
// Multiplies and adds stay separate instructions (no FMA in the target), as in the plain kernel.
[[gnu::target("avx2,f16c")]] float centredHalvesDotF16c(const std::uint16_t* x, const std::uint16_t* y,
                                                        float xMean, float yMean, std::size_t count) {
    const __m256 mx = _mm256_set1_ps(xMean);
    const __m256 my = _mm256_set1_ps(yMean);
    __m256 acc = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 a = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)));
        const __m256 b = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
        acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_sub_ps(a, mx), _mm256_sub_ps(b, my)));
    }
    float lanes[8];
    _mm256_storeu_ps(lanes, acc);
    return tail(x, y, xMean, yMean, i, count, total(lanes));
}
#endif

} // namespace

float centredHalvesDotPlain(const std::uint16_t* x, const std::uint16_t* y, float xMean, float yMean,
                            std::size_t count) {
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            acc[j] += (fromHalf(x[i + j]) - xMean) * (fromHalf(y[i + j]) - yMean);
        }
    }
    return tail(x, y, xMean, yMean, i, count, total(acc));
}

float centredHalvesDot(const std::uint16_t* x, const std::uint16_t* y, float xMean, float yMean,
                       std::size_t count) {
#if defined(__x86_64__)
    if (cpuHasAvx2FmaF16c()) {
        return centredHalvesDotF16c(x, y, xMean, yMean, count);
    }
#endif
    return centredHalvesDotPlain(x, y, xMean, yMean, count);
}

} // namespace tonemirror::analysis
