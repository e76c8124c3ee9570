#pragma once

#include <cstddef>

// The numeric kernel of the analysis: a complex FFT, the correlation coefficient and a sliding
// (normalised) cross-correlation. Free functions over caller-owned 32-bit float arrays; no state, no
// locks, safe on any thread.
namespace tonemirror::analysis {

// Largest transform whose twiddle factors come from the shared table; larger sizes compute them per k.
inline constexpr std::size_t kTwiddleTableSize = 65536;

// In-place radix-2 transform X[m] = sum x[t] e^(+2 pi i t m / n), unscaled. n must be a power of two.
void fft(float* re, float* im, std::size_t n);
// Inverse of fft up to rounding (transform with the parts swapped, then scale by 1/n).
void inverseFft(float* re, float* im, std::size_t n);

// Pearson coefficient of a and b over n values, in [-1, 1]. An array without variance correlates as 1
// with anything; a coefficient that cannot be formed (non-finite input) is 0.
float correlation(const float* a, const float* b, std::size_t n);

// out[r] = sum over i of x[r - m + 1 + i] * k[i] (indices of x inside 0..n-1), r = 0..n+m-2, by FFT
// overlap-add. out may be null. Returns the index of the largest value (0 when none exceeds 0).
std::size_t fastCorrelate(const float* x, std::size_t n, const float* k, std::size_t m, float* out);

// For every lag r = 0..n+m-2 the correlation coefficient of k with the part of x under it (the window
// always divided by m, also where it is only partly inside x); 0 where either has no variance.
// out may be null. Returns the index of the largest value (0 when none exceeds 0).
std::size_t normalizedCrossCorrelation(const float* x, std::size_t n, const float* k, std::size_t m,
                                       float* out);

} // namespace tonemirror::analysis
