#include "shell/ActionJournal.h"

#include "platform/os/Rename.h"
#include "shell/FileActions.h"
#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tonemirror::fakes::readText;
using tonemirror::fakes::TempFolder;
using tonemirror::fakes::writeText;
using tonemirror::shell::ActionJournal;
using tonemirror::shell::ActionKind;
using tonemirror::shell::ActionRecord;
using tonemirror::shell::FileAction;
using State = ActionRecord::State;

// A trash of its own: files move into one folder under a numbered name, with an info file beside.
class FolderTrash : public tonemirror::shell::FileTrash {
public:
    explicit FolderTrash(fs::path folder) : folder_(std::move(folder)) { fs::create_directories(folder_); }
    std::string moveToTrash(const std::string& path, tonemirror::shell::TrashedFile& entry) override {
        const fs::path to = folder_ / std::to_string(++count_);
        if (tonemirror::os::renameNoReplace(path, to)) {
            return "cannot move it";
        }
        writeText(to.string() + ".info", path);
        entry = {path, to.string(), to.string() + ".info"};
        return {};
    }
    std::string restore(const tonemirror::shell::TrashedFile& entry) override {
        if (tonemirror::os::renameNoReplace(entry.trashedPath, entry.originalPath)) {
            return "cannot put it back";
        }
        fs::remove(entry.infoPath);
        return {};
    }

private:
    fs::path folder_;
    int count_ = 0;
};

// A scanned library: files with their contents and an old modification time, and their plan.
class Library : public testing::Test {
protected:
    fs::path file(const std::string& name, const std::string& bytes) {
        const fs::path p = dir / "music" / name;
        fs::create_directories(p.parent_path());
        writeText(p, bytes);
        fs::last_write_time(p, fs::last_write_time(p) - std::chrono::hours(24 * 400));
        return p;
    }
    FileAction action(ActionKind kind, const fs::path& path, const fs::path& kept, std::string target = {}) {
        FileAction a{kind, path.string(), std::move(target), kept.string(), {}, {}};
        a.expected = *tonemirror::shell::currentFile(a.path);
        a.keptExpected = *tonemirror::shell::currentFile(a.kept);
        if (kind == ActionKind::Link) {
            a.target = kept.string();
        }
        return a;
    }

    TempFolder dir;
    FolderTrash trash{dir / "trash"};
    ActionJournal journal{dir / "journal"};
};

