#pragma once

#include "analysis/TrackRecord.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace tonemirror::engine::test {

// A record whose every field depends on `seed`, so records are told apart after a round trip.
inline analysis::TrackRecord makeRecord(unsigned seed, std::u16string name = u"name") {
    analysis::TrackRecord r;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (auto& v : r.levelProfile) {
        v = d(rng);
    }
    for (auto& v : r.sectionCorrelations) {
        v = d(rng);
    }
    std::array<float, analysis::kComparedSpectrumBins> spectrum;
    for (auto& v : spectrum) {
        v = d(rng);
    }
    r.meanSpectrum.assign(spectrum);
    r.trackId = static_cast<std::int32_t>(seed);
    r.nameText = std::move(name);
    r.titleText = u"title " + std::u16string(1, static_cast<char16_t>(u'a' + seed % 26));
    r.artistText = u"artist \u00e9\u4e2d";
    r.albumText = u"";
    return r;
}

inline bool sameContent(const analysis::TrackRecord& a, const analysis::TrackRecord& b) {
    return a.levelProfile == b.levelProfile && a.sectionCorrelations == b.sectionCorrelations &&
           a.meanSpectrum == b.meanSpectrum && a.nameText == b.nameText && a.titleText == b.titleText &&
           a.artistText == b.artistText && a.albumText == b.albumText;
}

} // namespace tonemirror::engine::test
