#pragma once

// Text likeness exactly as defined (every length, every start, searched for anywhere in the other
// text): the reference the fast form must equal and the baseline of its benchmark. Also a record
// made of four texts, for tag comparisons.

#include "analysis/TrackRecord.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tonemirror::analysis {

inline float literalLikeness(std::u16string_view x, std::u16string_view y) {
    const std::size_t l = std::min(x.size(), y.size());
    std::uint64_t total = 0;
    std::uint64_t found = 0;
    const auto side = [&](std::u16string_view a, std::u16string_view b, std::size_t len) {
        for (std::size_t s = 0; s + len <= a.size(); ++s) {
            ++total;
            for (std::size_t t = 0; t + len <= b.size(); ++t) {
                if (a.substr(s, len) == b.substr(t, len)) {
                    ++found;
                    break;
                }
            }
        }
    };
    for (std::size_t len = 1; len <= l; ++len) {
        side(x, y, len);
        side(y, x, len);
    }
    return total == 0 ? 0.0f : static_cast<float>(static_cast<double>(found) / static_cast<double>(total));
}

inline TrackRecord tagRecord(std::u16string name, std::u16string title, std::u16string artist,
                             std::u16string album) {
    TrackRecord r;
    r.nameText = std::move(name);
    r.titleText = std::move(title);
    r.artistText = std::move(artist);
    r.albumText = std::move(album);
    return r;
}

} // namespace tonemirror::analysis
