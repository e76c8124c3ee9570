// Whatever a decoder delivers must end in a clean failure or finite results: the excerpt search and
// fingerprints on 16-bit streams of any shape and chunking, and the correlation kernels and probe
// matching on arbitrary float arrays (NaN, infinities and huge values included).
#include "analysis/ContentComparison.h"
#include "analysis/ExcerptReader.h"
#include "analysis/ExperimentalComparison.h"
#include "analysis/LevelProfile.h"
#include "analysis/SignalMath.h"
#include "analysis/SpectrumProfile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace tonemirror;
using namespace tonemirror::analysis;

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    std::uint32_t take(std::uint32_t limit) {
        std::uint32_t v = 0;
        for (int i = 0; i < 3 && pos < size; ++i) {
            v = (v << 8) | data[pos++];
        }
        return limit == 0 ? 0 : v % limit;
    }
    std::vector<float> floats(std::size_t count) {
        std::vector<float> out;
        while (out.size() < count && pos + 4 <= size) {
            float f;
            std::memcpy(&f, data + pos, 4);
            pos += 4;
            out.push_back(f);
        }
        return out;
    }
};

// The rest of the input, as a 16-bit pattern repeated to `total` samples, handed out in chunks whose
// sizes follow the pattern too (empty chunks included).
void excerpt(Input& in, ExcerptReader& reader, SpectrumProfile& spectra) {
    const std::size_t total = in.take(20 * 22050);
    std::vector<float> pattern;
    for (; in.pos + 2 <= in.size; in.pos += 2) {
        std::int16_t s;
        std::memcpy(&s, in.data + in.pos, 2);
        pattern.push_back(static_cast<float>(s) / 32768.0f);
    }
    if (pattern.empty()) {
        pattern.push_back(0.0f);
    }
    std::vector<float> block;
    std::size_t produced = 0;
    std::size_t call = 0;
    const BlockReader read = [&](const float** samples, std::uint32_t* count) {
        if (produced >= total) {
            return E_END_OF_STREAM;
        }
        const std::size_t want =
            (static_cast<std::size_t>(std::abs(pattern[call++ % pattern.size()]) * 9000.0f));
        block.resize(std::min(want, total - produced));
        for (float& v : block) {
            v = pattern[produced++ % pattern.size()];
        }
        *samples = block.data();
        *count = static_cast<std::uint32_t>(block.size());
        return S_OK;
    };
    if (succeeded(reader.read(read))) {
        TrackRecord r;
        spectra.compute(reader.samples(), r);
        LevelProfile::compute(reader.samples(), r.levelProfile);
        ContentKey key{};
        makeContentKey(r, key);
        const float direct = compareContent(r, r);
        const float fast = compareContent(key, key);
        if (!(direct >= 0.0f && direct <= 1.0f) || !(fast >= 0.0f && fast <= 1.0f)) {
            std::abort();
        }
    }
}

void kernels(Input& in) {
    const std::size_t n = in.take(3000);
    const std::size_t m = 1 + in.take(400);
    std::vector<float> x = in.floats(n);
    std::vector<float> k = in.floats(m);
    if (k.empty()) {
        return;
    }
    std::vector<float> out(x.size() + k.size() - 1);
    const std::size_t best = normalizedCrossCorrelation(x.data(), x.size(), k.data(), k.size(), out.data());
    if (!out.empty() && best >= out.size()) {
        std::abort();
    }
    if (x.size() == k.size()) {
        const float r = correlation(x.data(), k.data(), x.size());
        if (!(r >= -1.0f && r <= 1.0f)) {
            std::abort();
        }
    }
    std::vector<float> curve;
    levelChangeCurve(x.data(), x.size(), 1 + m / 8, 1 + m % 17, 0.1f, curve);
    std::vector<float> bands(kBandCount * (4 + m % 30));
    for (std::size_t i = 0; i < bands.size(); ++i) {
        bands[i] = x.empty() ? 0.0f : x[i % x.size()];
    }
    matchProbes(x, k, bands, bands, 1 + m / 4, 1 + m % 20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    in.pos = 1;
    if ((mode & 1) != 0) {
        ExcerptReader reader;
        SpectrumProfile spectra;
        excerpt(in, reader, spectra);
    } else {
        kernels(in);
    }
    return 0;
}
