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
        store(projection(*basis_, keys.back(), sketches.back()), keys.size() - 1);
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
    Learned learned{analysis::SpectrumBasis::learn(sample, analysis::kFineAxes), {}, {}};
    learned.projections.reserve(keys.size());
    for (std::size_t p = 0; p < keys.size(); ++p) {
        learned.projections.push_back(projection(learned.basis, keys[p], sketches[p]));
    }
    learned.steps = analysis::ByteSteps::learn(learned.projections);
    return learned;
}

void ContentPrefilter::install(Learned learned, std::span<const analysis::ContentKey> keys,
                               std::span<const analysis::ContentSketch> sketches) {
    basis_ = std::move(learned.basis);
    steps_ = learned.steps;
    for (std::size_t p = 0; p < keys.size(); ++p) {
        store(p < learned.projections.size() ? learned.projections[p]
                                             : projection(*basis_, keys[p], sketches[p]),
              p);
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
