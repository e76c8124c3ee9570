// End-to-end scan of a library whose every file is already in the cache (each record with its file
// stamp and acoustic print): walk, cache lookups and the comparison through the scan's indexes with
// method "tags and content". Each size runs in its own process so that its peak memory can be read.
// The baseline is the loop over every earlier track (the same scan with "all pairs" set), run on the
// same library in the same process up to --all-pairs-up-to tracks (default 30000), and the plain loop
// that scores every pair exactly, timed on a sample of pairs.
//
//   bench_scan [--verify] [--all-pairs-up-to N] [N...]   (default sizes: 1000 10000 30000)
//   bench_scan --check N   the indexes against all pairs for every method, with and without
//                          verification, on one library of N tracks; exit status 1 on any difference
//   --index-only           with sizes: load and index the library without comparing; peak memory
//   --method M             with sizes: scan with compare method M (1 tags, 2 content, 3 both: default)
//   --files-in DIR         the library's files under DIR (a memory file system for the large sizes)
//   bench_scan --add M N   a cached library of N tracks scanned, then again with M new tracks: the
//                          rescan with the pairs the first scan left beside the cache, and without
//                          them (every track compared again), and the new tracks' queries alone
//   bench_scan --content-groups N...   whether groups of tracks would narrow the content prefilter
//                          (ContentGroups.h): shares of groups whose bound passes, on records made
//                          as the library's
//   bench_scan --content-groups-of DIR   the same on the records of the cache DIR/cache.dat (a copy:
//                          opening a cache may write to it)
//   bench_scan --prefilter-reads N...   tracks the content prefilter reads a query (ContentGroups.h)
//   bench_scan --prefilter-reads-of DIR LEARN   the same on a cache's records, axes from LEARN tracks
//   bench_scan --prefilter-reads-versions N PIECES   the same on N versions of PIECES songs
//   bench_scan --content-stages N...   what each step of the content side prunes and costs per pair
//                          (ContentStages.h), on records made as the library's
// With sizes alone, a second scan of the unchanged library ("rescan") takes its pairs from the first.

#include "ContentGroups.h"
#include "ContentStages.h"
#include "analysis/ContentComparison.h"
#include "analysis/ContentSketch.h"
#include "analysis/ExcerptReader.h"
#include "analysis/TagComparison.h"
#include "audio/AudioSource.h"
#include "engine/RescanPairs.h"
#include "engine/ScanEngine.h"
#include "engine/ScanIndex.h"
#include "engine/TrackStore.h"

#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace tonemirror;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kWords[] = {
    "love",    "night",   "dance",    "heart",  "fire",     "rain",    "summer",  "blue",
    "dream",   "light",   "road",     "home",   "river",    "city",    "star",    "time",
    "baby",    "world",   "wild",     "gold",   "moon",     "sky",     "shadow",  "ocean",
    "angel",   "storm",   "winter",   "sweet",  "lonely",   "crazy",   "forever", "tonight",
    "morning", "broken",  "electric", "silver", "paradise", "memory",  "echo",    "horizon",
    "velvet",  "thunder", "garden",   "glass",  "midnight", "highway", "sunset",  "little",
    "secret",  "golden",  "feel",     "run",    "fall",     "rise",    "song",    "way",
    "down",    "away",    "again",    "still",  "dark",     "bright",  "young",   "old"};

// Words of titles, artists and albums as a real library has them: a few very common words (the list
// above) and a long tail of rarer ones, drawn with falling frequency (rank r about as often as 1 / r),
// so that most titles share a word or a letter group with many others but few share most of theirs.
class Vocabulary {
public:
    Vocabulary() {
        for (const char* w : kWords) {
            words_.emplace_back(w);
        }
        // The rest made of syllables (a consonant, a vowel, now and then a closing consonant), so that
        // letter groups are shared about as unevenly as in real words.
        static const char kConsonants[] = "bcdfghjklmnprstvwz";
        static const char kVowels[] = "aeiouy";
        std::mt19937 rng(4242);
        while (words_.size() < kSize) {
            std::string w;
            for (std::size_t k = 2 + rng() % 2; k-- > 0;) {
                w += kConsonants[rng() % (std::size(kConsonants) - 1)];
                w += kVowels[rng() % (std::size(kVowels) - 1)];
                if (rng() % 3 == 0) {
                    w += kConsonants[rng() % (std::size(kConsonants) - 1)];
                }
            }
            words_.push_back(w);
        }
        std::vector<double> weights;
        for (std::size_t r = 0; r < kSize; ++r) {
            weights.push_back(1.0 / static_cast<double>(r + 10));
        }
        pick_ = std::discrete_distribution<std::size_t>(weights.begin(), weights.end());
    }

    std::u16string words(std::mt19937& rng, int count) {
        std::string s;
        for (int i = 0; i < count; ++i) {
            s += (i > 0 ? " " : "") + words_[pick_(rng)];
        }
        return std::u16string(s.begin(), s.end());
    }

private:
    static constexpr std::size_t kSize = 20000;
    std::vector<std::string> words_;
    std::discrete_distribution<std::size_t> pick_;
};

