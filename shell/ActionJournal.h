#pragma once

#include "shell/FileTrash.h"
#include "shell/JournalFile.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tonemirror::shell {

// Runs clean-up batches so that none is ever lost or left half-known: the whole plan is written to
// a journal file and flushed to the disk before the first file is touched, and every step is
// recorded as it ends. A batch cut short (the program killed) is completed at the next start; the
// last batch can be undone. One journal file per batch in the folder; a lock file keeps two running
// copies from working at once.
class ActionJournal {
public:
    explicit ActionJournal(std::filesystem::path folder);
    // $XDG_DATA_HOME/Tonemirror/journal (~/.local/share when unset).
    static std::filesystem::path standardFolder();

    struct Outcome {
        std::string error;  // the batch could not start (journal not writable, locked); nothing was done
        JournalBatch batch; // the actions and how each ended
        // Actions that did not end as asked (refused, failed, or not undone), by index.
        std::vector<std::size_t> problems() const;
    };

    // Runs the actions; `referenceFolders` are never touched.
    Outcome run(std::vector<FileAction> actions, std::vector<std::string> referenceFolders, FileTrash& trash);
    // Completes every batch, and every undo, that a kill cut short. One outcome per batch finished.
    std::vector<Outcome> recover(FileTrash& trash);
    // Reverses the newest batch not yet undone that changed any file. An outcome with an error when
    // there is none.
    Outcome undoLast(FileTrash& trash);
    // Whether undoLast has a batch to reverse (reads the journal; changes nothing).
    bool canUndo() const;

    // Called before each action runs (tests stop the program there).
    std::function<void(std::size_t)> beforeAction;

private:
    struct Lock;
    std::vector<std::filesystem::path> batchFiles() const; // oldest first
    // The newest batch undoLast would reverse, read; nullopt when there is none.
    std::optional<std::pair<std::filesystem::path, JournalBatch>> lastUndoable() const;
    void runActions(JournalBatch& batch, const std::filesystem::path& file, FileTrash& trash);
    void undoActions(JournalBatch& batch, const std::filesystem::path& file, FileTrash& trash);

    std::filesystem::path folder_;
};

} // namespace tonemirror::shell
