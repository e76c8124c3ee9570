#include "app/results/CViewList.h"

#include "app/results/ResultCellDelegate.h"
#include "app/results/ResultsModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QResizeEvent>

#include <algorithm>

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
    connect(model_, &QAbstractItemModel::rowsInserted, this, &CViewList::markUnsorted);
    connect(model_, &QAbstractItemModel::modelReset, this, &CViewList::markUnsorted);
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
    connect(header, &QHeaderView::sectionResized, this, [this](int column) {
        if (column != ResultsModel::kFile1 && column != ResultsModel::kFile2) {
            fitPathColumns(); // another column took or gave back width
        }
    });
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
    // Only a list already in this column's order turns round; a restored choice first applies as it was.
    if (column != sortColumn_) {
        directionFlag_ = true;
    } else if (sorted_) {
        directionFlag_ = !directionFlag_;
    }
    sortColumn_ = column;
    applySort();
}

void CViewList::setSortChoice(int column, bool directionFlag) {
    sortColumn_ = column >= 0 && column < ResultsModel::kColumnCount ? column : -1;
    directionFlag_ = directionFlag;
    markUnsorted();
}

void CViewList::resort() {
    if (sortColumn_ >= 0 && !sorted_ && model_->rowCount() > 1) {
        applySort();
    }
}

// New rows go to the end: the arrow would claim an order the list no longer has.
void CViewList::markUnsorted() {
    sorted_ = false;
    horizontalHeader()->setSortIndicatorShown(false);
}

void CViewList::applySort() {
    const int column = sortColumn_;
    const bool ascending =
        (column == ResultsModel::kFile1 || column == ResultsModel::kFile2 || column == ResultsModel::kMark1 ||
         column == ResultsModel::kMark2) == directionFlag_;
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QApplication::restoreOverrideCursor();
    sorted_ = true;
    const int selected = selectedRow();
    if (selected >= 0) {
        scrollTo(model_->index(selected, 0));
    }
}

void CViewList::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) {
        openContextMenuAtFocus();
        return;
    }
    const QModelIndex index = indexAt(event->pos());
    emit contextMenuAt(index.isValid() ? index.row() : -1, index.isValid() ? index.column() : -1,
                       event->globalPos());
}

void CViewList::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitPathColumns();
}

void CViewList::fitPathColumns() {
    const QHeaderView* header = horizontalHeader();
    int others = 0;
    for (int column = 0; column < ResultsModel::kColumnCount; ++column) {
        if (column != ResultsModel::kFile1 && column != ResultsModel::kFile2) {
            others += header->sectionSize(column);
        }
    }
    const int each = std::max(kFileColumnWidth, (viewport()->width() - others) / 2);
    horizontalHeader()->resizeSection(ResultsModel::kFile1, each);
    horizontalHeader()->resizeSection(ResultsModel::kFile2, each);
}

int CViewList::sideOfColumn(int column) {
    return column < ResultsModel::kMark2 ? 1 : 2;
}

// The menu key and Shift+F10: the menu of the focused row's file, under its path cell.
void CViewList::openContextMenuAtFocus() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        return;
    }
    const int column = sideOfColumn(current.column()) == 1 ? ResultsModel::kFile1 : ResultsModel::kFile2;
    const QRect cell = visualRect(model_->index(current.row(), column));
    emit contextMenuAt(current.row(), column, viewport()->mapToGlobal(cell.bottomLeft()));
}

void CViewList::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    const int side = current.isValid() ? sideOfColumn(current.column()) : 1;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        openContextMenuAtFocus();
        return;
    }
    if (!current.isValid() || !plain) {
        QTableView::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space: {
        const int markColumn = side == 1 ? ResultsModel::kMark1 : ResultsModel::kMark2;
        const QModelIndex mark = model_->index(current.row(), markColumn);
        const bool marked = mark.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model_->setData(mark, marked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        return;
    }
    case Qt::Key_Delete:
        emit deleteRequested(side);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit playRequested(side);
        return;
    default:
        QTableView::keyPressEvent(event);
    }
}

} // namespace tonemirror::app
