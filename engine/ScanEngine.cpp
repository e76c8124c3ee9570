#include "engine/ScanEngine.h"

#include "analysis/CComparer.h"
#include "audio/AudioSource.h"
#include "engine/CWorker.h"
#include "engine/EngineResults.h"
#include "engine/FileIo.h"
#include "engine/FolderWalk.h"
#include "engine/TrackStore.h"
#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>

namespace tonemirror::engine {

namespace {

static_assert(ContentPrefilter::kDefaultLearnAt == ScanSettings::kDefaultContentAxesAt);

// How often the comparison loop looks for a stop request.
constexpr std::size_t kStopCheckInterval = 1024;
// How many candidates the comparison loop bounds between two chances for a waiting join to go in.
constexpr std::size_t kPauseInterval = 64;
// Candidates whose forms are fetched ahead of their bounds: the forms of tracks named by an index lie
// anywhere in memory, and a bound that waits for each of its cache lines in turn costs several times
// its arithmetic.
constexpr std::size_t kReadAhead = 4;

void prefetchLines(const void* data, std::size_t bytes) {
    const char* p = static_cast<const char*>(data);
    for (std::size_t at = 0; at < bytes; at += 64) {
        __builtin_prefetch(p + at);
    }
}

// The forms the first bounds read: the content sketch of a track the content side named, then the
// tag sketch (read where the content bounds cannot pass the pair). The records behind the content
// keys are left alone: fetched ahead they made the key bound no faster (bench_scan --content-stages).
void prefetchForms(const analysis::PreparedTrack& track, bool content) {
    if (content) {
        prefetchLines(track.sketch, sizeof(analysis::ContentSketch));
    }
    prefetchLines(track.tags, sizeof(analysis::TagSketch));
}

// About how many pairs the loop bounds in the time a track takes to get its place in the indexes
// (its projection, its texts' runs).
constexpr std::size_t kIndexCostInPairs = 256;

std::optional<analysis::FileStamp> fileStamp(const std::u16string& path) {
    const auto id = os::identify(os::toNativePath(path));
    if (!id) {
        return std::nullopt;
    }
    analysis::FileStamp stamp;
    stamp.known = true;
    stamp.size = id->size;
    stamp.modifiedSeconds = id->modifiedSeconds;
    stamp.modifiedNanoseconds = id->modifiedNanoseconds;
    return stamp;
}

} // namespace

float mapScore(float score, float threshold) {
    if (threshold == 1.0f) {
        return 1.0f;
    }
    const double mapped = (static_cast<double>(score) - static_cast<double>(threshold)) /
                          (1.0 - static_cast<double>(threshold));
    return mapped < 0.0 ? -1.0f : static_cast<float>(mapped);
}

ScanEngine::ScanEngine(TrackStore& store, const audio::PluginList& plugins, MessageSink* sink)
    : ScanEngine(
          store, [&plugins] { return std::make_unique<audio::AudioSource>(plugins); }, sink) {}

ScanEngine::ScanEngine(TrackStore& store, SourceFactory sources, MessageSink* sink)
    : store_(store), sources_(std::move(sources)), sink_(sink), control_(sink), writes_(store.lock()),
      pool_(control_) {}

ScanEngine::~ScanEngine() {
    control_.requestStop();
    pool_.shutdown(WorkerPool::kInfiniteWait);
}

HResult ScanEngine::createPool(unsigned threadCount) {
    const bool created = pool_.create(threadCount, [this]() -> std::unique_ptr<WorkerPool::Worker> {
        auto worker = std::make_unique<CWorker>(*this, sources_());
        if (!worker->initialize()) {
            return nullptr;
        }
        return worker;
    });
    return created ? S_OK : E_FAIL;
}

bool ScanEngine::shutdown(std::chrono::milliseconds maxWait) {
    return pool_.shutdown(maxWait);
}

void ScanEngine::post(std::uint32_t message) {
    if (sink_ != nullptr) {
        sink_->post(message);
    }
}

void ScanEngine::queue(ScanJob::Kind kind, std::u16string path1, std::u16string path2) {
    pool_.post(ScanJob::make(control_, kind, std::move(path1), std::move(path2)));
}

std::vector<std::u16string> ScanEngine::distinctFolders(const std::vector<std::u16string>& folders) {
    std::vector<std::u16string> normal;
    for (const auto& folder : folders) {
        std::u16string f = folder;
        while (f.size() > 1 && f.back() == os::kNativeSeparator) {
            f.pop_back();
        }
        if (!f.empty()) {
            normal.push_back(std::move(f));
        }
    }
    const auto inside = [](const std::u16string& inner, const std::u16string& outer) {
        if (inner == outer) {
            return true;
        }
        if (outer.size() == 1 && outer[0] == os::kNativeSeparator) {
            return inner.size() > 1 && inner[0] == os::kNativeSeparator;
        }
        return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
               inner[outer.size()] == os::kNativeSeparator;
    };
    std::vector<std::u16string> result;
    for (std::size_t i = 0; i < normal.size(); ++i) {
        bool covered = false;
        for (std::size_t j = 0; j < normal.size() && !covered; ++j) {
            if (i == j) {
                continue;
            }
            // An equal folder listed earlier covers this one; a containing folder always does.
            covered = normal[i] == normal[j] ? j < i : inside(normal[i], normal[j]);
        }
        if (!covered) {
            result.push_back(normal[i]);
        }
    }
    return result;
}

void ScanEngine::startScan(const std::vector<std::u16string>& folders) {
    {
        TableLockHolder table(store_.lock());
        std::lock_guard results(resultsLock_);
        post(UM_RESULTS_RESET);
        filesQueued_.store(0);
        filesDone_.store(0);
        store_.table().resetTrackIds();
        index_.clear(settings_.verifyMatches.load(), settings_.contentAxesAt.load(), true);
        // A rescan of a library takes about what the table holds.
        index_.reserve(store_.table().size());
        loopedUnbuilt_.store(0, std::memory_order_relaxed);
        reach_.clear();
        std::optional<pair_list::PairList> stored;
        if (store_.hasCacheFile()) {
            stored = RescanPairs::load(RescanPairs::fileFor(store_.cachePath()));
        }
        rescan_.begin(pairRule(currentRule()), std::move(stored), store_.table().size());
    }
    {
        std::lock_guard progress(progressLock_);
        currentFile_.clear();
        scanStart_ = std::chrono::steady_clock::now();
    }
    auto distinct = distinctFolders(folders);
    walksPending_.store(static_cast<std::int32_t>(distinct.size()));
    for (auto& folder : distinct) {
        queue(ScanJob::WalkFolder, std::move(folder));
    }
}

PendingResults ScanEngine::takePendingResults() {
    PendingResults taken;
    std::lock_guard lock(resultsLock_);
    std::swap(taken, pending_);
    return taken;
}

ScanEngine::Counters ScanEngine::counters() const {
    const auto skipped = reach_.skippedCount();
    return {filesQueued_.load(), filesDone_.load(), store_.tracksKnown(), control_.jobCount(),
            static_cast<std::int32_t>(std::min<std::size_t>(skipped, INT32_MAX))};
}

ScanEngine::Progress ScanEngine::progress() const {
    Progress p;
    {
        std::lock_guard progress(progressLock_);
        p.currentFile = currentFile_;
        p.elapsedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStart_).count();
    }
    p.secondsLeft = estimateSecondsLeft(p.elapsedSeconds, filesDone_.load(), filesQueued_.load(),
                                        walksPending_.load() > 0);
    return p;
}

