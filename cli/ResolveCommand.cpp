#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "shell/ActionJournal.h"
#include "shell/DesktopFileTrash.h"
#include "shell/FileActions.h"
#include "shell/ResolvePlan.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <thread>

namespace tonemirror::cli {

namespace {

namespace fs = std::filesystem;

struct ResolveOptions {
    std::vector<std::string> folders;
    std::vector<std::string> references;
    shell::KeeperRules rules;
    shell::ActionKind action = shell::ActionKind::Trash;
    std::string moveFolder;
    bool apply = false;
    std::string format = "text";
};

const char* const kUsage =
    "usage: tonemirror-cli resolve PATH... [--reference DIR]... [--keep CRITERIA]\n"
    "                              [--action trash|move=DIR|link] [--apply] [--format text|json]";

// Folders as absolute, normal paths; empty (said) when one is not a folder.
std::string absoluteFolder(const std::string& given, std::string& error) {
    std::error_code ec;
    const fs::path p = fs::absolute(given, ec).lexically_normal();
    if (ec || !fs::is_directory(p, ec)) {
        error = "'" + displayPath(given) + "' is not a folder";
        return {};
    }
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') {
        s.pop_back();
    }
    return s;
}

std::string parseAction(const std::string& v, ResolveOptions& o) {
    if (v == "trash" || v == "link") {
        o.action = v == "trash" ? shell::ActionKind::Trash : shell::ActionKind::Link;
    } else if (v.rfind("move=", 0) == 0 && v.size() > 5) {
        o.action = shell::ActionKind::Move;
        o.moveFolder = fs::absolute(v.substr(5)).lexically_normal().string();
    } else {
        return "--action must be trash, move=DIR or link";
    }
    return {};
}

// One option and its value; false when `a` is no option of this command.
bool parseOption(const std::string& a, const Args& args, std::size_t& i, ResolveOptions& o,
                 std::string& error) {
    const bool takesValue = a == "--reference" || a == "--keep" || a == "--action" || a == "--format";
    if (!takesValue) {
        return false;
    }
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return true;
    }
    const std::string& v = args[++i];
    if (a == "--reference") {
        o.references.push_back(v);
    } else if (a == "--keep") {
        auto rules = shell::KeeperRules::parse(v, &error);
        error = rules ? std::string() : "--keep: " + error;
        o.rules = rules ? *rules : o.rules;
    } else if (a == "--action") {
        error = parseAction(v, o);
    } else if (v != "text" && v != "json") {
        error = "--format must be text or json";
    } else {
        o.format = v;
    }
    return true;
}

std::string parseOptions(const Args& args, ResolveOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (parseOption(args[i], args, i, o, error)) {
            if (!error.empty()) {
                return error;
            }
        } else if (args[i] == "--apply") {
            o.apply = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return "unknown option '" + args[i] + "'";
        } else {
            o.folders.push_back(args[i]);
        }
    }
    return o.folders.empty() ? "no folder to resolve" : std::string();
}

// Discards the engine's messages: resolve waits for the job count instead.
class QuietSink : public engine::MessageSink {
public:
    void post(std::uint32_t) override {}
};

std::vector<engine::DuplicatePair> scanPairs(engine::ScanEngine& engine,
                                             const std::vector<std::string>& folders) {
    std::vector<std::u16string> scanned;
    for (const auto& f : folders) {
        scanned.push_back(os::fromNativePath(f));
    }
    engine.startScan(scanned);
    std::vector<engine::DuplicatePair> pairs;
    const auto take = [&] { // experimental scores play no part in a resolve
        auto taken = engine.takePendingResults().pairs;
        std::move(taken.begin(), taken.end(), std::back_inserter(pairs));
    };
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        take();
    } while (engine.control().jobCount() != 0);
    engine.shutdown(engine::WorkerPool::kInfiniteWait);
    take();
    return pairs;
}

} // namespace

