#pragma once

#include "engine/DuplicatePair.h"

#include <QSplitter>

#include <memory>
#include <string>
#include <vector>

class QMenu;

namespace tonemirror::audio {
class AudioSource;
}

namespace tonemirror::app {

struct AppContext;
class CDetailsWnd;
class FailureReport;
class CViewList;
class ResultsModel;

// The "Results" page: the results list above, the details pane below (shown from the first
// selection on, 180 pixels high until the user drags the bar between them; hidden while no row is
// selected). The frame hands it the engine's pairs and the Files menu's Save playlist and Export; the
// page runs its own commands (101-110, 130, 131) from its context menu, double clicks, keys and the
// details pane, and asks the frame to refresh the status bar through rowsChanged.
class CResultsPage : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kDetailsHeight = 240;

    CResultsPage(AppContext& context, QWidget* parent = nullptr);
    ~CResultsPage() override;

    // Appends new pairs as rows in order; an update (isUpdate) sets the experimental score of the
    // rows with the same two paths and is dropped when there is none.
    void addPairs(std::vector<engine::DuplicatePair> pairs);
    void clearRows();
    int rowCount() const;
    const std::vector<engine::DuplicatePair>& rows() const;
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
    void retranslate();

    // The context menu of a right click on a cell; null where none opens (a percent column or no row).
    std::unique_ptr<QMenu> contextMenu(int row, int column);

    CViewList* list() const { return list_; }
    ResultsModel* model() const { return model_; }
    CDetailsWnd* detailsPane() const { return details_; }

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
    void trashFiles(const std::vector<std::u16string>& files);
    void play(int side);
    void browse(int side);
    void ignoreSelected();
    void ignoreMarked(int side);
    void saveIgnores();
    // Ignores the pair unless the ignore list cannot hold its names; false then (the row stays).
    bool ignorePair(const engine::DuplicatePair& pair, FailureReport& refused);
    void tellNotIgnored(const FailureReport& refused, std::size_t asked);
    bool writeFile(const QString& file, const std::string& bytes);
    QString initialSaveName() const;
    void rememberSaveFolder(const QString& file);

    AppContext& context_;
    ResultsModel* model_ = nullptr;
    CViewList* list_ = nullptr;
    CDetailsWnd* details_ = nullptr;
    std::unique_ptr<audio::AudioSource> source_; // made at the first selection
    int detailsHeight_ = kDetailsHeight;         // as the user last dragged it
};

} // namespace tonemirror::app