double ScanEngine::estimateSecondsLeft(double elapsedSeconds, std::int32_t filesDone,
                                       std::int32_t filesQueued, bool walking) {
    // A few files and seconds first: the opening pace says little (cached files go fast).
    constexpr std::int32_t kMinFiles = 3;
    constexpr double kMinSeconds = 2.0;
    if (walking || filesDone < kMinFiles || elapsedSeconds < kMinSeconds) {
        return -1.0;
    }
    const std::int32_t left = std::max(filesQueued - filesDone, 0);
    return elapsedSeconds * left / filesDone;
}

HResult ScanEngine::clearCache() {
    {
        TableLockHolder table(store_.lock());
        index_.clear();
        rescan_.begin({}, std::nullopt, 0);
        rescan_.spoil();
        if (store_.hasCacheFile()) {
            std::error_code ec;
            std::filesystem::remove(RescanPairs::fileFor(store_.cachePath()), ec);
        }
    }
    return store_.clearCache();
}

// Trash folders hold what the user threw away: scanning them pairs it with the library, and a delete
// from there would trash an item a second time and strand its first record.
HResult ScanEngine::walkFolder(const std::u16string& folder) {
    const os::TrashFolders trashes(trashEnvironment_);
    const std::string trash = trashes.trashHolding(os::toNativePath(folder).native());
    if (!trash.empty()) {
        reach_.skip(folder, SkipReason::TrashFolder, os::fromNativePath(trash));
        walksPending_.fetch_sub(1);
        return S_OK;
    }
    FolderWalk walk(reach_, control_, trashes, [this](const std::u16string& path) {
        filesQueued_.fetch_add(1);
        queue(ScanJob::AnalyseFile, path);
    });
    const bool listed = walk.walk(folder);
    walksPending_.fetch_sub(1);
    finishIfDone();
    return listed ? S_OK : E_FAIL;
}

