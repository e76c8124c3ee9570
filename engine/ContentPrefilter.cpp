#include "engine/ContentPrefilter.h"

#include <algorithm>

namespace tonemirror::engine {

void ContentPrefilter::clear(std::size_t learnAt) {
    learnAt_ = std::max<std::size_t>(learnAt, 1);
    basis_.reset();
    steps_ = {};
    blocks_.clear();
    tails_.clear();
    fine_.clear();
}

void ContentPrefilter::reserve(std::size_t tracks) {
    const std::size_t blocks = (tracks + analysis::ByteBlock::kLanes - 1) / analysis::ByteBlock::kLanes;
    blocks_.reserve(blocks);
    tails_.reserve(blocks);
    fine_.reserve(tracks);
}

void ContentPrefilter::add(std::span<const analysis::ContentKey> keys,
                           std::span<const analysis::ContentSketch> sketches) {
    if (ready()) {
        store(projection(keys.back(), sketches.back()), keys.size() - 1);
        return;
    }
    if (keys.size() < learnAt_) {
        return;
    }
    std::vector<const analysis::ContentKey*> sample;
    sample.reserve(keys.size());
    for (const analysis::ContentKey& key : keys) {
        sample.push_back(&key);
    }
    basis_ = analysis::SpectrumBasis::learn(sample, analysis::kFineAxes);
    std::vector<analysis::ContentProjection> projections;
    projections.reserve(keys.size());
    for (std::size_t p = 0; p < keys.size(); ++p) {
        projections.push_back(projection(keys[p], sketches[p]));
    }
    steps_ = analysis::ByteSteps::learn(projections);
    for (std::size_t p = 0; p < keys.size(); ++p) {
        store(projections[p], p);
    }
}

analysis::ContentProjection ContentPrefilter::projection(const analysis::ContentKey& key,
                                                         const analysis::ContentSketch& sketch) const {
    analysis::ContentProjection p{};
    basis_->project(key, p);
    analysis::projectLevelAndSections(key, sketch, p);
    return p;
}

void ContentPrefilter::store(const analysis::ContentProjection& p, std::size_t position) {
    constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
    if (position / kLanes >= blocks_.size()) {
        blocks_.emplace_back(); // zero lanes: a track's own query never reads past it
        tails_.emplace_back();
    }
    analysis::storeByteLane(p, steps_, blocks_[position / kLanes], tails_[position / kLanes],
                            position % kLanes);
    fine_.push_back(analysis::fineProjection(p));
}

} // namespace tonemirror::engine
