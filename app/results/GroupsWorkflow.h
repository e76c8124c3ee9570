#pragma once

#include "app/results/GroupsModel.h"
#include "shell/JournalFile.h"

#include <QObject>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class QPoint;
class QTimer;
class QWidget;

namespace tonemirror::app {

struct AppContext;
class CGroupsView;
class ResultsModel;

// The groups view of the Results page as the user meets it: the groups made again when the results
// change (at most once a second while a scan adds rows), "Mark all but the best" after its question,
// Delete of the marked files that never takes the last copy of a group, and the view's keys and
// context menu.
class GroupsWorkflow : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 1000;

    // What the workflow needs of the page.
    struct Page {
        QWidget* widget = nullptr; // the parent of questions and menus
        std::function<bool()> groupsShown;
        std::function<void(const std::u16string& path)> play;
        std::function<void(const std::u16string& path)> browse;
        // Moves the files to the trash after one question listing them, `note` said under it.
        std::function<void(const std::vector<std::u16string>& files, const QString& note)> trash;
        // Takes the rows of files moved or replaced by links out of the results.
        std::function<void(const std::unordered_set<std::u16string>& files)> removeRows;
    };

    GroupsWorkflow(AppContext& context, ResultsModel& results, GroupsModel::ReadQuality readQuality,
                   Page page, QWidget* viewParent);

    GroupsModel* model() const { return model_; }
    CGroupsView* view() const { return view_; }

    // Groups the results again with the rules and reference folders of the settings.
    void rebuild();
    void rebuildIfStale();
    // In each group, marks the files reported as duplicates of its best copy after one question;
    // the marks made before are replaced. False when nothing was marked.
    bool markAllButBest();
    void deleteMarkedFiles();
    // Moves the marked files to a folder the user chooses, keeping their path below the scanned
    // folder; never the copy that stays in a group.
    void moveMarkedFiles();
    // Replaces each marked file with a link to the copy that stays in its group, when the two
    // were reported as duplicates.
    void linkMarkedFiles();
    void retranslate();

private:
    // `added`: new rows of a scan, else rows removed or all replaced.
    void resultsChanged(bool added);
    void play();
    void browse();
    void showMenu(const QPoint& globalPosition);
    void moveOrLink(shell::ActionKind kind, const std::u16string& folder);
    QStringList stayNotes(std::size_t unpaired) const;

    AppContext& context_;
    ResultsModel& results_;
    Page page_;
    GroupsModel* model_ = nullptr;
    CGroupsView* view_ = nullptr;
    QTimer* timer_ = nullptr;
    bool stale_ = true; // the results changed since the groups were made
};

} // namespace tonemirror::app