HResult ScanEngine::runAnalyseFile(analysis::CComparer& comparer, const std::u16string& path) {
    {
        std::lock_guard progress(progressLock_);
        currentFile_ = path;
    }
    FileOutcome outcome;
    const HResult rc = analyseFile(comparer, path, outcome);
    // A track in the table counts as done even when a stop cut its comparison short, so that after
    // a stop the files done never fall behind the tracks the scan added to the cache.
    if (control_.isStopped() && !outcome.taken) {
        return rc;
    }
    if (outcome.taken) {
        filesDone_.fetch_add(1);
    } else {
        filesQueued_.fetch_sub(1);
        if (outcome.reason) {
            reach_.skip(path, *outcome.reason);
        }
    }
    post(UM_FILE_DONE);
    finishIfDone();
    return rc;
}

void ScanEngine::finishIfDone() {
    // Done before queued: files only join the done ones, and once the walks are over the queued
    // ones only shrink, so equal counts mean no file is left.
    const std::int32_t done = filesDone_.load();
    if (walksPending_.load() != 0 || done != filesQueued_.load() || control_.isStopped()) {
        return;
    }
    std::optional<std::vector<std::byte>> list;
    std::filesystem::path file;
    {
        SharedTableLockHolder table(store_.lock());
        if (!store_.hasCacheFile()) {
            return;
        }
        file = RescanPairs::fileFor(store_.cachePath());
        list = rescan_.finish();
    }
    if (list) {
        replaceFile(file, *list); // a failed write only costs the next scan its shortcut
    }
}

std::optional<ScanEngine::PreparedJoin> ScanEngine::prepareJoin(const std::u16string& path,
                                                                const analysis::FileStamp& stamp) const {
    SharedTableLockHolder table(store_.lock());
    const analysis::TrackRecord* known = store_.table().find(path);
    if (known == nullptr || known->trackId != -1 || (known->fileStamp.known && known->fileStamp != stamp) ||
        (settings_.verifyMatches.load() && !known->acousticPrintLong) || control_.isStopped()) {
        return std::nullopt;
    }
    PreparedJoin prepared{index_.prepare(*known), std::nullopt};
    if (known->fileStamp.known) { // else the join gives it one first
        prepared.identity = trackIdentity(path, *known);
    }
    return prepared;
}

