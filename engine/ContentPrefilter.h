#pragma once

#include "analysis/ByteGroupBox.h"
#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"
#include "analysis/ContentSketch.h"
#include "analysis/ProjectionBytes.h"
#include "analysis/SpectrumBasis.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tonemirror::engine {

// Names the earlier tracks whose content score with a track may reach a floor, at a few nanoseconds
// a track: every track's projection (analysis/ContentProjection), its first stage in bytes
// (analysis/ProjectionBytes), in blocks of eight, bounded against the query a block at a time; the
// tracks that pass are bounded once more from their third stage (analysis::FineProjection), which
// drops most of them before the scorer reads their sketches and spectra. Exact: no track whose content
// key scores at least the floor is left out (and most that score far below it are).
// The tracks are kept in groups, each joining the one whose centre (learned with the axes) it lies
// nearest, its bytes beside the group's other members; a query bounds each group as a whole first
// (analysis::ByteGroupBox) and reads the members of those that may reach the floor. Any grouping keeps
// the search exact; close groups (many versions of the same pieces) let it skip most tracks.
// The spectrum axes, the bytes' steps and the centres are learned once, from the first `learnAt`
// tracks, when the last of them is added; then every track added so far is projected, and each later
// one as it comes. Before that the prefilter is not ready and the caller goes through the tracks itself
// (cheap at that size).
// Not synchronised: the scan adds under its exclusive lock and queries under the shared one.
class ContentPrefilter {
public:
    static constexpr std::size_t kDefaultLearnAt = 2048;
    // Groups: at most this many, and at least this many learned tracks a group.
    static constexpr std::size_t kMostGroups = 256;
    static constexpr std::size_t kTracksPerCentre = 8;
    // Bounding a group's box costs about as much as bounding this many tracks one by one: smaller
    // groups are read without it, and boxes are bounded only while they spare at least that many
    // tracks each (measured on every kBoxSampleEvery-th query, which bounds them all).
    static constexpr std::size_t kBoxCostInTracks = 12;
    static constexpr std::uint64_t kBoxSampleEvery = 16;

    enum class Boxes {
        WhereTheyPay,
        Always, // every group, whatever its size and however little the boxes spare (tests)
        Never,  // (measurements)
    };

    // What learning makes of the first tracks: the axes, the bytes' steps, the groups' centres (each
    // analysis::kByteValues values, as the projections hold them) and those tracks' projections.
    struct Learned {
        analysis::SpectrumBasis basis;
        analysis::ByteSteps steps{};
        std::vector<float> centres;
        std::vector<analysis::ContentProjection> projections;
    };

    void clear(std::size_t learnAt = kDefaultLearnAt, Boxes boxes = Boxes::WhereTheyPay);
    // Room for this many tracks, so that the arrays do not grow by doubling.
    void reserve(std::size_t tracks);
    struct Placed {
        analysis::ContentProjection projection;
        std::uint32_t group;
    };
    // Adds the track at position keys.size() - 1; `keys` and `sketches` hold every track so far. Learns
    // the axes when that makes learnAt() tracks. `placed`, when given, is place() of that track's key
    // and sketch, made since the prefilter got ready.
    void add(std::span<const analysis::ContentKey> keys, std::span<const analysis::ContentSketch> sketches,
             const Placed* placed = nullptr);
    // The costly part of add, which reads the prefilter only: the track's projection and group. Only
    // when ready().
    Placed place(const analysis::ContentKey& key, const analysis::ContentSketch& sketch) const;
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
    // track at `me` reaches `floor`. Only when ready(). `pause`, when given, is called between
    // stretches of the search, where it holds nothing of the prefilter (so that tracks may be added
    // meanwhile); when it returns false the search ends there, false, having taken none.
    template <typename Take>
    bool query(std::size_t me, float floor, std::size_t below, Take&& take,
               const std::function<bool()>& pause = {}) const;
    // Blocks of eight tracks read between two pauses: about 20 microseconds.
    static constexpr std::size_t kBlocksBetweenPauses = 512;
    void pauseEvery(std::size_t blocks) { blocksBetweenPauses_ = std::max<std::size_t>(blocks, 1); } // tests

    // What the queries so far have read: tracks bounded one by one in the byte stage, and groups bounded
    // as a whole.
    struct Reads {
        std::uint64_t queries = 0;
        std::uint64_t tracks = 0;
        std::uint64_t groups = 0;
    };
    Reads reads() const;
    std::size_t groups() const { return groups_.size(); }

private:
    struct Group {
        analysis::ByteGroupBox box;
        std::vector<analysis::ByteBlock> blocks;
        std::vector<analysis::ProjectionTail> tails;
        std::vector<std::uint32_t> positions; // increasing
    };
    struct Slot {
        std::uint32_t group;
        std::uint32_t index; // within the group
    };