std::u16string words(std::mt19937& rng, int count) {
    static Vocabulary vocabulary;
    return vocabulary.words(rng, count);
}

// Fingerprints shaped like real music: a falling spectral envelope with its own tilt and knee, a few
// instruments each with a harmonic series on its own fundamental, a noise floor; a level course with
// sections, and high section-to-section correlations. Unrelated records made this way correlate about
// as little as the analysed songs of the demo library do.
analysis::TrackRecord makeRecord(std::mt19937& rng, const std::vector<std::u16string>& artists) {
    analysis::TrackRecord r;
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const float slope = 0.8f + 1.2f * u(rng);
    const float knee = 4.0f + 60.0f * u(rng);
    const int instruments = 2 + static_cast<int>(rng() % 3);
    float f0[4];
    float decay[4];
    float gain[4];
    for (int i = 0; i < instruments; ++i) {
        f0[i] = 4.0f + 76.0f * u(rng);
        decay[i] = 0.5f + 1.5f * u(rng);
        gain[i] = 0.3f + u(rng);
    }
    std::array<float, analysis::kComparedSpectrumBins> spectrum;
    for (std::size_t k = 0; k <= 1024; ++k) {
        const float x = static_cast<float>(k);
        const float envelope = 1.0f / std::pow(1.0f + x / knee, slope);
        float m = 0.3f * envelope * (0.5f + u(rng));
        for (int i = 0; i < instruments; ++i) {
            const float h = x / f0[i];
            const float d = (h - std::round(h)) * f0[i] / 1.5f;
            m += gain[i] * envelope * std::exp(-d * d) /
                 std::pow(std::max(1.0f, std::round(h)), decay[i] - 0.5f);
        }
        spectrum[k] = m * (x + 1.0f) / 2048.0f * 40.0f;
    }
    r.meanSpectrum.assign(spectrum);
    float level = 0.05f + 0.2f * u(rng);
    for (std::size_t i = 0; i < analysis::kLevelProfileSize; ++i) {
        if (i % 12 == 0) {
            level = 0.05f + 0.25f * u(rng);
        }
        r.levelProfile[i] = level * (0.9f + 0.2f * u(rng));
    }
    for (float& c : r.sectionCorrelations) {
        c = 0.6f + 0.38f * u(rng);
    }
    std::uniform_int_distribution<std::size_t> artist(0, artists.size() - 1);
    r.titleText = words(rng, 1 + static_cast<int>(rng() % 4));
    r.artistText = artists[artist(rng)];
    r.albumText = words(rng, 2);
    r.nameText = r.artistText + u" - " + r.titleText;
    // The long print a verifying scan keeps: the opening up to the print's span.
    r.acousticPrint.resize(static_cast<std::size_t>(analysis::kAcousticSpanLength / 22050.0 *
                                                    analysis::kAcousticFramesPerSecond));
    for (auto& w : r.acousticPrint) {
        w = static_cast<std::uint32_t>(rng());
    }
    r.acousticPrintLong = true;
    return r;
}

// A re-encoded copy's print: the same frames a little later, one bit in ten flipped.
analysis::AcousticPrint copiedPrint(const analysis::AcousticPrint& original, std::mt19937& rng) {
    analysis::AcousticPrint copy(original.begin() + static_cast<std::ptrdiff_t>(rng() % 16), original.end());
    std::bernoulli_distribution flip(0.1);
    for (auto& w : copy) {
        for (int b = 0; b < 32; ++b) {
            w ^= flip(rng) ? (1u << b) : 0u;
        }
    }
    return copy;
}