ScanEngine::Known ScanEngine::joinKnownTrack(const std::u16string& path, const analysis::FileStamp& stamp,
                                             const PreparedJoin* prepared) {
    analysis::TrackRecord* known = store_.table().find(path);
    if (known == nullptr) {
        return Known::No;
    }
    if (known->trackId != -1) {
        return Known::Joined; // already part of this scan
    }
    if (known->fileStamp.known && known->fileStamp != stamp) {
        return Known::No; // the file changed since it was analysed
    }
    if (!known->fileStamp.known) {
        // An older version's record: trusted this once, and from now on held to this stamp.
        known->fileStamp = stamp;
        store_.appendDetails(path, *known); // a failed append only costs the same trust next run
    }
    if (settings_.verifyMatches.load() && !known->acousticPrintLong) {
        return Known::NeedsPrint; // verification needs its long print: the file is analysed once more
    }
    // Known from the cache or an earlier scan: it joins this scan without decoding.
    joinScan(path, *known, prepared != nullptr && prepared->index.record == known ? prepared : nullptr);
    return Known::Joined;
}

HResult ScanEngine::analyseFile(analysis::CComparer& comparer, const std::u16string& path) {
    FileOutcome outcome;
    return analyseFile(comparer, path, outcome);
}

HResult ScanEngine::analyseFile(analysis::CComparer& comparer, const std::u16string& path,
                                FileOutcome& outcome) {
    // Taken before reading: a change while the file is analysed shows at the next scan.
    const std::optional<analysis::FileStamp> stamp = fileStamp(path);
    if (!stamp) {
        return E_FAIL;
    }
    Known known = Known::No;
    bool stopped = false;
    bool done = false;
    std::optional<ScanIndex::AxesSample> sample;
    const std::optional<PreparedJoin> prepared = prepareJoin(path, *stamp);
    writes_.run([&] {
        stopped = control_.isStopped();
        known = stopped ? Known::No : joinKnownTrack(path, *stamp, prepared ? &*prepared : nullptr);
        if (known == Known::Joined) {
            sample = index_.takeAxesSample();
            done = nothingToCompare(path);
        }
    });
    if (stopped) {
        return E_FAIL;
    }
    if (known == Known::Joined) {
        outcome.taken = true;
        learnAxesApart(std::move(sample));
        return done ? S_OK : compareWithAll(path);
    }

    comparer.setLongPrint(settings_.verifyMatches.load());
    const bool analysed = succeeded(comparer.analyseFile(path));
    if (!analysed && known == Known::No) {
        outcome.reason = skipReasonOf(comparer.lastFailure());
        return E_FAIL;
    }
    analysis::TrackRecord& record = comparer.record();
    record.fileStamp = *stamp;
    HResult stored = E_FAIL; // a stop discards the analysis: not stored, not cached
    writes_.run([&] {
        if (control_.isStopped()) {
            return;
        }
        stored = known == Known::NeedsPrint ? addPrint(path, analysed ? &record : nullptr)
                                            : storeAnalysis(path, record);
        if (succeeded(stored)) {
            sample = index_.takeAxesSample();
        }
    });
    if (failed(stored)) {
        return stored;
    }
    outcome.taken = true;
    learnAxesApart(std::move(sample));
    return compareWithAll(path);
}

bool ScanEngine::nothingToCompare(const std::u16string& path) const {
    // Most tracks of a rescan pair with no earlier one: when the list names none and no earlier track
    // needs a comparison, the track is done here, without taking the lock again for its comparisons.
    const analysis::TrackRecord* record = store_.table().find(path);
    const std::ptrdiff_t position = record != nullptr ? index_.positionOf(record->trackId) : -1;
    const Rule rule = currentRule();
    if (position < 0 || rule.allPairs || !(pairRule(rule) == rescan_.rule())) {
        return false;
    }
    thread_local std::vector<std::uint32_t> direct;
    thread_local std::vector<std::uint32_t> offered;
    const auto me = static_cast<std::size_t>(position);
    if (!rescan_.plan(me, pairRule(rule), me / 4, direct, offered) || !direct.empty() || !offered.empty()) {
        return false;
    }
    rescan_.countReused();
    return true;
}

void ScanEngine::learnAxesApart(std::optional<ScanIndex::AxesSample> sample) {
    if (!sample) {
        return;
    }
    // Without the lock: the other workers go on joining and comparing meanwhile, the content index
    // narrowing their searches until the axes are in. The sample's keys point at records of this scan,
    // which the table keeps unchanged while jobs of the scan run.
    ContentPrefilter::Learned learned = ScanIndex::learnAxes(*sample);
    TableLockHolder table(store_.lock());
    index_.installAxes(std::move(learned), sample->generation);
}

