// A stored acoustic print is untrusted: whatever the bytes, decoding either refuses them or yields a
// bounded print, and matching any two prints gives a score in 0..1 that does not depend on the order
// (deciding against a threshold gives that score or 0); whether two prints share words does not
// depend on the order either, and agrees with counting the pairs of words one by one.
// Odd sample streams (silence, clipping, NaN, a few frames) never break the fingerprinter either.
#include "analysis/AcousticFingerprinter.h"
#include "analysis/AcousticMatch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

using namespace tonemirror;
using namespace tonemirror::analysis;

void checkPrint(const AcousticPrint& print) {
    if (print.size() > kMaxAcousticWords) {
        std::abort();
    }
}

// Pairs of words one bit apart or equal, counted one by one (prints are at most kMaxAcousticWords).
std::size_t nearPairsPlainly(const AcousticPrint& a, const AcousticPrint& b) {
    std::vector<std::uint32_t> x(a.begin(), a.end());
    std::vector<std::uint32_t> y(b.begin(), b.end());
    for (auto* v : {&x, &y}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    std::size_t pairs = 0;
    for (const std::uint32_t w : x) {
        for (const std::uint32_t u : y) {
            pairs += std::popcount(w ^ u) <= 1 ? 1 : 0;
        }
    }
    return pairs;
}

void checkSharedWords(const AcousticPrint& a, const AcousticPrint& b) {
    const bool shared = printsShareWords(a, b);
    if (shared != printsShareWords(b, a) || shared != (nearPairsPlainly(a, b) >= kNearWordPairs)) {
        std::abort();
    }
}

// Two stored prints (the first byte splits the input), decoded and matched.
void decodeAndMatch(std::span<const std::byte> data) {
    const std::size_t split = data.empty() ? 0 : std::to_integer<std::size_t>(data[0]) * data.size() / 256;
    const auto rest = data.subspan(data.empty() ? 0 : 1);
    const std::size_t cut = std::min(split, rest.size());
    AcousticPrint a;
    AcousticPrint b;
    const std::uint8_t algorithm = AcousticFingerprinter::algorithm();
    const HResult ra = decodeAcousticPrint(rest.first(cut), algorithm, a);
    const HResult rb = decodeAcousticPrint(rest.subspan(cut), algorithm, b);
    checkPrint(a);
    checkPrint(b);
    // Only a print of our algorithm yields words.
    if ((ra != S_OK && !a.empty()) || (rb != S_OK && !b.empty())) {
        std::abort();
    }
    const float ab = compareAcoustic(a, b);
    if (!(ab >= 0.0f && ab <= 1.0f) || ab != compareAcoustic(b, a)) {
        std::abort();
    }
    // Deciding against a threshold gives the whole score or 0.
    const float threshold =
        data.empty() ? 0.5f : static_cast<float>(std::to_integer<int>(data[0]) % 101) / 100.0f;
    const float decided = compareAcousticAtLeast(a, b, threshold);
    if (decided != 0.0f && decided != ab) {
        std::abort();
    }
    checkSharedWords(a, b);
    // A decoded print stores back to the same bytes.
    std::vector<std::byte> again;
    encodeAcousticPrint(a, algorithm, again);
    if (ra == S_OK && (again.size() != cut || !std::equal(again.begin(), again.end(), rest.begin()))) {
        std::abort();
    }
}

// Up to 4 s of samples, the input's bytes as floats repeated.
void fingerprint(std::span<const std::byte> data) {
    static AcousticFingerprinter fingerprinter;
    std::vector<float> pattern;
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
        float f;
        std::memcpy(&f, data.data() + i, 4);
        pattern.push_back(f);
    }
    if (pattern.empty()) {
        return;
    }
    const std::size_t n = std::min<std::size_t>(4 * 22050, pattern.size() * 64);
    std::vector<float> samples(n);
    for (std::size_t i = 0; i < n; ++i) {
        samples[i] = pattern[i % pattern.size()];
    }
    AcousticPrint print;
    if (succeeded(fingerprinter.compute(samples.data(), samples.size(), print)) &&
        (print.size() < kMinAcousticWords || compareAcoustic(print, print) != 1.0f)) {
        std::abort();
    }
    checkPrint(print);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data) + 1, size - 1);
    if ((data[0] & 1) != 0) {
        fingerprint(bytes);
    } else {
        decodeAndMatch(bytes);
    }
    return 0;
}
