#include "analysis/SignalMath.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tonemirror::analysis {

namespace {

constexpr float kPi = 3.1415927f;

// Twiddle factors of every stage up to kTwiddleTableSize points, stage by stage: the stage with half
// width h starts at index h - 1 and holds cos and sin of k * (pi / h) for k = 0..h-1. They are the very
// values the per-k library calls give (same single-precision angle), so the transform is unchanged;
// the table only saves the calls. Immutable once built.
struct TwiddleTable {
    std::vector<float> cosines;
    std::vector<float> sines;

    TwiddleTable() : cosines(kTwiddleTableSize - 1), sines(kTwiddleTableSize - 1) {
        for (std::size_t h = 1; h < kTwiddleTableSize; h *= 2) {
            const float step = kPi / static_cast<float>(h);
            for (std::size_t k = 0; k < h; ++k) {
                const float angle = static_cast<float>(k) * step;
                cosines[h - 1 + k] = std::cos(angle);
                sines[h - 1 + k] = std::sin(angle);
            }
        }
    }
};

const TwiddleTable& twiddles() {
    static const TwiddleTable table;
    return table;
}

void bitReverse(float* re, float* im, std::size_t n) {
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j |= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
}

// One stage of butterflies with half width h; c and s hold the h twiddle factors of the stage.
void butterflies(float* __restrict re, float* __restrict im, std::size_t n, std::size_t h,
                 const float* __restrict c, const float* __restrict s) {
    const std::size_t b = 2 * h;
    for (std::size_t g = 0; g < n; g += b) {
        float* __restrict r0 = re + g;
        float* __restrict i0 = im + g;
        float* __restrict r1 = re + g + h;
        float* __restrict i1 = im + g + h;
        for (std::size_t k = 0; k < h; ++k) {
            const float tr = r1[k] * c[k] - i1[k] * s[k];
            const float ti = r1[k] * s[k] + i1[k] * c[k];
            r1[k] = r0[k] - tr;
            i1[k] = i0[k] - ti;
            r0[k] = r0[k] + tr;
            i0[k] = i0[k] + ti;
        }
    }
}

} // namespace

void fft(float* re, float* im, std::size_t n) {
    if (n < 2) {
        return;
    }
    if (n > 2) {
        bitReverse(re, im, n);
    }
    const TwiddleTable* table = n <= kTwiddleTableSize ? &twiddles() : nullptr;
    std::vector<float> c;
    std::vector<float> s;
    for (std::size_t h = 1; h < n; h *= 2) {
        if (table != nullptr) {
            butterflies(re, im, n, h, table->cosines.data() + h - 1, table->sines.data() + h - 1);
            continue;
        }
        c.resize(h);
        s.resize(h);
        const float step = kPi / static_cast<float>(h);
        for (std::size_t k = 0; k < h; ++k) {
            const float angle = static_cast<float>(k) * step;
            c[k] = std::cos(angle);
            s[k] = std::sin(angle);
        }
        butterflies(re, im, n, h, c.data(), s.data());
    }
}

void inverseFft(float* re, float* im, std::size_t n) {
    fft(im, re, n);
    const float scale = 1.0f / static_cast<float>(n);
    for (std::size_t i = 0; i < n; ++i) {
        re[i] *= scale;
        im[i] *= scale;
    }
}

float correlation(const float* a, const float* b, std::size_t n) {
    if (n == 0) {
        return 1.0f;
    }
    // All-equal values have no variance; testing that directly keeps a mean that rounds away from the
    // common value from turning the answer into noise.
    if (std::all_of(a, a + n, [&](float v) { return v == a[0]; }) ||
        std::all_of(b, b + n, [&](float v) { return v == b[0]; })) {
        return 1.0f;
    }
    const float count = static_cast<float>(n);
    float suma = 0.0f;
    float sumb = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        suma += a[i];
        sumb += b[i];
    }
    const float ma = suma / count;
    const float mb = sumb / count;
    float sab = 0.0f;
    float saa = 0.0f;
    float sbb = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float da = a[i] - ma;
        const float db = b[i] - mb;
        sab += da * db;
        saa += da * da;
        sbb += db * db;
    }
    const float d = std::sqrt((saa / count) * (sbb / count));
    if (d == 0.0f) {
        return 1.0f;
    }
    const float r = (sab / count) / d;
    if (!std::isfinite(r)) {
        return 0.0f;
    }
    return std::clamp(r, -1.0f, 1.0f);
}

namespace {

// Collects the values of a correlation in order, keeping the first n and the index of the largest.
class CorrelationOutput {
public:
    CorrelationOutput(float* out, std::size_t total) : out_(out), total_(total) {}