namespace {

// What the resolve needs of every grouped file: its quality, and how it looked when it was scanned.
struct FileFacts {
    std::vector<shell::FileQuality> qualities;
    std::vector<shell::ExpectedFile> scanned;
};

FileFacts gatherFacts(const shell::ResultGroups& groups, engine::TrackStore& store,
                      const audio::PluginList& plugins) {
    FileFacts facts;
    audio::AudioSource source(plugins);
    store.lock().lockShared();
    for (shell::ResultGroups::FileIndex f = 0; f < groups.fileCount(); ++f) {
        const analysis::TrackRecord* record = store.table().find(groups.path(f));
        facts.qualities.push_back(shell::readFileQuality(groups.path(f), source, record));
        shell::ExpectedFile e =
            shell::currentFile(os::toNativePath(groups.path(f))).value_or(shell::ExpectedFile{});
        if (record != nullptr && record->fileStamp.known) {
            // Judged against what was analysed, so a change during the scan counts too.
            e.size = record->fileStamp.size;
            e.modifiedSeconds = record->fileStamp.modifiedSeconds;
            e.modifiedNanoseconds = record->fileStamp.modifiedNanoseconds;
        }
        facts.scanned.push_back(e);
    }
    store.lock().unlock();
    return facts;
}

// Pairs arrive in the order the workers finish: groups and marks go by path for a stable output.
void sortForPrinting(const shell::ResultGroups& groups, shell::ResolvePlan& plan) {
    const auto byPath = [&](auto a, auto b) { return groups.path(a) < groups.path(b); };
    for (auto& g : plan.groups) {
        std::sort(g.mark.begin(), g.mark.end(), byPath);
    }
    std::sort(plan.groups.begin(), plan.groups.end(),
              [&](const auto& a, const auto& b) { return byPath(a.keep, b.keep); });
}

std::string nativeOf(const shell::ResultGroups& groups, shell::ResultGroups::FileIndex f) {
    return os::toNativePath(groups.path(f)).string();
}

void printPlanText(const shell::ResultGroups& groups, const shell::ResolvePlan& plan, const FileFacts& facts,
                   bool apply) {
    std::size_t n = 0;
    for (const auto& g : plan.groups) {
        std::cout << "group " << ++n << ": keep " << displayText(groups.path(g.keep)) << "\n  ("
                  << shell::criterionReason(g.reason) << "; "
                  << shell::qualitySummary(facts.qualities[g.keep]) << ")\n";
        for (const auto f : g.mark) {
            std::cout << "  mark " << displayText(groups.path(f)) << "\n    ("
                      << shell::qualitySummary(facts.qualities[f]) << ")\n";
        }
    }
    std::cout << plan.markedFiles << " file(s) in " << plan.groupsWithMarks << " group(s) "
              << (apply ? "marked" : "would be marked (nothing changed; --apply acts on them)") << '\n';
}

void printPlanJson(const shell::ResultGroups& groups, const shell::ResolvePlan& plan) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& g : plan.groups) {
        nlohmann::json group;
        putName(group, "keep", groups.path(g.keep));
        group["reason"] = shell::criterionReason(g.reason);
        nlohmann::json marks = nlohmann::json::array();
        bool escaped = false;
        for (const auto f : g.mark) {
            nlohmann::json one;
            putName(one, "path", groups.path(f));
            escaped = escaped || one.contains("pathEscaped");
            marks.push_back(one["path"]);
        }
        group["mark"] = marks;
        if (escaped) {
            group["markEscaped"] = true;
        }
        list.push_back(group);
    }
    std::cout << dumpJson(nlohmann::json{{"groups", list}}) << '\n';
}

std::vector<shell::FileAction> actionsOf(const shell::ResultGroups& groups, const shell::ResolvePlan& plan,
                                         const FileFacts& facts, const ResolveOptions& o) {
    std::vector<shell::FileAction> actions;
    for (const auto& g : plan.groups) {
        for (const auto f : g.mark) {
            shell::FileAction a{o.action,         nativeOf(groups, f),  {}, nativeOf(groups, g.keep),
                                facts.scanned[f], facts.scanned[g.keep]};
            if (o.action == shell::ActionKind::Move) {
                a.target = shell::moveTarget(a.path, o.folders, o.moveFolder);
            } else if (o.action == shell::ActionKind::Link) {
                a.target = a.kept;
            }
            actions.push_back(std::move(a));
        }
    }
    return actions;
}

