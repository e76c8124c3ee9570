#include "shell/ActionJournal.h"

#include "platform/os/LockedFile.h"
#include "platform/os/Paths.h"
#include "platform/os/Rename.h"
#include "shell/FileActions.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace tonemirror::shell {

namespace fs = std::filesystem;

namespace {

using State = ActionRecord::State;

constexpr const char* kPrefix = "batch-";
constexpr const char* kSuffix = ".journal";

// "batch-00000012.journal": the prefix, 8 to 18 digits, the suffix.
bool isBatchName(std::string_view name) {
    const std::string_view prefix(kPrefix), suffix(kSuffix);
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return digits.size() >= 8 && digits.size() <= 18 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number in a batch file's name (one that isBatchName accepts).
std::uint64_t numberOf(const fs::path& file) {
    const std::string name = file.filename().string();
    std::uint64_t n = 0;
    for (std::size_t i = std::string(kPrefix).size(); i < name.size() && name[i] >= '0' && name[i] <= '9';
         ++i) {
        n = n * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    return n;
}

// Appends lines to one journal file, each flushed to the disk before the call returns.
class JournalWriter {
public:
    explicit JournalWriter(const fs::path& file, bool create) {
        fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
    }
    ~JournalWriter() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    bool write(const std::string& line) {
        std::size_t sent = 0;
        while (fd_ >= 0 && sent < line.size()) {
            const ssize_t n = ::write(fd_, line.data() + sent, line.size() - sent);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return fd_ >= 0 && ::fsync(fd_) == 0;
    }

private:
    int fd_ = -1;
};

std::optional<JournalBatch> readBatch(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size > journal_file::kMaxFileBytes) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return journal_file::parse(text);
}

std::vector<std::string> batchPaths(const JournalBatch& batch) {
    std::vector<std::string> paths;
    for (const auto& a : batch.actions) {
        paths.push_back(a.path);
    }
    return paths;
}

bool sameFile(const std::optional<ExpectedFile>& now, const ExpectedFile& expected) {
    return now && now->device == expected.device && now->inode == expected.inode;
}

// How an action that had begun when the program was killed ended, told from the files: Planned
// when it never took effect (it runs again), Done when it did.
ActionRecord settleBegun(const FileAction& a) {
    ActionRecord r;
    const auto now = currentFile(a.path);
    if (now && *now == a.expected) {
        const std::string temp = linkTempName(a.path);
        if (a.kind == ActionKind::Link && sameFile(currentFile(temp), a.keptExpected)) {
            ::unlink(temp.c_str()); // our unfinished link, to the kept file
        }
        return r;
    }
    if (a.kind == ActionKind::Move) {
        r.state = sameFile(currentFile(a.target), a.expected) ? State::Done : State::Failed;
    } else if (a.kind == ActionKind::Link && !now && currentFile(linkTempName(a.path))) {
        // The original went to the trash; the link waits under its temporary name.
        r.state = os::renameNoReplace(linkTempName(a.path), a.path) ? State::Failed : State::Done;
    } else {
        r.state = !now || (a.kind == ActionKind::Link && sameFile(now, a.keptExpected)) ? State::Done
                                                                                        : State::Failed;
    }
    if (r.state == State::Failed) {
        r.why = "it changed while the program was stopped";
    }
    // Where it went in the trash was not recorded in time; undo says so for this file.
    return r;
}

} // namespace

struct ActionJournal::Lock {
    os::LockedFile file;
    bool held = false;
};

ActionJournal::ActionJournal(fs::path folder) : folder_(std::move(folder)) {}

fs::path ActionJournal::standardFolder() {
    return os::userDataFolder() / "journal";
}

std::vector<std::size_t> ActionJournal::Outcome::problems() const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < batch.records.size(); ++i) {
        const State s = batch.records[i].state;
        const State wanted = batch.undoBegun ? State::Undone : State::Done;
        if (s != wanted && !(batch.undoBegun && (s == State::Refused || s == State::Failed))) {
            out.push_back(i);
        }
    }
    return out;
}

std::vector<fs::path> ActionJournal::batchFiles() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isBatchName(name)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return numberOf(a) < numberOf(b); });
    return files;
}

namespace {

// Takes the journal's lock; an error text when the folder cannot be made or another copy holds it.
std::string takeLock(const fs::path& folder, os::LockedFile& lock) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    switch (lock.open(folder / "journal.lock", true)) {
    case os::LockedFile::Result::Ok:
        return {};
    case os::LockedFile::Result::Locked:
        return "another running copy of the program is changing files; try again when it has finished";
    default:
        return "the journal folder '" + folder.string() + "' cannot be written, so no file was touched";
    }
}

std::string batchName(std::uint64_t number) {
    std::string digits = std::to_string(number);
    return kPrefix + std::string(digits.size() < 8 ? 8 - digits.size() : 0, '0') + digits + kSuffix;
}

} // namespace

