#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "engine/Playlist.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "shell/PairRowIndex.h"
#include "shell/ResultsExport.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace tonemirror::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a stop may take before the scan ends without the jobs still running.
constexpr std::chrono::seconds kStopGrace{3};

volatile std::sig_atomic_t gInterrupts = 0;

// The first Ctrl-C stops the scan, the second ends it at once with what was found (also while the
// report is being written), a third kills the program.
void onInterrupt(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts >= 3) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

// The engine's messages, queued for the command's own thread.
class MessageQueue : public engine::MessageSink {
public:
    void post(std::uint32_t message) override {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        }
        ready_.notify_one();
    }
    // Waits up to `timeout` for messages and returns them all.
    std::deque<std::uint32_t> wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return !messages_.empty(); });
        std::deque<std::uint32_t> taken;
        taken.swap(messages_);
        return taken;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::uint32_t> messages_;
};

struct ScanOptions {
    engine::ScanPreferences comparison; // the desktop program's defaults
    std::string format = "text";
    std::string output;
    std::string cacheFile;
    bool noCache = false;
    std::string ignoreList;
    bool quiet = false;
    unsigned threads = 0;
    std::vector<std::string> folders;
};

const char* const kUsage =
    "usage: tonemirror-cli scan [--method tags|content|both] [--content-threshold P] [--tags-threshold P]\n"
    "                           [--accurate] [--verify [--acoustic-threshold P]]\n"
    "                           [--format text|json|csv|m3u] [--output FILE]\n"
    "                           [--cache FILE | --no-cache] [--ignore-list FILE] [--threads N] [--quiet]\n"
    "                           FOLDER...";

