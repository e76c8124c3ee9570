#include "app/common/FileJournal.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/FailureReport.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "shell/ActionJournal.h"
#include "shell/ActionTexts.h"
#include "shell/DesktopFileTrash.h"
#include "shell/FileActions.h"

namespace tonemirror::app {

namespace {

using State = shell::ActionRecord::State;

// The problems of one batch, one line per file.
FailureReport problemsOf(const AppContext& context, const shell::ActionJournal::Outcome& out) {
    FailureReport report;
    for (const std::size_t i : out.problems()) {
        report.add(os::fromNativeName(out.batch.actions[i].path),
                   actionReason(context, out.batch.records[i].why));
    }
    return report;
}

std::size_t countState(const shell::JournalBatch& batch, State state) {
    std::size_t n = 0;
    for (const auto& record : batch.records) {
        n += record.state == state ? 1 : 0;
    }
    return n;
}

} // namespace

shell::ExpectedFile expectedFile(const AppContext& context, const std::u16string& path, bool asScanned) {
    shell::ExpectedFile expected =
        shell::currentFile(os::toNativePath(path).native()).value_or(shell::ExpectedFile{});
    if (!asScanned) {
        return expected;
    }
    engine::TrackStore& store = context.store;
    store.lock().lockShared();
    if (const analysis::TrackRecord* record = store.table().find(path);
        record != nullptr && record->fileStamp.known) {
        expected.size = record->fileStamp.size;
        expected.modifiedSeconds = record->fileStamp.modifiedSeconds;
        expected.modifiedNanoseconds = record->fileStamp.modifiedNanoseconds;
    }
    store.lock().unlock();
    return expected;
}

QString actionReason(const AppContext& context, const std::string& why) {
    return windowName(shell::translateActionText(context.translator, why));
}

bool canUndoFiles() {
    return shell::ActionJournal(shell::ActionJournal::standardFolder()).canUndo();
}

bool undoLastFiles(AppContext& context, QWidget* parent) {
    shell::DesktopFileTrash trash;
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    const auto out = journal.undoLast(trash);
    if (!out.error.empty()) {
        context.prompts.information(parent, context.text(u"UNDO_CAPTION", u"Undo"),
                                    context.text(u"UNDO_NOT_DONE", u"Nothing was put back: %1")
                                        .arg(actionReason(context, out.error)));
        return false;
    }
    const std::size_t back = countState(out.batch, State::Undone);
    // The rows of those files left the list when they went; a new scan lists them again.
    const QString rescan =
        context.text(u"UNDO_RESCAN", u"The results list shows them again after the next scan.");
    const FailureReport refused = problemsOf(context, out);
    if (refused.empty()) {
        context.prompts.information(parent, context.text(u"UNDO_CAPTION", u"Undo"),
                                    context.text(u"UNDO_DONE", u"%1 items were put back.").arg(back) +
                                        QLatin1Char(' ') + rescan);
    } else {
        refused.show(context, parent,
                     rescan + QLatin1Char('\n') +
                         context.text(u"UNDO_REFUSED", u"%1 items were put back; %2 could not be:")
                             .arg(back)
                             .arg(refused.size()));
    }
    return true;
}

void recoverFiles(AppContext& context, QWidget* parent) {
    shell::DesktopFileTrash trash;
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    for (const auto& out : journal.recover(trash)) {
        const QString heading =
            out.batch.undoBegun
                ? context.text(u"RECOVER_UNDO", u"An undo of %1 items was cut short when the program "
                                                u"stopped; it has now been finished.")
                : context.text(u"RECOVER_BATCH", u"A clean-up of %1 items was cut short when the program "
                                                 u"stopped; it has now been finished.");
        const FailureReport problems = problemsOf(context, out);
        const QString text = heading.arg(out.batch.actions.size());
        if (problems.empty()) {
            context.prompts.information(parent, context.text(u"UNDO_CAPTION", u"Undo"), text);
        } else {
            problems.show(context, parent,
                          text + QLatin1Char('\n') +
                              context.text(u"RECOVER_PROBLEMS", u"These items were not handled:"));
        }
    }
}

} // namespace tonemirror::app
