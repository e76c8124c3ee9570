#include "app/common/TrashFiles.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/FailureReport.h"
#include "app/common/FileJournal.h"
#include "platform/os/Paths.h"
#include "shell/ActionJournal.h"
#include "shell/DesktopFileTrash.h"

#include <QStringList>

namespace tonemirror::app {

namespace {

bool confirmed(AppContext& context, QWidget* parent, const TrashRequest& request) {
    const std::size_t count = request.files.size();
    QString question =
        count == 1 ? context.text(u"CONFIRM_TRASH_ONE", u"Move \"%1\" to the trash?").arg(request.singleName)
                   : context.text(u"CONFIRM_TRASH", u"Move these %1 items to the trash?").arg(count);
    if (!request.note.isEmpty()) {
        question += QStringLiteral("\n\n") + request.note;
    }
    const QString caption = context.text(u"QUESTION", u"Question");
    if (!request.listFiles) {
        return context.prompts.question(parent, caption, question);
    }
    QStringList names;
    for (const std::u16string& file : request.files) {
        names << toQString(file);
    }
    return context.prompts.confirmFiles(parent, caption, question, names);
}

// The batch through the journal; taken after beforeMoving, so that edits written to the files just
// then are part of what the user chose.
shell::ActionJournal::Outcome trashBatch(const AppContext& context, const TrashRequest& request) {
    std::vector<shell::FileAction> actions;
    for (const std::u16string& file : request.files) {
        shell::FileAction action;
        action.path = os::toNativePath(file).native();
        action.expected = expectedFile(context, file, request.asScanned);
        actions.push_back(std::move(action));
    }
    std::vector<std::string> references;
    for (const std::u16string& folder : request.referenceFolders) {
        references.push_back(os::toNativePath(folder).native());
    }
    shell::DesktopFileTrash trash;
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    return journal.run(std::move(actions), std::move(references), trash);
}

} // namespace

bool confirmAndTrash(AppContext& context, QWidget* parent, const TrashRequest& request) {
    if (!confirmed(context, parent, request)) {
        return false;
    }
    if (request.beforeMoving) {
        request.beforeMoving();
    }
    const shell::ActionJournal::Outcome out = trashBatch(context, request);
    std::unordered_set<std::u16string> trashed;
    FailureReport failures;
    for (std::size_t i = 0; out.error.empty() && i < out.batch.records.size(); ++i) {
        if (out.batch.records[i].state == shell::ActionRecord::State::Done) {
            trashed.insert(request.files[i]);
        } else {
            failures.add(request.files[i], actionReason(context, out.batch.records[i].why));
        }
    }
    if (request.afterMoving) {
        request.afterMoving(trashed);
    }
    if (!out.error.empty()) {
        context.prompts.warning(parent, QStringLiteral("Warning"),
                                context.text(u"TRASH_NOT_STARTED", u"No file was moved to the trash: %1")
                                    .arg(actionReason(context, out.error)));
        return true;
    }
    failures.show(context, parent,
                  context.text(u"TRASH_FAILED", u"%1 of %2 items could not be moved to the trash:")
                      .arg(failures.size())
                      .arg(request.files.size()));
    return true;
}

} // namespace tonemirror::app