// Lists what did not end as asked on stderr; the number of such actions.
std::size_t reportProblems(const shell::ActionJournal::Outcome& out, const char* verb) {
    for (const std::size_t i : out.problems()) {
        printError("could not " + std::string(verb) + " '" + displayPath(out.batch.actions[i].path) +
                   "': " + out.batch.records[i].why);
    }
    return out.problems().size();
}

// Finishes what a killed run left behind; says what it did.
void recoverJournal(shell::ActionJournal& journal, shell::FileTrash& trash) {
    for (const auto& out : journal.recover(trash)) {
        printError("finished a clean-up that was cut short (" + std::to_string(out.batch.actions.size()) +
                   " file(s))");
        reportProblems(out, out.batch.undoBegun ? "put back" : "clean up");
    }
}

int applyPlan(std::vector<shell::FileAction> actions, const ResolveOptions& o) {
    const auto trash = std::make_unique<shell::DesktopFileTrash>();
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    recoverJournal(journal, *trash);
    const auto out = journal.run(std::move(actions), o.references, *trash);
    if (!out.error.empty()) {
        printError("resolve: " + out.error);
        return kExitFailure;
    }
    const std::size_t failedCount = reportProblems(out, "clean up");
    const std::size_t done = out.batch.actions.size() - failedCount;
    printError(std::to_string(done) + " file(s) done, " + std::to_string(failedCount) + " not" +
               (done != 0 ? "; 'tonemirror-cli undo' reverses this" : ""));
    return failedCount == 0 ? kExitOk : kExitFailure;
}

} // namespace

int runResolve(const Args& args, const audio::PluginList& plugins) {
    ResolveOptions o;
    std::string error = parseOptions(args, o);
    for (auto* list : {&o.folders, &o.references}) {
        for (auto& f : *list) {
            f = error.empty() ? absoluteFolder(f, error) : f;
        }
    }
    if (!error.empty()) {
        printError("resolve: " + error);
        std::cerr << kUsage << '\n';
        return error.find("is not a folder") != std::string::npos ? kExitFailure : kExitUsage;
    }
    engine::TrackStore store;
    if (failed(store.openCache())) {
        printError("Can't open cache file; scanning without one");
    }
    store.loadIgnoreList();
    QuietSink sink;
    engine::ScanEngine engine(store, plugins, &sink);
    if (failed(engine.createPool(0))) {
        printError("resolve: cannot start the worker threads");
        return kExitFailure;
    }
    std::vector<std::string> scanned = o.folders;
    scanned.insert(scanned.end(), o.references.begin(), o.references.end());
    const std::vector<engine::DuplicatePair> pairs = scanPairs(engine, scanned);
    const shell::ResultGroups groups(pairs);
    const FileFacts facts = gatherFacts(groups, store, plugins);
    std::vector<std::u16string> references;
    for (const auto& r : o.references) {
        references.push_back(os::fromNativePath(r));
    }
    auto plan = shell::planMarks({groups, facts.qualities, references, o.rules});
    sortForPrinting(groups, plan);
    o.format == "json" ? printPlanJson(groups, plan) : printPlanText(groups, plan, facts, o.apply);
    return o.apply ? applyPlan(actionsOf(groups, plan, facts, o), o) : kExitOk;
}

int runUndo(const Args& args, const audio::PluginList&) {
    if (!args.empty()) {
        printError("usage: tonemirror-cli undo");
        return kExitUsage;
    }
    const auto trash = std::make_unique<shell::DesktopFileTrash>();
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    recoverJournal(journal, *trash);
    const auto out = journal.undoLast(*trash);
    if (!out.error.empty()) {
        printError("undo: " + out.error);
        return kExitFailure;
    }
    const std::size_t refused = reportProblems(out, "put back");
    std::size_t back = 0;
    for (const auto& r : out.batch.records) {
        back += r.state == shell::ActionRecord::State::Undone ? 1 : 0;
    }
    std::cout << back << " file(s) put back" << (refused != 0 ? ", " + std::to_string(refused) + " not" : "")
              << '\n';
    return refused == 0 ? kExitOk : kExitFailure;
}

} // namespace tonemirror::cli
