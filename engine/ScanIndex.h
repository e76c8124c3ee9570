#pragma once

#include "analysis/ContentComparison.h"
#include "analysis/ContentSketch.h"
#include "analysis/PairScorer.h"
#include "analysis/TagComparison.h"
#include "analysis/TrackRecord.h"
#include "engine/ContentIndex.h"
#include "engine/ContentPrefilter.h"
#include "engine/PrintIndex.h"
#include "engine/TagIndex.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

// The tracks of the current scan in the order they got their track ids, each with the prepared forms
// the comparison loop reads: a new track is compared with every entry before it. The keys are
// packed in contiguous arrays so the loop streams through memory instead of chasing map nodes.
// Beside them, a content index, a tag index and a print index name the few earlier tracks that may
// pair with a new one, so that it need not be compared with every one of them.
// Appended to under the TableLock held exclusively; read under it held shared.
class ScanIndex {
public:
    // Both live in the track table, which never moves its paths and records.
    struct Entry {
        std::u16string_view path;
        const analysis::TrackRecord* record;
    };

    // Empties the index; `withPrints`: the tracks appended from now on have their print words kept and
    // indexed (a verifying scan; the others do without them and their memory). The content prefilter
    // learns its axes once `learnAxesAt` tracks are in (before that the content index narrows).
    // `onDemand`: the caller builds the structures that only queries read (buildQueries) and has the
    // prefilter's axes learned apart (takeAxesSample); until then an append costs only what a direct
    // comparison reads. A rescan whose tracks all take their pairs from the last scan never queries.
    void clear(bool withPrints = false, std::size_t learnAxesAt = ContentPrefilter::kDefaultLearnAt,
               bool onDemand = false);
    bool printsIndexed() const { return printsIndexed_; }
    // Counts the clears: a position means the same track while it stays the same.
    std::uint64_t generation() const { return generation_; }
    // Room for this many tracks, so that the arrays do not grow by doubling (and copying) during a scan.
    void reserve(std::size_t tracks);
    // What append works out of a track, made beforehand by prepare under the lock held shared (beside
    // the other workers' comparisons), so that a join's exclusive section need only file it.
    struct Prepared {
        const analysis::TrackRecord* record = nullptr;
        std::uint64_t generation = 0;
        bool withPrints = false;
        analysis::ContentKey contentKey{};
        analysis::ContentSketch contentSketch{};
        analysis::TagSketch tagSketch{};
        std::vector<std::uint32_t> words;
        std::vector<std::uint32_t> swapped;
        std::optional<ContentPrefilter::Placed> placed; // when the prefilter was ready
        std::optional<TagIndex::Postings> postings;     // when the queries were built
    };
    Prepared prepare(const analysis::TrackRecord& record) const;
    // Adds a track that has just received its id (ids grow with every append). The index keeps pointers
    // to `path` and `record` (the track table's) until it is cleared. `prepared` is taken when it was
    // made of this record since the last clear; otherwise the track is prepared here.
    void append(std::u16string_view path, const analysis::TrackRecord& record,
                const Prepared* prepared = nullptr);
    std::size_t size() const { return entries_.size(); }

    // Whether candidates() and the other queries may be asked: always, unless built on demand and not
    // built yet.
    bool queriesReady() const { return queriesReady_; }
    // Adds every track so far to the structures the queries read; from now on append keeps them up.
    void buildQueries();

    // The first tracks' keys, copied for learning the prefilter's axes without holding the index.
    struct AxesSample {
        std::vector<analysis::ContentKey> keys; // point at the records' values, as the index's do
        std::vector<analysis::ContentSketch> sketches;
        std::uint64_t generation = 0;
    };
    // The sample once it is due (queries built on demand and built, learnAxesAt tracks in), to one
    // caller only; nullopt otherwise. The records stay in the table while the scan lasts.
    std::optional<AxesSample> takeAxesSample();
    static ContentPrefilter::Learned learnAxes(const AxesSample& sample) {
        return ContentPrefilter::learn(sample.keys, sample.sketches);
    }
    // Hands the prefilter its axes; until then the content index narrows. Dropped when the index was
    // cleared since the sample was taken.
    void installAxes(ContentPrefilter::Learned learned, std::uint64_t generation);

    // Position of a track by its id, or -1 when it is not part of this scan.
    std::ptrdiff_t positionOf(std::int32_t trackId) const;