void ScanEngine::joinRescan(const std::u16string& path, const analysis::TrackRecord& record,
                            std::optional<std::uint64_t> identity) {
    // A track that cannot take its pairs from the last scan's list searches the indexes: they are
    // built for every track before it then, and kept up from there on. Until such a track comes,
    // the tracks join without them.
    if (!rescan_.join(identity ? *identity : trackIdentity(path, record)) && !settings_.allPairs.load()) {
        index_.buildQueries();
    }
}

void ScanEngine::joinScan(const std::u16string& path, analysis::TrackRecord& record,
                          const PreparedJoin* prepared) {
    record.trackId = store_.takeNextTrackId();
    index_.append(store_.table().storedPath(path), record, prepared != nullptr ? &prepared->index : nullptr);
    joinRescan(path, record, prepared != nullptr ? prepared->identity : std::nullopt);
}

HResult ScanEngine::storeAnalysis(const std::u16string& path, analysis::TrackRecord& record) {
    const analysis::TrackRecord* existing = store_.table().find(path);
    if (existing != nullptr && existing->trackId != -1) {
        return E_ALREADY_PRESENT; // another worker stored this path first
    }
    record.trackId = store_.takeNextTrackId();
    if (existing != nullptr) {
        store_.table().replace(path, record); // a newer analysis of a changed file
    } else {
        store_.table().insert(path, record);
    }
    // From the analysis itself: the table keeps less of the spectrum than the file holds.
    store_.appendRecord(path, record); // a failed append only costs a re-analysis next run
    const analysis::TrackRecord* stored = store_.table().find(path);
    index_.append(store_.table().storedPath(path), *stored);
    joinRescan(path, *stored);
    return S_OK;
}

HResult ScanEngine::addPrint(const std::u16string& path, const analysis::TrackRecord* analysed) {
    analysis::TrackRecord* known = store_.table().find(path);
    if (known == nullptr || known->trackId != -1) {
        return E_ALREADY_PRESENT; // cleared meanwhile, or joined through another worker
    }
    // Only the print is taken: the cached content fingerprint and texts stay as they were, so the
    // other scores do not move. A file that no longer decodes still joins with what was cached.
    if (analysed != nullptr && !analysed->acousticPrint.empty()) {
        known->acousticPrint = analysed->acousticPrint;
        known->acousticPrintLong = analysed->acousticPrintLong;
        store_.appendDetails(path, *known); // a failed append only costs another analysis next time
    }
    joinScan(path, *known);
    return S_OK;
}

HResult ScanEngine::compareWithAll(const std::u16string& path) {
    if (const std::optional<HResult> done = compareUnderLock(path, true)) {
        return *done;
    }
    // The first track of this scan that searches the indexes: built once, for every track so far.
    std::optional<ScanIndex::AxesSample> sample;
    {
        TableLockHolder table(store_.lock());
        index_.buildQueries();
        sample = index_.takeAxesSample();
    }
    learnAxesApart(std::move(sample));
    // A scan started meanwhile may have cleared them again: the search then goes through every track.
    return compareUnderLock(path, false).value_or(E_FAIL);
}