TEST_F(Library, TrashAndUndoRestoreBytesAndModificationTime) {
    const auto kept = file("a.flac", "best");
    const auto b = file("sub/b.mp3", "copy b");
    const auto c = file("c.mp3", "copy c");
    const auto bTime = fs::last_write_time(b);
    const auto out =
        journal.run({action(ActionKind::Trash, b, kept), action(ActionKind::Trash, c, kept)}, {}, trash);
    ASSERT_TRUE(out.error.empty()) << out.error;
    EXPECT_TRUE(out.problems().empty());
    EXPECT_FALSE(fs::exists(b));
    EXPECT_FALSE(fs::exists(c));
    fs::remove_all(dir / "music" / "sub"); // its folder went too: undo makes it again

    const auto undone = journal.undoLast(trash);
    ASSERT_TRUE(undone.error.empty()) << undone.error;
    EXPECT_TRUE(undone.problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_EQ(readText(c), "copy c");
    EXPECT_EQ(fs::last_write_time(b), bTime);
    EXPECT_EQ(readText(kept), "best");
    EXPECT_FALSE(journal.undoLast(trash).error.empty()); // nothing left to undo
}

TEST_F(Library, MoveKeepsThePathBelowTheScannedFolderAndComesBack) {
    const auto kept = file("a.flac", "best");
    const auto b = file("x/y/b.mp3", "copy b");
    const std::string target =
        tonemirror::shell::moveTarget(b.string(), {(dir / "music").string()}, (dir / "aside").string());
    EXPECT_EQ(target, (dir / "aside" / "x" / "y" / "b.mp3").string());
    const auto out = journal.run({action(ActionKind::Move, b, kept, target)}, {}, trash);
    EXPECT_TRUE(out.problems().empty());
    EXPECT_EQ(readText(target), "copy b");
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(journal.undoLast(trash).problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(Library, LinkReplacesTheCopyAndUndoBringsTheOriginalBack) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.flac", "copy b");
    const auto bTime = fs::last_write_time(b);
    const auto out = journal.run({action(ActionKind::Link, b, kept)}, {}, trash);
    ASSERT_TRUE(out.problems().empty()) << out.batch.records[0].why;
    EXPECT_EQ(readText(b), "best");
    EXPECT_TRUE(fs::equivalent(b, kept)); // same file system: a hard link
    EXPECT_FALSE(fs::exists(tonemirror::shell::linkTempName(b.string())));

    EXPECT_TRUE(journal.undoLast(trash).problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_EQ(fs::last_write_time(b), bTime);
    EXPECT_FALSE(fs::equivalent(b, kept));
    EXPECT_EQ(readText(kept), "best");
}

TEST_F(Library, UndoGoesBackOneBatchAtATimeNewestFirst) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    const auto c = file("c.mp3", "copy c");
    journal.run({action(ActionKind::Trash, b, kept)}, {}, trash);
    for (int i = 0; i < 9; ++i) { // batches that changed nothing are passed over by undo
        journal.run({action(ActionKind::Trash, kept, kept)}, {}, trash);
    }
    journal.run({action(ActionKind::Trash, c, kept)}, {}, trash);
    ASSERT_TRUE(journal.undoLast(trash).problems().empty());
    EXPECT_TRUE(fs::exists(c));
    EXPECT_FALSE(fs::exists(b));
    ASSERT_TRUE(journal.undoLast(trash).problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_EQ(readText(kept), "best");
}

TEST_F(Library, UndoRefusesATakenPlaceAndRestoresTheRest) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    const auto c = file("c.mp3", "copy c");
    journal.run({action(ActionKind::Trash, b, kept), action(ActionKind::Trash, c, kept)}, {}, trash);
    writeText(b, "a new file of the same name");
    const auto undone = journal.undoLast(trash);
    ASSERT_EQ(undone.problems(), std::vector<std::size_t>{0});
    EXPECT_EQ(undone.batch.records[0].state, State::UndoRefused);
    EXPECT_NE(undone.batch.records[0].why.find("taken"), std::string::npos);
    EXPECT_EQ(readText(b), "a new file of the same name");
    EXPECT_EQ(readText(c), "copy c");
}

struct Refusal {
    const char* name;
    // Changes the library after the plan; returns the reference folders.
    void (*change)(const fs::path& music, std::vector<std::string>& references,
                   std::vector<FileAction>& plan);
    const char* why;
};

class SafetyTest : public Library, public testing::WithParamInterface<Refusal> {};

TEST_P(SafetyTest, RefusedActionLeavesTheFileAlone) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    std::vector<FileAction> plan = {action(ActionKind::Trash, b, kept)};
    std::vector<std::string> references;
    GetParam().change(dir / "music", references, plan);
    const std::string before = readText(b);
    const auto out = journal.run(plan, references, trash);
    ASSERT_EQ(out.problems().size(), plan.size());
    EXPECT_EQ(out.batch.records[0].state, State::Refused);
    EXPECT_NE(out.batch.records[0].why.find(GetParam().why), std::string::npos) << out.batch.records[0].why;
    EXPECT_EQ(readText(b), before);
    EXPECT_TRUE(fs::exists(dir / "music" / "a.flac") || GetParam().name == std::string("KeptCopyGone"));
    EXPECT_TRUE(fs::is_empty(dir / "trash"));
}

INSTANTIATE_TEST_SUITE_P(
    Guards, SafetyTest,
    testing::Values(
        Refusal{"ChangedSize",
                [](const fs::path& m, auto&, auto&) { writeText(m / "b.mp3", "edited since"); }, "changed"},
        Refusal{"ChangedTimeOnly",
                [](const fs::path& m, auto&, auto&) {
                    fs::last_write_time(m / "b.mp3",
                                        fs::last_write_time(m / "b.mp3") + std::chrono::seconds(5));
                },
                "changed"},
        Refusal{"OtherFileSameName",
                [](const fs::path& m, auto&, auto&) {
                    fs::remove(m / "b.mp3");
                    writeText(m / "b.mp3", "copy b"); // same size, another file
                    fs::last_write_time(m / "b.mp3", fs::last_write_time(m / "a.flac"));
                },
                "changed"},
        Refusal{"InReferenceFolder", [](const fs::path& m, auto& refs, auto&) { refs.push_back(m.string()); },
                "reference"},
        Refusal{"KeptCopyGone", [](const fs::path& m, auto&, auto&) { fs::remove(m / "a.flac"); }, "kept"},
        Refusal{"KeptCopyInTheSameBatch",
                [](const fs::path& m, auto&, auto& plan) {
                    FileAction keptToo = plan[0]; // a hand-made plan that would take both copies
                    std::swap(keptToo.path, keptToo.kept);
                    std::swap(keptToo.expected, keptToo.keptExpected);
                    plan.push_back(keptToo);
                    (void)m;
                },
                "kept"},
        Refusal{"ChosenByHandAndChanged",
                [](const fs::path& m, auto&, auto& plan) {
                    plan[0].kept.clear(); // a Delete chosen file by file keeps the change guard
                    writeText(m / "b.mp3", "edited since");
                },
                "changed"},
        Refusal{"ChosenByHandMoveWithoutKeptCopy",
                [](const fs::path& m, auto&, auto& plan) {
                    plan[0].kind = ActionKind::Move; // only the trash may go without a kept copy
                    plan[0].target = (m / "elsewhere" / "b.mp3").string();
                    plan[0].kept.clear();
                },
                "kept"}),
    [](const auto& param) { return std::string(param.param.name); });

// A Delete the user chose item by item: no copy has to stay, folders may go too, and the undo
// brings both back.
TEST_F(Library, ChosenByHandGoesWithoutKeptCopyAndComesBack) {
    const auto b = file("b.mp3", "copy b");
    const auto folder = dir / "music" / "live";
    file("live/x.mp3", "x");
    FileAction one{ActionKind::Trash, b.string(), {}, {}, *tonemirror::shell::currentFile(b.string()), {}};
    FileAction two{
        ActionKind::Trash, folder.string(), {}, {}, *tonemirror::shell::currentFile(folder.string()), {}};
    EXPECT_FALSE(journal.canUndo());
    const auto out = journal.run({one, two}, {}, trash);
    EXPECT_TRUE(out.problems().empty());
    EXPECT_FALSE(fs::exists(b));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(journal.canUndo());
    EXPECT_TRUE(journal.undoLast(trash).problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_EQ(readText(folder / "x.mp3"), "x");
    EXPECT_FALSE(journal.canUndo()); // undone batches are not offered again
}

// A batch where every action was refused changed nothing: there is nothing to undo.
TEST_F(Library, RefusedBatchOffersNoUndo) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    const auto out = journal.run({action(ActionKind::Trash, b, kept)}, {(dir / "music").string()}, trash);
    ASSERT_EQ(out.problems().size(), 1u);
    EXPECT_FALSE(journal.canUndo());
    EXPECT_FALSE(journal.undoLast(trash).error.empty());
}

TEST_F(Library, KilledBetweenTwoActionsIsCompletedAtTheNextStart) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    const auto c = file("c.mp3", "copy c");
    const std::vector<FileAction> plan = {action(ActionKind::Trash, b, kept),
                                          action(ActionKind::Trash, c, kept)};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ActionJournal killed(dir / "journal");
        killed.beforeAction = [](std::size_t i) {
            if (i == 1) {
                ::_exit(0); // the program dies between the two actions
            }
        };
        killed.run(plan, {}, trash);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(c)); // half done

    FolderTrash sameTrash(dir / "trash2");
    const auto recovered = journal.recover(sameTrash);
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_TRUE(recovered[0].problems().empty());
    EXPECT_FALSE(fs::exists(c));
    EXPECT_TRUE(journal.recover(sameTrash).empty()); // nothing left half-known

    // The undo brings both back, the one trashed before the kill included.
    FolderTrash bothTrashes(dir / "trash3");
    EXPECT_TRUE(journal.undoLast(bothTrashes).problems().empty());
    EXPECT_EQ(readText(b), "copy b");
    EXPECT_EQ(readText(c), "copy c");
}