analysis::FileStamp stampOf(const fs::path& file) {
    analysis::FileStamp stamp;
    if (const auto id = os::identify(file)) {
        stamp.known = true;
        stamp.size = id->size;
        stamp.modifiedSeconds = id->modifiedSeconds;
        stamp.modifiedNanoseconds = id->modifiedNanoseconds;
    }
    return stamp;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Bytes the allocator has handed out and not taken back: what the tables and indexes hold.
double heapMb() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

long peakMemoryKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Order-independent digest of the reported pairs, so that two builds can be shown to report the same
// pairs. The scores are left out: which file of a pair is the newer one depends on the workers' timing,
// and the scores may differ in their last bits with it.
std::uint64_t digestOf(const std::vector<engine::DuplicatePair>& pairs) {
    std::uint64_t digest = 0;
    for (const auto& p : pairs) {
        std::uint64_t h = 1469598103934665603ull;
        // File names only (the library's folder changes from run to run); either file may come first,
        // depending on which the workers took first.
        const auto name = [](const std::u16string& path) { return path.substr(path.rfind(u'/') + 1); };
        const std::u16string text =
            std::min(name(p.path1), name(p.path2)) + u"|" + std::max(name(p.path1), name(p.path2));
        for (char16_t c : text) {
            h = (h ^ c) * 1099511628211ull;
        }
        digest += h;
    }
    return digest;
}

class NullSink : public engine::MessageSink {
public:
    void post(std::uint32_t) override {}
};

// Exact scores of pairs in the plain way, as the baseline: pairs per second on one thread.
double baselinePairsPerSecond(const std::vector<analysis::TrackRecord>& records) {
    const std::size_t pairs = 200000;
    const std::size_t n = records.size();
    volatile float sink = 0.0f;
    const auto start = Clock::now();
    std::size_t done = 0;
    for (std::size_t i = 1; i < n && done < pairs; ++i) {
        for (std::size_t j = 0; j < i && done < pairs; ++j, ++done) {
            sink = sink + analysis::compareContent(records[i], records[j]) +
                   analysis::compareTags(records[i], records[j]);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(done) / seconds;
}

engine::StorageLocations storageIn(const fs::path& root) {
    engine::StorageLocations where;
    where.cacheFile = root / "cache.dat";
    where.ignoreListFile = root / "ignores.list";
    return where;
}

// One track of the library: about one in thirty is another copy of an earlier one (re-encoded: a
// little noise), the rest are new pieces.
analysis::TrackRecord nextRecord(const std::vector<analysis::TrackRecord>& records,
                                 const std::vector<std::u16string>& artists, std::mt19937& rng) {
    if (records.empty() || rng() % 30 != 0) {
        analysis::TrackRecord r = makeRecord(rng, artists);
        if (!records.empty() && rng() % 20 == 0) {
            // Another piece of the same name (a cover, a namesake).
            r.titleText = records[rng() % records.size()].titleText;
        }
        return r;
    }
    analysis::TrackRecord copy = records[rng() % records.size()];
    if (rng() % 4 == 0) {
        // Tagged anew: another album, a remark in the title.
        copy.albumText = words(rng, 2);
        copy.titleText += u" (remastered)";
    }
    std::normal_distribution<float> noise(0.0f, 0.02f);
    // A draw for every bin of the file's spectrum, so that a size makes the same library (and digest)
    // as when records held all of them.
    std::array<float, analysis::kComparedSpectrumBins> spectrum = copy.meanSpectrum.values();
    for (std::size_t k = 0; k < analysis::kSpectrumSize; ++k) {
        const float f = 1.0f + noise(rng);
        if (k < spectrum.size()) {
            spectrum[k] *= f;
        }
    }
    copy.meanSpectrum.assign(spectrum);
    for (float& v : copy.levelProfile) {
        v *= 1.0f + noise(rng);
    }
    copy.acousticPrint = copiedPrint(copy.acousticPrint, rng);
    return copy;
}

// Records for timing the exact scores, made as the library's are.
std::vector<analysis::TrackRecord> sampleRecords(std::size_t n) {
    std::mt19937 rng(777);
    std::vector<std::u16string> artists;
    for (int i = 0; i < 400; ++i) {
        artists.push_back(words(rng, 1 + i % 2));
    }
    std::vector<analysis::TrackRecord> records;
    while (records.size() < n) {
        records.push_back(nextRecord(records, artists, rng));
    }
    return records;
}

// Versions of a few pieces: each record a copy of one of `pieces` songs with a little noise (as the
// library's copies get), as in a collection of many recordings of the same works.
std::vector<analysis::TrackRecord> versionRecords(std::size_t n, std::size_t pieces) {
    std::mt19937 rng(778);
    std::vector<std::u16string> artists{u"someone"};
    std::vector<analysis::TrackRecord> songs;
    while (songs.size() < pieces) {
        songs.push_back(makeRecord(rng, artists));
    }
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<analysis::TrackRecord> records;
    while (records.size() < n) {
        analysis::TrackRecord r = songs[rng() % songs.size()];
        std::array<float, analysis::kComparedSpectrumBins> spectrum = r.meanSpectrum.values();
        for (float& v : spectrum) {
            v *= 1.0f + noise(rng);
        }
        r.meanSpectrum.assign(spectrum);
        for (float& v : r.levelProfile) {
            v *= 1.0f + noise(rng);
        }
        records.push_back(std::move(r));
    }
    return records;
}

// Where the library's files go (--files-in): by default beside the cache. Creating a million files
// on a disk's file system takes most of an hour; a memory file system takes minutes, and empty
// files there take no pages.
fs::path gFilesIn;
// --index-only: load the cache and index every track, without comparing (sizes whose scan would take
// hours while the content loop compares all pairs).
bool gIndexOnly = false;
// --progress: the first scan prints, at every tenth of the library, how far it got and the CPU time a
// track of that stretch took, so that a partial run of a large library shows how its cost grows.
bool gProgress = false;
// --method M: the compare method of the timed scans (ScanSettings bits; default tags and content).
std::int32_t gMethod = engine::ScanSettings::kByTags | engine::ScanSettings::kByContent;

fs::path filesRoot(const fs::path& root) {
    return gFilesIn.empty() ? root : gFilesIn / root.filename();
}

void removeLibrary(const fs::path& root) {
    fs::remove_all(root);
    fs::remove_all(filesRoot(root));
}

// A library of n empty files under root/library and a cache that knows every one of them; with
// `added`, that many more files under root/new, whose records go to a cache of their own under
// root/added (files the library gained since it was cached).
std::vector<analysis::TrackRecord> makeCachedLibrary(const fs::path& root, std::size_t n,
                                                     std::size_t added = 0) {
    fs::create_directories(root);
    fs::create_directories(filesRoot(root) / "library");
    std::mt19937 rng(12345);
    // About fifteen tracks per artist, as in a collection.
    std::vector<std::u16string> artists;
    for (std::size_t i = 0; i < std::max<std::size_t>(400, n / 15); ++i) {
        artists.push_back(words(rng, 1 + static_cast<int>(i % 2)));
    }
    std::vector<analysis::TrackRecord> records;
    records.reserve(n + added);
    engine::TrackStore store(storageIn(root));
    store.openCache();
    fs::create_directories(root / "added");
    engine::TrackStore later(storageIn(root / "added"));
    later.openCache();
    for (std::size_t i = 0; i < n + added; ++i) {
        const fs::path dir = filesRoot(root) / (i < n ? "library" : "new") /
                             ("artist" + std::to_string(i % 97)) / ("album" + std::to_string(i % 13));
        fs::create_directories(dir);
        const fs::path file = dir / ("track" + std::to_string(i) + ".mp3");
        std::ofstream{file};
        records.push_back(nextRecord(records, artists, rng));
        records.back().fileStamp = stampOf(file);
        (i < n ? store : later).appendRecord(os::fromNativePath(file), records.back());
    }
    return records;
}

// Makes the library in a process of its own, so that the peak memory measured afterwards is the
// scan's alone. Returns the seconds it took.
double makeLibraryAside(const fs::path& root, std::size_t n, std::size_t added = 0) {
    const auto start = Clock::now();
    if (const pid_t maker = fork(); maker == 0) {
        makeCachedLibrary(root, n, added);
        _exit(0);
    } else {
        int status = 0;
        waitpid(maker, &status, 0);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ScanOutcome {
    double heapMb = 0.0; // in use at the end of the scan, the scan's index still alive
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    std::size_t reported = 0;
    std::uint64_t digest = 0;
    std::size_t reused = 0;            // tracks whose pairs came from the last scan's list
    std::uint64_t exclusiveGrants = 0; // of the table lock, during the scan
    std::uint64_t waitedGrants = 0;    // of those, the ones that waited for comparisons to end
    double exclusiveSeconds = 0.0;     // the lock held by writers
    double drainSeconds = 0.0;         // a writer waiting for comparisons to end
    std::set<std::u16string> pairs;    // "name|name", kept only when asked for
};

struct ScanKind {
    std::int32_t method = engine::ScanSettings::kByTags | engine::ScanSettings::kByContent;
    bool verify = false;
    bool allPairs = false;
    bool keepPairs = false;
    std::size_t progressOf = 0; // the files of the library, to show the scan's progress
};

std::u16string pairName(const engine::DuplicatePair& p) {
    const auto name = [](const std::u16string& path) { return path.substr(path.rfind(u'/') + 1); };
    return std::min(name(p.path1), name(p.path2)) + u"|" + std::max(name(p.path1), name(p.path2));
}

// Prints the scan's progress at every tenth of `total` files (none when total is 0).
struct Progress {
    std::size_t total;
    Clock::time_point start;
    double cpuStart;
    std::size_t shownTenths = 0;
    std::size_t lastDone = 0;
    double lastCpu = 0.0;

    void show(std::int32_t filesDone) {
        const std::size_t done = static_cast<std::size_t>(std::max(filesDone, 0));
        if (total == 0 || done * 10 < (shownTenths + 1) * total) {
            return;
        }
        shownTenths = done * 10 / total;
        const double cpu = cpuSeconds() - cpuStart;
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf(
            "    %3zu %% %9zu tracks | wall %8.1f s, cpu %8.1f s | %.1f cpu-us a track since the last line\n",
            shownTenths * 10, done, wall, cpu,
            (cpu - lastCpu) * 1e6 / static_cast<double>(std::max<std::size_t>(done - lastDone, 1)));
        std::fflush(stdout);
        lastDone = done;
        lastCpu = cpu;
    }
};

// Scans the library with every track taken from the cache (no decoder is there to read a file).
ScanOutcome timeCachedScan(engine::TrackStore& store, const std::vector<fs::path>& folders,
                           const ScanKind& kind) {
    NullSink sink;
    ScanOutcome out;
    engine::ScanEngine engine(
        store,
        [] { return std::make_unique<audio::AudioSource>(std::vector<audio::AudioSource::Decoder>{}); },
        &sink);
    const auto take = [&] {
        const auto pairs = engine.takePendingResults().pairs;
        out.reported += pairs.size();
        out.digest += digestOf(pairs);
        if (kind.keepPairs) {
            for (const auto& p : pairs) {
                out.pairs.insert(pairName(p));
            }
        }
    };
    engine.settings().verifyMatches = kind.verify;
    engine.settings().compareMethod = kind.method;
    engine.settings().allPairs = kind.allPairs;
    engine.createPool(0);
    const auto start = Clock::now();
    const double cpuStart = cpuSeconds();
    std::vector<std::u16string> paths;
    for (const fs::path& folder : folders) {
        paths.push_back(os::fromNativePath(folder));
    }
    const engine::TableLock::State lockBefore = store.lock().state();
    engine.startScan(paths);
    Progress progress{kind.progressOf, start, cpuStart};
    while (engine.control().jobCount() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        take();
        progress.show(engine.counters().filesDone);
    }
    out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    out.cpuSeconds = cpuSeconds() - cpuStart;
    take();
    out.heapMb = heapMb();
    out.reused = engine.tracksFromLastScan();
    const engine::TableLock::State lockAfter = store.lock().state();
    out.exclusiveGrants = lockAfter.exclusiveGrants - lockBefore.exclusiveGrants;
    out.waitedGrants = lockAfter.waitedGrants - lockBefore.waitedGrants;
    out.exclusiveSeconds =
        std::chrono::duration<double>(lockAfter.exclusiveHeld - lockBefore.exclusiveHeld).count();
    out.drainSeconds = std::chrono::duration<double>(lockAfter.draining - lockBefore.draining).count();
    return out;
}

fs::path benchRoot() {
    return fs::temp_directory_path() / ("tm-bench-scan-" + std::to_string(::getpid()));
}

void printScan(const char* what, const ScanOutcome& scan, double pairs) {
    std::printf("  %-9s scan %7.2f s, cpu %7.2f s, %8.2f M pairs/cpu-s | reported %zu (digest %016llx)\n",
                what, scan.seconds, scan.cpuSeconds, pairs / scan.cpuSeconds / 1e6, scan.reported,
                static_cast<unsigned long long>(scan.digest));
}

// What a loaded cache weighs, before any scan.
struct Loaded {
    double seconds = 0.0;
    double heapBeforeMb = 0.0;
    double tableMb = 0.0;
    long peakMb = 0;
};

// What a scan keeps: the table and every track's place in the index, without comparing.
void printIndexOnly(const engine::TrackStore& store, std::size_t n, bool verify, const Loaded& loaded) {
    const double heapLoaded = heapMb();
    engine::ScanIndex index;
    index.clear(verify);
    index.reserve(store.table().size());
    const auto start = Clock::now();
    for (const auto& [path, record] : store.table()) {
        index.append(path, record);
    }
    const double indexSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double perTrack = 1024.0 * 1024.0 / static_cast<double>(n);
    std::printf("%7zu tracks | load %6.2f s | index %6.2f s | peak %ld MB (%ld MB loaded) | memory a "
                "track: table %.0f B, scan index %.0f B\n",
                n, loaded.seconds, indexSeconds, peakMemoryKb() / 1024, loaded.peakMb,
                loaded.tableMb * perTrack, (heapMb() - heapLoaded) * perTrack);
}

void printFirstScan(std::size_t n, double pairs, double baseline, const Loaded& loaded,
                    const ScanOutcome& scan) {
    std::printf("%7zu tracks %13.0f pairs | load %6.2f s | peak %ld MB (%ld MB loaded) | exact scoring of "
                "every pair: "
                "%5.3f M pairs/cpu-s\n",
                n, pairs, loaded.seconds, peakMemoryKb() / 1024, loaded.peakMb, baseline / 1e6);
    const double perTrack = 1024.0 * 1024.0 / static_cast<double>(n);
    std::printf("  memory a track: table %.0f B, scan index %.0f B\n", loaded.tableMb * perTrack,
                (scan.heapMb - loaded.heapBeforeMb - loaded.tableMb) * perTrack);
    std::printf(
        "  fixed parts: record %zu B (spectrum %zu), content key %zu, content sketch %zu, tag sketch %zu\n",
        sizeof(analysis::TrackRecord), sizeof(analysis::TrackRecord::meanSpectrum),
        sizeof(analysis::ContentKey), sizeof(analysis::ContentSketch), sizeof(analysis::TagSketch));
    printScan("indexed", scan, pairs);
    std::printf("  table lock: %.3f exclusive grants a track, %.3f after waiting for comparisons to end\n",
                static_cast<double>(scan.exclusiveGrants) / static_cast<double>(n),
                static_cast<double>(scan.waitedGrants) / static_cast<double>(n));
    std::printf("  table lock: held by writers %.2f s, a writer waiting for comparisons %.2f s, of %.2f s\n",
                scan.exclusiveSeconds, scan.drainSeconds, scan.seconds);
    std::fflush(stdout);
}

const char* samePairs(const ScanOutcome& a, const ScanOutcome& b) {
    return a.digest == b.digest && a.reported == b.reported ? "same pairs" : "PAIRS DIFFER";
}

void runOne(std::size_t n, bool verify, std::size_t allPairsUpTo) {
    const fs::path root = benchRoot();
    removeLibrary(root);
    const double making = makeLibraryAside(root, n);
    std::printf("%7zu tracks: library made in %.1f s\n", n, making);
    const double baseline = baselinePairsPerSecond(sampleRecords(700));
    const double pairs = static_cast<double>(n) * static_cast<double>(n - 1) / 2.0;

    Loaded loaded;
    loaded.heapBeforeMb = heapMb();
    engine::TrackStore store(storageIn(root));
    const auto loadStart = Clock::now();
    store.openCache();
    loaded.seconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    loaded.tableMb = heapMb() - loaded.heapBeforeMb;
    loaded.peakMb = peakMemoryKb() / 1024;
    if (gIndexOnly) {
        printIndexOnly(store, n, verify, loaded);
        std::fflush(stdout);
        removeLibrary(root);
        return;
    }
    ScanKind kind;
    kind.verify = verify;
    kind.method = gMethod;
    kind.progressOf = gProgress ? n : 0;
    const std::vector<fs::path> library = {filesRoot(root) / "library"};
    const ScanOutcome scan = timeCachedScan(store, library, kind);
    printFirstScan(n, pairs, baseline, loaded, scan);
    kind.progressOf = 0;

    const ScanOutcome rescan = timeCachedScan(store, library, kind);
    printScan("rescan", rescan, pairs);
    std::printf(
        "  rescan, nothing changed: %zu tracks from the list, wall x%.3f, cpu x%.3f of the first scan, %s\n",
        rescan.reused, rescan.seconds / scan.seconds, rescan.cpuSeconds / scan.cpuSeconds,
        samePairs(rescan, scan));
    std::fflush(stdout);
    if (n <= allPairsUpTo) {
        kind.allPairs = true;
        const ScanOutcome reference = timeCachedScan(store, library, kind);
        printScan("all pairs", reference, pairs);
        std::printf("  indexed / all pairs: wall x%.3f, cpu x%.3f, %s\n", scan.seconds / reference.seconds,
                    scan.cpuSeconds / reference.cpuSeconds, samePairs(reference, scan));
    }
    std::fflush(stdout);
    removeLibrary(root);
}

// The added tracks' comparisons alone, as a scan makes them once the library has joined it: each new
// track is appended to an index of the tracks before it and compared with the candidates the index
// names (or with every earlier track where it cannot narrow the search).
struct QueryCost {
    double cpuSeconds = 0.0;
    std::size_t narrowed = 0;
    std::size_t candidates = 0;
    std::size_t reported = 0;
};

QueryCost timeQueries(const engine::TrackTable& table, const std::set<std::u16string>& added) {
    analysis::PairScorer::Rule rule;
    rule.byContent = rule.byTags = true;
    rule.contentThreshold = rule.tagsThreshold = 0.75f;
    const analysis::PairScorer scorer(rule);
    engine::ScanIndex index;
    index.reserve(table.size());
    for (const auto& [path, record] : table) {
        if (added.count(path) == 0) {
            index.append(path, record);
        }
    }
    QueryCost cost;
    std::vector<std::uint32_t> candidates;
    const double start = cpuSeconds();
    for (const auto& [path, record] : table) {
        if (added.count(path) == 0) {
            continue;
        }
        const std::size_t me = index.size();
        index.append(path, record);
        const bool narrowed = index.candidates(me, scorer, candidates, me / 4);
        if (!narrowed) {
            candidates.resize(me);
            for (std::size_t i = 0; i < me; ++i) {
                candidates[i] = static_cast<std::uint32_t>(i);
            }
        }
        cost.narrowed += narrowed ? 1 : 0;
        cost.candidates += candidates.size();
        for (const std::uint32_t i : candidates) {
            analysis::PairScores scores;
            cost.reported += scorer.isCandidate(index.prepared(me), index.prepared(i)) &&
                                     scorer.score(record, *index.entry(i).record, scores)
                                 ? 1
                                 : 0;
        }
    }
    cost.cpuSeconds = cpuSeconds() - start;
    return cost;
}

// A cached library of n tracks scanned, then `added` files it gained since (analysed, in the cache)
// scanned with it: what a rescan costs, and the new tracks' share of it.
void runAdd(std::size_t n, std::size_t added) {
    const fs::path root = benchRoot();
    removeLibrary(root);
    const double making = makeLibraryAside(root, n, added);
    engine::TrackStore store(storageIn(root));
    const auto loadStart = Clock::now();
    store.openCache();
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    std::printf("%zu tracks + %zu new: library made in %.1f s, loaded in %.2f s\n", n, added, making,
                loadSeconds);
    const ScanOutcome before = timeCachedScan(store, {filesRoot(root) / "library"}, ScanKind{});
    printScan("library", before, static_cast<double>(n) * static_cast<double>(n - 1) / 2.0);
    std::set<std::u16string> addedPaths;
    {
        engine::TrackStore later(storageIn(root / "added"));
        later.openCache();
        engine::TableLockHolder hold(store.lock());
        for (const auto& [path, record] : later.table()) {
            store.appendRecord(path, record);
            store.table().insert(path, record);
            addedPaths.insert(path);
        }
    }
    // The same rescan without the first scan's list, then with it.
    const fs::path list = engine::RescanPairs::fileFor(store.cachePath());
    const fs::path aside = root / "library-pairs";
    fs::copy_file(list, aside, fs::copy_options::overwrite_existing);
    fs::remove(list);
    const std::vector<fs::path> both{filesRoot(root) / "library", filesRoot(root) / "new"};
    const ScanOutcome after = timeCachedScan(store, both, ScanKind{});
    fs::copy_file(aside, list, fs::copy_options::overwrite_existing);
    const ScanOutcome reusing = timeCachedScan(store, both, ScanKind{});
    const double all = static_cast<double>(n + added);
    printScan("rescan", after, all * (all - 1.0) / 2.0);
    std::printf("  without the list every pair is compared again: cpu x%.3f of the library's scan\n",
                after.cpuSeconds / before.cpuSeconds);
    printScan("with list", reusing, all * (all - 1.0) / 2.0);
    std::printf(
        "  with the list (%zu of %zu tracks from it): wall %.2f s, cpu %.2f s: wall x%.3f, cpu x%.3f of "
        "the rescan without it, %s\n",
        reusing.reused, n + added, reusing.seconds, reusing.cpuSeconds, reusing.seconds / after.seconds,
        reusing.cpuSeconds / after.cpuSeconds,
        reusing.digest == after.digest && reusing.reported == after.reported ? "same pairs" : "PAIRS DIFFER");
    QueryCost queries;
    {
        engine::SharedTableLockHolder hold(store.lock());
        queries = timeQueries(store.table(), addedPaths);
    }
    std::printf("  the %zu new tracks' queries alone: cpu %.2f s (%.2f ms a track), %zu of them narrowed, "
                "%.0f candidates a track, %zu pairs\n",
                added, queries.cpuSeconds, 1000.0 * queries.cpuSeconds / static_cast<double>(added),
                queries.narrowed, static_cast<double>(queries.candidates) / static_cast<double>(added),
                queries.reported);
    std::fflush(stdout);
    removeLibrary(root);
}

// Every method, with and without verification: the indexes must report the very pairs of the loop
// over all earlier tracks. Returns the number of differing runs.
int check(std::size_t n) {
    const fs::path root = benchRoot();
    removeLibrary(root);
    makeCachedLibrary(root, n);
    engine::TrackStore store(storageIn(root));
    store.openCache();
    int differing = 0;
    for (const std::int32_t method : {engine::ScanSettings::kByTags, engine::ScanSettings::kByContent,
                                      engine::ScanSettings::kByTags | engine::ScanSettings::kByContent}) {
        for (const bool verify : {false, true}) {
            ScanKind kind{method, verify, false, true};
            const ScanOutcome indexed = timeCachedScan(store, {filesRoot(root) / "library"}, kind);
            kind.allPairs = true;
            const ScanOutcome reference = timeCachedScan(store, {filesRoot(root) / "library"}, kind);
            // Again through the indexes, with the pairs the reference left.
            kind.allPairs = false;
            const ScanOutcome rescan = timeCachedScan(store, {filesRoot(root) / "library"}, kind);
            const bool same = indexed.pairs == reference.pairs && rescan.pairs == reference.pairs;
            differing += same ? 0 : 1;
            std::printf("method %d%s: %zu pairs indexed in %.2f s, %zu pairs all-pairs in %.2f s, %zu pairs "
                        "rescanned in %.2f s (%zu tracks from the list): %s\n",
                        method, verify ? " verified" : "", indexed.pairs.size(), indexed.seconds,
                        reference.pairs.size(), reference.seconds, rescan.pairs.size(), rescan.seconds,
                        rescan.reused, same ? "same" : "DIFFERENT");
            std::fflush(stdout);
        }
    }
    removeLibrary(root);
    return differing;
}

// What the command line asks for: timed scans of the given sizes (the default), or one of the modes.
enum class Mode { Scans, Check, Add, Groups, GroupsOf, Reads, ReadsOf, ReadsVersions, Stages };

struct Options {
    Mode mode = Mode::Scans;
    std::vector<std::size_t> sizes;
    bool verify = false;
    std::size_t allPairsUpTo = 30000;
    fs::path folder; // --content-groups-of, --prefilter-reads-of
    // --check: tracks; --add: files added; --prefilter-reads-of: tracks learned from;
    // --prefilter-reads-versions: tracks.
    std::size_t first = 0;
    std::size_t second = 0; // --add: library; --prefilter-reads-versions: pieces
};

// The first mode named wins; the settings are taken wherever they stand.
Options parseOptions(int argc, char** argv) {
    Options o;
    const auto mode = [&](Mode m) {
        o.mode = o.mode == Mode::Scans ? m : o.mode;
        return o.mode == m;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verify") {
            o.verify = true;
        } else if (arg == "--check" && i + 1 < argc) {
            const std::size_t n = std::stoul(argv[++i]);
            o.first = mode(Mode::Check) ? n : o.first;
        } else if (arg == "--add" && i + 2 < argc) {
            const std::size_t added = std::stoul(argv[++i]);
            const std::size_t library = std::stoul(argv[++i]);
            if (mode(Mode::Add)) {
                o.first = added;
                o.second = library;
            }
        } else if (arg == "--content-groups") {
            mode(Mode::Groups);
        } else if (arg == "--content-groups-of" && i + 1 < argc) {
            const fs::path folder = argv[++i];
            o.folder = mode(Mode::GroupsOf) ? folder : o.folder;
        } else if (arg == "--prefilter-reads-of" && i + 2 < argc) {
            const fs::path folder = argv[++i];
            const std::size_t learnAt = std::stoul(argv[++i]);
            if (mode(Mode::ReadsOf)) {
                o.folder = folder;
                o.first = learnAt;
            }
        } else if (arg == "--prefilter-reads-versions" && i + 2 < argc) {
            const std::size_t n = std::stoul(argv[++i]);
            const std::size_t pieces = std::stoul(argv[++i]);
            if (mode(Mode::ReadsVersions)) {
                o.first = n;
                o.second = pieces;
            }
        } else if (arg == "--prefilter-reads") {
            mode(Mode::Reads);
        } else if (arg == "--content-stages") {
            mode(Mode::Stages);
        } else if (arg == "--method" && i + 1 < argc) {
            gMethod = std::stoi(argv[++i]);
        } else if (arg == "--progress") {
            gProgress = true;
        } else if (arg == "--index-only") {
            gIndexOnly = true;
        } else if (arg == "--files-in" && i + 1 < argc) {
            gFilesIn = argv[++i];
        } else if (arg == "--all-pairs-up-to" && i + 1 < argc) {
            o.allPairsUpTo = std::stoul(argv[++i]);
        } else if (arg[0] != '-') {
            o.sizes.push_back(std::stoul(arg));
        }
    }
    if (o.sizes.empty()) {
        o.sizes = {1000, 10000, 30000};
    }
    return o;
}

// Every record of the cache in `folder`.
std::vector<analysis::TrackRecord> recordsIn(const fs::path& folder) {
    engine::TrackStore store(storageIn(folder));
    store.openCache();
    std::vector<analysis::TrackRecord> records;
    for (const auto& entry : store.table()) {
        records.push_back(entry.second);
    }
    return records;
}

// Each size in a child process of its own, so that one size's memory does not weigh on the next.
void runScans(const Options& o) {
    std::printf("scan of a fully cached library, method %s, thresholds 75 %%, %s, %u threads\n",
                gMethod == engine::ScanSettings::kByTags      ? "tags"
                : gMethod == engine::ScanSettings::kByContent ? "content"
                                                              : "tags and content",
                o.verify ? "matches verified by sound" : "no verification",
                2 * std::thread::hardware_concurrency());
    std::fflush(stdout); // the children must not print the parent's buffered lines again
    for (std::size_t n : o.sizes) {
        const pid_t child = fork();
        if (child == 0) {
            runOne(n, o.verify, o.allPairsUpTo);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
}

int run(const Options& o) {
    switch (o.mode) {
    case Mode::Check:
        return check(o.first) == 0 ? 0 : 1;
    case Mode::Add:
        runAdd(o.second, o.first);
        return 0;
    case Mode::GroupsOf:
        bench::printContentGroupPasses(recordsIn(o.folder));
        return 0;
    case Mode::ReadsOf:
        bench::printPrefilterReads(recordsIn(o.folder), o.first);
        return 0;
    case Mode::ReadsVersions:
        bench::printPrefilterReads(versionRecords(o.first, o.second),
                                   engine::ContentPrefilter::kDefaultLearnAt);
        return 0;
    case Mode::Groups:
    case Mode::Reads:
    case Mode::Stages:
        for (std::size_t n : o.sizes) {
            if (o.mode == Mode::Groups) {
                bench::printContentGroupPasses(sampleRecords(n));
            } else if (o.mode == Mode::Reads) {
                bench::printPrefilterReads(sampleRecords(n), engine::ContentPrefilter::kDefaultLearnAt);
            } else {
                bench::printContentStages(sampleRecords(n), 0.75f);
            }
        }
        return 0;
    case Mode::Scans:
        runScans(o);
        return 0;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return run(parseOptions(argc, argv));
}