std::optional<HResult> ScanEngine::compareUnderLock(const std::u16string& path, bool mayBuild) {
    SharedTableLockHolder table(store_.lock());
    if (control_.isStopped()) {
        rescan_.spoil(); // a track of this scan goes without its comparisons
        return E_FAIL;
    }
    const analysis::TrackRecord* record = store_.table().find(path);
    if (record == nullptr) {
        rescan_.spoil();
        return E_TRACK_UNKNOWN;
    }
    const std::ptrdiff_t position = index_.positionOf(record->trackId);
    if (position < 0) {
        return S_OK; // not part of this scan
    }
    const Rule rule = currentRule();
    if (!(pairRule(rule) == rescan_.rule())) {
        rescan_.spoil(); // the settings changed during the scan: its pairs follow no one rule
    }
    // A long search lets the joins waiting for the lock in between its stretches, where it holds
    // nothing they move: the other workers then need not stand idle until it ends.
    const std::uint64_t generation = index_.generation();
    const std::function<bool()> pause = [&] {
        return !table.letWriterIn() || (index_.generation() == generation && !control_.isStopped());
    };
    std::vector<Match> matches;
    const Search search =
        findRescanMatches(rule, *record, static_cast<std::size_t>(position), mayBuild, pause, matches);
    if (search == Search::NeedsQueries) {
        return std::nullopt;
    }
    if (search == Search::Stopped) {
        rescan_.spoil();
        return E_FAIL;
    }
    thread_local std::vector<std::uint32_t> earlier;
    earlier.clear();
    for (const Match& m : matches) {
        earlier.push_back(static_cast<std::uint32_t>(m.position));
    }
    rescan_.found(static_cast<std::size_t>(position), earlier); // ignored pairs too: the set may shrink
    reportMatches(path, rule, matches);
    return S_OK;
}

ScanEngine::Search ScanEngine::findRescanMatches(const Rule& rule, const analysis::TrackRecord& record,
                                                 std::size_t me, bool mayBuild,
                                                 const std::function<bool()>& pause,
                                                 std::vector<Match>& matches) const {
    thread_local std::vector<std::uint32_t> direct;
    thread_local std::vector<std::uint32_t> offered;
    // The same quarter of the earlier tracks past which the indexes give up.
    if (rule.allPairs || !rescan_.plan(me, pairRule(rule), me / 4, direct, offered)) {
        if (!rule.allPairs && mayBuild && !index_.queriesReady() && needsQueries(rule, me)) {
            return Search::NeedsQueries;
        }
        return findMatches(rule, record, me, pause, matches) ? Search::Done : Search::Stopped;
    }
    rescan_.countReused();
    const analysis::PreparedTrack mine = index_.prepared(me);
    for (const std::vector<std::uint32_t>* list : {&direct, &offered}) {
        for (std::size_t k = 0; k < list->size(); ++k) {
            if (k % kStopCheckInterval == kStopCheckInterval - 1 && control_.isStopped()) {
                return Search::Stopped;
            }
            considerPair(rule, record, mine, (*list)[k], true, matches);
        }
    }
    return Search::Done;
}

void ScanEngine::considerPair(const Rule& rule, const analysis::TrackRecord& record,
                              const analysis::PreparedTrack& mine, std::size_t i, bool content,
                              std::vector<Match>& matches) const {
    Match m{i, {}};
    const analysis::PreparedTrack other = index_.prepared(i);
    // A pair decided by its prints is a candidate only when they share words. Without the words
    // kept (verification turned on during the scan) the bounds choose and the scorer works the
    // words out: copies under the content threshold then wait for the next scan.
    const analysis::TrackRecord& theirs = *index_.entry(i).record;
    const bool candidate = content || rule.scorer.decidedByPrints(mine, other)
                               ? rule.scorer.isCandidate(mine, other)
                               : rule.scorer.isTagsCandidate(mine, other);
    if (candidate && (index_.printsIndexed() ? rule.scorer.score(record, theirs, m.scores,
                                                                 rule.scorer.decidedByPrints(mine, other))
                                             : rule.scorer.score(record, theirs, m.scores))) {
        matches.push_back(m);
    }
}

bool ScanEngine::needsQueries(const Rule& rule, std::size_t me) const {
    if (!rescan_.known(me) || !(pairRule(rule) == rescan_.rule())) {
        return true; // the first of the tracks that search: every later one will
    }
    // A known track with too many others to compare with (a few early in a scan whose workers
    // joined the tracks in another order) goes through every earlier track, until those loops have
    // cost about what building the indexes costs (folders walked in another order).
    const std::size_t looped = loopedUnbuilt_.fetch_add(me, std::memory_order_relaxed) + me;
    return looped > kIndexCostInPairs * index_.size();
}