    static analysis::ContentProjection projection(const analysis::SpectrumBasis& basis,
                                                  const analysis::ContentKey& key,
                                                  const analysis::ContentSketch& sketch);
    static std::vector<float> centresOf(std::span<const analysis::ContentProjection> projections);
    std::size_t nearestCentre(const analysis::ContentProjection& p) const;
    analysis::ByteQuery ownQuery(std::size_t me) const;
    void store(const analysis::ContentProjection& p, std::size_t group, std::size_t position);
    // The members of `group` before `below`.
    static std::size_t membersBefore(const Group& group, std::size_t below);
    // Whether this query bounds the groups' boxes, and whether it is one that measures what they spare.
    bool boundsBoxes(bool& sampled) const;
    void count(std::size_t tracks, std::size_t boxes, std::size_t spared, bool sampled) const;

    std::size_t learnAt_ = kDefaultLearnAt;
    Boxes boxes_ = Boxes::WhereTheyPay;
    std::size_t blocksBetweenPauses_ = kBlocksBetweenPauses;
    std::optional<analysis::SpectrumBasis> basis_;
    analysis::ByteSteps steps_{};
    std::vector<float> centres_;
    std::vector<Group> groups_;
    std::vector<Slot> slots_;                    // by track
    std::vector<analysis::FineProjection> fine_; // by track
    mutable std::atomic<std::uint64_t> queries_{0};
    mutable std::atomic<std::uint64_t> tracksRead_{0};
    mutable std::atomic<std::uint64_t> groupsRead_{0};
    mutable std::atomic<std::uint64_t> sampledBoxes_{0};
    mutable std::atomic<std::uint64_t> sparedTracks_{0}; // by the sampled queries' boxes
};

template <typename Take>
bool ContentPrefilter::query(std::size_t me, float floor, std::size_t below, Take&& take,
                             const std::function<bool()>& pause) const {
    constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
    const analysis::ByteQuery mine = ownQuery(me);
    bool sampled = false;
    const bool boxes = boundsBoxes(sampled);
    const std::size_t boxFrom = boxes_ == Boxes::Always ? 1 : kBoxCostInTracks;
    thread_local std::vector<analysis::ByteRange> ranges;
    thread_local std::vector<std::pair<const Group*, std::size_t>> read; // with its members before `below`
    thread_local std::vector<std::uint8_t> masks;
    thread_local std::vector<std::uint32_t> passed;
    passed.clear();
    std::size_t tracks = 0;
    std::size_t bounded = 0;
    std::size_t spared = 0;
    for (std::size_t next = 0; next < groups_.size();) {
        // A stretch of groups at a time, between which a waiting writer may go in: the groups' arrays
        // may then have moved, so each stretch takes their places anew.
        if (next > 0 && pause && !pause()) {
            return false;
        }
        ranges.clear();
        read.clear();
        std::size_t blocks = 0;
        for (; next < groups_.size() && blocks < blocksBetweenPauses_; ++next) {
            const Group& group = groups_[next];
            const std::size_t members = membersBefore(group, below);
            if (members == 0) {
                continue;
            }
            if (boxes && members >= boxFrom) {
                ++bounded;
                if (!analysis::byteGroupReaches(mine, group.box, floor)) {
                    spared += members;
                    continue;
                }
            }
            ranges.push_back({group.blocks.data(), group.tails.data(), (members + kLanes - 1) / kLanes});
            read.emplace_back(&group, members);
            blocks += ranges.back().count;
        }
        masks.resize(blocks);
        analysis::bytePassMasks(mine, ranges, floor, masks.data());
        const std::uint8_t* mask = masks.data();
        for (const auto& [group, members] : read) {
            tracks += members;
            for (std::size_t b = 0; b < (members + kLanes - 1) / kLanes; ++b, ++mask) {
                for (unsigned m = *mask; m != 0; m &= m - 1) {
                    const std::size_t index = b * kLanes + static_cast<std::size_t>(__builtin_ctz(m));
                    if (index < members) { // not the lanes of later tracks or the empty ones
                        passed.push_back(group->positions[index]);
                    }
                }
            }
        }
    }
    count(tracks, bounded, spared, sampled);
    const std::size_t kept = analysis::keepFineReaching(analysis::fineQuery(fine_[me]), fine_, passed, floor);
    // The groups hand their tracks over group by group; the few that are left go back in order.
    std::sort(passed.begin(), passed.begin() + static_cast<std::ptrdiff_t>(kept));
    for (std::size_t k = 0; k < kept; ++k) {
        take(passed[k]);
    }
    return true;
}

} // namespace tonemirror::engine
