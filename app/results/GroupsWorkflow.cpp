#include "app/results/GroupsWorkflow.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/MoveLinkFiles.h"
#include "app/results/CGroupsView.h"
#include "app/results/ResultsModel.h"
#include "shell/Preferences.h"

#include <QMenu>
#include <QTimer>

namespace tonemirror::app {

GroupsWorkflow::GroupsWorkflow(AppContext& context, ResultsModel& results,
                               GroupsModel::ReadQuality readQuality, Page page, QWidget* viewParent)
    : QObject(page.widget), context_(context), results_(results), page_(std::move(page)) {
    model_ = new GroupsModel(
        results_,
        [this](const char16_t* key, std::u16string_view english) { return context_.text(key, english); },
        std::move(readQuality), this);
    view_ = new CGroupsView(model_, viewParent);
    connect(view_, &CGroupsView::deleteRequested, this, &GroupsWorkflow::deleteMarkedFiles);
    connect(view_, &CGroupsView::playRequested, this, &GroupsWorkflow::play);
    connect(view_, &CGroupsView::contextMenuAt, this, &GroupsWorkflow::showMenu);
    connect(view_, &QAbstractItemView::doubleClicked, this, &GroupsWorkflow::play);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (page_.groupsShown()) {
            rebuildIfStale();
        }
    });
    connect(&results_, &QAbstractItemModel::rowsInserted, this, [this] { resultsChanged(true); });
    connect(&results_, &QAbstractItemModel::rowsRemoved, this, [this] { resultsChanged(false); });
    connect(&results_, &QAbstractItemModel::modelReset, this, [this] { resultsChanged(false); });
}

void GroupsWorkflow::rebuildIfStale() {
    if (stale_) {
        rebuild();
    }
}

void GroupsWorkflow::rebuild() {
    const shell::KeeperPreferences keeper = shell::readKeeperPreferences(context_.settings);
    model_->setRules(keeper.rules, keeper.referenceFolders);
    model_->rebuild();
    view_->expandAll();
    stale_ = false;
}

// Rows arrive in batches while a scan runs: the groups, made from every row, are made again at most
// once a second then, so a long scan does not keep the window busy; rows the user removed go at once.
void GroupsWorkflow::resultsChanged(bool added) {
    stale_ = true;
    if (!page_.groupsShown()) {
        return; // made when the groups are shown
    }
    if (!added) {
        timer_->start(0);
    } else if (!timer_->isActive()) {
        timer_->start(kRefreshMs);
    }
}

bool GroupsWorkflow::markAllButBest() {
    rebuild();
    const shell::ResolvePlan& plan = model_->plan();
    if (plan.markedFiles == 0) {
        context_.prompts.information(
            page_.widget, context_.text(u"INFORMATION", u"Information"),
            context_.text(u"MARK_BEST_NONE",
                          u"No file to mark: no group holds a copy reported as a duplicate of its best "
                          u"file outside the reference folders."));
        return false;
    }
    const QString question =
        context_
            .text(u"MARK_BEST_ASK", u"Mark %1 file(s) in %2 group(s)? The best copy of each group stays "
                                    u"unmarked, and so do files in reference folders; the marks made "
                                    u"before are cleared.")
            .arg(plan.markedFiles)
            .arg(plan.groupsWithMarks);
    if (!context_.prompts.question(page_.widget, context_.text(u"QUESTION", u"Question"), question)) {
        return false;
    }
    results_.setMarkedFiles(model_->plannedMarks());
    return true;
}

// Every marked file of the groups, but never the last copy of one: a group whose files are all
// marked keeps its best. Marked files that rank above the copy that stays are named in the question.
void GroupsWorkflow::deleteMarkedFiles() {
    if (stale_) {
        rebuild();
    }
    const std::unordered_set<std::u16string> lastCopies = model_->lastCopies();
    std::vector<std::u16string> files;
    for (std::u16string& file : model_->markedFiles()) {
        if (lastCopies.count(file) == 0) {
            files.push_back(std::move(file));
        }
    }
    QStringList notes;
    if (!lastCopies.empty()) {
        notes << context_
                     .text(u"GROUPS_LAST_COPY",
                           u"%1 marked file(s) stay: each is the last copy of its group.")
                     .arg(lastCopies.size());
    }
    if (const QStringList warnings = model_->rankWarnings(); !warnings.isEmpty()) {
        notes << context_.text(
                     u"GROUPS_RANK_WARNING",
                     u"Warning: these marked files rank above the copy that stays in their group:") +
                     QLatin1Char('\n') + warnings.join(QLatin1Char('\n'));
    }
    if (files.empty()) {
        if (!notes.isEmpty()) {
            context_.prompts.information(page_.widget, context_.text(u"INFORMATION", u"Information"),
                                         notes.join(QStringLiteral("\n\n")));
        }
        return;
    }
    page_.trash(files, notes.join(QStringLiteral("\n\n")));
}

