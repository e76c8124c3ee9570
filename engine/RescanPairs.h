#pragma once

#include "analysis/TrackRecord.h"
#include "engine/PairListFormat.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

// 64 bits that change whenever anything a comparison reads of the track changes: its path, its file
// stamp, its arrays, texts and print.
std::uint64_t trackIdentity(std::u16string_view path, const analysis::TrackRecord& record);

// What a scan knows of the pairs the last finished scan found, and what it gathers for the next one.
// A track that joins with the identity it had in that scan is "known": its pairs with the known
// tracks that came before it in that scan are the stored ones (scored again before they are
// reported), so it is compared only with the other earlier tracks of this scan: the ones that are
// not known, and the known ones that came after it last time (which scored the pair the other way
// round, which only the tag score minds).
// begin and join run under the TableLock held exclusively, plan under it held shared; found and
// the rest take their own lock.
class RescanPairs {
public:
    // A new scan under `rule`, with the list the last one left (if any), room for `tracks`.
    void begin(const pair_list::PairRule& rule, std::optional<pair_list::PairList> stored,
               std::size_t tracks);
    // The track at the next position joined, with this identity. True when it is known: its pairs may
    // come from the list (unless plan finds too many other tracks to compare it with).
    bool join(std::uint64_t identity);

    // For the track at `me`, compared under `rule`: the earlier positions it must be compared with
    // (`direct`) and those whose pair with it was found last time (`offered`). False when it must be
    // compared with every earlier track as usual: not known, another rule, or more than `budget`
    // direct positions.
    bool plan(std::size_t me, const pair_list::PairRule& rule, std::size_t budget,
              std::vector<std::uint32_t>& direct, std::vector<std::uint32_t>& offered) const;

    const pair_list::PairRule& rule() const { return rule_; }
    // Whether the track at `me` joined as known (see join).
    bool known(std::size_t me) const {
        return stored_ && me < storedRanks_.size() && storedRanks_[me] != pair_list::kNoRank &&
               rule_ == stored_->rule;
    }

    // The pairs of the track at `me` with these earlier positions, before any is ignored.
    void found(std::size_t me, std::span<const std::uint32_t> earlier);
    // A comparison of this scan was cut short or ran under another rule: nothing is kept of it.
    void spoil();
    // The list of this scan, once: nullopt when spoilt or taken already.
    std::optional<std::vector<std::byte>> finish();

    // Tracks of this scan whose pairs with earlier known tracks came from the list: the caller counts
    // each once it went by a plan.
    void countReused() const { reused_.fetch_add(1, std::memory_order_relaxed); }
    std::size_t reusedCount() const { return reused_.load(std::memory_order_relaxed); }

    // The list beside a cache file, and reading it (nullopt when missing, unreadable or damaged).
    static std::filesystem::path fileFor(const std::filesystem::path& cacheFile);
    static std::optional<pair_list::PairList> load(const std::filesystem::path& file);

private:
    static constexpr std::int32_t kByContentOnly = 2;
    static bool symmetric(const pair_list::PairRule& rule);
    void offerJoined(std::span<const std::uint32_t> ranks, std::size_t me,
                     std::vector<std::uint32_t>& out) const;
    bool addTurnedRound(std::uint32_t rank, std::size_t me, std::size_t budget,
                        std::vector<std::uint32_t>& direct) const;

    pair_list::PairRule rule_;
    std::optional<pair_list::PairList> stored_;
    std::vector<std::uint64_t> identities_;    // by position
    std::vector<std::uint32_t> storedRanks_;   // by position; kNoRank when not known
    std::vector<std::int32_t> positionOfRank_; // by stored rank; -1 until it joins
    std::vector<std::uint32_t> fresh_;         // positions that are not known, ascending
    std::vector<std::uint64_t> joinedRanks_;   // a bit for every stored rank that joined
    std::uint32_t highestRank_ = 0;            // highest stored rank joined so far
    mutable std::atomic<std::size_t> reused_{0};

    std::mutex lock_; // guards the three below
    std::vector<std::uint64_t> pairs_;
    bool spoilt_ = false;
    bool finished_ = false;
};

} // namespace tonemirror::engine
