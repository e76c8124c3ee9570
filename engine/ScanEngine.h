#pragma once

#include "analysis/PairScorer.h"
#include "engine/DuplicatePair.h"
#include "engine/RescanPairs.h"
#include "engine/ScanControl.h"
#include "engine/ScanIndex.h"
#include "engine/ScanReach.h"
#include "engine/ScanSettings.h"
#include "engine/UserMessage.h"
#include "engine/WorkerPool.h"
#include "engine/WriteBatcher.h"
#include "platform/os/TrashFolders.h"
#include "plugin-api/PluginApi.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tonemirror::audio {
class AudioSource;
class PluginList;
} // namespace tonemirror::audio
namespace tonemirror::analysis {
class CComparer;
struct FileStamp;
} // namespace tonemirror::analysis

namespace tonemirror::engine {

class TrackStore;

// The scan engine: turns a list of folders into jobs on the worker pool, analyses or reuses every
// file, compares each new track of the scan with every earlier one and hands reported pairs to the
// front end through its pending results and posted messages. A finished scan leaves its pairs beside
// the cache, so that the next one with the same rule takes the pairs of unchanged tracks from there. It knows
// nothing of any front end beyond the MessageSink. The track store and the plug-ins are owned by the
// application and outlive the engine.
class ScanEngine {
public:
    struct Counters {
        std::int32_t filesQueued;
        std::int32_t filesDone;
        std::int32_t tracksKnown;
        std::int32_t jobCount;
        std::int32_t itemsSkipped; // left out of this scan, with the reasons in skippedItems()
    };

    // What a front end shows while a scan runs, beyond the counters.
    struct Progress {
        std::u16string currentFile; // the file a worker started on last; empty before the first
        double elapsedSeconds = 0.0;
        double secondsLeft = -1.0; // estimate; negative while unknown (folders still being walked)
    };

    // Makes the AudioSource of one worker; by default one with a decoder from every loaded plug-in.
    using SourceFactory = std::function<std::unique_ptr<audio::AudioSource>()>;

    ScanEngine(TrackStore& store, const audio::PluginList& plugins, MessageSink* sink);
    ScanEngine(TrackStore& store, SourceFactory sources, MessageSink* sink);
    // Requests a stop and waits for every worker to end.
    ~ScanEngine();
    ScanEngine(const ScanEngine&) = delete;
    ScanEngine& operator=(const ScanEngine&) = delete;

    ScanSettings& settings() { return settings_; }
    ScanControl& control() { return control_; }
    TrackStore& store() { return store_; }

    // Starts the worker threads (0 = two per processor). E_FAIL when already started.
    HResult createPool(unsigned threadCount = 0);
    // Stops the threads, waiting up to maxWait (0 = the pool's default, kInfiniteWait = no limit).
    // After a shutdown that timed out, threads blocked in a read still use this engine: the program
    // then ends without destroying it (see stopAndWait).
    bool shutdown(std::chrono::milliseconds maxWait);

    // Front-end operations (one thread).
    void startScan(const std::vector<std::u16string>& folders);
    void togglePause() { control_.togglePause(); }
    void requestStop() { control_.requestStop(); }
    // Requests a stop and waits up to `grace` for the jobs to end. False when a job is still running
    // after that (a read the system does not return from, on a hung network share, say): the pairs
    // found so far can still be taken, and the program may end without waiting for that job.
    bool stopAndWait(std::chrono::milliseconds grace) {
        control_.requestStop();
        return control_.waitIdle(grace);
    }
    // Swaps the pending pairs out in one step.
    // Takes the new pairs and experimental scores waiting for the front end, both at once: fold the
    // pairs in first, then the scores.
    PendingResults takePendingResults();
    Counters counters() const;
    Progress progress() const;
    // Time left at the pace so far: the files still queued at the mean time per finished file.
    // Negative while it cannot be told: folders still walked, nothing finished, or too early.
    static double estimateSecondsLeft(double elapsedSeconds, std::int32_t filesDone, std::int32_t filesQueued,
                                      bool walking);
    // What this scan left out under the ticked folders and why (special files, unreadable folders,
    // paths too long, other names of files already taken, ...). Readable during and after a scan.
    std::vector<SkippedItem> skippedItems() const { return reach_.skipped(); }
    // True when this scan took the file (by device and inode) as one of its inputs.
    bool scanned(const os::FileKey& key) const { return reach_.wasReached(key); }
    // Whose trash folders scans leave out (by default this process's user). Only while no scan runs.
    void setTrashEnvironment(os::TrashEnvironment environment) { trashEnvironment_ = std::move(environment); }
    // Tracks of the last scan compared only with what the scan before it had not compared them with
    // (see RescanPairs). Only while no scan runs.
    std::size_t tracksFromLastScan() const { return rescan_.reusedCount(); }
    // Empties the track table, the ignored pairs and the cache file. Only while no scan runs.
    HResult clearCache();

