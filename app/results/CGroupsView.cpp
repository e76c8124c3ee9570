#include "app/results/CGroupsView.h"

#include "app/results/GroupsModel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>

namespace tonemirror::app {

namespace {
// The file column takes what the others leave.
constexpr int kColumnWidths[GroupsModel::kColumnCount] = {0, 230, 130, 80, 90, 70, 70, 50};
} // namespace

CGroupsView::CGroupsView(GroupsModel* model, QWidget* parent) : QTreeView(parent), model_(model) {
    setObjectName(QStringLiteral("GroupsView"));
    setModel(model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setTextElideMode(Qt::ElideMiddle); // the file's own name stays in sight
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(GroupsModel::kFile, QHeaderView::Stretch);
    for (int column = GroupsModel::kMatch; column < GroupsModel::kColumnCount; ++column) {
        setColumnWidth(column, kColumnWidths[column]);
    }
}

QModelIndex CGroupsView::currentFileIndex() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.siblingAtColumn(GroupsModel::kFile) : QModelIndex();
}

void CGroupsView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex file = currentFileIndex();
    switch (event->key()) {
    case Qt::Key_Space:
        if (file.isValid()) {
            const bool marked = file.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            model_->setData(file, marked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        event->accept();
        return;
    case Qt::Key_Delete:
        emit deleteRequested();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (file.isValid()) {
            emit playRequested();
        }
        event->accept();
        return;
    default:
        break;
    }
    QTreeView::keyPressEvent(event);
}

void CGroupsView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex at = indexAt(event->pos());
        if (at.isValid()) {
            setCurrentIndex(at);
        }
        emit contextMenuAt(event->globalPos());
    } else { // the menu key or Shift+F10: under the focused row
        const QRect row = visualRect(currentFileIndex());
        emit contextMenuAt(viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : QPoint(0, 0)));
    }
    event->accept();
}

} // namespace tonemirror::app
