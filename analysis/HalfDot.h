#pragma once

#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// The sum over i < count of (x[i] - xMean) * (y[i] - yMean) for finite halves x and y, formed in float
// with eight partial sums added up in a fixed order. Eight halves at a time are converted with F16C
// where the processor has it, one at a time otherwise; both give the same sum to the last bit, so a
// score does not depend on the machine that worked it out.
float centredHalvesDot(const std::uint16_t* x, const std::uint16_t* y, float xMean, float yMean,
                       std::size_t count);

// The same without the vector instructions (for the tests).
float centredHalvesDotPlain(const std::uint16_t* x, const std::uint16_t* y, float xMean, float yMean,
                            std::size_t count);

} // namespace tonemirror::analysis