void GroupsWorkflow::moveMarkedFiles() {
    const QString folder = context_.prompts.existingFolder(
        page_.widget, context_.text(u"MOVE_TO_FOLDER", u"Move marked files to"));
    if (!folder.isEmpty()) {
        moveOrLink(shell::ActionKind::Move, toU16(folder));
    }
}

void GroupsWorkflow::linkMarkedFiles() {
    moveOrLink(shell::ActionKind::Link, {});
}

// What the question says under its text: the marked files that stay, and why.
QStringList GroupsWorkflow::stayNotes(std::size_t unpaired) const {
    QStringList notes;
    if (const std::size_t last = model_->lastCopies().size(); last > 0) {
        notes << context_
                     .text(u"GROUPS_LAST_COPY",
                           u"%1 marked file(s) stay: each is the last copy of its group.")
                     .arg(last);
    }
    if (unpaired > 0) {
        notes << context_
                     .text(u"GROUPS_LINK_UNPAIRED",
                           u"%1 marked file(s) stay: none was reported as a duplicate "
                           u"of the copy that stays in its group.")
                     .arg(unpaired);
    }
    if (const QStringList warnings = model_->rankWarnings(); !warnings.isEmpty()) {
        notes << context_.text(
                     u"GROUPS_RANK_WARNING",
                     u"Warning: these marked files rank above the copy that stays in their group:") +
                     QLatin1Char('\n') + warnings.join(QLatin1Char('\n'));
    }
    return notes;
}

// A link stands for the copy that stays, so it replaces only a file reported as its duplicate: in
// a chain A~B~C where A stays, C is no copy of A.
void GroupsWorkflow::moveOrLink(shell::ActionKind kind, const std::u16string& folder) {
    if (stale_) {
        rebuild();
    }
    MoveLinkRequest request;
    request.kind = kind;
    request.folder = folder;
    request.scannedFolders = shell::readScanFolders(context_.settings);
    request.referenceFolders = shell::readReferenceFolders(context_.settings);
    std::size_t unpaired = 0;
    for (GroupsModel::MarkedCopy& copy : model_->markedCopies()) {
        if (kind == shell::ActionKind::Link && !copy.paired) {
            ++unpaired;
        } else {
            request.files.push_back({std::move(copy.path), std::move(copy.kept)});
        }
    }
    const QStringList notes = stayNotes(unpaired);
    request.note = notes.join(QStringLiteral("\n\n"));
    if (request.files.empty()) {
        if (!notes.isEmpty()) {
            context_.prompts.information(page_.widget, context_.text(u"INFORMATION", u"Information"),
                                         request.note);
        }
        return;
    }
    request.afterActing = [this](const std::unordered_set<std::u16string>& done) {
        if (!done.empty()) {
            page_.removeRows(done);
        }
    };
    confirmAndMoveOrLink(context_, page_.widget, request);
}

void GroupsWorkflow::play() {
    if (const std::u16string* path = model_->pathAt(view_->currentFileIndex())) {
        page_.play(*path);
    }
}

void GroupsWorkflow::browse() {
    if (const std::u16string* path = model_->pathAt(view_->currentFileIndex())) {
        page_.browse(*path);
    }
}

void GroupsWorkflow::showMenu(const QPoint& globalPosition) {
    QMenu menu(page_.widget);
    const bool onFile = model_->pathAt(view_->currentFileIndex()) != nullptr;
    menu.addAction(context_.text(u"PLAY", u"Play"), this, &GroupsWorkflow::play)->setEnabled(onFile);
    menu.addAction(context_.text(u"BROWSE", u"Browse..."), this, &GroupsWorkflow::browse)->setEnabled(onFile);
    menu.addSeparator();
    menu.addAction(context_.text(u"MENU_MARK_ALL_BUT_BEST", u"&Mark all but the best..."), this,
                   &GroupsWorkflow::markAllButBest);
    const std::size_t marked = model_->markedFiles().size();
    if (marked > 0) {
        menu.addAction(context_.text(u"DELETE_MARKED", u"Delete marked") +
                           QStringLiteral(" (%1)").arg(marked),
                       this, &GroupsWorkflow::deleteMarkedFiles);
    } else {
        menu.addAction(context_.text(u"DELETE_MARKED_NO", u"Delete marked..."))->setEnabled(false);
    }
    menu.addAction(context_.text(u"MENU_MOVE_MARKED", u"M&ove marked files to a folder..."), this,
                   &GroupsWorkflow::moveMarkedFiles)
        ->setEnabled(marked > 0);
    menu.addAction(context_.text(u"MENU_LINK_MARKED", u"Replace marked files with &links..."), this,
                   &GroupsWorkflow::linkMarkedFiles)
        ->setEnabled(marked > 0);
    page_.widget->window()->raise();
    page_.widget->window()->activateWindow();
    menu.exec(globalPosition);
}

void GroupsWorkflow::retranslate() {
    model_->retranslate();
}

} // namespace tonemirror::app
