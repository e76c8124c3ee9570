#include "app/common/TrashFiles.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/FailureReport.h"
#include "app/common/FileActions.h"

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

} // namespace

bool confirmAndTrash(AppContext& context, QWidget* parent, const TrashRequest& request) {
    if (!confirmed(context, parent, request)) {
        return false;
    }
    if (request.beforeMoving) {
        request.beforeMoving();
    }
    std::unordered_set<std::u16string> trashed;
    FailureReport failures;
    for (const std::u16string& file : request.files) {
        // A name the trash cannot record, or a trash that cannot be used, leaves the file where it is.
        const TrashOutcome outcome = moveToTrash(context, file);
        if (outcome.trashed) {
            trashed.insert(file);
        } else {
            failures.add(file, outcome.reason);
        }
    }
    if (request.afterMoving) {
        request.afterMoving(trashed);
    }
    failures.show(context, parent,
                  context.text(u"TRASH_FAILED", u"%1 of %2 items could not be moved to the trash:")
                      .arg(failures.size())
                      .arg(request.files.size()));
    return true;
}

} // namespace tonemirror::app
