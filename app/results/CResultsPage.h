#pragma once

#include "engine/DuplicatePair.h"

#include <QSplitter>

#include <vector>

class QTableWidget;

namespace tonemirror::app {

struct AppContext;

// The "Results" page: the results list above, the details pane below.
// The frame hands it the engine's pairs and routes the results commands (101-110, 130, 131, Save
// playlist, Export) to it; the page asks the frame to refresh the status bar through rowsChanged.
class CResultsPage : public QSplitter {
    Q_OBJECT
public:
    CResultsPage(AppContext& context, QWidget* parent = nullptr);

    // Appends new pairs as rows in order; an update (isUpdate) sets the experimental score of the
    // first row with the same two paths and is dropped when there is none.
    void addPairs(std::vector<engine::DuplicatePair> pairs);
    void clearRows();
    int rowCount() const;
    const std::vector<engine::DuplicatePair>& rows() const { return rows_; }

    // Column 4 (experimental score) at 100 pixels when on, hidden at width 0 when off.
    void setExperimentalColumnVisible(bool visible);
    int experimentalColumnWidth() const;

    // Commands of the results list and the Files menu.
    void runCommand(int id);
    void savePlaylist();
    void exportResults();
    void retranslate();

    // A row selection or a button of the details pane asks the frame to run a command.
    Q_SIGNAL void commandRequested(int id);
    // Rows were added, removed or cleared.
    Q_SIGNAL void rowsChanged();

private:
    void appendRow(const engine::DuplicatePair& pair);

    AppContext& context_;
    std::vector<engine::DuplicatePair> rows_;
    QTableWidget* list_ = nullptr;
};

} // namespace tonemirror::app
