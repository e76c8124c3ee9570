#include "app/results/CViewList.h"

#include "app/results/ResultCellDelegate.h"
#include "app/results/ResultsModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>

namespace tonemirror::app {

CViewList::CViewList(ResultsModel* model, QWidget* parent) : QTableView(parent), model_(model) {
    setObjectName(QStringLiteral("CViewList"));
    setModel(model_);
    setItemDelegate(new ResultCellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setUpHeader();
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit selectionChangedTo(selectedRow()); });
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { emit doubleClickedAt(index.row(), index.column()); });
}

void CViewList::setUpHeader() {
    // Every row is one line high: a fixed height keeps 100,000 rows cheap to lay out.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(0);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int widths[ResultsModel::kColumnCount] = {
        kCheckHeaderWidth + 5, kFileColumnWidth,      kPercentColumnWidth, kPercentColumnWidth,
        kPercentColumnWidth,   kCheckHeaderWidth + 5, kFileColumnWidth,    kPercentColumnWidth};
    for (int column = 0; column < ResultsModel::kColumnCount; ++column) {
        header->resizeSection(column, widths[column]);
    }
    header->setSectionResizeMode(ResultsModel::kMark1, QHeaderView::Fixed);
    header->setSectionResizeMode(ResultsModel::kMark2, QHeaderView::Fixed);
    connect(header, &QHeaderView::sectionClicked, this, &CViewList::sortByHeader);
}

int CViewList::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void CViewList::selectRow(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    QTableView::selectRow(row);
}

void CViewList::setExperimentalColumnVisible(bool visible, int width) {
    horizontalHeader()->resizeSection(ResultsModel::kExperimental, visible ? width : 0);
}

void CViewList::sortByHeader(int column) {
    directionFlag_ = column == sortColumn_ ? !directionFlag_ : true;
    sortColumn_ = column;
    const bool ascending =
        (column == ResultsModel::kFile1 || column == ResultsModel::kFile2 || column == ResultsModel::kMark1 ||
         column == ResultsModel::kMark2) == directionFlag_;
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QApplication::restoreOverrideCursor();
    const int selected = selectedRow();
    if (selected >= 0) {
        scrollTo(model_->index(selected, 0));
    }
}

void CViewList::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex index = indexAt(event->pos());
    emit contextMenuAt(index.isValid() ? index.row() : -1, index.isValid() ? index.column() : -1,
                       event->globalPos());
}

} // namespace tonemirror::app
