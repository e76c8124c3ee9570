#pragma once

// The radix-2 transform with its twiddle factors computed per k by the maths library: the reference
// the table-driven fft must match bit for bit, and the baseline its benchmark is measured against.

#include <cmath>
#include <cstddef>
#include <utility>

namespace tonemirror::analysis {

inline void referenceFft(float* re, float* im, std::size_t n) {
    if (n > 2) {
        for (std::size_t i = 0, j = 0; i < n; ++i) {
            if (i < j) {
                std::swap(re[i], re[j]);
                std::swap(im[i], im[j]);
            }
            std::size_t bit = n >> 1;
            for (; bit != 0 && (j & bit) != 0; bit >>= 1) {
                j ^= bit;
            }
            j |= bit;
        }
    }
    for (std::size_t b = 2; b <= n; b *= 2) {
        const std::size_t h = b / 2;
        for (std::size_t k = 0; k < h; ++k) {
            const float angle = static_cast<float>(k) * (3.1415927f / static_cast<float>(h));
            const float c = std::cos(angle);
            const float s = std::sin(angle);
            for (std::size_t i = k; i < n; i += b) {
                const std::size_t i2 = i + h;
                const float tr = re[i2] * c - im[i2] * s;
                const float ti = re[i2] * s + im[i2] * c;
                re[i2] = re[i] - tr;
                im[i2] = im[i] - ti;
                re[i] = re[i] + tr;
                im[i] = im[i] + ti;
            }
        }
    }
}

} // namespace tonemirror::analysis
