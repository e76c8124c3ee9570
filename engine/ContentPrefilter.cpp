#include "engine/ContentPrefilter.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::engine {

namespace {

constexpr std::size_t kValues = analysis::kByteValues;
// Rounds of k-means on the learned tracks: the centres need only put close tracks together.
constexpr int kCentreRounds = 6;

// The values a group's box ranges over, as floats (a value that is not a number as 0: it makes its
// part count as 1 anyway).
void valuesOf(const analysis::ContentProjection& p, float* out) {
    std::copy(p.spectrum, p.spectrum + analysis::kFirstStageAxes, out);
    std::copy(p.level, p.level + analysis::kProjectionLevelTerms, out + analysis::kFirstStageAxes);
    std::copy(p.sections, p.sections + analysis::kSectionCount,
              out + analysis::kFirstStageAxes + analysis::kProjectionLevelTerms);
    for (std::size_t d = 0; d < kValues; ++d) {
        out[d] = std::isfinite(out[d]) ? out[d] : 0.0f;
    }
}

float distance2(const float* a, const float* b) {
    float sum = 0.0f;
    for (std::size_t d = 0; d < kValues; ++d) {
        sum += (a[d] - b[d]) * (a[d] - b[d]);
    }
    return sum;
}

std::size_t nearestOf(const float* x, const std::vector<float>& centres) {
    std::size_t best = 0;
    float bestDistance = 0.0f;
    for (std::size_t c = 0; c * kValues < centres.size(); ++c) {
        const float d = distance2(x, centres.data() + c * kValues);
        best = c == 0 || d < bestDistance ? c : best;
        bestDistance = c == 0 || d < bestDistance ? d : bestDistance;
    }
    return best;
}

} // namespace

void ContentPrefilter::clear(std::size_t learnAt, Boxes boxes) {
    learnAt_ = std::max<std::size_t>(learnAt, 1);
    boxes_ = boxes;
    basis_.reset();
    steps_ = {};
    centres_.clear();
    groups_.clear();
    slots_.clear();
    fine_.clear();
    queries_ = 0;
    tracksRead_ = 0;
    groupsRead_ = 0;
    sampledBoxes_ = 0;
    sparedTracks_ = 0;
}

void ContentPrefilter::reserve(std::size_t tracks) {
    slots_.reserve(tracks);
    fine_.reserve(tracks);
}

void ContentPrefilter::add(std::span<const analysis::ContentKey> keys,
                           std::span<const analysis::ContentSketch> sketches, const Placed* placed) {
    if (ready()) {
        const Placed own = placed != nullptr ? *placed : place(keys.back(), sketches.back());
        store(own.projection, own.group, keys.size() - 1);
        return;
    }
    if (keys.size() < learnAt_) {
        return;
    }
    install(learn(keys, sketches), keys, sketches);
}

ContentPrefilter::Learned ContentPrefilter::learn(std::span<const analysis::ContentKey> keys,
                                                  std::span<const analysis::ContentSketch> sketches) {
    std::vector<const analysis::ContentKey*> sample;
    sample.reserve(keys.size());
    for (const analysis::ContentKey& key : keys) {
        sample.push_back(&key);
    }
    Learned learned{analysis::SpectrumBasis::learn(sample, analysis::kFineAxes), {}, {}, {}};
    learned.projections.reserve(keys.size());
    for (std::size_t p = 0; p < keys.size(); ++p) {
        learned.projections.push_back(projection(learned.basis, keys[p], sketches[p]));
    }
    learned.steps = analysis::ByteSteps::learn(learned.projections);
    learned.centres = centresOf(learned.projections);
    return learned;
}

// k-means from tracks spread over the sample.
std::vector<float> ContentPrefilter::centresOf(std::span<const analysis::ContentProjection> projections) {
    const std::size_t k = std::clamp<std::size_t>(projections.size() / kTracksPerCentre, 1, kMostGroups);
    std::vector<float> points(projections.size() * kValues);
    for (std::size_t i = 0; i < projections.size(); ++i) {
        valuesOf(projections[i], points.data() + i * kValues);
    }
    std::vector<float> centres(k * kValues, 0.0f);
    for (std::size_t c = 0; c < k && !projections.empty(); ++c) {
        const std::size_t from = c * projections.size() / k;
        std::copy_n(points.begin() + static_cast<std::ptrdiff_t>(from * kValues), kValues,
                    centres.begin() + static_cast<std::ptrdiff_t>(c * kValues));
    }
    for (int round = 0; round < kCentreRounds; ++round) {
        std::vector<double> sums(centres.size(), 0.0);
        std::vector<std::size_t> counts(k, 0);
        for (std::size_t i = 0; i < projections.size(); ++i) {
            const std::size_t c = nearestOf(points.data() + i * kValues, centres);
            ++counts[c];
            for (std::size_t d = 0; d < kValues; ++d) {
                sums[c * kValues + d] += points[i * kValues + d];
            }
        }
        for (std::size_t c = 0; c < k; ++c) {
            for (std::size_t d = 0; counts[c] > 0 && d < kValues; ++d) {
                centres[c * kValues + d] =
                    static_cast<float>(sums[c * kValues + d] / static_cast<double>(counts[c]));
            }
        }
    }
    return centres;
}