bool ScanEngine::findMatches(const Rule& rule, const analysis::TrackRecord& record, std::size_t me,
                             const std::function<bool()>& pause, std::vector<Match>& matches) const {
    analysis::PreparedTrack mine = index_.prepared(me);
    const auto consider = [&](std::size_t i, bool content) {
        considerPair(rule, record, mine, i, content, matches);
    };
    // After a pause the forms may lie elsewhere (the arrays grow with the joins).
    bool alive = true;
    const std::function<bool()> pauseHere = [&] {
        alive = alive && pause();
        mine = index_.prepared(me);
        return alive;
    };
    thread_local std::vector<std::uint32_t> candidates;
    std::size_t contentNamed = 0;
    // Past a quarter of the earlier tracks, going through the indexes' lists costs more than the loop.
    const bool narrowed =
        !rule.allPairs && index_.candidates(me, rule.scorer, candidates, me / 4, &contentNamed, pauseHere);
    if (!alive || !pauseHere()) {
        return false;
    }
    if (narrowed) {
        for (std::size_t k = 0; k < std::min(kReadAhead, candidates.size()); ++k) {
            prefetchForms(index_.prepared(candidates[k]), k < contentNamed);
        }
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            if (k % kPauseInterval == kPauseInterval - 1 && !pauseHere()) {
                return false;
            }
            if (k + kReadAhead < candidates.size()) {
                prefetchForms(index_.prepared(candidates[k + kReadAhead]), k + kReadAhead < contentNamed);
            }
            consider(candidates[k], k < contentNamed);
        }
        return true;
    }
    const analysis::PairScorer::Rule& scoring = rule.scorer.rule();
    // The split loops know the bounds only, not the prints that decide pairs under verification.
    if (!rule.allPairs && scoring.byContent && scoring.byTags && !scoring.verify) {
        // Once the content prefilter is ready, only the tag index gives up.
        if (index_.contentCandidates(me, rule.scorer, candidates)) {
            return findSplitMatches(rule, record, me, &candidates, nullptr, matches);
        }
        if (index_.tagCandidates(me, rule.scorer, candidates, me / 4)) {
            return findSplitMatches(rule, record, me, nullptr, &candidates, matches);
        }
    }
    for (std::size_t i = 0; i < me; ++i) {
        if (i % kStopCheckInterval == kStopCheckInterval - 1 && (control_.isStopped() || !pauseHere())) {
            return false;
        }
        consider(i, true);
    }
    return true;
}

bool ScanEngine::findSplitMatches(const Rule& rule, const analysis::TrackRecord& record, std::size_t me,
                                  const std::vector<std::uint32_t>* contentNamed,
                                  const std::vector<std::uint32_t>* tagsNamed,
                                  std::vector<Match>& matches) const {
    const analysis::PreparedTrack mine = index_.prepared(me);
    // Both lists ascend: a walk through every earlier track meets them in step.
    const auto named = [](const std::vector<std::uint32_t>* list, std::size_t& next, std::size_t i) {
        if (list == nullptr) {
            return true;
        }
        const bool found = next < list->size() && (*list)[next] == i;
        next += found ? 1 : 0;
        return found;
    };
    std::size_t nextContent = 0;
    std::size_t nextTags = 0;
    for (std::size_t i = 0; i < me; ++i) {
        if (i % kStopCheckInterval == kStopCheckInterval - 1 && control_.isStopped()) {
            return false;
        }
        const bool content = named(contentNamed, nextContent, i);
        const bool tagged = named(tagsNamed, nextTags, i);
        const analysis::PreparedTrack other = index_.prepared(i);
        Match m{i, {}};
        // Each bound only where its index names the pair: elsewhere it cannot pass.
        if (((content && rule.scorer.isContentCandidate(mine, other)) ||
             (tagged && rule.scorer.isTagsCandidate(mine, other))) &&
            rule.scorer.score(record, *index_.entry(i).record, m.scores)) {
            matches.push_back(m);
        }
    }
    return true;
}