    void emit(float v) {
        if (emitted_ >= total_) {
            return;
        }
        if (out_ != nullptr) {
            out_[emitted_] = v;
        }
        if (v > bestValue_) {
            bestValue_ = v;
            best_ = emitted_;
        }
        ++emitted_;
    }
    std::size_t best() const { return best_; }

private:
    float* out_;
    std::size_t total_;
    std::size_t emitted_ = 0;
    std::size_t best_ = 0;
    float bestValue_ = 0.0f;
};

// The transform of the reversed kernel, zero-padded to fftSize.
void transformKernel(const float* k, std::size_t m, std::vector<float>& re, std::vector<float>& im) {
    std::fill(re.begin(), re.end(), 0.0f);
    std::fill(im.begin(), im.end(), 0.0f);
    for (std::size_t c = 0; c < m; ++c) {
        re[c] = k[m - 1 - c];
    }
    fft(re.data(), im.data(), re.size());
}

// Convolves len samples of x (zero-padded) with the transformed kernel, in place in re and im.
void convolveBlock(const float* x, std::size_t len, const std::vector<float>& kernelRe,
                   const std::vector<float>& kernelIm, std::vector<float>& re, std::vector<float>& im) {
    const std::size_t fftSize = re.size();
    std::fill(re.begin(), re.end(), 0.0f);
    std::fill(im.begin(), im.end(), 0.0f);
    std::copy(x, x + len, re.begin());
    fft(re.data(), im.data(), fftSize);
    for (std::size_t i = 0; i < fftSize; ++i) {
        const float pr = re[i] * kernelRe[i] - im[i] * kernelIm[i];
        const float pi = re[i] * kernelIm[i] + im[i] * kernelRe[i];
        re[i] = pr;
        im[i] = pi;
    }
    inverseFft(re.data(), im.data(), fftSize);
}

} // namespace

std::size_t fastCorrelate(const float* x, std::size_t n, const float* k, std::size_t m, float* out) {
    if (m == 0) {
        return 0;
    }
    std::size_t fftSize = 2;
    while (fftSize < 2 * m) {
        fftSize *= 2;
    }
    const std::size_t block = fftSize - m + 1;
    // Work arrays, allocated once per call and reused for every block.
    std::vector<float> kernelRe(fftSize);
    std::vector<float> kernelIm(fftSize);
    std::vector<float> re(fftSize);
    std::vector<float> im(fftSize);
    std::vector<float> carry(m - 1, 0.0f);
    transformKernel(k, m, kernelRe, kernelIm);
    CorrelationOutput output(out, n + m - 1);
    // Overlap-add: the last m - 1 values of each block's convolution belong to the next block.
    for (std::size_t pos = 0; pos < n; pos += block) {
        convolveBlock(x + pos, std::min(block, n - pos), kernelRe, kernelIm, re, im);
        for (std::size_t i = 0; i + 1 < m; ++i) {
            re[i] += carry[i];
        }
        std::copy(re.begin() + static_cast<std::ptrdiff_t>(block), re.end(), carry.begin());
        for (std::size_t i = 0; i < block; ++i) {
            output.emit(re[i]);
        }
    }
    for (float v : carry) {
        output.emit(v);
    }
    return output.best();
}

std::size_t normalizedCrossCorrelation(const float* x, std::size_t n, const float* k, std::size_t m,
                                       float* out) {
    if (m == 0) {
        return 0;
    }
    const std::size_t total = n + m - 1;
    std::vector<float> own;
    if (out == nullptr) {
        own.resize(total);
        out = own.data();
    }
    fastCorrelate(x, n, k, m, out);

    const float p = 1.0f / static_cast<float>(m);
    float sk = 0.0f;
    float skk = 0.0f;
    for (std::size_t i = 0; i < m; ++i) {
        sk += k[i];
        skk += k[i] * k[i];
    }
    const float mk = p * sk;
    const float qk = p * skk;
    const float vk = std::max(0.0f, qk - mk * mk);

    float sx = 0.0f;
    float sxx = 0.0f;
    std::size_t best = 0;
    float bestValue = 0.0f;
    for (std::size_t r = 0; r < total; ++r) {
        if (r < n) {
            sx += x[r] * p;
            sxx += x[r] * x[r] * p;
        }
        if (r >= m) {
            sx -= x[r - m] * p;
            sxx -= x[r - m] * x[r - m] * p;
        }
        const float cov = out[r] * p - sx * mk;
        const float vx = std::max(0.0f, sxx - sx * sx);
        const float d = std::sqrt(vx * vk);
        out[r] = d != 0.0f ? cov / d : 0.0f;
        if (out[r] > bestValue) {
            bestValue = out[r];
            best = r;
        }
    }
    return best;
}

} // namespace tonemirror::analysis
