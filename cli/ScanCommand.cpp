#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "engine/Playlist.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "shell/ResultsExport.h"

#include <chrono>
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

volatile std::sig_atomic_t gInterrupted = 0;

void onInterrupt(int) {
    gInterrupted = 1;
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
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
    std::int32_t method = engine::ScanSettings::kByTags | engine::ScanSettings::kByContent;
    int contentThreshold = 75;
    int tagsThreshold = 75;
    bool accurate = false;
    bool verify = false;
    int acousticThreshold = static_cast<int>(engine::ScanSettings::kDefaultAcousticThreshold * 100.0f);
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

// Returns an empty string on success, else the usage error.
std::string parseOptions(const Args& args, ScanOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--method") {
            if (!value(&v)) {
                return "--method needs a value";
            }
            if (v == "tags") {
                o.method = engine::ScanSettings::kByTags;
            } else if (v == "content") {
                o.method = engine::ScanSettings::kByContent;
            } else if (v == "both") {
                o.method = engine::ScanSettings::kByTags | engine::ScanSettings::kByContent;
            } else {
                return "--method must be tags, content or both";
            }
        } else if (a == "--content-threshold" || a == "--tags-threshold" || a == "--acoustic-threshold") {
            int* target = a == "--content-threshold" ? &o.contentThreshold
                          : a == "--tags-threshold"  ? &o.tagsThreshold
                                                     : &o.acousticThreshold;
            if (!value(&v) || !parsePercent(v, target)) {
                return a + " needs a whole percentage from 0 to 100";
            }
        } else if (a == "--accurate") {
            o.accurate = true;
        } else if (a == "--verify") {
            o.verify = true;
        } else if (a == "--format") {
            if (!value(&o.format) ||
                (o.format != "text" && o.format != "json" && o.format != "csv" && o.format != "m3u")) {
                return "--format must be text, json, csv or m3u";
            }
        } else if (a == "--output" || a == "-o") {
            if (!value(&o.output)) {
                return a + " needs a file name";
            }
        } else if (a == "--cache") {
            if (!value(&o.cacheFile)) {
                return "--cache needs a file name";
            }
        } else if (a == "--no-cache") {
            o.noCache = true;
        } else if (a == "--ignore-list") {
            if (!value(&o.ignoreList)) {
                return "--ignore-list needs a file name";
            }
        } else if (a == "--threads") {
            int n = 0;
            if (!value(&v) || !parsePercent(v, &n) || n < 1) {
                return "--threads needs a number from 1 to 100";
            }
            o.threads = static_cast<unsigned>(n);
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option '" + a + "'";
        } else {
            o.folders.push_back(a);
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

std::string utf8(const std::u16string& s) {
    return os::utf16ToUtf8(s);
}

// Rows in the order the pairs arrived, with experimental updates folded into their row.
class ResultRows {
public:
    void add(std::vector<engine::DuplicatePair> pairs) {
        for (auto& p : pairs) {
            const auto key = std::make_pair(p.path1, p.path2);
            if (p.isUpdate) {
                const auto it = rowOf_.find(key);
                if (it != rowOf_.end()) {
                    rows_[it->second].experimentalPercent = p.experimentalPercent;
                }
                continue;
            }
            rowOf_.emplace(key, rows_.size());
            rows_.push_back(std::move(p));
        }
    }
    const std::vector<engine::DuplicatePair>& rows() const { return rows_; }

private:
    std::vector<engine::DuplicatePair> rows_;
    std::map<std::pair<std::u16string, std::u16string>, std::size_t> rowOf_;
};

std::string formatDuration(double seconds) {
    char buffer[32];
    const int total = static_cast<int>(seconds);
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", total / 60, total % 60);
    return buffer;
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

std::string render(const ScanOptions& o, const ResultRows& results, const engine::ScanEngine::Counters& c,
                   double elapsed, bool interrupted) {
    const auto& rows = results.rows();
    std::ostringstream out;
    const shell::ScanSummary summary{c.filesQueued, c.filesDone, c.tracksKnown, elapsed, interrupted};
    if (o.format == "json") {
        out << shell::formatResultsJson(rows, &summary);
    } else if (o.format == "csv") {
        out << shell::formatResultsCsv(rows, &summary);
    } else if (o.format == "m3u") {
        out << engine::formatPlaylist(rows);
    } else {
        out << "Content  Tags     Exper.   Sound    Files\n";
        for (const auto& r : rows) {
            char line[64];
            std::snprintf(line, sizeof line, "%-8s %-8s %-8s %-8s ", percentText(r.contentPercent).c_str(),
                          percentText(r.tagsPercent).c_str(), percentText(r.experimentalPercent).c_str(),
                          percentText(r.acousticPercent).c_str());
            out << line << utf8(r.path1) << '\n' << std::string(36, ' ') << utf8(r.path2) << '\n';
        }
        out << '\n'
            << rows.size() << " duplicate pair(s); " << c.filesDone << " of " << c.filesQueued
            << " file(s) analysed or taken from the cache; cache: " << c.tracksKnown << " track(s); "
            << formatDuration(elapsed) << (interrupted ? " (interrupted)" : "") << '\n';
    }
    return out.str();
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
    for (const auto& f : o.folders) {
        std::error_code ec;
        const fs::path p = fs::absolute(f, ec).lexically_normal();
        if (ec || !fs::is_directory(p, ec)) {
            printError("scan: '" + f + "' is not a folder");
            return kExitFailure;
        }
        folders.push_back(os::fromNativePath(p));
    }

    engine::StorageLocations locations = engine::StorageLocations::standard();
    if (!o.cacheFile.empty()) {
        locations.cacheFile = fs::absolute(o.cacheFile);
    }
    if (!o.ignoreList.empty()) {
        locations.ignoreListFile = fs::absolute(o.ignoreList);
    }
    engine::TrackStore store(locations);
    if (!o.noCache && failed(store.openCache())) {
        printError("Can't open cache file; scanning without one");
    }
    store.loadIgnoreList(); // a missing list is an empty one

    MessageQueue messages;
    engine::ScanEngine engine(store, plugins, &messages);
    engine.settings().compareMethod = o.method;
    engine.settings().contentThreshold = static_cast<float>(o.contentThreshold) * 0.01f;
    engine.settings().tagsThreshold = static_cast<float>(o.tagsThreshold) * 0.01f;
    engine.settings().accurate = o.accurate;
    engine.settings().verifyMatches = o.verify;
    engine.settings().acousticThreshold = static_cast<float>(o.acousticThreshold) * 0.01f;
    if (failed(engine.createPool(o.threads))) {
        printError("scan: cannot start the worker threads");
        return kExitFailure;
    }

    gInterrupted = 0;
    std::signal(SIGINT, onInterrupt);
    const auto start = Clock::now();
    engine.startScan(folders);

    const bool live = !o.quiet && ::isatty(STDERR_FILENO) == 1;
    const auto reportEvery = live ? std::chrono::milliseconds(200) : std::chrono::milliseconds(5000);
    auto lastReport = Clock::now();
    ResultRows results;
    bool stopping = false;
    const auto progress = [&](bool final) {
        if (o.quiet) {
            return;
        }
        const auto c = engine.counters();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::fprintf(stderr, "%sfiles %d/%d  cache %d  pairs %zu  %s%s", live ? "\r\033[K" : "", c.filesDone,
                     c.filesQueued, c.tracksKnown, results.rows().size(), formatDuration(elapsed).c_str(),
                     stopping ? "  stopping..." : "");
        if (!live || final) {
            std::fputc('\n', stderr);
        }
        std::fflush(stderr);
    };

    for (;;) {
        for (const std::uint32_t m : messages.wait(std::chrono::milliseconds(100))) {
            if (m == engine::UM_PAIRS_PENDING) {
                results.add(engine.takePendingPairs());
            }
        }
        if (gInterrupted != 0 && !stopping) {
            stopping = true;
            engine.requestStop();
        }
        if (engine.control().jobCount() == 0) {
            break;
        }
        if (Clock::now() - lastReport >= reportEvery) {
            lastReport = Clock::now();
            progress(false);
        }
    }
    results.add(engine.takePendingPairs());
    std::signal(SIGINT, SIG_DFL);
    progress(true);
    engine.shutdown(engine::WorkerPool::kInfiniteWait);

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string text = render(o, results, engine.counters(), elapsed, stopping);
    if (o.output.empty()) {
        std::cout << text << std::flush;
    } else {
        std::ofstream file(o.output, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) {
            printError("scan: cannot write '" + o.output + "'");
            return kExitFailure;
        }
    }
    if (stopping) {
        printError("scan interrupted; the pairs found so far were written");
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace tonemirror::cli
