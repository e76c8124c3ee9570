#pragma once

#include <QTreeView>

namespace tonemirror::app {

class GroupsModel;

// The groups view of the results: one expandable row per group, the kept file first. From the
// keyboard, Space marks the focused file, Delete asks to delete the marked files and Enter plays
// the focused file; the menu key or Shift+F10 opens the context menu.
class CGroupsView : public QTreeView {
    Q_OBJECT
public:
    CGroupsView(GroupsModel* model, QWidget* parent = nullptr);

    GroupsModel* groupsModel() const { return model_; }
    // The file of the row under the focus; empty when there is none.
    QModelIndex currentFileIndex() const;

    Q_SIGNAL void deleteRequested();
    Q_SIGNAL void playRequested();
    Q_SIGNAL void contextMenuAt(const QPoint& globalPosition);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    GroupsModel* model_;
};

} // namespace tonemirror::app