    const Entry& entry(std::size_t i) const { return entries_[i]; }
    // What the pair scorer's pruning steps read of entry i.
    analysis::PreparedTrack prepared(std::size_t i) const {
        return {&contentSketches_[i], &contentKeys_[i], &tagSketches_[i], printWords(i)};
    }

    // The positions before `me` whose pair with it may be reported: every one that can, each once, in
    // no particular order (a pair whose bounds pass but whose exact tag score cannot reach the
    // threshold may be left out). False when the indexes cannot narrow the search (a threshold
    // or a text too low or short for them, or more than `budget` entries to go through): then every
    // earlier position is a candidate.
    // With verification and a print at `me`, the print index names its candidates among the tracks
    // with prints, and only the tracks without one are looked at by their bounds: always narrowed.
    // False with verification when the prints are not indexed.
    // `contentNamed`, when given, receives how many of the first positions of `out` the content side
    // named (or the print index, or the bounds of the tracks without a print): the others came from
    // the tag index alone and cannot pass the content bounds.
    // `pause`, when given, is called between stretches of the search (of the content prefilter's, and
    // between the content and the tag side), where the query holds nothing of the index; when it
    // returns false the query ends there, its list cut short.
    bool candidates(std::size_t me, const analysis::PairScorer& scorer, std::vector<std::uint32_t>& out,
                    std::size_t budget, std::size_t* contentNamed = nullptr,
                    const std::function<bool()>& pause = {}) const;
    // The positions before `me` whose pair with it may pass scorer.isContentCandidate, in increasing
    // order, from the content prefilter. False until the prefilter is ready.
    bool contentCandidates(std::size_t me, const analysis::PairScorer& scorer,
                           std::vector<std::uint32_t>& out) const;
    // The same from the tag index alone: the positions before `me` whose pair with it may pass
    // scorer.isTagsCandidate, in increasing order. False when the tag index cannot narrow the search.
    bool tagCandidates(std::size_t me, const analysis::PairScorer& scorer, std::vector<std::uint32_t>& out,
                       std::size_t budget) const;

private:
    analysis::PrintWords printWords(std::size_t i) const {
        const std::size_t from = printWordStarts_[i];
        const std::size_t to = printWordStarts_[i + 1];
        return {{printWords_.data() + from, printWords_.data() + to},
                {printSwapped_.data() + from, printSwapped_.data() + to}};
    }
    // Runs `query(take, countPair)`, where take adds a position to the output once however often it
    // is offered, and countPair takes it once offered for kNearWordPairs word pairs.
    template <typename Query>
    bool collect(std::size_t me, std::vector<std::uint32_t>& out, Query&& query) const;
    // Offers take() the content candidates before `me` (the prefilter's, or the content index's before
    // the prefilter is ready); false when the content index gives up.
    template <typename Take>
    bool offerContent(std::size_t me, const analysis::PairScorer& scorer, std::size_t budget, Take&& take,
                      const std::function<bool()>& pause = {}) const;
    // Offers take() the tracks without a print before `me` that may pair with it.
    template <typename Take>
    void printlessCandidates(std::size_t me, const analysis::PairScorer& scorer, Take&& take) const;
    // Adds the track at `position` to the structures only queries read.
    void addToQueries(std::size_t position, const Prepared* prepared = nullptr);

    std::vector<Entry> entries_;
    std::vector<std::int32_t> ids_;
    std::vector<analysis::ContentKey> contentKeys_;
    std::vector<analysis::TagSketch> tagSketches_;
    std::vector<analysis::ContentSketch> contentSketches_;
    ContentIndex contentIndex_; // until the prefilter is ready
    ContentPrefilter prefilter_;
    TagIndex tagIndex_;
    // The distinct words of every print in both orders, one print after the other: entry i's from
    // printWordStarts_[i] to printWordStarts_[i + 1].
    std::vector<std::uint32_t> printWords_;
    std::vector<std::uint32_t> printSwapped_;
    std::vector<std::size_t> printWordStarts_{0};
    std::vector<std::uint32_t> printless_; // positions without a print, ascending
    PrintIndex printIndex_;
    bool printsIndexed_ = false;
    bool onDemand_ = false;
    bool queriesReady_ = true;
    bool axesTaken_ = false;
    std::uint64_t generation_ = 0; // counts clears, so that a late sample's axes are told apart
};

} // namespace tonemirror::engine