pair_list::PairRule ScanEngine::pairRule(const Rule& rule) const {
    const analysis::PairScorer::Rule& scoring = rule.scorer.rule();
    pair_list::PairRule key;
    key.method =
        (scoring.byTags ? ScanSettings::kByTags : 0) | (scoring.byContent ? ScanSettings::kByContent : 0);
    key.contentThreshold = scoring.contentThreshold;
    key.tagsThreshold = scoring.tagsThreshold;
    key.acousticThreshold = scoring.acousticThreshold;
    key.verify = scoring.verify;
    key.accurate = rule.accurate;
    key.printsIndexed = index_.printsIndexed();
    return key;
}

ScanEngine::Rule ScanEngine::currentRule() const {
    const std::int32_t method = ScanSettings::normalisedMethod(settings_.compareMethod.load());
    analysis::PairScorer::Rule scoring;
    scoring.byContent = (method & ScanSettings::kByContent) != 0;
    scoring.byTags = (method & ScanSettings::kByTags) != 0;
    scoring.contentThreshold = settings_.contentThreshold.load();
    scoring.tagsThreshold = settings_.tagsThreshold.load();
    scoring.verify = settings_.verifyMatches.load();
    scoring.acousticThreshold = settings_.acousticThreshold.load();
    return Rule{analysis::PairScorer(scoring), settings_.accurate.load(), settings_.allPairs.load()};
}

void ScanEngine::reportMatches(const std::u16string& path, const Rule& rule, std::vector<Match>& matches) {
    // Pairs go out in path order of the earlier track.
    std::sort(matches.begin(), matches.end(), [this](const Match& a, const Match& b) {
        return index_.entry(a.position).path < index_.entry(b.position).path;
    });
    for (const Match& m : matches) {
        const std::u16string_view otherPath = index_.entry(m.position).path;
        if (store_.isIgnored(path, otherPath)) {
            continue;
        }
        DuplicatePair pair;
        pair.path1 = path;
        pair.path2 = otherPath;
        pair.contentPercent = 100.0f * mapScore(m.scores.content, rule.scorer.rule().contentThreshold);
        pair.tagsPercent = 100.0f * mapScore(m.scores.tags, rule.scorer.rule().tagsThreshold);
        pair.experimentalPercent = rule.accurate ? -1.0f : -100.0f;
        pair.acousticPercent = m.scores.acoustic < 0.0f ? -100.0f : 100.0f * m.scores.acoustic;
        addPending(std::move(pair));
        if (rule.accurate) { // after the pair is pending, so its score can never overtake it
            queue(ScanJob::ComparePair, path, std::u16string(otherPath));
        }
    }
}

// One message per batch: only the pair that finds the list empty posts, and the front end takes
// every pair that joined it since.
void ScanEngine::addPending(DuplicatePair pair) {
    bool first = false;
    {
        std::lock_guard results(resultsLock_);
        first = pending_.pairs.empty();
        pending_.pairs.push_back(std::move(pair));
    }
    if (first) {
        post(UM_PAIRS_PENDING);
    }
}

void ScanEngine::addPending(ExperimentalScore score) {
    bool first = false;
    {
        std::lock_guard results(resultsLock_);
        first = pending_.scores.empty();
        pending_.scores.push_back(std::move(score));
    }
    if (first) {
        post(UM_SCORES_PENDING);
    }
}

HResult ScanEngine::runComparePair(analysis::CComparer& comparer, const std::u16string& path1,
                                   const std::u16string& path2) {
    float score = 0.0f;
    const HResult rc = comparer.compareExperimental(path1, path2, &score, control_.stopFlag());
    if (failed(rc) && control_.isStopped()) {
        return rc;
    }
    if (!control_.isStopped()) {
        ExperimentalScore update;
        update.path1 = path1;
        update.path2 = path2;
        if (succeeded(rc)) {
            update.experimentalPercent = score > 0.0f ? 100.0f * score : 0.0f;
        } else {
            // The row would otherwise wait for a score that never comes: it gets the reason
            // (a failure without one leaves "n/a").
            update.experimentalPercent = -100.0f;
            update.failure = comparer.lastFailure();
        }
        addPending(std::move(update));
    }
    return rc;
}

} // namespace tonemirror::engine