TEST_F(Library, NoJournalNoAction) {
    const auto kept = file("a.flac", "best");
    const auto b = file("b.mp3", "copy b");
    writeText(dir / "blocked", "a file where the journal folder should be");
    ActionJournal blocked(dir / "blocked");
    const auto out = blocked.run({action(ActionKind::Trash, b, kept)}, {}, trash);
    EXPECT_FALSE(out.error.empty());
    EXPECT_EQ(readText(b), "copy b");
}

TEST(JournalFileTest, NamesRoundTripAndATornLineIsIgnored) {
    namespace jf = tonemirror::shell::journal_file;
    const std::string odd = std::string("/m/caf\xE9 %20\n") + '\x01';
    ASSERT_EQ(jf::decodeName(jf::encodeName(odd)), odd);
    EXPECT_FALSE(jf::decodeName("%4").has_value());
    EXPECT_FALSE(jf::decodeName("%zz").has_value());

    tonemirror::shell::JournalBatch batch;
    batch.number = 7;
    batch.actions.push_back(
        FileAction{ActionKind::Move, odd, "/aside/x", "/m/a", {1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}});
    batch.actions.push_back(batch.actions[0]);
    std::string text = jf::planLine(batch) + jf::eventLine("begin", 0) + jf::eventLine("done", 0);
    text += jf::eventLine("begin", 1);
    text += jf::eventLine("done", 1).substr(0, 10); // the kill came mid-line
    const auto read = jf::parse(text);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->number, 7u);
    EXPECT_EQ(read->actions[0].path, odd);
    EXPECT_EQ(read->actions[1].expected.modifiedNanoseconds, 5u);
    EXPECT_EQ(read->records[0].state, State::Done);
    EXPECT_EQ(read->records[1].state, State::Begun);
    EXPECT_FALSE(read->ended);
    EXPECT_FALSE(jf::parse(jf::planLine(batch).substr(0, 20)).has_value());
    EXPECT_FALSE(jf::parse(std::string(1000, '[') + "\n").has_value());
}

} // namespace
