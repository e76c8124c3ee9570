#pragma once

#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"
#include "analysis/ContentSketch.h"
#include "analysis/ProjectionBytes.h"
#include "analysis/SpectrumBasis.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tonemirror::engine {

// Names the earlier tracks whose content score with a track may reach a floor, at a few nanoseconds
// a track: every track's projection (analysis/ContentProjection), its first stage in bytes
// (analysis/ProjectionBytes), in blocks of eight, bounded against the query a block at a time; the
// tracks that pass are bounded once more from their third stage (analysis::FineProjection), which
// drops most of them before the scorer reads their sketches and spectra. Exact: no
// track whose content key scores at least the floor is left out (and most that score far below it are). The
// spectrum axes and the bytes' steps are learned once, from the first `learnAt` tracks, when the last of them
// is added; then every track added so far is projected, and each later one as it comes. Before that the
// prefilter is not ready and the caller goes through the tracks itself (cheap at that size).
// Not synchronised: the scan adds under its exclusive lock and queries under the shared one.
class ContentPrefilter {
public:
    static constexpr std::size_t kDefaultLearnAt = 2048;

    // What learning makes of the first tracks: the axes, the bytes' steps and those tracks' projections.
    struct Learned {
        analysis::SpectrumBasis basis;
        analysis::ByteSteps steps{};
        std::vector<analysis::ContentProjection> projections;
    };

    void clear(std::size_t learnAt = kDefaultLearnAt);
    // Room for this many tracks, so that the arrays do not grow by doubling.
    void reserve(std::size_t tracks);
    // Adds the track at position keys.size() - 1; `keys` and `sketches` hold every track so far. Learns
    // the axes when that makes learnAt() tracks.
    void add(std::span<const analysis::ContentKey> keys, std::span<const analysis::ContentSketch> sketches);
    bool ready() const { return basis_.has_value(); }
    std::size_t learnAt() const { return learnAt_; }

    // The learning apart from the prefilter, so that a caller can run it on any thread without holding
    // what guards the prefilter: from the tracks the axes are learned from.
    static Learned learn(std::span<const analysis::ContentKey> keys,
                         std::span<const analysis::ContentSketch> sketches);
    // Takes what learn() made of the first learned.projections.size() tracks and projects every track
    // so far (`keys` and `sketches` as for add, at least those tracks). Only while not ready().
    void install(Learned learned, std::span<const analysis::ContentKey> keys,
                 std::span<const analysis::ContentSketch> sketches);

    // Calls take(position), in increasing order, for every track before `below` whose bound with the
    // track at `me` reaches `floor`. Only when ready().
    template <typename Take>
    void query(std::size_t me, float floor, std::size_t below, Take&& take) const;

private:
    static analysis::ContentProjection projection(const analysis::SpectrumBasis& basis,
                                                  const analysis::ContentKey& key,
                                                  const analysis::ContentSketch& sketch);
    void store(const analysis::ContentProjection& p, std::size_t position);

    std::size_t learnAt_ = kDefaultLearnAt;
    std::optional<analysis::SpectrumBasis> basis_;
    analysis::ByteSteps steps_{};
    std::vector<analysis::ByteBlock> blocks_;
    std::vector<analysis::ProjectionTail> tails_; // by block
    std::vector<analysis::FineProjection> fine_;  // by track
};

template <typename Take>
void ContentPrefilter::query(std::size_t me, float floor, std::size_t below, Take&& take) const {
    constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
    const analysis::ByteQuery mine =
        analysis::byteQuery(blocks_[me / kLanes], tails_[me / kLanes], me % kLanes, steps_);
    const std::size_t blocks = (below + kLanes - 1) / kLanes;
    thread_local std::vector<std::uint8_t> masks;
    masks.resize(blocks);
    analysis::bytePassMasks(mine, {blocks_.data(), blocks}, {tails_.data(), blocks}, floor, masks.data());
    thread_local std::vector<std::uint32_t> passed;
    passed.clear();
    for (std::size_t b = 0; b < blocks; ++b) {
        for (unsigned m = masks[b]; m != 0; m &= m - 1) {
            passed.push_back(
                static_cast<std::uint32_t>(b * kLanes + static_cast<std::size_t>(__builtin_ctz(m))));
        }
    }
    while (!passed.empty() && passed.back() >= below) {
        passed.pop_back(); // the lanes after `below` in its block
    }
    const std::size_t kept = analysis::keepFineReaching(analysis::fineQuery(fine_[me]), fine_, passed, floor);
    for (std::size_t k = 0; k < kept; ++k) {
        take(passed[k]);
    }
}

} // namespace tonemirror::engine
