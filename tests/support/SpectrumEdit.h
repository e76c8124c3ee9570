#pragma once

#include "analysis/TrackRecord.h"

#include <array>

namespace tonemirror::analysis {

// Changes a record's spectrum as floats (edit receives all kComparedSpectrumBins of them); the record
// keeps the result rounded as an analysis's would be.
template <typename Edit>
void editSpectrum(TrackRecord& r, Edit edit) {
    std::array<float, kComparedSpectrumBins> values = r.meanSpectrum.values();
    edit(values);
    r.meanSpectrum.assign(values);
}

inline void fillSpectrum(TrackRecord& r, float value) {
    editSpectrum(r, [value](auto& s) { s.fill(value); });
}

} // namespace tonemirror::analysis
