#pragma once

#include <cstdint>
#include <cstring>

namespace tonemirror::analysis {

// IEEE half-precision numbers (1 sign bit, 5 exponent bits, 10 fraction bits) for values that are
// stored by the million and read a few at a time: 11 significant bits, a relative error of at most
// 2^-11 for magnitudes from 2^-14 on and an absolute one of at most 2^-25 below. Only finite values of
// magnitude under 65504 are converted.

inline std::uint32_t floatBits(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline float bitsFloat(std::uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The half nearest to x (ties to even).
inline std::uint16_t toHalf(float x) {
    const std::uint32_t bits = floatBits(x);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const int exponent = static_cast<int>((bits >> 23) & 0xffu) - 127 + 15;
    std::uint32_t fraction = (bits & 0x7fffffu) | 0x800000u; // with the leading one
    if (exponent < -10) {
        return sign; // under half the smallest half
    }
    // Normal halves keep 11 bits of the 24, subnormal ones fewer.
    const int shift = exponent > 0 ? 13 : 14 - exponent;
    const std::uint32_t kept = fraction >> shift;
    const std::uint32_t dropped = fraction & ((1u << shift) - 1);
    const std::uint32_t halfway = 1u << (shift - 1);
    const std::uint32_t rounded = kept + (dropped > halfway || (dropped == halfway && (kept & 1u)) ? 1u : 0u);
    // A carry out of the fraction steps the exponent up, which the addition does by itself.
    const std::uint32_t magnitude =
        exponent > 0 ? (static_cast<std::uint32_t>(exponent) << 10) + rounded - 0x400u : rounded;
    return static_cast<std::uint16_t>(sign | magnitude);
}

inline float fromHalf(std::uint16_t h) {
    // The fraction and exponent moved to a float's places, then scaled by 2^(127 - 15): right for
    // normal and subnormal halves alike.
    const float magnitude = bitsFloat(static_cast<std::uint32_t>(h & 0x7fffu) << 13) * 0x1p112f;
    return bitsFloat(floatBits(magnitude) | (static_cast<std::uint32_t>(h & 0x8000u) << 16));
}

// The smallest half not below x, for x >= 0 (a length that must stay an upper bound).
inline std::uint16_t toHalfUp(float x) {
    const std::uint16_t h = toHalf(x);
    return fromHalf(h) < x ? static_cast<std::uint16_t>(h + 1) : h;
}

} // namespace tonemirror::analysis
