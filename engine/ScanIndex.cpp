#include "engine/ScanIndex.h"

#include <algorithm>

namespace tonemirror::engine {

namespace {

// About how many tracks the prefilter bounds in the time the pair scorer's bounds take for one.
constexpr std::size_t kPrefilterCostRatio = 20;

} // namespace

void ScanIndex::clear(bool withPrints, std::size_t learnAxesAt, bool onDemand) {
    printsIndexed_ = withPrints;
    onDemand_ = onDemand;
    queriesReady_ = !onDemand;
    axesTaken_ = false;
    ++generation_;
    entries_.clear();
    ids_.clear();
    contentKeys_.clear();
    tagSketches_.clear();
    contentSketches_.clear();
    contentIndex_.clear();
    prefilter_.clear(learnAxesAt);
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
    prefilter_.reserve(tracks);
}

ScanIndex::Prepared ScanIndex::prepare(const analysis::TrackRecord& record) const {
    Prepared out;
    out.record = &record;
    out.generation = generation_;
    out.withPrints = printsIndexed_;
    analysis::makeContentKey(record, out.contentKey);
    analysis::makeContentSketch(out.contentKey, out.contentSketch);
    out.tagSketch = analysis::makeTagSketch(record);
    if (printsIndexed_) {
        analysis::distinctPrintWords(record.acousticPrint, out.words, out.swapped);
    }
    if (queriesReady_) {
        if (prefilter_.ready()) {
            out.placed = prefilter_.place(out.contentKey, out.contentSketch);
        }
        TagIndex::postingsOf(record, out.postings.emplace());
        tagIndex_.resolve(*out.postings);
    }
    return out;
}

void ScanIndex::append(std::u16string_view path, const analysis::TrackRecord& record,
                       const Prepared* prepared) {
    // Taken only when made of this record in this scan, with prints kept as they are kept now.
    thread_local Prepared own;
    if (prepared == nullptr || prepared->record != &record || prepared->generation != generation_ ||
        prepared->withPrints != printsIndexed_) {
        own = prepare(record);
        prepared = &own;
    }
    entries_.push_back({path, &record});
    ids_.push_back(record.trackId);
    contentKeys_.push_back(prepared->contentKey);
    contentSketches_.push_back(prepared->contentSketch);
    tagSketches_.push_back(prepared->tagSketch);
    printWords_.insert(printWords_.end(), prepared->words.begin(), prepared->words.end());
    printSwapped_.insert(printSwapped_.end(), prepared->swapped.begin(), prepared->swapped.end());
    printWordStarts_.push_back(printWords_.size());
    if (queriesReady_) {
        addToQueries(entries_.size() - 1, prepared);
    }
}

void ScanIndex::addToQueries(std::size_t position, const Prepared* prepared) {
    const auto at = static_cast<std::uint32_t>(position);
    const std::span<const analysis::ContentKey> keys(contentKeys_.data(), position + 1);
    const std::span<const analysis::ContentSketch> sketches(contentSketches_.data(), position + 1);
    if (!prefilter_.ready()) {
        contentIndex_.add(at, sketches); // asked only until the prefilter is ready
    }
    // On demand, the axes are learned apart (takeAxesSample) and only installed here.
    if (!onDemand_ || prefilter_.ready()) {
        // Made before the axes came in, it has no placing: add places the track itself.
        prefilter_.add(keys, sketches,
                       prepared != nullptr && prepared->placed ? &*prepared->placed : nullptr);
    }
    if (prepared != nullptr && prepared->postings) {
        tagIndex_.add(at, *prepared->postings);
    } else {
        tagIndex_.add(at, *entries_[position].record);
    }
    const analysis::PrintWords words = printWords(position);
    printIndex_.add(at, words.words);
    if (printsIndexed_ && words.words.empty()) {
        printless_.push_back(at);
    }
}

void ScanIndex::buildQueries() {
    if (queriesReady_) {
        return;
    }
    queriesReady_ = true;
    for (std::size_t p = 0; p < entries_.size(); ++p) {
        addToQueries(p);
    }
}

std::optional<ScanIndex::AxesSample> ScanIndex::takeAxesSample() {
    const std::size_t learnAt = prefilter_.learnAt();
    if (!onDemand_ || !queriesReady_ || prefilter_.ready() || axesTaken_ || size() < learnAt) {
        return std::nullopt;
    }
    axesTaken_ = true;
    AxesSample sample;
    sample.keys.assign(contentKeys_.begin(), contentKeys_.begin() + static_cast<std::ptrdiff_t>(learnAt));
    sample.sketches.assign(contentSketches_.begin(),
                           contentSketches_.begin() + static_cast<std::ptrdiff_t>(learnAt));
    sample.generation = generation_;
    return sample;
}

void ScanIndex::installAxes(ContentPrefilter::Learned learned, std::uint64_t generation) {
    if (generation != generation_ || !queriesReady_ || prefilter_.ready()) {
        return;
    }
    prefilter_.install(std::move(learned), contentKeys_, contentSketches_);
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

template <typename Take>
bool ScanIndex::offerContent(std::size_t me, const analysis::PairScorer& scorer, std::size_t budget,
                             Take&& take, const std::function<bool()>& pause) const {
    const float floor = scorer.contentFloor() - analysis::PairScorer::kBoundMargin;
    if (prefilter_.ready()) {
        return prefilter_.query(me, floor, me, take, pause);
    }
    return contentIndex_.query(contentSketches_[me], floor, static_cast<std::uint32_t>(me), budget, take);
}

template <typename Take>
void ScanIndex::printlessCandidates(std::size_t me, const analysis::PairScorer& scorer, Take&& take) const {
    const analysis::PreparedTrack mine = prepared(me);
    const auto end = std::lower_bound(printless_.begin(), printless_.end(), static_cast<std::uint32_t>(me));
    const auto count = static_cast<std::size_t>(end - printless_.begin());
    // The prefilter goes through every earlier track at about a twentieth of the cost of the bounds.
    if (!scorer.rule().byContent || !prefilter_.ready() || count * kPrefilterCostRatio < me) {
        for (auto it = printless_.begin(); it != end; ++it) {
            if (scorer.isCandidate(mine, prepared(*it))) {
                take(*it);
            }
        }
        return;
    }
    // Both lists ascend: a walk through the printless tracks meets the prefilter's in step.
    thread_local std::vector<std::uint32_t> content;
    contentCandidates(me, scorer, content);
    std::size_t next = 0;
    for (auto it = printless_.begin(); it != end; ++it) {
        while (next < content.size() && content[next] < *it) {
            ++next;
        }
        const bool nearby = next < content.size() && content[next] == *it;
        const analysis::PreparedTrack other = prepared(*it);
        if ((nearby && scorer.isContentCandidate(mine, other)) || scorer.isTagsCandidate(mine, other)) {
            take(*it);
        }
    }
}

bool ScanIndex::candidates(std::size_t me, const analysis::PairScorer& scorer,
                           std::vector<std::uint32_t>& out, std::size_t budget, std::size_t* contentNamed,
                           const std::function<bool()>& pause) const {
    const auto below = static_cast<std::uint32_t>(me);
    const analysis::PairScorer::Rule& rule = scorer.rule();
    std::size_t named = SIZE_MAX;
    if (contentNamed != nullptr) {
        *contentNamed = named;
    }
    if (!queriesReady_ || (rule.verify && !printsIndexed_)) {
        // Not built, or verification turned on during the scan: the loop goes through every track.
        return false;
    }
    const analysis::PreparedTrack mine = prepared(me);
    if (rule.verify && !mine.printWords.empty()) {
        // A pair of two prints is a candidate only when they share words.
        return collect(me, out, [&](const auto& take, const auto& countPair) {
            printIndex_.query(mine.printWords.words, below, countPair);
            printlessCandidates(me, scorer, take);
            return true;
        });
    }
    // The content side first, so that its candidates lead the list.
    const bool narrowed = collect(me, out, [&](const auto& take, const auto&) {
        if (rule.byContent && !offerContent(me, scorer, budget, take, pause)) {
            return false; // the content index gave up, or the search ends at a pause
        }
        named = out.size();
        if (rule.byTags && pause && !pause()) {
            return true; // the caller ends the search
        }
        return !rule.byTags || tagIndex_.query(*entries_[me].record,
                                               rule.tagsThreshold - analysis::PairScorer::kTagsIndexMargin,
                                               below, budget, take, pause);
    });
    if (contentNamed != nullptr) {
        *contentNamed = named;
    }
    return narrowed;
}

bool ScanIndex::contentCandidates(std::size_t me, const analysis::PairScorer& scorer,
                                  std::vector<std::uint32_t>& out) const {
    out.clear();
    if (!queriesReady_ || !prefilter_.ready()) {
        return false;
    }
    prefilter_.query(me, scorer.contentFloor() - analysis::PairScorer::kBoundMargin, me,
                     [&](std::uint32_t p) { out.push_back(p); });
    return true;
}

bool ScanIndex::tagCandidates(std::size_t me, const analysis::PairScorer& scorer,
                              std::vector<std::uint32_t>& out, std::size_t budget) const {
    const analysis::PairScorer::Rule& rule = scorer.rule();
    const bool narrowed =
        queriesReady_ && rule.byTags && collect(me, out, [&](const auto& take, const auto&) {
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