bool parsePercent(const std::string& text, int* value) {
    try {
        std::size_t used = 0;
        const int v = std::stoi(text, &used);
        if (used != text.size() || v < 0 || v > 100) {
            return false;
        }
        *value = v;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The arguments of one command line, read one after another.
class ArgReader {
public:
    explicit ArgReader(const Args& args) : args_(args) {}
    bool done() const { return next_ >= args_.size(); }
    const std::string& take() { return args_[next_++]; }
    // The value of the option just taken; false when there is none.
    bool value(std::string* out) {
        if (done()) {
            return false;
        }
        *out = take();
        return true;
    }

private:
    const Args& args_;
    std::size_t next_ = 0;
};

std::string parseMethod(ArgReader& in, ScanOptions& o) {
    std::string v;
    if (!in.value(&v)) {
        return "--method needs a value";
    }
    if (v == "tags") {
        o.comparison.compareMethod = engine::ScanPreferences::kByTags;
    } else if (v == "content") {
        o.comparison.compareMethod = engine::ScanPreferences::kByContent;
    } else if (v == "both") {
        o.comparison.compareMethod = engine::ScanPreferences::kByTags | engine::ScanPreferences::kByContent;
    } else {
        return "--method must be tags, content or both";
    }
    return {};
}

// Options with a number: the thresholds and --threads. False when `a` is none of them.
bool parseNumberOption(const std::string& a, ArgReader& in, ScanOptions& o, std::string& error) {
    std::string v;
    if (a == "--content-threshold" || a == "--tags-threshold" || a == "--acoustic-threshold") {
        float* target = a == "--content-threshold" ? &o.comparison.contentThreshold
                        : a == "--tags-threshold"  ? &o.comparison.tagsThreshold
                                                   : &o.comparison.acousticThreshold;
        int percent = 0;
        if (!in.value(&v) || !parsePercent(v, &percent)) {
            error = a + " needs a whole percentage from 0 to 100";
        } else {
            *target = engine::thresholdFromPercent(static_cast<std::uint32_t>(percent));
        }
        return true;
    }
    if (a == "--threads") {
        int n = 0;
        if (!in.value(&v) || !parsePercent(v, &n) || n < 1) {
            error = "--threads needs a number from 1 to 100";
        } else {
            o.threads = static_cast<unsigned>(n);
        }
        return true;
    }
    return false;
}

// Options naming the output, its format and the stores. False when `a` is none of them.
bool parseFileOption(const std::string& a, ArgReader& in, ScanOptions& o, std::string& error) {
    if (a == "--format") {
        if (!in.value(&o.format) ||
            (o.format != "text" && o.format != "json" && o.format != "csv" && o.format != "m3u")) {
            error = "--format must be text, json, csv or m3u";
        }
    } else if (a == "--output" || a == "-o") {
        if (!in.value(&o.output)) {
            error = a + " needs a file name";
        }
    } else if (a == "--cache") {
        if (!in.value(&o.cacheFile)) {
            error = "--cache needs a file name";
        }
    } else if (a == "--ignore-list") {
        if (!in.value(&o.ignoreList)) {
            error = "--ignore-list needs a file name";
        }
    } else {
        return false;
    }
    return true;
}

// Options without a value. False when `a` is none of them.
bool parseSwitch(const std::string& a, ScanOptions& o) {
    if (a == "--accurate") {
        o.comparison.accurate = true;
    } else if (a == "--verify") {
        o.comparison.verifyMatches = true;
    } else if (a == "--no-cache") {
        o.noCache = true;
    } else if (a == "--quiet" || a == "-q") {
        o.quiet = true;
    } else {
        return false;
    }
    return true;
}

// Returns an empty string on success, else the usage error.
std::string parseOptions(const Args& args, ScanOptions& o) {
    ArgReader in(args);
    while (!in.done()) {
        const std::string& a = in.take();
        std::string error;
        if (a == "--method") {
            error = parseMethod(in, o);
        } else if (!parseNumberOption(a, in, o, error) && !parseFileOption(a, in, o, error) &&
                   !parseSwitch(a, o)) {
            if (a.size() > 1 && a[0] == '-') {
                error = "unknown option '" + a + "'";
            } else {
                o.folders.push_back(a);
            }
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (o.folders.empty()) {
        return "no folder to scan";
    }
    if (o.noCache && !o.cacheFile.empty()) {
        return "--cache and --no-cache exclude each other";
    }
    return {};
}

// "3 item(s) skipped: 2 not a regular file (...); 1 folder cannot be read", or empty when none.
std::string skipSummary(const std::vector<engine::SkippedItem>& skipped, std::int32_t total) {
    if (total <= 0) {
        return {};
    }
    std::map<engine::SkipReason, std::size_t> byReason;
    for (const auto& item : skipped) {
        ++byReason[item.reason];
    }
    std::string out = std::to_string(total) + " item(s) skipped:";
    const char* separator = " ";
    for (const auto& [reason, count] : byReason) {
        out += separator + std::to_string(count) + " " + engine::skipReasonText(reason);
        separator = "; ";
    }
    return out;
}

// Rows in the order the pairs arrived, with experimental scores folded into their rows.
class ResultRows {
public:
    void add(engine::PendingResults results) {
        for (auto& p : results.pairs) {
            index_.appended(p, rows_.size());
            rows_.push_back(std::move(p));
        }
        const auto pairAt = [this](std::size_t row) -> const engine::DuplicatePair& { return rows_[row]; };
        for (const auto& score : results.scores) {
            for (const std::size_t row : index_.rowsOf(score, rows_.size(), pairAt)) {
                shell::applyScore(rows_[row], score);
            }
        }
    }
    const std::vector<engine::DuplicatePair>& rows() const { return rows_; }

private:
    std::vector<engine::DuplicatePair> rows_;
    shell::PairRowIndex index_;
};

std::string formatDuration(double seconds) {
    char buffer[32];
    const int total = static_cast<int>(seconds);
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", total / 60, total % 60);
    return buffer;
}

void printProgress(const engine::ScanEngine& engine, const ResultRows& results, Clock::time_point start,
                   bool live, bool stopping, bool final) {
    const auto c = engine.counters();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double left = final || stopping ? -1.0 : engine.progress().secondsLeft;
    const std::string leftText = left < 0.0 ? std::string() : "  ~" + formatDuration(left) + " left";
    std::fprintf(stderr, "%sfiles %d/%d  cache %d  pairs %zu  %s%s%s", live ? "\r\033[K" : "", c.filesDone,
                 c.filesQueued, c.tracksKnown, results.rows().size(), formatDuration(elapsed).c_str(),
                 leftText.c_str(), stopping ? "  stopping..." : "");
    if (!live || final) {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

std::string percentText(float p) {
    if (p <= -100.0f) {
        return "-";
    }
    if (p < 0.0f) {
        return "...";
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f%%", static_cast<double>(p));
    return buffer;
}

// The experimental cell: its score, or why the comparison could not run ("too short").
std::string experimentalText(const engine::DuplicatePair& r) {
    if (r.experimentalFailure != analysis::AnalysisFailure::none) {
        return analysis::failureText(r.experimentalFailure);
    }
    return percentText(r.experimentalPercent);
}

// What a finished (or stopped) scan hands to the report.
struct ScanReport {
    const ResultRows& results;
    engine::ScanEngine::Counters counters;
    std::vector<engine::SkippedItem> skipped;
    double elapsed = 0.0;
    bool interrupted = false;
};

std::string render(const ScanOptions& o, const ScanReport& report) {
    const auto& rows = report.results.rows();
    const auto& c = report.counters;
    const double elapsed = report.elapsed;
    const bool interrupted = report.interrupted;
    std::ostringstream out;
    const shell::ScanSummary summary{c.filesQueued, c.filesDone,     c.tracksKnown, elapsed,
                                     interrupted,   &report.skipped, c.itemsSkipped};
    if (o.format == "json") {
        out << shell::formatResultsJson(rows, &summary);
    } else if (o.format == "csv") {
        out << shell::formatResultsCsv(rows, &summary);
    } else if (o.format == "m3u") {
        std::size_t leftOut = 0;
        out << engine::formatPlaylist(rows, &leftOut);
        if (leftOut > 0) {
            printError("scan: " + std::to_string(leftOut) +
                       " pair(s) left out of the playlist: a path holds a line break, which no playlist "
                       "line can carry");
        }
    } else {
        out << "Content  Tags     Exper.   Sound    Files\n";
        for (const auto& r : rows) {
            char line[80];
            std::snprintf(line, sizeof line, "%-8s %-8s %-8s %-8s ", percentText(r.contentPercent).c_str(),
                          percentText(r.tagsPercent).c_str(), experimentalText(r).c_str(),
                          percentText(r.acousticPercent).c_str());
            out << line << displayText(r.path1) << '\n'
                << std::string(36, ' ') << displayText(r.path2) << '\n';
        }
        out << '\n'
            << rows.size() << " duplicate pair(s); " << c.filesDone << " of " << c.filesQueued
            << " file(s) analysed or taken from the cache; cache: " << c.tracksKnown << " track(s); "
            << formatDuration(elapsed) << (interrupted ? " (interrupted)" : "") << '\n';
        if (const std::string skippedLine = skipSummary(report.skipped, c.itemsSkipped);
            !skippedLine.empty()) {
            out << skippedLine << '\n';
        }
    }
    return out.str();
}

struct LoopOutcome {
    bool stopping = false;  // a stop was asked for
    bool abandoned = false; // jobs were still running when the scan gave up waiting for them
};

// Collects pairs until every job has finished, or a stop has waited its grace (or a second Ctrl-C).
LoopOutcome runUntilDone(const ScanOptions& o, engine::ScanEngine& engine, MessageQueue& messages,
                         ResultRows& results, Clock::time_point start) {
    const bool live = !o.quiet && ::isatty(STDERR_FILENO) == 1;
    const auto reportEvery = live ? std::chrono::milliseconds(200) : std::chrono::milliseconds(5000);
    auto lastReport = Clock::now();
    LoopOutcome outcome;
    Clock::time_point giveUpAt;
    for (;;) {
        for (const std::uint32_t m : messages.wait(std::chrono::milliseconds(100))) {
            if (m == engine::UM_PAIRS_PENDING || m == engine::UM_SCORES_PENDING) {
                results.add(engine.takePendingResults());
            }
        }
        if (gInterrupts != 0 && !outcome.stopping) {
            outcome.stopping = true;
            engine.requestStop();
            giveUpAt = Clock::now() + kStopGrace;
        }
        if (engine.control().jobCount() == 0) {
            break;
        }
        if (outcome.stopping && (gInterrupts >= 2 || Clock::now() >= giveUpAt)) {
            outcome.abandoned = true;
            break;
        }
        if (!o.quiet && Clock::now() - lastReport >= reportEvery) {
            lastReport = Clock::now();
            printProgress(engine, results, start, live, outcome.stopping, false);
        }
    }
    results.add(engine.takePendingResults());
    if (!o.quiet) {
        printProgress(engine, results, start, live, outcome.stopping, true);
    }
    return outcome;
}

// Writes the report to the output; the exit status.
int writeReport(const ScanOptions& o, const ScanReport& report, const engine::ScanEngine& engine) {
    const std::string text = render(o, report);
    if (o.format != "text") {
        // The text report holds this line itself.
        if (const std::string summary = skipSummary(report.skipped, report.counters.itemsSkipped);
            !summary.empty()) {
            printError("scan: " + summary);
        }
    }
    if (const auto target = os::identify(o.output);
        !o.output.empty() && target && engine.scanned(target->key)) {
        printError("scan: the output '" + displayPath(o.output) +
                   "' is one of the scanned files; the report was not written");
        return kExitFailure;
    }
    if (o.output.empty()) {
        std::cout << text << std::flush;
        return kExitOk;
    }
    std::ofstream file(o.output, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        printError("scan: cannot write '" + displayPath(o.output) + "'");
        return kExitFailure;
    }
    return kExitOk;
}

// The folders as full paths; false (said) when one is not a folder.
bool resolveFolders(const ScanOptions& o, std::vector<std::u16string>& folders) {
    for (const auto& f : o.folders) {
        std::error_code ec;
        const fs::path p = fs::absolute(f, ec).lexically_normal();
        if (ec || !fs::is_directory(p, ec)) {
            printError("scan: '" + displayPath(f) + "' is not a folder");
            return false;
        }
        folders.push_back(os::fromNativePath(p));
    }
    return true;
}

engine::StorageLocations scanLocations(const ScanOptions& o) {
    engine::StorageLocations locations = engine::StorageLocations::standard();
    if (!o.cacheFile.empty()) {
        locations.cacheFile = fs::absolute(o.cacheFile);
    }
    if (!o.ignoreList.empty()) {
        locations.ignoreListFile = fs::absolute(o.ignoreList);
    }
    return locations;
}

// Opens the cache and reads the ignore list; kExitOk, or the status to end with.
int openStores(const ScanOptions& o, engine::TrackStore& store) {
    if (!o.noCache && failed(store.openCache())) {
        const auto refused = store.cacheAttempts().empty() ? engine::CacheFile::OpenResult::CannotOpen
                                                           : store.cacheAttempts().back().result;
        if (!o.cacheFile.empty() && (refused == engine::CacheFile::OpenResult::Foreign ||
                                     refused == engine::CacheFile::OpenResult::NotRegular)) {
            printError("scan: " + cacheProblem(store.locations().cacheFile, refused));
            return kExitFailure;
        }
        printError("Can't open cache file; scanning without one");
    } else if (!o.noCache) {
        std::vector<engine::TrackStore::CacheAttempt> passedOver(store.cacheAttempts().begin(),
                                                                 store.cacheAttempts().end() - 1);
        sayCacheChoice("scan", passedOver, store.cachePath());
    }
    if (failed(store.loadIgnoreList()) && !o.ignoreList.empty()) { // a missing list is an empty one
        printError("scan: cannot read the ignore list '" + displayPath(o.ignoreList) +
                   "' (it must be a regular file)");
        return kExitFailure;
    }
    if (!o.output.empty() &&
        (sameFile(o.output, store.cachePath()) || sameFile(o.output, store.ignoreListPath()))) {
        printError("scan: the output '" + displayPath(o.output) +
                   "' is the cache file or the ignore list; nothing was scanned");
        return kExitFailure;
    }
    return kExitOk;
}

// Runs the scan until it ends or is stopped and writes what it found; the exit status.
int scanAndReport(const ScanOptions& o, const std::vector<std::u16string>& folders,
                  engine::ScanEngine& engine, MessageQueue& messages) {
    gInterrupts = 0;
    std::signal(SIGINT, onInterrupt);
    const auto start = Clock::now();
    engine.startScan(folders);
    ResultRows results;
    const LoopOutcome outcome = runUntilDone(o, engine, messages, results, start);
    if (!outcome.abandoned) {
        engine.shutdown(engine::WorkerPool::kInfiniteWait);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const ScanReport report{results, engine.counters(), engine.skippedItems(), elapsed, outcome.stopping};
    // The handler stays until the program ends: a second Ctrl-C that arrives just after the report
    // still ends the program with status 1 instead of killing it.
    int status = writeReport(o, report, engine);
    if (status == kExitOk && outcome.stopping) {
        printError("scan interrupted; the pairs found so far were written");
        status = kExitFailure;
    }
    if (outcome.abandoned) {
        // A worker waits on a read the system does not return from: end without waiting for it.
        printError("scan: some files were still being read; the program ends without waiting for them");
        exitNow(status);
    }
    return status;
}

} // namespace

int runScan(const Args& args, const audio::PluginList& plugins) {
    // --help is answered before the command runs (HelpText), where an option's value is told apart.
    ScanOptions o;
    if (const std::string error = parseOptions(args, o); !error.empty()) {
        printError("scan: " + error);
        std::cerr << kUsage << '\n';
        return kExitUsage;
    }
    std::vector<std::u16string> folders;
    if (!resolveFolders(o, folders)) {
        return kExitFailure;
    }
    engine::TrackStore store(scanLocations(o));
    if (const int status = openStores(o, store); status != kExitOk) {
        return status;
    }
    MessageQueue messages;
    engine::ScanEngine engine(store, plugins, &messages);
    engine.settings().assign(o.comparison);
    if (failed(engine.createPool(o.threads))) {
        printError("scan: cannot start the worker threads");
        return kExitFailure;
    }
    return scanAndReport(o, folders, engine, messages);
}

} // namespace tonemirror::cli
