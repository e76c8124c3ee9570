#pragma once

#include <QTableView>

namespace tonemirror::app {

class ResultsModel;

// The results list: a table over the row store with fixed column widths, a sort on a header click
// and notifications of selection, right click and double click.
class CViewList : public QTableView {
    Q_OBJECT
public:
    static constexpr int kFileColumnWidth = 350;
    static constexpr int kPercentColumnWidth = 80;
    static constexpr int kCheckHeaderWidth = 15; // the check-header picture

    CViewList(ResultsModel* model, QWidget* parent = nullptr);

    ResultsModel* resultsModel() const { return model_; }
    // -1 when no row is selected.
    int selectedRow() const;
    void selectRow(int row);

    // Column 4 at its width when on, at width 0 when off.
    void setExperimentalColumnVisible(bool visible, int width);

    // The column last sorted by (-1 before the first sort) and the direction flag.
    int sortColumn() const { return sortColumn_; }
    bool directionFlag() const { return directionFlag_; }
    // A click on the sorted column reverses the direction; another column sorts with the flag set.
    void sortByHeader(int column);
    // Sorts again by the last column and direction when new rows left the list unsorted; nothing
    // before the first sort.
    void resort();
    // The last sort as a restart finds it (column -1: none); the rows are not sorted by it yet.
    void setSortChoice(int column, bool directionFlag);
    // True while the rows are in the order the arrow shows.
    bool isSorted() const { return sorted_; }

    // The path columns share the width the other columns leave, never narrower than their default.
    void fitPathColumns();

    // Row -1 when nothing is selected any more.
    Q_SIGNAL void selectionChangedTo(int row);
    // A right click on a row (row -1 outside any row), at a global position.
    Q_SIGNAL void contextMenuAt(int row, int column, const QPoint& globalPosition);
    Q_SIGNAL void doubleClickedAt(int row, int column);
    // Keys on the row under the focus: Delete asks to delete, Enter to play the file of `side` (1 or
    // 2, from the focused column); Space toggles that file's mark itself.
    Q_SIGNAL void deleteRequested(int side);
    Q_SIGNAL void playRequested(int side);

    // The file (1 left, 2 right) a column belongs to.
    static int sideOfColumn(int column);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setUpHeader();
    void openContextMenuAtFocus();
    void applySort();
    void markUnsorted();

    ResultsModel* model_;
    int sortColumn_ = -1;
    bool directionFlag_ = true;
    bool sorted_ = false;
};

} // namespace tonemirror::app
