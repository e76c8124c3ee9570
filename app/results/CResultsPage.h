#pragma once

#include "app/results/ResultRow.h"
#include "shell/FileQuality.h"

#include <QSplitter>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QStackedWidget;

namespace tonemirror::audio {
class AudioSource;
}

namespace tonemirror::app {

struct AppContext;
class CDetailsWnd;
class FailureReport;
class CGroupsView;
class CViewList;
class GroupsModel;
class GroupsWorkflow;
class ResultsModel;

// The "Results" page: the results list above, the details pane below (shown from the first
// selection on, 180 pixels high until the user drags the bar between them; hidden while no row is
// selected). The frame hands it the engine's results and the Files menu's Save playlist and Export
// actions; the page runs its own commands (101-110, 130, 131) from its context menu, double clicks,
// keys and the details pane, and asks the frame to refresh the status bar through rowsChanged.
// View > Groups shows the same results as groups of copies instead (CGroupsView), with the same marks.
class CResultsPage : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kDetailsHeight = 240;

    CResultsPage(AppContext& context, QWidget* parent = nullptr);
    ~CResultsPage() override;

    // Appends new pairs as rows in order; then each experimental score goes to the rows listing its
    // pair and is dropped when there is none.
    void addResults(engine::PendingResults results);
    void addPairs(std::vector<engine::DuplicatePair> pairs) { addResults({std::move(pairs), {}}); }
    void clearRows();
    int rowCount() const;
    const std::vector<ResultRow>& rows() const;
    // -1 when no row is selected.
    int selectedRow() const;

    // Column 4 (experimental score) at `width` pixels when on, hidden at width 0 when off. It is
    // made 80 wide; switching the experimental algorithm on in Options shows it at 100.
    void setExperimentalColumnVisible(bool visible, int width = 80);
    int experimentalColumnWidth() const;

    // Column widths, the last sort and the details pane's height, from the settings and back.
    void restoreLayout();
    void storeLayout();
    // The scan is over: rows that arrived unsorted are put in the last chosen order.
    void scanEnded();

    // A command of the context menu or the details pane (101-110, 130, 131).
    void runCommand(int id);
    void savePlaylist();
    void exportResults();
    // The menu bar's and tool bar's Save playlist and Export results run on this page.
    void useFileCommands(QAction* savePlaylist, QAction* exportResults);
    // View > Pairs and Groups, Tools > Mark all but the best.
    void useGroupCommands(QAction* pairs, QAction* groups, QAction* markAllButBest);

    // Pairs (the default) or groups of copies.
    void showGroups(bool groups);
    bool groupsShown() const;
    // In each group, marks the files reported as duplicates of its best copy after one question;
    // the marks made before are replaced. False when nothing was marked.
    bool markAllButBest();
    // Deletes the files marked in the groups view after one question, never the last copy of a group.
    void deleteMarkedFiles();
    void retranslate();

    // The context menu of a right click on a cell; null where none opens (a percent column or no row).
    std::unique_ptr<QMenu> contextMenu(int row, int column);

    CViewList* list() const { return list_; }
    ResultsModel* model() const { return model_; }
    CDetailsWnd* detailsPane() const { return details_; }
    CGroupsView* groupsView() const;
    GroupsModel* groupsModel() const;
    GroupsWorkflow* groupsWorkflow() const { return groups_; }

    // Rows were added, removed or cleared.
    Q_SIGNAL void rowsChanged();

private:
    void onSelectionChanged(int row);
    void syncSelection();
    void makeDetails(int row);
    void showContextMenu(int row, int column, const QPoint& globalPosition);
    void onDoubleClicked(int row, int column);

    const std::u16string* selectedPath(int side) const;
    void deleteSelected(int side);
    void deleteMarked(int side);
    void trashFiles(const std::vector<std::u16string>& files, const QString& note = {});
    void play(int side);
    void playPath(const std::u16string& path);
    void browse(int side);
    void browsePath(const std::u16string& path);
    void ignoreSelected();
    void ignoreMarked(int side);
    void saveIgnores();
    // Ignores the pair unless the ignore list cannot hold its names; false then (the row stays).
    bool ignorePair(const engine::DuplicatePair& pair, FailureReport& refused);
    void tellNotIgnored(const FailureReport& refused, std::size_t asked);
    bool writeFile(const QString& file, const std::string& bytes);
    QString initialSaveName() const;
    void rememberSaveFolder(const QString& file);

    void createGroupsView();
    shell::FileQuality readQuality(const std::u16string& path);

    AppContext& context_;
    ResultsModel* model_ = nullptr;
    CViewList* list_ = nullptr;
    QStackedWidget* views_ = nullptr;
    GroupsWorkflow* groups_ = nullptr;
    QAction* pairsCommand_ = nullptr;
    QAction* groupsCommand_ = nullptr;
    CDetailsWnd* details_ = nullptr;
    std::unique_ptr<audio::AudioSource> source_; // made at the first selection
    int detailsHeight_ = kDetailsHeight;         // as the user last dragged it
};

} // namespace tonemirror::app