    // Worker operations, each on the calling worker's own comparer.
    HResult walkFolder(const std::u16string& folder);
    HResult runAnalyseFile(analysis::CComparer& comparer, const std::u16string& path);
    HResult analyseFile(analysis::CComparer& comparer, const std::u16string& path);
    // What analyseFile did with a file: `taken` once its track is part of this scan (even when a stop
    // then cut the comparison short), `reason` when it cannot be analysed at all.
    struct FileOutcome {
        bool taken = false;
        std::optional<SkipReason> reason;
    };
    HResult analyseFile(analysis::CComparer& comparer, const std::u16string& path, FileOutcome& outcome);
    HResult compareWithAll(const std::u16string& path);
    HResult runComparePair(analysis::CComparer& comparer, const std::u16string& path1,
                           const std::u16string& path2);

    // The folders a scan really walks: duplicates and folders inside another listed folder are
    // dropped, so no file is queued twice.
    static std::vector<std::u16string> distinctFolders(const std::vector<std::u16string>& folders);

private:
    // The comparison settings of one compareWithAll, read once.
    struct Rule {
        analysis::PairScorer scorer;
        bool accurate = false;
        bool allPairs = false;
    };
    struct Match {
        std::size_t position;
        analysis::PairScores scores;
    };

    enum class Known { No, Joined, NeedsPrint };

