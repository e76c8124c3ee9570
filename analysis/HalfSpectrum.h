#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// Bins 0..1024 of the spectrum, up to the top of the band: all that comparisons and the quality check
// read. The bins above mirror 1..1023.
inline constexpr std::size_t kComparedSpectrumBins = 1025;

// A mean magnitude spectrum as the track table keeps it, in half the memory of floats: each bin a
// half-precision number times a power of two common to the spectrum, the one that puts the largest
// finite magnitude in the halves' top binade (over 2^14, up to 2^15). Every bin down to 2^-28 of the
// largest keeps 11 significant bits (a relative error of at most 2^-11), smaller ones an absolute error
// of at most 2^-39 of the largest, far under what moves a correlation. Non-finite bins stay non-finite (and
// leave the spectrum out of a score, as their floats did).
//
// Rounding is idempotent: the magnitudes of a rounded spectrum, assigned again, give the same halves and
// power of two. A record read back from the cache file, which holds those magnitudes as floats, therefore
// compares exactly as the analysed record did.
class HalfSpectrum {
public:
    static constexpr std::size_t size() { return kComparedSpectrumBins; }

    // Rounds values[0..size()) to the kept precision.
    void assign(const float* values);
    void assign(const std::array<float, kComparedSpectrumBins>& values) { assign(values.data()); }

    // The magnitude of bin k as kept.
    float operator[](std::size_t k) const;
    std::array<float, kComparedSpectrumBins> values() const;
    // The halves' values, without the power of two.
    std::array<float, kComparedSpectrumBins> unscaledValues() const;

    // Bin k is halves()[k] * 2^exponent(). The correlation of two spectra does not depend on the power of
    // two, so comparisons read the halves alone.
    const std::uint16_t* halves() const { return halves_.data(); }
    int exponent() const { return exponent_; }

    bool operator==(const HalfSpectrum&) const = default;

private:
    std::array<std::uint16_t, kComparedSpectrumBins> halves_{};
    std::int16_t exponent_ = 0;
};

// A half's value with infinities and NaNs kept (fromHalf converts finite halves only).
float anyHalfValue(std::uint16_t h);

} // namespace tonemirror::analysis
