#include "engine/ScanIndex.h"

#include <algorithm>

namespace tonemirror::engine {

void ScanIndex::clear(bool withPrints) {
    printsIndexed_ = withPrints;
    entries_.clear();
    ids_.clear();
    contentKeys_.clear();
    tagSketches_.clear();
    contentSketches_.clear();
    contentIndex_.clear();
    tagIndex_.clear();
    printWords_.clear();
    printSwapped_.clear();
    printWordStarts_.assign(1, 0);
    printless_.clear();
    printIndex_.clear();
}

void ScanIndex::reserve(std::size_t tracks) {
    entries_.reserve(tracks);
    ids_.reserve(tracks);
    contentKeys_.reserve(tracks);
    tagSketches_.reserve(tracks);
    contentSketches_.reserve(tracks);
}

void ScanIndex::append(std::u16string_view path, const analysis::TrackRecord& record) {
    entries_.push_back({path, &record});
    ids_.push_back(record.trackId);
    analysis::makeContentKey(record, contentKeys_.emplace_back());
    analysis::makeContentSketch(contentKeys_.back(), contentSketches_.emplace_back());
    tagSketches_.push_back(analysis::makeTagSketch(record));
    const auto position = static_cast<std::uint32_t>(entries_.size() - 1);
    contentIndex_.add(position, contentSketches_);
    tagIndex_.add(position, record);
    thread_local std::vector<std::uint32_t> words;
    thread_local std::vector<std::uint32_t> swapped;
    words.clear();
    swapped.clear();
    if (printsIndexed_) {
        analysis::distinctPrintWords(record.acousticPrint, words, swapped);
    }
    printWords_.insert(printWords_.end(), words.begin(), words.end());
    printSwapped_.insert(printSwapped_.end(), swapped.begin(), swapped.end());
    printWordStarts_.push_back(printWords_.size());
    printIndex_.add(position, words);
    if (printsIndexed_ && words.empty()) {
        printless_.push_back(position);
    }
}

template <typename Query>
bool ScanIndex::collect(std::size_t me, std::vector<std::uint32_t>& out, Query&& query) const {
    // Marks of the positions taken, one array per thread, told apart from earlier queries by a round.
    thread_local std::vector<std::uint32_t> marks;
    thread_local std::uint32_t round = 0;
    if (++round == 0) {
        std::fill(marks.begin(), marks.end(), 0u);
        round = 1;
    }
    // Word pairs found per position, for the print index (counted only up to what is needed).
    struct Hits {
        std::uint32_t round = 0;
        std::uint32_t pairs = 0;
    };
    thread_local std::vector<Hits> hits;
    if (round == 1) {
        std::fill(hits.begin(), hits.end(), Hits{});
    }
    if (marks.size() < me) {
        marks.resize(std::max<std::size_t>(me, 2 * marks.size()), 0u);
    }
    hits.resize(marks.size());
    out.clear();
    const auto take = [&](std::uint32_t p) {
        if (marks[p] != round) {
            marks[p] = round;
            out.push_back(p);
        }
    };
    // Takes a position once it has been offered for the number of word pairs a candidate needs.
    const auto countPair = [&](std::uint32_t p) {
        if (hits[p].round != round) {
            hits[p] = {round, 0};
        }
        if (++hits[p].pairs == analysis::kNearWordPairs) {
            take(p);
        }
    };
    return query(take, countPair);
}

bool ScanIndex::candidates(std::size_t me, const analysis::PairScorer& scorer,
                           std::vector<std::uint32_t>& out, std::size_t budget) const {
    const auto below = static_cast<std::uint32_t>(me);
    const analysis::PairScorer::Rule& rule = scorer.rule();
    if (rule.verify && !printsIndexed_) {
        return false; // verification turned on during the scan: the loop works the words out
    }
    const analysis::PreparedTrack mine = prepared(me);
    if (rule.verify && !mine.printWords.empty()) {
        // A pair of two prints is a candidate only when they share words.
        return collect(me, out, [&](const auto& take, const auto& countPair) {
            printIndex_.query(mine.printWords.words, below, countPair);
            for (const std::uint32_t p : printless_) {
                if (p >= below) {
                    break;
                }
                if (scorer.isCandidate(mine, prepared(p))) {
                    take(p);
                }
            }
            return true;
        });
    }
    return collect(me, out, [&](const auto& take, const auto&) {
        if (rule.byTags && !tagIndex_.query(*entries_[me].record,
                                            rule.tagsThreshold - analysis::PairScorer::kTagsIndexMargin,
                                            below, budget, take)) {
            return false;
        }
        return !rule.byContent ||
               contentIndex_.query(contentSketches_[me],
                                   scorer.contentFloor() - analysis::PairScorer::kBoundMargin, below, budget,
                                   take);
    });
}

bool ScanIndex::tagCandidates(std::size_t me, const analysis::PairScorer& scorer,
                              std::vector<std::uint32_t>& out, std::size_t budget) const {
    const analysis::PairScorer::Rule& rule = scorer.rule();
    const bool narrowed =
        rule.byTags && collect(me, out, [&](const auto& take, const auto&) {
            return tagIndex_.query(*entries_[me].record,
                                   rule.tagsThreshold - analysis::PairScorer::kTagsIndexMargin,
                                   static_cast<std::uint32_t>(me), budget, take);
        });
    std::sort(out.begin(), out.end());
    return narrowed;
}

std::ptrdiff_t ScanIndex::positionOf(std::int32_t trackId) const {
    // Ids are appended in increasing order (as unsigned numbers, which is how tracks are ordered).
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), trackId, [](std::int32_t a, std::int32_t b) {
        return static_cast<std::uint32_t>(a) < static_cast<std::uint32_t>(b);
    });
    if (it == ids_.end() || *it != trackId) {
        return -1;
    }
    return it - ids_.begin();
}

} // namespace tonemirror::engine