void ContentPrefilter::install(Learned learned, std::span<const analysis::ContentKey> keys,
                               std::span<const analysis::ContentSketch> sketches) {
    basis_ = std::move(learned.basis);
    steps_ = learned.steps;
    centres_ = learned.centres.empty() ? std::vector<float>(kValues, 0.0f) : std::move(learned.centres);
    groups_.assign(centres_.size() / kValues, Group{});
    for (std::size_t p = 0; p < keys.size(); ++p) {
        const analysis::ContentProjection own = p < learned.projections.size()
                                                    ? learned.projections[p]
                                                    : projection(*basis_, keys[p], sketches[p]);
        store(own, nearestCentre(own), p);
    }
}

analysis::ContentProjection ContentPrefilter::projection(const analysis::SpectrumBasis& basis,
                                                         const analysis::ContentKey& key,
                                                         const analysis::ContentSketch& sketch) {
    analysis::ContentProjection p{};
    basis.project(key, p);
    analysis::projectLevelAndSections(key, sketch, p);
    return p;
}

std::size_t ContentPrefilter::nearestCentre(const analysis::ContentProjection& p) const {
    float values[kValues];
    valuesOf(p, values);
    return nearestOf(values, centres_);
}

ContentPrefilter::Placed ContentPrefilter::place(const analysis::ContentKey& key,
                                                 const analysis::ContentSketch& sketch) const {
    Placed placed{projection(*basis_, key, sketch), 0};
    placed.group = static_cast<std::uint32_t>(nearestCentre(placed.projection));
    return placed;
}

void ContentPrefilter::store(const analysis::ContentProjection& p, std::size_t g, std::size_t position) {
    constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
    Group& group = groups_[g];
    const std::size_t index = group.positions.size();
    if (index % kLanes == 0) {
        group.blocks.emplace_back(); // zero lanes: a query skips the lanes past the group's members
        group.tails.emplace_back();
    }
    analysis::ByteBlock& block = group.blocks[index / kLanes];
    analysis::storeByteLane(p, steps_, block, group.tails[index / kLanes], index % kLanes);
    analysis::widenByteGroup(group.box, block, index % kLanes);
    group.positions.push_back(static_cast<std::uint32_t>(position));
    slots_.push_back({static_cast<std::uint32_t>(g), static_cast<std::uint32_t>(index)});
    fine_.push_back(analysis::fineProjection(p));
}

analysis::ByteQuery ContentPrefilter::ownQuery(std::size_t me) const {
    constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
    const Slot own = slots_[me];
    const Group& home = groups_[own.group];
    return analysis::byteQuery(home.blocks[own.index / kLanes], home.tails[own.index / kLanes],
                               own.index % kLanes, steps_);
}

std::size_t ContentPrefilter::membersBefore(const Group& group, std::size_t below) {
    if (group.positions.empty() || group.positions.back() < below) {
        return group.positions.size(); // mostly: only the tracks joining meanwhile lie beyond
    }
    return static_cast<std::size_t>(
        std::lower_bound(group.positions.begin(), group.positions.end(), static_cast<std::uint32_t>(below)) -
        group.positions.begin());
}

bool ContentPrefilter::boundsBoxes(bool& sampled) const {
    sampled = queries_.load(std::memory_order_relaxed) % kBoxSampleEvery == 0;
    switch (boxes_) {
    case Boxes::Always:
        return true;
    case Boxes::Never:
        return false;
    case Boxes::WhereTheyPay:
        break;
    }
    // Before any measurement they are taken to pay.
    return sampled || sparedTracks_.load(std::memory_order_relaxed) >=
                          kBoxCostInTracks * sampledBoxes_.load(std::memory_order_relaxed);
}

void ContentPrefilter::count(std::size_t tracks, std::size_t boxes, std::size_t spared, bool sampled) const {
    queries_.fetch_add(1, std::memory_order_relaxed);
    tracksRead_.fetch_add(tracks, std::memory_order_relaxed);
    groupsRead_.fetch_add(boxes, std::memory_order_relaxed);
    if (sampled && boxes_ == Boxes::WhereTheyPay) {
        sampledBoxes_.fetch_add(boxes, std::memory_order_relaxed);
        sparedTracks_.fetch_add(spared, std::memory_order_relaxed);
    }
}

ContentPrefilter::Reads ContentPrefilter::reads() const {
    return {queries_.load(std::memory_order_relaxed), tracksRead_.load(std::memory_order_relaxed),
            groupsRead_.load(std::memory_order_relaxed)};
}

} // namespace tonemirror::engine