    // Lets a track already in the table join this scan when its file is unchanged (caller holds the
    // TableLock exclusively). No: the file must be analysed (new, or changed since). NeedsPrint:
    // unchanged, but matches are verified and it has no long acoustic print yet.
    // What a cached track's join works out, made under the lock held shared before the join takes it
    // exclusively (prepareJoin).
    struct PreparedJoin {
        ScanIndex::Prepared index;
        std::optional<std::uint64_t> identity; // trackIdentity, when the record has its stamp already
    };
    Known joinKnownTrack(const std::u16string& path, const analysis::FileStamp& stamp,
                         const PreparedJoin* prepared);
    // nullopt when the track will not join from the cache.
    std::optional<PreparedJoin> prepareJoin(const std::u16string& path,
                                            const analysis::FileStamp& stamp) const;
    void post(std::uint32_t message);
    // Caller holds the TableLock exclusively.
    // `prepared`: made of this very record (prepareJoin), or null.
    void joinScan(const std::u16string& path, analysis::TrackRecord& record,
                  const PreparedJoin* prepared = nullptr);
    // The rescan's part of joining, after the index's (caller holds the TableLock exclusively).
    void joinRescan(const std::u16string& path, const analysis::TrackRecord& record,
                    std::optional<std::uint64_t> identity = std::nullopt);
    // Whether a track that just joined from the last scan's list has no earlier track to compare
    // with and no stored pair (caller holds the TableLock exclusively).
    bool nothingToCompare(const std::u16string& path) const;
    // Learns the content prefilter's axes from a sample the index handed out, without holding the
    // TableLock, and installs them under it.
    void learnAxesApart(std::optional<ScanIndex::AxesSample> sample);
    HResult storeAnalysis(const std::u16string& path, analysis::TrackRecord& record);
    HResult addPrint(const std::u16string& path, const analysis::TrackRecord* analysed);
    // Caller holds the TableLock shared.
    Rule currentRule() const;
    // The earlier tracks of this scan that pair up with the one at `me`, from the index's candidates
    // (or all of them); false on a stop request.
    // `pause` lets a waiting join in now and then (see compareUnderLock); false when the search must
    // end there.
    bool findMatches(const Rule& rule, const analysis::TrackRecord& record, std::size_t me,
                     const std::function<bool()>& pause, std::vector<Match>& matches) const;
    // Every earlier track, each bound only for the positions its index names (in increasing order;
    // null: every position): for when one of the content and tag indexes narrows the search and the
    // other cannot.
    bool findSplitMatches(const Rule& rule, const analysis::TrackRecord& record, std::size_t me,
                          const std::vector<std::uint32_t>* contentNamed,
                          const std::vector<std::uint32_t>* tagsNamed, std::vector<Match>& matches) const;
    // Adds the earlier track at `i` to `matches` when the pair is reported; `content`: whether the
    // pair may pass the content bounds (else only the tag bound can pass it).
    void considerPair(const Rule& rule, const analysis::TrackRecord& record,
                      const analysis::PreparedTrack& mine, std::size_t i, bool content,
                      std::vector<Match>& matches) const;
    enum class Search { Done, Stopped, NeedsQueries };
    // findMatches, or for a track known from the last finished scan, its pairs with the tracks that
    // scan did not compare it with and the pairs it found, each scored again. NeedsQueries (only when
    // `mayBuild`) when findMatches would search indexes that are not built yet.
    Search findRescanMatches(const Rule& rule, const analysis::TrackRecord& record, std::size_t me,
                             bool mayBuild, const std::function<bool()>& pause,
                             std::vector<Match>& matches) const;
    // Whether the track at `me`, which cannot take its pairs from the list, has the indexes built
    // for its search (else it goes through every earlier track). Caller holds the TableLock shared.
    bool needsQueries(const Rule& rule, std::size_t me) const;
    // compareWithAll under the shared lock; nullopt when it must build the indexes first (`mayBuild`).
    std::optional<HResult> compareUnderLock(const std::u16string& path, bool mayBuild);
    pair_list::PairRule pairRule(const Rule& rule) const;
    // Keeps this scan's pairs beside the cache once every file of it is done (and none stopped).
    void finishIfDone();
    void reportMatches(const std::u16string& path, const Rule& rule, std::vector<Match>& matches);
    // Appends a new pair (a score) to the pending results, posting UM_PAIRS_PENDING
    // (UM_SCORES_PENDING) once per batch.
    void addPending(DuplicatePair pair);
    void addPending(ExperimentalScore score);
    void queue(ScanJob::Kind kind, std::u16string path1, std::u16string path2 = {});

    TrackStore& store_;
    SourceFactory sources_;
    MessageSink* sink_;
    ScanSettings settings_;
    ScanControl control_;
    WriteBatcher writes_; // a track's joining, under the store's TableLock
    ScanIndex index_;     // guarded by the store's TableLock
    RescanPairs rescan_;  // its positions are the index's; see RescanPairs for its locking
    // Earlier tracks that searches went through for want of the indexes, this scan.
    mutable std::atomic<std::size_t> loopedUnbuilt_{0};
    ScanReach reach_;
    os::TrashEnvironment trashEnvironment_ = os::TrashEnvironment::fromProcess();

    std::atomic<std::int32_t> filesQueued_{0};
    std::atomic<std::int32_t> filesDone_{0};
    std::atomic<std::int32_t> walksPending_{0}; // folder jobs of this scan not yet finished

    mutable std::mutex progressLock_; // guards the two below; taken alone
    std::u16string currentFile_;
    std::chrono::steady_clock::time_point scanStart_{};

    std::mutex resultsLock_; // always taken after the TableLock, never before
    PendingResults pending_;

    WorkerPool pool_; // last: its threads use everything above
};

} // namespace tonemirror::engine