ActionJournal::Outcome ActionJournal::run(std::vector<FileAction> actions,
                                          std::vector<std::string> referenceFolders, FileTrash& trash) {
    Outcome out;
    os::LockedFile lock;
    if (out.error = takeLock(folder_, lock); !out.error.empty()) {
        return out;
    }
    const auto files = batchFiles();
    out.batch.number = files.empty() ? 1 : numberOf(files.back()) + 1;
    out.batch.actions = std::move(actions);
    out.batch.referenceFolders = std::move(referenceFolders);
    out.batch.records.resize(out.batch.actions.size());
    const fs::path file = folder_ / batchName(out.batch.number);
    {
        JournalWriter writer(file, true);
        if (!writer.write(journal_file::planLine(out.batch))) {
            std::error_code ec;
            fs::remove(file, ec);
            out.error = "the journal '" + file.string() + "' cannot be written, so no file was touched";
            return out;
        }
    }
    runActions(out.batch, file, trash);
    return out;
}

void ActionJournal::runActions(JournalBatch& batch, const fs::path& file, FileTrash& trash) {
    JournalWriter writer(file, false);
    const std::vector<std::string> paths = batchPaths(batch);
    for (std::size_t i = 0; i < batch.actions.size(); ++i) {
        ActionRecord& record = batch.records[i];
        if (record.state == State::Begun) {
            record = settleBegun(batch.actions[i]);
            if (record.state != State::Planned) {
                writer.write(
                    journal_file::eventLine(record.state == State::Done ? "done" : "failed", i, &record));
                continue;
            }
        }
        if (record.state != State::Planned) {
            continue;
        }
        if (beforeAction) {
            beforeAction(i);
        }
        if (std::string why = refusalOf(batch.actions[i], batch.referenceFolders, paths); !why.empty()) {
            record.state = State::Refused;
            record.why = std::move(why);
            writer.write(journal_file::eventLine("refused", i, &record));
            continue;
        }
        if (!writer.write(journal_file::eventLine("begin", i))) {
            // Unrecorded, the step could not be told apart from a half-done one after a kill.
            record.state = State::Failed;
            record.why = "the journal could not be written";
            continue;
        }
        record = performAction(batch.actions[i], trash);
        writer.write(journal_file::eventLine(record.state == State::Done ? "done" : "failed", i, &record));
    }
    batch.ended = writer.write(journal_file::markLine("end"));
}

std::vector<ActionJournal::Outcome> ActionJournal::recover(FileTrash& trash) {
    std::vector<Outcome> finished;
    os::LockedFile lock;
    if (!takeLock(folder_, lock).empty()) {
        return finished;
    }
    for (const auto& file : batchFiles()) {
        auto batch = readBatch(file);
        if (!batch || (batch->ended && batch->undoBegun == batch->undoEnded)) {
            continue;
        }
        Outcome out;
        out.batch = std::move(*batch);
        if (!out.batch.ended) {
            runActions(out.batch, file, trash);
        } else {
            undoActions(out.batch, file, trash);
        }
        finished.push_back(std::move(out));
    }
    return finished;
}

std::optional<std::pair<fs::path, JournalBatch>> ActionJournal::lastUndoable() const {
    const auto files = batchFiles();
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        auto batch = readBatch(*it);
        const bool changedFiles =
            batch && std::any_of(batch->records.begin(), batch->records.end(),
                                 [](const ActionRecord& r) { return r.state == State::Done; });
        if (batch && batch->ended && !batch->undoEnded && changedFiles) {
            return std::make_pair(*it, std::move(*batch));
        }
    }
    return std::nullopt;
}

bool ActionJournal::canUndo() const {
    return lastUndoable().has_value();
}

ActionJournal::Outcome ActionJournal::undoLast(FileTrash& trash) {
    Outcome out;
    os::LockedFile lock;
    if (out.error = takeLock(folder_, lock); !out.error.empty()) {
        return out;
    }
    auto found = lastUndoable();
    if (!found) {
        out.error = "there is no clean-up to undo";
        return out;
    }
    out.batch = std::move(found->second);
    JournalWriter(found->first, false).write(journal_file::markLine("undoBegin"));
    out.batch.undoBegun = true;
    undoActions(out.batch, found->first, trash);
    return out;
}

void ActionJournal::undoActions(JournalBatch& batch, const fs::path& file, FileTrash& trash) {
    JournalWriter writer(file, false);
    // Newest first, so a file moved twice comes back through the same steps.
    for (std::size_t i = batch.actions.size(); i-- > 0;) {
        ActionRecord& record = batch.records[i];
        if (record.state != State::Done) {
            continue;
        }
        ActionRecord undone = undoAction(batch.actions[i], record, trash);
        record.state = undone.state;
        record.why = undone.why;
        writer.write(
            journal_file::eventLine(record.state == State::Undone ? "undone" : "undoRefused", i, &record));
    }
    batch.undoEnded = writer.write(journal_file::markLine("undoEnd"));
}

} // namespace tonemirror::shell
