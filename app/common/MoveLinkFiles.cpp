#include "app/common/MoveLinkFiles.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/FailureReport.h"
#include "app/common/FileJournal.h"
#include "platform/os/Paths.h"
#include "shell/ActionJournal.h"
#include "shell/DesktopFileTrash.h"
#include "shell/FileActions.h"

#include <QStringList>

namespace tonemirror::app {

namespace {

bool isMove(const MoveLinkRequest& request) {
    return request.kind == shell::ActionKind::Move;
}

bool confirmed(AppContext& context, QWidget* parent, const MoveLinkRequest& request) {
    QString question =
        isMove(request)
            ? context.text(u"CONFIRM_MOVE", u"Move these %1 files to \"%2\"?")
                  .arg(request.files.size())
                  .arg(windowName(request.folder))
            : context
                  .text(u"CONFIRM_LINK", u"Replace these %1 files with links to the copies that stay? "
                                         u"The originals go to the trash.")
                  .arg(request.files.size());
    if (!request.note.isEmpty()) {
        question += QStringLiteral("\n\n") + request.note;
    }
    QStringList names;
    for (const MoveLinkRequest::File& file : request.files) {
        names << toQString(file.path);
    }
    return context.prompts.confirmFiles(parent, context.text(u"QUESTION", u"Question"), question, names);
}

std::vector<std::string> nativePaths(const std::vector<std::u16string>& paths) {
    std::vector<std::string> native;
    for (const std::u16string& path : paths) {
        native.push_back(os::toNativePath(path).native());
    }
    return native;
}

// Both the file and the copy that stays must be as the scan analysed them.
shell::ActionJournal::Outcome runBatch(const AppContext& context, const MoveLinkRequest& request) {
    const std::vector<std::string> scanned = nativePaths(request.scannedFolders);
    const std::string folder = os::toNativePath(request.folder).native();
    std::vector<shell::FileAction> actions;
    for (const MoveLinkRequest::File& file : request.files) {
        shell::FileAction action;
        action.kind = request.kind;
        action.path = os::toNativePath(file.path).native();
        action.kept = os::toNativePath(file.kept).native();
        action.target = isMove(request) ? shell::moveTarget(action.path, scanned, folder) : action.kept;
        action.expected = expectedFile(context, file.path, true);
        action.keptExpected = expectedFile(context, file.kept, true);
        actions.push_back(std::move(action));
    }
    shell::DesktopFileTrash trash;
    shell::ActionJournal journal(shell::ActionJournal::standardFolder());
    return journal.run(std::move(actions), nativePaths(request.referenceFolders), trash);
}

} // namespace

bool confirmAndMoveOrLink(AppContext& context, QWidget* parent, const MoveLinkRequest& request) {
    if (request.files.empty() || !confirmed(context, parent, request)) {
        return false;
    }
    const shell::ActionJournal::Outcome out = runBatch(context, request);
    std::unordered_set<std::u16string> done;
    FailureReport failures;
    for (std::size_t i = 0; out.error.empty() && i < out.batch.records.size(); ++i) {
        if (out.batch.records[i].state == shell::ActionRecord::State::Done) {
            done.insert(request.files[i].path);
        } else {
            failures.add(request.files[i].path, actionReason(context, out.batch.records[i].why));
        }
    }
    if (request.afterActing) {
        request.afterActing(done);
    }
    if (!out.error.empty()) {
        context.prompts.warning(parent, QStringLiteral("Warning"),
                                context.text(u"ACTION_NOT_STARTED", u"No file was changed: %1")
                                    .arg(actionReason(context, out.error)));
        return true;
    }
    const QString heading =
        isMove(request) ? context.text(u"MOVE_FAILED", u"%1 of %2 files could not be moved:")
                        : context.text(u"LINK_FAILED", u"%1 of %2 files could not be replaced by a link:");
    failures.show(context, parent, heading.arg(failures.size()).arg(request.files.size()));
    return true;
}

} // namespace tonemirror::app
